// The install folder's layout: where every phase, the window and the freeing of space find what
// Setup keeps there. Portable: no Windows headers.
#pragma once

#include <filesystem>

namespace setup::layout {

using std::filesystem::path;

inline path LogFile(const path& dir) { return dir / "setup.log"; }
// Held by the run that works on the folder, and deleted by the system once that run is over.
inline path LockFile(const path& dir) { return dir / "setup.lock"; }
// One folder for each downloaded tool, named by its display name, with its archive beside it
// while it is fetched and unpacked.
inline path ToolsFolder(const path& dir) { return dir / "tools"; }
inline path RepoFolder(const path& dir) { return dir / "quorin-recomp"; }

// What makes the repository folder a clone, and what marks one that has begun but not finished:
// it lies beside the repository folder from the start of a clone until it succeeded, so that what
// one cut short by Task Manager, a crash or a power cut left is known as such.
inline path RepoMarker(const path& repo) { return repo / ".git"; }
inline path CloneMark(const path& repo) { return path(repo) += ".cloning"; }

// What an extracted game and a build leave in the repository folder: made by a build alone, never
// by git.
inline path ExtractedFolder(const path& repo) { return repo / "game" / "extracted"; }
inline path ExtractedMarker(const path& repo) { return ExtractedFolder(repo) / "default.xex"; }
inline path BuildFolder(const path& repo) { return repo / "build"; }
inline path Launcher(const path& repo) { return BuildFolder(repo) / "runtime" / "QuorinLauncher.exe"; }

// Anything of that name, after following links; an error counts as missing.
inline bool Exists(const path& what) {
    std::error_code error;
    return std::filesystem::exists(what, error);
}

}  // namespace setup::layout
