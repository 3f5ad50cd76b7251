// Git reaching the network as the downloads do: WinHTTP follows the proxy that Windows is set to
// use and trusts Windows' certificate store (where an antivirus that scans HTTPS puts its own
// root), while git, left alone, does neither. Worker thread.
#pragma once

#include <filesystem>

namespace setup {

// Sets in this process's environment, which every git that Run starts inherits:
//   - the proxy that Windows is set to use, as HTTPS_PROXY and HTTP_PROXY, unless the
//     environment names a proxy already;
//   - http.sslBackend=schannel, for `setupGit` (the Git that Setup downloaded) only: a git of the
//     user's own keeps the backend it is configured with;
//   - core.longpaths=true;
//   - safe.directory=`repo`: git refuses a repository whose folder belongs to another account (made
//     by an earlier run as administrator) or to none (on exFAT, FAT32 or a network drive), and
//     honours this key only from the command line, which the environment counts as.
// The settings go through GIT_CONFIG_COUNT, GIT_CONFIG_KEY_n and GIT_CONFIG_VALUE_n, after any
// that the environment came with, so that logged command lines and the user's git configuration
// files stay as they are. Each call replaces what the one before set.
void SetGitNetwork(bool setupGit, const std::filesystem::path& repo);

}  // namespace setup
