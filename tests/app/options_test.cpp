// options.json in the window: the "Options…" command (with a scripted dialog) saves what the
// dialog confirms, keeps keys it does not know and never replaces a file it cannot read; a
// session start refuses a bad file with its reason and maps a good one to the log-file rules.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>

#include <nlohmann/json.hpp>

#include "app/window_extras.h"
#include "app_fixture.h"
#include "asynctimer/asynctimer.h"
#include "logging/logging.h"
#include "options/file_rules.h"

namespace veldra_test {
namespace {

namespace opt = veldra::options;
using veldra::core::FileRules;

// Stands in for the dialog: changes the options it is shown, or cancels.
class ScriptedEditor : public OptionsEditor {
  public:
    std::function<void(opt::Options&)> change;  // empty: the user cancels
    int shown = 0;
    std::optional<opt::Options> seen;

    bool edit(opt::Options& options) override {
        ++shown;
        seen = options;
        if (!change) {
            return false;
        }
        change(options);
        return true;
    }
};

std::string Read(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class OptionsTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        LoadPanels();
        SetOptionsEditor(&editor_);
    }
    void TearDown() override {
        SetOptionsEditor(nullptr);
        AppTest::TearDown();
    }
    void Press() { edit_options(main_panel, MAIN_OPTIONS, EVENT_COMMIT, nullptr, 0, 0); }

    std::filesystem::path file_ = dir_ / opt::kOptionsFileName;
    ScriptedEditor editor_;
};

TEST_F(OptionsTest, ConfirmedValuesAreSavedBesideTheSettingsWithUnknownKeysKept) {
    std::ofstream(file_) << R"({"rotation": {"mode": "daily"}, "site-note": "north field",
                                "mqtt": {"host": "broker.local", "qos-note": 1}})";
    editor_.change = [](opt::Options& o) {
        o.rotation.keep_days = 30;
        o.mqtt.username = "logger";
        o.mqtt.password = "secret";
    };
    Press();
    ASSERT_EQ(editor_.shown, 1);
    // The dialog was shown the file's values.
    EXPECT_EQ(editor_.seen->rotation.mode, opt::RotationMode::Daily);
    EXPECT_EQ(editor_.seen->mqtt.host, "broker.local");
    EXPECT_TRUE(popups_.messages.empty());

    const auto saved = nlohmann::json::parse(Read(file_));
    EXPECT_EQ(saved["rotation"]["mode"], "daily");
    EXPECT_EQ(saved["rotation"]["keep_days"], 30);
    EXPECT_EQ(saved["site-note"], "north field");
    EXPECT_EQ(saved["mqtt"]["qos-note"], 1);
    EXPECT_EQ(saved["mqtt"]["password"], "secret");
    struct stat st {};
    ASSERT_EQ(stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a password must not be readable by others";
    EXPECT_NE(Text(status_line).find("next start"), std::string::npos) << Text(status_line);
}

TEST_F(OptionsTest, NothingIsWrittenUnlessAcceptableValuesAreConfirmed) {
    struct Case {
        const char* name;
        std::optional<std::string> before;  // the file's content; nullopt: no file
        std::function<void(opt::Options&)> change;
        int shown;                // times the dialog showed
        const char* box;          // the title of the message box, "" for none
        const char* reason_part;  // what the box must say
    };
    const Case cases[] = {
        {"cancelled", std::nullopt, nullptr, 1, "", ""},
        {"unreadable file", std::string(R"({"rotation": {"mode": "weekly"}})"),
         [](opt::Options& o) { o.disk_guard_mb = 5; }, 0, "Error", "rotation.mode"},
        {"not JSON", std::string("{\"disk_guard_mb\": 100,"), nullptr, 0, "Error",
         opt::kOptionsFileName},
        {"a value the rules refuse", std::string("{}"),
         [](opt::Options& o) { o.mqtt.site = "north/field"; }, 1, "Error", "mqtt.site"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(file_);
        if (c.before) {
            std::ofstream(file_) << *c.before;
        }
        popups_.messages.clear();
        editor_.shown = 0;
        editor_.change = c.change;
        Press();
        EXPECT_EQ(editor_.shown, c.shown);
        if (*c.box == '\0') {
            EXPECT_TRUE(popups_.messages.empty());
        } else {
            ASSERT_EQ(popups_.messages.size(), 1u);
            EXPECT_EQ(popups_.messages[0].first, c.box);
            EXPECT_NE(popups_.messages[0].second.find(c.reason_part), std::string::npos)
                << popups_.messages[0].second;
        }
        // The file is as it was: never created, never replaced.
        EXPECT_EQ(std::filesystem::exists(file_), c.before.has_value());
        if (c.before) {
            EXPECT_EQ(Read(file_), *c.before);
        }
    }
}

TEST_F(OptionsTest, WithoutADialogTheCommandSaysWhereTheOptionsAre) {
    SetOptionsEditor(nullptr);
    Press();
    ASSERT_EQ(popups_.messages.size(), 1u);
    EXPECT_EQ(popups_.messages[0].first, "Info");
    EXPECT_NE(popups_.messages[0].second.find(opt::kOptionsFileName), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(OptionsTest, AStartWithAnOptionsFileThatCannotBeUsedIsRefusedWithItsReason) {
    measurement_timer = NewAsyncTimer(5.0, -1, 0, timer_callback, nullptr);
    const auto sim = SimulatedBus(12, {0x0A1B2C});
    ClearSensorList();
    InsertListItem(main_panel, sensor_list, -1, sensor_label(0x0A1B2C), 0x0A1B2C);
    SetCtrlVal(main_panel, comport_field, 12);
    SetCtrlVal(main_panel, interval_field, 3);
    const std::filesystem::path log = dir_ / "field.txt";
    SetCtrlVal(main_panel, logfile_field, log.string());
    std::ofstream(file_) << R"({"disk_guard_mb": -5})";

    start_logging(main_panel, start_stop_button, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(logging_active(), 0);
    ASSERT_EQ(popups_.messages.size(), 1u);
    EXPECT_EQ(popups_.messages[0].first, "Error");
    EXPECT_NE(popups_.messages[0].second.find("disk_guard_mb"), std::string::npos)
        << popups_.messages[0].second;
    EXPECT_EQ(ControlLabel(main_panel, start_stop_button), "Start Logging");
    EXPECT_FALSE(IsControlDimmed(main_panel, comport_field));
    EXPECT_FALSE(std::filesystem::exists(log)) << "a refused start prepared the log files";
    EXPECT_EQ(Read(file_), R"({"disk_guard_mb": -5})");

    // Corrected, the same press starts.
    std::ofstream(file_, std::ios::trunc) << R"({"rotation": {"mode": "daily"}})";
    popups_.messages.clear();
    start_logging(main_panel, start_stop_button, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(logging_active(), 1);
    EXPECT_TRUE(popups_.messages.empty());
    end_logging_session();
}

TEST(FileRulesFromOptions, MegabytesBecomeBytesAndModesRules) {
    struct Case {
        const char* json;
        FileRules::Rotation rotation;
        std::uint64_t rotate_bytes;
        int keep_days;
        std::uint64_t guard_bytes;
    };
    const Case cases[] = {
        // No file or no key: one pair of files, a warning under 100 MB of free space.
        {"{}", FileRules::Rotation::Off, 100ull << 20, 0, 100ull << 20},
        {R"({"rotation": {"mode": "daily", "keep_days": 14}, "disk_guard_mb": 0})",
         FileRules::Rotation::Daily, 100ull << 20, 14, 0},
        {R"({"rotation": {"mode": "size", "size_mb": 5000}, "disk_guard_mb": 2048})",
         FileRules::Rotation::Size, 5000ull << 20, 0, 2048ull << 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        opt::Options options;
        ASSERT_TRUE(opt::parse_options(c.json, options));
        const FileRules rules = veldra::options::file_rules(options);
        EXPECT_EQ(rules.rotation, c.rotation);
        EXPECT_EQ(rules.rotate_bytes, c.rotate_bytes);
        EXPECT_EQ(rules.keep_days, c.keep_days);
        EXPECT_EQ(rules.disk_guard_bytes, c.guard_bytes);
    }
}

}  // namespace
}  // namespace veldra_test
