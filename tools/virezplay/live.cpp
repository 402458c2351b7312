// Live play (see live.h).
#include "tools/virezplay/live.h"

#include <algorithm>
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
#include "tools/virezplay/session.h"
#include "tools/virezplay/speaker.h"

namespace {

// About 20 ms a block and ten of them: a key is heard at once, and the output never runs dry.
constexpr std::uint32_t blockMs = 20;
constexpr std::uint32_t blockCount = 10;
constexpr std::uint32_t stepMs = 10; // how often keys and the output are looked at
constexpr std::uint32_t terminalRedrawMs = 100;
constexpr std::uint32_t plainLineMs = 1000; // status lines when the output is no terminal
constexpr double seekSeconds = 10;
constexpr int volumeStep = 10; // percent
constexpr int maxVolume = 800;

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

enum class Key { none, pause, back, forward, louder, softer, next, previous, help, quit };

int readByte() {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, 0) <= 0) return -1;
    unsigned char byte = 0;
    return read(STDIN_FILENO, &byte, 1) == 1 ? byte : -1;
}

// The key pressed since the last look: letters, and the arrows' escape sequences (ESC [ A..D).
Key readKey() {
    if (!keyboard.active) return Key::none;
    const int c = readByte();
    switch (c) {
    case ' ': return Key::pause;
    case 'q': case 'Q': return Key::quit;
    case 'n': case 'N': return Key::next;
    case 'p': case 'P': return Key::previous;
    case 'h': case 'H': case '?': return Key::help;
    case '+': case '=': return Key::louder;
    case '-': case '_': return Key::softer;
    case 0x1b: break;
    default: return Key::none;
    }
    if (readByte() != '[') return Key::none;
    switch (readByte()) {
    case 'A': return Key::louder;
    case 'B': return Key::softer;
    case 'C': return Key::forward;
    case 'D': return Key::back;
    default: return Key::none;
    }
}

const char* keyList() {
    return "keys:\n"
           "  space         pause, and play on\n"
           "  left, right   10 seconds back, and on\n"
           "  up, down      louder, softer (also + and -)\n"
           "  n, p          the next file, the file before\n"
           "  h             this list\n"
           "  q, Ctrl-C     stop\n";
}

// The terminal's width, or 0 when standard output is no terminal.
int terminalWidth() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col;
    return 0;
}

// The status line: time and position first, then the file's name, shortened from its start
// (keeping its end) so that the line fits into width columns (0: no limit).
std::string statusLine(const std::string& state, const std::string& file, int width) {
    std::string line = state + "  " + file;
    if (width <= 0 || static_cast<int>(line.size()) < width) return line;
    const int room = width - 1 - static_cast<int>(state.size()) - 2;
    if (room >= 8) return state + "  ..." + file.substr(file.size() - static_cast<std::size_t>(room - 3));
    return state.substr(0, static_cast<std::size_t>(width - 1));
}

struct Player {
    const PlayerSettings& settings;
    Speaker* speaker = nullptr;
    bool terminal = false;
    int volume = 100;
    int exitCode = 0;
};

enum class Next { forward, back, quit };

// What the status line says before the file's name.
std::string stateText(const Song& song, const HeardPosition& heard, std::uint32_t rate, bool paused, int volume) {
    const std::int64_t duration = sound_render_duration(song.render);
    char text[160];
    std::snprintf(text, sizeof text, "%s / %s  order %d/%d  row %d%s", clockText(double(heard.frame) / rate).c_str(),
                  duration < 0 ? "?" : clockText(double(duration) / rate).c_str(), heard.order, song.info.orders,
                  heard.row, paused ? "  (paused)" : "");
    std::string state = text;
    if (volume != 100) state += "  volume " + std::to_string(volume) + "%";
    return state;
}

void printTitle(const std::string& file, const Song& song) {
    const std::int32_t subsongs = sound_render_subsong_count(song.render);
    std::printf("%s: \"%s\", %s, %d channels%s\n", file.c_str(), printableText(song.info.name).c_str(),
                song.info.format, song.info.channels,
                subsongs > 1 ? (", " + std::to_string(subsongs) + " subsongs").c_str() : "");
    std::fflush(stdout);
}

// Plays one file to its end or to a key.
Next playFile(Player& p, const std::string& file) {
    std::string error;
    Song song;
    if (!openSong(p.settings, file, &song, &error)) {
        std::fprintf(stderr, "virezplay: %s: %s\n", file.c_str(), error.c_str());
        p.exitCode = 1;
        return Next::forward;
    }
    sound_render_set_amplification(song.render, p.volume);
    printTitle(file, song);
    const std::uint32_t rate = p.settings.rate;
    const std::int64_t stop = p.settings.endSeconds >= 0 ? std::int64_t(p.settings.endSeconds * rate) : -1;
    Next next = Next::forward;
    bool paused = false, ended = false;
    std::uint32_t sinceLine = p.terminal ? terminalRedrawMs : plainLineMs;
    HeardPosition heard{};
    const auto where = [&song] {
        SoundPosition at{};
        sound_render_get_position(song.render, &at);
        return HeardPosition{at.frame, at.order, at.row};
    };
    // Goes to frame (from what is heard), dropping what was queued.
    const auto seek = [&](std::int64_t frame) {
        speakerFlush(p.speaker);
        sound_render_seek(song.render, std::max<std::int64_t>(frame, 0));
        ended = false;
    };
    for (;;) {
        if (interrupted) {
            next = Next::quit;
            break;
        }
        heard = speakerHeard(p.speaker, where());
        const Key key = readKey();
        if (key == Key::quit) {
            next = Next::quit;
            break;
        }
        if (key == Key::next) break;
        if (key == Key::previous) {
            next = Next::back;
            break;
        }
        if (key == Key::help) {
            std::printf("%s%s", p.terminal ? "\r\033[K" : "", keyList());
            sinceLine = terminalRedrawMs;
        }
        if (key == Key::pause) {
            paused = !paused;
            // What was queued is dropped, and playing on starts where the sound was stopped.
            if (paused) seek(heard.frame);
        }
        if (key == Key::back || key == Key::forward)
            seek(heard.frame + std::int64_t((key == Key::back ? -seekSeconds : seekSeconds) * rate));
        if (key == Key::louder || key == Key::softer) {
            p.volume = std::clamp(p.volume + (key == Key::louder ? volumeStep : -volumeStep), 0, maxVolume);
            sound_render_set_amplification(song.render, p.volume);
        }
        if (!paused && !ended) {
            const std::int64_t limit = stop >= 0 ? std::max<std::int64_t>(stop - where().frame, 0) : -1;
            if (speakerFill(p.speaker, song.render, limit, &ended) < 0) {
                std::fprintf(stderr, "%svirezplay: %s: %s\n", p.terminal ? "\n" : "", file.c_str(),
                             sound_render_error_message(sound_render_last_error()));
                p.exitCode = 1;
                break;
            }
        }
        // What was rendered before the end plays out, then the next file.
        if (ended && speakerDrained(p.speaker)) break;
        sinceLine += stepMs;
        if (!p.settings.quiet && sinceLine >= (p.terminal ? terminalRedrawMs : plainLineMs)) {
            sinceLine = 0;
            const std::string state = stateText(song, heard, rate, paused, p.volume);
            if (p.terminal)
                std::printf("\r%s\033[K", statusLine(state, file, terminalWidth()).c_str());
            else
                std::printf("%s\n", statusLine(state, file, 0).c_str());
            std::fflush(stdout);
        }
        sleepMs(stepMs);
    }
    if (p.terminal && !p.settings.quiet) std::printf("\n");
    std::fflush(stdout);
    speakerFlush(p.speaker);
    closeSong(&song);
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
                     error == ENOENT ? "File does not exist" : std::strerror(error));
        *exitCode = 1;
    }
    return readable;
}

} // namespace

int playFiles(const PlayerSettings& settings) {
    Player p{settings};
    p.volume = settings.amplification;
    const std::vector<std::string> files = readableFiles(settings.files, &p.exitCode);
    if (files.empty()) return p.exitCode;
    platformInit(sdlBackend());
    const WaveFormat format{settings.rate, static_cast<std::uint16_t>(settings.mono ? 1 : 2),
                            static_cast<std::uint16_t>(settings.eightBit ? 8 : 16)};
    std::string why;
    p.speaker = speakerOpen(format, std::max<std::uint32_t>(settings.rate * blockMs / 1000, 64), blockCount, &why);
    if (!p.speaker) {
        std::fprintf(stderr, "virezplay: no sound output could be opened%s%s (use --wav FILE to render to a file)\n",
                     why.empty() ? "" : ": ", why.c_str());
        platformShutdown(1);
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    p.terminal = isatty(STDOUT_FILENO);
    keyboardStart();
    for (std::size_t k = 0; k < files.size();) {
        const Next next = playFile(p, files[k]);
        if (next == Next::quit) break;
        if (next == Next::back)
            k = k > 0 ? k - 1 : 0;
        else
            ++k;
    }
    keyboardRestore();
    speakerClose(p.speaker);
    if (interrupted) p.exitCode = 130;
    platformShutdown(p.exitCode);
    return p.exitCode;
}
