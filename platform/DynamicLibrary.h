#pragma once

#include <string>
#include <vector>

// Shared objects loaded at run time, in the shape of the Windows loader
// calls the codec modules are written against.
using TLibHandle = void*;

// dlopen of a full path or a bare name (the loader's own search); nullptr on
// failure. Before loading, every name of ADependencies that exists in the
// registered dependency folder is loaded from there, so the new library
// binds to those copies instead of the system's.
TLibHandle LoadLibraryFile(const std::string& APathOrName,
                           const std::vector<std::string>& ADependencies = {});
// Entry point by its exact exported name; nullptr when absent.
void* GetProcAddress(TLibHandle ALib, const char* AName);
// Once per handle returned by a load.
void FreeLibrary(TLibHandle ALib);

// Stand-in for the loader's dependent-library folder: process-wide, the
// last registration stays in effect.
void SetLibraryDependencyFolder(const std::string& AFolder);
std::string LibraryDependencyFolder();

// Only folders and files that belong to this user or root and that no one
// else may write are loaded from; the current directory never is.
// Search A: the executable's folder, its "dll" subfolder (each registered
// as the dependency folder before its files are tried, names in order,
// existing files only), then each bare name through the loader.
TLibHandle SearchLibraryA(const std::vector<std::string>& ANames,
                          const std::vector<std::string>& ADependencies = {});
// Search B: for each name, the executable's "dll" subfolder, then the
// executable's folder; then the bare names, so a library installed by the
// system's packages is found too.
TLibHandle SearchLibraryB(const std::vector<std::string>& ANames);
