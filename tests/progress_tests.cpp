// The build script's output lines as they move the window: status lines, step counters and
// percentages, and lines no build should print but some will.
#include "base/lines.h"
#include "base/progress.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using setup::ParseBuildLine;

namespace {

// The bar position a line asks for, or nullopt; a line must not set a status text as well.
std::optional<int> Bar(const std::string& line) {
    const setup::BuildProgress progress = ParseBuildLine(line);
    EXPECT_FALSE(progress.status) << line.substr(0, 80);
    return progress.percent;
}

TEST(BuildLines, StatusLinesSetTheTextAndTheMarquee) {
    const std::string line = "==> Extracting the game files";
    const setup::BuildProgress progress = ParseBuildLine(line);
    ASSERT_TRUE(progress.status);
    EXPECT_EQ(*progress.status, "Extracting the game files");
    EXPECT_EQ(progress.percent, -1);

    EXPECT_EQ(ParseBuildLine("==> ").status, "") << "only the prefix: an empty status text";
    EXPECT_EQ(ParseBuildLine("==> ").percent, -1);
    EXPECT_EQ(ParseBuildLine("==> [1/2] 50%").status, "[1/2] 50%") << "the first rule wins";
    EXPECT_EQ(ParseBuildLine("==> \xff\xfe").status, "\xff\xfe") << "bytes as they came";
    EXPECT_EQ(Bar("==>Extracting"), std::nullopt);
    EXPECT_EQ(Bar("==>"), std::nullopt);
    EXPECT_EQ(Bar(" ==> Extracting"), std::nullopt);
}

TEST(BuildLines, CountersGiveTheShareDoneCutTowardsZero) {
    EXPECT_EQ(Bar("[12/345] Building CXX object"), 3);
    EXPECT_EQ(Bar("[345/345] Linking"), 100);
    EXPECT_EQ(Bar("[1/3] a"), 33);
    EXPECT_EQ(Bar("[2/3] b"), 66);
    EXPECT_EQ(Bar("[3/3] c"), 100);
    EXPECT_EQ(Bar("[0/5] starting"), 0);
    EXPECT_EQ(Bar("[3/2] past the end"), 150) << "the window shows 100";
    EXPECT_EQ(Bar("[1/2]"), 50);
    EXPECT_EQ(Bar("[1/2] 75%"), 50) << "the counter comes first";
    EXPECT_EQ(Bar("[0007/0014]"), 50) << "leading zeros";

    EXPECT_EQ(Bar("[0/0] nothing to do"), std::nullopt);
    EXPECT_EQ(Bar("[5/0] dividing by nothing"), std::nullopt);
    for (const char* line : {"[1/2", "[1 /2]", "[/2]", "[1/]", "[]", "[1-2]", " [1/2]", "x[1/2]", "[-1/2]", "[+1/2]"})
        EXPECT_EQ(Bar(line), std::nullopt) << line;
}

TEST(BuildLines, PercentagesAfterOptionalWhiteSpace) {
    EXPECT_EQ(Bar("  42% media/stage01.arc"), 42);
    EXPECT_EQ(Bar(" 7%"), 7);
    EXPECT_EQ(Bar("  7%"), 7);
    EXPECT_EQ(Bar("7%"), 7);
    EXPECT_EQ(Bar("\t\v\f\r\n 9%"), 9);
    EXPECT_EQ(Bar("  000042%"), 42);
    EXPECT_EQ(Bar("  0%"), 0);
    EXPECT_EQ(Bar("  250%"), 250);
    for (const char* line : {"7 %", "  -5% done", "x 42%", "42", "%", "  %", "", "[5/0] 7%", "\xa0" "5%"})
        EXPECT_EQ(Bar(line), std::nullopt) << line;
}

TEST(BuildLines, NumbersBeyondAnIntMoveNothing) {
    EXPECT_EQ(Bar("[2147483647/2147483647]"), 100);
    EXPECT_EQ(Bar("  2147483647%"), 2147483647);
    EXPECT_EQ(Bar("[30000000/40000000] more than a 32-bit done * 100"), 75);
    EXPECT_EQ(Bar("[21474836/1]"), 2147483600);

    EXPECT_EQ(Bar("[21474837/1] a share beyond an int"), std::nullopt);
    EXPECT_EQ(Bar("[2147483648/5]"), std::nullopt);
    EXPECT_EQ(Bar("[5/2147483648]"), std::nullopt);
    EXPECT_EQ(Bar("[99999999999999999999/99999999999999999999999] more than anyone can count"), std::nullopt);
    EXPECT_EQ(Bar("  2147483648%"), std::nullopt);
    EXPECT_EQ(Bar("  99999999999999999999% done"), std::nullopt);
}

TEST(BuildLines, HugeLinesAreReadOnceWithoutRecursion) {
    const std::size_t mega = std::size_t{1} << 20;
    EXPECT_EQ(Bar(std::string(16 * mega, '[')), std::nullopt);
    EXPECT_EQ(Bar(std::string(16 * mega, 'x')), std::nullopt);
    EXPECT_EQ(Bar("[" + std::string(16 * mega, '9') + "/1]"), std::nullopt);
    EXPECT_EQ(Bar(std::string(16 * mega, '9') + "%"), std::nullopt);
    EXPECT_EQ(Bar("[" + std::string(16 * mega, '0') + "5/10]"), 50) << "a number that still fits";
    EXPECT_EQ(Bar(std::string(16 * mega, ' ') + "5%"), 5);

    const std::string status = "==> " + std::string(16 * mega, 'y');
    const setup::BuildProgress progress = ParseBuildLine(status);
    ASSERT_TRUE(progress.status);
    EXPECT_EQ(progress.status->data(), status.data() + 4) << "the text isn't copied";
    EXPECT_EQ(progress.status->size(), 16 * mega);
}

// What git prints to a pipe with --progress, cut into lines as the process runner cuts them: a CR
// ends every line but the last of a stage.
TEST(GitLines, ProgressLinesGiveTheirStageAndPercentage) {
    const std::string output =
        "Cloning into 'quorin-recomp'...\nremote: Enumerating objects: 18, done.        \n"
        "remote: Counting objects:   5% (1/18)        \rremote: Counting objects: 100% (18/18), done.        \n"
        "Receiving objects:  44% (8/18)\rReceiving objects: 100% (18/18), 4.31 KiB | 4.31 MiB/s, done.\n"
        "Resolving deltas:   0% (0/3)\rResolving deltas: 100% (3/3), done.\n"
        "Receiving objects:  45% (1234/2742), 12.00 MiB | 3.00 MiB/s\r";
    std::vector<std::string> seen;
    std::string pending;
    setup::SplitLines(pending, output, [&](const std::string& line) {
        const auto progress = setup::ParseGitProgress(line);
        seen.push_back(progress ? std::string(progress->stage) + " " + std::to_string(progress->percent) : "-");
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"-", "-", "remote: Counting objects 5", "remote: Counting objects 100",
                                              "Receiving objects 44", "Receiving objects 100", "Resolving deltas 0",
                                              "Resolving deltas 100", "Receiving objects 45"}));

    for (const char* other : {"  42% (built)", "Receiving objects: 101% (1/1)", "Receiving objects: 45%",
                              "Receiving objects: x% (1/2)", "remote: 45% (1/2)", ": 45% (1/2)",
                              "Receiving objects: 99999999999999999999% (1/2)"})
        EXPECT_FALSE(setup::ParseGitProgress(other)) << other;
}

}  // namespace
