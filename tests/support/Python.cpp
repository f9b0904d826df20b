#include "tests/support/Python.h"

#include <stdexcept>

#include "tests/support/Process.h"

std::string RequirePythonWith(const std::string& AModule)
{
    // Debian packages such as python3-pyftpdlib install for the system's
    // python, which another python3 on PATH may hide.
    for (const std::string python : {"/usr/bin/python3", "python3"}) {
        int code = -1;
        RunCommand(ShellQuote(python) + " -c " + ShellQuote("import " + AModule) + " >/dev/null 2>&1", &code);
        if (code == 0)
            return python;
    }
    throw std::runtime_error("no python3 with module " + AModule + " (./scripts/setup installs it)");
}
