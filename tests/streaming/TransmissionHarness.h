#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/NativeEncoderThread.h"
#include "settings/EncoderConfig.h"
#include "tests/support/TempDir.h"

// What the transmission tests need around a streaming worker: the shared
// audio rig, a driver that pumps the worker's hand-offs and records its
// statuses, a listener on a mount, and ffprobe/ffmpeg as the judges.

// PortAudio index of the rig's monitor input (the rig is created on first
// use, before any Pa_Initialize of the process).
int RigMonitorDevice();
// Starts the rig's tone (sine into the null sink, heard on the monitor).
void PlayRigTone(double AFreqHz, double ASeconds);

// Settings for streaming to 127.0.0.1:APort, with no capture channel yet.
TEncoderConfig ServerConfig(const std::string& ACodec, int APort, const std::string& AServerType = "icecast");
// The same, streaming the rig's monitor.
// The settings the dialog would store for the loopback of the sound
// server's sink ASink, streaming MP3 to icecast2 on APort.
TEncoderConfig SoundServerLoopbackConfig(const std::string& ASink, int APort);
TEncoderConfig StreamConfig(const std::string& ACodec, int APort, const std::string& AServerType = "icecast");
// Points AConfig's now-playing file at one in ADir holding ATitle.
void UseNowPlaying(TEncoderConfig& AConfig, const TTempDir& ADir, const std::string& ATitle);

struct TStatus {
    std::string Text;
    bool IsError = false;
    uint64_t Tick = 0;
    TOutputState State;
};

struct TRecordEventSeen {
    std::string FileName;
    std::string Text;
    bool IsError = false;
    uint64_t Tick = 0;
};

struct TAlarmSeen {
    TAlarm Alarm;
    uint64_t Tick = 0;
};

// Owns one worker from Start to its deletion; every wait pumps the
// hand-offs, as the window does, and a reader of its own watches the
// worker's levels every 2 ms, as the window's meters do.
class TWorkerRun {
public:
    explicit TWorkerRun(const TEncoderConfig& AConfig);
    ~TWorkerRun();

    TNativeEncoderThread& Worker() { return *FWorker; }
    const std::vector<TStatus>& Statuses() const { return FStatuses; }
    std::string StatusText() const; // all statuses, one per line, for messages
    // Blocks processed so far.
    int LevelEvents() const { return FLevels.load(); }
    // When each block's levels were seen.
    std::vector<uint64_t> LevelTicks() const;
    // The longest time between level events that arrived from AFrom to ATo.
    uint64_t LongestLevelGap(uint64_t AFrom, uint64_t ATo) const;
    const std::vector<TRecordEventSeen>& RecordEvents() const { return FRecords; }
    const std::vector<TAlarmSeen>& Alarms() const { return FAlarms; }
    std::string AlarmText() const; // every alarm event, one per line, for messages
    // What a further server (2 to 4) said, as Statuses() holds server 1's.
    const std::vector<TStatus>& ServerStatuses(int AServer) const { return FServerStatuses[AServer]; }
    std::string ServerStatusText(int AServer) const;
    int WaitForServerStatus(int AServer, const std::string& AText, int ATimeoutMs, size_t AFrom = 0);

    void PumpFor(int AMs);
    // The first alarm event of AKind from AFrom on, or null.
    const TAlarmSeen* FindAlarm(TAlarmKind AKind, size_t AFrom = 0) const;
    bool PumpUntilAlarm(TAlarmKind AKind, int ATimeoutMs, size_t AFrom = 0);
    // Index of the first status equal to AText from AFrom on, or -1 after ATimeoutMs.
    int WaitForStatus(const std::string& AText, int ATimeoutMs, size_t AFrom = 0);
    // Pumps until ACount more blocks have been processed (level events).
    bool WaitForBlocks(int ACount, int ATimeoutMs);
    // Pumps until the thread has finished by itself; false on time-out.
    bool WaitFinished(int ATimeoutMs);
    // StopNow, then pumps until finished; returns the milliseconds it took.
    uint64_t Stop();

private:
    std::unique_ptr<TNativeEncoderThread> FWorker;
    std::vector<TStatus> FStatuses;
    std::vector<TRecordEventSeen> FRecords;
    std::vector<TAlarmSeen> FAlarms;
    std::vector<TStatus> FServerStatuses[KMaxServers + 1];
    void ReadLevels();

    mutable std::mutex FTicksLock;
    std::vector<uint64_t> FLevelTicks;
    std::atomic<int> FLevels{0};
    std::atomic<bool> FReading{true};
    std::thread FLevelReader;
};

class TIcecastServer;
// Pumps ARun while polling the server's status page for ATitle.
bool WaitForTitle(TWorkerRun& ARun, const TIcecastServer& AServer, const std::string& ATitle, int ATimeoutMs);

// Reads a mount as a listener for a while on its own thread, keeping the
// body of the answer.
class TStreamCapture {
public:
    TStreamCapture(int APort, const std::string& AMount, int AMs);
    ~TStreamCapture();
    // Pumps ARun while waiting; returns the captured body.
    std::string Finish(TWorkerRun& ARun);
    // Waits without a worker to pump; returns the captured body.
    std::string Wait();
    // Bytes that arrived from AFrom to ATo (ticks); valid after Finish.
    uint64_t BytesBetween(uint64_t AFrom, uint64_t ATo) const;

private:
    std::string FBody;
    // (tick, bytes received so far), one per read.
    std::vector<std::pair<uint64_t, size_t>> FArrivals;
    std::atomic<bool> FDone{false};
    std::thread FThread;
};

struct TDecodedStream {
    std::string Codec;   // ffprobe codec_name
    std::string Profile; // ffprobe profile
    int Channels = 0;
    int SampleRate = 0;
    std::vector<int16_t> Mono; // decoded as mono 44100 Hz
};
// Writes ABody to a file and asks ffprobe and ffmpeg about it.
TDecodedStream DecodeStream(const std::string& ABody);

// Goertzel power at AFreq over the samples, and the smallest ratio of that
// power to the power at a set of other frequencies.
double ToneDominance(const std::vector<int16_t>& AMono, double AFreq);

// The first second, from the second one on, after which two seconds hold
// no dominant tone at AFreq; -1 when it runs through. The first second is
// the tone player's own start-up.
int FirstSecondWithoutTone(const std::vector<int16_t>& AMono, double AFreq);
