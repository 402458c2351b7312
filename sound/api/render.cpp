// The render interface (see render.h): the player and the mixer driven tick by tick for the
// caller's buffers, through a device record of the mixer's own operations, as the output
// devices drive them for their outputs.
//
// Exact positioning rests on two things. The state a subsong starts from is kept (the player's
// song, the mixer's channels, the output filter's history), so going back means taking it again.
// And going forward, the mixer moves its channels on without making the sound (skipData) up to
// a few frames before the place asked for; those last frames are mixed, so that the output
// filter's history is what playing would have left. Both give the bits that playing gives.
#include "sound/api/render.h"

#include "sound/api/errors.h"
#include "sound/api/mglobals.h"
#include "sound/api/mpoll.h"
#include "sound/formats/formats.h"
#include "sound/mixer/dsm.h"
#include "sound/mixer/dsmfilt.h"
#include "sound/output/sdevice.h"
#include "sound/player/gmplayer.h"
#include "sound/player/songscan.h"
#include "sound/sys/mmem.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr int32_t minRate = 8000, maxRate = 96000;
constexpr int32_t maxSeparation = 200, maxAmplificationPercent = 800;
// Frames mixed for real at the end of a move forward: the output filter looks two frames back.
constexpr int64_t mixedBeforeTarget = 64;
// Frames of the scratch buffer (a seek's mixed frames, float output's 16-bit frames).
constexpr uint32_t scratchFrames = 4096;
// A song that has not read its first row after this many ticks never will.
constexpr int firstRowTicks = 65536;

// Everything that makes the sound from a moment of a song on.
struct RenderState {
    PlayHandle handle{};
    std::vector<ChannelState> channels;
    std::vector<BackgroundVoice> background;
    SongStatus status{};
    std::vector<std::uint64_t> visited; // the rows the song has played since its last end
    int tempo = 0; // the player's
    std::vector<MixerChannel> mixerChannels;
    OutputFilterHistory filter{};
    std::vector<int32_t> pans;
    uint32_t framesPerTick = 0, framesLeft = 0;
    int64_t frame = 0;
    int pass = 0;
    int ended = 0;
};

// A row reached outside rendering (opening, seeking), told to the row callback when rendering
// goes on from its very frame.
struct PendingRow {
    bool valid = false;
    int64_t frame = 0;
    int32_t order = 0, row = 0;
};

} // namespace

struct SoundRender {
    Module* module = nullptr;
    SoundRenderSettings settings{};
    bool samplesAdded = false; // the module's samples are the mixer's (their handles are ours)
    int channelCount = 0, backgroundCount = 0;
    std::vector<int> deviceChannels, backgroundChannels;
    int32_t baseAmplification = 64;
    PlayHandle* song = nullptr;
    int subsong = 0;
    std::vector<Subsong> subsongs;
    std::vector<MixerChannel> openedChannels; // the mixer's records as opened, for a fresh start
    RenderState start;                        // the current subsong at its first row
    // Live state beside the player's and the mixer's.
    std::vector<int32_t> pans; // panning the player asked for, per device channel
    uint32_t framesPerTick = 0, framesLeft = 0;
    int64_t frame = 0;
    int pass = 0;
    int ended = 0;
    bool seeking = false;
    PendingRow pendingRow;
    SoundRowCallback rowCallback = nullptr;
    void* rowUser = nullptr;
    std::vector<uint8_t> scratch;
};

namespace {

// The one rendering (the mixer and the player are the library's own, one of each).
SoundRender* activeRender = nullptr;

// --- the rendering's device: the mixer's operations, with two of the player's calls seen ------

int32_t separated(int32_t pan, int32_t percent) {
    if (pan == PAN_SURROUND) return pan;
    return std::clamp(pan * percent / 100, PAN_LEFT, PAN_RIGHT);
}

int renderUpdateRate(uint32_t rate) {
    if (rate == 0) return errInvalidArguments;
    if (activeRender) activeRender->framesPerTick = framesPerTickFor(mixer.mixRate, rate);
    return errOK;
}

int renderChannelPanning(uint32_t channel, int32_t panning) {
    SoundRender* r = activeRender;
    if (r && channel < r->pans.size()) {
        r->pans[channel] = panning;
        panning = separated(panning, r->settings.stereo_separation);
    }
    return setChannelPanning(channel, panning);
}

SoundDevice renderDevice = [] {
    SoundDevice d{};
    d.name = "Render";
    setMixerOperations(&d);
    d.setUpdateRate = renderUpdateRate;
    d.setChannelPanning = renderChannelPanning;
    return d;
}();

// --- settings ------------------------------------------------------------------------------

bool validSettings(const SoundRenderSettings& s) {
    return s.rate >= minRate && s.rate <= maxRate && (s.channels == 1 || s.channels == 2) &&
           s.format >= SOUND_FORMAT_S16 && s.format <= SOUND_FORMAT_F32 &&
           s.interpolation >= SOUND_INTERPOLATION_NEAREST && s.interpolation <= SOUND_INTERPOLATION_CUBIC &&
           (s.integer_mixing == 0 || (s.integer_mixing == 1 && s.interpolation == SOUND_INTERPOLATION_NEAREST)) &&
           s.stereo_separation >= 0 && s.stereo_separation <= maxSeparation && s.amplification >= 0 &&
           s.amplification <= maxAmplificationPercent && s.repeat >= -1;
}

uint32_t mixModeOf(const SoundRenderSettings& s) {
    uint32_t mode = (s.channels == 1 ? MIX_MONO : MIX_STEREO) | (s.format == SOUND_FORMAT_U8 ? MIX_8BIT : MIX_16BIT);
    if (s.interpolation == SOUND_INTERPOLATION_CUBIC) return mode | MIX_INTERPOLATE | MIX_CUBIC;
    if (s.interpolation == SOUND_INTERPOLATION_LINEAR) return mode | MIX_INTERPOLATE;
    return mode | (s.integer_mixing ? MIX_INTEGER : MIX_FLOAT);
}

uint32_t outputFrameBytesOf(const SoundRenderSettings& s) {
    const uint32_t sample = s.format == SOUND_FORMAT_U8 ? 1 : s.format == SOUND_FORMAT_F32 ? 4 : 2;
    return sample * static_cast<uint32_t>(s.channels);
}

// --- the module's samples in the mixer -----------------------------------------------------

// Whether every sample of the module holds its own data (a module loaded for a sound device
// gave its data to the device, and cannot render).
bool samplesAtHand(const Module* module) {
    for (int k = 0; k < module->sample_count; ++k) {
        const Sample* s = module->samples ? module->samples[k] : nullptr;
        if (s && (s->device_handle != 0 || (s->type != SMP_NONE && s->data == nullptr))) return false;
    }
    return true;
}

// Gives the mixer every sample of the module, in the order and the way a loader hands them to
// a device.
int addSamples(Module* module) {
    for (int k = 0; k < module->sample_count; ++k) {
        Sample* s = module->samples[k];
        if (!s) continue;
        const SampleDesc desc = sampleDescOf(*s, s->data);
        uint32_t handle = 0;
        // The module keeps its samples as long as the render: the mixer plays them where they are.
        if (int code = renderDevice.addSample(&desc, SAMPLE_SHARE, &handle)) return code;
        s->device_handle = static_cast<int>(handle);
    }
    return errOK;
}

void removeSamples(Module* module) {
    for (int k = 0; module->samples && k < module->sample_count; ++k) {
        Sample* s = module->samples[k];
        if (!s || s->device_handle == 0) continue;
        renderDevice.removeSample(static_cast<uint32_t>(s->device_handle));
        s->device_handle = 0;
    }
}

// --- state kept and taken back -------------------------------------------------------------

RenderState keepState(const SoundRender& r) {
    RenderState s;
    const PlayHandle& h = *r.song;
    s.handle = h;
    s.channels.assign(h.channels, h.channels + h.channel_count);
    if (h.background) s.background.assign(h.background, h.background + h.background_count);
    s.status = *h.status;
    if (h.visited) s.visited.assign(h.visited, h.visited + h.visited_capacity);
    s.tempo = gmp.tempo;
    s.mixerChannels.assign(mixer.channels, mixer.channels + mixer.recordCount);
    s.filter = outputFilterHistory();
    s.pans = r.pans;
    s.framesPerTick = r.framesPerTick;
    s.framesLeft = r.framesLeft;
    s.frame = r.frame;
    s.pass = r.pass;
    s.ended = r.ended;
    return s;
}

int takeState(SoundRender& r, const RenderState& s) {
    PlayHandle& h = *r.song;
    // The song's blocks stay where they are; their contents go back. The table of rows played
    // may have grown since: it takes the kept one's size again.
    ChannelState* channels = h.channels;
    BackgroundVoice* background = h.background;
    SongStatus* status = h.status;
    std::uint64_t* visited = h.visited;
    const int visitedCapacity = h.visited_capacity;
    h = s.handle;
    h.channels = channels;
    h.background = background;
    h.status = status;
    h.visited = visited;
    h.visited_capacity = visitedCapacity;
    if (visited && static_cast<std::size_t>(visitedCapacity) != s.visited.size()) {
        void* memory = nullptr;
        if (int code = mem_alloc(s.visited.size() * sizeof(std::uint64_t), &memory)) return code;
        mem_free(visited);
        h.visited = static_cast<std::uint64_t*>(memory);
        h.visited_capacity = static_cast<int>(s.visited.size());
    }
    if (h.visited) std::copy(s.visited.begin(), s.visited.end(), h.visited);
    std::copy(s.channels.begin(), s.channels.end(), channels);
    if (background) std::copy(s.background.begin(), s.background.end(), background);
    *status = s.status;
    status->channels = channels;
    gmp.tempo = s.tempo;
    std::copy(s.mixerChannels.begin(), s.mixerChannels.end(), mixer.channels);
    setOutputFilterHistory(s.filter);
    r.framesPerTick = s.framesPerTick;
    r.framesLeft = s.framesLeft;
    r.frame = s.frame;
    r.pass = s.pass;
    r.ended = s.ended;
    // The separation may have changed since: the kept pannings are sent again as it is now.
    r.pans = s.pans;
    for (uint32_t c = 0; c < r.pans.size(); ++c)
        if (mixer.channels[c].panning != separated(r.pans[c], r.settings.stereo_separation))
            setChannelPanning(c, separated(r.pans[c], r.settings.stereo_separation));
    r.pendingRow = PendingRow{};
    return errOK;
}

// --- ticks and frames ----------------------------------------------------------------------

// One player tick at the current frame: a new row is told (or kept for later while seeking);
// the tick that would read the first row after the song's end ends the rendering.
int runTick(SoundRender& r) {
    const TickProbe before = probe_tick(r.song);
    if (int code = gmp_play()) return code;
    r.framesLeft = r.framesPerTick;
    const TickKind kind = tick_kind(r.song, before, r.settings.repeat);
    if (kind == TickKind::end) {
        r.ended = 1;
        return errOK;
    }
    if (kind != TickKind::row) return errOK;
    r.pass = before.passes;
    const int32_t order = r.song->status->position, row = r.song->status->row;
    if (!r.seeking && r.rowCallback) {
        r.pendingRow = PendingRow{};
        r.rowCallback(r.rowUser, r.frame, order, row);
    } else {
        r.pendingRow = PendingRow{true, r.frame, order, row};
    }
    return errOK;
}

// Mixes (or, with out null, skips) n frames, n not past the next tick, and runs the tick when
// they reach it.
int advance(SoundRender& r, uint32_t n, void* out) {
    if (int code = out ? mixData(n, out) : skipData(n)) return code;
    r.frame += n;
    r.framesLeft -= n;
    return r.framesLeft == 0 ? runTick(r) : errOK;
}

// Moves forward to frame target (or the song's end), the sound unmade but for the last frames.
int moveTo(SoundRender& r, int64_t target) {
    r.seeking = true;
    int code = errOK;
    while (code == errOK && r.frame < target && !r.ended) {
        const int64_t left = target - r.frame;
        uint32_t n = static_cast<uint32_t>(std::min<int64_t>(left, r.framesLeft));
        if (left > mixedBeforeTarget) {
            n = static_cast<uint32_t>(std::min<int64_t>(n, left - mixedBeforeTarget));
            code = advance(r, n, nullptr);
        } else {
            n = std::min(n, scratchFrames);
            code = advance(r, n, r.scratch.data());
        }
    }
    r.seeking = false;
    return code;
}

// Starts a subsong afresh: the mixer's channels as opened, a new player song at its start,
// the ticks up to its first row; that moment is kept as its start.
int startSubsong(SoundRender& r, int index) {
    if (r.song) gmp_stop_song(r.song);
    r.song = nullptr;
    std::copy(r.openedChannels.begin(), r.openedChannels.end(), mixer.channels);
    setOutputFilterHistory(OutputFilterHistory{});
    std::fill(r.pans.begin(), r.pans.end(), 0);
    r.subsong = index;
    r.frame = 0;
    r.pass = 0;
    r.ended = 0;
    const SubsongPlay play = subsong_play(r.module, r.subsongs[static_cast<std::size_t>(index)].start_order);
    if (int code = gmp_play_song(r.module, play.start, play.end, play.restart, 1, r.channelCount,
                                 r.deviceChannels.data(), &r.song))
        return code;
    if (r.backgroundCount > 0) {
        if (int code = gmp_set_background_channels(r.song, r.backgroundCount, r.backgroundChannels.data())) return code;
    }
    r.seeking = true;
    int code = errOK;
    for (int tick = 0; tick < firstRowTicks; ++tick) {
        const TickProbe before = probe_tick(r.song);
        if ((code = gmp_play())) break;
        if (tick_kind(r.song, before, -1) == TickKind::row) {
            r.pendingRow = PendingRow{true, 0, r.song->status->position, r.song->status->row};
            break;
        }
    }
    r.seeking = false;
    r.framesLeft = r.framesPerTick;
    if (code == errOK && !r.pendingRow.valid) code = errInvalidModule;
    const PendingRow first = r.pendingRow;
    r.start = keepState(r);
    r.pendingRow = first;
    return code;
}

int seekTo(SoundRender& r, int64_t frame) {
    if (frame < 0) return errInvalidArguments;
    if (frame < r.frame || r.ended) {
        if (int code = takeState(r, r.start)) return code;
        // Rendering from the very start tells the first row again.
        r.pendingRow = PendingRow{true, 0, r.start.status.position, r.start.status.row};
    }
    return moveTo(r, frame);
}

// Renders frames into out (the rendering's format); returns the frames rendered or -1.
int32_t renderInto(SoundRender& r, uint8_t* out, int32_t frames) {
    if (r.pendingRow.valid && r.pendingRow.frame == r.frame && r.rowCallback)
        r.rowCallback(r.rowUser, r.frame, r.pendingRow.order, r.pendingRow.row);
    r.pendingRow = PendingRow{};
    const bool toFloat = r.settings.format == SOUND_FORMAT_F32;
    const uint32_t values = static_cast<uint32_t>(r.settings.channels);
    int32_t done = 0;
    while (done < frames && !r.ended) {
        uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(frames - done), r.framesLeft);
        uint8_t* at = out + static_cast<std::size_t>(done) * outputFrameBytesOf(r.settings);
        void* target = at;
        if (toFloat) {
            n = std::min(n, scratchFrames);
            target = r.scratch.data();
        }
        if (keepResult(advance(r, n, target)) == 0) return -1;
        if (toFloat) {
            const auto* from = reinterpret_cast<const int16_t*>(r.scratch.data());
            float* to = reinterpret_cast<float*>(at);
            for (uint32_t i = 0; i < n * values; ++i)
                to[i] = static_cast<float>(from[i]) * (1.0f / 32768.0f);
        }
        done += static_cast<int32_t>(n);
    }
    return done;
}

void closeRender(SoundRender* r) {
    if (r->song) gmp_stop_song(r->song);
    r->song = nullptr;
    gmp = PlayerGlobals{};
    if (r->samplesAdded) removeSamples(r->module);
    if (mixer.channels) closeChannels();
    mixerClose();
    activeRender = nullptr;
    render_active = 0;
    delete r;
}

int openRender(Module* module, const SoundRenderSettings& settings, SoundRender** out) {
    if (!module || module->channel_count < 1 || module->channel_count > maxModuleChannels || !validSettings(settings) ||
        !samplesAtHand(module))
        return errInvalidArguments;
    if (activeRender || device_initialised) return errDeviceBusy;
    mixerOptions.ulawSamples = soundOptions[optUlawSamples];
    mixerOptions.filterMode = soundOptions[optFilterMode];
    auto* r = new (std::nothrow) SoundRender;
    if (!r) return errOutOfMemory;
    r->module = module;
    r->settings = settings;
    activeRender = r;
    render_active = 1;
    int code = mixerInit(static_cast<uint32_t>(settings.rate), mixModeOf(settings));
    if (code == errOK) {
        r->scratch.assign(static_cast<std::size_t>(scratchFrames) * 4, 0);
        code = scan_subsongs(module, static_cast<uint32_t>(settings.rate), &r->subsongs);
    }
    if (code == errOK) code = gmp_init(&renderDevice);
    if (code == errOK) {
        r->samplesAdded = true;
        code = addSamples(module);
    }
    if (code == errOK) {
        r->channelCount = module->channel_count;
        r->backgroundCount = background_voices_for(module, r->channelCount);
        const int total = r->channelCount + r->backgroundCount;
        for (int c = 0; c < total; ++c)
            (c < r->channelCount ? r->deviceChannels : r->backgroundChannels).push_back(c);
        r->pans.assign(static_cast<std::size_t>(total), 0);
        code = renderDevice.openChannels(static_cast<uint32_t>(total));
    }
    if (code == errOK) {
        uint32_t amplification = 0;
        renderDevice.getAmplification(&amplification);
        r->baseAmplification = static_cast<int32_t>(amplification);
        if (settings.amplification != 100)
            renderDevice.setAmplification(static_cast<uint32_t>(int64_t(settings.amplification) * r->baseAmplification / 100));
        r->openedChannels.assign(mixer.channels, mixer.channels + mixer.recordCount);
        code = startSubsong(*r, 0);
    }
    if (code != errOK) {
        closeRender(r);
        return code;
    }
    *out = r;
    return errOK;
}

// The render given, when it is the open one.
SoundRender* checked(const SoundRender* render) {
    return render && render == activeRender ? activeRender : nullptr;
}

// --- loading -------------------------------------------------------------------------------

void reportOf(const Module* module, SoundLoadReport* report) {
    if (!report) return;
    report->samples_cut = module->samples_cut;
    report->instruments_missing = module->instruments_missing;
    report->bytes_missing = module->sample_bytes_missing;
}

// Samples keep their data (the rendering gives it to the mixer); a file cut inside its sample
// data loads with what is there.
constexpr int renderLoad = loadCutSamples;

int loadImage(const uint8_t* data, std::size_t size, Module** module) {
    const ModuleFormat* format = recognise_module_image(moduleFormats, data, size);
    if (!format) return errInvalidModule;
    return format->load_memory(data, size, renderLoad, nullptr, module);
}

} // namespace

extern "C" {

void sound_render_default_settings(SoundRenderSettings* settings) {
    if (!settings) return;
    *settings = SoundRenderSettings{};
    settings->rate = 44100;
    settings->channels = 2;
    settings->format = SOUND_FORMAT_S16;
    settings->interpolation = SOUND_INTERPOLATION_NEAREST;
    settings->integer_mixing = 0;
    settings->stereo_separation = 100;
    settings->amplification = 100;
    settings->repeat = 0;
}

Module* sound_render_load_file(const char* file_name, SoundLoadReport* report) {
    if (report) *report = SoundLoadReport{};
    if (!file_name || !*file_name) {
        keepResult(errInvalidArguments);
        return nullptr;
    }
    ModuleFile file;
    Module* module = nullptr;
    int code = read_module_file(file_name, moduleFormats, &file);
    if (code == errOK) code = file.format->load_memory(file.data, file.size, renderLoad, nullptr, &module);
    const bool recognised = file.format != nullptr;
    free_module_file(&file);
    // A file too short for any format's signature is no module either.
    if (code == errEndOfFile && !recognised) code = errInvalidModule;
    if (!keepResult(code)) return nullptr;
    reportOf(module, report);
    return module;
}

Module* sound_render_load_memory(const void* data, size_t size, SoundLoadReport* report) {
    if (report) *report = SoundLoadReport{};
    Module* module = nullptr;
    if (!keepResult(data ? loadImage(static_cast<const uint8_t*>(data), size, &module) : errInvalidArguments))
        return nullptr;
    reportOf(module, report);
    return module;
}

int sound_render_free_module(Module* module) {
    if (!module) return keepResult(errInvalidArguments);
    LibraryLock held;
    if (activeRender && activeRender->module == module) closeRender(activeRender);
    return keepResult(free_module(module, nullptr));
}

int sound_render_module_info(const Module* module, SoundModuleInfo* info) {
    if (!module || !info) return keepResult(errInvalidArguments);
    *info = SoundModuleInfo{};
    std::memcpy(info->name, module->name, sizeof info->name);
    info->name[sizeof info->name - 1] = 0;
    const ModuleFormat* format = module_format_of(module->play_mode);
    std::strncpy(info->format, format ? format->name : "?", sizeof info->format - 1);
    info->channels = module->channel_count;
    info->orders = module->song_length;
    info->patterns = module->pattern_count;
    info->instruments = module->instrument_count;
    info->samples = module->sample_count;
    info->own_instruments = module->play_mode == playModeExtended ||
                                    (module->play_mode == playModeImpulse && (module->flags & moduleInstrumentMode))
                                ? 1
                                : 0;
    return 1;
}

const char* sound_render_instrument_name(const Module* module, int32_t index) {
    if (!module || !module->instruments || index < 0 || index >= module->instrument_count ||
        !module->instruments[index])
        return nullptr;
    return module->instruments[index]->name;
}

const char* sound_render_sample_name(const Module* module, int32_t index) {
    if (!module || !module->samples || index < 0 || index >= module->sample_count || !module->samples[index])
        return nullptr;
    return module->samples[index]->name;
}

const char* sound_render_message(const Module* module) {
    return module && module->message ? module->message : "";
}

int32_t sound_render_list_subsongs(const Module* module, int32_t rate, SoundSubsong* list, int32_t capacity) {
    if (!module || rate < minRate || rate > maxRate || capacity < 0 || (capacity > 0 && !list)) {
        keepResult(errInvalidArguments);
        return -1;
    }
    LibraryLock held;
    std::vector<Subsong> found;
    if (!keepResult(scan_subsongs(const_cast<Module*>(module), static_cast<uint32_t>(rate), &found))) return -1;
    for (int32_t k = 0; k < capacity && k < static_cast<int32_t>(found.size()); ++k) {
        const Subsong& s = found[static_cast<std::size_t>(k)];
        list[k] = SoundSubsong{s.start_order, s.frames < 0 ? -1 : static_cast<int32_t>(s.frames * 1000 / rate),
                               s.frames};
    }
    return static_cast<int32_t>(found.size());
}

SoundRender* sound_render_open(Module* module, const SoundRenderSettings* settings) {
    SoundRenderSettings chosen;
    sound_render_default_settings(&chosen);
    if (settings) chosen = *settings;
    LibraryLock held;
    SoundRender* render = nullptr;
    if (!keepResult(openRender(module, chosen, &render))) return nullptr;
    return render;
}

int sound_render_close(SoundRender* render) {
    LibraryLock held;
    SoundRender* r = checked(render);
    if (!r) return keepResult(errInvalidArguments);
    closeRender(r);
    return 1;
}

int32_t sound_render_frames(SoundRender* render, void* buffer, int32_t frames) {
    LibraryLock held;
    SoundRender* r = checked(render);
    if (!r || !buffer || frames < 0) {
        keepResult(errInvalidArguments);
        return -1;
    }
    return renderInto(*r, static_cast<uint8_t*>(buffer), frames);
}

int sound_render_get_position(const SoundRender* render, SoundPosition* position) {
    LibraryLock held;
    const SoundRender* r = checked(render);
    if (!r || !position) return keepResult(errInvalidArguments);
    const PlayHandle& h = *r->song;
    *position = SoundPosition{};
    position->frame = r->frame;
    position->milliseconds = static_cast<int32_t>(std::min<int64_t>(r->frame * 1000 / r->settings.rate, INT32_MAX));
    position->subsong = r->subsong;
    position->order = h.status->position;
    position->pattern = h.status->pattern;
    position->row = h.status->row;
    position->rows = gmp_pattern_rows(r->module, h.status->pattern);
    position->speed = h.speed;
    position->tempo = h.tempo;
    position->pass = r->pass;
    position->ended = r->ended;
    return 1;
}

int sound_render_seek(SoundRender* render, int64_t frame) {
    LibraryLock held;
    SoundRender* r = checked(render);
    if (!r) return keepResult(errInvalidArguments);
    return keepResult(seekTo(*r, frame));
}

int sound_render_seek_ms(SoundRender* render, int32_t milliseconds) {
    LibraryLock held;
    SoundRender* r = checked(render);
    if (!r || milliseconds < 0) return keepResult(errInvalidArguments);
    return keepResult(seekTo(*r, int64_t(milliseconds) * r->settings.rate / 1000));
}

int sound_render_set_position(SoundRender* render, int32_t order, int32_t row) {
    LibraryLock held;
    SoundRender* r = checked(render);
    if (!r || order < 0 || order >= r->module->song_length || row < 0 || row >= maxPatternRows)
        return keepResult(errInvalidArguments);
    const uint32_t rate = static_cast<uint32_t>(r->settings.rate);
    // The current subsong first, then the others in turn.
    const int count = static_cast<int>(r->subsongs.size());
    for (int k = 0; k < count; ++k) {
        const int index = (r->subsong + k) % count;
        int64_t frame = -1;
        if (int code = find_row_frame(r->module, r->subsongs[static_cast<std::size_t>(index)].start_order, rate, order,
                                      row, &frame))
            return keepResult(code);
        if (frame < 0) continue;
        if (index != r->subsong) {
            if (int code = startSubsong(*r, index)) return keepResult(code);
        }
        return keepResult(seekTo(*r, frame));
    }
    return keepResult(errInvalidArguments);
}

int32_t sound_render_subsong_count(const SoundRender* render) {
    LibraryLock held;
    const SoundRender* r = checked(render);
    if (!r) {
        keepResult(errInvalidArguments);
        return 0;
    }
    return static_cast<int32_t>(r->subsongs.size());
}

int sound_render_get_subsong(const SoundRender* render, int32_t index, SoundSubsong* subsong) {
    LibraryLock held;
    const SoundRender* r = checked(render);
    if (!r || !subsong || index < 0 || index >= static_cast<int32_t>(r->subsongs.size()))
        return keepResult(errInvalidArguments);
    const Subsong& s = r->subsongs[static_cast<std::size_t>(index)];
    *subsong = SoundSubsong{s.start_order,
                            s.frames < 0 ? -1 : static_cast<int32_t>(s.frames * 1000 / r->settings.rate), s.frames};
    return 1;
}

int sound_render_select_subsong(SoundRender* render, int32_t index) {
    LibraryLock held;
    SoundRender* r = checked(render);
    if (!r || index < 0 || index >= static_cast<int32_t>(r->subsongs.size())) return keepResult(errInvalidArguments);
    return keepResult(startSubsong(*r, index));
}

int64_t sound_render_duration(const SoundRender* render) {
    LibraryLock held;
    const SoundRender* r = checked(render);
    if (!r) {
        keepResult(errInvalidArguments);
        return -1;
    }
    return r->subsongs[static_cast<std::size_t>(r->subsong)].frames;
}

int sound_render_set_amplification(SoundRender* render, int32_t percent) {
    LibraryLock held;
    SoundRender* r = checked(render);
    if (!r || percent < 0 || percent > maxAmplificationPercent) return keepResult(errInvalidArguments);
    r->settings.amplification = percent;
    return keepResult(renderDevice.setAmplification(static_cast<uint32_t>(int64_t(percent) * r->baseAmplification / 100)));
}

int sound_render_set_stereo_separation(SoundRender* render, int32_t percent) {
    LibraryLock held;
    SoundRender* r = checked(render);
    if (!r || percent < 0 || percent > maxSeparation) return keepResult(errInvalidArguments);
    r->settings.stereo_separation = percent;
    for (uint32_t c = 0; c < r->pans.size(); ++c)
        if (int code = setChannelPanning(c, separated(r->pans[c], percent))) return keepResult(code);
    return 1;
}

int sound_render_set_repeat(SoundRender* render, int32_t repeat) {
    LibraryLock held;
    SoundRender* r = checked(render);
    if (!r || repeat < -1) return keepResult(errInvalidArguments);
    r->settings.repeat = repeat;
    return 1;
}

int sound_render_set_row_callback(SoundRender* render, SoundRowCallback callback, void* user) {
    LibraryLock held;
    SoundRender* r = checked(render);
    if (!r) return keepResult(errInvalidArguments);
    r->rowCallback = callback;
    r->rowUser = user;
    return 1;
}

int sound_render_last_error(void) {
    return last_error;
}

const char* sound_render_error_message(int code) {
    return errorMessage(code);
}

} // extern "C"
