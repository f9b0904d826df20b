#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "codecs/AudioEncoder.h"

// Interleaved sine, full frames, amplitude AAmplitude on every channel.
std::vector<float> SineWave(double AFreqHz, int ASampleRate, int AChannels, int AFrames,
                            double AAmplitude = 0.5);

// Header + every block + finish bytes of ASeconds of sine, in blocks of
// the encoder's frame length (2048 when it has none). Fails the test on
// any false result.
std::string EncodeSine(TAudioEncoder& AEncoder, int AChannels, int ASampleRate, int ABitrate,
                       double ASeconds, double AFreqHz);
// The same through LAME, driven the way the transmission loop drives it.
std::string EncodeSineMp3(int AChannels, int ASampleRate, int ABitrate, double ASeconds,
                          double AFreqHz);

// ffprobe's view of the first audio stream and the container:
// codec_name, profile, sample_rate, channels, format_name, duration and
// the stream tags as "TAG:<name>".
std::map<std::string, std::string> ProbeFile(const std::string& APath);
// ffmpeg's decode of the whole file to interleaved float.
std::vector<float> DecodeFile(const std::string& APath, int AChannels);
// Goertzel power of one channel at AFreqHz.
double ToneLevel(const std::vector<float>& APcm, int AChannels, int AChannel, int ASampleRate,
                 double AFreqHz);

// One Ogg page as read from a byte stream.
struct TOggPage {
    uint8_t HeaderType = 0;
    int64_t Granule = 0;
    uint32_t Serial = 0;
    uint32_t Sequence = 0;
    std::vector<std::string> Packets;   // packets that END on this page
    bool EndsWithOpenPacket = false;    // last segment continues on the next page
};
// Splits AData into whole pages; false when the data is not a sequence of
// whole pages (bad capture pattern, truncated page).
bool ParseOggPages(const std::string& AData, std::vector<TOggPage>& APages);
// Every packet completed in the pages, in order.
std::vector<std::string> OggPackets(const std::vector<TOggPage>& APages);
