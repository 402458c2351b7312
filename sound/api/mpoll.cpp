// The polling thread and the poll routine.
#include "sound/api/mpoll.h"

#include "platform/hostpoll.h"
#include "platform/platform.h"
#include "sound/api/errors.h"
#include "sound/player/gmplayer.h"
#include "sound/api/mglobals.h"
#include "sound/output/sdevice.h"
#include "sound/api/virez.h"

#include <algorithm>

CriticalSection* library_lock = nullptr;
std::atomic<uint32_t> poll_sleep_ms{0};
std::atomic<int> poll_stop_request{0};

namespace {

ThreadHandle* playThread = nullptr;
int hostPolling = 0; // a host without threads calls pollFromHost in the thread's place

void pollFromHost() {
    poll_music();
}

void playThreadBody(void*) {
    threadRaisePriority();
    while (poll_stop_request.load() == 0) {
        poll_music();
        sleepMs(poll_sleep_ms.load());
    }
    // Tells the stopper that the poll and the sleep after it are over.
    poll_stop_request.store(0);
}

} // namespace

void create_library_lock() {
    if (!library_lock) library_lock = criticalCreate();
}

int start_play_thread(uint32_t sleepMs) {
    if (playThread || hostPolling) return errDeviceBusy;
    poll_sleep_ms.store(std::max<uint32_t>(sleepMs, 1));
    poll_stop_request.store(0);
    create_library_lock();
    if (!hostHasThreads()) {
        // One thread only (a web page): the host polls at the same pace from its own waits.
        hostPollStart(pollFromHost, poll_sleep_ms.load());
        hostPolling = 1;
        return errOK;
    }
    playThread = threadStart(playThreadBody, nullptr);
    if (!playThread) {
        virez_report("StartPlayThread: Couldn't create player thread!");
        return errOutOfResources;
    }
    return errOK;
}

int stop_play_thread() {
    if (hostPolling) {
        hostPollStop();
        hostPolling = 0;
        return errOK;
    }
    if (!playThread) return errOK;
    poll_stop_request.store(1);
    const uint32_t step = std::max<uint32_t>(poll_sleep_ms.load() / 2, 1);
    while (poll_stop_request.load() != 0)
        sleepMs(step);
    threadJoin(playThread);
    playThread = nullptr;
    return errOK;
}

int play_thread_running() {
    return playThread || hostPolling ? 1 : 0;
}

int poll_music() {
    lock_library();
    int err = errOK;
    if (device_initialised && currentDevice) {
        SoundDevice* device = currentDevice;
        err = device->beginPoll();
        if (!err) {
            int32_t again = 0;
            do {
                again = 0;
                if ((err = device->play(&again))) break;
                if (again && player_initialised && (err = gmp_play())) break;
            } while (again && !device->singlePlayPerPoll && poll_stop_request.load() == 0);
        }
        if (err) virez_fatal(err);
    }
    unlock_library();
    return err;
}

void lock_library() {
    create_library_lock();
    criticalEnter(library_lock);
}

void unlock_library() {
    criticalLeave(library_lock);
}
