// One run of the install worker, started from the real window: the install folder, setup.log,
// the game-copy phase and the final message.
#include "maintenance/layout.h"
#include "support/sandbox.h"
#include "support/sandbox_tools.h"
#include "support/scratch.h"
#include "support/window_driver.h"
#include "version.h"
#include "win/convert.h"
#include "win/environment.h"
#include "win/errors.h"
#include "win/files.h"
#include "window/choices.h"
#include "worker/install.h"
#include "worker/services.h"

#include <fstream>
#include <regex>

namespace fs = std::filesystem;
using namespace setup;
using setup::layout::RepoFolder;
using setup::win::Utf8;
using setup::win::Widen;
using testing_support::Box;
using testing_support::BoxAnswerer;
using testing_support::FileText;
using testing_support::kSandboxTools;
using testing_support::SandboxTool;
using testing_support::Scratch;

namespace {

const wchar_t* const kNoGameCopy = L"Choose your Quorin disc image (.iso) or extracted disc folder first.";

// The tools on PATH are empty files, so the clone, the first git command of a run, can't start:
// that ends every run that gets past the tools.
std::string Clone(const fs::path& dir) {
    return "git clone --progress " + std::string(kRepoUrl) + " \"" + Utf8(RepoFolder(dir).wstring()) + "\"";
}
std::string CantStart(const fs::path& dir) { return "Couldn't start: " + Clone(dir); }

class Running : public testing_support::SetupWindow {
protected:
    // Runs that get past the game copy find the build tools on PATH (an empty file is found as
    // well as a program), so they download nothing.
    void SetUp() override {
        for (const SandboxTool& tool : kSandboxTools) disk_.File(tools_ / tool.exe);
        Open();
    }

    // Runs with these choices, answering the questions on the way, and returns the final box.
    Box Run(const fs::path& dir, const fs::path& source, std::vector<int> answers = {}) {
        SetText(kInstallFolder, dir.wstring());
        SetText(kSourcePath, source.wstring());
        answers.push_back(IDOK);  // the final message
        const size_t expected = answers.size();
        BoxAnswerer answerer(std::move(answers));
        SendMessageW(Control(kInstallButton), BM_CLICK, 0, 0);
        EXPECT_TRUE(testing_support::PumpUntil([] { return !s_busy; }));
        boxes_ = answerer.Seen();
        EXPECT_EQ(boxes_.size(), expected);
        return boxes_.empty() ? Box{} : boxes_.back();
    }

    // The run's first lines: where it installs, then what it runs on, for a maintainer who reads
    // a player's log (the figures that change from machine to machine as Steady leaves them).
    static std::string Header(const fs::path& dir) {
        return "Quorin Recompiled Setup, installing to " + Utf8(dir.wstring()) + "\r\nSetup " + kVersion +
               " on Windows 10.0.# (64-bit); # free on C:\\\r\n";
    }

    // A log with the Windows build and the free space as #.
    static std::string Steady(const std::string& log) {
        static const std::regex build(R"(on Windows 10\.0\.\d+ )"), free(R"(; \d+(\.\d)? [MG]B free on )");
        return std::regex_replace(std::regex_replace(log, build, "on Windows 10.0.# "), free, "; # free on ");
    }
    static std::string Steady(const std::wstring& details) { return Steady(Utf8(details)); }

    // What a run logs after the game copy, to its end.
    std::string AfterGameCopy(const fs::path& dir) const {
        std::string lines = "Temporary files go to " + Utf8((dir / "temp").wstring()) + "\r\n== Checking the tools\r\n";
        for (const SandboxTool& tool : kSandboxTools)
            lines += Utf8(tool.name) + ": using " + Utf8((tools_ / tool.exe).wstring()) + "\r\n";
        // Nothing serves the API: the release lookup says why, and the clone follows the fallback.
        lines += Utf8(setup::kGitHubApi) + "/repos/quorin-recomp/quorin-recomp/releases/latest: " +
                 Utf8(setup::win::ErrorText(12029, L"couldn't connect")) + "\r\n";
        return lines + "== Downloading the source code\r\n$ " + Clone(dir) + "\r\n" + CantStart(dir) + " (" +
               Utf8(setup::win::ErrorText(ERROR_BAD_EXE_FORMAT)) + ")\r\n";
    }

    std::vector<Box> boxes_;  // those of the last run
    Scratch disk_;
    const fs::path tools_ = disk_.root() / "tools on PATH";
    testing_support::PathPrefix path_{tools_.wstring()};
};

TEST_F(Running, AMissingGameCopyIsRefusedRightAfterTheHeader) {
    const fs::path dir = disk_.root() / "install";
    for (const fs::path& source : {fs::path(), disk_.root() / "missing.iso"}) {
        const Box box = Run(dir, source);
        EXPECT_EQ(box.text, kNoGameCopy);
        EXPECT_EQ(box.icon, L"warning");
        EXPECT_EQ(Text(kStatusLine), kNoGameCopy);
    }
    // Each run appends its own section, UTF-8 without a byte-order mark, with CR LF line ends.
    const std::string section = Header(dir) + Utf8(kNoGameCopy) + "\r\n";
    EXPECT_EQ(Steady(FileText(dir / "setup.log")), section + section);
    EXPECT_EQ(Steady(Text(kDetails)), section + section);
}

// What doesn't look like a dump of the disc is asked about, and Yes leaves it to the build.
TEST_F(Running, AGameCopyThatIsNoDumpIsAskedAboutAndYesGoesOn) {
    const std::wstring temp = setup::win::Variable(L"TEMP");
    const std::pair<fs::path, std::wstring> copies[] = {
        {disk_.File("Quorin.iso"), L"it has no Xbox 360 file system where a disc image has one."},
        {disk_.Folder("extracted"), L"it has no default.xex, the game's program."}};
    for (const auto& [source, why] : copies) {
        const fs::path dir = disk_.root() / ("install-" + source.filename().string());
        EXPECT_EQ(Utf8(Run(dir, source, {IDYES}).text), CantStart(dir));
        EXPECT_EQ(boxes_[0].text,
                  source.wstring() + L" doesn't look like a dump of an Xbox 360 disc: " + why + L" Use it anyway?");
        EXPECT_EQ(boxes_[0].icon, L"warning");
        EXPECT_TRUE(boxes_[0].yesNo);
        EXPECT_EQ(Steady(FileText(dir / "setup.log")), Header(dir) + AfterGameCopy(dir));
        EXPECT_FALSE(fs::exists(dir / "temp")) << "the run's temporary folder goes with it";
        EXPECT_EQ(setup::win::Variable(L"TEMP"), temp);
    }
}

TEST_F(Running, AnExtractedGameInTheInstallNeedsNoGameCopy) {
    const fs::path dir = disk_.Folder("install");
    disk_.File("install/quorin-recomp/game/extracted/default.xex");
    // Past the game copy and the tools, the source step finds a repository folder that git
    // never made.
    const std::string refused =
        Utf8(RepoFolder(dir).wstring()) + " already exists and isn't a copy of the project. Choose another folder.";
    EXPECT_EQ(Utf8(Run(dir, "").text), refused);
    EXPECT_EQ(Utf8(Run(dir, disk_.root() / "ignored.iso").text), refused) << "a given source isn't looked at";
}

TEST_F(Running, AFolderOnAMissingDriveEndsAtOnceAndLogsNothingToAnyFile) {
    const fs::path earlier = disk_.root() / "earlier";
    Run(earlier, "");
    const std::string before = FileText(earlier / "setup.log");

    ASSERT_EQ(GetDriveTypeW(L"Q:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR)) << "the test needs a missing drive Q:";
    const Box box = Run(L"Q:\\Quorin-Recomp", "");
    EXPECT_EQ(box.text, L"Couldn't create Q:\\Quorin-Recomp");
    EXPECT_EQ(Text(kDetails).substr(Text(kDetails).rfind(L"Couldn't")),
              L"Couldn't create Q:\\Quorin-Recomp (" + setup::win::ErrorText(ERROR_FILE_NOT_FOUND) + L")\r\n");
    EXPECT_EQ(FileText(earlier / "setup.log"), before) << "the last run's log stays closed";
}

TEST_F(Running, AFileInTheWayOfTheInstallFolderEndsTheRun) {
    const fs::path file = disk_.File("taken");
    EXPECT_EQ(Run(file, "").text, L"Couldn't create " + file.wstring());
}

// A second Setup on the same folder, as a second double-click starts it, touches nothing there;
// the lock goes with the run that held it, however that run ends.
TEST_F(Running, AFolderThatAnotherRunHoldsIsLeftAlone) {
    const fs::path dir = disk_.Folder("install");
    setup::win::FileHandle other;
    ASSERT_TRUE(setup::win::Lock(setup::layout::LockFile(dir), other) && other);
    EXPECT_EQ(Run(dir, "").text,
              L"Setup is already installing to this folder. Wait until it has finished, or close it, and try again.");
    EXPECT_FALSE(fs::exists(dir / "setup.log"));
    other.Close();
    EXPECT_EQ(Run(dir, "").text, kNoGameCopy);
    EXPECT_FALSE(fs::exists(setup::layout::LockFile(dir)));
}

TEST_F(Running, ALogThatCantBeWrittenDoesNotStopTheRun) {
    const fs::path dir = disk_.Folder("install");
    const fs::path log = disk_.File("install/setup.log");
    std::ofstream(log, std::ios::binary) << "an earlier run\r\n";
    const std::string expected = Header(dir) + AfterGameCopy(dir);

    // Wine lets root write a read-only file, so only the run itself can be checked here.
    ASSERT_TRUE(SetFileAttributesW(log.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Utf8(Run(dir, disk_.File("Quorin.iso"), {IDYES}).text), CantStart(dir));
    EXPECT_EQ(Steady(Text(kDetails)), expected);
    SetFileAttributesW(log.c_str(), FILE_ATTRIBUTE_NORMAL);

    // Held open by another program that shares nothing, it can't be opened at all.
    const std::string before = FileText(log);
    HANDLE locked = CreateFileW(log.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Utf8(Run(dir, disk_.File("Quorin.iso"), {IDYES}).text), CantStart(dir));
    const std::string unsaved = "setup.log couldn't be opened (another program may be using it): this run isn't "
                                "saved to it.\r\n";
    EXPECT_EQ(Steady(Text(kDetails)), expected + Header(dir) + unsaved + AfterGameCopy(dir))
        << "the details box still fills, and says why setup.log doesn't";
    CloseHandle(locked);
    EXPECT_EQ(FileText(log), before);
}

TEST_F(Running, CharactersBeyondTheBasicPlaneAreWrittenAsFourByteUtf8) {
    const fs::path dir = disk_.root() / L"Quorin \U0001F3AE";
    Run(dir, disk_.File("Quorin.iso"), {IDYES, IDYES});  // the non-English question, and the copy's
    const std::string log = FileText(dir / "setup.log");
    EXPECT_NE(log.find("Quorin \xF0\x9F\x8E\xAE\r\n"), std::string::npos) << log;
    EXPECT_EQ(Steady(log), Header(dir) + AfterGameCopy(dir));
}

}  // namespace
