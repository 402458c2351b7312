// Rendering offline and describing files: each song through the sound library's render
// interface into a WAVE file (and its timeline), as fast as the processor allows, with a progress
// line and a summary when standard error is a terminal; --info from the module and its subsongs.
#pragma once

#include "tools/virezplay/settings.h"

// Renders every file of settings into its WAVE file (and timeline). Returns the exit code.
int renderFiles(const PlayerSettings& settings);

// Prints the --info description of every file. Returns the exit code.
int describeFiles(const PlayerSettings& settings);
