#pragma once

#include <string>

// The status code of an answer that begins with an HTTP-style status line
// ("HTTP/1.0 401 ...", "ICE/1.0 200", "ICY 200 OK"); 0 when it has none.
int AnswerStatusCode(const std::string& AAnswer);

// Why a source login was refused, in the operator's words, for the retry
// message: "(401 senha recusada)", "(403 ponto de montagem em uso)",
// "(sem resposta do servidor)". Empty for an accepted answer.
std::string LoginRefusalReason(const std::string& AAnswer, bool AAccepted);
