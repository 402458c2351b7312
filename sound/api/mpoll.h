// The polling thread: wakes every poll_sleep_ms and runs the poll routine,
// which lets the device mix what its output needs and runs one player tick
// for every tick's worth of mixed frames. One re-entrant library lock
// serialises the poll with the interface calls that change songs, channels
// or the device.
#pragma once

#include <atomic>
#include <cstdint>

struct CriticalSection;

// The library lock (created by sound_init, or by the first lock_library).
extern CriticalSection* library_lock;

// The thread's sleep between polls, in milliseconds.
extern std::atomic<uint32_t> poll_sleep_ms;

// 1 while the stopper waits; the thread clears it when it has finished.
extern std::atomic<int> poll_stop_request;

// Creates the library lock unless it exists.
void create_library_lock();

// Starts the polling thread with sleepMs between polls (at least 1 ms: a
// zero sleep would spin). A thread that cannot start goes to the error-report
// hook. On a host without threads the host polls instead, at the same pace
// (platform/hostpoll.h). Returns an error code.
int start_play_thread(uint32_t sleepMs);

// Asks the thread to end and waits, in steps of half its sleep, until it has
// finished its poll and the sleep after it. Must not be called while holding
// the library lock (the thread needs it to finish its poll).
int stop_play_thread();

// 1 while a polling thread exists (or the host polls in its place).
int play_thread_running();

// One poll: device beginPoll, then play and player ticks for as long as the
// device says ticks are due. Device and player errors are fatal (virez).
int poll_music();

// Enter and leave the library lock.
void lock_library();
void unlock_library();

// Holds the library lock for a scope.
struct LibraryLock {
    LibraryLock() { lock_library(); }
    ~LibraryLock() { unlock_library(); }
    LibraryLock(const LibraryLock&) = delete;
    LibraryLock& operator=(const LibraryLock&) = delete;
};
