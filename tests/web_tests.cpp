// Reading HTTP heads and Windows proxy lists: statuses, headers, byte ranges, GitHub's rate limit
// and the proxy for a scheme; and when a download tries again. Runs on the host (under the sanitizers) and under Wine.
#include "base/retry.h"
#include "base/web.h"

#include <gtest/gtest.h>

using namespace setup;

namespace {

const std::string kHead = "HTTP/1.1 206 Partial Content\r\n"
                          "content-length: 900\r\n"
                          "Content-Range:  bytes 100-999/1000 \r\n"
                          "X-Empty:\r\n"
                          "Content-Length: 5\r\n";

TEST(Head, StatusAndHeadersByNameInAnyCase) {
    EXPECT_EQ(StatusOf(kHead), 206);
    EXPECT_EQ(StatusOf("HTTP/1.0 404\r\n"), 404);
    for (const char* head : {"", "HTTP/1.1\r\n", "HTTP/1.1 abc OK\r\n", "HTTP/1.1 99 Low\r\n", "ICY 200 OK\r\n"})
        EXPECT_EQ(StatusOf(head), 0) << head;

    EXPECT_EQ(HeaderValue(kHead, "Content-Length"), "900") << "the first of two";
    EXPECT_EQ(HeaderValue(kHead, "CONTENT-RANGE"), "bytes 100-999/1000") << "without the white space around it";
    EXPECT_EQ(HeaderValue(kHead, "X-Empty"), "");
    EXPECT_EQ(HeaderValue(kHead, "Range"), std::nullopt) << "a whole name only";
    EXPECT_EQ(HeaderValue("HTTP/1.1 200 OK\nA: b\n", "a"), "b") << "lines ended by LF alone";
    EXPECT_EQ(HeaderValue("Content-Length: 5", "Content-Length"), std::nullopt) << "the status line is no header";
    EXPECT_EQ(HeaderValue("HTTP/1.1 403 x\r\n\r\nA: b\r\n", "A"), std::nullopt) << "the body is no header";
}

TEST(Head, CountsAndRanges) {
    EXPECT_EQ(ParseCount("0"), 0u);
    EXPECT_EQ(ParseCount("999999999999999999"), 999999999999999999u);
    for (const char* bad : {"", "1000000000000000000", "-1", "+1", "1 ", "0x10", "1e3"})
        EXPECT_EQ(ParseCount(bad), std::nullopt) << bad;

    EXPECT_EQ(RangeTotal("bytes 100-999/1000", 100), 1000u);
    for (const char* other : {"bytes 0-999/1000", "bytes 100-998/1000", "bytes 100-999/*", "bytes */1000",
                              "items 100-999/1000", "bytes 100/999-1000", "bytes 100-999/99999999999999999999",
                              "bytes 100-99/100"})
        EXPECT_EQ(RangeTotal(other, 100), std::nullopt) << other << ": not the rest from 100";
}

TEST(Head, GitHubsRateLimit) {
    const std::int64_t now = 1750000000;
    EXPECT_EQ(RateLimitedUntil("HTTP/1.1 403 rate limit exceeded\r\nx-ratelimit-remaining: 0\r\n"
                               "x-ratelimit-reset: 1750001234\r\n",
                               now),
              1750001234);
    EXPECT_EQ(RateLimitedUntil("HTTP/1.1 429 Too Many\r\nRetry-After: 60\r\nx-ratelimit-reset: 1750001234\r\n", now),
              now + 60)
        << "Retry-After first";
    EXPECT_EQ(RateLimitedUntil("HTTP/1.1 403 x\r\nretry-after: Wed, 21 Oct 2015 07:28:00 GMT\r\n", now), 0)
        << "a date is no time to tell";
    EXPECT_EQ(RateLimitedUntil("HTTP/1.1 403 x\r\nX-RateLimit-Remaining: 0\r\nx-ratelimit-reset: soon\r\n", now), 0);
    EXPECT_EQ(RateLimitedUntil("HTTP/1.1 403 x\r\n\r\n{\"message\": \"You have exceeded a secondary rate limit\"}", now), 0)
        << "the secondary limits say so in the body alone";
    for (const char* other : {"HTTP/1.1 403 Forbidden\r\nx-ratelimit-remaining: 12\r\nx-ratelimit-reset: 1\r\n",
                              "HTTP/1.1 404 Not Found\r\nx-ratelimit-remaining: 0\r\n",
                              "HTTP/1.1 200 OK\r\nRetry-After: 5\r\n", "HTTP/1.1 403 Forbidden\r\n",
                              "HTTP/1.1 403 Forbidden\r\nX-Note: rate limit\r\n\r\nRepository access blocked"})
        EXPECT_EQ(RateLimitedUntil(other, now), std::nullopt) << other;
}

// Four tries at most, after 1, 2 and 4 s; a start over at once, and as often as it comes.
TEST(Retry, ABrokenTryIsMadeAgainUntilTheFourthButNothingElseIs) {
    struct Case {
        Ended how;
        int tried;
        AfterTry::Step step;
        unsigned pause;
    };
    for (const Case& c : {Case{Ended::kAgain, 1, AfterTry::kTryAgain, 1000}, Case{Ended::kAgain, 2, AfterTry::kTryAgain, 2000},
                          Case{Ended::kAgain, 3, AfterTry::kTryAgain, 4000}, Case{Ended::kAgain, 4, AfterTry::kReturn, 0},
                          Case{Ended::kCancelled, 1, AfterTry::kReturn, 0}, Case{Ended::kDone, 1, AfterTry::kReturn, 0},
                          Case{Ended::kStop, 1, AfterTry::kReturn, 0}, Case{Ended::kStartOver, 4, AfterTry::kStartOver, 0}}) {
        const AfterTry next = StepAfter(c.how, c.tried);
        EXPECT_EQ(next.step, c.step) << static_cast<int>(c.how) << " after try " << c.tried;
        EXPECT_EQ(next.pause, c.pause) << static_cast<int>(c.how) << " after try " << c.tried;
    }
}

TEST(Proxy, ThePieceForTheSchemeOrForEveryScheme) {
    EXPECT_EQ(ProxyFor(L"proxy.lan:8080", L"https"), L"http://proxy.lan:8080");
    EXPECT_EQ(ProxyFor(L"http=a:80;https=b:443", L"https"), L"http://b:443");
    EXPECT_EQ(ProxyFor(L"http=a:80 HTTPS=b:443", L"http"), L"http://a:80");
    EXPECT_EQ(ProxyFor(L"ftp=f:21;all:3128;https=b:443", L"https"), L"http://b:443") << "its own piece wins";
    EXPECT_EQ(ProxyFor(L"ftp=f:21;all:3128", L"https"), L"http://all:3128");
    EXPECT_EQ(ProxyFor(L"http=a:80", L"https"), L"") << "an http proxy isn't for https";
    EXPECT_EQ(ProxyFor(L"https=https://b:443", L"https"), L"https://b:443") << "a scheme of its own is kept";
    EXPECT_EQ(ProxyFor(L"socks=s:1080;;", L"https"), L"");
    EXPECT_EQ(ProxyFor(L"", L"http"), L"");
}

}  // namespace
