#include "sound/player/gmpcmds.h"

#include "sound/api/errors.h"
#include "sound/output/sdevice.h"

#include <algorithm>

namespace {

// Vibrato sine, a quarter wave up and down: the swing's size in 256ths of
// the depth; bit 5 of the position gives its sign.
constexpr std::array<int, 32> vibratoSine = {0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212,
                                             224, 235, 244, 250, 253, 255, 253, 250, 244, 235, 224,
                                             212, 197, 180, 161, 141, 120, 97,  74,  49,  24};

// Multi retrigger volume change by the infobyte's high nibble: a multiplier
// in sixteenths (0 = none), else an addend.
constexpr std::array<int, 16> retrigMultiplier = {0, 0, 0, 0, 0, 0, 10, 8, 0, 0, 0, 0, 0, 0, 24, 32};
constexpr std::array<int, 16> retrigAddend = {0, -1, -2, -4, -8, -16, 0, 0, 0, 1, 2, 4, 8, 16, 0, 0};

// A sample offset infobyte counts 256 frames.
constexpr int offsetUnit = 256;
// Protracker and Scream Tracker 3 panning value that means surround.
constexpr int surroundPanning = 164;

PlayHandle& song() {
    return *gmp.song;
}
ChannelState& channel() {
    return *gmp.channel;
}
SoundDevice& device() {
    return *gmp.device;
}
int tick() {
    return gmp.song->tick;
}
int high(int info) {
    return info >> 4 & 15;
}
int low(int info) {
    return info & 15;
}
bool extended() {
    return gmp.play_mode == playModeExtended;
}
bool impulse() {
    return gmp.play_mode == playModeImpulse;
}
bool scream() {
    return gmp.play_mode == playModeScreamTracker3;
}
// Scream Tracker 3 and Impulse Tracker share fine-slide infobytes and tick-0 rules.
bool screamOrImpulse() {
    return scream() || impulse();
}
// Play modes outside 1..4 behave as Protracker.
bool protracker() {
    return !screamOrImpulse() && !extended();
}

const Sample* currentSample() {
    return gmp_channel_sample(song().module, &channel());
}

// Period of a note for the channel's current sample; 0 when it cannot sound.
int periodOf(int octave, int semitone) {
    return gmp_note_period(gmp.play_mode, song().module->flags, currentSample(), octave, semitone);
}

bool hasPlayableNote(const ChannelState& ch) {
    return ch.instrument != -1 && ch.sample != 255 && ch.note < noteStop;
}

int none(int) {
    return errOK;
}

int arpeggio(int info) {
    const ChannelState& ch = channel();
    if (!hasPlayableNote(ch)) return errOK;
    int semitone = ch.note & 15;
    int octave = ch.note >> 4;
    switch (tick() % 3) {
    case 1: semitone += high(info); break;
    case 2: semitone += low(info); break;
    default: break;
    }
    if (semitone > 11) {
        octave++;
        semitone -= 12;
    }
    if (protracker() && !(song().module->flags & moduleExtendedOctaves) && octave > 3) octave -= 3;
    const int period = periodOf(octave, semitone);
    if (period != 0) cmd_set_output_period(period);
    return errOK;
}

// Portamento up (direction -1) or down (+1).
int slide(int info, int direction) {
    const ChannelState& ch = channel();
    const int shift = song().period_shift;
    if (!screamOrImpulse()) {
        cmd_set_period(ch.period + direction * (info << shift));
    } else if (high(info) == 15) {
        if (tick() == 0) cmd_set_period(ch.period + direction * (low(info) << shift));
    } else if (high(info) == 14) {
        if (tick() == 0) cmd_set_period(ch.period + direction * low(info));
    } else if (tick() != 0) {
        cmd_set_period(ch.period + direction * (info << shift));
    }
    return errOK;
}

int slideUp(int info) {
    return slide(info, -1);
}

int slideDown(int info) {
    return slide(info, 1);
}

int portaSetup(int) {
    ChannelState& ch = channel();
    if ((ch.row_flags & rowNewNote) && hasPlayableNote(ch)) {
        ch.porta_target = periodOf(ch.note >> 4, ch.note & 15);
        ch.row_flags &= static_cast<std::uint8_t>(~rowNewNote);
    }
    return errOK;
}

int tonePorta(int info) {
    ChannelState& ch = channel();
    if (info != 0 && (!scream() || ch.porta_target != 0)) ch.porta_speed = static_cast<std::uint8_t>(info);
    if (ch.porta_target == 0 || ch.porta_target == ch.period) return errOK;
    const int step = ch.porta_speed << song().period_shift;
    int period;
    if (ch.period < ch.porta_target)
        period = std::min(ch.period + step, ch.porta_target);
    else
        period = step < ch.period - ch.porta_target ? ch.period - step : ch.porta_target;
    cmd_set_period(period);
    return errOK;
}

int vibrato(int info) {
    ChannelState& ch = channel();
    if (low(info) != 0) ch.vibrato_depth = static_cast<std::uint8_t>(low(info));
    if (high(info) != 0) ch.vibrato_speed = static_cast<std::uint8_t>(high(info));
    const int swing = vibratoSine[ch.vibrato_position & 31] * ch.vibrato_depth >> (7 - song().period_shift);
    cmd_set_output_period((ch.vibrato_position & 32) ? ch.period - swing : ch.period + swing);
    ch.vibrato_position = static_cast<std::uint8_t>(ch.vibrato_position + ch.vibrato_speed);
    return errOK;
}

// A Scream Tracker 3 and Impulse Tracker slide of a value by an infobyte:
// xF slides up by x and Fy down by y once, on the row tick; 0y slides down
// and x0 up on every other tick (and on the row tick too when fast is set).
int screamSlide(int value, int info, bool fast) {
    const int x = high(info), y = low(info);
    if (y == 15 && x != 0) return tick() == 0 ? value + x : value;
    if (x == 15 && y != 0) return tick() == 0 ? value - y : value;
    if (tick() != 0 || fast) return y ? value - y : value + x;
    return value;
}

int volumeSlide(int info) {
    ChannelState& ch = channel();
    int volume = ch.volume;
    if (extended()) {
        if (info == 0)
            info = ch.volslide_memory;
        else
            ch.volslide_memory = static_cast<std::uint8_t>(info);
        volume += high(info) ? high(info) : -low(info);
    } else if (!screamOrImpulse()) {
        volume += high(info) ? high(info) : -low(info);
    } else {
        volume = screamSlide(volume, info, (song().module->flags & moduleFastVolumeSlides) != 0);
    }
    cmd_set_volume(volume);
    return errOK;
}

int setChannelVolume(int info) {
    channel().song_channel_volume = static_cast<std::uint8_t>(std::min(info, 64));
    return errOK;
}

int channelVolumeSlide(int info) {
    ChannelState& ch = channel();
    ch.song_channel_volume =
        static_cast<std::uint8_t>(std::clamp(screamSlide(ch.song_channel_volume, info, false), 0, 64));
    return errOK;
}

int slidePorta(int info) {
    volumeSlide(info);
    return tonePorta(0);
}

int slideVibrato(int info) {
    volumeSlide(info);
    return vibrato(0);
}

int setPanning(int info) {
    return cmd_set_panning(info);
}

int sampleOffset(int info) {
    ChannelState& ch = channel();
    if (info != 0) ch.offset_memory = static_cast<std::uint8_t>(info);
    const int offset = ch.offset_memory * offsetUnit;
    if ((ch.row_flags & rowNewNote) == 0) return errOK;
    // Protracker adds the offset to the note's start and then once more
    // (offsets carry on until an instrument byte clears them); the other
    // formats start the note at the offset itself.
    if (protracker())
        ch.sample_offset = std::min(ch.sample_offset + offset, maxSampleOffset);
    else
        ch.sample_offset = offset;
    const int code = gmp_start_row_note(true);
    if (protracker()) ch.sample_offset = std::min(ch.sample_offset + offset, maxSampleOffset);
    return code;
}

int positionJump(int info) {
    PlayHandle& s = song();
    const int old = s.position;
    s.position = info;
    if (info > s.end_position)
        gmp_wrap_song(&s);
    else if (old >= info)
        s.loop_count++;
    gmp_enter_position(&s);
    s.row = 0;
    if (scream()) s.loop_row = 0;
    return errOK;
}

int setVolume(int info) {
    cmd_set_volume(info);
    return errOK;
}

int patternBreak(int info) {
    PlayHandle& s = song();
    if (s.row_data != nullptr) {
        gmp_next_position(&s);
        if (scream()) s.loop_row = 0;
    }
    const int rows = gmp_pattern_rows(s.module, s.pattern);
    const int decimal = high(info) * 10 + low(info);
    if (extended())
        s.row = std::min(decimal, rows - 1);
    else if (impulse())
        s.row = info < rows ? info : rows - 1;
    else
        s.row = info <= 99 ? decimal : 63;
    return errOK;
}

int setSpeed(int info) {
    PlayHandle& s = song();
    if (info != 0) {
        s.speed = info;
        return errOK;
    }
    // Speed 0 ends a Protracker or Extended Module song; Scream Tracker 3 and
    // Impulse Tracker ignore it.
    if (screamOrImpulse()) return errOK;
    gmp_wrap_song(&s);
    gmp_enter_position(&s);
    s.row = 0;
    return errOK;
}

int setTempo(int info) {
    if (info <= 31) return errOK;
    song().tempo = info;
    return gmp_set_tempo(info);
}

// Impulse Tracker's T0y and T1x move the tempo by y down or x up on every tick after the row's first.
int tempoSlide(int info) {
    if (info > 31 || tick() == 0) return errOK;
    const int step = high(info) == 0 ? -low(info) : low(info);
    const int tempo = std::clamp(song().tempo + step, 32, 255);
    if (tempo == song().tempo) return errOK;
    song().tempo = tempo;
    return gmp_set_tempo(tempo);
}

int finePortaUp(int info) {
    cmd_set_period(channel().period - (info << song().period_shift));
    return errOK;
}

int finePortaDown(int info) {
    cmd_set_period(channel().period + (info << song().period_shift));
    return errOK;
}

int extraFinePortaUp(int info) {
    cmd_set_period(channel().period - info);
    return errOK;
}

int extraFinePortaDown(int info) {
    cmd_set_period(channel().period + info);
    return errOK;
}

int patternLoop(int info) {
    PlayHandle& s = song();
    ChannelState& ch = channel();
    std::uint8_t& loopRow = screamOrImpulse() ? s.loop_row : ch.channel_loop_row;
    std::uint8_t& remaining = screamOrImpulse() ? s.loop_remaining : ch.channel_loop_remaining;
    if (info == 0) {
        loopRow = static_cast<std::uint8_t>(s.row);
        return errOK;
    }
    bool jump = true;
    if (remaining != 0) {
        jump = remaining != 1;
        remaining--;
    } else {
        remaining = static_cast<std::uint8_t>(info);
    }
    if (jump) {
        s.row_data = nullptr;
        s.row = loopRow;
    }
    return errOK;
}

int coarsePanning(int info) {
    int p = info * 8;
    if (info == 7 || info == 8)
        p = 64;
    else if (info >= 9 && info <= 15)
        p = info * 8 + 8;
    // The value is in the 0..128 range; Impulse Tracker pans 0..64, Extended Module 0..255.
    if (impulse()) p /= 2;
    if (extended()) p *= 2;
    return cmd_set_panning(p);
}

int retrigReset(int) {
    channel().retrig_count = 1;
    return errOK;
}

int retrigger(int info) {
    ChannelState& ch = channel();
    if (scream()) ch.info = static_cast<std::uint8_t>(info);
    int code = errOK;
    if (info != 0 && ch.retrig_count >= low(info)) {
        code = gmp_set_sample_position(currentSample());
        ch.retrig_count = 0;
    }
    ch.retrig_count++;
    return code;
}

int multiRetrigger(int info) {
    ChannelState& ch = channel();
    int code = errOK;
    if (ch.retrig_count >= low(info)) {
        code = gmp_set_sample_position(currentSample());
        ch.retrig_count = 0;
        const int x = high(info);
        cmd_set_volume(retrigMultiplier[x] != 0 ? ch.volume * retrigMultiplier[x] >> 4
                                                : ch.volume + retrigAddend[x]);
    }
    ch.retrig_count++;
    return code;
}

int fineVolumeUp(int info) {
    cmd_set_volume(channel().volume + info);
    return errOK;
}

int fineVolumeDown(int info) {
    cmd_set_volume(channel().volume - info);
    return errOK;
}

int noteCut(int info) {
    if (info == tick()) cmd_set_volume(0);
    return errOK;
}

int delaySetup(int info) {
    ChannelState& ch = channel();
    if (info != 0 && (ch.row_flags & rowNewNote)) {
        ch.row_flags |= rowNoteDelayed;
        ch.row_flags &= static_cast<std::uint8_t>(~rowNewNote);
    } else {
        ch.row_flags &= static_cast<std::uint8_t>(~rowNoteDelayed);
    }
    return errOK;
}

int noteDelay(int info) {
    ChannelState& ch = channel();
    if (info != tick()) return errOK;
    if (extended()) {
        ch.volume_env = ch.panning_env = EnvelopeState{};
        ch.fade_volume = 65536;
        ch.autovib_position = 0;
        ch.autovib_ramp = 0;
    }
    if ((ch.row_flags & rowNoteDelayed) == 0) return errOK;
    return gmp_start_row_note(false);
}

int patternDelay(int info) {
    if (song().pattern_delay == 0) song().pattern_delay = info;
    return errOK;
}

int globalVolume(int info) {
    song().global_volume = static_cast<std::uint8_t>(std::min(info, 64));
    return errOK;
}

int globalSlide(int info) {
    PlayHandle& s = song();
    const int volume = high(info) ? s.global_volume + high(info) : s.global_volume - low(info);
    s.global_volume = static_cast<std::uint8_t>(std::clamp(volume, 0, 64));
    return errOK;
}

int sync(int info) {
    PlayHandle& s = song();
    s.sync_value = info;
    if (s.sync_callback != nullptr) s.sync_callback(info, s.position, s.row);
    return errOK;
}

int panningSlide(int info) {
    const ChannelState& ch = channel();
    const int x = high(info), y = low(info);
    if (!impulse()) return cmd_set_panning(x ? ch.panning + x : ch.panning - y);
    if (y == 15 && x != 0) return tick() == 0 ? cmd_set_panning(ch.panning - x) : errOK;
    if (x == 15 && y != 0) return tick() == 0 ? cmd_set_panning(ch.panning + y) : errOK;
    if (tick() == 0) return errOK;
    return cmd_set_panning(y ? ch.panning + y : ch.panning - x);
}

// clang-format off
constexpr CommandTable protrackerRow = {
    none, none, none, none, portaSetup, none, portaSetup, none,
    none, setPanning, sampleOffset, none, positionJump, setVolume, patternBreak, setSpeed,
    setTempo, finePortaUp, finePortaDown, patternLoop, coarsePanning, retrigReset, fineVolumeUp, fineVolumeDown,
    noteCut, delaySetup, patternDelay, none, none, none, sync, none,
    none, none, none, none,
};
constexpr CommandTable protrackerTick = {
    none, arpeggio, slideUp, slideDown, tonePorta, vibrato, slidePorta, slideVibrato,
    none, none, none, volumeSlide, none, none, none, none,
    none, none, none, none, none, retrigger, none, none,
    noteCut, noteDelay, none, none, none, none, none, none,
    none, none, none, none,
};
constexpr CommandTable extendedRow = {
    none, none, none, none, portaSetup, none, portaSetup, none,
    none, setPanning, sampleOffset, none, positionJump, setVolume, patternBreak, setSpeed,
    setTempo, finePortaUp, finePortaDown, patternLoop, coarsePanning, retrigReset, fineVolumeUp, fineVolumeDown,
    noteCut, delaySetup, patternDelay, globalVolume, none, retrigReset, sync, extraFinePortaUp,
    extraFinePortaDown, none, none, none,
};
constexpr CommandTable extendedTick = {
    none, arpeggio, slideUp, slideDown, tonePorta, vibrato, slidePorta, slideVibrato,
    none, none, none, volumeSlide, none, none, none, none,
    none, none, none, none, none, retrigger, none, none,
    noteCut, noteDelay, none, none, globalSlide, multiRetrigger, none, none,
    none, panningSlide, none, none,
};
constexpr CommandTable screamRow = {
    none, none, slideUp, slideDown, portaSetup, none, portaSetup, slideVibrato,
    none, setPanning, sampleOffset, volumeSlide, positionJump, setVolume, patternBreak, setSpeed,
    setTempo, finePortaUp, finePortaDown, patternLoop, coarsePanning, retrigReset, fineVolumeUp, fineVolumeDown,
    noteCut, delaySetup, patternDelay, globalVolume, none, retrigReset, sync, none,
    none, none, none, none,
};
constexpr CommandTable screamTick = {
    none, arpeggio, slideUp, slideDown, tonePorta, vibrato, slidePorta, slideVibrato,
    none, none, none, volumeSlide, none, none, none, none,
    none, none, none, none, none, retrigger, none, none,
    noteCut, noteDelay, none, none, none, multiRetrigger, none, none,
    none, none, none, none,
};
constexpr CommandTable impulseRow = {
    none, none, slideUp, slideDown, portaSetup, none, portaSetup, slideVibrato,
    none, setPanning, sampleOffset, volumeSlide, positionJump, setVolume, patternBreak, setSpeed,
    setTempo, finePortaUp, finePortaDown, patternLoop, coarsePanning, retrigReset, fineVolumeUp, fineVolumeDown,
    noteCut, delaySetup, patternDelay, globalVolume, none, retrigReset, sync, none,
    none, none, setChannelVolume, channelVolumeSlide,
};
constexpr CommandTable impulseTick = {
    none, arpeggio, slideUp, slideDown, tonePorta, vibrato, slidePorta, slideVibrato,
    none, none, none, volumeSlide, none, none, none, none,
    tempoSlide, none, none, none, none, retrigger, none, none,
    noteCut, noteDelay, none, none, none, multiRetrigger, none, none,
    none, panningSlide, none, channelVolumeSlide,
};
// clang-format on

// Index of a play mode's row table in command_tables; its tick table follows it.
int tableIndex(int playMode) {
    switch (playMode) {
    case playModeExtended: return 2;
    case playModeScreamTracker3: return 4;
    case playModeImpulse: return 6;
    default: return 0;
    }
}

} // namespace

const std::array<CommandTable, 8> command_tables = {
    protrackerRow, protrackerTick, extendedRow, extendedTick, screamRow, screamTick, impulseRow, impulseTick,
};

const CommandTable& row_commands(int playMode) {
    return command_tables[tableIndex(playMode)];
}

const CommandTable& tick_commands(int playMode) {
    return command_tables[tableIndex(playMode) + 1];
}

void cmd_set_volume(int volume) {
    ChannelState& ch = channel();
    ch.volume = ch.effective_volume = static_cast<std::uint8_t>(std::clamp(volume, 0, song().max_volume));
}

void cmd_set_period(int period) {
    if (period == 0) return;
    ChannelState& ch = channel();
    ch.period = ch.output_period = std::clamp(period, song().min_period, song().max_period);
}

void cmd_set_output_period(int period) {
    channel().output_period = std::clamp(period, song().min_period, song().max_period);
}

int cmd_set_panning(int panning) {
    ChannelState& ch = channel();
    if (extended()) {
        ch.panning = std::clamp(panning, 0, 255);
        return errOK;
    }
    if (impulse()) {
        ch.panning = std::clamp(panning, 0, 64);
        return device().setChannelPanning(ch.device_channel, ch.panning * 2 - 64);
    }
    ch.panning = panning == surroundPanning ? PAN_SURROUND : std::clamp(panning - 64, -64, 64);
    return device().setChannelPanning(ch.device_channel, ch.panning);
}

int volume_column_row() {
    ChannelState& ch = channel();
    const int y = low(ch.volume_byte);
    if (impulse()) {
        if (ch.volume_byte >= 128 && ch.volume_byte <= 192) return cmd_set_panning(ch.volume_byte - 128);
        return errOK;
    }
    if (!extended()) return errOK;
    switch (ch.volume_byte >> 4) {
    case 0x8: cmd_set_volume(ch.volume - y); break;
    case 0x9: cmd_set_volume(ch.volume + y); break;
    case 0xa: ch.vibrato_speed = static_cast<std::uint8_t>(y); break;
    case 0xc: return cmd_set_panning(y * 17);
    case 0xf: return portaSetup(0);
    default: break;
    }
    return errOK;
}

int volume_column_tick() {
    ChannelState& ch = channel();
    if (!extended()) return errOK;
    const int y = low(ch.volume_byte);
    switch (ch.volume_byte >> 4) {
    case 0x6: cmd_set_volume(ch.volume - y); break;
    case 0x7: cmd_set_volume(ch.volume + y); break;
    case 0xb: return vibrato(y);
    case 0xd: return cmd_set_panning(ch.panning - y);
    case 0xe: return cmd_set_panning(ch.panning + y);
    case 0xf: return tonePorta(y * 16);
    default: break;
    }
    return errOK;
}
