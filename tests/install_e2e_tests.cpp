// Whole runs end to end, as tables of scenarios (support/install_e2e.h), each table a suite of
// its own: the test build of QuorinSetup.exe, driven through its window or started with
// "--update", in the sandbox.
#include "base/text.h"
#include "support/install_e2e.h"
#include "support/sandbox.h"
#include "support/sandbox_tools.h"
#include "support/scratch.h"
#include "support/shortcut.h"
#include "win/running.h"
#include "window/controls.h"
#include "worker/services.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// A table as a parameterised suite of its own, with a test for each scenario, named after it.
#define SCENARIOS(suite, table)                                                  \
    class suite : public ::testing::TestWithParam<Scenario> {};                  \
    TEST_P(suite, Run) { RunScenario(GetParam()); }                              \
    INSTANTIATE_TEST_SUITE_P(Scenarios, suite, ::testing::ValuesIn(table),        \
                             [](const ::testing::TestParamInfo<Scenario>& info) { \
                                 return std::string(info.param.name);             \
                             })

// A whole run from the given source step: the build and its success.
Story Success(const Story& source) { return source + Built(L"") + Story{kDone + kOnDesktop}; }

// A successful update of an installed folder on its branch.
Story Rebuilt(const Install& install) { return Success(Pulled(install)); }

// setup.log after a folder's first run, as a text-mode file: the header first, every line ended
// with CR LF, and the final message's lines last.
void FirstLog(Install& install, const Outcome& outcome) {
    const std::string header = "Quorin Recompiled Setup, installing to " + Utf8(install.dir.wstring()) + "\r\n";
    EXPECT_TRUE(outcome.log.starts_with(header));
    EXPECT_FALSE(std::regex_search(outcome.log, std::regex("(^|[^\r])\n"))) << "a line ended by LF alone";
    const std::string final = std::regex_replace(Utf8(outcome.final.text), std::regex("\n"), "\r\n");
    EXPECT_TRUE(outcome.log.ends_with("\r\n" + final + "\r\n")) << outcome.log;
}

// Whole installs: from a disc image or an extracted folder, the build, the shortcut, freeing
// space and deleting the disc image, or the build failing in each way it can, or a stop at a
// game copy that isn't a dump of the disc; and Play starts the launcher.

fs::path Marker(const Install& install) { return install.repo / L"game" / L"extracted" / L"default.xex"; }

void Play(HWND window) { Click(window, setup::kPlay); }

// A second copy of Setup, started on the folder while a run holds there, refuses and writes
// nothing; then the run goes on.
void ASecondCopyRefuses(HWND, Install& install) {
    const std::string before = FileText((install.dir / L"setup.log").wstring());
    Launch second;
    second.dir = install.dir.wstring();
    second.form.source = install.image.wstring();
    second.path = install.bin.wstring();
    const Outcome outcome = RunSetup(second);
    EXPECT_EQ(outcome.final.text,
              L"Setup is already installing to this folder. Wait until it has finished, or close it, and try again.");
    EXPECT_EQ(outcome.final.icon, L"warning");
    EXPECT_EQ(outcome.log, before);
    EXPECT_EQ(outcome.leftWindows, std::vector<std::wstring>{});
    Release();
}

// Measures what freeing space will find, while the build holds before linking.
void MeasureAndGoOn(HWND, Install& install) {
    install.leftovers = LeftoversSize(install);
    install.tools = ToolsSize(install);
    Release();
}

const Scenario kInstalls[] = {
    {"AFreshInstallFromADiscImageWithEveryOptionThenAnUpdate",
     L"Quorin Recomp",
     {{.form = {.cleanup = true, .deleteIso = true},
       .tools = All(Tool::downloaded),
       // The clone's first answer comes slowly, so that the marquee is seen before its percentages.
       .faults = R"({"hold": ["[3/6]", "==> Linking the launcher"],
                     "answers": [{"path": "/git/.*/info/refs", "rate": 400, "times": 1}]})",
       .moments = {{L"Downloading the source code",
                    [](HWND window, Install&) {
                        EXPECT_EQ(ScreenOf(window).bar, -1) << "the marquee runs from the end of the tools";
                    }},
                   {L"Compiling",
                    [](HWND window, Install&) {
                        EXPECT_TRUE(WaitUntil(10000, [&] {
                            return ScreenOf(window) == Screen{L"Compiling", 50};
                        })) << "the bar follows the build's counters: [3/6] is half way";
                        Release();
                    }},
                   {L"Linking the launcher", MeasureAndGoOn}},
       .story =
           [](const Install& i) {
               return Cloned(i, OnBranch(i)) + Built(i.image.wstring()) + Freeing(i.leftovers, i.tools) +
                      Story{L"Deleted the disc image " + i.image.wstring(),
                            kDone + kOnDesktop + Freed(i.leftovers + i.tools) + kImageDeleted};
           },
       .more =
           [](Install& i, const Outcome& outcome) {
               FirstLog(i, outcome);
               EXPECT_GT(i.leftovers, 0u);
               EXPECT_GT(i.tools, 4u << 20) << "five tools";
               EXPECT_FALSE(fs::exists(i.dir / L"tools"));
               EXPECT_EQ(LeftoversSize(i), 0u);
               EXPECT_TRUE(fs::is_regular_file(Launcher(i)));
               EXPECT_TRUE(fs::is_regular_file(Marker(i)));
               EXPECT_FALSE(fs::exists(i.image));
           }},
      // The window's own options, with the game extracted: no disc image, no question, and the
      // launcher starts at the end instead of a box. The clone now belongs to another account.
      {.before = [](Install& i) { GiveAway(i.repo); },
       .update = true,
       .asked = {{NothingNew, IDYES}},
       .tools = All(Tool::downloaded),
       .shown = false,
       .plays = true,
       .story = Rebuilt,
       .more =
           [](Install& i, const Outcome&) {
               EXPECT_EQ(ToolsSize(i) + LeftoversSize(i), i.tools + i.leftovers)
                   << "the update downloads and rebuilds what the first run freed";
           }},
      // Nothing new since: no tools, no source, no build, and the game starts.
      {.update = true,
       .asked = {{NothingNew, IDNO}},
       .toolsPhase = false,
       .shown = false,
       .plays = true,
       .story = [](const Install&) { return Story{L"Quorin Recompiled is up to date. Start the game with the launcher."}; }}}},
    // A folder name that the ANSI code page can't write, as the build prints it.
    {"AFreshInstallFromAnExtractedFolderIntoAnEmptyFolderThenPlay",
     L"Quorin \u0141\u00f3d\u017a",
     {{.before = [](Install& i) { fs::create_directories(i.repo); },
       .game = Game::folder,
       .form = {.shortcut = false},
       .atEnd = Play,
       .plays = true,
       .story =
           [](const Install& i) {
               return Cloned(i, OnBranch(i)) + Built(SandboxPath(L"game-extracted")) + Story{kDone + L"."};
           },
       .more =
           [](Install& i, const Outcome&) {
               EXPECT_TRUE(fs::is_regular_file(Marker(i)));
               EXPECT_TRUE(fs::is_regular_file(SandboxPath(L"game-extracted\\default.xex"))) << "only copied";
           }}}},
    {"AnExtractedGameKeepsItsDiscImageAndASecondCopyRefuses",
     L"Installed",
     {{.before = Installed,
       .form = {.deleteIso = true},
       .faults = R"({"hold": ["==> Compiling"]})",
       .moments = {{L"Compiling", ASecondCopyRefuses}},
       .story = Rebuilt,
       .more = [](Install& i, const Outcome&) { EXPECT_TRUE(fs::is_regular_file(i.image)); }}}},
    {"AFileHeldOpenInTheToolsFolderIsLeftAndNotCounted",
     L"Held",
     {{.before =
           [](Install& i) {
               Installed(i);
               fs::create_directories(i.repo / L"build");
               std::ofstream(i.repo / L"build" / L"big.obj", std::ios::binary) << std::string(3 << 20, 'o');
           },
       .form = {.shortcut = false, .cleanup = true},
       .tools = All(Tool::downloaded),
       .faults = R"({"hold": ["==> Linking the launcher"]})",
       .moments = {{L"Linking the launcher",
                    [](HWND window, Install& i) {
                        i.held.push_back(Hold(i.dir / L"tools\\Git\\LICENSE.txt"));
                        EXPECT_TRUE(i.held.back());
                        MeasureAndGoOn(window, i);
                    }}},
       .story =
           [](const Install& i) {
               return Pulled(i) + Built(L"") + Freeing(i.leftovers, i.tools) +
                      Story{L"(some of it couldn't be deleted)", kDone + L"." + Freed(i.leftovers)};
           },
       .more =
           [](Install& i, const Outcome&) {
               EXPECT_EQ(setup::FormatSize(i.leftovers), L"3 MB");
               EXPECT_EQ(LeftoversSize(i), 0u);
               EXPECT_TRUE(fs::exists(i.dir / L"tools\\Git\\LICENSE.txt"));
               EXPECT_LT(ToolsSize(i), i.tools);
           }}}},
    // A game copy that isn't a dump of the disc, here a zip by its first bytes, is asked about
    // before anything is downloaded, and No ends the run there.
    {"AZipForADiscImageIsAskedAboutAndNoEndsTheRunBeforeAnyDownload",
     L"Zipped",
     {{.before = [](Install& i) { std::ofstream(i.image, std::ios::binary) << "PK\x03\x04" << std::string(4096, 'z'); },
       .asked = {{[](const Install& i) {
                      return i.image.wstring() + L" doesn't look like a dump of an Xbox 360 disc: it's a zip archive. "
                                                 L"Extract the disc image from it first. Use it anyway?";
                  },
                  IDNO}},
       .toolsPhase = false,
       .story =
           [](const Install&) { return Story{L"Choose a disc image or extracted folder of your own Quorin disc."}; },
       .more =
           [](Install& i, const Outcome&) {
               EXPECT_EQ(Requests(), "") << "nothing downloaded";
               EXPECT_FALSE(fs::exists(i.repo));
           }}}},
    {"EachWayABuildEnds",
     L"Builds",
     {{.before = Installed,
       .faults = R"({"build": "fail"})",
       .story =
           [](const Install& i) { return Pulled(i) + Until(Built(L""), L"==> Compiling") + Story{kBuildFailed}; }},
      {.faults = R"({"build": "no-launcher"})",
       .story = [](const Install& i) { return Pulled(i) + Built(L"") + Story{kLauncherMissing}; },
       .more = [](Install& i, const Outcome&) { EXPECT_FALSE(fs::exists(Launcher(i))); }},
      {.faults = R"({"build": "hostile"})",
       .story =
           [](const Install& i) {
               Story build = Built(L"");
               build.insert(build.end() - 2, L"==> " + std::wstring(1 << 16, L'y'));
               return Pulled(i) + build + Story{kDone + kOnDesktop};
           }}}},
    // The game, started from the install folder, holds files that the run would write.
    {"TheGameRunningFromTheFolderIsToBeClosedFirst",
     L"Playing",
     {{.before = RunGame,
       .asked = {{[](const Install&) {
                      return L"Quorin Recompiled is running (QuorinLauncher.exe). Close it, then choose Yes to go on; "
                             L"No stops here.";
                  },
                  IDNO}},
       .story = [](const Install&) { return Story{L"Close Quorin Recompiled and try again."}; },
       .more =
           [](Install& i, const Outcome&) {
               EXPECT_EQ(setup::win::RunningWithin(i.dir).size(), 1u) << "Setup ended the player's program";
           }}}},
    // The variable, set here, is the run's too.
    {"AFolderThatOneDriveSyncsIsAskedAbout",
     L"Quorin-Recomp",
     {{.before = [](Install& i) { SetEnvironmentVariableW(L"OneDrive", i.dir.parent_path().c_str()); },
       .asked = {{[](const Install& i) {
                      return i.dir.wstring() +
                             L" is in a folder that OneDrive keeps in sync. The build writes about 10 GB there, which "
                             L"OneDrive would upload, and the build can fail when OneDrive holds a file. Install there "
                             L"anyway?";
                  },
                  IDNO}},
       .starts = false,
       .more =
           [](Install& i, const Outcome&) {
               SetEnvironmentVariableW(L"OneDrive", nullptr);
               EXPECT_FALSE(fs::exists(i.dir)) << "the run started";
           }}}},
};
SCENARIOS(Installs, kInstalls);

// The source checkout, on clones put into each state with real git: what is built, what
// setup.log tells of it, and how the run ends. The choices of each state are tested in process
// (source_tests.cpp); here the whole run follows: the build, the final box, the log.

// No release from the API: a 404 (a 5xx would be tried four times over some seconds).
const char* const kApiDown = R"({"path": "/repos/.*", "status": 404})";

std::string Version(const Install& install) { return FileText((install.repo / L"VERSION").wstring()); }
void SetVersion(const Install& install, const char* text) {
    std::ofstream(install.repo / L"VERSION", std::ios::binary) << text;
}

// An installed folder whose clone is detached at `tag`.
std::function<void(Install&)> DetachedAt(const wchar_t* tag) {
    return [tag](Install& install) {
        Installed(install);
        Git(install, L"checkout -q --detach " + std::wstring(tag));
    };
}

// An update that checks out `tag` and builds it.
Story ToRelease(const Install& install, const std::wstring& tag) {
    return Success(Updated(install, {GitLine(install, L"checkout --force " + tag), L"Building release " + tag + L"."}));
}

// Checks that the folder was built from that version of the project.
std::function<void(Install&, const Outcome&)> Builds(const char* version) {
    return [version](Install& install, const Outcome&) { EXPECT_EQ(Version(install), version); };
}

const Scenario kSources[] = {
    {"ADetachedCloneMovesToTheNewestRelease",
     L"Detached",
     {{.before = DetachedAt(L"v1.0.0"),
       .story = [](const Install& i) { return ToRelease(i, L"v1.1.0"); },
       .more = Builds("1.1.0\n")}}},
    {"WithoutTheApiTheOwnVersionIsBuiltAndWithoutThatTagMain",
     L"No API",
     {{.before = DetachedAt(L"v1.1.0"),
       .faults = std::string(R"({"answers": [)") + kApiDown + "]}",
       .story = [](const Install& i) { return ToRelease(i, L"v1.0.0"); },
       .more = Builds("1.0.0\n")},
      // Still detached, at v1.0.0, whose tag is gone here and on the server.
      {.before = [](Install& i) { Git(i, L"tag -d v1.0.0"); },
       .lookup = {L"(couldn't find out whether there is anything new to build: the latest release isn't known)"},
       .faults = std::string(R"({"repository": "without-v1.0.0", "answers": [)") + kApiDown + "]}",
       .story =
           [](const Install& i) {
               return Success(Updated(i, {GitLine(i, L"checkout --force v1.0.0"), GitLine(i, L"checkout --force main"),
                                          GitLine(i, L"pull --ff-only")}));
           },
       .more = Builds("1.2.0-dev\n")}}},
    {"AnUntrackedFileIsNoChangeButAnEditedOneIs",
     L"Changes",
     {{.before =
           [](Install& i) {
               Installed(i);
               std::ofstream(i.repo / L"notes.txt") << "mine";
           },
       .story = Rebuilt,
       .more = [](Install& i, const Outcome&) { EXPECT_EQ(FileText((i.repo / L"notes.txt").wstring()), "mine"); }},
      // An edit of the player's is no news to GitHub: the player says Yes to build it.
      {.before = [](Install& i) { SetVersion(i, "mine\n"); },
       .asked = {{NothingNew, IDYES}},
       .story = [](const Install& i) { return Success(Updated(i, {kChanges})); },
       .more = Builds("mine\n")}}},
    {"ADivergedBranchIsBuiltAsItIs",
     L"Diverged",
     {{.before =
           [](Install& i) {
               Installed(i);
               Git(i, L"reset -q --hard v1.1.0");
               SetVersion(i, "1.1.0-mine\n");
               Git(i, L"commit -qam \"a change of my own\"");
           },
       .story =
           [](const Install& i) {
               const std::wstring notPulled = L"(couldn't update the branch - building the code as it is)";
               return Success(Updated(i, OnBranch(i) + Story{notPulled}));
           },
       .more = Builds("1.1.0-mine\n")}}},
    {"AnEmptyGitFolderCountsAsChanges",
     L"Empty git",
     {{.before =
           [](Install& i) {
               Installed(i);
               MakeWritable(i.repo / L".git");
               fs::remove_all(i.repo / L".git");
               fs::create_directory(i.repo / L".git");
           },
       .story = [](const Install& i) { return Success(Updated(i, {kChanges})); },
       .more = Builds("1.2.0-dev\n")}}},
    {"AForeignFolderIsRefusedWithItsFullPath",
     L"Foreign",
     {{.before = Foreign,
       .story = Refused,
       .more = [](Install& i, const Outcome&) { EXPECT_EQ(FileText((i.repo / L"notes.txt").wstring()), "mine"); }}}},
    {"AFailedClone",
     L"No clone",
     {{.faults = R"({"answers": [{"path": "/git/.*", "status": 500}]})",
       .story =
           [](const Install& i) {
               return Until(Cloned(i, {}), L"$ git clone ") + Story{L"Couldn't download the source code from GitHub."};
           },
       .more = [](Install& i, const Outcome&) { EXPECT_FALSE(fs::exists(i.repo)) << "nothing is left to update"; }}}},
};
SCENARIOS(Sources, kSources);

// The build tools: the test build fetches them from the sandbox, finds them again, uses those on
// PATH, and ends with the right message whatever goes wrong on the way. A run that gets through
// the tools is stopped by the next step at once: the install folder has a folder of the user's
// own where the source code would go.

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

const Scenario kBuildTools[] = {
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
SCENARIOS(BuildTools, kBuildTools);

// Cancelling and closing: Cancel during the build and during a git command ends the run with
// "Cancelled." and leaves nothing of it running on either side of the bridge; closing during a
// run asks first; a run ended from outside during the clone leaves nothing running either; and
// the next run after each gets to the end.

const std::wstring kStop = L"Setup is still running. Stop it?";

// Waits until git clone runs on the Linux side.
void WaitForTheClone(const Install& install) {
    EXPECT_TRUE(WaitUntil(10000, [&] {
        const std::vector<std::string> tools = BridgeTools(install.dir.wstring());
        return std::any_of(tools.begin(), tools.end(),
                           [](const std::string& tool) { return tool.find("\tclone\t") != std::string::npos; });
    })) << "git clone never ran";
}

// Five seconds or so of a clone that shows how far it is.
const char* const kSlowClone = R"({"repository": "large", "answers": [{"path": "/git/.*", "rate": 100000}]})";

// Closes the window as its close box does, and answers the question that comes.
void CloseAndAnswer(HWND window, int answer) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    const Box question = AnswerBox(window, answer);
    EXPECT_EQ(question.text, kStop);
    EXPECT_EQ(question.icon, L"question");
    EXPECT_TRUE(question.yesNo);
}

const Scenario kCancels[] = {
    {"CancelDuringTheBuildThenTheNextRunSucceeds",
     L"Build cancelled",
     {{.before = Installed,
       .faults = R"({"build": "slow"})",
       .moments = {{L"Compiling", Cancel}},
       .story =
           [](const Install& i) { return Pulled(i) + Until(Built(L""), L"==> Compiling") + Story{L"Cancelled."}; },
       .more = FirstLog},
      {.story = Rebuilt}}},
    // A slow clone shows how far it is, and Cancel ends it with nothing left; one ended from
    // outside leaves what the next run downloads again.
    {"ACloneCancelledOrKilledIsDownloadedAgain",
     L"Clone cancelled",
     {{.faults = kSlowClone,
       .moments = {{L"Downloading the source code: ",
                    [](HWND window, Install& i) {
                        // The two are read one after the other, as the window moves on.
                        const Screen screen = ScreenOf(window);
                        EXPECT_TRUE(std::regex_match(screen.status, std::wregex(L"Downloading the source code: \\d+%")))
                            << Utf8(screen.status);
                        EXPECT_GE(screen.bar, 0) << "the marquee gave way to the percentage";
                        Cancel(window, i);
                    }}},
       .story = [](const Install& i) { return Until(Cloned(i, {}), L"$ git clone ") + Story{L"Cancelled."}; },
       .more =
           [](Install& i, const Outcome& outcome) {
               EXPECT_FALSE(fs::exists(i.repo)) << "what the clone left went";
               const std::vector<std::string> lines = Lines(LastRun(outcome.log));
               EXPECT_LE(std::count_if(lines.begin(), lines.end(),
                                       [](const std::string& line) { return line.find("% (") != std::string::npos; }),
                         3)
                   << "of git's progress, the last line of each stage";
           }},
      {.faults = kSlowClone,
       .moments = {{L"Downloading the source code",
                    [](HWND window, Install& i) {
                        WaitForTheClone(i);
                        EXPECT_TRUE(WaitUntil(10000, [&] { return fs::exists(i.repo / L".git"); })) << "git began";
                        Kill(window);
                    }}},
       .shown = false,
       .killed = true,
       .story = [](const Install& i) { return Until(Cloned(i, {}), L"$ git clone "); },
       .more = [](Install& i, const Outcome&) { EXPECT_TRUE(fs::exists(i.repo / L".git")) << "a clone cut short"; }},
      {.story =
           [](const Install& i) {
               Story source = Cloned(i, OnBranch(i));
               source.insert(source.begin() + 1, L"(the last download of the source code didn't finish: downloading it again)");
               return source + Built(i.image.wstring()) + Story{kDone + kOnDesktop};
           },
       .more = [](Install& i, const Outcome&) { EXPECT_FALSE(fs::exists(i.dir / L"quorin-recomp.cloning")); }}}},
    // Closing asks while the build holds after a status line; No lets it go on to the next.
    {"ClosingDuringARunAsksFirst",
     L"Closed",
     {{.before = Installed,
       .faults = R"({"hold": ["==> Compiling", "==> Linking the launcher"]})",
       .moments = {{L"Compiling",
                    [](HWND window, Install&) {
                        CloseAndAnswer(window, IDNO);
                        EXPECT_TRUE(IsWindowVisible(window));
                        Release();
                    }},
                   {L"Linking the launcher", [](HWND window, Install&) { CloseAndAnswer(window, IDYES); }}},
       .shown = false,
       .story =
           [](const Install& i) {
               return Pulled(i) + Until(Built(L""), L"==> Linking the launcher") + Story{L"Cancelled."};
           }}}},
};
SCENARIOS(Cancels, kCancels);

}  // namespace
