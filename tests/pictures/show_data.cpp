#include "show_data.h"

#include "filelib/filelib.h"

#include <cmath>
#include <cstdlib>

const ShowEntry showEntries[14] = {
    {"p1_warn.raw", 320, 200, 1, false},  {"p1_pres.raw", 247, 35, 1, true},
    {"p1_txtr.raw", 256, 256, 1, false},  {"p1_morva.raw", 204, 97, 1, true},
    {"p2_tco~1.raw", 148, 36, 1, true},   {"p2_aco~1.raw", 67, 23, 1, true},
    {"p2_tmu~1.raw", 123, 34, 1, true},   {"p2_amu~1.raw", 193, 27, 1, true},
    {"p2_agfx.raw", 207, 73, 1, true},    {"p2_tgfx.raw", 80, 38, 1, true},
    {"p2_bgpic.raw", 320, 200, 1, false}, {"fluteboy.dat", 86, 109, 19, true},
    {"p3_txtr.raw", 256, 256, 1, false},  {"p3_zynlg.raw", 220, 106, 1, true},
};

std::string archivePath() {
    return std::string(MORVA_DATA_DIR) + "/morva.flb";
}

std::vector<std::uint16_t> loadEntry(const char* name, std::size_t pixels) {
    FileLibrary lib{};
    if (!libraryOpenReadOnly(&lib, archivePath().c_str(), 0)->stream) return {};
    std::vector<std::uint16_t> out;
    if (librarySeek(&lib, name)) {
        std::vector<std::uint8_t> bytes(pixels * 2);
        if (std::fread(bytes.data(), 1, bytes.size(), lib.stream) == bytes.size()) {
            out.resize(pixels);
            for (std::size_t i = 0; i < pixels; ++i)
                out[i] = std::uint16_t(bytes[i * 2] | bytes[i * 2 + 1] << 8);
        }
    }
    libraryClose(&lib);
    return out;
}

static double channelDifference(std::uint16_t a, std::uint16_t b) {
    return (std::abs((a >> 11) - (b >> 11)) / 31.0 + std::abs(((a >> 5) & 63) - ((b >> 5) & 63)) / 63.0 +
            std::abs((a & 31) - (b & 31)) / 31.0) /
           3.0;
}

double columnDifference(const std::vector<std::uint16_t>& p, int w, int h, int a, int b) {
    double sum = 0;
    for (int y = 0; y < h; ++y)
        sum += channelDifference(p[std::size_t(y) * w + a], p[std::size_t(y) * w + b]);
    return sum / h;
}

double rowDifference(const std::vector<std::uint16_t>& p, int w, int h, int a, int b) {
    double sum = 0;
    for (int x = 0; x < w; ++x)
        sum += channelDifference(p[std::size_t(a) * w + x], p[std::size_t(b) * w + x]);
    return sum / w;
}

double pictureDifference(const std::uint16_t* a, const std::uint16_t* b, std::size_t n) {
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += channelDifference(a[i], b[i]);
    return n ? sum / n : 0;
}
