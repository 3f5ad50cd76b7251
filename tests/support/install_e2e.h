// Whole installs end to end, as tables of scenarios. A scenario is an install folder of its own
// that one run of the test build, or several one after the other (rounds), go through. A round
// says how the folder is prepared, how each build tool is taken, what the user chooses and does,
// and what setup.log must tell after the tools, ending with the final message; the runner checks
// that, and what every run must show besides: the game copy's line of a first install, the tools'
// lines, the tools folder, the final box, the questions asked, the desktop shortcut, the launcher,
// and that nothing of the run is left running on either side of the bridge.
#pragma once

#include "support/e2e.h"
#include "support/messages.h"
#include "win/handle.h"

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace testing_support {

// A scenario's install folder, and what its checks speak of.
struct Install {
    std::filesystem::path dir;     // the install folder
    std::filesystem::path repo;    // its quorin-recomp
    std::filesystem::path bin;     // on PATH: a stand-in for each tool that the round takes from there
    std::filesystem::path git;     // a stand-in for real git, for the tests' own commands
    std::filesystem::path image;   // the scenario's own copy of the sandbox's disc image
    std::uintmax_t leftovers = 0;  // what a step measured part way through a run, in bytes
    std::uintmax_t tools = 0;
    std::vector<setup::win::FileHandle> held;  // files a step holds open, closed at the end of the round
    std::vector<setup::win::Handle> jobs;      // programs a step started run in them, till the round ends
};

// What setup.log tells of a run: the program's own lines, not the tools' output.
using Story = std::vector<std::wstring>;
Story operator+(Story a, const Story& b);

std::wstring Freed(std::uintmax_t bytes);  // the paragraph of freeing space, for a size in bytes

// "$ git -C <repo> <arguments>"
std::wstring GitLine(const Install& install, const std::wstring& arguments);
// The clone, the fetch and the queries, then what they decided; the same on an existing clone.
Story Cloned(const Install& install, const Story& then);
Story Updated(const Install& install, const Story& then);
// The branch message and the pull, and the update of an installed folder on its branch with them.
Story OnBranch(const Install& install);
Story Pulled(const Install& install);
// The source step's refusal of a folder of the user's own where the clone would go.
Story Refused(const Install& install);
// The build to its end, given the game copy when it extracts one ("" when it doesn't).
Story Built(const std::wstring& gameCopy);

// Asked by a run of an install whose last build made what GitHub's main holds now.
std::wstring NothingNew(const Install& install);
// The story up to the first line that starts with `start`, and that line.
Story Until(const Story& story, const std::wstring& start);
Story Freeing(std::uintmax_t leftovers, std::uintmax_t tools);

// Real git (through the bridge), to put a scenario's clone into a state of its own:
// "git -C <repo> <arguments>", a fresh clone of the project on its default branch, the game files
// extracted already, and both, as an install has them.
void Git(const Install& install, const std::wstring& arguments);
void Clone(const Install& install);
void Extracted(const Install& install);
void Installed(const Install& install);
// A folder of the user's own, with a file in it, where the clone would go.
void Foreign(const Install& install);
// What a build makes: repo\build\runtime\QuorinLauncher.exe.
std::filesystem::path Launcher(const Install& install);

// What freeing space may take from the install: its tools and its build's leftovers, in bytes.
std::uintmax_t ToolsSize(const Install& install);
std::uintmax_t LeftoversSize(const Install& install);

// Runs a copy of the test child as the built launcher, as a player plays the game, till the
// round ends.
void RunGame(Install& install);

// Lets a build that the "hold" switch stopped go on.
void Release();

// Ends the program from outside, as Task Manager, a crash or a power cut does.
void Kill(HWND window);

// Presses Cancel (the Install button during a run), as a moment's action.
void Cancel(HWND window, Install& install);

enum class Game { image, folder };  // the game copy chosen: the disc image, or an extracted folder

// How a round takes a build tool. The first tool that fails ends the tools: those after it are
// not reached, whatever the round says of them.
enum class Tool {
    onPath,         // a stand-in on PATH
    found,          // unpacked in the tools folder by an earlier run
    downloaded,     // downloaded and unpacked
    downloadFails,  // its download fails, or is cancelled
    unpackFails,    // its archive can't be unpacked
    noProgram,      // unpacked, but its program isn't inside
    notReached,     // nothing of it is logged: its lookup fails, or the run ended before
};

// How a round takes each tool, named as kSandboxTools names them.
struct Tools {
    Tool git = Tool::onPath;
    Tool cmake = Tool::onPath;
    Tool ninja = Tool::onPath;
    Tool clang = Tool::onPath;
    Tool python = Tool::onPath;
};
constexpr Tools All(Tool tool) { return {tool, tool, tool, tool, tool}; }

// Something to do once the status line starts with `status`.
struct Moment {
    std::wstring status;
    std::function<void(HWND window, Install& install)> action;
};

// A question that the run asks, after the form's that the runner knows, and the answer it is given.
struct Asked {
    std::function<std::wstring(const Install&)> text;
    int answer = IDYES;
};

struct Round {
    std::function<void(Install&)> before{};  // puts the folder into its state
    bool update = false;                     // "--update <folder>" instead of filling the form
    Game game = Game::image;
    Form form{};  // the options, by default as the window starts; the source comes from `game`
    std::vector<Asked> asked{};  // the run's own questions, in the order it asks them
    bool starts = true;  // false: an answer keeps the run from starting: no log, no final box
    Story lookup{};  // what the run logs of asking GitHub whether anything is new, before the tools
    bool toolsPhase = true;  // false: the run ends before the tools phase, which logs nothing, and
                             // logs no game copy
    Tools tools{};         // how the run takes each build tool: from PATH, unless it says otherwise
    bool alias = false;    // an app-store python.exe ahead on PATH, which is no Python
    std::string faults{};  // the sandbox's switches
    std::vector<Moment> moments{};
    std::function<void(HWND window)> atEnd{};
    bool shown = true;    // a final box shows the final message
    bool plays = false;   // the launcher starts
    bool killed = false;  // a moment ends the program from outside (Kill): the log tells no end
    std::vector<std::wstring> statuses{};  // seen in this order, each as the start of a status text
    const char* requests = nullptr;        // the requests of the tools phase, exactly, when given
    // What setup.log must tell after the header and the tools' lines, the final message last.
    // Made after the run, which must have started.
    std::function<Story(const Install&)> story{};
    std::function<void(Install&, const Outcome&)> more{};  // further checks
};

struct Scenario {
    const char* name;
    const wchar_t* folder;  // the install folder's name
    std::vector<Round> rounds;
};

inline std::ostream& operator<<(std::ostream& out, const Scenario& scenario) { return out << scenario.name; }

void RunScenario(const Scenario& scenario);

}  // namespace testing_support
