// The resources linked into QuorinSetup.exe: the icon group that the window shows and the
// manifest that brings the version 6 common controls. The built exe is loaded as a module.
#include "support/host_path.h"
#include "version.h"
#include "win/convert.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

#pragma pack(push, 2)
struct IconDirEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct IconDir {
    WORD reserved, type, count;
    IconDirEntry entries[1];
};
#pragma pack(pop)

class Resources : public ::testing::Test {
protected:
    void SetUp() override {
        exe_ = testing_support::HostPath("QUORIN_SETUP_EXE");
        module_ = LoadLibraryExW(exe_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr) << "can't load " << setup::win::Utf8(exe_);
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }

    std::string Resource(LPCWSTR type, LPCWSTR name) const {
        HRSRC found = FindResourceW(module_, name, type);
        if (!found) return {};
        auto data = static_cast<const char*>(LockResource(LoadResource(module_, found)));
        return std::string(data, SizeofResource(module_, found));
    }

    std::wstring exe_;
    HMODULE module_ = nullptr;
};

TEST_F(Resources, IconGroupOneHoldsSevenSizesOf32Bits) {
    const std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(1));
    ASSERT_GE(group.size(), sizeof(WORD) * 3);
    auto dir = reinterpret_cast<const IconDir*>(group.data());
    ASSERT_EQ(dir->type, 1);
    ASSERT_EQ(group.size(), 6 + sizeof(IconDirEntry) * dir->count);

    std::set<int> sizes;
    for (int i = 0; i < dir->count; ++i) {
        const IconDirEntry& entry = dir->entries[i];
        const int size = entry.width ? entry.width : 256;
        SCOPED_TRACE(size);
        sizes.insert(size);
        EXPECT_EQ(entry.bitCount, 32);
        EXPECT_EQ(entry.width, entry.height);

        // The image itself must be one that Windows can turn into an icon of that size.
        std::string image = Resource(RT_ICON, MAKEINTRESOURCEW(entry.id));
        ASSERT_EQ(image.size(), entry.bytes);
        HICON icon = CreateIconFromResourceEx(reinterpret_cast<PBYTE>(image.data()), static_cast<DWORD>(image.size()),
                                              TRUE, 0x00030000, size, size, 0);
        ASSERT_NE(icon, nullptr);
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap{};
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        EXPECT_EQ(bitmap.bmHeight, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 24, 32, 48, 64, 128, 256}));
}

TEST_F(Resources, ManifestNamesTheProgramAndTheVersion6CommonControls) {
    const std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    for (const char* expected : {
             R"(<assemblyIdentity type="win32" name="QuorinRecomp.Launcher" version="1.0.0.0"/>)",
             R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")",
             R"(processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*"/>)",
             R"(<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>)",
             R"(<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>)",
         }) {
        EXPECT_NE(manifest.find(expected), std::string::npos) << expected;
    }
}

TEST_F(Resources, ManifestActivatesTheVersion6CommonControls) {
    ACTCTXW context{};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = exe_.c_str();
    context.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE activation = CreateActCtxW(&context);
    ASSERT_NE(activation, INVALID_HANDLE_VALUE);
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(ActivateActCtx(activation, &cookie));

    // The side-by-side copy of version 6 is what loads (its DllGetVersion can't tell: Wine's
    // reports 5.81 for both copies).
    HMODULE comctl = LoadLibraryW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    wchar_t loaded[MAX_PATH] = L"";
    GetModuleFileNameW(comctl, loaded, MAX_PATH);
    std::wstring path = loaded;
    for (wchar_t& c : path) c = towlower(c);
    EXPECT_NE(path.find(L"\\winsxs\\"), std::wstring::npos) << setup::win::Utf8(path);
    EXPECT_NE(path.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."), std::wstring::npos);

    FreeLibrary(comctl);
    DeactivateActCtx(0, cookie);
    ReleaseActCtx(activation);
}

TEST_F(Resources, VersionIsTheProgramsOwn) {
    const DWORD size = GetFileVersionInfoSizeW(exe_.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::string data(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(exe_.c_str(), 0, size, data.data()));
    wchar_t* text = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                               reinterpret_cast<void**>(&text), &length));
    const std::string version(setup::kVersion);
    EXPECT_EQ(std::wstring(text), setup::win::Widen(version));
    EXPECT_NE(version.find(" ("), std::string::npos) << "major.minor.patch, then the commit: " << version;
}

}  // namespace
