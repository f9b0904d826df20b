#pragma once

#include <string>

#include "net/OutputState.h"

// The status code of an answer that begins with an HTTP-style status line
// ("HTTP/1.0 401 ...", "ICE/1.0 200", "ICY 200 OK"); 0 when it has none.
int AnswerStatusCode(const std::string& AAnswer);

// The value of header AName (any case) in an answer, trimmed; empty when
// it has none.
std::string AnswerHeader(const std::string& AAnswer, const std::string& AName);

// Why a login failed: the kind, the server's code when it gave one, and
// the words the retry message ends with.
struct TLoginRefusal {
    TRefusal Kind = TRefusal::None;
    int Code = 0;
    std::string Words; // "(401 senha recusada)"; empty for none
};

// The refusal AKind in the operator's words; APhrase is the server's own
// for a code without words of ours.
TLoginRefusal MakeRefusal(TRefusal AKind, int ACode = 0, const std::string& APhrase = "");
// Why a source login was refused: "(401 senha recusada)", "(403 ponto de
// montagem em uso)", "(sem resposta do servidor)". None for an accepted
// answer.
TLoginRefusal LoginRefusal(const std::string& AAnswer, bool AAccepted);
