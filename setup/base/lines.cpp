#include "base/lines.h"

namespace setup {

void SplitLines(std::string& pending, std::string_view chunk, const LineCallback& line) {
    std::size_t end = chunk.find_first_of("\r\n");
    if (end == std::string_view::npos) {
        pending.append(chunk);
        return;
    }
    // The first line finishes what earlier chunks began; the rest lie whole in this chunk.
    pending.append(chunk.substr(0, end));
    std::string text = std::move(pending);
    pending.clear();
    for (;;) {
        if (!text.empty()) line(text);
        const std::size_t start = end + 1;
        end = chunk.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            pending.assign(chunk.substr(start));
            return;
        }
        text.assign(chunk.substr(start, end - start));
    }
}

bool IsProgressLine(std::string_view line) {
    return line.starts_with("  ") && line.find('%') != std::string_view::npos;
}

}  // namespace setup
