#include "services/ListenerStats.h"

#include <gtest/gtest.h>

#include <chrono>

#include <random>
#include <string>
#include <vector>

TEST(ListenerStats, JsonNumberTakesTheFirstDigitsAfterTheKey)
{
    EXPECT_EQ(ExtractJsonNumber(R"({"source":{"listener_peak":9,"listeners":12}})", "\"listeners\""), 12);
    // The first key decides, whichever mount it belongs to.
    EXPECT_EQ(ExtractJsonNumber(R"({"source":[{"listeners":4},{"listeners":8}]})", "\"listeners\""), 4);
    // null after the key: the digits of a later field count.
    EXPECT_EQ(ExtractJsonNumber(R"({"listeners":null,"slow":5})", "\"listeners\""), 5);
    // A minus sign is skipped like any other character.
    EXPECT_EQ(ExtractJsonNumber(R"({"listeners":-3})", "\"listeners\""), 3);
    EXPECT_EQ(ExtractJsonNumber(R"({"LISTENERS":6})", "\"listeners\""), 6);
    EXPECT_EQ(ExtractJsonNumber("listeners=0007", "listeners"), 7);
    EXPECT_EQ(ExtractJsonNumber(R"({"listeners":null})", "\"listeners\""), -1);
    EXPECT_EQ(ExtractJsonNumber(R"({"source":{}})", "\"listeners\""), -1);
    EXPECT_EQ(ExtractJsonNumber("", "\"listeners\""), -1);
    EXPECT_EQ(ExtractJsonNumber(R"({"listeners":2147483647})", "\"listeners\""), 2147483647);
    EXPECT_EQ(ExtractJsonNumber(R"({"listeners":2147483648})", "\"listeners\""), -1);
    EXPECT_EQ(ExtractJsonNumber(R"({"listeners":99999999999999999999999})", "\"listeners\""), -1);
}

TEST(ListenerStats, TagNumberBetweenOpeningAndClosingElement)
{
    EXPECT_EQ(ExtractTagNumber("<SHOUTCASTSERVER><CURRENTLISTENERS>7</CURRENTLISTENERS></SHOUTCASTSERVER>",
                               "CURRENTLISTENERS"),
              7);
    EXPECT_EQ(ExtractTagNumber("<currentListeners> 7 </currentlisteners>", "CURRENTLISTENERS"), 7);
    EXPECT_EQ(ExtractTagNumber("<CURRENTLISTENERS>\r\n12\t</CURRENTLISTENERS>", "currentlisteners"), 12);
    EXPECT_EQ(ExtractTagNumber("<CURRENTLISTENERS>seven</CURRENTLISTENERS>", "CURRENTLISTENERS"), -1);
    EXPECT_EQ(ExtractTagNumber("<CURRENTLISTENERS></CURRENTLISTENERS>", "CURRENTLISTENERS"), -1);
    EXPECT_EQ(ExtractTagNumber("<CURRENTLISTENERS>-4</CURRENTLISTENERS>", "CURRENTLISTENERS"), -1);
    EXPECT_EQ(ExtractTagNumber("<CURRENTLISTENERS>7", "CURRENTLISTENERS"), -1);
    // The closing element is looked for after the opening one only.
    EXPECT_EQ(ExtractTagNumber("</CURRENTLISTENERS><CURRENTLISTENERS>3", "CURRENTLISTENERS"), -1);
    EXPECT_EQ(ExtractTagNumber("<html>404</html>", "CURRENTLISTENERS"), -1);
}

TEST(ListenerStats, SevenHtmlFirstField)
{
    EXPECT_EQ(ParseSevenHtml("<html><body>3,1,15,100,3,128,Artist - Song, live</body></html>"), 3);
    EXPECT_EQ(ParseSevenHtml("<HTML><BODY> 42 ,1,15</BODY></HTML>"), 42);
    EXPECT_EQ(ParseSevenHtml("5,1,15,100,5,128,x"), 5);
    // Content starting with a comma, or without one: no count.
    EXPECT_EQ(ParseSevenHtml("<html><body>,1,15</body></html>"), -1);
    EXPECT_EQ(ParseSevenHtml("<html><body>404 Not Found</body></html>"), -1);
    // Closing before opening: the whole body is the content.
    EXPECT_EQ(ParseSevenHtml("</body>x<body>9,1"), -1);
    EXPECT_EQ(ParseSevenHtml("9,1</body><body>"), 9);
}

TEST(ListenerStats, HostWithoutSchemeAndPath)
{
    EXPECT_EQ(ExtractHost("  http://radio.example.com/status/page  "), "radio.example.com");
    EXPECT_EQ(ExtractHost("radio.example.com"), "radio.example.com");
    EXPECT_EQ(ExtractHost("HTTPS://radio.example.com"), "radio.example.com");
    EXPECT_EQ(ExtractHost("radio.example.com:8000/x"), "radio.example.com:8000");
    EXPECT_EQ(ExtractHost("   "), "");
    EXPECT_EQ(ExtractHost("http:///path"), "");
}

// A hostile statistics page of 4 MiB cost seconds of CPU: every key's
// value was looked for to the end of the page. Now each is looked for near
// its key; a bound this loose fails only on a scan of the page's square.
TEST(ListenerStats, AHostilePageCostsItsLengthNotItsSquare)
{
    std::string page = "{\"icestats\":{\"source\":[";
    while (page.size() < (4u << 20))
        page += "\"listenurl\"";
    page += ":\"http://h/stream\"";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(IcecastMountListeners(page, "/stream"), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(ListenerStats, IcecastPageCountsTheMountAsked)
{
    const std::string two =
        R"({"icestats":{"host":"h","source":[{"listeners":5,"listenurl":"http://h:8000/aaa.ogg"},)"
        R"({"listener_peak":9,"listeners":2,"listenurl":"http://h:8000/stream"}]}})";
    EXPECT_EQ(IcecastMountListeners(two, "/stream"), 2);
    EXPECT_EQ(IcecastMountListeners(two, "/aaa.ogg"), 5);
    EXPECT_EQ(IcecastMountListeners(two, "/stream2"), 0);
    EXPECT_EQ(IcecastMountListeners(two, "/Stream"), 0) << "icecast's mounts are case-sensitive";
    // One mount is an object, not an array.
    EXPECT_EQ(IcecastMountListeners(R"({"icestats":{"source":{"listeners":7,"listenurl":"http://h/stream"}}})",
                                    "/stream"),
              7);
    EXPECT_EQ(IcecastMountListeners(R"({"icestats":{"source":{"listeners":7,"listenurl":"http://h/x"}}})",
                                    "/stream"),
              0);
    // A count that is no count.
    EXPECT_EQ(IcecastMountListeners(R"({"icestats":{"source":{"listeners":"7","listenurl":"http://h/s"}}})", "/s"),
              -1);
    EXPECT_EQ(IcecastMountListeners(R"({"icestats":{"source":{"listeners":-3,"listenurl":"http://h/s"}}})", "/s"), -1);
    // No source at all, or no icecast page: the first number, as before.
    EXPECT_EQ(IcecastMountListeners(R"({"icestats":{"host":"h"}})", "/stream"), -1);
    EXPECT_EQ(IcecastMountListeners(R"({"listeners":4})", "/stream"), 4);
    EXPECT_EQ(IcecastMountListeners("<html>listeners: 3</html>", "/stream"), 3);
}

// Older servers write a title with a quote in it as it is: the page is no
// JSON, and the count still comes from the mount's own source.
TEST(ListenerStats, IcecastPageWithAnUnescapedTitle)
{
    const std::string broken =
        R"({"icestats":{"source":[{"listeners":5,"listenurl":"http://h:8000/aaa.ogg","title":"A "B" C"},)"
        R"({"listeners":2,"listenurl":"http://h:8000/stream?x=1","title":"say "hi""}]}})";
    EXPECT_EQ(IcecastMountListeners(broken, "/stream"), 2);
    EXPECT_EQ(IcecastMountListeners(broken, "/aaa.ogg"), 5);
    EXPECT_EQ(IcecastMountListeners(broken, "/other"), 0);
    EXPECT_EQ(IcecastMountListeners(R"({"source":[{"listenurl":"http://h/stream","title":"""}]})", "/stream"), -1)
        << "the mount's source without a count";
}

// Bodies from the network can be anything: the parsers must neither crash
// nor read out of bounds (this runs under the sanitizers) and must only
// ever give -1 or a count.
TEST(ListenerStats, HostileBodies)
{
    std::mt19937 random(20240611);
    const std::vector<std::string> seeds = {
        R"({"icestats":{"source":{"listeners":12,"listener_peak":3}}})",
        R"({"icestats":{"source":[{"listeners":1,"listenurl":"http://h/a"},{"listeners":2,"listenurl":"http://h/s"}]}})",
        "<SHOUTCASTSERVER><CURRENTLISTENERS> 7 </CURRENTLISTENERS></SHOUTCASTSERVER>",
        "<html><body>3,1,15,100,3,128,Song</body></html>",
    };
    static const char kAlphabet[] = "<>/,\"{}[]:0123456789 -+\r\n\t\x80\xFF\0bodyBODYlistenersCURRENTLISTENERS";
    const std::string alphabet(kAlphabet, sizeof kAlphabet - 1);
    auto check = [](const std::string& ABody) {
        for (int32_t n : {ExtractJsonNumber(ABody, "\"listeners\""), ExtractJsonNumber(ABody, "listeners"),
                          ExtractTagNumber(ABody, "CURRENTLISTENERS"), ParseSevenHtml(ABody),
                          IcecastMountListeners(ABody, "/s")})
            ASSERT_GE(n, -1) << ABody;
        ExtractHost(ABody);
    };
    for (const std::string& seed : seeds)
        for (size_t cut = 0; cut <= seed.size(); ++cut) {
            check(seed.substr(0, cut));
            check(seed.substr(cut));
        }
    // Nested deep enough to end a thread's stack, were it walked by recursion.
    const std::string deep = R"({"icestats":{"source":)" + std::string(400000, '[') + std::string(400000, ']') + "}}";
    EXPECT_EQ(IcecastMountListeners(deep, "/s"), 0);
    for (int i = 0; i < 4000; ++i) {
        std::string body;
        const size_t length = random() % 96;
        if (i % 2) {
            body = seeds[random() % seeds.size()];
            for (size_t k = 0; k < 4; ++k)
                body[random() % body.size()] = alphabet[random() % alphabet.size()];
            body.resize(random() % (body.size() + 1));
        } else {
            for (size_t k = 0; k < length; ++k)
                body += alphabet[random() % alphabet.size()];
        }
        check(body);
    }
}
