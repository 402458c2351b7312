// The output filter: a post-processor that smooths the mixed sum, lightly or
// strongly by the mixer's filterMode option.
#pragma once

#include "sound/mixer/dsm.h"

// The filter's post-processor node, linked in by mixerInit.
extern PostProcessor outputFilter;
