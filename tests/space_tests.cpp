// Free space, on small drives of known size (tmpfs mounts made by tests/small_drives.sh, which
// needs root): the hint under the install folder and the worker's question before a build.
#include "choices.h"
#include "support/host_path.h"
#include "support/window_driver.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace setup;
using testing_support::Box;
using testing_support::BoxAnswerer;

namespace {

class SmallDrives : public testing_support::SetupWindow {
protected:
    void SetUp() override {
        drives_ = testing_support::HostPath("QUORIN_SMALL_DRIVES");
        if (!fs::exists(drives_ / "64m" / ".mounted"))
            GTEST_SKIP() << "SKIPPED: the small drives aren't mounted (mounting a tmpfs needs root)";
        Open();
    }

    // Runs into `dir` with a game copy, answering the space question; returns every box.
    std::vector<Box> Run(const fs::path& dir, int answer) {
        SetText(kInstallFolder, dir.wstring());
        SetText(kSourcePath, (drives_ / "64m" / ".mounted").wstring());
        BoxAnswerer answerer({answer, IDOK});
        SendMessageW(Control(kInstallButton), BM_CLICK, 0, 0);
        EXPECT_TRUE(testing_support::PumpUntil([] { return !s_busy; }));
        return answerer.Seen();
    }

    fs::path drives_;
};

TEST_F(SmallDrives, TheHintShowsTheFreeSpaceOfTheFoldersDrive) {
    const std::wstring tail = L" free on that drive; about 12 GB is needed (6 GB once the disc is extracted).";
    SetText(kInstallFolder, (drives_ / "1g" / "Quorin-Recomp").wstring());
    UpdateFreeSpace();
    EXPECT_EQ(Text(kFreeSpaceHint), L"1.0 GB" + tail);
    SetText(kInstallFolder, (drives_ / "512m" / "Games" / "Quorin-Recomp").wstring());
    UpdateFreeSpace();
    EXPECT_EQ(Text(kFreeSpaceHint), L"512 MB" + tail);
}

TEST_F(SmallDrives, TooLittleSpaceIsAskedAboutInWholeGigabytes) {
    const fs::path dir = drives_ / "64m" / "install";
    auto boxes = Run(dir, IDNO);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, L"The drive has 0 GB free; about 12 GB is needed. Continue anyway?");
    EXPECT_EQ(boxes[0].icon, L"warning");
    EXPECT_TRUE(boxes[0].yesNo);
    EXPECT_EQ(boxes[1].text, L"Not enough disk space.");

    boxes = Run(dir, IDYES);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text,
              L"This Setup can't go further yet: installing the build tools isn't available in this build.");

    // With the game's files already extracted, a build needs less.
    fs::create_directories(dir / "quorin-recomp" / "game" / "extracted");
    std::ofstream(dir / "quorin-recomp" / "game" / "extracted" / "default.xex").put('x');
    boxes = Run(dir, IDNO);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, L"The drive has 0 GB free; about 6 GB is needed. Continue anyway?");
    fs::remove_all(dir);
}

}  // namespace
