// The service's pieces without running it: the command line, what it takes from a
// panel-state record (the same values the window's recall would show), and what the options
// ask of the log files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/panel_ids.h"
#include "options/options.h"
#include "platform/detail/panel_model.h"
#include "platform/panel_state_record.h"
#include "service/arguments.h"
#include "service/option_rules.h"
#include "service/panel_settings.h"
#include "service/status_log.h"

namespace {

namespace fs = std::filesystem;
namespace svc = veldra::service;
namespace ui = veldra::ui;
using veldra::core::FileRules;

svc::CommandLine parse(std::vector<std::string_view> words) {
    return svc::parse_command_line(words);
}

TEST(ServiceCommandLine, ReadsEveryArgumentInBothForms) {
    const svc::CommandLine full = parse(
        {"--config", "a.set", "--log=x.txt", "--cycles", "3", "--options", "o.json", "--verbose"});
    ASSERT_EQ(full.action, svc::Action::Run) << full.error;
    EXPECT_EQ(full.arguments.config, "a.set");
    EXPECT_EQ(full.arguments.log, "x.txt");
    EXPECT_EQ(full.arguments.cycles, 3u);
    EXPECT_EQ(full.arguments.options, "o.json");
    EXPECT_TRUE(full.arguments.verbose);

    const svc::CommandLine plain = parse({"--config=b.set"});
    ASSERT_EQ(plain.action, svc::Action::Run);
    EXPECT_FALSE(plain.arguments.log || plain.arguments.cycles || plain.arguments.options);
    EXPECT_EQ(parse({"--config", "a.set", "--help"}).action, svc::Action::Help);
    EXPECT_EQ(parse({"--bogus", "--version"}).action, svc::Action::Version);
}

TEST(ServiceCommandLine, MistakesAreRefusedWithTheirReason) {
    struct Case {
        std::vector<std::string_view> words;
        std::string reason;
    };
    const std::vector<Case> cases{
        {{}, "--config FILE is missing"},
        {{"--log", "x.txt"}, "--config FILE is missing"},
        {{"--config"}, "--config needs a value"},
        {{"--config="}, "--config needs a value"},
        {{"--config", "a.set", "--cycles", "0"}, "--cycles needs a whole number"},
        {{"--config", "a.set", "--cycles", "3x"}, "--cycles needs a whole number"},
        {{"--config", "a.set", "--cycles", "-1"}, "--cycles needs a whole number"},
        {{"--config", "a.set", "extra"}, "unknown argument \"extra\""},
    };
    for (const Case& c : cases) {
        const svc::CommandLine result = parse(c.words);
        EXPECT_EQ(result.action, svc::Action::Refuse) << c.reason;
        EXPECT_NE(result.error.find(c.reason), std::string::npos) << result.error;
    }
}

class PanelSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "veldra-svc-parts-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string write(const ui::PanelStateRecord& record) {
        const std::string path = (dir_ / "field.set").string();
        std::ofstream(path) << ui::SerialisePanelState(record);
        return path;
    }
    static ui::StoredControl numeric(int id, int value) {
        ui::StoredControl c;
        c.id = id;
        c.kind = ui::ControlKind::Numeric;
        c.intValue = value;
        return c;
    }
    static ui::StoredControl text(int id, std::string value) {
        ui::StoredControl c;
        c.id = id;
        c.kind = ui::ControlKind::String;
        c.text = std::move(value);
        return c;
    }
    static ui::StoredControl list(std::vector<int> addresses) {
        ui::StoredControl c;
        c.id = sensor_list;
        c.kind = ui::ControlKind::ListBox;
        for (const int a : addresses) {
            c.items.push_back({"Adr. " + std::to_string(a), a});
        }
        c.index = 0;
        return c;
    }

    fs::path dir_;
};

TEST_F(PanelSettingsTest, ReadsTheFourValuesByControlId) {
    ui::PanelStateRecord record;
    record.controls = {list({0x01a2b3, 0x00fe01}), numeric(interval_field, 6),
                       numeric(comport_field, 7), text(logfile_field, "/data/field.txt"),
                       text(status_line, "Reading Sensor 00fe01 Temperature...")};
    const svc::SettingsRead read = svc::read_panel_settings(write(record));
    ASSERT_TRUE(read.settings) << read.reason;
    EXPECT_EQ(read.settings->sensors, (std::vector<int>{0x01a2b3, 0x00fe01}));
    EXPECT_EQ(read.settings->interval_seconds, 6);
    EXPECT_EQ(read.settings->com_port, 7);
    EXPECT_EQ(read.settings->log_file, "/data/field.txt");
    EXPECT_TRUE(read.settings->adjusted.empty());
    EXPECT_FALSE(svc::unusable_reason(*read.settings));
}

// What the window's recall does with a record that lacks a control, holds one as another
// kind, or holds a number out of range: the panel's initial value, or the nearest in range.
TEST_F(PanelSettingsTest, MissingOrOutOfRangeValuesAreWhatTheWindowWouldShow) {
    ui::PanelStateRecord record;
    record.controls = {text(sensor_list, "not a list"), numeric(interval_field, 0),
                       numeric(comport_field, 300)};
    const svc::SettingsRead read = svc::read_panel_settings(write(record));
    ASSERT_TRUE(read.settings) << read.reason;
    EXPECT_TRUE(read.settings->sensors.empty());
    EXPECT_EQ(read.settings->interval_seconds, 1);
    EXPECT_EQ(read.settings->com_port, 255);
    EXPECT_EQ(read.settings->log_file, svc::kNoFileSelected);
    ASSERT_EQ(read.settings->adjusted.size(), 2u);
    EXPECT_EQ(read.settings->adjusted[0], "the interval 0 s is outside 1 to 86400 s; 1 s is used");

    // The defaults and ranges are the panel file's.
    std::ifstream in(std::string(VELDRA_SOURCE_DIR) + "/resources/" + kPanelFileName);
    std::stringstream bytes;
    bytes << in.rdbuf();
    ui::PanelDef panel;
    std::string error;
    ASSERT_EQ(ui::ParsePanelFile(bytes.str(), MAIN_PANEL_RESOURCE, panel, error), 0) << error;
    for (const ui::ControlDef& c : panel.controls) {
        if (c.id == interval_field) {
            EXPECT_EQ(c.intValue, svc::kDefaultInterval);
            EXPECT_EQ(c.minValue, svc::kMinInterval);
            EXPECT_EQ(c.maxValue, svc::kMaxInterval);
        } else if (c.id == comport_field) {
            EXPECT_EQ(c.intValue, svc::kDefaultComPort);
            EXPECT_EQ(c.minValue, svc::kMinComPort);
            EXPECT_EQ(c.maxValue, svc::kMaxComPort);
        } else if (c.id == logfile_field) {
            EXPECT_EQ(c.textValue, svc::kNoFileSelected);
        }
    }
}

TEST_F(PanelSettingsTest, UnusableSettingsSayWhy) {
    svc::PanelSettings settings;
    settings.sensors = {1};
    EXPECT_NE(svc::unusable_reason(settings)->find("names no log file"), std::string::npos);
    settings.log_file = "";
    EXPECT_NE(svc::unusable_reason(settings)->find("names no log file"), std::string::npos);
    settings.log_file = "field.txt";
    EXPECT_FALSE(svc::unusable_reason(settings));
    settings.sensors.clear();
    EXPECT_NE(svc::unusable_reason(settings)->find("lists no sensor"), std::string::npos);

    ui::PanelStateRecord other_slot;
    other_slot.slot = 2;
    EXPECT_NE(svc::read_panel_settings(write(other_slot)).reason.find("not of slot 1"),
              std::string::npos);
}

TEST(ServiceOptions, RotationAndDiskGuardBecomeTheFileRules) {
    veldra::options::Options defaults;
    const FileRules plain = svc::file_rules(defaults);
    EXPECT_EQ(plain.rotation, FileRules::Rotation::Off);
    EXPECT_EQ(plain.disk_guard_bytes, 100ull << 20);
    EXPECT_EQ(svc::describe_file_rules(plain), "no rotation; disk guard 100 MB");

    veldra::options::Options set;
    ASSERT_TRUE(veldra::options::parse_options(
        R"({"rotation": {"mode": "size", "size_mb": 5, "keep_days": 30}, "disk_guard_mb": 0})",
        set));
    const FileRules sized = svc::file_rules(set);
    EXPECT_EQ(sized.rotation, FileRules::Rotation::Size);
    EXPECT_EQ(sized.rotate_bytes, 5ull << 20);
    EXPECT_EQ(sized.keep_days, 30);
    EXPECT_EQ(sized.disk_guard_bytes, 0u);
    EXPECT_EQ(svc::describe_file_rules(sized), "rotation at 5 MB, keeping 30 days; no disk guard");

    ASSERT_TRUE(veldra::options::parse_options(R"({"rotation": {"mode": "daily"}})", set));
    EXPECT_EQ(svc::file_rules(set).rotation, FileRules::Rotation::Daily);
}

TEST(ServiceStatus, CycleLineCountsValuesAndNamesWhatFailed) {
    using namespace veldra::core;
    CycleRecord record;
    record.cycle = 3;
    record.duration = std::chrono::milliseconds(1400);
    record.sensors.resize(2);
    record.sensors[0].address = 0x01a2b3;
    for (QueryResult& q : record.sensors[0].queries) {
        q.status = QueryStatus::Received;
    }
    record.sensors[1].address = 0x00fe01;
    for (QueryResult& q : record.sensors[1].queries) {
        q.status = QueryStatus::NoReply;
    }
    EXPECT_EQ(svc::cycle_text(record), "cycle 3: 4 of 8 values in 1.4 s; 00fe01: " +
                                           std::string(status_name(QueryStatus::NoReply)));
}

}  // namespace
