// The display surface both back ends keep in memory: the chosen mode's pixels, pitch x height
// bytes kept between frames like video memory, with the lock the show writes them under. The
// back ends differ only in what an unlock does with the pixels (the headless one records them,
// the SDL one uploads them to its texture).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

struct MemorySurface {
    DisplayMode mode{0, 0, 0};
    std::int32_t pitch = 0; // bytes from one line to the next
    int format555 = 0;      // 16-bit pixels in 5-5-5 rather than 5-6-5
    std::vector<std::uint8_t> pixels;
    int exists = 0; // created since the mode was set
    int locked = 0;
    std::uint32_t lockFlags = 0; // LockFlags of the lock held
};

// Bytes of one line of pixels of a mode of this width and depth.
constexpr std::int32_t surfaceRowBytes(std::int32_t width, std::int32_t bits) {
    return width * ((bits - 1) / 8 + 1);
}

// Takes a new mode with the given pitch; the surface must be created again.
void surfaceSetMode(MemorySurface* surface, DisplayMode mode, std::int32_t pitch);

// Creates the surface of the current mode, all zero like fresh video memory. Returns displayOk,
// or displayFailed when no mode has been set.
int surfaceCreate(MemorySurface* surface);

// Describes the surface: memory is the pixels while locked, else null.
void surfaceDescribe(MemorySurface* surface, SurfaceInfo* info);

// Describes the surface as displayGetSurfaceInfo does: displayFailed when it does not exist.
int surfaceGetInfo(MemorySurface* surface, SurfaceInfo* info);

// Locks the whole surface with flags (LockFlags) and describes it. displayFailed when it does
// not exist or is locked already.
int surfaceLock(MemorySurface* surface, SurfaceInfo* info, std::uint32_t flags);

// Ends a lock. Returns 0 when the surface was not locked; else 1, with *flags the lock's flags
// and *written the surface as written (memory set; valid until the surface changes).
int surfaceUnlock(MemorySurface* surface, std::uint32_t* flags, SurfaceInfo* written);

// Forgets the surface's pixels and any lock (the mode stays).
void surfaceRelease(MemorySurface* surface);
