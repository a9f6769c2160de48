// What one port knows of the requests it has sent, so that a late answer is never taken for
// the answer to a later request: for each sensor asked, how many of its requests are still
// unanswered and until when their answers may come, whether it answers at all, and which
// address its answers carry. Pure bookkeeping over times and addresses; the transaction does
// the reading and asks this for every verdict. bus/bus.h states the rules in full.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>

namespace veldra::bus {

class LateReplyGuard {
  public:
    using Clock = std::chrono::steady_clock;

    // A miss of a sensor that has answered on this port is listened for after up to this many
    // misses in a row; a sensor that never has, after its first only.
    static constexpr int kMissesListenedFor = 4;
    static constexpr int kMissesListenedForNeverAnswered = 1;

    // How long after its request an answer may still come: the time-out and, past it, as much
    // again but at most one second.
    static Clock::duration covered_lateness(Clock::duration timeout);

    // A request to `address` went out at `at`; its answer is awaited for `timeout`.
    void request_sent(std::uint32_t address, Clock::time_point at, Clock::duration timeout);

    enum class Verdict {
        Answer,      // the answer to the request just sent
        LateAnswer,  // may be a late answer to an earlier request: skip it
    };
    // A well-formed frame carrying `from` came while the answer is awaited.
    Verdict judge_reply(std::uint32_t from, Clock::time_point now);
    // How the wait for the answer ended: a frame was taken as the answer; bytes came but no
    // frame could be taken; or nothing of the sensor's came.
    void reply_taken(std::uint32_t from);
    // A spoiled frame (bad checksum, too long, broken off) is the sensor's spoiled answer when
    // it carries the sensor's address (`from`, when its address field was read); otherwise,
    // or for bytes that are no frame at all, the answer may still come: it stays awaited.
    // Bytes that are no frame count as a miss of the sensor; a spoiled frame carrying another
    // awaited sensor's address does not, and settles that one.
    void reply_spoiled(std::optional<std::uint32_t> from, Clock::time_point now);
    // Only a wait that ran its whole time counts as a miss of the sensor, not one cut short by
    // a stop or a failing line; its answer is awaited all the same.
    void reply_missing(Clock::time_point now, bool waited_whole_time = true);

    // A well-formed frame carrying `from` was read while no answer was awaited (a send
    // waiting for a quiet line, or listening).
    void frame_seen(std::uint32_t from, Clock::time_point now);

    // When a request to `address` should wait first, listening for a late answer of its own:
    // until then. nullopt when nothing of it is awaited, or it is taken as absent.
    std::optional<Clock::time_point> listen_until(std::uint32_t address, Clock::time_point now);
    // Whether a request of `address` is still unanswered within its covered time.
    bool awaiting_late_answer(std::uint32_t address, Clock::time_point now);

  private:
    struct Sensor {
        int unanswered = 0;               // requests whose answer may still come
        Clock::time_point answers_until;  // ... at the latest by then
        int misses = 0;                   // requests in a row that brought nothing of it
        bool answered_ever = false;
        std::optional<std::uint32_t> reply_address;  // what its answers carry, if not its own
    };

    // True while an answer of the sensor may still come; forgets what has run out.
    static bool open(Sensor& s, Clock::time_point now);
    // A frame of this sensor came: one of its unanswered requests is settled.
    static void settle_one(Sensor& s);
    // The sensors other than `except` whose late answer a frame carrying `from` may be.
    template <typename Visit>
    int for_each_owner(std::uint32_t from, std::optional<std::uint32_t> except,
                       Clock::time_point now, Visit visit);

    std::map<std::uint32_t, Sensor> sensors_;
    std::uint32_t target_ = 0;
    Clock::time_point asked_at_{};
    Clock::duration timeout_{};
    bool own_frame_seen_ = false;  // in the wait for the current answer
};

}  // namespace veldra::bus
