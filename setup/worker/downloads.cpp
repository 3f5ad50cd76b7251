#include "worker/downloads.h"

#include "globals.h"
#include "report.h"
#include "win/http.h"

#include <cstdint>
#include <cwchar>

namespace setup {
namespace {

void ShowDownload(const wchar_t* label, int percent, std::uint64_t received, std::uint64_t length) {
    PostProgress(percent);
    const std::wstring of = length ? L" of " + std::to_wstring(length >> 20) + L" MB" : L"";
    wchar_t text[256];
    std::swprintf(text, 256, L"Downloading %ls: %.0f MB%ls", label, static_cast<double>(received) / (1 << 20),
                  of.c_str());
    PostStatus(text);
}

}  // namespace

bool Get(const std::wstring& url, std::string* body, const std::filesystem::path* file, const wchar_t* label,
         const std::string& sha256, std::string* head) {
    const std::wstring name = label ? label : url;
    win::DownloadContext context{[&name](const std::wstring& line) { Log(name + L": " + line); }, {}, &s_cancel};
    if (label)
        context.progress = [label](int percent, std::uint64_t received, std::uint64_t length) {
            ShowDownload(label, percent, received, length);
        };
    if (win::Get(url, body, file, sha256, head, context)) return true;
    CheckCancel();  // a download that a cancel cut short is no failure of the network's
    return false;
}

}  // namespace setup
