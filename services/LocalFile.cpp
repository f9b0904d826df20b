#include "services/LocalFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/CodePage.h"
#include "settings/EncoderConfig.h"

bool FileExists(const std::string& APath)
{
    struct stat st{};
    return stat(APath.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::optional<double> FileModifiedDays(const std::string& APath)
{
    struct stat st{};
    if (stat(APath.c_str(), &st) != 0)
        return std::nullopt;
    const double seconds = static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9;
    return seconds / 86400.0;
}

TFileHandle OpenRegularFile(const std::string& APath)
{
    // Opened without waiting (on a pipe with no writer open() itself would
    // wait), then judged through the handle, so nothing can be swapped in
    // between. The flag does nothing to a regular file's reads.
    int fd = open(APath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
    // A link is followed only when it is this user's or root's, as the
    // kernel's protected_symlinks rule has it: another user's link could
    // point anywhere this program may read.
    struct stat link{};
    if (fd < 0 && errno == ELOOP && lstat(APath.c_str(), &link) == 0 &&
        (link.st_uid == geteuid() || link.st_uid == 0))
        fd = open(APath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    else if (fd < 0 && errno == ELOOP)
        errno = EACCES;
    if (fd < 0)
        return nullptr;
    struct stat st{};
    int why = fstat(fd, &st) == 0 ? 0 : errno;
    // Never the settings, whatever name leads to them.
    if (why == 0 && IsSettingsFile(st.st_dev, st.st_ino))
        why = EACCES;
    if (why != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = why;
        return nullptr;
    }
    TFileHandle file(fdopen(fd, "rb"));
    if (!file) {
        const int failure = errno;
        close(fd);
        errno = failure;
    }
    return file;
}

std::optional<std::string> ReadWholeFile(const std::string& APath, size_t AMaxBytes)
{
    const TFileHandle file = OpenRegularFile(APath);
    if (!file)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        text.append(buffer, n);
        if (text.size() > AMaxBytes)
            return std::nullopt;
    }
    if (std::ferror(file.get()))
        return std::nullopt;
    return text;
}

std::optional<std::string> ReadUtf8File(const std::string& APath, size_t AMaxBytes)
{
    std::optional<std::string> text = ReadWholeFile(APath, AMaxBytes);
    if (!text)
        return std::nullopt;
    if (text->compare(0, 3, "\xEF\xBB\xBF") == 0)
        text->erase(0, 3);
    std::u32string codePoints;
    if (!DecodeUtf8(*text, codePoints))
        return std::nullopt;
    return text;
}
