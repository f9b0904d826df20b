#include "tests/packaging/DebianPackage.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

const std::string& BuiltPackage()
{
    static std::unique_ptr<TTempDir> dir;
    static std::string package;
    if (!package.empty())
        return package;
    const char* build = std::getenv("TAVIX_BINARY_DIR");
    if (!build)
        throw std::runtime_error("TAVIX_BINARY_DIR is not set");
    dir = std::make_unique<TTempDir>();
    int code = -1;
    const std::string output = RunCommand("cpack -G DEB --config " + ShellQuote(std::string(build) + "/CPackConfig.cmake") +
                                              " -B " + ShellQuote(dir->Path()) + " 2>&1",
                                          &code);
    for (const auto& entry : std::filesystem::directory_iterator(dir->Path()))
        if (entry.path().extension() == ".deb")
            package = entry.path().string();
    if (code != 0 || package.empty())
        throw std::runtime_error("cpack made no package:\n" + output);
    return package;
}

std::string ControlField(const std::string& APackage, const std::string& AField)
{
    std::string value = RunCommand("dpkg-deb -f " + ShellQuote(APackage) + " " + ShellQuote(AField) + " 2>/dev/null");
    while (!value.empty() && value.back() == '\n')
        value.pop_back();
    return value;
}
