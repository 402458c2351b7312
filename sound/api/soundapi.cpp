// The programming interface: thin wrappers over the internal layer (virez),
// the polling thread (mpoll), the loaders and the player that turn error
// codes into 1/0 results and keep the code as the last error.
#include "sound/api/soundapi.h"

#include "sound/mixer/dsm.h"
#include "sound/api/errors.h"
#include "sound/formats/formats.h"
#include "sound/api/mglobals.h"
#include "sound/sys/mmem.h"
#include "sound/api/mpoll.h"
#include "sound/output/sdevice.h"
#include "sound/api/virez.h"

#include <algorithm>
#include <cstring>

namespace {

// --- loading by format ----------------------------------------------------------------------

int loadModule(const char* fileName, Module** module) {
    if (!fileName || !*fileName) return errInvalidArguments;
    ModuleFile file;
    int err = read_module_file(fileName, moduleFormats, &file);
    if (!err) {
        // Samples go to the device, which the polling thread may be mixing from.
        LibraryLock held;
        err = file.format->load_memory(file.data, file.size, 1, nullptr, module);
    }
    free_module_file(&file);
    // A file too short for any format's signature is no module either.
    return err == errEndOfFile && !file.format ? errInvalidModule : err;
}

// --- songs -----------------------------------------------------------------------------------

int playSong(Module* module, int channelCount, int start, int end, int restart, int loop, int* song) {
    if (!module) return errInvalidArguments;
    const int count = channelCount > 0 ? channelCount : module->channel_count;
    if (count < 1 || count > maxModuleChannels) return errInvalidArguments;
    LibraryLock held;
    int slot = 0;
    while (slot < maxSongs && playing_songs[slot]) ++slot;
    if (slot == maxSongs) return errOutOfResources;
    // Background voices only come with channels opened for the song: channels the
    // program opened itself are its to share out.
    const bool opened = channels_open == 0;
    const int background = opened ? background_voices_for(module, count) : 0;
    if (opened) {
        if (int err = virez_open_channels(count + background)) return err;
    }
    channels_opened_for_song = opened ? 1 : 0;

    void* block = nullptr;
    int err = mem_alloc_zeroed(sizeof(PlayingSong), &block);
    auto* record = static_cast<PlayingSong*>(block);
    int taken = 0, takenBackground = 0;
    if (!err) {
        record->channel_count = count;
        for (; taken < count; ++taken) {
            record->channels[taken] = virez_take_channel();
            if (record->channels[taken] < 0) {
                err = errOutOfChannels;
                break;
            }
        }
        for (; !err && takenBackground < background; ++takenBackground) {
            record->background[takenBackground] = virez_take_channel();
            if (record->background[takenBackground] < 0) err = errOutOfChannels;
        }
        record->background_count = takenBackground;
    }
    if (!err) {
        err = gmp_play_song(module, start, end, restart, loop ? 1 : 0, count, record->channels.data(),
                            &record->handle);
        if (!err && background > 0) {
            err = gmp_set_background_channels(record->handle, background, record->background.data());
            if (err) gmp_stop_song(record->handle);
        }
    }
    if (err) {
        // Nothing of the failed start stays behind: its channels, and the channels it opened.
        for (int i = 0; i < taken; ++i)
            channel_in_use[record->channels[i]] = 0;
        for (int i = 0; i < takenBackground; ++i)
            if (record->background[i] >= 0) channel_in_use[record->background[i]] = 0;
        if (record) mem_free(record);
        if (opened) {
            channels_opened_for_song = 0;
            virez_close_channels();
        }
        return err;
    }
    playing_songs[slot] = record;
    *song = slot + 1;
    return errOK;
}

// Runs action on a playing song under the library lock; 1/0 like the other calls.
template <typename Action>
int withSong(int song, Action action) {
    if (song < 1 || song > maxSongs) return keepResult(errInvalidArguments);
    LibraryLock held;
    PlayingSong* record = playing_songs[song - 1];
    return keepResult(record ? action(record) : errNoModulePlaying);
}

} // namespace

// --- start-up, set-up and shut-down ----------------------------------------------------------

int sound_startup() {
    resetSoundOptions();
    mixerOptions = MixerOptions{};
    device_port = device_irq = device_dma = device_card_type = -1;
    chosen_device_number = -1;
    error_report_hook = nullptr;
    amplification_percent = 100;
    playing_songs.fill(nullptr);
    channels_opened_for_song = 0;
    device_initialised = 0;
    player_initialised = 0;
    return 1;
}

int sound_set_option(int option, int value) {
    if (option < 1 || option > soundOptionCount) return 1;
    if (option == optInterpolation) value = value == 1 ? 1 : 0;
    soundOptions[option] = value;
    if (option == optUlawSamples) mixerOptions.ulawSamples = value;
    if (option == optFilterMode) mixerOptions.filterMode = value;
    return 1;
}

int sound_get_option(int option) {
    if (option < 1 || option > soundOptionCount) return 0;
    return soundOptions[option];
}

int sound_init() {
    return keepResult(virez_init_device());
}

int sound_close() {
    // The thread needs the library lock to finish its poll: stop it first.
    sound_stop_background_play();
    return keepResult(virez_shutdown(nullptr));
}

int sound_detect_device() {
    int number = -1;
    if (!keepResult(virez_detect_device(&number))) return -1;
    return number;
}

void sound_set_error_report_hook(ErrorReportHook hook) {
    error_report_hook = hook;
}

// --- modules and songs -----------------------------------------------------------------------

Module* sound_load_module(const char* fileName) {
    Module* module = nullptr;
    if (!keepResult(loadModule(fileName, &module))) return nullptr;
    return module;
}

int sound_free_module(Module* module) {
    if (!module) return keepResult(errInvalidArguments);
    LibraryLock held;
    // A song still playing the module would go on reading it: stop it first.
    for (int slot = 0; slot < maxSongs; ++slot)
        if (playing_songs[slot] && playing_songs[slot]->handle && playing_songs[slot]->handle->module == module)
            virez_stop_song(slot);
    const int err = free_module(module, device_initialised ? currentDevice : nullptr);
    // With the device closed its samples went with the mixer: only the memory was left to free.
    return keepResult(err == errInvalidDevice && !device_initialised ? errOK : err);
}

int sound_play_module(Module* module, int loop) {
    int song = 0;
    if (!keepResult(playSong(module, -1, -1, -1, -1, loop, &song))) return 0;
    return song;
}

int sound_play_song_section(Module* module, int channels, int start, int end, int restart, int loop) {
    int song = 0;
    if (!module || start < 0 || end < start || end >= module->song_length || restart < 0 ||
        restart >= module->song_length)
        return keepResult(errInvalidArguments);
    if (!keepResult(playSong(module, channels, start, end, restart, loop, &song))) return 0;
    return song;
}

int sound_stop_module(int song) {
    if (song < 1 || song > maxSongs) return keepResult(errInvalidArguments);
    return keepResult(virez_stop_song(song - 1));
}

int sound_get_play_status(int song, PlayStatus* status) {
    if (!status) return keepResult(errInvalidArguments);
    return withSong(song, [status](PlayingSong* record) {
        SongStatus* current = nullptr;
        if (int err = gmp_get_status(record->handle, &current)) return err;
        *status = PlayStatus{current->position, current->pattern, current->row, current->sync_value,
                             current->loop_count};
        return static_cast<int>(errOK);
    });
}

int sound_set_position(int song, int position) {
    return withSong(song, [position](PlayingSong* record) { return gmp_set_position(record->handle, position); });
}

int sound_set_music_volume(int song, int volume) {
    if (volume < 0 || volume > 64) return keepResult(errInvalidArguments);
    return withSong(song, [volume](PlayingSong* record) { return gmp_set_master_volume(record->handle, volume); });
}

int sound_set_channel_volume(int song, int channel, int volume) {
    if (volume < 0 || volume > 64) return keepResult(errInvalidArguments);
    return withSong(song, [channel, volume](PlayingSong* record) {
        if (channel < 0 || channel >= record->channel_count) return static_cast<int>(errInvalidChannel);
        return gmp_set_channel_volume(record->handle, channel, volume);
    });
}

int sound_set_music_sync_callback(int song, SyncCallback callback) {
    return withSong(song, [callback](PlayingSong* record) { return gmp_set_sync_callback(record->handle, callback); });
}

int sound_get_module_info(Module* module, ModuleInfo* info) {
    if (!module || !info) return keepResult(errInvalidArguments);
    std::memcpy(info->name, module->name, sizeof info->name);
    info->name[sizeof info->name - 1] = 0;
    info->song_length = module->song_length;
    info->pattern_count = module->pattern_count;
    info->instrument_count = module->instrument_count;
    info->channel_count = module->channel_count;
    return 1;
}

int sound_get_instrument_info(Module* module, int index, InstrumentInfo* info) {
    if (!module || !info || index < 0 || index >= module->instrument_count || !module->instruments ||
        !module->instruments[index])
        return keepResult(errInvalidArguments);
    std::memcpy(info->name, module->instruments[index]->name, sizeof info->name);
    info->name[sizeof info->name - 1] = 0;
    return 1;
}

// --- channels and output level ---------------------------------------------------------------

int sound_open_channels(int count) {
    return keepResult(virez_open_channels(count));
}

int sound_close_channels() {
    return keepResult(virez_close_channels());
}

int sound_set_amplification(int percent) {
    if (percent < 0) return keepResult(errInvalidArguments);
    LibraryLock held;
    amplification_percent = percent;
    if (!channels_open || !currentDevice) return 1;
    return keepResult(currentDevice->setAmplification(
        static_cast<uint32_t>(static_cast<int64_t>(percent) * base_amplification / 100)));
}

int sound_allocate_channel() {
    constexpr int none = 0xFFFF;
    LibraryLock held;
    const int channel = channels_open ? virez_take_channel() : -1;
    if (channel < 0) {
        keepResult(channels_open ? errOutOfChannels : errNoChannels);
        return none;
    }
    return channel;
}

int sound_free_channel(int channel) {
    LibraryLock held;
    if (!channels_open) return keepResult(errNoChannels);
    if (channel < 0 || channel >= channels_open) return keepResult(errInvalidChannel);
    channel_in_use[channel] = 0;
    return 1;
}

// --- playing ---------------------------------------------------------------------------------

int sound_start_background_play(int rate) {
    if (background_play_active) return 1;
    const uint32_t sleep = rate == 0 ? 20 : (1000u / static_cast<uint32_t>(rate)) / 2;
    if (!keepResult(start_play_thread(sleep))) return 0;
    background_play_active = 1;
    return 1;
}

int sound_stop_background_play() {
    if (background_play_active) {
        stop_play_thread();
        background_play_active = 0;
    }
    return 1;
}

int sound_poll() {
    return keepResult(poll_music());
}

int sound_lock() {
    lock_library();
    return 1;
}

int sound_unlock() {
    unlock_library();
    return 1;
}

// --- errors and version ----------------------------------------------------------------------

int sound_get_last_error() {
    return last_error;
}

const char* sound_get_error_message(int code) {
    return errorMessage(code);
}

const char* sound_get_version_string() {
    return "1.1.2";
}
