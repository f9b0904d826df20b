#include "net/ServerAnswer.h"
#include "net/WireText.h"
#include "tests/fuzz/FuzzInput.h"

// A server's answer to a source login: the rules that accept it and the
// words that say why not.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    const std::string answer(reinterpret_cast<const char*>(AData), ASize);
    const bool icecast = IsIcecastSourceAccepted(answer);
    const bool shoutcast = IsShoutcastSourceAccepted(answer);
    for (const bool accepted : {icecast, shoutcast}) {
        const TLoginRefusal refusal = LoginRefusal(answer, accepted);
        FUZZ_CHECK(accepted == (refusal.Kind == TRefusal::None));
        FUZZ_CHECK(refusal.Words.size() <= 100);
        for (const char c : refusal.Words)
            FUZZ_CHECK(static_cast<unsigned char>(c) >= 32 && c != 127);
    }
    const int code = AnswerStatusCode(answer);
    FUZZ_CHECK(code >= 0 && code <= 999);
    FUZZ_CHECK(AnswerHeader(answer, "Content-Type").size() <= answer.size());
    return 0;
}
