#include <gtest/gtest.h>

#include "net/WireText.h"
#include "platform/CodePage.h"

TEST(WireText, CodePageAndHeaderValues)
{
    EXPECT_EQ(Utf8ToWindows1252("S\xC3\xA3o Paulo \xE2\x82\xAC"), "S\xE3o Paulo \x80");
    EXPECT_EQ(Utf8ToWindows1252("\xE6\x97\xA5" "a"), "?a") << "what the code page lacks becomes ?";
    EXPECT_EQ(HeaderValueUtf8(" a\r\nb\nc\r "), " a  b c  ") << "line breaks blanked, no trimming";
    EXPECT_EQ(HeaderValueUtf8("Forr\xC3\xB3"), "Forr\xC3\xB3");
}

TEST(WireText, Base64)
{
    EXPECT_EQ(Base64Encode("source:"), "c291cmNlOg==");
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("f"), "Zg==");
    EXPECT_EQ(Base64Encode("fo"), "Zm8=");
    EXPECT_EQ(Base64Encode("foo"), "Zm9v");
    EXPECT_EQ(Base64Encode("foob"), "Zm9vYg==");
    EXPECT_EQ(Base64Encode("source:hackme"), "c291cmNlOmhhY2ttZQ==");
    EXPECT_EQ(Base64Encode(std::string("\xFB\xEF\xFF\x00", 4)), "++//AA==");
}

TEST(WireText, UrlEncoding)
{
    EXPECT_EQ(UrlEncodeUtf8("a b&c"), "a+b%26c");
    EXPECT_EQ(UrlEncodeUtf8("caf\xC3\xA9"), "caf%C3%A9");
    EXPECT_EQ(UrlEncodeUtf8("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(UrlEncodeUtf8("/?=+%\n"), "%2F%3F%3D%2B%25%0A");
}

TEST(WireText, MojibakeRepairOnlyWhenItIsOne)
{
    // "é" read as two Latin-1 characters "Ã©" comes back as "é".
    EXPECT_EQ(RepairMojibake("Caf\xC3\x83\xC2\xA9"), "Caf\xC3\xA9");
    EXPECT_EQ(RepairMojibake("\xC3\x82\xC2\xA0x"), "\xC2\xA0x") << "Â + U+00A0 is a no-break space";
    // Upper-case Portuguese: "Ã" followed by "O" cannot be a UTF-8 pair.
    EXPECT_EQ(RepairMojibake("CORA\xC3\x87\xC3\x83O"), "CORA\xC3\x87\xC3\x83O");
    // A character above U+00FF keeps the text as it is.
    EXPECT_EQ(RepairMojibake("\xC3\x82\xC2\xA0 \xE2\x82\xAC"), "\xC3\x82\xC2\xA0 \xE2\x82\xAC");
    EXPECT_EQ(RepairMojibake("Caf\xC3\xA9"), "Caf\xC3\xA9") << "no marker: unchanged";
    EXPECT_EQ(RepairMojibake("ABC"), "ABC");
}

TEST(WireText, SongTitleCleanup)
{
    EXPECT_EQ(CleanSongTitle("  Artist -\r\nSong  "), "Artist - Song");
    EXPECT_EQ(CleanSongTitle("A\r\n\r\nB"), "A B");
    EXPECT_EQ(CleanSongTitle("a     b\t"), "a b");
    EXPECT_EQ(CleanSongTitle("\tJo\xC3\x83\xC2\xA3o  e  Maria\n"), "Jo\xC3\xA3o e Maria");
    EXPECT_EQ(CleanSongTitle(""), "");
}

TEST(WireText, MountNormalisation)
{
    EXPECT_EQ(NormalizeMount(""), "/stream");
    EXPECT_EQ(NormalizeMount(" \t "), "/stream");
    EXPECT_EQ(NormalizeMount("live"), "/live");
    EXPECT_EQ(NormalizeMount(" /radio.mp3 "), "/radio.mp3");
    EXPECT_EQ(NormalizeMount("r\xC3\xA1" "dio"), "/r\xE1" "dio") << "in the legacy code page";
}

TEST(WireText, IcecastAnswers)
{
    EXPECT_TRUE(IsIcecastSourceAccepted("HTTP/1.1 100 Continue\r\nContent-Length: 0\r\n\r\n"));
    EXPECT_TRUE(IsIcecastSourceAccepted("HTTP/1.0 200 OK\r\n\r\n"));
    EXPECT_TRUE(IsIcecastSourceAccepted("ICE/1.0 200 OK\r\n"));
    EXPECT_TRUE(IsIcecastSourceAccepted("  icy 200 OK"));
    EXPECT_FALSE(IsIcecastSourceAccepted(
        "HTTP/1.0 401 Authentication Required\r\nContent-Type: text/html\r\n\r\n"
        "<html><head><title>Error 401</title></head><body><b>401 Authentication Required</b></body></html>"));
    // A status line decides by its code alone, whatever words follow.
    EXPECT_TRUE(IsIcecastSourceAccepted("HTTP/1.0 200 OK\r\n\r\nError: mount busy"));
    EXPECT_FALSE(IsIcecastSourceAccepted("HTTP/1.1 302 Found\r\nSet-Cookie: ok=1\r\nLocation: /\r\n\r\n"))
        << "a web server's redirect is no login, though it says ok";
    EXPECT_FALSE(IsIcecastSourceAccepted("HTTP/1.1 500 Internal Server Error\r\n\r\nOK"));
    EXPECT_TRUE(IsIcecastSourceAccepted("HTTP/1.1 204 No Content\r\n\r\n"));
    // Without a status line the words still decide.
    EXPECT_TRUE(IsIcecastSourceAccepted("Source connection accepted"));
    EXPECT_FALSE(IsIcecastSourceAccepted("OK, but invalid mount"));
    EXPECT_FALSE(IsIcecastSourceAccepted(
        "HTTP/1.0 403 Forbidden\r\nContent-Type: text/html\r\n\r\nMountpoint in use"));
    EXPECT_FALSE(IsIcecastSourceAccepted("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 409 Conflict\r\n"))
        << "the final status line after an interim 100 decides";
    EXPECT_FALSE(IsIcecastSourceAccepted("HTTP/1.1 302 Found\r\n")) << "no accept word";
    EXPECT_FALSE(IsIcecastSourceAccepted("")) << "a time-out";
    EXPECT_FALSE(IsIcecastSourceAccepted(" \r\n\t"));
}

TEST(WireText, ShoutcastAnswers)
{
    EXPECT_TRUE(IsShoutcastSourceAccepted("OK2\r\nicy-caps:11\r\n\r\n"));
    EXPECT_TRUE(IsShoutcastSourceAccepted("ICY 200 OK\r\n"));
    EXPECT_FALSE(IsShoutcastSourceAccepted("invalid password\r\n"));
    EXPECT_FALSE(IsShoutcastSourceAccepted("OK but Bad Password"));
    EXPECT_FALSE(IsShoutcastSourceAccepted("OK? Access denied"));
    EXPECT_FALSE(IsShoutcastSourceAccepted("OK2 unauthorized"));
    EXPECT_FALSE(IsShoutcastSourceAccepted(""));
    EXPECT_FALSE(IsShoutcastSourceAccepted("HTTP/1.0 302 Found\r\nSet-Cookie: ok")) << "its code decides";
}
