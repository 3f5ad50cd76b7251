// The end-to-end sandbox, once over, as the setup meets it: the release answers and their
// archives over WinHTTP, unpacked by the tar.exe in the system folder; NuGet; the fault
// switches; a clone of the project over HTTP with the git stand-in; and the project's build
// script run with the Python stand-in.
#include "support/sandbox.h"
#include "support/scratch.h"
#include "worker/services.h"

#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>

namespace fs = std::filesystem;
using namespace testing_support;
using setup::win::Widen;

namespace {

struct Answer {
    DWORD status = 0;
    std::string body;
    bool whole = false;  // the connection held, and the body is as long as announced
};

using Internet = std::unique_ptr<void, decltype(&WinHttpCloseHandle)>;

Answer Fetch(const std::wstring& url) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    Answer answer;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return answer;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength + parts.dwExtraInfoLength);
    Internet session(WinHttpOpen(L"Quorin-Setup", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, nullptr, nullptr, 0),
                     WinHttpCloseHandle);
    Internet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0), WinHttpCloseHandle);
    Internet request(WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr, nullptr, nullptr, 0),
                     WinHttpCloseHandle);
    if (!request || !WinHttpSendRequest(request.get(), nullptr, 0, nullptr, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr))
        return answer;
    DWORD size = sizeof answer.status;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr, &answer.status,
                        &size, nullptr);
    DWORD length = 0;
    size = sizeof length;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER, nullptr, &length,
                        &size, nullptr);
    char buffer[65536];
    DWORD got = 0;
    bool held = true;
    while ((held = WinHttpReadData(request.get(), buffer, sizeof buffer, &got)) && got) answer.body.append(buffer, got);
    answer.whole = held && answer.body.size() == length;
    return answer;
}

// The download link of the first asset whose whole file name fits the pattern, as the setup
// picks it.
std::string AssetLink(const std::string& answer, const std::string& pattern) {
    const std::regex link("\"browser_download_url\"\\s*:\\s*\"([^\"]+)\""), name(pattern, std::regex::icase);
    for (std::sregex_iterator it(answer.begin(), answer.end(), link), end; it != end; ++it) {
        const std::string url = (*it)[1];
        if (std::regex_match(url.substr(url.rfind('/') + 1), name)) return url;
    }
    return {};
}

struct Tool {
    const char* repo;
    const char* pattern;
    const wchar_t* program;  // where the archive holds it
};

const Tool kTools[] = {
    {"git-for-windows/git", R"(MinGit-[0-9.]+-64-bit\.zip)", L"cmd\\git.exe"},
    {"Kitware/CMake", R"(cmake-[0-9.]+-windows-x86_64\.zip)", L"cmake-3.29.3-windows-x86_64\\bin\\cmake.exe"},
    {"ninja-build/ninja", R"(ninja-win\.zip)", L"ninja.exe"},
    {"mstorsjo/llvm-mingw", R"(llvm-mingw-[0-9]+-ucrt-x86_64\.zip)",
     L"llvm-mingw-20240518-ucrt-x86_64\\bin\\clang++.exe"},
};

std::wstring Api(const std::string& repo) { return std::wstring(setup::kGitHubApi) + L"/repos/" + Widen(repo) + L"/releases/latest"; }

class Sandbox : public ::testing::Test {
protected:
    void SetUp() override {
        SetFaults("");
        ClearRequests();
    }
    void TearDown() override { SetFaults(""); }

    // Downloads an archive and unpacks it with the system's tar.exe, as the setup does.
    fs::path Unpack(const std::wstring& url, const std::wstring& name) {
        const Answer archive = Fetch(url);
        EXPECT_EQ(archive.status, 200u);
        EXPECT_TRUE(archive.whole);
        const fs::path file = scratch_.root() / (name + L".zip"), folder = scratch_.Folder(L"t\u00f6\u00f6ls\\" + name);
        std::ofstream(file, std::ios::binary) << archive.body;
        wchar_t system[MAX_PATH];
        GetSystemDirectoryW(system, MAX_PATH);
        const auto tar =
            RunProgram(Quote(system + std::wstring(L"\\tar.exe")) + L" -xf " + Quote(file) + L" -C " + Quote(folder));
        EXPECT_EQ(tar.code, 0) << tar.output;
        return folder;
    }

    std::string StandInBytes() const { return FileText(HostPath("QUORIN_STANDIN")); }

    Scratch scratch_;
};

TEST_F(Sandbox, ReleasesListDecoysFirstAndTheirArchivesHoldTheProgram) {
    for (const Tool& tool : kTools) {
        SCOPED_TRACE(tool.repo);
        const Answer release = Fetch(Api(tool.repo));
        ASSERT_EQ(release.status, 200u);
        EXPECT_TRUE(std::regex_search(release.body, std::regex("\"tag_name\"\\s*:\\s*\"[^\"]+\"")));
        const std::string link = AssetLink(release.body, tool.pattern);
        ASSERT_FALSE(link.empty()) << release.body;
        const std::string name = link.substr(link.rfind('/') + 1);
        EXPECT_LT(release.body.find("/" + name + "."), release.body.find("/" + name + "\""))
            << "a checksum file named like the archive comes first";

        const fs::path folder = Unpack(Widen(link), Widen(name));
        EXPECT_TRUE(FileText((folder / tool.program).wstring()) == StandInBytes()) << "the stand-in, unpacked";
    }
    EXPECT_NE(Requests().find("GET /repos/Kitware/CMake/releases/latest 200\n"), std::string::npos) << Requests();
}

TEST_F(Sandbox, NuGetListsPythonVersionsAndServesEachPackage) {
    const Answer index = Fetch(std::wstring(setup::kNuGetBase) + L"/v3-flatcontainer/python/index.json");
    ASSERT_EQ(index.status, 200u);
    for (const char* version : {"\"3.11.9\"", "\"3.12.9\"", "\"3.12.10\"", "\"3.12.1rc1\"", "\"3.13.0\""})
        EXPECT_NE(index.body.find(version), std::string::npos) << version;

    const fs::path folder = Unpack(std::wstring(setup::kNuGetBase) +
                                       L"/v3-flatcontainer/python/3.12.10/python.3.12.10.nupkg",
                                   L"Python");
    EXPECT_TRUE(FileText((folder / L"tools\\python.exe").wstring()) == StandInBytes()) << "the stand-in, unpacked";
    EXPECT_EQ(Fetch(std::wstring(setup::kNuGetBase) + L"/v3-flatcontainer/python/3.12.11/python.3.12.11.nupkg").status,
              404u)
        << "only listed versions are served";
}

TEST_F(Sandbox, FaultSwitchesChangeAnswersUntilTurnedOff) {
    const std::wstring ninjaArchive = Widen(AssetLink(Fetch(Api("ninja-build/ninja")).body, kTools[2].pattern)),
                       cmakeArchive = Widen(AssetLink(Fetch(Api("Kitware/CMake")).body, kTools[1].pattern));
    ClearRequests();
    SetFaults(R"({"answers": [{"path": "/repos/Kitware/.*", "status": 404},
                              {"path": "/repos/ninja-build/ninja/releases/latest", "drop": true},
                              {"path": "/repos/mstorsjo/.*", "truncate": true}],
                  "drop_assets": ["git-for-windows/git"],
                  "python_versions": ["3.12.1rc1", "3.13.0"]})");
    EXPECT_EQ(Fetch(Api("Kitware/CMake")).status, 404u);
    EXPECT_EQ(Fetch(Api("ninja-build/ninja")).status, 0u) << "no answer at all";
    const Answer truncated = Fetch(Api("mstorsjo/llvm-mingw"));
    EXPECT_FALSE(truncated.whole);
    const Answer git = Fetch(Api("git-for-windows/git"));
    EXPECT_EQ(git.status, 200u);
    EXPECT_EQ(AssetLink(git.body, kTools[0].pattern), "") << "the archive is gone";
    EXPECT_NE(git.body.find("MinGit-2.45.1-64-bit.zip.sha256"), std::string::npos) << "the decoys stay";
    const Answer index = Fetch(std::wstring(setup::kNuGetBase) + L"/v3-flatcontainer/python/index.json");
    EXPECT_EQ(index.body.find("\"3.12.10\""), std::string::npos);
    EXPECT_EQ(Requests(), "GET /repos/Kitware/CMake/releases/latest 404\n"
                          "GET /repos/ninja-build/ninja/releases/latest dropped\n"
                          "GET /repos/mstorsjo/llvm-mingw/releases/latest 200\n"
                          "GET /repos/git-for-windows/git/releases/latest 200\n"
                          "GET /v3-flatcontainer/python/index.json 200\n");

    // Slow or swapped archives still arrive whole.
    const Answer ninja = Fetch(ninjaArchive);
    const std::wstring noProgram = std::wstring(setup::kGitHubApi) + L"/sandbox/no-program.zip";
    SetFaults(R"({"answers": [{"path": ".*/ninja-win\\.zip", "rate": 4000000},
                              {"path": ".*/cmake-.*\\.zip", "serve": "/sandbox/no-program.zip"}]})");
    EXPECT_TRUE(Fetch(ninjaArchive).body == ninja.body);
    EXPECT_TRUE(Fetch(cmakeArchive).body == Fetch(noProgram).body);

    SetFaults("{not json");
    EXPECT_EQ(Fetch(Api("Kitware/CMake")).status, 500u) << "a broken switch file is loud";
    SetFaults("");
    EXPECT_EQ(Fetch(Api("Kitware/CMake")).status, 200u);
    const Answer whole = Fetch(Api("mstorsjo/llvm-mingw"));
    EXPECT_TRUE(whole.whole);
    EXPECT_EQ(truncated.body, whole.body.substr(0, whole.body.size() / 2)) << "half of it came";
}

// The project's repository through the git stand-in, then its build script through the Python
// stand-in with git, cmake and ninja on PATH, as the setup runs them.
TEST_F(Sandbox, ProjectClonesOverHttpAndItsBuildScriptBuildsTheGame) {
    const std::wstring tools = scratch_.Folder(L"tools").wstring();
    const std::wstring git = Quote(StandIn(tools, L"git.exe"));
    for (const wchar_t* name : {L"python.exe", L"cmake.exe", L"ninja.exe"}) StandIn(tools, name);
    const std::wstring install = scratch_.Folder(L"Quorin \u00c9dition").wstring(), repo = install + L"\\quorin-recomp",
                       q = L" -C " + Quote(repo) + L" ";

    const auto clone = RunProgram(git + L" clone " + Widen(setup::kRepoUrl) + L" " + Quote(repo), install);
    ASSERT_EQ(clone.code, 0) << clone.output;
    EXPECT_EQ(RunProgram(git + q + L"tag").output, "v1.0.0\nv1.1.0\n");
    EXPECT_EQ(RunProgram(git + q + L"symbolic-ref -q --short HEAD").output, "main\n");
    EXPECT_EQ(FileText(repo + L"\\VERSION"), "1.2.0-dev\n");
    ASSERT_EQ(RunProgram(git + q + L"checkout --force v1.0.0").code, 0);
    EXPECT_EQ(FileText(repo + L"\\VERSION"), "1.0.0\n");
    EXPECT_NE(RunProgram(git + q + L"symbolic-ref -q --short HEAD").code, 0) << "detached at the tag";

    // Tests put clones into states of their own with real git: a local commit, say.
    ASSERT_EQ(RunProgram(git + q + L"checkout --force main").code, 0);
    std::ofstream(fs::path(repo) / "VERSION") << "mine\n";
    EXPECT_EQ(RunProgram(git + q + L"commit -qam \"a change of my own\"").code, 0);

    SetFaults(R"({"repository": "without-v1.0.0"})");
    EXPECT_EQ(RunProgram(git + q + L"ls-remote --tags --refs origin").output.find("v1.0.0"), std::string::npos);
    SetFaults(R"({"answers": [{"path": "/git/.*", "status": 500}]})");
    EXPECT_NE(RunProgram(git + q + L"fetch --tags --force origin").code, 0);
    SetFaults("");

    PathPrefix path(tools);
    const std::wstring python = Quote(tools + L"\\python.exe") + L" -u tools\\build.py";
    const auto build = RunProgram(python + L" --iso " + Quote(SandboxPath(L"game.iso")), repo);

    ASSERT_EQ(build.code, 0) << build.output;
    for (const char* line : {"==> Extracting the game files\n", "  100% ", "[1/8] ", "-- cmake: cmake version",
                             "-- ninja: ", "-- git: git version", "==> Done\n"})
        EXPECT_NE(build.output.find(line), std::string::npos) << line << "\n" << build.output;
    EXPECT_EQ(FileText(repo + L"\\game\\extracted\\default.xex").substr(0, 4), "XEX2");
    for (const wchar_t* file : {L"build\\obj\\main.o", L"build\\obj\\kernel.obj", L"build\\lib\\libquorin.a",
                                L"build\\pch\\pch.gch", L"build\\CMakeCache.txt", L"generated\\ppc\\ppc_recomp.1.cpp",
                                L"build\\runtime\\QuorinLauncher.exe"})
        EXPECT_TRUE(fs::is_regular_file(fs::path(repo) / file)) << Utf8(file);

    // The build's own switches; without --iso it builds from the extracted game.
    const fs::path launcher = fs::path(repo) / "build" / "runtime" / "QuorinLauncher.exe";
    SetFaults(R"({"build": "hostile"})");
    const auto hostile = RunProgram(python, repo);
    EXPECT_EQ(hostile.code, 0) << hostile.output.substr(0, 2000);
    EXPECT_NE(hostile.output.find("\n[5/0] "), std::string::npos);
    fs::remove(launcher);
    SetFaults(R"({"build": "no-launcher"})");
    EXPECT_EQ(RunProgram(python, repo).code, 0);
    EXPECT_FALSE(fs::exists(launcher));
    SetFaults(R"({"build": "fail"})");
    const auto failed = RunProgram(python, repo);
    EXPECT_EQ(failed.code, 2);
    EXPECT_NE(failed.output.find("error: src/kernel.cpp: the compiler crashed"), std::string::npos) << failed.output;
}

}  // namespace
