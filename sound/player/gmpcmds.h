// The effect commands of the generic module player. Every loader turns its
// format's commands into the generic numbering of the module model
// (Command, 0..35); for each play mode the player calls a handler from a row
// table on a row's first tick and from a tick table on the others. A handler
// is given the song and the channel it acts on and returns an error code;
// only the sound device can make it fail.
#pragma once

#include "sound/player/gmplayer.h"

#include <array>

// A command handler: acts on one channel of a song with the infobyte after
// memory substitution.
using CommandHandler = int (*)(PlayHandle* song, ChannelState* channel, int info);
using CommandTable = std::array<CommandHandler, commandCount>;

// The eight handler tables: Protracker row and tick, Extended Module row and
// tick, Scream Tracker 3 row and tick, Impulse Tracker row and tick.
extern const std::array<CommandTable, 8> command_tables;

// The row table of a play mode (modes outside 1..4 use the Protracker one).
const CommandTable& row_commands(int playMode);
// The tick table of a play mode (modes outside 1..4 use the Protracker one).
const CommandTable& tick_commands(int playMode);

// Runs a channel's volume-column command on the row tick.
int volume_column_row(PlayHandle* song, ChannelState* channel);
// Runs a channel's volume-column command on a later tick (XM and IT).
int volume_column_tick(PlayHandle* song, ChannelState* channel);
// Whether a channel's volume column holds an Impulse Tracker tone portamento.
bool impulse_column_porta(const ChannelState* channel);

// Shared actions of the handlers, on one channel of a song.
// Clamps to 0..max_volume and sets volume and effective_volume.
void cmd_set_volume(const PlayHandle* song, ChannelState* channel, int volume);
// Clamps to the period limits and sets period and output_period; 0 does nothing.
void cmd_set_period(const PlayHandle* song, ChannelState* channel, int period);
// Clamps to the period limits and sets output_period only.
void cmd_set_output_period(const PlayHandle* song, ChannelState* channel, int period);
// Sets the panning in the play mode's range (sent to the device at once except in XM).
int cmd_set_panning(const PlayHandle* song, ChannelState* channel, int panning);
