// The morva program: the show on the SDL2 back end.
#include <cstdio>
#include <cstring>
#include <string>

#include "demo/demo.h"
#include "platform/host.h"

namespace {

constexpr const char* helpText =
    "usage: morva [--help]\n"
    "\n"
    "Plays the Morva demo: a configuration window (pick a video mode, \"Audio Config\" for the\n"
    "sound setup, \"GO!\" to start), then the show full screen with its music. Escape ends it.\n"
    "Set MORVA_WINDOWED=1 for a resizable window instead of full screen.\n"
    "\n"
    "Run it from the folder that holds the show's data: morva.flb, mopart1.xm and mopart2.xm\n"
    "(build/data after a build). The show takes no other options.\n"
    "\n"
    "Keys in the configuration window: Tab and Shift+Tab move between the controls, the arrow\n"
    "keys choose a mode, Enter presses the focused button (else \"GO!\"), and Alt with an\n"
    "underlined letter presses its button: Alt+A \"Audio Config\", Alt+M \"Use MMX\", Alt+G \"GO!\".\n"
    "Message boxes close with Enter or Escape.\n"
    "\n";

// Where the sound setup is kept: said with the path it has for this user.
constexpr const char* keptText =
    "The sound setup confirmed with OK in \"Audio Config\" is kept for the next start in\n"
    "  %s\n"
    "(in $XDG_CONFIG_HOME/morva, else ~/.config/morva); delete that file to forget it and\n"
    "start from the default setup again.\n"
    "\n";

constexpr const char* exitText =
    "Exit codes:\n"
    "  1    the show's normal end, or a set-up error it has shown in a message box (the\n"
    "       cause is on standard error)\n"
    "  0    ended by the user: Escape, or a closed window\n"
    "  3    no screen to show on: the display named by DISPLAY cannot be opened, or SDL has\n"
    "       only an off-screen driver (morva-capture records the show without a screen)\n"
    "  4    the connection to the display was lost during the show\n"
    "  255  a fatal error of the sound library (\"VIREZ Error: ...\" on standard error)\n";

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(helpText, stdout);
            const std::string folder = settingsUserFolder();
            const std::string file = folder.empty() ? std::string("(nowhere: neither XDG_CONFIG_HOME nor HOME is set)")
                                                    : folder + "/" + soundSetupName;
            std::printf(keptText, file.c_str());
            std::fputs(exitText, stdout);
            return 0;
        }
    }
    // The show has no options of its own; anything else is passed over, as it always was.
    for (int i = 1; i < argc; ++i)
        std::fprintf(stderr, "morva: ignoring \"%s\": the show takes no arguments (morva --help)\n", argv[i]);
    platformInit(sdlBackend());
    const int exitCode = demoMain();
    platformShutdown(exitCode);
    return exitCode;
}
