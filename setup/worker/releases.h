// Where the build tools' archives come from: the newest release of a GitHub repository, asked of
// the GitHub REST API, and Python's package from NuGet. Worker thread.
#pragma once

#include <string>

namespace setup {

// An archive to download: its link, and its SHA-256 in lowercase hex when the service gives one.
struct Archive {
    std::wstring url;
    std::string sha256{};
};

// The first asset of `repository`'s latest release ("owner/name") whose file name matches the
// whole ECMAScript `pattern`, ignoring case, with the asset's own SHA-256. Fails with "Couldn't
// reach GitHub to find <repository>. Check the internet connection." when the API can't be
// asked; when GitHub refused for its rate limit, the sentence after the first says so instead,
// and when to try again. Fails with "No download of <repository> matched what Setup expects."
// when nothing fits.
Archive LatestAsset(const char* repository, const char* pattern);

// The tag of the project's latest release, or "" when it can't be found out (no message: the
// source step decides what to do without it; the log says when the rate limit was why).
//
// Each of these fails with "Cancelled." when the user cancelled while it asked.
std::wstring ReleaseTag();

// The commit that `ref` (a branch or a tag) of the project names on GitHub now, as its 40 hex
// digits; "" when it can't be had, with why in `why` (for the log).
std::string NewestCommit(const std::wstring& ref, std::wstring& why);

// The package file (.nupkg, a zip archive) of the newest Python 3.12 release on NuGet, whose
// flat container lists every published version. Fails with "Couldn't reach <site> for Python.
// Check the internet connection." when the list can't be had, and with "No Python 3.12 package
// on <site>." when it holds no plain 3.12 version.
std::wstring PythonPackage();

}  // namespace setup
