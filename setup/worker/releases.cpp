#include "worker/releases.h"

#include "base/refname.h"
#include "base/scan.h"
#include "base/web.h"
#include "report.h"
#include "win/convert.h"
#include "worker/downloads.h"
#include "worker/services.h"

#include <windows.h>

#include <cstdint>
#include <ctime>

namespace setup {
namespace {

// The project's repository on GitHub, whose releases and branches a run follows.
constexpr const char* kProjectRepository = "quorin-recomp/quorin-recomp";

// A moment (seconds since 1970) as the user's settings write a time of day; "" when it can't be.
std::wstring LocalTime(std::int64_t seconds) {
    if (seconds <= 0 || seconds > 900000000000) return {};  // 0: none named; FILETIME ends in the year 30828
    ULARGE_INTEGER ticks;  // of 100 ns since 1601
    ticks.QuadPart = (static_cast<ULONGLONG>(seconds) + 11644473600ULL) * 10000000ULL;
    const FILETIME utc{ticks.LowPart, ticks.HighPart};
    SYSTEMTIME universal, local;
    wchar_t text[64];
    if (!FileTimeToSystemTime(&utc, &universal) || !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local) ||
        !GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOSECONDS, &local, nullptr, text, 64))
        return {};
    return text;
}

// For an answer that says GitHub's rate limit was reached, the sentence that says so and when to
// try again; "" for any other.
std::wstring RateLimitSentence(const std::string& answer) {
    const auto until = RateLimitedUntil(answer, std::time(nullptr));
    if (!until) return {};
    const std::wstring time = LocalTime(*until);
    return L"GitHub's limit on requests from this network was reached; try again " +
           (time.empty() ? L"in an hour." : L"after " + time + L".");
}

// The API's answer about the latest release of "owner/name". False when it can't be had; then
// `limit` holds the rate limit's sentence when that was why.
bool LatestRelease(const std::string& repository, std::string& answer, std::wstring& limit) {
    std::string refusal;
    if (Get({.url = std::wstring(kGitHubApi) + L"/repos/" + win::Widen(repository) + L"/releases/latest",
             .body = &answer, .head = &refusal}))
        return true;
    limit = RateLimitSentence(refusal);
    return false;
}

}  // namespace

Archive LatestAsset(const char* repository, const char* pattern) {
    std::string answer;
    std::wstring limit;
    if (!LatestRelease(repository, answer, limit))
        Fail(L"Couldn't reach GitHub to find " + win::Widen(repository) + L". " +
             (limit.empty() ? L"Check the internet connection." : limit));
    const Asset asset = FindAsset(answer, pattern);
    if (asset.link.empty()) Fail(L"No download of " + win::Widen(repository) + L" matched what Setup expects.");
    return {win::Widen(asset.link), asset.sha256};
}

std::wstring ReleaseTag() {
    std::string answer;
    std::wstring limit;
    if (!LatestRelease(kProjectRepository, answer, limit)) {
        if (!limit.empty()) Log(L"The latest release couldn't be looked up. " + limit);
        return {};
    }
    return win::Widen(FirstValue(answer, "tag_name"));
}

std::string NewestCommit(const std::wstring& ref, std::wstring& why) {
    std::string answer;
    // GitHub answers the bare commit for this media type, without the commit's whole record.
    if (!Get({.url = std::wstring(kGitHubApi) + L"/repos/" + win::Widen(kProjectRepository) + L"/commits/" + ref,
              .body = &answer, .headers = L"Accept: application/vnd.github.sha\r\n", .why = &why}))
        return {};
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
    if (IsCommitId(answer)) return answer;
    why = L"GitHub's answer isn't a commit";
    return {};
}

std::wstring PythonPackage() {
    const std::wstring container = std::wstring(kNuGetBase) + L"/v3-flatcontainer/python/";
    std::string index;
    if (!Get({.url = container + L"index.json", .body = &index}))
        Fail(L"Couldn't reach " + std::wstring(kNuGetSite) + L" for Python. Check the internet connection.");
    const std::wstring version = win::Widen(NewestPatch(index, "3.12"));
    if (version.empty()) Fail(L"No Python 3.12 package on " + std::wstring(kNuGetSite) + L".");
    return container + version + L"/python." + version + L".nupkg";
}

}  // namespace setup
