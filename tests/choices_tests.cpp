// The user's choices around a run: the source kind, the free-space hint, the refusals and
// questions of the Install button, Cancel, and where a picked install folder leads.
#include "base/text.h"
#include "support/host_path.h"
#include "support/messages.h"
#include "support/program.h"
#include "support/scratch.h"
#include "support/window_driver.h"
#include "window/choices.h"
#include "window/runs.h"

#include <vector>

namespace fs = std::filesystem;
using namespace setup;
using testing_support::Box;
using testing_support::BoxAnswerer;
using testing_support::kNoGitHub;
using testing_support::kNonAsciiQuestion;
using testing_support::Scratch;

namespace {

const wchar_t* const kNotAFolder = L"That isn't a folder. Choose the folder of your extracted disc.";
const wchar_t* const kNoGameCopy = L"Choose your Quorin disc image (.iso) or extracted disc folder first.";

class Choosing : public testing_support::SetupWindow {
protected:
    void SetUp() override {
        Open();
        SetText(kInstallFolder, disk_.Folder("install").wstring());
    }

    void Click(int id) { SendMessageW(Control(id), BM_CLICK, 0, 0); }

    // Presses Install, answering the boxes it shows before the run starts (the press returns
    // only when they are gone).
    std::vector<Box> PressInstall(std::vector<int> answers) {
        BoxAnswerer answerer(std::move(answers));
        Click(kInstallButton);
        return answerer.Stop();
    }

    Scratch disk_;
};

TEST_F(Choosing, AnEmptyInstallFolderIsRefused) {
    SetText(kInstallFolder, L"");
    const auto boxes = PressInstall({IDOK});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Quorin Recompiled Setup");
    EXPECT_EQ(boxes[0].text, L"Choose a folder to install to.");
    EXPECT_EQ(boxes[0].icon, L"information");
    EXPECT_FALSE(s_busy);
    EXPECT_FALSE(s_worker.joinable());
    EXPECT_EQ(Text(kInstallButton), L"Install");
}

TEST_F(Choosing, AnInstallFolderOfMoreThan100CharactersIsRefused) {
    const std::wstring root = disk_.root().wstring() + L"\\";
    SetText(kInstallFolder, root + std::wstring(101 - root.size(), L'q'));
    const auto boxes = PressInstall({IDOK});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"The install folder's path is too long: it may have at most 100 characters, since the "
                             L"build tools' files and the build's go deep inside it. Choose a short folder, such as "
                             L"C:\\Quorin-Recomp.");
    EXPECT_FALSE(s_busy);

    // A box that shouldn't come is answered, and fails the test at once.
    SetText(kInstallFolder, root + std::wstring(100 - root.size(), L'q'));
    EXPECT_TRUE(PressInstall({IDOK}).empty());
    EXPECT_TRUE(s_busy) << "100 characters are enough";
    EXPECT_EQ(Finish({IDOK}).at(0).text, kNoGameCopy);

    const fs::path installed = disk_.Folder(std::wstring(101 - root.size(), L'i') + L"\\quorin-recomp\\.git");
    SetText(kInstallFolder, installed.parent_path().parent_path().wstring());
    EXPECT_TRUE(PressInstall({IDOK}).empty());
    EXPECT_TRUE(s_busy) << "an install there already is updated";
    EXPECT_EQ(Finish({IDOK}).at(0).text, kNoGameCopy);
}

TEST_F(Choosing, ANonEnglishInstallFolderIsAskedAboutOnce) {
    SetText(kInstallFolder, disk_.root().wstring() + L"\\Caf\u00e9");
    Click(kExtractedFolder);
    SetText(kSourcePath, disk_.File("game.iso").wstring());

    auto boxes = PressInstall({IDNO});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kNonAsciiQuestion);
    EXPECT_EQ(boxes[0].icon, L"warning");
    EXPECT_TRUE(boxes[0].yesNo);
    EXPECT_FALSE(s_busy);

    boxes = PressInstall({IDYES, IDOK});
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, kNonAsciiQuestion);
    EXPECT_EQ(boxes[1].text, kNotAFolder) << "Yes goes on to the next check";
    EXPECT_FALSE(s_busy);
}

TEST_F(Choosing, OnlyTheInstallFolderIsCheckedForNonEnglishCharacters) {
    SetText(kSourcePath, disk_.File(L"Spi\u00e9l\\game.iso").wstring());
    EXPECT_TRUE(PressInstall({IDNO}).empty());
    EXPECT_TRUE(s_busy) << "started without a question";
    const auto boxes = Finish({IDYES, IDOK});  // the worker's of an empty game copy, and the end
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, kNoGitHub);
}

TEST_F(Choosing, AnExtractedFolderMustBeAFolderUnlessLeftEmpty) {
    Click(kExtractedFolder);
    SetText(kSourcePath, disk_.File("game.iso").wstring());
    auto boxes = PressInstall({IDOK});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kNotAFolder);
    EXPECT_EQ(boxes[0].icon, L"information");
    EXPECT_FALSE(s_busy);

    SetText(kSourcePath, (disk_.root() / "missing").wstring());
    EXPECT_EQ(PressInstall({IDOK}).size(), 1u) << "a missing path isn't a folder either";

    SetText(kSourcePath, L"");
    Click(kInstallButton);
    EXPECT_TRUE(s_busy) << "the worker decides whether it needs a game copy";
    EXPECT_EQ(Text(kInstallButton), L"Cancel");
    EXPECT_FALSE(IsWindowEnabled(Control(kInstallFolder)));
    boxes = Finish({IDOK});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kNoGameCopy);
}

TEST_F(Choosing, DeletingTheDiscImageIsConfirmedWithItsPath) {
    const fs::path image = disk_.File("Quorin (2007).iso");
    SetText(kSourcePath, image.wstring());
    Click(kDeleteIso);
    const std::wstring question = L"Delete the disc image when it's been extracted?\n\n" + image.wstring() +
                                  L"\n\nThe game only needs the extracted files; you'd need the disc image again "
                                  L"only to install somewhere else.";

    auto boxes = PressInstall({IDNO});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, question);
    EXPECT_EQ(boxes[0].icon, L"question");
    EXPECT_TRUE(boxes[0].yesNo);
    EXPECT_FALSE(s_busy);
    EXPECT_TRUE(Checked(kDeleteIso)) << "No keeps the option";

    boxes = PressInstall({IDYES});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(s_busy);
    Finish({IDNO, IDOK});  // the worker's question of an empty game copy, and the end

    s_updateMode = true;  // an update started from the command line asks nothing
    boxes = PressInstall({IDNO});
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(s_busy);
    Finish({IDNO, IDOK});
}

TEST_F(Choosing, TheSourceKindClearsThePathAndGovernsTheDeleteOption) {
    SetText(kSourcePath, L"D:\\game.iso");
    Click(kDeleteIso);
    Click(kExtractedFolder);
    EXPECT_EQ(Text(kSourcePath), L"");
    EXPECT_EQ(Text(kSourceHint),
              L"The folder with default.xex, levels, sounds, textures... (from extract-xiso, Xenia, etc.). It's copied.");
    EXPECT_FALSE(Checked(kDeleteIso));
    EXPECT_FALSE(IsWindowEnabled(Control(kDeleteIso)));

    SetText(kSourcePath, L"D:\\extracted");
    Click(kExtractedFolder);
    EXPECT_EQ(Text(kSourcePath), L"") << "clicking the chosen kind again clears the path too";

    Click(kDiscImage);
    EXPECT_EQ(Text(kSourceHint), L"A dump of your own Xbox 360 disc of Quorin (2007).");
    EXPECT_TRUE(IsWindowEnabled(Control(kDeleteIso)));
    EXPECT_FALSE(Checked(kDeleteIso));
}

// Every shown control that takes input: what a run locks, and Cancel and the details toggle.
std::vector<HWND> InputControls() {
    std::vector<HWND> controls;
    for (HWND control : testing_support::Controls()) {
        const std::wstring kind = testing_support::KindOf(control);  // buttons: push, default and radio
        const bool input = kind.ends_with(L"button") || kind == L"check box" || kind == L"edit";
        if (input && (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE)) controls.push_back(control);
    }
    return controls;
}

TEST_F(Choosing, BusyLocksTheChoicesAndTurnsInstallIntoCancel) {
    const std::vector<HWND> input = InputControls();
    ASSERT_FALSE(input.empty());
    const auto stays = [](HWND control) {
        return control == Control(kInstallButton) || control == Control(kDetailsToggle);
    };
    SetBusy(true);
    for (HWND control : input) EXPECT_EQ(IsWindowEnabled(control) != FALSE, stays(control)) << GetDlgCtrlID(control);
    EXPECT_EQ(Text(kInstallButton), L"Cancel");
    UpdateSourceChoice();
    EXPECT_FALSE(IsWindowEnabled(Control(kDeleteIso))) << "not while busy";

    SetBusy(false);
    for (HWND control : input) EXPECT_TRUE(IsWindowEnabled(control)) << GetDlgCtrlID(control);
    EXPECT_EQ(Text(kInstallButton), L"Install");

    Click(kExtractedFolder);
    SetBusy(true);
    SetBusy(false);
    EXPECT_FALSE(IsWindowEnabled(Control(kDeleteIso))) << "never for an extracted folder";
}

TEST_F(Choosing, CancelEndsEveryChildAtOnceAndSaysSo) {
    // A child of a run, as the process runner starts them: inside the job.
    const testing_support::Program child(Quote(testing_support::HostPath("QUORIN_LAUNCHER_EXE")),
                                         {.job = s_job.get(), .suspended = true});
    ASSERT_TRUE(child.started()) << "in the job";

    SetBusy(true);
    Click(kInstallButton);
    EXPECT_TRUE(s_cancel);
    EXPECT_EQ(Text(kStatusLine), L"Cancelling...");
    EXPECT_EQ(Text(kInstallButton), L"Cancel") << "until the worker's final message";
    ASSERT_TRUE(child.Ended(10000));
    EXPECT_EQ(child.Wait(), 1);

    SetText(kStatusLine, L"");
    Click(kInstallButton);
    EXPECT_EQ(Text(kStatusLine), L"Cancelling...") << "a second press does it again";
    SetBusy(false);
}

TEST_F(Choosing, TheFreeSpaceHintNamesTheNearestExistingFolderAndNothingForAMissingDrive) {
    SetText(kInstallFolder, (disk_.root() / "not\\yet\\made").wstring());
    UpdateFreeSpace();
    const std::wstring tail = L" free on that drive; about 12 GB is needed (6 GB once the disc is extracted).";
    const std::wstring hint = Text(kFreeSpaceHint);
    ASSERT_GT(hint.size(), tail.size());
    EXPECT_EQ(hint.substr(hint.size() - tail.size()), tail);

    ASSERT_EQ(GetDriveTypeW(L"Q:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR)) << "the test needs a missing drive Q:";
    SetText(kInstallFolder, L"Q:\\Quorin-Recomp");
    SendMessageW(s_window, WM_COMMAND, MAKEWPARAM(kInstallFolder, EN_KILLFOCUS),
                 reinterpret_cast<LPARAM>(Control(kInstallFolder)));
    EXPECT_EQ(Text(kFreeSpaceHint), L"");
}

TEST(InstallFolderIn, AddsTheProgramsFolderUnlessThePickedOneIsNamedSo) {
    EXPECT_EQ(InstallFolderIn(L"D:\\"), L"D:\\Quorin-Recomp");
    EXPECT_EQ(InstallFolderIn(L"D:\\Games"), L"D:\\Games\\Quorin-Recomp");
    EXPECT_EQ(InstallFolderIn(L"D:\\Quorin-Recomp"), L"D:\\Quorin-Recomp");
    EXPECT_EQ(InstallFolderIn(L"D:\\Games\\Quorin-Recomp"), L"D:\\Games\\Quorin-Recomp");
    EXPECT_EQ(InstallFolderIn(L"D:\\quorin-recomp"), L"D:\\quorin-recomp\\Quorin-Recomp") << "case matters";
    EXPECT_EQ(InstallFolderIn(L"\\\\server\\share\\Spi\u00e9le"), L"\\\\server\\share\\Spi\u00e9le\\Quorin-Recomp");
}

}  // namespace
