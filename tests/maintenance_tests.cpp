// The reclaimable items of an install: which files and folders are listed, in what order, and
// how many bytes they hold. Runs on the host and under Wine.
#include "maintenance/maintenance.h"
#include "maintenance/walk.h"
#include "support/scratch.h"
#ifdef _WIN32
#include "support/sandbox.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace fs = std::filesystem;
using kel::maintenance::Leftovers;
using kel::maintenance::Lower;
using kel::maintenance::SizeOf;
using kel::maintenance::Tools;
using testing_support::Scratch;

namespace {

const wchar_t* const kToolsLabel = L"Build tools Setup downloaded (Git, CMake, Ninja, Clang, Python)";
const wchar_t* const kLeftoversLabel = L"Build leftovers (object files, libraries, generated C++)";

std::set<fs::path> AsSet(const std::vector<fs::path>& paths) { return {paths.begin(), paths.end()}; }

TEST(Lower, MatchesTheWholeExtensionInAnyCase) {
    EXPECT_TRUE(Lower("Main.OBJ", L".obj"));
    EXPECT_TRUE(Lower("dir/util.Obj", L".obj"));
    EXPECT_TRUE(Lower("foo.o", L".o"));
    EXPECT_TRUE(Lower(u8"d\u00e9j\u00e0/\u00fcber.GCH", L".gch"));

    EXPECT_FALSE(Lower("foo.obj", L".o")) << "a prefix of the extension is not a match";
    EXPECT_FALSE(Lower("foo.o", L".obj"));
    EXPECT_FALSE(Lower("foo.obj.bak", L".obj")) << "only the last extension counts";
    EXPECT_FALSE(Lower("foo.objx", L".obj"));
    EXPECT_FALSE(Lower(".obj", L".obj")) << "a name that starts with its only dot has no extension";
    EXPECT_FALSE(Lower("noext", L".obj"));
    EXPECT_FALSE(Lower("cache.obj/file", L".obj")) << "a folder's extension is not the file's";
    EXPECT_FALSE(Lower("..", L"."));
}

TEST(Leftovers, ListsOnlyMatchingRegularFilesThenTheGeneratedFolder) {
    Scratch disk;
    const fs::path root = disk.Folder("quorin-recomp");
    // Every file gets its own power-of-two size, so the total shows exactly which were counted.
    const std::set<fs::path> listed = {
        disk.File("quorin-recomp/build/Main.OBJ", 1),
        disk.File("quorin-recomp/build/src/util.Obj", 2),
        disk.File("quorin-recomp/build/lib/libfoo.a", 4),
        disk.File("quorin-recomp/build/lib/core.LIB", 8),
        disk.File("quorin-recomp/build/pch/pch.gch", 16),
        disk.File("quorin-recomp/build/game.map", 32),
        disk.File("quorin-recomp/build/src/deep/er/x.pch", 64),
        disk.File("quorin-recomp/build/cache.map/inside.o", 128),
    };
    for (const char* kept : {"foo.obj.bak", "foo.objx", "notes.txt", "foo.c", ".obj", "runtime/QuorinLauncher.exe"})
        disk.File(fs::path("quorin-recomp/build") / kept, 1024);
    disk.File("quorin-recomp/generated/ppc/a.cpp", 2048);
    disk.File("quorin-recomp/generated/ppc/sub/b.cpp", 4096);
    disk.File("quorin-recomp/generated/other.obj", 8192);  // outside both searched folders
    disk.File("quorin-recomp/main.o", 16384);

    const auto part = Leftovers(root);

    EXPECT_EQ(part.label, kLeftoversLabel);
    ASSERT_EQ(part.paths.size(), listed.size() + 1);
    EXPECT_EQ(part.paths.back(), root / "generated" / "ppc") << "the generated folder comes last";
    EXPECT_EQ(AsSet({part.paths.begin(), part.paths.end() - 1}), listed)
        << "a folder named cache.map is not listed, only the matching file inside it";
    EXPECT_EQ(part.size, 255u + 2048u + 4096u);
}

TEST(Leftovers, WalksEachFolderDepthFirst) {
    Scratch disk;
    const fs::path root = disk.Folder("r");
    for (const char* folder : {"a", "b", "c"})
        for (const char* file : {"1.o", "2.o", "3.o"}) disk.File(fs::path("r/build") / folder / "x" / file, 1);

    const auto part = Leftovers(root);

    ASSERT_EQ(part.paths.size(), 9u);
    // A depth-first walk keeps each folder's files together.
    for (std::size_t i = 0; i < part.paths.size(); i += 3)
        for (std::size_t j = 1; j < 3; ++j) EXPECT_EQ(part.paths[i + j].parent_path(), part.paths[i].parent_path());
}

TEST(Leftovers, IsEmptyWithoutBuildOrGeneratedFolders) {
    Scratch disk;
    for (const fs::path& root : {disk.root() / "missing", disk.Folder("empty")}) {
        const auto part = Leftovers(root);
        EXPECT_EQ(part.label, kLeftoversLabel);
        EXPECT_TRUE(part.paths.empty());
        EXPECT_EQ(part.size, 0u);
    }
    disk.File("files/build", 10);  // a file named "build" is not the build folder
    EXPECT_TRUE(Leftovers(disk.root() / "files").paths.empty());
}

TEST(Leftovers, OnlyTheGeneratedFolderIsOneItemWithItsRecursiveSize) {
    Scratch disk;
    disk.File("r/generated/ppc/a.cpp", 300);
    disk.File("r/generated/ppc/x/y/b.h", 45);
    disk.Folder("r/generated/ppc/empty");

    const auto part = Leftovers(disk.root() / "r");

    ASSERT_EQ(part.paths.size(), 1u);
    EXPECT_EQ(part.paths[0], disk.root() / "r" / "generated" / "ppc");
    EXPECT_EQ(part.size, 345u);
}

// Junctions, symbolic links and WSL links are links; so is a reparse point whose tag is 0 or
// unreadable, as Wine gives its links. A OneDrive placeholder, a deduplicated, compressed or
// app-store file is a file or folder like any other.
TEST(IsLinkTag, NameSurrogatesAndTheUnknownAreLinks) {
    for (const std::uint32_t link : {0xA0000003u, 0xA000000Cu, 0xA000001Du, 0u}) EXPECT_TRUE(kel::maintenance::IsLinkTag(link)) << link;
    for (const std::uint32_t other : {0x9000001Au, 0x9000101Au, 0x9000F01Au, 0x80000013u, 0x80000017u, 0x8000001Bu})
        EXPECT_FALSE(kel::maintenance::IsLinkTag(other)) << other;
}

// A folder link: made on the Linux side under Wine (through the bridge), which shows it as a
// reparse point, as Windows shows a junction.
void LinkFolder(const fs::path& link, const fs::path& target) {
#ifdef _WIN32
    testing_support::LinkFolder(link, target);
#else
    fs::create_directory_symlink(target, link);
#endif
}

TEST(Leftovers, TakesLinksToFilesButDoesNotEnterLinkedFolders) {
    Scratch disk;
    const fs::path root = disk.Folder("r");
    std::set<fs::path> listed = {disk.File("r/build/own.o", 3)};
    disk.File("linked/inside.o", 5);
    LinkFolder(root / "build" / "linked", disk.root() / "linked");
    std::uintmax_t size = 3;
#ifndef _WIN32  // Wine shows a link to a file as the file itself
    const fs::path target = disk.File("elsewhere/real.bin", 77);
    fs::create_symlink(target, root / "link.obj");  // outside build: ignored
    fs::create_symlink(target, root / "build" / "link.obj");
    fs::create_symlink(disk.root() / "nowhere", root / "build" / "broken.obj");
    listed.insert(root / "build" / "link.obj");  // the link, not its target
    size += 77;  // with its target's size
#endif

    const auto part = Leftovers(root);

    EXPECT_EQ(AsSet(part.paths), listed);
    EXPECT_EQ(part.size, size);
    EXPECT_EQ(SizeOf(root / "build"), size) << "a linked folder is not entered";
    EXPECT_EQ(SizeOf(root / "build" / "linked"), 0u) << "nor measured when it is the root";
}

TEST(Tools, ListsTheWholeToolsFolderWhenSetupMadeIt) {
    for (const char* made : {"Clang", "CMake", "Python"}) {
        SCOPED_TRACE(made);
        Scratch disk;
        const fs::path root = disk.Folder("install/quorin-recomp");
        disk.File(fs::path("install/tools") / made / "bin/tool.exe", 1000);
        disk.File("install/tools/Git/cmd/git.exe", 200);
        disk.File("install/tools/Python.zip", 30);

        const auto part = Tools(root);

        EXPECT_EQ(part.label, kToolsLabel);
        ASSERT_EQ(part.paths.size(), 1u);
        EXPECT_EQ(part.paths[0], disk.root() / "install" / "tools");
        EXPECT_EQ(part.size, 1230u);
    }
}

TEST(Tools, IsEmptyWithoutAToolFolderOnlySetupMakes) {
    Scratch disk;
    const fs::path root = disk.Folder("install/quorin-recomp");
    EXPECT_TRUE(Tools(root).paths.empty()) << "no tools folder";

    disk.File("install/tools/Git/cmd/git.exe", 200);
    disk.File("install/tools/Ninja/ninja.exe", 20);
    disk.File("install/tools/Clang", 5);  // a file, not a folder
    const auto part = Tools(root);
    EXPECT_EQ(part.label, kToolsLabel);
    EXPECT_TRUE(part.paths.empty());
    EXPECT_EQ(part.size, 0u);
}

TEST(SizeOf, SumsRegularFilesOnly) {
    Scratch disk;
    EXPECT_EQ(SizeOf(disk.File("one.bin", 12345)), 12345u);
    EXPECT_EQ(SizeOf(disk.File("empty.bin")), 0u);
    EXPECT_EQ(SizeOf(disk.Folder("hollow/a/b")), 0u);
    EXPECT_EQ(SizeOf(disk.root() / "missing"), 0u);

    disk.File(u8"tree/\u00e9t\u00e9/a", 1);
    disk.File("tree/b/c/d/e", 1 << 20);
    disk.File("tree/f", 3);
    disk.Folder("tree/g/h");
    EXPECT_EQ(SizeOf(disk.root() / "tree"), (1u << 20) + 4u);
}

}  // namespace
