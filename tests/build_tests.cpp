// The build step against the sandbox's project, with its real build script run by Python through
// the bridge: the command line, the status line and the bar as the script's lines move them,
// the launcher check, the two ways a build fails, and a cancel.
#include "maintenance/layout.h"
#include "support/messages.h"
#include "support/phases.h"
#include "win/convert.h"
#include "win/environment.h"
#include "worker/phases/build.h"

#include <algorithm>
#include <fstream>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const char* const kBase = "$ python -u tools\\build.py";

// What the build showed the user: "status: text" and "bar: value", in order.
using Screen = std::vector<std::wstring>;

class Build : public SandboxPhase {
protected:
    void SetUp() override {
        SandboxPhase::SetUp();
        // A name that the ANSI code page has no letters for, which the script prints; Python's
        // encoding as on a player's PC, where nothing chose one.
        run_.repo = scratch_.root() / L"Quorin \u0141\u00f3d\u017a" / "quorin-recomp";
        for (const wchar_t* name : {L"PYTHONIOENCODING", L"PYTHONUTF8"}) setup::win::SetVariable(name, L"");
        Clone(run_.repo);
        setup::s_installed = L"an earlier build";
        setup::PostProgress(-1);  // as a run gets to the build: with the marquee running
        window_.Take();
    }

    // As if an earlier build had extracted the game already.
    void Extracted() {
        run_.alreadyExtracted = true;
        scratch_.File(setup::layout::ExtractedMarker(run_.repo), 4);
    }

    // Runs the build step; gives its failure, or "".
    std::wstring RunBuild(const std::wstring& source = L"") {
        setup::Choices choices;
        choices.source = source;
        return FailureOf([&] { setup::BuildGame(choices, run_); });
    }

    // What was posted since the last look: the log lines in `log`, the rest on the screen.
    Screen Look(std::vector<std::wstring>* log = nullptr) {
        Screen screen;
        for (Posted& posted : window_.Take()) {
            if (posted.kind == setup::Report::kStatus) screen.push_back(L"status: " + posted.text);
            if (posted.kind == setup::Report::kProgress) screen.push_back(L"bar: " + std::to_wstring(posted.value));
            if (posted.kind == setup::Report::kLines && log) log->push_back(std::move(posted.text));
        }
        return screen;
    }

    // What the record of the last good build holds, and the commit that git says was built.
    std::string Recorded() const { return FileText(setup::layout::BuiltRecord(run_.repo).wstring()); }
    std::string Head() const { return RunProgram(L"git -C " + Quote(run_.repo) + L" rev-parse HEAD").output; }

    setup::RunValues run_;
};

// A phase of the build script: its status line, the marquee unless it runs already, its counters.
Screen Counted(const wchar_t* status, int steps, bool marqueeRuns = false) {
    Screen screen = {L"status: " + std::wstring(status)};
    if (!marqueeRuns) screen.push_back(L"bar: -1");
    for (int done = 1; done <= steps; ++done) screen.push_back(L"bar: " + std::to_wstring(done * 100 / steps));
    return screen;
}

Screen operator+(Screen a, const Screen& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(Build, AFirstBuildGetsTheGameCopyAndTheBarFollowsItsCounters) {
    const fs::path image = scratch_.Folder(L"Quorin Spi\u00e9le") / "game (1).iso";
    fs::copy_file(SandboxPath(L"game.iso"), image);
    ASSERT_EQ(RunBuild(image.wstring()), L"");

    std::vector<std::wstring> log;
    EXPECT_EQ(Look(&log), Screen{L"status: Building (the first build takes 10-30 minutes)"} +
                              Counted(L"Checking the build tools", 0, true) +
                              Counted(L"Extracting the game files", 8, true) +
                              Counted(L"Recompiling the game code", 8) + Counted(L"Compiling", 6) +
                              Counted(L"Linking the launcher", 0) + Counted(L"Done", 0, true))
        << "the bar moves only when it changes";
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], L"== Building (the first build takes 10-30 minutes)");
    EXPECT_EQ(log[1], setup::win::Widen(kBase) + L" --iso \"" + image.wstring() + L"\"");
    for (const std::wstring& line : log) EXPECT_FALSE(line.starts_with(L"  ") && line.find(L'%') != line.npos) << line;
    EXPECT_NE(std::find(log.begin(), log.end(), L"[3/6] Building CXX object src/audio.cpp"), log.end())
        << "counters are logged";
    EXPECT_NE(std::find(log.begin(), log.end(), L"==> Compiling"), log.end()) << "status lines as they came";
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::wstring& line) {
                                return line.starts_with(L"-- Build files have been written to: ") &&
                                       line.ends_with(L"Quorin \u0141\u00f3d\u017a/quorin-recomp/build");
                            }),
              1)
        << "Python was told to write UTF-8";

    EXPECT_EQ(setup::s_installed, setup::layout::Launcher(run_.repo).wstring());
    EXPECT_TRUE(fs::is_regular_file(setup::layout::Launcher(run_.repo)));
    EXPECT_EQ(FileText(setup::layout::ExtractedMarker(run_.repo).wstring()).substr(0, 4), "XEX2");
}

TEST_F(Build, AnExtractedGameIsBuiltWithoutTheGameCopy) {
    Extracted();
    Git(run_.repo, L"pack-refs --all");  // the branch's commit is then in packed-refs alone
    setup::win::SetVariable(L"PYTHONUTF8", L"1");  // the player's own choice of Python's encoding stays theirs
    ASSERT_EQ(RunBuild(L"Z:\\nowhere\\chosen anyway.iso"), L"");
    const std::vector<std::wstring> story = Story({});
    ASSERT_GE(story.size(), 2u);
    EXPECT_EQ(story[1], setup::win::Widen(kBase));
    EXPECT_EQ(setup::win::Variable(L"PYTHONIOENCODING"), L"");
    EXPECT_EQ(Recorded(), Head());
    EXPECT_EQ(Recorded().size(), 41u);
    EXPECT_EQ(setup::s_installed, setup::layout::Launcher(run_.repo).wstring());
}

TEST_F(Build, AFailedBuildAndAMissingLauncherEndTheRun) {
    Extracted();
    SetFaults(R"({"build": "fail"})");
    std::ofstream(setup::layout::BuiltRecord(run_.repo)) << Head();
    EXPECT_EQ(RunBuild(), kBuildFailed);
    EXPECT_FALSE(fs::exists(setup::layout::BuiltRecord(run_.repo))) << "a failed build leaves no record";
    EXPECT_EQ(setup::s_installed, L"an earlier build") << "no launcher to name";
    const std::vector<std::wstring> log = window_.LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(), L"error: src/kernel.cpp: the compiler crashed"), log.end());

    SetFaults(R"({"build": "no-launcher"})");
    EXPECT_EQ(RunBuild(), kLauncherMissing);
    EXPECT_FALSE(fs::exists(setup::layout::BuiltRecord(run_.repo)));
    EXPECT_EQ(setup::s_installed, setup::layout::Launcher(run_.repo).wstring()) << "set before the check";
}

TEST_F(Build, HostileLinesNeverFailTheBuild) {
    Extracted();
    SetFaults(R"({"build": "hostile"})");
    ASSERT_EQ(RunBuild(), L"");
    std::vector<std::wstring> log;
    const Screen screen = Look(&log);
    // Between the last counter and the launcher: [5/0], numbers beyond an int, "  -5%" and a
    // 1 MiB line move nothing; [3/2] moves the bar past the end, and a long status line shows.
    const auto linking = std::find(screen.begin(), screen.end(), L"status: Linking the launcher");
    ASSERT_GE(linking - screen.begin(), 4);
    EXPECT_EQ(Screen(linking - 4, linking),
              (Screen{L"bar: 100", L"bar: 150", L"status: " + std::wstring(1 << 16, L'y'), L"bar: -1"}));
    EXPECT_NE(std::find(log.begin(), log.end(), std::wstring(1 << 20, L'x')), log.end()) << "logged whole";
    EXPECT_NE(std::find(log.begin(), log.end(), L"a line ended by CR alone"), log.end());
}

// A cancel kills the build script with all it started, at once.
TEST_F(Build, ACancelStopsTheBuildAndAllItRan) {
    Extracted();
    SetFaults(R"({"build": "slow"})");
    const auto [failure, log] = CancelAt(L"[1/600] ", [&] { setup::BuildGame({}, run_); });
    EXPECT_EQ(failure, L"Cancelled.");
    EXPECT_TRUE(std::none_of(log.begin(), log.end(),
                             [](const std::wstring& line) { return line.starts_with(L"[600/600]"); }))
        << "the build stopped early";
}

}  // namespace
