// What a run says to the person and logs of its own, as several tests expect it word for word:
// a question, failures, a log line and the parts of the final message. Written out here apart
// from the program's strings, so that a changed text fails the tests.
#pragma once

#include <string>

namespace testing_support {

inline const std::wstring kNonAsciiQuestion =
    L"The folder's path has non-English characters, which some build tools can't handle. A folder like "
    L"C:\\Quorin-Recomp is safer. Continue anyway?";

// Where the window tests' runs end: past the choices and the game copy, at the first download,
// since nothing serves the sandbox's port while they run.
inline const std::wstring kNoGitHub =
    L"Couldn't reach GitHub to find git-for-windows/git. Check the internet connection.";

inline const std::wstring kBuildFailed =
    L"The build failed. The log above (also in setup.log) says why; Help > Report a bug in the launcher, or a "
    L"GitHub issue with setup.log attached, gets it looked at.";

inline const std::wstring kLauncherMissing =
    L"The build finished but QuorinLauncher.exe isn't there. If an antivirus removed it, restore it from its "
    L"quarantine (Windows Security, Protection history), then choose Update.";

// Logged for a clone with changes of the user's own.
inline const std::wstring kChanges = L"The source folder has changes of its own: building it as it is (no update).";

// The final message of a success: its start, its ending with the shortcut (else "."), and the
// paragraphs of freeing space and of the deleted disc image.
inline const std::wstring kDone = L"Done. Start the game with the launcher";
inline const std::wstring kOnDesktop = L" (\"Quorin Recompiled\" on the desktop).";
inline std::wstring Freed(const std::wstring& size) {
    return L"\n\nFreed " + size + L" (the next update downloads the tools again and rebuilds from scratch).";
}
inline const std::wstring kImageDeleted =
    L"\n\nThe disc image was deleted (the game's files are in quorin-recomp\\game\\extracted).";

}  // namespace testing_support
