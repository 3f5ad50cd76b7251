#include "base/text.h"

#include <algorithm>
#include <cwchar>
#include <fstream>
#include <sstream>

namespace setup {

std::wstring Quote(const std::filesystem::path& path) {
    std::wstring text = path.wstring();
    // Backslashes escape a quote that follows them: those before the closing quote are doubled.
    text.append(text.size() - (text.find_last_not_of(L'\\') + 1), L'\\');
    return L"\"" + text + L"\"";
}

bool HasNonAscii(std::wstring_view text) {
    return std::ranges::any_of(text, [](wchar_t c) { return c >= 0x80; });
}

std::wstring FormatSize(std::uintmax_t bytes) {
    wchar_t text[32];
    if (bytes >= (std::uintmax_t{1} << 30))
        std::swprintf(text, 32, L"%.1f GB", static_cast<double>(bytes) / (1 << 30));
    else
        std::swprintf(text, 32, L"%.0f MB", static_cast<double>(bytes) / (1 << 20));
    return text;
}

std::string FileText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace setup
