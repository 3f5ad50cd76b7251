// The outside services' addresses, set when the build is configured: QuorinSetup.exe names the
// real services, the test build a sandbox on 127.0.0.1. Nothing else differs between the two.
// Constants, for any thread.
#pragma once

namespace setup {

extern const wchar_t* const kGitHubApi;  // base of the REST API, no trailing slash
extern const wchar_t* const kNuGetBase;  // base of the NuGet v3 flat container service
extern const wchar_t* const kNuGetSite;  // what the user knows the NuGet gallery by
extern const char* const kRepoUrl;       // the project's git clone address

}  // namespace setup
