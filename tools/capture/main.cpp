// morva-capture: runs the show's own main routine on the headless back end and records what it
// shows and plays into a folder. Its exit code is the program's, unless the run reached its
// bound of show time or a file could not be written (codes of its own, tools/capture/recorder.h).
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>

#include "demo/demo.h"
#include "platform/headless.h"
#include "tools/capture/recorder.h"

namespace {

// Well above the show's 163 seconds: a run that gets there does not end by itself.
constexpr long long defaultMaxSeconds = 600;
constexpr long long largestMaxSeconds = 86'400;

constexpr const char* usageText =
    "usage: morva-capture [--out DIR] [--mode TEXT] [--modes WxHxB,...] [--format 565|555]\n"
    "                     [--pitch BYTES] [--refuse-mode WxHxB] [--audio ok|none|busy]\n"
    "                     [--audio-setup \"ACTION;ACTION;...\"] [--escape-at MS]\n"
    "                     [--stills MS,MS,...] [--mp4 FILE] [--max-seconds S]\n"
    "                     [--settings-folder DIR] [--realtime]\n";

// The short form after a mistake, on standard error.
void usage() {
    std::fputs(usageText, stderr);
    std::fputs("morva-capture --help explains every option\n", stderr);
}

// Everything, on standard output.
void help(const std::vector<std::string>& modeTexts) {
    std::fputs(usageText, stdout);
    std::fputs(
        "\n"
        "Runs the Morva show headless, from the folder that holds its data (morva.flb, mopart1.xm,\n"
        "mopart2.xm: build/data), on a virtual clock: as fast as the processor allows, and two runs\n"
        "with the same options record the same bytes. A user takes the defaults in the configuration\n"
        "window and presses \"GO!\" unless the options say otherwise.\n"
        "\n"
        "Options:\n"
        "  --out DIR          folder for the recording, made when missing (default: capture)\n"
        "  --mode TEXT        the mode list entry chosen before \"GO!\" (default: 320x240x16, or the\n"
        "                     list's first entry when that is not offered); see the list below\n"
        "  --modes WxHxB,...  the display modes the headless display offers, in this order; widths\n"
        "                     and heights up to 4096, B 16, 24 or 32 (default: 320x200, 320x240,\n"
        "                     512x384, 640x400 and 640x480, each at 16, 24 and 32 bits)\n"
        "  --format 565|555   pixel layout of 16-bit modes (default: 565)\n"
        "  --pitch BYTES      bytes from one line of the display's surface to the next, at least a\n"
        "                     row of the chosen mode, at most 65536 (default: exactly a row)\n"
        "  --refuse-mode WxHxB  a mode the display lists but refuses to switch to (default: none)\n"
        "  --audio ok|none|busy  the sound output: a working one, none at all, or one that is\n"
        "                     present but busy (default: ok)\n"
        "  --audio-setup \"ACTION;...\"  what the user does in the sound setup before \"GO!\", in\n"
        "                     order: open (\"Audio Config\"), preset=TEXT (a quality, or \"No Sound\"),\n"
        "                     card=No Sound|Default, stereo=0|1, never-directsound=0|1, buffer=MS,\n"
        "                     dsound-buffer=MS, custom, rate=HZ, mixing=normal|interpolating, ok,\n"
        "                     cancel, key:tab|enter|escape|..., or NAME[=VALUE] for any control by\n"
        "                     its text; e.g. \"open;preset=&High;stereo=0;buffer=200;ok\" (default: none)\n"
        "  --escape-at MS     press Escape at this many milliseconds of show time (default: never)\n"
        "  --stills MS,...    write a PNG of the screen at each of these times (default: none)\n"
        "  --mp4 FILE         make a movie of video and sound at the end with ffmpeg, when it is\n"
        "                     installed (default: none)\n"
        "  --max-seconds S    stop the run after S seconds of show time, 1 to 86400, with complete\n"
        "                     files and exit code 5: a show that does not end by itself (a music\n"
        "                     module that is missing or damaged stops the music, and the show waits\n"
        "                     for Escape) would otherwise record until the disk is full (default: 600)\n"
        "  --settings-folder DIR  start from the sound setup kept in DIR/sound-setup.bin and keep\n"
        "                     one confirmed with \"ok\" there, as morva does in ~/.config/morva\n"
        "                     (default: none: every run starts from the default sound setup and\n"
        "                     keeps nothing, so that runs repeat whatever a user has kept)\n"
        "  --realtime         run on the real clock instead of the virtual one (default: virtual)\n"
        "  -h, --help         this text\n"
        "\n",
        stdout);
    std::fputs("Mode texts for --mode on the default display:\n", stdout);
    for (const std::string& text : modeTexts)
        std::printf("  \"%s\"\n", text.c_str());
    std::fputs(
        "\n"
        "Written into the output folder (earlier stills, video and sound there are removed first):\n"
        "  events.tsv       the event log: log lines, message boxes, the video mode, presented\n"
        "                   frames, play status, the exit code; one line each, tab-separated\n"
        "  video.y4m        the screen at 30 frames per second of show time (once a mode is set)\n"
        "  audio.wav        the sound as played, 16-bit stereo\n"
        "  still-MS.png     one for each time of --stills\n"
        "At the end a line on standard output says how long the show ran, how many frames it\n"
        "presented, and which files were written.\n"
        "\n"
        "Exit codes: the show's own, as morva has them: 1 its normal end, or a set-up error shown in\n"
        "a message box (its text and cause on standard error); 0 ended by Escape (--escape-at) or a\n"
        "closed window; 255 a fatal sound-library error. And the capture's own:\n"
        "  2  a bad option, or the output folder cannot be written\n"
        "  5  stopped at --max-seconds: the show did not end by itself; a line on standard error\n"
        "     says whether the music had stopped advancing (and where) or was still playing\n"
        "  6  a file could not be written during the run (the disk is full, a file size limit):\n"
        "     the capture stops at once, names the file and the system's reason, and removes\n"
        "     the incomplete file\n",
        stdout);
}

bool parseNumber(const char* text, long long low, long long high, long long* value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (errno || *end || v < low || v > high) return false;
    *value = v;
    return true;
}

// Splits a comma-separated list; empty items are an error.
bool splitList(const char* text, std::vector<std::string>* items) {
    std::string all = text ? text : "";
    if (all.empty()) return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = all.find(',', start);
        const std::string item =
            all.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item.empty()) return false;
        items->push_back(item);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

// One action of --audio-setup in the form the headless user takes (platform/headless.h). Returns
// false for an action it cannot be.
bool audioSetupAction(const std::string& item, std::string* action) {
    const std::size_t equals = item.find('=');
    const std::string word = item.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
    const bool hasValue = equals != std::string::npos;
    const bool flag = value == "0" || value == "1";
    struct Alias {
        const char* word;
        const char* control; // the control the word stands for
        enum { none, any, zeroOrOne } takes;
    };
    static const Alias aliases[] = {
        {"open", "Audio Config", Alias::none},
        {"ok", "OK", Alias::none},
        {"cancel", "Cancel", Alias::none},
        {"custom", "Custom...", Alias::none},
        {"card", "Sound Card:", Alias::any},
        {"stereo", "Stereo", Alias::zeroOrOne},
        {"never-directsound", "Never Use DirectSound", Alias::zeroOrOne},
        {"buffer", "Buffer Length:", Alias::any},
        {"dsound-buffer", "DirectSound Buffer:", Alias::any},
        {"rate", "Mixing Rate:", Alias::any},
    };
    for (const Alias& alias : aliases) {
        if (word != alias.word) continue;
        if ((alias.takes == Alias::none) == hasValue) return false;
        if (alias.takes == Alias::zeroOrOne && !flag) return false;
        *action = hasValue ? std::string(alias.control) + "=" + value : alias.control;
        return true;
    }
    if (word == "preset") {
        // A quality by its text; "No Sound", not a quality but the device list's entry, works too.
        if (value.empty()) return false;
        *action = value;
        return true;
    }
    if (word == "mixing") {
        if (value != "normal" && value != "interpolating") return false;
        *action = value == "normal" ? "Normal (low quality)" : "Interpolating (high quality)";
        return true;
    }
    *action = item; // any control by its text, or key:KEY
    return !item.empty();
}

int bad(const char* option, const char* value) {
    std::fprintf(stderr, "morva-capture: bad value for %s: \"%s\"\n", option, value ? value : "");
    usage();
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    // Past a file size limit a write fails and is reported like a full disk, rather than the
    // signal ending the process without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    HeadlessOptions options;
    options.modes = headlessAllModes();
    CaptureSettings settings;
    settings.folder = "capture";
    settings.maxSeconds = defaultMaxSeconds;
    std::string modeText;
    std::vector<std::string> audioSetup;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--realtime") {
            options.realtime = 1;
            continue;
        }
        if (option == "--help" || option == "-h") {
            setBufferFormat(defaultSettings().bufferType);
            help(modeEntryTexts(headlessAllModes()));
            return 0;
        }
        // Options that take a value; anything else is unknown, with or without a value after it.
        static const char* const withValue[] = {"--out",       "--mode",        "--modes", "--format",
                                                "--pitch",     "--refuse-mode", "--audio", "--audio-setup",
                                                "--escape-at", "--stills",      "--mp4",   "--max-seconds",
                                                "--settings-folder"};
        if (std::none_of(std::begin(withValue), std::end(withValue),
                         [&](const char* known) { return option == known; })) {
            std::fprintf(stderr, "morva-capture: unknown option %s\n", option.c_str());
            usage();
            return 2;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "morva-capture: %s needs a value\n", option.c_str());
            usage();
            return 2;
        }
        const char* value = argv[++i];
        long long number = 0;
        if (option == "--out") {
            if (!*value) return bad("--out", value);
            settings.folder = value;
        } else if (option == "--mode") {
            modeText = value;
        } else if (option == "--audio-setup") {
            std::string all = value;
            for (std::size_t start = 0; start <= all.size();) {
                std::size_t end = all.find(';', start);
                if (end == std::string::npos) end = all.size();
                std::string action;
                if (!audioSetupAction(all.substr(start, end - start), &action))
                    return bad("--audio-setup", all.substr(start, end - start).c_str());
                audioSetup.push_back(action);
                start = end + 1;
            }
        } else if (option == "--modes") {
            std::vector<std::string> items;
            if (!splitList(value, &items)) return bad("--modes", value);
            options.modes.clear();
            for (const std::string& item : items) {
                DisplayMode mode;
                if (!parseModeText(item.c_str(), &mode)) return bad("--modes", item.c_str());
                options.modes.push_back(mode);
            }
        } else if (option == "--format") {
            if (std::strcmp(value, "565") == 0)
                options.format555 = 0;
            else if (std::strcmp(value, "555") == 0)
                options.format555 = 1;
            else
                return bad("--format", value);
        } else if (option == "--pitch") {
            if (!parseNumber(value, 1, 1 << 16, &number)) return bad("--pitch", value);
            options.pitch = static_cast<std::int32_t>(number);
        } else if (option == "--refuse-mode") {
            if (!parseModeText(value, &options.refused)) return bad("--refuse-mode", value);
        } else if (option == "--audio") {
            if (std::strcmp(value, "ok") == 0)
                options.audio = headlessAudioOk;
            else if (std::strcmp(value, "none") == 0)
                options.audio = headlessAudioNone;
            else if (std::strcmp(value, "busy") == 0)
                options.audio = headlessAudioBusy;
            else
                return bad("--audio", value);
        } else if (option == "--escape-at") {
            if (!parseNumber(value, 0, 1LL << 40, &number)) return bad("--escape-at", value);
            options.escapeAtMs = number;
        } else if (option == "--settings-folder") {
            if (!*value) return bad("--settings-folder", value);
            options.settingsFolder = value;
        } else if (option == "--max-seconds") {
            if (!parseNumber(value, 1, largestMaxSeconds, &number)) return bad("--max-seconds", value);
            settings.maxSeconds = number;
        } else if (option == "--mp4") {
            if (!*value) return bad("--mp4", value);
            settings.mp4 = value;
        } else if (option == "--stills") {
            std::vector<std::string> items;
            if (!splitList(value, &items)) return bad("--stills", value);
            for (const std::string& item : items) {
                if (!parseNumber(item.c_str(), 0, 1LL << 40, &number)) return bad("--stills", item.c_str());
                settings.stills.push_back(number);
            }
        }
    }

    // The mode the user will pick, from the list the configuration window will show.
    setBufferFormat(defaultSettings().bufferType);
    const std::vector<std::string> modeTexts = modeEntryTexts(options.modes);
    if (!modeText.empty() && std::find(modeTexts.begin(), modeTexts.end(), modeText) == modeTexts.end()) {
        std::fprintf(stderr, "morva-capture: there is no mode \"%s\" in the mode list; %s\n", modeText.c_str(),
                     modeTexts.empty() ? "the list is empty for these --modes" : "the list offers:");
        for (const std::string& text : modeTexts)
            std::fprintf(stderr, "  \"%s\"\n", text.c_str());
        return 2;
    }
    std::string chosen = modeText;
    if (chosen.empty() && !modeTexts.empty()) {
        const char* preferred = defaultModeText(defaultSettings().modeIndex, defaultSettings().interlaced);
        const bool offered =
            preferred && std::find(modeTexts.begin(), modeTexts.end(), preferred) != modeTexts.end();
        chosen = offered ? preferred : modeTexts.front();
    }
    int width = 0, height = 0, bits = 0;
    if (options.pitch > 0 && std::sscanf(chosen.c_str(), "%dx%dx%d", &width, &height, &bits) == 3) {
        const std::int32_t row = width * ((bits - 1) / 8 + 1);
        if (options.pitch < row) {
            std::fprintf(stderr, "morva-capture: --pitch %d is less than a row of the mode \"%s\" (%d bytes)\n",
                         options.pitch, chosen.c_str(), row);
            return 2;
        }
    }

    // The user: the sound setup first, then the mode, then "GO!".
    options.script = audioSetup;
    if (!modeText.empty()) options.script.push_back("select=" + modeText);
    options.script.push_back("GO!");

    // The bound of show time, from the start of the program.
    options.stopAtMs = settings.maxSeconds * 1000;
    options.stopExitCode = captureExitStopped;

    std::error_code error;
    std::filesystem::create_directories(settings.folder, error);
    if (error) {
        std::fprintf(stderr, "morva-capture: cannot make the folder %s: %s\n", settings.folder.c_str(),
                     error.message().c_str());
        return 2;
    }
    // Stills of an earlier run would pass for this one's.
    for (const auto& entry : std::filesystem::directory_iterator(settings.folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("still-", 0) == 0 && entry.path().extension() == ".png")
            std::filesystem::remove(entry.path(), error);
    }
    HeadlessRecorder recorder{};
    if (!captureOpen(settings, &recorder)) return 2;
    headlessConfigure(options, recorder);
    platformInit(headlessBackend());
    const int exitCode = demoMain();
    platformShutdown(exitCode);
    return exitCode;
}
