#pragma once

#include <string>
#include <vector>

// A settings file read and written key by key, with the rules of the
// classic private-profile routines: section and key names match ignoring
// case, values come back trimmed without one pair of enclosing quotes and
// at most 2047 characters long, keys are updated in place, everything else
// in the file is left alone, and the file is created when missing.
class TIniFile {
public:
    explicit TIniFile(std::string APath);

    bool Exists() const;
    // The value or ADefault when the section or key is missing.
    std::string ReadString(const std::string& ASection, const std::string& AKey,
                           const std::string& ADefault) const;
    // Writes through to disk at once, by a temporary file renamed over the
    // old one, so the file on disk is always whole. False when it cannot.
    bool WriteString(const std::string& ASection, const std::string& AKey,
                     const std::string& AValue);
    // Changes the key in memory only; Flush writes every change at once.
    void SetString(const std::string& ASection, const std::string& AKey,
                   const std::string& AValue);
    bool Flush();

    const std::string& Path() const { return FPath; }

private:
    void Reload() const;

    std::string FPath;
    mutable std::vector<std::string> FLines;
    mutable bool FLoaded = false;
};
