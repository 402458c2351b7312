// How Impulse Tracker songs play beyond what the other formats share: notes
// that restart their instrument without naming it, the channel volume, the
// tempo slide and the samples' and instruments' own global volumes.
#include "player_fixture.h"

#include <gtest/gtest.h>

using namespace playertest;

namespace {

constexpr std::uint8_t C5 = note(5, 0);

class ImpulsePlay : public PlayerTest {
  protected:
    // Starts a song whose channels begin at the given channel volumes.
    PlayHandle* startWithChannelVolumes(const ModuleSpec& spec, const std::vector<std::uint8_t>& volumes) {
        Module* m = buildModule(spec);
        modules.push_back(m);
        m->channel_volumes = allocate<std::uint8_t>(64);
        std::fill(m->channel_volumes, m->channel_volumes + 64, std::uint8_t{64});
        std::copy(volumes.begin(), volumes.end(), m->channel_volumes);
        PlayHandle* h = nullptr;
        EXPECT_EQ(gmp_play_song(m, -1, 0, 0, 1, -1, nullptr, &h), errOK);
        return h;
    }
};

Cell command(int cmd, int info, int channel = 0) {
    return Cell{channel, 255, 255, -1, cmd, info};
}

} // namespace

TEST_F(ImpulsePlay, ABareNoteAfterANoteOffSoundsAgainFromTheEnvelopesStart) {
    // The envelope holds at 64 on its sustain point and falls to 0 after the note off;
    // the next note names no instrument and still starts the instrument afresh.
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0}}, {{0, noteKeyOff}}, {}, {{0, C5}}});
    InstrumentSpec& ins = spec.instruments[0];
    ins.volumeEnvelopeOn = true;
    ins.volumeEnvelope.points = {{0, 64}, {2, 64}, {4, 0}};
    ins.volumeEnvelope.sustain = 1;
    ins.fadeout = 64;
    PlayHandle* h = start(spec);
    rows(1);
    EXPECT_EQ(lastValue("volume", 0), 64);
    rows(2);
    EXPECT_EQ(lastValue("volume", 0), 0) << "released: the envelope has ended at 0";
    EXPECT_EQ(h->channels[0].key_off, 1);
    rows(1);
    EXPECT_EQ(h->channels[0].key_off, 0);
    EXPECT_EQ(h->channels[0].fade_volume, 1024);
    EXPECT_EQ(lastValue("volume", 0), 64) << "the bare note restarts the envelope";
    EXPECT_EQ(callsOf("start", 0).size(), 2u);
}

TEST_F(ImpulsePlay, ABareNoteKeepsTheVolumeTheChannelHas) {
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0, 20}}, {{0, C5}}});
    PlayHandle* h = start(spec);
    rows(2);
    EXPECT_EQ(h->channels[0].volume, 20) << "only an instrument number brings back the sample's volume";
    EXPECT_EQ(lastValue("volume", 0), 20);
}

TEST_F(ImpulsePlay, ChannelVolumeCommandsScaleTheChannel) {
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0, -1, cmdSetChannelVolume, 32}},
                                             {command(cmdChannelVolumeSlide, 0x02)},
                                             {command(cmdChannelVolumeSlide, 0x3f)},
                                             {command(cmdChannelVolumeSlide, 0x00)},
                                             {command(cmdSetChannelVolume, 99)},
                                             {command(cmdChannelVolumeSlide, 0x50)}});
    PlayHandle* h = start(spec);
    rows(1);
    EXPECT_EQ(h->channels[0].song_channel_volume, 32);
    EXPECT_EQ(lastValue("volume", 0), 32);
    rows(1);
    EXPECT_EQ(h->channels[0].song_channel_volume, 32) << "a plain slide waits for the row's later ticks";
    ticks(5);
    EXPECT_EQ(h->channels[0].song_channel_volume, 22);
    EXPECT_EQ(lastValue("volume", 0), 22);
    ticks(1);
    EXPECT_EQ(h->channels[0].song_channel_volume, 25) << "a fine slide acts once, on the row tick";
    ticks(5);
    EXPECT_EQ(h->channels[0].song_channel_volume, 25);
    rows(1);
    EXPECT_EQ(h->channels[0].song_channel_volume, 28) << "infobyte 0 repeats the last slide, a fine one";
    rows(1);
    EXPECT_EQ(h->channels[0].song_channel_volume, 64) << "the channel volume ends at 64";
    ticks(6);
    EXPECT_EQ(h->channels[0].song_channel_volume, 64);
    EXPECT_EQ(h->channels[0].channel_volume, 64) << "the caller's channel volume is another one";
}

TEST_F(ImpulsePlay, TheHeadersChannelVolumesAreWhereChannelsBegin) {
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0}, {1, C5, 0}}});
    PlayHandle* h = startWithChannelVolumes(spec, {16, 64});
    rows(1);
    EXPECT_EQ(h->channels[0].song_channel_volume, 16);
    EXPECT_EQ(lastValue("volume", 0), 16);
    EXPECT_EQ(lastValue("volume", 1), 64);
    ASSERT_EQ(gmp_set_channel_volume(h, 0, 32), errOK);
    ticks(1);
    EXPECT_EQ(lastValue("volume", 0), 8) << "both channel volumes scale the note";
}

TEST_F(ImpulsePlay, TempoSlidesOnEveryTickAfterTheFirst) {
    ModuleSpec spec = song(playModeImpulse, {{command(cmdSetTempo, 0x05)}, {command(cmdSetTempo, 0x13)}});
    spec.tempo = 40;
    PlayHandle* h = start(spec);
    rows(1);
    EXPECT_EQ(h->tempo, 40);
    ticks(5);
    EXPECT_EQ(h->tempo, 32) << "not below 32";
    EXPECT_EQ(lastValue("update"), 32 * 40);
    ticks(1);
    EXPECT_EQ(h->tempo, 32);
    ticks(5);
    EXPECT_EQ(h->tempo, 47);
    EXPECT_EQ(lastValue("update"), 47 * 40);
}

TEST_F(ImpulsePlay, OtherPlayModesDoNotSlideTheTempo) {
    for (int mode : {playModeProtracker, playModeScreamTracker3, playModeExtended}) {
        SCOPED_TRACE(mode);
        PlayHandle* h = start(song(mode, {{command(cmdSetTempo, 0x15)}}));
        rows(2);
        EXPECT_EQ(h->tempo, 125);
        ASSERT_EQ(gmp_stop_song(h), errOK);
    }
}

TEST_F(ImpulsePlay, SampleAndInstrumentGlobalVolumesScaleTheirNotes) {
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0}}});
    PlayHandle* h = start(spec);
    Instrument* ins = modules.back()->instruments[0];
    ins->sample_list[0]->sample_global_volume = 32;
    ins->global_volume = 48;
    rows(1);
    EXPECT_EQ(lastValue("volume", 0), 64 * 32 * 48 >> 12);
    EXPECT_EQ(h->channels[0].volume, 64) << "the note's own volume is left as it is";
}
