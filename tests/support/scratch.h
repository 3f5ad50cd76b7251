// A scratch folder for one test, removed with everything in it when the test ends.
#pragma once

#ifdef _WIN32
#include "win/files.h"
#endif

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace testing_support {

// Lifts the read-only mark from everything under `root`: git makes its object files read-only,
// and Windows deletes no read-only file.
inline void MakeWritable(const std::filesystem::path& root) {
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(root, error), end; it != end; it.increment(error))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, error);
}

class Scratch {
public:
    Scratch() {
        static std::atomic<int> count{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root_ = std::filesystem::temp_directory_path() /
                ("quorin-test-" + std::to_string(stamp) + "-" + std::to_string(count++));
        std::filesystem::create_directories(root_);
    }
    // MinGW's remove_all goes through a folder link and empties what it leads to: a test that links
    // out of its folder would delete the link's target. Linux's leaves it alone.
    ~Scratch() {
#ifdef _WIN32
        // Without waiting: what Wine can't delete (a link and the folders that hold it) stays.
        static const std::atomic<bool> kHurry{true};
        setup::win::Patience hurry(&kHurry);
        setup::win::RemoveTree(root_, hurry);
#else
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
#endif
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::filesystem::path& root() const { return root_; }

    // Writes a file of `size` bytes at `relative`, making its folders; returns its full path.
    std::filesystem::path File(const std::filesystem::path& relative, std::uintmax_t size = 0) const {
        const std::filesystem::path path = root_ / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary);
        out << std::string(static_cast<std::size_t>(size), 'x');
        return path;
    }

    std::filesystem::path Folder(const std::filesystem::path& relative) const {
        const std::filesystem::path path = root_ / relative;
        std::filesystem::create_directories(path);
        return path;
    }

private:
    std::filesystem::path root_;
};

}  // namespace testing_support
