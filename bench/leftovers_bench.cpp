// Walking a large build tree: Leftovers and SizeOf against find(1) doing the same work, timed
// side by side in one run over the same warm tree.
//
//   leftovers_bench [files]     (default 200000 files, a tenth of them build leftovers)
#include "maintenance/maintenance.h"
#include "median.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using kel::maintenance::kLeftoverExtensions;

// Sparse files: the walk reads sizes, never contents, so no data needs to be written.
void MakeTree(const fs::path& build, int files) {
    const wchar_t* others[] = {L".cpp", L".h", L".txt", L".ninja", L".exe", L".json", L".d", L".log", L".bin"};
    for (int i = 0; i < files; ++i) {
        char folder[64];
        std::snprintf(folder, sizeof folder, "m%d/s%d/d%d", i % 40, i / 40 % 50, i / 2000 % 10);
        fs::path file = "f";
        file += std::to_string(i);
        file += i % 10 == 0 ? kLeftoverExtensions[i / 10 % std::size(kLeftoverExtensions)] : others[i % 9];
        if (i < 20000) fs::create_directories(build / folder);
        const int fd = open((build / folder / file).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd < 0 || ftruncate(fd, 1 + (i * 7919) % 100000) != 0) std::exit(1);
        close(fd);
    }
}

std::uintmax_t FindSum(const std::string& arguments) {
    std::uintmax_t total = 0;
    FILE* find = popen(("find " + arguments + " -printf '%s\\n'").c_str(), "r");
    char line[64];
    while (find && std::fgets(line, sizeof line, find)) total += std::strtoull(line, nullptr, 10);
    if (find) pclose(find);
    return total;
}

template <typename Work>
double Seconds(Work work, std::uintmax_t& result) {
    const auto start = std::chrono::steady_clock::now();
    result = work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Median time of `rounds` alternating runs of each side; both must give the same total.
double Ratio(auto ours, auto reference, const char* what) {
    std::vector<double> a, b;
    std::uintmax_t x = 0, y = 0;
    for (int round = 0; round < 7; ++round) {
        a.push_back(Seconds(ours, x));
        b.push_back(Seconds(reference, y));
    }
    if (x != y) {
        std::fprintf(stderr, "%s: %ju bytes, find says %ju\n", what, x, y);
        std::exit(1);
    }
    return Median(a) / Median(b);
}

}  // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 200000;
    const fs::path root = fs::temp_directory_path() / ("leftovers-bench-" + std::to_string(getpid()));
    const fs::path build = root / "build";
    MakeTree(build, files);

    const std::string quoted = "'" + build.string() + "'";
    std::string names;  // find's test for a leftover's name
    for (const wchar_t* extension : kLeftoverExtensions)
        names += (names.empty() ? "-iname '*" : " -o -iname '*") + fs::path(extension).string() + "'";
    const double leftovers = Ratio([&] { return kel::maintenance::Leftovers(root).size; },
                                   [&] { return FindSum(quoted + " -type f \\( " + names + " \\)"); }, "Leftovers");
    const double sizeOf = Ratio([&] { return kel::maintenance::SizeOf(build); },
                                [&] { return FindSum(quoted + " -type f"); }, "SizeOf");
    fs::remove_all(root);

    std::printf("leftovers_bench: %d files: Leftovers/find %.2f, SizeOf/find %.2f (target <= 1.3)\n", files,
                leftovers, sizeOf);
}
