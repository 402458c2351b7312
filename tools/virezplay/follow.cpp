// Following a song tick by tick (see follow.h).
#include "tools/virezplay/follow.h"

#include "sound/api/errors.h"
#include "sound/player/gmplayer.h"
#include "sound/api/mglobals.h"
#include "sound/output/sdevice.h"

SongFollower follower;

namespace {

int (*devicePlay)(int32_t* tickDue) = nullptr;
SoundDevice* followedDevice = nullptr;

// A tick that set tick to 0 read a row; a pattern delay's repeats of a row are not new rows.
bool startsRow(const PlayHandle& song, int delayRepeat) {
    return song.tick == 0 && !delayRepeat;
}

// What a tick is, from the song as it stood before the tick and after it.
enum class TickKind { effects, row, end };

TickKind tickKind(const PlayHandle& after, int delayRepeat, int wrappedBefore) {
    if (!startsRow(after, delayRepeat)) return TickKind::effects;
    return wrappedBefore ? TickKind::end : TickKind::row;
}

// The row the last tick read, as the song's status names it.
RowStart rowAt(const PlayHandle& song, std::int64_t frame) {
    return {frame, song.status ? song.status->position : song.position,
            song.status ? song.status->row : song.row};
}

// Called after the tick that was due at follower.tickFrame has run (or was skipped).
void afterTick() {
    const PlayHandle& song = *follower.handle;
    const TickKind kind = tickKind(song, follower.delayRepeat, follower.wrapped);
    if (kind == TickKind::effects) return;
    // A row read after the song has wrapped is the second time round: the song has ended.
    if (kind == TickKind::end && follower.stopAtEnd) {
        follower.endFrame = follower.tickFrame;
        follower.ended.store(1);
        followedDevice->muteAll(1);
        return;
    }
    if (follower.startFrame < 0) follower.startFrame = follower.tickFrame;
    if (follower.rowStarted) follower.rowStarted(rowAt(song, follower.tickFrame));
}

int followingPlay(int32_t* tickDue) {
    // Every play call after a due tick comes after that tick has run: the poll always asks again.
    if (follower.tickDue && follower.handle && !follower.ended.load()) afterTick();
    follower.tickDue = 0;
    const int code = devicePlay(tickDue);
    if (code == errOK && *tickDue && follower.handle) {
        follower.tickDue = 1;
        follower.delayRepeat = follower.handle->pattern_delay != 0;
        follower.wrapped = gmp_song_ended(follower.handle);
        follower.tickFrame = follower.mixedFrames ? follower.mixedFrames() : 0;
    }
    return code;
}

// A device for songFrames: the player's operations do nothing, the update rate sets the ticks.
std::uint32_t walkRate = 44100;
std::uint32_t walkFramesPerTick = 0;

int ignore1(uint32_t) {
    return errOK;
}
int ignore2(uint32_t, uint32_t) {
    return errOK;
}
int ignorePanning(uint32_t, int32_t) {
    return errOK;
}
int walkUpdateRate(uint32_t rate) {
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

} // namespace

void followSong(SoundDevice* device, PlayHandle* handle) {
    follower.handle = handle;
    follower.tickDue = 0;
    follower.delayRepeat = 0;
    follower.tickFrame = 0;
    follower.startFrame = -1;
    follower.endFrame = -1;
    follower.ended.store(0);
    if (!devicePlay) {
        devicePlay = device->play;
        followedDevice = device;
        device->play = followingPlay;
    }
}

void stopFollowing() {
    if (devicePlay && followedDevice) followedDevice->play = devicePlay;
    devicePlay = nullptr;
    followedDevice = nullptr;
    follower.handle = nullptr;
}

PlayHandle* songHandle(int song) {
    if (song < 1 || song > maxSongs || !playing_songs[song - 1]) return nullptr;
    return playing_songs[song - 1]->handle;
}

std::int64_t songFrames(Module* module, std::uint32_t mixRate, std::int64_t maxFrames) {
    // The player is the library's; it lends itself to the walk and gets its state back after.
    const PlayerGlobals saved = gmp;
    SoundDevice device = walkDevice();
    walkRate = mixRate;
    std::int64_t frames = -1;
    PlayHandle* song = nullptr;
    if (gmp_init(&device) == errOK && gmp_play_song(module, -1, 0, 0, 1, -1, nullptr, &song) == errOK) {
        // The device mixes a tick's frames, then the tick runs; a tempo change inside a tick
        // sets the frames of the next one.
        std::int64_t tickFrame = walkFramesPerTick, startFrame = -1;
        for (;;) {
            if (startFrame >= 0 && tickFrame - startFrame >= maxFrames) {
                frames = maxFrames;
                break;
            }
            const int delayRepeat = song->pattern_delay != 0;
            const int wrapped = gmp_song_ended(song);
            if (gmp_play() != errOK) break; // the real render would stop with a fatal error too
            const TickKind kind = tickKind(*song, delayRepeat, wrapped);
            if (kind == TickKind::end) {
                frames = tickFrame - startFrame;
                break;
            }
            if (kind == TickKind::row && startFrame < 0) startFrame = tickFrame;
            tickFrame += walkFramesPerTick;
        }
        gmp_stop_song(song);
    }
    gmp = saved;
    return frames;
}
