// The build tools: Git, CMake, Ninja, Clang and Python, each taken from the PATH, from the
// install's tools folder, or downloaded and unpacked there. Worker thread.
#pragma once

#include "maintenance/maintenance.h"

#include <algorithm>
#include <filesystem>
#include <string_view>

namespace setup {

struct BuildTool {
    const wchar_t* name;     // in messages, and the name of its folder and archive
    const wchar_t* program;  // what must be runnable by name
    // Where its archive comes from: the first asset of the latest release of this GitHub
    // repository ("owner/name") whose file name matches `asset` wholly; without one, Python's
    // package on NuGet.
    const char* repository;
    const char* asset;
};

// In the order the phase takes them.
inline constexpr BuildTool kBuildTools[] = {
    {L"Git", L"git.exe", "git-for-windows/git", "MinGit-[0-9.]+-64-bit\\.zip"},
    {L"CMake", L"cmake.exe", "Kitware/CMake", "cmake-[0-9.]+-windows-x86_64\\.zip"},
    {L"Ninja", L"ninja.exe", "ninja-build/ninja", "ninja-win\\.zip"},
    {L"Clang", L"clang++.exe", "mstorsjo/llvm-mingw", "llvm-mingw-[0-9]+-ucrt-x86_64\\.zip"},
    {L"Python", L"python.exe", nullptr, nullptr},
};

// Whether a folder of the tool's name in the tools folder is one that only Setup makes, as the
// freeing of space knows them.
constexpr bool SetupOnly(const BuildTool& tool) {
    return std::ranges::any_of(kel::maintenance::kSetupOnlyTools,
                               [&tool](std::wstring_view name) { return name == tool.name; });
}

// Makes every tool runnable by bare name for the child processes that follow: the folder of
// each one that wasn't already on the PATH goes in front of this process's PATH, so that
// afterwards the tool folders stand in reverse table order (Python's first). Fails with the
// message of the step that went wrong, or "Cancelled.".
void PrepareTools(const std::filesystem::path& dir);

}  // namespace setup
