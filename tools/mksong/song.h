// The song notation: a text file of song settings, synthesised instruments,
// macros and patterns written as one track of notes per channel, compiled
// into an Extended Module song.
#pragma once

#include "tools/xmwrite/xmwrite.h"

#include <string>
#include <vector>

struct CompiledSong {
    XmSong song;
    std::vector<double> sample_rates; // rate each instrument's sample was rendered at
};

// Compiles song source text; base_dir resolves include lines, source_name labels messages.
bool compileSongText(const std::string& text, const std::string& source_name, const std::string& base_dir,
                     CompiledSong& out, std::string& message);

// Reads and compiles a song source file.
bool compileSongFile(const std::string& path, CompiledSong& out, std::string& message);

// Parses a note name such as "C-4", "F#3" or "Bb2" into a note number (0 = C-0); -1 if it is none.
int parseNoteName(const std::string& text);
