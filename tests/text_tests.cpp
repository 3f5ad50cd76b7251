// Size texts and quoted paths. Runs on the host and under Wine.
#include "base/text.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

using setup::FormatSize;
using setup::HasNonAscii;
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

TEST(HasNonAscii, IsAnyCharacterBeyond127) {
    EXPECT_FALSE(HasNonAscii(L"C:\\Quorin-Recomp~1 (x86)"));
    EXPECT_FALSE(HasNonAscii(L""));
    EXPECT_FALSE(HasNonAscii(L"\x7f"));
    EXPECT_TRUE(HasNonAscii(L"\x80"));
    EXPECT_TRUE(HasNonAscii(L"D:\\Spi\u00e9le"));
    EXPECT_TRUE(HasNonAscii(L"\u0141\u00f3d\u017a"));
}

TEST(Quote, GivesTheChildThePathExactly) {
    EXPECT_EQ(Quote(L"C:\\Quorin Recomp\\game.iso"), L"\"C:\\Quorin Recomp\\game.iso\"");
    EXPECT_EQ(Quote(L"D:\\"), L"\"D:\\\\\"") << "a backslash before the closing quote is doubled";
    EXPECT_EQ(Quote(L""), L"\"\"");
#ifdef _WIN32  // on the host, wide paths depend on the process locale, which the program never meets
    for (const wchar_t* path : {L"D:\\", L"D:\\Games\\Quorin\\", L"\\\\server\\share\\\\", L"C:\\a b\\c d",
                                L"C:\\Spi\u00e9le\\\u30b2\u30fc\u30e0\\"}) {
        const std::wstring line = L"build.py --iso " + Quote(path) + L" --next";
        int count = 0;
        wchar_t** args = CommandLineToArgvW(line.c_str(), &count);
        ASSERT_EQ(count, 4) << line;
        EXPECT_EQ(std::wstring(args[2]), path) << line;
        EXPECT_EQ(std::wstring(args[3]), L"--next") << line;
        LocalFree(args);
    }
#endif
}

}  // namespace
