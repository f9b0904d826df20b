#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TTempDir::TTempDir()
{
    std::string pattern = "/tmp/tavix-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    FPath = pattern;
}

TTempDir::~TTempDir()
{
    std::error_code ec;
    std::filesystem::permissions(FPath, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(FPath, ec);
}

void WriteTextFile(const std::string& APath, const std::string& AText)
{
    std::ofstream out(APath, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + APath);
    out << AText;
}

std::string ReadTextFile(const std::string& APath)
{
    std::ifstream in(APath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
