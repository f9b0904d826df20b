#pragma once

#include <string>

// Listening sockets for the control interface; -1 with AError set when
// the place cannot be had.

// 127.0.0.1 only: the interface is for this machine.
int ListenOnLoopback(int APort, std::string& AError);

// A Unix-domain socket in a folder only this user may enter (made 0700
// when missing), so no other user can take its place or listen in.
int ListenOnPrivateSocket(const std::string& APath, std::string& AError);
