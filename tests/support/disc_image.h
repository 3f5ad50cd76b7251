// Xbox 360 disc images for the reader's tests and benchmark, written sparsely as pieces at their
// offsets (an 8 GB image costs a few kB): a volume descriptor, a root directory of given entries,
// an XEX2 default.xex; and a reader over a file.
#pragma once

#include "base/disc.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

constexpr std::uint32_t kRootSector = 40, kXexSector = 48;

inline std::string LittleEndian(std::uint64_t value, int bytes) {
    std::string text;
    for (int i = 0; i < bytes; ++i) text += static_cast<char>(value >> 8 * i & 0xFF);
    return text;
}
inline std::string BigEndian(std::uint32_t value) {
    std::string text = LittleEndian(value, 4);
    return {text.rbegin(), text.rend()};
}

// An XEX2 program of `size` bytes whose execution record says `execution`, among `headers`
// optional headers (the count it gives; the table holds two).
inline std::string Xex(const setup::disc::Execution& e, std::size_t size = 4096, std::uint32_t headers = 2) {
    std::string xex = "XEX2" + std::string(16, '\0') + BigEndian(headers) + BigEndian(0x00010001) + BigEndian(0) +
                      BigEndian(0x00040006) + BigEndian(0x100);
    xex.resize(0x100, '\0');
    xex += BigEndian(e.mediaId) + BigEndian(e.version) + BigEndian(e.baseVersion) + BigEndian(e.titleId);
    for (const std::uint8_t byte : {e.platform, e.executableType, e.disc, e.discs}) xex += static_cast<char>(byte);
    xex.resize(size, 'x');
    return xex;
}

struct Entry {
    std::string name;
    std::uint32_t sector = 0;
    std::uint32_t size = 0;
    unsigned char attributes = 0;       // 0x10 for a folder
    std::uint16_t left = 0, right = 0;  // in 4-byte units from the directory's start; 0 for none
};

// A directory of entries at their byte offsets, in whole sectors of 0xFF.
inline std::string Directory(const std::vector<std::pair<std::size_t, Entry>>& entries) {
    std::string directory;
    for (const auto& [at, e] : entries) {
        const std::string bytes = LittleEndian(e.left, 2) + LittleEndian(e.right, 2) + LittleEndian(e.sector, 4) +
                                  LittleEndian(e.size, 4) + static_cast<char>(e.attributes) +
                                  static_cast<char>(e.name.size()) + e.name;
        directory.resize(std::max(directory.size(), (at + bytes.size() + 2047) / 2048 * 2048), '\xFF');
        directory.replace(at, bytes.size(), bytes);
    }
    return directory;
}

using Pieces = std::vector<std::pair<std::uint64_t, std::string>>;  // bytes at their offsets

// A partition at `start`, by default a good one, of a game whose default.xex says `execution`.
struct Partition {
    std::uint64_t start = 0;
    setup::disc::Execution execution{};
    std::string name = "default.xex";
    unsigned char attributes = 0;
    std::string xex{};  // "": Xex(execution)
    std::uint32_t xexSector = kXexSector;
    std::uint32_t xexSize = 0;   // 0: the size of xex
    std::string root{};          // "": a folder, default.xex as named here, a file
    std::uint32_t rootSize = 0;  // as its descriptor says; 0: the root's own
    std::uint64_t end = 0;       // where the image ends, when further than default.xex
};

inline Pieces Image(const Partition& p) {
    const std::string xex = p.xex.empty() ? Xex(p.execution) : p.xex;
    const auto xexSize = p.xexSize ? p.xexSize : static_cast<std::uint32_t>(xex.size());
    const std::size_t last = 20 + (14 + p.name.size() + 3) / 4 * 4;  // each entry the right of the one before
    const auto right = static_cast<std::uint16_t>(last / 4);
    const std::string root = !p.root.empty() ? p.root
                                             : Directory({{0, {"media", 60, 2048, 0x10, 0, 5}},
                                                          {20, {p.name, p.xexSector, xexSize, p.attributes, 0, right}},
                                                          {last, {"nxeart", 61, 100}}});
    std::string descriptor(2048, '\0');
    for (const std::size_t at : {0, 0x7EC}) descriptor.replace(at, 20, "MICROSOFT*XBOX*MEDIA");
    descriptor.replace(0x14, 8, LittleEndian(kRootSector, 4) + LittleEndian(p.rootSize ? p.rootSize : root.size(), 4));
    Pieces pieces = {{p.start + setup::disc::kDescriptor, descriptor},
                     {p.start + kRootSector * setup::disc::kSector, root},
                     {p.start + p.xexSector * setup::disc::kSector, xex}};
    if (p.end) pieces.push_back({p.end - 1, std::string(1, '\0')});
    return pieces;
}

// Writes the pieces into `file`, made anew; what lies between them stays a hole.
inline void WriteImage(const std::filesystem::path& file, const Pieces& pieces) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (const auto& [offset, bytes] : pieces) {
        out.seekp(static_cast<std::streamoff>(offset));
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
}

// Reads a file as the program reads a copy, adding up the bytes asked for.
inline setup::disc::Reader FileReader(std::ifstream& in, std::uint64_t* asked = nullptr) {
    return [&in, asked](std::uint64_t offset, std::span<unsigned char> into) {
        if (asked) *asked += into.size();
        in.clear();
        in.seekg(static_cast<std::streamoff>(offset));
        return static_cast<bool>(
            in.read(reinterpret_cast<char*>(into.data()), static_cast<std::streamsize>(into.size())));
    };
}

}  // namespace testing_support
