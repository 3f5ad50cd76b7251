// The desktop shortcut as the shell reads it back, and a file held open as another program holds
// it: what the finishing step leaves and what it must go around.
#pragma once

#include "win/handle.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <filesystem>
#include <string>

namespace testing_support {

// A shortcut as the shell reads it back; all empty when there is none.
struct Shortcut {
    std::wstring target, folder, description;
};

inline std::wstring DesktopFolder() {
    wchar_t desktop[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop);
    return desktop;
}

inline Shortcut ReadShortcut(const std::wstring& path) {
    Shortcut read;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        setup::win::Com<IShellLinkW> link;
        setup::win::Com<IPersistFile> file;  // released before the link
        wchar_t text[MAX_PATH];
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(link.Receive()))) &&
            SUCCEEDED(link->QueryInterface(IID_PPV_ARGS(file.Receive()))) &&
            SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
            if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) read.target = text;
            if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) read.folder = text;
            if (SUCCEEDED(link->GetDescription(text, MAX_PATH))) read.description = text;
        }
    }
    CoUninitialize();
    return read;
}

// A file held open as another program would hold it: others may read and write, not delete.
inline setup::win::FileHandle Hold(const std::filesystem::path& file) {
    return setup::win::FileHandle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
}

}  // namespace testing_support
