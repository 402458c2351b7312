// virezplay's command line (see settings.h).
#include "tools/virezplay/settings.h"

#include <cerrno>
#include <cmath>
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

// Seconds as a plain decimal number (no exponent, no sign), up to the longest song.
bool parseSeconds(const char* text, double* value) {
    if (!text || !*text || std::strspn(text, "0123456789.") != std::strlen(text)) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno || *end || !std::isfinite(v) || v > static_cast<double>(maxSongSeconds)) return false;
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

// One option: its long name, its short letter (0: none), and what it does with its value (null
// for an option that takes none). A handler returns false with *error set for a bad value.
using Handler = bool (*)(PlayerSettings& s, const char* value, std::string* error);
struct Option {
    const char* name;
    char letter;
    bool takesValue;
    Handler handle;
};

bool badValue(const char* option, const char* value, const char* allowed, std::string* error) {
    *error = std::string("bad value for ") + option + ": \"" + value + "\" (" + allowed + ")";
    return false;
}

bool fileName(std::string& into, const char* option, const char* value, std::string* error) {
    if (!*value) {
        *error = std::string(option) + " needs a file name";
        return false;
    }
    into = value;
    return true;
}

// An option without a value: it sets a field.
template <int PlayerSettings::*Field, int Value = 1> bool setFlag(PlayerSettings& s, const char*, std::string*) {
    s.*Field = Value;
    return true;
}

bool number(int& into, const char* option, const char* value, long low, long high, const char* allowed,
            std::string* error) {
    long v = 0;
    if (!parseNumber(value, low, high, &v)) return badValue(option, value, allowed, error);
    into = static_cast<int>(v);
    return true;
}

constexpr Option options[] = {
    {"info", 'i', false, setFlag<&PlayerSettings::info>},
    {"verbose", 'v', false, setFlag<&PlayerSettings::verbose>},
    {"quiet", 'q', false, setFlag<&PlayerSettings::quiet>},
    {"force", 'f', false, setFlag<&PlayerSettings::force>},
    {"wav", 'o', true, [](PlayerSettings& s, const char* v, std::string* e) { return fileName(s.wav, "--wav", v, e); }},
    {"output", 0, true, [](PlayerSettings& s, const char* v, std::string* e) { return fileName(s.wav, "--output", v, e); }},
    {"timeline", 0, true,
     [](PlayerSettings& s, const char* v, std::string* e) { return fileName(s.timeline, "--timeline", v, e); }},
    {"rate", 'r', true,
     [](PlayerSettings& s, const char* v, std::string* e) {
         int rate = 0;
         if (!number(rate, "--rate", v, 8000, 96000, "8000..96000", e)) return false;
         s.rate = static_cast<std::uint32_t>(rate);
         return true;
     }},
    {"interpolation", 0, true,
     [](PlayerSettings& s, const char* v, std::string* e) {
         constexpr const char* kinds[] = {"nearest", "linear", "cubic"}; // in the render interface's order
         for (int k = 0; k < 3; ++k)
             if (std::strcmp(v, kinds[k]) == 0) {
                 s.interpolation = k;
                 return true;
             }
         return badValue("--interpolation", v, "nearest, linear or cubic", e);
     }},
    {"interpolate", 0, false, setFlag<&PlayerSettings::interpolation>},
    {"integer", 0, false, setFlag<&PlayerSettings::integer>},
    {"mono", 0, false, setFlag<&PlayerSettings::mono>},
    {"8bit", 0, false, setFlag<&PlayerSettings::eightBit>},
    {"repeat", 0, true,
     [](PlayerSettings& s, const char* v, std::string* e) {
         return number(s.repeat, "--repeat", v, -1, 1000000, "0 plays once, -1 for ever", e);
     }},
    {"loop", 0, false, setFlag<&PlayerSettings::repeat, -1>},
    {"amp", 0, true,
     [](PlayerSettings& s, const char* v, std::string* e) { return number(s.amplification, "--amp", v, 0, 800, "0..800", e); }},
    {"stereo-separation", 0, true,
     [](PlayerSettings& s, const char* v, std::string* e) {
         return number(s.stereoSeparation, "--stereo-separation", v, 0, 200, "0..200", e);
     }},
    {"subsong", 's', true,
     [](PlayerSettings& s, const char* v, std::string* e) { return number(s.subsong, "--subsong", v, 1, 256, "1..256", e); }},
    {"start", 0, true,
     [](PlayerSettings& s, const char* v, std::string* e) {
         const std::string text = v;
         const std::size_t colon = text.find(':');
         long order = 0, row = 0;
         if (!parseNumber(text.substr(0, colon).c_str(), 0, 255, &order) ||
             (colon != std::string::npos && !parseNumber(text.substr(colon + 1).c_str(), 0, 255, &row)))
             return badValue("--start", v, "ORDER or ORDER:ROW, 0..255 each", e);
         s.startOrder = static_cast<int>(order);
         s.startRow = static_cast<int>(row);
         return true;
     }},
    {"seek", 0, true,
     [](PlayerSettings& s, const char* v, std::string* e) {
         return parseSeconds(v, &s.seekSeconds) || badValue("--seek", v, "seconds, such as 12 or 83.5", e);
     }},
    {"end", 0, true,
     [](PlayerSettings& s, const char* v, std::string* e) {
         return parseSeconds(v, &s.endSeconds) || badValue("--end", v, "seconds, such as 12 or 83.5", e);
     }},
};

const Option* byName(const std::string& name) {
    for (const Option& o : options)
        if (name == o.name) return &o;
    return nullptr;
}

const Option* byLetter(char letter) {
    for (const Option& o : options)
        if (o.letter != 0 && o.letter == letter) return &o;
    return nullptr;
}

bool refuse(std::string* error, const char* why) {
    *error = why;
    return false;
}

// The checks that look at the options together.
bool consistent(const PlayerSettings& s, std::string* error) {
    if (s.files.empty()) return refuse(error, "no module file given");
    if (!s.timeline.empty() && s.wav.empty()) return refuse(error, "--timeline goes with --wav");
    if (s.integer && s.interpolation != 0)
        return refuse(error, "--integer goes with nearest interpolation only (interpolation mixes in floating point)");
    if (s.info && !s.wav.empty()) return refuse(error, "--info and --wav do not go together");
    if (s.startOrder >= 0 && s.seekSeconds >= 0) return refuse(error, "--start and --seek do not go together");
    if (s.endSeconds >= 0 && s.seekSeconds >= 0 && s.endSeconds <= s.seekSeconds)
        return refuse(error, "--end must come after --seek");
    if (s.wav == "-" && s.timeline == "-") return refuse(error, "--wav and --timeline cannot both go to standard output");
    const int count = static_cast<int>(s.files.size());
    for (const std::string* given : {&s.wav, &s.timeline})
        if (!given->empty() && outputName(*given, s.files[0], "", count, error).empty()) return false;
    return true;
}

} // namespace

const char* usageText() {
    return "usage: virezplay [options] FILE...\n"
           "Plays Extended Module, Scream Tracker 3, Impulse Tracker and Protracker files through the\n"
           "sound output, renders them to WAVE files, or describes them.\n"
           "\n"
           "What to do:\n"
           "  -i, --info            describe each file (format, name, channels, orders, patterns,\n"
           "                        instruments, samples, duration as m:ss.mmm, its subsongs) and play\n"
           "                        nothing\n"
           "  -v, --verbose         with --info: the names of the instruments and samples, and the\n"
           "                        song's message where the format has one\n"
           "  -o, --wav OUT         render to a WAVE file instead of playing, as fast as possible; OUT\n"
           "                        may be - (standard output, one file only) or /dev/null; for several\n"
           "                        files use DIR/ or a %s in the name (--output OUT is the same)\n"
           "      --timeline FILE   with --wav: a line 'seconds order row' at the start of every row\n"
           "  -f, --force           let the rendered files replace existing ones (without it an\n"
           "                        existing file is an error and nothing is rendered)\n"
           "\n"
           "What to play:\n"
           "  -s, --subsong N       play subsong N (1, the default, is the song from the first order;\n"
           "                        --info lists them)\n"
           "      --start ORDER[:ROW]  begin at an order position (and row), exactly as playing from\n"
           "                        the start gets there\n"
           "      --seek SECONDS    begin that far into the song (12 or 83.5), exactly\n"
           "      --end SECONDS     stop at that time of the song\n"
           "      --repeat N        play the song N more times after its end (0, the default, plays\n"
           "                        it once; -1 for ever, up to 30 minutes with --wav)\n"
           "      --loop            the same as --repeat -1\n"
           "\n"
           "How it sounds:\n"
           "  -r, --rate HZ         mixing rate, 8000..96000 (default 44100)\n"
           "      --interpolation nearest|linear|cubic  how samples are read between their points:\n"
           "                        the nearest point (default, as the old trackers played), a straight\n"
           "                        line, or a curve through four points (--interpolate is linear)\n"
           "      --integer         mix through volume tables in integers (nearest only; the default\n"
           "                        mixes in floating point)\n"
           "      --stereo-separation PERCENT  0 puts every channel in the middle, 100 (default) pans\n"
           "                        them as the song does, up to 200 twice as wide\n"
           "      --mono            mono output\n"
           "      --8bit            8-bit output\n"
           "      --amp PERCENT     amplification, 0..800 (default 100)\n"
           "\n"
           "  -q, --quiet           no progress lines, status line or summary\n"
           "  -h, --help            this text\n"
           "  -V, --version         the program's and the sound library's version\n"
           "Options take their value as the next word or after '=' (--rate=22050).\n"
           "\n"
           "While playing: space pauses, left and right arrows go 10 seconds back and on, up and down\n"
           "arrows (or + and -) make it louder and softer, n goes to the next file and p to the one\n"
           "before, h lists the keys, q or Ctrl-C stops.\n"
           "\n"
           "While rendering to a file, a progress line for each file (name, percent, speed as times\n"
           "real time) and a summary at the end go to standard error when it is a terminal.\n"
           "Rendered files are written under a temporary name beside the target and take their\n"
           "name when complete: a render that fails or is interrupted leaves nothing behind.\n"
           "A file whose sample data ends early plays with the data that is there; one line says\n"
           "what was missing.\n"
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
        const std::string word = argv[i];
        if (optionsEnd || word.size() < 2 || word[0] != '-') {
            s.files.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnd = true;
            continue;
        }
        const Option* option = nullptr;
        std::string shown; // the option as the user wrote it, for messages
        const char* value = nullptr;
        std::string inline_;
        if (word[1] == '-') {
            const std::size_t equals = word.find('=');
            const std::string name = word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            shown = "--" + name;
            if (name == "help") return parseHelp;
            if (name == "version") return parseVersion;
            option = byName(name);
            if (option && equals != std::string::npos) {
                if (!option->takesValue) {
                    *error = shown + " takes no value";
                    return parseError;
                }
                inline_ = word.substr(equals + 1);
                value = inline_.c_str();
            }
        } else {
            shown = word.substr(0, 2);
            if (word[1] == 'h') return parseHelp;
            if (word[1] == 'V') return parseVersion;
            option = byLetter(word[1]);
            if (option && word.size() > 2) {
                if (!option->takesValue) {
                    *error = "unknown option " + word;
                    return parseError;
                }
                inline_ = word.substr(2);
                value = inline_.c_str();
            }
        }
        if (!option) {
            *error = "unknown option " + shown;
            return parseError;
        }
        if (option->takesValue && !value) {
            if (i + 1 >= argc) {
                *error = shown + " needs a value";
                return parseError;
            }
            value = argv[++i];
        }
        if (!option->handle(s, value ? value : "", error)) return parseError;
    }
    if (!consistent(s, error)) return parseError;
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
