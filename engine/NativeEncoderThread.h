#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/CaptureSource.h"
#include "capture/HealingCapture.h"
#include "codecs/CodecTable.h"
#include "dsp/AudioProcessor.h"
#include "fallback/FallbackProgramme.h"
#include "fallback/FallbackSwitch.h"
#include "engine/LevelMailbox.h"
#include "monitoring/Alarm.h"
#include "monitoring/AlarmActions.h"
#include "monitoring/ListenerEar.h"
#include "monitoring/ProgrammeLevel.h"
#include "monitoring/SilenceDetector.h"
#include "platform/Thread.h"
#include "settings/EncoderConfig.h"
#include "streaming/RecordingOutput.h"
#include "streaming/ServerOutput.h"

class TNativeEncoderThread;

// Where server AServer (1 to KMaxServers) stands. Server 1's also tells the
// transmission's own troubles: its settings and the capture.
using TEncoderOutputEvent =
    std::function<void(TNativeEncoderThread* Sender, int AServer, const TOutputState& AState)>;
// The local recording's state: AFileName is the file being written (empty
// once none is), AText the line to show, AIsError when the recording
// stopped or lost audio.
using TEncoderRecordEvent = std::function<void(TNativeEncoderThread* Sender, const std::string& AFileName,
                                               const std::string& AText, bool AIsError)>;
// An alarm raised or cleared, or a notice (see TAlarm).
using TEncoderAlarmEvent = std::function<void(TNativeEncoderThread* Sender, const TAlarm& AAlarm)>;

// One transmission: from the start button to the stop. Created suspended
// with its own copy of the settings; the owner sets the events, calls
// Start, and later StopNow, WaitFor (on its own thread, which takes the last
// events) and deletes it. The events are queued for the owner's thread and
// never waited for; the meters' levels are left in Levels() for the owner
// to read when it likes, so a busy owner never costs captured audio. Its thread captures and processes; each output (the server,
// the recording) encodes and writes on a thread of its own, so a server
// that is away never stops the capture, the meters or the recording.
class TNativeEncoderThread : public TThread {
public:
    explicit TNativeEncoderThread(const TEncoderConfig& AConfig);
    ~TNativeEncoderThread() override;

    // Set before Start; any may stay empty.
    TEncoderOutputEvent OnOutput;
    TEncoderRecordEvent OnRecord;
    TEncoderAlarmEvent OnAlarm;

    // The only live path into a running transmission: the band gains and
    // the compressor switch of AConfig, nothing else.
    void UpdateAudioProcessing(const TEncoderConfig& AConfig);
    // Stop flag, then an immediate shutdown of the connection so a blocked
    // send or read returns; the server's output closes it on its way out.
    void StopNow();

    // Pushes ATitle to every server as if the now-playing file said so.
    // Any thread.
    void SetTitle(const std::string& ATitle);
    // Bytes handed to the servers so far, all of them together.
    uint64_t BytesSent() const;
    // The meters' latest levels and the capture's progress. Any thread.
    TLevelMailbox& Levels() { return FLevels; }
    // Whether the capture channel is lost, and what it went through. Any
    // thread.
    const TCaptureHealth& CaptureHealth() const { return FCaptureHealth; }

    // Server AServer's output (1 to KMaxServers, an enabled one): its
    // connection, logins and titles.
    TServerOutput& Server(int AServer = 1);

    // --- capture channel ---
    // Resolves the configured channel (a sound-server device or a PortAudio
    // one), opens and starts its stream; null after posting the reason, or,
    // given AAbsentWhy, with the reason there when the channel may yet come
    // (the sound server not up, the device not plugged in). May replace
    // FConfig.SampleRate with the rate of a loopback partner.
    std::unique_ptr<TCaptureSource> OpenCaptureStream(std::string* AAbsentWhy = nullptr);
    // The same channel again, at the transmission's rate, saying nothing;
    // null with why.
    std::unique_ptr<TCaptureSource> ReopenCaptureStream(std::string& AWhy);
    // The fallback programme's channel, at the transmission's rate; null
    // with why.
    std::unique_ptr<TCaptureSource> OpenFallbackChannel(std::string& AWhy);

    // --- processing of one block ---
    // AOutput is grown when shorter than AFrames * AOutChannels.
    void ProcessAudioBlock(const float* AInput, int AFrames, int AInChannels,
                           std::vector<float>& AOutput, int AOutChannels);
    // Leaves a block shorter than AFrames * AOutChannels alone.
    void ApplyKeepAliveTone(std::vector<float>& AOutput, int AFrames, int AOutChannels,
                            uint64_t ANowTick);

    // --- events: queued for the owner's thread, never waited for ---
    void PostOutput(int AServer, const TOutputState& AState);
    // Server 1's line for what is not a server's: the settings, the capture.
    void PostTransmission(TOutputPhase APhase, TRefusal AReason, const std::string& AText);
    void PostRecord(const std::string& AFileName, const std::string& AText, bool AIsError);
    // Any thread; also hands the alarm to its actions.
    void PostAlarm(const TAlarm& AAlarm);

    const TEncoderConfig& Config() const { return FConfig; }

protected:
    void Execute() override;

    TEncoderConfig FConfig;
    TAudioProcessor FProcessor;
    TLevelMailbox FLevels;

private:
    void Transmit();
    bool CheckSettings();
    // The further servers that pass the checks, each with its first
    // encoder, start beside server 1; the others say why they do not.
    void PrepareExtraServers();
    bool AllServersEnded() const;
    // Hands the rest of the audio to the outputs and waits for them.
    void EndOutputs();
    void CleanUp();
    // The programme's silence, one processed block before the tone;
    // whether the block had sound.
    bool WatchSilence(const std::vector<float>& ASamples, int32_t AFrames);
    // The fallback programme, when one is set and its settings hold.
    void StartFallback();
    std::unique_ptr<TFallbackSource> MakeFallbackSource(const std::atomic<bool>& AStop);
    // Fades the fallback in over a programme silent for long, and out once
    // the programme is back.
    void MixFallback(std::vector<float>& ASamples, int32_t AFrames, bool AProgrammeSound);
    void SendTitle(const std::string& ATitle);
    // One listener's ear per server on air, when asked for.
    void StartEars();
    // The window and the log only: what the actions themselves report.
    void NotifyAlarm(const TAlarm& AAlarm);
    // The capture channel lost (AWhy), or back (empty): told at once; an
    // outage longer than the silence alarm's time raises an alarm.
    void CaptureChanged(const std::string& AWhy);
    void WatchCapture();

    std::unique_ptr<TServerOutput> FServer;
    // Made with the worker, never changed after: a stop may walk them.
    struct TExtraServer {
        int Number;
        std::unique_ptr<TServerOutput> Output;
        bool Started = false;
    };
    std::vector<TExtraServer> FExtraServers;
    std::unique_ptr<TRecordingOutput> FRecording;
    std::unique_ptr<TCaptureSource> FCapture;
    TCaptureHealth FCaptureHealth;
    uint64_t FCaptureLostTick = 0; // 0 while the channel delivers
    std::string FCaptureLostWhy;
    bool FCaptureAlarmRaised = false;
    int FCaptureChannels = 0;
    int FOutChannels = 2;
    int32_t FFramesPerRead = KDefaultFramesPerBlock;
    std::vector<float> FCaptureBuffer;

    std::unique_ptr<TFallbackProgramme> FFallback;
    std::unique_ptr<TFallbackSwitch> FFallbackSwitch;
    std::vector<float> FFallbackBuffer;
    TCaptureHealth FFallbackChannelHealth;
    // The programme's own title, held back while the fallback's is on air.
    std::mutex FTitleLock;
    std::string FProgrammeTitle;
    bool FFallbackTitled = false;

    TSilenceDetector FSilence;
    TProgrammeLevel FProgrammeLevel;
    std::unique_ptr<TAlarmActions> FActions;
    std::vector<std::unique_ptr<TListenerEar>> FEars;
};
