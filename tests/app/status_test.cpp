// The status line and the COM hint tell the truth about a running session: while the serial
// device is gone they say so (and the cycles do not cover it with "Reading Sensor ..."), once it
// is back the hint is what it was, and after a stop the status line says that logging stopped
// and when the last written cycle ran.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app_fixture.h"
#include "asynctimer/asynctimer.h"
#include "display_table.h"
#include "logging/logging.h"
#include "sim/sensor_sim.h"

namespace veldra_test {
namespace {

using namespace std::chrono_literals;

constexpr int kPort = 11;
constexpr std::uint32_t kSensor = 0x0A1B2C;
constexpr const char* kHint = "COM 11 = sensor-bus";

class StatusTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        LoadPanels();
        measurement_timer = NewAsyncTimer(5.0, -1, 0, timer_callback, nullptr);
        ASSERT_GT(measurement_timer, 0);
    }
    void TearDown() override {
        end_logging_session();
        AppTest::TearDown();
    }

    // A bus under a stable name, so that it comes back under the same COM number after a
    // replug, as a USB adapter plugged in again does.
    std::unique_ptr<veldra::sim::SensorSimulator> Bus() {
        const std::string link = (dir_ / "sensor-bus").string();
        auto sim = std::make_unique<veldra::sim::SensorSimulator>(
            veldra::sim::Options{.sensors = {kSensor}, .link_path = link});
        std::ofstream(dir_ / "comports.txt") << kPort << " " << link << "\n";
        return sim;
    }

    void PrepareSession() {
        ClearSensorList();
        InsertListItem(main_panel, sensor_list, -1, sensor_label(kSensor), kSensor);
        SetCtrlVal(main_panel, comport_field, kPort);
        SetCtrlVal(main_panel, interval_field, 3);
        SetCtrlVal(main_panel, logfile_field, (dir_ / "field.txt").string());
        SetCtrlVal(main_panel, comport_hint, kHint);  // what the program shows for the port
    }

    void Press() { start_logging(main_panel, start_stop_button, EVENT_COMMIT, nullptr, 0, 0); }

    // Pulls the adapter: its device goes away. The link is pointed at nothing at once, since
    // another test running beside this one may get the freed pseudo-terminal's number, which
    // would look like the device coming back.
    void Unplug(veldra::sim::SensorSimulator& sim) {
        sim.unplug();
        const std::filesystem::path link = dir_ / "sensor-bus";
        std::filesystem::remove(link);
        std::filesystem::create_symlink(dir_ / "no-such-device", link);
    }

    std::vector<std::string> LogLines() const {
        std::ifstream in(dir_ / "field.txt");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // Polls until the condition holds; generous, for a loaded machine.
    static bool Eventually(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    bool Contains(int control, const std::string& part) const {
        return Text(control).find(part) != std::string::npos;
    }
};

TEST_F(StatusTest, TheDeviceGoneAndBackAndTheStopAreSaidInTheStatusLineAndTheHint) {
    const auto sim = Bus();
    PrepareSession();
    Press();
    ASSERT_EQ(logging_active(), 1) << (popups_.messages.empty() ? "" : popups_.messages[0].second);
    ASSERT_TRUE(Eventually([&] { return LogLines().size() >= 4; })) << "no first cycle";
    EXPECT_TRUE(Contains(status_line, "Reading Sensor 0a1b2c")) << Text(status_line);

    Unplug(*sim);
    ASSERT_TRUE(Eventually([&] { return Contains(status_line, "the device is gone since"); }))
        << Text(status_line);
    EXPECT_TRUE(Contains(status_line, "COM 11")) << Text(status_line);
    EXPECT_TRUE(Contains(comport_hint, "COM 11: device gone\nsince ")) << Text(comport_hint);
    // A further cycle while it is gone keeps saying so rather than naming the sensor it reads.
    const std::size_t lines = LogLines().size();
    ASSERT_TRUE(Eventually([&] { return LogLines().size() > lines; }));
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(Contains(status_line, "the device is gone since")) << Text(status_line);

    sim->replug();
    ASSERT_TRUE(Eventually([&] { return !Contains(status_line, "gone"); })) << Text(status_line);
    EXPECT_EQ(Text(comport_hint), kHint);

    Press();  // stop
    ASSERT_EQ(logging_active(), 0);
    const std::vector<std::string> log = LogLines();
    ASSERT_GE(log.size(), 5u);
    const std::string lastStamp = log.back().substr(2, 19);  // "  YYYY-MM-DD HH:MM:SS |..."
    const std::string status = Text(status_line);
    EXPECT_EQ(status.rfind("Logging stopped at ", 0), 0u) << status;
    EXPECT_NE(status.find("the last cycle ran at " + lastStamp + " (" +
                          std::to_string(log.size() - 3) + " cycles written)."),
              std::string::npos)
        << status;
    EXPECT_EQ(status.find("gone"), std::string::npos) << status;
}

TEST_F(StatusTest, AStopWhileTheDeviceIsGoneSaysSo) {
    const auto sim = Bus();
    PrepareSession();
    Press();
    ASSERT_EQ(logging_active(), 1);
    ASSERT_TRUE(Eventually([&] { return LogLines().size() >= 4; }));
    Unplug(*sim);
    ASSERT_TRUE(Eventually([&] { return Contains(status_line, "gone since"); }));
    Press();
    ASSERT_EQ(logging_active(), 0);
    EXPECT_TRUE(Contains(status_line, "Logging stopped at ")) << Text(status_line);
    EXPECT_TRUE(Contains(status_line, "The device of COM 11 has been gone since "))
        << Text(status_line);
    // Still true after the stop: the hint keeps saying it, until the next start finds the
    // device again.
    EXPECT_TRUE(Contains(comport_hint, "device gone")) << Text(comport_hint);

    sim->replug();
    Press();
    ASSERT_EQ(logging_active(), 1);
    EXPECT_EQ(Text(comport_hint), kHint);
}

// The line above the table warns while the disk is low and says when there is room again; a
// failed write, which says more, stays whatever the disk guard says after it.
TEST_F(StatusTest, TheErrorLineWarnsOfALowDiskAndKeepsAFailedWrite) {
    using veldra::core::LogFileStatus;
    using veldra::core::Notice;
    using veldra::core::NoticeKind;
    veldra::window::DisplayTable table;
    table.session_started({});
    const auto now = std::chrono::system_clock::now();
    table.notice(Notice{NoticeKind::DiskLow, "Only 80 MB free in /data", now});
    EXPECT_EQ(Text(log_error_line), "Only 80 MB free in /data");
    table.notice(Notice{NoticeKind::DiskOk, "Free space is back: 2 GB", now});
    EXPECT_EQ(Text(log_error_line), "Free space is back: 2 GB");
    LogFileStatus failing;
    failing.path = "field.txt";
    failing.reason = "No space left on device";
    failing.failing_since = now;
    failing.lines_waiting = 1;
    table.notice(
        Notice{NoticeKind::WriteFailed, "field.txt: No space left on device", now, failing});
    const std::string failed = Text(log_error_line);
    EXPECT_TRUE(failed.starts_with("1 line waits: text log not written since ")) << failed;
    table.notice(Notice{NoticeKind::DiskLow, "Only 0 MB free in /data", now});
    table.notice(Notice{NoticeKind::DiskOk, "Free space is back: 2 GB", now});
    EXPECT_EQ(Text(log_error_line), failed);
    // A new session starts with a clear line.
    table.session_started({});
    EXPECT_EQ(Text(log_error_line), "");
}

}  // namespace
}  // namespace veldra_test
