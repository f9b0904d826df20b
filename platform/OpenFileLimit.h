#pragma once

// Raises this process's limit of open files to the most it may have: a
// service's default (often 1024, 256 on some systems) runs out under a
// crowd of idle connections, after which nothing can open a socket or a
// file. False when it could not be raised.
bool RaiseOpenFileLimit();
