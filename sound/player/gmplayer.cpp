#include "sound/player/gmplayer.h"

#include "sound/api/errors.h"
#include "sound/player/gmpcmds.h"
#include "sound/sys/mmem.h"
#include "sound/output/sdevice.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <numbers>

PlayerGlobals gmp{};

namespace {

constexpr int defaultTempo = 125;
// The device's update rate is in hundredths of a hertz: tempo 125 gives 50 ticks a second.
constexpr int tempoToUpdateRate = 40;
constexpr std::uint16_t orderEnd = 0xffff;
constexpr std::uint16_t orderSkip = 0xfffe;
// A pattern the module does not have plays as this many empty rows.
constexpr int missingPatternRows = 64;
// Impulse Tracker's fade-out counts down from 1024 by the instrument's fade-out each tick.
constexpr int impulseFullFade = 1024;
// Impulse Tracker's panning bit of a switched-off channel.
constexpr int switchedOff = 0x80;
// A single row end: the rows of a missing pattern.
constexpr std::uint8_t emptyRow[1] = {0};

// Protracker periods of octave 0 by finetune (0..7, then -8..-1) and semitone.
constexpr std::array<std::array<std::uint16_t, 12>, 16> protrackerPeriods = {{
    {1712, 1616, 1524, 1440, 1356, 1280, 1208, 1140, 1076, 1016, 960, 907},
    {1700, 1604, 1514, 1430, 1348, 1274, 1202, 1134, 1070, 1010, 954, 900},
    {1688, 1592, 1504, 1418, 1340, 1264, 1194, 1126, 1064, 1004, 948, 894},
    {1676, 1582, 1492, 1408, 1330, 1256, 1184, 1118, 1056, 996, 940, 888},
    {1664, 1570, 1482, 1398, 1320, 1246, 1176, 1110, 1048, 990, 934, 882},
    {1652, 1558, 1472, 1388, 1310, 1238, 1168, 1102, 1040, 982, 926, 874},
    {1640, 1548, 1460, 1378, 1302, 1228, 1160, 1094, 1032, 974, 920, 868},
    {1628, 1536, 1450, 1368, 1292, 1220, 1150, 1086, 1026, 968, 914, 862},
    {1814, 1712, 1616, 1524, 1440, 1356, 1280, 1208, 1140, 1076, 1016, 960},
    {1800, 1700, 1604, 1514, 1430, 1350, 1272, 1202, 1134, 1070, 1010, 954},
    {1788, 1688, 1592, 1504, 1418, 1340, 1264, 1194, 1126, 1064, 1004, 948},
    {1774, 1676, 1582, 1492, 1408, 1330, 1256, 1184, 1118, 1056, 996, 940},
    {1762, 1664, 1570, 1482, 1398, 1320, 1246, 1176, 1110, 1048, 988, 934},
    {1750, 1652, 1558, 1472, 1388, 1310, 1238, 1168, 1102, 1040, 982, 926},
    {1736, 1640, 1548, 1460, 1378, 1302, 1228, 1160, 1094, 1032, 974, 920},
    {1724, 1628, 1536, 1450, 1368, 1292, 1220, 1150, 1086, 1026, 968, 914},
}};

// Extended Module Amiga periods in eighths of a semitone, octave 4 halved,
// indices -9..96. -8..95 are the tracker's own table; the two outer entries
// continue its progression (856 x 2^(-i/96)) for the interpolation partner of
// semitone 0 at finetune -128 and semitone 11 at finetunes 112..127: 96 is
// index 0 an octave up.
constexpr int amigaFirstIndex = -9;
constexpr std::array<std::int16_t, 106> amigaPeriods = {
    913, 907, 900, 894, 887, 881, 875, 868, 862, // -9..-1
    856, 850, 844, 838, 832, 826, 820, 814, 808, 802, 796, 791, 785, 779, 774, 768, 762, 757, 752, 746,
    741, 736, 730, 725, 720, 715, 709, 704, 699, 694, 689, 684, 678, 675, 670, 665, 660, 655, 651, 646,
    640, 636, 632, 628, 623, 619, 614, 610, 604, 601, 597, 592, 588, 584, 580, 575, 570, 567, 563, 559,
    555, 551, 547, 543, 538, 535, 532, 528, 524, 520, 516, 513, 508, 505, 502, 498, 494, 491, 487, 484,
    480, 477, 474, 470, 467, 463, 460, 457, 453, 450, 447, 443, 440, 437, 434, 431,
    428, // 96
};

// Scream Tracker 3 and Impulse Tracker: Amiga periods of octave 0.
constexpr std::array<std::uint32_t, 12> notePeriods = {1712, 1616, 1524, 1440, 1356, 1280,
                                                       1208, 1140, 1076, 1016, 960,  907};
// 8363 x 16: with a sample's middle-C rate as divisor, the Scream Tracker 3
// middle C (octave 4) comes out at period 1712.
constexpr std::uint32_t s3mPeriodBase = 133808;
// Impulse Tracker's middle C is octave 5, so its base is twice the Scream Tracker 3 one.
constexpr std::uint32_t itPeriodBase = 2 * s3mPeriodBase;

constexpr std::uint32_t protrackerClock = 3546895;
constexpr std::uint32_t extendedAmigaClock = 14317456;
constexpr std::uint32_t amigaClock = 14317056;
constexpr int linearOctave = 768;
// The highest Extended Module note after the relative note (B-9).
constexpr int maxExtendedNote = 118;

struct Tables {
    // Linear frequency table: 535232 x 2^(-i/768), the rate of period i in octave 0.
    std::array<std::uint32_t, linearOctave> linear;
    // Automatic vibrato sine: round(-64 sin(2 pi i / 256)).
    std::array<int, 256> autovibSine;
};

Tables makeTables() {
    Tables t{};
    for (int i = 0; i < linearOctave; i++)
        t.linear[i] = static_cast<std::uint32_t>(std::floor(535232.0 * std::exp2(-i / double(linearOctave))));
    for (int i = 0; i < 256; i++)
        t.autovibSine[i] =
            static_cast<int>(std::lround(-64.0 * std::sin(2.0 * std::numbers::pi * i / 256.0)));
    return t;
}

const Tables& tables() {
    static const Tables t = makeTables();
    return t;
}

bool isExtended(int mode) {
    return mode == playModeExtended;
}
bool isImpulse(int mode) {
    return mode == playModeImpulse;
}
// Extended Module and Impulse Tracker: instruments with note maps, envelopes and fade-out.
bool hasInstruments(int mode) {
    return mode == playModeExtended || mode == playModeImpulse;
}

SoundDevice& device() {
    return *gmp.device;
}

int modeOf(const PlayHandle* song) {
    return song->module->play_mode;
}

std::uint16_t orderAt(const PlayHandle* song, int position) {
    const Module* m = song->module;
    if (m->orders == nullptr || position < 0 || position >= m->song_length) return orderEnd;
    return m->orders[position];
}

bool isMarker(std::uint16_t entry) {
    return entry == orderEnd || entry == orderSkip;
}

const Pattern* patternAt(const Module* m, int number) {
    if (m->patterns == nullptr || number < 0 || number >= m->pattern_count) return nullptr;
    return m->patterns[number];
}

// The packed rows of a pattern as far as its size says they go.
struct PatternView {
    const std::uint8_t* begin;
    const std::uint8_t* end;
    int rows;
};

PatternView viewOf(const Module* m, int number) {
    const Pattern* p = patternAt(m, number);
    if (p == nullptr) return {emptyRow, emptyRow, missingPatternRows};
    const int header = static_cast<int>(sizeof(Pattern));
    const int bytes = p->size > header ? p->size - header : 0;
    const std::uint8_t* data = pattern_data(p);
    return {data, data + bytes, std::clamp(p->row_count, 1, maxPatternRows)};
}

bool inside(const std::uint8_t* at, const PatternView& v) {
    std::less_equal<const std::uint8_t*> le;
    return at != nullptr && le(v.begin, at) && le(at, v.end);
}

// Bytes that follow a channel entry's flag byte.
int entryBytes(std::uint8_t flag) {
    return ((flag & entryNoteInstrument) ? 2 : 0) + ((flag & entryVolume) ? 1 : 0) +
           ((flag & entryCommand) ? 2 : 0);
}

// Steps over one row; data that ends inside the row ends it.
const std::uint8_t* skipRow(const std::uint8_t* at, const std::uint8_t* end) {
    while (at < end) {
        std::uint8_t flag = *at++;
        if (flag == 0) return at;
        int n = entryBytes(flag);
        if (end - at < n) return end;
        at += n;
    }
    return end;
}

bool isTonePorta(int command) {
    return command == cmdTonePorta || command == cmdTonePortaVolumeSlide;
}

int rowCommandOf(const ChannelState& ch) {
    return (ch.row_flags & rowCommand) ? int(ch.command) : int(cmdNone);
}

// The finetune a note plays with: its sample's, or in an Extended Module
// song the one a set-finetune command beside it names (x - 8 sixteenths of
// a semitone, as Fasttracker 2 reads E5x).
int noteFinetune(int mode, const ChannelState& ch, const Sample& sample) {
    if (isExtended(mode) && rowCommandOf(ch) == cmdSetFinetune) return (ch.info & 15) * 16 - 128;
    return sample.finetune;
}

// The sample number an Extended Module instrument's note map gives a note (255 = none).
std::uint8_t extendedMapSample(const Instrument* ins, int note) {
    if (ins == nullptr || ins->sample_count <= 0 || ins->sample_list == nullptr) return 255;
    int index = std::min((note >> 4) * 12 + (note & 15), 95);
    int number = ins->note_map ? ins->note_map[index] : 0;
    if (number >= ins->sample_count || ins->sample_list[number] == nullptr) return 255;
    return static_cast<std::uint8_t>(number);
}

// Impulse Tracker: the keyboard table gives the sample and the note to play;
// its notes are note numbers 0..119 and go back into the packed form.
void impulseMapSample(ChannelState& ch, const Instrument* ins) {
    if (ins == nullptr || ins->sample_count <= 0 || ins->sample_list == nullptr) {
        ch.sample = 255;
        return;
    }
    int index = std::min((ch.pattern_note >> 4) * 12 + (ch.pattern_note & 15), 119);
    int number = 0;
    if (ins->note_map != nullptr) {
        int played = ins->note_map[2 * index];
        number = ins->note_map[2 * index + 1];
        if (played < 120) ch.note = static_cast<std::uint8_t>((played / 12) << 4 | played % 12);
    }
    if (number >= ins->sample_count || ins->sample_list[number] == nullptr)
        ch.sample = 255;
    else
        ch.sample = static_cast<std::uint8_t>(number);
}

int setSample(const ChannelState& ch, const Sample* sample) {
    // A sample the device never received cannot be selected; the note start then silences the channel.
    if (sample == nullptr || sample->device_handle <= 0) return errOK;
    return device().setChannelSample(ch.device_channel, static_cast<std::uint32_t>(sample->device_handle));
}

// A note that starts afresh: envelopes from their first point, the fade-out
// undone, the key held again.
void restartEnvelopes(ChannelState& ch, bool extended) {
    ch.volume_env = ch.panning_env = ch.pitch_env = EnvelopeState{};
    // S77 beside the note pauses its envelope from the start.
    ch.volume_envelope_off = rowCommandOf(ch) == cmdVolumeEnvelope && ch.info == 0 ? 1 : 0;
    ch.volume_envelope_heard = 64 * 256;
    ch.note_fade = 0;
    ch.fade_volume = extended ? 65536 : impulseFullFade;
    ch.autovib_position = 0;
    ch.autovib_ramp = 0;
}

// Impulse Tracker lets a note go in one of these ways: its instrument's
// new-note action says which when the next note comes, its duplicate-check
// action (the same ways, continue left out) when a like note comes.
enum : std::uint8_t { letGoCut = 0, letGoContinue = 1, letGoNoteOff = 2, letGoNoteFade = 3 };
// What a duplicate check compares: nothing, the note, the sample or only the instrument.
enum : std::uint8_t { duplicateOff = 0, duplicateNote = 1, duplicateSample = 2, duplicateInstrument = 3 };

// The top of Impulse Tracker's filter cutoff: with no resonance, no filter.
constexpr std::uint8_t filterTop = 127;

// An Impulse Tracker note starts with its instrument's filter settings, where it has them.
void startFilter(ChannelState& ch, const Instrument* ins) {
    if (ins == nullptr) return;
    if (ins->initial_cutoff & 0x80) ch.filter_cutoff = ins->initial_cutoff & 0x7f;
    if (ins->initial_resonance & 0x80) ch.filter_resonance = ins->initial_resonance & 0x7f;
}

// Impulse Tracker note off: the samples' sustain loops and the envelopes' sustain let go.
int impulseNoteOff(ChannelState& ch) {
    ch.key_off = 1;
    ch.volume_env.hold = ch.panning_env.hold = ch.pitch_env.hold = 0;
    return device().releaseSound(ch.device_channel);
}

// Whether the channel's device channel still plays (a device that cannot say counts as playing).
bool stillSounding(const ChannelState& ch) {
    if (ch.instrument == -1 || ch.sample == 255) return false;
    std::uint32_t rate = 1;
    if (device().getChannelRate != nullptr && device().getChannelRate(ch.device_channel, &rate) != errOK)
        return false;
    return rate != 0;
}

// Lets a background note go in one of the ways above.
int letGo(BackgroundVoice& voice, int how) {
    ChannelState& ch = voice.channel;
    switch (how) {
    case letGoCut: ch.instrument = -1; return device().stopSound(ch.device_channel);
    case letGoNoteOff: return impulseNoteOff(ch);
    case letGoNoteFade: ch.note_fade = 1; return errOK;
    default: return errOK;
    }
}

// Before a new note on an Impulse Tracker channel: the channel's note moves to
// a background voice when its instrument's new-note action lets it sound on
// (the channel takes the voice's free device channel in exchange; with no
// voice free, the quietest one gives way), and then the background notes of
// this channel that the new note's instrument counts as duplicates are let go.
int newNoteActions(PlayHandle* song, ChannelState& ch, int host) {
    const Module* m = song->module;
    const Instrument* playing = gmp_instrument(m, ch.instrument);
    const int action = playing != nullptr ? int(playing->new_note_action) : int(letGoCut);
    if (action >= letGoContinue && action <= letGoNoteFade && stillSounding(ch)) {
        BackgroundVoice* slot = nullptr;
        for (int v = 0; v < song->background_count; v++) {
            BackgroundVoice& candidate = song->background[v];
            if (slot == nullptr || candidate.channel.instrument == -1 ||
                (slot->channel.instrument != -1 && candidate.channel.final_volume < slot->channel.final_volume))
                slot = &candidate;
            if (slot->channel.instrument == -1) break;
        }
        if (slot != nullptr) {
            if (slot->channel.instrument != -1) {
                if (int code = device().stopSound(slot->channel.device_channel); code != errOK) return code;
            }
            const std::uint8_t fresh = slot->channel.device_channel;
            slot->channel = ch;
            slot->channel.note = ch.last_note; // the row has already put the new note in place
            slot->host = host;
            ch.device_channel = fresh;
            if (int code = letGo(*slot, action); code != errOK) return code;
        }
    }

    const int incoming = (ch.row_flags & rowNewInstrument) ? ch.new_instrument : ch.instrument;
    const Instrument* next = gmp_instrument(m, incoming);
    if (next == nullptr || next->duplicate_check_type == duplicateOff ||
        next->duplicate_check_type > duplicateInstrument)
        return errOK;
    ChannelState probe = ch;
    probe.instrument = incoming;
    impulseMapSample(probe, next);
    const Sample* nextSample = probe.sample == 255 ? nullptr : gmp_channel_sample(m, &probe);
    for (int v = 0; v < song->background_count; v++) {
        BackgroundVoice& voice = song->background[v];
        if (voice.host != host || voice.channel.instrument != incoming) continue;
        const bool duplicate = next->duplicate_check_type == duplicateNote     ? voice.channel.note == probe.note
                               : next->duplicate_check_type == duplicateSample ? gmp_channel_sample(m, &voice.channel) == nextSample
                                                                               : true;
        if (!duplicate) continue;
        // Duplicate-check actions are the new-note actions without "continue".
        const int how = next->duplicate_check_action == 0 ? letGoCut : next->duplicate_check_action + 1;
        if (int code = letGo(voice, how); code != errOK) return code;
    }
    return errOK;
}

// Impulse Tracker's sample mode: a sample number without a note acts at once. A sample the song
// does not have, or one without sound, stops the channel (and the bare notes after it stay
// silent, as they play that number); any other takes over the sounding note where it stands,
// with its own volume, and is what the next bare note plays.
int impulseSampleChange(PlayHandle* song, ChannelState& ch) {
    const Module* m = song->module;
    const Instrument* ins = gmp_instrument(m, ch.new_instrument);
    const Sample* next = ins != nullptr && ins->sample_count > 0 ? ins->sample_list[0] : nullptr;
    if (next == nullptr || next->device_handle <= 0 || next->length <= 0)
        return device().stopSound(ch.device_channel);
    const Sample* playing = gmp_channel_sample(m, &ch);
    const bool sounding = playing != nullptr && playing->device_handle > 0 && stillSounding(ch);
    ch.instrument = ch.new_instrument;
    ch.sample = 0;
    ch.sample_offset = 0;
    cmd_set_volume(song, &ch, next->volume);
    if (next == playing) return errOK; // the same sound plays on untouched
    if (!sounding) return setSample(ch, next);
    std::uint32_t position = 0; // a device that cannot say starts the new sound from its beginning
    if (device().getChannelPosition != nullptr) {
        if (int code = device().getChannelPosition(ch.device_channel, &position); code != errOK) return code;
    }
    const auto frame = position / static_cast<std::uint32_t>(frameBytes(*playing));
    if (int code = setSample(ch, next); code != errOK) return code;
    return device().setChannelPosition(ch.device_channel, frame * static_cast<std::uint32_t>(frameBytes(*next)));
}

// slides: the row's note is a tone portamento's target, not a note to start.
int newInstrument(PlayHandle* song, ChannelState& ch, bool slides) {
    const int mode = modeOf(song);
    const Module* m = song->module;
    const int command = rowCommandOf(ch);
    if (!hasInstruments(mode)) {
        // Scream Tracker 3 passes over an instrument without sample data
        // beside a tone portamento: the note slides on, as loud as it was.
        if (mode == playModeScreamTracker3 && isTonePorta(command)) {
            const Instrument* ins = gmp_instrument(m, ch.new_instrument);
            const Sample* first = ins != nullptr && ins->sample_count > 0 ? ins->sample_list[0] : nullptr;
            if (first == nullptr || first->type == SMP_NONE || first->length == 0) return errOK;
        }
        ch.instrument = ch.new_instrument;
        ch.sample = 0;
        ch.sample_offset = 0;
        const Sample* sample = gmp_channel_sample(m, &ch);
        if (sample == nullptr) return errOK;
        cmd_set_volume(song, &ch, sample->volume); // a negative one as 0, at most max_volume
        ch.finetune = sample->finetune;
        return setSample(ch, sample);
    }
    const bool extended = isExtended(mode);
    // An Impulse Tracker note let go (note off or note fade) stays let go when a
    // tone portamento slides it on: the instrument number brings back neither
    // its envelopes nor its fade-out.
    const int noteLimit = extended ? noteKeyOff : noteStop;
    const bool newNote = (ch.row_flags & rowNewNote) && ch.pattern_note < noteLimit;
    const bool staysLetGo = !extended && slides && newNote && (ch.key_off || ch.note_fade);
    if (!staysLetGo) {
        if (!extended || command != cmdNoteDelay) restartEnvelopes(ch, extended);
        ch.key_off = 0;
    }
    if (!extended && !newNote && (m->flags & moduleInstrumentMode) == 0) return impulseSampleChange(song, ch);
    if (newNote && !slides) {
        ch.instrument = ch.new_instrument;
        const Instrument* ins = gmp_instrument(m, ch.instrument);
        if (extended)
            ch.sample = extendedMapSample(ins, ch.pattern_note);
        else
            impulseMapSample(ch, ins);
    }
    // Fasttracker 2: an instrument number without a note takes the channel over; the sample it
    // gives the channel's last note lends its volume and panning (the sound plays on).
    if (extended && !newNote && ch.pattern_note < noteKeyOff && ch.new_instrument != ch.instrument) {
        const std::uint8_t number = extendedMapSample(gmp_instrument(m, ch.new_instrument), ch.pattern_note);
        if (number != 255) {
            ch.instrument = ch.new_instrument;
            ch.sample = number;
        }
    }
    if (ch.sample == 255) return errOK;
    const Sample* sample = gmp_channel_sample(m, &ch);
    if (sample == nullptr) return errOK;
    cmd_set_volume(song, &ch, sample->volume); // a negative one as 0, at most max_volume
    if (extended) {
        if (int code = cmd_set_panning(song, &ch, sample->panning); code != errOK) return code;
    } else {
        const Instrument* ins = gmp_instrument(m, ch.instrument);
        if ((ins->default_panning & 0x80) == 0) {
            if (int code = cmd_set_panning(song, &ch, ins->default_panning); code != errOK) return code;
        }
    }
    ch.sample_offset = 0;
    return newNote ? setSample(ch, sample) : errOK;
}

// Scream Tracker 3 and Impulse Tracker keep one infobyte memory for the
// commands that continue an effect; a zero infobyte there means "as before".
// Commands where 0 is a value of its own (jump to order 0, break to row 0,
// loop start, cut at once, ...) take their infobyte as it stands.
bool sharesInfoMemory(int command) {
    switch (command) {
    case cmdArpeggio:
    case cmdPortaUp:
    case cmdPortaDown:
    case cmdTonePortaVolumeSlide:
    case cmdVibratoVolumeSlide:
    case cmdTremolo:
    case cmdVolumeSlide:
    case cmdRetrigger:
    case cmdGlobalVolumeSlide:
    case cmdMultiRetrigger:
    case cmdPanningSlide:
    case cmdChannelVolumeSlide:
    case cmdTremor: return true;
    default: return false;
    }
}

// Extended Module commands whose zero infobyte repeats the command's last one.
bool extendedInfoMemory(int command) {
    switch (command) {
    case cmdPortaUp:
    case cmdPortaDown:
    case cmdFinePortaUp:
    case cmdFinePortaDown:
    case cmdFineVolumeUp:
    case cmdFineVolumeDown:
    case cmdGlobalVolumeSlide:
    case cmdExtraFinePortaUp:
    case cmdExtraFinePortaDown:
    case cmdTremor: return true;
    default: return false;
    }
}

// The infobyte a handler gets: a zero one replaced from the memory; on the row
// tick a nonzero one is remembered.
int substituteInfo(int mode, ChannelState& ch, int command, int info, bool remember) {
    switch (mode) {
    case playModeScreamTracker3:
    case playModeImpulse:
        if (!sharesInfoMemory(command)) return info;
        if (info != 0) {
            if (remember) ch.last_info = info;
            return info;
        }
        return ch.last_info;
    case playModeExtended:
        if (info != 0) {
            if (remember) ch.info_memory[command] = static_cast<std::uint8_t>(info);
            return info;
        }
        return extendedInfoMemory(command) ? ch.info_memory[command] : 0;
    default: return info;
    }
}

// Commands that change where the song goes act once per row; a pattern delay
// repeats the row's other row commands only.
bool repeatsOnDelay(int command, int info) {
    return command != cmdPositionJump && command != cmdPatternBreak && command != cmdPatternLoop &&
           !(command == cmdSetSpeed && info == 0);
}

int runEffects(PlayHandle* song) {
    const int mode = modeOf(song);
    const CommandTable& table = tick_commands(mode);
    for (int c = 0; c < song->channel_count; c++) {
        ChannelState& ch = song->channels[c];
        if ((isExtended(mode) || isImpulse(mode)) && (ch.row_flags & rowVolume) && ch.volume_byte > 64) {
            if (int code = volume_column_tick(song, &ch); code != errOK) return code;
        }
        if ((ch.row_flags & rowCommand) == 0) continue;
        if (ch.command >= commandCount) return errInvalidPattern;
        int info = substituteInfo(mode, ch, ch.command, ch.info, false);
        if (int code = table[ch.command](song, &ch, info); code != errOK) return code;
    }
    return errOK;
}

int repeatRow(PlayHandle* song) {
    const CommandTable& table = row_commands(modeOf(song));
    for (int c = 0; c < song->channel_count; c++) {
        ChannelState& ch = song->channels[c];
        if ((ch.row_flags & rowCommand) == 0) continue;
        if (ch.command >= commandCount) return errInvalidPattern;
        if (!repeatsOnDelay(ch.command, ch.info)) continue;
        if (int code = table[ch.command](song, &ch, ch.info); code != errOK) return code;
    }
    if (int code = runEffects(song); code != errOK) return code;
    song->pattern_delay--;
    return errOK;
}

// Whether a command is one of Impulse Tracker's S commands.
bool impulseSpecial(int command) {
    switch (command) {
    case cmdCoarsePanning:
    case cmdPatternLoop:
    case cmdNoteCut:
    case cmdNoteDelay:
    case cmdPatternDelay:
    case cmdVolumeEnvelope:
    case cmdSpecialMemory: return true;
    default: return false;
    }
}

// Impulse Tracker remembers each channel's last S command: S00 is that
// command again (nothing, before any), and every other S command is remembered.
void impulseSpecialMemory(ChannelState& ch) {
    if (!(ch.row_flags & rowCommand) || !impulseSpecial(ch.command)) return;
    if (ch.command == cmdSpecialMemory && ch.info == 0) {
        if (ch.special_command == cmdNone) {
            ch.row_flags &= static_cast<std::uint8_t>(~rowCommand);
            return;
        }
        ch.command = ch.special_command;
        ch.info = ch.special_info;
        return;
    }
    ch.special_command = ch.command;
    ch.special_info = ch.info;
}

// Reads one row's channel entries into the channels; returns the position after the row.
const std::uint8_t* readRow(PlayHandle* song, const std::uint8_t* at, const std::uint8_t* end) {
    const bool impulse = isImpulse(modeOf(song));
    for (int c = 0; c < song->channel_count; c++)
        song->channels[c].row_flags &=
            static_cast<std::uint8_t>(~(rowNewNote | rowVolume | rowNewInstrument | rowCommand | rowNoteRead));
    while (at < end) {
        const std::uint8_t flag = *at++;
        if (flag == 0) return at;
        const int n = entryBytes(flag);
        if (end - at < n) return end; // cut short: the entry is incomplete
        const int channel = flag & entryChannelMask;
        const std::uint8_t* bytes = at;
        at += n;
        if (channel >= song->channel_count) continue;
        ChannelState& ch = song->channels[channel];
        const std::uint8_t* noteBytes = (flag & entryNoteInstrument) ? bytes : nullptr;
        if (noteBytes != nullptr) bytes += 2;
        const std::uint8_t* volumeByte = (flag & entryVolume) ? bytes++ : nullptr;
        if ((flag & entryCommand) && bytes[0] != cmdNone) {
            ch.command = bytes[0];
            ch.info = bytes[1];
            ch.row_flags |= rowCommand;
            if (impulse) impulseSpecialMemory(ch);
        }
        // Impulse Tracker holds a delayed note's whole entry back until its
        // tick: a delay as long as the row or longer never comes, and neither
        // the note nor its instrument or volume plays.
        if (impulse && (ch.row_flags & rowCommand) && ch.command == cmdNoteDelay &&
            std::max<int>(ch.info, 1) >= song->speed)
            continue;
        if (noteBytes != nullptr) {
            if (noteBytes[0] != noteNone) {
                ch.note = ch.pattern_note = noteBytes[0];
                ch.row_flags |= rowNewNote | rowNoteRead;
            }
            if (noteBytes[1] != instrumentNone) {
                ch.new_instrument = noteBytes[1];
                ch.row_flags |= rowNewInstrument;
            }
        }
        // An entry without a volume leaves the volume bit clear: every byte value is a
        // volume or a volume-column command of some format (Impulse Tracker's 80 is a
        // fine volume slide down by 5), so none can stand for "no volume".
        if (volumeByte != nullptr) {
            ch.volume_byte = *volumeByte;
            ch.row_flags |= rowVolume;
        }
    }
    return end;
}

// Row commands that move the period on the row tick; with a note on the same
// row they slide the new note, so they run after it has started.
bool slidesOnRowTick(int command) {
    switch (command) {
    case cmdPortaUp:
    case cmdPortaDown:
    case cmdFinePortaUp:
    case cmdFinePortaDown:
    case cmdExtraFinePortaUp:
    case cmdExtraFinePortaDown: return true;
    default: return false;
    }
}

// Fasttracker 2 reads an Extended Module row's note before it acts on it: a
// note delay without a note plays the channel's last note again, and a note
// that its sample's relative note takes outside the ten octaves is no note.
void extendedRowNote(const PlayHandle* song, ChannelState& ch) {
    const int command = rowCommandOf(ch);
    if (!(ch.row_flags & rowNewNote) && command == cmdNoteDelay && ch.info != 0 && ch.last_note < noteStop) {
        ch.note = ch.pattern_note = ch.last_note;
        ch.row_flags |= rowNewNote | rowNoteRead;
    }
    if (!(ch.row_flags & rowNewNote) || ch.pattern_note >= noteStop) return;
    const Instrument* ins =
        gmp_instrument(song->module, (ch.row_flags & rowNewInstrument) ? ch.new_instrument : ch.instrument);
    const std::uint8_t number = extendedMapSample(ins, ch.pattern_note);
    if (number == 255) return;
    const int n = (ch.pattern_note >> 4) * 12 + (ch.pattern_note & 15) + ins->sample_list[number]->relative_note;
    if (n < 0 || n > maxExtendedNote) ch.row_flags &= static_cast<std::uint8_t>(~(rowNewNote | rowNoteRead));
}

bool voiceEnded(const PlayHandle* song, const ChannelState& ch);

int processChannel(PlayHandle* song, ChannelState& ch) {
    const int mode = modeOf(song);
    if (isExtended(mode)) extendedRowNote(song, ch);
    const int command = rowCommandOf(ch);
    // An Impulse Tracker row without a tremor is heard at the channel's volume again.
    if (isImpulse(mode) && command != cmdTremor) ch.effective_volume = ch.volume;
    // Impulse Tracker slides only a note that still sounds: a tone portamento to
    // a note on a channel whose note was cut or has died away starts that note.
    const bool newNote = (ch.row_flags & rowNewNote) && ch.pattern_note < noteStop;
    const bool portaRow = command == cmdTonePorta || impulse_column_porta(&ch);
    const bool toNote = isImpulse(mode) && newNote && (portaRow || command == cmdTonePortaVolumeSlide);
    const bool restarts = toNote && voiceEnded(song, ch);
    if (isImpulse(mode) && song->background_count > 0 && newNote && (!toNote || restarts)) {
        if (int code = newNoteActions(song, ch, static_cast<int>(&ch - song->channels)); code != errOK)
            return code;
    }
    if (ch.row_flags & rowNewInstrument) {
        if (int code = newInstrument(song, ch, portaRow && !restarts); code != errOK) return code;
    }
    if (ch.row_flags & rowVolume) {
        if (ch.volume_byte > 64) {
            if (int code = volume_column_row(song, &ch); code != errOK) return code;
        } else {
            cmd_set_volume(song, &ch, std::min<int>(ch.volume_byte, song->max_volume));
        }
    }
    CommandHandler afterNote = nullptr;
    int info = 0;
    if ((ch.row_flags & rowCommand) && ch.command != cmdNone) {
        if (ch.command >= commandCount) return errInvalidPattern;
        info = substituteInfo(mode, ch, ch.command, ch.info, true);
        const CommandHandler handler = row_commands(mode)[ch.command];
        if ((ch.row_flags & rowNewNote) && slidesOnRowTick(ch.command))
            afterNote = handler;
        else if (int code = handler(song, &ch, info); code != errOK)
            return code;
    }
    if (restarts) ch.row_flags |= rowNewNote;
    if (ch.row_flags & rowNewNote) {
        if (int code = gmp_start_row_note(song, &ch, false); code != errOK) return code;
        if (restarts) ch.porta_target = ch.period;
        return afterNote ? afterNote(song, &ch, info) : errOK;
    }
    const bool vibratoRow =
        rowCommandOf(ch) == cmdVibrato || ((ch.row_flags & rowVolume) && (ch.volume_byte & 0xf0) == 0xb0);
    if (!(isExtended(mode) && vibratoRow))
        ch.output_period = std::clamp(ch.period, song->min_period, song->max_period);
    return errOK;
}

// The key of a row of the song as the pattern-loop state stands: the order
// position, the row and the count of every pattern loop (FNV-1a). A row that
// a pattern loop repeats is entered with another count each time, so only a
// return in the very same state counts as the song coming back. (Where a
// finished loop started does not count: the song has come back all the same.)
std::uint64_t visitKey(const PlayHandle* song, int position, int row) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    const auto mix = [&hash](std::uint32_t value) {
        for (int b = 0; b < 4; b++) {
            hash ^= (value >> (8 * b)) & 0xff;
            hash *= 0x100000001b3u;
        }
    };
    mix(static_cast<std::uint32_t>(position));
    mix(static_cast<std::uint32_t>(row));
    mix(song->loop_remaining);
    for (int c = 0; c < song->channel_count; c++)
        mix(song->channels[c].channel_loop_remaining);
    return hash != 0 ? hash : 1; // 0 marks a free slot
}

// The row the song reads next, as the read will clamp it into its pattern.
int nextRow(const PlayHandle* song) {
    return std::clamp(song->row, 0, gmp_pattern_rows(song->module, song->pattern) - 1);
}

// The table slot of a key: where it is, or the free slot where it would go.
std::uint64_t* visitSlot(const PlayHandle* song, std::uint64_t key) {
    const auto mask = static_cast<std::uint64_t>(song->visited_capacity - 1);
    for (std::uint64_t at = key & mask;; at = (at + 1) & mask)
        if (song->visited[at] == key || song->visited[at] == 0) return &song->visited[at];
}

constexpr int firstVisitCapacity = 1024; // a power of two

// Doubles the visit table (kept at most three quarters full).
int growVisits(PlayHandle* song) {
    const int capacity = song->visited_capacity * 2;
    void* memory = nullptr;
    if (int code = mem_alloc_zeroed(sizeof(std::uint64_t) * static_cast<std::size_t>(capacity), &memory);
        code != errOK)
        return code;
    std::uint64_t* old = song->visited;
    const int oldCapacity = song->visited_capacity;
    song->visited = static_cast<std::uint64_t*>(memory);
    song->visited_capacity = capacity;
    for (int i = 0; i < oldCapacity; i++)
        if (old[i] != 0) *visitSlot(song, old[i]) = old[i];
    return mem_free(old);
}

// Notes the row now being read as played.
int markVisit(PlayHandle* song) {
    if (song->visited == nullptr) return errOK;
    if (4 * (song->visited_count + 1) > 3 * song->visited_capacity) {
        if (int code = growVisits(song); code != errOK) return code;
    }
    std::uint64_t* slot = visitSlot(song, visitKey(song, song->position, song->row));
    if (*slot == 0) song->visited_count++;
    *slot = visitKey(song, song->position, song->row);
    return errOK;
}

// Forgets every row played: the song is followed afresh from here.
void forgetVisits(PlayHandle* song) {
    if (song->visited != nullptr) std::fill(song->visited, song->visited + song->visited_capacity, std::uint64_t{0});
    song->visited_count = 0;
}

// After a row: when the row the song goes to next was played before in the
// same loop state, the song has come to its end.
void checkNextRow(PlayHandle* song) {
    if (song->visited == nullptr) return;
    const std::uint64_t key = visitKey(song, song->position, nextRow(song));
    if (*visitSlot(song, key) == key) gmp_end_round(song);
}

// Moves a song whose row asked to leave its pattern (or ran past its end) to
// the next position, or the one a jump named, at the row kept for the next
// pattern's start.
void leavePattern(PlayHandle* song) {
    song->row = song->next_start_row;
    song->next_start_row = 0;
    song->jump_due = 0;
    song->position = song->jump_position >= 0 ? song->jump_position : song->position + 1;
    song->jump_position = -1;
    gmp_enter_position(song);
    song->row = std::min(song->row, gmp_pattern_rows(song->module, song->pattern) - 1);
}

// Where an Extended Module song goes after a row, as Fasttracker 2 settles
// it: the next row, or the row a pattern loop jumps back to; then, at the
// pattern's end or after a jump or break, the next pattern.
void settleExtendedRow(PlayHandle* song, int rows) {
    song->row++;
    if (song->loop_due) {
        song->row = song->next_start_row;
        song->loop_due = 0;
        song->row_data = nullptr;
    }
    if (song->row >= rows || song->jump_due) leavePattern(song);
}

// Where an Impulse Tracker song goes after a row: a pattern loop jumping
// back wins over a jump or break on the same row; otherwise as above, and
// every channel's loop starts at the top of a new pattern.
void settleImpulseRow(PlayHandle* song, int rows) {
    song->row++;
    if (song->loop_due) {
        song->row = song->loop_target;
        song->loop_due = song->jump_due = 0;
        song->jump_position = -1;
        song->next_start_row = 0;
        song->row_data = nullptr;
        return;
    }
    if (song->row < rows && !song->jump_due) return;
    leavePattern(song);
    for (int c = 0; c < song->channel_count; c++)
        song->channels[c].channel_loop_row = 0;
}

int processRow(PlayHandle* song) {
    // The read position is taken once and checked against the pattern it must
    // lie in, so a position change between ticks can never send the read astray.
    const PatternView view = viewOf(song->module, song->pattern);
    const std::uint8_t* at = song->row_data;
    const bool fresh = !inside(at, view);
    if (fresh) song->row = std::clamp(song->row, 0, view.rows - 1);
    // A delayed row is still the row now playing: the status keeps naming it.
    if (song->pattern_delay != 0) return repeatRow(song);
    song->status->position = song->position;
    song->status->pattern = song->pattern;
    song->status->row = song->row;
    if (int code = markVisit(song); code != errOK) return code;
    if (fresh) {
        at = view.begin;
        for (int r = 0; r < song->row; r++)
            at = skipRow(at, view.end);
    }
    song->row_data = readRow(song, at, view.end);
    for (int c = 0; c < song->channel_count; c++) {
        if (int code = processChannel(song, song->channels[c]); code != errOK) return code;
    }
    if (isExtended(modeOf(song))) {
        settleExtendedRow(song, view.rows);
    } else if (isImpulse(modeOf(song))) {
        settleImpulseRow(song, view.rows);
    } else if (song->row_data != nullptr && ++song->row >= view.rows) {
        // Without a jump, break or loop choosing the next row, the next one in order.
        song->row = 0;
        if (modeOf(song) == playModeScreamTracker3) song->loop_row = 0;
        gmp_next_position(song);
    }
    checkNextRow(song);
    return errOK;
}

int fadeoutOf(const Instrument* ins) {
    return ins ? std::clamp(ins->fadeout, 0, 65536) : 0;
}

bool envelopeOn(const Envelope* e) {
    return e != nullptr && e->point_count > 0;
}

int finalVolume(int volume, const PlayHandle* song, const ChannelState& ch) {
    if (ch.muted) return 0;
    const std::int64_t product =
        std::int64_t(std::clamp(volume, 0, 64)) * std::min<int>(song->global_volume, 64) *
        std::min<int>(ch.channel_volume, 64) * std::min<int>(song->master_volume, 64) *
        std::min<int>(ch.song_channel_volume, 64);
    return static_cast<int>(std::clamp<std::int64_t>((product + 0xffffff) >> 24, 0, 64));
}

int sendRate(const PlayHandle* song, ChannelState& ch) {
    if (ch.final_period <= 0) return errOK;
    std::uint32_t rate = 0;
    if (int code = gmp_period_rate(modeOf(song), song->module->flags, ch.final_period, &rate); code != errOK)
        return code;
    return device().setChannelRate(ch.device_channel, rate);
}

int autovibValue(int waveform, int p) {
    switch (waveform) {
    case 1: return (p & 0x80) ? 64 : -64;
    case 2: return (((p >> 1) + 64) & 127) - 64;
    case 3: return ((64 - (p >> 1)) & 127) - 64;
    default: return tables().autovibSine[p & 255];
    }
}

// Whether a volume envelope runs to an end (it has no loop) and has reached it.
bool envelopeEnded(const Envelope* e, const EnvelopeState& state) {
    if (!envelopeOn(e)) return false;
    const int count = std::min<int>(e->point_count, envelopePointCapacity);
    const bool loops = e->loop_start < count && e->loop_end < count;
    return !loops && state.position >= e->points[count - 1].x;
}

// Impulse Tracker fades a note out once it is told to (note fade), once its
// volume envelope has ended, or from its note off when the envelope cannot
// end by itself (there is none, or it loops); a released envelope that runs
// to an end is left to do so first.
bool impulseFading(ChannelState& ch, const Instrument* ins) {
    const Envelope* e = ins != nullptr ? ins->volume_envelope : nullptr;
    if (envelopeEnded(e, ch.volume_env)) ch.note_fade = 1;
    if (ch.note_fade) return true;
    if (!ch.key_off) return false;
    const int count = envelopeOn(e) ? std::min<int>(e->point_count, envelopePointCapacity) : 0;
    return count == 0 || (e->loop_start < count && e->loop_end < count);
}

// The volume of an Extended Module or Impulse Tracker note after its global
// volumes, fade-out and volume envelope, which move on by one tick. Extended
// Module drops the fraction after each step. Impulse Tracker keeps the whole
// product and rounds it once, to the nearest step: the tracker's own volume
// scale is twice as fine, and a note falls silent just where that scale
// reaches 0 (a note at volume 1 under an envelope below full is still heard).
int instrumentVolume(const PlayHandle* song, ChannelState& ch, const Instrument* ins, bool extended) {
    if (ch.instrument == -1) return ch.effective_volume;
    std::int64_t scaled = ch.effective_volume;
    int shift = 0;
    if (!extended) {
        // Impulse Tracker scales every note by its sample's and its instrument's global volume.
        const Sample* sample = gmp_channel_sample(song->module, &ch);
        const int sampleVolume = sample ? std::clamp(sample->sample_global_volume, 0, 64) : 64;
        const int instrumentVolume = ins ? std::clamp(ins->global_volume, 0, 64) : 64;
        scaled *= sampleVolume * instrumentVolume;
        shift = 12;
    }
    ch.fade_volume = std::max(ch.fade_volume, 0);
    scaled *= ch.fade_volume;
    if (extended)
        scaled >>= 16;
    else
        shift += 10;
    if (extended ? ch.key_off != 0 : impulseFading(ch, ins))
        ch.fade_volume = std::max(ch.fade_volume - (extended ? 2 : 1) * fadeoutOf(ins), 0);
    if (ins != nullptr && envelopeOn(ins->volume_envelope)) {
        // A paused envelope holds the value it was last heard at (full, on a
        // note paused from its start).
        const auto step = extended ? gmp_envelope_value : gmp_impulse_envelope_value;
        if (!ch.volume_envelope_off)
            ch.volume_envelope_heard = step(ins->volume_envelope, &ch.volume_env, ch.key_off);
        scaled *= ch.volume_envelope_heard;
        shift += 14;
    }
    if (scaled < 0) return 0;
    if (!extended) scaled += (std::int64_t{1} << shift) >> 1;
    return static_cast<int>(std::min<std::int64_t>(scaled >> shift, 64));
}

// The device panning (-64..64) of an Extended Module or Impulse Tracker note
// after its panning envelope, which moves on by one tick.
int instrumentPanning(ChannelState& ch, const Instrument* ins, bool extended) {
    const bool panEnvelope = ins != nullptr && envelopeOn(ins->panning_envelope);
    if (extended) {
        int m = std::clamp(ch.panning, 0, 255);
        if (panEnvelope) {
            const int d = (gmp_envelope_value(ins->panning_envelope, &ch.panning_env, ch.key_off) >> 8) - 32;
            m = std::clamp(m + (m < 128 ? m * d : d * (256 - m)) / 32, 0, 255);
        }
        return std::clamp((m - 128) / 2, -64, 64);
    }
    // The envelope (-32..32) swings the panning within the room its side leaves, as the
    // Extended Module stage does, so that an envelope never pins a channel to one side.
    if (ch.panning == impulseSurround) return PAN_SURROUND;
    int m = std::clamp(ch.panning, 0, 64);
    if (panEnvelope) {
        const int value = gmp_impulse_envelope_value(ins->panning_envelope, &ch.panning_env, ch.key_off);
        const int d = std::clamp(value >> 8, -32, 32);
        m = std::clamp(m + d * (32 - std::abs(m - 32)) / 32, 0, 64);
    }
    return m * 2 - 64;
}

// The period sent to the device: the output period, swung by an Extended
// Module instrument's automatic vibrato.
int autovibratoPeriod(const PlayHandle* song, ChannelState& ch, const Instrument* ins, bool extended) {
    if (!extended || ins == nullptr || ins->vibrato_depth == 0) return ch.output_period;
    const int full = ins->vibrato_depth * 256;
    if (ins->vibrato_sweep == 0)
        ch.autovib_ramp = full;
    else if (!ch.key_off)
        ch.autovib_ramp = std::min(ch.autovib_ramp + full / ins->vibrato_sweep, full);
    ch.autovib_position = static_cast<std::uint8_t>(ch.autovib_position + ins->vibrato_rate);
    const int a = autovibValue(ins->vibrato_waveform, ch.autovib_position);
    return std::clamp(ch.output_period + ((a * ch.autovib_ramp) >> 14), song->min_period, song->max_period);
}

// Impulse Tracker's resonant filter for the channel: its cutoff, swung by the instrument's filter
// envelope (which moves on by one tick) from nothing at its bottom to the whole cutoff at its
// top, and its resonance. A cutoff at the top with no resonance and no envelope is no filter.
int sendFilter(ChannelState& ch, const Instrument* ins) {
    if (device().setChannelFilter == nullptr) return errOK;
    std::uint32_t cutoff = std::uint32_t{ch.filter_cutoff} * 256;
    if (ins != nullptr && ins->filter_envelope && envelopeOn(ins->pitch_envelope)) {
        const int swing =
            std::clamp(gmp_impulse_envelope_value(ins->pitch_envelope, &ch.pitch_env, ch.key_off), -32 * 256, 32 * 256);
        cutoff = cutoff * static_cast<std::uint32_t>(swing + 32 * 256) / (64 * 256);
    } else if (ch.filter_cutoff >= filterTop && ch.filter_resonance == 0) {
        cutoff = FILTER_OFF;
    }
    return device().setChannelFilter(ch.device_channel, cutoff, ch.filter_resonance);
}

// Extended Module and Impulse Tracker: fade-out, envelopes and automatic vibrato.
int outputInstrumentChannel(PlayHandle* song, ChannelState& ch) {
    const bool extended = isExtended(modeOf(song));
    const Instrument* ins = ch.instrument != -1 ? gmp_instrument(song->module, ch.instrument) : nullptr;
    ch.final_volume =
        static_cast<std::uint8_t>(finalVolume(instrumentVolume(song, ch, ins, extended), song, ch));
    if (int code = device().setChannelVolume(ch.device_channel, ch.final_volume); code != errOK) return code;
    const int panning = instrumentPanning(ch, ins, extended);
    if (int code = device().setChannelPanning(ch.device_channel, panning); code != errOK) return code;
    if (!extended) {
        if (int code = sendFilter(ch, ins); code != errOK) return code;
    }
    if (ch.instrument == -1) return errOK;
    ch.final_period = autovibratoPeriod(song, ch, ins, extended);
    return sendRate(song, ch);
}

int outputBackground(PlayHandle* song);

int outputStage(PlayHandle* song) {
    for (int c = 0; c < song->channel_count; c++) {
        ChannelState& ch = song->channels[c];
        if (hasInstruments(modeOf(song))) {
            if (int code = outputInstrumentChannel(song, ch); code != errOK) return code;
            continue;
        }
        ch.final_volume = static_cast<std::uint8_t>(finalVolume(ch.effective_volume, song, ch));
        if (int code = device().setChannelVolume(ch.device_channel, ch.final_volume); code != errOK)
            return code;
        ch.final_period = ch.output_period;
        if (int code = sendRate(song, ch); code != errOK) return code;
    }
    return outputBackground(song);
}

// Whether a note (a background one, or the one on a channel) can no longer be
// heard: its sample has ended, its fade-out is done, or its volume envelope has
// come to rest at 0.
bool voiceEnded(const PlayHandle* song, const ChannelState& ch) {
    if (!stillSounding(ch)) return true;
    if (ch.fade_volume <= 0) return true;
    const Instrument* ins = gmp_instrument(song->module, ch.instrument);
    if (ins == nullptr || !envelopeEnded(ins->volume_envelope, ch.volume_env)) return false;
    const Envelope& e = *ins->volume_envelope;
    return e.points[std::min<int>(e.point_count, envelopePointCapacity) - 1].y <= 0;
}

// Background notes get their volume, panning and rate as the channels do, and
// give their voice back once they can no longer be heard.
int outputBackground(PlayHandle* song) {
    for (int v = 0; v < song->background_count; v++) {
        ChannelState& ch = song->background[v].channel;
        if (ch.instrument == -1) continue;
        if (voiceEnded(song, ch)) {
            ch.instrument = -1;
            if (int code = device().stopSound(ch.device_channel); code != errOK) return code;
            continue;
        }
        if (int code = outputInstrumentChannel(song, ch); code != errOK) return code;
    }
    return errOK;
}

void freeSong(PlayHandle* song) {
    if (song == nullptr) return;
    if (song->channels != nullptr) mem_free(song->channels);
    if (song->status != nullptr) mem_free(song->status);
    if (song->background != nullptr) mem_free(song->background);
    if (song->visited != nullptr) mem_free(song->visited);
    mem_free(song);
}

// Moves to the first playable entry from the song's position, stepping over
// 0xFFFE and 0xFFFF entries in the given direction; the end wraps to the
// restart position going forward and to the last entry going backward.
void skipMarkers(PlayHandle* song, bool backward) {
    const int length = song->module->song_length;
    for (int guard = std::max(length, 0) + 1; guard > 0 && isMarker(orderAt(song, song->position)); guard--) {
        if (backward) {
            if (--song->position < 0) song->position = length - 1;
        } else if (++song->position >= length) {
            song->position = song->restart_position;
        }
    }
}

// A song record with its channels and status, all cleared; null after a failure.
int allocateSong(int channelCount, PlayHandle** out) {
    void* memory = nullptr;
    if (int code = mem_alloc_zeroed(sizeof(PlayHandle), &memory); code != errOK) return code;
    PlayHandle* song = static_cast<PlayHandle*>(memory);
    int code =
        mem_alloc_zeroed(sizeof(ChannelState) * static_cast<std::size_t>(std::max(channelCount, 1)), &memory);
    if (code == errOK) {
        song->channels = static_cast<ChannelState*>(memory);
        code = mem_alloc_zeroed(sizeof(SongStatus), &memory);
    }
    if (code == errOK) {
        song->status = static_cast<SongStatus*>(memory);
        code = mem_alloc_zeroed(sizeof(std::uint64_t) * firstVisitCapacity, &memory);
    }
    if (code != errOK) {
        freeSong(song);
        return code;
    }
    song->visited = static_cast<std::uint64_t*>(memory);
    song->visited_capacity = firstVisitCapacity;
    *out = song;
    return errOK;
}

// Start, end and restart positions as asked (startPosition -1: the whole
// song), and the first pattern to play.
void placeSong(PlayHandle* song, int startPosition, int endPosition, int restartPosition) {
    const Module* module = song->module;
    const int length = module->song_length;
    if (startPosition == -1) {
        startPosition = 0;
        endPosition = length - 1;
        restartPosition = module->restart_position;
    }
    // A restart position outside the order list restarts the song from its beginning.
    song->restart_position = restartPosition >= 0 && restartPosition < length ? restartPosition : 0;
    song->end_position = endPosition;
    song->position = startPosition < length ? startPosition : song->restart_position;
    skipMarkers(song, false);
    song->pattern = orderAt(song, song->position);
}

// Every channel without instrument or note, at full volume, on its device
// channel and at the module's panning for it.
int startChannels(PlayHandle* song, const int* deviceChannels) {
    const Module* module = song->module;
    const int mode = module->play_mode;
    const int centre = isExtended(mode) ? 128 : isImpulse(mode) ? 32 : 64;
    for (int c = 0; c < song->channel_count; c++) {
        ChannelState& ch = song->channels[c];
        ch.instrument = ch.new_instrument = -1;
        ch.sample = ch.note = ch.last_note = ch.pattern_note = 255;
        ch.volume = ch.effective_volume = ch.channel_volume = 64;
        ch.filter_cutoff = filterTop;
        ch.song_channel_volume = module->channel_volumes != nullptr && c < 64
                                     ? std::min<std::uint8_t>(module->channel_volumes[c], 64)
                                     : 64;
        ch.device_channel = static_cast<std::uint8_t>(deviceChannels ? deviceChannels[c] : c);
        int panning = module->panning ? module->panning[c] : centre;
        if (isImpulse(mode)) {
            ch.muted = (panning & switchedOff) != 0;
            panning &= ~switchedOff;
        }
        if (int code = cmd_set_panning(song, &ch, panning); code != errOK) return code;
    }
    return errOK;
}

// The period limits, slide shift and volume ceiling of the song's play mode.
void setPlayModeLimits(PlayHandle* song) {
    const int flags = song->module->flags;
    song->period_shift = 2;
    song->max_volume = 64;
    switch (song->module->play_mode) {
    case playModeScreamTracker3:
        song->max_volume = 63;
        song->min_period = (flags & moduleAmigaLimits) ? 452 : 64;
        song->max_period = (flags & moduleAmigaLimits) ? 3424 : 32767;
        break;
    case playModeExtended:
        song->min_period = 57;
        song->max_period = 54784;
        break;
    case playModeImpulse:
        song->min_period = 64;
        song->max_period = 16777215;
        break;
    default:
        song->period_shift = 0;
        song->min_period = (flags & moduleExtendedOctaves) ? 28 : 113;
        song->max_period = (flags & moduleExtendedOctaves) ? 1712 : 856;
        break;
    }
}

int startSong(Module* module, int slot, int startPosition, int endPosition, int restartPosition,
              int loopForever, int channelCount, const int* deviceChannels, PlayHandle** handleOut) {
    PlayHandle* song = nullptr;
    if (int code = allocateSong(channelCount, &song); code != errOK) return code;
    song->slot = slot;
    song->module = module;
    song->loop_forever = loopForever;
    song->global_volume = std::min<std::uint8_t>(module->global_volume, 64);
    song->global_volume_fine = static_cast<std::uint8_t>(song->global_volume * 2);
    song->master_volume = 64;
    song->speed = module->speed;
    song->sync_value = -1;
    song->jump_position = -1;
    song->channel_count = channelCount;
    song->tempo = module->tempo != 0 ? module->tempo : gmp.tempo;
    int code = gmp_set_tempo(module->tempo);
    if (code == errOK) {
        placeSong(song, startPosition, endPosition, restartPosition);
        code = startChannels(song, deviceChannels);
    }
    if (code != errOK) {
        freeSong(song);
        return code;
    }
    setPlayModeLimits(song);

    SongStatus* status = song->status;
    status->position = song->position;
    status->pattern = song->pattern;
    status->row = song->row;
    status->tempo = song->tempo;
    status->speed = song->speed;
    status->sync_value = song->sync_value;
    status->channels = song->channels;
    gmp.song_table[slot] = song;
    *handleOut = song;
    return errOK;
}

// The slot of a song in the table, or -1 (the handle itself is not read).
int slotOf(const PlayHandle* handle) {
    if (handle == nullptr) return -1;
    for (int slot = 0; slot < maxSongs; slot++)
        if (gmp.song_table[slot] == handle) return slot;
    return -1;
}

} // namespace

Instrument* gmp_instrument(const Module* module, int number) {
    if (module == nullptr || module->instruments == nullptr || number < 0 ||
        number >= module->instrument_count)
        return nullptr;
    return module->instruments[number];
}

Sample* gmp_channel_sample(const Module* module, const ChannelState* channel) {
    const Instrument* ins = gmp_instrument(module, channel->instrument);
    if (ins == nullptr || ins->sample_list == nullptr || channel->sample >= ins->sample_count) return nullptr;
    return ins->sample_list[channel->sample];
}

int gmp_pattern_rows(const Module* module, int pattern) {
    return viewOf(module, pattern).rows;
}

int gmp_note_period(int playMode, int moduleFlags, const Sample* sample, int octave, int semitone) {
    return sample != nullptr ? gmp_tuned_note_period(playMode, moduleFlags, sample, sample->finetune, octave, semitone)
                             : 0;
}

int gmp_tuned_note_period(int playMode, int moduleFlags, const Sample* sample, int finetune, int octave,
                          int semitone) {
    if (sample == nullptr || octave < 0 || semitone < 0) return 0;
    while (semitone > 11) {
        semitone -= 12;
        octave++;
    }
    switch (playMode) {
    case playModeExtended: {
        const int n = static_cast<int>(
            std::clamp<std::int64_t>(std::int64_t(octave) * 12 + semitone + sample->relative_note, 0, maxExtendedNote));
        const int tune = std::clamp(finetune, -128, 127);
        if (moduleFlags & moduleLinearFrequency) return 7680 - n * 64 - tune / 2;
        const int o = n / 12, s = n % 12, f = tune / 16;
        const int index = s * 8 + f - amigaFirstIndex;
        const int p1 = amigaPeriods[index];
        const int p2 = amigaPeriods[tune < 0 ? index - 1 : index + 1];
        const int w = std::abs(tune) % 16;
        return ((p1 * (16 - w) + p2 * w) * 2) >> o;
    }
    case playModeScreamTracker3:
    case playModeImpulse: {
        // The sample's middle-C rate divides; a sample without one cannot sound.
        if (sample->middle_c_rate <= 0 || octave >= 32) return 0;
        const std::uint32_t base = playMode == playModeImpulse ? itPeriodBase : s3mPeriodBase;
        return static_cast<int>(((base * notePeriods[semitone]) >> octave) /
                                static_cast<std::uint32_t>(sample->middle_c_rate));
    }
    default:
        if (octave >= 32) return 0;
        return protrackerPeriods[finetune & 15][semitone] >> octave;
    }
}

int gmp_period_rate(int playMode, int moduleFlags, int period, std::uint32_t* rate) {
    if (period <= 0) return errInvalidPattern;
    const auto p = static_cast<std::uint32_t>(period);
    switch (playMode) {
    case playModeExtended:
        if (moduleFlags & moduleLinearFrequency) {
            const std::uint32_t octave = p / linearOctave;
            *rate = octave >= 32 ? 0 : tables().linear[p % linearOctave] >> octave;
        } else {
            *rate = extendedAmigaClock / p;
        }
        return errOK;
    case playModeScreamTracker3:
    case playModeImpulse: *rate = amigaClock / p; return errOK;
    default: *rate = protrackerClock / p; return errOK;
    }
}

namespace {

// An envelope's value (x 256) at tick t of its first count points: at a point, before the first
// one, or past the last one (positions that do not increase can leave t there), that point's
// value; between two, the line between them.
int envelopeValueAt(const Envelope& envelope, int count, int t) {
    const auto& points = envelope.points;
    int i = 0;
    while (i < count - 1 && points[i].x < t)
        i++;
    if (points[i].x <= t || i == 0) return points[i].y * 256;
    // x[i-1] < t < x[i], so the step is never 0.
    const int x0 = points[i - 1].x, y0 = points[i - 1].y;
    return y0 * 256 + ((points[i].y - y0) * 256 / (points[i].x - x0)) * (t - x0);
}

} // namespace

int gmp_envelope_value(const Envelope* envelope, EnvelopeState* state, int keyOff) {
    if (envelope == nullptr || state == nullptr) return 0;
    const int count = std::min<int>(envelope->point_count, envelopePointCapacity);
    if (count == 0) return 0;
    const auto& points = envelope->points;
    auto valid = [count](std::uint8_t index) { return index < count; };
    const int last = count - 1;
    int t = state->position;
    const int value = envelopeValueAt(*envelope, count, t);

    const std::uint8_t sustain = envelope->sustain_point;
    const bool sustainPoint = valid(sustain);
    if (sustainPoint && !keyOff && t == points[sustain].x) state->hold = 1;
    if (state->hold) return value;
    if (t < points[last].x) t++;
    if (valid(envelope->loop_end) && valid(envelope->loop_start) && points[envelope->loop_end].x <= t)
        t = points[envelope->loop_start].x;
    if (!valid(envelope->sustain_loop_start) || !valid(envelope->sustain_loop_end)) {
        if (sustainPoint && !keyOff && t == points[sustain].x) state->hold = 1;
    } else if (sustainPoint && !keyOff && t == points[envelope->sustain_loop_end].x) {
        t = points[envelope->sustain_loop_start].x;
    }
    state->position = t;
    return value;
}

int gmp_impulse_envelope_value(const Envelope* envelope, EnvelopeState* state, int keyOff) {
    if (envelope == nullptr || state == nullptr) return 0;
    const int count = std::min<int>(envelope->point_count, envelopePointCapacity);
    if (count == 0) return 0;
    const auto& points = envelope->points;
    auto valid = [count](std::uint8_t index) { return index < count; };
    const int last = count - 1;
    int t = std::max(state->position, 0);
    const int value = envelopeValueAt(*envelope, count, t);

    // The tracker plays a loop's last point too and goes back only past it,
    // so that a loop one tick long holds and one of two ticks alternates.
    // While the key is held the sustain loop is the one that counts (a
    // sustain point alone is a loop on that one point).
    t++;
    const bool sustainLoop = valid(envelope->sustain_loop_start) && valid(envelope->sustain_loop_end);
    const std::uint8_t sustainStart = sustainLoop ? envelope->sustain_loop_start : envelope->sustain_point;
    const std::uint8_t sustainEnd = sustainLoop ? envelope->sustain_loop_end : envelope->sustain_point;
    if (valid(sustainStart) && valid(sustainEnd) && !keyOff) {
        if (t > points[sustainEnd].x) t = points[sustainStart].x;
    } else if (valid(envelope->loop_start) && valid(envelope->loop_end)) {
        if (t > points[envelope->loop_end].x) t = points[envelope->loop_start].x;
    }
    state->position = std::min<int>(t, points[last].x);
    return value;
}

int gmp_set_tempo(int tempo) {
    if (tempo <= 0) return errOK;
    gmp.tempo = tempo;
    if (int code = device().setUpdateRate(static_cast<std::uint32_t>(tempo * tempoToUpdateRate));
        code != errOK)
        return code;
    if (gmp.tempo_callback != nullptr) gmp.tempo_callback(tempo * tempoToUpdateRate);
    return errOK;
}

void gmp_end_round(PlayHandle* song) {
    song->loop_count++;
    forgetVisits(song);
}

void gmp_wrap_song(PlayHandle* song) {
    song->position = song->restart_position;
    gmp_end_round(song);
    song->global_volume = std::min<std::uint8_t>(song->module->global_volume, 64);
    song->global_volume_fine = static_cast<std::uint8_t>(song->global_volume * 2);
}

void gmp_enter_position(PlayHandle* song) {
    // Bounded: an order list of nothing but markers must not keep the tick going round.
    for (int guard = std::max(song->module->song_length, 0) + 2; guard > 0; guard--) {
        if (song->position > song->end_position || orderAt(song, song->position) == orderEnd) {
            gmp_wrap_song(song);
            if (orderAt(song, song->position) != orderSkip) break;
        } else if (orderAt(song, song->position) != orderSkip) {
            break;
        }
        song->position++;
    }
    song->pattern = orderAt(song, song->position);
    song->row_data = nullptr;
}

void gmp_next_position(PlayHandle* song) {
    song->position++;
    gmp_enter_position(song);
}

int gmp_set_sample_position(const ChannelState* channel, const Sample* sample) {
    if (sample == nullptr || sample->device_handle <= 0) return errOK;
    const int offset = std::clamp(channel->sample_offset, 0, maxSampleOffset);
    return device().setChannelPosition(
        channel->device_channel,
        static_cast<std::uint32_t>(offset * frameBytes(*sample)));
}

int gmp_start_note(PlayHandle* song, ChannelState* channel) {
    ChannelState& ch = *channel;
    const int mode = modeOf(song);
    ch.vibrato_position = 0;
    int code = errOK;
    if (ch.instrument != -1 && ch.sample != 255) {
        if (ch.note == noteKeyOff) {
            if (mode == playModeScreamTracker3) {
                code = device().stopSound(ch.device_channel);
            } else if (!hasInstruments(mode)) {
                code = device().releaseSound(ch.device_channel);
            } else {
                const Instrument* ins = gmp_instrument(song->module, ch.instrument);
                if (isExtended(mode)) {
                    if ((ins == nullptr || !envelopeOn(ins->volume_envelope)) &&
                        (ch.row_flags & rowNewInstrument) == 0)
                        ch.volume = ch.effective_volume = 0;
                    ch.key_off = 1;
                    ch.volume_env.hold = ch.panning_env.hold = ch.pitch_env.hold = 0;
                } else {
                    code = impulseNoteOff(ch);
                }
            }
        } else if (ch.note == noteStop) {
            code = device().stopSound(ch.device_channel);
        } else {
            ch.last_note = ch.note;
            // A note starts the tremor's count afresh; Impulse Tracker's runs on.
            if (!isImpulse(mode)) ch.tremor_position = 0;
            if (isImpulse(mode)) startFilter(ch, gmp_instrument(song->module, ch.instrument));
            const Sample* sample = gmp_channel_sample(song->module, &ch);
            if (sample != nullptr) ch.finetune = noteFinetune(mode, ch, *sample);
            ch.period = gmp_tuned_note_period(mode, song->module->flags, sample, ch.finetune, ch.note >> 4,
                                              ch.note & 15);
            ch.output_period = ch.period;
            std::uint32_t rate = 0;
            if (sample == nullptr || sample->device_handle <= 0 || ch.period <= 0) {
                // Nothing the device could play: the note silences the channel.
                code = device().stopSound(ch.device_channel);
            } else if ((code = gmp_period_rate(mode, song->module->flags, ch.period, &rate)) == errOK &&
                       (code = device().startSound(ch.device_channel, rate)) == errOK &&
                       ch.sample_offset != 0) {
                code = gmp_set_sample_position(&ch, sample);
            }
        }
    }
    ch.row_flags &= static_cast<std::uint8_t>(~rowNewNote);
    return code;
}

int gmp_start_row_note(PlayHandle* song, ChannelState* channel, bool keepOffset) {
    ChannelState& ch = *channel;
    const Module* m = song->module;
    const int mode = modeOf(song);
    if (hasInstruments(mode) && ch.instrument != -1 && ch.pattern_note < noteStop) {
        const Instrument* ins = gmp_instrument(m, ch.new_instrument);
        if (isExtended(mode))
            ch.sample = extendedMapSample(ins, ch.pattern_note);
        else
            impulseMapSample(ch, ins);
        if (ch.sample != 255) {
            ch.instrument = ch.new_instrument;
            if (!keepOffset) ch.sample_offset = 0;
            // Impulse Tracker starts every note's envelopes and fade-out afresh,
            // with or without an instrument number beside it (after a note off,
            // a bare note sounds again); Extended Module leaves that to the
            // instrument number.
            if (isImpulse(mode)) {
                restartEnvelopes(ch, false);
                ch.key_off = 0;
            }
            if (int code = setSample(ch, gmp_channel_sample(m, &ch)); code != errOK) return code;
        }
    }
    return gmp_start_note(song, channel);
}

int gmp_init(SoundDevice* device) {
    if (device == nullptr) return errInvalidDevice;
    gmp = PlayerGlobals{};
    gmp.device = device;
    return gmp_set_tempo(defaultTempo);
}

int gmp_close() {
    int first = errOK;
    for (PlayHandle* song : gmp.song_table) {
        if (song == nullptr) continue;
        if (int code = gmp_stop_song(song); code != errOK && first == errOK) first = code;
    }
    return first;
}

int gmp_play_song(Module* module, int startPosition, int endPosition, int restartPosition, int loopForever,
                  int channelCount, const int* deviceChannels, PlayHandle** handleOut) {
    if (module == nullptr || handleOut == nullptr || startPosition < -1 || channelCount < -1)
        return errInvalidArguments;
    if (gmp.device == nullptr) return errInvalidDevice;
    // The packed rows name at most 32 channels.
    const int channels =
        std::min(channelCount == -1 ? int(module->channel_count) : channelCount, maxModuleChannels);
    int slot = 0;
    while (slot < maxSongs && gmp.song_table[slot] != nullptr)
        slot++;
    if (slot == maxSongs) return errOutOfResources;
    gmp.setup_busy = 1;
    const int code = startSong(module, slot, startPosition, endPosition, restartPosition, loopForever,
                               channels, deviceChannels, handleOut);
    gmp.setup_busy = 0;
    return code;
}

int gmp_stop_song(PlayHandle* handle) {
    const int slot = slotOf(handle);
    if (slot < 0) return errInvalidArguments;
    gmp.song_table[slot] = nullptr;
    int first = errOK;
    for (void* block : {static_cast<void*>(handle->channels), static_cast<void*>(handle->status),
                        static_cast<void*>(handle->background), static_cast<void*>(handle->visited)}) {
        if (block == nullptr) continue;
        if (int code = mem_free(block); code != errOK && first == errOK) first = code;
    }
    if (int code = mem_free(handle); code != errOK && first == errOK) first = code;
    return first;
}

int gmp_play() {
    if (gmp.setup_busy) return errOK;
    for (PlayHandle* song : gmp.song_table) {
        if (song == nullptr || (song->loop_count != 0 && !song->loop_forever)) continue;
        int code;
        if (song->tick + 1 < song->speed) {
            song->tick++;
            code = runEffects(song);
        } else {
            song->tick = 0;
            code = processRow(song);
        }
        if (code == errOK) code = outputStage(song);
        if (code != errOK) return code;
    }
    return errOK;
}

bool gmp_song_ended(const PlayHandle* handle) {
    return handle != nullptr && handle->loop_count > 0;
}

int gmp_get_status(PlayHandle* handle, SongStatus** statusOut) {
    if (slotOf(handle) < 0 || statusOut == nullptr) return errInvalidArguments;
    SongStatus* status = handle->status;
    status->speed = handle->speed;
    status->tempo = handle->tempo;
    status->sync_value = handle->sync_value;
    status->loop_count = handle->loop_count;
    status->channels = handle->channels;
    // A song that has ended stands where it would go on: at the restart position.
    if (handle->loop_count != 0 && !handle->loop_forever) {
        status->position = handle->position;
        status->pattern = handle->pattern;
        status->row = handle->row;
    }
    *statusOut = status;
    return errOK;
}

int gmp_song_passes(const PlayHandle* handle) {
    // Every wrap to the restart position, and every jump back, counts.
    return handle->loop_count;
}

int gmp_set_position(PlayHandle* handle, int position) {
    if (slotOf(handle) < 0) return errInvalidArguments;
    const int length = handle->module->song_length;
    if (position >= length)
        position = handle->restart_position;
    else if (position < 0)
        position = length - 1;
    const bool backward = position < handle->position;
    handle->position = position;
    skipMarkers(handle, backward);
    forgetVisits(handle); // a song moved elsewhere is followed afresh from there
    handle->row_data = nullptr;
    handle->row = 0;
    handle->next_start_row = 0;
    handle->jump_position = -1;
    handle->jump_due = handle->loop_due = 0;
    handle->pattern = orderAt(handle, handle->position);
    return errOK;
}

int gmp_set_background_channels(PlayHandle* handle, int count, const int* deviceChannels) {
    // Once given, the voices' device channels trade places with the channels', so they are given once.
    if (slotOf(handle) < 0 || handle->background != nullptr || count < 0 || count > maxBackgroundVoices ||
        (count > 0 && deviceChannels == nullptr))
        return errInvalidArguments;
    void* memory = nullptr;
    if (count > 0) {
        if (int code = mem_alloc_zeroed(sizeof(BackgroundVoice) * static_cast<std::size_t>(count), &memory);
            code != errOK)
            return code;
    }
    handle->background = static_cast<BackgroundVoice*>(memory);
    handle->background_count = count;
    for (int v = 0; v < count; v++) {
        ChannelState& ch = handle->background[v].channel;
        ch.instrument = ch.new_instrument = -1;
        ch.sample = ch.note = ch.last_note = ch.pattern_note = 255;
        ch.device_channel = static_cast<std::uint8_t>(deviceChannels[v]);
    }
    return errOK;
}

int gmp_set_channel_volume(PlayHandle* handle, int channel, int volume) {
    if (slotOf(handle) < 0) return errInvalidArguments;
    if (channel < 0 || channel >= handle->channel_count) return errInvalidChannel;
    handle->channels[channel].channel_volume = static_cast<std::uint8_t>(std::clamp(volume, 0, 64));
    return errOK;
}

int gmp_set_master_volume(PlayHandle* handle, int volume) {
    if (slotOf(handle) < 0) return errInvalidArguments;
    handle->master_volume = static_cast<std::uint8_t>(std::clamp(volume, 0, 64));
    return errOK;
}

int gmp_set_sync_callback(PlayHandle* handle, SyncCallback callback) {
    if (slotOf(handle) < 0) return errInvalidArguments;
    handle->sync_callback = callback;
    return errOK;
}

int gmp_set_tempo_callback(TempoCallback callback) {
    gmp.tempo_callback = callback;
    if (callback != nullptr) callback(gmp.tempo * tempoToUpdateRate);
    return errOK;
}
