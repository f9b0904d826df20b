#include "net/ServerAnswer.h"

#include "platform/Text.h"

namespace {

bool StartsWith(const std::string& AText, const char* APrefix)
{
    return AText.rfind(APrefix, 0) == 0;
}

// "HTTP/1.0 401 ...", "ICE/1.0 200", "ICY 200 OK"; 0 for any other line.
int StatusLineCode(const std::string& ALine)
{
    const std::string t = AsciiUpper(ALine);
    size_t codeAt = std::string::npos;
    if (StartsWith(t, "HTTP/") || StartsWith(t, "ICE/")) {
        const size_t blank = t.find(' ');
        if (blank != std::string::npos)
            codeAt = blank + 1;
    } else if (StartsWith(t, "ICY ")) {
        codeAt = 4;
    }
    if (codeAt == std::string::npos || t.size() < codeAt + 3)
        return 0;
    int code = 0;
    for (size_t i = codeAt; i < codeAt + 3; ++i) {
        if (t[i] < '0' || t[i] > '9')
            return 0;
        code = code * 10 + (t[i] - '0');
    }
    // The code must stand alone: "2000" is no status code.
    if (t.size() > codeAt + 3 && t[codeAt + 3] > ' ')
        return 0;
    return code;
}

// The status line that decides: after an interim "100 Continue" the final
// one follows in the same answer. Empty when the answer has none.
std::string DecidingStatusLine(const std::string& AAnswer)
{
    const std::string t = Trim(AAnswer);
    std::string decisive = t.substr(0, t.find_first_of("\r\n"));
    if (StatusLineCode(decisive) == 0)
        return {};
    for (size_t at = t.find('\n'); at != std::string::npos;) {
        const size_t next = t.find('\n', at + 1);
        const std::string line = Trim(t.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
        if (StatusLineCode(line) != 0)
            decisive = line;
        at = next;
    }
    return decisive;
}

// The reason phrase after the code, as the server wrote it.
// The server's own words, shown in the status line and logged: one
// printable line of a reasonable length, whatever the server sent.
std::string ReasonPhrase(const std::string& AStatusLine)
{
    constexpr size_t KMaxPhraseBytes = 80;
    const size_t first = AStatusLine.find(' ');
    const size_t second = first == std::string::npos ? std::string::npos : AStatusLine.find(' ', first + 1);
    return second == std::string::npos ? std::string()
                                       : Trim(PrintableLine(AStatusLine.substr(second + 1), KMaxPhraseBytes));
}

} // namespace

int AnswerStatusCode(const std::string& AAnswer)
{
    return StatusLineCode(DecidingStatusLine(AAnswer));
}

TLoginRefusal MakeRefusal(TRefusal AKind, int ACode, const std::string& APhrase)
{
    const auto words = [&]() -> std::string {
        switch (AKind) {
        case TRefusal::None:
            return "";
        case TRefusal::HostNotFound:
            return "(host nao encontrado)";
        case TRefusal::ConnectionRefused:
            return "(conexao recusada)";
        case TRefusal::Unreachable:
            return "(servidor inacessivel)";
        case TRefusal::SocketFailed:
            return "(falha ao criar socket)";
        case TRefusal::NoAnswer:
            return "(sem resposta do servidor)";
        case TRefusal::PasswordRefused:
            return ACode ? "(" + std::to_string(ACode) + " senha recusada)" : "(senha recusada)";
        case TRefusal::PasswordUnanswered:
            return "(o servidor nao respondeu a senha; confira a senha)";
        case TRefusal::MountInUse:
            return "(403 ponto de montagem em uso)";
        case TRefusal::AccessDenied:
            return "(403 acesso negado)";
        case TRefusal::MountMissing:
            return "(404 ponto de montagem inexistente)";
        case TRefusal::ServerAnswer:
            return "(" + std::to_string(ACode) + (APhrase.empty() ? "" : " " + APhrase) + ")";
        case TRefusal::UnexpectedAnswer:
            return "(resposta inesperada do servidor)";
        case TRefusal::Closed:
            return "(servidor fechou a conexao)";
        case TRefusal::ClosedAfterLogin:
            return "(servidor encerrou a conexao logo apos o login)";
        case TRefusal::TlsFailure:
            return "(falha TLS)";
        case TRefusal::UntrustedCertificate:
            return "(certificado nao confiavel)";
        default:
            return "";
        }
    };
    return {AKind, ACode, words()};
}

TLoginRefusal LoginRefusal(const std::string& AAnswer, bool AAccepted)
{
    if (AAccepted)
        return {};
    if (Trim(AAnswer).empty())
        return MakeRefusal(TRefusal::NoAnswer);
    const std::string lower = AsciiLower(AAnswer);
    const int code = AnswerStatusCode(AAnswer);
    if (code == 401)
        return MakeRefusal(TRefusal::PasswordRefused, code);
    if (code == 403 && lower.find("in use") != std::string::npos)
        return MakeRefusal(TRefusal::MountInUse, code);
    if (code == 403)
        return MakeRefusal(TRefusal::AccessDenied, code);
    if (code == 404)
        return MakeRefusal(TRefusal::MountMissing, code);
    if (code != 0)
        return MakeRefusal(TRefusal::ServerAnswer, code, ReasonPhrase(DecidingStatusLine(AAnswer)));
    if (lower.find("password") != std::string::npos || lower.find("denied") != std::string::npos ||
        lower.find("unauthorized") != std::string::npos)
        return MakeRefusal(TRefusal::PasswordRefused);
    return MakeRefusal(TRefusal::UnexpectedAnswer);
}

std::string AnswerHeader(const std::string& AAnswer, const std::string& AName)
{
    const std::string key = "\n" + AsciiLower(AName) + ":";
    const std::string lower = AsciiLower(AAnswer);
    const size_t at = lower.find(key);
    if (at == std::string::npos)
        return {};
    const size_t from = at + key.size();
    const size_t end = AAnswer.find('\n', from);
    return Trim(AAnswer.substr(from, end == std::string::npos ? std::string::npos : end - from));
}
