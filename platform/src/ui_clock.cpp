// Delay, date and time as the program calls them, over the wall clock: a Delay on the GUI
// thread keeps the windows painting.
#include "platform/ui.h"
#include "platform/wall_clock.h"
#include "registry.h"

using namespace veldra::ui;

int Delay(double seconds) {
    const double scaled = ScaledDelaySeconds(seconds);
    if (!(scaled > 0.0)) {
        return 0;
    }
    FrontEnd* f = nullptr;
    {
        Registry& r = TheRegistry();
        const std::lock_guard lock(r.mutex);
        f = r.frontEnd;
    }
    if (f != nullptr && f->isGuiThread()) {
        f->delay(scaled);
    } else {
        SleepScaled(seconds);
    }
    return 0;
}

int GetSystemDate(int& month, int& day, int& year) {
    const WallClockReading now = ReadWallClock();
    month = now.month;
    day = now.day;
    year = now.year;
    return 0;
}

int GetSystemTime(int& hours, int& minutes, int& seconds) {
    const WallClockReading now = ReadWallClock();
    hours = now.hour;
    minutes = now.minute;
    seconds = now.second;
    return 0;
}

int GetSystemDateTime(WallClockReading& now) {
    now = ReadWallClock();
    return 0;
}
