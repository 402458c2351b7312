// Reading the generated archive and measuring pictures, shared by the picture tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ShowEntry {
    const char* name;
    int w, h;   // one picture (one frame for the flute player)
    int frames; // pictures stored one after another
    bool keyed;
};

// Every entry the show reads, with the picture sizes the parts draw them at.
extern const ShowEntry showEntries[14];

// Path of build/data/morva.flb.
std::string archivePath();
// Reads an entry's pixels through the file library; empty when the archive or name is missing.
std::vector<std::uint16_t> loadEntry(const char* name, std::size_t pixels);

// Mean absolute channel difference (in 0..1 units) between two rows or two columns of a
// w x h picture.
double columnDifference(const std::vector<std::uint16_t>& p, int w, int h, int a, int b);
double rowDifference(const std::vector<std::uint16_t>& p, int w, int h, int a, int b);
// Mean absolute channel difference between two equally sized pictures.
double pictureDifference(const std::uint16_t* a, const std::uint16_t* b, std::size_t n);
