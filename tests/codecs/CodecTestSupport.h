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

// One logical stream of a chained Ogg sequence, its pages in order.
struct TOggChain {
    uint32_t Serial = 0;
    std::vector<TOggPage> Pages;
};
// Cuts the pages into chains at each page that opens a stream; false when
// they are not cleanly chained: a first page that opens nothing, a page of
// another serial inside a chain, or a chain whose last page does not end
// its stream (the one in progress at the end is exempt when
// ALastMayBeOpen, as in a capture cut short).
bool SplitOggChains(const std::vector<TOggPage>& APages, std::vector<TOggChain>& AChains,
                    bool ALastMayBeOpen = false);
// The "NAME=value" comments of a Vorbis comment header, an OpusTags
// packet or a FLAC VORBIS_COMMENT metadata block packet; empty for any
// other packet.
std::vector<std::string> CommentsOf(const std::string& APacket);
// Comments of the chain's comment packet (its second one).
std::vector<std::string> ChainComments(const TOggChain& AChain);
// The audio frames the chain's last granule position stands for, at the
// encoder's input rate: Opus counts at 48000 Hz after its pre-skip (from
// OpusHead), so a fraction is left; the others count input frames.
double ChainAudioFrames(const TOggChain& AChain, int AInputRate);
// ffmpeg's decode, as a listener gets it: a file fed through a pipe, or a
// URL, for at most ASeconds (0: to the end), to interleaved float.
// Timestamps are taken from the sample count: ffmpeg 5.1 mis-times chain
// boundaries on its own, and a seekable chained file sends its length
// probe into a chain it has not met. Errors holds what "-v error" printed.
struct TStreamDecode {
    std::string Errors;
    std::vector<float> Pcm;
};
TStreamDecode DecodeAsStream(const std::string& APathOrUrl, int AChannels, double ASeconds = 0);
