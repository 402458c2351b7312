// One song's turn through the sound library, shared by live play, rendering and --info: the
// library opened with the command line's settings, the file loaded, the song started.
#pragma once

#include <string>

#include "tools/virezplay/settings.h"

struct Module;

struct Session {
    Module* module = nullptr;
    int song = 0; // song handle, 0 until started
};

// Starts the library on the output the back end offers, with the settings' rate, mode,
// interpolation and amplification, and an output buffer of bufferMs (0: the library's default).
// On failure *error holds the library's message.
bool openLibrary(const PlayerSettings& settings, int bufferMs, std::string* error);

// The text of a fatal error of the library's poll ("VIREZ Error: ..."), which has shut the library
// down; empty when there was none since openLibrary. Any thread may ask.
std::string fatalError();

// Stops and frees the session's song and module, and closes the library.
void closeLibrary(Session* session);

// Loads file and starts it on the library, playing round and round (the caller decides where
// it ends). On failure *error holds the library's message and nothing stays loaded.
bool startSong(const std::string& file, Session* session, std::string* error);

// The short name of the module's format ("XM", "S3M", "IT" or "MOD"), from its format record.
const char* formatName(const Module* module);

// A text from a module file made safe for a terminal: bytes outside printable ASCII become \xNN.
std::string printableText(const char* text);

// Seconds as m:ss.
std::string clockText(double seconds);
