// The capture's recorder: turns what the headless back end reports into files.
//
// video.y4m is sampled at 30 frames per second of virtual time from program start; sample k
// (at k * 1000 / 30 ms) shows what was last presented at or before its time, black before the
// first present; a closing sample shows the last screen when it came after the last sample. It
// is written as the run goes, so a long show never sits in memory. audio.wav is 16-bit stereo
// at the first output rate, every block placed at the frame it started playing.
//
// Every write is checked: the first one that fails ends the run at once (a disk that is full
// would otherwise take the rest of the show's frames in silence), with the path and the
// system's reason, and the file it left incomplete is removed.
#include "tools/capture/recorder.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wshadow"
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO_DEFAULT_OFF
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

#include "demo/demo.h"

namespace {

constexpr std::uint32_t defaultAudioRate = 44100;
constexpr std::int64_t maxAudioSeconds = 3600; // a bound on what a damaged run could make us hold

struct Capture {
    CaptureSettings settings;
    std::FILE* events = nullptr;
    std::FILE* video = nullptr;
    std::int32_t width = 0, height = 0;
    std::vector<std::uint8_t> rgb; // the screen as last presented
    std::vector<std::uint8_t> yuv; // the same as a 4:2:0 frame
    std::int64_t nextSample = 0;
    bool screenAhead = false; // presented since the last sample was written
    std::size_t nextStill = 0;
    std::uint32_t audioRate = 0;
    std::vector<std::int16_t> audio; // interleaved stereo
    std::int64_t presented = 0;       // presenting unlocks
    std::vector<std::string> written; // the files of this run, in the order they were finished
    bool finishing = false;           // the run is ending: the files are being completed
    bool writeFailed = false;         // a file could not be written; the run ends with that
};

Capture capture;

std::string path(const char* name) {
    return capture.settings.folder + "/" + name;
}

const char* reason(int error) {
    return error ? std::strerror(error) : "unknown error";
}

// A file could not be written (error: the system's errno): says which and why, closes and
// removes it, since what it holds is incomplete, and ends the run at once unless it is ending
// already (then the run's end reports it).
void writeFailed(const std::string& file, int error, std::FILE** stream = nullptr) {
    if (stream && *stream) {
        std::fclose(*stream);
        *stream = nullptr;
    }
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    std::fprintf(stderr, "morva-capture: cannot write %s: %s; the capture stops here and removes the incomplete file\n",
                 file.c_str(), reason(error));
    capture.writeFailed = true;
    if (!capture.finishing) exitProcess(captureExitWriteFailed);
}

void event(void*, std::int64_t timeMs, const char* kind, const char* detail) {
    if (std::strcmp(kind, "exit") == 0) capture.finishing = true; // the last event: the end follows
    std::string clean = detail ? detail : "";
    for (char& c : clean)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    // Nobody sees the boxes of a headless run; say on the terminal why it ended.
    if (std::strcmp(kind, "messagebox") == 0)
        std::fprintf(stderr, "morva-capture: message box: %s\n", clean.c_str());
    if (std::strcmp(kind, "stopped") == 0)
        std::fprintf(stderr,
                     "morva-capture: stopped after %" PRId64
                     " s of show time (--max-seconds): %s; the files hold the show up to here\n",
                     capture.settings.maxSeconds, clean.c_str());
    if (!capture.events) return;
    if (std::fprintf(capture.events, "%" PRId64 "\t%s\t%s\n", timeMs, kind, clean.c_str()) < 0)
        writeFailed(path("events.tsv"), errno, &capture.events);
}

std::uint8_t expand5(std::uint32_t v) {
    return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}
std::uint8_t expand6(std::uint32_t v) {
    return static_cast<std::uint8_t>((v << 2) | (v >> 4));
}

// BT.601 studio range.
std::uint8_t luma(int r, int g, int b) {
    return static_cast<std::uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}

// The 4:2:0 frame of the screen: chroma from the mean of each 2 x 2 block; luma as well unless
// the caller has already filled it.
void toYuv(bool lumaDone = false) {
    const std::int32_t w = capture.width, h = capture.height;
    std::uint8_t* y = capture.yuv.data();
    std::uint8_t* u = y + static_cast<std::size_t>(w) * h;
    std::uint8_t* v = u + static_cast<std::size_t>(w / 2) * (h / 2);
    const std::size_t pixels = static_cast<std::size_t>(w) * h;
    if (!lumaDone) {
        const std::uint8_t* rgb = capture.rgb.data();
        for (std::size_t i = 0; i < pixels; ++i, rgb += 3)
            y[i] = luma(rgb[0], rgb[1], rgb[2]);
    }
    const std::size_t line = static_cast<std::size_t>(w) * 3;
    for (std::int32_t cy = 0; cy < h / 2; ++cy) {
        const std::uint8_t* top = capture.rgb.data() + static_cast<std::size_t>(cy) * 2 * line;
        const std::uint8_t* bottom = top + line;
        for (std::int32_t cx = 0; cx < w / 2; ++cx, top += 6, bottom += 6) {
            const int r = (top[0] + top[3] + bottom[0] + bottom[3] + 2) / 4;
            const int g = (top[1] + top[4] + bottom[1] + bottom[4] + 2) / 4;
            const int b = (top[2] + top[5] + bottom[2] + bottom[5] + 2) / 4;
            *u++ = static_cast<std::uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
            *v++ = static_cast<std::uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
        }
    }
}

// 16-bit pixels as 8-bit red, green, blue and luma, four bytes a pixel value, one table for
// 5-6-5 and one for 5-5-5.
const std::uint8_t* pixelTable(bool is555) {
    static const auto build = [](bool five) {
        std::vector<std::uint8_t> table(65536 * 4);
        for (std::uint32_t p = 0; p < 65536; ++p) {
            const std::uint8_t r = expand5(five ? (p >> 10) & 31 : (p >> 11) & 31);
            const std::uint8_t g = five ? expand5((p >> 5) & 31) : expand6((p >> 5) & 63);
            const std::uint8_t b = expand5(p & 31);
            std::uint8_t* entry = table.data() + p * 4;
            entry[0] = r;
            entry[1] = g;
            entry[2] = b;
            entry[3] = luma(r, g, b);
        }
        return table;
    };
    static const std::vector<std::uint8_t> table565 = build(false), table555 = build(true);
    return is555 ? table555.data() : table565.data();
}

// Writes a whole file; false (with errno kept) when any of it could not be written.
bool writeWhole(const std::string& file, const unsigned char* data, std::size_t bytes) {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (!f) return false;
    const bool wrote = std::fwrite(data, 1, bytes, f) == bytes;
    const int error = errno;
    const bool closed = std::fclose(f) == 0;
    if (!wrote) errno = error;
    return wrote && closed;
}

void writeStill(std::int64_t ms, std::int64_t endUs = -1) {
    if (capture.width == 0) {
        std::fprintf(stderr,
                     "morva-capture: no mode was set, so there is no screen for still-%" PRId64 ".png\n", ms);
        return;
    }
    char name[64];
    std::snprintf(name, sizeof name, "still-%" PRId64 ".png", ms);
    int bytes = 0;
    unsigned char* png = stbi_write_png_to_mem(capture.rgb.data(), capture.width * 3, capture.width,
                                               capture.height, 3, &bytes);
    errno = png ? 0 : ENOMEM;
    const bool wrote = png && writeWhole(path(name), png, static_cast<std::size_t>(bytes));
    const int error = errno;
    std::free(png);
    if (!wrote) {
        writeFailed(path(name), error);
        return;
    }
    capture.written.push_back(name);
    if (endUs >= 0 && ms * 1000 > endUs)
        std::fprintf(stderr,
                     "morva-capture: %s was asked for after the show had ended (at %" PRId64
                     " ms); it shows the screen as the show left it\n",
                     name, endUs / 1000);
}

// One frame of the video: the screen as it stands. False when it could not be written.
bool writeFrame() {
    if (std::fputs("FRAME\n", capture.video) < 0 ||
        std::fwrite(capture.yuv.data(), 1, capture.yuv.size(), capture.video) != capture.yuv.size()) {
        writeFailed(path("video.y4m"), errno, &capture.video);
        return false;
    }
    return true;
}

// Everything due before timeUs (inclusive: at timeUs too) shows the current picture.
void emitUntil(std::int64_t timeUs, bool inclusive) {
    const auto due = [&](std::int64_t scaled, std::int64_t limit) {
        return inclusive ? scaled <= limit : scaled < limit;
    };
    while (capture.video && due(capture.nextSample * 100'000, 3 * timeUs)) {
        if (!writeFrame()) return;
        ++capture.nextSample;
        capture.screenAhead = false;
    }
    if (capture.width == 0) return; // stills wait until the screen has a size
    while (!capture.writeFailed && capture.nextStill < capture.settings.stills.size() &&
           due(capture.settings.stills[capture.nextStill] * 1000, timeUs))
        writeStill(capture.settings.stills[capture.nextStill++]);
}

void mode(void*, std::int64_t timeMs, const SurfaceInfo& surface, int format555) {
    char detail[128];
    std::snprintf(detail, sizeof detail, "%dx%dx%d interlaced=%d format=%s pitch=%d", surface.width,
                  surface.height, surface.bits, demoSettings.interlaced, format555 ? "555" : "565",
                  surface.pitch);
    event(nullptr, timeMs, "mode", detail);
    if (capture.video) return; // one size per video; a second mode keeps the first size
    capture.width = surface.width;
    capture.height = surface.height;
    capture.rgb.assign(static_cast<std::size_t>(capture.width) * capture.height * 3, 0);
    capture.yuv.assign(static_cast<std::size_t>(capture.width) * capture.height * 3 / 2, 0);
    toYuv();
    capture.video = std::fopen(path("video.y4m").c_str(), "wb");
    if (!capture.video) {
        writeFailed(path("video.y4m"), errno);
        return;
    }
    if (std::fprintf(capture.video, "YUV4MPEG2 W%d H%d F30:1 Ip A1:1 C420jpeg\n", capture.width, capture.height) < 0)
        writeFailed(path("video.y4m"), errno, &capture.video);
}

void present(void*, std::int64_t timeUs, const SurfaceInfo& surface) {
    emitUntil(timeUs, false);
    if (surface.width != capture.width || surface.height != capture.height || !surface.memory) return;
    std::uint8_t* out = capture.rgb.data();
    if (surface.bits == 16) {
        const std::uint8_t* table = pixelTable(surface.greenMask == 0x3E0);
        std::uint8_t* y = capture.yuv.data();
        for (std::int32_t row = 0; row < surface.height; ++row) {
            const std::uint8_t* p = surface.memory + static_cast<std::size_t>(row) * surface.pitch;
            for (std::int32_t x = 0; x < surface.width; ++x, p += 2, out += 3) {
                const std::uint8_t* entry = table + static_cast<std::size_t>(p[0] | (p[1] << 8)) * 4;
                out[0] = entry[0];
                out[1] = entry[1];
                out[2] = entry[2];
                *y++ = entry[3];
            }
        }
        toYuv(true);
    } else {
        const int bytes = (surface.bits - 1) / 8 + 1;
        for (std::int32_t row = 0; row < surface.height; ++row) {
            const std::uint8_t* p = surface.memory + static_cast<std::size_t>(row) * surface.pitch;
            for (std::int32_t x = 0; x < surface.width; ++x, p += bytes, out += 3) {
                out[0] = p[2];
                out[1] = p[1];
                out[2] = p[0];
            }
        }
        toYuv();
    }
    capture.screenAhead = true;
    ++capture.presented;
}

void audio(void*, std::int64_t startFrame, const WaveFormat& format, const std::uint8_t* data,
           std::uint32_t bytes) {
    if (capture.audioRate == 0) capture.audioRate = format.rate;
    const std::uint32_t frameBytes = format.channels * format.bits / 8u;
    const std::uint32_t frames = bytes / frameBytes;
    const std::int64_t limit = maxAudioSeconds * capture.audioRate;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const std::int64_t at = (startFrame + i) * capture.audioRate / format.rate;
        if (at < 0 || at >= limit) continue;
        const std::uint8_t* p = data + static_cast<std::size_t>(i) * frameBytes;
        std::int16_t left, right;
        if (format.bits == 8) {
            left = static_cast<std::int16_t>((p[0] - 128) * 256);
            right = format.channels == 2 ? static_cast<std::int16_t>((p[1] - 128) * 256) : left;
        } else {
            left = static_cast<std::int16_t>(p[0] | (p[1] << 8));
            right = format.channels == 2 ? static_cast<std::int16_t>(p[2] | (p[3] << 8)) : left;
        }
        const auto index = static_cast<std::size_t>(at) * 2;
        if (capture.audio.size() < index + 2) capture.audio.resize(index + 2, 0);
        capture.audio[index] = left;
        capture.audio[index + 1] = right;
    }
}

void audioCut(void*, std::int64_t frame, std::uint32_t rate) {
    if (capture.audioRate == 0 || rate == 0) return;
    const auto keep = static_cast<std::size_t>(frame * capture.audioRate / rate) * 2;
    if (capture.audio.size() > keep) capture.audio.resize(keep);
}

void put32(std::vector<std::uint8_t>* out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out->push_back(static_cast<std::uint8_t>(v >> shift));
}

void put16(std::vector<std::uint8_t>* out, std::uint16_t v) {
    out->push_back(static_cast<std::uint8_t>(v));
    out->push_back(static_cast<std::uint8_t>(v >> 8));
}

void putText(std::vector<std::uint8_t>* out, const char* text) {
    out->insert(out->end(), text, text + std::strlen(text));
}

void writeWav(std::int64_t endUs, bool cutAtEnd) {
    const std::uint32_t rate = capture.audioRate ? capture.audioRate : defaultAudioRate;
    // As long as the run, so that the sound lines up with the video to the end.
    const auto runFrames =
        static_cast<std::size_t>(std::min<std::int64_t>(endUs * rate / 1'000'000, maxAudioSeconds * rate));
    if (capture.audio.size() < runFrames * 2) capture.audio.resize(runFrames * 2, 0);
    // A run stopped from outside ends where it stands: sound the output held ahead was never played.
    if (cutAtEnd) capture.audio.resize(runFrames * 2);
    const auto dataBytes = static_cast<std::uint32_t>(capture.audio.size() * 2);
    std::vector<std::uint8_t> wav;
    wav.reserve(44 + dataBytes);
    putText(&wav, "RIFF");
    put32(&wav, 36 + dataBytes);
    putText(&wav, "WAVEfmt ");
    put32(&wav, 16);
    put16(&wav, 1); // PCM
    put16(&wav, 2);
    put32(&wav, rate);
    put32(&wav, rate * 4);
    put16(&wav, 4);
    put16(&wav, 16);
    putText(&wav, "data");
    put32(&wav, dataBytes);
    for (std::int16_t s : capture.audio)
        put16(&wav, static_cast<std::uint16_t>(s));
    if (!writeWhole(path("audio.wav"), wav.data(), wav.size())) {
        writeFailed(path("audio.wav"), errno);
        return;
    }
    capture.written.push_back("audio.wav");
}

// Muxes video.y4m and audio.wav into the movie with ffmpeg, when it is installed, and says where
// the movie went or why there is none. The run's exit code stays the program's.
void writeMovie() {
    const std::string& movie = capture.settings.mp4;
    if (movie.empty()) return;
    const std::string video = path("video.y4m"), sound = path("audio.wav");
    if (!std::filesystem::exists(video)) {
        std::fprintf(stderr, "morva-capture: no video was recorded, so there is no movie %s\n",
                     movie.c_str());
        return;
    }
    std::vector<std::string> arguments = {"ffmpeg",  "-nostdin", "-y",  "-loglevel", "error",   "-i",
                                          video,     "-i",       sound, "-c:v",      "libx264", "-pix_fmt",
                                          "yuv420p", "-c:a",     "aac", "-shortest", movie};
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawnp(&child, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr,
                     "morva-capture: ffmpeg is not installed, so there is no movie %s (video.y4m and "
                     "audio.wav are in %s)\n",
                     movie.c_str(), capture.settings.folder.c_str());
        return;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    std::error_code error;
    const std::filesystem::path where = std::filesystem::absolute(movie, error);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && std::filesystem::exists(movie, error)) {
        std::fprintf(stderr, "morva-capture: movie written to %s\n", where.c_str());
        capture.written.push_back(where.string());
        return;
    }
    // What is left there is half a movie or an old one; neither should pass for this run's.
    std::filesystem::remove(movie, error);
    std::fprintf(stderr, "morva-capture: ffmpeg could not make the movie %s\n", where.c_str());
}

// One line on what the run made: how long the show ran, how many frames it showed, and the files.
void summary(std::int64_t timeUs, int exitCode) {
    if (capture.writeFailed) exitCode = captureExitWriteFailed;
    std::string files;
    for (const std::string& name : capture.written)
        files += (files.empty() ? "" : ", ") + name;
    std::printf("morva-capture: %.1f s of show, %" PRId64 " frames presented, exit code %d; written to %s: %s\n",
                static_cast<double>(timeUs) / 1e6, capture.presented, exitCode, capture.settings.folder.c_str(),
                files.empty() ? "nothing" : files.c_str());
    std::fflush(stdout);
}

// Closes a finished file; false (the file reported and removed) when what was buffered could
// not be written.
bool closeFile(std::FILE** stream, const char* name) {
    std::FILE* f = *stream;
    *stream = nullptr;
    if (std::fclose(f) == 0) return true;
    writeFailed(path(name), errno);
    return false;
}

void finish(void*, std::int64_t timeUs, int exitCode) {
    capture.finishing = true;
    if (!capture.writeFailed) {
        emitUntil(timeUs, true);
        // Frames presented after the last sample (a fade shown without pacing at the very end)
        // would never be seen: one closing sample shows the screen as the program left it.
        if (capture.video && capture.screenAhead) writeFrame();
    }
    // Stills asked for after the end show the screen as the program left it; without a mode
    // there is no screen, and each still says so.
    while (!capture.writeFailed && capture.nextStill < capture.settings.stills.size())
        writeStill(capture.settings.stills[capture.nextStill++], timeUs);
    if (capture.video && closeFile(&capture.video, "video.y4m"))
        capture.written.insert(capture.written.begin(), "video.y4m");
    // After a failed write the run ends at once: no sound file or movie is made any more.
    if (!capture.writeFailed) writeWav(timeUs, exitCode == captureExitStopped);
    if (capture.events && closeFile(&capture.events, "events.tsv"))
        capture.written.insert(capture.written.begin(), "events.tsv");
    if (!capture.writeFailed) writeMovie();
    summary(timeUs, exitCode);
    if (capture.writeFailed) {
        // Whichever way the run was ending, it ends with the capture's own code for it.
        std::fflush(nullptr);
        std::_Exit(captureExitWriteFailed);
    }
}

} // namespace

bool captureOpen(const CaptureSettings& settings, HeadlessRecorder* recorder) {
    capture = Capture{};
    capture.settings = settings;
    std::sort(capture.settings.stills.begin(), capture.settings.stills.end());
    capture.events = std::fopen(path("events.tsv").c_str(), "wb");
    if (!capture.events) {
        std::fprintf(stderr, "morva-capture: cannot write %s: %s\n", path("events.tsv").c_str(), reason(errno));
        return false;
    }
    // Old results would otherwise pass for this run's.
    std::remove(path("video.y4m").c_str());
    std::remove(path("audio.wav").c_str());
    *recorder = {nullptr, event, mode, present, audio, audioCut, finish};
    return true;
}
