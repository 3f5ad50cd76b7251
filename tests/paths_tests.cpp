// Whether a path lies in a folder, as Windows compares paths. Runs on the host and under Wine.
#include "base/paths.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using Case = std::pair<const wchar_t*, const wchar_t*>;  // a path, a folder

TEST(IsWithin, TakesWholeComponentsInAnyCase) {
    for (const auto& [path, folder] :
         {Case{L"C:\\Games\\Quorin\\QuorinLauncher.exe", L"C:\\Games\\Quorin"}, Case{L"C:\\Games", L"C:\\Games"},
          Case{L"c:\\GAMES\\quorin\\run.exe", L"C:\\Games\\Quorin"}, Case{L"C:\\Games\\", L"C:\\Games\\\\"},
          Case{L"C:/Games/Quorin/run.exe", L"C:\\Games/Quorin/"}, Case{L"C:\\Games\\\\Quorin", L"C:\\Games"},
          Case{L"D:\\", L"D:"}, Case{L"\\\\server\\share\\Spi\u00e9le\\a.exe", L"\\\\Server\\Share\\Spi\u00e9le"}})
        EXPECT_TRUE(setup::IsWithin(path, folder)) << path << " in " << folder;
    for (const auto& [path, folder] :
         {Case{L"C:\\Games2\\run.exe", L"C:\\Games"}, Case{L"C:\\Game", L"C:\\Games"},
          Case{L"C:\\Games", L"C:\\Games\\Quorin"}, Case{L"D:\\Games\\Quorin", L"C:\\Games\\Quorin"},
          Case{L"C:\\Spiele\\run.exe", L"C:\\Spi\u00e9le"}, Case{L"C:\\Games", L""}, Case{L"C:\\Games", L"\\"}})
        EXPECT_FALSE(setup::IsWithin(path, folder)) << path << " in " << folder;
}

}  // namespace
