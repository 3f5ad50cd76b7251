// The source step of a run: the project's repository is cloned, or an existing clone is brought
// up to date, without ever touching the user's own edits; and the git commands it runs. Worker
// thread.
#pragma once

#include <filesystem>
#include <string>

namespace setup {

// The release a detached clone moves to: the project's latest release tag when GitHub names one
// that is a plain ref name (anything else could smuggle options onto git's command line), else
// "v" + this Setup's own major.minor.patch.
std::wstring TagToBuild();

// Clones the project into `repo` (dir\quorin-recomp), or updates the clone there: a clone with
// changes of its own stays as it is, one on a branch pulls that branch, a detached one moves to
// TagToBuild() (or to main when that tag is missing). Every git command runs in `dir`, and a
// failed update only leaves a line in the log. Fails when `repo` holds something that isn't a
// clone, and when the clone fails.
void GetSource(const std::filesystem::path& dir, const std::filesystem::path& repo);

// Runs "git -C <repo> <arguments>" in the install folder `dir`; true on exit code 0.
bool Git(const std::filesystem::path& dir, const std::filesystem::path& repo, const std::wstring& arguments);

// Runs "git -C <repo> <arguments>" in the repository and keeps its first non-empty output line
// in `output` (possibly an error text, since standard error is merged). True when git exited
// with 0.
bool GitOutput(const std::filesystem::path& repo, const std::wstring& arguments, std::string& output);

}  // namespace setup
