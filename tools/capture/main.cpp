// morva-capture: runs the show's own main routine on the headless back end and records what it
// shows and plays into a folder. Its exit code is the program's.
#include <algorithm>
#include <cerrno>
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

void usage() {
    std::fputs("usage: morva-capture [--out DIR] [--mode TEXT] [--modes WxHxB,...] [--format 565|555]\n"
               "                     [--pitch BYTES] [--refuse-mode WxHxB] [--audio ok|none|busy]\n"
               "                     [--escape-at MS] [--stills MS,MS,...] [--mp4 FILE] [--realtime]\n",
               stderr);
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

int bad(const char* option, const char* value) {
    std::fprintf(stderr, "morva-capture: bad value for %s: \"%s\"\n", option, value ? value : "");
    usage();
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    HeadlessOptions options;
    options.modes = headlessAllModes();
    CaptureSettings settings;
    settings.folder = "capture";
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--realtime") {
            options.realtime = 1;
            continue;
        }
        if (option == "--help" || option == "-h") {
            usage();
            return 0;
        }
        // Options that take a value; anything else is unknown, with or without a value after it.
        static const char* const withValue[] = {"--out",    "--mode",        "--modes", "--format",
                                                "--pitch",  "--refuse-mode", "--audio", "--escape-at",
                                                "--stills", "--mp4"};
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
            options.pick = value;
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

    std::error_code error;
    std::filesystem::create_directories(settings.folder, error);
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
