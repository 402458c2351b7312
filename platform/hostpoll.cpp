// The routine a host without threads calls in place of a polling thread (see hostpoll.h).
#include "platform/hostpoll.h"

#include <algorithm>
#include <limits>

#include "platform/host.h"

namespace {

struct HostPoll {
    void (*poll)() = nullptr;
    std::uint32_t periodMs = 1;
    std::int64_t due = 0; // counter ticks
    bool first = false;   // not yet called: due at the host's next chance, whatever the time
    int running = 0;      // inside the routine (it is not called again from inside itself)
};

HostPoll hostPoll;

std::int64_t periodTicks(std::int64_t frequency) {
    return std::max<std::int64_t>(static_cast<std::int64_t>(hostPoll.periodMs) * frequency / 1000, 1);
}

// The routine may stop itself (or be replaced) while it runs; only a routine still set is
// scheduled again.
void runAt(std::int64_t time, std::int64_t frequency) {
    void (*const poll)() = hostPoll.poll;
    hostPoll.first = false;
    hostPoll.running = 1;
    poll();
    hostPoll.running = 0;
    if (hostPoll.poll == poll && !hostPoll.first) hostPoll.due = time + periodTicks(frequency);
}

bool mayRun() {
    return hostPoll.poll && !hostPoll.running && criticalDepthOfThisThread() == 0;
}

} // namespace

int hostHasThreads() {
    const HostBackend* backend = platformBackend();
    return backend && backend->threadStart ? 1 : 0;
}

void hostPollStart(void (*poll)(), std::uint32_t periodMs) {
    hostPoll.poll = poll;
    hostPoll.periodMs = std::max<std::uint32_t>(periodMs, 1);
    hostPoll.first = poll != nullptr;
    hostPoll.due = 0;
}

void hostPollStop() {
    hostPoll.poll = nullptr;
    hostPoll.first = false;
}

int hostPollActive() {
    return hostPoll.poll ? 1 : 0;
}

std::int64_t hostPollDue(std::int64_t now) {
    if (!mayRun()) return std::numeric_limits<std::int64_t>::max();
    return hostPoll.first ? now : hostPoll.due;
}

int hostPollRunUntil(std::int64_t* clock, std::int64_t until, std::int64_t frequency) {
    int calls = 0;
    for (;;) {
        const std::int64_t due = hostPollDue(*clock);
        if (due > until) break;
        *clock = std::max(*clock, due);
        runAt(*clock, frequency);
        ++calls;
    }
    return calls;
}

int hostPollRunNow(std::int64_t now, std::int64_t frequency) {
    if (!mayRun()) return 0;
    runAt(now, frequency);
    return 1;
}

int hostPollRunning() {
    return hostPoll.running;
}
