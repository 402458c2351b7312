// The sound output of live play: a ring of blocks on the platform's wave output, each filled
// from the rendering as soon as the output has played it. Every block remembers where in the
// song it starts, so that what is being heard (not what was last rendered) can be told.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "sound/api/render.h"

struct Speaker;

// Where a block starts in the song: its frame, order and row.
struct HeardPosition {
    std::int64_t frame;
    std::int32_t order, row;
};

// Opens the output in format with blockCount blocks of blockFrames frames. Null when it cannot,
// with *error holding the host's reason (or the output's result).
Speaker* speakerOpen(const WaveFormat& format, std::uint32_t blockFrames, std::uint32_t blockCount,
                     std::string* error);
// Stops the output and frees the blocks.
void speakerClose(Speaker* speaker);

// Fills every block the output has played with the next frames of render, at most limit of them
// (-1: no limit). Returns the frames rendered, -1 when the rendering failed; *ended becomes true
// once the rendering gave fewer frames than asked (the song, or the limit, has ended).
std::int64_t speakerFill(Speaker* speaker, SoundRender* render, std::int64_t limit, bool* ended);

// True when every block written has been played.
bool speakerDrained(Speaker* speaker);

// Where the sound being heard stands: the start of the oldest block still playing, or next (the
// position rendering stands at) when none is.
HeardPosition speakerHeard(Speaker* speaker, const HeardPosition& next);

// Drops every block written and not yet played (after a seek, or to pause at once).
void speakerFlush(Speaker* speaker);
