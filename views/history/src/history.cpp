// The history store: a deque of full-resolution samples per curve, and behind it a vector of
// min/max buckets that a sample joins when it grows older than the full-resolution window.
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
    span_.reset();
    version_.fetch_add(1, std::memory_order_release);
}

HistoryStore::Series& HistoryStore::series_for(const SeriesKey& key, TimeMs now) {
    auto [it, inserted] = series_.try_emplace(key);
    Series& s = it->second;
    if (inserted) {
        s.width = limits_.bucket_width.count();
        // Buckets on the wall clock's grid, so curves of one width share their edges.
        s.origin = now - ((now % s.width) + s.width) % s.width;
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
    s.recent.push_back({time, value});
    const TimeMs window = limits_.full_resolution.count();
    while (s.recent.size() > limits_.max_recent_samples ||
           (s.recent.size() > 1 && time - s.recent.front().time > window)) {
        retire(s, s.recent.front());
        s.recent.pop_front();
    }
}

void HistoryStore::retire(Series& s, const Sample& sample) {
    TimeMs index = std::max<TimeMs>(0, (sample.time - s.origin) / s.width);
    while (index >= static_cast<TimeMs>(limits_.max_buckets)) {
        halve_buckets(s);
        index /= 2;
    }
    const auto k = static_cast<std::size_t>(index);
    if (k >= s.buckets.size()) {
        s.buckets.resize(k + 1, Bucket{kNoValue, kNoValue, 0});
    }
    Bucket& b = s.buckets[k];
    if (sample.value == sample.value) {
        b.min = (b.flags & kHasValue) != 0 ? std::min(b.min, sample.value) : sample.value;
        b.max = (b.flags & kHasValue) != 0 ? std::max(b.max, sample.value) : sample.value;
        b.flags |= kHasValue;
    } else {
        b.flags |= kBroken;
    }
}

void HistoryStore::halve_buckets(Series& s) const {
    const std::size_t n = s.buckets.size();
    std::vector<Bucket> merged((n + 1) / 2, Bucket{kNoValue, kNoValue, 0});
    for (std::size_t i = 0; i < n; ++i) {
        const Bucket& from = s.buckets[i];
        Bucket& to = merged[i / 2];
        if ((from.flags & kHasValue) != 0) {
            to.min = (to.flags & kHasValue) != 0 ? std::min(to.min, from.min) : from.min;
            to.max = (to.flags & kHasValue) != 0 ? std::max(to.max, from.max) : from.max;
        }
        to.flags |= from.flags;
    }
    merged.reserve(limits_.max_buckets);
    s.buckets = std::move(merged);
    s.width *= 2;
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
    const double span = static_cast<double>(to - from) + 1.0;
    const auto column_of = [&](TimeMs t) {
        const auto c = static_cast<int>(static_cast<double>(t - from) * columns / span);
        return std::clamp(c, 0, columns - 1);
    };
    std::vector<Column> cols(static_cast<std::size_t>(columns));

    if (!s.buckets.empty()) {
        const TimeMs first = std::max<TimeMs>(0, (from - s.origin) / s.width);
        const TimeMs last =
            std::min<TimeMs>(static_cast<TimeMs>(s.buckets.size()) - 1, (to - s.origin) / s.width);
        for (TimeMs k = first; k <= last; ++k) {
            const Bucket& b = s.buckets[static_cast<std::size_t>(k)];
            if (b.flags == 0) {
                continue;
            }
            const TimeMs mid = std::clamp(s.origin + k * s.width + s.width / 2, from, to);
            cols[static_cast<std::size_t>(column_of(mid))].add(mid, b.min, b.max,
                                                               (b.flags & kBroken) != 0);
        }
    }
    auto r = std::lower_bound(s.recent.begin(), s.recent.end(), from,
                              [](const Sample& a, TimeMs t) { return a.time < t; });
    for (; r != s.recent.end() && r->time <= to; ++r) {
        cols[static_cast<std::size_t>(column_of(r->time))].add(r->time, r->value, r->value,
                                                               r->value != r->value);
    }

    for (int c = 0; c < columns; ++c) {
        const Column& col = cols[static_cast<std::size_t>(c)];
        if (col.items == 0) {
            continue;
        }
        const TimeMs middle = from + static_cast<TimeMs>((c + 0.5) * span / columns);
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
        bytes += blocks * kBlock + s.buckets.capacity() * sizeof(Bucket) + sizeof(Series) + 64;
    }
    return bytes;
}

std::chrono::milliseconds HistoryStore::bucket_width(const SeriesKey& key) const {
    const std::lock_guard lock(mutex_);
    const auto it = series_.find(key);
    return std::chrono::milliseconds(it == series_.end() ? 0 : it->second.width);
}

}  // namespace veldra::views
