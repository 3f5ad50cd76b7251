// Pictures of what the screen shows: for the screenshots of the window and the demo, and for
// telling a box's icon by its look.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace testing_support {

// Pixels as 0x00RRGGBB, the top row first (a BMP file's too).
struct Picture {
    int width = 0, height = 0;
    std::vector<DWORD> pixels;
};

// The screen's pixels in `area`; or, given an icon, the icon drawn over `background` at the
// area's size.
inline Picture Grab(const RECT& area, HICON icon = nullptr, COLORREF background = 0) {
    Picture picture{area.right - area.left, area.bottom - area.top, {}};
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    if (icon) {
        HBRUSH brush = CreateSolidBrush(background);
        const RECT all{0, 0, picture.width, picture.height};
        FillRect(memory, &all, brush);
        DeleteObject(brush);
        DrawIconEx(memory, 0, 0, icon, picture.width, picture.height, 0, nullptr, DI_NORMAL);
    } else {
        BitBlt(memory, 0, 0, picture.width, picture.height, screen, area.left, area.top, SRCCOPY);
    }
    GdiFlush();
    const auto* pixels = static_cast<const DWORD*>(bits);
    if (pixels) picture.pixels.assign(pixels, pixels + picture.width * picture.height);
    for (DWORD& pixel : picture.pixels) pixel &= 0xFFFFFF;  // what the screen leaves in the top byte isn't alpha
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return picture;
}

// How far apart two pictures are: the mean difference of a colour channel, 0 to 255.
inline double Difference(const Picture& a, const Picture& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i)
        for (int shift : {0, 8, 16})
            sum += std::abs(static_cast<int>((a.pixels[i] >> shift) & 0xff) -
                            static_cast<int>((b.pixels[i] >> shift) & 0xff));
    return a.pixels.empty() ? 255 : sum / (3.0 * a.pixels.size());
}

// The screen's pixels in `area`, as a BMP file.
inline void SavePicture(const std::filesystem::path& file, const RECT& area) {
    const Picture picture = Grab(area);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = picture.width;
    info.biHeight = -picture.height;  // top row first
    info.biPlanes = 1;
    info.biBitCount = 32;
    const auto bytes = static_cast<DWORD>(picture.pixels.size() * sizeof(DWORD));
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + bytes;
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(reinterpret_cast<const char*>(picture.pixels.data()), bytes);
}

}  // namespace testing_support
