// veldra-logd as a program, against the simulated sensor bus on a pseudo-terminal: the window's
// log files for the cycles asked for, a stop signal during a silent sensor's wait, the
// one-line refusals of bad input, the notifications systemd reads, a port that appears only
// after the start, and the broker export its options switch on.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/panel_ids.h"
#include "child_process.h"
#include "platform/folder_lock.h"
#include "platform/panel_state_record.h"
#include "platform/unique_fd.h"
#include "sim/sensor_sim.h"
#include "support/broker.h"
#include "worked_example.h"

namespace {

namespace fs = std::filesystem;
namespace ui = veldra::ui;
namespace sim = veldra::sim;
using namespace std::chrono_literals;
using service_test::ChildProcess;
using service_test::lines_of;
using service_test::slurp;

constexpr int kPort = 7;
const std::regex kStampedLine(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \S.*)");

class ServiceProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "veldra-logd-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        link_ = dir_ / "sensor-bus";
        // Read by the service beside its configuration.
        std::ofstream(dir_ / "comports.txt") << kPort << " " << link_.string() << "\n";
    }
    void TearDown() override {
        child_.reset();
        sim_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    sim::SensorSimulator& bus(std::vector<std::uint32_t> answering) {
        sim::Options options;
        options.sensors = std::move(answering);
        options.link_path = link_.string();
        sim_ = std::make_unique<sim::SensorSimulator>(std::move(options));
        return *sim_;
    }

    // A configuration as the window saves it.
    std::string configuration(const std::vector<int>& addresses, int interval,
                              const std::string& log_file, const std::string& name = "field.set") {
        ui::PanelStateRecord record;
        ui::StoredControl list;
        list.id = sensor_list;
        list.kind = ui::ControlKind::ListBox;
        for (const int a : addresses) {
            list.items.push_back({"Adr. " + std::to_string(a), a});
        }
        list.index = addresses.empty() ? -1 : 0;
        ui::StoredControl interval_control;
        interval_control.id = interval_field;
        interval_control.intValue = interval;
        ui::StoredControl port;
        port.id = comport_field;
        port.intValue = kPort;
        ui::StoredControl entry;
        entry.id = logfile_field;
        entry.kind = ui::ControlKind::String;
        entry.text = log_file;
        record.controls = {list, interval_control, port, entry};
        const fs::path path = dir_ / name;
        std::ofstream(path) << ui::SerialisePanelState(record);
        return path.string();
    }

    ChildProcess& run(const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {}) {
        child_ = std::make_unique<ChildProcess>(VELDRA_LOGD, args, dir_ / "stdout.txt",
                                                dir_ / "stderr.txt", env);
        EXPECT_TRUE(child_->started());
        return *child_;
    }

    std::vector<std::string> stderr_lines() const { return lines_of(child_->stderr_text()); }

    fs::path dir_;
    fs::path link_;
    std::unique_ptr<sim::SensorSimulator> sim_;
    std::unique_ptr<ChildProcess> child_;
};

// The data lines of a log with each time stamp replaced by the worked example's, once the
// stamp's form has been checked: the rest of every line must be the window's bytes.
std::vector<std::string> restamped(const std::vector<std::string>& lines, std::size_t from,
                                   std::size_t at, const std::regex& stamp) {
    std::vector<std::string> out;
    for (std::size_t i = from; i < lines.size(); ++i) {
        std::string line = lines[i];
        const std::string found = line.substr(at, 19);
        EXPECT_TRUE(std::regex_match(found, stamp)) << line;
        line.replace(at, 19, worked_example::kStamp);
        out.push_back(line);
    }
    return out;
}

TEST_F(ServiceProgram, WritesTheWindowsLogsForTheCyclesAskedFor) {
    using worked_example::kFirst;
    using worked_example::kSecond;
    auto& s = bus({kFirst});
    s.set_value(kFirst, sim::Quantity::Counts, 12345);
    s.set_value(kFirst, sim::Quantity::Permittivity, 21.5);
    s.set_value(kFirst, sim::Quantity::WaterContent, 33.25);
    s.set_value(kFirst, sim::Quantity::Temperature, 23.4);
    // The second sensor's answers are all wrong at once (a bad start byte), so that its error
    // cells cost no reply time-out.
    for (int i = 0; i < 4 * 4; ++i) {
        s.script_raw_reply(kSecond, {0x42});
    }
    // An earlier log of ours at the same path is kept, as the window keeps it.
    const std::string earlier = worked_example::kTextHeader + worked_example::kData + "\n";
    std::ofstream(dir_ / "field.txt") << earlier;

    // An interval of 2 s for two sensors: the rule raises it to 6 s.
    const std::string config = configuration({kFirst, kSecond}, 2, (dir_ / "field.txt").string());
    ChildProcess& child = run({"--config", config, "--cycles", "3"});
    ASSERT_EQ(child.wait(60s), 0) << child.stderr_text();

    const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
    const std::string text = slurp(dir_ / "field.txt");
    ASSERT_TRUE(text.starts_with(worked_example::kTextHeader)) << text;
    ASSERT_TRUE(text.ends_with("\n"));
    const std::vector<std::string> data = restamped(lines_of(text), 3, 2, stamp);
    EXPECT_EQ(data, std::vector<std::string>(3, worked_example::kData));

    const std::string csv = slurp(dir_ / "field.csv");
    ASSERT_TRUE(csv.starts_with(worked_example::kCsvHeader)) << csv;
    ASSERT_TRUE(csv.ends_with("\n"));
    EXPECT_EQ(restamped(lines_of(csv), 3, 0, stamp),
              std::vector<std::string>(3, worked_example::kCsvRow));

    bool kept = false;
    for (const auto& entry : fs::directory_iterator(dir_)) {
        const std::string name = entry.path().filename().string();
        kept = kept || (name.starts_with("field.") && name.ends_with(".txt") &&
                        name != "field.txt" && slurp(entry.path()) == earlier);
    }
    EXPECT_TRUE(kept) << "the earlier log was not kept under a dated name";

    // The rule, started and stopped, in this order, and no line per cycle without --verbose.
    // (A machine loaded enough to make a cycle outlast the interval may add a notice of that.)
    const std::vector<std::string> status = stderr_lines();
    const std::vector<std::string> expected{
        "The interval must be at least 3 seconds per sensor. The interval has been adjusted "
        "automatically! (2 s raised to 6 s)",
        "started: 2 sensors (01a2b3, 00fe01), every 6 s, COM 7 = " + link_.string() + ", logs " +
            (dir_ / "field.txt").string() + " and " + (dir_ / "field.csv").string() +
            "; no rotation; disk guard 100 MB",
        "stopped (after 3 cycles): 3 cycles written, the last at "};
    std::size_t next = 0;
    for (const std::string& line : status) {
        EXPECT_TRUE(std::regex_match(line, kStampedLine)) << line;
        EXPECT_FALSE(line.substr(20).starts_with("cycle ")) << line;
        if (next < expected.size() && line.substr(20).starts_with(expected[next])) {
            ++next;
        }
    }
    EXPECT_EQ(next, expected.size()) << child.stderr_text();
    EXPECT_TRUE(slurp(dir_ / "stdout.txt").empty());
}

// A stop signal while the cycle waits for a sensor that never answers: the cycle is cut
// short and writes nothing, both files hold their header lines whole, and the program ends
// with 0 at once (the benchmark measures how soon; here the bound is only loose).
TEST_F(ServiceProgram, StopSignalDuringASilentSensorsWait) {
    for (const auto& [number, name] : {std::pair{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}}) {
        SCOPED_TRACE(name);
        auto& s = bus({});
        const std::string config = configuration({0x0bad00}, 3, (dir_ / "quiet.txt").string());
        ChildProcess& child = run({"--config", config, "--verbose"});
        ASSERT_TRUE(s.wait_for_exchanges(1, 30s)) << child.stderr_text();
        std::this_thread::sleep_for(200ms);  // well inside the 2 s wait for the reply
        const auto sent = std::chrono::steady_clock::now();
        child.signal(number);
        ASSERT_EQ(child.wait(10s), 0) << child.stderr_text();
        EXPECT_LT(std::chrono::steady_clock::now() - sent, 5s);

        const std::vector<std::string> text = lines_of(slurp(dir_ / "quiet.txt"));
        ASSERT_EQ(text.size(), 3u);
        for (const std::string& line : text) {
            EXPECT_EQ(line.size(), 76u) << line;
        }
        EXPECT_TRUE(slurp(dir_ / "quiet.txt").ends_with("\n"));
        EXPECT_EQ(slurp(dir_ / "quiet.csv"),
                  "\"sep=;\"\nISO Timestamp;Sensor 0bad00;Sensor 0bad00;Sensor 0bad00;"
                  "Sensor 0bad00\nYYYY-MM-DD HH:MM:SS;Counts;Permittivity;Water Content;"
                  "Temperature\n");
        EXPECT_NE(child.stderr_text().find(std::string("stopped (") + name + "): 0 cycles written"),
                  std::string::npos)
            << child.stderr_text();
        child_.reset();
        sim_.reset();
        fs::remove(dir_ / "quiet.txt");
        fs::remove(dir_ / "quiet.csv");
    }
}

// Bad input ends the program before it touches any file, with one line that names the file
// and the reason.
TEST_F(ServiceProgram, BadInputIsRefusedInOneLine) {
    const std::string log = (dir_ / "field.txt").string();
    struct Case {
        std::string name;
        std::function<std::vector<std::string>()> prepare;  // the arguments
        int status;
        std::vector<std::string> said;  // all in the one line
    };
    const std::string missing = (dir_ / "none.set").string();
    const std::vector<Case> cases{
        {"missing configuration",
         [&] {
             return std::vector<std::string>{"--config", missing};
         },
         2,
         {missing, "no such file"}},
        {"malformed configuration",
         [&] {
             std::ofstream(dir_ / "bad.set") << "{\"format\": \"veldra-panel-state\", \"vers";
             return std::vector<std::string>{"--config", (dir_ / "bad.set").string()};
         },
         2,
         {"bad.set", "holds no readable configuration (the record ends early"}},
        {"empty configuration file",
         [&] {
             std::ofstream(dir_ / "empty.set").flush();
             return std::vector<std::string>{"--config", (dir_ / "empty.set").string()};
         },
         2,
         {"empty.set", "the file is empty"}},
        {"empty sensor list",
         [&] {
             return std::vector<std::string>{"--config", configuration({}, 10, log)};
         },
         2,
         {"field.set", "lists no sensor"}},
        {"no log file",
         [&] {
             return std::vector<std::string>{
                 "--config", configuration({1}, 10, "no file selected, please press Button")};
         },
         2,
         {"field.set", "names no log file"}},
        {"bad options",
         [&] {
             std::ofstream(dir_ / "options.json") << R"({"rotation": {"mode": "weekly"}})";
             return std::vector<std::string>{"--config", configuration({1}, 10, log), "--options",
                                             (dir_ / "options.json").string()};
         },
         2,
         {"options.json", "rotation.mode"}},
        {"unknown argument",
         [&] {
             return std::vector<std::string>{"--confg", "x.set"};
         },
         2,
         {"veldra-logd: unknown argument \"--confg\""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChildProcess& child = run(c.prepare());
        ASSERT_EQ(child.wait(30s), c.status) << child.stderr_text();
        const std::vector<std::string> said = stderr_lines();
        ASSERT_EQ(said.size(), 1u) << child.stderr_text();
        for (const std::string& part : c.said) {
            EXPECT_NE(said[0].find(part), std::string::npos) << said[0];
        }
        EXPECT_FALSE(fs::exists(log));
    }

    // Another program holds the log folder: refused before any file is touched, status 1.
    const auto held = veldra::platform::FolderLock::Take(dir_.string(), "veldra-logger");
    ASSERT_TRUE(held.Held());
    ChildProcess& child = run({"--config", configuration({1}, 10, log)});
    ASSERT_EQ(child.wait(30s), 1) << child.stderr_text();
    const std::vector<std::string> said = stderr_lines();
    ASSERT_EQ(said.size(), 1u) << child.stderr_text();
    EXPECT_NE(said[0].find(dir_.string()), std::string::npos) << said[0];
    EXPECT_FALSE(fs::exists(log));
}

// READY once it runs, watchdog pings while the cycles go on, STOPPING at the end, all on the
// socket that systemd names.
TEST_F(ServiceProgram, TellsSystemdOnItsNotifySocket) {
    const fs::path socket_path = dir_ / "notify";
    const veldra::serial::UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(socket);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socket_path.string().size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socket_path.c_str());
    ASSERT_EQ(::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    // Read as systemd reads it, while the program runs: a datagram socket holds only a few
    // unread messages before the sender blocks.
    std::vector<std::string> messages;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        char buffer[4096];
        while (!done.load()) {
            pollfd p{socket.get(), POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                const ssize_t n = ::recv(socket.get(), buffer, sizeof buffer, MSG_DONTWAIT);
                if (n > 0) {
                    messages.emplace_back(buffer, static_cast<std::size_t>(n));
                }
            }
        }
    });

    bus({0x0a1b2c});
    const std::string config = configuration({0x0a1b2c}, 3, (dir_ / "field.txt").string());
    ChildProcess& child = run({"--config", config, "--cycles", "1"},
                              {"NOTIFY_SOCKET=" + socket_path.string(), "WATCHDOG_USEC=100000"});
    const auto status = child.wait(30s);
    std::this_thread::sleep_for(100ms);  // the last datagrams
    done = true;
    reader.join();
    ASSERT_EQ(status, 0) << child.stderr_text();

    const auto first = [&](const std::string& what) {
        for (std::size_t i = 0; i < messages.size(); ++i) {
            if (messages[i].find(what) != std::string::npos) {
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    const int ready = first("READY=1");
    const int watchdog = first("WATCHDOG=1");
    const int stopping = first("STOPPING=1");
    EXPECT_GE(ready, 0);
    EXPECT_GT(watchdog, ready);
    EXPECT_GT(stopping, watchdog);
}

// A port that cannot be opened at the start (the adapter not yet plugged in) is tried again
// every interval, with one line when it fails and one when it opens; a stop while waiting
// ends the program with 0.
TEST_F(ServiceProgram, WaitsForAPortThatAppearsLater) {
    const std::string config = configuration({0x0a1b2c}, 3, (dir_ / "field.txt").string());
    ChildProcess& child = run({"--config", config});
    const std::string waiting =
        "waiting for the port: COM 7 = " + link_.string() + " is not there; trying again every 3 s";
    ASSERT_TRUE(child.wait_for_stderr(waiting, 30s)) << child.stderr_text();
    std::this_thread::sleep_for(3500ms);  // at least one more try, which says nothing new
    EXPECT_FALSE(fs::exists(dir_ / "field.txt"));

    bus({0x0a1b2c});
    ASSERT_TRUE(child.wait_for_stderr("can be opened now", 30s)) << child.stderr_text();
    ASSERT_TRUE(child.wait_for_stderr("started: 1 sensor (0a1b2c)", 30s));
    child.signal(SIGTERM);
    ASSERT_EQ(child.wait(10s), 0) << child.stderr_text();
    const std::string said = child.stderr_text();
    EXPECT_EQ(said.find(waiting), said.rfind(waiting)) << said;

    // Stopped while still waiting.
    sim_.reset();
    ChildProcess& again = run({"--config", config});
    ASSERT_TRUE(again.wait_for_stderr("waiting for the port", 30s)) << again.stderr_text();
    again.signal(SIGTERM);
    ASSERT_EQ(again.wait(10s), 0) << again.stderr_text();
    EXPECT_NE(again.stderr_text().find("stopped (SIGTERM) while waiting for COM 7"),
              std::string::npos);
}

}  // namespace

// With the broker export switched on in its options, the service publishes every cycle of its
// session: one message per sensor, seq counting the cycles, while the files go on as ever.
TEST_F(ServiceProgram, PublishesEveryCycleToTheBrokerItsOptionsName) {
    export_test::Broker broker;
    ASSERT_TRUE(broker.start());
    export_test::Subscriber subscriber(broker.port(), "veldra/svc/#");
    ASSERT_TRUE(subscriber.subscribe());

    auto& s = bus({worked_example::kFirst});
    s.set_value(worked_example::kFirst, sim::Quantity::Counts, 12345);
    const fs::path options = dir_ / "options.json";
    std::ofstream(options) << R"({"mqtt": {"enabled": true, "host": "127.0.0.1", "port": )"
                           << broker.port() << R"(, "site": "svc", "outbox": "outbox.db"}})";
    const std::string config =
        configuration({worked_example::kFirst}, 3, (dir_ / "field.txt").string());
    ChildProcess& child = run({"--config", config, "--options", options.string()});

    const std::string topic = "veldra/svc/01a2b3";
    // The payloads on the sensor's topic, in the order they came.
    const auto payloads = [&](const std::vector<export_test::Received>& received) {
        std::vector<nlohmann::json> out;
        for (const auto& message : received) {
            if (message.topic == topic) {
                out.push_back(nlohmann::json::parse(message.payload));
            }
        }
        return out;
    };
    ASSERT_TRUE(subscriber.wait_until([&](const auto& r) { return payloads(r).size() >= 2; }, 30s))
        << child.stderr_text();
    child.signal(SIGTERM);
    ASSERT_EQ(child.wait(10s), 0) << child.stderr_text();

    const std::vector<nlohmann::json> got = payloads(subscriber.received());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].at("seq"), i + 1) << got[i];
        EXPECT_EQ(got[i].at("counts"), 12345) << got[i];
    }
    EXPECT_NE(child.stderr_text().find("broker export to 127.0.0.1:" +
                                       std::to_string(broker.port()) + " as site \"svc\""),
              std::string::npos)
        << child.stderr_text();
    // The files do not depend on the broker: a line per cycle, as without it.
    EXPECT_GE(lines_of(slurp(dir_ / "field.txt")).size(), 3u + got.size());
}
