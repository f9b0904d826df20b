#pragma once

#include <string>
#include <vector>

// Shared libraries built by the tests to stand where the codec search
// looks: fakes that export only some functions, or wrap the real library.

// A fake exporting each name of AFunctions as a function returning 0, plus
// fake_id() returning AId. Its source is written beside it as
// fake_<file name>.c and compiled with cc. Fails the test when cc fails.
void BuildFakeLibrary(const std::string& APath, const std::vector<std::string>& AFunctions,
                      int AId = 0);
// Compiles AFakeSource (a file of tests/codecs/fakes) into APath with the
// extra linker arguments.
void BuildFakeFromSource(const std::string& APath, const std::string& AFakeSource,
                         const std::string& ALinkArgs = "");

// Files and folders placed in the executable's folder and removed again,
// in reverse order, when the object goes.
class TPlacedFiles {
public:
    TPlacedFiles() = default;
    ~TPlacedFiles();
    TPlacedFiles(const TPlacedFiles&) = delete;
    TPlacedFiles& operator=(const TPlacedFiles&) = delete;
    // Creates the folder unless it exists; removed at the end only if made here.
    std::string Folder(const std::string& APath);
    // Registers a file to delete at the end; returns APath.
    std::string File(const std::string& APath);

private:
    std::vector<std::pair<std::string, bool>> FPaths;   // path, is folder
};
