#include "progress.h"

#include <limits>

namespace setup {
namespace {

constexpr long long kLargest = std::numeric_limits<int>::max();

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What \s matches in std::regex over bytes in the "C" locale.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads the run of digits that starts at `at` and moves `at` past it. Gives its value, or -1
// when that is too large for an int (the digits are still read to their end).
long long Digits(std::string_view line, std::size_t& at) {
    long long value = 0;
    for (; at < line.size() && IsDigit(line[at]); ++at) {
        if (value < 0) continue;
        value = value * 10 + (line[at] - '0');
        if (value > kLargest) value = -1;
    }
    return value;
}

// Whether a run of digits starting at `start` ended at `at`, right before `mark`.
bool DigitsThen(std::string_view line, std::size_t start, std::size_t at, char mark) {
    return at > start && at < line.size() && line[at] == mark;
}

std::optional<int> Counter(std::string_view line) {
    if (!line.starts_with('[')) return std::nullopt;
    std::size_t at = 1;
    const long long done = Digits(line, at);
    if (!DigitsThen(line, 1, at, '/')) return std::nullopt;
    const std::size_t totalStart = ++at;
    const long long total = Digits(line, at);
    if (!DigitsThen(line, totalStart, at, ']') || done < 0 || total <= 0) return std::nullopt;
    const long long percent = done * 100 / total;  // at most (2^31 - 1) * 100: no overflow in 64 bits
    if (percent > kLargest) return std::nullopt;
    return static_cast<int>(percent);
}

std::optional<int> Percentage(std::string_view line) {
    std::size_t at = 0;
    while (at < line.size() && IsSpace(line[at])) ++at;
    const std::size_t start = at;
    const long long value = Digits(line, at);
    if (!DigitsThen(line, start, at, '%') || value < 0) return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace

BuildProgress ParseBuildLine(std::string_view line) {
    if (line.starts_with("==> ")) return {line.substr(4), -1};
    if (const std::optional<int> percent = Counter(line)) return {std::nullopt, percent};
    return {std::nullopt, Percentage(line)};
}

}  // namespace setup
