// Walking a song with the player alone (see songscan.h).
#include "sound/player/songscan.h"

#include "sound/api/errors.h"
#include "sound/output/sdevice.h"

#include <algorithm>

namespace {

// The walk's device: the player's channel operations go nowhere; the update rate the player
// asks for sets the frames of a tick.
std::uint32_t walkRate = 44100;
std::uint32_t walkFramesPerTick = 0;

int ignore1(std::uint32_t) {
    return errOK;
}
int ignore2(std::uint32_t, std::uint32_t) {
    return errOK;
}
int ignorePanning(std::uint32_t, std::int32_t) {
    return errOK;
}
int walkUpdateRate(std::uint32_t rate) {
    walkFramesPerTick = framesPerTickFor(walkRate, rate);
    return rate ? errOK : errInvalidArguments;
}

SoundDevice walkDevice() {
    SoundDevice d{};
    d.startSound = ignore2;
    d.releaseSound = ignore1;
    d.stopSound = ignore1;
    d.setChannelRate = ignore2;
    d.setChannelVolume = ignore2;
    d.setChannelSample = ignore2;
    d.setChannelPosition = ignore2;
    d.setChannelPanning = ignorePanning;
    d.setUpdateRate = walkUpdateRate;
    return d;
}

// Walks the subsong from startOrder: row(frame, order, row) for every row read until the song
// ends; row returns false to stop there. *end becomes the song's frames (-1 when it did not end
// within the limit or was stopped). Returns an error code.
template <class Row>
int walkSong(Module* module, int startOrder, std::uint32_t mixRate, Row row, std::int64_t* end) {
    *end = -1;
    if (module == nullptr || mixRate == 0) return errInvalidArguments;
    const PlayerGlobals saved = gmp; // the player is lent, not taken: it goes back as it was
    SoundDevice device = walkDevice();
    walkRate = mixRate;
    walkFramesPerTick = framesPerTickFor(mixRate, 5000);
    const SubsongPlay play = subsong_play(module, startOrder);
    const std::int64_t limit = songScanSeconds * static_cast<std::int64_t>(mixRate);
    PlayHandle* song = nullptr;
    int code = gmp_init(&device);
    if (code == errOK)
        code = gmp_play_song(module, play.start, play.end, play.restart, 1, -1, nullptr, &song);
    if (code == errOK) {
        std::int64_t frame = 0;
        bool started = false;
        while (frame < limit) {
            const TickProbe before = probe_tick(song);
            if ((code = gmp_play()) != errOK) break;
            const TickKind kind = tick_kind(song, before, 0);
            if (kind == TickKind::end && started) {
                *end = frame;
                break;
            }
            if (kind == TickKind::row) {
                if (!started) {
                    started = true;
                    frame = 0;
                }
                if (!row(frame, song->status->position, song->status->row)) break;
            }
            if (started) frame += walkFramesPerTick;
        }
        gmp_stop_song(song);
    }
    gmp = saved;
    return code;
}

bool isMarker(std::uint16_t entry) {
    return entry == orderMarkEnd || entry == orderMarkSkip;
}

} // namespace

TickProbe probe_tick(const PlayHandle* song) {
    return {song->pattern_delay != 0 ? 1 : 0, gmp_song_passes(song)};
}

TickKind tick_kind(const PlayHandle* song, const TickProbe& before, int repeat) {
    // A tick that left tick at 0 read a row, unless it only repeated a delayed one.
    if (song->tick != 0 || before.delayRepeat) return TickKind::effects;
    if (repeat >= 0 && before.passes > repeat) return TickKind::end;
    return TickKind::row;
}

SubsongPlay subsong_play(const Module* module, int startOrder) {
    if (startOrder <= 0) return {-1, 0, 0};
    return {startOrder, module->song_length - 1, startOrder};
}

int scan_subsongs(Module* module, std::uint32_t mixRate, std::vector<Subsong>* out) {
    if (module == nullptr || out == nullptr || module->song_length <= 0 || module->orders == nullptr)
        return errInvalidArguments;
    out->clear();
    std::vector<char> played(static_cast<std::size_t>(module->song_length), 0);
    int start = 0;
    for (;;) {
        std::int64_t frames = -1;
        const auto mark = [&played](std::int64_t, int order, int) {
            if (order >= 0 && order < static_cast<int>(played.size())) played[static_cast<std::size_t>(order)] = 1;
            return true;
        };
        if (int code = walkSong(module, start, mixRate, mark, &frames); code != errOK) return code;
        out->push_back({start, frames});
        // The next song starts at the first order no song so far has played.
        start = -1;
        for (int k = 0; k < module->song_length && start < 0; ++k)
            if (!played[static_cast<std::size_t>(k)] && !isMarker(module->orders[k])) start = k;
        if (start < 0) break;
        // An order whose song never reaches its own first row still counts as played.
        played[static_cast<std::size_t>(start)] = 1;
    }
    return errOK;
}

int find_row_frame(Module* module, int startOrder, std::uint32_t mixRate, int order, int row,
                   std::int64_t* frame) {
    if (frame == nullptr) return errInvalidArguments;
    *frame = -1;
    std::int64_t found = -1, end = -1;
    const auto look = [&found, order, row](std::int64_t at, int o, int r) {
        if (o != order || r != row) return true;
        found = at;
        return false;
    };
    const int code = walkSong(module, startOrder, mixRate, look, &end);
    *frame = found;
    return code;
}
