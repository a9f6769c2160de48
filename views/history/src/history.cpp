// The history store: per curve a deque of the recent full-resolution samples, and min/max
// buckets at three widths that every sample joins as it arrives; a sample older than the
// full-resolution window leaves the deque and lives on in its buckets.
#include "views/history.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace veldra::views {

namespace {

constexpr std::uint8_t kHasValue = 1;
constexpr std::uint8_t kBroken = 2;
constexpr float kNoValue = std::numeric_limits<float>::quiet_NaN();

// What a curve shows for one query: its value, or nothing. A value that is not finite (a reply
// "inf" reads as a number) cannot be drawn either.
float plotted_value(const core::QueryResult& r) {
    if (r.status != core::QueryStatus::Received || !r.value || !std::isfinite(*r.value)) {
        return kNoValue;
    }
    const auto v = static_cast<float>(*r.value);
    return std::isfinite(v) ? v : kNoValue;
}

// One column of a query being filled.
struct Column {
    float min = kNoValue, max = kNoValue;
    bool broken = false;
    int items = 0;
    TimeMs time = 0;  // of the first item

    void add(TimeMs t, float lo, float hi, bool isBroken) {
        if (items++ == 0) {
            time = t;
        }
        broken = broken || isBroken;
        if (lo == lo) {
            min = min == min ? std::min(min, lo) : lo;
            max = max == max ? std::max(max, hi) : hi;
        }
    }
};

}  // namespace

TimeMs to_time_ms(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

HistoryStore::HistoryStore(HistoryLimits limits) : limits_(limits) {
    limits_.max_recent_samples = std::max<std::size_t>(limits_.max_recent_samples, 1);
    limits_.max_buckets = std::max<std::size_t>(limits_.max_buckets, 2);
    if (limits_.bucket_width.count() <= 0) {
        limits_.bucket_width = std::chrono::minutes(1);
    }
}

void HistoryStore::clear() {
    const std::lock_guard lock(mutex_);
    series_.clear();
    addresses_.clear();
    span_.reset();
    version_.fetch_add(1, std::memory_order_release);
}

HistoryStore::Series& HistoryStore::series_for(const SeriesKey& key, TimeMs now) {
    auto [it, inserted] = series_.try_emplace(key);
    Series& s = it->second;
    if (inserted) {
        if (std::find(addresses_.begin(), addresses_.end(), key.address) == addresses_.end()) {
            addresses_.push_back(key.address);
        }
        TimeMs width = limits_.bucket_width.count();
        for (Level& level : s.levels) {
            level.width = width;
            width *= kLevelRatio;
        }
        // Buckets on the wall clock's grid, so curves of one width share their edges.
        const TimeMs coarsest = s.levels.back().width;
        s.origin = now - ((now % coarsest) + coarsest) % coarsest;
    }
    return s;
}

void HistoryStore::append(const core::CycleRecord& record) {
    const std::lock_guard lock(mutex_);
    TimeMs now = to_time_ms(record.utc);
    // A clock set back must not unsort a curve: such cycles stand at the last time shown
    // until the clock has passed it again.
    if (span_) {
        now = std::max(now, span_->last);
    }
    ++cycles_;
    for (const core::SensorReading& reading : record.sensors) {
        for (const core::Quantity q : core::kQuantities) {
            Series& s = series_for({reading.address, q}, now);
            s.present = true;
            s.seen = cycles_;
            push(s, now, plotted_value(reading[q]));
        }
    }
    for (auto& [key, s] : series_) {
        if (s.present && s.seen != cycles_) {
            s.present = false;  // no longer listed: one gap, so the curve is not drawn across
            push(s, now, kNoValue);
        }
    }
    span_ = TimeSpan{span_ ? span_->first : now, now};
    version_.fetch_add(1, std::memory_order_release);
}

void HistoryStore::push(Series& s, TimeMs time, float value) {
    const Sample sample{time, value};
    summarise(s, sample);
    s.recent.push_back(sample);
    const TimeMs window = limits_.full_resolution.count();
    while (s.recent.size() > limits_.max_recent_samples ||
           (s.recent.size() > 1 && time - s.recent.front().time > window)) {
        s.retired = s.recent.front().time;
        s.recent.pop_front();
    }
}

void HistoryStore::summarise(Series& s, const Sample& sample) {
    while (std::max<TimeMs>(0, (sample.time - s.origin) / s.levels[0].width) >=
           static_cast<TimeMs>(limits_.max_buckets)) {
        halve_buckets(s);
    }
    for (Level& level : s.levels) {
        const auto k =
            static_cast<std::size_t>(std::max<TimeMs>(0, (sample.time - s.origin) / level.width));
        if (k >= level.buckets.size()) {
            // Grown by half at a time and never past the limit, so what a long session holds
            // in reserve stays small.
            if (k >= level.buckets.capacity()) {
                level.buckets.reserve(std::min(
                    limits_.max_buckets, std::max(k + 1, level.buckets.capacity() * 3 / 2 + 16)));
            }
            level.buckets.resize(k + 1, Bucket{kNoValue, kNoValue, 0});
        }
        Bucket& b = level.buckets[k];
        if (sample.value == sample.value) {
            b.min = (b.flags & kHasValue) != 0 ? std::min(b.min, sample.value) : sample.value;
            b.max = (b.flags & kHasValue) != 0 ? std::max(b.max, sample.value) : sample.value;
            b.flags |= kHasValue;
        } else {
            b.flags |= kBroken;
        }
    }
}

void HistoryStore::halve_buckets(Series& s) const {
    for (Level& level : s.levels) {
        const std::size_t n = level.buckets.size();
        std::vector<Bucket> merged((n + 1) / 2, Bucket{kNoValue, kNoValue, 0});
        for (std::size_t i = 0; i < n; ++i) {
            const Bucket& from = level.buckets[i];
            Bucket& to = merged[i / 2];
            if ((from.flags & kHasValue) != 0) {
                to.min = (to.flags & kHasValue) != 0 ? std::min(to.min, from.min) : from.min;
                to.max = (to.flags & kHasValue) != 0 ? std::max(to.max, from.max) : from.max;
            }
            to.flags |= from.flags;
        }
        level.buckets = std::move(merged);
        level.width *= 2;
    }
}

std::vector<SeriesKey> HistoryStore::series() const {
    const std::lock_guard lock(mutex_);
    std::vector<SeriesKey> keys;
    keys.reserve(series_.size());
    for (const auto& [key, s] : series_) {
        keys.push_back(key);
    }
    return keys;
}

std::vector<int> HistoryStore::addresses() const {
    const std::lock_guard lock(mutex_);
    return addresses_;
}

std::optional<TimeSpan> HistoryStore::time_span() const {
    const std::lock_guard lock(mutex_);
    return span_;
}

std::vector<PlotPoint> HistoryStore::query(const SeriesKey& key, TimeMs from, TimeMs to,
                                           int columns) const {
    std::vector<PlotPoint> points;
    if (to < from || columns < 1) {
        return points;
    }
    const std::lock_guard lock(mutex_);
    const auto it = series_.find(key);
    if (it == series_.end()) {
        return points;
    }
    const Series& s = it->second;
    const TimeMs span = to - from + 1;
    const auto column_of = [&](TimeMs t) {
        return static_cast<std::size_t>(
            std::clamp<TimeMs>((t - from) * columns / span, 0, columns - 1));
    };
    std::vector<Column> cols(static_cast<std::size_t>(columns));

    // The coarsest summary whose buckets are no wider than a column; where even the finest is
    // too coarse, the recent samples themselves (and the finest buckets before them).
    const TimeMs column_width = span / columns;
    std::size_t level = 0;
    while (level + 1 < kLevels && s.levels[level + 1].width <= column_width) {
        ++level;
    }
    const bool use_recent = column_width < s.levels[0].width && !s.recent.empty();
    const Level& l = s.levels[level];
    TimeMs bucket_to = to;
    if (use_recent) {
        // Buckets only for what has left the recent samples (the one bucket on the border
        // holds some of both).
        bucket_to = s.retired ? std::min(to, *s.retired) : from - 1;
    }
    if (!l.buckets.empty() && bucket_to >= from) {
        const TimeMs first = std::max<TimeMs>(0, (from - s.origin) / l.width);
        const TimeMs last = std::min<TimeMs>(static_cast<TimeMs>(l.buckets.size()) - 1,
                                             (bucket_to - s.origin) / l.width);
        for (TimeMs k = first; k <= last; ++k) {
            const Bucket& b = l.buckets[static_cast<std::size_t>(k)];
            if (b.flags == 0) {
                continue;
            }
            const TimeMs mid = std::clamp(s.origin + k * l.width + l.width / 2, from, to);
            cols[column_of(mid)].add(mid, b.min, b.max, (b.flags & kBroken) != 0);
        }
    }
    if (use_recent) {
        auto r = std::lower_bound(s.recent.begin(), s.recent.end(), from,
                                  [](const Sample& a, TimeMs t) { return a.time < t; });
        for (; r != s.recent.end() && r->time <= to; ++r) {
            cols[column_of(r->time)].add(r->time, r->value, r->value, r->value != r->value);
        }
    }

    for (int c = 0; c < columns; ++c) {
        const Column& col = cols[static_cast<std::size_t>(c)];
        if (col.items == 0) {
            continue;
        }
        const TimeMs middle = from + (2 * c + 1) * span / (2 * columns);
        points.push_back({col.items == 1 ? col.time : middle, col.min, col.max, col.broken});
    }
    return points;
}

std::size_t HistoryStore::memory_bytes() const {
    const std::lock_guard lock(mutex_);
    // libstdc++'s deque keeps its elements in 512-byte blocks.
    constexpr std::size_t kBlock = 512;
    std::size_t bytes = 0;
    for (const auto& [key, s] : series_) {
        const std::size_t blocks = (s.recent.size() * sizeof(Sample) + kBlock - 1) / kBlock + 1;
        bytes += blocks * kBlock + sizeof(Series) + 64;
        for (const Level& level : s.levels) {
            bytes += level.buckets.capacity() * sizeof(Bucket);
        }
    }
    return bytes;
}

std::chrono::milliseconds HistoryStore::bucket_width(const SeriesKey& key) const {
    const std::lock_guard lock(mutex_);
    const auto it = series_.find(key);
    return std::chrono::milliseconds(it == series_.end() ? 0 : it->second.levels[0].width);
}

}  // namespace veldra::views
