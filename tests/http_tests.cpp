// The download with real WinHTTP under Wine against a loopback server that each test scripts.
#include "base/text.h"
#include "globals.h"
#include "support/fixture.h"
#include "support/http_server.h"
#include "support/scratch.h"
#include "support/test_window.h"
#include "support/worker.h"
#include "win/errors.h"
#include "win/handle.h"
#include "win/http.h"
#include "worker/downloads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <regex>
#include <thread>

namespace fs = std::filesystem;
using setup::FileText;
using setup::Get;
using setup::win::ErrorText;
using testing_support::FailureOf;
using testing_support::HttpServer;
using testing_support::Reply;
using testing_support::TestWindow;

namespace {

class Download : public testing_support::WorkerTest {
protected:
    // What was posted but the log lines fails the test; those are given back.
    std::vector<std::wstring> Logged() {
        std::vector<std::wstring> lines;
        for (testing_support::Posted& item : window_.Take()) {
            EXPECT_EQ(item.kind, setup::Report::kLines) << "progress for a download that failed";
            lines.push_back(std::move(item.text));
        }
        return lines;
    }

    // A download's progress, as the bar showed it.
    std::vector<int> Bar() {
        std::vector<int> bar;
        for (const testing_support::Posted& item : window_.Take())
            if (item.kind == setup::Report::kProgress) bar.push_back(item.value);
        return bar;
    }

    // Bytes that differ from chunk to chunk, so that a misplaced piece shows.
    static std::string Pattern(std::size_t size) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 % 251);
        return bytes;
    }

    TestWindow window_;
    testing_support::Scratch scratch_;
};

TEST_F(Download, ReturnsTheBodyWithOrWithoutContentLength) {
    const std::string big = Pattern(300000);
    HttpServer server([&](const std::string& target) {
        if (target == "/sized") return Reply{.body = "hello"};
        return Reply{.body = big, .length = false};
    });

    std::string body = "kept:";
    EXPECT_TRUE(Get({.url = server.Url("/sized"), .body = &body}));
    EXPECT_EQ(body, "kept:hello") << "the body is appended";

    body.clear();
    const fs::path file = scratch_.root() / u8"t\u00e9l\u00e9chargement.bin";
    EXPECT_TRUE(Get({.url = server.Url("/stream"), .body = &body, .file = &file}))
        << "no length: the end of the stream is the end";
    EXPECT_EQ(body, big);
    EXPECT_EQ(FileText(file), big);

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0].starts_with("GET /sized HTTP/1.1\r\n")) << requests[0];
    EXPECT_NE((requests[0] + "\r\n").find("\r\nUser-Agent: Quorin-Setup\r\n"), std::string::npos) << requests[0];
}

TEST_F(Download, SendsTheQueryAndFollowsARedirect) {
    HttpServer server([](const std::string& target) {
        if (target == "/old?x=1") return Reply{.status = 302, .headers = "Location: /new?y=2&z=%41\r\n"};
        return Reply{.body = "moved here"};
    });
    std::string body;
    EXPECT_TRUE(Get({.url = server.Url("/old?x=1"), .body = &body}));
    EXPECT_EQ(body, "moved here");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[1].starts_with("GET /new?y=2&z=%41 HTTP/1.1\r\n")) << requests[1];
}

// Not tried again: only a 5xx might go otherwise the next time.
TEST_F(Download, AnyOtherStatusFailsAtOnceAndLeavesAnEmptyFile) {
    HttpServer server([](const std::string& target) {
        return Reply{.status = std::stoi(target.substr(1)), .body = "<html>not the file</html>"};
    });
    for (const char* status : {"/404", "/403", "/201", "/206", "/416"}) {
        SCOPED_TRACE(status);
        const fs::path file = scratch_.File("archive.zip", 1000);
        std::string body;
        EXPECT_FALSE(Get({.url = server.Url(status), .body = &body, .file = &file, .label = L"Git"}));
        EXPECT_TRUE(fs::exists(file));
        EXPECT_EQ(fs::file_size(file), 0u);
        EXPECT_EQ(body, "");
        EXPECT_EQ(Logged(), std::vector<std::wstring>{L"Git: HTTP status " + std::wstring(status + 1, status + 4)});
    }
    EXPECT_EQ(server.Requests().size(), 5u);
}

// A body fetched into a string starts over each time.
TEST_F(Download, ATryThatFailsOnTheWayIsMadeAgain) {
    const std::string whole = Pattern(100000);
    std::map<std::string, int> calls;
    HttpServer server([&](const std::string& target) {
        if (++calls[target] > 1) return Reply{.body = whole};
        if (target == "/drop") return Reply{.drop = true};
        return Reply{.status = 503, .body = "busy"};
    });
    for (const auto& [target, cause] :
         {std::pair{"/drop", ErrorText(12152, L"no valid answer")}, std::pair{"/503", std::wstring(L"HTTP status 503")}}) {
        SCOPED_TRACE(target);
        std::string body;
        EXPECT_TRUE(Get({.url = server.Url(target), .body = &body}));
        EXPECT_TRUE(body == whole) << "the whole body once";
        EXPECT_EQ(calls[target], 2);
        EXPECT_EQ(Logged(), std::vector<std::wstring>{server.Url(target) + L": " + cause + L"; trying again (2 of 4)"});
    }
}

TEST_F(Download, ADownloadThatKeepsBreakingFailsAfterFourTries) {
    HttpServer server([](const std::string& target) {
        if (target == "/cut") return Reply{.body = std::string(100000, 'c'), .length = false, .missing = 500};
        return Reply{.body = std::string(100000, 's'), .missing = 10};
    });
    std::string body;
    EXPECT_TRUE(Get({.url = server.Url("/cut"), .body = &body})) << "without a length, the end is where it ends";
    EXPECT_EQ(body.size(), 99500u);

    body.clear();
    EXPECT_FALSE(Get({.url = server.Url("/short"), .body = &body}));
    EXPECT_EQ(body, std::string(99990, 's')) << "what the last try brought is kept";
    const std::wstring broke = server.Url("/short") + L": the download broke off at 99990 bytes of 100000 bytes";
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{broke + L"; trying again (2 of 4)", broke + L"; trying again (3 of 4)",
                                                   broke + L"; trying again (4 of 4)", broke}));
    EXPECT_EQ(server.Requests().size(), 5u);
}

// A million "a": a SHA-256 test vector.
const std::string kMillion(1000000, 'a');
const std::string kMillionSha256 = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";

TEST_F(Download, AFileGoesOnFromWhereItBrokeOffAndIsCheckedWhole) {
    int calls = 0;
    HttpServer server([&](const std::string&) {
        if (++calls == 1) return Reply{.body = kMillion, .missing = 600000};
        return Reply{.status = 206, .headers = "Content-Range: bytes 400000-999999/1000000\r\n", .body = kMillion.substr(400000)};
    });
    const fs::path file = scratch_.root() / "Git.zip";
    EXPECT_TRUE(Get({.url = server.Url("/git.zip"), .file = &file, .sha256 = kMillionSha256, .label = L"Git"}));
    EXPECT_TRUE(FileText(file) == kMillion) << "each byte once";
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE((requests[1] + "\r\n").find("\r\nRange: bytes=400000-\r\n"), std::string::npos) << requests[1];

    const std::vector<int> bar = Bar();
    EXPECT_TRUE(std::is_sorted(bar.begin(), bar.end()) && std::adjacent_find(bar.begin(), bar.end()) == bar.end())
        << "the bar goes on from where it was";
    EXPECT_EQ(bar.back(), 100);
    EXPECT_EQ(window_.LogLines(), std::vector<std::wstring>{}) << "taken by Bar";
}

// A 200 brings the whole file again; a 416 needs another request for the whole file, at once.
TEST_F(Download, AServerThatCantGoOnSendsTheWholeFileAgain) {
    const std::string whole = Pattern(100000);
    std::map<std::string, int> calls;
    HttpServer server([&](const std::string& target) {
        const int call = ++calls[target];
        if (call == 1) return Reply{.body = whole, .missing = 70000};
        if (call == 3 || target == "/whole") return Reply{.body = whole};
        return Reply{.status = 416, .headers = "Content-Range: bytes */100000\r\n"};
    });
    const std::wstring broke = L"Git: the download broke off at 30000 bytes of 100000 bytes; trying again (2 of 4)";
    const std::wstring over = L"Git: the server can't send the rest from 30000 bytes; starting over";
    for (const auto& [target, log] : {std::pair{"/whole", std::vector{broke}}, std::pair{"/refused", std::vector{broke, over}}}) {
        SCOPED_TRACE(target);
        const fs::path file = scratch_.root() / "Git.zip";
        EXPECT_TRUE(Get({.url = server.Url(target), .file = &file, .label = L"Git"}));
        EXPECT_TRUE(FileText(file) == whole);
        EXPECT_EQ(window_.LogLines(), log);
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests.back().find("Range:"), std::string::npos) << "the whole file again";
}

// Wine takes the rest of a head with a line of megabytes for the body (Windows refuses the answer):
// that never passes for the file.
TEST_F(Download, AHeadOfMegabytesNeverPassesForTheFile) {
    int calls = 0;
    HttpServer server([&](const std::string&) {
        return Reply{.headers = ++calls == 1 ? std::string(4 << 20, 'x') + ": y\r\n" : "", .body = kMillion};
    });
    const fs::path file = scratch_.root() / "Git.zip";
    const bool got = Get({.url = server.Url("/git.zip"), .file = &file, .sha256 = kMillionSha256, .label = L"Git"});
    EXPECT_TRUE(!got || FileText(file) == kMillion);
}

// Under Wine, Z: is the Linux root, whose /dev/full takes no byte: "no space left".
TEST_F(Download, AFailedWriteEndsTheDownloadAtOnce) {
    HttpServer server([](const std::string&) { return Reply{.body = Pattern(100000)}; });
    const fs::path full = L"Z:\\dev\\full";
    EXPECT_FALSE(Get({.url = server.Url("/git.zip"), .file = &full, .label = L"Git"}));
    EXPECT_EQ(window_.LogLines(), std::vector<std::wstring>{L"Git: the disk is full"});
    EXPECT_EQ(server.Requests().size(), 1u);
}

// Nothing there to answer is said at once, without trying again.
TEST_F(Download, FailsWithoutAServerOrAUsableUrl) {
    std::string body;
    const std::wstring refused = L"http://127.0.0.1:" + std::to_wstring(HttpServer::ClosedPort()) + L"/x";
    EXPECT_FALSE(Get({.url = refused, .body = &body}));
    EXPECT_FALSE(Get({.url = L"not a url", .body = &body}));
    EXPECT_FALSE(Get({.url = L"http://" + std::wstring(300, L'h') + L"/", .body = &body, .label = L"Git"}))
        << "host name too long";
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{refused + L": " + ErrorText(12029, L"couldn't connect"),
                                                   L"not a url: not a web address", L"Git: not a web address"}));
    EXPECT_FALSE(Get({.url = L"http://127.0.0.1:1/" + std::wstring(3000, L'p'), .body = &body})) << "path too long";

    HttpServer server([](const std::string&) { return Reply{.body = "x"}; });
    const fs::path noFolder = scratch_.root() / "missing" / "file.zip";
    window_.Take();
    EXPECT_FALSE(Get({.url = server.Url("/"), .file = &noFolder, .label = L"Git"})) << "the file can't be made";
    EXPECT_EQ(window_.LogLines(), std::vector<std::wstring>{L"Git: couldn't write " + noFolder.wstring() + L" (" + ErrorText(ERROR_PATH_NOT_FOUND) + L")"});
    EXPECT_TRUE(body.empty());
}

TEST_F(Download, ACancelEndsAStalledDownloadWithinTwoSeconds) {
    const setup::win::Handle stalled(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HttpServer server([&](const std::string&) {
        return Reply{.body = Pattern(2000), .midway = [&] {  // 1,000 bytes, then nothing until the test is over
                         SetEvent(stalled.get());
                         WaitForSingleObject(release.get(), 120000);
                     }};
    });
    std::wstring failure;
    std::atomic<ULONGLONG> ended{0};
    std::thread worker([&] {
        failure = FailureOf([&] { Get({.url = server.Url("/git.zip"), .label = L"Git"}); });
        ended = GetTickCount64();
    });
    const bool waiting = WaitForSingleObject(stalled.get(), 10000) == WAIT_OBJECT_0;
    Sleep(200);  // well inside WinHTTP's wait for more
    const ULONGLONG cancelled = GetTickCount64();
    setup::s_cancel = true;
    worker.join();
    SetEvent(release.get());

    EXPECT_TRUE(waiting);
    EXPECT_EQ(failure, L"Cancelled.");
    EXPECT_LT(ended - cancelled, 2000u);
    EXPECT_EQ(window_.LogLines(), std::vector<std::wstring>{}) << "a cancel isn't a failure of the download";
}

TEST_F(Download, ACancelDuringThePauseBeforeATryEndsTheDownload) {
    HttpServer server([](const std::string&) { return Reply{.status = 503}; });
    std::wstring failure;
    std::thread worker([&] { failure = FailureOf([&] { Get({.url = server.Url("/busy")}); }); });
    bool paused = false;  // the first try is logged as failed: the pause has begun
    for (ULONGLONG end = GetTickCount64() + 10000; !paused && GetTickCount64() < end; Sleep(10))
        paused = !window_.LogLines().empty();
    setup::s_cancel = true;
    worker.join();
    EXPECT_TRUE(paused);
    EXPECT_EQ(failure, L"Cancelled.");
    EXPECT_EQ(server.Requests().size(), 1u) << "no other try";
}

TEST_F(Download, ACancelStopsBetweenChunksAndKeepsWhatWasWritten) {
    const std::string bytes = Pattern(4 << 20);
    HttpServer server([&](const std::string& target) {
        // Half the body is out when the user cancels; the rest comes all the same.
        if (target == "/whole") return Reply{.body = bytes};
        return Reply{.body = bytes, .midway = [] { setup::s_cancel = true; }};
    });
    const fs::path file = scratch_.root() / "partial.bin";
    EXPECT_EQ(FailureOf([&] { Get({.url = server.Url("/big"), .file = &file}); }), L"Cancelled.");
    const std::string written = FileText(file);
    EXPECT_LT(written.size(), bytes.size());
    EXPECT_EQ(written, bytes.substr(0, written.size()));

    // One that comes with the last bytes, when no call is left to wait, counts as well.
    std::atomic<bool> cancel{false};
    const setup::win::DownloadContext context{[](const std::wstring&) {},
                                              [&](int percent, std::uint64_t, std::uint64_t) { cancel = percent == 100; },
                                              &cancel};
    EXPECT_FALSE(setup::win::Get(server.Url("/whole"), nullptr, &file, {}, nullptr, context));
    EXPECT_EQ(FileText(file), bytes);
}

TEST_F(Download, PostsProgressAtMostOncePerWholePercent) {
    // 48 MB, sent in odd-sized pieces of 1 MB + 3 so that chunk ends fall anywhere.
    HttpServer server([](const std::string&) { return Reply{.body = Pattern((1 << 20) + 3), .repeat = 48}; });
    const fs::path file = scratch_.root() / "Git.zip";
    const std::uint64_t size = 48 * ((1 << 20) + 3);
    ASSERT_TRUE(Get({.url = server.Url("/git.zip"), .file = &file, .label = L"Git"}));
    EXPECT_EQ(fs::file_size(file), size);

    const auto posted = window_.Take();
    ASSERT_GE(posted.size(), 2u);
    ASSERT_LE(posted.size(), 202u);
    // Each percent with the status it showed: its own, posted after it unless the same text shows.
    std::vector<std::pair<int, std::wstring>> shown;
    for (const testing_support::Posted& item : posted) {
        if (item.kind == setup::Report::kProgress) {
            shown.emplace_back(item.value, shown.empty() ? L"" : shown.back().second);
        } else {
            ASSERT_EQ(item.kind, setup::Report::kStatus);
            ASSERT_FALSE(shown.empty());
            shown.back().second = item.text;
        }
    }
    const std::wregex text(LR"(Downloading Git: (\d+) MB of 48 MB)");
    int last = -1, lastMegabytes = 0;
    for (const auto& [percent, status] : shown) {
        EXPECT_GT(percent, last) << "one post per whole percent";
        last = percent;

        std::wsmatch match;
        ASSERT_TRUE(std::regex_match(status, match, text)) << status;
        const int megabytes = std::stoi(match[1]);
        // The amount received lies within this percent: 0.48 MB per percent of 48 MB.
        EXPECT_GE(megabytes, static_cast<int>(percent * 0.48 + 0.5) - 1);
        EXPECT_LE(megabytes, static_cast<int>((percent + 1) * 0.48 + 0.5));
        EXPECT_GE(megabytes, lastMegabytes);
        lastMegabytes = megabytes;
        if (percent == 25) {
            EXPECT_EQ(status, L"Downloading Git: 12 MB of 48 MB");
        }
    }
    EXPECT_EQ(last, 100);
    EXPECT_EQ(shown.back().second, L"Downloading Git: 48 MB of 48 MB");
}

TEST_F(Download, AnUnknownLengthShowsTheLabelOnceAndNoLabelPostsNothing) {
    HttpServer server([](const std::string&) { return Reply{.body = Pattern(1 << 20), .repeat = 2, .length = false}; });
    const fs::path file = scratch_.root() / "python.nupkg";
    ASSERT_TRUE(Get({.url = server.Url("/python.nupkg"), .file = &file, .label = L"Python"}));
    const auto posted = window_.Take();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].kind, setup::Report::kProgress);
    EXPECT_EQ(posted[0].value, -1) << "the marquee";
    EXPECT_EQ(posted[1].kind, setup::Report::kStatus);
    EXPECT_TRUE(std::regex_match(posted[1].text, std::wregex(LR"(Downloading Python: [0-2] MB)"))) << posted[1].text;

    std::string body;
    ASSERT_TRUE(Get({.url = server.Url("/python.nupkg"), .body = &body, .file = &file}));
    EXPECT_EQ(body.size(), 2u << 20);
    EXPECT_TRUE(window_.Take().empty());
}

}  // namespace
