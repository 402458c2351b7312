// Background play on a host without threads (a web page): the library hands its poll to the host
// instead of starting a thread, and what the host's polls mix is what the polling thread mixes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/clock.h"
#include "platform/hostpoll.h"
#include "plumbing_fixture.h"
#include "sound/api/errors.h"
#include "sound/api/mpoll.h"

using namespace plumbing;

namespace {

HostBackend threadless; // the headless back end without its thread slots

// Plays the test song for ms of virtual time and returns the bytes the wave output was handed.
// Without threads the test stands in for the back end: every millisecond it runs the host's poll
// where it falls due.
std::vector<std::uint8_t> playFor(bool threads, std::uint32_t ms, bool* hostPolled) {
    played = Played{};
    headlessConfigure(HeadlessOptions{}, playedRecorder());
    threadless = *headlessBackend();
    threadless.threadStart = nullptr;
    threadless.threadJoin = nullptr;
    platformInit(threads ? headlessBackend() : &threadless);
    sound_startup();
    EXPECT_EQ(sound_init(), 1);
    Module* module = sound_load_module(writeModule(threads ? "hostpoll_thread.xm" : "hostpoll_host.xm").c_str());
    EXPECT_NE(module, nullptr);
    const int song = sound_play_module(module, 1);
    EXPECT_NE(song, 0);
    EXPECT_EQ(sound_start_background_play(0), 1);
    EXPECT_EQ(play_thread_running(), 1);
    *hostPolled = hostPollActive() != 0;
    constexpr std::int64_t frequency = 10'000'000; // the headless virtual counter's
    for (std::uint32_t i = 0; i < ms; ++i) {
        headlessAdvanceMs(1);
        if (!threads) {
            std::int64_t now = virtualNow();
            hostPollRunUntil(&now, now, frequency);
        }
    }
    EXPECT_EQ(sound_stop_background_play(), 1);
    EXPECT_EQ(hostPollActive(), 0);
    EXPECT_EQ(play_thread_running(), 0);
    sound_stop_module(song);
    sound_free_module(module);
    sound_close();
    platformShutdown(0);
    return played.data;
}

} // namespace

TEST(HostPolledPlay, WithoutThreadsTheHostPollsAndMixesWhatTheThreadMixes) {
    bool threadHostPolled = true, hostPolled = false;
    const std::vector<std::uint8_t> byThread = playFor(true, 1500, &threadHostPolled);
    const std::vector<std::uint8_t> byHost = playFor(false, 1500, &hostPolled);
    EXPECT_FALSE(threadHostPolled); // with threads the library keeps its own thread
    EXPECT_TRUE(hostPolled);
    // Half a second of output is queued ahead either way; more than a second has been mixed.
    ASSERT_GT(byThread.size(), 44100u * 4);
    ASSERT_GT(byHost.size(), 44100u * 4);
    // From the third frame on: the output filter looks two frames back, and its history of the
    // run before is still there when the device opens again.
    constexpr std::size_t skipped = 2 * 4;
    const std::size_t common = std::min(byThread.size(), byHost.size());
    const auto differ = std::mismatch(byThread.begin() + skipped, byThread.begin() + static_cast<std::ptrdiff_t>(common),
                                      byHost.begin() + skipped);
    EXPECT_EQ(static_cast<std::size_t>(differ.first - byThread.begin()), common);
    EXPECT_NE(std::count(byHost.begin(), byHost.end(), 0), static_cast<std::ptrdiff_t>(byHost.size()));
}

TEST(HostPolledPlay, StartingTwiceIsBusyAndAStopEndsTheHostsPolls) {
    played = Played{};
    headlessConfigure(HeadlessOptions{}, playedRecorder());
    threadless = *headlessBackend();
    threadless.threadStart = nullptr;
    threadless.threadJoin = nullptr;
    platformInit(&threadless);
    sound_startup();
    ASSERT_EQ(sound_init(), 1);
    ASSERT_EQ(start_play_thread(20), errOK);
    EXPECT_EQ(start_play_thread(20), errDeviceBusy);
    EXPECT_EQ(hostPollActive(), 1);
    EXPECT_EQ(stop_play_thread(), errOK);
    EXPECT_EQ(hostPollActive(), 0);
    EXPECT_EQ(stop_play_thread(), errOK); // nothing left to stop
    sound_close();
    platformShutdown(0);
}
