// Walking a song with the player alone, without mixing or a sound device: where it ends, how
// long it lasts at a mixing rate, when it first plays a given row, and the subsongs of a module.
//
// A walk borrows the player's global state and gives it back as it found it, so it can run
// while a song is being rendered; it must not run beside the polling thread (callers hold the
// library lock). Time is counted as a renderer counts it: frame 0 is the tick that reads the
// song's first row, and every tick after it comes the frames of one tick at the tempo of the
// moment later (framesPerTickFor).
#pragma once

#include "sound/player/gmplayer.h"

#include <cstdint>
#include <vector>

// A song that has not ended after this long is taken as one that does not end.
inline constexpr std::int64_t songScanSeconds = 30 * 60;

// What a tick is: one that only runs effects (or repeats a delayed row), one that reads a new
// row, or one that would read the first row after the song's end.
enum class TickKind { effects, row, end };

// What is noted about a song just before a tick, to tell afterwards what kind it was.
struct TickProbe {
    int delayRepeat; // the tick repeats a delayed row rather than reading a new one
    int passes;      // times the song had come to its end (gmp_song_passes)
};

// Notes the song's state before a tick.
TickProbe probe_tick(const PlayHandle* song);
// The kind of the tick that has just run, from the probe before it. The song ends at the first
// row it reads after passing its end more than repeat times (repeat -1: never).
TickKind tick_kind(const PlayHandle* song, const TickProbe& before, int repeat);

// How a player song is started for the subsong that begins at an order position: order 0 with
// the module's restart position, any other from there with itself as the restart.
struct SubsongPlay {
    int start;   // start position for gmp_play_song (-1: the module's own whole song)
    int end;     // end position
    int restart; // restart position
};
SubsongPlay subsong_play(const Module* module, int startOrder);

// One song of a module: its first order position and its frames played once (-1 when it does
// not end within songScanSeconds).
struct Subsong {
    int start_order;
    std::int64_t frames;
};

// Every subsong of the module with its duration at mixRate: the song from order 0, then one
// from every order the songs before have not played (end markers and skipped entries are no
// songs). Returns an error code.
int scan_subsongs(Module* module, std::uint32_t mixRate, std::vector<Subsong>* out);

// The frame at which the subsong starting at startOrder first plays order and row, as a
// renderer counts them at mixRate; -1 when it does not (within songScanSeconds). Returns an
// error code.
int find_row_frame(Module* module, int startOrder, std::uint32_t mixRate, int order, int row,
                   std::int64_t* frame);
