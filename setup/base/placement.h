// Where the setup window goes on its monitor, and how tall its details box may be there.
// Portable: no Windows headers. Every number is in device pixels, in screen coordinates.
#pragma once

namespace setup {

// The work area of a monitor: its screen less the taskbar.
struct Area {
    int left, top, right, bottom;
};

struct Point {
    int x, y;
};

// The window's outer size, and its details box's height.
struct WindowSizes {
    int width;
    int height;             // the details hidden
    int heightWithDetails;  // the details shown, the box at its full height
    int details;            // the box's full height
    int fewestDetails;      // the least it may have: a few lines
};

struct Placement {
    Point at;     // the window's top-left corner
    int details;  // the details box's height
};

// Centred across the work area and a third of the way down, never above or left of it.
Point Home(const Area& work, int width, int height);

// Where the window goes that sits at `rest` while the details are hidden. With them shown it moves
// up as far as it must to end within the work area, never above the area's top; on a work area
// too short for it, the details box gets shorter, down to its fewest lines, and the window with it.
Placement Place(const Area& work, const WindowSizes& sizes, bool details, Point rest);

}  // namespace setup
