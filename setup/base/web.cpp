#include "base/web.h"

#include <algorithm>
#include <cwctype>

namespace setup {
namespace {

bool SameLetters(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

int StatusOf(std::string_view head) {
    const std::string_view line = head.substr(0, head.find_first_of("\r\n"));
    const std::size_t space = line.find(' ');
    if (!line.starts_with("HTTP/") || space == std::string_view::npos) return 0;
    const std::optional<std::uint64_t> status = ParseCount(line.substr(space + 1, 3));
    return status && *status >= 100 ? static_cast<int>(*status) : 0;
}

std::optional<std::string_view> HeaderValue(std::string_view head, std::string_view name) {
    std::size_t start = head.find('\n');  // past the status line
    while (start != std::string_view::npos) {
        const std::size_t end = head.find('\n', start + 1);
        std::string_view line = head.substr(start + 1, end == std::string_view::npos ? end : end - start - 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.empty()) break;  // the end of the head: a body may follow
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && SameLetters(line.substr(0, colon), name))
            return Trim(line.substr(colon + 1));
        start = end;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> ParseCount(std::string_view text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::uint64_t count = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        count = count * 10 + (c - '0');
    }
    return count;
}

std::optional<std::uint64_t> RangeTotal(std::string_view contentRange, std::uint64_t offset) {
    if (!contentRange.starts_with("bytes ")) return std::nullopt;
    contentRange.remove_prefix(6);
    const std::size_t dash = contentRange.find('-'), slash = contentRange.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return std::nullopt;
    const auto first = ParseCount(contentRange.substr(0, dash));
    const auto last = ParseCount(contentRange.substr(dash + 1, slash - dash - 1));
    const auto total = ParseCount(contentRange.substr(slash + 1));
    if (!first || !last || !total || *first != offset || *first > *last || *last + 1 != *total) return std::nullopt;
    return total;
}

std::optional<std::int64_t> RateLimitedUntil(std::string_view answer, std::int64_t now) {
    const int status = StatusOf(answer);
    const auto remaining = HeaderValue(answer, "x-ratelimit-remaining");
    const auto retryAfter = HeaderValue(answer, "retry-after");
    const std::size_t end = answer.find("\r\n\r\n");
    const std::string_view body = end == std::string_view::npos ? std::string_view() : answer.substr(end + 4);
    if ((status != 403 && status != 429) ||
        (remaining != "0" && !retryAfter && body.find("rate limit") == std::string_view::npos))
        return std::nullopt;
    // GitHub's rule: Retry-After first, then the reset.
    if (const auto seconds = retryAfter ? ParseCount(*retryAfter) : std::nullopt) return now + *seconds;
    const auto reset = HeaderValue(answer, "x-ratelimit-reset");
    if (const auto time = reset ? ParseCount(*reset) : std::nullopt) return *time;
    return 0;
}

std::wstring ProxyFor(std::wstring_view list, std::wstring_view scheme) {
    std::wstring_view any, own;
    for (std::size_t start = 0; start < list.size();) {
        const std::size_t end = std::min(list.find_first_of(L"; ", start), list.size());
        const std::wstring_view piece = list.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = piece.find(L'=');
        if (equals == std::wstring_view::npos) {
            if (any.empty()) any = piece;
        } else if (own.empty() && equals == scheme.size() &&
                   std::equal(scheme.begin(), scheme.end(), piece.begin(),
                              [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); })) {
            own = piece.substr(equals + 1);
        }
    }
    const std::wstring_view proxy = own.empty() ? any : own;
    if (proxy.empty()) return {};
    return (proxy.find(L"://") == std::wstring_view::npos ? L"http://" : L"") + std::wstring(proxy);
}

}  // namespace setup
