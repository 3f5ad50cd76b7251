// The player's game copy, read before anything is downloaded: an Xbox 360 disc image (its XDVDFS
// file system, wherever a dump places it) or the default.xex of an extracted disc, so that an
// archive, a package or a download cut short is caught at once instead of failing the build half
// an hour later. Only the few sectors that lead to default.xex are read, through a reader of the
// caller's. Portable: no Windows headers.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace setup::disc {

// Fills `into` with the bytes at `offset` of the copy; false when it can't give them all. Only
// asked for bytes inside the size it was given with.
using Reader = std::function<bool(std::uint64_t offset, std::span<unsigned char> into)>;

constexpr std::uint64_t kSector = 2048;

// Where a dump's game partition begins: a rebuilt image, full dumps of the two kinds of Xbox 360
// disc, and the first Xbox's. Its volume descriptor lies kDescriptor further on.
constexpr std::uint64_t kRebuiltStart = 0, kXgd2Start = 0x0FD90000, kXgd3Start = 0x02080000;
constexpr std::uint64_t kFirstXboxStart = 0x18300000;
constexpr std::uint64_t kDescriptor = 0x10000;

enum class Kind { kRebuilt, kXgd2, kXgd3, kExtracted };

// What makes a copy look like something else than a dump of an Xbox 360 disc, or kNone.
enum class Problem {
    kNone,
    kZip,
    kSevenZip,
    kRar,
    kLivePackage,   // "CON ", "LIVE" or "PIRS": a download or a save, not a disc
    kFirstXbox,     // a descriptor where the first Xbox's discs have it
    kNoFileSystem,  // no descriptor at any start
    kCutShort,      // the root directory or default.xex reaches past the end
    kNoXex,         // no default.xex in the root directory or the folder
    kNotXex2,       // a default.xex that isn't an Xbox 360 program
    kUnreadable,    // the reader failed within the copy: not the copy's fault
};

// What default.xex's execution record says of the game.
struct Execution {
    std::uint32_t mediaId = 0;
    std::uint32_t version = 0;  // major 4 bits, minor 4, build 16, qfe 8
    std::uint32_t baseVersion = 0;
    std::uint32_t titleId = 0;
    std::uint8_t platform = 0;
    std::uint8_t executableType = 0;
    std::uint8_t disc = 0;
    std::uint8_t discs = 0;
    friend bool operator==(const Execution&, const Execution&) = default;
};

struct Copy {
    Problem problem = Problem::kNone;
    Kind kind = Kind::kRebuilt;
    std::uint64_t xexOffset = 0;  // default.xex's bytes in the copy, for its SHA-256
    std::uint64_t xexSize = 0;
    Execution execution{};
};

// A disc image of `size` bytes.
Copy ReadImage(std::uint64_t size, const Reader& read);

// An extracted disc's default.xex of `size` bytes.
Copy ReadExtracted(std::uint64_t size, const Reader& read);

// "Xbox 360 disc image (XGD2); default.xex: title ID 515207D7, media ID 1A2B3C4D, version 1.0.2.0,
// disc 1 of 1", for a copy without a problem.
std::wstring Described(const Copy& copy);

}  // namespace setup::disc
