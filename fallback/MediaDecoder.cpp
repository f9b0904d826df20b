#include "fallback/MediaDecoder.h"

#include <algorithm>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

std::string ErrorText(int ACode)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(ACode, text, sizeof text);
    return text;
}

} // namespace

TMediaDecoder::TMediaDecoder(int32_t ASampleRate, int AChannels, const std::atomic<bool>& AStop)
    : FSampleRate(ASampleRate), FChannels(AChannels), FStop(AStop)
{
    // What goes wrong is told to the operator in plain words; the library's
    // own lines would only fill the log.
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

TMediaDecoder::~TMediaDecoder()
{
    Close();
}

int TMediaDecoder::Interrupted(void* AOpaque)
{
    return static_cast<TMediaDecoder*>(AOpaque)->FStop.load() ? 1 : 0;
}

void TMediaDecoder::Close()
{
    av_frame_free(&FFrame);
    av_packet_free(&FPacket);
    swr_free(&FResampler);
    avcodec_free_context(&FCodec);
    avformat_close_input(&FFormat);
    FStream = -1;
    FDraining = false;
}

bool TMediaDecoder::Open(const std::string& AWhere, int ANetworkTimeoutSeconds, std::string& AWhy)
{
    Close();
    FFormat = avformat_alloc_context();
    if (!FFormat) {
        AWhy = "sem memoria";
        return false;
    }
    FFormat->interrupt_callback = {&TMediaDecoder::Interrupted, this};
    AVDictionary* options = nullptr;
    if (ANetworkTimeoutSeconds > 0) {
        // A stalled stream fails instead of holding the fallback silent.
        av_dict_set_int(&options, "rw_timeout", int64_t{ANetworkTimeoutSeconds} * 1000000, 0);
        av_dict_set(&options, "user_agent", "TAVIX Encoder", 0);
    }
    const int opened = avformat_open_input(&FFormat, AWhere.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        // avformat_open_input frees the context when it fails.
        FFormat = nullptr;
        AWhy = ErrorText(opened);
        return false;
    }
    if (avformat_find_stream_info(FFormat, nullptr) < 0) {
        Close();
        AWhy = "formato nao reconhecido";
        return false;
    }
    const AVCodec* codec = nullptr;
    FStream = av_find_best_stream(FFormat, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (FStream < 0 || !codec) {
        Close();
        AWhy = "nao tem audio que este programa decodifique";
        return false;
    }
    FCodec = avcodec_alloc_context3(codec);
    FPacket = av_packet_alloc();
    FFrame = av_frame_alloc();
    if (!FCodec || !FPacket || !FFrame ||
        avcodec_parameters_to_context(FCodec, FFormat->streams[FStream]->codecpar) < 0 ||
        avcodec_open2(FCodec, codec, nullptr) < 0) {
        Close();
        AWhy = "o decodificador nao abriu";
        return false;
    }
    return true;
}

bool TMediaDecoder::Convert(const AVFrame* AFrame, std::vector<float>& AOut, std::string& AWhy)
{
    if (!FResampler) {
        AVChannelLayout in{};
        if (AFrame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_copy(&in, &AFrame->ch_layout) < 0)
            av_channel_layout_default(&in, AFrame->ch_layout.nb_channels);
        AVChannelLayout out{};
        av_channel_layout_default(&out, FChannels);
        const int made =
            swr_alloc_set_opts2(&FResampler, &out, AV_SAMPLE_FMT_FLT, FSampleRate, &in,
                                static_cast<AVSampleFormat>(AFrame->format), AFrame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&in);
        av_channel_layout_uninit(&out);
        if (made < 0 || swr_init(FResampler) < 0) {
            AWhy = "o formato do audio nao converte";
            return false;
        }
    }
    const int room = swr_get_out_samples(FResampler, AFrame ? AFrame->nb_samples : 0);
    if (room <= 0)
        return true;
    const size_t start = AOut.size();
    AOut.resize(start + static_cast<size_t>(room) * static_cast<size_t>(FChannels));
    uint8_t* target = reinterpret_cast<uint8_t*>(AOut.data() + start);
    const int made = swr_convert(FResampler, &target, room, AFrame ? const_cast<const uint8_t**>(AFrame->extended_data) : nullptr,
                                 AFrame ? AFrame->nb_samples : 0);
    AOut.resize(start + static_cast<size_t>(std::max(made, 0)) * static_cast<size_t>(FChannels));
    return made >= 0;
}

bool TMediaDecoder::Decode(std::vector<float>& AOut, std::string& AWhy)
{
    AWhy.clear();
    if (!FFormat)
        return false;
    const size_t before = AOut.size();
    while (AOut.size() == before) {
        const int received = avcodec_receive_frame(FCodec, FFrame);
        if (received == 0) {
            const bool converted = Convert(FFrame, AOut, AWhy);
            av_frame_unref(FFrame);
            if (!converted) {
                Close();
                return false;
            }
            continue;
        }
        if (received == AVERROR_EOF) {
            // The resampler's last frames, then the end.
            if (FResampler)
                Convert(nullptr, AOut, AWhy);
            Close();
            return AOut.size() > before;
        }
        if (received != AVERROR(EAGAIN)) {
            AWhy = ErrorText(received);
            Close();
            return false;
        }
        if (FDraining) {
            Close();
            return AOut.size() > before;
        }
        const int read = av_read_frame(FFormat, FPacket);
        if (read == AVERROR_EOF) {
            FDraining = true;
            avcodec_send_packet(FCodec, nullptr);
            continue;
        }
        if (read < 0) {
            AWhy = FStop.load() ? "" : ErrorText(read);
            Close();
            return false;
        }
        // A damaged packet is skipped, as a player would.
        if (FPacket->stream_index == FStream)
            (void)avcodec_send_packet(FCodec, FPacket);
        av_packet_unref(FPacket);
    }
    return true;
}
