// The output filter: a post-processor that smooths the mixed sum, lightly or
// strongly by the mixer's filterMode option.
#pragma once

#include "sound/mixer/dsm.h"

// The filter's post-processor node, linked in by mixerInit.
extern PostProcessor outputFilter;

// The filter's history: the last two inputs per output side, for the integer
// and the float buffers.
struct OutputFilterHistory {
    int32_t i1[2] = {}, i2[2] = {}; // integer buffers: x[n-1], x[n-2] per side
    float f1[2] = {}, f2[2] = {};   // float buffers
};

// The history as it stands, and putting a kept one back (a renderer that
// goes back to an earlier moment of a song takes the filter back with it).
OutputFilterHistory outputFilterHistory();
void setOutputFilterHistory(const OutputFilterHistory& kept);
