// The plot history: recent values come back as they were; older ones thinned to min/max per
// bucket with every peak and every failed query kept, at every zoom and after buckets merge;
// memory stays bounded; a reader never sees a torn curve while the cycle appends.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <thread>

#include "record_builder.h"
#include "views/history.h"

namespace views_test {
namespace {

using veldra::core::Quantity;
using veldra::views::HistoryLimits;
using veldra::views::HistoryStore;
using veldra::views::PlotPoint;
using veldra::views::SeriesKey;
using veldra::views::TimeMs;
using veldra::views::to_time_ms;

constexpr int kSensor = 0x0a1b2c;
const SeriesKey kTemperature{kSensor, Quantity::Temperature};

// Two hours of cycles every 3 s; a slow wave with two peaks and one failed query, all in the
// part that has been thinned into buckets.
struct ThinnedSession {
    static constexpr int kCycles = 2400;
    static constexpr int kHigh = 700, kLow = 1300, kFailed = 1000;
    HistoryStore store;

    explicit ThinnedSession(HistoryLimits limits) : store(limits) {
        for (int i = 0; i < kCycles; ++i) {
            double v = 20.0 + std::sin(i / 200.0);
            if (i == kHigh) {
                v = 95.5;
            } else if (i == kLow) {
                v = -40.25;
            }
            const QueryResult q = i == kFailed ? Failure(QueryStatus::NoReply) : Answer(v);
            store.append(Cycle(i + 1, At(i), {Reading(kSensor, q)}));
        }
    }
    static std::chrono::system_clock::time_point At(int i) { return kStart + i * 3s; }
    static TimeMs Ms(int i) { return to_time_ms(At(i)); }
};

HistoryLimits SmallLimits(std::size_t maxBuckets) {
    HistoryLimits l;
    l.full_resolution = 10min;
    l.bucket_width = 1min;
    l.max_buckets = maxBuckets;
    return l;
}

// The points that stand within `slack` of t.
std::vector<PlotPoint> Near(const std::vector<PlotPoint>& points, TimeMs t, TimeMs slack) {
    std::vector<PlotPoint> near;
    std::copy_if(points.begin(), points.end(), std::back_inserter(near),
                 [&](const PlotPoint& p) { return std::llabs(p.time - t) <= slack; });
    return near;
}

TEST(History, ThinningKeepsEveryBucketsPeaksAndTheGapOfAFailedQuery) {
    struct Case {
        std::size_t maxBuckets;  // small: the buckets merge, the width doubles
        int columns;
    };
    for (const Case c : {Case{1 << 16, 2000}, Case{1 << 16, 300}, Case{1 << 16, 12}, Case{16, 2000},
                         Case{16, 40}}) {
        SCOPED_TRACE(std::to_string(c.maxBuckets) + " buckets, " + std::to_string(c.columns) +
                     " columns");
        ThinnedSession s(SmallLimits(c.maxBuckets));
        const auto points = s.store.query(kTemperature, s.Ms(0), s.Ms(s.kCycles - 1), c.columns);
        ASSERT_FALSE(points.empty());
        EXPECT_LE(points.size(), static_cast<std::size_t>(c.columns));

        float highest = -1e9F, lowest = 1e9F;
        for (const PlotPoint& p : points) {
            if (p.has_value()) {
                highest = std::max(highest, p.max);
                lowest = std::min(lowest, p.min);
                EXPECT_LE(p.min, p.max);
            }
        }
        EXPECT_FLOAT_EQ(highest, 95.5F);
        EXPECT_FLOAT_EQ(lowest, -40.25F);
        // The peaks stand where they happened, and the failure breaks the curve there.
        const TimeMs slack = std::max<TimeMs>((s.Ms(s.kCycles - 1) - s.Ms(0)) / c.columns,
                                              s.store.bucket_width(kTemperature).count());
        const auto high = Near(points, s.Ms(s.kHigh), slack);
        EXPECT_TRUE(std::any_of(high.begin(), high.end(),
                                [](const PlotPoint& p) { return p.max == 95.5F; }));
        const auto broken = std::count_if(points.begin(), points.end(),
                                          [](const PlotPoint& p) { return p.broken; });
        EXPECT_EQ(broken, 1);
        const auto failed = Near(points, s.Ms(s.kFailed), slack);
        EXPECT_TRUE(
            std::any_of(failed.begin(), failed.end(), [](const PlotPoint& p) { return p.broken; }));
        // A failed query is never a value of 0.
        for (const PlotPoint& p : points) {
            EXPECT_FALSE(p.has_value() && p.min == 0.0F);
        }
    }
    ThinnedSession merged(SmallLimits(16));
    EXPECT_GT(merged.store.bucket_width(kTemperature), 1min);
}

TEST(History, RecentValuesComeBackExactlyAndAFailureHasNoValue) {
    ThinnedSession s(SmallLimits(1 << 16));
    s.store.append(
        Cycle(9999, s.At(s.kCycles), {Reading(kSensor, Failure(QueryStatus::Checksum))}));
    s.store.append(Cycle(10000, s.At(s.kCycles + 1), {Reading(kSensor, Answer(21.75))}));
    const int first = s.kCycles - 10;
    const auto points = s.store.query(kTemperature, s.Ms(first), s.Ms(s.kCycles + 1), 4000);
    ASSERT_EQ(points.size(), 12u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(points[i].time, s.Ms(first + i));
        EXPECT_FLOAT_EQ(points[i].min, static_cast<float>(20.0 + std::sin((first + i) / 200.0)));
        EXPECT_EQ(points[i].min, points[i].max);
        EXPECT_FALSE(points[i].broken);
    }
    EXPECT_FALSE(points[10].has_value());
    EXPECT_TRUE(points[10].broken);
    EXPECT_FLOAT_EQ(points[11].max, 21.75F);
    // A reply that is not a number is no value to draw either.
    QueryResult nan = Failure(QueryStatus::NotANumber);
    s.store.append(Cycle(10001, s.At(s.kCycles + 2), {Reading(kSensor, nan)}));
    const auto last = s.store.query(kTemperature, s.Ms(s.kCycles + 2), s.Ms(s.kCycles + 2), 10);
    ASSERT_EQ(last.size(), 1u);
    EXPECT_TRUE(last[0].broken);
    EXPECT_FALSE(last[0].has_value());
}

TEST(History, ASensorTakenOffTheListLeavesAGapAndOneAddedLaterStartsThere) {
    HistoryStore store;
    const int other = 0x00fe01;
    for (int i = 0; i < 6; ++i) {
        std::vector<SensorReading> listed{Reading(kSensor, Answer(i))};
        if (i < 2 || i >= 4) {
            listed.push_back(Reading(other, Answer(100 + i)));
        }
        store.append(Cycle(i + 1, kStart + i * 30s, listed));
    }
    const auto points =
        store.query({other, Quantity::Counts}, to_time_ms(kStart), to_time_ms(kStart + 150s), 1000);
    ASSERT_EQ(points.size(), 5u);  // cycles 0, 1, the gap at 2, then 4 and 5
    // Each is the sample itself: no bucket summary mixes in where every sample is at hand.
    for (int i : {0, 1}) {
        EXPECT_EQ(points[i].time, to_time_ms(kStart + i * 30s));
        EXPECT_FLOAT_EQ(points[i].min, 100.0F + i);
        EXPECT_FLOAT_EQ(points[i].max, 100.0F + i);
    }
    EXPECT_TRUE(points[2].broken);
    EXPECT_EQ(points[2].time, to_time_ms(kStart + 60s));
    EXPECT_FLOAT_EQ(points[3].min, 104.0F);
    EXPECT_EQ(store.series().size(), 8u);
    EXPECT_EQ(store.addresses(), (std::vector<int>{kSensor, other}));
}

TEST(History, MemoryStaysBoundedOverAMonth) {
    // 30 days, 10 sensors, a cycle every 30 s: 86,400 cycles, 3.5 million values.
    HistoryStore store;
    std::vector<SensorReading> listed;
    for (int a = 0; a < 10; ++a) {
        listed.push_back(Reading(0x100 + a, Answer(1.0)));
    }
    for (int i = 0; i < 86400; ++i) {
        for (int a = 0; a < 10; ++a) {
            listed[static_cast<std::size_t>(a)].queries.fill(Answer(std::sin(i * 0.01 + a)));
        }
        store.append(Cycle(i + 1, kStart + i * 30s, listed));
    }
    EXPECT_LT(store.memory_bytes(), 40u << 20U);
    const auto whole = store.query({0x100, Quantity::Counts}, to_time_ms(kStart),
                                   to_time_ms(kStart + 86399 * 30s), 1200);
    EXPECT_GE(whole.size(), 1100u);
    EXPECT_LE(whole.size(), 1200u);
}

TEST(History, AReaderNeverWaitsLongOrSeesATornCurve) {
    HistoryStore store(SmallLimits(64));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 5000; ++i) {
            store.append(Cycle(i + 1, kStart + i * 3s, {Reading(kSensor, Answer(i % 7))}));
        }
        done = true;
    });
    int reads = 0;
    while (!done || reads == 0) {
        const auto span = store.time_span();
        if (!span) {
            continue;
        }
        const auto points = store.query(kTemperature, span->first, span->last, 500);
        for (std::size_t i = 1; i < points.size(); ++i) {
            ASSERT_LE(points[i - 1].time, points[i].time);
        }
        for (const PlotPoint& p : points) {
            ASSERT_TRUE(p.has_value());
            ASSERT_GE(p.min, 0.0F);
            ASSERT_LE(p.max, 6.0F);
        }
        ++reads;
    }
    writer.join();
    EXPECT_GT(reads, 0);
}

}  // namespace
}  // namespace views_test
