#pragma once

#include <string>

// Where a server's output stands; a value the front ends decide by, never
// by reading a sentence back.
enum class TOutputPhase { Idle, Connecting, OnAir, Retrying, Stopped, Failed };

// Why the last login failed, or why the output ended.
enum class TRefusal {
    None,
    HostNotFound,
    ConnectionRefused,
    Unreachable,
    SocketFailed,
    NoAnswer,
    PasswordRefused,
    PasswordUnanswered, // a SHOUTcast server that hung up on the password
    MountInUse,
    MountMissing,
    AccessDenied,
    ServerAnswer,       // another status code, in AnswerCode
    UnexpectedAnswer,
    Closed,
    ClosedAfterLogin,
    TlsFailure,
    UntrustedCertificate,
    Settings,
    Encoder,
    Capture,
    Send,
};

struct TOutputState {
    TOutputPhase Phase = TOutputPhase::Idle;
    TRefusal Refusal = TRefusal::None;
    int Attempt = 0;         // of the running reconnection; 0 outside one
    int AnswerCode = 0;      // the server's status code, when it gave one
    bool Behind = false;     // on air, but a slow server cost audio
    std::string Fingerprint; // SHA-256 of an untrusted certificate
    std::string Text;        // the sentence, in the log's Portuguese
};

// An error line in the log and red on the window's status line.
bool IsErrorState(const TOutputState& AState);
// On its way to the air: a first login under way, a lost link being logged
// in again. With a refusal known it is trouble instead.
bool IsOnItsWay(const TOutputState& AState);
// Names for machines (the control interface's /status).
const char* PhaseName(TOutputPhase APhase);
const char* RefusalName(TRefusal ARefusal);
