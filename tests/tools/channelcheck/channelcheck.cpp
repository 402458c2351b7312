// channelcheck: what a stereo rendering's two channels do, where a mono feature track says
// little. Many test modules are made so that a correct player's left and right channels cancel
// (their mono mix is silent) or match (the same sound on both sides); and a rendering of under
// half a second has too few windows for a correlation over time to mean anything, while its
// level, window by window, still does.
//
//   channelcheck levels RENDER.wav
//       prints "SECONDS LEFT RIGHT MID SIDE": the loudest window's level of the left channel,
//       the right channel, their mono mix (L + R) / 2 and their difference (L - R) / 2, in dBFS.
//       Channels that cancel have a MID far below LEFT and RIGHT; channels that match, a SIDE.
//   channelcheck compare RENDER.wav REFERENCE.wav|REFERENCE.feat
//       prints "SECONDS_A SECONDS_B WORST MEAN": how far apart the two renderings' levels are,
//       window by window, in dB (the loudest difference and the mean one). Against a stereo
//       rendering each channel is held against its own side; against a feature track (of
//       the shared soundalike tool: "# seconds N", then a loudness and a centroid a window)
//       the mono mix is held against its loudness.
//   channelcheck sides RENDER.wav
//       prints "SECONDS WINDOWS LEVEL_APART BRIGHTNESS_APART": how far the left channel's sound
//       lies from the right's, for modules whose right channel is a recording of what the left
//       must sound like. Over the windows where both sides are heard: the mean distance in dB of
//       the left's level from the right's, once the two are brought to one overall level (a
//       recording rarely has the player's level); and the mean relative distance of their
//       brightness (the level of the change from one frame to the next against the level of
//       the sound itself: twice as bright, twice as high). Neither depends on the phase of the
//       two sides, which the player's tick lengths move by a millisecond or two.
//
// Windows are 2048 frames (46.4 ms at 44100 Hz), as in the feature tracks. Levels below -60 dBFS
// count as -60 dBFS: under that, a difference is not heard. Renderings are WAVE files of 16-bit
// PCM, mono or stereo. The exit code is 0 after a result, 2 after an error.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t window = 2048;
constexpr double rate = 44100;
constexpr double floorDb = -60;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "channelcheck: %s\n", message.c_str());
    std::exit(2);
}

std::uint32_t le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// A rendering's two channels as floats in -1..1 (a mono rendering has the same on both sides).
struct Render {
    std::vector<float> left, right;
    double seconds() const { return static_cast<double>(left.size()) / rate; }
};

std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail(path + ": cannot open");
    return {std::istreambuf_iterator<char>(in), {}};
}

Render readRender(const std::string& path) {
    const std::vector<unsigned char> d = readFile(path);
    if (d.size() < 12 || std::memcmp(d.data(), "RIFF", 4) != 0 || std::memcmp(d.data() + 8, "WAVE", 4) != 0)
        fail(path + ": not a WAVE file");
    int channels = 0;
    std::size_t at = 12;
    while (at + 8 <= d.size()) {
        const std::uint32_t size = le32(&d[at + 4]);
        const std::size_t body = at + 8;
        if (std::memcmp(&d[at], "fmt ", 4) == 0) {
            if (body + 16 > d.size()) fail(path + ": format chunk cut short");
            if (d[body] != 1 || d[body + 14] != 16) fail(path + ": only 16-bit PCM is read");
            channels = d[body + 2];
            if (channels < 1 || channels > 2) fail(path + ": only mono or stereo is read");
        } else if (std::memcmp(&d[at], "data", 4) == 0) {
            if (channels == 0) fail(path + ": data before the format");
            // A streamed file may leave the size at 0 or 0xFFFFFFFF: the data runs to the end then.
            const std::size_t end =
                size == 0 || size == 0xFFFFFFFFu ? d.size() : std::min<std::size_t>(d.size(), body + size);
            Render r;
            const std::size_t frameBytes = 2 * static_cast<std::size_t>(channels);
            for (std::size_t p = body; p + frameBytes <= end; p += frameBytes) {
                const auto sample = [&](std::size_t q) {
                    return static_cast<float>(static_cast<std::int16_t>(d[q] | d[q + 1] << 8)) / 32768.f;
                };
                r.left.push_back(sample(p));
                r.right.push_back(sample(channels == 2 ? p + 2 : p));
            }
            return r;
        }
        at = body + size + (size & 1);
    }
    fail(path + ": no data chunk");
}

double decibels(double rms) {
    return rms > 0 ? std::max(20 * std::log10(rms), floorDb) : floorDb;
}

// The level of each whole window of a signal made from the two channels, in dBFS.
template <typename Mix> std::vector<double> windowLevels(const Render& r, Mix mix) {
    std::vector<double> levels;
    for (std::size_t start = 0; start + window <= r.left.size(); start += window) {
        double energy = 0;
        for (std::size_t i = start; i < start + window; i++) {
            const double v = mix(r.left[i], r.right[i]);
            energy += v * v;
        }
        levels.push_back(decibels(std::sqrt(energy / window)));
    }
    return levels;
}

double loudest(const std::vector<double>& levels) {
    return levels.empty() ? floorDb : *std::max_element(levels.begin(), levels.end());
}

const auto leftOnly = [](float l, float) { return double(l); };
const auto rightOnly = [](float, float r) { return double(r); };
const auto monoMix = [](float l, float r) { return (double(l) + r) / 2; };
const auto sideMix = [](float l, float r) { return (double(l) - r) / 2; };

// The mono loudness of a feature track, as levels in dBFS, and its length.
std::vector<double> featureLevels(const std::string& path, double* seconds) {
    const std::vector<unsigned char> bytes = readFile(path);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string header;
    std::getline(in, header);
    if (std::sscanf(header.c_str(), "# seconds %lf", seconds) != 1)
        fail(path + ": not a feature track (first line '# seconds N')");
    std::vector<double> levels;
    double loudness = 0, centroid = 0;
    while (in >> loudness >> centroid)
        levels.push_back(decibels(loudness));
    return levels;
}

struct Apart {
    double worst = 0, sum = 0;
    std::size_t count = 0;
};

// Adds the window-by-window differences of two level tracks, as far as both go.
void compareLevels(const std::vector<double>& a, const std::vector<double>& b, Apart* apart) {
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); i++) {
        const double difference = std::abs(a[i] - b[i]);
        apart->worst = std::max(apart->worst, difference);
        apart->sum += difference;
        apart->count++;
    }
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

int levels(const std::string& path) {
    const Render r = readRender(path);
    std::printf("%.3f %.1f %.1f %.1f %.1f\n", r.seconds(), loudest(windowLevels(r, leftOnly)),
                loudest(windowLevels(r, rightOnly)), loudest(windowLevels(r, monoMix)),
                loudest(windowLevels(r, sideMix)));
    return 0;
}

int compare(const std::string& path, const std::string& reference) {
    const Render r = readRender(path);
    Apart apart;
    double seconds = 0;
    if (endsWith(reference, ".feat")) {
        compareLevels(windowLevels(r, monoMix), featureLevels(reference, &seconds), &apart);
    } else {
        const Render other = readRender(reference);
        seconds = other.seconds();
        compareLevels(windowLevels(r, leftOnly), windowLevels(other, leftOnly), &apart);
        compareLevels(windowLevels(r, rightOnly), windowLevels(other, rightOnly), &apart);
    }
    if (apart.count == 0) fail("no whole window to compare");
    std::printf("%.3f %.3f %.1f %.1f\n", r.seconds(), seconds, apart.worst, apart.sum / double(apart.count));
    return 0;
}

// Brightness of a window of one side: the level of its frame-to-frame change against its own.
double brightness(const std::vector<float>& x, std::size_t start) {
    double energy = 0, change = 0;
    for (std::size_t i = start + 1; i < start + window; i++) {
        energy += double(x[i]) * x[i];
        change += (double(x[i]) - x[i - 1]) * (double(x[i]) - x[i - 1]);
    }
    return energy > 0 ? std::sqrt(change / energy) : 0;
}

int sides(const std::string& path) {
    const Render r = readRender(path);
    const std::vector<double> left = windowLevels(r, leftOnly), right = windowLevels(r, rightOnly);
    std::vector<std::size_t> heard;
    std::vector<double> offsets;
    for (std::size_t i = 0; i < left.size(); i++)
        if (left[i] > floorDb + 20 && right[i] > floorDb + 20) {
            heard.push_back(i);
            offsets.push_back(left[i] - right[i]);
        }
    if (heard.empty()) fail("no window where both sides are heard");
    std::vector<double> sorted = offsets;
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2), sorted.end());
    const double offset = sorted[sorted.size() / 2];
    double levelApart = 0, brightnessApart = 0;
    for (std::size_t k = 0; k < heard.size(); k++) {
        levelApart += std::abs(offsets[k] - offset);
        const double b = brightness(r.right, heard[k] * window);
        brightnessApart += b > 0 ? std::abs(brightness(r.left, heard[k] * window) - b) / b : 1;
    }
    const double count = double(heard.size());
    std::printf("%.3f %zu %.2f %.3f\n", r.seconds(), heard.size(), levelApart / count, brightnessApart / count);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "levels") == 0) return levels(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "compare") == 0) return compare(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "sides") == 0) return sides(argv[2]);
    std::fprintf(stderr, "usage: channelcheck levels RENDER.wav\n"
                         "       channelcheck compare RENDER.wav REFERENCE.wav|REFERENCE.feat\n"
                         "       channelcheck sides RENDER.wav\n");
    return 2;
}
