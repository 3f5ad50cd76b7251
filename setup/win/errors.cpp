#include "win/errors.h"

#include <cwchar>
#include <cwctype>

namespace setup::win {
namespace {

constexpr DWORD kFirstWinHttpError = 12000, kLastWinHttpError = 12999;

// The message of `error` in the system's table or, with `module`, in that DLL's; "" when it has none.
std::wstring Words(DWORD error, HMODULE module) {
    wchar_t* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                        (module ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
    const DWORD length = FormatMessageW(flags, module, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring words(text ? text : L"", length);
    LocalFree(text);
    while (!words.empty() && std::iswspace(words.back())) words.pop_back();  // it ends with CR LF
    return words;
}

}  // namespace

std::wstring ErrorText(DWORD error, const wchar_t* otherwise) {
    wchar_t code[16];
    std::swprintf(code, 16, error & 0x80000000 ? L"0x%08lX" : L"%lu", static_cast<unsigned long>(error));
    // WinHTTP is loaded by the time it has failed; its words are in its own DLL.
    const HMODULE winhttp = error >= kFirstWinHttpError && error <= kLastWinHttpError
                                ? GetModuleHandleW(L"winhttp.dll")
                                : nullptr;
    std::wstring words = winhttp ? Words(error, winhttp) : L"";
    if (words.empty()) words = Words(error, nullptr);
    if (words.empty() && otherwise) words = otherwise;
    return L"error " + std::wstring(code) + (words.empty() ? L"" : L": " + words);
}

std::wstring LastErrorText() { return ErrorText(GetLastError()); }

}  // namespace setup::win
