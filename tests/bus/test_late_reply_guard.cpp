// The late-reply bookkeeping of a port on its own, on a clock of the test's making: which frames
// are skipped as late answers, when a send must listen first and when a sensor is taken as
// absent, what a late answer settles, how long an answer is awaited. Timing is exact here;
// the transaction and session tests show the same rules on a real line.
#include <gtest/gtest.h>

#include <vector>

#include "late_reply_guard.h"

namespace {

using veldra::bus::LateReplyGuard;
using Verdict = LateReplyGuard::Verdict;
using Clock = LateReplyGuard::Clock;
using namespace std::chrono_literals;

constexpr std::uint32_t kA = 0x0A0A0A;
constexpr std::uint32_t kB = 0x0B0B0B;
constexpr auto kTimeout = 2s;
constexpr auto kPause = 100ms;

class Guard : public ::testing::Test {
  protected:
    // A request to `to` at the current time whose answer never comes; time moves past its
    // time-out and the pause after it.
    void miss(std::uint32_t to) {
        guard.request_sent(to, now, kTimeout);
        now += kTimeout;
        guard.reply_missing(now);
        now += kPause;
    }
    // A request to `to` answered at once by a frame carrying `from`.
    Verdict answered(std::uint32_t to, std::uint32_t from) {
        guard.request_sent(to, now, kTimeout);
        now += 10ms;
        const Verdict v = guard.judge_reply(from, now);
        if (v == Verdict::Answer) {
            guard.reply_taken(from);
        } else {
            guard.reply_missing(now);
        }
        now += kPause;
        return v;
    }
    // What a send to `to` would do now: listen until when (nullopt: go at once).
    std::optional<Clock::duration> listen_for(std::uint32_t to) {
        const auto until = guard.listen_until(to, now);
        return until ? std::optional(*until - now) : std::nullopt;
    }

    LateReplyGuard guard;
    Clock::time_point now = Clock::time_point{} + 1h;
};

TEST_F(Guard, AnAnswerIsAwaitedOneMoreTimeOutPastItsOwnAtMostOneSecond) {
    EXPECT_EQ(LateReplyGuard::covered_lateness(2s), 3s);
    EXPECT_EQ(LateReplyGuard::covered_lateness(200ms), 400ms);
}

// A miss is listened for before the next request to that sensor, up to the covered time; a
// sensor that never answers only once, one that has answered for five misses in a row.
TEST_F(Guard, ListeningAfterAMissUntilASensorIsTakenAsAbsent) {
    miss(kA);
    EXPECT_EQ(listen_for(kA), 3s - kTimeout - kPause);
    EXPECT_EQ(listen_for(kB), std::nullopt) << "nothing of B is awaited";
    now += 1s;  // the listen found nothing
    miss(kA);
    EXPECT_EQ(listen_for(kA), std::nullopt) << "never answered: taken as absent";

    EXPECT_EQ(answered(kB, kB), Verdict::Answer);
    std::vector<bool> listened;
    for (int i = 0; i < 6; ++i) {
        miss(kB);
        listened.push_back(listen_for(kB).has_value());
        now += 1s;
    }
    EXPECT_EQ(listened, (std::vector<bool>{true, true, true, true, false, false}));
    // A frame of its own turning up, even late, shows it is there: listened for again.
    miss(kB);
    guard.frame_seen(kB, now);
    EXPECT_EQ(listen_for(kB), std::nullopt) << "its late answer settled the miss";
    miss(kB);
    EXPECT_TRUE(listen_for(kB).has_value());
}

// Bytes that make no frame are awaited past as silence is, and count as misses as silence
// does: a sensor that only ever sends noise is soon taken as absent, not listened for at every
// request. A spoiled frame of another sensor is no miss of the one asked.
TEST_F(Guard, NoiseInsteadOfAnAnswerIsAMiss) {
    const auto noise = [&](std::uint32_t to, std::optional<std::uint32_t> frame_of) {
        guard.request_sent(to, now, kTimeout);
        now += 10ms;
        guard.reply_spoiled(frame_of, now);
        now += kPause;
    };
    noise(kA, std::nullopt);
    EXPECT_EQ(listen_for(kA), 3s - 10ms - kPause) << "its answer may still come";
    now += 1s;
    noise(kA, std::nullopt);
    EXPECT_EQ(listen_for(kA), std::nullopt) << "never answered, noise twice: taken as absent";

    EXPECT_EQ(answered(kB, kB), Verdict::Answer);
    for (int i = 0; i < 5; ++i) {
        noise(kB, kA);  // a spoiled frame carrying A's address
        now += 1s;
    }
    EXPECT_TRUE(listen_for(kB).has_value()) << "another's spoiled frames are no misses of B";
}

// While A's answer may still come, a frame carrying A's address in B's wait is A's late answer;
// it settles A, so B's answer behind it is taken. Once A's time has passed, it is not skipped.
TEST_F(Guard, AnotherSensorsLateAnswerIsToldByItsAddress) {
    miss(kA);
    guard.request_sent(kB, now, kTimeout);
    EXPECT_EQ(guard.judge_reply(kA, now + 300ms), Verdict::LateAnswer);
    EXPECT_EQ(guard.judge_reply(kB, now + 310ms), Verdict::Answer);
    guard.reply_taken(kB);
    now += 400ms;

    miss(kA);
    now += 1s;  // past A's covered time
    EXPECT_EQ(answered(kB, kA), Verdict::Answer);
}

// A sensor's answers may carry another address; once one was taken, a late one carrying that
// address is tied to the sensor as well.
TEST_F(Guard, ALearnedReplyAddressTiesLateAnswersToTheirSensor) {
    constexpr std::uint32_t kCarried = 0x000000;
    EXPECT_EQ(answered(kA, kCarried), Verdict::Answer);
    miss(kA);
    EXPECT_EQ(answered(kB, kCarried), Verdict::LateAnswer);
}

// Taken as absent, A is not listened for; should it answer again within the covered time of
// its last miss, that frame may be the late answer, whatever it carries: skipped, never a
// guess. It settles the miss, so the next frame is the answer.
TEST_F(Guard, WhileASensorsOwnAnswerMayComeNoFrameIsItsAnswer) {
    miss(kA);
    now += 1s;
    miss(kA);
    ASSERT_EQ(listen_for(kA), std::nullopt);
    guard.request_sent(kA, now, kTimeout);
    EXPECT_EQ(guard.judge_reply(0x123456, now + 5ms), Verdict::LateAnswer);
    EXPECT_EQ(guard.judge_reply(kA, now + 6ms), Verdict::Answer);
    guard.reply_taken(kA);
    miss(kA);
    EXPECT_TRUE(listen_for(kA).has_value()) << "it answered: listened for again";
}

// A sensor late for every request: each late answer, however it is seen, settles one request,
// so the guard never waits longer than the answer takes and never takes one for another.
TEST_F(Guard, ASensorLateEveryTimeIsListenedForUntilItsAnswerComes) {
    for (int request = 0; request < 4; ++request) {
        SCOPED_TRACE(request);
        if (request > 0) {
            const auto listen = listen_for(kA);
            ASSERT_TRUE(listen.has_value());
            now += 2400ms - kTimeout - kPause;  // its answer, 2.4 s after the request
            guard.frame_seen(kA, now);
            EXPECT_EQ(listen_for(kA), std::nullopt) << "settled: the send goes at once";
        }
        miss(kA);
    }
}

}  // namespace
