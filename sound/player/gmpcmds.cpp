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

SoundDevice& device() {
    return *gmp.device;
}
int high(int info) {
    return info >> 4 & 15;
}
int low(int info) {
    return info & 15;
}
bool extended(const PlayHandle* song) {
    return song->module->play_mode == playModeExtended;
}
bool impulse(const PlayHandle* song) {
    return song->module->play_mode == playModeImpulse;
}
bool scream(const PlayHandle* song) {
    return song->module->play_mode == playModeScreamTracker3;
}
// Scream Tracker 3 and Impulse Tracker share fine-slide infobytes and tick-0 rules.
bool screamOrImpulse(const PlayHandle* song) {
    return scream(song) || impulse(song);
}
// Play modes outside 1..4 behave as Protracker.
bool protracker(const PlayHandle* song) {
    return !screamOrImpulse(song) && !extended(song);
}

const Sample* sampleOf(const PlayHandle* song, const ChannelState* ch) {
    return gmp_channel_sample(song->module, ch);
}

// Period of a note for the channel's current sample and finetune; 0 when it cannot sound.
int periodOf(const PlayHandle* song, const ChannelState* ch, int octave, int semitone) {
    return gmp_tuned_note_period(song->module->play_mode, song->module->flags, sampleOf(song, ch), ch->finetune,
                                 octave, semitone);
}

bool hasPlayableNote(const ChannelState* ch) {
    return ch->instrument != -1 && ch->sample != 255 && ch->note < noteStop;
}

int none(PlayHandle*, ChannelState*, int) {
    return errOK;
}

int arpeggio(PlayHandle* song, ChannelState* ch, int info) {
    if (!hasPlayableNote(ch)) return errOK;
    int semitone = ch->note & 15;
    int octave = ch->note >> 4;
    switch (song->tick % 3) {
    case 1: semitone += high(info); break;
    case 2: semitone += low(info); break;
    default: break;
    }
    if (semitone > 11) {
        octave++;
        semitone -= 12;
    }
    if (protracker(song) && !(song->module->flags & moduleExtendedOctaves) && octave > 3) octave -= 3;
    const int period = periodOf(song, ch, octave, semitone);
    if (period != 0) cmd_set_output_period(song, ch, period);
    return errOK;
}

// Portamento up (direction -1) or down (+1).
int slide(PlayHandle* song, ChannelState* ch, int info, int direction) {
    const int shift = song->period_shift;
    const bool rowTick = song->tick == 0;
    if (!screamOrImpulse(song)) {
        cmd_set_period(song, ch, ch->period + direction * (info << shift));
    } else if (high(info) == 15) {
        if (rowTick) cmd_set_period(song, ch, ch->period + direction * (low(info) << shift));
    } else if (high(info) == 14) {
        if (rowTick) cmd_set_period(song, ch, ch->period + direction * low(info));
    } else if (!rowTick) {
        cmd_set_period(song, ch, ch->period + direction * (info << shift));
    }
    return errOK;
}

int slideUp(PlayHandle* song, ChannelState* ch, int info) {
    return slide(song, ch, info, -1);
}

int slideDown(PlayHandle* song, ChannelState* ch, int info) {
    return slide(song, ch, info, 1);
}

int portaSetup(PlayHandle* song, ChannelState* ch, int) {
    if ((ch->row_flags & rowNewNote) && hasPlayableNote(ch)) {
        ch->porta_target = periodOf(song, ch, ch->note >> 4, ch->note & 15);
        ch->row_flags &= static_cast<std::uint8_t>(~rowNewNote);
    }
    return errOK;
}

int tonePorta(PlayHandle* song, ChannelState* ch, int info) {
    if (info != 0 && (!scream(song) || ch->porta_target != 0))
        ch->porta_speed = static_cast<std::uint8_t>(info);
    if (ch->porta_target == 0 || ch->porta_target == ch->period) return errOK;
    const int step = ch->porta_speed << song->period_shift;
    int period;
    if (ch->period < ch->porta_target)
        period = std::min(ch->period + step, ch->porta_target);
    else
        period = step < ch->period - ch->porta_target ? ch->period - step : ch->porta_target;
    cmd_set_period(song, ch, period);
    return errOK;
}

int vibrato(PlayHandle* song, ChannelState* ch, int info) {
    if (low(info) != 0) ch->vibrato_depth = static_cast<std::uint8_t>(low(info));
    if (high(info) != 0) ch->vibrato_speed = static_cast<std::uint8_t>(high(info));
    const int swing = vibratoSine[ch->vibrato_position & 31] * ch->vibrato_depth >> (7 - song->period_shift);
    cmd_set_output_period(song, ch, (ch->vibrato_position & 32) ? ch->period - swing : ch->period + swing);
    ch->vibrato_position = static_cast<std::uint8_t>(ch->vibrato_position + ch->vibrato_speed);
    return errOK;
}

// A Scream Tracker 3 and Impulse Tracker slide of a value by an infobyte:
// xF slides up by x and Fy down by y once, on the row tick; 0y slides down
// and x0 up on every other tick (and on the row tick too when fast is set).
int screamSlide(const PlayHandle* song, int value, int info, bool fast) {
    const int x = high(info), y = low(info);
    const bool rowTick = song->tick == 0;
    if (y == 15 && x != 0) return rowTick ? value + x : value;
    if (x == 15 && y != 0) return rowTick ? value - y : value;
    if (!rowTick || fast) return y ? value - y : value + x;
    return value;
}

int volumeSlide(PlayHandle* song, ChannelState* ch, int info) {
    int volume = ch->volume;
    if (extended(song)) {
        if (info == 0)
            info = ch->volslide_memory;
        else
            ch->volslide_memory = static_cast<std::uint8_t>(info);
        volume += high(info) ? high(info) : -low(info);
    } else if (!screamOrImpulse(song)) {
        volume += high(info) ? high(info) : -low(info);
    } else {
        volume = screamSlide(song, volume, info, (song->module->flags & moduleFastVolumeSlides) != 0);
    }
    cmd_set_volume(song, ch, volume);
    return errOK;
}

int setChannelVolume(PlayHandle*, ChannelState* ch, int info) {
    ch->song_channel_volume = static_cast<std::uint8_t>(std::min(info, 64));
    return errOK;
}

int channelVolumeSlide(PlayHandle* song, ChannelState* ch, int info) {
    ch->song_channel_volume =
        static_cast<std::uint8_t>(std::clamp(screamSlide(song, ch->song_channel_volume, info, false), 0, 64));
    return errOK;
}

int slidePorta(PlayHandle* song, ChannelState* ch, int info) {
    volumeSlide(song, ch, info);
    return tonePorta(song, ch, 0);
}

int slideVibrato(PlayHandle* song, ChannelState* ch, int info) {
    volumeSlide(song, ch, info);
    return vibrato(song, ch, 0);
}

int setPanning(PlayHandle* song, ChannelState* ch, int info) {
    return cmd_set_panning(song, ch, info);
}

int sampleOffset(PlayHandle* song, ChannelState* ch, int info) {
    if (info != 0) ch->offset_memory = static_cast<std::uint8_t>(info);
    const int offset = ch->offset_memory * offsetUnit;
    if ((ch->row_flags & rowNewNote) == 0) return errOK;
    // Protracker adds the offset to the note's start and then once more
    // (offsets carry on until an instrument byte clears them); the other
    // formats start the note at the offset itself.
    if (protracker(song))
        ch->sample_offset = std::min(ch->sample_offset + offset, maxSampleOffset);
    else
        ch->sample_offset = offset;
    const int code = gmp_start_row_note(song, ch, true);
    if (protracker(song)) ch->sample_offset = std::min(ch->sample_offset + offset, maxSampleOffset);
    // Fasttracker 2 starts no sound at or past a sample's end, looping or not.
    const Sample* sample = sampleOf(song, ch);
    if (code == errOK && extended(song) && sample != nullptr &&
        offset >= sample->length / frameBytes(*sample))
        return device().stopSound(ch->device_channel);
    return code;
}

// Fasttracker 2's jumps, breaks and loops only say where the song goes; the
// player settles it at the row's end (the later of two on a row wins, and a
// jump takes the row back to 0).
int extendedJump(PlayHandle* song, ChannelState*, int info) {
    song->jump_position = info;
    song->next_start_row = 0;
    song->jump_due = 1;
    return errOK;
}

int extendedBreak(PlayHandle* song, ChannelState*, int info) {
    const int row = high(info) * 10 + low(info);
    song->next_start_row = row <= 63 ? row : 0;
    song->jump_due = 1;
    return errOK;
}

int extendedLoop(PlayHandle* song, ChannelState* ch, int info) {
    if (info == 0) {
        ch->channel_loop_row = static_cast<std::uint8_t>(song->row);
        return errOK;
    }
    if (ch->channel_loop_remaining == 0)
        ch->channel_loop_remaining = static_cast<std::uint8_t>(info);
    else if (--ch->channel_loop_remaining == 0)
        return errOK;
    song->next_start_row = ch->channel_loop_row;
    song->loop_due = 1;
    return errOK;
}

// A jump past the song's last position wraps it; a jump back is the song's
// end only when it comes to a row already played (the player checks that).
int positionJump(PlayHandle* song, ChannelState*, int info) {
    song->position = info;
    if (info > song->end_position) gmp_wrap_song(song);
    gmp_enter_position(song);
    song->row = 0;
    if (scream(song)) song->loop_row = 0;
    return errOK;
}

int setVolume(PlayHandle* song, ChannelState* ch, int info) {
    cmd_set_volume(song, ch, info);
    return errOK;
}

int patternBreak(PlayHandle* song, ChannelState*, int info) {
    if (song->row_data != nullptr) {
        gmp_next_position(song);
        if (scream(song)) song->loop_row = 0;
    }
    song->row = info <= 99 ? high(info) * 10 + low(info) : 63;
    return errOK;
}

// Speed 0 changes nothing: both Protracker and Extended Module songs go on
// after it, with rows their authors meant to be heard, as Scream Tracker 3
// and Impulse Tracker songs always did.
int setSpeed(PlayHandle* song, ChannelState*, int info) {
    if (info != 0) song->speed = info;
    return errOK;
}

int setTempo(PlayHandle* song, ChannelState*, int info) {
    if (info <= 31) return errOK;
    song->tempo = info;
    return gmp_set_tempo(info);
}

// Impulse Tracker's T0y and T1x move the tempo by y down or x up on every tick after the row's first.
int tempoSlide(PlayHandle* song, ChannelState*, int info) {
    if (info > 31 || song->tick == 0) return errOK;
    const int step = high(info) == 0 ? -low(info) : low(info);
    const int tempo = std::clamp(song->tempo + step, 32, 255);
    if (tempo == song->tempo) return errOK;
    song->tempo = tempo;
    return gmp_set_tempo(tempo);
}

int finePortaUp(PlayHandle* song, ChannelState* ch, int info) {
    cmd_set_period(song, ch, ch->period - (info << song->period_shift));
    return errOK;
}

int finePortaDown(PlayHandle* song, ChannelState* ch, int info) {
    cmd_set_period(song, ch, ch->period + (info << song->period_shift));
    return errOK;
}

int extraFinePortaUp(PlayHandle* song, ChannelState* ch, int info) {
    cmd_set_period(song, ch, ch->period - info);
    return errOK;
}

int extraFinePortaDown(PlayHandle* song, ChannelState* ch, int info) {
    cmd_set_period(song, ch, ch->period + info);
    return errOK;
}

int patternLoop(PlayHandle* song, ChannelState* ch, int info) {
    // Scream Tracker 3 keeps one loop for the song, Protracker one per channel.
    std::uint8_t& loopRow = scream(song) ? song->loop_row : ch->channel_loop_row;
    std::uint8_t& remaining = scream(song) ? song->loop_remaining : ch->channel_loop_remaining;
    if (info == 0) {
        loopRow = static_cast<std::uint8_t>(song->row);
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
        song->row_data = nullptr;
        song->row = loopRow;
    }
    return errOK;
}

// Impulse Tracker keeps a loop for each channel, and a loop that has run out
// starts again on the row after its end: its SBx plays on from there.
int impulseLoop(PlayHandle* song, ChannelState* ch, int info) {
    if (info == 0) {
        ch->channel_loop_row = static_cast<std::uint8_t>(song->row);
        return errOK;
    }
    if (ch->channel_loop_remaining == 0) {
        ch->channel_loop_remaining = static_cast<std::uint8_t>(info);
    } else if (--ch->channel_loop_remaining == 0) {
        ch->channel_loop_row = static_cast<std::uint8_t>(song->row + 1);
        return errOK;
    }
    song->loop_target = ch->channel_loop_row;
    song->loop_due = 1;
    return errOK;
}

// Impulse Tracker's jumps and breaks, settled at the row's end as Fasttracker
// 2's are; a break counts its row in binary.
int impulseJump(PlayHandle* song, ChannelState*, int info) {
    song->jump_position = info;
    song->next_start_row = 0;
    song->jump_due = 1;
    return errOK;
}

int impulseBreak(PlayHandle* song, ChannelState*, int info) {
    song->next_start_row = info;
    song->jump_due = 1;
    return errOK;
}

int coarsePanning(PlayHandle* song, ChannelState* ch, int info) {
    int p = info * 8;
    if (info == 7 || info == 8)
        p = 64;
    else if (info >= 9 && info <= 15)
        p = info * 8 + 8;
    // The value is in the 0..128 range; Impulse Tracker pans 0..64, Extended Module 0..255.
    if (impulse(song)) p /= 2;
    if (extended(song)) p *= 2;
    return cmd_set_panning(song, ch, p);
}

int retrigReset(PlayHandle*, ChannelState* ch, int) {
    ch->retrig_count = 1;
    return errOK;
}

int retrigger(PlayHandle* song, ChannelState* ch, int info) {
    if (scream(song)) ch->info = static_cast<std::uint8_t>(info);
    int code = errOK;
    if (info != 0 && ch->retrig_count >= low(info)) {
        code = gmp_set_sample_position(ch, sampleOf(song, ch));
        ch->retrig_count = 0;
    }
    ch->retrig_count++;
    return code;
}

// Protracker's E9x restarts the sample on every tick that is a multiple of
// x, the row's first included, except there when the row starts a note
// anyway. The row handler takes the first tick (also of a pattern delay's
// repeats, where the row's note is not started again), the tick handler the
// others.
int protrackerRetrigRow(PlayHandle* song, ChannelState* ch, int info) {
    if (low(info) == 0 || (ch->row_flags & rowNoteRead)) return errOK;
    return gmp_set_sample_position(ch, sampleOf(song, ch));
}

int protrackerRetrigTick(PlayHandle* song, ChannelState* ch, int info) {
    if (low(info) == 0 || song->tick == 0 || song->tick % low(info) != 0) return errOK;
    return gmp_set_sample_position(ch, sampleOf(song, ch));
}

// Fasttracker 2's tremor: the note sounds for x + 1 ticks, then is silent
// for y + 1, counted on the ticks after each row's first; the volume it left
// stays until a volume is set again.
int extendedTremor(PlayHandle*, ChannelState* ch, int info) {
    bool sounding = (ch->tremor_position & 0x80) != 0;
    int left = (ch->tremor_position & 0x7f) - 1;
    if (left < 0) {
        sounding = !sounding;
        left = sounding ? high(info) : low(info);
    }
    ch->tremor_position = static_cast<std::uint8_t>((sounding ? 0x80 : 0) | left);
    ch->effective_volume = sounding ? ch->volume : 0;
    return errOK;
}

// S77 sets the note's volume envelope aside where it stands, S78 takes it up
// again from there (a new note starts it afresh).
int volumeEnvelope(PlayHandle*, ChannelState* ch, int info) {
    ch->volume_envelope_off = info == 0 ? 1 : 0;
    return errOK;
}

// Impulse Tracker's tremor counts every tick, the row's first too: x ticks
// sounding, then y silent (0 counts as 1), the count running on across rows.
int impulseTremor(PlayHandle*, ChannelState* ch, int info) {
    bool sounding = (ch->tremor_position & 0x80) != 0;
    int left = (ch->tremor_position & 0x7f) - 1;
    if (left < 0) {
        sounding = !sounding;
        left = std::max(sounding ? high(info) : low(info), 1) - 1;
    }
    ch->tremor_position = static_cast<std::uint8_t>((sounding ? 0x80 : 0) | left);
    ch->effective_volume = sounding ? ch->volume : 0;
    return errOK;
}

int multiRetrigger(PlayHandle* song, ChannelState* ch, int info) {
    int code = errOK;
    if (ch->retrig_count >= low(info)) {
        code = gmp_set_sample_position(ch, sampleOf(song, ch));
        ch->retrig_count = 0;
        const int x = high(info);
        cmd_set_volume(song, ch,
                       retrigMultiplier[x] != 0 ? ch->volume * retrigMultiplier[x] >> 4
                                                : ch->volume + retrigAddend[x]);
    }
    ch->retrig_count++;
    return code;
}

int fineVolumeUp(PlayHandle* song, ChannelState* ch, int info) {
    cmd_set_volume(song, ch, ch->volume + info);
    return errOK;
}

int fineVolumeDown(PlayHandle* song, ChannelState* ch, int info) {
    cmd_set_volume(song, ch, ch->volume - info);
    return errOK;
}

// Impulse Tracker takes a note cut or delay of 0 ticks as one of 1.
int impulseTicks(const PlayHandle* song, int info) {
    return impulse(song) ? std::max(info, 1) : info;
}

int noteCut(PlayHandle* song, ChannelState* ch, int info) {
    if (impulseTicks(song, info) != song->tick) return errOK;
    // Impulse Tracker stops the note and leaves the channel's volume for the
    // next one; the others silence the channel.
    if (impulse(song)) return device().stopSound(ch->device_channel);
    cmd_set_volume(song, ch, 0);
    return errOK;
}

int delaySetup(PlayHandle* song, ChannelState* ch, int info) {
    if (impulseTicks(song, info) != 0 && (ch->row_flags & rowNewNote)) {
        ch->row_flags |= rowNoteDelayed;
        ch->row_flags &= static_cast<std::uint8_t>(~rowNewNote);
    } else {
        ch->row_flags &= static_cast<std::uint8_t>(~rowNoteDelayed);
    }
    return errOK;
}

int noteDelay(PlayHandle* song, ChannelState* ch, int info) {
    if (impulseTicks(song, info) != song->tick) return errOK;
    if (extended(song)) {
        ch->volume_env = ch->panning_env = EnvelopeState{};
        ch->fade_volume = 65536;
        ch->autovib_position = 0;
        ch->autovib_ramp = 0;
    }
    if ((ch->row_flags & rowNoteDelayed) == 0) return errOK;
    return gmp_start_row_note(song, ch, false);
}

int patternDelay(PlayHandle* song, ChannelState*, int info) {
    if (song->pattern_delay == 0) song->pattern_delay = info;
    return errOK;
}

int globalVolume(PlayHandle* song, ChannelState*, int info) {
    song->global_volume = static_cast<std::uint8_t>(std::min(info, 64));
    song->global_volume_fine = static_cast<std::uint8_t>(song->global_volume * 2);
    return errOK;
}

// Impulse Tracker's global volume slide (W) moves the tracker's own 0..128
// volume as a volume slide does: fine on the row tick, else on the others.
int impulseGlobalSlide(PlayHandle* song, ChannelState*, int info) {
    const int volume = screamSlide(song, song->global_volume_fine, info, false);
    song->global_volume_fine = static_cast<std::uint8_t>(std::clamp(volume, 0, 128));
    song->global_volume = static_cast<std::uint8_t>(song->global_volume_fine / 2);
    return errOK;
}

int globalSlide(PlayHandle* song, ChannelState*, int info) {
    const int volume = high(info) ? song->global_volume + high(info) : song->global_volume - low(info);
    song->global_volume = static_cast<std::uint8_t>(std::clamp(volume, 0, 64));
    return errOK;
}

int sync(PlayHandle* song, ChannelState*, int info) {
    song->sync_value = info;
    if (song->sync_callback != nullptr) song->sync_callback(info, song->position, song->row);
    return errOK;
}

int panningSlide(PlayHandle* song, ChannelState* ch, int info) {
    const int x = high(info), y = low(info);
    const bool rowTick = song->tick == 0;
    if (!impulse(song)) return cmd_set_panning(song, ch, x ? ch->panning + x : ch->panning - y);
    if (y == 15 && x != 0) return rowTick ? cmd_set_panning(song, ch, ch->panning - x) : errOK;
    if (x == 15 && y != 0) return rowTick ? cmd_set_panning(song, ch, ch->panning + y) : errOK;
    if (rowTick) return errOK;
    return cmd_set_panning(song, ch, y ? ch->panning + y : ch->panning - x);
}

// One filled slot of a command table: the command and its handler.
struct Slot {
    Command command;
    CommandHandler handler;
};

// A command table: the slots of base (none by default) and the filled slots
// given; every other command does nothing. The tables are built as constants,
// so a command given twice (or one the base fills already) stops the
// compilation, and so does one outside the numbering.
template <std::size_t N> constexpr CommandTable tableOf(const CommandTable& base, const Slot (&slots)[N]) {
    CommandTable table = base;
    for (const Slot& slot : slots) {
        if (table[slot.command] != none) throw "a command is given twice";
        table[slot.command] = slot.handler;
    }
    return table;
}

constexpr CommandTable noCommands = [] {
    CommandTable table{};
    table.fill(none);
    return table;
}();

// A command table: the slots of base, some of its filled ones given other
// handlers (a play mode that does a shared command its own way). Replacing
// an empty slot stops the compilation: that is a new command, for tableOf.
template <std::size_t N> constexpr CommandTable replacing(const CommandTable& base, const Slot (&slots)[N]) {
    CommandTable table = base;
    for (const Slot& slot : slots) {
        if (table[slot.command] == none) throw "only a filled slot is replaced";
        table[slot.command] = slot.handler;
    }
    return table;
}

// The handlers of each play mode, on the row tick and on the others. The
// shared tables hold what every play mode does; each mode adds to them or
// does some of them its own way, and Impulse Tracker builds on Scream Tracker 3.
// clang-format off
constexpr CommandTable sharedRow = tableOf(noCommands, {
    {cmdTonePorta,            portaSetup},
    {cmdTonePortaVolumeSlide, portaSetup},
    {cmdSetPanning,           setPanning},
    {cmdSampleOffset,         sampleOffset},
    {cmdPositionJump,         positionJump},
    {cmdSetVolume,            setVolume},
    {cmdPatternBreak,         patternBreak},
    {cmdSetSpeed,             setSpeed},
    {cmdSetTempo,             setTempo},
    {cmdFinePortaUp,          finePortaUp},
    {cmdFinePortaDown,        finePortaDown},
    {cmdPatternLoop,          patternLoop},
    {cmdCoarsePanning,        coarsePanning},
    {cmdRetrigger,            retrigReset},
    {cmdFineVolumeUp,         fineVolumeUp},
    {cmdFineVolumeDown,       fineVolumeDown},
    {cmdNoteCut,              noteCut},
    {cmdNoteDelay,            delaySetup},
    {cmdPatternDelay,         patternDelay},
    {cmdSync,                 sync},
});
constexpr CommandTable sharedTick = tableOf(noCommands, {
    {cmdArpeggio,             arpeggio},
    {cmdPortaUp,              slideUp},
    {cmdPortaDown,            slideDown},
    {cmdTonePorta,            tonePorta},
    {cmdVibrato,              vibrato},
    {cmdTonePortaVolumeSlide, slidePorta},
    {cmdVibratoVolumeSlide,   slideVibrato},
    {cmdVolumeSlide,          volumeSlide},
    {cmdRetrigger,            retrigger},
    {cmdNoteCut,              noteCut},
    {cmdNoteDelay,            noteDelay},
});
constexpr CommandTable protrackerRow = replacing(sharedRow, {
    {cmdRetrigger,            protrackerRetrigRow},
});
constexpr CommandTable protrackerTick = replacing(sharedTick, {
    {cmdRetrigger,            protrackerRetrigTick},
});
constexpr CommandTable extendedRow = replacing(tableOf(sharedRow, {
    {cmdGlobalVolume,         globalVolume},
    {cmdMultiRetrigger,       retrigReset},
    {cmdExtraFinePortaUp,     extraFinePortaUp},
    {cmdExtraFinePortaDown,   extraFinePortaDown},
}), {
    {cmdPositionJump,         extendedJump},
    {cmdPatternBreak,         extendedBreak},
    {cmdPatternLoop,          extendedLoop},
});
constexpr CommandTable extendedTick = tableOf(sharedTick, {
    {cmdGlobalVolumeSlide,    globalSlide},
    {cmdMultiRetrigger,       multiRetrigger},
    {cmdPanningSlide,         panningSlide},
    {cmdTremor,               extendedTremor},
});
// Scream Tracker 3 slides also run on the row tick: their fine forms (an F or
// E nibble) act there alone, and fast volume slides act there too.
constexpr CommandTable screamRow = tableOf(sharedRow, {
    {cmdPortaUp,              slideUp},
    {cmdPortaDown,            slideDown},
    {cmdVibratoVolumeSlide,   slideVibrato},
    {cmdVolumeSlide,          volumeSlide},
    {cmdGlobalVolume,         globalVolume},
    {cmdMultiRetrigger,       retrigReset},
});
constexpr CommandTable screamTick = tableOf(sharedTick, {
    {cmdMultiRetrigger,       multiRetrigger},
});
constexpr CommandTable impulseRow = replacing(tableOf(screamRow, {
    {cmdSetChannelVolume,     setChannelVolume},
    {cmdChannelVolumeSlide,   channelVolumeSlide},
    {cmdGlobalVolumeSlide,    impulseGlobalSlide},
    {cmdTremor,               impulseTremor},
    {cmdVolumeEnvelope,       volumeEnvelope},
}), {
    {cmdPositionJump,         impulseJump},
    {cmdPatternBreak,         impulseBreak},
    {cmdPatternLoop,          impulseLoop},
});
constexpr CommandTable impulseTick = tableOf(sharedTick, {
    {cmdSetTempo,             tempoSlide},
    {cmdMultiRetrigger,       multiRetrigger},
    {cmdPanningSlide,         panningSlide},
    {cmdChannelVolumeSlide,   channelVolumeSlide},
    {cmdGlobalVolumeSlide,    impulseGlobalSlide},
    {cmdTremor,               impulseTremor},
});
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

void cmd_set_volume(const PlayHandle* song, ChannelState* ch, int volume) {
    ch->volume = ch->effective_volume = static_cast<std::uint8_t>(std::clamp(volume, 0, song->max_volume));
}

void cmd_set_period(const PlayHandle* song, ChannelState* ch, int period) {
    if (period == 0) return;
    ch->period = ch->output_period = std::clamp(period, song->min_period, song->max_period);
}

void cmd_set_output_period(const PlayHandle* song, ChannelState* ch, int period) {
    ch->output_period = std::clamp(period, song->min_period, song->max_period);
}

int cmd_set_panning(const PlayHandle* song, ChannelState* ch, int panning) {
    if (extended(song)) {
        ch->panning = std::clamp(panning, 0, 255);
        return errOK;
    }
    if (impulse(song)) {
        ch->panning = panning == impulseSurround ? impulseSurround : std::clamp(panning, 0, 64);
        return device().setChannelPanning(ch->device_channel,
                                          ch->panning == impulseSurround ? PAN_SURROUND : ch->panning * 2 - 64);
    }
    ch->panning = panning == surroundPanning ? PAN_SURROUND : std::clamp(panning - 64, -64, 64);
    return device().setChannelPanning(ch->device_channel, ch->panning);
}

// Impulse Tracker's volume column above the volumes 0..64: ranges of ten
// (a parameter 0..9 each), panning 0..64 from 128.
enum class ImpulseVolumeColumn { none, fineUp, fineDown, slideUp, slideDown, pitchDown, pitchUp, panning, porta, vibrato };

ImpulseVolumeColumn impulseVolumeColumn(int v, int* x) {
    constexpr std::array<std::pair<int, ImpulseVolumeColumn>, 6> slides = {{
        {65, ImpulseVolumeColumn::fineUp},     {75, ImpulseVolumeColumn::fineDown},
        {85, ImpulseVolumeColumn::slideUp},    {95, ImpulseVolumeColumn::slideDown},
        {105, ImpulseVolumeColumn::pitchDown}, {115, ImpulseVolumeColumn::pitchUp},
    }};
    for (const auto& [first, kind] : slides)
        if (v >= first && v < first + 10) {
            *x = v - first;
            return kind;
        }
    if (v >= 128 && v <= 192) {
        *x = v - 128;
        return ImpulseVolumeColumn::panning;
    }
    if (v >= 193 && v <= 202) {
        *x = v - 193;
        return ImpulseVolumeColumn::porta;
    }
    if (v >= 203 && v <= 212) {
        *x = v - 203;
        return ImpulseVolumeColumn::vibrato;
    }
    return ImpulseVolumeColumn::none;
}

// The tone portamento speeds of the volume column's ten values.
constexpr std::array<int, 10> impulseColumnPortaSpeeds = {0, 1, 4, 8, 16, 32, 64, 96, 128, 255};

// The volume slides' parameter: 0 repeats the column's last one.
int impulseColumnSlide(ChannelState* ch, int x) {
    if (x != 0) ch->volslide_memory = static_cast<std::uint8_t>(x);
    return ch->volslide_memory;
}

// The column's pitch slides share their memory with the effect column's E and
// F (the channel's infobyte memory here): a nonzero x leaves x * 4 there, and
// the column slides by what is there on every tick after the row's first. The
// column knows no fine slides: an EFx or EEx left in the memory slides the
// column by its whole infobyte.
int impulseColumnPitch(PlayHandle* song, ChannelState* ch, int direction) {
    cmd_set_period(song, ch, ch->period + direction * (ch->last_info << song->period_shift));
    return errOK;
}

int impulseColumnRow(PlayHandle* song, ChannelState* ch) {
    int x = 0;
    switch (impulseVolumeColumn(ch->volume_byte, &x)) {
    case ImpulseVolumeColumn::pitchDown:
    case ImpulseVolumeColumn::pitchUp:
        if (x != 0) ch->last_info = x * 4;
        break;
    case ImpulseVolumeColumn::fineUp: cmd_set_volume(song, ch, ch->volume + impulseColumnSlide(ch, x)); break;
    case ImpulseVolumeColumn::fineDown: cmd_set_volume(song, ch, ch->volume - impulseColumnSlide(ch, x)); break;
    case ImpulseVolumeColumn::slideUp:
    case ImpulseVolumeColumn::slideDown: impulseColumnSlide(ch, x); break;
    case ImpulseVolumeColumn::panning: return cmd_set_panning(song, ch, x);
    case ImpulseVolumeColumn::porta: return portaSetup(song, ch, 0);
    default: break;
    }
    return errOK;
}

int impulseColumnTick(PlayHandle* song, ChannelState* ch) {
    int x = 0;
    switch (impulseVolumeColumn(ch->volume_byte, &x)) {
    case ImpulseVolumeColumn::slideUp: cmd_set_volume(song, ch, ch->volume + ch->volslide_memory); break;
    case ImpulseVolumeColumn::slideDown: cmd_set_volume(song, ch, ch->volume - ch->volslide_memory); break;
    case ImpulseVolumeColumn::pitchDown: return impulseColumnPitch(song, ch, 1);
    case ImpulseVolumeColumn::pitchUp: return impulseColumnPitch(song, ch, -1);
    case ImpulseVolumeColumn::porta: return tonePorta(song, ch, impulseColumnPortaSpeeds[static_cast<std::size_t>(x)]);
    case ImpulseVolumeColumn::vibrato: return vibrato(song, ch, x);
    default: break;
    }
    return errOK;
}

bool impulse_column_porta(const ChannelState* ch) {
    int x = 0;
    return (ch->row_flags & rowVolume) && impulseVolumeColumn(ch->volume_byte, &x) == ImpulseVolumeColumn::porta;
}

int volume_column_row(PlayHandle* song, ChannelState* ch) {
    const int y = low(ch->volume_byte);
    if (impulse(song)) return impulseColumnRow(song, ch);
    if (!extended(song)) return errOK;
    switch (ch->volume_byte >> 4) {
    case 0x8: cmd_set_volume(song, ch, ch->volume - y); break;
    case 0x9: cmd_set_volume(song, ch, ch->volume + y); break;
    case 0xa: ch->vibrato_speed = static_cast<std::uint8_t>(y); break;
    case 0xc: return cmd_set_panning(song, ch, y * 17);
    case 0xf: return portaSetup(song, ch, 0);
    default: break;
    }
    return errOK;
}

int volume_column_tick(PlayHandle* song, ChannelState* ch) {
    if (impulse(song)) return impulseColumnTick(song, ch);
    if (!extended(song)) return errOK;
    const int y = low(ch->volume_byte);
    switch (ch->volume_byte >> 4) {
    case 0x6: cmd_set_volume(song, ch, ch->volume - y); break;
    case 0x7: cmd_set_volume(song, ch, ch->volume + y); break;
    case 0xb: return vibrato(song, ch, y);
    case 0xd: return cmd_set_panning(song, ch, ch->panning - y);
    case 0xe: return cmd_set_panning(song, ch, ch->panning + y);
    case 0xf: return tonePorta(song, ch, y * 16);
    default: break;
    }
    return errOK;
}
