// Live play (see live.h).
#include "tools/virezplay/live.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/host.h"
#include "sound/player/gmplayer.h"
#include "sound/output/dsmnsnd.h"
#include "sound/api/errors.h"
#include "sound/api/mglobals.h"
#include "sound/api/soundapi.h"
#include "sound/output/winwave.h"
#include "tools/virezplay/follow.h"
#include "tools/virezplay/session.h"

namespace {

// A smaller output buffer than the library's default, so that a pause is heard at once.
constexpr int liveBufferMs = 200;
constexpr std::uint32_t stepMs = 20; // how often keys and the status are looked at
constexpr std::uint32_t terminalRedrawMs = 100;
constexpr std::uint32_t plainLineMs = 1000; // status lines when the output is no terminal

volatile std::sig_atomic_t interrupted = 0;

void onSignal(int) {
    interrupted = 1;
}

// The keyboard, unbuffered and without echo, while the files play.
struct Keyboard {
    bool active = false;
    termios saved{};
};
Keyboard keyboard;

void keyboardRestore() {
    if (keyboard.active) tcsetattr(STDIN_FILENO, TCSANOW, &keyboard.saved);
    keyboard.active = false;
}

void keyboardStart() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &keyboard.saved) != 0) return;
    termios raw = keyboard.saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO)); // Ctrl-C still raises SIGINT
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) keyboard.active = true;
}

// The key pressed since the last look, or 0.
int readKey() {
    if (!keyboard.active) return 0;
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, 0) <= 0) return 0;
    unsigned char key = 0;
    return read(STDIN_FILENO, &key, 1) == 1 ? key : 0;
}

struct SongView {
    int order, orders, pattern, row, rows, speed, tempo;
};

SongView songView(const Session& session) {
    SongView view{};
    sound_lock(); // the polling thread writes these
    PlayHandle* handle = songHandle(session.song);
    SongStatus* status = nullptr;
    if (handle && gmp_get_status(handle, &status) == 0) {
        view.order = status->position;
        view.pattern = status->pattern;
        view.row = status->row;
        view.speed = status->speed;
        view.tempo = status->tempo;
        view.rows = gmp_pattern_rows(session.module, status->pattern);
    }
    sound_unlock();
    view.orders = session.module->song_length;
    return view;
}

std::string statusText(const std::string& file, const SongView& v, double elapsed, double total,
                       bool paused) {
    char text[256];
    std::snprintf(text, sizeof text, "order %d/%d  pattern %d  row %d/%d  speed %d  tempo %d  %s / %s%s",
                  v.order, v.orders, v.pattern, v.row, v.rows, v.speed, v.tempo, clockText(elapsed).c_str(),
                  clockText(total).c_str(), paused ? "  (paused)" : "");
    return file + "  " + text;
}

// The status line cut to the terminal's width, so that redrawing it in place never wraps.
std::string fitTerminal(std::string text) {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 && text.size() >= size.ws_col)
        text.resize(size.ws_col - 1u);
    return text;
}

enum class Next { file, quit };

// Plays one file to its end or to a key. exitCode becomes 1 when the file does not play.
Next playFile(const PlayerSettings& settings, const std::string& file, int* exitCode) {
    std::string error;
    Session session;
    const bool opened = openLibrary(settings, liveBufferMs, &error);
    if (!opened || currentDevice == &noSoundDevice) {
        // One line, with the host's reason when it gave one: the library can only say "busy".
        const std::string why = *waveError() ? waveError() : error;
        std::fprintf(stderr, "virezplay: no sound output could be opened%s%s (use --wav FILE to render to a file)\n",
                     why.empty() ? "" : ": ", why.c_str());
        if (opened) closeLibrary(&session);
        *exitCode = 1;
        return Next::quit;
    }
    session.module = sound_load_module(file.c_str());
    if (!session.module) {
        std::fprintf(stderr, "virezplay: %s: %s\n", file.c_str(),
                     sound_get_error_message(sound_get_last_error()));
        closeLibrary(&session);
        *exitCode = 1;
        return Next::file;
    }
    const std::int64_t frames = songFrames(session.module, winWave.mixRate, maxSongSeconds * winWave.mixRate);
    const double total = frames < 0 ? 0 : static_cast<double>(frames) / winWave.mixRate;
    session.song = sound_play_module(session.module, 1);
    if (!session.song) {
        std::fprintf(stderr, "virezplay: %s: %s\n", file.c_str(),
                     sound_get_error_message(sound_get_last_error()));
        closeLibrary(&session);
        *exitCode = 1;
        return Next::file;
    }
    follower.mixedFrames = nullptr;
    follower.rowStarted = nullptr;
    follower.stopAtEnd = !settings.loop;
    followSong(currentDevice, songHandle(session.song));
    sound_start_background_play(0);

    const bool terminal = isatty(STDOUT_FILENO);
    Next next = Next::file;
    bool paused = false;
    std::uint32_t elapsedMs = 0, sinceLine = plainLineMs, endedMs = 0;
    std::uint32_t lastTick = tickCountMs();
    for (;;) {
        sleepMs(stepMs);
        const std::uint32_t now = tickCountMs(), passed = now - lastTick;
        lastTick = now;
        if (interrupted) {
            next = Next::quit;
            break;
        }
        const int key = readKey();
        if (key == 'q' || key == 'Q') {
            next = Next::quit;
            break;
        }
        if (key == 'n' || key == 'N') break;
        if (key == ' ') {
            paused = !paused;
            // Mixing stops; what is queued plays out, then the output is silent until resumed.
            if (paused)
                sound_stop_background_play();
            else
                sound_start_background_play(0);
        }
        if (const std::string fatal = fatalError(); !fatal.empty()) {
            std::fprintf(stderr, "%svirezplay: %s: %s\n", terminal ? "\n" : "", file.c_str(), fatal.c_str());
            *exitCode = 1;
            break;
        }
        if (!paused) elapsedMs += passed;
        if (follower.ended.load()) {
            // What was mixed before the end is still queued: let it play, then go on.
            endedMs += passed;
            if (endedMs >= liveBufferMs + 2 * stepMs) break;
        }
        sinceLine += passed;
        if (sinceLine >= (terminal ? terminalRedrawMs : plainLineMs)) {
            sinceLine = 0;
            const std::string text = statusText(file, songView(session), elapsedMs / 1000.0, total, paused);
            if (terminal)
                std::printf("\r%s\033[K", fitTerminal(text).c_str());
            else
                std::printf("%s\n", text.c_str());
            std::fflush(stdout);
        }
    }
    if (terminal) std::printf("\n");
    std::fflush(stdout);
    sound_stop_background_play();
    stopFollowing();
    closeLibrary(&session);
    return next;
}


// Files that cannot be read, said before the sound output is opened so that a mistyped name is
// not lost behind what the output has to say. Returns the files that can be read.
std::vector<std::string> readableFiles(const std::vector<std::string>& files, int* exitCode) {
    std::vector<std::string> readable;
    for (const std::string& file : files) {
        if (std::FILE* f = std::fopen(file.c_str(), "rb")) {
            std::fclose(f);
            readable.push_back(file);
            continue;
        }
        const int error = errno;
        std::fprintf(stderr, "virezplay: %s: %s\n", file.c_str(),
                     error == ENOENT ? sound_get_error_message(errFileNotFound) : std::strerror(error));
        *exitCode = 1;
    }
    return readable;
}

} // namespace

int playFiles(const PlayerSettings& settings) {
    int exitCode = 0;
    const std::vector<std::string> files = readableFiles(settings.files, &exitCode);
    if (files.empty()) return exitCode;
    platformInit(sdlBackend());
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    keyboardStart();
    for (const std::string& file : files)
        if (playFile(settings, file, &exitCode) == Next::quit) break;
    keyboardRestore();
    if (interrupted) exitCode = 130;
    platformShutdown(exitCode);
    return exitCode;
}
