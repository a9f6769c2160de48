// The measurement core driven as a service would drive it: a fixed sensor list, a timer of the
// session's own, a recording observer and the simulated bus on a pseudo-terminal; no panel,
// no window, nothing of the UI model linked. What each record holds for a good, a silent, a
// checksum-failing and a text-answering sensor; the files; refusals as data; a stop during a
// silent sensor's wait; notices of the line, of overruns and of failed writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "core_session_fixture.h"
#include "unwritable_file.h"

namespace {

using namespace core_test;

// A reply frame whose last checksum byte is wrong.
std::vector<std::uint8_t> bad_checksum_frame(std::uint32_t address, std::string_view payload) {
    std::vector<std::uint8_t> frame = sim::SensorSimulator::reply_frame(address, payload);
    frame.back() ^= 0x5a;
    return frame;
}

TEST_F(CoreSession, RecordsOfAGoodASilentAChecksumFailingAndATextAnsweringSensor) {
    auto& s = bus({kGood, kChecksum, kText});
    s.set_value(kGood, sim::Quantity::Counts, 12345);
    s.set_value(kGood, sim::Quantity::Permittivity, 21.5);
    s.set_value(kGood, sim::Quantity::WaterContent, 33.25);
    s.set_value(kGood, sim::Quantity::Temperature, 23.4);
    for (const char* payload : {"1", "2.5", "3.5", "4.5"}) {
        s.script_raw_reply(kChecksum, bad_checksum_frame(kChecksum, payload));
        s.script_reply_text(kText, "n/a");
    }
    Session& session = this->session({kGood, kSilent, kChecksum, kText});
    start_and_pause_after_first_cycle(session);
    session.stop();

    const std::vector<CycleRecord> records = recorder_.records();
    ASSERT_EQ(records.size(), 1u);
    const CycleRecord& r = records[0];
    EXPECT_EQ(r.cycle, 1u);
    EXPECT_EQ(r.local.year, 2024);
    EXPECT_EQ(r.local.second, 9);
    EXPECT_EQ(r.utc, ReadWallClock().utc);
    EXPECT_EQ(r.interval_seconds, 3600);
    EXPECT_GT(r.duration, 0ms);
    EXPECT_EQ(r.line.port, kPort);
    EXPECT_EQ(r.line.device, sim_->device_path());
    EXPECT_TRUE(r.line.present);

    ASSERT_EQ(r.sensors.size(), 4u);
    const std::vector<int> order{kGood, kSilent, kChecksum, kText};
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(r.sensors[i].address, order[i]);
        for (const QueryResult& q : r.sensors[i].queries) {
            EXPECT_GT(q.duration.count(), 0);
        }
    }
    const SensorReading& good = r.sensors[0];
    const std::vector<std::optional<double>> values{12345.0, double(21.5f), double(33.25f),
                                                    double(23.4f)};
    const std::vector<std::string> replies{"12345", "21.50", "33.25", "23.40"};
    for (std::size_t k = 0; k < kQuantityCount; ++k) {
        EXPECT_EQ(good.queries[k].status, QueryStatus::Received) << k;
        EXPECT_EQ(good.queries[k].value, values[k]) << k;
        EXPECT_EQ(good.queries[k].reply, replies[k]) << k;
        EXPECT_EQ(good.queries[k].bus_result, static_cast<int>(replies[k].size())) << k;
    }
    struct Failing {
        const SensorReading& sensor;
        QueryStatus status;
        int bus_result;
        std::string reply;
    };
    for (const Failing& f : {Failing{r.sensors[1], QueryStatus::NoReply, BUS_ERR_START_BYTE, ""},
                             Failing{r.sensors[2], QueryStatus::Checksum, BUS_ERR_CHECKSUM, ""},
                             Failing{r.sensors[3], QueryStatus::NotANumber, 3, "n/a"}}) {
        for (const QueryResult& q : f.sensor.queries) {
            EXPECT_EQ(q.status, f.status) << std::hex << f.sensor.address;
            EXPECT_FALSE(q.value.has_value()) << std::hex << f.sensor.address;
            EXPECT_EQ(q.bus_result, f.bus_result) << std::hex << f.sensor.address;
            if (f.status != QueryStatus::Checksum) {
                EXPECT_EQ(q.reply, f.reply);
            }
        }
    }

    // The files show it as the window's table does: error cells, and 0 for the text.
    EXPECT_EQ(line_count(dir_ / "field.txt"), 4u);
    EXPECT_EQ(last_line(dir_ / "field.txt"),
              "  2024-03-05 14:07:09 | 12345  |     21.50    |      33.25    |     23.40   "
              "|  error |     error    |      error    |    error    "
              "|  error |     error    |      error    |    error    "
              "| 00000  |      0.00    |       0.00    |      0.00   ");
    EXPECT_EQ(line_count(dir_ / "field.csv"), 4u);
    EXPECT_EQ(last_line(dir_ / "field.csv"),
              "2024-03-05 14:07:09;12345;21.50;33.25;23.40;0;0.00;0.00;0.00;0;0.00;0.00;0.00;"
              "0;0.00;0.00;0.00");
}

// The events of one cycle, in order: each query's status text before it runs, its result as it
// comes, the whole record at the end.
TEST_F(CoreSession, EventsComeInTheirOrder) {
    bus({kGood});
    Session& session = this->session({kGood});
    start_and_pause_after_first_cycle(session);
    session.stop();
    std::vector<std::string> expected{"session_started", "cycle_started 1"};
    for (const char* name : {"Counts", "Permittivity", "Water Content", "Temperature"}) {
        expected.push_back(std::string("query_started Reading Sensor 0a1b2c ") + name + "...");
        expected.push_back("query_finished ok");
    }
    expected.push_back("cycle_finished");
    expected.push_back("session_ended 1");
    EXPECT_EQ(recorder_.events(), expected);
    const SessionInfo info = recorder_.info();
    EXPECT_EQ(info.com_port, kPort);
    EXPECT_EQ(info.addresses, std::vector<int>{kGood});
    EXPECT_EQ(info.text_log_path, (dir_ / "field.txt").string());
    EXPECT_EQ(info.csv_log_path, (dir_ / "field.csv").string());
    EXPECT_EQ(info.csv_header[0], "\"sep=;\"");
}

// The start's refusals come back as data, in the order of the checks, and change nothing.
TEST_F(CoreSession, RefusedStartsSayWhyAndHoldNothing) {
    struct Case {
        const char* name;
        int port;
        std::string log_file;
        bool sensors;
        std::string title, start_of_text;
    };
    const std::vector<Case> cases{
        {"port before everything", kUnmappedPort, "no file selected", false, "Error",
         "Cannot open specified ComPort!\n\nPlease check if the correct ComPort number has been "
         "selected!\nPlease ensure, that no other application is blocking the selected ComPort!"},
        {"file before list", kPort, "no file selected, please press", false, "Info",
         "No target file has been selected for logging the data. Please select file first and "
         "then press  \"Start Logging\" again!"},
        {"list", kPort, (dir_ / "field.txt").string(), false, "Info",
         "No sensor has been added to the list! Please add at least one sensor address and then "
         "press  \"Start Logging\" again!"},
        {"no CSV path", kPort, "ab", true, "Error", "The log file \"ab\" cannot be used"},
    };
    bus({kGood});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FixedSensorList sensors(c.sensors ? std::vector<int>{kGood} : std::vector<int>{});
        Session s(sensors);
        Recorder recorder;
        s.add_observer(recorder);
        const StartResult result = s.start({c.port, 30, c.log_file, -1, {}});
        EXPECT_FALSE(result.started);
        ASSERT_TRUE(result.refusal);
        EXPECT_EQ(result.refusal->title, c.title);
        EXPECT_EQ(result.refusal->text.substr(0, c.start_of_text.size()), c.start_of_text);
        EXPECT_FALSE(s.running());
        EXPECT_TRUE(recorder.events().empty());
        EXPECT_EQ(ComRdByte(kPort), COM_ERR_NOT_OPEN);  // a refused start holds no port
        EXPECT_FALSE(fs::exists(dir_ / "field.txt"));
    }
}

TEST(IntervalRule, AtLeastThreeSecondsPerSensor) {
    struct Case {
        int requested;
        std::size_t sensors;
        int interval;
        bool info;
    };
    for (const Case& c : std::vector<Case>{{2, 3, 9, true},
                                           {9, 3, 9, false},
                                           {20, 2, 20, false},
                                           {0, 0, 0, false},
                                           {-5, 1, 3, true}}) {
        const IntervalDecision d = apply_interval_rule(c.requested, c.sensors);
        EXPECT_EQ(d.interval_seconds, c.interval) << c.requested << " for " << c.sensors;
        EXPECT_EQ(d.info.has_value(), c.info) << c.requested << " for " << c.sensors;
        if (d.info) {
            EXPECT_EQ(d.info->title, "Info");
            EXPECT_EQ(d.info->text,
                      "The interval must be at least 3 seconds per sensor.\n\nThe interval has "
                      "been adjusted automatically!");
        }
    }
}

// A stop while the cycle waits for a sensor that never answers: at once, and nothing of the
// cut-short cycle is written.
TEST_F(CoreSession, StopDuringASilentSensorsWaitAbandonsTheCycle) {
    set_reply_timeout_for_testing(30.0);
    auto& s = bus({});
    Session& session = this->session({kSilent});
    ASSERT_TRUE(session.start(config()).started);
    ASSERT_TRUE(s.wait_for_exchanges(1, 30s));
    std::this_thread::sleep_for(50ms);
    const auto before = std::chrono::steady_clock::now();
    session.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);  // far below the time-out
    EXPECT_FALSE(session.running());
    const std::vector<std::string> events = recorder_.events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "cycle_abandoned");
    EXPECT_EQ(events.back(), "session_ended 0");
    EXPECT_EQ(line_count(dir_ / "field.txt"), 3u);
    EXPECT_EQ(line_count(dir_ / "field.csv"), 3u);
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_NOT_OPEN);
    // No cycle runs on after the stop.
    const std::size_t exchanges = s.exchange_count();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(s.exchange_count(), exchanges);
}

// The bus loses the device and gets it back: the records say so, and a notice tells each
// change once.
TEST_F(CoreSession, DeviceGoneAndBackAreNoticed) {
    auto& s = bus({kGood});
    Session& session = this->session({kGood});
    start_and_pause_after_first_cycle(session);
    s.unplug();
    ASSERT_TRUE(wait_plugged(s, false));
    session.tick();
    session.tick();
    s.replug();
    ASSERT_TRUE(wait_plugged(s, true));
    session.tick();
    session.stop();
    const auto records = recorder_.records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ((std::vector<bool>{records[0].line.present, records[1].line.present,
                                 records[2].line.present, records[3].line.present}),
              (std::vector<bool>{true, false, false, true}));
    EXPECT_NE(records[1].sensors[0].queries[0].status, QueryStatus::Received);
    EXPECT_EQ(records[3].sensors[0].queries[0].status, QueryStatus::Received);
    const auto notices = recorder_.notices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].kind, NoticeKind::DeviceGone);
    EXPECT_EQ(notices[0].text, "COM 7 = " + sim_->device_path() + ": the device is gone");
    EXPECT_EQ(notices[1].kind, NoticeKind::DeviceBack);
    EXPECT_EQ(notices[1].text, "COM 7 = " + sim_->device_path() + ": the device is back");
}

// Cycles longer than the interval: one notice that names the sensor that cost the time.
TEST_F(CoreSession, CycleOverrunNamesTheSlowSensor) {
    bus({kGood});
    Session& session = this->session({kGood, kSilent});
    // One second for two sensors, below the interval rule: the silent one alone takes longer.
    ASSERT_TRUE(session.start(config(1)).started);
    ASSERT_TRUE(recorder_.wait_for("cycle_finished", 2));
    session.stop();
    const auto notices = recorder_.notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, NoticeKind::CycleOverrun);
    EXPECT_EQ(notices[0].text.rfind("Cycle 1 took ", 0), 0u) << notices[0].text;
    EXPECT_NE(notices[0].text.find(", longer than the interval of 1 s; the time went to 0bad00 ("),
              std::string::npos)
        << notices[0].text;
}

// A header that cannot be written is told after every observer knows the session; the cycle's
// own failure only updates it (one more line waits), the lines still waiting at the stop are
// said to be lost, and logging goes on in the other file.
TEST_F(CoreSession, WriteFailuresAreNoticedAfterTheStart) {
    bus({kGood});
    const logging_test::UnwritableFile full(dir_ / "field.txt");
    ASSERT_TRUE(full.ready());
    Session& session = this->session({kGood});
    start_and_pause_after_first_cycle(session);
    session.tick();
    session.stop();
    const auto events = recorder_.events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0], "session_started");
    EXPECT_EQ(events[1], "notice");
    std::vector<Notice> told;
    const auto notices = recorder_.notices();
    std::copy_if(notices.begin(), notices.end(), std::back_inserter(told),
                 [](const Notice& n) { return !n.update; });
    ASSERT_EQ(told.size(), 2u);
    const std::string path = (dir_ / "field.txt").string();
    const std::string reason = logging_test::UnwritableFile::kReason;
    EXPECT_EQ(told[0].kind, NoticeKind::WriteFailed);
    EXPECT_EQ(told[0].text, "Writing the log failed: " + path + ": " + reason +
                                " (since 14:07:09); 3 lines wait");
    EXPECT_EQ(told[1].kind, NoticeKind::LinesDropped);
    EXPECT_EQ(told[1].text, "5 lines could not be written to " + path +
                                " before the session ended and are lost (" + reason + ")");
    EXPECT_EQ(notices.size(), 4u);  // and one update for each of the two cycles
    EXPECT_EQ(line_count(dir_ / "field.csv"), 5u);
}

TEST_F(CoreSession, ObserversAreAddedOnlyWhileIdle) {
    bus({kGood});
    Session& session = this->session({kGood});
    Recorder late;
    start_and_pause_after_first_cycle(session);
    EXPECT_FALSE(session.add_observer(late));
    EXPECT_FALSE(session.remove_observer(recorder_));
    session.stop();
    EXPECT_TRUE(session.add_observer(late));
    EXPECT_TRUE(session.remove_observer(late));
    EXPECT_FALSE(session.remove_observer(late));
}

}  // namespace
