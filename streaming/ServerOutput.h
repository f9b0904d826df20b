#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "codecs/AudioEncoder.h"
#include "codecs/CodecTable.h"
#include "net/Connection.h"
#include "net/OutputState.h"
#include "net/ServerAnswer.h"
#include "services/TitleUpdate.h"
#include "settings/EncoderConfig.h"
#include "streaming/EncodeStage.h"
#include "streaming/OnAirState.h"
#include "streaming/PipelineOutput.h"
#include "streaming/SendProgress.h"
#include "streaming/ServerProbe.h"

using TStatusReport = std::function<void(const TOutputState& AState)>;
// A one-off line for the operator (a title the server did not take).
using TNoticeReport = std::function<void(const std::string& AText)>;

// One streaming server as an output of the transmission: its encode (which
// the recording may share), connection, login, reconnection and titles.
class TServerOutput : public TPipelineOutput {
public:
    TServerOutput(const TEncoderConfig& AConfig, TStatusReport AReport, TNoticeReport ANotice = {});
    ~TServerOutput() override;

    // On the capture thread, before StartThread: the capture's rate and the
    // channels sent; starts the encoder (false after posting why).
    bool Prepare(int32_t ASampleRate, int AOutChannels);
    // Its encode's thread and its own.
    void StartThread(const std::string& AName) override;
    void Join() override;
    // Never waits: the block goes to the encode.
    void Feed(TAudioBlockPtr ABlock) { FEncode.Feed(std::move(ABlock)); }
    // The capture has ended: what is queued is encoded and sent, then the
    // output ends.
    void EndOfAudio() { FEncode.EndOfAudio(); }
    // What this output sends, encoded once; the recording may take it too
    // (attached before StartThread).
    TEncodeStage& Encoding() { return FEncode; }
    // Also ends a blocked connect, send or read at once.
    void Stop() override;

    // --- connection and source logins ---
    bool ConnectToServer(int32_t APort);
    // The TLS handshake on the connection; false after posting why.
    bool StartTls();
    bool SendBytes(const std::string& ABytes);
    // AClosed, when given, tells whether the server ended the connection
    // (rather than the time running out).
    std::string ReadServerAnswer(int ATimeoutMs, bool* AClosed = nullptr);
    void CloseConnection();
    // Wakes a send or read blocked on the connection without closing it:
    // only this output's thread closes, so it never uses a number reused
    // elsewhere.
    void ShutdownConnection();
    bool IcecastHandshake(const std::string& AContentType);
    bool ShoutcastHandshake(const std::string& AContentType);
    bool ConnectAndHandshake(const std::string& AContentType);
    // True when sent bytes have stopped leaving the machine for so long
    // that the server is gone, though no send has failed yet.
    bool ConnectionStalled();
    bool Connected() const { return FConnection.IsOpen(); }

    const TEncoderConfig& Config() const { return FConfig; }
    // Bytes this output has handed to the server, all logins together.
    uint64_t BytesSent() const { return FBytesSent.load(); }
    // A title from elsewhere than the now-playing file (the control
    // interface): published at the next block. Any thread.
    void SetTitle(const std::string& ATitle);
    // What a listener should find now: logged in since when, and the
    // title last sent. Any thread.
    TOnAirState OnAirState() const;
    // Trusts the server certificate with AFingerprint from the next login
    // on, as if the settings pinned it: the operator said so while this
    // output kept trying. Any thread.
    void TrustCertificate(const std::string& AFingerprint);

protected:
    void Run() override;
    void Failed(const std::string& AWhat) override;
    bool Terminated() const { return Stopping(); }
    // No login is worth trying once stopped or when no audio will come.
    bool GivingUp() const { return Stopping() || FQueue.Closed(); }
    // Where this output stands now, in AText's words: the attempt of the
    // running reconnection and, for a refusal, its kind go with it.
    void Tell(TOutputPhase APhase, const std::string& AText, const TLoginRefusal& ARefusal = {});
    // A login attempt that failed: the phase of the login under way.
    void TellLoginFailed(const std::string& AText) { Tell(FLoginPhase, AText, FLastRefusal); }

private:
    // Right after each login: only live audio from here on, from where a
    // listener may start (a new stream for the Ogg codecs, headers first).
    bool JoinStream();
    void Stream();
    bool FirstLogin();
    // Logs in again until it works or the stop flag is set.
    bool Reconnect(const std::string& AReason);
    // A failure that ends this output.
    void TellFailed(TRefusal AReason, const std::string& AText);
    // After every login: the clock for a drop at once, the title, and only
    // live audio from here on.
    void OnLoggedIn();
    void PostRetry();
    // Three seconds in 100 ms pauses; false as soon as the stop flag is set.
    bool RetryPause();
    void CheckTitle();
    // The title to the listeners: in the stream for the Ogg codecs, by the
    // admin interface for the others.
    void PublishTitle();
    void PublishByAdmin();
    // The Ogg codecs carry the title in the stream itself.
    bool TitlesInStream() const { return FCodecRow && FCodecRow->SendsHeaderBytes; }
    void JudgeTitleUpdate(const std::string& ATitle, const TTitleOutcome& AOutcome);
    // Says once per login that a slow server cost audio, and when it is
    // back to live.
    void ReportDrops();
    // False when the transmission must end.
    bool SendChunk(const TEncodedChunk& AChunk);
    void NoteOnAir(bool ALoggedIn);
    void NoteTitleSent();
    // The certificate pinned now, and the settings with it for a title
    // update, which speaks TLS to the same server.
    std::string PinnedFingerprint() const;
    TEncoderConfig TitleConfig() const;

    TEncoderConfig FConfig;
    TStatusReport FReport;
    const TCodecRow* FCodecRow = nullptr;

    // Made and closed by this output's thread alone, so a stop (which only
    // shuts it down) never meets it closed and its number reused.
    TConnection FConnection;

    // The first login, or the reconnection of a lost one.
    TOutputPhase FLoginPhase = TOutputPhase::Connecting;
    // Why the last login attempt failed, for the retry message.
    TLoginRefusal FLastRefusal;
    TSendProgress FSendProgress;
    TServerProbe FProbe;
    // Where the server answers plain requests: its host at the configured
    // port, kept from the last connection.
    TPeerAddress FServerAddr;
    uint64_t FLoginTick = 0;
    // Login attempts of the running reconnection; kept when a fresh login
    // drops at once, so such a server is retried at the normal pace.
    int FAttempt = 0;
    bool FBehind = false;

    TStreamPlace FPlace;
    std::string FBytes;
    std::string FSongTitle;
    std::string FFileTitle; // the now-playing file's, when last read
    uint64_t FLastTitleTick = 0;
    std::atomic<uint64_t> FBytesSent{0};
    std::mutex FTitleLock;
    std::string FGivenTitle; // under FTitleLock; empty when none waits
    mutable std::mutex FOnAirLock;
    TOnAirState FOnAir; // under FOnAirLock
    // FConfig stays as it was made: others read it while this runs.
    mutable std::mutex FPinLock;
    std::string FPinned; // under FPinLock
    TNoticeReport FNotice;
    // Feeds this output and maybe the recording: it stops before them.
    TEncodeStage FEncode;
    // Last: its thread reports through the members above, so it goes first.
    TTitlePublisher FTitles;
};
