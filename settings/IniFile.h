#pragma once

#include <string>
#include <vector>

// A settings file with the rules of the classic private-profile routines:
// section and key names match ignoring case, values come back trimmed
// without one pair of enclosing quotes and at most 2047 characters long,
// keys are updated in place, everything else in the file is left alone, and
// the file is created when missing. It is read as UTF-8 (a byte-order mark
// skipped), or as UTF-16 when it starts with that mark, with CR LF, LF or a
// lone CR ending a line; it is always written back as UTF-8 with LF.
class TIniFile {
public:
    struct TEntry {
        std::string Section;
        std::string Key;
        std::string Value;
    };

    explicit TIniFile(std::string APath);

    // Reads the file now. A missing file reads as empty. False when
    // something is there that cannot be read; LoadError() says what.
    bool Load();
    // What the last Load found.
    bool Exists() const { return FExists; }
    const std::string& LoadError() const { return FLoadError; }
    // From what Load read: the value, or ADefault when the section or key
    // is missing.
    std::string ReadString(const std::string& ASection, const std::string& AKey,
                           const std::string& ADefault) const;

    // Under the file's lock: reads the file afresh and writes it whole once
    // with every entry changed. Should that write fail, goes key by key and
    // stops at the first key that cannot be written, the keys before it
    // staying written. A file that cannot be read is never written over.
    // False when not every key reached the disk.
    bool Write(const std::vector<TEntry>& AEntries);

private:
    std::string FPath;
    std::vector<std::string> FLines;
    bool FExists = false;
    std::string FLoadError;
};
