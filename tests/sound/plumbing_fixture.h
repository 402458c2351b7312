// Shared set-up of the device, polling-thread and interface tests: the headless back end on its
// virtual clock, the library started with default options, and the device records put back as
// they were after tests that swap operations.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/headless.h"
#include "sound/output/dsmnsnd.h"
#include "sound/output/dsound.h"
#include "sound/api/mglobals.h"
#include "sound/output/sdevice.h"
#include "sound/api/soundapi.h"
#include "sound/output/winwave.h"
#include "xmbuild.h"

namespace plumbing {

// What the headless wave output was handed.
struct Played {
    std::vector<std::int64_t> starts;
    std::vector<std::uint32_t> bytes;
    std::vector<std::uint8_t> data;
};
inline Played played;

inline HeadlessRecorder playedRecorder() {
    HeadlessRecorder r{};
    r.audio = [](void*, std::int64_t start, const WaveFormat&, const std::uint8_t* data, std::uint32_t bytes) {
        played.starts.push_back(start);
        played.bytes.push_back(bytes);
        played.data.insert(played.data.end(), data, data + bytes);
    };
    return r;
}

// Starts the headless back end with options (audio recorded into played).
inline void startPlatform(HeadlessOptions options = {}) {
    played = Played{};
    headlessConfigure(options, playedRecorder());
    platformInit(headlessBackend());
}

// A small two-channel Extended Module with one looped sample, written to a file.
inline std::string writeModule(const std::string& name, int channels = 2) {
    xmbuild::ModuleSpec spec;
    spec.channels = static_cast<std::uint16_t>(channels);
    spec.name = "plumbing test song with a long name";
    xmbuild::InstrumentSpec instrument;
    instrument.name = "an instrument named past 22";
    xmbuild::SampleSpec sample;
    sample.data.assign(256, 0);
    for (std::size_t i = 0; i < sample.data.size(); ++i)
        sample.data[i] = (i % 16) ? 0 : 40; // delta-coded square-ish wave
    sample.loopStart = 0;
    sample.loopLength = 256;
    sample.type = 1;
    instrument.samples = {sample};
    spec.instruments = {instrument};
    spec.orders = {0, 0};
    spec.patterns = {xmbuild::oneEntry(16, channels, 0, 0, 49, 1, 0, 0, 0)};
    const std::vector<std::uint8_t> bytes = xmbuild::build(spec);
    const std::string path = ::testing::TempDir() + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

// The library on the headless back end; every test ends with the library closed.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = {dsoundDevice, winWaveDevice, noSoundDevice};
        startPlatform(options());
        sound_startup();
    }
    void TearDown() override {
        sound_set_error_report_hook(nullptr);
        sound_close();
        dsoundDevice = saved_[0];
        winWaveDevice = saved_[1];
        noSoundDevice = saved_[2];
        neverUseDirectSound = 0;
        dsoundEmulatedDriver = 0;
    }
    virtual HeadlessOptions options() { return {}; }

private:
    std::vector<SoundDevice> saved_;
};

} // namespace plumbing
