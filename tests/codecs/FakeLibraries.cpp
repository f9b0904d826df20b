#include "FakeLibraries.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace {

void Compile(const std::string& APath, const std::string& ASource, const std::string& ALinkArgs)
{
    const std::string cc = RequireProgram("cc");
    int code = -1;
    const std::string out =
        RunCommand(ShellQuote(cc) + " -shared -fPIC -o " + ShellQuote(APath) + " " +
                       ShellQuote(ASource) + " " + ALinkArgs + " 2>&1",
                   &code);
    ASSERT_EQ(code, 0) << out;
}

std::string BaseName(const std::string& APath)
{
    const auto slash = APath.rfind('/');
    return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

} // namespace

void BuildFakeLibrary(const std::string& APath, const std::vector<std::string>& AFunctions, int AId)
{
    std::string source = "int fake_id(void) { return " + std::to_string(AId) + "; }\n";
    for (const auto& name : AFunctions)
        source += "int " + name + "(void) { return 0; }\n";
    TTempDir dir;
    const std::string file = dir.File("fake_" + BaseName(APath) + ".c");
    WriteTextFile(file, source);
    Compile(APath, file, "");
}

void BuildFakeFromSource(const std::string& APath, const std::string& AFakeSource,
                         const std::string& ALinkArgs)
{
    const char* root = std::getenv("TAVIX_SOURCE_DIR");
    ASSERT_NE(root, nullptr) << "TAVIX_SOURCE_DIR is not set";
    Compile(APath, std::string(root) + "/tests/codecs/fakes/" + AFakeSource, ALinkArgs);
}

TPlacedFiles::~TPlacedFiles()
{
    for (auto it = FPaths.rbegin(); it != FPaths.rend(); ++it)
        if (it->second)
            rmdir(it->first.c_str());
        else
            unlink(it->first.c_str());
}

std::string TPlacedFiles::Folder(const std::string& APath)
{
    if (mkdir(APath.c_str(), 0755) == 0)
        FPaths.emplace_back(APath, true);
    return APath;
}

std::string TPlacedFiles::File(const std::string& APath)
{
    FPaths.emplace_back(APath, false);
    return APath;
}
