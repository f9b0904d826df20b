#pragma once

#include <span>
#include <string>
#include <string_view>

// The window's texts in the four built-in languages. Plain data: the
// services use it as well as the window, so no toolkit here.

struct TLanguage {
    std::string_view Code;
    std::string_view Name;
};

struct TLangText {
    std::string_view Key;
    std::string_view Text;
};

// In the order the settings dialog lists them.
extern const std::span<const TLanguage> Languages;

// One table per language. Spanish and French lack a few keys; those come
// from the English table.
extern const std::span<const TLangText> LangTextsPtBR;
extern const std::span<const TLangText> LangTextsEnUS;
extern const std::span<const TLangText> LangTextsEsES;
extern const std::span<const TLangText> LangTextsFrFR;

// The text of AKey in the language ALangCode (code matched ignoring ASCII
// case, unknown codes mean Portuguese). Keys are case-sensitive; a key no
// table holds comes back unchanged.
std::string Translate(const std::string& ALangCode, const std::string& AKey);
// "pt-BR" / "Português" when nothing matches.
std::string LanguageNameToCode(const std::string& AName);
std::string LanguageCodeToName(const std::string& ACode);
