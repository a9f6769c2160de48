// The late-reply bookkeeping of one port.
#include "late_reply_guard.h"

#include <algorithm>

namespace veldra::bus {

LateReplyGuard::Clock::duration LateReplyGuard::covered_lateness(Clock::duration timeout) {
    const Clock::duration past_timeout =
        std::min<Clock::duration>(timeout, std::chrono::seconds(1));
    return timeout + past_timeout;
}

bool LateReplyGuard::open(Sensor& s, Clock::time_point now) {
    if (s.unanswered > 0 && now >= s.answers_until) {
        s.unanswered = 0;  // whatever was still to come is later than covered
    }
    return s.unanswered > 0;
}

void LateReplyGuard::settle_one(Sensor& s) {
    s.unanswered = std::max(0, s.unanswered - 1);
    s.misses = 0;
    s.answered_ever = true;
}

template <typename Visit>
int LateReplyGuard::for_each_owner(std::uint32_t from, std::optional<std::uint32_t> except,
                                   Clock::time_point now, Visit visit) {
    int owners = 0;
    for (auto& [address, sensor] : sensors_) {
        if (address == except || !open(sensor, now)) {
            continue;
        }
        if (address == from || sensor.reply_address == from) {
            ++owners;
            visit(sensor);
        }
    }
    return owners;
}

void LateReplyGuard::request_sent(std::uint32_t address, Clock::time_point at,
                                  Clock::duration timeout) {
    target_ = address;
    asked_at_ = at;
    timeout_ = timeout;
    own_frame_seen_ = false;
    sensors_.try_emplace(address);
}

LateReplyGuard::Verdict LateReplyGuard::judge_reply(std::uint32_t from, Clock::time_point now) {
    // Another sensor's late answer, told by the address it carries. When the address could be
    // that of several, none of them is taken as settled: their windows stay open.
    Sensor* only_owner = nullptr;
    const int owners = for_each_owner(from, target_, now, [&](Sensor& s) { only_owner = &s; });
    if (owners > 0) {
        if (owners == 1) {
            settle_one(*only_owner);
        }
        return Verdict::LateAnswer;
    }
    // While a request of the asked sensor itself is unanswered, any frame may be its late
    // answer: its address proves nothing, as the answer is taken whatever address it carries.
    Sensor& target = sensors_[target_];
    if (open(target, now)) {
        settle_one(target);
        own_frame_seen_ = true;
        return Verdict::LateAnswer;
    }
    return Verdict::Answer;
}

void LateReplyGuard::reply_taken(std::uint32_t from) {
    Sensor& s = sensors_[target_];
    s.misses = 0;
    s.answered_ever = true;
    s.reply_address = from != target_ ? std::optional(from) : std::nullopt;
}

void LateReplyGuard::reply_spoiled(std::optional<std::uint32_t> from, Clock::time_point now) {
    Sensor& s = sensors_[target_];
    if (from && (*from == target_ || s.reply_address == *from)) {
        s.misses = 0;
        s.answered_ever = true;
        return;
    }
    if (from) {
        Sensor* only_owner = nullptr;
        if (for_each_owner(*from, target_, now, [&](Sensor& o) { only_owner = &o; }) == 1) {
            settle_one(*only_owner);
        }
    }
    // Bytes that make no frame brought nothing of the sensor: a miss, as silence is, so that a
    // sensor that only ever sends noise is taken as absent like a silent one instead of being
    // listened for at every request. A frame of another sensor is no miss of this one.
    reply_missing(now, !from);
}

void LateReplyGuard::reply_missing(Clock::time_point now, bool waited_whole_time) {
    Sensor& s = sensors_[target_];
    open(s, now);
    ++s.unanswered;
    s.answers_until = std::max(s.answers_until, asked_at_ + covered_lateness(timeout_));
    if (waited_whole_time && !own_frame_seen_) {
        ++s.misses;
    }
}

void LateReplyGuard::frame_seen(std::uint32_t from, Clock::time_point now) {
    Sensor* only_owner = nullptr;
    if (for_each_owner(from, std::nullopt, now, [&](Sensor& s) { only_owner = &s; }) == 1) {
        settle_one(*only_owner);
    }
}

std::optional<LateReplyGuard::Clock::time_point> LateReplyGuard::listen_until(
    std::uint32_t address, Clock::time_point now) {
    const auto it = sensors_.find(address);
    if (it == sensors_.end() || !open(it->second, now)) {
        return std::nullopt;
    }
    const Sensor& s = it->second;
    const int listened_for = s.answered_ever ? kMissesListenedFor : kMissesListenedForNeverAnswered;
    if (s.misses > listened_for) {
        return std::nullopt;  // taken as absent: its misses are silence, not lateness
    }
    return s.answers_until;
}

bool LateReplyGuard::awaiting_late_answer(std::uint32_t address, Clock::time_point now) {
    const auto it = sensors_.find(address);
    return it != sensors_.end() && open(it->second, now);
}

}  // namespace veldra::bus
