#include "platform/FileSystem.h"

#include <sys/stat.h>

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
