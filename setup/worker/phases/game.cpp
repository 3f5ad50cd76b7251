#include "worker/phases/game.h"

#include "base/disc.h"
#include "maintenance/layout.h"
#include "report.h"
#include "win/convert.h"
#include "win/environment.h"
#include "win/errors.h"
#include "win/handle.h"
#include "win/sha256.h"

#include <windows.h>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace setup {
namespace {

void CheckSpace(const std::wstring& dir, std::uint64_t needed) {
    const std::uint64_t free = win::FreeBytes(dir).value_or(0);  // 0, and nothing asked, when the drive can't be asked
    if (free == 0 || free >= needed) return;
    // Whole GB, any fraction dropped.
    const std::wstring question = L"The drive has " + std::to_wstring(free >> 30) + L" GB free; about " +
                                  std::to_wstring(needed >> 30) + L" GB is needed. Continue anyway?";
    if (AskFromWorker(question, MB_YESNO | MB_ICONWARNING) != IDYES) Fail(L"Not enough disk space.");
}

// What the copy is instead of a dump of the disc, in a player's words.
const wchar_t* Doubt(disc::Problem problem) {
    switch (problem) {
    case disc::Problem::kZip: return L"it's a zip archive. Extract the disc image from it first.";
    case disc::Problem::kSevenZip: return L"it's a 7z archive. Extract the disc image from it first.";
    case disc::Problem::kRar: return L"it's a RAR archive. Extract the disc image from it first.";
    case disc::Problem::kLivePackage:
        return L"it's an Xbox Live package (a download or a save from the console), not a copy of a disc.";
    case disc::Problem::kFirstXbox: return L"it's a disc of the first Xbox, not of the Xbox 360.";
    case disc::Problem::kNoFileSystem: return L"it has no Xbox 360 file system where a disc image has one.";
    case disc::Problem::kCutShort:
        return L"it ends before the files it lists (a download or copy that didn't finish?).";
    case disc::Problem::kNoXex: return L"it has no default.xex, the game's program.";
    default: return L"its default.xex isn't an Xbox 360 program.";  // kNotXex2; no other is asked about
    }
}

// The copy's bytes, read where they lie; the system's reason for a failure goes to `failure`.
disc::Reader ReaderOf(HANDLE file, DWORD& failure) {
    return [file, &failure](std::uint64_t offset, std::span<unsigned char> into) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        const bool read = ReadFile(file, into.data(), static_cast<DWORD>(into.size()), &got, &at);
        if (read && got == into.size()) return true;
        failure = read ? ERROR_HANDLE_EOF : GetLastError();  // short: the file got shorter meanwhile
        return false;
    };
}

// A first install reads the game copy before anything is downloaded: an archive, a package or an
// image cut short would otherwise fail the build only after every download. A dump is logged with
// what its default.xex says, for whoever reads setup.log; anything else is asked about, and the
// build script has the last word on a copy the player keeps. One that can't be read is left to it.
void ReadGameCopy(const std::wstring& source) {
    std::error_code error;
    const bool folder = fs::is_directory(source, error);
    const fs::path file = folder ? fs::path(source) / L"default.xex" : fs::path(source);
    disc::Copy copy{.problem = disc::Problem::kNoXex};
    DWORD failure = 0;
    if (!folder || fs::is_regular_file(file, error)) {
        const win::FileHandle in(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size{};
        if (!in || !GetFileSizeEx(in.get(), &size)) {
            failure = GetLastError();
            copy.problem = disc::Problem::kUnreadable;
        } else {
            const disc::Reader read = ReaderOf(in.get(), failure);
            copy = folder ? disc::ReadExtracted(size.QuadPart, read) : disc::ReadImage(size.QuadPart, read);
        }
    }
    if (copy.problem == disc::Problem::kUnreadable) {
        Log(L"(couldn't read " + source + L" to check it: " + win::ErrorText(failure) + L")");
    } else if (copy.problem != disc::Problem::kNone) {
        const std::wstring question =
            source + L" doesn't look like a dump of an Xbox 360 disc: " + Doubt(copy.problem) + L" Use it anyway?";
        if (AskFromWorker(question, MB_YESNO | MB_ICONWARNING) != IDYES)
            Fail(L"Choose a disc image or extracted folder of your own Quorin disc.");
    } else {
        const std::string sha256 = win::FileSha256(file, copy.xexOffset, copy.xexSize);
        Log(L"Game copy: " + disc::Described(copy) + L", SHA-256 " + (sha256.empty() ? L"unreadable" : win::Widen(sha256)));
    }
}

}  // namespace

void CheckGameFiles(const Choices& choices, RunValues& run) {
    run.repo = layout::RepoFolder(choices.dir);
    run.alreadyExtracted = layout::Exists(layout::ExtractedMarker(run.repo));
    if (!run.alreadyExtracted && (choices.source.empty() || !layout::Exists(choices.source)))
        Fail(L"Choose your Quorin disc image (.iso) or extracted disc folder first.");
    CheckSpace(choices.dir, run.alreadyExtracted ? kNeededExtracted : kNeededFresh);
    if (!run.alreadyExtracted) ReadGameCopy(choices.source);
}

}  // namespace setup
