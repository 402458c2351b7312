// Polling where the host has no threads. A web page runs the program on one thread: a library
// that elsewhere starts a thread to call a routine every few milliseconds hands the routine to
// hostPollStart instead, and the back end calls it from the places where the program gives the
// host control (clock reads, sleeps, the message pump) whenever its period has passed, and from
// its sound output when that wants more. It runs only while no critical section is held, as a
// thread would wait for the lock, so what the routine computes is what the thread would compute.
//
// On the virtual clock the back end runs it at exactly the times a thread sleeping periodMs
// between calls would run (platform/clock.h): the first call at the next clock read after the
// start, each later one periodMs after the one before.
#pragma once

#include <cstdint>

// 1 when the host runs threads (threadStart works), 0 on a host without them (a web page).
int hostHasThreads();

// Hands poll to the host to call every periodMs milliseconds (at least 1), the first time at the
// host's next chance. One routine at a time: a second start replaces the first.
void hostPollStart(void (*poll)(), std::uint32_t periodMs);

// The host stops calling the routine. Safe when none is set.
void hostPollStop();

// 1 while a routine is set.
int hostPollActive();

// --- for back ends without threads

// The time (counter ticks) the routine is next due: at most `now` when it has not run yet since
// its start; INT64_MAX when there is none, when it is running, or while the calling code holds a
// critical section (it would wait for the lock).
std::int64_t hostPollDue(std::int64_t now);

// Runs the routine for every time it falls due up to `until`, in counter ticks at `frequency`
// ticks a second. Before each call *clock is moved to the time it is due (the routine reads the
// clock), as a thread sleeping until then would find it; it is left at the time of the last call,
// for the caller to move on to `until`. Returns the number of calls.
int hostPollRunUntil(std::int64_t* clock, std::int64_t until, std::int64_t frequency);

// Runs the routine at once, due or not (the sound output has room for more), unless it cannot
// run now (hostPollDue); it is next due periodMs after `now`. Returns 1 when it ran.
int hostPollRunNow(std::int64_t now, std::int64_t frequency);

// 1 while the routine runs (its clock reads must not move a virtual clock, nor may it wait).
int hostPollRunning();
