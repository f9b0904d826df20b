#include "fallback/FolderSource.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

void SleepUnlessStopped(int AMs, const std::atomic<bool>& AStop)
{
    for (int waited = 0; waited < AMs && !AStop.load(); waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

namespace {

// The folder's regular files, sorted by name; hidden ones left out.
std::vector<std::string> FilesOf(const std::string& AFolder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(AFolder, error)) {
        const std::string name = entry.path().filename().string();
        if (!name.empty() && name[0] != '.' && entry.is_regular_file(error))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TFolderSource::TFolderSource(const std::string& AFolder, int32_t ASampleRate, int AChannels,
                             const std::atomic<bool>& AStop, TFallbackNotice ANotice)
    : FFolder(AFolder), FDecoder(ASampleRate, AChannels, AStop), FNotice(std::move(ANotice))
{
}

bool TFolderSource::OpenNext()
{
    const std::vector<std::string> names = FilesOf(FFolder);
    // The first name after the current one, wrapping round.
    auto next = std::upper_bound(names.begin(), names.end(), FCurrent);
    for (size_t tried = 0; tried < names.size(); ++tried, ++next) {
        if (next == names.end())
            next = names.begin();
        FCurrent = *next;
        std::string why;
        if (FDecoder.Open((fs::path(FFolder) / FCurrent).string(), 0, why)) {
            FToldEmpty = false;
            return true;
        }
        if (FTold.insert(FCurrent).second)
            FNotice("Arquivo da reserva ignorado: " + FCurrent + " (" + why + ").");
    }
    if (!FToldEmpty)
        FNotice("A pasta da reserva nao tem arquivo de audio que toque: " + FFolder + ".");
    FToldEmpty = true;
    return false;
}

void TFolderSource::Produce(std::vector<float>& AOut, const std::atomic<bool>& AStop)
{
    if (!FOpen && !(FOpen = OpenNext())) {
        // Files may be put in later; looked for again every few seconds.
        SleepUnlessStopped(3000, AStop);
        return;
    }
    std::string why;
    if (FDecoder.Decode(AOut, why)) {
        FPlayedAny = true;
        return;
    }
    FOpen = false;
    if (!why.empty() && FTold.insert(FCurrent).second)
        FNotice("Arquivo da reserva interrompido: " + FCurrent + " (" + why + ").");
    // A folder of empty files must not spin.
    if (!std::exchange(FPlayedAny, false))
        SleepUnlessStopped(100, AStop);
}
