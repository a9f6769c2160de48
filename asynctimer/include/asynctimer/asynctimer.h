// Periodic timers whose callbacks run on timer-engine threads, not on the GUI thread.
// Ids, attribute ids, event codes and result codes are part of the library's contract.
//
// Every operation may be called from any thread, a callback included: no lock of the library is
// held while a callback runs. Each timer has a thread of its own; its expiries follow a fixed
// schedule (no drift) and never overlap: an expiry that falls due while the previous tick still
// runs comes as soon as that tick ends, and any others missed meanwhile are dropped. Setting
// a new interval restarts the period from that moment; setting the interval the timer already
// has (as a tick that sets its own interval does every time) keeps the schedule, so the ticks
// stay on their grid however late in the tick it is set. The process may end with timers live:
// running ticks finish and the engine's threads are joined at exit.
#pragma once

#include <cstdarg>

// Callback shape shared with control callbacks: (reserved 0, timer id, event, data, and
// the addresses of two doubles: seconds since the first tick, seconds since the previous one).
// The doubles are valid only during the call.
using AsyncTimerCallbackPtr = int (*)(int reserved, int timerId, int event, void* callbackData,
                                      void* eventData1, void* eventData2);

// Event codes.
inline constexpr int TIMER_EVENT_TICK = 15;
inline constexpr int TIMER_EVENT_DISCARD = 16;

// Attribute ids.
inline constexpr int TIMER_ATTR_INTERVAL = 1;             // double, seconds
inline constexpr int TIMER_ATTR_COUNT = 2;                // int, negative = unlimited
inline constexpr int TIMER_ATTR_ENABLED = 3;              // int, 0 or 1
inline constexpr int TIMER_ATTR_CALLBACK_DATA = 4;        // void*
inline constexpr int TIMER_ATTR_CALLBACK = 5;             // AsyncTimerCallbackPtr
inline constexpr int TIMER_ATTR_PRIORITY = 6;             // int
inline constexpr int TIMER_ATTR_TIME_SINCE_START = 7;     // double, read only
inline constexpr int TIMER_ATTR_TIME_SINCE_PREVIOUS = 8;  // double, read only

// Result codes.
inline constexpr int TIMER_ERR_ENGINE = -2;
inline constexpr int TIMER_ERR_NO_IDS = -3;
inline constexpr int TIMER_ERR_NO_MEMORY = -4;
inline constexpr int TIMER_ERR_UNKNOWN_TIMER = -5;
inline constexpr int TIMER_ERR_INIT = -6;
inline constexpr int TIMER_ERR_INVALID_ARGUMENT = -7;
inline constexpr int TIMER_ERR_NOT_SUPPORTED = -8;
inline constexpr int TIMER_ERR_READ_ONLY = -9;
inline constexpr int TIMER_ERR_IN_OWN_CALLBACK = -10;  // waiting for oneself would never end

int NewAsyncTimer(double interval, int count, int initialState, AsyncTimerCallbackPtr callback,
                  void* callbackData);
int NewAsyncTimerWithPriority(double interval, int count, int initialState,
                              AsyncTimerCallbackPtr callback, void* callbackData, int priority);
// Discards one timer, or every timer for -1. The discard event runs on the calling thread. When
// it returns, no tick of the timer is running or will start, with two exceptions that would
// otherwise wait forever: a timer discarded from its own tick (that tick finishes after the
// call), and a timer discarded from another timer's tick while its own tick runs. The -1 form,
// called outside any tick, also waits for such ticks of timers discarded earlier.
int DiscardAsyncTimer(int timerId);
int SuspendAsyncTimerCallbacks();
int ResumeAsyncTimerCallbacks();
int SetAsyncTimerAttribute(int timerId, int attribute, ...);
int SetAsyncTimerAttributeFromParmInfo(int timerId, int attribute, va_list args);
int GetAsyncTimerAttribute(int timerId, int attribute, void* value);
int GetAsyncTimerResolution(double* resolution);

// Blocks until no tick callback of the timer is running, and returns 0 (at once when none is).
// Together with disabling the timer first (after SetAsyncTimerAttribute(id, TIMER_ATTR_ENABLED,
// 0) returns, no new tick callback starts) this waits out a cycle in progress. Called from
// inside that timer's own tick callback it returns TIMER_ERR_IN_OWN_CALLBACK at once instead of
// waiting for itself; an unknown id gives TIMER_ERR_UNKNOWN_TIMER.
int WaitForAsyncTimerCallback(int timerId);
