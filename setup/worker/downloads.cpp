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

bool Get(const Download& download) {
    const std::wstring name = download.label ? download.label : download.url;
    const auto log = [&](const std::wstring& line) {
        if (download.why)
            *download.why = line;
        else
            Log(name + L": " + line);
    };
    win::DownloadContext context{log, {}, &s_cancel, download.headers};
    if (const wchar_t* label = download.label)
        context.progress = [label](int percent, std::uint64_t received, std::uint64_t length) {
            ShowDownload(label, percent, received, length);
        };
    if (win::Get(download.url, download.body, download.file, download.sha256, download.head, context)) return true;
    CheckCancel();  // a download that a cancel cut short is no failure of the network's
    return false;
}

}  // namespace setup
