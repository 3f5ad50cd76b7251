// Reading the game copy: disc images of each kind and shape, written sparsely, what each reads as,
// and how little of it is read. A hostile image ends in a problem, never a crash or a hang.
#include "base/disc.h"
#include "support/disc_image.h"
#include "support/scratch.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace setup::disc;
using namespace testing_support;

namespace {

constexpr Execution kGame = {.mediaId = 0x1A2B3C4D, .version = 0x10000200, .baseVersion = 0x10000000,
                             .titleId = 0x515207D7, .disc = 1, .discs = 1};
constexpr std::uint64_t kDirectoryReach = 0x10000 * 4;  // what a directory's 16-bit offsets reach

class Disc : public ::testing::Test {
protected:
    // Writes the image, and reads it as the program does.
    Copy Read(const Pieces& pieces) {
        WriteImage(file_, pieces);
        std::ifstream in(file_, std::ios::binary);
        asked_ = 0;
        return ReadImage(fs::file_size(file_), FileReader(in, &asked_));
    }

    Scratch scratch_;
    const fs::path file_ = scratch_.root() / "game.iso";
    std::uint64_t asked_ = 0;  // bytes the reader was asked for
};

TEST_F(Disc, AnImageIsFoundWhereEachKindOfDumpPlacesItsPartition) {
    const auto nearEightGb = static_cast<std::uint32_t>(((std::uint64_t{8} << 30) - kXgd2Start) / kSector - 8);
    const struct {
        Partition partition;
        Kind kind;
    } kCases[] = {
        {{.start = kRebuiltStart, .execution = kGame}, Kind::kRebuilt},
        {{.start = kXgd2Start, .execution = kGame, .name = "Default.Xex"}, Kind::kXgd2},
        {{.start = kXgd3Start, .execution = kGame, .name = "DEFAULT.XEX"}, Kind::kXgd3},
        {{.start = kXgd2Start, .execution = kGame, .xexSector = nearEightGb}, Kind::kXgd2},  // a sparse 8 GB dump
    };
    for (const auto& [partition, kind] : kCases) {
        SCOPED_TRACE(partition.name + " at sector " + std::to_string(partition.xexSector));
        const Copy copy = Read(Image(partition));
        EXPECT_EQ(copy.problem, Problem::kNone);
        EXPECT_EQ(copy.kind, kind);
        EXPECT_EQ(copy.xexOffset, partition.start + partition.xexSector * kSector);
        EXPECT_EQ(copy.xexSize, Xex(kGame).size());
        EXPECT_EQ(copy.execution, kGame);
        EXPECT_LE(asked_, 4 * kSector) << "a few sectors, and default.xex's head";
    }
}

TEST_F(Disc, WhatDoesntLookLikeADumpSaysWhy) {
    constexpr std::uint64_t kFiveGb = std::uint64_t{5} << 30;
    // Root directories that a hostile image could hold: a loop; a link just past its one sector
    // beside the right one; default.xex's entry running past its sector's end into the next.
    const std::string loop = Directory({{0, {.name = "a", .right = 5}},
                                        {20, {.name = "b", .left = 5, .right = 10}},
                                        {40, {.name = "c", .right = 5}}});
    const Entry xex = {.name = "default.xex", .sector = kXexSector, .size = 4096};
    const std::string linkPastTheEnd = Directory({{0, {.name = "a", .left = 5, .right = 512}}, {20, xex}});
    const std::string nameAcrossSectors = Directory({{0, {.name = "a", .right = 510}}, {2040, xex}});
    const struct {
        const char* what;
        Pieces pieces;
        Problem problem;
    } kCases[] = {
        {"zip", {{0, "PK\x03\x04 and the rest"}}, Problem::kZip},
        {"7z", {{0, "7z\xBC\xAF\x27\x1C and the rest"}}, Problem::kSevenZip},
        {"RAR", {{0, "Rar!\x1A\x07 and the rest"}}, Problem::kRar},
        {"CON", {{0, "CON and the rest"}}, Problem::kLivePackage},
        {"LIVE", {{0, "LIVE"}}, Problem::kLivePackage},
        {"PIRS", {{0, "PIRS and the rest"}}, Problem::kLivePackage},
        {"the first Xbox", Image({.start = kFirstXboxStart, .execution = kGame}), Problem::kFirstXbox},
        {"empty", {}, Problem::kNoFileSystem},
        {"zeros", {{0, std::string(1 << 20, '\0')}}, Problem::kNoFileSystem},
        {"half a descriptor", {{kDescriptor, "MICROSOFT*XBOX*MEDIA" + std::string(4096, '\0')}},
         Problem::kNoFileSystem},
        {"root cut short", Image({.execution = kGame, .rootSize = 1 << 20}), Problem::kCutShort},
        {"default.xex cut short", Image({.execution = kGame, .xexSize = 1 << 20}), Problem::kCutShort},
        {"a root of 4 GB", Image({.execution = kGame, .rootSize = 0xFFFFF000, .end = kFiveGb}), Problem::kNone},
        {"default.xex of 4 GB and 4 G headers",
         Image({.xex = Xex(kGame, 4096, 0xFFFFFFFF), .xexSize = 0xFFFFFFFF, .end = kFiveGb}), Problem::kNone},
        {"default.xbe", Image({.execution = kGame, .name = "default.xbe"}), Problem::kNoXex},
        {"a folder default.xex", Image({.execution = kGame, .attributes = 0x10}), Problem::kNoXex},
        {"XBEH", Image({.xex = "XBEH" + std::string(4092, '\0')}), Problem::kNotXex2},
        {"no execution record", Image({.xex = Xex(kGame, 4096, 1)}), Problem::kNotXex2},
        {"its record cut off", Image({.xex = Xex(kGame, 0x110)}), Problem::kNotXex2},
        {"a count of 4 G headers", Image({.xex = Xex(kGame, 4096, 0xFFFFFFFF)}), Problem::kNone},
        {"a loop", Image({.execution = kGame, .root = loop}), Problem::kNoXex},
        {"a link past the end", Image({.execution = kGame, .root = linkPastTheEnd}), Problem::kNone},
        {"a name across two sectors", Image({.execution = kGame, .root = nameAcrossSectors}), Problem::kNoXex},
        {"a root ending within a name", Image({.execution = kGame, .rootSize = 40}), Problem::kNoXex},
    };
    for (const auto& [what, pieces, problem] : kCases) {
        SCOPED_TRACE(what);
        const Copy copy = Read(pieces);
        EXPECT_EQ(copy.problem, problem);
        if (problem == Problem::kNone) {
            EXPECT_EQ(copy.execution, kGame);
        }
        EXPECT_LE(asked_, kDirectoryReach + 4 * kSector) << "whatever sizes it claims";
    }
}

TEST_F(Disc, AnExtractedDefaultXexIsReadAsItIs) {
    for (const auto& [xex, problem] : std::initializer_list<std::pair<std::string, Problem>>{
             {Xex(kGame, 5000), Problem::kNone}, {"XBEH and the rest", Problem::kNotXex2}, {"", Problem::kNotXex2}}) {
        WriteImage(file_, {{0, xex}});
        std::ifstream in(file_, std::ios::binary);
        const Copy copy = ReadExtracted(xex.size(), FileReader(in));
        EXPECT_EQ(copy.problem, problem) << xex.substr(0, 4);
        EXPECT_EQ(copy.kind, Kind::kExtracted);
        EXPECT_EQ(copy.xexSize, xex.size());
        if (problem == Problem::kNone) {
            EXPECT_EQ(copy.execution, kGame);
        }
    }
}

TEST(DiscReader, AReaderThatFailsIsNoFaultOfTheCopy) {
    const Reader failing = [](std::uint64_t, std::span<unsigned char>) { return false; };
    EXPECT_EQ(ReadImage(std::uint64_t{8} << 30, failing).problem, Problem::kUnreadable);
    EXPECT_EQ(ReadExtracted(4096, failing).problem, Problem::kUnreadable);
}

TEST(DiscReader, TheLogSaysTheKindAndWhatDefaultXexSays) {
    EXPECT_EQ(Described({.kind = Kind::kXgd2, .execution = kGame}),
              L"Xbox 360 disc image (XGD2); default.xex: title ID 515207D7, media ID 1A2B3C4D, version 1.0.2.0, disc "
              L"1 of 1");
    const Execution other = {.mediaId = 0xABC, .version = 0xA1123456, .titleId = 0xABCD, .disc = 2, .discs = 3};
    EXPECT_EQ(Described({.kind = Kind::kExtracted, .execution = other}),
              L"extracted Xbox 360 disc; default.xex: title ID 0000ABCD, media ID 00000ABC, version 10.1.4660.86, "
              L"disc 2 of 3");
}

}  // namespace
