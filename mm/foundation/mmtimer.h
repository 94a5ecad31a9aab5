#pragma once
// The shared 25 ms timer: one platform timer drives every client event of the process, each with
// its own interval, suspend count and callback. The platform timer runs only while some event is
// not suspended, so a program whose events all wait costs no wake-ups. The displays time their peak hold and fall with
// it; the connector and the DSP meter do their periodic work in it.
//
// Callbacks run on the timer thread while the service lock is held. They may change intervals and
// suspend or resume events (the lock is re-entrant); they should only count, flag and post.
#include <cstdint>
#include <functional>

namespace vant {

struct TMMTimeEvent;
using PMMTimeEvent = TMMTimeEvent*;
using TMMTimeCallback = std::function<void(PMMTimeEvent handle, void* user_data)>;

// The period of the shared timer, and so the smallest interval of an event.
constexpr int kMMTimerPeriod = 25;

// Creates an event that fires every ceil(max(interval, 25) / 25)-th tick. Returns nullptr when
// the event is to run and the platform timer cannot be started.
PMMTimeEvent MMTimeSetEvent(int32_t interval, bool suspended, TMMTimeCallback callback,
                            void* user_data);
// Each of these does nothing for nullptr or a handle that is no longer alive.
// Sets the interval (at least 25) and starts counting it afresh.
void MMTimeSetInterval(PMMTimeEvent handle, int32_t interval);
// Suspensions are counted: two suspends need two resumes.
void MMTimeSuspendEvent(PMMTimeEvent handle);
void MMTimeResumeEvent(PMMTimeEvent handle);
// For an event with a single owner that turns it on and off from two threads (the GUI thread
// and its own callback): suspended or running whatever the count was, so the two cannot leave
// the count unbalanced.
void MMTimeSetSuspended(PMMTimeEvent handle, bool suspended);
// Frees the event.
void MMTimeKillEvent(PMMTimeEvent handle);

}  // namespace vant
