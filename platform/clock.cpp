// Real and virtual clocks with their threads and sleeps (see clock.h for the lock-step design).
#include "platform/clock.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/host.h"

// ---------------------------------------------------------------------------------------------
// Real clock

namespace {
const std::chrono::steady_clock::time_point realStart = std::chrono::steady_clock::now();

void threadEntry(ThreadHandle* handle) {
    handle->fn(handle->argument);
}
} // namespace

std::int64_t realCounterFrequency() {
    return 1'000'000'000;
}

std::int64_t realCounterRead() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - realStart)
        .count();
}

void realSleepMs(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

ThreadHandle* realThreadStart(void (*fn)(void*), void* argument) {
    auto* handle = new ThreadHandle{{}, fn, argument, 0, false};
    try {
        handle->thread = std::thread(threadEntry, handle);
    } catch (...) {
        delete handle;
        return nullptr;
    }
    return handle;
}

void realThreadJoin(ThreadHandle* thread) {
    if (!thread) return;
    if (thread->thread.joinable()) thread->thread.join();
    delete thread;
}

// ---------------------------------------------------------------------------------------------
// Virtual clock

namespace {

struct Sleeper {
    std::int64_t wake;
    std::uint64_t order; // ties at one wake time run in the order they went to sleep
    int id;
};

struct VirtualClock {
    std::mutex mutex;
    std::condition_variable changed;
    std::int64_t frequency = 1;
    std::int64_t step = 1;
    std::int64_t now = 0;
    std::thread::id mainThread;
    int running = 0; // who may run: 0 the main thread, else a sleeper's id
    int nextId = 1;
    std::uint64_t nextOrder = 0;
    std::vector<Sleeper> sleepers;
};

VirtualClock vclock;
thread_local int virtualId = 0;

bool isMain() {
    return std::this_thread::get_id() == vclock.mainThread;
}

// Index of the earliest sleeper due by limit, or -1.
int earliestDue(std::int64_t limit) {
    int best = -1;
    for (int i = 0; i < static_cast<int>(vclock.sleepers.size()); ++i) {
        const Sleeper& s = vclock.sleepers[i];
        if (s.wake > limit) continue;
        if (best < 0 || s.wake < vclock.sleepers[best].wake ||
            (s.wake == vclock.sleepers[best].wake && s.order < vclock.sleepers[best].order))
            best = i;
    }
    return best;
}

// Main thread, mutex held: let sleeper index run until it hands back.
void runSleeper(std::unique_lock<std::mutex>& lock, int index) {
    const int id = vclock.sleepers[index].id;
    vclock.sleepers.erase(vclock.sleepers.begin() + index);
    vclock.running = id;
    vclock.changed.notify_all();
    vclock.changed.wait(lock, [] { return vclock.running == 0; });
}

// Main thread, mutex held: move time to target, running due sleepers at their wake times.
void advanceTo(std::unique_lock<std::mutex>& lock, std::int64_t target) {
    if (criticalDepthOfThisThread() == 0) {
        for (;;) {
            const int due = earliestDue(target);
            if (due < 0) break;
            vclock.now = std::max(vclock.now, vclock.sleepers[due].wake);
            runSleeper(lock, due);
        }
    }
    vclock.now = std::max(vclock.now, target);
}

// Worker, mutex held: hand the processor back to the main thread and wait for our turn.
void yieldUntilWoken(std::unique_lock<std::mutex>& lock, std::int64_t wake) {
    vclock.sleepers.push_back({wake, vclock.nextOrder++, virtualId});
    vclock.running = 0;
    vclock.changed.notify_all();
    vclock.changed.wait(lock, [] { return vclock.running == virtualId; });
}

void virtualThreadEntry(ThreadHandle* handle) {
    virtualId = handle->id;
    {
        std::unique_lock lock(vclock.mutex);
        vclock.changed.wait(lock, [] { return vclock.running == virtualId; });
    }
    handle->fn(handle->argument);
    std::unique_lock lock(vclock.mutex);
    handle->finished = true;
    vclock.running = 0;
    vclock.changed.notify_all();
}

std::int64_t msToTicks(std::uint32_t ms) {
    return static_cast<std::int64_t>(ms) * vclock.frequency / 1000;
}

} // namespace

void virtualClockReset(std::int64_t frequency, std::int64_t stepTicks, std::int64_t startTicks) {
    std::unique_lock lock(vclock.mutex);
    vclock.frequency = frequency > 0 ? frequency : 1;
    vclock.step = stepTicks > 0 ? stepTicks : 1;
    vclock.now = startTicks;
    vclock.mainThread = std::this_thread::get_id();
    vclock.running = 0;
    vclock.sleepers.clear();
}

std::int64_t virtualCounterFrequency() {
    return vclock.frequency;
}

std::int64_t virtualNow() {
    std::unique_lock lock(vclock.mutex);
    return vclock.now;
}

std::int64_t virtualCounterRead() {
    std::unique_lock lock(vclock.mutex);
    if (!isMain()) return vclock.now;
    advanceTo(lock, vclock.now + vclock.step);
    return vclock.now;
}

void virtualAdvance(std::int64_t ticks) {
    std::unique_lock lock(vclock.mutex);
    if (!isMain()) return;
    advanceTo(lock, vclock.now + ticks);
}

void virtualSleepMs(std::uint32_t ms) {
    std::unique_lock lock(vclock.mutex);
    if (isMain()) {
        advanceTo(lock, vclock.now + msToTicks(ms));
        return;
    }
    if (virtualId == 0) {
        // A thread the clock did not start (a library's own) is not in the lock-step; it sleeps
        // for real rather than take the main thread's place.
        lock.unlock();
        realSleepMs(ms);
        return;
    }
    yieldUntilWoken(lock, vclock.now + msToTicks(ms));
}

ThreadHandle* virtualThreadStart(void (*fn)(void*), void* argument) {
    std::unique_lock lock(vclock.mutex);
    auto* handle = new ThreadHandle{{}, fn, argument, vclock.nextId++, false};
    try {
        handle->thread = std::thread(virtualThreadEntry, handle);
    } catch (...) {
        delete handle;
        return nullptr;
    }
    // The new thread first runs at the main thread's next hand-over, as if it had slept 0 ms.
    vclock.sleepers.push_back({vclock.now, vclock.nextOrder++, handle->id});
    return handle;
}

void virtualThreadJoin(ThreadHandle* thread) {
    if (!thread) return;
    {
        std::unique_lock lock(vclock.mutex);
        // Let time run on to the thread's end: it may still be due for a few more turns.
        while (!thread->finished) {
            const int due = earliestDue(INT64_MAX);
            if (due < 0) break; // not sleeping and not finished cannot happen in lock-step
            vclock.now = std::max(vclock.now, vclock.sleepers[due].wake);
            runSleeper(lock, due);
        }
    }
    if (thread->thread.joinable()) thread->thread.join();
    delete thread;
}
