// morva with the keyboard alone, on a plain X server without a window manager (Xvfb), keys sent
// with xdotool to whichever window has the keyboard, as a user's would be: every dialog and
// message box gives the keyboard back to the window below when it closes, message boxes answer
// Enter and Escape, the configuration window shows its own controls again under the box that
// follows Escape, and the sound setup confirmed with OK is there at the next start.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#if MORVA_HAVE_XLIB
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#endif

#include "tests/private_x.h"
#include "tests/run_program.h"

namespace fs = std::filesystem;

namespace {

const fs::path morva = fs::path(MORVA_BINARY_DIR) / "bin" / "morva";
const fs::path data = MORVA_DATA_DIR;
const fs::path root = fs::temp_directory_path() / ("morva-keyboard-test-" + std::to_string(getpid()));

constexpr const char* configTitle = "'Morva by Gravel Mantle'";
constexpr const char* setupTitle = "VIREZ Digital Audio System v1.1.2 Setup";
constexpr const char* customTitle = "VIREZ Custom Sound Quality";
constexpr const char* showTitle = "^Morva$";

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Waits up to seconds for a condition, looking ten times a second.
bool waitFor(const std::function<bool()>& condition, double seconds) {
    for (int i = 0; i < static_cast<int>(seconds * 10); ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return condition();
}

#if MORVA_HAVE_XLIB

// An X server of the test's own, with no window manager, and a connection to it for looking at
// the screen.
class PlainScreen {
  public:
    explicit PlainScreen(const fs::path& folder) : folder_(folder) {
        server_ = startPrivateX(folder, "1024x768x24");
        display_ = server_.display;
        for (int i = 0; i < 50 && !x_ && !display_.empty(); ++i) {
            x_ = XOpenDisplay(display_.c_str());
            if (!x_) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ~PlainScreen() {
        if (x_) XCloseDisplay(x_);
        stopPrivateX(server_);
    }
    PlainScreen(const PlainScreen&) = delete;
    PlainScreen& operator=(const PlainScreen&) = delete;

    bool up() const { return x_ != nullptr; }
    const std::string& display() const { return display_; }

    // The visible window whose name holds text, or 0.
    unsigned long window(const std::string& text) const {
        const fs::path out = folder_ / ".xdotool";
        if (xdotool({"search", "--onlyvisible", "--name", text}, out) != 0) return 0;
        std::istringstream in(readText(out));
        unsigned long id = 0;
        in >> id;
        return id;
    }

    // Whether the visible window whose name holds text (or a window inside it) has the keyboard.
    bool focused(const std::string& text) const {
        const unsigned long target = window(text);
        if (!target) return false;
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(x_, &focus, &revert);
        while (focus != None && focus != PointerRoot) {
            if (focus == target) return true;
            Window rootWindow = 0, parent = 0, *children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(x_, focus, &rootWindow, &parent, &children, &count)) return false;
            if (children) XFree(children);
            if (parent == rootWindow) return false;
            focus = parent;
        }
        return false;
    }

    // Presses keys (xdotool names, e.g. "alt+a", "Escape", "Return") in the window that has the
    // keyboard, whichever it is.
    void key(const std::string& keys) const {
        xdotool({"key", "--delay", "60", keys}, folder_ / ".xdotool");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }

    // Presses keys in the window whose name holds title once it has the keyboard; false when it
    // does not get it within ten seconds (nothing is pressed then).
    bool keyTo(const std::string& title, const std::string& keys) const {
        for (int i = 0; i < 100 && !focused(title); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!focused(title)) return false;
        key(keys);
        return true;
    }

    // The colour on the screen at x, y of a window's inside.
    bool pixel(unsigned long window, int x, int y, int rgb[3]) const {
        int sx = 0, sy = 0;
        Window child = 0;
        if (!XTranslateCoordinates(x_, window, DefaultRootWindow(x_), x, y, &sx, &sy, &child)) return false;
        XImage* image = XGetImage(x_, DefaultRootWindow(x_), sx, sy, 1, 1, AllPlanes, ZPixmap);
        if (!image) return false;
        const unsigned long p = XGetPixel(image, 0, 0);
        XDestroyImage(image);
        rgb[0] = static_cast<int>((p >> 16) & 0xFF);
        rgb[1] = static_cast<int>((p >> 8) & 0xFF);
        rgb[2] = static_cast<int>(p & 0xFF);
        return true;
    }

    // A window's inside size.
    bool size(unsigned long window, int* width, int* height) const {
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(x_, window, &attributes)) return false;
        *width = attributes.width;
        *height = attributes.height;
        return true;
    }

  private:
    int xdotool(const std::vector<std::string>& arguments, const fs::path& out) const {
        std::vector<std::string> all = {"xdotool"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return waitProgramFor(spawnProgram("/usr/bin/env", folder_, all, {"DISPLAY=" + display_}, out,
                                           folder_ / ".xdotool.err"),
                              20);
    }

    fs::path folder_;
    std::string display_;
    PrivateX server_;
    Display* x_ = nullptr;
};

// morva started on that screen from a folder of its own with the show's data, its settings in the
// folder's "config" and its sound going to SDL's disk driver (a file, when sound is opened at all).
struct Show {
    pid_t pid = 0;
    fs::path folder;
    int status = -1;

    Show(const PlainScreen& screen, const fs::path& where, const std::string& soundFile) : folder(where) {
        fs::create_directories(folder);
        for (const char* file : {"morva.flb", "mopart1.xm", "mopart2.xm"})
            if (!fs::exists(folder / file)) fs::create_symlink(data / file, folder / file);
        pid = spawnProgram(morva, folder, {},
                           {"DISPLAY=" + screen.display(), "WAYLAND_DISPLAY",
                            "XDG_CONFIG_HOME=" + (root / "config").string(), "SDL_AUDIODRIVER=disk",
                            "SDL_DISKAUDIOFILE=" + (folder / soundFile).string(), "SDL_DISKAUDIODELAY=20",
                            "ASAN_OPTIONS=detect_leaks=0", "MORVA_WINDOWED"},
                           folder / "out.txt", folder / "err.txt");
    }
    ~Show() {
        if (pid && status < 0) {
            kill(pid, SIGKILL);
            waitProgram(pid);
        }
    }
    Show(const Show&) = delete;
    Show& operator=(const Show&) = delete;

    // Its exit code once it has ended by itself within seconds, else -2 (and it is killed).
    int end(int seconds) {
        status = waitProgramFor(pid, seconds);
        return status;
    }
    std::string errors() const { return readText(folder / "err.txt"); }
};

bool near(const int rgb[3], int r, int g, int b) {
    return std::abs(rgb[0] - r) < 12 && std::abs(rgb[1] - g) < 12 && std::abs(rgb[2] - b) < 12;
}

#endif

class PlainXKeyboard : public ::testing::Test {
  protected:
    void SetUp() override {
#if !MORVA_HAVE_XLIB
        GTEST_SKIP() << "built without Xlib";
#else
        if (std::system("command -v Xvfb >/dev/null 2>&1 && command -v xdotool >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "needs Xvfb and xdotool";
        if (!fs::exists(morva)) GTEST_FAIL() << morva << " is not built";
        if (!fs::exists(data / "morva.flb")) GTEST_SKIP() << "the show's data is not built in " << data;
        fs::remove_all(root);
        fs::create_directories(root);
#endif
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(root);
    }
};

} // namespace

#if MORVA_HAVE_XLIB

// Dialog after dialog closes, and each time the window below answers the next key at once.
TEST_F(PlainXKeyboard, EveryClosedDialogGivesTheKeyboardBackAndTheMessageBoxAnswersEnter) {
    PlainScreen screen(root);
    ASSERT_TRUE(screen.up()) << readText(root / "xvfb.err");
    Show show(screen, root / "first", "sound.raw");
    ASSERT_TRUE(waitFor([&] { return screen.window(configTitle) != 0; }, 60)) << show.errors();
    ASSERT_TRUE(screen.keyTo(configTitle, "alt+a")) << "the configuration window never had the keyboard";
    ASSERT_TRUE(waitFor([&] { return screen.window(setupTitle) != 0; }, 10)) << "Alt+A opened no sound setup";
    // "Custom...": the custom quality dialog over the setup dialog
    ASSERT_TRUE(screen.keyTo(setupTitle, "alt+c")) << "the sound setup never had the keyboard";
    ASSERT_TRUE(waitFor([&] { return screen.window(customTitle) != 0; }, 10))
        << "Alt+C opened no custom dialog";
    ASSERT_TRUE(screen.keyTo(customTitle, "Escape")) << "the custom dialog never had the keyboard";
    ASSERT_TRUE(waitFor([&] { return screen.window(customTitle) == 0; }, 10));
    // Each window below takes the keyboard back by itself and answers the next key.
    ASSERT_TRUE(screen.keyTo(setupTitle, "Escape"))
        << "the setup dialog did not get the keyboard back from the custom dialog";
    EXPECT_TRUE(waitFor([&] { return screen.window(setupTitle) == 0; }, 10))
        << "the setup dialog did not answer a key after the custom dialog closed";
    ASSERT_TRUE(screen.keyTo(configTitle, "alt+a"))
        << "the configuration window did not get the keyboard back from the setup dialog";
    ASSERT_TRUE(waitFor([&] { return screen.window(setupTitle) != 0; }, 10))
        << "the configuration window did not answer Alt+A after the setup dialog closed";
    ASSERT_TRUE(screen.keyTo(setupTitle, "Escape"));
    ASSERT_TRUE(waitFor([&] { return screen.window(setupTitle) == 0; }, 10));
    ASSERT_TRUE(screen.keyTo(configTitle, "Return")); // "GO!"
    ASSERT_TRUE(waitFor([&] { return screen.window(showTitle) != 0; }, 30)) << "Enter did not start the show";
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(screen.keyTo(showTitle, "Escape")) << "the show's window never had the keyboard";
    ASSERT_TRUE(waitFor([&] { return screen.window("User interruption") != 0; }, 20)) << show.errors();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // Under the box the configuration window shows its own controls again, not the show's last
    // picture: "GO!" in button-face grey at its right end, the log list white at its left.
    const unsigned long config = screen.window(configTitle);
    int width = 0, height = 0;
    ASSERT_TRUE(screen.size(config, &width, &height));
    int go[3] = {}, log[3] = {};
    ASSERT_TRUE(screen.pixel(config, width - 8, 30, go));
    ASSERT_TRUE(screen.pixel(config, 12, height - 20, log));
    EXPECT_TRUE(near(go, 212, 208, 200)) << go[0] << "," << go[1] << "," << go[2];
    EXPECT_TRUE(near(log, 255, 255, 255)) << log[0] << "," << log[1] << "," << log[2];
    ASSERT_TRUE(screen.keyTo("User interruption", "Return")) << "the message box never had the keyboard";
    EXPECT_EQ(show.end(20), 0) << "Enter did not close the message box\n" << show.errors();
}

// The setup confirmed with OK is kept: "No Sound" chosen at one start opens no sound output at the
// next, while a start before it did; a message box also closes with Escape.
TEST_F(PlainXKeyboard, TheSoundSetupConfirmedWithOkIsThereAtTheNextStart) {
    PlainScreen screen(root);
    ASSERT_TRUE(screen.up()) << readText(root / "xvfb.err");
    // "GO!", Escape once the show is on, Escape for the message box: the exit code.
    const auto goAndAbort = [&](Show& show) {
        if (!screen.keyTo(configTitle, "Return")) return -5;
        if (!waitFor([&] { return screen.window(showTitle) != 0; }, 30)) return -3;
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        if (!screen.keyTo(showTitle, "Escape")) return -6;
        if (!waitFor([&] { return screen.window("User interruption") != 0; }, 20)) return -4;
        if (!screen.keyTo("User interruption", "Escape")) return -7;
        return show.end(20);
    };
    const auto configShown = [&] { return screen.window(configTitle) != 0; };
    {
        Show before(screen, root / "before", "sound.raw");
        ASSERT_TRUE(waitFor(configShown, 60)) << before.errors();
        EXPECT_EQ(goAndAbort(before), 0) << before.errors();
        EXPECT_TRUE(fs::exists(root / "before" / "sound.raw")) << "the default setup opened no sound output";
    }
    {
        Show choosing(screen, root / "choosing", "sound.raw");
        ASSERT_TRUE(waitFor(configShown, 60)) << choosing.errors();
        ASSERT_TRUE(screen.keyTo(configTitle, "alt+a"));
        ASSERT_TRUE(waitFor([&] { return screen.window(setupTitle) != 0; }, 10));
        ASSERT_TRUE(screen.keyTo(setupTitle, "alt+o")); // the sound card list
        screen.key("Up");     // "No Sound"
        screen.key("Return"); // OK
        ASSERT_TRUE(waitFor([&] { return screen.window(setupTitle) == 0; }, 10));
        EXPECT_EQ(goAndAbort(choosing), 0) << choosing.errors();
        EXPECT_FALSE(fs::exists(root / "choosing" / "sound.raw"));
    }
    const std::string kept = readText(root / "config" / "morva" / "sound-setup.bin");
    ASSERT_EQ(kept.size(), 28u);
    EXPECT_EQ(kept.substr(20, 4), std::string("\x02\x00\x00\x00", 4)); // the silent device
    {
        Show next(screen, root / "next", "sound.raw");
        ASSERT_TRUE(waitFor(configShown, 60)) << next.errors();
        EXPECT_EQ(goAndAbort(next), 0) << next.errors();
        EXPECT_FALSE(fs::exists(root / "next" / "sound.raw")) << "the next start forgot \"No Sound\"";
        EXPECT_EQ(next.errors().find("sound setup"), std::string::npos) << next.errors();
    }
}

#endif

// morva --help says which keys work and where the sound setup is kept, for this user.
TEST(MorvaHelp, SaysTheKeysAndWhereTheSoundSetupIsKept) {
    if (!fs::exists(morva)) GTEST_FAIL() << morva << " is not built";
    fs::create_directories(root);
    const int status = waitProgramFor(spawnProgram(morva, root, {"--help"}, {"XDG_CONFIG_HOME=/somewhere/config"},
                                                   root / "help.txt", root / "help.err"),
                                      20);
    const std::string help = readText(root / "help.txt");
    EXPECT_EQ(status, 0);
    for (const char* said : {"Alt+A \"Audio Config\"", "Message boxes close with Enter or Escape",
                             "  /somewhere/config/morva/sound-setup.bin\n", "delete that file to forget it"})
        EXPECT_NE(help.find(said), std::string::npos) << said << " missing from:\n" << help;
    fs::remove_all(root);
}
