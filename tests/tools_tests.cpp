// The build-tools phase in the test program against the sandbox: where each tool comes from, what
// goes on the PATH and in what order, what is logged, and what a later run finds.
#include "globals.h"
#include "report.h"
#include "support/fixture.h"
#include "support/sandbox.h"
#include "support/sandbox_tools.h"
#include "support/scratch.h"
#include "support/shortcut.h"
#include "support/test_window.h"
#include "support/worker.h"
#include "win/environment.h"
#include "win/errors.h"
#include "worker/phases/tools.h"
#include "worker/programs.h"
#include "worker/releases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <regex>
#include <thread>

namespace fs = std::filesystem;
using namespace testing_support;
using setup::win::Variable;

namespace {

const SandboxTool& kGit = SandboxToolNamed(L"Git");
const SandboxTool& kNinja = SandboxToolNamed(L"Ninja");
const SandboxTool& kPython = SandboxToolNamed(L"Python");

// What the phase sets for every git that follows.
const wchar_t* const kGitNetwork[] = {L"GIT_CONFIG_COUNT", L"GIT_CONFIG_KEY_0",   L"GIT_CONFIG_VALUE_0",
                                      L"GIT_CONFIG_KEY_1", L"GIT_CONFIG_VALUE_1", L"GIT_CONFIG_KEY_2",
                                      L"GIT_CONFIG_VALUE_2", L"HTTPS_PROXY",      L"HTTP_PROXY"};

class ToolsPhase : public WorkerTest {
protected:
    void SetUp() override {
        WorkerTest::SetUp();
        SetFaults("");
        ClearRequests();
        SetEnvironmentVariableW(L"PATH", system_.c_str());
    }
    void TearDown() override {
        WorkerTest::TearDown();
        SetFaults("");
        SetEnvironmentVariableW(L"PATH", original_.c_str());
        for (const wchar_t* name : kGitNetwork) SetEnvironmentVariableW(name, nullptr);
    }

    // Runs the phase; its failure message, or "" when it went through.
    std::wstring Prepare() {
        return testing_support::FailureOf([&] { setup::PrepareTools(dir_); });
    }

    // A PATH of a folder with these programs (empty files), then the system's: the user's own.
    fs::path OnPath(std::initializer_list<const wchar_t*> programs) {
        const fs::path bin = scratch_.Folder(L"bin");
        for (const wchar_t* program : programs) scratch_.File(bin / program);
        SetEnvironmentVariableW(L"PATH", (bin.wstring() + L";" + system_).c_str());
        return bin;
    }

    const WorkerJob job_;
    const std::wstring original_ = Variable(L"PATH");
    const std::wstring system_ = SystemPath();
    Scratch scratch_;
    const fs::path dir_ = scratch_.root() / L"Quorin \u00c9dition";
    TestWindow window_;
};

TEST_F(ToolsPhase, FetchesEveryToolOnceAndPutsItsFolderOnThePath) {
    ASSERT_EQ(Prepare(), L"");

    std::vector<std::wstring> expected = {L"== Checking the tools"}, expectedStatuses = {L"Checking the tools"};
    std::wstring path = system_;
    for (const SandboxTool& tool : kSandboxTools) {
        for (std::wstring& line : FetchLines(dir_, tool)) expected.push_back(std::move(line));
        const std::uintmax_t size = fs::file_size(ServedArchive(tool));
        expectedStatuses.push_back(L"Downloading " + std::wstring(tool.name) + L": " +
                                   std::to_wstring(std::lround(static_cast<double>(size) / (1 << 20))) + L" MB of " +
                                   std::to_wstring(size >> 20) + L" MB");
        expectedStatuses.push_back(L"Unpacking " + std::wstring(tool.name));
        path = Unpacked(dir_, tool).parent_path().wstring() + L";" + path;
        EXPECT_FALSE(fs::exists(Archive(dir_, tool))) << "the archive is deleted";
    }
    const std::vector<Posted> posted = window_.Take();
    std::vector<std::wstring> log, statuses;
    for (const Posted& item : posted) {
        if (item.kind == setup::Report::kLines) log.push_back(item.text);
        // Of a download's progress, the last.
        const bool sameDownload = !statuses.empty() && statuses.back().starts_with(L"Downloading ") &&
                                  item.text.starts_with(statuses.back().substr(0, statuses.back().find(L':')));
        if (item.kind == setup::Report::kStatus && sameDownload)
            statuses.back() = item.text;
        else if (item.kind == setup::Report::kStatus)
            statuses.push_back(item.text);
    }
    EXPECT_EQ(log, expected);
    EXPECT_EQ(Variable(L"PATH"), path) << "the tool folders in front, in reverse table order";
    EXPECT_EQ(statuses, expectedStatuses) << "the last progress of each download, its whole size";
    EXPECT_EQ(std::count_if(posted.begin(), posted.end(),
                            [](const Posted& item) {
                                return item.kind == setup::Report::kProgress && item.value == -1;
                            }),
              5)
        << "the marquee while each unpacks";

    // The next run of the program starts with its own PATH and finds every tool where it left it.
    SetEnvironmentVariableW(L"PATH", system_.c_str());
    ClearRequests();
    ASSERT_EQ(Prepare(), L"");
    expected = {L"== Checking the tools"};
    for (const SandboxTool& tool : kSandboxTools) expected.push_back(FetchLines(dir_, tool).back());
    EXPECT_EQ(window_.LogLines(), expected);
    EXPECT_EQ(Variable(L"PATH"), path);
    EXPECT_EQ(Requests(), "") << "no request at all";
}

TEST_F(ToolsPhase, UsesToolsOnThePathAsTheyAreButNoAppStoreAlias) {
    const fs::path bin = scratch_.Folder(L"bin");
    for (const wchar_t* program : {L"git.exe", L"cmake.exe", L"ninja.exe", L"clang++.exe"})
        scratch_.File(bin / program);
    const fs::path alias = scratch_.File(L"Microsoft\\WindowsApps\\python.exe").parent_path();
    const std::wstring path = L";" + alias.wstring() + L";;" + bin.wstring() + L";" + system_ + L";";
    SetEnvironmentVariableW(L"PATH", path.c_str());

    ASSERT_EQ(Prepare(), L"");
    std::vector<std::wstring> expected = {L"== Checking the tools",
                                          L"Git: using " + (bin / L"git.exe").wstring(),
                                          L"CMake: using " + (bin / L"cmake.exe").wstring(),
                                          L"Ninja: using " + (bin / L"ninja.exe").wstring(),
                                          L"Clang: using " + (bin / L"clang++.exe").wstring()};
    for (std::wstring& line : FetchLines(dir_, kPython)) expected.push_back(std::move(line));
    EXPECT_EQ(window_.LogLines(), expected);
    EXPECT_EQ(Variable(L"PATH"), Unpacked(dir_, kPython).parent_path().wstring() + L";" + path)
        << "only Python's folder is added";
    EXPECT_EQ(Requests(), "GET /v3-flatcontainer/python/index.json 200\n"
                          "GET /v3-flatcontainer/python/3.12.10/python.3.12.10.nupkg 200\n");
}

// A tool folder is renamed into place once unpacked whole: one without its program is emptied
// and filled again, and what an unpack cut short left beside it goes; one with its program is
// used as it is, also when a virus scanner kept its archive from being deleted.
TEST_F(ToolsPhase, FillsAgainAToolFolderWithoutItsProgram) {
    const fs::path bin = OnPath({L"cmake.exe", L"clang++.exe", L"python.exe"});
    const fs::path tools = scratch_.Folder(dir_ / L"tools");
    const fs::path git = scratch_.File(tools / L"Git" / L"cmd" / L"git.exe", 100);
    scratch_.File(tools / L"Git.zip", 100);
    scratch_.File(tools / L"Ninja" / L"stale" / L"half.txt");
    scratch_.File(tools / L"Ninja.unpacking" / L"ninja.exe", 100);

    ASSERT_EQ(Prepare(), L"");
    EXPECT_EQ(Requests(), "GET /repos/ninja-build/ninja/releases/latest 200\n"
                          "GET /ninja-build/ninja/releases/download/v1.12.1/ninja-win.zip 302\n"
                          "GET /release-assets/ninja-build/ninja/releases/download/v1.12.1/ninja-win.zip 200\n");
    EXPECT_EQ(fs::file_size(git), 100u) << "used as it is";
    EXPECT_FALSE(fs::exists(tools / L"Ninja" / L"stale"));
    EXPECT_FALSE(fs::exists(tools / L"Ninja.unpacking"));
    EXPECT_EQ(FileText(Unpacked(dir_, kNinja).wstring()), FileText(HostPath("QUORIN_STANDIN"))) << "the unpacked one";

    ClearRequests();
    SetEnvironmentVariableW(L"PATH", (bin.wstring() + L";" + system_).c_str());
    ASSERT_EQ(Prepare(), L"");
    EXPECT_EQ(Requests(), "");
}

// Git's first try ends in a reset, with no length to tell it from the end: it goes on from its
// bytes through the redirect, and its digest then matches. Ninja's release gives none.
TEST_F(ToolsPhase, ABrokenDownloadGoesOnFromItsBytesAndOneWithoutADigestIsUsedUnchecked) {
    const fs::path bin = OnPath({L"cmake.exe", L"clang++.exe", L"python.exe"});
    SetFaults(R"({"answers": [{"path": ".*/MinGit-.*\\.zip", "break": 100000, "times": 1, "reset": true,
                                "length": false}],
                  "no_digest": ["ninja-build/ninja"]})");
    ASSERT_EQ(Prepare(), L"");

    std::vector<std::wstring> expected = FetchLines(dir_, kGit), ninja = FetchLines(dir_, kNinja);
    expected.insert(expected.begin(), L"== Checking the tools");
    expected.insert(expected.begin() + 2,
                    L"Git: the download broke off at 100000 bytes (" + setup::win::ErrorText(WSAECONNRESET) +
                        L"); trying again (2 of 4)");
    expected.push_back(L"CMake: using " + (bin / L"cmake.exe").wstring());
    ninja[1] = L"Ninja: unverified (no SHA-256 was given for it)";
    expected.insert(expected.end(), ninja.begin(), ninja.end());
    expected.push_back(L"Clang: using " + (bin / L"clang++.exe").wstring());
    expected.push_back(L"Python: using " + (bin / L"python.exe").wstring());
    EXPECT_EQ(window_.LogLines(), expected);
    const std::string gitPath = "/git-for-windows/git/releases/download/v2.45.1.windows.1/MinGit-2.45.1-64-bit.zip ";
    EXPECT_EQ(Requests(), "GET /repos/git-for-windows/git/releases/latest 200\nGET " + gitPath + "302\n" +
                              "GET /release-assets" + gitPath + "200\nGET " + gitPath + "302\n" +
                              "GET /release-assets" + gitPath + "206\n" +
                              "GET /repos/ninja-build/ninja/releases/latest 200\n"
                              "GET /ninja-build/ninja/releases/download/v1.12.1/ninja-win.zip 302\n"
                              "GET /release-assets/ninja-build/ninja/releases/download/v1.12.1/ninja-win.zip 200\n");
}

TEST_F(ToolsPhase, AnArchiveThatDoesntMatchItsDigestIsADownloadThatFailed) {
    OnPath({L"git.exe", L"cmake.exe", L"clang++.exe", L"python.exe"});
    SetFaults(R"({"wrong_digest": ["ninja-build/ninja"]})");
    EXPECT_EQ(Prepare(), L"Couldn't download Ninja.");

    const std::vector<std::wstring> log = window_.LogLines();  // the tools before, Ninja's, its tries
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[3], FetchLines(dir_, kNinja, 1)[0]);
    const std::wregex mismatch(LR"(Ninja: the SHA-256 is ([0-9a-f]{64}), not ([0-9a-f]{64})(; trying again \((\d) of 4\))?)");
    std::wsmatch first, line;
    ASSERT_TRUE(std::regex_match(log[4], first, mismatch)) << log[4];
    EXPECT_NE(first[1].str(), first[2].str());
    for (int i = 4; i < 8; ++i) {
        ASSERT_TRUE(std::regex_match(log[i], line, mismatch)) << log[i];
        EXPECT_EQ(line[1].str(), first[1].str());
        EXPECT_EQ(line[2].str(), first[2].str());
        EXPECT_EQ(line[4].str(), i < 7 ? std::to_wstring(i - 2) : L"") << "three more tries";
    }
    EXPECT_FALSE(fs::exists(ToolFolder(dir_, kNinja) / L"ninja.exe")) << "not unpacked";
}

// A failed unpack says what tar stopped at, not the summary that tar ends with; the folder of an
// unpack cut short that can't be emptied is never unpacked over, which would mix its files in.
TEST_F(ToolsPhase, AFailedUnpackSaysWhyAndAStaleFolderIsNeverUnpackedInto) {
    OnPath({L"git.exe", L"cmake.exe", L"clang++.exe", L"python.exe"});
    SetFaults(R"({"answers": [{"path": ".*/ninja-win\\.zip", "serve": "/sandbox/clashing.zip"}]})");
    EXPECT_EQ(Prepare(), L"Couldn't unpack Ninja: bin: Can't replace existing directory with non-directory: Directory not "
                         L"empty.");

    const fs::path unpacking = dir_ / L"tools" / L"Ninja.unpacking";
    const setup::win::FileHandle held = Hold(scratch_.File(unpacking / L"ninja.exe"));
    EXPECT_EQ(Prepare(), L"Couldn't unpack Ninja: its folder " + unpacking.wstring() +
                             L" couldn't be replaced. Close the programs that use it and try again.");
    const std::vector<std::wstring> log = window_.LogLines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.end()[-2], FetchLines(dir_, kNinja, 1)[0]) << "not downloaded";
    EXPECT_EQ(log.back(), L"Couldn't delete " + (unpacking / L"ninja.exe").wstring() + L" (" +
                              setup::win::ErrorText(ERROR_SHARING_VIOLATION) + L")");
}

// The system's tar.exe is set aside for a moment (the sandbox's start puts it back in any case).
TEST_F(ToolsPhase, WithoutTarTheWindowsIsTooOld) {
    OnPath({L"git.exe", L"cmake.exe", L"clang++.exe", L"python.exe"});
    const fs::path tar = SystemFolder() / L"tar.exe", aside = SystemFolder() / L"tar.exe.aside";
    ASSERT_TRUE(MoveFileW(tar.c_str(), aside.c_str()));
    const std::wstring failure = Prepare();
    MoveFileW(aside.c_str(), tar.c_str());
    EXPECT_EQ(failure, L"Couldn't unpack Ninja (Windows 10 1803 or later is needed).");
    EXPECT_EQ(window_.LogLines().back(), L"== Unpacking Ninja") << "not run";
}

TEST_F(ToolsPhase, GitHubsRateLimitIsNamedWithTheTimeToTryAgain) {
    const std::time_t reset = std::time(nullptr) + 1800;
    SetFaults(R"({"answers": [{"path": "/repos/.*", "rate_limit": )" + std::to_string(reset) + "}]}");
    const std::wstring failure = Prepare();
    std::wsmatch time;
    ASSERT_TRUE(std::regex_match(failure, time,
                                 std::wregex(LR"(Couldn't reach GitHub to find git-for-windows/git\. )"
                                             LR"((GitHub's limit on requests from this network was reached; )"
                                             LR"(try again after (\d{1,2}):(\d\d)( [AP]M)?\.))")))
        << failure;
    const std::tm local = *std::localtime(&reset);
    const int hour = std::stoi(time[2]);
    EXPECT_EQ(time[4].matched ? hour % 12 + (time[4] == L" PM" ? 12 : 0) : hour, local.tm_hour) << failure;
    EXPECT_EQ(std::stoi(time[3]), local.tm_min) << failure;

    window_.Take();
    EXPECT_EQ(setup::ReleaseTag(), L"") << "the project's release is looked up without failing";
    const std::vector<std::wstring> log = window_.LogLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), L"The latest release couldn't be looked up. " + time[1].str());
}

// The test child stands in for git, started as every later step starts git, and tells what it
// got from the environment.
std::string GitGot() {
    std::string got;
    std::wstring command = Quote(HostPath("QUORIN_CHILD_EXE"));
    for (const wchar_t* name : kGitNetwork) command += std::wstring(L" --env ") + name;
    setup::Run(command, {}, [&](const std::string& line) { got += line + "\n"; });
    return got;
}

// What Windows' Internet settings name as this user's proxy, for the test's lifetime.
class WindowsProxy {
public:
    explicit WindowsProxy(const std::string& proxy) {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections",
                        0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        // Version, counter, flags (direct, proxy), the proxy, then no bypass list and no script.
        std::vector<DWORD> settings = {0x46, 1, 3, static_cast<DWORD>(proxy.size())};
        std::string blob(reinterpret_cast<const char*>(settings.data()), settings.size() * sizeof(DWORD));
        blob += proxy + std::string(10 * sizeof(DWORD), '\0');
        RegSetValueExW(key_, L"DefaultConnectionSettings", 0, REG_BINARY, reinterpret_cast<const BYTE*>(blob.data()),
                       static_cast<DWORD>(blob.size()));
    }
    ~WindowsProxy() {
        RegDeleteValueW(key_, L"DefaultConnectionSettings");
        RegCloseKey(key_);
    }
    WindowsProxy(const WindowsProxy&) = delete;
    WindowsProxy& operator=(const WindowsProxy&) = delete;

private:
    HKEY key_ = nullptr;
};

TEST_F(ToolsPhase, GitMeetsTheNetworkAsTheDownloadsDo) {
    // Setup's own Git trusts Windows' certificates; Windows names no proxy. Either git trusts the
    // repository folder, whoever owns it.
    OnPath({L"cmake.exe", L"ninja.exe", L"clang++.exe", L"python.exe"});
    ASSERT_EQ(Prepare(), L"");
    std::wstring repo = (dir_ / L"quorin-recomp").lexically_normal().wstring();
    std::replace(repo.begin(), repo.end(), L'\\', L'/');
    const std::string trusted = "GIT_CONFIG_KEY_0=core.longpaths\nGIT_CONFIG_VALUE_0=true\n"
                                "GIT_CONFIG_KEY_1=safe.directory\nGIT_CONFIG_VALUE_1=" + Utf8(repo) + "\n";
    EXPECT_EQ(GitGot(), "GIT_CONFIG_COUNT=3\n" + trusted +
                            "GIT_CONFIG_KEY_2=http.sslBackend\nGIT_CONFIG_VALUE_2=schannel\nHTTPS_PROXY unset\nHTTP_PROXY unset\n");

    // The user's own git keeps its backend, and gets the proxy that Windows is set to use.
    OnPath({L"git.exe", L"cmake.exe", L"ninja.exe", L"clang++.exe", L"python.exe"});
    {
        WindowsProxy proxy("http=web.proxy:80;https=secure.proxy:3128");
        ASSERT_EQ(Prepare(), L"");
    }
    EXPECT_EQ(GitGot(), "GIT_CONFIG_COUNT=2\n" + trusted +
                            "GIT_CONFIG_KEY_2 unset\nGIT_CONFIG_VALUE_2 unset\n"
                            "HTTPS_PROXY=http://secure.proxy:3128\nHTTP_PROXY=http://web.proxy:80\n");

    // A proxy named in the environment is the one to use.
    SetEnvironmentVariableW(L"HTTPS_PROXY", L"http://mine:8080");
    SetEnvironmentVariableW(L"HTTP_PROXY", nullptr);
    WindowsProxy proxy("elsewhere:1");
    ASSERT_EQ(Prepare(), L"");
    EXPECT_TRUE(GitGot().ends_with("HTTPS_PROXY=http://mine:8080\nHTTP_PROXY unset\n"));
}

// A cancel ends the phase at once, as a cancel and not as a failure of the network: one that came
// before it asks for no tool, one that comes while a release lookup is held stops the lookup.
TEST_F(ToolsPhase, ACancelEndsThePhaseAtOnce) {
    const fs::path bin = OnPath({L"git.exe"});
    const std::wstring path = Variable(L"PATH");
    SetFaults(R"({"answers": [{"path": "/repos/.*", "stall": 100}]})");
    const struct {
        std::string requests;  // made when the cancel comes, the last one held: none, before the phase
        std::vector<std::wstring> log;
    } rows[] = {{"", {L"== Checking the tools"}},
                {"GET /repos/Kitware/CMake/releases/latest 200\n",
                 {L"== Checking the tools", L"Git: using " + (bin / L"git.exe").wstring()}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.requests);
        ClearRequests();
        setup::s_cancel = row.requests.empty();
        auto cancelled = std::chrono::steady_clock::now();
        std::thread canceller([&] {
            if (row.requests.empty()) return;
            for (int waited = 0; Requests() != row.requests && waited < 30000; waited += 10) Sleep(10);
            Sleep(200);  // into the stalled answer
            cancelled = std::chrono::steady_clock::now();
            setup::s_cancel = true;
        });
        EXPECT_EQ(Prepare(), L"Cancelled.");
        const auto took = std::chrono::steady_clock::now() - cancelled;
        canceller.join();
        EXPECT_LT(took, std::chrono::seconds(1)) << "from the cancel to the phase's end";
        EXPECT_EQ(window_.LogLines(), row.log);
        EXPECT_EQ(Requests(), row.requests);
        EXPECT_EQ(Variable(L"PATH"), path);
    }
}

// The tool folders that the freeing of space deletes with the tools folder: never Git's or Ninja's,
// which may be a player's own.
TEST(BuildTools, CMakeClangAndPythonAreTheSetupOnlyOnes) {
    std::vector<std::wstring> setupOnly;
    for (const setup::BuildTool& tool : setup::kBuildTools)
        if (setup::SetupOnly(tool)) setupOnly.push_back(tool.name);
    EXPECT_EQ(setupOnly, (std::vector<std::wstring>{L"CMake", L"Clang", L"Python"}));
}

}  // namespace
