// The health model: counts and states per sensor, the line, the cycle against the interval and
// the notice lines, updated record by record.
#include "views/health.h"

#include <algorithm>

namespace veldra::views {

namespace {

using core::QueryStatus;

SensorState state_of(const core::SensorReading& reading, int clean_cycles) {
    bool any_reply = false;
    for (const core::QueryResult& q : reading.queries) {
        any_reply =
            any_reply || (q.status != QueryStatus::NoReply && q.status != QueryStatus::NotSent);
    }
    if (!any_reply) {
        return SensorState::Silent;
    }
    return clean_cycles >= kRecentCycles ? SensorState::Answering : SensorState::Failing;
}

}  // namespace

std::optional<double> SensorHealth::good_share() const {
    if (asked_last_hour == 0) {
        return std::nullopt;
    }
    return static_cast<double>(good_last_hour) / static_cast<double>(asked_last_hour);
}

std::string_view state_name(SensorState s) {
    switch (s) {
        case SensorState::Waiting:
            return "waiting";
        case SensorState::Answering:
            return "answering";
        case SensorState::Failing:
            return "failing";
        case SensorState::Silent:
            return "silent";
    }
    return "";
}

HealthModel::HealthModel(std::chrono::seconds share_window) : share_window_(share_window) {}

HealthModel::Sensor& HealthModel::sensor_for(int address) {
    const auto it = std::find_if(sensors_.begin(), sensors_.end(),
                                 [&](const Sensor& s) { return s.health.address == address; });
    if (it != sensors_.end()) {
        return *it;
    }
    Sensor& s = sensors_.emplace_back();
    s.health.address = address;
    return s;
}

void HealthModel::session_started(const core::SessionInfo& info) {
    const std::lock_guard lock(mutex_);
    state_ = HealthSnapshot{};
    sensors_.clear();
    state_.running = true;
    state_.started = info.started;
    state_.line.port = info.com_port;
    state_.cycle.interval_seconds = info.interval_seconds;
    listed_.clear();
    for (const int address : info.addresses) {
        if (std::find(listed_.begin(), listed_.end(), address) == listed_.end()) {
            listed_.push_back(address);
            sensor_for(address);
        }
    }
    changed();
}

void HealthModel::add(const core::CycleRecord& record) {
    const std::lock_guard lock(mutex_);
    const Clock::time_point when = record.utc;
    state_.last_cycle = when;

    listed_.clear();
    for (const core::SensorReading& reading : record.sensors) {
        Sensor& s = sensor_for(reading.address);
        SensorHealth& h = s.health;
        if (std::find(listed_.begin(), listed_.end(), reading.address) == listed_.end()) {
            listed_.push_back(reading.address);
            h.cycle_cost = std::chrono::microseconds{0};
        }
        std::uint8_t good = 0;
        for (const core::QueryResult& q : reading.queries) {
            ++h.counts[static_cast<std::size_t>(q.status)];
            good += q.status == QueryStatus::Received ? 1 : 0;
            h.cycle_cost += q.duration;
            h.last_exchange = q.duration;
        }
        if (good > 0) {
            h.last_good = when;
        }
        ++s.cycles;
        s.clean_cycles = good == core::kQuantityCount ? s.clean_cycles + 1 : 0;
        // A session's first cycles have no history yet: a clean start counts as answering.
        const int clean =
            static_cast<std::uint64_t>(s.clean_cycles) == s.cycles ? kRecentCycles : s.clean_cycles;
        h.state = state_of(reading, clean);
        s.hour.push_back({when, good, static_cast<std::uint8_t>(core::kQuantityCount)});
        h.good_last_hour += good;
        h.asked_last_hour += core::kQuantityCount;
    }
    // The hour is the hour before the newest cycle, for every sensor alike.
    for (Sensor& s : sensors_) {
        while (!s.hour.empty() && when - s.hour.front().when >= share_window_) {
            s.health.good_last_hour -= s.hour.front().good;
            s.health.asked_last_hour -= s.hour.front().asked;
            s.hour.pop_front();
        }
    }

    LineHealth& line = state_.line;
    line.port = record.line.port;
    line.device = record.line.device;
    if (!record.line.present) {
        if (line.condition != LineCondition::Gone) {
            line.condition = LineCondition::Gone;
            line.gone_since = when;
        }
    } else if (line.condition == LineCondition::Gone) {
        line.condition = LineCondition::Back;
        line.back_at = when;
    } else if (line.condition == LineCondition::Unknown) {
        line.condition = LineCondition::Open;
    }

    CycleHealth& cycle = state_.cycle;
    ++cycle.cycles;
    cycle.last_duration = record.duration;
    cycle.interval_seconds = record.interval_seconds;
    cycle.overrun = record.interval_seconds > 0 &&
                    record.duration > std::chrono::seconds(record.interval_seconds);
    cycle.costly_sensors.clear();
    if (cycle.overrun) {
        ++cycle.overruns;
        // Each sensor's share of the interval; those above it are where the time went.
        const auto share = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::seconds(record.interval_seconds)) /
                           std::max<std::size_t>(listed_.size(), 1);
        std::vector<std::pair<std::chrono::microseconds, int>> costs;
        for (const int address : listed_) {
            costs.emplace_back(sensor_for(address).health.cycle_cost, address);
        }
        std::stable_sort(costs.begin(), costs.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        for (const auto& [cost, address] : costs) {
            if (cost > share || cycle.costly_sensors.empty()) {
                cycle.costly_sensors.push_back(address);
            }
        }
    }
    changed();
}

void HealthModel::notice(const core::Notice& notice) {
    const std::lock_guard lock(mutex_);
    LineHealth& line = state_.line;
    switch (notice.kind) {
        case core::NoticeKind::DeviceGone:
            if (line.condition != LineCondition::Gone) {
                line.condition = LineCondition::Gone;
                line.gone_since = notice.when;
            }
            break;
        case core::NoticeKind::DeviceBack:
            if (line.condition == LineCondition::Gone) {
                line.condition = LineCondition::Back;
                line.back_at = notice.when;
            }
            break;
        case core::NoticeKind::ExportState:
        case core::NoticeKind::ExportWarning:
            state_.export_line = {notice.text, notice.when,
                                  notice.kind == core::NoticeKind::ExportWarning};
            break;
        case core::NoticeKind::DiskLow:
        case core::NoticeKind::WriteFailed:
        case core::NoticeKind::LinesDropped:
            state_.disk_line = {notice.text, notice.when, true};
            break;
        case core::NoticeKind::DiskOk:
        case core::NoticeKind::WriteRecovered:
            state_.disk_line = {notice.text, notice.when, false};
            break;
        case core::NoticeKind::FilesRotated:
        case core::NoticeKind::CycleOverrun:
            return;  // the cycle line says this from the records
    }
    changed();
}

void HealthModel::session_ended(const core::SessionEnd& end) {
    const std::lock_guard lock(mutex_);
    state_.running = false;
    state_.ended = Clock::now();
    if (end.cycles > 0) {
        state_.last_cycle = end.last_cycle;
    }
    changed();
}

HealthSnapshot HealthModel::snapshot() const {
    const std::lock_guard lock(mutex_);
    HealthSnapshot s = state_;
    s.sensors.clear();
    for (const int address : listed_) {
        const auto it = std::find_if(sensors_.begin(), sensors_.end(),
                                     [&](const Sensor& x) { return x.health.address == address; });
        if (it != sensors_.end()) {
            s.sensors.push_back(it->health);
        }
    }
    s.version = version_.load(std::memory_order_acquire);
    return s;
}

}  // namespace veldra::views
