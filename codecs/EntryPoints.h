#pragma once

#include <initializer_list>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/DynamicLibrary.h"

// Resolves a codec's entry points one by one, in the order of the calls.
// Each name is looked up in the libraries in the order given; the first
// library that exports it wins. The first missing required function stops
// the resolution and leaves the codec's message plus its name in AError.
class TEntryPointResolver {
public:
    TEntryPointResolver(std::initializer_list<TLibHandle> ALibs, const char* AMissingMessage,
                        std::string& AError)
        : FLibs(ALibs), FMissingMessage(AMissingMessage), FError(AError)
    {
    }

    template <class T>
    void Required(T& AEntry, const char* AName)
    {
        if (FOk && !Lookup(AEntry, AName)) {
            FError = FMissingMessage + AName;
            FOk = false;
        }
    }
    // Absence is no error: the entry point stays null.
    template <class T>
    void Optional(T& AEntry, const char* AName)
    {
        if (FOk)
            Lookup(AEntry, AName);
    }
    bool Ok() const { return FOk; }

private:
    template <class T>
    bool Lookup(T& AEntry, const char* AName)
    {
        static_assert(std::is_pointer_v<T>);
        for (TLibHandle lib : FLibs)
            if (void* p = GetProcAddress(lib, AName)) {
                AEntry = reinterpret_cast<T>(p);
                return true;
            }
        return false;
    }

    std::vector<TLibHandle> FLibs;
    std::string FMissingMessage;
    std::string& FError;
    bool FOk = true;
};
