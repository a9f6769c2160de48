// A session of the measurement core on the simulated sensor bus, as a service runs it (a fixed
// sensor list, a timer of its own, no window), with a broker export attached and every record
// and notice recorded. The first cycle of a session runs at once on the timer's thread; the
// test runs the further ones itself, so a cycle takes milliseconds, not an interval.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "export/broker_export.h"
#include "logging/session.h"
#include "logging/session_timer.h"
#include "sim/sensor_sim.h"

namespace export_test {

// Records and notices of a session, thread-safe.
class Recorder final : public veldra::core::SessionObserver {
  public:
    void cycle_finished(const veldra::core::CycleRecord& record) override;
    void notice(const veldra::core::Notice& notice) override;

    std::vector<veldra::core::CycleRecord> records() const;
    std::vector<veldra::core::Notice> notices() const;
    // Notices of the export whose text holds `part`.
    std::size_t count(const std::string& part) const;
    bool wait_for_notice(const std::string& part,
                         std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool wait_for_cycles(std::size_t n);
    // Every notice's text, one per line, for a failure's message.
    std::string texts() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<veldra::core::CycleRecord> records_;
    std::vector<veldra::core::Notice> notices_;
};

// Short pauses, so that a test sees retries within a second.
veldra::exporter::Tuning fast_tuning();

class ExportRig {
  public:
    static constexpr int kPort = 9;

    // The simulator answers for `answering`; the session lists `listed`.
    ExportRig(const std::filesystem::path& dir, std::vector<std::uint32_t> answering,
              std::vector<int> listed);
    ~ExportRig();

    veldra::sim::SensorSimulator& sim() { return *sim_; }
    veldra::core::Session& session() { return *session_; }
    Recorder& recorder() { return recorder_; }
    std::filesystem::path text_log() const { return dir_ / "field.txt"; }

    // Settings for a broker on 127.0.0.1:port, the outbox in the rig's folder.
    veldra::exporter::ExportSettings settings(int port) const;

    // A new export for the next session (the previous one must have ended with stop()).
    veldra::exporter::BrokerExport& make_export(const veldra::exporter::ExportSettings& settings,
                                                veldra::exporter::Tuning tuning = fast_tuning());
    // Adds the export, starts a session and waits for its first cycle; further cycles come
    // only from cycle(). A failure says why.
    ::testing::AssertionResult start();
    void cycle();
    // Stops the session and removes the export (it is destroyed with the next one, or the
    // rig, always after the session's stop).
    void stop();

  private:
    std::filesystem::path dir_;
    std::unique_ptr<veldra::sim::SensorSimulator> sim_;
    std::unique_ptr<veldra::core::FixedSensorList> sensors_;
    std::unique_ptr<veldra::core::Session> session_;
    std::unique_ptr<veldra::core::SessionTimer> timer_;
    Recorder recorder_;
    std::unique_ptr<veldra::exporter::BrokerExport> exporter_;
    bool attached_ = false;
};

}  // namespace export_test
