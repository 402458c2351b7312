// The SDL back end opened on first need: the clock, threads, messages and settings of a program on
// it load nothing; sound loads SDL; a back end that cannot be found fails the display and sound
// calls with the reason, as a missing display or sound card does. Each case runs in a process of
// its own (the back end is opened at most once a run), so each skips when SDL is already loaded.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "platform/host.h"

namespace {

bool sdlLoaded() {
    void* library = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_NOLOAD);
    if (library) dlclose(library);
    return library != nullptr;
}

class SdlLoad : public ::testing::Test {
  protected:
    void SetUp() override {
        if (sdlLoaded()) GTEST_SKIP() << "SDL was loaded earlier in this process";
    }
    void TearDown() override {
        platformShutdown(0);
        unsetenv("MORVA_SDL_MODULE");
    }
};

} // namespace

TEST_F(SdlLoad, OnlyAWindowOrSoundLoadsSdl) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    platformInit(sdlBackend());
    EXPECT_GT(counterFrequency(), 0);
    counterRead();
    sleepMs(1);
    ThreadHandle* thread = threadStart([](void*) {}, nullptr);
    ASSERT_NE(thread, nullptr);
    threadJoin(thread);
    Message message{};
    EXPECT_EQ(peekMessage(&message), 0);
    settingsFolder();
    EXPECT_FALSE(sdlLoaded());
    if (waveDeviceCount() == 0) GTEST_SKIP() << "SDL audio cannot start here: " << waveError();
    EXPECT_TRUE(sdlLoaded());
}

TEST_F(SdlLoad, MissingBackEndFailsTheDisplayAndSoundWithTheReason) {
    setenv("MORVA_SDL_MODULE", "/nonexistent/morva-sdl.so", 1);
    platformInit(sdlBackend());
    EXPECT_EQ(displayCreate(), displayNoScreen);
    const std::string expected =
        "the SDL back end (morva-sdl.so) is missing: looked for /nonexistent/morva-sdl.so";
    EXPECT_EQ(std::string(displayError()), expected);
    EXPECT_EQ(waveDeviceCount(), 0);
    WaveOutput* output = nullptr;
    EXPECT_EQ(waveOpen(&output, {44100, 2, 16}), waveNoDriver);
    EXPECT_EQ(output, nullptr);
    EXPECT_EQ(std::string(waveError()), expected);
    SoundBuffer* buffer = nullptr;
    EXPECT_EQ(soundBufferCreate(&buffer, {44100, 2, 16}, 4096), waveNoDriver);
    // Nothing was made, so the calls on what would have been made answer as for a bad handle.
    std::uint8_t rgb[3] = {};
    int width = 0, height = 0;
    EXPECT_EQ(sdlReadBackPixel(0, 0, rgb, &width, &height), 0);
    EXPECT_EQ(sdlWindowId(1), 0u);
    EXPECT_FALSE(sdlLoaded());
}
