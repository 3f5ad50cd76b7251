// Reading the game copy: a sparse 8 GB disc image laid out as a full XGD2 dump, default.xex near
// its end, read as a first install reads it (the descriptor, the root directory and default.xex's
// head, then default.xex whole, as its SHA-256 takes it), against reading default.xex alone from
// a file of its own, timed side by side in one run over the same warm bytes.
//
//   disc_bench [MB of default.xex]   (default 16)
#include "base/disc.h"
#include "median.h"
#include "support/disc_image.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// Reads [offset, offset + length) of the file in pieces of 1 MiB, as the hash does.
bool ReadRange(int file, std::uint64_t offset, std::uint64_t length) {
    static std::vector<unsigned char> buffer(1 << 20);
    for (std::uint64_t done = 0; done < length;) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - done));
        if (pread(file, buffer.data(), piece, static_cast<off_t>(offset + done)) != static_cast<ssize_t>(piece))
            return false;
        done += piece;
    }
    return true;
}

template <typename Work>
double Seconds(Work work) {
    const auto start = std::chrono::steady_clock::now();
    if (!work()) {
        std::fprintf(stderr, "disc_bench: a read failed\n");
        std::exit(1);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 16;
    const fs::path root = fs::temp_directory_path() / ("disc-bench-" + std::to_string(getpid()));
    fs::create_directories(root);
    const std::string xex = Xex({.titleId = 0x515207D7, .disc = 1, .discs = 1}, megabytes << 20);
    const std::uint64_t size = std::uint64_t{8} << 30;
    const auto sector =
        static_cast<std::uint32_t>((size - setup::disc::kXgd2Start - xex.size()) / setup::disc::kSector);
    WriteImage(root / "game.iso", Image({.start = setup::disc::kXgd2Start, .xex = xex, .xexSector = sector}));
    WriteImage(root / "default.xex", {{0, xex}});
    const int image = open((root / "game.iso").c_str(), O_RDONLY);
    const int alone = open((root / "default.xex").c_str(), O_RDONLY);

    std::uint64_t asked = 0;  // of the image, besides default.xex whole
    const setup::disc::Reader read = [&](std::uint64_t offset, std::span<unsigned char> into) {
        asked += into.size();
        return pread(image, into.data(), into.size(), static_cast<off_t>(offset)) == static_cast<ssize_t>(into.size());
    };
    const auto copy = [&] {
        const setup::disc::Copy found = setup::disc::ReadImage(fs::file_size(root / "game.iso"), read);
        return found.problem == setup::disc::Problem::kNone && ReadRange(image, found.xexOffset, found.xexSize);
    };
    std::vector<double> ours, reference;
    for (int round = 0; round < 31; ++round) {
        asked = 0;
        ours.push_back(Seconds(copy));
        reference.push_back(Seconds([&] { return ReadRange(alone, 0, xex.size()); }));
    }
    close(image);
    close(alone);
    const std::uintmax_t imageSize = fs::file_size(root / "game.iso");
    fs::remove_all(root);

    std::printf("disc_bench: a sparse %.1f GB XGD2 image, default.xex of %zu MB: reading the copy/reading default.xex "
                "alone %.2f (%ju bytes of the image besides default.xex; target <= 1.1)\n",
                static_cast<double>(imageSize) / (1 << 30), megabytes, Median(ours) / Median(reference), asked);
}
