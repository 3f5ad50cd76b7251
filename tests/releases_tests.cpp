// The release lookups against a fake GitHub API on the sandbox's port, as the test build of the
// program has it compiled in.
#include "globals.h"
#include "report.h"
#include "support/fixture.h"
#include "support/http_server.h"
#include "support/test_window.h"
#include "support/worker.h"
#include "win/convert.h"
#include "win/errors.h"
#include "worker/releases.h"
#include "worker/services.h"

#include <gtest/gtest.h>

#include <map>

using setup::LatestAsset;
using setup::ReleaseTag;
using setup::win::Widen;
using testing_support::FailureOf;
using testing_support::HttpServer;
using testing_support::Reply;

namespace {

// The port of the API address compiled into the test build, "http://127.0.0.1:<port>".
std::uint16_t SandboxPort() {
    const std::wstring api = setup::kGitHubApi;
    return static_cast<std::uint16_t>(std::stoi(api.substr(api.rfind(L':') + 1)));
}
const char* const kCMake = "cmake-[0-9.]+-windows-x86_64\\.zip";

// A digest of the asset's own, made up from its name's length.
std::string Sha256(const std::string& name) { return std::string(64, "0123456789abcdef"[name.size() % 16]); }

// A latest-release answer shaped like the real API's, with the given asset file names.
std::string Answer(const std::vector<std::string>& names) {
    std::string answer = R"({"url": "x", "tag_name": "v3.30.1", "name": "CMake 3.30.1", "assets": [)";
    for (const std::string& name : names) {
        answer += R"({"name": ")" + name + R"(", "size": 1234, "digest": "sha256:)" + Sha256(name) +
                  R"(", "browser_download_url": "https://github.com/Kitware/CMake/releases/download/v3.30.1/)" +
                  name + R"("},)";
    }
    return answer + R"(], "body": "notes"})";
}

std::wstring Link(const std::string& name) {
    return L"https://github.com/Kitware/CMake/releases/download/v3.30.1/" + Widen(name);
}

class Releases : public testing_support::WorkerTest {
protected:
    // Serves `answers` by request target; anything else is a 404.
    void Serve(std::map<std::string, std::string> answers) {
        server_.emplace(
            [answers = std::move(answers)](const std::string& target) {
                const auto found = answers.find(target);
                return found == answers.end() ? Reply{.status = 404, .body = R"({"message": "Not Found"})"}
                                              : Reply{.body = found->second};
            },
            SandboxPort());
    }

    testing_support::TestWindow window_;
    std::optional<HttpServer> server_;
};

TEST_F(Releases, LatestAssetTakesTheFirstFileThatFitsWholly) {
    Serve({{"/repos/Kitware/CMake/releases/latest",
            Answer({"cmake-3.30.1-windows-x86_64.zip.sha256", "cmake-3.30.1-windows-arm64.zip",
                    "cmake-3.30.1-windows-x86_64.zip", "cmake-3.30.1-windows-x86_64.msi"})},
           {"/repos/other/case/releases/latest", Answer({"CMAKE-3.30.1-Windows-X86_64.Zip"})},
           {"/repos/other/two/releases/latest",
            Answer({"cmake-3.30.2-windows-x86_64.zip", "cmake-3.30.1-windows-x86_64.zip"})}});

    const setup::Archive cmake = LatestAsset("Kitware/CMake", kCMake);
    EXPECT_EQ(cmake.url, Link("cmake-3.30.1-windows-x86_64.zip"))
        << "the checksum file listed first only begins like the archive";
    EXPECT_EQ(cmake.sha256, Sha256("cmake-3.30.1-windows-x86_64.zip")) << "with its own digest";
    EXPECT_EQ(LatestAsset("other/case", kCMake).url, Link("CMAKE-3.30.1-Windows-X86_64.Zip"));
    EXPECT_EQ(LatestAsset("other/two", kCMake).url, Link("cmake-3.30.2-windows-x86_64.zip")) << "the first listed wins";
    EXPECT_TRUE(window_.Take().empty()) << "no progress and no log for a lookup";
}

TEST_F(Releases, LatestAssetFailsWithAMessageOfItsOwn) {
    Serve({{"/repos/Kitware/CMake/releases/latest", Answer({"cmake-3.30.1-windows-x86_64.zip.sha256"})},
           {"/repos/no/links/releases/latest", R"({"tag_name": "v1", "assets": []})"},
           {"/repos/empty/answer/releases/latest", ""},
           {"/repos/cut/answer/releases/latest", Answer({"cmake-3.30.1-windows-x86_64.zip"}).substr(0, 150)},
           {"/repos/huge/answer/releases/latest",
            R"({"browser_download_url": "https://x/)" + std::string(24 << 20, 'z')}});

    for (const char* repository : {"Kitware/CMake", "no/links", "empty/answer", "cut/answer", "huge/answer"}) {
        const std::string name = repository;
        EXPECT_EQ(FailureOf([&] { LatestAsset(repository, kCMake); }),
                  L"No download of " + Widen(name) + L" matched what Setup expects.");
    }
    EXPECT_EQ(FailureOf([&] { LatestAsset("not/served", kCMake); }),
              L"Couldn't reach GitHub to find not/served. Check the internet connection.")
        << "any status but 200 counts as unreachable";
}

TEST_F(Releases, LatestAssetWithoutTheApiSaysCheckTheConnection) {
    EXPECT_EQ(FailureOf([&] { LatestAsset("git-for-windows/git", "MinGit-[0-9.]+-64-bit\\.zip"); }),
              L"Couldn't reach GitHub to find git-for-windows/git. Check the internet connection.");

    // GitHub's secondary limits say what they are in the body alone, and name no time.
    server_.emplace([](const std::string&) {
        return Reply{.status = 403, .body = R"({"message": "You have exceeded a secondary rate limit."})"};
    }, SandboxPort());
    EXPECT_EQ(FailureOf([&] { LatestAsset("git-for-windows/git", "MinGit-[0-9.]+-64-bit\\.zip"); }),
              L"Couldn't reach GitHub to find git-for-windows/git. GitHub's limit on requests from this network was "
              L"reached; try again in an hour.");
}

TEST_F(Releases, ReleaseTagIsTheFirstTagOrEmpty) {
    EXPECT_EQ(ReleaseTag(), L"") << "no API";
    EXPECT_EQ(window_.LogLines(),
              std::vector<std::wstring>{std::wstring(setup::kGitHubApi) +
                                        L"/repos/quorin-recomp/quorin-recomp/releases/latest: " +
                                        setup::win::ErrorText(12029, L"couldn't connect")})
        << "only the log says why";

    Serve({{"/repos/quorin-recomp/quorin-recomp/releases/latest",
            R"({"tag_name" :  "v1.4.0", "name": "x", "tag_name": "v0.1"})"}});
    EXPECT_EQ(ReleaseTag(), L"v1.4.0");

    Serve({{"/repos/quorin-recomp/quorin-recomp/releases/latest", R"({"tag_name": 7, "name": "v1"})"}});
    EXPECT_EQ(ReleaseTag(), L"");
    EXPECT_TRUE(window_.Take().empty()) << "no message either way";
}

}  // namespace
