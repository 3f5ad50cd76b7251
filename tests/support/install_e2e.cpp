#include "support/install_e2e.h"

#include "base/text.h"
#include "maintenance/layout.h"
#include "maintenance/maintenance.h"
#include "report.h"
#include "support/sandbox.h"
#include "support/sandbox_tools.h"
#include "support/scratch.h"
#include "support/shortcut.h"
#include "win/convert.h"
#include "win/processes.h"
#include "win/sha256.h"
#include "window/controls.h"
#include "worker/services.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace fs = std::filesystem;

namespace testing_support {

namespace {

constexpr DWORD kLauncherLimit = 10000;  // ms for the launcher to start once the run is over

// The beginnings of the lines that the program logs itself; the rest is its tools' output, but
// for the build script's status lines, which tell how far it got.
const char* const kOwnLines[] = {
    "Quorin Recompiled Setup, installing to ", "Game copy: ", "== ", "$ ", "==> ", "Git: ", "CMake: ", "Ninja: ",
    "Clang: ", "Python: ", "The source folder ", "Building release ", "(couldn't ", "(the last ", "Deleting ",
    "(some of it ", "Deleted the disc image ", "Couldn't delete the disc image "};

// The run's own lines, in UTF-8, with the final message (its last `finalLines` lines, if any) as one.
std::vector<std::string> LogStory(const std::string& section, std::size_t finalLines) {
    const std::vector<std::string> lines = Lines(section);
    const std::size_t end = lines.size() - std::min(finalLines, lines.size());
    std::vector<std::string> story;
    for (std::size_t i = 0; i < end; ++i)
        if (std::any_of(std::begin(kOwnLines), std::end(kOwnLines),
                        [&](const char* own) { return lines[i].starts_with(own); }))
            story.push_back(lines[i]);
    std::string final;
    for (std::size_t i = end; i < lines.size(); ++i) final += (i > end ? "\n" : "") + lines[i];
    if (finalLines > 0) story.push_back(final);
    return story;
}

// The text without its CRs: the log ends the final message's own lines with CR LF, as every
// line, while the details box is given its lone LFs.
std::string Unbroken(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// The log as the details box shows it: each line of more than 2000 characters cut short.
std::string Shown(const std::string& log) {
    std::string shown;
    for (const std::string& line : Lines(log)) {
        const std::wstring wide = setup::win::Widen(line);
        shown += (wide.size() > 2000 ? Utf8(wide.substr(0, 2000)) + "..." : line) + "\r\n";
    }
    return shown;
}

std::vector<std::string> Narrow(const Story& story) {
    std::vector<std::string> narrow;
    for (const std::wstring& line : story) narrow.push_back(Utf8(line));
    return narrow;
}

std::vector<fs::path> Listing(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; it != end; it.increment(error)) entries.push_back(it->path());
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::uintmax_t FilesSize(const fs::path& folder, const std::function<bool(const fs::path&)>& counted) {
    std::uintmax_t size = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; it != end; it.increment(error))
        if (it->is_regular_file(error) && counted(it->path())) size += it->file_size(error);
    return size;
}

// The questions asked before a run starts: with "--update", only that of the folder's name.
std::vector<std::wstring> Questions(const Round& round, const Install& install) {
    std::vector<std::wstring> questions;
    if (setup::HasNonAscii(install.dir.wstring())) questions.push_back(kNonAsciiQuestion);
    if (!round.update && round.form.deleteIso && round.game == Game::image)
        questions.push_back(L"Delete the disc image when it's been extracted?\n\n" + install.image.wstring() +
                            L"\n\nThe game only needs the extracted files; you'd need the disc image again only to "
                            L"install somewhere else.");
    return questions;
}

// The round's choice for a tool.
Tool ChoiceFor(const Tools& tools, const SandboxTool& tool) {
    const std::wstring name = tool.name;
    if (name == L"Git") return tools.git;
    if (name == L"CMake") return tools.cmake;
    if (name == L"Ninja") return tools.ninja;
    if (name == L"Clang") return tools.clang;
    EXPECT_EQ(name, L"Python") << "a tool that a round can't name";
    return tools.python;
}

// How the round takes each tool of kSandboxTools, in its order: those after the first that fails
// are not reached.
std::vector<Tool> Taken(const Tools& tools) {
    std::vector<Tool> taken;
    bool reached = true;
    for (const SandboxTool& tool : kSandboxTools) {
        taken.push_back(reached ? ChoiceFor(tools, tool) : Tool::notReached);
        reached = taken.back() == Tool::onPath || taken.back() == Tool::found || taken.back() == Tool::downloaded;
    }
    return taken;
}

Story Header(const Install& install) { return {L"Quorin Recompiled Setup, installing to " + install.dir.wstring()}; }

// What a first install logs of the sandbox's game copy, whose default.xex names the game as
// tests/sandbox/world.py's GAME does; the extracted folder holds the same default.xex.
Story GameCopy(Game game) {
    const std::string sha256 = setup::win::FileSha256(SandboxPath(L"game-extracted\\default.xex"));
    return {L"Game copy: " +
            std::wstring(game == Game::image ? L"Xbox 360 disc image (rebuilt)" : L"extracted Xbox 360 disc") +
            L"; default.xex: title ID 515207D7, media ID 1A2B3C4D, version 1.0.2.0, disc 1 of 1, SHA-256 " +
            setup::win::Widen(sha256)};
}

// What the tools phase logs of each tool that it takes.
Story ToolsStory(const Install& install, const std::vector<Tool>& taken) {
    Story story = {L"== Checking the tools"};
    for (std::size_t i = 0; i < taken.size(); ++i) {
        const SandboxTool& tool = kSandboxTools[i];
        switch (taken[i]) {
        case Tool::onPath: story.push_back(tool.name + (L": using " + (install.bin / tool.exe).wstring())); break;
        case Tool::found: story.push_back(FetchLines(install.dir, tool).back()); break;
        case Tool::downloaded: story = story + FetchLines(install.dir, tool); break;
        case Tool::downloadFails: story = story + FetchLines(install.dir, tool, 1); break;
        case Tool::unpackFails:
        case Tool::noProgram: story = story + FetchLines(install.dir, tool, 4); break;
        case Tool::notReached: break;
        }
    }
    return story;
}

// The tools folder holds a tool's program exactly when the run found or downloaded it, and its
// archive only when its download or unpack failed.
void CheckToolsFolder(const Install& install, const std::vector<Tool>& taken) {
    const std::string standIn = FileText(HostPath("QUORIN_STANDIN"));
    for (std::size_t i = 0; i < taken.size(); ++i) {
        const SandboxTool& tool = kSandboxTools[i];
        EXPECT_EQ(FileText(Unpacked(install.dir, tool).wstring()) == standIn,
                  taken[i] == Tool::found || taken[i] == Tool::downloaded)
            << Utf8(tool.name);
        EXPECT_EQ(fs::exists(Archive(install.dir, tool)),
                  taken[i] == Tool::downloadFails || taken[i] == Tool::unpackFails)
            << Utf8(tool.name) << ": an archive stays only when it wasn't unpacked";
    }
}

// Whether each of `starts` begins a status of `seen`, in this order.
bool SeenInOrder(const std::vector<std::wstring>& seen, const std::vector<std::wstring>& starts) {
    auto at = seen.begin();
    for (const std::wstring& start : starts) {
        at = std::find_if(at, seen.end(), [&](const std::wstring& status) { return status.starts_with(start); });
        if (at == seen.end()) return false;
    }
    return true;
}

// The requests of the tools phase, one a line: all but the project's.
std::string ToolRequests() {
    std::string requests;
    for (const std::string& line : Lines(Requests()))
        if (line.find("/quorin-recomp") == std::string::npos) requests += line + "\n";
    return requests;
}

void RunRound(const Round& round, Install& install) {
    SetFaults(round.faults);
    DeleteFileW(SandboxPath(L"state\\release").c_str());  // else a held build would go on at once
    const LauncherRecord record(install.dir.parent_path() / L"launcher.txt");
    const fs::path shortcut = fs::path(DesktopFolder()) / L"Quorin Recompiled.lnk";
    std::error_code error;
    fs::remove(shortcut, error);
    const std::vector<Tool> taken = Taken(round.starts && round.toolsPhase ? round.tools : All(Tool::notReached));
    for (std::size_t i = 0; i < taken.size(); ++i)
        if (taken[i] == Tool::onPath)
            StandIn(install.bin.wstring(), kSandboxTools[i].exe);
        else
            fs::remove(install.bin / kSandboxTools[i].exe, error);
    const fs::path alias = install.bin.parent_path() / L"Microsoft" / L"WindowsApps";
    if (round.alias) {
        fs::create_directories(alias);
        StandIn(alias.wstring(), L"python.exe");
    }
    if (round.before) round.before(install);
    // A first install logs the game copy it reads; a round that ends before the tools ends at the
    // copy or before it.
    const bool readsCopy = round.toolsPhase && !setup::layout::Exists(setup::layout::ExtractedMarker(install.repo));
    const std::vector<fs::path> desktop = Listing(DesktopFolder());
    ClearRequests();

    Launch launch;
    launch.dir = install.dir.wstring();
    launch.update = round.update;
    launch.form = round.form;
    launch.form.source = round.game == Game::image ? install.image.wstring() : SandboxPath(L"game-extracted");
    launch.form.extractedFolder = round.game == Game::folder;
    launch.path = (round.alias ? alias.wstring() + L";" : L"") + install.bin.wstring();
    launch.environment = record.Variables();
    launch.starts = round.starts;
    std::vector<std::wstring> questions = Questions(round, install);
    launch.answers.assign(questions.size(), IDYES);
    for (const Asked& asked : round.asked) {
        questions.push_back(asked.text(install));
        launch.answers.push_back(asked.answer);
    }
    for (const Moment& moment : round.moments)
        launch.steps.push_back({moment.status, [&](HWND window) { moment.action(window, install); }});
    launch.atEnd = round.atEnd;
    const Outcome outcome = RunSetup(launch);

    const Story expected = !round.starts ? Story{}
                                         : Header(install) + (readsCopy ? GameCopy(round.game) : Story{}) +
                                               round.lookup +
                                               (round.toolsPhase ? ToolsStory(install, taken) : Story{}) +
                                               round.story(install);
    const std::wstring final = round.killed || expected.empty() ? L"" : expected.back();
    const bool success = final.starts_with(kDone);
    const std::string section = LastRun(outcome.log);
    const std::size_t finalLines = final.empty() ? 0 : std::count(final.begin(), final.end(), L'\n') + 1;
    EXPECT_EQ(LogStory(section, finalLines), Narrow(expected)) << section;
    if (round.shown && !final.empty()) {
        EXPECT_EQ(outcome.final.text, final);
        EXPECT_EQ(outcome.final.caption, setup::kCaption);
        EXPECT_EQ(outcome.final.icon, success ? L"information" : L"warning");
        EXPECT_EQ(outcome.finalScreen, (Screen{final, success ? 100 : 0})) << "the status line and the bar";
        EXPECT_EQ(outcome.playShown, success);
        EXPECT_EQ(outcome.detailsShown, !success) << "a failure opens the details";
        EXPECT_EQ(Unbroken(Utf8(outcome.details)), Unbroken(Shown(section))) << "the details box tells the same";
    } else {
        EXPECT_EQ(outcome.final.text, L"") << "no final box";
    }
    std::vector<std::wstring> asked;
    for (const Box& question : outcome.questions) asked.push_back(question.text);
    EXPECT_EQ(asked, questions);
    EXPECT_EQ(outcome.leftWindows, std::vector<std::wstring>{});
    EXPECT_EQ(outcome.leftLinux, std::vector<std::string>{});
    std::wstring statuses;
    for (const std::wstring& status : outcome.statuses) statuses += status + L"\n";
    EXPECT_TRUE(SeenInOrder(outcome.statuses, round.statuses)) << Utf8(statuses);
    if (round.requests) {
        EXPECT_EQ(ToolRequests(), round.requests);
    }
    // Freeing space deletes the tools; a run that ends before them leaves what was there.
    if (!round.form.cleanup && round.toolsPhase) CheckToolsFolder(install, taken);

    // A shortcut only after a success that chose one, starting the launcher in its own folder.
    const fs::path launcher = Launcher(install);
    std::vector<fs::path> onDesktop = desktop;
    if (success && round.form.shortcut) onDesktop.push_back(shortcut);
    std::sort(onDesktop.begin(), onDesktop.end());
    EXPECT_EQ(Listing(DesktopFolder()), onDesktop);
    if (fs::exists(shortcut)) {
        const Shortcut link = ReadShortcut(shortcut.wstring());
        EXPECT_EQ(link.target, launcher.wstring());
        EXPECT_EQ(link.folder, launcher.parent_path().wstring());
        EXPECT_EQ(link.description, L"Quorin Recompiled");
    }

    if (round.plays) {
        EXPECT_EQ(WaitForSingleObject(record.started.get(), kLauncherLimit), WAIT_OBJECT_0)
            << "the launcher didn't start";
        EXPECT_EQ(FileText(record.file), Utf8(launcher.parent_path().wstring()) + "\n")
            << "started in its own folder, with no arguments";
    } else {
        EXPECT_FALSE(fs::exists(record.file)) << "the launcher started";
    }

    if (round.more) round.more(install, outcome);
    install.held.clear();
    install.jobs.clear();
}

void RealGit(const Install& install, const std::wstring& arguments) {
    const Finished git = RunProgram(Quote(install.git) + L" " + arguments);
    EXPECT_EQ(git.code, 0) << Utf8(arguments) << "\n" << git.output;
}

}  // namespace

Story operator+(Story a, const Story& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::wstring Freed(std::uintmax_t bytes) { return Freed(setup::FormatSize(bytes)); }

std::wstring GitLine(const Install& install, const std::wstring& arguments) {
    return L"$ git -C " + setup::Quote(install.repo) + L" " + arguments;
}

Story Updated(const Install& install, const Story& then) {
    return Story{L"== Updating the source code", GitLine(install, L"fetch --progress --tags --force origin"),
                 GitLine(install, L"symbolic-ref -q --short HEAD"),
                 GitLine(install, L"status --porcelain --untracked-files=no --ignore-submodules=all")} +
           then;
}

Story Cloned(const Install& install, const Story& then) {
    Story story = Updated(install, then);
    story[0] = L"$ git clone --progress " + RepoUrl() + L" " + setup::Quote(install.repo);
    return Story{L"== Downloading the source code"} + story;
}

Story OnBranch(const Install& install) {
    return {L"The source folder is on branch main: updating that branch.", GitLine(install, L"pull --ff-only")};
}

Story Pulled(const Install& install) { return Updated(install, OnBranch(install)); }

Story Refused(const Install& install) {
    return {L"== Downloading the source code",
            install.repo.wstring() + L" already exists and isn't a copy of the project. Choose another folder."};
}

std::wstring NothingNew(const Install&) {
    return L"Quorin Recompiled is up to date (branch main), and it's built. Rebuild it anyway?";
}

Story Built(const std::wstring& gameCopy) {
    Story story = {L"== Building (the first build takes 10-30 minutes)",
                   L"$ python -u tools\\build.py" + (gameCopy.empty() ? L"" : L" --iso " + setup::Quote(gameCopy)),
                   L"==> Checking the build tools"};
    if (!gameCopy.empty()) story.push_back(L"==> Extracting the game files");
    return story + Story{L"==> Recompiling the game code", L"==> Compiling", L"==> Linking the launcher", L"==> Done"};
}

Story Until(const Story& story, const std::wstring& start) {
    const auto end =
        std::find_if(story.begin(), story.end(), [&](const std::wstring& line) { return line.starts_with(start); });
    return Story(story.begin(), end == story.end() ? end : end + 1);
}

Story Freeing(std::uintmax_t leftovers, std::uintmax_t tools) {
    return {L"== Freeing up space",
            L"Deleting Build leftovers (object files, libraries, generated C++): " + setup::FormatSize(leftovers),
            L"Deleting Build tools Setup downloaded (Git, CMake, Ninja, Clang, Python): " + setup::FormatSize(tools)};
}

void Git(const Install& install, const std::wstring& arguments) {
    RealGit(install, L"-C " + Quote(install.repo) + L" " + arguments);
}

void Clone(const Install& install) { RealGit(install, L"clone -q " + RepoUrl() + L" " + Quote(install.repo)); }

fs::path Launcher(const Install& install) { return install.repo / L"build" / L"runtime" / L"QuorinLauncher.exe"; }

void Extracted(const Install& install) {
    fs::create_directories(install.repo / L"game");
    fs::copy(SandboxPath(L"game-extracted"), install.repo / L"game" / L"extracted", fs::copy_options::recursive);
}

void Installed(const Install& install) {
    Clone(install);
    Extracted(install);
}

void Foreign(const Install& install) {
    fs::create_directories(install.repo);
    std::ofstream(install.repo / L"notes.txt") << "mine";
}

std::uintmax_t ToolsSize(const Install& install) {
    return FilesSize(install.dir / L"tools", [](const fs::path&) { return true; });
}

std::uintmax_t LeftoversSize(const Install& install) {
    const auto intermediate = [](const fs::path& file) {
        return std::ranges::any_of(kel::maintenance::kLeftoverExtensions, [&file](const wchar_t* extension) {
            return kel::maintenance::Lower(file, extension);
        });
    };
    return FilesSize(install.repo / L"build", intermediate) +
           FilesSize(install.repo / L"generated" / L"ppc", [](const fs::path&) { return true; });
}

void RunGame(Install& install) {
    const fs::path launcher = Launcher(install);
    fs::create_directories(launcher.parent_path());
    fs::copy_file(HostPath("QUORIN_CHILD_EXE"), launcher);
    install.jobs.push_back(setup::win::NewJob());
    EXPECT_TRUE(Program(Quote(launcher) + L" --sleep 600000", {.job = install.jobs.back().get()}).started());
}

void Release() { std::ofstream(fs::path(SandboxPath(L"state\\release"))); }

void Kill(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    const setup::win::Handle program(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process));
    EXPECT_TRUE(program && TerminateProcess(program.get(), 1)) << "can't end the program";
    WaitForSingleObject(program.get(), 10000);
}

void Cancel(HWND window, Install&) { Click(window, setup::kInstallButton); }

void RunScenario(const Scenario& scenario) {
    Scratch scratch;
    Install install;
    install.dir = scratch.root() / scenario.folder;
    install.repo = install.dir / L"quorin-recomp";
    install.bin = scratch.Folder(L"bin");
    install.git = StandIn(scratch.Folder(L"git").wstring(), L"git.exe");
    install.image = scratch.Folder(L"Disc images") / L"Quorin (Spi\u00e9l) 2007.iso";
    fs::copy_file(SandboxPath(L"game.iso"), install.image);
    int number = 0;
    for (const Round& round : scenario.rounds) {
        SCOPED_TRACE("round " + std::to_string(++number));
        RunRound(round, install);
    }
    SetFaults("");
}

}  // namespace testing_support
