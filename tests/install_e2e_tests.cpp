// Whole installs end to end: the test build of QuorinSetup.exe, driven through its window or
// started with "--update", installs from a disc image or an extracted folder in the sandbox,
// builds, makes the shortcut, frees space and deletes the disc image, or fails the build in each
// way it can, or stops at a game copy that isn't a dump of the disc; and Play starts the launcher.
#include "base/text.h"
#include "support/install_e2e.h"
#include "support/sandbox.h"
#include "support/shortcut.h"
#include "win/running.h"
#include "window/controls.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

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

const Scenario kScenarios[] = {
    {"AFreshInstallFromADiscImageWithEveryOptionThenAnUpdate",
     L"Quorin Recomp",
     {{.form = {.cleanup = true, .deleteIso = true},
       .tools = All(Tool::downloaded),
       .faults = R"({"hold": ["[3/6]", "==> Linking the launcher"]})",
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
           [](Install& i, const Outcome&) {
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
       .story = [](const Install& i) { return Pulled(i) + Built(L"") + Story{kDone + kOnDesktop}; },
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
       .story = [](const Install& i) { return Pulled(i) + Built(L"") + Story{kDone + kOnDesktop}; },
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
       .story =
           [](const Install& i) {
               return Pulled(i) + Built(L"") + Story{kLauncherMissing};
           },
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

class Installs : public ::testing::TestWithParam<Scenario> {};

TEST_P(Installs, Run) { RunScenario(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Scenarios, Installs, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

}  // namespace
