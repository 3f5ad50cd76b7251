#include "base/progress.h"

#include "base/scan.h"

#include <climits>

namespace setup {
namespace {

// Whether a run of digits starting at `start` ended at `at`, right before `mark`.
bool DigitsThen(std::string_view line, std::size_t start, std::size_t at, char mark) {
    return at > start && at < line.size() && line[at] == mark;
}

std::optional<int> Counter(std::string_view line) {
    if (!line.starts_with('[')) return std::nullopt;
    std::size_t at = 1;
    const long long done = ReadNumber(line, at);
    if (!DigitsThen(line, 1, at, '/')) return std::nullopt;
    const std::size_t totalStart = ++at;
    const long long total = ReadNumber(line, at);
    if (!DigitsThen(line, totalStart, at, ']') || done < 0 || total <= 0) return std::nullopt;
    const long long percent = done * 100 / total;  // at most (2^31 - 1) * 100: no overflow in 64 bits
    if (percent > INT_MAX) return std::nullopt;
    return static_cast<int>(percent);
}

std::optional<int> Percentage(std::string_view line) {
    std::size_t at = SkipSpace(line, 0);
    const std::size_t start = at;
    const long long value = ReadNumber(line, at);
    if (!DigitsThen(line, start, at, '%') || value < 0) return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace

std::optional<GitProgress> ParseGitProgress(std::string_view line) {
    const std::size_t colon = line.find(": ");
    // "remote: " comes before the stage's own name when the server tells how far it is.
    const std::size_t named = line.starts_with("remote: ") ? line.find(": ", colon + 2) : colon;
    if (named == 0 || named == std::string_view::npos) return std::nullopt;
    std::size_t at = SkipSpace(line, named + 1);
    const std::size_t start = at;
    const long long percent = ReadNumber(line, at);
    if (!DigitsThen(line, start, at, '%') || percent < 0 || percent > 100 || !line.substr(at).starts_with("% ("))
        return std::nullopt;
    return GitProgress{line.substr(0, named), static_cast<int>(percent)};
}

BuildProgress ParseBuildLine(std::string_view line) {
    if (line.starts_with("==> ")) return {line.substr(4), -1};
    if (const std::optional<int> percent = Counter(line)) return {std::nullopt, percent};
    return {std::nullopt, Percentage(line)};
}

}  // namespace setup
