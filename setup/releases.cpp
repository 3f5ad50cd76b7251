#include "releases.h"

#include "http.h"
#include "report.h"
#include "scan.h"
#include "services.h"

namespace setup {
namespace {

// The API's answer about the latest release of "owner/name", or false.
bool LatestRelease(const std::string& repository, std::string& answer) {
    return Get(std::wstring(kGitHubApi) + L"/repos/" + Widen(repository) + L"/releases/latest", &answer, nullptr,
               nullptr);
}

}  // namespace

std::wstring LatestAsset(const char* repository, const char* pattern) {
    std::string answer;
    if (!LatestRelease(repository, answer))
        Fail(L"Couldn't reach GitHub to find " + Widen(repository) + L". Check the internet connection.");
    const std::string link = FindAsset(answer, pattern);
    if (link.empty()) Fail(L"No download of " + Widen(repository) + L" matched what Setup expects.");
    return Widen(link);
}

std::wstring ReleaseTag() {
    std::string answer;
    if (!LatestRelease(std::string(kRepoOwner) + "/quorin-recomp", answer)) return {};
    return Widen(FirstValue(answer, "tag_name"));
}

std::wstring PythonPackage() {
    const std::wstring container = std::wstring(kNuGetBase) + L"/v3-flatcontainer/python/";
    std::string index;
    if (!Get(container + L"index.json", &index, nullptr, nullptr))
        Fail(L"Couldn't reach " + std::wstring(kNuGetSite) + L" for Python. Check the internet connection.");
    const std::wstring version = Widen(NewestPatch(index, "3.12"));
    if (version.empty()) Fail(L"No Python 3.12 package on " + std::wstring(kNuGetSite) + L".");
    return container + version + L"/python." + version + L".nupkg";
}

}  // namespace setup
