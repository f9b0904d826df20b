#pragma once

#include <string>

// A fresh folder under /tmp, removed with everything in it at the end.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const { return FPath; }
    // Path of a name inside the folder.
    std::string File(const std::string& AName) const { return FPath + "/" + AName; }

private:
    std::string FPath;
};

void WriteTextFile(const std::string& APath, const std::string& AText);
std::string ReadTextFile(const std::string& APath);
