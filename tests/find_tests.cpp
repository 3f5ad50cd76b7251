// Finding a tool's program on the PATH and in an unpacked archive. Runs on the host and
// under Wine.
#include "base/find.h"
#include "support/scratch.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using setup::FindOnPath;
using setup::FindUnder;
using testing_support::Scratch;

namespace {

std::wstring Joined(std::initializer_list<fs::path> folders, const wchar_t* between = L";") {
    std::wstring joined;
    for (const fs::path& folder : folders) joined += (joined.empty() ? L"" : between) + folder.wstring();
    return joined;
}

TEST(FindOnPath, TakesTheFirstFolderThatHoldsTheProgram) {
    Scratch disk;
    const fs::path empty = disk.Folder("empty");
    const fs::path first = disk.File("first/git.exe").parent_path();
    const fs::path second = disk.File("second/git.exe").parent_path();

    EXPECT_EQ(FindOnPath(Joined({empty, first, second}), L"git.exe"), first / "git.exe");
    EXPECT_EQ(FindOnPath(L";;" + Joined({empty, second}) + L";", L"git.exe"), second / "git.exe")
        << "empty pieces and a trailing separator are skipped";
    EXPECT_EQ(FindOnPath(Joined({empty, disk.root() / "missing"}), L"git.exe"), fs::path());
    EXPECT_EQ(FindOnPath(L"", L"git.exe"), fs::path());
    EXPECT_EQ(FindOnPath(L";", L"git.exe"), fs::path());

    // Folders relative to wherever the program runs are no folders of the system's or the user's.
    const fs::path current = fs::current_path();
    fs::current_path(first);
    EXPECT_EQ(FindOnPath(L".;..\\first;" + Joined({second}), L"git.exe"), second / "git.exe");
    fs::current_path(current);
}

TEST(FindOnPath, SkipsAppStoreAliasFolders) {
    Scratch disk;
    const fs::path alias = disk.File("Microsoft/WindowsApps/python.exe").parent_path();
    const fs::path aliasBelow = disk.File("WindowsApps/sub/python.exe").parent_path();
    const fs::path real = disk.File("Python312/python.exe").parent_path();

    EXPECT_EQ(FindOnPath(Joined({alias, aliasBelow, real}), L"python.exe"), real / "python.exe");
    EXPECT_EQ(FindOnPath(Joined({alias}), L"python.exe"), fs::path()) << "only an alias: Python is fetched";
    const fs::path lower = disk.File("windowsapps/python.exe").parent_path();
    EXPECT_EQ(FindOnPath(Joined({lower, real}), L"python.exe"), lower / "python.exe")
        << "the alias folder is recognised by its exact name";
}

TEST(FindUnder, FindsTheProgramUpToThreeFoldersDown) {
    Scratch disk;
    EXPECT_EQ(FindUnder(disk.File("top/ninja.exe").parent_path(), L"ninja.exe"), disk.root() / "top" / "ninja.exe");

    const fs::path three = disk.File("cmake/a/b/c/cmake.exe");
    EXPECT_EQ(FindUnder(disk.root() / "cmake", L"cmake.exe"), three);

    disk.File("deep/a/b/c/d/cmake.exe");
    EXPECT_EQ(FindUnder(disk.root() / "deep", L"cmake.exe"), fs::path()) << "four levels down is too deep";
}

TEST(FindUnder, MatchesTheExactNameOfAFileOnly) {
    Scratch disk;
    disk.File("tool/Python.EXE");
    disk.File("tool/python.exe.bak");
    EXPECT_EQ(FindUnder(disk.root() / "tool", L"python.exe"), fs::path()) << "letter case counts";

    // A folder of that name is no program, but what is inside it still counts.
    const fs::path inside = disk.File("other/python.exe/python.exe");
    EXPECT_EQ(FindUnder(disk.root() / "other", L"python.exe"), inside);

    EXPECT_EQ(FindUnder(disk.root() / "missing", L"python.exe"), fs::path());
    EXPECT_EQ(FindUnder(disk.File("file"), L"python.exe"), fs::path()) << "a file is no folder to search";
}

TEST(FindUnder, DoesNotFollowLinkedFolders) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links are tested on the host";
#else
    Scratch disk;
    disk.File("elsewhere/git.exe");
    fs::create_directory_symlink(disk.root() / "elsewhere", disk.Folder("tool") / "linked");
    EXPECT_EQ(FindUnder(disk.root() / "tool", L"git.exe"), fs::path());
#endif
}

}  // namespace
