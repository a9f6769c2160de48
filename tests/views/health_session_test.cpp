// The health model fed by a real session against the simulated bus: one sensor of each fault
// kind that a sensor can show on the line, scripted reply by reply, and the counts and states
// the health page then shows for each.
#include <gtest/gtest.h>

#include "bus/bus.h"
#include "core_session_fixture.h"
#include "views/health.h"
#include "views/history.h"
#include "views/view_feed.h"

namespace core_test {
namespace {

using veldra::views::HealthModel;
using veldra::views::HistoryStore;
using veldra::views::SensorState;
using veldra::views::ViewFeed;

constexpr int kBadStart = 0x0b5b00;
constexpr int kEmpty = 0x0e0e0e;
constexpr int kTooLong = 0x0f0f0f;

// A frame from the sensor whose checksum does not match.
std::vector<std::uint8_t> spoiled_frame(int address, const std::string& payload) {
    std::vector<std::uint8_t> frame = build_frame(0, address, payload);
    frame.back() ^= 0xFF;
    return frame;
}

class HealthSession : public CoreSession {};

TEST_F(HealthSession, CountsAndStatesOfOneSensorOfEachFaultKindOnTheLine) {
    auto& s = bus({kGood, kBadStart, kChecksum, kText, kEmpty, kTooLong});
    for (int query = 0; query < 4; ++query) {
        s.script_raw_reply(kBadStart, {0x42});
        s.script_raw_reply(kChecksum, spoiled_frame(kChecksum, "21.50"));
        s.script_reply_text(kText, "abc");
        s.script_reply_text(kEmpty, "");
        s.script_reply_text(kTooLong, std::string(10000, '1'));
    }
    HistoryStore history;
    HealthModel health;
    ViewFeed feed(history, health);
    Session& session =
        this->session({kGood, kSilent, kBadStart, kChecksum, kText, kEmpty, kTooLong});
    ASSERT_TRUE(session.add_observer(feed));
    start_and_pause_after_first_cycle(session);
    session.stop();

    struct Expected {
        int address;
        QueryStatus status;
        SensorState state;
    };
    const Expected expected[] = {
        {kGood, QueryStatus::Received, SensorState::Answering},
        {kSilent, QueryStatus::NoReply, SensorState::Silent},
        {kBadStart, QueryStatus::BadStartByte, SensorState::Failing},
        {kChecksum, QueryStatus::Checksum, SensorState::Failing},
        {kText, QueryStatus::NotANumber, SensorState::Failing},
        {kEmpty, QueryStatus::Empty, SensorState::Failing},
        {kTooLong, QueryStatus::TooLong, SensorState::Failing},
    };
    const auto snapshot = health.snapshot();
    ASSERT_EQ(snapshot.sensors.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const auto& h = snapshot.sensors[i];
        const Expected& e = expected[i];
        SCOPED_TRACE(std::string(status_name(e.status)));
        EXPECT_EQ(h.address, e.address);
        EXPECT_EQ(h.count(e.status), 4u);
        std::uint64_t all = 0;
        for (const std::uint64_t n : h.counts) {
            all += n;
        }
        EXPECT_EQ(all, 4u) << "a query counted under another kind";
        EXPECT_EQ(h.state, e.state);
        EXPECT_EQ(h.last_good.has_value(), e.status == QueryStatus::Received);
    }
}

}  // namespace
}  // namespace core_test
