#include "ui/OutputStateText.h"

#include <array>

#include "platform/Text.h"

namespace {

struct TStateWords {
    const char* Connecting;
    const char* OnAir;
    const char* Behind;
    const char* Lost;
    const char* Retry; // %1: the attempt
    const char* LoginFailed;
    const char* Stopped;
    const char* Settings;
    const char* Capture;
    const char* Encoder;
    const char* Send;
    // By TRefusal, from HostNotFound to UntrustedCertificate; %1: the
    // server's code or the certificate's fingerprint.
    std::array<const char*, 16> Reasons;
};

constexpr TStateWords KEnglish{
    "Connecting to the radio server...",
    "On air.",
    "Slow server: some audio was dropped.",
    "Connection to the server lost. Reconnecting...",
    "Reconnecting to the radio server (%1)...",
    "Could not log in to the radio server.",
    "Stopped.",
    "Check the settings: ",
    "Capture channel failed: ",
    "Encoder failed: ",
    "Sending to the server failed: ",
    {"host not found", "connection refused", "server unreachable", "could not create a socket",
     "no answer from the server", "password refused", "the server did not answer the password; check the password",
     "mount point in use", "mount point does not exist", "access denied", "the server answered %1",
     "unexpected answer from the server", "the server closed the connection",
     "the server closed the connection right after the login", "TLS failure",
     "untrusted certificate, SHA-256 fingerprint %1"},
};

constexpr TStateWords KSpanish{
    "Conectando con el servidor de radio...",
    "Transmitiendo.",
    "Servidor lento: se descartó parte del audio.",
    "Se perdió la conexión con el servidor. Reconectando...",
    "Reconectando con el servidor de radio (%1)...",
    "No se pudo iniciar sesión en el servidor de radio.",
    "Detenido.",
    "Revise la configuración: ",
    "Falló el canal de captura: ",
    "Falló el codificador: ",
    "Falló el envío al servidor: ",
    {"host no encontrado", "conexión rechazada", "servidor inaccesible", "no se pudo crear el socket",
     "sin respuesta del servidor", "contraseña rechazada", "el servidor no respondió a la contraseña; revísela",
     "punto de montaje en uso", "el punto de montaje no existe", "acceso denegado", "el servidor respondió %1",
     "respuesta inesperada del servidor", "el servidor cerró la conexión",
     "el servidor cerró la conexión justo después del inicio de sesión", "fallo de TLS",
     "certificado no confiable, huella SHA-256 %1"},
};

constexpr TStateWords KFrench{
    "Connexion au serveur radio...",
    "Diffusion en cours.",
    "Serveur lent : une partie de l\xE2\x80\x99" "audio a été perdue.",
    "Connexion au serveur perdue. Reconnexion...",
    "Reconnexion au serveur radio (%1)...",
    "Connexion au serveur radio impossible.",
    "Arrêté.",
    "Vérifiez les paramètres : ",
    "Échec du canal de capture : ",
    "Échec de l\xE2\x80\x99" "encodeur : ",
    "Échec de l\xE2\x80\x99" "envoi au serveur : ",
    {"hôte introuvable", "connexion refusée", "serveur injoignable", "impossible de créer le socket",
     "pas de réponse du serveur", "mot de passe refusé",
     "le serveur n\xE2\x80\x99" "a pas répondu au mot de passe ; vérifiez-le", "point de montage déjà utilisé",
     "point de montage inexistant", "accès refusé", "le serveur a répondu %1", "réponse inattendue du serveur",
     "le serveur a fermé la connexion", "le serveur a fermé la connexion juste après la connexion", "échec TLS",
     "certificat non fiable, empreinte SHA-256 %1"},
};

const TStateWords* WordsFor(const std::string& ALangCode)
{
    const std::string code = AsciiLower(ALangCode);
    if (code == "en-us")
        return &KEnglish;
    if (code == "es-es")
        return &KSpanish;
    if (code == "fr-fr")
        return &KFrench;
    return nullptr;
}

std::string Fill(const std::string& AText, const std::string& AValue)
{
    std::string out = AText;
    if (const size_t at = out.find("%1"); at != std::string::npos)
        out.replace(at, 2, AValue);
    return out;
}

// "(401 password refused)"; empty without a reason of the login's.
std::string Reason(const TStateWords& AWords, const TOutputState& AState)
{
    const int index = static_cast<int>(AState.Refusal) - static_cast<int>(TRefusal::HostNotFound);
    if (index < 0 || index >= static_cast<int>(AWords.Reasons.size()))
        return "";
    const bool coded = AState.AnswerCode != 0 && AState.Refusal != TRefusal::ServerAnswer;
    const std::string value =
        AState.Refusal == TRefusal::UntrustedCertificate ? AState.Fingerprint : std::to_string(AState.AnswerCode);
    return "(" + (coded ? std::to_string(AState.AnswerCode) + " " : std::string()) +
           Fill(AWords.Reasons[static_cast<size_t>(index)], value) + ")";
}

std::string Failure(const TStateWords& AWords, const TOutputState& AState)
{
    switch (AState.Refusal) {
    case TRefusal::Settings:
        return AWords.Settings + AState.Text;
    case TRefusal::Capture:
        return AWords.Capture + AState.Text;
    case TRefusal::Encoder:
        return AWords.Encoder + AState.Text;
    case TRefusal::Send:
        return AWords.Send + AState.Text;
    default:
        return AState.Text;
    }
}

} // namespace

std::string OutputStateText(const TOutputState& AState, const std::string& ALangCode)
{
    const TStateWords* words = WordsFor(ALangCode);
    if (!words)
        return AState.Text;
    const std::string reason = Reason(*words, AState);
    const std::string withReason = reason.empty() ? "" : " " + reason;
    switch (AState.Phase) {
    case TOutputPhase::Idle:
    case TOutputPhase::Stopped:
        return words->Stopped;
    case TOutputPhase::OnAir:
        return AState.Behind ? words->Behind : words->OnAir;
    case TOutputPhase::Connecting:
        return reason.empty() && AState.Refusal == TRefusal::None ? words->Connecting
                                                                  : words->LoginFailed + withReason;
    case TOutputPhase::Retrying:
        if (AState.Attempt > 0)
            return Fill(words->Retry, std::to_string(AState.Attempt)) + withReason;
        return reason.empty() ? words->Lost : words->LoginFailed + withReason;
    case TOutputPhase::Failed:
        return Failure(*words, AState);
    }
    return AState.Text;
}
