#include "platform/FileSystem.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

bool RegularFileExists(const std::string& APath)
{
    struct stat st {};
    return stat(APath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const std::string& APath)
{
    struct stat st {};
    return stat(APath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FolderWritable(const std::string& APath)
{
    struct stat st {};
    if (stat(APath.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || access(APath.c_str(), W_OK | X_OK) != 0)
        return false;
    if (geteuid() != 0)
        return true;
    const mode_t bit = st.st_uid == 0 ? S_IWUSR : st.st_gid == getegid() ? S_IWGRP : S_IWOTH;
    return (st.st_mode & bit) != 0;
}

bool CreatePrivateFolders(const std::string& APath)
{
    if (APath.empty())
        return false;
    for (size_t slash = APath.find('/', 1); ; slash = APath.find('/', slash + 1)) {
        const std::string part = APath.substr(0, slash);
        if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos || slash + 1 >= APath.size())
            break;
    }
    return FolderExists(APath);
}
