// Polling without threads: the host calls the routine at the times a polling thread would run on
// the virtual clock, never while a lock is held, and stops when told.
#include <gtest/gtest.h>

#include <vector>

#include "platform/clock.h"
#include "platform/headless.h"
#include "platform/hostpoll.h"

namespace {

constexpr std::int64_t frequency = 10'000'000; // the headless virtual counter's
constexpr std::int64_t step = 200;             // ticks a main-thread read moves it on

std::vector<std::int64_t> calls; // times the routine ran (ticks of the simulated clock)
std::int64_t simulatedNow = 0;

void recordCall() {
    calls.push_back(simulatedNow);
    EXPECT_EQ(hostPollRunning(), 1);
}

void stopFromInside() {
    calls.push_back(simulatedNow);
    hostPollStop();
}

// A back end without threads, on the headless one's clock otherwise.
HostBackend threadless;

void startThreadless() {
    headlessConfigure(HeadlessOptions{}, HeadlessRecorder{});
    threadless = *headlessBackend();
    threadless.threadStart = nullptr;
    threadless.threadJoin = nullptr;
    platformInit(&threadless);
    calls.clear();
    simulatedNow = 0;
}

// One clock read of a back end without threads: the routine runs where it falls due, then the
// clock stands one step further on.
void simulatedRead() {
    const std::int64_t target = simulatedNow + step;
    hostPollRunUntil(&simulatedNow, target, frequency);
    simulatedNow = target;
}

// What a polling thread does on the virtual clock: note the time, sleep 20 ms, for ever.
struct ThreadRecord {
    std::vector<std::int64_t> times;
    int rounds;
};

void threadLoop(void* argument) {
    auto* record = static_cast<ThreadRecord*>(argument);
    for (int i = 0; i < record->rounds; ++i) {
        record->times.push_back(virtualNow());
        sleepMs(20);
    }
}

class HostPoll : public ::testing::Test {
protected:
    void TearDown() override {
        hostPollStop();
        platformShutdown(0);
    }
};

} // namespace

TEST_F(HostPoll, AHostWithoutThreadSlotsHasNoThreadsAndTheHeadlessOneHas) {
    headlessConfigure(HeadlessOptions{}, HeadlessRecorder{});
    platformInit(headlessBackend());
    EXPECT_EQ(hostHasThreads(), 1);
    platformShutdown(0);
    startThreadless();
    EXPECT_EQ(hostHasThreads(), 0);
    EXPECT_EQ(threadStart([](void*) {}, nullptr), nullptr);
}

TEST_F(HostPoll, RunsAtTheTimesAThreadSleepingBetweenPollsRunsOnTheVirtualClock) {
    // The thread on the headless virtual clock, with the main thread reading the counter.
    headlessConfigure(HeadlessOptions{}, HeadlessRecorder{});
    platformInit(headlessBackend());
    for (int i = 0; i < 37; ++i) counterRead(); // some time before the thread starts
    ThreadRecord record{{}, 12};
    const std::int64_t start = virtualNow();
    ThreadHandle* thread = threadStart(threadLoop, &record);
    ASSERT_NE(thread, nullptr);
    while (record.times.size() < 12) counterRead();
    threadJoin(thread);
    platformShutdown(0);

    // The same reads on a host without threads.
    startThreadless();
    simulatedNow = start;
    hostPollStart(recordCall, 20);
    while (calls.size() < 12) simulatedRead();
    EXPECT_EQ(calls, record.times);
    EXPECT_EQ(calls[0], start); // the first call comes at the very next read
    EXPECT_EQ(calls[1] - calls[0], 20 * frequency / 1000);
}

TEST_F(HostPoll, ALongWaitRunsTheRoutineOncePerPeriodAtItsOwnTimes) {
    startThreadless();
    hostPollStart(recordCall, 20);
    simulatedRead();
    ASSERT_EQ(calls.size(), 1u);
    const std::int64_t first = calls[0];
    // A sleep of 100 ms: five more calls, each at its due time, the clock left at the last.
    const std::int64_t until = simulatedNow + frequency / 10;
    EXPECT_EQ(hostPollRunUntil(&simulatedNow, until, frequency), 5);
    ASSERT_EQ(calls.size(), 6u);
    for (std::size_t i = 1; i < calls.size(); ++i)
        EXPECT_EQ(calls[i], first + static_cast<std::int64_t>(i) * 200'000);
    EXPECT_EQ(simulatedNow, calls.back());
    EXPECT_LE(simulatedNow, until);
}

TEST_F(HostPoll, NothingRunsWhileTheCallerHoldsALock) {
    startThreadless();
    hostPollStart(recordCall, 20);
    CriticalSection* lock = criticalCreate();
    criticalEnter(lock);
    for (int i = 0; i < 5000; ++i) simulatedRead(); // 100 ms with the lock held
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(hostPollRunNow(simulatedNow, frequency), 0);
    criticalLeave(lock);
    criticalDestroy(lock);
    simulatedRead();
    EXPECT_EQ(calls.size(), 1u); // once, late, not once for every missed period
}

TEST_F(HostPoll, RunNowCallsAtOnceAndPutsTheNextCallAPeriodLater) {
    startThreadless();
    hostPollStart(recordCall, 20);
    simulatedRead();
    simulatedNow += 5 * frequency / 1000; // 5 ms later the sound output wants more
    EXPECT_EQ(hostPollRunNow(simulatedNow, frequency), 1);
    const std::int64_t early = simulatedNow;
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], early);
    while (calls.size() < 3) simulatedRead();
    EXPECT_EQ(calls[2] - early, 20 * frequency / 1000); // reads land on the due time exactly
}

TEST_F(HostPoll, StopEndsTheCallsEvenFromInsideTheRoutine) {
    startThreadless();
    hostPollStart(stopFromInside, 20);
    EXPECT_EQ(hostPollActive(), 1);
    for (int i = 0; i < 1000; ++i) simulatedRead();
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(hostPollActive(), 0);
    EXPECT_EQ(hostPollRunNow(simulatedNow, frequency), 0);
}
