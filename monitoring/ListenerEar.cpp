#include "monitoring/ListenerEar.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

#include "net/HttpGet.h"
#include "net/WireText.h"
#include "platform/Text.h"
#include "platform/Tick.h"
#include "services/ListenerStats.h"
#include "services/OwnListeners.h"
#include "services/ServerKind.h"
#include "platform/Thread.h"

namespace {

// A fresh login needs a moment before a listener finds the mount.
constexpr uint64_t KSettleMs = 5000;
// A server's burst to a new listener holds audio from some seconds back.
constexpr uint64_t KLookBackMs = 15000;
constexpr uint64_t KStartGraceMs = 2000;
constexpr int KServerLetGoMs = 1500;
// A title sent this recently may not have reached the listeners yet.
constexpr uint64_t KTitleGraceMs = 10000;
// Lossy coding and a quiet passage stay well above this below the alarm's
// threshold; the keep-alive tone and digital silence fall under it.
constexpr float KSilenceMargin = 0.316f; // -10 dB

bool Icy(TCodecKind AKind)
{
    return AKind == TCodecKind::Mp3 || AKind == TCodecKind::AacPlus;
}

std::string Quoted(const std::string& AText)
{
    return "\"" + AText + "\"";
}

std::string FormatFixed(double AValue, int ADecimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", ADecimals, AValue);
    return text;
}

const char* ClearedText(TAlarmKind AKind)
{
    switch (AKind) {
    case TAlarmKind::NoAudio:
        return "Ouvintes voltaram a receber audio.";
    case TAlarmKind::SilentStream:
        return "Ouvintes voltaram a ouvir o programa.";
    case TAlarmKind::TitleDiffers:
        return "Titulo no servidor confere.";
    default:
        return "";
    }
}

} // namespace

TEarFindings JudgeListening(const TListened& AHeard, const TDecodedSample& ADecoded,
                            const TEarExpectations& AExpected)
{
    TEarFindings f;
    const double expectedBytes = AExpected.BitrateKbps * 1000.0 / 8.0 * AHeard.Seconds;
    if (!AHeard.Error.empty()) {
        f.NoAudio = true;
        f.NoAudioWhy = AHeard.Error;
    } else if (AHeard.Audio.empty()) {
        f.NoAudio = true;
        f.NoAudioWhy = "nenhum byte em " + FormatFixed(AHeard.Seconds, 1) + " s";
    } else if (AExpected.Kind != TCodecKind::OggFlac && AExpected.BitrateKbps > 0 &&
               AHeard.Audio.size() < expectedBytes / 4) {
        f.NoAudio = true;
        f.NoAudioWhy = std::to_string(AHeard.Audio.size() * 8 / 1000) + " kbit em " +
                       FormatFixed(AHeard.Seconds, 1) + " s";
    } else if (!AExpected.DecoderMissing && ADecoded.Seconds < AHeard.Seconds / 2) {
        f.NoAudio = true;
        f.NoAudioWhy = ADecoded.Error.empty() ? FormatFixed(ADecoded.Seconds, 1) + " s de audio em " +
                                                    FormatFixed(AHeard.Seconds, 1) + " s"
                                              : ADecoded.Error;
    }
    if (f.NoAudio)
        return f;
    f.Silent = !AExpected.DecoderMissing && AExpected.ProgrammeSound &&
               ADecoded.Peak < AExpected.SilencePeak * KSilenceMargin;
    const bool titleHeard = Icy(AExpected.Kind) ? AHeard.HasIcyTitle : !AExpected.DecoderMissing;
    f.HeardTitle = Icy(AExpected.Kind) ? AHeard.IcyTitle : ADecoded.Title;
    if (titleHeard && !AExpected.Title.empty()) {
        const std::string heard = Trim(f.HeardTitle);
        f.TitleDiffers = heard != Trim(AExpected.Title) && heard != Trim(CleanSongTitle(AExpected.Title));
    }
    return f;
}

std::string ListeningAddress(const TEncoderConfig& AConfig)
{
    if (!Trim(AConfig.ListenUrl).empty())
        return Trim(AConfig.ListenUrl);
    return std::string(AConfig.UseTls ? "https" : "http") + "://" + HostAndPort(Trim(AConfig.Host), AConfig.Port) +
           ServerKindOf(AConfig).ListeningPath(AConfig);
}

TListenerEar::TListenerEar(const TEncoderConfig& AServerConfig, int AServer, const TProgrammeLevel& ALevel,
                           float ASilencePeak,
                           std::function<TOnAirState()> AState, std::function<void(const TAlarm&)> AReport)
    : FConfig(AServerConfig), FServer(AServer), FLevel(ALevel), FSilencePeak(ASilencePeak), FState(std::move(AState)),
      FReport(std::move(AReport)), FAddress(ListeningAddress(AServerConfig))
{
    // The server's own address is trusted as the server is; another
    // address by the system's CA store alone.
    if (Trim(FConfig.ListenUrl).empty() && FConfig.UseTls) {
        FTrust.Host = Trim(FConfig.Host);
        FUseTrust = true;
    }
    if (!IsWebAddress(FAddress)) {
        // Told once, at the start, rather than as a deaf listener at every check.
        FReport({FServer, TAlarmKind::CheckOff, false,
                 "Verificacao dos ouvintes desligada: o endereco de escuta deve comecar com http:// ou https:// (" +
                     ShownUrl(FAddress) + ")."});
        return;
    }
    std::string why;
    if (!CanDecode(CodecKindFromId(FConfig.Codec), why)) {
        FDecoderMissing = true;
        FReport({FServer, TAlarmKind::CheckOff, false,
                 "Verificacao do som dos ouvintes desligada: " + why + "."});
    }
    FThread = std::thread([this] { Run(); });
}

TListenerEar::~TListenerEar()
{
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FStop.store(true);
    }
    FWake.notify_all();
    if (FThread.joinable())
        FThread.join();
}

void TListenerEar::Run()
{
    NameThisThread("ear " + std::to_string(FServer));
    auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(KSettleMs);
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(FLock);
            if (FWake.wait_until(lock, next, [this] { return FStop.load(); }))
                return;
        }
        const TOnAirState state = FState();
        // A server away is its output's news; the ear waits for a login
        // that has settled.
        if (state.LoggedIn && GetTickCount64() - state.LoginTick >= KSettleMs) {
            next = std::chrono::steady_clock::now() + std::chrono::milliseconds(KPeriodMs);
            CheckOnce(state);
        } else {
            next = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
        }
    }
}

void TListenerEar::CheckOnce(const TOnAirState& AState)
{
    // At the server's own address the check is one of its listeners.
    std::optional<TOwnListener> own;
    if (Trim(FConfig.ListenUrl).empty())
        own.emplace(ExtractHost(FConfig.Host), FConfig.Port, ServerKindOf(FConfig).ListeningPath(FConfig));
    ListenAndJudge(AState);
    // The server takes a moment to let a closed listener go.
    std::unique_lock<std::mutex> lock(FLock);
    FWake.wait_for(lock, std::chrono::milliseconds(KServerLetGoMs), [this] { return FStop.load(); });
}

void TListenerEar::ListenAndJudge(const TOnAirState& AState)
{
    const uint64_t start = GetTickCount64();
    const TCodecKind kind = CodecKindFromId(FConfig.Codec);
    FTrust.PinnedFingerprint = AState.PinnedFingerprint;
    const TListened heard = ListenTo(FAddress, Icy(kind), KListenMs, FStop, FUseTrust ? &FTrust : nullptr,
                                     ListeningCap(FConfig.Bitrate, KListenMs));
    if (FStop.load())
        return;
    TDecodedSample decoded;
    if (!FDecoderMissing && heard.Error.empty())
        decoded = DecodeStreamSample(kind, heard.Audio);

    TEarExpectations expected;
    expected.Kind = kind;
    expected.BitrateKbps = FConfig.Bitrate;
    // The server has none of this login's audio from before it began; a
    // programme that starts with the transmission has a moment's grace.
    const uint64_t from = std::max(AState.LoginTick + KStartGraceMs, start > KLookBackMs ? start - KLookBackMs : 0);
    expected.ProgrammeSound = FLevel.SoundSince(from);
    expected.SilencePeak = FSilencePeak;
    expected.DecoderMissing = FDecoderMissing;
    // Only a title the server has had time to pass on, and still the
    // current one once the listening is over.
    const TOnAirState after = FState();
    if (AState.TitleTick + KTitleGraceMs <= start && after.TitleTick == AState.TitleTick)
        expected.Title = AState.Title;
    const TEarFindings f = JudgeListening(heard, decoded, expected);

    Set(TAlarmKind::NoAudio, FNoAudio, f.NoAudio,
        "Ouvintes nao recebem audio em " + ShownUrl(FAddress) + " (" + f.NoAudioWhy + ").");
    if (f.NoAudio)
        return;
    Set(TAlarmKind::SilentStream, FSilent, f.Silent, "Ouvintes recebem silencio em " + ShownUrl(FAddress) + ".");
    if (!expected.Title.empty())
        Set(TAlarmKind::TitleDiffers, FTitleDiffers, f.TitleDiffers,
            "Titulo no servidor difere: " + Quoted(f.HeardTitle) + " em vez de " + Quoted(expected.Title) + ".");
}

void TListenerEar::Set(TAlarmKind AKind, bool& ARaised, bool ANow, const std::string& AText)
{
    if (ANow == ARaised)
        return;
    ARaised = ANow;
    const std::string text = ANow ? AText : ClearedText(AKind);
    FReport({FServer, AKind, ANow, text});
}
