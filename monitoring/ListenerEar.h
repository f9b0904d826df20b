#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "monitoring/Alarm.h"
#include "monitoring/ListenerFetch.h"
#include "monitoring/ProgrammeLevel.h"
#include "monitoring/StreamDecoder.h"
#include "settings/EncoderConfig.h"
#include "streaming/OnAirState.h"

// What one listening showed, against what should have been heard.
struct TEarFindings {
    bool NoAudio = false;
    std::string NoAudioWhy;
    bool Silent = false;
    bool TitleDiffers = false;
    std::string HeardTitle;
};

struct TEarExpectations {
    TCodecKind Kind = TCodecKind::None;
    int32_t BitrateKbps = 0;
    // Whether the programme has been sound over what the listening covered.
    bool ProgrammeSound = false;
    float SilencePeak = 0;
    // The title a listener should be given; empty when none is known yet.
    std::string Title;
    bool DecoderMissing = false;
};

TEarFindings JudgeListening(const TListened& AHeard, const TDecodedSample& ADecoded,
                            const TEarExpectations& AExpected);

// Where listeners tune in to AConfig's server: its listening address, else
// the server's own host, port and mount.
std::string ListeningAddress(const TEncoderConfig& AConfig);

// Listens to one server's stream every so often as an ordinary listener
// and raises or clears its alarms. A thread of its own; made after the
// server output has started, destroyed before it is.
class TListenerEar {
public:
    // ASilencePeak: the level (0 to 1) below which the programme is silent.
    TListenerEar(const TEncoderConfig& AServerConfig, int AServer, const TProgrammeLevel& ALevel, float ASilencePeak,
                 std::function<TOnAirState()> AState, std::function<void(const TAlarm&)> AReport);
    ~TListenerEar();
    TListenerEar(const TListenerEar&) = delete;
    TListenerEar& operator=(const TListenerEar&) = delete;

    static constexpr int KPeriodMs = 15000;
    static constexpr int KListenMs = 4000;

private:
    void Run();
    void CheckOnce(const TOnAirState& AState);
    void ListenAndJudge(const TOnAirState& AState);
    void Set(TAlarmKind AKind, bool& ARaised, bool ANow, const std::string& AText);

    const TEncoderConfig FConfig;
    const int FServer;
    const TProgrammeLevel& FLevel;
    const float FSilencePeak;
    const std::function<TOnAirState()> FState;
    const std::function<void(const TAlarm&)> FReport;
    const std::string FAddress;
    THttpTrust FTrust;
    bool FUseTrust = false;
    bool FDecoderMissing = false;
    bool FNoAudio = false, FSilent = false, FTitleDiffers = false;

    std::atomic<bool> FStop{false};
    std::mutex FLock;
    std::condition_variable FWake;
    std::thread FThread;
};
