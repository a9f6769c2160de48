// The session's export: settings from the options, the outbox commit of every cycle and what
// the user is told about the outbox; the publisher does the rest.
#include "export/broker_export.h"

#include "logging/log_format.h"
#include "texts.h"

namespace veldra::exporter {

SettingsResult export_settings(const options::MqttOptions& mqtt, const std::string& options_path) {
    SettingsResult out;
    options::Options whole;
    whole.mqtt = mqtt;
    if (options::Result checked = options::validate_options(whole); !checked) {
        out.error = checked.error;
        return out;
    }
    ExportSettings& s = out.settings;
    s.host = mqtt.host;
    s.port = mqtt.port;
    s.site = mqtt.site;
    s.topic_prefix = mqtt.topic_prefix;
    s.format = mqtt.format;
    s.username = mqtt.username;
    s.password = mqtt.password;
    s.ca_file = options::resolve_beside(options_path, mqtt.ca_file);
    s.cert_file = options::resolve_beside(options_path, mqtt.cert_file);
    s.key_file = options::resolve_beside(options_path, mqtt.key_file);
    s.outbox = options::resolve_beside(options_path, mqtt.outbox);
    s.outbox_limit_bytes = static_cast<std::uint64_t>(mqtt.outbox_limit_mb) * kMegabyte;
    return out;
}

BrokerExport::BrokerExport(const options::MqttOptions& mqtt, const std::string& options_path,
                           core::NoticeSink& notices, Tuning tuning)
    : notices_(notices), tuning_(tuning) {
    SettingsResult r = export_settings(mqtt, options_path);
    settings_ = std::move(r.settings);
    if (!r.error.empty()) {
        problem_ = r.error;
        return;
    }
    outbox_.emplace(settings_.outbox, Outbox::Role::Writer);
    if (!outbox_->ok()) {
        problem_ = outbox_->error();
        outbox_.reset();
    }
}

BrokerExport::BrokerExport(ExportSettings settings, core::NoticeSink& notices, Tuning tuning)
    : settings_(std::move(settings)), notices_(notices), tuning_(tuning) {
    outbox_.emplace(settings_.outbox, Outbox::Role::Writer);
    if (!outbox_->ok()) {
        problem_ = outbox_->error();
        outbox_.reset();
    }
}

BrokerExport::~BrokerExport() {
    if (publisher_) {
        publisher_->stop();
    }
}

void BrokerExport::session_started(const core::SessionInfo&) {
    if (!problem_.empty()) {
        warn("Export stopped: " + problem_ + "; the log files are written as usual");
        return;
    }
    stopped_ = Stopped::No;
    missed_cycles_ = 0;
    filling_told_ = false;
    publisher_ = std::make_unique<Publisher>(settings_, tuning_, notices_);
    publisher_->start();
}

void BrokerExport::cycle_finished(const core::CycleRecord& record) {
    if (!outbox_) {
        return;
    }
    const CommitOutcome outcome =
        outbox_->commit(record, settings_.site, settings_.outbox_limit_bytes);
    after_commit(outcome, record);
    if (publisher_ && outcome.kind == CommitOutcome::Kind::Stored) {
        publisher_->wake();
    }
}

void BrokerExport::session_ended(const core::SessionEnd&) {
    if (publisher_) {
        publisher_->stop();
        publisher_.reset();
    }
}

void BrokerExport::warn(std::string text) {
    notices_.post_notice(
        {core::NoticeKind::ExportWarning, std::move(text), std::chrono::system_clock::now()});
}

void BrokerExport::after_commit(const CommitOutcome& outcome, const core::CycleRecord& record) {
    const std::string local = logfmt::csv_timestamp(record.local);
    const std::uint64_t limit = settings_.outbox_limit_bytes;
    switch (outcome.kind) {
        case CommitOutcome::Kind::NothingToStore:
            return;
        case CommitOutcome::Kind::Stored:
            if (stopped_ != Stopped::No) {
                warn("Export resumed: the outbox takes cycles again from seq " +
                     std::to_string(outcome.seq) + " of " + local + "; the " +
                     std::to_string(missed_cycles_) + " cycle" + (missed_cycles_ == 1 ? "" : "s") +
                     " from " + first_missed_local_ +
                     (first_missed_seq_ > 0 ? " (seq " + std::to_string(first_missed_seq_) + " on)"
                                            : std::string()) +
                     " were not exported and are in the log files only");
                stopped_ = Stopped::No;
                missed_cycles_ = 0;
            }
            // Told once on the way up; again only after it has gone down to 70 %.
            if (!filling_told_ && outcome.used_bytes * 10 >= limit * 8) {
                filling_told_ = true;
                warn("Export: the outbox is 80 % full (" + texts::size(outcome.used_bytes) +
                     " of " + texts::size(limit) + ", " + texts::waiting(outcome.waiting) +
                     "); once it is full, new cycles go to the log files only");
            } else if (filling_told_ && outcome.used_bytes * 10 < limit * 7) {
                filling_told_ = false;
            }
            return;
        case CommitOutcome::Kind::Full:
            if (stopped_ != Stopped::Full) {
                if (stopped_ == Stopped::No) {
                    missed_cycles_ = 0;
                    first_missed_seq_ = outcome.seq;
                    first_missed_local_ = local;
                }
                stopped_ = Stopped::Full;
                warn("Export stopped: the outbox " + settings_.outbox + " is full (" +
                     texts::size(outcome.used_bytes) + " of " + texts::size(limit) + ", " +
                     texts::waiting(outcome.waiting) + "); from seq " +
                     std::to_string(outcome.seq) + " of " + local +
                     " on, cycles go to the log files only, until the broker has taken the "
                     "waiting messages");
            }
            ++missed_cycles_;
            return;
        case CommitOutcome::Kind::Failed:
            if (stopped_ != Stopped::Failing) {
                if (stopped_ == Stopped::No) {
                    missed_cycles_ = 0;
                    first_missed_seq_ = 0;
                    first_missed_local_ = local;
                }
                stopped_ = Stopped::Failing;
                warn("Export stopped: the outbox " + settings_.outbox + " cannot be written (" +
                     outcome.error + "); from " + local + " on, cycles go to the log files only");
            }
            ++missed_cycles_;
            return;
    }
}

std::unique_ptr<BrokerExport> make_broker_export(const options::MqttOptions& mqtt,
                                                 const std::string& options_path,
                                                 core::NoticeSink& notices, Tuning tuning) {
    if (!mqtt.enabled) {
        return nullptr;
    }
    return std::make_unique<BrokerExport>(mqtt, options_path, notices, tuning);
}

}  // namespace veldra::exporter
