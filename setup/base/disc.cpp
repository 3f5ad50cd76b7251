#include "base/disc.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string_view>
#include <vector>

namespace setup::disc {
namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::string_view kMedia = "MICROSOFT*XBOX*MEDIA";  // at the descriptor's start and at +0x7EC
// A directory entry: u16 left, u16 right (in 4-byte units), u32 sector, u32 size, u8 attributes,
// u8 name length, the name. The offsets reach no further than 64 Ki units, so nothing of a root
// directory past that is ever read, whatever size it claims.
constexpr std::size_t kEntryHead = 14;
constexpr std::size_t kMostDirectory = std::size_t{0x10000} * 4;
constexpr unsigned char kFolder = 0x10;
constexpr std::uint32_t kExecutionId = 0x00040006;
constexpr std::uint32_t kMostHeaders = 4096;  // a program has a few dozen: a hostile count reads no more
constexpr std::size_t kExecutionSize = 24;

std::uint32_t Le16(const Bytes& b, std::size_t at) { return b[at] | b[at + 1] << 8; }
std::uint32_t Le32(const Bytes& b, std::size_t at) { return Le16(b, at) | Le16(b, at + 2) << 16; }
std::uint32_t Be32(const Bytes& b, std::size_t at) {
    return std::uint32_t{b[at]} << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}
std::string_view Text(const Bytes& b, std::size_t at, std::size_t length) {
    return {reinterpret_cast<const char*>(b.data() + at), length};
}

// The bytes at [offset, offset + length) of a copy of `size` bytes; `pastEnd` when they aren't
// all inside it, which the reader is never asked for.
Problem Fetch(const Reader& read, std::uint64_t size, std::uint64_t offset, std::uint64_t length, Bytes& into,
              Problem pastEnd) {
    if (offset > size || length > size - offset) return pastEnd;
    into.resize(static_cast<std::size_t>(length));
    return read(offset, into) ? Problem::kNone : Problem::kUnreadable;
}

// What a file's first bytes say it is, when that isn't a disc image.
Problem Signature(std::string_view head) {
    static constexpr struct {
        std::string_view magic;
        Problem problem;
    } kSignatures[] = {
        {"PK\x03\x04", Problem::kZip},   {"PK\x05\x06", Problem::kZip},   {"7z\xBC\xAF\x27\x1C", Problem::kSevenZip},
        {"Rar!\x1A\x07", Problem::kRar}, {"CON ", Problem::kLivePackage}, {"LIVE", Problem::kLivePackage},
        {"PIRS", Problem::kLivePackage}};
    for (const auto& signature : kSignatures)
        if (head.starts_with(signature.magic)) return signature.problem;
    return Problem::kNone;
}

// The volume descriptor of a partition that begins at `start`, into `sector`: kNoFileSystem when
// none is there.
Problem Descriptor(const Reader& read, std::uint64_t size, std::uint64_t start, Bytes& sector) {
    const Problem problem = Fetch(read, size, start + kDescriptor, kSector, sector, Problem::kNoFileSystem);
    if (problem != Problem::kNone) return problem;
    return Text(sector, 0, kMedia.size()) == kMedia && Text(sector, 0x7EC, kMedia.size()) == kMedia
               ? Problem::kNone
               : Problem::kNoFileSystem;
}

bool SameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return (x >= 'A' && x <= 'Z' ? x - 'A' + 'a' : x) == (y >= 'A' && y <= 'Z' ? y - 'A' + 'a' : y);
    });
}

// Finds default.xex in the root directory and sets where it lies. The directory is a binary tree
// of entries; it is walked whole, each entry once, since a hostile image may link it any way.
Problem FindXex(const Reader& read, std::uint64_t size, std::uint64_t start, std::uint32_t rootSector,
                std::uint32_t rootSize, Copy& copy) {
    const std::uint64_t at = start + rootSector * kSector;
    if (at > size || rootSize > size - at) return Problem::kCutShort;
    Bytes directory;
    const Problem problem =
        Fetch(read, size, at, std::min<std::uint64_t>(rootSize, kMostDirectory), directory, Problem::kCutShort);
    if (problem != Problem::kNone) return problem;
    std::vector<bool> seen(0x10000);
    std::vector<std::uint32_t> next = {0};
    while (!next.empty()) {
        const std::uint32_t unit = next.back();
        next.pop_back();
        if (seen[unit]) continue;
        seen[unit] = true;
        const std::size_t entry = std::size_t{unit} * 4;
        if (entry + kEntryHead > directory.size()) continue;
        // An entry never crosses the end of a sector, whose rest 0xFF bytes pad.
        const std::size_t end = entry + kEntryHead + directory[entry + 13];
        if (end > directory.size() || (end - 1) / kSector != entry / kSector) continue;
        next.push_back(Le16(directory, entry));  // 0 stands for none: the root, seen already
        next.push_back(Le16(directory, entry + 2));
        if (!(directory[entry + 12] & kFolder) &&
            SameName(Text(directory, entry + kEntryHead, end - entry - kEntryHead), "default.xex")) {
            copy.xexOffset = start + Le32(directory, entry + 4) * kSector;
            copy.xexSize = Le32(directory, entry + 8);
            return copy.xexOffset > size || copy.xexSize > size - copy.xexOffset ? Problem::kCutShort : Problem::kNone;
        }
    }
    return Problem::kNoXex;
}

// Reads the execution record of the XEX2 program at [base, base + size) of the copy.
Problem ReadProgram(const Reader& read, std::uint64_t base, std::uint64_t size, Execution& execution) {
    const Reader inside = [&](std::uint64_t offset, std::span<unsigned char> into) {
        return read(base + offset, into);
    };
    Bytes bytes;
    Problem problem = Fetch(inside, size, 0, 0x18, bytes, Problem::kNotXex2);
    if (problem != Problem::kNone) return problem;
    if (Text(bytes, 0, 4) != "XEX2") return Problem::kNotXex2;
    // The optional headers: (id, value) pairs, big-endian.
    const auto count = static_cast<std::uint32_t>(
        std::min<std::uint64_t>({Be32(bytes, 0x14), kMostHeaders, (size - 0x18) / 8}));
    if ((problem = Fetch(inside, size, 0x18, count * 8, bytes, Problem::kNotXex2)) != Problem::kNone) return problem;
    std::uint64_t record = size;  // past the end until its header is found
    for (std::size_t at = 0; at < bytes.size(); at += 8)
        if (Be32(bytes, at) == kExecutionId) {
            record = Be32(bytes, at + 4);
            break;
        }
    if ((problem = Fetch(inside, size, record, kExecutionSize, bytes, Problem::kNotXex2)) != Problem::kNone)
        return problem;
    execution = {Be32(bytes, 0), Be32(bytes, 4), Be32(bytes, 8), Be32(bytes, 12),
                 bytes[16],      bytes[17],      bytes[18],      bytes[19]};
    return Problem::kNone;
}

}  // namespace

Copy ReadImage(std::uint64_t size, const Reader& read) {
    Copy copy;
    Bytes bytes;
    copy.problem = Fetch(read, size, 0, std::min<std::uint64_t>(size, 8), bytes, Problem::kNoFileSystem);
    if (copy.problem == Problem::kNone) copy.problem = Signature(Text(bytes, 0, bytes.size()));
    if (copy.problem != Problem::kNone) return copy;
    static constexpr struct {
        std::uint64_t start;
        Kind kind;
    } kStarts[] = {{kRebuiltStart, Kind::kRebuilt}, {kXgd2Start, Kind::kXgd2}, {kXgd3Start, Kind::kXgd3}};
    for (const auto& [start, kind] : kStarts) {
        copy.problem = Descriptor(read, size, start, bytes);
        if (copy.problem == Problem::kNoFileSystem) continue;
        if (copy.problem != Problem::kNone) return copy;
        copy.kind = kind;
        copy.problem = FindXex(read, size, start, Le32(bytes, 0x14), Le32(bytes, 0x18), copy);
        if (copy.problem == Problem::kNone)
            copy.problem = ReadProgram(read, copy.xexOffset, copy.xexSize, copy.execution);
        return copy;
    }
    copy.problem = Descriptor(read, size, kFirstXboxStart, bytes);
    if (copy.problem == Problem::kNone) copy.problem = Problem::kFirstXbox;
    return copy;
}

Copy ReadExtracted(std::uint64_t size, const Reader& read) {
    Copy copy{.kind = Kind::kExtracted, .xexSize = size};
    copy.problem = ReadProgram(read, 0, size, copy.execution);
    return copy;
}

std::wstring Described(const Copy& copy) {
    static const wchar_t* const kKinds[] = {L"Xbox 360 disc image (rebuilt)", L"Xbox 360 disc image (XGD2)",
                                            L"Xbox 360 disc image (XGD3)", L"extracted Xbox 360 disc"};
    const Execution& e = copy.execution;
    wchar_t text[160];
    std::swprintf(text, std::size(text),
                  L"%ls; default.xex: title ID %08X, media ID %08X, version %u.%u.%u.%u, disc %u of %u",
                  kKinds[static_cast<int>(copy.kind)], e.titleId, e.mediaId, e.version >> 28, e.version >> 24 & 0xF,
                  e.version >> 8 & 0xFFFF, e.version & 0xFF, unsigned{e.disc}, unsigned{e.discs});
    return text;
}

}  // namespace setup::disc
