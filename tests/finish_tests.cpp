// The last step of a run on install folders of the test's own: the desktop shortcut as the shell
// reads it back, freeing space with exact sizes and what a file held open does to it, the disc
// image, and every text of the final message.
#include "globals.h"
#include "maintenance/layout.h"
#include "support/fixture.h"
#include "support/messages.h"
#include "support/sandbox.h"
#include "support/scratch.h"
#include "support/shortcut.h"
#include "support/test_window.h"
#include "support/worker.h"
#include "win/errors.h"
#include "win/files.h"
#include "win/handle.h"
#include "worker/phases/build.h"
#include "worker/phases/finish.h"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using namespace testing_support;
using Lines = std::vector<std::wstring>;

namespace {

constexpr std::uintmax_t kMiB = 1 << 20;
const std::wstring kLeftovers = L"Deleting Build leftovers (object files, libraries, generated C++): ";
const std::wstring kTools = L"Deleting Build tools Setup downloaded (Git, CMake, Ninja, Clang, Python): ";
const std::wstring kPartly = L"(some of it couldn't be deleted)";

// What the log says of a path that a deletion left, with the system's reason.
std::wstring Unremoved(const fs::path& path, DWORD error, const std::wstring& what = L"") {
    return L"Couldn't delete " + what + path.wstring() + L" (" + setup::win::ErrorText(error) + L")";
}

fs::path ShortcutFile() { return fs::path(DesktopFolder()) / L"Quorin Recompiled.lnk"; }

class Finishing : public WorkerTest {
protected:
    void SetUp() override {
        WorkerTest::SetUp();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        fs::remove(ShortcutFile());
        run_.repo = install_ / "quorin-recomp";
        setup::s_installed = scratch_.File(setup::layout::Launcher(run_.repo), 1000).wstring();
        choices_.shortcut = false;  // each test chooses what it is about
    }
    void TearDown() override {
        fs::remove(ShortcutFile());
        CoUninitialize();
        WorkerTest::TearDown();
    }

    std::wstring Finish() {
        setup::Finish(choices_, run_);
        return run_.message;
    }

    // What a build leaves: 3.25 MiB of leftovers, and 1.5 GiB of tools (mostly a sparse file).
    void Built() {
        scratch_.File(run_.repo / "build" / "obj" / "main.obj", kMiB * 3 / 2);
        scratch_.File(run_.repo / "build" / "lib" / "libquorin.a", kMiB / 2);
        scratch_.File(run_.repo / "generated" / "ppc" / "ppc_recomp.1.cpp", kMiB * 5 / 4);
        fs::resize_file(scratch_.File(Clang()), (std::uintmax_t{3} << 29) - kMiB);
        scratch_.File(install_ / "tools" / "Git" / "cmd" / "git.exe", kMiB);
        for (const char* kept : {"build/CMakeCache.txt", "build/obj/notes.txt", "src/main.cpp"})
            scratch_.File(run_.repo / kept, 100);
    }
    fs::path Clang() const { return install_ / "tools" / "Clang" / "bin" / "clang++.exe"; }

    // The leftovers went and everything else of the repository stayed.
    void ExpectOnlyLeftoversGone() const {
        for (const char* gone : {"build/obj/main.obj", "build/lib/libquorin.a", "generated/ppc"})
            EXPECT_FALSE(fs::exists(run_.repo / gone)) << gone;
        for (const char* kept : {"build/CMakeCache.txt", "build/obj/notes.txt", "src/main.cpp"})
            EXPECT_TRUE(fs::exists(run_.repo / kept)) << kept;
        EXPECT_TRUE(fs::exists(setup::s_installed));
    }

    Scratch scratch_;
    fs::path install_ = scratch_.Folder(L"Quorin \u00c9dition");
    TestWindow window_;
    setup::Choices choices_;
    setup::RunValues run_;
};

TEST_F(Finishing, TheShortcutStartsTheLauncherInItsOwnFolder) {
    std::ofstream(ShortcutFile()) << "an older shortcut of that name";
    choices_.shortcut = true;
    EXPECT_EQ(Finish(), kDone + kOnDesktop);
    const Shortcut link = ReadShortcut(ShortcutFile());
    EXPECT_EQ(link.target, setup::s_installed);
    EXPECT_EQ(link.folder, fs::path(setup::s_installed).parent_path().wstring());
    EXPECT_EQ(link.description, L"Quorin Recompiled");
    EXPECT_TRUE(window_.Take().empty()) << "nothing is said about it";

    // The text follows the choice, not whether a shortcut could be made; the log says why not.
    ASSERT_TRUE(fs::remove(ShortcutFile()) && fs::create_directory(ShortcutFile()));
    EXPECT_EQ(Finish(), kDone + kOnDesktop);
    const Lines log = window_.LogLines();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].starts_with(L"Couldn't put a shortcut on the desktop (error 0x8")) << log[0];
}

TEST_F(Finishing, WithoutTheShortcutNothingTouchesTheDesktop) {
    EXPECT_EQ(Finish(), kDone + L".");
    EXPECT_FALSE(fs::exists(ShortcutFile()));
    EXPECT_TRUE(window_.Take().empty());
}

TEST_F(Finishing, FreeingSpaceDeletesTheLeftoversThenTheToolsAndSaysHowMuch) {
    Built();
    choices_.cleanup = true;
    EXPECT_EQ(Finish(), kDone + L"." + Freed(L"1.5 GB"));
    Lines log, statuses;
    for (const Posted& item : window_.Take())
        (item.kind == setup::Report::kLines ? log : statuses).push_back(item.text);
    EXPECT_EQ(statuses, Lines{L"Freeing up space"});
    EXPECT_EQ(log, (Lines{L"== Freeing up space", kLeftovers + L"3 MB", kTools + L"1.5 GB"}));
    ExpectOnlyLeftoversGone();
    EXPECT_FALSE(fs::exists(install_ / "tools"));
}

TEST_F(Finishing, AToolHeldOpenIsWaitedForAMomentThenLeftOutOfWhatWasFreed) {
    Built();
    choices_.cleanup = true;
    {
        const setup::win::FileHandle held = Hold(Clang());
        ASSERT_TRUE(held);
        EXPECT_EQ(Finish(), kDone + L"." + Freed(L"3 MB")) << "the leftovers only";
    }
    EXPECT_EQ(window_.LogLines(), (Lines{L"== Freeing up space", kLeftovers + L"3 MB", kTools + L"1.5 GB",
                                         Unremoved(Clang(), ERROR_SHARING_VIOLATION), kPartly}));
    EXPECT_TRUE(fs::exists(Clang())) << "a file held open without delete sharing can't be deleted";
    ExpectOnlyLeftoversGone();

    // Held for a moment, as a virus scanner holds a file it looks at.
    Built();
    setup::win::FileHandle held = Hold(Clang());
    std::thread scanner([&held] {
        Sleep(1000);
        held.Close();
    });
    EXPECT_EQ(Finish(), kDone + L"." + Freed(L"1.5 GB"));
    scanner.join();
    EXPECT_FALSE(fs::exists(install_ / "tools"));

    // Every locked file draws on the one wait of the whole freeing, 5 s of pauses, and a cancel
    // ends it.
    Built();
    const setup::win::FileHandle files[] = {Hold(run_.repo / "build" / "obj" / "main.obj"),
                                       Hold(run_.repo / "build" / "lib" / "libquorin.a"), Hold(Clang())};
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(Finish(), kDone + L"." + Freed(L"0 MB"));
    const ULONGLONG waited = GetTickCount64() - start;
    EXPECT_GT(waited, 4000u) << "it waited";
    EXPECT_LT(waited, 6500u) << "once for all";
    setup::s_cancel = true;
    start = GetTickCount64();
    Finish();
    EXPECT_LT(GetTickCount64() - start, 2000u) << "no wait after a cancel";
}

// The wait is a budget of pauses: time spent deleting, however long, leaves it whole.
TEST_F(Finishing, AFileHeldForAMomentAfterLongWorkIsStillWaitedFor) {
    const fs::path file = scratch_.File("held.obj", 100);
    setup::win::Patience patience;
    Sleep(5500);  // as long as deleting ten thousand files may take
    setup::win::FileHandle held = Hold(file);
    std::thread scanner([&held] {
        Sleep(300);
        held.Close();
    });
    EXPECT_TRUE(setup::win::RemoveTree(file, patience));
    scanner.join();
    EXPECT_FALSE(fs::exists(file));
}

// A player's Python linked in as the tools' own, and a folder of theirs that the build links to:
// what a link leads to is never measured nor deleted. (Windows removes the links themselves;
// Wine can't do that safely, so there they stay, with the folders that hold them.)
TEST_F(Finishing, LinkedFoldersAreNeitherEnteredNorEmptied) {
    Built();
    choices_.cleanup = true;
    const fs::path python = scratch_.File(L"mine/Python312/python.exe").parent_path();
    fs::resize_file(python / "python.exe", std::uintmax_t{1} << 30);
    const fs::path assets = scratch_.File(L"mine/assets/textures.obj", kMiB).parent_path();
    LinkFolder(install_ / "tools" / "Python", python);
    LinkFolder(run_.repo / "build" / "assets", assets);
    LinkFolder(run_.repo / "generated" / "ppc" / "assets", assets);

    EXPECT_EQ(Finish(), kDone + L"." + Freed(L"0 MB"));
    // Wine refuses to remove a link alone, as a folder that isn't empty.
    EXPECT_EQ(window_.LogLines(),
              (Lines{L"== Freeing up space", kLeftovers + L"3 MB",
                     Unremoved(run_.repo / "generated" / "ppc" / "assets", ERROR_DIR_NOT_EMPTY), kPartly,
                     kTools + L"1.5 GB", Unremoved(install_ / "tools" / "Python", ERROR_DIR_NOT_EMPTY), kPartly}));
    EXPECT_EQ(fs::file_size(python / "python.exe"), std::uintmax_t{1} << 30);
    EXPECT_TRUE(fs::exists(assets / "textures.obj"));
    EXPECT_FALSE(fs::exists(run_.repo / "build" / "obj" / "main.obj"));
    EXPECT_FALSE(fs::exists(Clang())) << "the rest went";
}

TEST_F(Finishing, NothingLeftToFreeStillSaysSo) {
    // Git and Ninja alone may have come from elsewhere: only Clang, CMake or Python mark the
    // tools folder as Setup's own.
    scratch_.File(install_ / "tools" / "Git" / "cmd" / "git.exe", kMiB);
    scratch_.File(install_ / "tools" / "Ninja" / "ninja.exe", kMiB);
    choices_.cleanup = true;
    EXPECT_EQ(Finish(), kDone + L"." + Freed(L"0 MB"));
    EXPECT_EQ(window_.LogLines(), (Lines{L"== Freeing up space", kLeftovers + L"0 MB", kTools + L"0 MB"}));
    EXPECT_TRUE(fs::exists(install_ / "tools" / "Git" / "cmd" / "git.exe"));
}

TEST_F(Finishing, TheDiscImageGoesOnlyWhenThisRunExtractedIt) {
    const fs::path image = scratch_.File(L"Quorin Spi\u00e9le/game (1).iso", 100);
    choices_.source = image.wstring();
    choices_.deleteIso = true;

    EXPECT_EQ(Finish(), kDone + L".") << "no extracted game";
    scratch_.File(setup::layout::ExtractedMarker(run_.repo), 4);
    run_.alreadyExtracted = true;
    EXPECT_EQ(Finish(), kDone + L".") << "extracted by an earlier run";
    EXPECT_TRUE(window_.Take().empty()) << "nothing said about the image";
    EXPECT_TRUE(fs::exists(image));

    run_.alreadyExtracted = false;
    {
        const setup::win::FileHandle held = Hold(image);
        EXPECT_EQ(Finish(), kDone + L".");
        EXPECT_EQ(window_.LogLines(), Lines{Unremoved(image, ERROR_SHARING_VIOLATION, L"the disc image ")});
    }
    EXPECT_EQ(Finish(), kDone + L"." + kImageDeleted);
    EXPECT_EQ(window_.LogLines(), Lines{L"Deleted the disc image " + image.wstring()});
    EXPECT_FALSE(fs::exists(image));

    // An extracted disc folder is never deleted, even if asked.
    choices_.source = scratch_.Folder("extracted disc").wstring();
    EXPECT_EQ(Finish(), kDone + L".");
    EXPECT_TRUE(fs::exists(choices_.source));
}

TEST_F(Finishing, EveryOptionTogetherMakesTheWholeText) {
    Built();
    const fs::path image = scratch_.File("game.iso", 100);
    scratch_.File(setup::layout::ExtractedMarker(run_.repo), 4);
    choices_ = {image.wstring(), install_.wstring(), true, true, true};
    EXPECT_EQ(Finish(), kDone + kOnDesktop + Freed(L"1.5 GB") + kImageDeleted);
    EXPECT_EQ(window_.LogLines(), (Lines{L"== Freeing up space", kLeftovers + L"3 MB", kTools + L"1.5 GB",
                                         L"Deleted the disc image " + image.wstring()}));
    EXPECT_EQ(ReadShortcut(ShortcutFile()).target, setup::s_installed);
}

}  // namespace
