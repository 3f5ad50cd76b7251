// The process runner with real child processes under Wine, and what the worker's Run logs: the
// test child prints given bytes in given chunks, exits with a given code and can start a grandchild.
#include "base/text.h"
#include "report.h"
#include "support/fixture.h"
#include "support/host_path.h"
#include "support/sandbox.h"
#include "support/scratch.h"
#include "support/test_window.h"
#include "support/worker.h"
#include "win/convert.h"
#include "win/environment.h"
#include "win/errors.h"
#include "win/handle.h"
#include "win/processes.h"
#include "win/running.h"
#include "worker/phases/source.h"
#include "worker/programs.h"

#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <stdexcept>

namespace fs = std::filesystem;
using setup::Failed;
using testing_support::FailureOf;
using testing_support::TestWindow;

namespace {

class Process : public testing_support::WorkerTest {
protected:
    static std::wstring Child(const std::wstring& arguments) {
        return setup::Quote(testing_support::HostPath("QUORIN_CHILD_EXE")) + L" " + arguments;
    }

    // Runs the command line and gives back the lines that reached the callback.
    std::vector<std::string> Output(const std::wstring& commandLine, int expectedCode = 0, const fs::path& folder = {}) {
        std::vector<std::string> lines;
        EXPECT_EQ(setup::Run(commandLine, folder, [&](const std::string& line) { lines.push_back(line); }), expectedCode);
        return lines;
    }

    // The lines that win::Run itself gives its callback, an unterminated last piece marked "(last) ".
    std::vector<std::string> Delivered(const std::wstring& commandLine, std::vector<std::wstring>& log) {
        std::vector<std::string> lines;
        const auto each = [&](const std::string& line, bool last) { lines.push_back((last ? "(last) " : "") + line); };
        const auto logged = [&](const std::wstring& line) { log.push_back(line); };
        EXPECT_EQ(setup::win::Run(commandLine, {}, each, {logged, &setup::s_cancel, setup::s_job.get()}).error,
                  setup::win::Ran::kNone);
        return lines;
    }

    testing_support::WorkerJob job_;
    TestWindow window_;
};

using Lines = std::vector<std::string>;
using LogLines = std::vector<std::wstring>;

// What the log keeps of the lines is the worker's Run's: win::Run logs none of them.
TEST_F(Process, CutsLinesAtCrOrLfAndDropsEmptyOnesAndLogsOnlyTheCommandLine) {
    const std::wstring command = Child(LR"("a\r\n  42% built\n" "Receiving objects:  5% (1/20)\r" "b")");
    LogLines log;
    EXPECT_EQ(Delivered(command, log), (Lines{"a", "  42% built", "Receiving objects:  5% (1/20)", "(last) b"}));
    EXPECT_EQ(log, LogLines{L"$ " + command});

    EXPECT_EQ(Delivered(Child(LR"("\r\r\n\none\rtwo\n\nthree\r\n" "\n")"), log), (Lines{"one", "two", "three"}));
    EXPECT_EQ(window_.LogLines(), LogLines{});
}

TEST_F(Process, DeliversALineSplitAcrossReadsOnceAndWhole) {
    EXPECT_EQ(Output(Child(LR"(--pause 50 "hel" "lo wor" "ld\nnext\n")")), (Lines{"hello world", "next"}));

    // Longer than one 4096-byte read.
    const Lines long_ = Output(Child(LR"(--big 10000 "\nafter\n")"));
    ASSERT_EQ(long_.size(), 2u);
    EXPECT_EQ(long_[0], std::string(10000, 'x'));
    EXPECT_EQ(long_[1], "after");
}

TEST_F(Process, KeepsProgressLinesOutOfTheLogButGivesThemToTheCallback) {
    const std::wstring command = Child(LR"("  42% built\n" " 7% one space\n" "7% none\n" "  no percent\n" "  99% last")");
    EXPECT_EQ(Output(command), (Lines{"  42% built", " 7% one space", "7% none", "  no percent", "  99% last"}));
    EXPECT_EQ(window_.LogLines(), (LogLines{L"$ " + command, L" 7% one space", L"7% none", L"  no percent", L"  99% last"}))
        << "the unterminated last piece is logged even when it looks like progress";
}

// Git's progress: a stage's lines but the last ended by a CR alone.
TEST_F(Process, LogsTheLastLineOfEachStageOfGitsProgressOnceTheStageIsOver) {
    const std::wstring command = Child(
        LR"("remote: Counting objects:  50% (1/2)\r" "remote: Counting objects: 100% (2/2), done.\n" )"
        LR"("Receiving objects:  10% (1/10)\r" "Receiving objects:  60% (6/10)\r" "warning: slow\n" )"
        LR"("Receiving objects: 100% (10/10)\r" "Receiving objects: 100% (10/10), 1.00 MiB, done.\n" )"
        LR"x("Resolving deltas:  50% (1/2)\r" "Resolving deltas: 100% (2/2)")x");
    EXPECT_EQ(Output(command).size(), 9u) << "the callback gets every line";
    EXPECT_EQ(window_.LogLines(), (LogLines{L"$ " + command, L"remote: Counting objects: 100% (2/2), done.",
        L"Receiving objects:  60% (6/10)", L"warning: slow", L"Receiving objects: 100% (10/10), 1.00 MiB, done.",
        L"Resolving deltas:  50% (1/2)", L"Resolving deltas: 100% (2/2)"}))
        << "the stage's latest line when the output ends, then the unterminated last piece";
}

TEST_F(Process, LogsOutputAsUtf8OrElseInTheAnsiCodePage) {
    testing_support::Scratch scratch;
    const fs::path file = scratch.root() / "setup.log";
    ASSERT_TRUE(setup::OpenLog(file));
    const std::wstring command = Child(LR"("caf\xc3\xa9\n" "caf\xe9\n" "caf\xe9")");
    Output(command);
    setup::CloseLog();
    EXPECT_EQ(window_.LogLines(), (LogLines{L"$ " + command, L"caf\u00e9", L"caf\u00e9", L"caf\u00e9"}));
    EXPECT_EQ(testing_support::FileText(file.wstring()),
              setup::win::Utf8(L"$ " + command) + "\r\ncaf\xc3\xa9\r\ncaf\xc3\xa9\r\ncaf\xc3\xa9\r\n")
        << "setup.log holds UTF-8 either way";
}

TEST_F(Process, PassesTheExitCodeThrough) {
    EXPECT_EQ(setup::Run(Child(L"--exit 0"), {}, {}), 0);
    EXPECT_EQ(setup::Run(Child(L"--exit 3"), {}, {}), 3);
    EXPECT_EQ(setup::Run(Child(L"--exit 259"), {}, {}), 259);
    EXPECT_EQ(setup::Run(Child(L"--exit 0xC0000005"), {}, {}), static_cast<int>(0xC0000005));
}

TEST_F(Process, RunsInTheGivenFolderOrElseInTheCurrentOne) {
    EXPECT_EQ(fs::path(Output(Child(L"--cwd")).at(0)), fs::current_path());

    testing_support::Scratch scratch;
    const fs::path folder = scratch.Folder(u8"\u00e9t\u00e9 and spaces");
    const Lines lines = Output(Child(L"--cwd"), 0, folder);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(fs::equivalent(fs::path(std::u8string(lines[0].begin(), lines[0].end())), folder)) << lines[0];
}

TEST_F(Process, FailsToStartAMissingProgramOrFolder) {
    // The log says why; the player's sentence doesn't.
    const auto couldntStart = [](const std::wstring& command, DWORD error) {
        return L"Couldn't start: " + command + L" (" + setup::win::ErrorText(error) + L")";
    };
    const std::wstring missing = L"quorin-no-such-program.exe --version";
    EXPECT_EQ(FailureOf([&] { setup::Run(missing, {}, {}); }), couldntStart(missing, ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(window_.LogLines(), (LogLines{L"$ " + missing})) << "the command line is logged before the start";

    testing_support::Scratch scratch;
    const std::wstring child = Child(L"--cwd");
    EXPECT_EQ(FailureOf([&] { setup::Run(child, scratch.root() / "missing", {}); }),
              couldntStart(child, ERROR_DIRECTORY));
    const fs::path notAProgram = scratch.File("zeros.exe", 100);
    const std::wstring text = L"\"" + notAProgram.wstring() + L"\"";
    EXPECT_EQ(FailureOf([&] { setup::Run(text, {}, {}); }), couldntStart(text, ERROR_BAD_EXE_FORMAT));
}

bool Running(DWORD pid) {
    const setup::win::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (entry.th32ProcessID == pid) return true;
    return false;
}

TEST_F(Process, CancelEndsTheChildAndItsDescendants) {
    // The child starts a grandchild that sleeps and holds the pipe, then sleeps itself; the
    // "window" cancels as soon as both are known.
    DWORD child = 0, grandchild = 0;
    setup::win::Handle watch;
    const auto cancel = [&](const std::string& line) {
        if (line.starts_with("child ")) child = std::stoul(line.substr(6));
        if (!line.starts_with("grandchild ")) return;
        grandchild = std::stoul(line.substr(11));
        watch.Attach(OpenProcess(SYNCHRONIZE, FALSE, grandchild));
        setup::s_cancel = true;
        TerminateJobObject(setup::s_job.get(), 1);
    };
    EXPECT_EQ(FailureOf([&] { setup::Run(Child(L"--spawn --sleep 60000"), {}, cancel); }), L"Cancelled.");

    ASSERT_NE(grandchild, 0u);
    ASSERT_TRUE(watch);
    ASSERT_EQ(WaitForSingleObject(watch.get(), 10000), WAIT_OBJECT_0) << "the grandchild is still running";
    EXPECT_FALSE(Running(child));
    EXPECT_FALSE(Running(grandchild));
}

TEST_F(Process, EndsWithItsProgramThoughSomethingItStartedHoldsTheOutput) {
    // The grandchild sleeps a minute with the pipe's write end.
    const ULONGLONG start = GetTickCount64();
    const Lines lines = Output(Child(LR"(--spawn "last\n" --exit 5)"), 5);
    EXPECT_LT(GetTickCount64() - start, 20000u);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].starts_with("child ") && lines[1].starts_with("grandchild ")) << lines[0];
    EXPECT_EQ(lines[2], "last");
}

TEST_F(Process, OnlyThePipeReachesTheChildAndOnlyInTheJob) {
    testing_support::Scratch scratch;
    const fs::path file = scratch.root() / "setup.log";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    {
        const setup::win::FileHandle log(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(log);
        Output(Child(L"--leak " + std::to_wstring(reinterpret_cast<ULONG_PTR>(log.get()))));
    }
    EXPECT_EQ(fs::file_size(file), 0u) << "an inheritable handle of ours reached the child";

    // A child that can't be put into the job never runs.
    setup::win::Handle notAJob(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::swap(notAJob, setup::s_job);
    Lines lines;
    const std::wstring command = Child(LR"("ran\n")");
    EXPECT_EQ(FailureOf([&] { setup::Run(command, {}, [&](const std::string& line) { lines.push_back(line); }); }),
              L"Couldn't start: " + command + L" (" + setup::win::ErrorText(ERROR_INVALID_HANDLE) + L")");
    std::swap(notAJob, setup::s_job);
    EXPECT_TRUE(lines.empty());
}

TEST_F(Process, ACancelDuringARunThatEndsNormallyStillFails) {
    Lines lines;
    const auto cancelAtOnce = [&](const std::string& line) {
        lines.push_back(line);
        setup::s_cancel = true;
    };
    EXPECT_EQ(FailureOf([&] { setup::Run(Child(LR"("done\n")"), {}, cancelAtOnce); }), L"Cancelled.");
    EXPECT_EQ(lines, (Lines{"done"})) << "the output is still delivered";

    // One that came between two programs: the next never starts.
    window_.Take();
    EXPECT_EQ(FailureOf([&] { setup::Run(Child(LR"("started\n")"), {}, cancelAtOnce); }), L"Cancelled.");
    EXPECT_EQ(lines, (Lines{"done"}));
    EXPECT_EQ(window_.LogLines(), LogLines{});
}

TEST_F(Process, TakesALineOfManyMegabytes) {
    for (const wchar_t* end : {L"", LR"("\n")"}) {
        Lines lines = Output(Child(L"--big 16777216 " + std::wstring(end)));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].size(), 16777216u);
        EXPECT_EQ(lines[0].find_first_not_of('x'), std::string::npos);
        const LogLines logged = window_.LogLines();
        ASSERT_EQ(logged.size(), 2u);
        EXPECT_EQ(logged[1].size(), 16777216u);
    }
}

// Wine's GetProcessHandleCount always says 0, so the handle table is probed instead; new
// handles take the lowest free values, well below the end of the probe.
int OpenHandles() {
    int count = 0;
    DWORD flags = 0;
    for (ULONG_PTR value = 4; value < 0x4000; value += 4)
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0;
    return count;
}

TEST_F(Process, LeaksNoHandleOnAnyPath) {
    const auto once = [&](int round) {
        try {
            switch (round % 4) {
            case 0: setup::Run(Child(LR"("one\ntwo")"), {}, {}); break;
            case 1: setup::Run(L"quorin-no-such-program.exe", {}, {}); break;
            case 2: setup::Run(Child(LR"("boom\nmore\n")"), {}, [](const std::string&) { throw std::runtime_error("parser"); }); break;
            case 3: setup::Run(Child(L"--exit 7"), L"Z:\\quorin\\no\\such\\folder", {}); break;
            }
        } catch (const Failed&) {
        } catch (const std::runtime_error&) {
        }
        window_.Take();
    };
    for (int round = 0; round < 4; ++round) once(round);  // lets the system make its lazy handles

    const int before = OpenHandles();
    for (int round = 0; round < 200; ++round) once(round);
    EXPECT_EQ(OpenHandles(), before);
}

TEST_F(Process, RunningWithinFindsAProgramByItsFilesFolder) {
    testing_support::Scratch scratch;
    const fs::path copy = scratch.Folder("Quorin Recomp\\build") / "QuorinLauncher.exe";
    fs::copy_file(testing_support::HostPath("QUORIN_CHILD_EXE"), copy);
    const auto finds = [](const fs::path& folder, const fs::path& program, HANDLE job = nullptr) {
        std::error_code error;
        for (const fs::path& file : setup::win::RunningWithin(folder, job))
            if (fs::equivalent(file, program, error)) return true;
        return false;
    };
    bool seen = false;
    setup::Run(setup::Quote(copy) + LR"( "up\n" --sleep 1000)", {}, [&](const std::string&) {  // then it sleeps
        seen = true;
        EXPECT_TRUE(finds(scratch.root() / "QUORIN RECOMP", copy));
        EXPECT_FALSE(finds(scratch.root() / "Quorin Recomp", copy, setup::s_job.get())) << "a run's own child";
        EXPECT_FALSE(finds(scratch.Folder("Quorin"), copy));
    });
    EXPECT_TRUE(seen);
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_FALSE(finds(fs::path(self).parent_path(), self)) << "this program";
}

TEST_F(Process, GitOutputKeepsTheFirstNonEmptyLineAndTheResult) {
    // The test child stands in for git: it is found first on the PATH under that name, never a
    // git.exe in the current folder, as in a Downloads folder beside Setup.
    testing_support::Scratch scratch;
    const fs::path bin = scratch.Folder("bin");
    fs::copy_file(testing_support::HostPath("QUORIN_CHILD_EXE"), bin / "git.exe");
    const fs::path repository = scratch.Folder("the repo");
    const fs::path current = fs::current_path();
    fs::current_path(scratch.File("downloads/git.exe", 100).parent_path());
    const std::wstring path = setup::win::Variable(L"PATH");
    setup::win::SetVariable(L"PATH", bin.wstring() + L";" + path);

    std::string output = "stale";
    EXPECT_TRUE(setup::GitOutput(repository, LR"("\n\n" "main\nsecond\n")", output));
    EXPECT_EQ(output, "main");
    EXPECT_EQ(window_.LogLines().front(), L"$ git -C " + setup::Quote(repository) + LR"( "\n\n" "main\nsecond\n")");

    EXPECT_FALSE(setup::GitOutput(repository, LR"(--exit 128 "fatal: not a git repository\n")", output));
    EXPECT_EQ(output, "fatal: not a git repository");

    EXPECT_TRUE(setup::GitOutput(repository, L"--cwd", output));
    EXPECT_TRUE(fs::equivalent(output, repository)) << "runs in the repository";

    EXPECT_FALSE(setup::GitOutput(repository, L"--exit 1", output));
    EXPECT_EQ(output, "") << "nothing printed";
    setup::win::SetVariable(L"PATH", path);
    fs::current_path(current);
}

}  // namespace
