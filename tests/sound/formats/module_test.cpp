#include "sound/api/errors.h"
#include "sound/sys/mmem.h"
#include "sound/formats/module.h"
#include "sound/output/sdevice.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

template <typename T> T* zeroed(std::size_t count = 1) {
    void* block = nullptr;
    EXPECT_EQ(mem_alloc_zeroed(sizeof(T) * count, &block), errOK);
    return static_cast<T*>(block);
}

std::vector<std::uint32_t> removedHandles;
int removeResult = errOK;

int recordRemove(std::uint32_t handle) {
    removedHandles.push_back(handle);
    return removeResult;
}

// A module with an instrument, two samples (one on the device) and a pattern,
// with null entries at every level that allows them.
Module* smallModule() {
    Module* module = zeroed<Module>();
    module->panning = zeroed<int>(32);
    module->song_length = 1;
    module->orders = zeroed<std::uint16_t>(1);
    module->instrument_count = 3;
    module->instruments = zeroed<Instrument*>(3);
    Instrument* instrument = nullptr;
    EXPECT_EQ(alloc_instrument(2, &instrument), errOK);
    instrument->note_map = zeroed<std::uint8_t>(96);
    instrument->volume_envelope = zeroed<Envelope>();
    module->instruments[1] = instrument;
    module->sample_count = 3;
    module->samples = zeroed<Sample*>(3);
    module->samples[0] = zeroed<Sample>();
    module->samples[0]->data = zeroed<std::uint8_t>(100);
    module->samples[2] = zeroed<Sample>();
    module->samples[2]->device_handle = 7;
    instrument->sample_list[0] = module->samples[0];
    instrument->sample_list[1] = module->samples[2];
    module->pattern_count = 2;
    module->patterns = zeroed<Pattern*>(2);
    module->patterns[0] = static_cast<Pattern*>(static_cast<void*>(zeroed<std::uint8_t>(72)));
    return module;
}

class ModuleFreeing : public ::testing::Test {
  protected:
    void SetUp() override {
        removedHandles.clear();
        removeResult = errOK;
        device.removeSample = recordRemove;
        blocks = mem_blocks_in_use();
    }
    void TearDown() override { EXPECT_EQ(mem_blocks_in_use(), blocks) << "blocks left allocated"; }
    SoundDevice device{};
    long blocks = 0;
};

} // namespace

TEST_F(ModuleFreeing, FreesEverythingAndRemovesDeviceSamples) {
    EXPECT_EQ(free_module(smallModule(), &device), errOK);
    EXPECT_EQ(removedHandles, (std::vector<std::uint32_t>{7}));
}

TEST_F(ModuleFreeing, EmptyModuleWithNullTablesIsFreed) {
    Module* module = zeroed<Module>();
    module->instrument_count = 4; // counts without tables are skipped
    module->sample_count = 4;
    module->pattern_count = 4;
    EXPECT_EQ(free_module(module, nullptr), errOK);
}

TEST_F(ModuleFreeing, DeviceFailureIsReportedButNothingIsLeaked) {
    removeResult = errInvalidSampleHandle;
    EXPECT_EQ(free_module(smallModule(), &device), errInvalidSampleHandle);
    EXPECT_EQ(removedHandles.size(), 1u);
}

TEST_F(ModuleFreeing, DeviceSamplesWithoutADeviceAreInvalidDeviceButFreed) {
    EXPECT_EQ(free_module(smallModule(), nullptr), errInvalidDevice);
}

TEST_F(ModuleFreeing, NullModuleIsInvalidArguments) {
    EXPECT_EQ(free_module(nullptr, nullptr), errInvalidArguments);
}

TEST_F(ModuleFreeing, InstrumentSampleListLivesInTheSameBlock) {
    Instrument* instrument = nullptr;
    ASSERT_EQ(alloc_instrument(16, &instrument), errOK);
    EXPECT_EQ(instrument->sample_count, 16);
    EXPECT_EQ(static_cast<void*>(instrument->sample_list), static_cast<void*>(instrument + 1));
    for (int k = 0; k < 16; k++)
        EXPECT_EQ(instrument->sample_list[k], nullptr);
    EXPECT_EQ(mem_blocks_in_use(), blocks + 1);
    EXPECT_EQ(mem_free(instrument), errOK);
    ASSERT_EQ(alloc_instrument(0, &instrument), errOK);
    EXPECT_EQ(mem_free(instrument), errOK);
    EXPECT_EQ(alloc_instrument(-1, &instrument), errInvalidArguments);
}
