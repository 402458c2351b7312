// Rendering offline and describing files (see render.h).
#include "tools/virezplay/render.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/wavesink.h"
#include "tools/virezplay/outfile.h"
#include "tools/virezplay/session.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t blockFrames = 4096;
constexpr auto progressEvery = std::chrono::milliseconds(100);

void report(const std::string& file, const std::string& message) {
    std::fprintf(stderr, "virezplay: %s: %s\n", file.c_str(), message.c_str());
}

// The WAVE file and the timeline of one input.
struct RenderNames {
    std::string wav, timeline; // timeline empty: none
};

RenderNames namesOf(const PlayerSettings& settings, const std::string& file) {
    const int count = static_cast<int>(settings.files.size());
    std::string error; // the command line was checked for names that cannot be made
    RenderNames names;
    names.wav = outputName(settings.wav, file, ".wav", count, &error);
    if (!settings.timeline.empty()) names.timeline = outputName(settings.timeline, file, ".timeline", count, &error);
    return names;
}

// The progress line of the file being rendered, redrawn in place on a terminal.
struct Progress {
    bool shown = false; // standard error is a terminal and --quiet was not given
    std::string name;
    Clock::time_point started, drawn;
    double seconds = 0; // of music rendered
    int percent = 0;

    void draw(bool last) {
        if (!shown) return;
        const double spent = std::chrono::duration<double>(Clock::now() - started).count();
        char speed[32] = "";
        if (spent > 0) std::snprintf(speed, sizeof speed, "  %.0fx", seconds / spent);
        std::fprintf(stderr, "\r%s  %3d%%%s  %s\033[K%s", name.c_str(), percent, speed, clockText(seconds).c_str(),
                     last ? "\n" : "");
        std::fflush(stderr);
        drawn = Clock::now();
    }
};

// What the whole run rendered, for the summary.
struct Totals {
    int files = 0, rendered = 0;
    double seconds = 0;
    Clock::time_point started = Clock::now();
};

// Where rows go while a song renders: a line for each row before the stop, in the file's time.
struct TimelineTarget {
    OutputFile* output = nullptr;
    std::int64_t firstFrame = 0, stop = -1;
    std::uint32_t rate = 44100;
};

void timelineRow(void* user, std::int64_t frame, std::int32_t order, std::int32_t row) {
    auto* t = static_cast<TimelineTarget*>(user);
    if (!t->output || (t->stop >= 0 && frame >= t->stop)) return;
    if (std::fprintf(outputStream(t->output), "%.4f %d %d\n", static_cast<double>(frame - t->firstFrame) / t->rate,
                     order, row) < 0)
        outputNoteError(t->output, errno);
}

// Closes the sink and the outputs of a render; both outputs take their names only when the
// render and every write succeeded, otherwise neither is left behind.
bool finishOutputs(bool ok, WaveFileSink* sink, OutputFile* wav, OutputFile* timeline, const std::string& file) {
    std::string error;
    int sinkError = 0;
    if (sink && !waveSinkClose(sink, &sinkError)) {
        if (sinkError) outputNoteError(wav, sinkError);
        if (!sinkError) report(outputTarget(wav), "the sound does not fit into one WAVE file (4 GiB)");
        ok = false;
    }
    for (OutputFile* output : {wav, timeline})
        if (output && !outputComplete(output, &error)) {
            std::fprintf(stderr, "virezplay: %s\n", error.c_str());
            ok = false;
        }
    for (OutputFile* output : {wav, timeline}) {
        if (!output) continue;
        if (!ok) {
            outputDiscard(output);
        } else if (!outputCommit(output, &error)) {
            std::fprintf(stderr, "virezplay: %s\n", error.c_str());
            ok = false;
        }
    }
    if (!ok) report(file, "not rendered (nothing of it is left behind)");
    return ok;
}

// The frame the song is expected to end at, for the progress line: the stop, or the song's end
// with its repeats (later passes may be shorter when the song restarts further on).
std::int64_t expectedEnd(const PlayerSettings& settings, const Song& song, std::int64_t stop) {
    const std::int64_t duration = sound_render_duration(song.render);
    std::int64_t end = duration >= 0 && settings.repeat >= 0 ? duration * (settings.repeat + 1) : -1;
    if (stop >= 0) end = end < 0 ? stop : std::min(end, stop);
    return end;
}

// Renders the opened song into the sink until its end or the stop; false after an error it has reported.
bool renderSong(const PlayerSettings& settings, const std::string& file, Song& song, WaveFileSink* sink,
                Progress& progress) {
    const std::int64_t stop = stopFrame(settings, song);
    const std::int64_t end = expectedEnd(settings, song, stop);
    const WaveFormat format{settings.rate, static_cast<std::uint16_t>(settings.mono ? 1 : 2),
                            static_cast<std::uint16_t>(settings.eightBit ? 8 : 16)};
    const std::uint32_t frameBytes = format.channels * format.bits / 8u;
    const HeadlessRecorder out = waveSinkRecorder(sink);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(blockFrames) * frameBytes);
    std::int64_t frame = song.firstFrame, written = 0;
    bool ended = false;
    for (;;) {
        std::int32_t want = blockFrames;
        if (stop >= 0) want = static_cast<std::int32_t>(std::min<std::int64_t>(want, stop - frame));
        if (want <= 0) break;
        const std::int32_t got = sound_render_frames(song.render, buffer.data(), want);
        if (got < 0) {
            report(file, sound_render_error_message(sound_render_last_error()));
            return false;
        }
        if (got > 0) out.audio(out.context, written, format, buffer.data(), static_cast<std::uint32_t>(got) * frameBytes);
        frame += got;
        written += got;
        progress.seconds = static_cast<double>(written) / settings.rate;
        if (end > song.firstFrame)
            progress.percent = static_cast<int>(std::min<std::int64_t>(99, (frame - song.firstFrame) * 100 / (end - song.firstFrame)));
        if (Clock::now() - progress.drawn >= progressEvery) progress.draw(false);
        if (got < want) {
            ended = true;
            break;
        }
    }
    if (!ended && settings.repeat != -1 && settings.endSeconds < 0)
        report(file, "the song does not end; rendered its first " + std::to_string(maxSongSeconds / 60) + " minutes");
    return true;
}

// Renders one file; false after an error it has reported.
bool renderFile(const PlayerSettings& settings, const std::string& file, Totals& totals) {
    std::string error;
    const RenderNames names = namesOf(settings, file);
    Song song;
    if (!openSong(settings, file, &song, &error)) {
        report(file, error);
        return false;
    }
    bool ok = true;
    OutputFile* wav = outputOpen(names.wav, settings.force, &error);
    OutputFile* timeline = nullptr;
    WaveFileSink* sink = wav ? waveSinkOpenStream(outputStream(wav)) : nullptr;
    if (!wav) {
        std::fprintf(stderr, "virezplay: %s\n", error.c_str());
        ok = false;
    } else if (!names.timeline.empty() && !(timeline = outputOpen(names.timeline, settings.force, &error))) {
        std::fprintf(stderr, "virezplay: %s\n", error.c_str());
        ok = false;
    }
    Progress progress;
    progress.shown = !settings.quiet && isatty(STDERR_FILENO);
    progress.name = file;
    progress.started = Clock::now();
    if (ok) {
        TimelineTarget rows{timeline, song.firstFrame, stopFrame(settings, song), settings.rate};
        sound_render_set_row_callback(song.render, timelineRow, &rows);
        ok = renderSong(settings, file, song, sink, progress);
        sound_render_set_row_callback(song.render, nullptr, nullptr);
    }
    closeSong(&song);
    if (wav) ok = finishOutputs(ok, sink, wav, timeline, file);
    if (ok) {
        progress.percent = 100;
        progress.draw(true);
        totals.seconds += progress.seconds;
        ++totals.rendered;
    }
    return ok;
}

void printSummary(const Totals& totals) {
    const double spent = std::chrono::duration<double>(Clock::now() - totals.started).count();
    const std::string files = totals.rendered == totals.files
                                  ? std::to_string(totals.files) + (totals.files == 1 ? " file" : " files")
                                  : std::to_string(totals.rendered) + " of " + std::to_string(totals.files) + " files";
    char speed[48] = "";
    if (spent > 0) std::snprintf(speed, sizeof speed, ", %.0fx real time", totals.seconds / spent);
    std::fprintf(stderr, "virezplay: %s rendered: %s of music in %.2f s%s\n", files.c_str(),
                 clockText(totals.seconds).c_str(), spent, speed);
}

std::string durationText(std::int64_t frames, std::int32_t rate) {
    return frames < 0 ? "unknown (does not end within " + std::to_string(maxSongSeconds / 60) + " minutes)"
                      : clockText(static_cast<double>(frames) / rate);
}

// The names of the instruments and samples, and the message, for --verbose.
void describeParts(const Song& song) {
    for (std::int32_t k = 0; song.info.own_instruments && k < song.info.instruments; ++k)
        if (const char* name = sound_render_instrument_name(song.module, k))
            std::printf("instrument %d: %s\n", k + 1, printableText(name).c_str());
    for (std::int32_t k = 0; k < song.info.samples; ++k)
        if (const char* name = sound_render_sample_name(song.module, k))
            std::printf("sample %d: %s\n", k + 1, printableText(name).c_str());
    const std::string message = sound_render_message(song.module);
    if (message.empty()) return;
    std::printf("message:\n");
    std::size_t from = 0;
    while (from <= message.size()) {
        const std::size_t end = std::min(message.find('\n', from), message.size());
        std::printf("  %s\n", printableText(message.substr(from, end - from).c_str()).c_str());
        from = end + 1;
    }
}

} // namespace

int renderFiles(const PlayerSettings& settings) {
    outputGuardSignals();
    // Every output of the run is looked at before the first song is rendered.
    std::vector<PlannedOutput> planned;
    for (const std::string& file : settings.files) {
        const RenderNames names = namesOf(settings, file);
        planned.push_back({file, names.wav, "WAVE file"});
        if (!names.timeline.empty()) planned.push_back({file, names.timeline, "timeline"});
    }
    if (const std::string refused = checkOutputs(planned, settings.force != 0); !refused.empty()) {
        std::fprintf(stderr, "virezplay: %s; nothing was rendered\n", refused.c_str());
        return 2;
    }
    Totals totals;
    totals.files = static_cast<int>(settings.files.size());
    int exitCode = 0;
    for (const std::string& file : settings.files)
        if (!renderFile(settings, file, totals)) exitCode = 1;
    if (!settings.quiet && isatty(STDERR_FILENO)) printSummary(totals);
    return exitCode;
}

int describeFiles(const PlayerSettings& settings) {
    int exitCode = 0;
    bool first = true;
    for (const std::string& file : settings.files) {
        std::string error;
        Song song;
        if (!loadSong(file, &song, &error)) {
            report(file, error);
            exitCode = 1;
            continue;
        }
        const std::int32_t rate = static_cast<std::int32_t>(settings.rate);
        // Listing walks every subsong through: room for the usual few at once, a second walk
        // only for a song with more.
        std::vector<SoundSubsong> subsongs(16);
        std::int32_t count = sound_render_list_subsongs(song.module, rate, subsongs.data(), 16);
        if (count > 16) {
            subsongs.resize(static_cast<std::size_t>(count));
            count = sound_render_list_subsongs(song.module, rate, subsongs.data(), count);
        }
        subsongs.resize(static_cast<std::size_t>(std::max(count, 0)));
        if (!first) std::printf("\n");
        first = false;
        const SoundModuleInfo& info = song.info;
        std::printf("file: %s\n", file.c_str());
        std::printf("format: %s\n", info.format);
        std::printf("name: %s\n", printableText(info.name).c_str());
        std::printf("channels: %d\n", info.channels);
        std::printf("orders: %d\n", info.orders);
        std::printf("patterns: %d\n", info.patterns);
        std::printf("instruments: %d\n", info.instruments);
        std::printf("samples: %d\n", info.samples);
        std::printf("duration: %s\n", subsongs.empty() ? "unknown" : durationText(subsongs[0].frames, rate).c_str());
        std::printf("subsongs: %d\n", count < 0 ? 0 : count);
        for (std::size_t k = 0; k < subsongs.size(); ++k)
            std::printf("subsong %zu: order %d, %s\n", k + 1, subsongs[k].start_order,
                        durationText(subsongs[k].frames, rate).c_str());
        if (settings.verbose) describeParts(song);
        closeSong(&song);
    }
    std::fflush(stdout);
    return exitCode;
}
