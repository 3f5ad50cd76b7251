#include "worker/phases/finish.h"

#include "base/text.h"
#include "globals.h"
#include "maintenance/layout.h"
#include "maintenance/maintenance.h"
#include "report.h"
#include "win/errors.h"
#include "win/files.h"
#include "win/handle.h"
#include "worker/removal.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <system_error>

namespace fs = std::filesystem;

namespace setup {
namespace {

// A shortcut to the launcher that starts it in its own folder, or the system's reason why not.
HRESULT SaveDesktopShortcut(const fs::path& launcher) {
    wchar_t desktop[MAX_PATH];
    HRESULT result = SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop);
    win::Com<IShellLinkW> link;
    if (SUCCEEDED(result))
        result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(link.Receive()));
    if (FAILED(result)) return result;
    link->SetPath(launcher.c_str());
    link->SetWorkingDirectory(launcher.parent_path().c_str());
    link->SetDescription(L"Quorin Recompiled");
    win::Com<IPersistFile> file;  // released before the link
    result = link->QueryInterface(IID_PPV_ARGS(file.Receive()));
    return FAILED(result) ? result : file->Save((fs::path(desktop) / L"Quorin Recompiled.lnk").c_str(), TRUE);
}

// Best effort: a shortcut that can't be made costs the player nothing else, and the log says why.
void AddDesktopShortcut(const fs::path& launcher) {
    if (const HRESULT result = SaveDesktopShortcut(launcher); FAILED(result))
        Log(L"Couldn't put a shortcut on the desktop (" + win::ErrorText(result) + L")");
}

// Removes every path of the item, going on past failures; true when all of it went.
bool Delete(const kel::maintenance::Part& item, win::Patience& patience, LogUnremoved& unremoved) {
    bool all = true;
    for (const fs::path& path : item.paths) all = win::RemoveTree(path, patience, std::ref(unremoved)) && all;
    return all;
}

// The build leftovers, then the downloaded tools; gives the bytes freed by the items that went
// whole (an item that went in part isn't counted at all).
std::uintmax_t FreeSpace(const fs::path& repo) {
    Status(L"Freeing up space");
    // Both measured before anything is deleted.
    const kel::maintenance::Part items[] = {kel::maintenance::Leftovers(repo), kel::maintenance::Tools(repo)};
    std::uintmax_t freed = 0;
    // One wait for locked files in all, each build leftover being a path of its own.
    win::Patience patience(&s_cancel);
    LogUnremoved unremoved;
    for (const kel::maintenance::Part& item : items) {
        Log(L"Deleting " + item.label + L": " + FormatSize(item.size));
        if (Delete(item, patience, unremoved))
            freed += item.size;
        else
            Log(L"(some of it couldn't be deleted)");
    }
    return freed;
}

// Only an image whose files this run extracted, and only while they are there.
bool DeleteDiscImage(const std::wstring& source, const fs::path& repo) {
    std::error_code error;
    if (!fs::is_regular_file(source, error) || !layout::Exists(layout::ExtractedMarker(repo))) return false;
    DWORD why = 0;
    win::Patience patience;
    if (!win::RemoveTree(source, patience, [&why](const fs::path&, DWORD error) { why = error; })) {
        Log(L"Couldn't delete the disc image " + source + L" (" + win::ErrorText(why) + L")");
        return false;
    }
    Log(L"Deleted the disc image " + source);
    return true;
}

}  // namespace

void Finish(const Choices& choices, RunValues& run) {
    if (choices.shortcut) AddDesktopShortcut(s_installed);
    run.message = L"Done. Start the game with the launcher";
    run.message += choices.shortcut ? L" (\"Quorin Recompiled\" on the desktop)." : L".";
    if (choices.cleanup)
        run.message += L"\n\nFreed " + FormatSize(FreeSpace(run.repo)) +
                       L" (the next update downloads the tools again and rebuilds from scratch).";
    // The extracted files' folder, as a path within the install folder.
    if (choices.deleteIso && !run.alreadyExtracted && DeleteDiscImage(choices.source, run.repo))
        run.message += L"\n\nThe disc image was deleted (the game's files are in " +
                       layout::ExtractedFolder(layout::RepoFolder({})).wstring() + L").";
}

}  // namespace setup
