#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <mutex>
#include <unistd.h>

#include "platform/ExePath.h"
#include "platform/FileSystem.h"

namespace {

std::mutex GFolderLock;
std::string GDependencyFolder;

std::string CurrentDir()
{
    char buf[4096];
    if (getcwd(buf, sizeof(buf)) == nullptr)
        return "./";
    std::string dir(buf);
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
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
            if (RegularFileExists(folder + name))
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
    const std::string exeDir = ExecutableDir();
    const std::string curDir = CurrentDir();
    for (const std::string& folder : {exeDir, exeDir + "dll/", curDir, curDir + "dll/"}) {
        if (!FolderExists(folder))
            continue;
        SetLibraryDependencyFolder(folder);
        for (const auto& name : ANames)
            if (RegularFileExists(folder + name))
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
    const std::string exeDir = ExecutableDir();
    for (const auto& name : ANames) {
        if (TLibHandle lib = LoadLibraryFile(exeDir + "dll/" + name))
            return lib;
        if (TLibHandle lib = LoadLibraryFile(exeDir + name))
            return lib;
    }
    for (const auto& name : ANames)
        if (TLibHandle lib = LoadLibraryFile(name))
            return lib;
    return nullptr;
}
