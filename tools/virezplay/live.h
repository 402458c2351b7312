// Live play: each file through the sound output of the SDL back end (no window), with a status
// line and keys.
#pragma once

#include "tools/virezplay/settings.h"

// Plays every file of settings in turn. Returns the exit code.
int playFiles(const PlayerSettings& settings);
