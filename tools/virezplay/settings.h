// virezplay's command line: the options and the files, and the names of the files it writes.
//
// Options take their value as the next word or after "=" (--rate 22050, --rate=22050); the
// common ones have a short form (-o OUT, -q, -h, -V, ...), whose value may also follow at once
// (-oOUT). "--" ends the options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The longest stretch of a song virezplay renders or plays through to its end.
inline constexpr std::int64_t maxSongSeconds = 30 * 60;

struct PlayerSettings {
    std::vector<std::string> files;
    int info = 0;         // --info: describe each file instead of playing it
    int verbose = 0;      // --verbose: --info names the instruments and samples and shows the message
    std::string wav;      // --wav OUT (-o): render offline into OUT (empty: play live)
    std::string timeline; // --timeline FILE: row start times of the rendering
    std::uint32_t rate = 44100;
    int interpolation = 0; // 0 nearest, 1 linear, 2 cubic
    int integer = 0;       // --integer: the integer mixing family instead of floating point
    int mono = 0;
    int eightBit = 0;
    int repeat = 0;             // times the song plays again after its end; -1 for ever
    int amplification = 100;    // percent
    int stereoSeparation = 100; // percent
    int subsong = 1;            // 1 = the song from the first order
    int startOrder = -1;        // --start ORDER[:ROW]: where to begin (-1: the song's start)
    int startRow = 0;
    double seekSeconds = -1; // --seek SECONDS: where to begin (-1: the song's start)
    double endSeconds = -1;  // --end SECONDS: where to stop, in the song's time (-1: its end)
    int quiet = 0;           // --quiet: no progress, status or summary lines
    int force = 0;           // --force: rendered files replace existing ones
};

enum ParseResult : int {
    parseRun = 0,     // settings complete: go ahead
    parseHelp = 1,    // --help was asked for
    parseVersion = 2, // --version was asked for
    parseError = 3,   // *error says what is wrong
};

// Reads the command line into settings. On parseError, error holds the message (without the
// program's name).
int parseCommandLine(int argc, const char* const* argv, PlayerSettings* settings, std::string* error);

// The usage text printed by --help.
const char* usageText();

// The output name for input when rendering fileCount files into the name given by the user:
// "-" and "/dev/null" stay as they are; a name ending in "/" (or naming a folder) gets the
// input's base name without its extension plus extension; every "%s" is replaced by that base
// name. Empty with *error set when several files would end up in one file.
std::string outputName(const std::string& given, const std::string& input, const char* extension,
                       int fileCount, std::string* error);
