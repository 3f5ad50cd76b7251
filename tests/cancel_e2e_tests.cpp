// Cancelling and closing end to end: Cancel during the build and during a git command ends the
// run with "Cancelled." and leaves nothing of it running on either side of the bridge; closing
// during a run asks first; a run ended from outside during the clone leaves nothing running
// either; and the next run after each gets to the end.
#include "support/install_e2e.h"
#include "support/sandbox.h"
#include "window/controls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

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

const Scenario kScenarios[] = {
    {"CancelDuringTheBuildThenTheNextRunSucceeds",
     L"Build cancelled",
     {{.before = Installed,
       .faults = R"({"build": "slow"})",
       .moments = {{L"Compiling", Cancel}},
       .story =
           [](const Install& i) { return Pulled(i) + Until(Built(L""), L"==> Compiling") + Story{L"Cancelled."}; }},
      {.story = [](const Install& i) { return Pulled(i) + Built(L"") + Story{kDone + kOnDesktop}; }}}},
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

class Cancels : public ::testing::TestWithParam<Scenario> {};

TEST_P(Cancels, Run) { RunScenario(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Scenarios, Cancels, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

}  // namespace
