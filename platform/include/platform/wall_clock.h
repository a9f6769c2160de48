// The wall clock and pauses, for code that has no window: one reading gives the local date and
// time that the log files show and the same instant as UTC for anything sent elsewhere; a
// pause blocks its thread until its time is up or another thread cuts it short.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

// One reading of the clock. A cycle that starts on the stroke of midnight never pairs one
// day's date with the other day's time, as two separate reads can; and its UTC instant is the
// moment the local fields show.
struct WallClockReading {
    int year, month, day, hour, minute, second;
    // The same instant; a scripted reading may leave it out, it is then derived from the
    // local fields.
    std::chrono::system_clock::time_point utc{};
};

WallClockReading ReadWallClock();

// How long a pause of the given seconds lasts: the test scale applied, at most a day, never
// negative.
double ScaledDelaySeconds(double seconds);

// Blocks the calling thread for that long (after the scale).
void SleepScaled(double seconds);

// A pause that another thread can cut short: a stop need not wait for it to run out.
class InterruptiblePause {
  public:
    // Waits the given seconds (after the scale). False when interrupted, before or during.
    bool sleepFor(double seconds);
    // Ends the current and every later pause at once, until rearm().
    void interrupt();
    void rearm();

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool interrupted_ = false;
};

// Test seams: a fixed or scripted wall clock, and a scale applied to every pause and Delay.
// Passing an empty function restores the system clock; a scale of 1.0 restores real delays.
void SetWallClockForTesting(std::function<WallClockReading()> clock);
void SetDelayScaleForTesting(double scale);
