#include <gtest/gtest.h>

#include <tuple>

#include "net/ServerAnswer.h"
#include "streaming/SendProgress.h"

TEST(ServerAnswer, StatusCodeOfTheDecidingLine)
{
    EXPECT_EQ(AnswerStatusCode("HTTP/1.0 401 Authentication Required\r\n\r\n<b>401</b>"), 401);
    EXPECT_EQ(AnswerStatusCode("  icy 200 OK\r\n"), 200);
    EXPECT_EQ(AnswerStatusCode("ICE/1.0 200 OK"), 200);
    EXPECT_EQ(AnswerStatusCode("HTTP/1.1 100 Continue\r\nContent-Length: 0\r\n\r\nHTTP/1.0 403 Forbidden\r\n"), 403);
    EXPECT_EQ(AnswerStatusCode("OK2\r\nicy-caps:11\r\n\r\n"), 0);
    EXPECT_EQ(AnswerStatusCode("HTTP/1.0 2000 odd"), 0);
    EXPECT_EQ(AnswerStatusCode("HTTP/1.0 abc"), 0);
    EXPECT_EQ(AnswerStatusCode("HTTP/1.0"), 0);
    EXPECT_EQ(AnswerStatusCode(""), 0);
    EXPECT_EQ(AnswerStatusCode("Body\r\nHTTP/1.0 200 OK"), 0) << "only an answer that starts with one";
}

TEST(ServerAnswer, RefusalReasonsInTheOperatorsWordsAndAsAKind)
{
    const auto said = [](const std::string& AAnswer, bool AAccepted = false) {
        const TLoginRefusal r = LoginRefusal(AAnswer, AAccepted);
        return std::make_tuple(r.Kind, r.Code, r.Words);
    };
    // Answers as icecast2 gives them.
    EXPECT_EQ(said("HTTP/1.0 401 Authentication Required\r\nContent-Type: text/html\r\n\r\n"),
              std::make_tuple(TRefusal::PasswordRefused, 401, std::string("(401 senha recusada)")));
    EXPECT_EQ(said("HTTP/1.0 403 Forbidden\r\n\r\nMountpoint in use"),
              std::make_tuple(TRefusal::MountInUse, 403, std::string("(403 ponto de montagem em uso)")));
    EXPECT_EQ(said("HTTP/1.0 403 Forbidden\r\n\r\nContent-type not supported"),
              std::make_tuple(TRefusal::AccessDenied, 403, std::string("(403 acesso negado)")));
    EXPECT_EQ(said("HTTP/1.1 302 Found\r\nSet-Cookie: x\r\n\r\n"),
              std::make_tuple(TRefusal::ServerAnswer, 302, std::string("(302 Found)")));
    EXPECT_EQ(said(""), std::make_tuple(TRefusal::NoAnswer, 0, std::string("(sem resposta do servidor)")));
    EXPECT_EQ(said("invalid password\r\n"), std::make_tuple(TRefusal::PasswordRefused, 0, std::string("(senha recusada)")));
    EXPECT_EQ(said("what?"), std::make_tuple(TRefusal::UnexpectedAnswer, 0, std::string("(resposta inesperada do servidor)")));
    EXPECT_EQ(said("HTTP/1.0 200 OK", true), std::make_tuple(TRefusal::None, 0, std::string()));
}

TEST(SendProgress, StallIsTheAgeOfTheOldestByteStillQueued)
{
    TSendProgress p;
    EXPECT_FALSE(p.Stalled(0, 100000, 10000)) << "nothing sent";
    p.Sent(1000, 0);
    p.Sent(1000, 5000);
    EXPECT_FALSE(p.Stalled(2000, 9999, 10000));
    EXPECT_TRUE(p.Stalled(2000, 10000, 10000)) << "the first send has waited 10 s";
    // The server took the first send (seen at 14999): the clock of
    // nothing taken starts again there.
    EXPECT_FALSE(p.Stalled(1000, 14999, 10000));
    EXPECT_FALSE(p.Stalled(1000, 15000, 10000));
    EXPECT_TRUE(p.Stalled(1000, 24999, 10000));
    // Everything taken: a quiet connection is no stall.
    EXPECT_FALSE(p.Stalled(0, 60000, 10000));
    p.Sent(10, 60000);
    p.Reset();
    EXPECT_FALSE(p.Stalled(0, 90000, 10000)) << "a new connection starts clean";
    p.Sent(0, 90000);
    EXPECT_FALSE(p.Stalled(0, 200000, 10000)) << "an empty send is no byte waiting";
}

TEST(SendProgress, ASlowLinkThatStillDrainsALongQueueIsNoStall)
{
    TSendProgress p;
    // 40 KB a second handed over, 35 KB a second taken: the queue grows.
    uint64_t queued = 0;
    for (uint64_t t = 0; t <= 60000; t += 1000) {
        p.Sent(40000, t);
        queued += 5000;
        EXPECT_FALSE(p.Stalled(queued, t, 10000)) << "at " << t << " ms, " << queued << " bytes queued";
    }
    // Then nothing is taken any more: ten seconds later it is a stall.
    for (uint64_t t = 61000; t < 70000; t += 1000) {
        p.Sent(40000, t);
        queued += 40000;
        EXPECT_FALSE(p.Stalled(queued, t, 10000)) << t;
    }
    EXPECT_TRUE(p.Stalled(queued, 70000, 10000));
}

TEST(SendProgress, BoundedMemoryKeepsTheOldestMark)
{
    TSendProgress p;
    for (uint64_t t = 0; t < 100000; ++t)
        p.Sent(100, t);
    EXPECT_TRUE(p.Stalled(100 * 100000, 10000, 10000)) << "nothing taken since tick 0";
    EXPECT_FALSE(p.Stalled(0, 10000, 10000));
}
