#include "CodecTestSupport.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <sstream>

#include "codecs/Lame.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

std::vector<float> SineWave(double AFreqHz, int ASampleRate, int AChannels, int AFrames,
                            double AAmplitude)
{
    std::vector<float> pcm(static_cast<size_t>(AFrames) * AChannels);
    for (int i = 0; i < AFrames; ++i) {
        const float v = static_cast<float>(AAmplitude * std::sin(2 * M_PI * AFreqHz * i / ASampleRate));
        for (int c = 0; c < AChannels; ++c)
            pcm[static_cast<size_t>(i) * AChannels + c] = v;
    }
    return pcm;
}

std::string EncodeSine(TAudioEncoder& AEncoder, int AChannels, int ASampleRate, int ABitrate,
                       double ASeconds, double AFreqHz)
{
    std::string out, bytes, error;
    EXPECT_TRUE(AEncoder.Start(AChannels, ASampleRate, ABitrate, out, error)) << error;
    const int total = static_cast<int>(std::lround(ASeconds * ASampleRate));
    const std::vector<float> pcm = SineWave(AFreqHz, ASampleRate, AChannels, total);
    const int block = AEncoder.FrameLength() > 0 ? AEncoder.FrameLength() : 2048;
    for (int done = 0; done < total; done += block) {
        const int frames = std::min(block, total - done);
        EXPECT_TRUE(AEncoder.EncodeFloatInterleaved(pcm.data() + static_cast<size_t>(done) * AChannels,
                                                    frames, bytes, error))
            << error;
        out += bytes;
    }
    EXPECT_TRUE(AEncoder.Finish(bytes, error)) << error;
    out += bytes;
    return out;
}

std::string EncodeSineMp3(int AChannels, int ASampleRate, int ABitrate, double ASeconds,
                          double AFreqHz)
{
    lame_global_flags* lame = OpenMp3Encoder(AChannels, ASampleRate, ABitrate);
    EXPECT_NE(lame, nullptr);
    if (!lame)
        return {};
    const int total = static_cast<int>(std::lround(ASeconds * ASampleRate));
    const std::vector<float> pcm = SineWave(AFreqHz, ASampleRate, AChannels, total);
    std::vector<unsigned char> buf(static_cast<size_t>(Mp3BufferSize(2048)));
    std::string out;
    for (int done = 0; done < total; done += 2048) {
        const int frames = std::min(2048, total - done);
        const int n = EncodeMp3Block(lame, pcm.data() + static_cast<size_t>(done) * AChannels,
                                     frames, buf.data(), static_cast<int>(buf.size()));
        EXPECT_GE(n, 0);
        if (n > 0)
            out.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n));
    }
    const int n = lame_encode_flush(lame, buf.data(), static_cast<int>(buf.size()));
    if (n > 0)
        out.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n));
    lame_close(lame);
    return out;
}

std::map<std::string, std::string> ProbeFile(const std::string& APath)
{
    const std::string ffprobe = RequireProgram("ffprobe");
    const std::string text = RunCommand(
        ShellQuote(ffprobe) + " -v error -select_streams a:0 -show_entries "
        "stream=codec_name,profile,sample_rate,channels:stream_tags:format=format_name,duration "
        "-of default=noprint_wrappers=1 " + ShellQuote(APath));
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

std::vector<float> DecodeFile(const std::string& APath, int AChannels)
{
    const std::string ffmpeg = RequireProgram("ffmpeg");
    const std::string raw = RunCommand(ShellQuote(ffmpeg) + " -v error -i " + ShellQuote(APath) +
                                       " -f f32le -ac " + std::to_string(AChannels) + " -");
    std::vector<float> pcm(raw.size() / sizeof(float));
    std::memcpy(pcm.data(), raw.data(), pcm.size() * sizeof(float));
    return pcm;
}

double ToneLevel(const std::vector<float>& APcm, int AChannels, int AChannel, int ASampleRate,
                 double AFreqHz)
{
    const double coeff = 2 * std::cos(2 * M_PI * AFreqHz / ASampleRate);
    double s1 = 0, s2 = 0;
    const size_t frames = APcm.size() / AChannels;
    for (size_t i = 0; i < frames; ++i) {
        const double s = APcm[i * AChannels + AChannel] + coeff * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return (s1 * s1 + s2 * s2 - coeff * s1 * s2) / (static_cast<double>(frames) * frames);
}

bool ParseOggPages(const std::string& AData, std::vector<TOggPage>& APages)
{
    APages.clear();
    size_t pos = 0;
    std::string open;
    auto u8 = [&](size_t AAt) { return static_cast<uint8_t>(AData[AAt]); };
    auto le = [&](size_t AAt, int ABytes) {
        uint64_t v = 0;
        for (int i = ABytes - 1; i >= 0; --i)
            v = (v << 8) | u8(AAt + i);
        return v;
    };
    while (pos < AData.size()) {
        if (AData.size() - pos < 27 || AData.compare(pos, 4, "OggS") != 0 || u8(pos + 4) != 0)
            return false;
        TOggPage page;
        page.HeaderType = u8(pos + 5);
        page.Granule = static_cast<int64_t>(le(pos + 6, 8));
        page.Serial = static_cast<uint32_t>(le(pos + 14, 4));
        page.Sequence = static_cast<uint32_t>(le(pos + 18, 4));
        const size_t segments = u8(pos + 26);
        if (AData.size() - pos < 27 + segments)
            return false;
        size_t body = pos + 27 + segments;
        size_t bodyLen = 0;
        for (size_t s = 0; s < segments; ++s)
            bodyLen += u8(pos + 27 + s);
        if (AData.size() - body < bodyLen)
            return false;
        for (size_t s = 0; s < segments; ++s) {
            const size_t lace = u8(pos + 27 + s);
            open.append(AData, body, lace);
            body += lace;
            if (lace < 255) {
                page.Packets.push_back(open);
                open.clear();
            }
        }
        page.EndsWithOpenPacket = segments > 0 && u8(pos + 27 + segments - 1) == 255;
        APages.push_back(page);
        pos = body;
    }
    return true;
}

std::vector<std::string> OggPackets(const std::vector<TOggPage>& APages)
{
    std::vector<std::string> packets;
    for (const auto& page : APages)
        packets.insert(packets.end(), page.Packets.begin(), page.Packets.end());
    return packets;
}

bool SplitOggChains(const std::vector<TOggPage>& APages, std::vector<TOggChain>& AChains,
                    bool ALastMayBeOpen)
{
    AChains.clear();
    for (const auto& page : APages) {
        if (page.HeaderType & 0x02) {
            if (!AChains.empty() && !(AChains.back().Pages.back().HeaderType & 0x04))
                return false;
            AChains.push_back({page.Serial, {}});
        } else if (AChains.empty() || page.Serial != AChains.back().Serial) {
            return false;
        }
        AChains.back().Pages.push_back(page);
    }
    return !AChains.empty() &&
           (ALastMayBeOpen || (AChains.back().Pages.back().HeaderType & 0x04) != 0);
}

std::vector<std::string> CommentsOf(const std::string& APacket)
{
    size_t pos = 0;
    if (APacket.compare(0, 7, "\x03vorbis") == 0)
        pos = 7;
    else if (APacket.compare(0, 8, "OpusTags") == 0)
        pos = 8;
    else if (!APacket.empty() && (static_cast<uint8_t>(APacket[0]) & 0x7F) == 4)
        pos = 4;   // FLAC block type, then a 24-bit length
    else
        return {};
    auto u32 = [&](uint32_t& AValue) {
        if (APacket.size() - pos < 4)
            return false;
        AValue = 0;
        for (int i = 3; i >= 0; --i)
            AValue = (AValue << 8) | static_cast<uint8_t>(APacket[pos + i]);
        pos += 4;
        return true;
    };
    uint32_t vendor = 0, count = 0;
    if (!u32(vendor) || APacket.size() - pos < vendor)
        return {};
    pos += vendor;
    if (!u32(count))
        return {};
    std::vector<std::string> comments;
    for (uint32_t c = 0; c < count; ++c) {
        uint32_t length = 0;
        if (!u32(length) || APacket.size() - pos < length)
            return {};
        comments.push_back(APacket.substr(pos, length));
        pos += length;
    }
    return comments;
}

std::vector<std::string> ChainComments(const TOggChain& AChain)
{
    // Both mappings put the comments right after the identification packet.
    const auto packets = OggPackets(AChain.Pages);
    return packets.size() > 1 ? CommentsOf(packets[1]) : std::vector<std::string>{};
}

double ChainAudioFrames(const TOggChain& AChain, int AInputRate)
{
    if (AChain.Pages.empty())
        return -1;
    const int64_t granule = AChain.Pages.back().Granule;
    const auto packets = OggPackets(AChain.Pages);
    if (packets.empty() || packets[0].compare(0, 8, "OpusHead") != 0 || packets[0].size() < 19)
        return static_cast<double>(granule);
    const int preSkip = static_cast<uint8_t>(packets[0][10]) | (static_cast<uint8_t>(packets[0][11]) << 8);
    return static_cast<double>(granule - preSkip) * AInputRate / 48000.0;
}

TStreamDecode DecodeAsStream(const std::string& APathOrUrl, int AChannels, double ASeconds)
{
    const std::string ffmpeg = RequireProgram("ffmpeg");
    const bool url = APathOrUrl.rfind("http://", 0) == 0;
    TTempDir dir;
    const std::string pcm = dir.File("pcm"), errors = dir.File("errors");
    RunCommand(ShellQuote(ffmpeg) + " -nostdin -v error -i " + (url ? ShellQuote(APathOrUrl) : "pipe:0") +
               (ASeconds > 0 ? " -t " + std::to_string(ASeconds) : "") +
               " -af asetpts=N/SR/TB -ac " + std::to_string(AChannels) + " -f f32le " + ShellQuote(pcm) +
               " 2>" + ShellQuote(errors) + (url ? "" : " <" + ShellQuote(APathOrUrl)));
    TStreamDecode result;
    result.Errors = ReadTextFile(errors);
    const std::string raw = ReadTextFile(pcm);
    result.Pcm.resize(raw.size() / sizeof(float));
    std::memcpy(result.Pcm.data(), raw.data(), result.Pcm.size() * sizeof(float));
    return result;
}
