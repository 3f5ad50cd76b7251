// The setup window's end of the worker's messages, the end of a run, and closing: the real
// window, driven with real messages under Wine.
#include "base/text.h"
#include "report.h"
#include "support/host_path.h"
#include "support/program.h"
#include "support/scratch.h"
#include "support/window_driver.h"
#include "win/convert.h"
#include "win/environment.h"
#include "window/runs.h"
#include "window/taskbar.h"

#include <commctrl.h>

#include <atomic>

namespace fs = std::filesystem;
using namespace setup;
using setup::win::Utf8;
using testing_support::Box;
using testing_support::BoxAnswerer;
using testing_support::ClientSize;
using testing_support::PumpUntil;
using testing_support::PumpWaiting;
using testing_support::Scratch;
using testing_support::Visible;

namespace {

// The launcher test program, placed in a folder of its own, and what it records when started.
class Launcher {
public:
    explicit Launcher(const fs::path& folder) : path_(disk_.Folder(folder) / "QuorinLauncher.exe") {
        fs::copy_file(testing_support::HostPath("QUORIN_LAUNCHER_EXE"), path_);
        for (const auto& [name, value] : record_.Variables()) win::SetVariable(name, value);
    }

    const fs::path& path() const { return path_; }

    // Its working folder, then its arguments, a line each; waits (pumping the window) until it has
    // started.
    std::string Record() const {
        const HANDLE started = record_.started.get();
        EXPECT_TRUE(PumpUntil([&] { return WaitForSingleObject(started, 0) == WAIT_OBJECT_0; }, 30000, started))
            << "the launcher didn't start";
        return FileText(record_.file);
    }

private:
    Scratch disk_;
    fs::path path_;
    testing_support::LauncherRecord record_{disk_.root() / "record.txt"};
};

using Window = testing_support::SetupWindow;

// Whether this thread keeps the system awake; asked so that it stays as it was.
bool KeepsAwake() {
    const EXECUTION_STATE was = SetThreadExecutionState(ES_CONTINUOUS);
    SetThreadExecutionState(was);
    return (was & ES_SYSTEM_REQUIRED) != 0;
}

TEST_F(Window, DetailsBoxDropsItsFirst100000CharactersOnlyPast400000) {
    Open();
    std::wstring text;
    for (int i = 0; text.size() < 400000; ++i) text += std::to_wstring(i) + L" of the build's output\r\n";
    text.resize(400000);

    SetText(kDetails, text);
    Log(L"at the cap");
    PumpWaiting();
    EXPECT_EQ(Text(kDetails), text + L"at the cap\r\n") << "exactly 400000 characters keep everything";

    text += L"x";
    SetText(kDetails, text);
    Log(L"past the cap");
    PumpWaiting();
    EXPECT_EQ(Text(kDetails), text.substr(100000) + L"past the cap\r\n");

    // Lines waiting together, more than one append takes, end as if each came on its own.
    std::wstring expected = text.substr(0, 399990);
    SetText(kDetails, expected);
    for (int i = 0; i < 1200; ++i) {
        const std::wstring line = std::to_wstring(i) + std::wstring(300, L'.');
        Log(line);
        if (expected.size() > 400000) expected.erase(0, 100000);
        expected += line + L"\r\n";
    }
    PumpWaiting();
    EXPECT_EQ(Text(kDetails), expected) << "the box holds at most a line more than 400000 characters";
}

TEST_F(Window, ProgressShowsTheMarqueeThenAPercentageCappedAt100) {
    Open();
    HWND bar = Control(kProgressBar);
    auto marquee = [&] { return (GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE) != 0; };
    PostProgress(-1);
    PumpWaiting();
    EXPECT_TRUE(marquee());
    SetProgress(-1);  // told again (the worker's posts drop a repeat)
    EXPECT_TRUE(marquee());
    PostProgress(50);
    PumpWaiting();
    EXPECT_FALSE(marquee());
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 50);
    PostProgress(150);
    PumpWaiting();
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 100);
}

// What the taskbar button shows is decided apart from the shell, whose interface Wine only stubs.
TEST_F(Window, ARunKeepsThePcAwakeAndShowsOnTheTaskbarButtonWhatTheBarShows) {
    Open();
    SendMessageW(s_window, s_taskbarButtonCreated, 0, 0);
    EXPECT_FALSE(KeepsAwake());
    SetBusy(true);
    EXPECT_TRUE(KeepsAwake());
    PostProgress(-1);
    PumpWaiting();
    EXPECT_EQ(s_taskbar, (TaskbarProgress{TBPF_INDETERMINATE, 0}));
    PostProgress(150);
    PumpWaiting();
    EXPECT_EQ(s_taskbar, (TaskbarProgress{TBPF_NORMAL, 100}));
    PostFinished(false, L"The build failed.");
    Finish({IDOK});
    EXPECT_FALSE(KeepsAwake());
    EXPECT_EQ(s_taskbar, (TaskbarProgress{TBPF_ERROR, 100})) << "a failure stays until the next run";

    SetBusy(true);
    EXPECT_EQ(s_taskbar, TaskbarProgress{});
    PostProgress(40);
    PostFinished(true, L"Done.");
    Finish({IDOK});
    EXPECT_EQ(s_taskbar, TaskbarProgress{}) << "a success clears it";
}

// A worker that floods the window waits for it, so that a click is never stuck behind minutes of
// work; closing during the flood ends the wait at once.
TEST_F(Window, AFloodWaitsForTheWindowAndClosingEndsIt) {
    Open();
    SetBusy(true);
    std::atomic<int> posted{0};
    s_worker = std::thread([&posted] {
        KeepPace();
        for (; !s_cancel; ++posted) Log(L"[1/2] Building CXX object");
    });
    // The window handles none of it meanwhile: the worker goes as far ahead as it may, and waits.
    for (int waited = 0; posted <= kMostBehind && waited < 10000; waited += 10) Sleep(10);
    Sleep(300);  // time to go further, were it not waiting
    EXPECT_EQ(posted, kMostBehind + 1);
    BoxAnswerer yes({IDYES});
    SendMessageW(s_window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(s_window));
}

TEST_F(Window, StatusTextsAndLogLinesArriveInOrder) {
    Open();
    Log(L"first");
    PostStatus(L"Downloading Git: 12 MB of 48 MB");
    Log(L"");
    Log(L"d\u00e9j\u00e0 \U0001F600");
    Log(std::wstring(L"a\0b", 3));
    Log(L"last");
    PumpWaiting();
    EXPECT_EQ(Text(kStatusLine), L"Downloading Git: 12 MB of 48 MB");
    EXPECT_EQ(Text(kDetails), L"first\r\n\r\nd\u00e9j\u00e0 \U0001F600\r\na b\r\nlast\r\n")
        << "a NUL shows as a space and cuts nothing short";
    EXPECT_FALSE(Visible(kDetails)) << "lines arrive while the box is hidden";
}

TEST_F(Window, SuccessInformsOffersUpdateAndPlayAndPlayStartsTheLauncherInItsFolder) {
    Open();
    const Launcher launcher(L"r\u00e9po\\build\\runtime");
    SetBusy(true);
    PostProgress(-1);
    s_installed = launcher.path().wstring();
    PostFinished(true, L"Done. Start the game with the launcher.");
    const std::vector<Box> boxes = Finish({IDOK});

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Quorin Recompiled Setup");
    EXPECT_EQ(boxes[0].text, L"Done. Start the game with the launcher.");
    EXPECT_EQ(boxes[0].icon, L"information");
    EXPECT_FALSE(boxes[0].yesNo);
    EXPECT_EQ(Text(kStatusLine), L"Done. Start the game with the launcher.");
    EXPECT_EQ(Text(kInstallButton), L"Update");
    EXPECT_TRUE(Visible(kPlay));
    EXPECT_FALSE(Visible(kDetails));
    EXPECT_EQ(SendMessageW(Control(kProgressBar), PBM_GETPOS, 0, 0), 100);
    EXPECT_FALSE(GetWindowLongW(Control(kProgressBar), GWL_STYLE) & PBS_MARQUEE);

    SendMessageW(Control(kPlay), BM_CLICK, 0, 0);
    EXPECT_EQ(launcher.Record(), Utf8(launcher.path().parent_path().wstring()) + "\n") << "with no arguments";
    EXPECT_TRUE(PumpUntil([] { return !IsWindow(s_window); })) << "Play closes the window";
}

TEST_F(Window, SuccessInUpdateModeStartsTheLauncherWithoutABox) {
    Open();
    s_updateMode = true;
    const Launcher launcher(L"runtime");
    SetBusy(true);
    s_installed = launcher.path().wstring();
    PostFinished(true, L"Done. Start the game with the launcher.");
    BoxAnswerer anyBox({IDOK});
    EXPECT_EQ(launcher.Record(), Utf8(launcher.path().parent_path().wstring()) + "\n");
    EXPECT_TRUE(PumpUntil([] { return !IsWindow(s_window); }));
    EXPECT_TRUE(anyBox.Stop().empty()) << "no message box";
}

TEST_F(Window, FailureOpensTheDetailsBeforeItsWarningAndKeepsThemOpen) {
    Open();
    for (const wchar_t* message : {L"The build failed.", L"Cancelled."}) {
        SetBusy(true);
        PostFinished(false, message);
        const std::vector<Box> boxes = Finish({IDOK});
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, message);
        EXPECT_EQ(boxes[0].icon, L"warning");
        EXPECT_EQ(ClientSize().cy, 692) << "the window grows once and stays so";
        EXPECT_TRUE(Visible(kDetails));
        EXPECT_EQ(Text(kDetailsToggle), L"Hide details");
        EXPECT_EQ(Text(kInstallButton), L"Install");
        EXPECT_FALSE(Visible(kPlay));
        EXPECT_EQ(Text(kStatusLine), message);
        EXPECT_EQ(SendMessageW(Control(kProgressBar), PBM_GETPOS, 0, 0), 0);
    }
}

TEST_F(Window, ClosingWhileIdleAsksNothingAndEndsTheLoop) {
    Open();
    BoxAnswerer anyBox({IDNO});
    SendMessageW(s_window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(s_window));
    MSG quit;
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the message loop ends";
    EXPECT_TRUE(anyBox.Stop().empty());
}

TEST_F(Window, ClosingDuringARunAsksAndNoKeepsItGoing) {
    Open();
    SetBusy(true);
    {
        BoxAnswerer no({IDNO});
        SendMessageW(s_window, WM_CLOSE, 0, 0);
        const std::vector<Box> boxes = no.Seen();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, L"Setup is still running. Stop it?");
        EXPECT_EQ(boxes[0].icon, L"question");
        EXPECT_TRUE(boxes[0].yesNo);
    }
    EXPECT_TRUE(IsWindow(s_window));
    EXPECT_FALSE(s_cancel);

    // Another close arrives while the first waits for the worker: it is the same close.
    s_worker = std::thread([] {
        Sleep(200);
        SendNotifyMessageW(s_window, WM_CLOSE, 0, 0);
        Sleep(200);
    });
    BoxAnswerer yes({IDYES, IDYES});
    SendMessageW(s_window, WM_CLOSE, 0, 0);
    EXPECT_EQ(yes.Stop().size(), 1u);
    EXPECT_TRUE(s_cancel);
    EXPECT_FALSE(IsWindow(s_window));
    EXPECT_FALSE(KeepsAwake()) << "closing lets the PC sleep again";
}

}  // namespace
