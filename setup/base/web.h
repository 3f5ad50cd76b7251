// Reading what web servers and Windows' web settings say: the head of an HTTP answer (its
// status, a header, a byte range, GitHub's rate limit) and a proxy list. Portable: no Windows
// headers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace setup {

// The status of an answer's head ("HTTP/1.1 206 Partial Content" gives 206); 0 when the first
// line holds none.
int StatusOf(std::string_view head);

// The value of the first header line called `name` (in any letter case), without the white space
// around it; nullopt when the head has none. An empty line ends the head.
std::optional<std::string_view> HeaderValue(std::string_view head, std::string_view name);

// A count as headers carry it: up to 18 decimal digits and nothing else (so that it fits an
// int64 with room to add a time to it); nullopt for anything else.
std::optional<std::uint64_t> ParseCount(std::string_view text);

// The whole size from a Content-Range ("bytes 100-999/1000") that carries the rest of a body
// from `offset` on, to its last byte; nullopt when it says anything else.
std::optional<std::uint64_t> RangeTotal(std::string_view contentRange, std::uint64_t offset);

// When GitHub refused a request for its rate limit (a 403 or 429 with "x-ratelimit-remaining:
// 0", with a Retry-After, or with a body that speaks of a "rate limit", as the secondary limits
// answer): the time after which to try again, in seconds since 1970 (from Retry-After's
// seconds, else x-ratelimit-reset), 0 when it names none; nullopt when the answer isn't that.
// `answer` is the head, then the body after the empty line that ends it.
std::optional<std::int64_t> RateLimitedUntil(std::string_view answer, std::int64_t now);

// The proxy that a Windows proxy list ("host:port", or "http=host:port;https=host:port", in
// pieces separated by ";" or spaces) names for `scheme`, as a URL ("http://host:port"); a piece
// for the scheme wins over one for every scheme. "" when it names none.
std::wstring ProxyFor(std::wstring_view list, std::wstring_view scheme);

}  // namespace setup
