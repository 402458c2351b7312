// The generator's editable sources: "key = value" text files with # comments.
#pragma once

#include "raster.h"

#include <map>
#include <string>
#include <vector>

struct Settings {
    std::map<std::string, std::string> values;
    std::vector<std::string> order; // keys in file order, for repeated-line lists
    std::string source;             // file name, for messages
};

// Parses "key = value" lines; blank lines and lines starting with # are skipped. Returns false
// with a message (file and line) on standard error for a line without "=".
bool parseSettings(const std::string& text, const std::string& source, Settings& out);
// Reads and parses a settings file. Returns false with a message when it cannot.
bool loadSettings(const std::string& path, Settings& out);

// The value of key; records a message (and the run fails) when it is missing or empty.
std::string settingText(const Settings& s, const std::string& key);
// Parses "#RRGGBB". Returns false when the text is not such a colour.
bool parseColour(const std::string& text, Rgb& out);
// Parses a gradient "#RRGGBB@0.0 #RRGGBB@0.5 ...". Returns false on a malformed stop or when
// the positions are not ascending.
bool parseGradient(const std::string& text, Gradient& out);

// Looks up a colour or gradient setting, reporting a missing or malformed value; the
// generator fails at the end when any lookup failed.
Rgb settingColour(const Settings& s, const std::string& key);
Gradient settingGradient(const Settings& s, const std::string& key);
// A number setting; fallback when it is absent. A value that is not a number from lo to hi
// fails the run (sizes far out of range would take the drawing forever).
double settingNumber(const Settings& s, const std::string& key, double fallback, double lo, double hi);
// Records a problem found in the sources, so the generator fails at the end.
void markSettingsFailed();
// True once any setting lookup has failed.
bool settingsFailed();
