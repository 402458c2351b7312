// The effect commands of the generic module player. Every loader turns its
// format's commands into one numbering of 36 (0..35); for each play mode the
// player calls a handler from a row table on a row's first tick and from a
// tick table on the others. Handlers work on the player's current song and
// channel (gmp.song, gmp.channel) and return an error code; only the sound
// device can make them fail.
#pragma once

#include "sound/player/gmplayer.h"

#include <array>
#include <cstdint>

// A command handler, called with the infobyte after memory substitution.
using CommandHandler = int (*)(int info);
using CommandTable = std::array<CommandHandler, commandCount>;

// Generic command numbers.
enum Command : int {
    cmdNone = 0,
    cmdArpeggio = 1,
    cmdPortaUp = 2,
    cmdPortaDown = 3,
    cmdTonePorta = 4,
    cmdVibrato = 5,
    cmdTonePortaVolumeSlide = 6,
    cmdVibratoVolumeSlide = 7,
    cmdTremolo = 8,
    cmdSetPanning = 9,
    cmdSampleOffset = 10,
    cmdVolumeSlide = 11,
    cmdPositionJump = 12,
    cmdSetVolume = 13,
    cmdPatternBreak = 14,
    cmdSetSpeed = 15,
    cmdSetTempo = 16,
    cmdFinePortaUp = 17,
    cmdFinePortaDown = 18,
    cmdPatternLoop = 19,
    cmdCoarsePanning = 20,
    cmdRetrigger = 21,
    cmdFineVolumeUp = 22,
    cmdFineVolumeDown = 23,
    cmdNoteCut = 24,
    cmdNoteDelay = 25,
    cmdPatternDelay = 26,
    cmdGlobalVolume = 27,
    cmdGlobalVolumeSlide = 28,
    cmdMultiRetrigger = 29,
    cmdSync = 30,
    cmdExtraFinePortaUp = 31,
    cmdExtraFinePortaDown = 32,
    cmdPanningSlide = 33,
    cmdSetChannelVolume = 34,   // Impulse Tracker M
    cmdChannelVolumeSlide = 35, // Impulse Tracker N
};

// The eight handler tables: Protracker row and tick, Extended Module row and
// tick, Scream Tracker 3 row and tick, Impulse Tracker row and tick.
extern const std::array<CommandTable, 8> command_tables;

// The row table of a play mode (modes outside 1..4 use the Protracker one).
const CommandTable& row_commands(int playMode);
// The tick table of a play mode (modes outside 1..4 use the Protracker one).
const CommandTable& tick_commands(int playMode);

// Runs the current channel's volume-column command on the row tick.
int volume_column_row();
// Runs the current channel's volume-column command on a later tick (XM only).
int volume_column_tick();

// Shared actions of the handlers, on the current channel.
// Clamps to 0..max_volume and sets volume and effective_volume.
void cmd_set_volume(int volume);
// Clamps to the period limits and sets period and output_period; 0 does nothing.
void cmd_set_period(int period);
// Clamps to the period limits and sets output_period only.
void cmd_set_output_period(int period);
// Sets the panning in the play mode's range (sent to the device at once except in XM).
int cmd_set_panning(int panning);
