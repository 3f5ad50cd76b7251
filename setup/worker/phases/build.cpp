#include "worker/phases/build.h"

#include "base/text.h"
#include "globals.h"
#include "maintenance/layout.h"
#include "report.h"
#include "win/environment.h"
#include "worker/built.h"
#include "worker/programs.h"

namespace setup {

void BuildGame(const Choices& choices, const RunValues& run) {
    Status(L"Building (the first build takes 10-30 minutes)");
    std::wstring command = L"python -u tools\\build.py";
    if (!run.alreadyExtracted) command += L" --iso " + Quote(choices.source);
    // Python writes to a pipe in the ANSI code page, where a Polish folder name or a Japanese user
    // name has no letters: the script would fail the moment it printed one. The output is read as
    // UTF-8 anyway; a choice of the user's own stays.
    if (win::Variable(L"PYTHONIOENCODING").empty() && win::Variable(L"PYTHONUTF8").empty())
        win::SetVariable(L"PYTHONIOENCODING", L"utf-8");
    ForgetBuilt(run.repo);
    if (RunBuildScript(command, run.repo) != 0)
        Fail(L"The build failed. The log above (also in setup.log) says why; Help > Report a bug in the launcher, or a "
             L"GitHub issue with setup.log attached, gets it looked at.");
    // Set before the check, so that it names the launcher even when the build didn't make it.
    s_installed = layout::Launcher(run.repo).wstring();
    // An antivirus that takes a program just built for a false positive is the usual cause.
    if (!layout::Exists(s_installed))
        Fail(L"The build finished but QuorinLauncher.exe isn't there. If an antivirus removed it, restore it from its "
             L"quarantine (Windows Security, Protection history), then choose Update.");
    RecordBuilt(run.repo);
}

}  // namespace setup
