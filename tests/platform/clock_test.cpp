// The virtual clock: fixed steps, sleeping threads in lock-step, hand-over only without locks.
#include <gtest/gtest.h>

#include <vector>

#include "platform/clock.h"
#include "platform/headless.h"

namespace {

void startHeadless(HeadlessOptions options = {}) {
    if (options.modes.empty()) options.modes = headlessAllModes();
    headlessConfigure(options, HeadlessRecorder{});
    platformInit(headlessBackend());
}

struct Poller {
    std::vector<std::int64_t> wakeTimesUs;
    int rounds;
    CriticalSection* lock;
};

void pollLoop(void* argument) {
    auto* poller = static_cast<Poller*>(argument);
    for (int i = 0; i < poller->rounds; ++i) {
        if (poller->lock) criticalEnter(poller->lock);
        poller->wakeTimesUs.push_back(headlessNowUs());
        if (poller->lock) criticalLeave(poller->lock);
        sleepMs(20);
    }
}

} // namespace

TEST(VirtualClock, EveryReadOnTheMainThreadAdvancesByOneFixedStep) {
    startHeadless();
    const std::int64_t frequency = counterFrequency();
    const std::int64_t a = counterRead();
    const std::int64_t b = counterRead();
    const std::int64_t c = counterRead();
    EXPECT_GT(b, a);
    EXPECT_EQ(c - b, b - a);
    EXPECT_LT((b - a) * 1000, frequency); // well below a millisecond
    platformShutdown(0);
}

TEST(VirtualClock, MainThreadSleepMovesTimeByTheWholeLength) {
    startHeadless();
    const std::int64_t before = headlessNowUs();
    sleepMs(250);
    EXPECT_EQ(headlessNowUs() - before, 250'000);
    platformShutdown(0);
}

TEST(VirtualClock, SleepingThreadWakesExactlyOnItsVirtualTimes) {
    startHeadless();
    Poller poller{{}, 6, nullptr};
    ThreadHandle* thread = threadStart(pollLoop, &poller);
    ASSERT_NE(thread, nullptr);
    // The main thread is busy on the counter for 100 ms of virtual time.
    const std::int64_t end = counterRead() + counterFrequency() / 10;
    while (counterRead() < end) {
    }
    ASSERT_GE(poller.wakeTimesUs.size(), 5u);
    for (std::size_t i = 1; i < poller.wakeTimesUs.size(); ++i)
        EXPECT_EQ(poller.wakeTimesUs[i] - poller.wakeTimesUs[i - 1], 20'000) << "wake " << i;
    threadJoin(thread);
    EXPECT_EQ(poller.wakeTimesUs.size(), 6u);
    platformShutdown(0);
}

TEST(VirtualClock, TwoRunsInterleaveIdentically) {
    std::vector<std::int64_t> first;
    for (int run = 0; run < 2; ++run) {
        startHeadless();
        Poller poller{{}, 8, nullptr};
        ThreadHandle* thread = threadStart(pollLoop, &poller);
        for (int i = 0; i < 3000; ++i)
            counterRead();
        sleepMs(37);
        for (int i = 0; i < 1234; ++i)
            counterRead();
        threadJoin(thread);
        if (run == 0)
            first = poller.wakeTimesUs;
        else
            EXPECT_EQ(poller.wakeTimesUs, first);
        platformShutdown(0);
    }
}

TEST(VirtualClock, NoHandOverWhileTheMainThreadHoldsALock) {
    startHeadless();
    CriticalSection* lock = criticalCreate();
    Poller poller{{}, 3, lock};
    ThreadHandle* thread = threadStart(pollLoop, &poller);
    criticalEnter(lock);
    for (int i = 0; i < 10000; ++i)
        counterRead(); // 200 ms with the lock held
    EXPECT_TRUE(poller.wakeTimesUs.empty());
    criticalLeave(lock);
    counterRead();
    EXPECT_EQ(poller.wakeTimesUs.size(), 1u);
    threadJoin(thread);
    criticalDestroy(lock);
    platformShutdown(0);
}

TEST(VirtualClock, ReentrantLockCanBeTakenTwiceByOneThread) {
    startHeadless();
    CriticalSection* lock = criticalCreate();
    criticalEnter(lock);
    criticalEnter(lock);
    EXPECT_EQ(criticalDepthOfThisThread(), 2);
    criticalLeave(lock);
    criticalLeave(lock);
    EXPECT_EQ(criticalDepthOfThisThread(), 0);
    criticalDestroy(lock);
    platformShutdown(0);
}

TEST(VirtualClock, TickCountFollowsTheCounter) {
    HeadlessOptions options;
    startHeadless(options);
    sleepMs(1500);
    EXPECT_EQ(tickCountMs(), 1500u);
    platformShutdown(0);
}
