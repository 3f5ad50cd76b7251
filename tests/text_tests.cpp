// Size texts and quoted paths. Runs on the host and under Wine.
#include "text.h"

#include <gtest/gtest.h>

using setup::FormatSize;
using setup::Quote;

namespace {

TEST(FormatSize, SwitchesFromWholeMegabytesToTenthsOfGigabytesAtOneGigabyte) {
    EXPECT_EQ(FormatSize(0), L"0 MB");
    EXPECT_EQ(FormatSize(1), L"0 MB");
    EXPECT_EQ(FormatSize(std::uintmax_t{1} << 29), L"512 MB");
    EXPECT_EQ(FormatSize((std::uintmax_t{1} << 30) - 1), L"1024 MB") << "rounded, not cut";
    EXPECT_EQ(FormatSize(std::uintmax_t{1} << 30), L"1.0 GB");
    EXPECT_EQ(FormatSize(3 * (std::uintmax_t{1} << 29)), L"1.5 GB");
    EXPECT_EQ(FormatSize(12 * (std::uintmax_t{1} << 30)), L"12.0 GB");
    EXPECT_EQ(FormatSize(UINTMAX_MAX), L"17179869184.0 GB") << "the largest size still fits";
}

TEST(Quote, PutsThePathBetweenQuotesUnchanged) {
    EXPECT_EQ(Quote(L"C:\\Quorin Recomp\\game.iso"), L"\"C:\\Quorin Recomp\\game.iso\"");
    EXPECT_EQ(Quote(L"D:\\"), L"\"D:\\\"") << "a drive root keeps its backslash";
    EXPECT_EQ(Quote(L""), L"\"\"");
#ifdef _WIN32  // on the host, wide paths depend on the process locale, which the program never meets
    EXPECT_EQ(Quote(L"C:\\Spi\u00e9le\\\u30b2\u30fc\u30e0"), L"\"C:\\Spi\u00e9le\\\u30b2\u30fc\u30e0\"");
#endif
}

}  // namespace
