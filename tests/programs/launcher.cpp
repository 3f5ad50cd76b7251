// Stands in for the game's launcher in tests: records where and how it was started, then exits.
//
// It writes its current folder and then each argument, one per line in UTF-8, to the file named
// by QUORIN_LAUNCHER_RECORD, or to QuorinLauncher.txt beside itself. Then it sets the event named
// by QUORIN_LAUNCHER_EVENT, if there is one, so that a test can wait for it.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::wstring Variable(const wchar_t* name) {
    std::wstring value(GetEnvironmentVariableW(name, nullptr, 0), L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
    return value;
}

std::string Utf8(const std::wstring& text) {
    const int length = static_cast<int>(text.size());
    std::string bytes(WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr);
    return bytes;
}

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

    HANDLE file = CreateFileW(RecordPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);

    const std::wstring event = Variable(L"QUORIN_LAUNCHER_EVENT");
    if (HANDLE started = event.empty() ? nullptr : OpenEventW(EVENT_MODIFY_STATE, FALSE, event.c_str())) {
        SetEvent(started);
        CloseHandle(started);
    }
    return 0;
}
