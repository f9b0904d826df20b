#include "ui/Lang.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

std::set<std::string> KeysOf(std::span<const TLangText> ATexts)
{
    std::set<std::string> keys;
    for (const TLangText& t : ATexts)
        EXPECT_TRUE(keys.insert(std::string(t.Key)).second) << "duplicate key " << t.Key;
    return keys;
}

} // namespace

TEST(Lang, TablesHoldTheExpectedKeys)
{
    const auto pt = KeysOf(LangTextsPtBR);
    const auto en = KeysOf(LangTextsEnUS);
    EXPECT_EQ(pt.size(), 122u);
    EXPECT_EQ(pt, en);

    const std::set<std::string> englishOnly = {"encoder", "active_close", "host", "port", "mount",
                                               "codec", "bitrate", "sample_rate", "url"};
    std::set<std::string> expected;
    for (const auto& k : pt)
        if (!englishOnly.count(k))
            expected.insert(k);
    EXPECT_EQ(KeysOf(LangTextsEsES), expected);
    EXPECT_EQ(KeysOf(LangTextsFrFR), expected);
}

TEST(Lang, LanguageCodeChoosesTableIgnoringAsciiCase)
{
    EXPECT_EQ(Translate("en-US", "stopped"), "Stopped.");
    EXPECT_EQ(Translate("EN-us", "stopped"), "Stopped.");
    EXPECT_EQ(Translate("es-es", "stopped"), "Detenido.");
    EXPECT_EQ(Translate("FR-FR", "stopped"), "Arrêté.");
    EXPECT_EQ(Translate("pt-BR", "stopped"), "Parado.");
    EXPECT_EQ(Translate("", "stopped"), "Parado.");
    EXPECT_EQ(Translate("de-DE", "stopped"), "Parado.");
    EXPECT_EQ(Translate("en", "stopped"), "Parado.");
}

TEST(Lang, FallbackChain)
{
    // Spanish and French fall back to English, not Portuguese.
    EXPECT_EQ(Translate("es-ES", "codec"), "Codec");
    EXPECT_EQ(Translate("es-ES", "port"), "Port");
    EXPECT_EQ(Translate("es-ES", "mount"), "Mount/Stream");
    EXPECT_EQ(Translate("fr-FR", "active_close"), "Streaming is active. Stop encoder?");
    EXPECT_EQ(Translate("fr-FR", "port"), "Port");
    // A key no table holds comes back as it is, in every language.
    for (const char* code : {"pt-BR", "en-US", "es-ES", "fr-FR", "xx"})
        EXPECT_EQ(Translate(code, "preset_custom"), "preset_custom") << code;
    // Keys are case-sensitive.
    EXPECT_EQ(Translate("en-US", "Start"), "Start");
    EXPECT_EQ(Translate("en-US", "start"), "Start streaming");
    EXPECT_EQ(Translate("pt-BR", ""), "");
}

TEST(Lang, TextsKeepTheirExactCharacters)
{
    EXPECT_EQ(Translate("pt-BR", "noar_empty"), "Nenhuma música informada no noar.txt");
    EXPECT_EQ(Translate("fr-FR", "noar_caption"), "\xC3\x80 L\xE2\x80\x99" "ANTENNE");
    EXPECT_EQ(Translate("fr-FR", "cfg_title"), "Param\xC3\xA8tres de l\xE2\x80\x99" "encodeur");
    EXPECT_EQ(Translate("fr-FR", "noar_file"), "Fichier \xC3\xA0 l\xE2\x80\x99" "antenne");
    for (const char* code : {"pt-BR", "en-US", "es-ES", "fr-FR"})
        EXPECT_EQ(Translate(code, "eq_flat"), Translate(code, "preset_flat")) << code;
}

TEST(Lang, NamesAndCodes)
{
    ASSERT_EQ(Languages.size(), 4u);
    EXPECT_EQ(Languages[0].Code, "pt-BR");
    EXPECT_EQ(Languages[3].Name, "Français");

    EXPECT_EQ(LanguageNameToCode("Español"), "es-ES");
    EXPECT_EQ(LanguageNameToCode("español"), "es-ES");
    EXPECT_EQ(LanguageNameToCode("ENGLISH"), "en-US");
    EXPECT_EQ(LanguageNameToCode("Français"), "fr-FR");
    EXPECT_EQ(LanguageNameToCode("Klingon"), "pt-BR");
    EXPECT_EQ(LanguageNameToCode(""), "pt-BR");
    // Only ASCII letters change case: a capital Ñ is another character.
    EXPECT_EQ(LanguageNameToCode("ESPAÑOL"), "pt-BR");

    EXPECT_EQ(LanguageCodeToName("FR-fr"), "Français");
    EXPECT_EQ(LanguageCodeToName("en-us"), "English");
    EXPECT_EQ(LanguageCodeToName("xx-XX"), "Português");
    EXPECT_EQ(LanguageCodeToName(""), "Português");

    for (const TLanguage& l : Languages)
        EXPECT_EQ(LanguageNameToCode(LanguageCodeToName(std::string(l.Code))), l.Code);
}
