// The health model after a scripted session: one sensor of each fault kind, the line pulled and
// put back, cycles that overrun the interval; and the feed that fills it from the session.
#include <gtest/gtest.h>

#include "record_builder.h"
#include "views/health.h"
#include "views/health_text.h"
#include "views/view_feed.h"

namespace views_test {
namespace {

using veldra::core::kQueryStatusCount;
using veldra::views::HealthModel;
using veldra::views::LineCondition;
using veldra::views::SensorHealth;
using veldra::views::SensorState;

// One sensor per query status: address 0x100 + the status's number answers every query so.
std::vector<SensorReading> OneOfEachKind() {
    std::vector<SensorReading> listed;
    for (std::size_t k = 0; k < kQueryStatusCount; ++k) {
        const auto status = static_cast<QueryStatus>(k);
        listed.push_back(Reading(0x100 + static_cast<int>(k),
                                 status == QueryStatus::Received ? Answer(21.5) : Failure(status)));
    }
    return listed;
}

veldra::core::SessionInfo Info(const std::vector<SensorReading>& listed, int interval) {
    veldra::core::SessionInfo info;
    info.com_port = 40;
    info.interval_seconds = interval;
    info.started = kStart;
    for (const SensorReading& s : listed) {
        info.addresses.push_back(s.address);
    }
    return info;
}

TEST(Health, CountsAndStatesOfOneSensorOfEachFaultKind) {
    HealthModel model;
    const auto listed = OneOfEachKind();
    model.session_started(Info(listed, 30));
    EXPECT_EQ(model.snapshot().sensors.size(), kQueryStatusCount);
    EXPECT_EQ(model.snapshot().sensors[0].state, SensorState::Waiting);
    constexpr int kCycles = 7;
    for (int i = 0; i < kCycles; ++i) {
        model.add(Cycle(i + 1, kStart + i * 30s, listed));
    }
    const auto snap = model.snapshot();
    ASSERT_EQ(snap.sensors.size(), kQueryStatusCount);
    for (std::size_t k = 0; k < kQueryStatusCount; ++k) {
        const SensorHealth& h = snap.sensors[k];
        const auto status = static_cast<QueryStatus>(k);
        SCOPED_TRACE(std::string(veldra::core::status_name(status)));
        EXPECT_EQ(h.address, 0x100 + static_cast<int>(k));
        for (std::size_t j = 0; j < kQueryStatusCount; ++j) {
            EXPECT_EQ(h.counts[j], j == k ? 4u * kCycles : 0u) << j;
        }
        const bool good = status == QueryStatus::Received;
        const bool silent = status == QueryStatus::NoReply || status == QueryStatus::NotSent;
        EXPECT_EQ(h.state, good ? SensorState::Answering
                                : (silent ? SensorState::Silent : SensorState::Failing));
        EXPECT_EQ(h.last_good.has_value(), good);
        ASSERT_TRUE(h.good_share());
        EXPECT_DOUBLE_EQ(*h.good_share(), good ? 1.0 : 0.0);
        EXPECT_EQ(h.last_exchange, 120ms);
        EXPECT_EQ(veldra::views::last_good_text(h),
                  good ? veldra::views::clock_text(kStart + 180s) : "never");
    }
    EXPECT_EQ(veldra::views::good_share_text(snap.sensors[0]), "100.0 %");
    EXPECT_EQ(veldra::views::exchange_text(snap.sensors[0]), "120 ms");
}

TEST(Health, TheShareOfGoodAnswersCoversTheLastHourOnly) {
    HealthModel model;
    // An hour and a half at 30 s: the first hour half failing, the last half hour all good.
    for (int i = 0; i < 180; ++i) {
        SensorReading r = Reading(0xabc, Answer(1.0));
        if (i < 120) {
            r.queries[0] = Failure(QueryStatus::Checksum);
            r.queries[1] = Failure(QueryStatus::Checksum);
        }
        model.add(Cycle(i + 1, kStart + i * 30s, {r}));
    }
    const SensorHealth h = model.snapshot().sensors.at(0);
    // The hour before the last cycle holds cycles 60..179: 60 half good, 60 all good.
    EXPECT_DOUBLE_EQ(*h.good_share(), (60 * 2 + 60 * 4) / (120.0 * 4));
    EXPECT_EQ(h.count(QueryStatus::Checksum), 240u);
    EXPECT_EQ(h.state, SensorState::Answering);
}

TEST(Health, ASensorThatFailsNowAndThenIsFailingUntilItHasGoneWellForAWhile) {
    HealthModel model;
    auto cycle = [&, n = 0](const QueryResult& q) mutable {
        model.add(Cycle(++n, kStart + n * 30s, {Reading(0xabc, q)}));
        return model.snapshot().sensors.at(0).state;
    };
    EXPECT_EQ(cycle(Answer(1.0)), SensorState::Answering);  // a clean start
    EXPECT_EQ(cycle(Failure(QueryStatus::Checksum)), SensorState::Failing);
    for (int i = 1; i < veldra::views::kRecentCycles; ++i) {
        EXPECT_EQ(cycle(Answer(1.0)), SensorState::Failing) << i;
    }
    EXPECT_EQ(cycle(Answer(1.0)), SensorState::Answering);
    EXPECT_EQ(cycle(Failure(QueryStatus::NoReply)), SensorState::Silent);
    EXPECT_EQ(cycle(Answer(1.0)), SensorState::Failing);
}

TEST(Health, TheLineTellsWhenTheDeviceWentAndCameBack) {
    HealthModel model;
    const std::vector<SensorReading> one{Reading(0xabc, Answer(1.0))};
    model.session_started(Info(one, 30));
    EXPECT_EQ(veldra::views::line_text(model.snapshot()), "COM 40: waiting for the first cycle");
    model.add(Cycle(1, kStart, one));
    EXPECT_EQ(model.snapshot().line.condition, LineCondition::Open);
    EXPECT_EQ(veldra::views::line_text(model.snapshot()), "COM 40 = /dev/ttyUSB0: open");

    const auto gone = kStart + 40s;
    model.notice({veldra::core::NoticeKind::DeviceGone, "gone", gone});
    // The records of the cycles that follow say so too; the first time stays.
    model.add(Cycle(2, kStart + 60s, {Reading(0xabc, Failure(QueryStatus::NotSent))}, 30, false));
    auto snap = model.snapshot();
    EXPECT_EQ(snap.line.condition, LineCondition::Gone);
    EXPECT_EQ(snap.line.gone_since, gone);
    EXPECT_EQ(snap.sensors.at(0).state, SensorState::Silent);
    EXPECT_EQ(veldra::views::line_text(snap),
              "COM 40 = /dev/ttyUSB0: device gone since " + veldra::views::clock_text(gone));

    model.add(Cycle(3, kStart + 90s, one));
    snap = model.snapshot();
    EXPECT_EQ(snap.line.condition, LineCondition::Back);
    EXPECT_EQ(veldra::views::line_text(snap), "COM 40 = /dev/ttyUSB0: open again, back at " +
                                                  veldra::views::clock_text(kStart + 90s) +
                                                  " (gone since " +
                                                  veldra::views::clock_text(gone) + ")");

    model.session_ended({3, kStart + 90s});
    EXPECT_NE(
        veldra::views::line_text(model.snapshot())
            .find("logging stopped, last cycle at " + veldra::views::clock_text(kStart + 90s)),
        std::string::npos);
}

TEST(Health, OverrunningCyclesNameTheSensorsThatCostTheTime) {
    HealthModel model;
    // Two answer at once, one is silent: four time-outs of 2 s against a 6 s interval.
    const std::vector<SensorReading> listed{Reading(0x0a1b2c, Answer(1.0, 100ms)),
                                            Reading(0x00fe01, Failure(QueryStatus::NoReply, 2s)),
                                            Reading(0x01a2b3, Answer(1.0, 100ms))};
    model.add(Cycle(1, kStart, listed, 6));
    auto snap = model.snapshot();
    EXPECT_TRUE(snap.cycle.overrun);
    EXPECT_EQ(snap.cycle.costly_sensors, std::vector<int>{0x00fe01});
    EXPECT_EQ(veldra::views::cycle_text(snap),
              "Cycles overrun the interval: the last took 8.8 s for a 6 s interval (1 of 1 "
              "cycles); the time goes to 00fe01 (8.0 s)");
    // Not an overrun: the 8.8 s fit into 10 s.
    model.add(Cycle(2, kStart + 10s, listed, 10));
    snap = model.snapshot();
    EXPECT_FALSE(snap.cycle.overrun);
    EXPECT_EQ(veldra::views::cycle_text(snap),
              "Cycle 8.8 s of the 10 s interval (1 of 2 cycles overran it)");
}

TEST(Health, TheFeedFillsBothModelsAndTellsTheViews) {
    veldra::views::HistoryStore history;
    HealthModel health;
    int told = 0;
    veldra::views::ViewFeed feed(history, health, [&] { ++told; });
    const std::vector<SensorReading> one{Reading(0xabc, Answer(1.0))};
    veldra::core::SessionObserver& observer = feed;
    observer.session_started(Info(one, 30));
    observer.cycle_finished(Cycle(1, kStart, one));
    observer.notice({veldra::core::NoticeKind::DiskLow, "Free space low: 80 MB left", kStart});
    EXPECT_EQ(told, 3);
    EXPECT_EQ(history.series().size(), 4u);
    const auto snap = health.snapshot();
    EXPECT_EQ(snap.cycle.cycles, 1u);
    EXPECT_EQ(snap.disk_line.text, "Free space low: 80 MB left");
    EXPECT_TRUE(snap.disk_line.warning);
    // A new session starts the plots afresh.
    observer.session_started(Info(one, 30));
    EXPECT_TRUE(history.series().empty());
    EXPECT_EQ(health.snapshot().cycle.cycles, 0u);
}

}  // namespace
}  // namespace views_test
