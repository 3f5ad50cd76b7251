// The offline demo that ./dev run drives: the test build of QuorinSetup.exe does a fresh install
// from the sandbox's disc image with every option on, filled in and started by this program.
// It saves pictures of the window as it goes (the filled form, busy in the build with its
// details shown, the final message); with --watch, for a person at the display, it takes none
// and leaves the final box and the window to them. It fails unless the install ends with "Done.".
//
//   demo [--watch]    QUORIN_DEMO names the folder to install in and save the pictures to;
//                     the sandbox's variables are set as for the end-to-end tests
#include "support/e2e.h"
#include "support/install_e2e.h"
#include "support/picture.h"
#include "support/sandbox.h"
#include "window/controls.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <iostream>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

bool watched = false;  // --watch

// A picture of the setup window and of the box in front of it, once both have painted.
void Picture(const fs::path& file, HWND window, HWND box = nullptr) {
    Sleep(500);  // the window paints on its own thread, in another process
    RECT area{}, boxArea{};
    GetWindowRect(window, &area);
    if (box && GetWindowRect(box, &boxArea)) UnionRect(&area, &area, &boxArea);
    SavePicture(file, area);
}

TEST(Demo, AFreshInstallFromADiscImage) {
    const fs::path out = HostPath("QUORIN_DEMO");
    ASSERT_FALSE(out.empty()) << "QUORIN_DEMO names no folder";
    const fs::path image = out / L"Quorin (2007).iso";
    fs::copy_file(SandboxPath(L"game.iso"), image, fs::copy_options::overwrite_existing);

    Launch launch;
    launch.dir = (out / L"Quorin-Recomp").wstring();
    launch.form = {.source = image.wstring(), .shortcut = true, .cleanup = true, .deleteIso = true};
    launch.answers = {IDYES, IDYES};  // delete the disc image; a folder of non-English characters, if so
    if (watched) {
        SetFaults("");
        launch.atFinal = [](HWND box) {
            while (IsWindow(box)) Sleep(100);
        };
        launch.atEnd = [](HWND window) {
            while (IsWindow(window)) Sleep(100);
        };
    } else {
        SetFaults(R"({"hold": ["[3/6]"]})");  // half way through compiling
        launch.filled = [&](HWND window) { Picture(out / L"filled.bmp", window); };
        launch.steps = {{L"Compiling", [&](HWND window) {
                             Click(window, setup::kDetailsToggle);
                             WaitUntil(10000, [&] { return ScreenOf(window).bar == 50; });
                             Picture(out / L"busy.bmp", window);
                             Release();
                         }}};
        launch.atFinal = [&](HWND box) { Picture(out / L"done.bmp", GetWindow(box, GW_OWNER), box); };
    }
    const Outcome outcome = RunSetup(launch);
    SetFaults("");
    std::cout << Utf8(outcome.final.text) << "\n";
    EXPECT_TRUE(outcome.final.text.starts_with(L"Done.")) << "the install didn't end with \"Done.\"";
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    watched = argc > 1 && std::strcmp(argv[1], "--watch") == 0;
    return RUN_ALL_TESTS();
}
