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

namespace {

constexpr std::uint8_t D5 = note(5, 2);

// A song of one channel on device channel 0 whose instrument lets its notes go in the given
// way, with background voices on device channels 10, 11, ...
struct NewNoteSong {
    ModuleSpec spec;
    explicit NewNoteSong(std::vector<std::vector<Cell>> cells) : spec(song(playModeImpulse, std::move(cells))) {}
};

} // namespace

class BackgroundNotes : public ImpulsePlay {
  protected:
    // Starts the song, sets the instrument's new-note and duplicate-check bytes and gives it voices.
    PlayHandle* startWith(const ModuleSpec& spec, int action, int voices, int checkType = 0, int checkAction = 0) {
        PlayHandle* h = start(spec);
        Instrument* ins = modules.back()->instruments[0];
        ins->new_note_action = static_cast<std::uint8_t>(action);
        ins->duplicate_check_type = static_cast<std::uint8_t>(checkType);
        ins->duplicate_check_action = static_cast<std::uint8_t>(checkAction);
        std::vector<int> channels;
        for (int v = 0; v < voices; v++)
            channels.push_back(10 + v);
        EXPECT_EQ(gmp_set_background_channels(h, voices, channels.data()), errOK);
        return h;
    }
};

TEST_F(BackgroundNotes, ANoteThatContinuesSoundsOnBesideTheNextOne) {
    NewNoteSong s({{{0, C5, 0}}, {{0, D5, 0}}});
    PlayHandle* h = startWith(s.spec, 1, 2);
    rows(1);
    EXPECT_EQ(callsOf("start", 0).size(), 1u);
    calls.clear();
    rows(1);
    EXPECT_EQ(callsOf("start", 10).size(), 1u) << "the new note takes the voice's device channel";
    EXPECT_TRUE(callsOf("start", 0).empty());
    EXPECT_TRUE(callsOf("stop", 0).empty());
    EXPECT_EQ(h->channels[0].device_channel, 10);
    EXPECT_EQ(h->background[0].channel.device_channel, 0);
    EXPECT_EQ(h->background[0].channel.note, C5);
    EXPECT_EQ(h->background[0].host, 0);
    calls.clear();
    ticks(1);
    EXPECT_EQ(lastValue("volume", 0), 64) << "the old note keeps being served";
    EXPECT_EQ(lastValue("volume", 10), 64);
    EXPECT_EQ(h->background[1].channel.instrument, -1) << "one voice was enough";
}

TEST_F(BackgroundNotes, ANoteOffLetsTheEnvelopeRunOutAndFreesTheVoice) {
    NewNoteSong s({{{0, C5, 0}}, {{0, D5, 0}}});
    InstrumentSpec& ins = s.spec.instruments[0];
    ins.volumeEnvelopeOn = true;
    ins.volumeEnvelope.points = {{0, 64}, {2, 64}, {6, 0}};
    ins.volumeEnvelope.sustain = 1;
    ins.fadeout = 512;
    PlayHandle* h = startWith(s.spec, 2, 1);
    rows(1);
    calls.clear();
    rows(1);
    EXPECT_EQ(callsOf("release", 0).size(), 1u);
    EXPECT_EQ(h->background[0].channel.key_off, 1);
    EXPECT_EQ(h->background[0].channel.fade_volume, 1024)
        << "an envelope that runs to its end fades only after it";
    ticks(3);
    EXPECT_EQ(lastValue("volume", 0), 16);
    EXPECT_TRUE(callsOf("stop", 0).empty());
    ticks(1);
    EXPECT_EQ(callsOf("stop", 0).size(), 1u) << "at rest at 0, the voice is given back";
    EXPECT_EQ(h->background[0].channel.instrument, -1);
    calls.clear();
    ticks(1);
    EXPECT_TRUE(callsOf("volume", 0).empty());
}

TEST_F(BackgroundNotes, ANoteFadeFadesOutAndEnds) {
    NewNoteSong s({{{0, C5, 0}}, {{0, D5, 0}}});
    s.spec.instruments[0].fadeout = 256;
    PlayHandle* h = startWith(s.spec, 3, 1);
    rows(1);
    calls.clear();
    rows(1);
    EXPECT_TRUE(callsOf("release", 0).empty()) << "a fade is no note off";
    EXPECT_EQ(h->background[0].channel.note_fade, 1);
    EXPECT_EQ(lastValue("volume", 0), 64);
    ticks(3);
    EXPECT_EQ(lastValue("volume", 0), 16);
    EXPECT_TRUE(callsOf("stop", 0).empty());
    ticks(1);
    EXPECT_EQ(callsOf("stop", 0).size(), 1u);
    EXPECT_EQ(lastValue("volume", 10), 64) << "the new note does not fade";
}

TEST_F(BackgroundNotes, CutNotesAndSongsWithoutVoicesKeepOneDeviceChannel) {
    for (int voices : {0, 2}) {
        SCOPED_TRACE(voices);
        calls.clear();
        NewNoteSong s({{{0, C5, 0}}, {{0, D5, 0}}, {{0, C5, 0, -1, cmdTonePorta, 4}}});
        PlayHandle* h = startWith(s.spec, voices == 0 ? 1 : 0, voices);
        rows(3);
        EXPECT_EQ(callsOf("start", 0).size(), 2u);
        EXPECT_EQ(h->channels[0].device_channel, 0);
        ASSERT_EQ(gmp_stop_song(h), errOK);
    }
    // A tone portamento slides the note it has; nothing moves to the background.
    NewNoteSong s({{{0, C5, 0}}, {{0, D5, 0, -1, cmdTonePorta, 4}}});
    PlayHandle* h = startWith(s.spec, 1, 2);
    rows(2);
    EXPECT_EQ(h->channels[0].device_channel, 0);
    EXPECT_EQ(h->background[0].channel.instrument, -1);
}

TEST_F(BackgroundNotes, DuplicatesOfTheNewNoteAreLetGo) {
    // Continue, with a duplicate check on the note that cuts: the same note again cuts the
    // one before; another note leaves it.
    NewNoteSong s({{{0, C5, 0}}, {{0, D5, 0}}, {{0, C5, 0}}});
    PlayHandle* h = startWith(s.spec, 1, 4, 1, 0);
    rows(2);
    EXPECT_EQ(h->background[0].channel.instrument, 0) << "D-5 is no duplicate of C-5";
    calls.clear();
    rows(1);
    // C-5 comes again: D-5 moves to the second voice; the first C-5 is cut.
    EXPECT_EQ(callsOf("stop", 0).size(), 1u);
    EXPECT_EQ(h->background[0].channel.instrument, -1);
    EXPECT_EQ(h->background[1].channel.note, D5);
}

TEST_F(BackgroundNotes, TheQuietestVoiceIsTakenWhenAllAreBusy) {
    NewNoteSong s({{{0, C5, 0, 10}}, {{0, D5, 0, 40}}, {{0, note(5, 4), 0, 30}}, {{0, C5, 0}}});
    PlayHandle* h = startWith(s.spec, 1, 2);
    rows(3);
    // Voices: C-5 (volume 10) on device channel 0, D-5 (40) on 10; the channel plays E-5 on 11.
    EXPECT_EQ(h->channels[0].device_channel, 11);
    calls.clear();
    rows(1);
    EXPECT_EQ(callsOf("stop", 0).size(), 1u) << "C-5, the quietest, gives way";
    EXPECT_EQ(h->channels[0].device_channel, 0);
    EXPECT_EQ(h->background[0].channel.note, note(5, 4));
    EXPECT_EQ(h->background[1].channel.note, D5);
}

TEST_F(BackgroundNotes, BadVoiceListsAreRefused) {
    PlayHandle* h = start(song(playModeImpulse, {}));
    EXPECT_EQ(gmp_set_background_channels(h, -1, nullptr), errInvalidArguments);
    EXPECT_EQ(gmp_set_background_channels(h, 2, nullptr), errInvalidArguments);
    EXPECT_EQ(gmp_set_background_channels(h, maxBackgroundVoices + 1, std::vector<int>(99).data()),
              errInvalidArguments);
    EXPECT_EQ(gmp_set_background_channels(nullptr, 0, nullptr), errInvalidArguments);
    EXPECT_EQ(gmp_set_background_channels(h, 1, std::vector<int>{5}.data()), errOK);
    EXPECT_EQ(gmp_set_background_channels(h, 1, std::vector<int>{6}.data()), errInvalidArguments)
        << "a song's voices are given once";
    EXPECT_EQ(h->background[0].channel.device_channel, 5);
}

TEST_F(ImpulsePlay, TheVolumeColumnSlidesVolumeAndPitchAndTonePortamentos) {
    // Fine volume up by 4 (69), then a fine volume down with 0 (75) repeats the column's 4; a
    // volume slide up by 2 (87) acts on the five ticks after the row's first; a pitch slide down
    // by 3 (108) moves the period by 12 units a tick; a tone portamento (196: speed 8) slides to the
    // row's note instead of starting it.
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0, 20}},
                                             {{0, 255, 255, 69}},
                                             {{0, 255, 255, 75}},
                                             {{0, 255, 255, 87}},
                                             {{0, 255, 255, 108}},
                                             {{0, note(5, 2), 255, 196}}});
    PlayHandle* h = start(spec);
    rows(1);
    ASSERT_EQ(h->channels[0].volume, 20);
    const int started = static_cast<int>(callsOf("start", 0).size());
    rows(1);
    EXPECT_EQ(h->channels[0].volume, 24);
    rows(1);
    EXPECT_EQ(h->channels[0].volume, 20) << "0 repeats the column's last slide";
    rows(1);
    EXPECT_EQ(h->channels[0].volume, 20) << "not on the row's first tick";
    ticks(5);
    EXPECT_EQ(h->channels[0].volume, 30);
    const int period = h->channels[0].period;
    ticks(6);
    EXPECT_EQ(h->channels[0].period, period + 5 * (12 << h->period_shift));
    ticks(1);
    const int before = h->channels[0].period;
    ticks(1);
    EXPECT_EQ(h->channels[0].period, before - (8 << h->period_shift)) << "toward the higher note";
    EXPECT_EQ(static_cast<int>(callsOf("start", 0).size()), started) << "the note does not start";
}

TEST_F(ImpulsePlay, AColumnValueOf80IsAFineVolumeSlideDownByFive) {
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0, 40}}, {{0, 255, 255, 80}}, {{0, 255, 255, 80}}});
    PlayHandle* h = start(spec);
    rows(1);
    ASSERT_EQ(h->channels[0].volume, 40);
    rows(1);
    EXPECT_EQ(h->channels[0].volume, 35);
    rows(1);
    EXPECT_EQ(h->channels[0].volume, 30);
}

TEST_F(ImpulsePlay, TheColumnsPitchSlidesShareTheEffectColumnsMemory) {
    // E05 leaves 5 in the memory: the column's pitch slide up with 0 (115) slides by it; the
    // column's pitch slide down by 2 (107) leaves 8 there for the effect column's E00; after
    // EF1 (a fine slide) the column's 0 slides by the whole infobyte on every tick.
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0, -1, cmdPortaDown, 0x05}},
                                             {{0, 255, 255, 115}},
                                             {{0, 255, 255, 107}},
                                             {{0, 255, 255, -1, cmdPortaDown, 0}},
                                             {},
                                             {{0, 255, 255, -1, cmdPortaDown, 0xf1}},
                                             {{0, 255, 255, 115}}});
    PlayHandle* h = start(spec);
    const int shift = h->period_shift;
    rows(1);
    int period = h->channels[0].period;
    rows(1);
    EXPECT_EQ(h->channels[0].period, period + 5 * (5 << shift)) << "E05 on the row's five later ticks";
    period = h->channels[0].period;
    rows(1);
    EXPECT_EQ(h->channels[0].period, period - 5 * (5 << shift)) << "the column's 0 takes E's 5";
    period = h->channels[0].period;
    rows(1);
    EXPECT_EQ(h->channels[0].period, period + 5 * (8 << shift)) << "the column slides by 2 x 4";
    period = h->channels[0].period;
    rows(1);
    EXPECT_EQ(h->channels[0].period, period + 5 * (8 << shift)) << "E00 takes the column's 8";
    period = h->channels[0].period;
    rows(2);
    EXPECT_EQ(h->channels[0].period, period + (1 << shift))
        << "EF1 slides once, finely, and the column waits for the row's later ticks";
    period = h->channels[0].period;
    ticks(1);
    EXPECT_EQ(h->channels[0].period, std::max(period - (0xf1 << shift), h->min_period))
        << "the column slides by F1 on the next tick";
}

TEST_F(ImpulsePlay, ANoteCutStopsTheNoteAndKeepsTheChannelsVolume) {
    // SC2 stops the note on the third tick; the bare note after it plays at the volume the
    // channel had (another play mode would have set it to 0).
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0, 40, cmdNoteCut, 2}}, {{0, C5}}});
    PlayHandle* h = start(spec);
    ticks(6 + 1); // the row's first tick comes after the speed's ticks, then one more
    EXPECT_TRUE(callsOf("stop", 0).empty());
    ticks(1);
    EXPECT_EQ(callsOf("stop", 0).size(), 1u);
    EXPECT_EQ(h->channels[0].volume, 40);
    ticks(4);
    EXPECT_GT(lastValue("volume", 0), 0) << "the next note is heard";
    spec.playMode = playModeScreamTracker3;
    h = start(spec);
    ticks(6 + 2);
    EXPECT_EQ(h->channels[0].volume, 0);
}

TEST_F(ImpulsePlay, GlobalVolumeSlidesOnTheTrackersOwnScale) {
    // W01 takes one step of Impulse Tracker's 0..128 a tick (half a step of the player's 0..64),
    // on the five ticks after the row's first; WF2 takes two once, on the row tick.
    ModuleSpec spec = song(playModeImpulse, {{command(cmdGlobalVolumeSlide, 0x01)}, {command(cmdGlobalVolumeSlide, 0xf2)}});
    PlayHandle* h = start(spec);
    ticks(6);
    ASSERT_EQ(h->global_volume, 64);
    ticks(5);
    EXPECT_EQ(h->global_volume_fine, 128 - 5);
    EXPECT_EQ(h->global_volume, (128 - 5) / 2);
    ticks(1);
    EXPECT_EQ(h->global_volume_fine, 128 - 7);
    ticks(5);
    EXPECT_EQ(h->global_volume_fine, 128 - 7) << "a fine slide acts once";
}

TEST_F(ImpulsePlay, TremorCountsEveryTickAndRunsOnAcrossRows) {
    // At speed 1 every tick is a row's first. I00 (0 counts as 1, nothing remembered yet): one
    // tick sounding, one silent; I21 from row 4 (the count runs on): two sounding, one silent;
    // I00 after it repeats 21. A row without a tremor is heard again.
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0, 40, cmdTremor, 0}}, {command(cmdTremor, 0)},
                                             {command(cmdTremor, 0)}, {command(cmdTremor, 0)},
                                             {command(cmdTremor, 0x21)}, {command(cmdTremor, 0)},
                                             {command(cmdTremor, 0)}, {command(cmdTremor, 0)},
                                             {command(cmdTremor, 0)}, {command(cmdTremor, 0)}, {}});
    spec.speed = 1;
    PlayHandle* h = start(spec);
    std::vector<int> heard;
    for (int row = 0; row < 11; row++) {
        ticks(1);
        heard.push_back(h->channels[0].effective_volume);
    }
    EXPECT_EQ(heard, (std::vector<int>{40, 0, 40, 0, 40, 40, 0, 40, 40, 0, 40}));
}

TEST_F(ImpulsePlay, ANoteCutOrDelayOfNoTicksActsOnTheSecondTick) {
    // SD0 starts its note on the row's second tick, SC0 stops it there.
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0, -1, cmdNoteDelay, 0}}, {command(cmdNoteCut, 0)}});
    start(spec);
    ticks(6);
    EXPECT_TRUE(callsOf("start", 0).empty()) << "not on the row's first tick";
    ticks(1);
    EXPECT_EQ(callsOf("start", 0).size(), 1u);
    ticks(4 + 1); // the rest of the row, and the next one's first tick
    EXPECT_TRUE(callsOf("stop", 0).empty());
    ticks(1);
    EXPECT_EQ(callsOf("stop", 0).size(), 1u);
}

TEST_F(ImpulsePlay, S77PausesTheVolumeEnvelopeWhereItStandsAndS78GoesOn) {
    // S77 on the second row: the envelope stays at the position it has reached, and its value
    // holds; S78 on the fourth lets it move on from there. A new note starts it afresh.
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0}}, {command(cmdVolumeEnvelope, 0)}, {},
                                             {command(cmdVolumeEnvelope, 1)}, {}, {{0, C5, 0}}});
    spec.instruments[0].volumeEnvelopeOn = true;
    spec.instruments[0].volumeEnvelope.points = {{0, 64}, {100, 0}};
    PlayHandle* h = start(spec);
    rows(2);
    const int paused = h->channels[0].volume_env.position;
    const std::int64_t heard = lastValue("volume", 0);
    rows(1);
    EXPECT_EQ(h->channels[0].volume_env.position, paused);
    EXPECT_EQ(lastValue("volume", 0), heard);
    rows(2);
    EXPECT_GT(h->channels[0].volume_env.position, paused) << "S78 lets it move on";
    EXPECT_LT(lastValue("volume", 0), heard);
    rows(1);
    EXPECT_EQ(h->channels[0].volume_envelope_off, 0);
    EXPECT_LE(h->channels[0].volume_env.position, 1) << "the new note starts it afresh";
}

namespace {

// A device channel plays from its start to its stop, as a mixer reports it.
int rateAfterLastCall(std::uint32_t channel, std::uint32_t* rate) {
    *rate = 0;
    for (const DeviceCall& c : calls)
        if (c.channel == channel && (c.op == "start" || c.op == "stop")) *rate = c.op == "start" ? 8363 : 0;
    return errOK;
}

} // namespace

TEST_F(ImpulsePlay, ATonePortamentoToANoteOnAStoppedChannelStartsTheNote) {
    // The note is cut on the second row; the tone portamento on the third starts its note
    // at once. On the fifth row the note of the fourth still sounds: it slides.
    constexpr std::uint8_t G5 = note(5, 7);
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0}},
                                             {{0, noteStop}},
                                             {{0, G5, 0, -1, cmdTonePorta, 5}},
                                             {{0, C5, 0}},
                                             {{0, G5, 0, 196}}});
    device.getChannelRate = rateAfterLastCall;
    PlayHandle* h = start(spec);
    rows(2);
    ASSERT_EQ(lastValue("stop", 0), 0);
    const std::size_t started = callsOf("start", 0).size();
    rows(1);
    ASSERT_EQ(callsOf("start", 0).size(), started + 1) << "the portamento's note starts";
    const int g5 = h->channels[0].period;
    ticks(5);
    EXPECT_EQ(h->channels[0].period, g5) << "and stays where it started";
    EXPECT_EQ(h->channels[0].porta_target, g5);
    ticks(1);
    const int c5 = h->channels[0].period;
    ASSERT_GT(c5, g5);
    ticks(6);
    EXPECT_EQ(callsOf("start", 0).size(), started + 2) << "a sounding note is slid, not started";
    ticks(5);
    EXPECT_EQ(h->channels[0].period, c5 - 5 * (8 << h->period_shift)) << "at the column's speed 8";
    spec.playMode = playModeScreamTracker3;
    h = begin(spec);
    ticks(1 + 2 * 6);
    EXPECT_EQ(callsOf("start", 0).size(), 1u) << "Scream Tracker 3 slides the stopped channel";
}

TEST_F(ImpulsePlay, ANoteLetGoStaysLetGoUnderATonePortamentoWithAnInstrument) {
    // A note off on the second row; the portamento with an instrument number on the third
    // leaves the note released, its envelope running on. On the fifth row the note of the
    // fourth, still held, has its envelope started again by the instrument number.
    constexpr std::uint8_t G5 = note(5, 7);
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0}},
                                             {{0, noteKeyOff}},
                                             {{0, G5, 0, -1, cmdTonePorta, 5}},
                                             {{0, C5, 0}},
                                             {{0, G5, 0, -1, cmdTonePorta, 5}}});
    spec.instruments[0].volumeEnvelopeOn = true;
    spec.instruments[0].volumeEnvelope.points = {{0, 64}, {100, 0}};
    PlayHandle* h = start(spec);
    rows(2);
    ASSERT_EQ(h->channels[0].key_off, 1);
    const int released = h->channels[0].volume_env.position;
    rows(1);
    EXPECT_EQ(h->channels[0].key_off, 1) << "still let go";
    EXPECT_GT(h->channels[0].volume_env.position, released) << "the envelope runs on";
    rows(2);
    EXPECT_EQ(h->channels[0].key_off, 0);
    EXPECT_LE(h->channels[0].volume_env.position, 1) << "a held note's envelope starts again";
}

TEST_F(ImpulsePlay, ANotesVolumeIsRoundedOnceToTheNearestStep) {
    // Volume 1 under an envelope at 47 of 64 is 0.73 of a step: Impulse Tracker's own scale,
    // twice as fine, still hears it, so it rounds to 1; at 31 of 64 (0.48) that scale is at 0
    // too. Extended Module drops the fraction at each step.
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0, 1}}});
    spec.instruments[0].volumeEnvelopeOn = true;
    spec.instruments[0].volumeEnvelope.points = {{0, 47}, {100, 47}};
    start(spec);
    rows(1);
    EXPECT_EQ(lastValue("volume", 0), 1);
    spec.instruments[0].volumeEnvelope.points = {{0, 31}, {100, 31}};
    begin(spec);
    ticks(1);
    EXPECT_EQ(lastValue("volume", 0), 0);
    spec.instruments[0].volumeEnvelope.points = {{0, 47}, {100, 47}};
    spec.playMode = playModeExtended;
    begin(spec);
    ticks(1);
    EXPECT_EQ(lastValue("volume", 0), 0);
}

TEST_F(ImpulsePlay, EnvelopeLoopsPlayTheirEndPointBeforeGoingBack) {
    // A volume loop over two points a tick apart alternates 64 and 0 on every tick, and a
    // panning loop on one point holds it; the same envelopes in an Extended Module song go
    // back on reaching the loop's end, so the end point is never heard there.
    for (const int mode : {playModeImpulse, playModeExtended}) {
        SCOPED_TRACE(mode);
        ModuleSpec spec = song(mode, {{{0, C5, 0}}});
        InstrumentSpec& ins = spec.instruments[0];
        ins.volumeEnvelopeOn = ins.panningEnvelopeOn = true;
        ins.volumeEnvelope.points = {{0, 64}, {1, 0}, {5, 32}};
        ins.volumeEnvelope.loopStart = 0;
        ins.volumeEnvelope.loopEnd = 1;
        ins.panningEnvelope.points = {{0, 0}, {2, 16}, {3, 32}};
        ins.panningEnvelope.loopStart = ins.panningEnvelope.loopEnd = 1;
        begin(spec);
        std::vector<std::int64_t> volumes, pannings;
        for (int t = 0; t < 6; t++) {
            ticks(1);
            volumes.push_back(lastValue("volume", 0));
            pannings.push_back(lastValue("panning", 0));
        }
        if (mode == playModeImpulse) {
            EXPECT_EQ(volumes, (std::vector<std::int64_t>{64, 0, 64, 0, 64, 0}));
            EXPECT_EQ(pannings[2], pannings[5]) << "held on the one-point loop";
            EXPECT_NE(pannings[1], pannings[2]);
        } else {
            EXPECT_EQ(volumes, (std::vector<std::int64_t>{64, 64, 64, 64, 64, 64}));
        }
    }
}

TEST_F(ImpulsePlay, SustainLoopsPlayTheirEndPointWhileTheKeyIsHeld) {
    // A sustain loop of two ticks alternates while the key is held; after the note off the
    // envelope runs on to its end.
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0}}, {{0, noteKeyOff}}});
    InstrumentSpec& ins = spec.instruments[0];
    ins.volumeEnvelopeOn = true;
    ins.volumeEnvelope.points = {{0, 64}, {1, 16}, {3, 0}};
    ins.volumeEnvelope.sustainLoopStart = 0;
    ins.volumeEnvelope.sustainLoopEnd = ins.volumeEnvelope.sustain = 1;
    PlayHandle* h = begin(spec);
    std::vector<std::int64_t> volumes;
    for (int t = 0; t < 6; t++) {
        ticks(1);
        volumes.push_back(lastValue("volume", 0));
    }
    EXPECT_EQ(volumes, (std::vector<std::int64_t>{64, 16, 64, 16, 64, 16}));
    ticks(4);
    EXPECT_EQ(h->channels[0].volume_env.position, 3) << "let go, it runs to its last point";
    EXPECT_EQ(lastValue("volume", 0), 0);
}

TEST_F(ImpulsePlay, S77HoldsTheEnvelopeValueLastHeardAndBesideANoteFullVolume) {
    // The envelope loops 64, 32, 0: S77 on the row after the tick that played the 0 keeps the
    // note silent, though the envelope's next tick would have been 64 again. S77 beside a new
    // note holds it at full volume from its start, and S78 lets the envelope begin.
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0}},
                                             {command(cmdVolumeEnvelope, 0)},
                                             {},
                                             {{0, C5, 0, -1, cmdVolumeEnvelope, 0}},
                                             {command(cmdVolumeEnvelope, 1)}});
    spec.speed = 3;
    spec.instruments[0].volumeEnvelopeOn = true;
    spec.instruments[0].volumeEnvelope.points = {{0, 64}, {1, 32}, {2, 0}};
    spec.instruments[0].volumeEnvelope.loopStart = 0;
    spec.instruments[0].volumeEnvelope.loopEnd = 2;
    PlayHandle* h = begin(spec);
    std::vector<std::int64_t> volumes;
    for (int t = 0; t < 9; t++) {
        ticks(1);
        volumes.push_back(lastValue("volume", 0));
    }
    EXPECT_EQ(volumes, (std::vector<std::int64_t>{64, 32, 0, 0, 0, 0, 0, 0, 0}));
    ticks(1);
    EXPECT_EQ(h->channels[0].volume_envelope_off, 1) << "S77 beside the note";
    EXPECT_EQ(lastValue("volume", 0), 64);
    ticks(2);
    EXPECT_EQ(lastValue("volume", 0), 64);
    EXPECT_EQ(h->channels[0].volume_env.position, 0);
    volumes.clear();
    for (int t = 0; t < 3; t++) {
        ticks(1);
        volumes.push_back(lastValue("volume", 0));
    }
    EXPECT_EQ(volumes, (std::vector<std::int64_t>{64, 32, 0})) << "S78: the envelope from its start";
}

TEST_F(ImpulsePlay, S00RepeatsTheChannelsLastSCommand) {
    // SD1 delays the first note; a later S00 beside a note delays it as well. Then SC1 cuts a
    // note on the row's second tick, and S00 cuts the next one there too. An S command the
    // player does not play (S31) is remembered all the same: the S00 after it does nothing.
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0, -1, cmdNoteDelay, 1}},
                                             {{0, C5, 0, -1, cmdSpecialMemory, 0}},
                                             {{0, C5, 0, -1, cmdNoteCut, 1}},
                                             {{0, C5, 0, -1, cmdSpecialMemory, 0}},
                                             {{0, C5, 0, -1, cmdSpecialMemory, 0x31}},
                                             {{0, C5, 0, -1, cmdSpecialMemory, 0}}});
    begin(spec);
    for (int row = 0; row < 2; row++) {
        calls.clear();
        ticks(1);
        EXPECT_TRUE(callsOf("start", 0).empty()) << "row " << row << ": the note waits a tick";
        ticks(1);
        EXPECT_EQ(callsOf("start", 0).size(), 1u) << "row " << row;
        ticks(4);
    }
    for (int row = 2; row < 4; row++) {
        calls.clear();
        ticks(1);
        EXPECT_EQ(callsOf("start", 0).size(), 1u) << "row " << row;
        EXPECT_TRUE(callsOf("stop", 0).empty());
        ticks(1);
        EXPECT_EQ(callsOf("stop", 0).size(), 1u) << "row " << row << ": cut on the second tick";
        ticks(4);
    }
    calls.clear();
    ticks(12);
    EXPECT_EQ(callsOf("start", 0).size(), 2u);
    EXPECT_TRUE(callsOf("stop", 0).empty()) << "S00 after S31 neither cuts nor delays";
}

TEST_F(ImpulsePlay, S00BeforeAnySCommandDoesNothing) {
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0, -1, cmdSpecialMemory, 0}}});
    PlayHandle* h = begin(spec);
    ticks(1);
    EXPECT_EQ(callsOf("start", 0).size(), 1u);
    EXPECT_EQ(h->channels[0].row_flags & rowCommand, 0);
}

TEST_F(ImpulsePlay, ANoteDelayAsLongAsTheRowOrLongerHoldsBackTheWholeEntry) {
    // At speed 6, SD6 and SDF never come: the note, the instrument and the volume beside them
    // are not played, and the note before sounds on. SD5 plays its entry on the last tick.
    ModuleSpec spec = song(playModeImpulse, {{{0, C5, 0, 40}},
                                             {{0, noteKeyOff, 255, -1, cmdNoteDelay, 0xf}},
                                             {{0, note(6, 0), 1, 10, cmdNoteDelay, 6}},
                                             {{0, note(6, 0), 255, 20, cmdNoteDelay, 5}}});
    spec.instruments = {InstrumentSpec{}, InstrumentSpec{}};
    PlayHandle* h = begin(spec);
    rows(3);
    EXPECT_EQ(callsOf("start", 0).size(), 1u);
    EXPECT_TRUE(callsOf("release", 0).empty()) << "the delayed note off never comes";
    EXPECT_EQ(h->channels[0].volume, 40);
    EXPECT_EQ(h->channels[0].instrument, 0);
    EXPECT_EQ(h->channels[0].note, C5);
    ticks(5);
    EXPECT_EQ(callsOf("start", 0).size(), 1u);
    ticks(1);
    EXPECT_EQ(callsOf("start", 0).size(), 2u) << "SD5 comes on the row's last tick";
    EXPECT_EQ(h->channels[0].volume, 20);
    EXPECT_EQ(h->channels[0].instrument, 0);
}
