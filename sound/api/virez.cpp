// The internal start-up and shut-down steps, and the fatal error path.
#include "sound/api/virez.h"

#include "platform/platform.h"
#include "sound/mixer/dsm.h"
#include "sound/api/errors.h"
#include "sound/player/gmplayer.h"
#include "sound/api/mglobals.h"
#include "sound/sys/mmem.h"
#include "sound/api/mpoll.h"
#include "sound/output/sdevice.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// Keeps the first error of a run of steps; with onError each goes there too.
struct StepErrors {
    void (*onError)(int code);
    int first = errOK;
    // True when the steps should stop here.
    bool failed(int code) {
        if (code == errOK) return false;
        if (first == errOK) first = code;
        if (onError) onError(code);
        return onError == nullptr;
    }
};

void reportUninitFailure(int code) {
    virez_report(("FATAL VIREZ uninitialization failure: " + std::string(errorMessage(code))).c_str());
}

void freeChannelTable() {
    if (channel_in_use) mem_free(channel_in_use);
    channel_in_use = nullptr;
    channels_open = 0;
}

} // namespace

int virez_detect_device(int* number) {
    if (!number) return errInvalidArguments;
    *number = -1;
    for (int i = 0; soundDevices[i]; ++i) {
        int32_t found = 0;
        if (int err = soundDevices[i]->detectDevice(&found)) return err;
        if (found) {
            *number = i;
            return errOK;
        }
    }
    return errHardwareFailure;
}

int virez_init_device() {
    create_library_lock();
    LibraryLock held;
    // The mixer and the player serve one master: a device, or a rendering.
    if (device_initialised || render_active) return errDeviceBusy;
    if (soundOptions[optForceNoSound]) chosen_device_number = 2;
    int number = chosen_device_number;
    if (number == -1) {
        if (int err = virez_detect_device(&number)) return err;
    } else {
        if (number < 0 || number >= soundDeviceCount) return errInvalidDevice;
        if (device_port == -1 && device_irq == -1 && device_dma == -1 && device_card_type == -1) {
            int32_t found = 0; // asked for its side effects; the device was chosen anyway
            if (int err = soundDevices[number]->detectDevice(&found)) return err;
        }
    }
    SoundDevice* device = soundDevices[number];
    if (device_port != -1) device->port = device_port;
    if (device_irq != -1) device->irq = device_irq;
    if (device_dma != -1) device->dma = device_dma;
    if (device_card_type != -1) device->cardType = device_card_type;

    mixerOptions.ulawSamples = soundOptions[optUlawSamples];
    mixerOptions.filterMode = soundOptions[optFilterMode];
    if (int err = device->openDevice(static_cast<uint32_t>(soundOptions[optMixingRate]),
                                     static_cast<uint32_t>(soundOptions[optOutputMode])))
        return err;
    currentDevice = device;
    device_initialised = 1;
    if (int err = gmp_init(device)) return err;
    player_initialised = 1;
    return errOK;
}

int virez_open_channels(int count) {
    LibraryLock held;
    if (!device_initialised || !currentDevice) return errInvalidDevice;
    if (count <= 0) return errInvalidArguments;
    if (int err = currentDevice->openChannels(static_cast<uint32_t>(count))) return err;
    freeChannelTable();
    void* table = nullptr;
    if (int err = mem_alloc_zeroed(static_cast<std::size_t>(count) * sizeof(int), &table)) {
        currentDevice->closeChannels();
        return err;
    }
    channel_in_use = static_cast<int*>(table);
    channels_open = count;
    uint32_t amplification = 0;
    if (int err = currentDevice->getAmplification(&amplification)) return err;
    base_amplification = static_cast<int>(amplification);
    if (amplification_percent != 100)
        return currentDevice->setAmplification(
            static_cast<uint32_t>(static_cast<int64_t>(amplification_percent) * base_amplification / 100));
    return errOK;
}

int virez_close_channels() {
    LibraryLock held;
    if (!channels_open) return errNoChannels;
    const int err = currentDevice ? currentDevice->closeChannels() : errOK;
    freeChannelTable();
    return err;
}

int virez_take_channel() {
    LibraryLock held;
    for (int c = 0; c < channels_open; ++c)
        if (!channel_in_use[c]) {
            channel_in_use[c] = 1;
            return c;
        }
    return -1;
}

int virez_stop_song(int slot) {
    LibraryLock held;
    if (slot < 0 || slot >= maxSongs) return errInvalidArguments;
    PlayingSong* song = playing_songs[slot];
    if (!song) return errNoModulePlaying;
    playing_songs[slot] = nullptr;
    // Every step runs even after a failure, so that nothing of the song is left behind.
    StepErrors errors{[](int) {}};
    errors.failed(gmp_stop_song(song->handle));
    const int owned = song->channel_count + song->background_count;
    for (int i = 0; i < owned; ++i) {
        const int channel = i < song->channel_count ? song->channels[i] : song->background[i - song->channel_count];
        if (currentDevice && device_initialised) {
            errors.failed(currentDevice->stopSound(static_cast<uint32_t>(channel)));
            errors.failed(currentDevice->setChannelVolume(static_cast<uint32_t>(channel), 0));
        }
        if (channel >= 0 && channel < channels_open) channel_in_use[channel] = 0;
    }
    if (channels_opened_for_song) {
        channels_opened_for_song = 0;
        if (channels_open) errors.failed(virez_close_channels());
    }
    mem_free(song);
    return errors.first;
}

int virez_shutdown(void (*onError)(int code)) {
    LibraryLock held;
    StepErrors errors{onError};
    for (int slot = 0; slot < maxSongs; ++slot)
        if (playing_songs[slot] && errors.failed(virez_stop_song(slot))) return errors.first;
    if (player_initialised) {
        if (errors.failed(gmp_close())) return errors.first;
        player_initialised = 0;
    }
    if (channels_open && errors.failed(virez_close_channels())) return errors.first;
    if (device_initialised) {
        if (errors.failed(currentDevice->closeDevice())) return errors.first;
        device_initialised = 0;
        currentDevice = nullptr;
    }
    return errors.first;
}

void virez_report(const char* text) {
    const ErrorReportHook hook = error_report_hook ? error_report_hook : virez_default_report;
    hook(text);
}

void virez_default_report(const char* text) {
    std::fputs(text, stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    exitProcess(255);
}

void virez_fatal(int code) {
    virez_shutdown(reportUninitFailure);
    // Whatever failed to close is forgotten: the library starts from scratch.
    player_initialised = 0;
    device_initialised = 0;
    currentDevice = nullptr;
    virez_report(("VIREZ Error: " + std::string(errorMessage(code))).c_str());
}

void virez_init() {
    sound_startup();
    if (int err = virez_init_device()) virez_fatal(err);
}

void virez_close() {
    if (background_play_active) {
        stop_play_thread();
        background_play_active = 0;
    }
    if (virez_shutdown(reportUninitFailure)) {
        player_initialised = 0;
        device_initialised = 0;
        currentDevice = nullptr;
    }
}
