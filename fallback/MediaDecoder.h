#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct SwrContext;
struct AVPacket;
struct AVFrame;

// One audio file or stream decoded to interleaved float frames at the
// transmission's rate and channel count, whatever its own are.
class TMediaDecoder {
public:
    // AStop: set when the transmission ends; a blocking read gives up soon
    // after.
    TMediaDecoder(int32_t ASampleRate, int AChannels, const std::atomic<bool>& AStop);
    ~TMediaDecoder();
    TMediaDecoder(const TMediaDecoder&) = delete;
    TMediaDecoder& operator=(const TMediaDecoder&) = delete;

    // A path, or a URL read as a listener reads it (a read that stalls for
    // ANetworkTimeoutSeconds fails). False with why, in plain words.
    bool Open(const std::string& AWhere, int ANetworkTimeoutSeconds, std::string& AWhy);
    // Appends the next frames to AOut. False at the end (AWhy empty) or when
    // the input fails (AWhy says why); the decoder is closed then.
    bool Decode(std::vector<float>& AOut, std::string& AWhy);

private:
    void Close();
    bool Convert(const AVFrame* AFrame, std::vector<float>& AOut, std::string& AWhy);
    static int Interrupted(void* AOpaque);

    int32_t FSampleRate;
    int FChannels;
    const std::atomic<bool>& FStop;
    AVFormatContext* FFormat = nullptr;
    AVCodecContext* FCodec = nullptr;
    SwrContext* FResampler = nullptr;
    AVPacket* FPacket = nullptr;
    AVFrame* FFrame = nullptr;
    int FStream = -1;
    bool FDraining = false;
};
