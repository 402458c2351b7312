// sound_load_module gives each format to its loader by the file's signature.
#include "player_fixture.h"
#include "plumbing_fixture.h"
#include "smallest_modules.h"
#include "sound/api/errors.h"
#include "sound/api/mglobals.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace smallest;

using SoundApiLoaders = plumbing::LibraryTest;

} // namespace

TEST_F(SoundApiLoaders, EachSignatureFindsItsLoader) {
    ASSERT_EQ(sound_init(), 1);
    const std::pair<std::vector<std::uint8_t>, int> songs[] = {
        {protracker(), playModeProtracker}, {screamTracker3(), playModeScreamTracker3}, {impulseTracker(), playModeImpulse}};
    for (const auto& [bytes, mode] : songs) {
        Module* module = sound_load_module(writeImage("loaders_pick.mod", bytes).c_str());
        ASSERT_NE(module, nullptr) << sound_get_error_message(sound_get_last_error());
        EXPECT_EQ(module->play_mode, mode);
        EXPECT_EQ(sound_free_module(module), 1);
    }
    Module* module = sound_load_module(writeImage("loaders_pick.mod", protracker()).c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->samples[0]->data, nullptr) << "the sample went to the device";
    EXPECT_NE(module->samples[0]->device_handle, 0);
    EXPECT_EQ(sound_free_module(module), 1);

    std::vector<std::uint8_t> unknown = protracker();
    std::memcpy(&unknown[1080], "ABCD", 4); // no signature at all ends with the Protracker loader
    EXPECT_EQ(sound_load_module(writeImage("loaders_pick.mod", unknown).c_str()), nullptr);
    EXPECT_EQ(sound_get_last_error(), errInvalidModule);
}

TEST_F(SoundApiLoaders, ImpulseSongsWhoseNotesSoundOnGetVoicesOfTheirOwn) {
    ASSERT_EQ(sound_init(), 1);
    for (int action : {0, 1}) {
        SCOPED_TRACE(action);
        playertest::ModuleSpec spec;
        spec.playMode = playModeImpulse;
        spec.flags = moduleInstrumentMode;
        Module* module = playertest::buildModule(spec);
        module->instruments[0]->new_note_action = static_cast<std::uint8_t>(action);
        module->samples[0]->device_handle = 0; // never given to the device
        const int song = sound_play_module(module, 1);
        ASSERT_EQ(song, 1) << sound_get_error_message(sound_get_last_error());
        const PlayingSong* record = playing_songs[0];
        // Four channels, and with notes that sound on as many voices as make 64 in all.
        EXPECT_EQ(channels_open, action ? 64 : 4);
        EXPECT_EQ(record->background_count, action ? 60 : 0);
        EXPECT_EQ(record->handle->background_count, action ? 60 : 0);
        EXPECT_EQ(sound_stop_module(song), 1);
        EXPECT_EQ(channels_open, 0);
        EXPECT_EQ(free_module(module, nullptr), errOK);
    }
    // Channels the program opened are its own to share out: no voices are taken from them.
    playertest::ModuleSpec spec;
    spec.playMode = playModeImpulse;
    spec.flags = moduleInstrumentMode;
    Module* module = playertest::buildModule(spec);
    module->instruments[0]->new_note_action = 1;
    module->samples[0]->device_handle = 0;
    ASSERT_EQ(sound_open_channels(8), 1);
    const int song = sound_play_module(module, 1);
    ASSERT_EQ(song, 1);
    EXPECT_EQ(playing_songs[0]->background_count, 0);
    EXPECT_EQ(channel_in_use[4], 0);
    EXPECT_EQ(sound_stop_module(song), 1);
    EXPECT_EQ(sound_close_channels(), 1);
    EXPECT_EQ(free_module(module, nullptr), errOK);
}
