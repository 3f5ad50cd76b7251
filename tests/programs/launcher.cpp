// Stands in for the game's launcher in tests: records where and how it was started, then exits.
//
// It writes its current folder and then each argument, one per line in UTF-8, to the file named
// by QUORIN_LAUNCHER_RECORD, or to QuorinLauncher.txt beside itself. Then it sets the event named
// by QUORIN_LAUNCHER_EVENT, if there is one, so that a test can wait for it.
#include "win/convert.h"
#include "win/environment.h"
#include "win/handle.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

using setup::win::Utf8;
using setup::win::Variable;

namespace {

std::wstring RecordPath() {
    std::wstring path = Variable(L"QUORIN_LAUNCHER_RECORD");
    if (!path.empty()) return path;
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    path = self;
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"QuorinLauncher.txt";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t folder[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, folder);
    std::string record = Utf8(folder) + "\n";
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; i < count; ++i) record += Utf8(args[i]) + "\n";
    LocalFree(args);

    {
        const setup::win::FileHandle file(
            CreateFileW(RecordPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        WriteFile(file.get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    }  // closed before the event tells that it's there
    const std::wstring event = Variable(L"QUORIN_LAUNCHER_EVENT");
    if (const setup::win::Handle started{event.empty() ? nullptr
                                                       : OpenEventW(EVENT_MODIFY_STATE, FALSE, event.c_str())})
        SetEvent(started.get());
    return 0;
}
