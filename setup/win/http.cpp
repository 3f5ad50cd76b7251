#include "http.h"

#include "globals.h"
#include "handle.h"
#include "report.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <fstream>
#include <vector>

namespace setup {
namespace {

struct InternetTraits {  // the three WinHTTP handles of one request: NULL when empty
    using Type = HINTERNET;
    static Type Empty() { return nullptr; }
    static void Close(Type handle) { WinHttpCloseHandle(handle); }
};
using Internet = Owner<InternetTraits>;

// 0 when the server sent none (or nonsense): the length is then unknown.
std::uint64_t ContentLength(HINTERNET request) {
    wchar_t text[32];
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return 0;
    return std::wcstoull(text, nullptr, 10);
}

DWORD StatusCode(HINTERNET request) {
    DWORD status = 0, size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return status;
}

// Progress straight to the window, not through Status: download progress stays out of the log.
void PostDownloadProgress(const wchar_t* label, int percent, std::uint64_t total, std::uint64_t length) {
    PostProgress(percent);
    const std::wstring of = length ? L" of " + std::to_wstring(length >> 20) + L" MB" : L"";
    wchar_t text[256];
    std::swprintf(text, 256, L"Downloading %ls: %.0f MB%ls", label, static_cast<double>(total) / (1 << 20),
                  of.c_str());
    PostText(kStatusMessage, 0, text);
}

}  // namespace

bool Get(const std::wstring& url, std::string* body, const std::filesystem::path* file, const wchar_t* label) {
    wchar_t host[256], path[2048], extra[2048];
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = 2048;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;

    // Declared in this order so that they close in reverse: request, connection, session.
    const Internet session(
        WinHttpOpen(L"Quorin-Setup", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return false;
    WinHttpSetTimeouts(session.get(), 15000, 15000, 30000, 60000);
    const Internet connection(WinHttpConnect(session.get(), host, parts.nPort, 0));
    if (!connection) return false;
    const std::wstring object = std::wstring(path) + extra;
    const Internet request(WinHttpOpenRequest(connection.get(), L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return false;
    if (!WinHttpSendRequest(request.get(), L"User-Agent: Quorin-Setup\r\n", static_cast<DWORD>(-1),
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr))
        return false;

    const DWORD status = StatusCode(request.get());
    const std::uint64_t length = ContentLength(request.get());
    std::ofstream out;
    if (file) out.open(*file, std::ios::binary | std::ios::trunc);
    if (status != 200 || (file && !out)) return false;

    std::vector<char> buffer;
    std::uint64_t total = 0;
    int reported = -2;  // the first chunk always reports
    bool cancelled = false;
    for (DWORD available = 0; WinHttpQueryDataAvailable(request.get(), &available) && available > 0;) {
        if (s_cancel) {
            cancelled = true;
            break;
        }
        if (buffer.size() < available) buffer.resize(std::max<std::size_t>(available, buffer.size() * 2));
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), buffer.data(), available, &read) || read == 0) break;
        if (body) body->append(buffer.data(), read);
        if (file) out.write(buffer.data(), read);
        total += read;

        const int percent = length ? static_cast<int>(total * 100 / length) : -1;
        if (label && percent != reported) {
            PostDownloadProgress(label, percent, total, length);
            reported = percent;
        }
    }
    return !cancelled && (length == 0 || total == length);
}

}  // namespace setup
