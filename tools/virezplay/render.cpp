// Rendering offline and describing files (see render.h).
#include "tools/virezplay/render.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "platform/headless.h"
#include "platform/wavesink.h"
#include "sound/api/mglobals.h"
#include "sound/formats/module.h"
#include "sound/api/soundapi.h"
#include "sound/output/winwave.h"
#include "tools/virezplay/follow.h"
#include "tools/virezplay/outfile.h"
#include "tools/virezplay/session.h"

namespace {

// Where the sink output's blocks go while a song renders: every frame is counted, those from the
// song's first row up to the clip reach the file. (The ticks before the first row are silence.)
struct RenderTarget {
    WaveFileSink* sink = nullptr;
    std::int64_t written = 0;                                     // frames the device has written
    std::int64_t clip = std::numeric_limits<std::int64_t>::max(); // frames after the first row
    OutputFile* timeline = nullptr;
    std::uint32_t rate = 44100;
};
RenderTarget target;

void renderedBlock(void*, std::int64_t startFrame, const WaveFormat& format, const std::uint8_t* data,
                   std::uint32_t bytes) {
    const std::uint32_t frameBytes = format.channels * format.bits / 8u;
    if (frameBytes == 0) return;
    const std::int64_t frames = bytes / frameBytes;
    const std::int64_t first = target.written, end = first + frames;
    target.written = end;
    // Blocks written before the first row was read hold only frames before it.
    if (follower.startFrame < 0) return;
    // The song may end inside the poll that is writing this block.
    if (follower.ended.load()) target.clip = std::min(target.clip, follower.endFrame - follower.startFrame);
    const std::int64_t from = std::max(first, follower.startFrame);
    const std::int64_t to = std::min(end, follower.startFrame + target.clip);
    if (to > from && target.sink) {
        const HeadlessRecorder file = waveSinkRecorder(target.sink);
        file.audio(file.context, startFrame + (from - first), format, data + (from - first) * frameBytes,
                   static_cast<std::uint32_t>((to - from) * frameBytes));
    }
}

// Frames mixed so far: those written in whole blocks and those waiting in the block being filled.
std::int64_t mixedFrames() {
    return target.written + (winWave.bytesPerFrame ? winWave.fillOffset / winWave.bytesPerFrame : 0);
}

void timelineRow(const RowStart& row) {
    const std::int64_t frame = row.frame - follower.startFrame;
    if (!target.timeline || frame >= target.clip) return;
    if (std::fprintf(outputStream(target.timeline), "%.4f %d %d\n", static_cast<double>(frame) / target.rate,
                     row.order, row.row) < 0)
        outputNoteError(target.timeline, errno);
}

void startHeadless(HeadlessRecorder recorder) {
    HeadlessOptions options;
    options.audio = headlessAudioSink;
    headlessConfigure(options, recorder);
    platformInit(headlessBackend());
}

void report(const std::string& file, const std::string& message) {
    std::fprintf(stderr, "virezplay: %s: %s\n", file.c_str(), message.c_str());
}

std::int64_t maxFrames(std::uint32_t rate) {
    return maxSongSeconds * static_cast<std::int64_t>(rate);
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

// Closes the sink and the outputs of a render; both outputs take their names only when the
// render and every write succeeded, otherwise neither is left behind.
bool finishOutputs(bool ok, OutputFile* wav, const std::string& file) {
    std::string error;
    int sinkError = 0;
    if (target.sink && !waveSinkClose(target.sink, &sinkError)) {
        if (sinkError) outputNoteError(wav, sinkError);
        if (!sinkError) report(outputTarget(wav), "the sound does not fit into one WAVE file (4 GiB)");
        ok = false;
    }
    target.sink = nullptr;
    for (OutputFile* output : {wav, target.timeline})
        if (output && !outputComplete(output, &error)) {
            std::fprintf(stderr, "virezplay: %s\n", error.c_str());
            ok = false;
        }
    for (OutputFile* output : {wav, target.timeline}) {
        if (!output) continue;
        if (!ok) {
            outputDiscard(output);
        } else if (!outputCommit(output, &error)) {
            std::fprintf(stderr, "virezplay: %s\n", error.c_str());
            ok = false;
        }
    }
    if (!ok) report(file, "not rendered (nothing of it is left behind)");
    target.timeline = nullptr;
    return ok;
}

// Renders one file; false after an error it has reported.
bool renderFile(const PlayerSettings& settings, const std::string& file) {
    std::string error;
    const RenderNames names = namesOf(settings, file);
    const std::string& wavName = names.wav;
    const std::string& timelineName = names.timeline;
    if (!openLibrary(settings, 0, &error)) {
        report(file, "cannot start the sound library: " + error);
        return false;
    }
    Session session;
    if (currentDevice != &winWaveDevice) {
        report(file, "the sound library did not take the file output");
        closeLibrary(&session);
        return false;
    }
    if (!startSong(file, &session, &error)) {
        report(file, error);
        closeLibrary(&session);
        return false;
    }
    target = RenderTarget{};
    target.rate = winWave.mixRate;
    target.clip = maxFrames(target.rate);
    bool ok = true;
    OutputFile* wav = outputOpen(wavName, settings.force, &error);
    if (wav) target.sink = waveSinkOpenStream(outputStream(wav));
    if (!wav) {
        std::fprintf(stderr, "virezplay: %s\n", error.c_str());
        ok = false;
    } else if (!timelineName.empty() && !(target.timeline = outputOpen(timelineName, settings.force, &error))) {
        std::fprintf(stderr, "virezplay: %s\n", error.c_str());
        ok = false;
    }
    if (ok) {
        follower.mixedFrames = mixedFrames;
        follower.rowStarted = timelineRow;
        follower.stopAtEnd = !settings.loop;
        followSong(currentDevice, songHandle(session.song));
        // Until the frames up to the end (or the limit) are all written.
        const auto done = [] {
            return follower.startFrame >= 0 && target.written >= follower.startFrame + target.clip;
        };
        while (!done()) {
            const std::int64_t before = target.written;
            if (!sound_poll()) {
                const std::string fatal = fatalError();
                report(file, fatal.empty() ? sound_get_error_message(sound_get_last_error()) : fatal);
                ok = false;
                break;
            }
            if (follower.ended.load())
                target.clip = std::min(target.clip, follower.endFrame - follower.startFrame);
            if (target.written == before && !done()) { // the output took nothing: it would never end
                report(file, "the sound output stopped taking sound");
                ok = false;
                break;
            }
        }
        stopFollowing();
        if (ok && !settings.loop && !follower.ended.load())
            report(file, "the song does not end; rendered its first " + std::to_string(maxSongSeconds / 60) +
                             " minutes");
    }
    closeLibrary(&session);
    if (wav) ok = finishOutputs(ok, wav, file);
    target = RenderTarget{};
    return ok;
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
    HeadlessRecorder recorder{};
    recorder.audio = renderedBlock;
    startHeadless(recorder);
    int exitCode = 0;
    for (const std::string& file : settings.files)
        if (!renderFile(settings, file)) exitCode = 1;
    platformShutdown(exitCode);
    return exitCode;
}

int describeFiles(const PlayerSettings& settings) {
    startHeadless(HeadlessRecorder{}); // the sound goes nowhere: nothing is mixed for --info
    int exitCode = 0;
    bool first = true;
    for (const std::string& file : settings.files) {
        std::string error;
        if (!openLibrary(settings, 0, &error)) {
            report(file, "cannot start the sound library: " + error);
            exitCode = 1;
            continue;
        }
        Session session;
        session.module = sound_load_module(file.c_str());
        if (!session.module) {
            report(file, sound_get_error_message(sound_get_last_error()));
            closeLibrary(&session);
            exitCode = 1;
            continue;
        }
        const Module& m = *session.module;
        ModuleInfo info{};
        sound_get_module_info(session.module, &info);
        const std::uint32_t rate = winWave.mixRate;
        const std::int64_t frames = songFrames(session.module, rate, maxFrames(rate));
        if (!first) std::printf("\n");
        first = false;
        std::printf("file: %s\n", file.c_str());
        std::printf("format: %s\n", formatName(&m));
        std::printf("name: %s\n", printableText(info.name).c_str());
        std::printf("channels: %d\n", info.channel_count);
        std::printf("orders: %d\n", info.song_length);
        std::printf("patterns: %d\n", info.pattern_count);
        std::printf("instruments: %d\n", info.instrument_count);
        std::printf("samples: %d\n", m.sample_count);
        if (frames < 0)
            std::printf("duration: unknown\n");
        else
            std::printf("duration: %.3f\n", static_cast<double>(frames) / rate);
        closeLibrary(&session);
    }
    std::fflush(stdout);
    platformShutdown(exitCode);
    return exitCode;
}
