// The Extended Module writer: the bytes it writes, read back by their
// declared sizes, and the songs it refuses.
#include "tools/xmwrite/xmwrite.h"
#include "xmlayout.h"

#include <gtest/gtest.h>

namespace {

XmSong smallSong() {
    XmSong s;
    s.name = "test song";
    s.channels = 4;
    s.speed = 5;
    s.tempo = 130;
    s.orders = {0, 1, 0};
    s.restart_position = 2;
    s.patterns.resize(2);
    for (XmPattern& p : s.patterns)
        p.cells.assign(64 * 4, XmCell{});
    s.patterns[0].cells[0] = {49, 1, 0x40, 0x0A, 0x02}; // every field: stored plain
    s.patterns[0].cells[5] = {97, 0, 0, 0, 0};          // key off alone: flag byte and note
    s.patterns[0].cells[63 * 4 + 3] = {0, 0, 0, 0x0F, 0x03};
    XmInstrument ins;
    ins.name = "a name longer than twenty-two characters";
    ins.volume_envelope.points = {{0, 0}, {4, 64}, {20, 40}};
    ins.volume_envelope.sustain = 2;
    ins.panning_envelope.points = {{0, 32}, {10, 0}, {20, 64}};
    ins.panning_envelope.loop_start = 0;
    ins.panning_envelope.loop_end = 2;
    ins.fadeout = 300;
    ins.vibrato_depth = 4;
    XmSample smp;
    smp.data = {0, 1000, -1000, 32767, -32768, 5};
    smp.loop = xmLoopForward;
    smp.loop_start = 2;
    smp.loop_length = 3;
    smp.volume = 50;
    smp.finetune = -20;
    smp.relative_note = 24;
    smp.panning = 100;
    ins.samples.push_back(smp);
    s.instruments.push_back(ins);
    return s;
}

Layout writeAndRead(const XmSong& s) {
    std::vector<uint8_t> bytes;
    std::string message;
    EXPECT_TRUE(xmWrite(s, bytes, message)) << message;
    Layout l;
    std::string why;
    EXPECT_TRUE(readLayout(bytes, l, why)) << why;
    EXPECT_EQ(l.end, bytes.size()) << "bytes left after the last instrument";
    return l;
}

TEST(XmWrite, HeaderHasSignatureVersionSizeAndSongSettings) {
    Layout l = writeAndRead(smallSong());
    EXPECT_EQ(l.signature, "Extended Module: ");
    EXPECT_EQ(l.name, "test song");
    EXPECT_EQ(l.marker, 0x1A);
    EXPECT_EQ(l.version, 0x0104);
    EXPECT_EQ(l.header_size, 276u);
    EXPECT_EQ(l.song_length, 3);
    EXPECT_EQ(l.restart, 2);
    EXPECT_EQ(l.channels, 4);
    EXPECT_EQ(l.pattern_count, 2);
    EXPECT_EQ(l.instrument_count, 1);
    EXPECT_EQ(l.flags, 1) << "linear frequency table";
    EXPECT_EQ(l.speed, 5);
    EXPECT_EQ(l.tempo, 130);
    EXPECT_EQ(l.orders, (std::vector<uint8_t>{0, 1, 0}));
}

TEST(XmWrite, PatternsHaveNineByteHeadersAndEmptyOnesNoData) {
    Layout l = writeAndRead(smallSong());
    ASSERT_EQ(l.patterns.size(), 2u);
    for (const LayoutPattern& p : l.patterns) {
        EXPECT_EQ(p.header_length, 9u);
        EXPECT_EQ(p.packing, 0);
        EXPECT_EQ(p.rows, 64);
    }
    EXPECT_EQ(l.patterns[1].packed_size, 0) << "an empty pattern is stored without data";
    EXPECT_GT(l.patterns[0].packed_size, 0);
}

TEST(XmWrite, PackingUsesPlainFormForFullCellsAndFlagBytesOtherwise) {
    XmSong s = smallSong();
    std::vector<uint8_t> packed = xmPackPattern(s.patterns[0], 4);
    // row 0: a full cell (5 plain bytes), then channels 1..3 empty (0x80 each)
    ASSERT_GE(packed.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(packed.begin(), packed.begin() + 8),
              (std::vector<uint8_t>{49, 1, 0x40, 0x0A, 0x02, 0x80, 0x80, 0x80}));
    // row 1: channel 0 empty, channel 1 key off alone
    EXPECT_EQ(std::vector<uint8_t>(packed.begin() + 8, packed.begin() + 11),
              (std::vector<uint8_t>{0x80, 0x81, 97}));
    // last row: channel 3 effect F03 (a parameter and an effect)
    EXPECT_EQ(std::vector<uint8_t>(packed.end() - 3, packed.end()), (std::vector<uint8_t>{0x98, 0x0F, 0x03}));
    // one byte at least per cell: 64 rows x 4 channels, plus the extra bytes above
    EXPECT_EQ(packed.size(), 64u * 4 + 4 + 1 + 2);
}

TEST(XmWrite, InstrumentHeaderSampleHeaderAndEnvelopes) {
    Layout l = writeAndRead(smallSong());
    ASSERT_EQ(l.instruments.size(), 1u);
    const LayoutInstrument& i = l.instruments[0];
    EXPECT_EQ(i.header_size, 263u);
    EXPECT_EQ(i.name, "a name longer than twe") << "names are cut to 22 characters";
    EXPECT_EQ(i.sample_count, 1);
    EXPECT_EQ(i.sample_header_size, 40u);
    EXPECT_EQ(i.volume_points, 3);
    EXPECT_EQ(i.volume_type, 1 | 2) << "on, sustain";
    EXPECT_EQ(i.volume_sustain, 2);
    EXPECT_EQ(i.panning_points, 3);
    EXPECT_EQ(i.panning_type, 1 | 4) << "on, loop";
    EXPECT_EQ(i.panning_loop_start, 0);
    EXPECT_EQ(i.panning_loop_end, 2);
    EXPECT_EQ(i.fadeout, 300);
    EXPECT_EQ(i.vibrato_depth, 4);
}

TEST(XmWrite, SampleDataIsDeltaCodedSixteenBitWithLoopInBytes) {
    Layout l = writeAndRead(smallSong());
    const LayoutSample& s = l.instruments[0].samples[0];
    EXPECT_EQ(s.length, 12u);
    EXPECT_EQ(s.loop_start, 4u);
    EXPECT_EQ(s.loop_length, 6u);
    EXPECT_EQ(s.type, 0x10 | 1) << "16-bit, forward loop";
    EXPECT_EQ(s.volume, 50);
    EXPECT_EQ(s.finetune, -20);
    EXPECT_EQ(s.relative_note, 24);
    EXPECT_EQ(s.panning, 100);
    EXPECT_EQ(s.frames, (std::vector<int16_t>{0, 1000, -1000, 32767, -32768, 5}))
        << "extremes survive the deltas";
}

TEST(XmWrite, OneShotSampleWritesNoLoop) {
    XmSong s = smallSong();
    s.instruments[0].samples[0].loop = xmLoopNone;
    Layout l = writeAndRead(s);
    EXPECT_EQ(l.instruments[0].samples[0].loop_length, 0u);
    EXPECT_EQ(l.instruments[0].samples[0].type, 0x10);
}

TEST(XmWrite, InstrumentWithoutSamplesHasTheShortHeader) {
    XmSong s = smallSong();
    XmInstrument silent;
    silent.name = "silent";
    s.instruments.push_back(silent);
    Layout l = writeAndRead(s);
    ASSERT_EQ(l.instruments.size(), 2u);
    EXPECT_EQ(l.instruments[1].header_size, 29u);
    EXPECT_EQ(l.instruments[1].sample_count, 0);
    EXPECT_EQ(l.instruments[1].name, "silent");
}

TEST(XmWrite, WritingIsDeterministic) {
    std::vector<uint8_t> a, b;
    std::string m;
    ASSERT_TRUE(xmWrite(smallSong(), a, m));
    ASSERT_TRUE(xmWrite(smallSong(), b, m));
    EXPECT_EQ(a, b);
}

TEST(XmValidate, RefusesSongsTheFormatCannotHold) {
    struct Case {
        const char* what;
        void (*spoil)(XmSong&);
    };
    const Case cases[] = {
        {"no channels", [](XmSong& s) { s.channels = 0; }},
        {"33 channels", [](XmSong& s) { s.channels = 33; }},
        {"empty order list", [](XmSong& s) { s.orders.clear(); }},
        {"order names a missing pattern", [](XmSong& s) { s.orders.push_back(7); }},
        {"restart beyond the order list", [](XmSong& s) { s.restart_position = 3; }},
        {"speed 0", [](XmSong& s) { s.speed = 0; }},
        {"tempo below 32", [](XmSong& s) { s.tempo = 31; }},
        {"cells do not match rows", [](XmSong& s) { s.patterns[0].cells.pop_back(); }},
        {"note above key off", [](XmSong& s) { s.patterns[0].cells[1].note = 98; }},
        {"instrument that does not exist", [](XmSong& s) { s.patterns[0].cells[1].instrument = 2; }},
        {"13 envelope points",
         [](XmSong& s) {
             auto& e = s.instruments[0].volume_envelope;
             e.points.clear();
             for (uint16_t i = 0; i < 13; ++i)
                 e.points.push_back({uint16_t(i * 2), 10});
             e.sustain = -1;
         }},
        {"envelope ticks going back", [](XmSong& s) { s.instruments[0].volume_envelope.points[2].x = 3; }},
        {"envelope value above 64", [](XmSong& s) { s.instruments[0].panning_envelope.points[1].y = 65; }},
        {"sustain point beyond the points", [](XmSong& s) { s.instruments[0].volume_envelope.sustain = 3; }},
        {"loop past the sample's end", [](XmSong& s) { s.instruments[0].samples[0].loop_length = 5; }},
        {"looping with zero length", [](XmSong& s) { s.instruments[0].samples[0].loop_length = 0; }},
        {"sample volume 65", [](XmSong& s) { s.instruments[0].samples[0].volume = 65; }},
        {"note map naming a missing sample", [](XmSong& s) { s.instruments[0].note_map[40] = 1; }},
        // the volume column has no meaning for these; players disagree on what they do
        {"volume byte 0x0F", [](XmSong& s) { s.patterns[0].cells[1].volume = 0x0F; }},
        {"volume byte 0x51", [](XmSong& s) { s.patterns[0].cells[1].volume = 0x51; }},
        {"volume byte 0x5F", [](XmSong& s) { s.patterns[0].cells[1].volume = 0x5F; }},
    };
    for (const Case& c : cases) {
        XmSong s = smallSong();
        std::string m;
        ASSERT_TRUE(xmValidate(s, m)) << m;
        c.spoil(s);
        std::vector<uint8_t> bytes;
        EXPECT_FALSE(xmWrite(s, bytes, m)) << c.what;
        EXPECT_FALSE(m.empty()) << c.what;
    }
}

} // namespace
