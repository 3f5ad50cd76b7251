#include "window/choices.h"

#include "base/paths.h"
#include "base/text.h"
#include "globals.h"
#include "maintenance/layout.h"
#include "maintenance/walk.h"
#include "win/com.h"
#include "win/environment.h"
#include "win/handle.h"
#include "win/sync.h"
#include "window/controls.h"

#include <windows.h>
#include <commdlg.h>
#include <shobjidl.h>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace setup {
namespace {

// The longest install folder: the tools' deepest files lie about 130 characters below it, the
// build tree goes deeper still, and most PCs allow no path past 260.
constexpr std::size_t kLongestFolder = 100;

// The nearest folder at or above `path` that exists, or "" when even the root is missing.
fs::path NearestExisting(fs::path path) {
    while (!path.empty()) {
        std::error_code error;
        const fs::file_type type = fs::status(path, error).type();
        if (type != fs::file_type::not_found && type != fs::file_type::none) return path;
        fs::path parent = path.parent_path();
        if (parent.empty() || parent == path) break;
        path = std::move(parent);
    }
    return path;
}

// The program that keeps `folder` in sync, or "" when none does. OneDrive names its folders in
// the environment; other programs, and OneDrive too, register their sync roots with the system.
std::wstring SyncedBy(const fs::path& folder) {
    for (const wchar_t* variable : {L"OneDrive", L"OneDriveConsumer", L"OneDriveCommercial"})
        if (IsWithin(folder.native(), win::Variable(variable))) return L"OneDrive";
    return win::SyncProvider(NearestExisting(folder));
}

}  // namespace

Choices ReadChoices() {
    Choices choices;
    choices.source = Text(kSourcePath);
    choices.dir = Text(kInstallFolder);
    choices.shortcut = Checked(kShortcut);
    choices.cleanup = Checked(kCleanup);
    choices.deleteIso = Checked(kDeleteIso) && !Checked(kExtractedFolder);
    return choices;
}

bool Confirm(const Choices& choices) {
    if (choices.dir.empty()) {
        Ask(L"Choose a folder to install to.", MB_ICONINFORMATION);
        return false;
    }
    std::error_code error;
    const fs::path absolute = fs::absolute(choices.dir, error);
    // An install there already is one that works: its update goes on.
    const bool installed = layout::Exists(layout::RepoMarker(layout::RepoFolder(choices.dir)));
    if (absolute.native().size() > kLongestFolder && !installed) {
        Ask(L"The install folder's path is too long: it may have at most " + std::to_wstring(kLongestFolder) +
                L" characters, since the build tools' files and the build's go deep inside it. Choose a short "
                L"folder, such as C:\\Quorin-Recomp.",
            MB_ICONINFORMATION);
        return false;
    }
    if (HasNonAscii(choices.dir) &&
        Ask(L"The folder's path has non-English characters, which some build tools can't handle. A folder like "
            L"C:\\Quorin-Recomp is safer. Continue anyway?",
            MB_YESNO | MB_ICONWARNING) != IDYES)
        return false;
    // "--update" rebuilds where the game already is, with no other folder to choose.
    const std::wstring provider = s_updateMode ? L"" : SyncedBy(absolute);
    if (!provider.empty() &&
        Ask(choices.dir + L" is in a folder that " + provider + L" keeps in sync. The build writes about 10 GB there, "
                L"which " + provider + L" would upload, and the build can fail when " + provider +
                L" holds a file. Install there anyway?",
            MB_YESNO | MB_ICONWARNING) != IDYES)
        return false;
    if (Checked(kExtractedFolder) && !choices.source.empty() && !kel::maintenance::IsFolder(choices.source)) {
        Ask(L"That isn't a folder. Choose the folder of your extracted disc.", MB_ICONINFORMATION);
        return false;
    }
    if (choices.deleteIso && !s_updateMode &&
        Ask(L"Delete the disc image when it's been extracted?\n\n" + choices.source +
                L"\n\nThe game only needs the extracted files; you'd need the disc image again only to install "
                L"somewhere else.",
            MB_YESNO | MB_ICONQUESTION) != IDYES)
        return false;
    return true;
}

void UpdateSourceChoice() {
    const bool folder = Checked(kExtractedFolder);
    SetText(kSourceHint, folder ? L"The folder with default.xex, levels, sounds, textures... (from extract-xiso, "
                                  L"Xenia, etc.). It's copied."
                                : L"A dump of your own Xbox 360 disc of Quorin (2007).");
    if (folder) SendMessageW(Control(kDeleteIso), BM_SETCHECK, BST_UNCHECKED, 0);
    EnableWindow(Control(kDeleteIso), !folder && !s_busy);
}

void UpdateFreeSpace() {
    const fs::path drive = NearestExisting(Text(kInstallFolder));
    if (const auto free = drive.empty() ? std::nullopt : win::FreeBytes(drive))
        SetText(kFreeSpaceHint, FormatSize(*free) + L" free on that drive; about " +
                                    std::to_wstring(kNeededFresh >> 30) + L" GB is needed (" +
                                    std::to_wstring(kNeededExtracted >> 30) + L" GB once the disc is extracted).");
    else
        SetText(kFreeSpaceHint, L"");
}

void BrowseSource() {
    if (Checked(kExtractedFolder)) {
        const std::wstring folder = PickFolder();
        if (!folder.empty()) SetText(kSourcePath, folder);
        return;
    }
    win::UseCom();  // the dialog shows the shell's folders
    wchar_t file[MAX_PATH] = L"";
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = s_window;
    dialog.lpstrFilter = L"Disc images (*.iso)\0*.iso\0All files\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = MAX_PATH;
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (GetOpenFileNameW(&dialog)) SetText(kSourcePath, file);
}

void BrowseDir() {
    const std::wstring folder = PickFolder();
    if (!folder.empty()) SetText(kInstallFolder, InstallFolderIn(folder));
}

std::wstring InstallFolderIn(const std::wstring& picked) {
    const fs::path folder = picked;
    return folder.filename() == kFolderName ? picked : (folder / kFolderName).wstring();
}

std::wstring PickFolder() {
    win::UseCom();
    win::Com<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(dialog.Receive()))))
        return {};
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS);
    if (FAILED(dialog->Show(s_window))) return {};
    win::Com<IShellItem> item;
    wchar_t* name = nullptr;
    if (FAILED(dialog->GetResult(item.Receive())) || FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &name)))
        return {};
    std::wstring folder = name;
    CoTaskMemFree(name);
    return folder;
}

}  // namespace setup
