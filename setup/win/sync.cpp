#include "win/sync.h"

#include <windows.h>

#include <iterator>

namespace setup::win {
namespace {

// What the program needs of cfapi.h, which MinGW doesn't ship.
constexpr int kProviderInfo = 2;  // CF_SYNC_ROOT_INFO_PROVIDER
struct ProviderInfo {             // CF_SYNC_ROOT_PROVIDER_INFO
    ULONG status;
    WCHAR name[256];
    WCHAR version[256];
};
using GetSyncRootInfoByPath = HRESULT(WINAPI*)(LPCWSTR path, int infoClass, void* info, DWORD size, DWORD* returned);

// cldapi.dll isn't a known DLL: it is taken from the system folder alone, and where it is
// missing, or lacks the function, nothing is asked of it.
GetSyncRootInfoByPath Bind() {
    const HMODULE cldapi = LoadLibraryExW(L"cldapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!cldapi) return nullptr;
    return reinterpret_cast<GetSyncRootInfoByPath>(
        reinterpret_cast<void*>(GetProcAddress(cldapi, "CfGetSyncRootInfoByPath")));
}

}  // namespace

std::wstring SyncProvider(const std::filesystem::path& folder) {
    static const GetSyncRootInfoByPath getInfo = Bind();  // on first use; the DLL stays loaded
    ProviderInfo info{};
    if (!getInfo || FAILED(getInfo(folder.c_str(), kProviderInfo, &info, sizeof info, nullptr))) return {};
    info.name[std::size(info.name) - 1] = L'\0';
    return info.name;
}

}  // namespace setup::win
