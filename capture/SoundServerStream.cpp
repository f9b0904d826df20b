#include "capture/SoundServerStream.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/stream.h>

#include "capture/SoundServerConnection.h"

namespace {

using TClock = TSoundServerConnection::TClock;

constexpr auto KOpenWait = std::chrono::seconds(3);
// A running source always delivers, silence included; this long without a
// byte means the server or the device is gone. PulseAudio's null sinks
// hold an idle monitor's first fragment for 2 s.
constexpr auto KStallWait = std::chrono::seconds(5);

constexpr uint32_t KBlocksQueued = 4;
// A nap never hides a removed device for long.
constexpr double KLongestNap = 0.1;
const char* const KServerDown = "servidor de som indispon\xC3\xADvel";

std::string ServerErrorText(int AError)
{
    return std::string("servidor de som: ") + pa_strerror(AError);
}

std::string OpenFailureText(int AError)
{
    return AError == PA_ERR_NOENTITY ? "dispositivo n\xC3\xA3o encontrado no servidor de som"
                                     : ServerErrorText(AError);
}

std::string ReadFailureText(int AError)
{
    if (AError == PA_ERR_KILLED || AError == PA_ERR_NOENTITY)
        return "o dispositivo foi removido do servidor de som.";
    if (AError == PA_ERR_CONNECTIONTERMINATED)
        return "o servidor de som foi encerrado.";
    return ServerErrorText(AError);
}

void OnSourceInfo(pa_context*, const pa_source_info*, int AEol, void* AResult)
{
    // A missing source ends the list at once with an error (AEol < 0).
    int& result = *static_cast<int*>(AResult);
    if (AEol < 0)
        result = -1;
    else if (result == 0)
        result = 1;
}

// Capture through libpulse's stream API rather than its simple one: the
// simple one cannot ask for PA_STREAM_DONT_MOVE, and both servers then move
// a capture whose device goes away to another device without a word (and
// PipeWire opens any unknown name on the default source), and it waits on
// the server with no deadline.
class TSoundServerCapture : public TCaptureSource {
public:
    ~TSoundServerCapture() override
    {
        if (FStream) {
            pa_stream_disconnect(FStream);
            pa_stream_unref(FStream);
        }
    }

    // Empty when open, else the reason.
    std::string Open(const std::string& ASourceName, int32_t ASampleRate, int AChannels,
                     int AFramesPerBlock)
    {
        pa_sample_spec sampleFormat{};
        sampleFormat.format = PA_SAMPLE_FLOAT32NE;
        sampleFormat.rate = static_cast<uint32_t>(std::max<int32_t>(ASampleRate, 0));
        sampleFormat.channels = static_cast<uint8_t>(std::clamp(AChannels, 0, 255));
        if (AChannels != sampleFormat.channels || !pa_sample_spec_valid(&sampleFormat) || AFramesPerBlock <= 0)
            return ServerErrorText(PA_ERR_INVALID);
        pa_channel_map map;
        pa_channel_map_init_extend(&map, sampleFormat.channels, PA_CHANNEL_MAP_DEFAULT);

        const auto deadline = TClock::now() + KOpenWait;
        if (!FServer.Connect(deadline))
            return KServerDown;
        pa_context* ctx = FServer.Context();
        int found = 0;
        pa_operation* lookup =
            pa_context_get_source_info_by_name(ctx, ASourceName.c_str(), OnSourceInfo, &found);
        if (!lookup)
            return OpenFailureText(FServer.Error());
        const bool answered = FServer.RunUntil(
            [lookup] { return pa_operation_get_state(lookup) != PA_OPERATION_RUNNING; }, deadline);
        if (!answered)
            pa_operation_cancel(lookup); // its callback must not outlive found
        pa_operation_unref(lookup);
        if (!answered)
            return KServerDown;
        if (found != 1)
            return OpenFailureText(PA_ERR_NOENTITY);

        FStream = pa_stream_new(ctx, "Captura", &sampleFormat, &map);
        if (!FStream)
            return OpenFailureText(FServer.Error());
        pa_buffer_attr attr;
        attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
        // One fragment a block: the server wakes the reader about once per block.
        attr.fragsize = static_cast<uint32_t>(pa_frame_size(&sampleFormat) * AFramesPerBlock);
        // While a login runs nobody reads: a few blocks of slack, not the
        // server's seconds, or the outage would go on air late and stale.
        attr.maxlength = attr.fragsize * KBlocksQueued;
        // Kept as they change: asking the library each time costs a system
        // call (its check for a fork), several times a fragment.
        pa_stream_set_state_callback(
            FStream,
            [](pa_stream* AStream, void* ASelf) {
                static_cast<TSoundServerCapture*>(ASelf)->FState = pa_stream_get_state(AStream);
            },
            this);
        pa_stream_set_read_callback(
            FStream, [](pa_stream*, size_t, void* ASelf) { static_cast<TSoundServerCapture*>(ASelf)->FArrived = true; },
            this);
        if (pa_stream_connect_record(FStream, ASourceName.c_str(), &attr,
                                     static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE |
                                                                    PA_STREAM_ADJUST_LATENCY)) < 0)
            return OpenFailureText(FServer.Error());
        if (!FServer.RunUntil([this] { return FState != PA_STREAM_CREATING; }, deadline))
            return FServer.Failed() ? OpenFailureText(FServer.Error()) : KServerDown;
        if (FState != PA_STREAM_READY)
            return OpenFailureText(FServer.Error());
        FChannels = sampleFormat.channels;
        FBytesPerSecond = static_cast<double>(pa_bytes_per_second(&sampleFormat));
        FHeldBytes = attr.maxlength;
        return {};
    }

    int Channels() const override { return FChannels; }
    uint64_t Overruns() const override { return FOverruns; }

    bool ReadBlock(float* ABuffer, int AFrames, std::string& AError) override
    {
        auto* out = reinterpret_cast<char*>(ABuffer);
        const size_t wanted = static_cast<size_t>(std::max(AFrames, 0)) * FChannels * sizeof(float);
        size_t have = TakePending(out, wanted);
        auto lastData = TClock::now();
        // A record stream is never told of the audio dropped while nobody
        // read: the reader away for longer than the stream holds, or the
        // stream found full, means some was.
        const bool late = FLastRead != TClock::time_point{} &&
                          std::chrono::duration<double>(lastData - FLastRead).count() * FBytesPerSecond > FHeldBytes;
        bool full = false;
        bool napped = false;
        // How full the stream is, asked when it is fullest: at the first
        // fragment and the first after the nap.
        bool askFull = true;
        while (have < wanted) {
            const void* data = nullptr;
            size_t size = 0;
            if (FState != PA_STREAM_READY || pa_stream_peek(FStream, &data, &size) < 0)
                return Fail(ReadFailureText(FServer.Error()), AError);
            if (size == 0) {
                FArrived = false;
                // The server sends its own small chunks, several a block
                // whatever the fragment size asked: sleeping for what is
                // missing and taking them all at once saves a wake-up each.
                // Once per block only: the chunks that came meanwhile are
                // taken one by one, and a nap for each would fall behind.
                if (!napped) {
                    WaitForMissing(wanted - have);
                    askFull = true;
                }
                napped = true;
                const bool woke =
                    FServer.RunUntil([this] { return FState != PA_STREAM_READY || FArrived; }, lastData + KStallWait);
                if (!woke && !FServer.Failed())
                    return Fail("o servidor de som parou de enviar \xC3\xA1udio.", AError);
                continue;
            }
            const size_t take = std::min(size, wanted - have);
            // A hole in the stream (no data pointer) is silence.
            if (data)
                std::memcpy(out + have, data, take);
            else
                std::memset(out + have, 0, take);
            if (take < size) {
                const char* rest = data ? static_cast<const char*>(data) + take : nullptr;
                if (rest)
                    FPending.assign(rest, rest + (size - take));
                else
                    FPending.assign(size - take, 0);
                FPendingAt = 0;
            }
            if (askFull)
                full = full || pa_stream_readable_size(FStream) >= FHeldBytes;
            askFull = false;
            pa_stream_drop(FStream);
            have += take;
            lastData = TClock::now();
        }
        FOverruns += (late || full) ? 1 : 0;
        FLastRead = TClock::now();
        return true;
    }

private:
    void WaitForMissing(size_t AMissingBytes)
    {
        if (FBytesPerSecond <= 0)
            return;
        const double seconds = static_cast<double>(AMissingBytes) / FBytesPerSecond;
        std::this_thread::sleep_for(std::chrono::duration<double>(std::clamp(seconds, 0.0, KLongestNap)));
    }

    // Bytes of the last fragment that did not fit the previous block.
    size_t TakePending(char* AOut, size_t AWanted)
    {
        const size_t take = std::min(AWanted, FPending.size() - FPendingAt);
        if (take == 0)
            return 0; // an empty vector's data() may be null, which memcpy may not take
        std::memcpy(AOut, FPending.data() + FPendingAt, take);
        FPendingAt += take;
        if (FPendingAt == FPending.size()) {
            FPending.clear();
            FPendingAt = 0;
        }
        return take;
    }

    static bool Fail(const std::string& AReason, std::string& AError)
    {
        AError = AReason;
        return false;
    }

    TSoundServerConnection FServer;
    pa_stream* FStream = nullptr;
    pa_stream_state_t FState = PA_STREAM_UNCONNECTED;
    // Data came since the stream was last found empty.
    bool FArrived = false;
    int FChannels = 0;
    double FBytesPerSecond = 0;
    std::vector<char> FPending;
    size_t FPendingAt = 0;
    size_t FHeldBytes = 0;
    TClock::time_point FLastRead{};
    uint64_t FOverruns = 0;
};

} // namespace

std::unique_ptr<TCaptureSource> OpenSoundServerCapture(const std::string& ASourceName,
                                                       int32_t ASampleRate, int AChannels,
                                                       int AFramesPerBlock, std::string& AError)
{
    auto capture = std::make_unique<TSoundServerCapture>();
    const std::string reason = capture->Open(ASourceName, ASampleRate, AChannels, AFramesPerBlock);
    if (!reason.empty()) {
        AError = "N\xC3\xA3o abriu o canal selecionado: " + reason;
        return nullptr;
    }
    return capture;
}
