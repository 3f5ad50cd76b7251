#include "worker/removal.h"

#include "report.h"
#include "win/errors.h"

#include <functional>

namespace setup {

void LogUnremoved::operator()(const std::filesystem::path& path, DWORD error) {
    constexpr int kMostNamed = 10;
    if (named < kMostNamed) Log(L"Couldn't delete " + path.wstring() + L" (" + win::ErrorText(error) + L")");
    if (named++ == kMostNamed) Log(L"(more couldn't be deleted)");
}

bool Remove(const std::filesystem::path& path) {
    win::Patience patience;
    LogUnremoved unremoved;
    return win::RemoveTree(path, patience, std::ref(unremoved));
}

}  // namespace setup
