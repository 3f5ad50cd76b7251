// The bridge on its own: the stand-in, copied under a tool's name, runs the real Linux tool
// through the bridge server. Arguments, paths, the working folder, the output, the exit code and
// the kill all have to come through as a Windows program would see them.
#include "support/sandbox.h"
#include "support/scratch.h"
#include "win/handle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

class Bridge : public ::testing::Test {
protected:
    std::wstring Folder(const std::wstring& name) const { return scratch_.Folder(name).wstring(); }

    // Runs python.exe (the stand-in) with Python code and more arguments.
    Finished Python(const std::wstring& code, const std::wstring& arguments = L"", const std::wstring& folder = L"") {
        return RunProgram(Quote(python_) + L" -c \"" + code + L"\" " + arguments, folder);
    }

    Scratch scratch_;
    std::wstring python_ = StandIn(scratch_.root().wstring(), L"python.exe");
};

TEST_F(Bridge, PassesArgumentsWithSpacesQuotesAndNothingInThemAsTheyWere) {
    const auto run = Python(L"import sys; print(sys.argv[1:])", LR"("a b" "say \"hi\"" "" plain --opt=1)");
    EXPECT_EQ(run.code, 0) << run.output;
    EXPECT_EQ(run.output, "['a b', 'say \"hi\"', '', 'plain', '--opt=1']\n");
}

TEST_F(Bridge, TurnsWindowsPathsIntoUnixOnesNonAsciiNamesIncluded) {
    const std::wstring name = L"Spiele \u00dcbung \u65e5\u672c", folder = Folder(name);
    std::ofstream(fs::path(folder) / L"d\u00e4ta.txt") << "absolute";
    std::ofstream(scratch_.Folder(name + L"\\sub") / "more.txt") << "relative";

    const auto print = [&] {
        return Python(
            L"import os, sys; print(os.getcwd()); print(open(sys.argv[1]).read());"
            L" print(open(sys.argv[2]).read()); print(sys.argv[3])",
            Quote(folder + L"\\d\u00e4ta.txt") + L" sub\\more.txt " + Quote(folder + L"\\not\\yet\\made.txt"), folder);
    };
    // As on Windows, Python writes to the pipe in the ANSI code page, unless told otherwise.
    const auto ansi = print();
    EXPECT_NE(ansi.output.find("UnicodeEncodeError: 'charmap' codec"), std::string::npos) << ansi.output;
    SetEnvironmentVariableW(L"PYTHONIOENCODING", L"utf-8");
    const auto run = print();
    SetEnvironmentVariableW(L"PYTHONIOENCODING", nullptr);

    ASSERT_EQ(run.code, 0) << run.output;
    // Wine names a C: path through the prefix's drive link, so only the ends are certain.
    const std::string unixFolder = Utf8(L"/" + name), made = unixFolder + "/not/yet/made.txt\n";
    EXPECT_EQ(run.output.front(), '/') << run.output;
    EXPECT_NE(run.output.find(unixFolder + "\nabsolute\nrelative\n/"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.substr(run.output.size() - std::min(made.size(), run.output.size())), made) << run.output;
}

TEST_F(Bridge, PassesExitCodesBackAndMergesTheOutput) {
    for (int code : {0, 1, 42, 255}) {
        const auto run = Python(L"import sys; sys.exit(" + std::to_wstring(code) + L")");
        EXPECT_EQ(run.code, code);
        EXPECT_EQ(run.output, "");
    }
    const auto killed = Python(L"import os, signal; os.kill(os.getpid(), signal.SIGKILL)");
    EXPECT_EQ(killed.code, 128 + 9) << "a tool killed by a signal ends as a shell reports it";

    const auto merged = Python(L"import sys; print('out', flush=True); print('err', file=sys.stderr, flush=True)");
    EXPECT_EQ(merged.output, "out\nerr\n");
}

TEST_F(Bridge, SaysSoWhenNoLinuxToolStandsBehindTheName) {
    const auto run = RunProgram(Quote(StandIn(scratch_.root().wstring(), L"frobnicate.exe")) + L" --version");
    EXPECT_EQ(run.code, 127);
    EXPECT_EQ(run.output, "bridge: no Linux program stands behind 'frobnicate'\n");
}

TEST_F(Bridge, GivesTheToolOnlyTheToolsOnTheWindowsPath) {
    const std::wstring tools = Folder(L"tools");
    StandIn(tools, L"cmake.exe");
    const std::wstring code = L"import shutil; print([bool(shutil.which(t)) for t in ('cmake', 'ninja', 'python')])";
    const auto without = Python(code);
    const auto withCmake = [&] {
        PathPrefix path(tools + L";");  // an empty piece, too
        return Python(code);
    }();

    EXPECT_EQ(withCmake.output, "[True, False, False]\n");
    EXPECT_EQ(without.output, "[False, False, False]\n");
}

TEST_F(Bridge, KeepsGitFromClimbingOutOfTheTestsFolder) {
    // The scratch folder lies inside our own checkout's build folder.
    const auto run = RunProgram(Quote(StandIn(scratch_.root().wstring(), L"git.exe")) + L" rev-parse --show-toplevel",
                                scratch_.root().wstring());
    EXPECT_NE(run.code, 0) << run.output;
    EXPECT_NE(run.output.find("not a git repository"), std::string::npos) << run.output;
}

// The tool starts a child of its own and reports both process ids while it runs; the test reads
// them, kills the stand-in through its job as the setup's Cancel does, then asks the Linux side
// to wait until both processes are gone.
TEST_F(Bridge, KillingTheStandInKillsTheToolAndItsChildren) {
    std::ofstream(scratch_.root() / "tool.py")
        << "import os, subprocess, sys, time\n"
           "child = subprocess.Popen([sys.executable, '-c', 'import time; time.sleep(600)'])\n"
           "print(os.getpid(), child.pid, flush=True)\n"
           "time.sleep(600)\n";
    std::ofstream(scratch_.root() / "gone.py")
        << "import os, select, sys\n"
           "waiting = []\n"
           "for pid in sys.argv[1:]:\n"
           "    try:\n"
           "        waiting.append(os.pidfd_open(int(pid)))\n"
           "    except ProcessLookupError:\n"
           "        pass\n"
           "while waiting:\n"
           "    ready = select.select(waiting, [], [], 60)[0]\n"
           "    if not ready:\n"
           "        sys.exit('still running')\n"
           "    waiting = [fd for fd in waiting if fd not in ready]\n";
    const setup::win::Handle job(CreateJobObjectW(nullptr, nullptr));
    ASSERT_TRUE(job);
    Program tool(Quote(python_) + L" tool.py", {.folder = scratch_.root().wstring(), .job = job.get(), .output = true});
    ASSERT_TRUE(tool.started());

    const std::string pids = tool.ReadLine();
    ASSERT_FALSE(pids.empty()) << "the output comes through while the tool runs";
    TerminateJobObject(job.get(), 1);
    EXPECT_EQ(tool.Wait(), 1);

    ASSERT_EQ(pids.back(), '\n');
    const std::wstring arguments(pids.begin(), pids.end() - 1);
    const auto gone = RunProgram(Quote(python_) + L" gone.py " + arguments, scratch_.root().wstring());
    EXPECT_EQ(gone.code, 0) << pids << gone.output;
}

}  // namespace
