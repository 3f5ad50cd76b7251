#include "worker/network.h"

#include "base/web.h"
#include "win/environment.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

namespace setup {
namespace {

using win::SetVariable;
using win::Variable;

unsigned SettingsCount() {
    return static_cast<unsigned>(std::wcstoul(Variable(L"GIT_CONFIG_COUNT").c_str(), nullptr, 10));
}

// An empty key and value remove the setting's variables.
void SetSetting(unsigned index, const wchar_t* key, const wchar_t* value) {
    SetVariable(L"GIT_CONFIG_KEY_" + std::to_wstring(index), key);
    SetVariable(L"GIT_CONFIG_VALUE_" + std::to_wstring(index), value);
}

// The proxy list that Windows is set to use for this user; "" for none.
std::wstring WindowsProxy() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return {};
    const std::wstring proxy = config.lpszProxy ? config.lpszProxy : L"";
    for (wchar_t* text : {config.lpszAutoConfigUrl, config.lpszProxy, config.lpszProxyBypass})
        if (text) GlobalFree(text);
    return proxy;
}

}  // namespace

void SetGitNetwork(bool setupGit, const std::filesystem::path& repo) {
    // Names are the same in any letter case on Windows: these cover https_proxy and the like too.
    // A proxy set by an earlier call stays, as one named by the user would.
    if (Variable(L"HTTPS_PROXY").empty() && Variable(L"HTTP_PROXY").empty() && Variable(L"ALL_PROXY").empty()) {
        const std::wstring proxies = WindowsProxy();
        SetVariable(L"HTTPS_PROXY", ProxyFor(proxies, L"https"));
        SetVariable(L"HTTP_PROXY", ProxyFor(proxies, L"http"));
    }

    // Git writes its own paths whole and with forward slashes, and compares this one with them.
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(repo, error);
    std::wstring trusted = (error ? repo : full).lexically_normal().wstring();
    std::replace(trusted.begin(), trusted.end(), L'\\', L'/');
    std::vector<std::pair<const wchar_t*, const wchar_t*>> settings = {{L"core.longpaths", L"true"},
                                                                       {L"safe.directory", trusted.c_str()}};
    if (setupGit) settings.push_back({L"http.sslBackend", L"schannel"});
    static const unsigned inherited = SettingsCount();  // ours follow these, in the same places each time
    const unsigned before = SettingsCount();
    unsigned index = inherited;
    for (const auto& [key, value] : settings) SetSetting(index++, key, value);
    for (unsigned stale = index; stale < before; ++stale) SetSetting(stale, L"", L"");
    SetVariable(L"GIT_CONFIG_COUNT", std::to_wstring(index));
}

}  // namespace setup
