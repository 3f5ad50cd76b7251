#include "win/convert.h"

#include <windows.h>

#include <climits>

namespace setup::win {
namespace {

// The Win32 conversions count in int; longer input is converted in one go only up to that.
int Length(std::size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

std::wstring Convert(UINT codePage, const std::string& bytes) {
    const int length = MultiByteToWideChar(codePage, 0, bytes.data(), Length(bytes.size()), nullptr, 0);
    std::wstring text(length > 0 ? length : 0, L'\0');
    if (length > 0) MultiByteToWideChar(codePage, 0, bytes.data(), Length(bytes.size()), text.data(), length);
    return text;
}

}  // namespace

std::wstring Widen(const std::string& bytes, bool* utf8) {
    const bool strict = bytes.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                                             Length(bytes.size()), nullptr, 0) > 0;
    if (utf8) *utf8 = strict;
    if (bytes.empty()) return {};
    return Convert(strict ? CP_UTF8 : CP_ACP, bytes);
}

std::string Utf8(const std::wstring& text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), Length(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(length > 0 ? length : 0, '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), Length(text.size()), bytes.data(), length, nullptr, nullptr);
    return bytes;
}

}  // namespace setup::win
