// Shared set-up for the program's tests.
#include "app_fixture.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <thread>

#include "asynctimer/asynctimer.h"
#include "logging/logging.h"
#include "logging/logging_testing.h"
#include "platform/detail/panel_model.h"

namespace veldra_test {

std::filesystem::path SourcePanelFile() {
    return std::filesystem::path(VELDRA_SOURCE_DIR) / "resources" / kPanelFileName;
}

void AppTest::SetUp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "veldra-app-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    oldDir_ = std::filesystem::current_path();
    std::filesystem::copy_file(SourcePanelFile(), dir_ / kPanelFileName);
    std::filesystem::current_path(dir_);

    ResetUiForTesting();
    ASSERT_NE(InitRunTime(callback_names()), 0);
    SetDelayScaleForTesting(0.0);
    SetPopupResponder(&popups_);
    ResetLoggingForTesting();
}

void AppTest::TearDown() {
    // A program run leaves its dormant timer behind.
    if (measurement_timer > 0) {
        DiscardAsyncTimer(measurement_timer);
    }
    measurement_timer = 0;
    SetPopupResponder(nullptr);
    ResetUiForTesting();
    main_panel = address_panel = splash_panel = 0;
    std::filesystem::current_path(oldDir_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void AppTest::LoadPanels() {
    main_panel = LoadPanel(0, kPanelFileName, MAIN_PANEL_RESOURCE);
    address_panel = LoadPanel(0, kPanelFileName, ADDRESS_PANEL_RESOURCE);
    splash_panel = LoadPanel(0, kPanelFileName, SPLASH_PANEL_RESOURCE);
    ASSERT_GE(main_panel, 0) << LastPanelFileError();
    ASSERT_GE(address_panel, 0) << LastPanelFileError();
    ASSERT_GE(splash_panel, 0) << LastPanelFileError();
}

int AppTest::RunProgram(std::function<void()> user) {
    using namespace std::chrono_literals;
    std::thread person([&] {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!IsUserInterfaceRunning() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        user();
        SimulateCommit(main_panel, MAIN_QUIT);
    });
    char name[] = "veldra-logger";
    char* argv[] = {name, nullptr};
    const int result = veldra_main(1, argv);
    person.join();
    return result;
}

void AppTest::InLoop(const std::function<void()>& work) {
    std::promise<void> done;
    PostToUserInterface([&] {
        work();
        done.set_value();
    });
    done.get_future().wait();
}

std::vector<Item> AppTest::ListItems(int panel, int control) const {
    if (panel < 0) {
        panel = main_panel;
    }
    // ui.h reads item values but not labels; the panel-state record carries both.
    const std::filesystem::path file = dir_ / "items-probe.state";
    EXPECT_EQ(SavePanelState(panel, file.string(), 1), 0);
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(file);
    veldra::ui::PanelStateRecord record;
    std::string error;
    EXPECT_EQ(veldra::ui::ParsePanelState(bytes, record, error), 0) << error;
    std::vector<Item> items;
    for (const auto& stored : record.controls) {
        if (stored.id == control) {
            for (const auto& item : stored.items) {
                items.push_back({item.label, item.value});
            }
        }
    }
    int count = 0;
    GetNumListItems(panel, control, count);
    EXPECT_EQ(static_cast<int>(items.size()), count);
    return items;
}

PanelValues AppTest::Current() const {
    return {ListItems(), Int(main_panel, interval_field), Int(main_panel, comport_field),
            Text(logfile_field)};
}

void AppTest::ClearSensorList() {
    int count = 0;
    GetNumListItems(main_panel, sensor_list, count);
    if (count > 0) {
        DeleteListItem(main_panel, sensor_list, 0, count);
    }
}

std::unique_ptr<veldra::sim::SensorSimulator> AppTest::SimulatedBus(
    int port, std::vector<std::uint32_t> sensors) {
    auto sim = std::make_unique<veldra::sim::SensorSimulator>(
        veldra::sim::Options{.sensors = std::move(sensors)});
    // The serial library reads comports.txt in the working folder at every open.
    std::ofstream(dir_ / "comports.txt") << port << " " << sim->device_path() << "\n";
    return sim;
}

std::string AppTest::TextBox(int control) const {
    int lines = 0;
    GetNumTextBoxLines(main_panel, control, lines);
    std::string text;
    for (int i = 0; i < lines; ++i) {
        std::string line;
        GetTextBoxLine(main_panel, control, i, line);
        text += (i > 0 ? "\n" : "") + line;
    }
    return text;
}

std::string AppTest::Text(int control) const {
    std::string text;
    GetCtrlVal(main_panel, control, text);
    return text;
}

int AppTest::Int(int panel, int control) const {
    int value = 0;
    GetCtrlVal(panel, control, value);
    return value;
}

}  // namespace veldra_test
