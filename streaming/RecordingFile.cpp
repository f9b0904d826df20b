#include "streaming/RecordingFile.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

std::tm LocalTime(TWallTime ATime)
{
    const std::time_t t = std::chrono::system_clock::to_time_t(ATime);
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

std::string ErrorText(int AErrno)
{
    char buf[256];
    return strerror_r(AErrno, buf, sizeof(buf));
}

// A file-size limit would otherwise end the whole program at the write
// that crosses it; failing that write stops only the recording.
void IgnoreFileSizeSignal()
{
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

} // namespace

std::string RecordingBaseName(TWallTime ATime)
{
    const std::tm local = LocalTime(ATime);
    char buf[32];
    std::strftime(buf, sizeof(buf), "%Y-%m-%d_%H-%M-%S", &local);
    return buf;
}

std::string RecordingExtension(TCodecKind AKind)
{
    switch (AKind) {
    case TCodecKind::OggVorbis:
        return ".ogg";
    case TCodecKind::AacPlus:
        return ".aac";
    case TCodecKind::OggFlac:
        return ".oga";
    case TCodecKind::OggOpus:
        return ".opus";
    default:
        return ".mp3";
    }
}

TWallTime NextSplitAfter(TWallTime ATime, int AMinutes)
{
    std::tm midnight = LocalTime(ATime);
    midnight.tm_hour = midnight.tm_min = midnight.tm_sec = 0;
    midnight.tm_isdst = -1;
    const TWallTime dayStart = std::chrono::system_clock::from_time_t(std::mktime(&midnight));
    const auto period = std::chrono::minutes(AMinutes);
    const auto sinceMidnight = ATime - dayStart;
    const TWallTime next = dayStart + (sinceMidnight / period + 1) * period;
    std::tm tomorrow = midnight;
    tomorrow.tm_mday += 1;
    tomorrow.tm_isdst = -1;
    const TWallTime nextDay = std::chrono::system_clock::from_time_t(std::mktime(&tomorrow));
    return next < nextDay ? next : nextDay;
}

TRecordingFile::~TRecordingFile()
{
    std::string ignored;
    Close(ignored);
}

bool TRecordingFile::Create(const std::string& AFolder, const std::string& ABaseName, const std::string& AExtension,
                            std::string& AError)
{
    IgnoreFileSizeSignal();
    std::string folder = AFolder.empty() ? "." : AFolder;
    if (folder.back() != '/')
        folder += '/';
    for (int n = 1; n < 100; ++n) {
        const std::string path =
            folder + ABaseName + (n == 1 ? "" : "_" + std::to_string(n)) + AExtension;
        FFd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (FFd != -1) {
            FPath = path;
            return true;
        }
        if (errno != EEXIST) {
            AError = ErrorText(errno) + " (" + path + ")";
            return false;
        }
    }
    AError = "nomes ocupados (" + folder + ABaseName + AExtension + ")";
    return false;
}

bool TRecordingFile::Write(const std::string& ABytes, std::string& AError)
{
    size_t done = 0;
    while (done < ABytes.size()) {
        const ssize_t n = write(FFd, ABytes.data() + done, ABytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            AError = ErrorText(n < 0 ? errno : ENOSPC) + " (" + FPath + ")";
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool TRecordingFile::Close(std::string& AError)
{
    if (FFd == -1)
        return true;
    const int fd = FFd;
    FFd = -1;
    if (close(fd) != 0) {
        AError = ErrorText(errno) + " (" + FPath + ")";
        return false;
    }
    return true;
}
