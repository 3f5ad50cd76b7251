#include "base/placement.h"

#include <algorithm>

namespace setup {

Point Home(const Area& work, int width, int height) {
    return {work.left + std::max(0, (work.right - work.left - width) / 2),
            work.top + std::max(0, (work.bottom - work.top - height) / 3)};
}

Placement Place(const Area& work, const WindowSizes& sizes, bool details, Point rest) {
    if (!details) return {rest, sizes.details};
    const int tooTall = sizes.heightWithDetails - (work.bottom - work.top);
    const int cut = std::min(std::max(tooTall, 0), sizes.details - sizes.fewestDetails);
    const int height = sizes.heightWithDetails - cut;
    // A window already above the area's top stays where it is: the details never move it down.
    const int up = std::max(0, std::min(rest.y + height - work.bottom, rest.y - work.top));
    return {{rest.x, rest.y - up}, sizes.details - cut};
}

}  // namespace setup
