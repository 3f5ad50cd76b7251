// The download with real WinHTTP under Wine against a loopback server that each test scripts.
#include "globals.h"
#include "http.h"
#include "support/http_server.h"
#include "support/scratch.h"
#include "support/test_window.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>

namespace fs = std::filesystem;
using setup::Get;
using testing_support::HttpServer;
using testing_support::Reply;
using testing_support::TestWindow;

namespace {

class Download : public ::testing::Test {
protected:
    void SetUp() override { setup::s_cancel = false; }
    void TearDown() override { setup::s_cancel = false; }

    static std::string Read(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
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
    EXPECT_TRUE(Get(server.Url("/sized"), &body, nullptr, nullptr));
    EXPECT_EQ(body, "kept:hello") << "the body is appended";

    body.clear();
    const fs::path file = scratch_.root() / u8"t\u00e9l\u00e9chargement.bin";
    EXPECT_TRUE(Get(server.Url("/stream"), &body, &file, nullptr)) << "no length: the end of the stream is the end";
    EXPECT_EQ(body, big);
    EXPECT_EQ(Read(file), big);

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
    EXPECT_TRUE(Get(server.Url("/old?x=1"), &body, nullptr, nullptr));
    EXPECT_EQ(body, "moved here");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[1].starts_with("GET /new?y=2&z=%41 HTTP/1.1\r\n")) << requests[1];
}

TEST_F(Download, AnyOtherStatusFailsAndLeavesAnEmptyFile) {
    HttpServer server([](const std::string& target) {
        return Reply{.status = std::stoi(target.substr(1)), .body = "<html>not the file</html>"};
    });
    for (const char* status : {"/404", "/500", "/201", "/206"}) {
        SCOPED_TRACE(status);
        const fs::path file = scratch_.File("archive.zip", 1000);
        std::string body;
        EXPECT_FALSE(Get(server.Url(status), &body, &file, L"Git"));
        EXPECT_TRUE(fs::exists(file));
        EXPECT_EQ(fs::file_size(file), 0u);
        EXPECT_EQ(body, "");
    }
    EXPECT_TRUE(window_.Take().empty()) << "no progress for a failed answer";
}

TEST_F(Download, AShortBodyOrABrokenConnectionFails) {
    HttpServer server([](const std::string& target) {
        if (target == "/short") return Reply{.body = std::string(100000, 's'), .missing = 10};
        if (target == "/cut") return Reply{.body = std::string(100000, 'c'), .length = false, .missing = 500};
        return Reply{.drop = true};
    });
    std::string body;
    EXPECT_FALSE(Get(server.Url("/short"), &body, nullptr, nullptr));
    EXPECT_EQ(body, std::string(99990, 's')) << "what arrived is kept";
    body.clear();
    EXPECT_TRUE(Get(server.Url("/cut"), &body, nullptr, nullptr)) << "without a length, the end is where it ends";
    EXPECT_EQ(body.size(), 99500u);
    EXPECT_FALSE(Get(server.Url("/drop"), &body, nullptr, nullptr));
}

TEST_F(Download, FailsWithoutAServerOrAUsableUrl) {
    std::string body;
    const std::wstring refused = L"http://127.0.0.1:" + std::to_wstring(HttpServer::ClosedPort()) + L"/x";
    EXPECT_FALSE(Get(refused, &body, nullptr, nullptr));
    EXPECT_FALSE(Get(L"not a url", &body, nullptr, nullptr));
    EXPECT_FALSE(Get(L"http://" + std::wstring(300, L'h') + L"/", &body, nullptr, nullptr)) << "host name too long";
    EXPECT_FALSE(Get(L"http://127.0.0.1:1/" + std::wstring(3000, L'p'), &body, nullptr, nullptr)) << "path too long";

    HttpServer server([](const std::string&) { return Reply{.body = "x"}; });
    const fs::path noFolder = scratch_.root() / "missing" / "file.zip";
    EXPECT_FALSE(Get(server.Url("/"), nullptr, &noFolder, nullptr)) << "the file can't be made";
    EXPECT_TRUE(body.empty());
}

TEST_F(Download, ACancelStopsBetweenChunksAndKeepsWhatWasWritten) {
    const std::string bytes = Pattern(4 << 20);
    HttpServer server([&](const std::string&) {
        // Half the body is out when the user cancels; the rest comes all the same.
        return Reply{.body = bytes, .midway = [] { setup::s_cancel = true; }};
    });
    const fs::path file = scratch_.root() / "partial.bin";
    EXPECT_FALSE(Get(server.Url("/big"), nullptr, &file, nullptr));
    const std::string written = Read(file);
    EXPECT_LT(written.size(), bytes.size());
    EXPECT_EQ(written, bytes.substr(0, written.size()));
}

TEST_F(Download, PostsProgressAtMostOncePerWholePercent) {
    // 48 MB, sent in odd-sized pieces of 1 MB + 3 so that chunk ends fall anywhere.
    HttpServer server([](const std::string&) { return Reply{.body = Pattern((1 << 20) + 3), .repeat = 48}; });
    const fs::path file = scratch_.root() / "Git.zip";
    const std::uint64_t size = 48 * ((1 << 20) + 3);
    ASSERT_TRUE(Get(server.Url("/git.zip"), nullptr, &file, L"Git"));
    EXPECT_EQ(fs::file_size(file), size);

    const auto posted = window_.Take();
    ASSERT_GE(posted.size(), 2u);
    ASSERT_LE(posted.size(), 202u);
    const std::wregex text(LR"(Downloading Git: (\d+) MB of 48 MB)");
    int last = -1, lastMegabytes = 0;
    for (std::size_t i = 0; i < posted.size(); i += 2) {
        ASSERT_EQ(posted[i].message, setup::kProgressMessage);
        ASSERT_EQ(posted[i + 1].message, setup::kStatusMessage);
        const int percent = posted[i].value;
        EXPECT_GT(percent, last) << "one post per whole percent";
        last = percent;

        std::wsmatch match;
        ASSERT_TRUE(std::regex_match(posted[i + 1].text, match, text)) << posted[i + 1].text;
        const int megabytes = std::stoi(match[1]);
        // The amount received lies within this percent: 0.48 MB per percent of 48 MB.
        EXPECT_GE(megabytes, static_cast<int>(percent * 0.48 + 0.5) - 1);
        EXPECT_LE(megabytes, static_cast<int>((percent + 1) * 0.48 + 0.5));
        EXPECT_GE(megabytes, lastMegabytes);
        lastMegabytes = megabytes;
        if (percent == 25) {
            EXPECT_EQ(posted[i + 1].text, L"Downloading Git: 12 MB of 48 MB");
        }
    }
    EXPECT_EQ(last, 100);
    EXPECT_EQ(posted.back().text, L"Downloading Git: 48 MB of 48 MB");
}

TEST_F(Download, AnUnknownLengthShowsTheLabelOnceAndNoLabelPostsNothing) {
    HttpServer server([](const std::string&) { return Reply{.body = Pattern(1 << 20), .repeat = 2, .length = false}; });
    const fs::path file = scratch_.root() / "python.nupkg";
    ASSERT_TRUE(Get(server.Url("/python.nupkg"), nullptr, &file, L"Python"));
    const auto posted = window_.Take();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].message, setup::kProgressMessage);
    EXPECT_EQ(posted[0].value, -1) << "the marquee";
    EXPECT_EQ(posted[1].message, setup::kStatusMessage);
    EXPECT_TRUE(std::regex_match(posted[1].text, std::wregex(LR"(Downloading Python: [0-2] MB)"))) << posted[1].text;

    std::string body;
    ASSERT_TRUE(Get(server.Url("/python.nupkg"), &body, &file, nullptr));
    EXPECT_EQ(body.size(), 2u << 20);
    EXPECT_TRUE(window_.Take().empty());
}

}  // namespace
