// The SDL2 back end's wave output and looping buffer on SDL's silent "dummy" audio driver, which
// pulls sound at the real rate: blocks come back done in order, reset gives every block back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/host.h"

namespace {

class SdlWave : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        platformInit(sdlBackend());
        if (waveDeviceCount() == 0) GTEST_SKIP() << "SDL audio cannot start here";
    }
    void TearDown() override { platformShutdown(0); }
};

bool waitDone(WaveOutput* output, const WaveBlock* block, int ms) {
    for (int i = 0; i < ms / 5; ++i) {
        if (waveBlockDone(output, block)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return waveBlockDone(output, block) != 0;
}

} // namespace

TEST_F(SdlWave, BlocksArePlayedInOrderAndMarkedDone) {
    WaveOutput* output = nullptr;
    ASSERT_EQ(waveOpen(&output, {22050, 2, 16}), waveOk);
    std::vector<std::uint8_t> data(2205 * 4, 0); // 100 ms each
    WaveBlock first{data.data(), static_cast<std::uint32_t>(data.size()), {}};
    WaveBlock second{data.data(), static_cast<std::uint32_t>(data.size()), {}};
    EXPECT_EQ(waveBlockDone(output, &first), 1); // not written yet
    ASSERT_EQ(waveWrite(output, &first), waveOk);
    ASSERT_EQ(waveWrite(output, &second), waveOk);
    EXPECT_TRUE(waitDone(output, &first, 5000));
    EXPECT_TRUE(waitDone(output, &second, 5000));
    EXPECT_EQ(waveClose(output), waveOk);
}

TEST_F(SdlWave, ResetGivesBackBlocksNotYetPlayed) {
    WaveOutput* output = nullptr;
    ASSERT_EQ(waveOpen(&output, {8000, 1, 8}), waveOk);
    std::vector<std::uint8_t> data(80000, 0x80); // ten seconds
    WaveBlock block{data.data(), static_cast<std::uint32_t>(data.size()), {}};
    waveWrite(output, &block);
    EXPECT_EQ(waveBlockDone(output, &block), 0);
    waveReset(output);
    EXPECT_EQ(waveBlockDone(output, &block), 1);
    waveClose(output);
}

TEST_F(SdlWave, LoopingBufferCursorMovesWhilePlaying) {
    SoundBuffer* buffer = nullptr;
    ASSERT_EQ(soundBufferCreate(&buffer, {22050, 2, 16}, 22050 * 4), waveOk); // one second
    EXPECT_EQ(soundBufferPlayCursor(buffer), 0u);
    soundBufferPlay(buffer);
    std::uint32_t cursor = 0;
    for (int i = 0; i < 400 && cursor == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        cursor = soundBufferPlayCursor(buffer);
    }
    EXPECT_GT(cursor, 0u);
    EXPECT_EQ(cursor % 4, 0u);
    soundBufferStop(buffer);
    soundBufferRelease(buffer);
}
