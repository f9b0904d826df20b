#include "capture/PortAudioDevices.h"

#include <cstring>

int TPortAudioDeviceList::Count() const
{
    const PaDeviceIndex count = Pa_GetDeviceCount();
    return count > 0 ? count : 0;
}

std::optional<TAudioDeviceInfo> TPortAudioDeviceList::Info(int AIndex) const
{
    // Pa_GetDeviceInfo does not range-check in every build: keep it honest.
    if (AIndex < 0 || AIndex >= Count())
        return std::nullopt;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(AIndex);
    if (!info)
        return std::nullopt;
    TAudioDeviceInfo result;
    TTavixAudioDevice& dev = result.Device;
    dev.Index = AIndex;
    dev.Name = info->name ? info->name : "";
    dev.MaxInputChannels = info->maxInputChannels;
    dev.MaxOutputChannels = info->maxOutputChannels;
    dev.DefaultSampleRate = info->defaultSampleRate;
    if (const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi)) {
        dev.HostApiName = api->name ? api->name : "";
        dev.HostApiType = api->type;
    }
    result.DefaultHighInputLatency = info->defaultHighInputLatency;
    return result;
}

namespace {

// Pa_Terminate exactly once, also when reading the devices throws.
struct TPaSession {
    ~TPaSession() { Pa_Terminate(); }
};

} // namespace

std::vector<TTavixAudioDevice> EnumerateAudioDevices()
{
    std::vector<TTavixAudioDevice> result;
    std::lock_guard<std::mutex> lock(PortAudioLibraryLock());
    if (Pa_Initialize() != paNoError)
        return result;
    TPaSession session;
    const TPortAudioDeviceList devices;
    const int count = devices.Count();
    result.reserve(count);
    for (int j = 0; j < count; ++j)
        if (const auto info = devices.Info(j))
            result.push_back(info->Device);
    return result;
}

std::mutex& PortAudioLibraryLock()
{
    static std::mutex lock;
    return lock;
}

std::string PortAudioErrorText(PaError ACode)
{
    const char* text = Pa_GetErrorText(ACode);
    if (text && *text)
        return text;
    return "Erro PortAudio " + std::to_string(ACode);
}
