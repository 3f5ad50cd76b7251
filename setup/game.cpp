#include "game.h"

#include "base/layout.h"
#include "report.h"

#include <windows.h>

namespace setup {

void CheckGameFiles(const Choices& choices, RunValues& run) {
    run.repo = layout::RepoFolder(choices.dir);
    run.alreadyExtracted = layout::Exists(layout::ExtractedMarker(run.repo));
    if (!run.alreadyExtracted && (choices.source.empty() || !layout::Exists(choices.source)))
        Fail(L"Choose your Quorin disc image (.iso) or extracted disc folder first.");

    const std::uint64_t needed = run.alreadyExtracted ? kNeededExtracted : kNeededFresh;
    ULARGE_INTEGER free{};  // stays 0, and asks nothing, when the drive can't be asked
    GetDiskFreeSpaceExW(choices.dir.c_str(), &free, nullptr, nullptr);
    if (free.QuadPart == 0 || free.QuadPart >= needed) return;
    // Whole GB, any fraction dropped.
    const std::wstring question = L"The drive has " + std::to_wstring(free.QuadPart >> 30) + L" GB free; about " +
                                  std::to_wstring(needed >> 30) + L" GB is needed. Continue anyway?";
    if (AskFromWorker(question, MB_YESNO | MB_ICONWARNING) != IDYES) Fail(L"Not enough disk space.");
}

}  // namespace setup
