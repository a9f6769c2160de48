// Reading and changing a timer's attributes, and the engine resolution as callers see it.
#include <cstdarg>

#include "timer_library.h"

using namespace veldra::asynctimer;

namespace {

bool KnownAttribute(int attribute) {
    return attribute >= TIMER_ATTR_INTERVAL && attribute <= TIMER_ATTR_TIME_SINCE_PREVIOUS;
}

// The argument of each settable attribute, read in the type that attribute passes.
struct AttributeValue {
    double interval = 0.0;
    int number = 0;
    void* data = nullptr;
    AsyncTimerCallbackPtr callback = nullptr;
};

AttributeValue ReadValue(int attribute, va_list args) {
    AttributeValue value;
    switch (attribute) {
        case TIMER_ATTR_INTERVAL:
            value.interval = va_arg(args, double);
            break;
        case TIMER_ATTR_COUNT:
        case TIMER_ATTR_ENABLED:
            value.number = va_arg(args, int);
            break;
        case TIMER_ATTR_CALLBACK_DATA:
            value.data = va_arg(args, void*);
            break;
        case TIMER_ATTR_CALLBACK:
            value.callback = va_arg(args, AsyncTimerCallbackPtr);
            break;
        default:
            break;  // read-only attributes take no value
    }
    return value;
}

int SetInterval(const LibraryLock& lock, TimerRecord& record, double requested) {
    EngineTime interval;
    const double resolution = Resolution(lock);
    if (!ConvertInterval(requested, resolution, interval)) {
        return TIMER_ERR_INVALID_ARGUMENT;
    }
    if (resolution <= 0.0 || !EngineSetTimer(record.engine, interval)) {
        return TIMER_ERR_ENGINE;
    }
    record.interval = interval;
    return 0;
}

// The checks both attribute operations make first, then `action` on the timer under the lock.
template <typename Action>
int WithTimer(int timerId, bool arguments_valid, Action action) {
    if (!Initialise()) {
        return TIMER_ERR_INIT;
    }
    if (!arguments_valid) {
        return TIMER_ERR_INVALID_ARGUMENT;
    }
    LibraryLock lock(Library().lock);
    const RecordPtr record = FindTimer(lock, timerId);
    if (!record) {
        return TIMER_ERR_UNKNOWN_TIMER;
    }
    return action(lock, *record);
}

int SetAttribute(const LibraryLock& lock, TimerRecord& record, int attribute,
                 const AttributeValue& value) {
    switch (attribute) {
        case TIMER_ATTR_INTERVAL:
            return SetInterval(lock, record, value.interval);
        case TIMER_ATTR_COUNT:
            if (value.number == 0) {
                return TIMER_ERR_INVALID_ARGUMENT;
            }
            record.count = value.number;
            return 0;
        case TIMER_ATTR_ENABLED:
            if (value.number != 0 && value.number != 1) {
                return TIMER_ERR_INVALID_ARGUMENT;
            }
            // Under the lock: once this returns, no expiry can pass the dispatcher's check.
            record.enabled = value.number;
            EngineSetPaused(record.engine, value.number == 0);
            return 0;
        case TIMER_ATTR_CALLBACK_DATA:
            record.callback_data = value.data;
            return 0;
        case TIMER_ATTR_CALLBACK:
            record.callback = value.callback;
            return 0;
        case TIMER_ATTR_PRIORITY:
            return RealTime() ? TIMER_ERR_READ_ONLY : TIMER_ERR_NOT_SUPPORTED;
        default:
            return TIMER_ERR_READ_ONLY;
    }
}

int GetAttribute(const TimerRecord& record, int attribute, void* value) {
    switch (attribute) {
        case TIMER_ATTR_INTERVAL:
            *static_cast<double*>(value) = ToSeconds(record.interval);
            return 0;
        case TIMER_ATTR_COUNT:
            *static_cast<int*>(value) = record.count;
            return 0;
        case TIMER_ATTR_ENABLED:
            *static_cast<int*>(value) = record.enabled;
            return 0;
        case TIMER_ATTR_CALLBACK_DATA:
            *static_cast<void**>(value) = record.callback_data;
            return 0;
        case TIMER_ATTR_CALLBACK:
            *static_cast<AsyncTimerCallbackPtr*>(value) = record.callback;
            return 0;
        case TIMER_ATTR_PRIORITY:
            if (!RealTime()) {
                return TIMER_ERR_NOT_SUPPORTED;
            }
            *static_cast<int*>(value) = EngineGetPriority(record.engine);
            return 0;
        case TIMER_ATTR_TIME_SINCE_START:
            *static_cast<double*>(value) = record.last_since_start;
            return 0;
        default:
            *static_cast<double*>(value) = record.last_since_previous;
            return 0;
    }
}

}  // namespace

int SetAsyncTimerAttributeFromParmInfo(int timerId, int attribute, va_list args) {
    const bool known = KnownAttribute(attribute);
    // The value is taken before the lock, and only for an attribute that has one.
    const AttributeValue value = known ? ReadValue(attribute, args) : AttributeValue{};
    return WithTimer(timerId, known, [&](const LibraryLock& lock, TimerRecord& record) {
        return SetAttribute(lock, record, attribute, value);
    });
}

int SetAsyncTimerAttribute(int timerId, int attribute, ...) {
    va_list args;
    va_start(args, attribute);
    const int result = SetAsyncTimerAttributeFromParmInfo(timerId, attribute, args);
    va_end(args);
    return result;
}

int GetAsyncTimerAttribute(int timerId, int attribute, void* value) {
    return WithTimer(timerId, KnownAttribute(attribute) && value != nullptr,
                     [&](const LibraryLock& /*lock*/, const TimerRecord& record) {
                         return GetAttribute(record, attribute, value);
                     });
}

int GetAsyncTimerResolution(double* resolution) {
    if (resolution != nullptr) {
        *resolution = 0.0;
    }
    if (!Initialise()) {
        return TIMER_ERR_INIT;
    }
    if (resolution == nullptr) {
        return TIMER_ERR_INVALID_ARGUMENT;
    }
    LibraryLock lock(Library().lock);
    *resolution = Resolution(lock);
    return *resolution > 0.0 ? 0 : TIMER_ERR_INIT;
}
