// Shared set-up for the mixer tests: opens the mixer in a chosen mode,
// restores the options afterwards and checks that closing returns every block.
#pragma once

#include "sound/mixer/dsm.h"
#include "sound/mixer/dsmmix.h"
#include "sound/sys/mmem.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

class MixerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedOptions = mixerOptions;
        savedChoice = mixerCpuChoice;
        blocksBefore = mem_blocks_in_use();
    }
    void TearDown() override {
        mixerClose();
        mixerOptions = savedOptions;
        mixerCpuChoice = savedChoice;
        EXPECT_EQ(mem_blocks_in_use(), blocksBefore);
    }

    // Opens the mixer with the filter off (unless a test wants it) and count channels.
    void open(uint32_t rate, uint32_t mode, uint32_t channels, int filterMode = 0) {
        mixerOptions.filterMode = filterMode;
        ASSERT_EQ(mixerInit(rate, mode), 0);
        if (channels) {
            ASSERT_EQ(openChannels(channels), 0);
        }
    }

    // Registers a copied sample and returns its handle.
    uint32_t add(std::vector<uint8_t>& bytes, uint32_t type, uint32_t loopMode = 0, uint32_t l1s = 0,
                 uint32_t l1e = 0, uint32_t l1t = 0, uint32_t l2s = 0, uint32_t l2e = 0, uint32_t l2t = 0,
                 uint32_t copy = 1) {
        SampleDesc d{bytes.data(), 1, type, uint32_t(bytes.size()), loopMode, l1s, l1e, l1t, l2s, l2e, l2t};
        uint32_t h = 0;
        EXPECT_EQ(addSample(&d, copy, &h), 0);
        return h;
    }

    // Flushes the output filter's history with silence.
    void flushFilter() {
        const uint32_t saved = mixer.paused;
        const int savedMode = mixerOptions.filterMode;
        mixer.paused = 1;
        mixerOptions.filterMode = 2;
        std::vector<int16_t> out(16);
        mixData(4, out.data());
        mixer.paused = saved;
        mixerOptions.filterMode = savedMode;
    }

    // Sets a channel playing sample h from the start at rate, volume and panning.
    void play(uint32_t ch, uint32_t h, uint32_t rate, uint32_t volume = 64, int32_t pan = 0) {
        ASSERT_EQ(setChannelVolume(ch, volume), 0);
        ASSERT_EQ(setChannelPanning(ch, pan), 0);
        ASSERT_EQ(setChannelSample(ch, h), 0);
        ASSERT_EQ(startSound(ch, rate), 0);
    }

    MixerOptions savedOptions;
    MixerCpuChoice savedChoice = MixerCpuChoice::Auto;
    long blocksBefore = 0;
};
