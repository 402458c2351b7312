// An X server of a test's own (Xvfb, no window manager) on a display number that the server picks
// itself and reports (-displayfd), so that tests running side by side never share a display.
#pragma once

#include "tests/run_program.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <signal.h>
#include <string>
#include <thread>

struct PrivateX {
    pid_t server = 0;
    std::string display; // ":N", empty when the server did not come up
};

// Starts Xvfb with one screen of the given geometry ("1024x768x24") in folder (its output goes to
// xvfb.out and xvfb.err there) and waits up to ten seconds for it to name its display.
inline PrivateX startPrivateX(const std::filesystem::path& folder, const std::string& geometry) {
    PrivateX x;
    x.server = spawnProgram("/usr/bin/env", folder,
                            {"Xvfb", "-displayfd", "1", "-screen", "0", geometry, "-nolisten", "tcp"}, {},
                            folder / "xvfb.out", folder / "xvfb.err");
    if (x.server == 0) return x;
    for (int i = 0; i < 200; ++i) {
        std::ifstream in(folder / "xvfb.out");
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!text.empty() && text.back() == '\n') {
            x.display = ":" + text.substr(0, text.size() - 1);
            return x;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return x;
}

// Ends a server started by startPrivateX.
inline void stopPrivateX(PrivateX& x, int signal = SIGTERM) {
    if (x.server == 0) return;
    kill(x.server, signal);
    waitProgram(x.server);
    x.server = 0;
}
