#include "monitoring/StreamDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

// One library demuxes and decodes all five stream formats (ADTS, MP3 and
// chained Ogg with Vorbis, FLAC or Opus inside), and it is the same on every
// Debian machine whatever the non-free component holds.

namespace {

constexpr int KIoBufferSize = 16384;
// Enough to find a stream's codec in what a listening holds.
constexpr int64_t KProbeBytes = 256 * 1024;
constexpr int64_t KProbeMicroseconds = 2000000;

const char* ContainerName(TCodecKind AKind)
{
    switch (AKind) {
    case TCodecKind::Mp3:
        return "mp3";
    case TCodecKind::AacPlus:
        return "aac";
    case TCodecKind::OggVorbis:
    case TCodecKind::OggFlac:
    case TCodecKind::OggOpus:
        return "ogg";
    case TCodecKind::None:
        break;
    }
    return nullptr;
}

AVCodecID CodecId(TCodecKind AKind)
{
    switch (AKind) {
    case TCodecKind::Mp3:
        return AV_CODEC_ID_MP3;
    case TCodecKind::AacPlus:
        return AV_CODEC_ID_AAC;
    case TCodecKind::OggVorbis:
        return AV_CODEC_ID_VORBIS;
    case TCodecKind::OggFlac:
        return AV_CODEC_ID_FLAC;
    case TCodecKind::OggOpus:
        return AV_CODEC_ID_OPUS;
    case TCodecKind::None:
        break;
    }
    return AV_CODEC_ID_NONE;
}

struct TMemoryReader {
    const std::string* Bytes;
    size_t At = 0;
};

int ReadMemory(void* AOpaque, uint8_t* ABuffer, int ASize)
{
    auto* r = static_cast<TMemoryReader*>(AOpaque);
    const size_t left = r->Bytes->size() - r->At;
    if (left == 0)
        return AVERROR_EOF;
    const size_t n = std::min(left, static_cast<size_t>(ASize));
    std::memcpy(ABuffer, r->Bytes->data() + r->At, n);
    r->At += n;
    return static_cast<int>(n);
}

std::string AvError(int ACode)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(ACode, text, sizeof text);
    return text;
}

float FramePeak(const AVFrame& AFrame)
{
    const int channels = AFrame.ch_layout.nb_channels;
    const auto format = static_cast<AVSampleFormat>(AFrame.format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int planes = planar ? channels : 1;
    const size_t perPlane = static_cast<size_t>(AFrame.nb_samples) * (planar ? 1 : channels);
    float peak = 0;
    for (int p = 0; p < planes; ++p) {
        const uint8_t* data = AFrame.extended_data[p];
        for (size_t i = 0; i < perPlane; ++i) {
            float v = 0;
            switch (av_get_packed_sample_fmt(format)) {
            case AV_SAMPLE_FMT_FLT:
                v = reinterpret_cast<const float*>(data)[i];
                break;
            case AV_SAMPLE_FMT_DBL:
                v = static_cast<float>(reinterpret_cast<const double*>(data)[i]);
                break;
            case AV_SAMPLE_FMT_S16:
                v = reinterpret_cast<const int16_t*>(data)[i] / 32768.0f;
                break;
            case AV_SAMPLE_FMT_S32:
                v = static_cast<float>(reinterpret_cast<const int32_t*>(data)[i] / 2147483648.0);
                break;
            case AV_SAMPLE_FMT_U8:
                v = (data[i] - 128) / 128.0f;
                break;
            default:
                break;
            }
            if (std::isfinite(v))
                peak = std::max(peak, std::fabs(v));
        }
    }
    return std::min(peak, 1.0f);
}

struct TFormatDeleter {
    void operator()(AVFormatContext* AContext) const { avformat_close_input(&AContext); }
};
struct TIoDeleter {
    void operator()(AVIOContext* AContext) const
    {
        av_freep(&AContext->buffer);
        avio_context_free(&AContext);
    }
};
struct TCodecDeleter {
    void operator()(AVCodecContext* AContext) const { avcodec_free_context(&AContext); }
};
struct TPacketDeleter {
    void operator()(AVPacket* APacket) const { av_packet_free(&APacket); }
};
struct TFrameDeleter {
    void operator()(AVFrame* AFrame) const { av_frame_free(&AFrame); }
};

// A chained stream's next comment header would be joined to what is left
// in the stream's tags: take them as they come and start afresh.
void TakeTitle(AVStream& AStream, std::string& ATitle)
{
    const AVDictionaryEntry* e = av_dict_get(AStream.metadata, "title", nullptr, 0);
    if (!e || !e->value)
        return;
    ATitle = e->value;
    av_dict_free(&AStream.metadata);
}

void QuietLibrary()
{
    static std::once_flag once;
    // Its complaints about a damaged frame are a listener's business, not
    // the log's.
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// Takes what the decoder has ready.
void Drain(AVCodecContext& ACodec, AVFrame& AFrame, TDecodedSample& AOut)
{
    while (avcodec_receive_frame(&ACodec, &AFrame) == 0) {
        if (AFrame.sample_rate > 0)
            AOut.Seconds += double(AFrame.nb_samples) / AFrame.sample_rate;
        AOut.Peak = std::max(AOut.Peak, FramePeak(AFrame));
        av_frame_unref(&AFrame);
    }
}

} // namespace

bool CanDecode(TCodecKind AKind, std::string& AWhy)
{
    const char* container = ContainerName(AKind);
    if (!container || !av_find_input_format(container)) {
        AWhy = std::string("leitor do formato ") + (container ? container : "?") + " ausente na libavformat";
        return false;
    }
    if (!avcodec_find_decoder(CodecId(AKind))) {
        AWhy = std::string("decodificador ") + avcodec_get_name(CodecId(AKind)) + " ausente na libavcodec";
        return false;
    }
    AWhy.clear();
    return true;
}

TDecodedSample DecodeStreamSample(TCodecKind AKind, const std::string& ABytes)
{
    QuietLibrary();
    TDecodedSample out;
    std::string why;
    if (!CanDecode(AKind, why)) {
        out.Error = why;
        return out;
    }
    if (ABytes.empty()) {
        out.Error = "nenhum byte";
        return out;
    }
    TMemoryReader reader{&ABytes};
    auto* buffer = static_cast<unsigned char*>(av_malloc(KIoBufferSize));
    std::unique_ptr<AVIOContext, TIoDeleter> io(
        avio_alloc_context(buffer, KIoBufferSize, 0, &reader, ReadMemory, nullptr, nullptr));
    AVFormatContext* raw = avformat_alloc_context();
    if (!io || !raw) {
        if (!io)
            av_free(buffer);
        avformat_free_context(raw);
        out.Error = "sem memoria";
        return out;
    }
    raw->pb = io.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Only the container asked for, looked into briefly: whatever else the
    // bytes claim to be is no stream of ours.
    raw->format_whitelist = av_strdup(ContainerName(AKind));
    raw->probesize = KProbeBytes;
    raw->max_analyze_duration = KProbeMicroseconds;
    const int opened = avformat_open_input(&raw, nullptr, av_find_input_format(ContainerName(AKind)), nullptr);
    if (opened < 0) {
        out.Error = AvError(opened);
        return out;
    }
    std::unique_ptr<AVFormatContext, TFormatDeleter> format(raw);
    avformat_find_stream_info(format.get(), nullptr);
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) {
        out.Error = "nenhum fluxo de audio";
        return out;
    }
    AVStream* stream = format->streams[index];
    // An Ogg stream may announce any codec; only the one sent is decoded.
    if (stream->codecpar->codec_id != CodecId(AKind)) {
        out.Error = std::string("o fluxo traz ") + avcodec_get_name(stream->codecpar->codec_id) + ", nao " +
                    avcodec_get_name(CodecId(AKind));
        return out;
    }
    TakeTitle(*stream, out.Title);
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    std::unique_ptr<AVCodecContext, TCodecDeleter> codec(avcodec_alloc_context3(decoder));
    if (!decoder || !codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0 ||
        avcodec_open2(codec.get(), decoder, nullptr) < 0) {
        out.Error = "o decodificador nao abriu";
        return out;
    }
    std::unique_ptr<AVPacket, TPacketDeleter> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, TFrameDeleter> frame(av_frame_alloc());
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == index) {
            // A damaged packet costs only itself, as in a player.
            if (avcodec_send_packet(codec.get(), packet.get()) == 0)
                Drain(*codec, *frame, out);
            TakeTitle(*format->streams[index], out.Title);
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(codec.get(), nullptr);
    Drain(*codec, *frame, out);
    if (out.Seconds <= 0)
        out.Error = "nada decodificou";
    return out;
}
