// virezplay's command line (see settings.h).
#include "tools/virezplay/settings.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

bool parseNumber(const char* text, long low, long high, long* value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno || *end || v < low || v > high) return false;
    *value = v;
    return true;
}

bool isStream(const std::string& name) {
    return name == "-" || name == "/dev/null";
}

// The file's name without its folders and its last extension.
std::string baseName(const std::string& input) {
    std::string name = std::filesystem::path(input).filename().string();
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name.empty() ? "out" : name;
}

} // namespace

const char* usageText() {
    return "usage: virezplay [options] FILE...\n"
           "Plays Extended Module, Scream Tracker 3, Impulse Tracker and Protracker files.\n"
           "\n"
           "  --info             describe each file (format, name, channels, orders, patterns,\n"
           "                     instruments, samples, duration in seconds) and play nothing\n"
           "  --wav OUT          render to a WAVE file instead of playing, as fast as possible, until\n"
           "                     the song has wrapped once; OUT may be - (standard output, one file\n"
           "                     only) or /dev/null; for several files use DIR/ or a %s in the name\n"
           "  --timeline FILE    with --wav: a line 'seconds order row' at the start of every row\n"
           "  --force            let the rendered files replace existing ones (without it an existing\n"
           "                     file is an error and nothing is rendered)\n"
           "  --rate HZ          mixing rate, 8000..96000 (default 44100)\n"
           "  --interpolate      interpolating mixing\n"
           "  --integer          integer mixing through volume tables (without --interpolate;\n"
           "                     the default mixes in floating point)\n"
           "  --mono             mono output\n"
           "  --8bit             8-bit output\n"
           "  --loop             play each song round and round (up to 30 minutes with --wav)\n"
           "  --amp PERCENT      amplification, 0..800 (default 100)\n"
           "  --help             this text\n"
           "  --version          the program's and the sound library's version\n"
           "\n"
           "Keys while playing: space pauses, n goes to the next file, q or Ctrl-C stops.\n"
           "\n"
           "Rendered files are written under a temporary name beside the target and take their\n"
           "name when complete: a render that fails or is interrupted leaves nothing behind.\n"
           "\n"
           "Exit code: 0 when every file played, 1 when a file could not be loaded, played or\n"
           "written (the other files still play), 2 for a bad command line or outputs refused\n"
           "before anything is rendered (an existing file without --force, two files to one\n"
           "output, several files to standard output), 130 after Ctrl-C (143 after SIGTERM).\n";
}

int parseCommandLine(int argc, const char* const* argv, PlayerSettings* settings, std::string* error) {
    PlayerSettings s;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (optionsEnd || option.empty() || option[0] != '-' || option == "-") {
            s.files.push_back(option);
            continue;
        }
        if (option == "--") {
            optionsEnd = true;
            continue;
        }
        if (option == "--help" || option == "-h") return parseHelp;
        if (option == "--version") return parseVersion;
        if (option == "--info") {
            s.info = 1;
        } else if (option == "--interpolate") {
            s.interpolate = 1;
        } else if (option == "--integer") {
            s.integer = 1;
        } else if (option == "--mono") {
            s.mono = 1;
        } else if (option == "--8bit") {
            s.eightBit = 1;
        } else if (option == "--loop") {
            s.loop = 1;
        } else if (option == "--force") {
            s.force = 1;
        } else if (option == "--wav" || option == "--timeline" || option == "--rate" || option == "--amp") {
            if (i + 1 >= argc) {
                *error = option + " needs a value";
                return parseError;
            }
            const char* value = argv[++i];
            long number = 0;
            if (option == "--wav" || option == "--timeline") {
                if (!*value) {
                    *error = option + " needs a file name";
                    return parseError;
                }
                (option == "--wav" ? s.wav : s.timeline) = value;
            } else if (option == "--rate") {
                if (!parseNumber(value, 8000, 96000, &number)) {
                    *error = std::string("bad value for --rate: \"") + value + "\" (8000..96000)";
                    return parseError;
                }
                s.rate = static_cast<std::uint32_t>(number);
            } else {
                if (!parseNumber(value, 0, 800, &number)) {
                    *error = std::string("bad value for --amp: \"") + value + "\" (0..800)";
                    return parseError;
                }
                s.amplification = static_cast<int>(number);
            }
        } else {
            *error = "unknown option " + option;
            return parseError;
        }
    }
    if (s.files.empty()) {
        *error = "no module file given";
        return parseError;
    }
    if (!s.timeline.empty() && s.wav.empty()) {
        *error = "--timeline goes with --wav";
        return parseError;
    }
    if (s.integer && s.interpolate) {
        *error = "--integer and --interpolate do not go together (interpolation mixes in floating point)";
        return parseError;
    }
    if (s.info && !s.wav.empty()) {
        *error = "--info and --wav do not go together";
        return parseError;
    }
    if (s.wav == "-" && s.timeline == "-") {
        *error = "--wav and --timeline cannot both go to standard output";
        return parseError;
    }
    const int count = static_cast<int>(s.files.size());
    for (const std::string* given : {&s.wav, &s.timeline})
        if (!given->empty() && outputName(*given, s.files[0], "", count, error).empty()) return parseError;
    *settings = s;
    return parseRun;
}

std::string outputName(const std::string& given, const std::string& input, const char* extension,
                       int fileCount, std::string* error) {
    if (isStream(given)) return given;
    std::error_code ignored;
    if (given.back() == '/' || std::filesystem::is_directory(given, ignored)) {
        std::string folder = given;
        if (folder.back() != '/') folder += '/';
        return folder + baseName(input) + extension;
    }
    if (given.find("%s") != std::string::npos) {
        std::string name = given;
        const std::string base = baseName(input);
        for (std::size_t at = name.find("%s"); at != std::string::npos;
             at = name.find("%s", at + base.size()))
            name.replace(at, 2, base);
        return name;
    }
    if (fileCount > 1) {
        *error = "with several files, \"" + given + "\" needs to be a folder (DIR/) or hold %s";
        return {};
    }
    return given;
}
