// The window's sessions publish when options.json beside settings.txt enables the export:
// each start makes the export from the options, each stop ends it (the broker hears
// "offline"), and the next start makes a new one on the same outbox.
#include <gtest/gtest.h>

#include <fstream>

#include "export_checks.h"
#include "logging/logging.h"
#include "logging_fixture.h"
#include "support/broker.h"

namespace {

using namespace export_test;
namespace fs = std::filesystem;

constexpr int kGood = 0x0a1b2c;

class WindowExport : public logging_test::LoggingTest {
  protected:
    void SetUp() override {
        LoggingTest::SetUp();
        cwd_ = fs::current_path();
        fs::current_path(dir_);  // the program's working folder: settings.txt, options.json
    }
    void TearDown() override {
        end_logging_session();
        fs::current_path(cwd_);
        LoggingTest::TearDown();
    }
    fs::path cwd_;
};

TEST_F(WindowExport, EachSessionPublishesWhenTheOptionsEnableIt) {
    Broker broker;
    ASSERT_TRUE(broker.start());
    Subscriber subscriber(broker.port(), "veldra/#");
    ASSERT_TRUE(subscriber.subscribe());
    std::ofstream(dir_ / "options.json")
        << R"({"mqtt": {"enabled": true, "host": "127.0.0.1", "port": )" << broker.port()
        << R"(, "site": "window-test"}})";

    sim({kGood});
    add_sensor(kGood);
    set_fields(logging_test::kSimPort, 3600, text_path_.string());
    start_and_pause_after_first_cycle();
    run_cycle();
    const std::string topic = "veldra/window-test/0a1b2c";
    ASSERT_TRUE(subscriber.wait_until(
        [&](const std::vector<Received>& all) { return has_all(seqs_of(all, topic), 2); }));
    press_start_stop();
    ASSERT_TRUE(subscriber.wait_until([](const std::vector<Received>& all) {
        const std::vector<std::string> s = statuses_of(all);
        return !s.empty() && s.back() == "offline";
    }));
    EXPECT_TRUE(fs::is_regular_file(dir_ / "veldra-outbox.db"));  // beside options.json

    start_and_pause_after_first_cycle();
    ASSERT_TRUE(subscriber.wait_until(
        [&](const std::vector<Received>& all) { return has_all(seqs_of(all, topic), 3); }));
    press_start_stop();
    EXPECT_EQ(statuses_of(subscriber.received()).front(), "online");
    EXPECT_TRUE(popups_.messages().empty());
}

}  // namespace
