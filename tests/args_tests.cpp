// "--update <folder>" on the command line. Runs on the host and under Wine.
#include "base/args.h"

#include <gtest/gtest.h>

using setup::UpdateFolder;

namespace {

TEST(UpdateFolder, TakesTheArgumentAfterTheLastUpdateOption) {
    EXPECT_EQ(UpdateFolder({L"setup.exe", L"--update", L"D:\\Games\\QR"}), L"D:\\Games\\QR");
    EXPECT_EQ(UpdateFolder({L"setup.exe", L"foo", L"--update", L"X", L"--update", L"Y"}), L"Y");
    EXPECT_EQ(UpdateFolder({L"setup.exe", L"--update", L"--update"}), L"--update") << "taken verbatim";
    EXPECT_EQ(UpdateFolder({L"setup.exe", L"--update", L"X", L"--update"}), L"X") << "a trailing one is ignored";
}

TEST(UpdateFolder, NamesNoFolderForANormalStart) {
    EXPECT_EQ(UpdateFolder({}), L"");
    EXPECT_EQ(UpdateFolder({L"setup.exe"}), L"");
    EXPECT_EQ(UpdateFolder({L"setup.exe", L"--update"}), L"");
    EXPECT_EQ(UpdateFolder({L"setup.exe", L"--update", L""}), L"");
    EXPECT_EQ(UpdateFolder({L"--update", L"X"}), L"") << "argument 0 is the program";
    EXPECT_EQ(UpdateFolder({L"setup.exe", L"--Update", L"X"}), L"") << "case matters";
    EXPECT_EQ(UpdateFolder({L"setup.exe", L"--update=X"}), L"");
}

}  // namespace
