// Scanning API answers for the values of a key, for asset links and for the newest version in a
// package index: the same results as the regular expressions they stand for, and no crash, hang
// or deep recursion on hostile answers. Runs on the host (under the sanitizers) and under Wine.
#include "base/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <random>
#include <regex>

using setup::FindAsset;
using setup::FirstValue;
using setup::ForEachValue;
using setup::NewestPatch;

namespace {

using Values = std::vector<std::string>;

Values All(std::string_view text, std::string_view key) {
    Values values;
    ForEachValue(text, key, [&](std::string_view value) {
        values.emplace_back(value);
        return true;
    });
    return values;
}

// What the ECMAScript expression finds, walked as the scan claims to walk it.
Values ByRegex(const std::string& text) {
    static const std::regex pattern("\"tag_name\"\\s*:\\s*\"([^\"]+)\"");
    Values values;
    for (std::sregex_iterator match(text.begin(), text.end(), pattern), end; match != end; ++match)
        values.push_back((*match)[1]);
    return values;
}

TEST(ForEachValue, FindsWhatTheRegularExpressionFinds) {
    // Bits of near-matches, weighted so that whole matches are common.
    const char* pieces[] = {"\"tag_name\"", "\"tag_name\"", "\"tag_name", "\"", "\"", "\"", ":", ":", " ", "\t",
                            "\n", "\r", "\v", "\f", "\xa0", "\x85", "v1", "/", "\\", ",", "tag_name", "\"\"",
                            "\"tag_name\":\"", "\"tag_name\" : \"", "", ""};  // "" stands for a NUL
    std::mt19937 random(7);
    int matched = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        for (int n = random() % 16; n > 0; --n) {
            const char* piece = pieces[random() % std::size(pieces)];
            text += *piece ? std::string(piece) : std::string(1, '\0');
        }
        const Values expected = ByRegex(text);
        ASSERT_EQ(All(text, "tag_name"), expected) << "round " << round << ": [" << text << "]";
        matched += !expected.empty();
    }
    EXPECT_GT(matched, 200) << "the random texts hold matches often enough to mean something";
}

TEST(ForEachValue, WalksValuesInOrderWithoutUnescaping) {
    const std::string answer = R"({"tag_name" : "v1.2", "x": {"tag_name":
        "v2"}, "tag_name":"", "Tag_Name":"no", "tag_name" "no", "tag_name": 3, "tag_name": "a\"b"})";
    EXPECT_EQ(All(answer, "tag_name"), (Values{"v1.2", "v2", "a\\"}));
    EXPECT_EQ(FirstValue(answer, "tag_name"), "v1.2");
    EXPECT_EQ(FirstValue(answer, "name"), "");
    EXPECT_EQ(FirstValue("", "tag_name"), "");

    int calls = 0;
    ForEachValue(answer, "tag_name", [&](std::string_view) { return ++calls < 2; });
    EXPECT_EQ(calls, 2) << "false stops the walk";
}

const char* const kCMake = "cmake-[0-9.]+-windows-x86_64\\.zip";

std::string Asset(const std::string& link) { return "{\"browser_download_url\": \"" + link + "\"}"; }

std::string Link(std::string_view answer, const char* pattern) { return FindAsset(answer, pattern).link; }

TEST(FindAsset, TakesTheFirstLinkWhoseWholeFileNameFits) {
    const std::string base = "https://github.com/Kitware/CMake/releases/download/v3.30.1/";
    EXPECT_EQ(Link(Asset(base + "cmake-3.30.1-windows-x86_64.zip.sha256") + Asset(base + "cmake-3.30.1-windows-arm64.zip") +
                            Asset(base + "cmake-3.30.1-windows-x86_64.zip") + Asset(base + "cmake-3.30.2-windows-x86_64.zip"),
                        kCMake),
              base + "cmake-3.30.1-windows-x86_64.zip")
        << "a partial match doesn't count; the first fitting one wins";
    EXPECT_EQ(Link(Asset(base + "CMake-3.30.1-Windows-X86_64.ZIP"), kCMake), base + "CMake-3.30.1-Windows-X86_64.ZIP")
        << "the file name's case doesn't matter";
    EXPECT_EQ(Link("{\"Browser_Download_URL\": \"" + base + "cmake-3.30.1-windows-x86_64.zip\"}", kCMake), "")
        << "the key's case does";
    EXPECT_EQ(Link(Asset("ninja-win.zip"), "ninja-win\\.zip"), "ninja-win.zip") << "no slash: the link is the name";
    EXPECT_EQ(Link(Asset(base + "x/ninja-win.zip/"), "ninja-win\\.zip"), "") << "the name is after the last slash";
    EXPECT_EQ(Link(R"({"assets": [{"name": "cmake-3.30.1-windows-x86_64.zip"}]})", kCMake), "");
}

TEST(FindAsset, SkipsNamesTooLongForAFile) {
    const std::string longest(setup::kLongestFileName - 4, '1');
    EXPECT_EQ(Link(Asset("d/" + longest + ".zip"), "[0-9]+\\.zip"), "d/" + longest + ".zip");
    const std::string tooLong = "d/" + longest + "1.zip";
    EXPECT_EQ(Link(Asset(tooLong) + Asset("d/1.zip"), "[0-9]+\\.zip"), "d/1.zip");
}

// An asset as GitHub lists it: the digest before the link, and another one in a nested object.
std::string Listed(const std::string& name, const std::string& digest) {
    return R"({"url": "x", "uploader": {"login": "b}ot", "digest": "sha256:)" + std::string(64, 'e') +
           R"("}, "name": ")" + name + R"(", "digest": )" + digest + R"(, "browser_download_url": "d/)" + name + R"("})";
}

// Each text begins as a string: GCC 12 warns falsely (-Wrestrict) of a literal added in front of one.
TEST(FindAsset, TakesTheDigestOfThatAssetAlone) {
    const std::string hex = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789ABCDEF";
    const std::string lower = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
    const std::string digest = "\"sha256:" + hex + "\"";
    EXPECT_EQ(FindAsset(std::string("[") + Listed("a.zip", digest) + "]", "a\\.zip").sha256, lower) << "in lower case";
    EXPECT_EQ(FindAsset(std::string("[") + Listed("x.txt", digest) + ", " + Listed("a.zip", "null") + "]", "a\\.zip").sha256, "")
        << "not the digest of the asset before";
    EXPECT_EQ(FindAsset(std::string("[") + Listed("a.zip", "null") + ", " + Listed("x.txt", digest) + "]", "a\\.zip").sha256, "")
        << "nor of the one after";
    EXPECT_EQ(FindAsset(R"([{"name": "a\"}{", "browser_download_url": "d/a.zip", "size": 1, "digest": )" + digest + "}]",
                        "a\\.zip")
                  .sha256,
              lower)
        << "after the link, past a quote and braces inside a string";
    const std::string quote = "\"";
    for (const std::string& wrong : {quote + "sha512:" + hex + quote, quote + "sha256:" + hex.substr(1) + quote,
                                     quote + "sha256:" + hex.substr(1) + "g" + quote, quote + "sha256: " + hex + quote,
                                     std::string("7")})
        EXPECT_EQ(FindAsset(Listed("a.zip", wrong), "a\\.zip").sha256, "") << wrong;
    EXPECT_EQ(FindAsset(Listed("a.zip", digest), "b\\.zip").sha256, "") << "no asset, no digest";
}

std::string Index(std::initializer_list<const char*> versions) {
    std::string index = "{\n  \"versions\": [";
    for (const char* version : versions) index += std::string("\n    \"") + version + "\",";
    return index + "\n  ]\n}";
}

TEST(NewestPatch, TakesTheHighestPlainPatchNumberAsANumber) {
    EXPECT_EQ(NewestPatch(Index({"3.11.9", "3.12.0", "3.12.9", "3.12.10", "3.13.0", "3.12.1rc1"}), "3.12"), "3.12.10");
    EXPECT_EQ(NewestPatch(Index({"3.12.10", "3.12.9", "3.12.2"}), "3.12"), "3.12.10") << "whatever the order";
    EXPECT_EQ(NewestPatch(Index({"3.12.010", "3.12.10"}), "3.12"), "3.12.010") << "of equal numbers the first stays";
    EXPECT_EQ(
        NewestPatch(Index({"3.12.0-b1", "3.12.1rc1", "3.12.2.1", "3.12.", "13.12.5", "3.120.1", "3.12.x"}), "3.12"), "")
        << "only 3.12 and digits between the quotes";
    EXPECT_EQ(NewestPatch(Index({"3.12.1"}) + "\"13.12.5\" \"3.12.4", "3.12"), "3.12.1");
    EXPECT_EQ(NewestPatch("\"3.12.1\"3.12.7\"", "3.12"), "3.12.1") << "a closing quote opens no other version";
    EXPECT_EQ(NewestPatch("\"3.12.\"3.12.7\"", "3.12"), "3.12.7");
    EXPECT_EQ(NewestPatch("", "3.12"), "");
}

// What the ECMAScript expression finds, with the patch numbers read as atoi does.
std::string NewestByRegex(const std::string& text) {
    static const std::regex pattern("\"(3\\.12\\.[0-9]+)\"");
    std::string newest;
    int newestPatch = -1;
    for (std::sregex_iterator match(text.begin(), text.end(), pattern), end; match != end; ++match) {
        const std::string version = (*match)[1];
        const int patch = std::atoi(version.c_str() + 5);
        if (patch > newestPatch) {
            newest = version;
            newestPatch = patch;
        }
    }
    return newest;
}

std::size_t LongestDigitRun(const std::string& text) {
    std::size_t longest = 0, run = 0;
    for (char c : text) longest = std::max(longest, run = std::isdigit(static_cast<unsigned char>(c)) ? run + 1 : 0);
    return longest;
}

TEST(NewestPatch, FindsWhatTheRegularExpressionFinds) {
    const char* pieces[] = {"\"3.12.", "\"3.12.", "3.12.", "\"", "\"", "1", "9", "10", "0", "00", "rc1",
                            "\"3.13.", "\"3.1", ".", "\"3.12.9\"", ", ", "\n"};
    std::mt19937 random(12);
    int matched = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        for (int n = random() % 14; n > 0; --n) text += pieces[random() % std::size(pieces)];
        if (LongestDigitRun(text) > 9) continue;  // atoi's result is undefined past an int
        const std::string expected = NewestByRegex(text);
        ASSERT_EQ(NewestPatch(text, "3.12"), expected) << "round " << round << ": [" << text << "]";
        matched += !expected.empty();
    }
    EXPECT_GT(matched, 200) << "the random texts hold matches often enough to mean something";
}

TEST(NewestPatch, PassesOverPatchNumbersBeyondAnIntAndSurvivesHostileIndexes) {
    EXPECT_EQ(NewestPatch(Index({"3.12.2", "3.12.2147483647"}), "3.12"), "3.12.2147483647") << "INT_MAX itself";
    EXPECT_EQ(NewestPatch(Index({"3.12.2", "3.12.2147483648", "3.12.99999999999999999999"}), "3.12"), "3.12.2");
    EXPECT_EQ(NewestPatch(Index({"3.12.000000000000000000005"}), "3.12"), "3.12.000000000000000000005")
        << "leading zeros keep a number small";

    const std::string digits(16 << 20, '7');
    EXPECT_EQ(NewestPatch(Index({"3.12.1"}) + "\"3.12." + digits + "\"", "3.12"), "3.12.1")
        << "a patch number of many megabytes";
    EXPECT_EQ(NewestPatch("\"3.12." + digits, "3.12"), "") << "an unterminated version";
    const std::string quotes(16 << 20, '"');
    EXPECT_EQ(NewestPatch(quotes + "3.12.4\"", "3.12"), "3.12.4") << "a run of quotes";
    std::string openings;
    for (int i = 0; i < (1 << 20); ++i) openings += "\"3.12.9x";  // 8 MB of versions that never close
    EXPECT_EQ(NewestPatch(openings + "\"3.12.2\"", "3.12"), "3.12.2");
}

// Hostile answers end in a plain result: no crash, no deep recursion, work bounded by the size.
TEST(Scan, SurvivesHostileAnswers) {
    const std::string huge(32 << 20, 'x');
    const std::string link = "https://example.invalid/download/cmake-3.30.1-windows-x86_64.zip";

    EXPECT_EQ(Link("", kCMake), "");
    EXPECT_EQ(Link(Asset("d/cmake-3." + huge + "-windows-x86_64.zip") + Asset(link), kCMake), link)
        << "a name of many megabytes is passed over";
    EXPECT_EQ(Link(Asset("d/cmake-" + std::string(32 << 20, '1')) + Asset(link), kCMake), link);
    EXPECT_EQ(FirstValue("{\"tag_name\": \"" + huge, "tag_name"), "") << "an unterminated value";
    EXPECT_EQ(FirstValue("{\"tag_name\": \"" + huge + "\"}", "tag_name").size(), huge.size());
    EXPECT_EQ(FirstValue("{\"tag_name\"" + std::string(32 << 20, ' ') + ":\n\"v9\"", "tag_name"), "v9")
        << "a run of white space of many megabytes";

    const setup::Asset deep = FindAsset(std::string(8 << 20, '{') + Listed("a.zip", "null"), "a\\.zip");
    EXPECT_EQ(deep.link, "d/a.zip") << "objects nested millions deep";
    EXPECT_EQ(deep.sha256, "");

    std::string keys;
    for (int i = 0; i < (1 << 20); ++i) keys += "\"tag_name\": 1,";  // 14 MB of keys without a string value
    EXPECT_EQ(FirstValue(keys + "\"tag_name\": \"v1\"", "tag_name"), "v1");
    EXPECT_EQ(All(keys, "tag_name"), Values{});

    // Every cut of a real answer: the link once it is whole, nothing before.
    const std::string answer = R"({"tag_name": "v3.30.1", "assets": [{"name": "cmake.zip", )"
                               R"("browser_download_url": ")" + link + R"("}]})";
    const std::size_t whole = answer.find(link) + link.size() + 1;
    for (std::size_t cut = 0; cut <= answer.size(); ++cut)
        ASSERT_EQ(Link(answer.substr(0, cut), kCMake), cut >= whole ? link : "") << "cut at " << cut;
}

}  // namespace
