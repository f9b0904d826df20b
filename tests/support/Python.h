#pragma once

#include <string>

// A python3 that can import AModule (Debian's own first, then the one on
// PATH); the test fails when there is none.
std::string RequirePythonWith(const std::string& AModule);
