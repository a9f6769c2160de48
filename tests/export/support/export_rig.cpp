// The session rig of the export tests.
#include "export_rig.h"

#include <algorithm>
#include <fstream>

#include "asynctimer/asynctimer.h"
#include "bus/bus.h"
#include "platform/rs232.h"
#include "platform/wall_clock.h"

namespace export_test {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using veldra::core::Notice;
using veldra::core::NoticeKind;

void Recorder::cycle_finished(const veldra::core::CycleRecord& record) {
    {
        const std::lock_guard lock(mutex_);
        records_.push_back(record);
    }
    changed_.notify_all();
}

void Recorder::notice(const Notice& notice) {
    {
        const std::lock_guard lock(mutex_);
        notices_.push_back(notice);
    }
    changed_.notify_all();
}

std::vector<veldra::core::CycleRecord> Recorder::records() const {
    const std::lock_guard lock(mutex_);
    return records_;
}

std::vector<Notice> Recorder::notices() const {
    const std::lock_guard lock(mutex_);
    return notices_;
}

std::size_t Recorder::count(const std::string& part) const {
    const std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(notices_.begin(), notices_.end(), [&](const Notice& n) {
            return (n.kind == NoticeKind::ExportState || n.kind == NoticeKind::ExportWarning) &&
                   n.text.find(part) != std::string::npos;
        }));
}

bool Recorder::wait_for_notice(const std::string& part, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return std::any_of(notices_.begin(), notices_.end(),
                           [&](const Notice& n) { return n.text.find(part) != std::string::npos; });
    });
}

std::string Recorder::texts() const {
    const std::lock_guard lock(mutex_);
    std::string all;
    for (const Notice& n : notices_) {
        all += n.text + "\n";
    }
    return all;
}

bool Recorder::wait_for_cycles(std::size_t n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 60s, [&] { return records_.size() >= n; });
}

veldra::exporter::Tuning fast_tuning() {
    veldra::exporter::Tuning t;
    t.first_retry = 50ms;
    t.longest_retry = 300ms;
    t.keepalive_seconds = 5;
    t.answer_timeout = 5s;
    t.progress_every = std::chrono::hours(1);
    t.farewell = 1s;
    return t;
}

ExportRig::ExportRig(const fs::path& dir, std::vector<std::uint32_t> answering,
                     std::vector<int> listed)
    : dir_(dir) {
    veldra::sim::Options options;
    options.sensors = std::move(answering);
    options.link_path = (dir_ / "sensor-bus").string();
    sim_ = std::make_unique<veldra::sim::SensorSimulator>(std::move(options));
    std::ofstream(dir_ / "comports.txt") << kPort << " " << sim_->device_path() << "\n";
    SetComPortMapFile((dir_ / "comports.txt").string());
    SetDelayScaleForTesting(0.01);
    set_reply_timeout_for_testing(0.2);
    sensors_ = std::make_unique<veldra::core::FixedSensorList>(std::move(listed));
    session_ = std::make_unique<veldra::core::Session>(*sensors_);
    session_->add_observer(recorder_);
    timer_ = std::make_unique<veldra::core::SessionTimer>(*session_);
}

ExportRig::~ExportRig() {
    stop();
    exporter_.reset();
    timer_.reset();
    session_.reset();
    sim_.reset();
    SetComPortMapFile("comports.txt");
    SetDelayScaleForTesting(1.0);
    set_reply_timeout_for_testing(2.0);
}

veldra::exporter::ExportSettings ExportRig::settings(int port) const {
    veldra::exporter::ExportSettings s;
    s.host = "127.0.0.1";
    s.port = port;
    s.site = "field-1";
    s.topic_prefix = "veldra";
    s.outbox = (dir_ / "outbox.db").string();
    return s;
}

veldra::exporter::BrokerExport& ExportRig::make_export(
    const veldra::exporter::ExportSettings& settings, veldra::exporter::Tuning tuning) {
    stop();
    exporter_.reset();
    exporter_ =
        std::make_unique<veldra::exporter::BrokerExport>(settings, session_->notices(), tuning);
    return *exporter_;
}

::testing::AssertionResult ExportRig::start() {
    if (!exporter_ || !session_->add_observer(*exporter_)) {
        return ::testing::AssertionFailure() << "no export to add";
    }
    attached_ = true;
    const std::size_t before = recorder_.records().size();
    const veldra::core::StartResult started =
        session_->start({kPort, 3600, text_log().string(), timer_->id(), {}});
    if (!started.started) {
        return ::testing::AssertionFailure()
               << "the session did not start: "
               << (started.refusal ? started.refusal->text : std::string("(no reason)"));
    }
    if (!recorder_.wait_for_cycles(before + 1)) {
        return ::testing::AssertionFailure() << "no first cycle";
    }
    SetAsyncTimerAttribute(timer_->id(), TIMER_ATTR_ENABLED, 0);
    WaitForAsyncTimerCallback(timer_->id());
    return ::testing::AssertionSuccess();
}

void ExportRig::cycle() {
    session_->tick();
}

void ExportRig::stop() {
    session_->stop();
    if (attached_) {
        session_->remove_observer(*exporter_);
        attached_ = false;
    }
}

}  // namespace export_test
