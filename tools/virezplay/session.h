// One file's turn through the sound library's render interface, shared by rendering, live play
// and --info: loading it (and saying in one line what a file cut short lacked), opening it with
// the command line's output settings, and finding where to begin (subsong, start, seek).
#pragma once

#include <cstdint>
#include <string>

#include "sound/api/render.h"
#include "tools/virezplay/settings.h"

struct Song {
    Module* module = nullptr;
    SoundRender* render = nullptr;
    SoundModuleInfo info{};
    std::int64_t firstFrame = 0; // where rendering began (after --start or --seek)
};

// Loads file into song->module and describes it in song->info. A file whose sample data ends
// early loads all the same, with a line on standard error that says what was missing. On
// failure *error holds the library's message and nothing stays loaded.
bool loadSong(const std::string& file, Song* song, std::string* error);

// The render settings of the command line.
SoundRenderSettings renderSettings(const PlayerSettings& settings);

// Loads file and opens it for rendering at the subsong, start or seek the command line asks
// for. On failure *error holds the reason and nothing stays open or loaded.
bool openSong(const PlayerSettings& settings, const std::string& file, Song* song, std::string* error);

// Closes the rendering and frees the module (either may be missing).
void closeSong(Song* song);

// The frame at which rendering stops short of the song's end (--end, or the 30-minute limit
// when the song plays for ever); -1 when the song's own end comes first or there is none.
std::int64_t stopFrame(const PlayerSettings& settings, const Song& song);

// A text from a module file made safe for a terminal: trailing spaces dropped, bytes outside
// printable ASCII as \xNN.
std::string printableText(const char* text);

// Seconds as m:ss.mmm (rounded down to the millisecond).
std::string clockText(double seconds);
