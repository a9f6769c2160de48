// The session's measurement history for the plots: per sensor address and quantity, every value
// of the recent hours at full resolution and, beyond them, the least and greatest value of each
// time bucket, so peaks survive the thinning. A failed query is a gap, never a value, and the
// gap survives the thinning too. Memory stays bounded however long the session runs: the
// buckets double in width when there are too many of them.
//
// Threads: one writer (the cycle's thread, through append) and any number of readers. Every
// call takes the store's mutex for a short time only; a reader that draws many curves takes one
// curve per call, so the writer never waits for a whole frame.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "logging/cycle_record.h"

namespace veldra::views {

// Milliseconds since the Unix epoch (UTC); the views show them as local wall-clock time.
using TimeMs = std::int64_t;

TimeMs to_time_ms(std::chrono::system_clock::time_point t);

struct SeriesKey {
    int address = 0;
    core::Quantity quantity = core::Quantity::Counts;
    friend auto operator<=>(const SeriesKey&, const SeriesKey&) = default;
};

// One point of a curve as a reader gets it: a single sample, or the summary of a stretch of
// time (one bucket or one column of the view).
struct PlotPoint {
    TimeMs time = 0;      // the sample's time, or the middle of the stretch
    float min = 0;        // least good value; NaN when the stretch holds none
    float max = 0;        // greatest good value; NaN when the stretch holds none
    bool broken = false;  // a failed query lies here: the curve must not be drawn through it
    bool has_value() const { return min == min; }  // false for NaN
};

struct TimeSpan {
    TimeMs first = 0, last = 0;
};

struct HistoryLimits {
    std::chrono::milliseconds full_resolution = std::chrono::hours(12);
    std::size_t max_recent_samples = 1U << 16U;  // per curve, whatever the interval
    std::chrono::milliseconds bucket_width = std::chrono::minutes(1);  // the first width
    std::size_t max_buckets = 1U << 16U;  // per curve; then pairs merge and the width doubles
};

class HistoryStore {
  public:
    explicit HistoryStore(HistoryLimits limits = {});

    // Forgets everything: a new session begins.
    void clear();
    // Adds every value of one cycle. O(1) amortised per value. A sensor of an earlier cycle
    // that this cycle no longer lists gets a gap, so its curve is not drawn across the time
    // it was away.
    void append(const core::CycleRecord& record);

    std::vector<SeriesKey> series() const;
    // Every sensor address of the session, in the order the cycles first listed them.
    std::vector<int> addresses() const;
    std::optional<TimeSpan> time_span() const;  // first and last cycle

    // The curve between from and to (inclusive), thinned to at most about `columns` points:
    // each column of the span carries the least and greatest good value in it and whether a
    // failed query lies in it. A column with a single sample gives that sample as it is.
    std::vector<PlotPoint> query(const SeriesKey& key, TimeMs from, TimeMs to, int columns) const;

    // Bumped by every change; a view redraws when it differs from what it drew.
    std::uint64_t version() const { return version_.load(std::memory_order_acquire); }
    // What the store holds on the heap, in bytes (capacity, not just size).
    std::size_t memory_bytes() const;
    // The width of the oldest stretch's buckets now, for tests and reports.
    std::chrono::milliseconds bucket_width(const SeriesKey& key) const;

  private:
    struct Sample {
        TimeMs time;
        float value;  // NaN: the query failed
    };
    struct Bucket {
        float min, max;  // NaN when no good value fell in
        std::uint8_t flags;
    };
    // Summaries at five widths, each 4 times the one before, so a reader of any zoom visits
    // at most about four buckets per column.
    static constexpr std::size_t kLevels = 5;
    static constexpr TimeMs kLevelRatio = 4;
    struct Level {
        std::vector<Bucket> buckets;  // bucket k spans [origin + k*width, origin + (k+1)*width)
        TimeMs width = 0;
    };
    struct Series {
        std::deque<Sample> recent;
        std::array<Level, kLevels> levels;
        TimeMs origin = 0;
        std::optional<TimeMs> retired;  // the newest sample that left `recent`, if any did
        bool present = true;            // listed in the last cycle
        std::uint64_t seen = 0;         // the last cycle that listed it
    };

    Series& series_for(const SeriesKey& key, TimeMs now);
    void push(Series& s, TimeMs time, float value);
    void summarise(Series& s, const Sample& sample);
    void halve_buckets(Series& s) const;

    HistoryLimits limits_;
    mutable std::mutex mutex_;
    std::map<SeriesKey, Series> series_;
    std::vector<int> addresses_;
    std::optional<TimeSpan> span_;
    std::uint64_t cycles_ = 0;
    std::atomic<std::uint64_t> version_{0};
};

}  // namespace veldra::views
