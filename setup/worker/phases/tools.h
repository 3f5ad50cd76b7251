// The build tools: Git, CMake, Ninja, Clang and Python, each taken from the PATH, from the
// install's tools folder, or downloaded and unpacked there. Worker thread.
#pragma once

#include "worker/services.h"

#include <filesystem>

namespace setup {

// The GitHub repositories that the tools' releases come from; Clang's is a service of its own
// (services.h).
inline constexpr const char* kGitRepository = "git-for-windows/git";
inline constexpr const char* kCMakeRepository = "Kitware/CMake";
inline constexpr const char* kNinjaRepository = "ninja-build/ninja";

struct BuildTool {
    const wchar_t* name;     // in messages, and the name of its folder and archive
    const wchar_t* program;  // what must be runnable by name
    // Where its archive comes from: the first asset of the latest release of this GitHub
    // repository whose file name matches `asset` wholly; without one, Python's package on NuGet.
    const char* const* repository;
    const char* asset;
    bool setupOnly;  // a folder of this name in the tools folder is one that only Setup makes
};

// In the order the phase takes them.
inline constexpr BuildTool kBuildTools[] = {
    {L"Git", L"git.exe", &kGitRepository, "MinGit-[0-9.]+-64-bit\\.zip", false},
    {L"CMake", L"cmake.exe", &kCMakeRepository, "cmake-[0-9.]+-windows-x86_64\\.zip", true},
    {L"Ninja", L"ninja.exe", &kNinjaRepository, "ninja-win\\.zip", false},
    {L"Clang", L"clang++.exe", &kLlvmMingwRepo, "llvm-mingw-[0-9]+-ucrt-x86_64\\.zip", true},
    {L"Python", L"python.exe", nullptr, nullptr, true},
};

// Makes every tool runnable by bare name for the child processes that follow: the folder of
// each one that wasn't already on the PATH goes in front of this process's PATH, so that
// afterwards the tool folders stand in reverse table order (Python's first). Fails with the
// message of the step that went wrong, or "Cancelled.".
void PrepareTools(const std::filesystem::path& dir);

}  // namespace setup
