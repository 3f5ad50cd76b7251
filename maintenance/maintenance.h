// Finds and measures what may be deleted from an install after a build: the build tools that
// setup downloaded, and the build's intermediate files. It deletes nothing itself, and never
// throws on a file-system error: what can't be read counts as absent.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kel::maintenance {

// One reclaimable item: what the user is told, what to delete (each entry recursively, in this
// order) and the bytes those paths held when the item was made.
struct Part {
    std::wstring label;
    std::vector<std::filesystem::path> paths;
    std::uintmax_t size = 0;
};

// The tool folders that only setup makes ("Git" or "Ninja" may hold a player's own), in the order
// Tools looks for them, and the label that names every tool. Setup's table of tools is checked
// against them when it is compiled.
inline constexpr const wchar_t* kSetupOnlyTools[] = {L"Clang", L"CMake", L"Python"};
inline constexpr const wchar_t* kToolsLabel = L"Build tools Setup downloaded (Git, CMake, Ninja, Clang, Python)";

// The tools folder beside `root` (the repository folder), as one item, when it holds a tool
// folder that only setup makes (kSetupOnlyTools).
Part Tools(const std::filesystem::path& root);

// The extensions of a build's leftovers: object files, libraries, precompiled headers and linker
// maps (lower case, with the dot).
inline constexpr const wchar_t* kLeftoverExtensions[] = {L".obj", L".o", L".a", L".lib", L".pch", L".map", L".gch"};

// The files under `root`/build with one of kLeftoverExtensions, in any case, then the
// generated-code folder `root`/generated/ppc.
Part Leftovers(const std::filesystem::path& root);

// Whether the extension of `file`, lower-cased, is exactly `suffix` (lower case, with the dot).
bool Lower(const std::filesystem::path& file, const wchar_t* suffix);

// Bytes of a file, or of every regular file below a folder; 0 for what doesn't exist and for a
// linked folder.
std::uintmax_t SizeOf(const std::filesystem::path& target);

}  // namespace kel::maintenance
