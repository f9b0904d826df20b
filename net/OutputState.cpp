#include "net/OutputState.h"

bool IsErrorState(const TOutputState& AState)
{
    switch (AState.Phase) {
    case TOutputPhase::Failed:
    case TOutputPhase::Retrying:
        return true;
    case TOutputPhase::Connecting:
        return AState.Refusal != TRefusal::None;
    case TOutputPhase::OnAir:
        return AState.Behind;
    default:
        return false;
    }
}

bool IsOnItsWay(const TOutputState& AState)
{
    return (AState.Phase == TOutputPhase::Connecting || AState.Phase == TOutputPhase::Retrying) &&
           AState.Refusal == TRefusal::None;
}

const char* PhaseName(TOutputPhase APhase)
{
    switch (APhase) {
    case TOutputPhase::Idle:
        return "idle";
    case TOutputPhase::Connecting:
        return "connecting";
    case TOutputPhase::OnAir:
        return "on_air";
    case TOutputPhase::Retrying:
        return "retrying";
    case TOutputPhase::Stopped:
        return "stopped";
    case TOutputPhase::Failed:
        return "failed";
    }
    return "idle";
}

const char* RefusalName(TRefusal ARefusal)
{
    switch (ARefusal) {
    case TRefusal::None:
        return "";
    case TRefusal::HostNotFound:
        return "host_not_found";
    case TRefusal::ConnectionRefused:
        return "connection_refused";
    case TRefusal::Unreachable:
        return "unreachable";
    case TRefusal::SocketFailed:
        return "socket_failed";
    case TRefusal::NoAnswer:
        return "no_answer";
    case TRefusal::PasswordRefused:
        return "password_refused";
    case TRefusal::PasswordUnanswered:
        return "password_unanswered";
    case TRefusal::MountInUse:
        return "mount_in_use";
    case TRefusal::MountMissing:
        return "mount_missing";
    case TRefusal::AccessDenied:
        return "access_denied";
    case TRefusal::ServerAnswer:
        return "server_answer";
    case TRefusal::UnexpectedAnswer:
        return "unexpected_answer";
    case TRefusal::Closed:
        return "closed";
    case TRefusal::ClosedAfterLogin:
        return "closed_after_login";
    case TRefusal::TlsFailure:
        return "tls_failure";
    case TRefusal::UntrustedCertificate:
        return "untrusted_certificate";
    case TRefusal::Settings:
        return "settings";
    case TRefusal::Encoder:
        return "encoder";
    case TRefusal::Capture:
        return "capture";
    case TRefusal::Send:
        return "send";
    }
    return "";
}
