// The two clocks a back end can use: the real one (host monotonic clock, real threads and sleeps)
// and the virtual one, which makes headless runs deterministic.
//
// Virtual clock: time is a tick count that only the main thread moves, by a fixed step on each
// counter read and by the whole length of a sleep. Other threads run in lock-step with it: a
// thread started here, or one that sleeps, waits until virtual time reaches its wake time and the
// main thread hands the processor to it; the main thread then waits until that thread sleeps again
// or ends. So exactly one thread runs at any moment and the order of everything is fixed by
// virtual time alone. Hand-over happens only while the main thread holds no critical section, so
// a woken thread never waits for a lock the main thread holds.
// The one rule for code on this clock: do not sleep while holding a critical section another
// thread may want (the sleeper only wakes when the main thread hands over, which it cannot do
// while it waits for that lock). Counter reads by other threads return the time without moving it.
#pragma once

#include <cstdint>
#include <thread>

#include "platform/platform.h"

struct ThreadHandle {
    std::thread thread;
    void (*fn)(void*);
    void* argument;
    int id; // virtual clock: the sleeper's number (main thread is 0)
    bool finished;
};

// Real clock
std::int64_t realCounterFrequency();
std::int64_t realCounterRead();
void realSleepMs(std::uint32_t ms);
ThreadHandle* realThreadStart(void (*fn)(void*), void* argument);
void realThreadJoin(ThreadHandle* thread);

// Virtual clock. Reset makes the calling thread the main thread and sets time to startTicks.
void virtualClockReset(std::int64_t frequency, std::int64_t stepTicks, std::int64_t startTicks);
std::int64_t virtualCounterFrequency();
std::int64_t virtualCounterRead(); // main thread: advances one step first; others: current time
void virtualSleepMs(std::uint32_t ms);
ThreadHandle* virtualThreadStart(void (*fn)(void*), void* argument);
void virtualThreadJoin(ThreadHandle* thread);

// Current virtual time without advancing it.
std::int64_t virtualNow();

// Main thread: moves time forward by ticks, running every thread that falls due (tests, pauses).
void virtualAdvance(std::int64_t ticks);
