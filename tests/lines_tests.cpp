// Cutting a child's output into lines, however the bytes arrive. Runs on the host (under the
// sanitizers) and under Wine.
#include "base/lines.h"

#include <gtest/gtest.h>

#include <random>

using setup::IsProgressLine;
using setup::SplitLines;

namespace {

using Lines = std::vector<std::string>;

// The lines of `chunks` fed one after another, and what is left pending at the end.
std::pair<Lines, std::string> Split(const std::vector<std::string>& chunks) {
    Lines lines;
    std::string pending;
    for (const std::string& chunk : chunks)
        SplitLines(pending, chunk, [&](const std::string& line) { lines.push_back(line); });
    return {lines, pending};
}

TEST(SplitLines, EndsALineAtCrOrLfAndDropsEmptyLines) {
    EXPECT_EQ(Split({"a\r\nb"}), (std::pair<Lines, std::string>{{"a"}, "b"})) << "CR LF gives a and an empty line";
    EXPECT_EQ(Split({"one\rtwo\nthree\n"}).first, (Lines{"one", "two", "three"}));
    EXPECT_EQ(Split({"\r\n\r\r\n\n"}), (std::pair<Lines, std::string>{{}, ""}));
    EXPECT_EQ(Split({"  42%\n", " x \n"}).first, (Lines{"  42%", " x "})) << "spaces are kept";
    EXPECT_EQ(Split({std::string("a\0b\n", 4)}).first, (Lines{std::string("a\0b", 3)})) << "NUL is a byte like any";
    EXPECT_EQ(Split({}), (std::pair<Lines, std::string>{{}, ""}));
}

TEST(SplitLines, JoinsALineSplitAcrossChunks) {
    EXPECT_EQ(Split({"hel", "lo", " world\nne", "xt"}), (std::pair<Lines, std::string>{{"hello world"}, "next"}));
    EXPECT_EQ(Split({"a\r", "\nb\r", "", "\n"}).first, (Lines{"a", "b"})) << "a CR LF pair split across chunks";
    EXPECT_EQ(Split({"tail", "", "\r"}).first, (Lines{"tail"}));
}

// Any way of cutting a stream into chunks gives the lines of the whole stream.
TEST(SplitLines, GivesTheSameLinesForAnyChunking) {
    std::mt19937 random(20240611);
    const char alphabet[] = {'a', 'b', ' ', '%', '\r', '\n', '\0', '\xe9'};
    for (int round = 0; round < 2000; ++round) {
        std::string stream(random() % 40, '\0');
        for (char& byte : stream) byte = alphabet[random() % sizeof alphabet];

        Lines expected;
        std::string current;
        for (char byte : stream) {
            if (byte != '\r' && byte != '\n') {
                current += byte;
            } else if (!current.empty()) {
                expected.push_back(current);
                current.clear();
            }
        }

        std::vector<std::string> chunks;
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t size = random() % 6;
            chunks.push_back(stream.substr(at, size));
            at += size;
        }
        ASSERT_EQ(Split(chunks), std::make_pair(expected, current)) << "round " << round;
    }
}

// A 64 MB line in pipe-sized chunks: one pass over the bytes, memory bounded by the line.
TEST(SplitLines, TakesALineOfManyMegabytesInSmallChunks) {
    const std::string chunk(4096, 'x');
    std::string pending;
    int calls = 0;
    std::size_t longest = 0;
    const auto line = [&](const std::string& text) {
        ++calls;
        longest = text.size();
    };
    for (int i = 0; i < 16384; ++i) SplitLines(pending, chunk, line);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(pending.size(), 64u << 20);
    EXPECT_LE(pending.capacity(), 2 * pending.size());

    SplitLines(pending, "y\nz", line);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(longest, (64u << 20) + 1);
    EXPECT_EQ(pending, "z");
}

TEST(IsProgressLine, NeedsTwoLeadingSpacesAndAPercentSign) {
    EXPECT_TRUE(IsProgressLine("  42% compiling"));
    EXPECT_TRUE(IsProgressLine("  [ 3/9 ] done 100%"));
    EXPECT_TRUE(IsProgressLine("   %"));
    EXPECT_FALSE(IsProgressLine(" 42% one space"));
    EXPECT_FALSE(IsProgressLine("42% none"));
    EXPECT_FALSE(IsProgressLine("\t 42% a tab"));
    EXPECT_FALSE(IsProgressLine("  no percent sign"));
    EXPECT_FALSE(IsProgressLine("  "));
}

}  // namespace
