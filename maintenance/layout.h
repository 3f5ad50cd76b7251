// The install folder's layout: where every phase, the window and the freeing of space find what
// Setup keeps there. Portable: no Windows headers.
#pragma once

#include <filesystem>
#include <string>

namespace kel::layout {

using std::filesystem::path;

inline path LogFile(const path& dir) { return dir / "setup.log"; }
// Held by the run that works on the folder, and deleted by the system once that run is over.
inline path LockFile(const path& dir) { return dir / "setup.lock"; }
inline path ToolsFolder(const path& dir) { return dir / "tools"; }
inline path RepoFolder(const path& dir) { return dir / "quorin-recomp"; }
// The temporary files of a run's programs, for as long as the run lasts.
inline path TempFolder(const path& dir) { return dir / "temp"; }

// In the tools folder, one folder for each downloaded tool, named by its display name. Its archive
// lies beside it while it is fetched, and it is unpacked into a folder beside it too, which takes
// its place once whole.
inline path ToolFolder(const path& tools, const std::wstring& name) { return tools / name; }
inline path ToolArchive(const path& tools, const std::wstring& name) { return ToolFolder(tools, name) += ".zip"; }
inline path ToolUnpacking(const path& tools, const std::wstring& name) {
    return ToolFolder(tools, name) += ".unpacking";
}

// What makes the repository folder a clone, and what marks one that has begun but not finished:
// it lies beside the repository folder from the start of a clone until it succeeded, so that what
// one cut short by Task Manager, a crash or a power cut left is known as such.
inline path RepoMarker(const path& repo) { return repo / ".git"; }
inline path CloneMark(const path& repo) { return path(repo) += ".cloning"; }
// The commit that the last build which succeeded was made from, written once its launcher was
// there; gone while a build runs, so that one that failed or was cancelled leaves none.
inline path BuiltRecord(const path& repo) { return path(repo) += ".built"; }

// What an extracted game and a build leave in the repository folder: made by a build alone, never
// by git.
inline path ExtractedFolder(const path& repo) { return repo / "game" / "extracted"; }
inline path ExtractedMarker(const path& repo) { return ExtractedFolder(repo) / "default.xex"; }
inline path BuildFolder(const path& repo) { return repo / "build"; }
inline path Launcher(const path& repo) { return BuildFolder(repo) / "runtime" / "QuorinLauncher.exe"; }
// The C++ code that the build generates.
inline path GeneratedFolder(const path& repo) { return repo / "generated" / "ppc"; }

// Anything of that name, after following links; an error counts as missing.
inline bool Exists(const path& what) {
    std::error_code error;
    return std::filesystem::exists(what, error);
}

}  // namespace kel::layout

// Setup's code names it as its own.
namespace setup {
namespace layout = kel::layout;
}
