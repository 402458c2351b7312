// Plays a module straight through the player and the mixer, without the
// library's interface, devices or threads: a device record holding the
// mixer's operations, one player tick, then one tick's worth of frames mixed.
#pragma once

#include "sound/mixer/dsm.h"
#include "sound/player/gmplayer.h"
#include "sound/formats/formats.h"
#include "sound/api/mglobals.h"
#include "sound/formats/module.h"
#include "sound/output/sdevice.h"

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

namespace offline {

// The update rate the player last asked for (hundredths of ticks a second).
inline uint32_t updateRate = 5000;

inline SoundDevice device = [] {
    SoundDevice d{};
    setMixerOperations(&d);
    d.setUpdateRate = [](uint32_t rate) {
        updateRate = rate;
        return 0;
    };
    return d;
}();

// The format a file name's extension names (its short name in small
// letters: xm, s3m, it, mod); null for others.
inline const ModuleFormat* formatFor(const std::string& name) {
    const std::string ext = name.substr(name.rfind('.') + 1);
    for (const ModuleFormat* format : moduleFormats) {
        std::string small = format->name;
        for (char& c : small)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == small) return format;
    }
    return nullptr;
}

// A song on the mixer: open() sets up the mixer as the current device,
// start() plays a module loaded into it, tick() renders one tick.
struct Song {
    uint32_t rate = 44100;
    uint32_t mode = MIX_STEREO | MIX_16BIT | MIX_FLOAT;
    Module* module = nullptr;
    PlayHandle* handle = nullptr;
    SoundDevice* savedDevice = nullptr;
    bool mixerOpen = false;

    // Opens the mixer and makes the offline device the library's current one, for the loaders.
    int open(uint32_t mixRate, uint32_t mixMode) {
        rate = mixRate;
        mode = mixMode;
        savedDevice = currentDevice;
        currentDevice = &device;
        updateRate = 5000;
        const int code = mixerInit(rate, mode);
        mixerOpen = code == 0;
        return code;
    }

    // Plays module (loaded into the device) from its start, looping.
    int start(Module* loaded) {
        module = loaded;
        const int channels = module->channel_count;
        if (int code = device.openChannels(uint32_t(channels > 0 ? channels : 1))) return code;
        if (int code = gmp_init(&device)) return code;
        return gmp_play_song(module, -1, -1, -1, 1, channels, nullptr, &handle);
    }

    // One player tick, then its frames mixed into out (replacing what was there).
    int tick(std::vector<std::uint8_t>& out) {
        if (int code = gmp_play()) return code;
        const uint32_t frames = framesPerTickFor(rate, updateRate);
        const uint32_t frameBytes = ((mode & MIX_MONO) ? 1u : 2u) * ((mode & MIX_8BIT) ? 1u : 2u);
        out.assign(std::size_t(frames) * frameBytes, 0);
        return mixData(frames, out.data());
    }

    // Stops the song, frees the module and closes the mixer.
    void close() {
        if (handle) gmp_stop_song(handle);
        handle = nullptr;
        gmp_close();
        if (module) free_module(module, &device);
        module = nullptr;
        if (mixerOpen) mixerClose();
        mixerOpen = false;
        currentDevice = savedDevice;
    }

    ~Song() { close(); }
};

} // namespace offline
