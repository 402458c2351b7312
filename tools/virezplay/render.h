// Rendering offline and describing files: the headless back end's sink output, through the
// library's own wave device and poll, as fast as the processor allows.
#pragma once

#include "tools/virezplay/settings.h"

// Renders every file of settings into its WAVE file (and timeline). Returns the exit code.
int renderFiles(const PlayerSettings& settings);

// Prints the --info description of every file. Returns the exit code.
int describeFiles(const PlayerSettings& settings);
