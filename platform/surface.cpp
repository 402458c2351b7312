// The display surface in memory and its lock, shared by the back ends.
#include "platform/surface.h"

void surfaceSetMode(MemorySurface* surface, DisplayMode mode, std::int32_t pitch) {
    surface->mode = mode;
    surface->pitch = pitch;
    surface->exists = 0;
    surface->pixels.clear();
}

int surfaceCreate(MemorySurface* surface) {
    if (surface->mode.bits == 0) return displayFailed;
    surface->pixels.assign(static_cast<std::size_t>(surface->pitch) * surface->mode.height, 0);
    surface->exists = 1;
    return displayOk;
}

void surfaceDescribe(MemorySurface* surface, SurfaceInfo* info) {
    info->memory = surface->locked ? surface->pixels.data() : nullptr;
    info->pitch = surface->pitch;
    info->width = surface->mode.width;
    info->height = surface->mode.height;
    info->bits = surface->mode.bits;
    if (surface->mode.bits == 16) {
        info->redMask = surface->format555 ? 0x7C00u : 0xF800u;
        info->greenMask = surface->format555 ? 0x3E0u : 0x7E0u;
        info->blueMask = 0x1Fu;
    } else {
        info->redMask = 0xFF0000u;
        info->greenMask = 0xFF00u;
        info->blueMask = 0xFFu;
    }
}

int surfaceGetInfo(MemorySurface* surface, SurfaceInfo* info) {
    if (!surface->exists) return displayFailed;
    surfaceDescribe(surface, info);
    return displayOk;
}

int surfaceLock(MemorySurface* surface, SurfaceInfo* info, std::uint32_t flags) {
    if (!surface->exists || surface->locked) return displayFailed;
    surface->locked = 1;
    surface->lockFlags = flags;
    surfaceDescribe(surface, info);
    return displayOk;
}

int surfaceUnlock(MemorySurface* surface, std::uint32_t* flags, SurfaceInfo* written) {
    if (!surface->locked) return 0;
    surfaceDescribe(surface, written); // memory set while still locked
    *flags = surface->lockFlags;
    surface->locked = 0;
    return 1;
}

void surfaceRelease(MemorySurface* surface) {
    surface->exists = 0;
    surface->locked = 0;
    surface->pixels.clear();
}
