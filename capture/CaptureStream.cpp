#include "capture/CaptureChannel.h"
#include "capture/PortAudioDevices.h"
#include "streaming/NativeEncoderThread.h"

bool TNativeEncoderThread::OpenCaptureStream(PaStream*& AStream, int& AChannels)
{
    AStream = nullptr;
    AChannels = 0;
    const TCaptureChannelPlan plan = ResolveCaptureChannel(TPortAudioDeviceList(), FConfig);
    if (!plan.Error.empty()) {
        PostStatus(plan.Error, true);
        return false;
    }
    if (plan.Loopback) {
        FConfig.SampleRate = plan.SampleRate;
        PostStatus("Canal de retorno: " + plan.PartnerName, false);
    }

    PaStreamParameters params{};
    params.device = plan.DeviceIndex;
    params.sampleFormat = paFloat32;
    params.suggestedLatency = plan.SuggestedLatency;
    params.hostApiSpecificStreamInfo = nullptr;
    PaError lastError = paNoError;
    for (const int channels : plan.ChannelCandidates) {
        params.channelCount = channels;
        PaStream* stream = nullptr;
        const PaError err = Pa_OpenStream(&stream, &params, nullptr, FConfig.SampleRate, 2048,
                                          paClipOff, nullptr, nullptr);
        if (err == paNoError) {
            AStream = stream;
            AChannels = channels;
            break;
        }
        lastError = err;
    }
    if (!AStream) {
        PostStatus("N\xC3\xA3o abriu o canal selecionado: " + PortAudioErrorText(lastError), true);
        return false;
    }
    if (const PaError err = Pa_StartStream(AStream); err != paNoError) {
        PostStatus("N\xC3\xA3o iniciou o canal selecionado: " + PortAudioErrorText(err), true);
        Pa_CloseStream(AStream);
        AStream = nullptr;
        AChannels = 0;
        return false;
    }
    return true;
}
