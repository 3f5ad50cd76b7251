// A DLL that stands for one planted beside a downloaded program. The tests copy it under the
// names of system DLLs (winhttp.dll, version.dll...); when a process loads it, it leaves a mark
// beside itself, "<its own file name>.loaded", holding the path of that process's program in
// UTF-8. It exports nothing and does nothing else, so a program that loads it goes on as before.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t mark[1024], program[1024];
    const DWORD length = GetModuleFileNameW(module, mark, 1000);
    if (length == 0 || length >= 1000) return TRUE;
    lstrcpyW(mark + length, L".loaded");
    const DWORD programLength = GetModuleFileNameW(nullptr, program, 1024);
    char bytes[3 * 1024];
    const int size = WideCharToMultiByte(CP_UTF8, 0, program, static_cast<int>(programLength), bytes, sizeof bytes,
                                         nullptr, nullptr);
    const HANDLE file = CreateFileW(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return TRUE;
    DWORD written = 0;
    WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(file);
    return TRUE;
}
