#include "codecs/StreamTitle.h"

#include "platform/CodePage.h"

bool CheckStreamTitle(const std::string& ATitleUtf8, std::string& AError)
{
    AError.clear();
    std::u32string codePoints;
    if (ATitleUtf8.find('\0') == std::string::npos && DecodeUtf8(ATitleUtf8, codePoints))
        return true;
    AError = "Titulo invalido para o fluxo Ogg: precisa ser texto UTF-8 sem caractere nulo.";
    return false;
}
