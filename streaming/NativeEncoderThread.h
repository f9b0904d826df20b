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
#include "codecs/CodecTable.h"
#include "codecs/Lame.h"
#include "dsp/AudioProcessor.h"
#include "platform/Thread.h"
#include "settings/EncoderConfig.h"
#include "streaming/SendProgress.h"
#include "streaming/TlsSession.h"

class TNativeEncoderThread;

using TEncoderStatusEvent =
    std::function<void(TNativeEncoderThread* Sender, const std::string& Text, bool IsError)>;
using TEncoderLevelEvent = std::function<void(TNativeEncoderThread* Sender, double L, double R,
                                              double LowBand, double MidBand, double HighBand)>;

// One transmission: from the start button to the stop. Created suspended
// with its own copy of the settings; the owner sets the two events, calls
// Start, and later StopNow, pumps the hand-offs until Finished, WaitFor and
// deletes it.
class TNativeEncoderThread : public TThread {
public:
    explicit TNativeEncoderThread(const TEncoderConfig& AConfig);
    ~TNativeEncoderThread() override;

    // Set before Start; either may stay empty.
    TEncoderStatusEvent OnStatus;
    TEncoderLevelEvent OnLevel;

    // The only live path into a running transmission: the band gains and
    // the compressor switch of AConfig, nothing else.
    void UpdateAudioProcessing(const TEncoderConfig& AConfig);
    // Stop flag, then an immediate shutdown of the connection so a blocked
    // send or read returns; the worker closes it on its way out.
    void StopNow();

    // --- connection and source logins ---
    bool EnsureWinSock();
    bool ConnectToServer(int32_t APort);
    // The TLS handshake on the connected AFd; false after posting why.
    bool StartTls(int AFd, const std::string& AHost);
    bool SendBytes(const std::string& ABytes);
    std::string ReadServerAnswer(int ATimeoutMs);
    void CloseConnection();
    // Wakes a send or read blocked on the connection without closing it:
    // only the worker closes, so it never uses a number reused elsewhere.
    void ShutdownConnection();
    bool IcecastHandshake(const std::string& AContentType);
    bool ShoutcastHandshake(const std::string& AContentType);
    bool ConnectAndHandshake(const std::string& AContentType);

    // --- capture channel ---
    // Resolves the configured channel (a sound-server device or a PortAudio
    // one), opens and starts its stream; null after posting the reason. May
    // replace FConfig.SampleRate with the rate of a loopback partner.
    std::unique_ptr<TCaptureSource> OpenCaptureStream();
    // True when sent bytes have stopped leaving the machine for so long
    // that the server is gone, though no send has failed yet.
    bool ConnectionStalled();
    // connect() that a stop ends within a slice; 0 or the errno.
    int ConnectWatchingStop(int AFd, const struct sockaddr_in& AAddr);

    // --- processing of one block ---
    // AOutput is grown when shorter than AFrames * AOutChannels.
    void ProcessAudioBlock(const float* AInput, int AFrames, int AInChannels,
                           std::vector<float>& AOutput, int AOutChannels);
    // Leaves a block shorter than AFrames * AOutChannels alone.
    void ApplyKeepAliveTone(std::vector<float>& AOutput, int AFrames, int AOutChannels,
                            uint64_t ANowTick);

    // --- events: synchronous hand-off to the user-interface thread ---
    void PostStatus(const std::string& AText, bool AIsError);
    void PostLevel(double AL, double AR, double ALow, double AMid, double AHigh);

    const TEncoderConfig& Config() const { return FConfig; }

protected:
    void Execute() override;

    TEncoderConfig FConfig;
    double FLastL = 0, FLastR = 0, FLastLow = 0, FLastMid = 0, FLastHigh = 0;
    std::string FLastStatus;
    bool FLastError = false;
    // Taken over with an atomic exchange so a handle is closed exactly once.
    std::atomic<int64_t> FSocket{-1};
    // Held only to shut down or close the handle, never across a send.
    std::mutex FSocketLock;
    // The TLS layer over FSocket when the server wants it; made and freed
    // by the worker alone, like the handle, so a stop never meets it freed.
    std::unique_ptr<TTlsSession> FTls;
    TAudioProcessor FProcessor;
    bool FWSAStarted = false;

    // --- transmission-loop state and steps ---
    // A new encoder for this login (the previous one is destroyed first).
    bool OpenEncoder();
    // The Ogg codecs' stream headers, right after each login.
    bool SendHeaderBytes();
    // Logs in again until it works or the stop flag is set.
    bool Reconnect(const std::string& AReason);
    void FreeEncoders();
    void Transmit();
    bool CheckSettings();
    void SizeBuffers();
    void CheckTitle();
    // False when the transmission must end.
    bool EncodeAndSendBlock();
    void FinishEncoder();
    void CleanUp();

    // Why the last login attempt failed, for the retry message.
    std::string FLastRefusal;
    TSendProgress FSendProgress;
    uint64_t FLoginTick = 0;
    // Login attempts of the running reconnection; kept when a fresh login
    // drops at once, so such a server is retried at the normal pace.
    int FAttempt = 0;

    // After every login: the clock for a drop at once, and the title.
    void OnLoggedIn();
    void PublishTitle();
    void PostRetry();
    // Three seconds in 100 ms pauses; false as soon as the stop flag is set.
    bool RetryPause();

    const TCodecRow* FCodecRow = nullptr;
    int FCaptureChannels = 0;
    int FOutChannels = 2;
    int32_t FFramesPerRead = KDefaultFramesPerBlock;
    std::unique_ptr<TCaptureSource> FCapture;
    std::unique_ptr<TAudioEncoder> FEncoder;
    lame_global_flags* FMp3 = nullptr;
    std::string FHeaderBytes;
    std::string FEncodedBytes;
    std::string FEncoderError;
    std::vector<float> FCaptureBuffer;
    std::vector<float> FOutputBuffer;
    std::vector<unsigned char> FMp3Buffer;
    std::string FSongTitle;
    uint64_t FLastTitleTick = 0;
};
