#include "settings/GuardedFile.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

constexpr int KMaxLinkHops = 40;
// mkstemp's six random characters follow it.
constexpr const char* KTempInfix = ".tmp.";
constexpr size_t KTempRandomChars = 6;

std::string ErrnoText(int AError)
{
    return std::generic_category().message(AError);
}

std::string FolderOf(const std::string& AFile)
{
    const std::string folder = std::filesystem::path(AFile).parent_path().string();
    return folder.empty() ? "." : folder;
}

void RemoveStaleTemps(const std::string& AFile)
{
    const std::string prefix = std::filesystem::path(AFile).filename().string() + KTempInfix;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(FolderOf(AFile), ec)) {
        const std::string name = entry.path().filename().string();
        std::error_code typeError;
        if (name.size() == prefix.size() + KTempRandomChars && name.compare(0, prefix.size(), prefix) == 0 &&
            entry.is_regular_file(typeError) && !entry.is_symlink(typeError))
            std::filesystem::remove(entry.path(), typeError);
    }
}

bool WriteAll(int AFd, const std::string& ABytes)
{
    size_t done = 0;
    while (done < ABytes.size()) {
        const ssize_t n = write(AFd, ABytes.data() + done, ABytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

TFileBytes ReadFileBytes(const std::string& APath)
{
    TFileBytes result;
    const auto fail = [&result](const std::string& AReason) {
        result.State = TFileBytes::fbFailed;
        result.Reason = AReason;
        result.Bytes.clear();
        return result;
    };
    // Looked at before it is opened: opening some devices already acts.
    struct stat st {};
    if (stat(APath.c_str(), &st) != 0)
        return (errno == ENOENT || errno == ENOTDIR) ? result : fail(ErrnoText(errno));
    if (!S_ISREG(st.st_mode))
        return fail("not a regular file");
    if (static_cast<unsigned long long>(st.st_size) > KMaxSettingsFileBytes)
        return fail("larger than 1 MiB");
    const int fd = open(APath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? result : fail(ErrnoText(errno));
    // The path may have been swapped for something else since the stat.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return fail("not a regular file");
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            close(fd);
            return fail(ErrnoText(error));
        }
        if (n == 0)
            break;
        result.Bytes.append(buffer, static_cast<size_t>(n));
        if (result.Bytes.size() > KMaxSettingsFileBytes) {
            close(fd);
            return fail("larger than 1 MiB");
        }
    }
    close(fd);
    result.State = TFileBytes::fbRead;
    result.Mode = st.st_mode & 07777;
    result.Owner = st.st_uid;
    result.Group = st.st_gid;
    return result;
}

std::string FollowLinks(const std::string& APath, std::string& AReason)
{
    std::filesystem::path path = APath;
    for (int hop = 0; hop < KMaxLinkHops; ++hop) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path.string();
        std::error_code ec;
        const std::filesystem::path target = std::filesystem::read_symlink(path, ec);
        if (ec) {
            AReason = ec.message();
            return "";
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    AReason = ErrnoText(ELOOP);
    return "";
}

TFileLock::TFileLock(const std::string& AFile, int ATimeoutMs)
{
    // Read-only is enough for flock and lets a peer of another user open a
    // lock file this one created.
    const std::string lockPath = AFile + ".lock";
    const int fd = open(lockPath.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > until) {
            close(fd);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    FFd = fd;
    RemoveStaleTemps(AFile);
}

TFileLock::~TFileLock()
{
    if (FFd >= 0)
        close(FFd);
}

bool ReplaceFileBytes(const std::string& AFile, const std::string& ABytes, const TFileBytes& AOld)
{
    std::string temp = AFile + KTempInfix + std::string(KTempRandomChars, 'X');
    const int fd = mkostemp(temp.data(), O_CLOEXEC); // created 0600
    if (fd < 0)
        return false;
    if (AOld.State == TFileBytes::fbRead) {
        // Who may read the clear-text passwords stays as it was. Only root
        // may give the file away; a plain user still keeps the group when
        // it is one of theirs, else the group it gets is not let in.
        mode_t mode = AOld.Mode;
        if (fchown(fd, AOld.Owner, AOld.Group) != 0 && fchown(fd, static_cast<uid_t>(-1), AOld.Group) != 0)
            mode &= ~static_cast<mode_t>(S_IRWXG);
        (void)!fchmod(fd, mode); // failing, it stays 0600: the safe side
    }
    bool ok = WriteAll(fd, ABytes);
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    ok = ok && rename(temp.c_str(), AFile.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const int folder = open(FolderOf(AFile).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)!fsync(folder);
        close(folder);
    }
    return true;
}
