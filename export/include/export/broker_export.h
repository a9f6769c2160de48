// Publishing a session to an MQTT broker: an observer of the session that commits every cycle
// to the durable outbox on the cycle's thread (after the log files have their lines, before
// anything is sent) and a publisher thread that drains the outbox to the broker. The files
// never wait for the network: a commit is a local disk write, and whatever the broker does,
// the session goes on.
//
// What the user should know comes as notices through the session (the health view shows the
// export line, a service prints each on stderr): the connection's state, a refused login or
// TLS handshake with its reason, the outbox filling up (80 %), export stopped because it is
// full (new cycles still go to the files; their seq numbers are used up, so that receivers
// see the gap), and export resumed.
//
// Use: create it before Session::start, add it as an observer, and remove and destroy it
// after Session::stop:
//     auto exporter = veldra::exporter::make_broker_export(options.mqtt, options_path,
//                                                          session.notices());
//     if (exporter) session.add_observer(*exporter);
//     ... session.start(...) ... session.stop();
//     session.remove_observer(*exporter); exporter.reset();
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "export/outbox.h"
#include "export/publisher.h"
#include "logging/log_observers.h"
#include "logging/session_observer.h"
#include "options/options.h"

namespace veldra::exporter {

// The options' broker settings with the outbox and the TLS files resolved beside the options
// file. A setting that cannot work is refused with its reason (error).
struct SettingsResult {
    ExportSettings settings;
    std::string error;
};
SettingsResult export_settings(const options::MqttOptions& mqtt, const std::string& options_path);

class BrokerExport final : public core::SessionObserver {
  public:
    // Opens the outbox at once; problem() says when it (or a setting) keeps the export from
    // working. The session's files are written either way.
    BrokerExport(const options::MqttOptions& mqtt, const std::string& options_path,
                 core::NoticeSink& notices, Tuning tuning = {});
    BrokerExport(ExportSettings settings, core::NoticeSink& notices, Tuning tuning = {});
    ~BrokerExport() override;
    BrokerExport(const BrokerExport&) = delete;
    BrokerExport& operator=(const BrokerExport&) = delete;

    // Empty when the export works; else one line for a message box or stderr.
    const std::string& problem() const { return problem_; }
    const ExportSettings& settings() const { return settings_; }

    void session_started(const core::SessionInfo& info) override;
    void cycle_finished(const core::CycleRecord& record) override;
    void session_ended(const core::SessionEnd& end) override;

    // For tests and benchmarks: the publisher, present between the start and the end.
    const Publisher* publisher() const { return publisher_.get(); }

  private:
    void warn(std::string text);
    void after_commit(const CommitOutcome& outcome, const core::CycleRecord& record);

    ExportSettings settings_;
    core::NoticeSink& notices_;
    Tuning tuning_;
    std::string problem_;
    std::optional<Outbox> outbox_;  // the writer, used on the cycle's thread
    std::unique_ptr<Publisher> publisher_;

    // What the warnings have said, so that each is said once per change.
    bool filling_told_ = false;  // the outbox passed 80 %
    enum class Stopped { No, Full, Failing };
    Stopped stopped_ = Stopped::No;
    std::uint64_t missed_cycles_ = 0;  // while stopped
    std::int64_t first_missed_seq_ = 0;
    std::string first_missed_local_;
};

// The export for a program that runs a session (the window, the service): nullptr when the
// options do not enable it. Add it to the session before the start; problem() tells a setting
// or outbox that keeps it from working (it is also posted as a notice at the start).
std::unique_ptr<BrokerExport> make_broker_export(const options::MqttOptions& mqtt,
                                                 const std::string& options_path,
                                                 core::NoticeSink& notices, Tuning tuning = {});

}  // namespace veldra::exporter
