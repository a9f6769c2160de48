// The program's whole life, headless: start-up with and without a settings file (also one
// that cannot be read), quitting (also in the middle of a logging session), and start-up
// failures of the panel file.
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "app_fixture.h"
#include "asynctimer/asynctimer.h"
#include "logging/logging.h"
#include "platform/kept_file.h"
#include "platform/rs232.h"
#include "sim/sensor_sim.h"

namespace veldra_test {
namespace {

using namespace std::chrono_literals;

class ProgramTest : public AppTest {};

TEST_F(ProgramTest, FirstRunShowsThePanelFilesValuesWithEmptyViews) {
    // What a fresh load of the main panel holds, before the program runs.
    LoadPanels();
    const PanelValues fresh = Current();
    ResetUiForTesting();
    ASSERT_NE(InitRunTime(callback_names()), 0);
    SetDelayScaleForTesting(0.0);

    PanelValues shown{};
    std::string view = "unread", status = "unread";
    bool mainVisible = false, splashVisible = true, dialogVisible = true;
    const int result = RunProgram([&] {
        InLoop([&] {
            shown = Current();
            view = TextBox(log_view);
            status = Text(status_line);
            mainVisible = IsPanelVisible(main_panel);
            splashVisible = IsPanelVisible(splash_panel);
            dialogVisible = IsPanelVisible(address_panel);
        });
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(shown, fresh);
    EXPECT_EQ(view, "");
    EXPECT_EQ(status, "");
    EXPECT_TRUE(mainVisible);
    EXPECT_FALSE(splashVisible);
    EXPECT_FALSE(dialogVisible);
    // The timer exists, dormant.
    EXPECT_GT(measurement_timer, 0);
    int enabled = -1;
    EXPECT_EQ(GetAsyncTimerAttribute(measurement_timer, TIMER_ATTR_ENABLED, &enabled), 0);
    EXPECT_EQ(enabled, 0);
}

TEST_F(ProgramTest, SettingsSavedDuringASessionStartIdleWithTheSavedValues) {
    // The state of a main panel in the middle of a session, saved as the settings file.
    LoadPanels();
    ClearSensorList();
    for (int a : {0x0A1B2C, 0x000001, 0x0A1B2C}) {
        InsertListItem(main_panel, sensor_list, -1, sensor_label(a), a);
    }
    SetCtrlVal(main_panel, interval_field, 17);
    SetCtrlVal(main_panel, comport_field, 5);
    SetCtrlVal(main_panel, logfile_field, "/data/greenhouse.txt");
    ResetTextBox(main_panel, log_view, "Date Time;Adr. 0A1B2C\n2026-01-01 10:00:00;1\n");
    SetCtrlVal(main_panel, status_line, "Reading sensor 000001");
    SetCtrlAttribute(main_panel, start_stop_button, ATTR_LABEL_TEXT, "Stop Logging");
    for (int id : {comport_field, interval_field, 6, 5, 4, 2, 3}) {
        SetCtrlAttribute(main_panel, id, ATTR_DIMMED, 1);
    }
    const PanelValues saved = Current();
    ASSERT_EQ(SavePanelState(main_panel, kSettingsFileName, 1), 0);
    ResetUiForTesting();
    ASSERT_NE(InitRunTime(callback_names()), 0);
    SetDelayScaleForTesting(0.0);

    PanelValues shown{};
    std::string view = "unread", status = "unread", label;
    bool anyDimmed = true;
    const int result = RunProgram([&] {
        InLoop([&] {
            shown = Current();
            view = TextBox(log_view);
            status = Text(status_line);
            label = ControlLabel(main_panel, start_stop_button);
            anyDimmed = false;
            for (int id : {comport_field, interval_field, 6, 5, 4, 2, 3, start_stop_button}) {
                anyDimmed = anyDimmed || IsControlDimmed(main_panel, id);
            }
        });
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(shown, saved);
    EXPECT_EQ(view, "");
    EXPECT_EQ(status, "");
    EXPECT_EQ(label, "Start Logging");
    EXPECT_FALSE(anyDimmed);
    EXPECT_EQ(logging_active(), 0);
}

TEST_F(ProgramTest, QuitRightAfterStartWritesTheSettingsAndClosesPortZeroHarmlessly) {
    std::ofstream(kSettingsFileName) << "left over from an old version\n";
    PanelValues atQuit{};
    const int result = RunProgram([&] {
        InLoop([&] {
            // What the user changed before quitting must reach the settings file.
            SetCtrlVal(main_panel, interval_field, 77);
            InsertListItem(main_panel, sensor_list, -1, sensor_label(0xBEEF), 0xBEEF);
            atQuit = Current();
        });
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(com_port_number(), 0);

    // The next run's recall brings back exactly that.
    LoadPanels();
    ASSERT_EQ(RecallPanelState(main_panel, kSettingsFileName, 1), 0);
    EXPECT_EQ(Current(), atQuit);
    // Written atomically: nothing but the panel file and the settings file is left behind, and
    // the old file that could not be read, kept under a dated name.
    int kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
        const auto name = entry.path().filename().string();
        if (name.starts_with("settings.2") && name.ends_with(".txt")) {
            ++kept;
            continue;
        }
        EXPECT_TRUE(name == kPanelFileName || name == kSettingsFileName) << name;
    }
    EXPECT_EQ(kept, 1);
}

// A settings file that is there but cannot be read is not replaced by the panel file's values
// at quit: it is kept under a dated name beside the new one, bytes intact, and the status line
// says so when the main panel shows. One bad item loads nothing, and the notice names it.
TEST_F(ProgramTest, ASettingsFileThatCannotBeReadIsKeptAndSaid) {
    LoadPanels();
    const PanelValues fresh = Current();
    ClearSensorList();
    for (int a : {0x0A1B2C, 0x01A2B3, 0x00FE01}) {
        InsertListItem(main_panel, sensor_list, -1, sensor_label(a), a);
    }
    ASSERT_EQ(SavePanelState(main_panel, kSettingsFileName, 1), 0);
    std::string valid;
    {
        std::ifstream in(kSettingsFileName, std::ios::binary);
        valid.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string wrongType = valid;
    const std::string third = "\"value\": " + std::to_string(0x00FE01);
    wrongType.replace(wrongType.find(third), third.size(), "\"value\": \"00fe01\"");
    struct Case {
        const char* name;
        std::string bytes;
        std::string reason;
    };
    const Case cases[] = {
        {"truncated", valid.substr(0, 100), "the record ends early, after 100 bytes"},
        {"binary",
         std::string("\x7f"
                     "ELF\x02\x01\x00\x00",
                     8),
         "not a panel-state record (no valid JSON at byte 1)"},
        {"too deep", std::string(200000, '[') + std::string(200000, ']'),
         "not a panel-state record"},
        {"an item of the wrong type", wrongType,
         "control 21: list item 3: the value is not an integer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
            if (entry.path().filename().string().starts_with("settings.")) {
                std::filesystem::remove(entry.path());
            }
        }
        std::ofstream(kSettingsFileName, std::ios::binary) << c.bytes;
        struct stat st {};
        ASSERT_EQ(::stat(kSettingsFileName, &st), 0);
        const std::string kept =
            veldra::platform::DatedName(kSettingsFileName, st.st_mtim.tv_sec, 0);
        ResetUiForTesting();
        ASSERT_NE(InitRunTime(callback_names()), 0);
        SetDelayScaleForTesting(0.0);

        PanelValues shown{};
        std::string status = "unread";
        bool mainVisible = false;
        const int result = RunProgram([&] {
            InLoop([&] {
                shown = Current();
                status = Text(status_line);
                mainVisible = IsPanelVisible(main_panel);
            });
        });
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(mainVisible);
        EXPECT_EQ(shown, fresh);
        EXPECT_EQ(status, std::string(kSettingsFileName) + " could not be read (" + c.reason +
                              "); kept as " + kept);
        std::ifstream in(kept, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
                  c.bytes);
        // The quit saved the panel's values as a new, readable settings file.
        LoadPanels();
        EXPECT_EQ(RecallPanelState(main_panel, kSettingsFileName, 1), 0);
        EXPECT_EQ(TakePanelStateNotice(), "");
    }
}

TEST_F(ProgramTest, QuitDuringASessionEndsItBeforeSaving) {
    constexpr int kPort = 9;
    const auto sim = SimulatedBus(kPort, {0x0A1B2C});
    const auto logPath = dir_ / "field.txt";

    bool wasLogging = false;
    const int result = RunProgram([&] {
        InLoop([&] {
            ClearSensorList();
            InsertListItem(main_panel, sensor_list, -1, sensor_label(0x0A1B2C), 0x0A1B2C);
            SetCtrlVal(main_panel, comport_field, kPort);
            SetCtrlVal(main_panel, interval_field, 3);
            SetCtrlVal(main_panel, logfile_field, logPath.string());
        });
        SimulateCommit(main_panel, start_stop_button);
        InLoop([&] { wasLogging = logging_active() == 1; });
        // Let the first cycle get under way on the timer's thread before quitting.
        sim->wait_for_exchanges(1, 30s);
    });
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(wasLogging) << (popups_.messages.empty() ? "" : popups_.messages[0].second);
    EXPECT_EQ(logging_active(), 0);
    int enabled = -1;
    GetAsyncTimerAttribute(measurement_timer, TIMER_ATTR_ENABLED, &enabled);
    EXPECT_EQ(enabled, 0);
    // Nothing touches the bus after the program has ended.
    const auto served = sim->exchange_count();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sim->exchange_count(), served);
    // The settings hold the session's values, and the log file exists with its header.
    LoadPanels();
    ASSERT_EQ(RecallPanelState(main_panel, kSettingsFileName, 1), 0);
    EXPECT_EQ(Int(main_panel, comport_field), kPort);
    EXPECT_EQ(Text(logfile_field), logPath.string());
    EXPECT_TRUE(std::filesystem::exists(logPath));
}

TEST_F(ProgramTest, QuitAfterARefusedStartReleasesThePort) {
    constexpr int kPort = 9;
    const auto sim = SimulatedBus(kPort, {0x0A1B2C});
    bool refused = false;
    const int result = RunProgram([&] {
        InLoop([&] {
            // A log file but no sensor: the port test passes and the list check refuses.
            ClearSensorList();
            SetCtrlVal(main_panel, comport_field, kPort);
            SetCtrlVal(main_panel, logfile_field, (dir_ / "field.txt").string());
        });
        SimulateCommit(main_panel, start_stop_button);
        InLoop([&] { refused = logging_active() == 0 && !popups_.messages.empty(); });
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(refused);
    EXPECT_EQ(com_port_number(), kPort);
    EXPECT_EQ(CloseCom(kPort), COM_ERR_NOT_OPEN);
}

// Writes a copy of the real panel file without the given resource.
void WritePanelFileWithout(int resource, const std::filesystem::path& to) {
    std::ifstream in(SourcePanelFile());
    nlohmann::json file = nlohmann::json::parse(in);
    auto& panels = file.at("panels");
    for (auto it = panels.begin(); it != panels.end();) {
        it = it->at("resource") == resource ? panels.erase(it) : std::next(it);
    }
    std::ofstream(to, std::ios::trunc) << file.dump(2);
}

TEST_F(ProgramTest, APanelFileThatCannotServeEndsStartUpWithMinusOne) {
    struct Case {
        const char* name;
        std::function<void()> prepare;
    };
    const std::filesystem::path file = dir_ / kPanelFileName;
    const Case cases[] = {
        {"no splash panel", [&] { WritePanelFileWithout(SPLASH_PANEL_RESOURCE, file); }},
        {"no main panel", [&] { WritePanelFileWithout(MAIN_PANEL_RESOURCE, file); }},
        {"missing", [&] { std::filesystem::remove(file); }},
        {"malformed", [&] { std::ofstream(file, std::ios::trunc) << "{\"panels\": [ {"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        ResetUiForTesting();
        ASSERT_NE(InitRunTime(callback_names()), 0);
        SetDelayScaleForTesting(0.0);
        char name[] = "veldra-logger";
        char* argv[] = {name, nullptr};
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(veldra_main(1, argv), -1);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find(kPanelFileName), std::string::npos) << err;
        EXPECT_FALSE(std::filesystem::exists(dir_ / kSettingsFileName));
    }
}

// Callbacks ignore every event but the commit: no change, no quit, no dialog.
TEST_F(AppTest, ControlCallbacksIgnoreEventsOtherThanCommit) {
    LoadPanels();
    InsertListItem(main_panel, sensor_list, -1, sensor_label(1), 1);
    SetCtrlIndex(main_panel, sensor_list, 0);
    DisplayPanel(address_panel);
    const auto before = ListItems();
    for (const ExternalName& entry : callback_names()) {
        if (entry.control == nullptr) {
            continue;
        }
        for (int event : {0, 2, 3, 4, 5, 37, 52, 53}) {
            SCOPED_TRACE(std::string(entry.name) + " event " + std::to_string(event));
            EXPECT_EQ(entry.control(main_panel, 0, event, nullptr, 0, 0), 0);
            EXPECT_EQ(ListItems(), before);
            EXPECT_TRUE(IsPanelVisible(address_panel));
        }
    }
    EXPECT_TRUE(popups_.fileRequests.empty());
    EXPECT_TRUE(popups_.messages.empty());
    EXPECT_FALSE(std::filesystem::exists(dir_ / kSettingsFileName));
}

TEST(CallbackNames, EveryCallbackOfThePanelFileIsInTheTable) {
    std::ifstream in(SourcePanelFile());
    const nlohmann::json file = nlohmann::json::parse(in);
    std::set<std::string> named;
    for (const auto& panel : file.at("panels")) {
        if (panel.contains("callback")) {
            named.insert(panel.at("callback").get<std::string>());
        }
        for (const auto& control : panel.at("controls")) {
            if (control.contains("callback")) {
                named.insert(control.at("callback").get<std::string>());
            }
        }
    }
    std::set<std::string> table;
    for (const ExternalName& entry : callback_names()) {
        table.insert(std::string(entry.name));
        EXPECT_NE(entry.control == nullptr, entry.panel == nullptr) << entry.name;
    }
    for (const char* name :
         {"quit_program", "add_sensor_to_list", "remove_sensor_from_list", "start_logging",
          "set_filename_for_loggerdata", "save_configuration_to_file",
          "load_configuration_from_file", "add_to_list_and_hide_panel", "cancel_and_hide_panel",
          "mainpanel_callback"}) {
        EXPECT_TRUE(table.contains(name)) << name;
    }
    for (const std::string& name : named) {
        EXPECT_TRUE(table.contains(name)) << name;
    }
}

}  // namespace
}  // namespace veldra_test
