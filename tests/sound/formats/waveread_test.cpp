#include "sound/api/errors.h"
#include "sound/sys/mmem.h"
#include "sound/formats/waveread.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void add(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}
void add16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void add32(Bytes& out, std::uint32_t v) {
    add16(out, v & 0xffff);
    add16(out, v >> 16);
}

// A chunk: id, stored size (may differ from the body), body.
void chunk(Bytes& out, const std::string& id, const Bytes& body, std::int64_t storedSize = -1) {
    add(out, id);
    add32(out, static_cast<std::uint32_t>(storedSize < 0 ? body.size() : storedSize));
    out.insert(out.end(), body.begin(), body.end());
}

Bytes formatBody(int tag, int channels, int rate, int bits, std::size_t size = 16) {
    Bytes body;
    add16(body, static_cast<std::uint32_t>(tag));
    add16(body, static_cast<std::uint32_t>(channels));
    add32(body, static_cast<std::uint32_t>(rate));
    add32(body, static_cast<std::uint32_t>(rate * channels * bits / 8));
    add16(body, static_cast<std::uint32_t>(channels * bits / 8));
    add16(body, static_cast<std::uint32_t>(bits));
    body.resize(size, 0);
    return body;
}

Bytes riff(const Bytes& chunks, const std::string& kind = "WAVE") {
    Bytes out;
    add(out, "RIFF");
    add32(out, static_cast<std::uint32_t>(chunks.size() + 4));
    add(out, kind);
    out.insert(out.end(), chunks.begin(), chunks.end());
    return out;
}

class WaveReader : public ::testing::Test {
  protected:
    void SetUp() override {
        name = (std::filesystem::temp_directory_path() /
                ("morva_wave_test_" + std::to_string(::getpid()) + ".wav"))
                   .string();
        blocks = mem_blocks_in_use();
    }
    void TearDown() override {
        std::filesystem::remove(name);
        EXPECT_EQ(mem_blocks_in_use(), blocks) << "records left allocated (file not closed?)";
    }
    int open(const Bytes& bytes) {
        std::ofstream(name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        wave = nullptr;
        return wave_open(name.c_str(), &wave);
    }

    std::string name;
    long blocks = 0;
    WaveFile* wave = nullptr;
};

} // namespace

TEST_F(WaveReader, FindsFormatAndDataOf16BitMono) {
    Bytes chunks;
    chunk(chunks, "fmt ", formatBody(1, 1, 22050, 16));
    chunk(chunks, "data", {1, 2, 3, 4, 5, 6});
    ASSERT_EQ(open(riff(chunks)), errOK);
    EXPECT_EQ(wave->sampleType, SMP_16BIT_MONO);
    EXPECT_EQ(wave->sampleRate, 22050);
    EXPECT_EQ(wave->dataLength, 6u);
    EXPECT_EQ(wave->dataLeft, 6u);
    EXPECT_EQ(wave->dataStart, 12 + 8 + 16 + 8);
    std::uint8_t buffer[16] = {};
    std::size_t done = 0;
    ASSERT_EQ(wave_read(wave, buffer, 4, &done), errOK);
    EXPECT_EQ(done, 4u);
    ASSERT_EQ(wave_read(wave, buffer + 4, 10, &done), errOK);
    EXPECT_EQ(done, 2u) << "reading stops at the end of the data";
    EXPECT_EQ(buffer[5], 6);
    ASSERT_EQ(wave_read(wave, buffer, 10, &done), errOK);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(wave_close(wave), errOK);
}

TEST_F(WaveReader, SampleTypeFromChannelsAndBits) {
    struct Case {
        int channels, bits, type;
    };
    for (Case c : {Case{1, 8, SMP_8BIT_MONO}, Case{2, 8, SMP_8BIT_STEREO}, Case{1, 16, SMP_16BIT_MONO},
                   Case{2, 16, SMP_16BIT_STEREO}}) {
        Bytes chunks;
        chunk(chunks, "fmt ", formatBody(1, c.channels, 44100, c.bits));
        chunk(chunks, "data", {0, 0, 0, 0});
        ASSERT_EQ(open(riff(chunks)), errOK);
        EXPECT_EQ(wave->sampleType, c.type) << c.channels << " channels, " << c.bits << " bits";
        EXPECT_EQ(wave_close(wave), errOK);
    }
}

TEST_F(WaveReader, SkipsOtherChunksByTheirStoredSize) {
    Bytes chunks;
    chunk(chunks, "LIST", {'a', 'b', 'c'});               // odd size, no pad byte
    chunk(chunks, "fmt ", formatBody(1, 2, 8000, 8, 18)); // longer format chunk
    chunk(chunks, "fact", {0, 0, 0, 0});
    chunk(chunks, "data", {9, 8});
    ASSERT_EQ(open(riff(chunks)), errOK);
    EXPECT_EQ(wave->sampleType, SMP_8BIT_STEREO);
    EXPECT_EQ(wave->sampleRate, 8000);
    EXPECT_EQ(wave->dataLength, 2u);
    std::uint8_t first = 0;
    std::size_t done = 0;
    ASSERT_EQ(wave_read(wave, &first, 1, &done), errOK);
    EXPECT_EQ(first, 9);
    EXPECT_EQ(wave_close(wave), errOK);
}

TEST_F(WaveReader, OddChunkWithItsPadByteIsSkippedToo) {
    Bytes chunks;
    chunk(chunks, "LIST", {'a', 'b', 'c', 0}, 3); // odd size followed by the RIFF pad byte
    chunk(chunks, "fmt ", formatBody(1, 1, 11025, 16, 17), 17);
    chunks.push_back(0);
    chunk(chunks, "junk", {1}, 1);
    chunks.push_back(0);
    chunk(chunks, "data", {5, 6});
    ASSERT_EQ(open(riff(chunks)), errOK);
    EXPECT_EQ(wave->sampleRate, 11025);
    EXPECT_EQ(wave->dataLength, 2u);
    EXPECT_EQ(wave_close(wave), errOK);
}

TEST_F(WaveReader, RefusesWhatIsNoWaveFile) {
    Bytes chunks;
    chunk(chunks, "fmt ", formatBody(1, 1, 8000, 8));
    chunk(chunks, "data", {0});
    EXPECT_EQ(open(riff(chunks, "AVI ")), errBadWave);
    Bytes notRiff = riff(chunks);
    notRiff[0] = 'X';
    EXPECT_EQ(open(notRiff), errBadWave);
    EXPECT_EQ(open({'R', 'I'}), errEndOfFile);
}

TEST_F(WaveReader, ShortFormatChunkIsBadWave) {
    Bytes chunks;
    chunk(chunks, "fmt ", formatBody(1, 1, 8000, 8, 12));
    chunk(chunks, "data", {0});
    EXPECT_EQ(open(riff(chunks)), errBadWave);
    Bytes noBits;
    chunk(noBits, "fmt ", formatBody(1, 1, 8000, 8, 14));
    chunk(noBits, "data", {0});
    EXPECT_EQ(open(riff(noBits)), errBadWave) << "14 bytes leave no room for the sample size";
}

TEST_F(WaveReader, UnsupportedFormatsAreRefused) {
    auto withFormat = [](int tag, int channels, int bits) {
        Bytes chunks;
        chunk(chunks, "fmt ", formatBody(tag, channels, 44100, bits));
        chunk(chunks, "data", {0, 0, 0, 0, 0, 0});
        return riff(chunks);
    };
    EXPECT_EQ(open(withFormat(1, 1, 24)), errUnsupportedFormat);
    EXPECT_EQ(open(withFormat(1, 6, 16)), errUnsupportedFormat);
    EXPECT_EQ(open(withFormat(3, 1, 32)), errUnsupportedFormat) << "floating point";
    EXPECT_EQ(open(withFormat(2, 1, 4)), errUnsupportedFormat) << "ADPCM";
}

TEST_F(WaveReader, MissingChunksEndAtTheEndOfTheFile) {
    Bytes noData;
    chunk(noData, "fmt ", formatBody(1, 1, 8000, 8));
    chunk(noData, "LIST", {1, 2, 3, 4});
    EXPECT_EQ(open(riff(noData)), errEndOfFile);
    Bytes noFormat;
    chunk(noFormat, "data", {1, 2, 3, 4});
    EXPECT_EQ(open(riff(noFormat)), errEndOfFile);
    Bytes hugeSkip;
    chunk(hugeSkip, "junk", {1, 2}, 0xfffffff0u);
    chunk(hugeSkip, "fmt ", formatBody(1, 1, 8000, 8));
    EXPECT_EQ(open(riff(hugeSkip)), errEndOfFile);
}

TEST_F(WaveReader, DataChunkLongerThanTheFileIsCutToWhatIsThere) {
    Bytes chunks;
    chunk(chunks, "fmt ", formatBody(1, 1, 8000, 8));
    chunk(chunks, "data", {1, 2, 3}, 1000000);
    ASSERT_EQ(open(riff(chunks)), errOK);
    EXPECT_EQ(wave->dataLength, 3u);
    std::uint8_t buffer[8];
    std::size_t done = 0;
    EXPECT_EQ(wave_read(wave, buffer, 8, &done), errOK);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(wave_close(wave), errOK);
}
