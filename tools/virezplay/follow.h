// Following a song tick by tick: which player ticks start a row, where the song ends, and how
// long it lasts. The song's end, for a player that plays a song once, is the moment the first row
// of its second time round would start: the last row is heard in full, nothing after it. (The
// player knows the song has ended when it reads the last row and finds that the next one was
// played before, so the end is the first row read after a tick that already saw gmp_song_ended.)
#pragma once

#include <atomic>
#include <cstdint>

struct PlayHandle;
struct SoundDevice;
struct Module;

// A row that has just started: the frame it starts on and where it stands in the song.
struct RowStart {
    std::int64_t frame;
    int order;
    int row;
};

// What the device's wrapped play operation tells the program about the song it follows. The
// fields are the poll's (it runs under the library lock); ended may be read from anywhere.
struct SongFollower {
    PlayHandle* handle = nullptr;                  // the song followed
    std::int64_t (*mixedFrames)() = nullptr;       // frames mixed so far; null: not counted
    void (*rowStarted)(const RowStart&) = nullptr; // every row start before the end; may be null
    int stopAtEnd = 1;                             // 0: the song goes on (--loop), nothing ends
    int tickDue = 0;                               // a tick was due at the last play call
    int delayRepeat = 0;                           // ... and that tick repeats a delayed row
    int wrapped = 0;                               // ... and the song had ended before it
    std::int64_t tickFrame = 0;                    // ... at this frame
    std::int64_t startFrame = -1;                  // frame of the first row once known
    std::int64_t endFrame = -1;                    // frame of the end once known
    std::atomic<int> ended{0};
};
extern SongFollower follower;

// Wraps device's play operation so that follower sees every tick of the song in handle. On its
// end the device's output is muted, so that nothing of the second time round is heard.
void followSong(SoundDevice* device, PlayHandle* handle);

// Puts the followed device's own play operation back (also after a fatal error has shut the
// library down and forgotten the device).
void stopFollowing();

// The play handle behind a song handle of the programming interface (null when none).
PlayHandle* songHandle(int song);

// Frames from the song's first row to its end when played at mixRate on any device, found by
// running the player alone, without mixing, through the same ticks; capped at maxFrames. Needs
// an initialised library with no song playing and no polling thread. -1 when the song cannot
// start. (A song reads its first row only on its speed-th tick; the ticks before are silence,
// which a rendering leaves out.)
std::int64_t songFrames(Module* module, std::uint32_t mixRate, std::int64_t maxFrames);
