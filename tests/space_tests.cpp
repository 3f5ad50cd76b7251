// Free space, on small drives of known size (tmpfs mounts made by tests/small_drives.sh, which
// needs root): the hint under the install folder and the worker's question before a build.
#include "support/messages.h"
#include "support/program.h"
#include "support/window_driver.h"
#include "window/choices.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace setup;
using testing_support::Box;
using testing_support::BoxAnswerer;

namespace {

// The drives of 1 GiB, 512 MiB and 64 MiB, as tests/small_drives.sh maps them.
const fs::path kDrive1g = L"S:\\", kDrive512m = L"T:\\", kDrive64m = L"U:\\";

class SmallDrives : public testing_support::SetupWindow {
protected:
    void SetUp() override {
        if (!fs::exists(kDrive64m / ".mounted"))
            GTEST_SKIP() << "SKIPPED: the small drives aren't mounted (mounting a tmpfs needs root)";
        Open();
    }

    // Runs into `dir` with a game copy, answering the space question; returns every box. Past it,
    // the copy (an empty file) is asked about, and used.
    std::vector<Box> Run(const fs::path& dir, int answer) {
        SetText(kInstallFolder, dir.wstring());
        SetText(kSourcePath, (kDrive64m / ".mounted").wstring());
        BoxAnswerer answerer(answer == IDYES ? std::vector<int>{IDYES, IDYES, IDOK} : std::vector<int>{answer, IDOK});
        SendMessageW(Control(kInstallButton), BM_CLICK, 0, 0);
        EXPECT_TRUE(testing_support::PumpUntil([] { return !s_busy; }));
        return answerer.Seen();
    }
};

TEST_F(SmallDrives, TheHintShowsTheFreeSpaceOfTheFoldersDrive) {
    const std::wstring tail = L" free on that drive; about 12 GB is needed (6 GB once the disc is extracted).";
    SetText(kInstallFolder, (kDrive1g / "Quorin-Recomp").wstring());
    UpdateFreeSpace();
    EXPECT_EQ(Text(kFreeSpaceHint), L"1.0 GB" + tail);
    SetText(kInstallFolder, (kDrive512m / "Games" / "Quorin-Recomp").wstring());
    UpdateFreeSpace();
    EXPECT_EQ(Text(kFreeSpaceHint), L"512 MB" + tail);
}

TEST_F(SmallDrives, TooLittleSpaceIsAskedAboutInWholeGigabytes) {
    const fs::path dir = kDrive64m / "install";
    auto boxes = Run(dir, IDNO);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, L"The drive has 0 GB free; about 12 GB is needed. Continue anyway?");
    EXPECT_EQ(boxes[0].icon, L"warning");
    EXPECT_TRUE(boxes[0].yesNo);
    EXPECT_EQ(boxes[1].text, L"Not enough disk space.");

    boxes = Run(dir, IDYES);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[2].text, testing_support::kNoGitHub) << "Yes goes on to the first download";

    // With the game's files already extracted, a build needs less.
    fs::create_directories(dir / "quorin-recomp" / "game" / "extracted");
    std::ofstream(dir / "quorin-recomp" / "game" / "extracted" / "default.xex").put('x');
    boxes = Run(dir, IDNO);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, L"The drive has 0 GB free; about 6 GB is needed. Continue anyway?");
    fs::remove_all(dir);
}

// Closing the window while the worker's question is up: the close handler waits for the worker,
// and the question, owned by the window, re-enables the window when it is answered. Neither
// thread may end up waiting for the other.
TEST_F(SmallDrives, ClosingWhileTheSpaceQuestionIsUpStillCloses) {
    SetText(kInstallFolder, (kDrive64m / "closing").wstring());
    SetText(kSourcePath, (kDrive64m / ".mounted").wstring());
    std::wstring stopText;
    // Before the worker's question is answered: close, and say Yes to "Stop it?", a box of the
    // window's own thread.
    const auto closeFirst = [&](HWND) {
        PostMessageW(s_window, WM_CLOSE, 0, 0);
        const DWORD thread = GetWindowThreadProcessId(s_window, nullptr);
        const auto stopBox = [thread](HWND box) {
            return testing_support::ClassOf(box) == L"#32770" && IsWindowVisible(box) &&
                   GetWindowThreadProcessId(box, nullptr) == thread;
        };
        HWND stop = nullptr;
        testing_support::WaitUntil(20000, [&] {
            return (stop = testing_support::FindWindowOf(GetCurrentProcessId(), stopBox)) != nullptr;
        }, 5);
        if (!stop) return;
        stopText = testing_support::TextOf(GetDlgItem(stop, 0xFFFF));
        testing_support::Press(stop, IDYES);
        while (!s_cancel) Sleep(5);
        Sleep(200);  // the window's thread is now waiting for the worker
    };
    BoxAnswerer question({IDNO}, closeFirst);
    SendMessageW(Control(kInstallButton), BM_CLICK, 0, 0);
    const HWND window = s_window;
    const bool closed = testing_support::PumpUntil([window] { return !IsWindow(window); }, 30000);
    ASSERT_TRUE(closed) << "the window and the worker waited for each other";
    EXPECT_EQ(stopText, L"Setup is still running. Stop it?");
    ASSERT_EQ(question.Seen().size(), 1u);
    EXPECT_EQ(question.Seen()[0].text, L"The drive has 0 GB free; about 12 GB is needed. Continue anyway?");
}

}  // namespace
