#include "capture/PortAudioCapture.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include <portaudio.h>

#include "capture/CaptureChannel.h"
#include "capture/PortAudioDevices.h"

namespace {

constexpr unsigned long KFramesPerBuffer = 2048;
constexpr double KFirstWaitSeconds = 3.0;

class TPortAudioCapture : public TCaptureSource {
public:
    TPortAudioCapture(PaStream* AStream, int AChannels, double ASampleRate)
        : FStream(AStream), FChannels(AChannels), FSampleRate(ASampleRate)
    {
    }
    ~TPortAudioCapture() override
    {
        std::lock_guard<std::mutex> lock(PortAudioLibraryLock());
        Pa_StopStream(FStream);
        Pa_CloseStream(FStream);
        Pa_Terminate();
    }

    int Channels() const override { return FChannels; }
    uint64_t Overruns() const override { return FOverruns; }

    bool ReadBlock(float* ABuffer, int AFrames, std::string& AError) override
    {
        WaitForFrames(AFrames);
        const PaError err = Pa_ReadStream(FStream, ABuffer, static_cast<unsigned long>(AFrames));
        // An overflow only says audio was lost while nobody read (a login);
        // the device restarts, and may be slow to deliver again.
        if (err == paInputOverflowed) {
            ++FOverruns;
            FFirstRead = true;
            FTrustAvailable = true;
        }
        if (err == paNoError || err == paInputOverflowed)
            return true;
        AError = PortAudioErrorText(err);
        return false;
    }

private:
    // For a while after a start (half a second to two seconds here),
    // ALSA's blocking read returns at once with nothing and the library
    // polls in a tight loop: a full core at every start. Sleeping while the
    // frames are short costs nothing in steady streaming, where they are
    // there within a block. A device that never reports what it holds
    // makes one wait run out; the read alone judges from then on.
    void WaitForFrames(int AFrames)
    {
        if (!FTrustAvailable)
            return;
        const auto limit = FFirstRead ? std::chrono::duration<double>(KFirstWaitSeconds)
                                      : std::chrono::duration<double>(2.0 * AFrames / FSampleRate);
        const bool starting = FFirstRead;
        FFirstRead = false;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (bool napped = false;; napped = true) {
            const long available = Pa_GetStreamReadAvailable(FStream);
            if (available < 0 || available >= AFrames)
                return;
            if (std::chrono::steady_clock::now() >= deadline) {
                FTrustAvailable = false;
                return;
            }
            // Streaming, one nap for what is missing will do: the read
            // waits for the rest itself, and each look at what is there
            // costs the sound server's plugin a round of locks and calls.
            if (napped && !starting)
                return;
            const double missing = (AFrames - available) / FSampleRate;
            std::this_thread::sleep_for(std::chrono::duration<double>(std::clamp(missing, 0.002, 0.05)));
        }
    }

    PaStream* FStream;
    int FChannels;
    uint64_t FOverruns = 0;
    double FSampleRate;
    bool FFirstRead = true;
    bool FTrustAvailable = true;
};

std::unique_ptr<TCaptureSource> OpenLocked(TEncoderConfig& AConfig, const TCaptureReport& AReport)
{
    if (const PaError err = Pa_Initialize(); err != paNoError) {
        AReport("PortAudio nao iniciou: " + PortAudioErrorText(err), true);
        return nullptr;
    }
    const TCaptureChannelPlan plan = ResolveCaptureChannel(TPortAudioDeviceList(), AConfig);
    if (!plan.Error.empty()) {
        AReport(plan.Error, true);
        Pa_Terminate();
        return nullptr;
    }
    if (plan.Loopback) {
        AConfig.SampleRate = plan.SampleRate;
        AReport("Canal de retorno: " + plan.PartnerName, false);
    }

    PaStreamParameters params{};
    params.device = plan.DeviceIndex;
    params.sampleFormat = paFloat32;
    params.suggestedLatency = plan.SuggestedLatency;
    params.hostApiSpecificStreamInfo = nullptr;
    PaError lastError = paNoError;
    PaStream* stream = nullptr;
    int channels = 0;
    for (const int candidate : plan.ChannelCandidates) {
        params.channelCount = candidate;
        const PaError err = Pa_OpenStream(&stream, &params, nullptr, AConfig.SampleRate, KFramesPerBuffer,
                                          paClipOff, nullptr, nullptr);
        if (err == paNoError) {
            channels = candidate;
            break;
        }
        stream = nullptr;
        lastError = err;
    }
    if (!stream) {
        AReport("N\xC3\xA3o abriu o canal selecionado: " + PortAudioErrorText(lastError), true);
        Pa_Terminate();
        return nullptr;
    }
    if (const PaError err = Pa_StartStream(stream); err != paNoError) {
        AReport("N\xC3\xA3o iniciou o canal selecionado: " + PortAudioErrorText(err), true);
        Pa_CloseStream(stream);
        Pa_Terminate();
        return nullptr;
    }
    return std::make_unique<TPortAudioCapture>(stream, channels, AConfig.SampleRate);
}

} // namespace

std::unique_ptr<TCaptureSource> OpenPortAudioChannel(TEncoderConfig& AConfig, const TCaptureReport& AReport)
{
    // Reporting waits for the window's thread, which must never wait for
    // this lock in turn: the messages go out once it is released.
    std::vector<std::pair<std::string, bool>> said;
    std::unique_ptr<TCaptureSource> source;
    {
        std::lock_guard<std::mutex> lock(PortAudioLibraryLock());
        source = OpenLocked(AConfig, [&said](const std::string& AText, bool AIsError) {
            said.emplace_back(AText, AIsError);
        });
    }
    for (const auto& [text, isError] : said)
        AReport(text, isError);
    return source;
}
