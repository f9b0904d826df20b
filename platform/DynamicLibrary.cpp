#include "platform/DynamicLibrary.h"

#include <algorithm>
#include <dlfcn.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ExePath.h"
#include "platform/FileSystem.h"

namespace {

std::mutex GFolderLock;
std::string GDependencyFolder;

// Code another local user could have put or changed is never run: the
// path (a folder or a file) belongs to this user or root, and no one else
// may write it.
bool Trusted(const std::string& APath)
{
    struct stat st {};
    if (APath.empty() || stat(APath.c_str(), &st) != 0)
        return false;
    return (st.st_uid == geteuid() || st.st_uid == 0) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The executable's folder and its "dll" subfolder, those that exist and
// are trusted.
std::vector<std::string> TrustedLibraryFolders()
{
    const std::string exeDir = ExecutableDir();
    std::vector<std::string> folders;
    if (exeDir.empty() || !Trusted(exeDir))
        return folders;
    folders.push_back(exeDir);
    if (FolderExists(exeDir + "dll/") && Trusted(exeDir + "dll/"))
        folders.push_back(exeDir + "dll/");
    return folders;
}

} // namespace

TLibHandle LoadLibraryFile(const std::string& APathOrName,
                           const std::vector<std::string>& ADependencies)
{
    // Dependencies already bound by the new library keep their own
    // reference; the temporary ones are dropped right after.
    std::vector<void*> preloaded;
    const std::string folder = LibraryDependencyFolder();
    if (!folder.empty())
        for (const auto& name : ADependencies)
            if (RegularFileExists(folder + name) && Trusted(folder + name))
                if (void* dep = dlopen((folder + name).c_str(), RTLD_NOW | RTLD_LOCAL))
                    preloaded.push_back(dep);
    void* lib = dlopen(APathOrName.c_str(), RTLD_NOW | RTLD_LOCAL);
    for (void* dep : preloaded)
        dlclose(dep);
    return lib;
}

void* GetProcAddress(TLibHandle ALib, const char* AName)
{
    return ALib ? dlsym(ALib, AName) : nullptr;
}

void FreeLibrary(TLibHandle ALib)
{
    if (ALib)
        dlclose(ALib);
}

void SetLibraryDependencyFolder(const std::string& AFolder)
{
    std::lock_guard<std::mutex> lock(GFolderLock);
    GDependencyFolder = AFolder;
}

std::string LibraryDependencyFolder()
{
    std::lock_guard<std::mutex> lock(GFolderLock);
    return GDependencyFolder;
}

TLibHandle SearchLibraryA(const std::vector<std::string>& ANames,
                          const std::vector<std::string>& ADependencies)
{
    for (const std::string& folder : TrustedLibraryFolders()) {
        SetLibraryDependencyFolder(folder);
        for (const auto& name : ANames)
            if (RegularFileExists(folder + name) && Trusted(folder + name))
                if (TLibHandle lib = LoadLibraryFile(folder + name, ADependencies))
                    return lib;
    }
    for (const auto& name : ANames)
        if (TLibHandle lib = LoadLibraryFile(name, ADependencies))
            return lib;
    return nullptr;
}

TLibHandle SearchLibraryB(const std::vector<std::string>& ANames)
{
    std::vector<std::string> folders = TrustedLibraryFolders();
    // Here the "dll" subfolder comes first.
    std::reverse(folders.begin(), folders.end());
    for (const auto& name : ANames)
        for (const std::string& folder : folders)
            if (RegularFileExists(folder + name) && Trusted(folder + name))
                if (TLibHandle lib = LoadLibraryFile(folder + name))
                    return lib;
    for (const auto& name : ANames)
        if (TLibHandle lib = LoadLibraryFile(name))
            return lib;
    return nullptr;
}
