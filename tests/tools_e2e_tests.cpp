// The build tools end to end: the test build of QuorinSetup.exe fetches its tools from the
// sandbox, finds them again, uses those on PATH, and ends with the right message whatever goes
// wrong on the way. A run that gets through the tools is stopped by the next step at once: the
// install folder has a folder of the user's own where the source code would go.
#include "support/install_e2e.h"
#include "support/sandbox_tools.h"
#include "worker/services.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const std::string kSlowGit = R"({"answers": [{"path": "/repos/git-for-windows/git/releases/latest", "rate": 20000},
                                             {"path": ".*/MinGit-.*\\.zip", "rate": 2000000}]})";

// A round that ends in the tools phase, with these lines after the tools' own.
std::function<Story(const Install&)> Ends(const Story& lines) {
    return [lines](const Install&) { return lines; };
}

// A file of the archive without the program, left in Ninja's folder until a whole one replaces it.
fs::path NinjaReadme(const Install& install) {
    return ToolFolder(install.dir, SandboxToolNamed(L"Ninja")) / L"README.txt";
}

const Scenario kScenarios[] = {
    {"AFirstInstallFetchesEveryToolAndLaterRunsFindThemAll",
     L"Quorin \u00c9dition",  // the bridge names non-ASCII folders too
     {{.before = Foreign,
       .tools = All(Tool::downloaded),
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
                   "GET /v3-flatcontainer/python/3.12.10/python.3.12.10.nupkg 200\n",
       .story = Refused},
      {.tools = All(Tool::found), .requests = "", .story = Refused},
      // An install whose game is extracted needs no game copy.
      {.before = Extracted, .update = true, .tools = All(Tool::found), .requests = "", .story = Refused}}},
    {"ToolsOnThePathAreUsedButNotAnAppStoreAlias",
     L"on path",
     {{.before = Foreign,
       .tools = {.python = Tool::downloaded},
       .alias = true,
       .requests = "GET /v3-flatcontainer/python/index.json 200\n"
                   "GET /v3-flatcontainer/python/3.12.10/python.3.12.10.nupkg 200\n",
       .story = Refused}}},
    {"GitHubUnreachable",
     L"no api",
     {{.tools = {.git = Tool::notReached},
       .faults = R"({"answers": [{"path": "/repos/.*", "drop": true}]})",
       .story = Ends({L"Couldn't reach GitHub to find git-for-windows/git. Check the internet connection."})}}},
    {"NoMatchingAsset",
     L"no asset",
     {{.tools = {.cmake = Tool::notReached},
       .faults = R"({"drop_assets": ["Kitware/CMake"]})",
       .requests = "GET /repos/Kitware/CMake/releases/latest 200\n",
       .story = Ends({L"No download of Kitware/CMake matched what Setup expects."})}}},
    {"ADownloadThatFails",
     L"not found",
     {{.tools = {.ninja = Tool::downloadFails},
       .faults = R"({"answers": [{"path": ".*/ninja-win\\.zip", "status": 404}]})",
       .story = Ends({L"Ninja: HTTP status 404", L"Couldn't download Ninja."})}}},
    {"AnUnpackThatFails",
     L"not a zip",
     {{.tools = {.clang = Tool::unpackFails},
       .faults = R"({"answers": [{"path": ".*/llvm-mingw-.*\\.zip", "body": "not a zip"}]})",
       .statuses = {L"Unpacking Clang"},
       // tar's words
       .story = Ends({L"Couldn't unpack Clang: bsdtar: Error opening archive: Unrecognized archive format."})}}},
    {"AnArchiveWithoutTheProgramAndTheFolderItLeftHalfUnpacked",
     L"no program",
     {{.tools = {.ninja = Tool::noProgram},
       .faults = R"({"answers": [{"path": ".*/ninja-win\\.zip", "serve": "/sandbox/no-program.zip"}]})",
       .story = Ends({L"Ninja didn't contain ninja.exe."}),
       .more = [](Install& i, const Outcome&) { EXPECT_TRUE(fs::exists(NinjaReadme(i))); }},
      {.before = Foreign,
       .tools = {.ninja = Tool::downloaded},
       .story = Refused,
       .more =
           [](Install& i, const Outcome&) { EXPECT_FALSE(fs::exists(NinjaReadme(i))) << "the folder was emptied"; }}}},
    {"NuGetUnreachable",
     L"no nuget",
     {{.tools = {.python = Tool::notReached},
       .faults = R"({"answers": [{"path": "/v3-flatcontainer/.*", "status": 404}]})",
       .story = Ends({L"Couldn't reach " + std::wstring(setup::kNuGetSite) +
                      L" for Python. Check the internet connection."})}}},
    {"NoPlainPython312",
     L"no 3.12",
     {{.tools = {.python = Tool::notReached},
       .faults = R"({"python_versions": ["3.11.9", "3.12.1rc1", "3.12.0-b1", "3.13.0"]})",
       .requests = "GET /v3-flatcontainer/python/index.json 200\n",
       .story = Ends({L"No Python 3.12 package on " + std::wstring(setup::kNuGetSite) + L"."})}}},
    {"CancelDuringADownload",
     L"cancelled",
     {{.tools = {.git = Tool::downloadFails},
       .faults = R"({"answers": [{"path": ".*/MinGit-.*\\.zip", "stall": 1000}]})",
       .moments = {{L"Downloading Git: ", Cancel}},
       .statuses = {L"Downloading Git: ", L"Cancelled."},
       .story = Ends({L"Cancelled."}),
       .more =
           [](Install&, const Outcome& outcome) {
               EXPECT_EQ(outcome.log.find("Couldn't download"), std::string::npos) << outcome.log;
           }}}},
};

class BuildTools : public ::testing::TestWithParam<Scenario> {};

TEST_P(BuildTools, Run) { RunScenario(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Scenarios, BuildTools, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

}  // namespace
