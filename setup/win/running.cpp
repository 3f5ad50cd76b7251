#include "win/running.h"

#include "base/paths.h"
#include "win/handle.h"

#include <tlhelp32.h>

#include <algorithm>
#include <string>

namespace setup::win {
namespace {

// The IDs of the processes in `job`. Asked of the job rather than of each process: Wine tells
// whether a process is in a job only through a handle with more rights than the limited one.
std::vector<ULONG_PTR> IdsIn(HANDLE job) {
    std::vector<ULONG_PTR> buffer(64);  // the list's two counts take the first
    for (;;) {
        auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
        if (QueryInformationJobObject(job, JobObjectBasicProcessIdList, list,
                                      static_cast<DWORD>(buffer.size() * sizeof buffer[0]), nullptr))
            return {list->ProcessIdList, list->ProcessIdList + list->NumberOfProcessIdsInList};
        if (GetLastError() != ERROR_MORE_DATA) return {};
        buffer.resize(buffer.size() * 2);  // more started meanwhile
    }
}

}  // namespace

std::vector<std::filesystem::path> RunningWithin(const std::filesystem::path& folder, HANDLE job) {
    const std::vector<ULONG_PTR> skipped = job ? IdsIn(job) : std::vector<ULONG_PTR>{};
    std::vector<std::filesystem::path> found;
    const FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    std::wstring file(32768, L'\0');  // long paths too
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        // A player may keep Setup in the install folder.
        if (entry.th32ProcessID == GetCurrentProcessId() ||
            std::find(skipped.begin(), skipped.end(), entry.th32ProcessID) != skipped.end())
            continue;
        // The limited right is enough to ask for the file, and is granted for a game run as
        // administrator too.
        const Handle program(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        DWORD size = static_cast<DWORD>(file.size());
        if (program && QueryFullProcessImageNameW(program.get(), 0, file.data(), &size) &&
            IsWithin(std::wstring_view(file.data(), size), folder.native()))
            found.emplace_back(file.substr(0, size));
    }
    return found;
}

}  // namespace setup::win
