// The build tools end to end: the test build of QuorinSetup.exe, started as a program of its own
// and driven through its window, fetches its tools from the sandbox, finds them again, uses those
// on PATH, and ends with the right message whatever goes wrong on the way.
#include "support/e2e.h"
#include "support/messages.h"
#include "support/sandbox.h"
#include "support/sandbox_tools.h"
#include "support/scratch.h"
#include "window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// One run of the program. `tools` tells, for each tool in table order, what the run does with it:
//   p  takes it from PATH, where the scenario puts a stand-in
//   f  finds it unpacked in the tools folder
//   d  downloads and unpacks it
//   x  fails to download it
//   u  fails to unpack it
//   n  unpacks it, but the program isn't inside
//   -  doesn't get it: the lookup fails (or the run ended before)
struct Round {
    const char* tools;
    std::string faults{};                  // the sandbox's switches
    std::wstring final{};                  // the final message; "" for the one after the tools
    std::vector<std::wstring> said{};      // logged after the lines of the tool that fails, if any
    std::vector<std::wstring> statuses{};  // seen in this order, each as the start of a status text
    const char* requests = nullptr;        // the requests made, exactly, when given
    bool alias = false;                    // an app-store python.exe on PATH, which is no Python
    bool update = false;                   // started with "--update <folder>" on an extracted game
    std::vector<Step> steps{};
    std::function<void(const fs::path& dir, const Outcome&)> more{};  // further checks
};

struct Scenario {
    const char* name;
    const wchar_t* folder;      // the install folder's name
    std::vector<Round> rounds;  // one after the other, on the same install folder
};

std::ostream& operator<<(std::ostream& out, const Scenario& scenario) { return out << scenario.name; }

const std::string kSlowGit = R"({"answers": [{"path": "/repos/git-for-windows/git/releases/latest", "rate": 20000},
                                             {"path": ".*/MinGit-.*\\.zip", "rate": 2000000}]})";

// A run that gets through the tools is stopped by the next step at once: the install folder has
// a file where the source code would go, which the source step refuses.
void BlockSource(const fs::path& dir) {
    fs::create_directories(dir / L"quorin-recomp");
    std::ofstream(dir / L"quorin-recomp" / L"notes.txt") << "mine";
}
std::wstring AfterTools(const fs::path& dir) {
    return (dir / L"quorin-recomp").wstring() +
           L" already exists and isn't a copy of the project. Choose another folder.";
}

// What the setup logs of the tools phase, not its tools' output: statuses, tar's command lines and
// the tools' lines; with the header first and the final message last.
std::vector<std::string> Story(const std::string& log) {
    std::vector<std::string> lines = Lines(log), story;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const bool tar = line.starts_with("$ ") && line.find("tar.exe") != std::string::npos;
        bool own = i == 0 || i + 1 == lines.size() || line == "== Checking the tools" ||
                   line.starts_with("== Unpacking ") || tar;
        for (const SandboxTool& tool : kSandboxTools) own = own || line.starts_with(Utf8(tool.name) + ": ");
        if (own) story.push_back(line);
    }
    return story;
}

// The requests of the tools phase, one a line.
std::string ToolRequests() {
    std::string requests;
    for (const std::string& line : Lines(Requests()))
        if (line.find("/quorin-recomp") == std::string::npos) requests += line + "\n";
    return requests;
}

// What the run's log should tell, from its header to its final message.
std::vector<std::string> ExpectedStory(const fs::path& dir, const fs::path& bin, const Round& round) {
    std::vector<std::wstring> lines = {L"Quorin Recompiled Setup, installing to " + dir.wstring(),
                                       L"== Checking the tools"};
    for (std::size_t i = 0; i < std::size(kSandboxTools) && round.tools[i]; ++i) {
        const SandboxTool& tool = kSandboxTools[i];
        const char how = round.tools[i];
        if (how == '-') break;
        if (how == 'p') lines.push_back(tool.name + (L": using " + (bin / tool.exe).wstring()));
        if (how == 'f') lines.push_back(FetchLines(dir, tool).back());
        const int fetched = how == 'd' ? 5 : how == 'x' ? 1 : how == 'u' || how == 'n' ? 4 : 0;
        for (std::wstring& line : FetchLines(dir, tool, fetched)) lines.push_back(std::move(line));
        if (fetched > 0 && fetched < 5) break;
    }
    lines.insert(lines.end(), round.said.begin(), round.said.end());
    lines.push_back(round.final.empty() ? AfterTools(dir) : round.final);
    std::vector<std::string> story;
    for (const std::wstring& line : lines) story.push_back(Utf8(line));
    return story;
}

std::wstring Joined(const std::vector<std::wstring>& statuses) {
    std::wstring joined;
    for (const std::wstring& status : statuses) joined += status + L"\n";
    return joined;
}

// Whether each of `starts` begins a status of `seen`, in this order.
bool SeenInOrder(const std::vector<std::wstring>& seen, const std::vector<std::wstring>& starts) {
    auto at = seen.begin();
    for (const std::wstring& start : starts) {
        at = std::find_if(at, seen.end(), [&](const std::wstring& status) { return status.starts_with(start); });
        if (at == seen.end()) return false;
    }
    return true;
}

const Scenario kScenarios[] = {
    {"AFirstInstallFetchesEveryToolAndLaterRunsFindThemAll",
     L"Quorin \u00c9dition",  // the bridge names non-ASCII folders too
     {{.tools = "ddddd",
       .faults = kSlowGit,
       .statuses = {L"Checking the tools", L"Downloading Git: ", L"Unpacking Git"},
       .requests = "GET /repos/git-for-windows/git/releases/latest 200\n"
                   "GET /git-for-windows/git/releases/download/v2.45.1.windows.1/MinGit-2.45.1-64-bit.zip 302\n"
                   "GET /release-assets/git-for-windows/git/releases/download/v2.45.1.windows.1/MinGit-2.45.1-64-bit.zip 200\n"
                   "GET /repos/Kitware/CMake/releases/latest 200\n"
                   "GET /Kitware/CMake/releases/download/v3.29.3/cmake-3.29.3-windows-x86_64.zip 302\n"
                   "GET /release-assets/Kitware/CMake/releases/download/v3.29.3/cmake-3.29.3-windows-x86_64.zip 200\n"
                   "GET /repos/ninja-build/ninja/releases/latest 200\n"
                   "GET /ninja-build/ninja/releases/download/v1.12.1/ninja-win.zip 302\n"
                   "GET /release-assets/ninja-build/ninja/releases/download/v1.12.1/ninja-win.zip 200\n"
                   "GET /repos/mstorsjo/llvm-mingw/releases/latest 200\n"
                   "GET /mstorsjo/llvm-mingw/releases/download/20240518/llvm-mingw-20240518-ucrt-x86_64.zip 302\n"
                   "GET /release-assets/mstorsjo/llvm-mingw/releases/download/20240518/llvm-mingw-20240518-ucrt-x86_64.zip 200\n"
                   "GET /v3-flatcontainer/python/index.json 200\n"
                   "GET /v3-flatcontainer/python/3.12.10/python.3.12.10.nupkg 200\n"},
      {.tools = "fffff", .requests = ""},
      {.tools = "fffff", .requests = "", .update = true}}},
    {"ToolsOnThePathAreUsedButNotAnAppStoreAlias",
     L"on path",
     {{.tools = "ppppd",
       .requests = "GET /v3-flatcontainer/python/index.json 200\n"
                   "GET /v3-flatcontainer/python/3.12.10/python.3.12.10.nupkg 200\n",
       .alias = true}}},
    {"GitHubUnreachable",
     L"no api",
     {{.tools = "-",
       .faults = R"({"answers": [{"path": "/repos/.*", "drop": true}]})",
       .final = L"Couldn't reach GitHub to find git-for-windows/git. Check the internet connection."}}},
    {"NoMatchingAsset",
     L"no asset",
     {{.tools = "p-",
       .faults = R"({"drop_assets": ["Kitware/CMake"]})",
       .final = L"No download of Kitware/CMake matched what Setup expects.",
       .requests = "GET /repos/Kitware/CMake/releases/latest 200\n"}}},
    {"ADownloadThatFails",
     L"not found",
     {{.tools = "ppx",
       .faults = R"({"answers": [{"path": ".*/ninja-win\\.zip", "status": 404}]})",
       .final = L"Couldn't download Ninja.",
       .said = {L"Ninja: HTTP status 404"}}}},
    {"AnUnpackThatFails",
     L"not a zip",
     {{.tools = "pppu",
       .faults = R"({"answers": [{"path": ".*/llvm-mingw-.*\\.zip", "body": "not a zip"}]})",
       .final = L"Couldn't unpack Clang: bsdtar: Error opening archive: Unrecognized archive format.",  // tar's words
       .statuses = {L"Unpacking Clang"}}}},
    {"AnArchiveWithoutTheProgramAndTheFolderItLeftHalfUnpacked",
     L"no program",
     {{.tools = "ppnpp",
       .faults = R"({"answers": [{"path": ".*/ninja-win\\.zip", "serve": "/sandbox/no-program.zip"}]})",
       .final = L"Ninja didn't contain ninja.exe.",
       .more = [](const fs::path& dir, const Outcome&) {
           EXPECT_TRUE(fs::exists(ToolFolder(dir, kSandboxTools[2]) / "README.txt"));
       }},
      {.tools = "ppdpp", .more = [](const fs::path& dir, const Outcome&) {
           EXPECT_FALSE(fs::exists(ToolFolder(dir, kSandboxTools[2]) / "README.txt")) << "the folder was emptied";
       }}}},
    {"NuGetUnreachable",
     L"no nuget",
     {{.tools = "pppp-",
       .faults = R"({"answers": [{"path": "/v3-flatcontainer/.*", "status": 404}]})",
       .final =
           L"Couldn't reach " + std::wstring(setup::kNuGetSite) + L" for Python. Check the internet connection."}}},
    {"NoPlainPython312",
     L"no 3.12",
     {{.tools = "pppp-",
       .faults = R"({"python_versions": ["3.11.9", "3.12.1rc1", "3.12.0-b1", "3.13.0"]})",
       .final = L"No Python 3.12 package on " + std::wstring(setup::kNuGetSite) + L".",
       .requests = "GET /v3-flatcontainer/python/index.json 200\n"}}},
    {"CancelDuringADownload",
     L"cancelled",
     {{.tools = "x",
       .faults = R"({"answers": [{"path": ".*/MinGit-.*\\.zip", "stall": 1000}]})",
       .final = L"Cancelled.",
       .statuses = {L"Downloading Git: ", L"Cancelled."},
       .steps = {{L"Downloading Git: ", [](HWND window) { Click(window, setup::kInstallButton); }}},
       .more = [](const fs::path&, const Outcome& outcome) {
           EXPECT_EQ(outcome.log.find("Couldn't download"), std::string::npos) << outcome.log;
       }}}},
};

class EndToEnd : public ::testing::TestWithParam<Scenario> {
protected:
    void SetUp() override { SetFaults(""); }
    void TearDown() override { SetFaults(""); }

    Scratch scratch_;
};

TEST_P(EndToEnd, Tools) {
    const Scenario& scenario = GetParam();
    const fs::path dir = scratch_.root() / scenario.folder, bin = scratch_.Folder(L"bin"),
                   alias = scratch_.root() / L"Microsoft" / L"WindowsApps";
    const bool nonAscii = NonAscii(dir.native());
    int number = 0;
    for (const Round& round : scenario.rounds) {
        SCOPED_TRACE("round " + std::to_string(++number));
        for (std::size_t i = 0; i < std::size(kSandboxTools) && round.tools[i]; ++i)
            if (round.tools[i] == 'p') StandIn(bin.wstring(), kSandboxTools[i].exe);
        if (round.alias) StandIn(scratch_.Folder(alias).wstring(), L"python.exe");
        if (round.final.empty()) BlockSource(dir);
        if (round.update) {  // an install whose game is extracted needs no game copy
            fs::create_directories(dir / L"quorin-recomp" / L"game" / L"extracted");
            std::ofstream(dir / L"quorin-recomp" / L"game" / L"extracted" / L"default.xex") << "XEX2";
        }
        SetFaults(round.faults);
        ClearRequests();

        Launch launch;
        launch.dir = dir.wstring();
        launch.update = round.update;
        launch.form.source = SandboxPath(L"game.iso");
        launch.path = (round.alias ? alias.wstring() + L";" : L"") + bin.wstring();
        launch.answers = {IDYES};  // whether to go on with a non-ASCII folder
        launch.steps = round.steps;
        const Outcome outcome = RunSetup(launch);
        const std::string log = LastRun(outcome.log);

        EXPECT_EQ(outcome.final.text, round.final.empty() ? AfterTools(dir) : round.final);
        EXPECT_EQ(outcome.final.icon, L"warning");
        EXPECT_EQ(outcome.final.caption, setup::kCaption);
        EXPECT_EQ(Story(log), ExpectedStory(dir, bin, round)) << log;
        EXPECT_EQ(Utf8(outcome.details), log) << "the details box tells the same";
        EXPECT_FALSE(outcome.playShown);
        EXPECT_TRUE(SeenInOrder(outcome.statuses, round.statuses)) << Utf8(Joined(outcome.statuses));
        if (round.requests) {
            EXPECT_EQ(ToolRequests(), round.requests);
        }
        EXPECT_EQ(outcome.leftWindows, std::vector<std::wstring>{});
        EXPECT_EQ(outcome.leftLinux, std::vector<std::string>{});
        EXPECT_EQ(outcome.questions.size(), nonAscii ? 1u : 0u);
        for (const Box& question : outcome.questions) EXPECT_EQ(question.text, kNonAsciiQuestion);

        for (std::size_t i = 0; i < std::size(kSandboxTools) && round.tools[i]; ++i) {
            const SandboxTool& tool = kSandboxTools[i];
            const char how = round.tools[i];
            EXPECT_EQ(FileText(Unpacked(dir, tool).wstring()) == FileText(HostPath("QUORIN_STANDIN")),
                      how == 'd' || how == 'f')
                << Utf8(tool.name);
            EXPECT_EQ(fs::exists(Archive(dir, tool)), how == 'x' || how == 'u')
                << Utf8(tool.name) << ": an archive stays only when it wasn't unpacked";
        }
        if (round.more) round.more(dir, outcome);
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, EndToEnd, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

}  // namespace
