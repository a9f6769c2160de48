// Shared set-up for the facade tests: a fresh model, callbacks that count their calls, and the
// program's own panel file loaded by resource number.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/panel_ids.h"
#include "platform/ui.h"
#include "platform/ui_testing.h"

namespace fixture {

inline constexpr const char* kPanelFile = VELDRA_PANEL_FILE;

struct Calls {
    std::atomic<int> commits{0};
    std::atomic<int> lastControl{0};
    std::vector<int> panelEvents;  // touched only by the thread that dispatches them
};
inline Calls calls;

inline int CountCommit(int, int control, int event, void*, int, int) {
    if (event == EVENT_COMMIT) {
        ++calls.commits;
        calls.lastControl = control;
    }
    return 0;
}
inline int RecordPanelEvent(int, int event, void*, int, int) {
    calls.panelEvents.push_back(event);
    return 0;
}

// Every callback name the panel file uses, bound to the counters above.
inline std::vector<ExternalName> Names() {
    std::vector<ExternalName> names;
    for (const char* n :
         {"quit_program", "add_sensor_to_list", "remove_sensor_from_list", "start_logging",
          "set_filename_for_loggerdata", "save_configuration_to_file",
          "load_configuration_from_file", "add_to_list_and_hide_panel", "cancel_and_hide_panel",
          "show_comport_device"}) {
        names.push_back({n, CountCommit, nullptr});
    }
    names.push_back({"mainpanel_callback", nullptr, RecordPanelEvent});
    return names;
}

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// One cycle as the logging thread writes it: a stamp, a cell per listed sensor, the line read
// back, then the end of the line. Tells whether the line read back was whole, i.e. began with
// the stamp, while other threads may be editing the list.
inline bool LogOneCycle(int panel, const std::string& stamp) {
    SetCtrlVal(panel, log_view, stamp);
    int count = 0;
    GetNumListItems(panel, sensor_list, count);
    for (int i = 0; i < count; ++i) {
        int value = 0;
        // The list may shrink between the count and the read; a failure is fine.
        GetValueFromIndex(panel, sensor_list, i, value);
        SetCtrlVal(panel, status_line, "sensor " + std::to_string(value));
        SetCtrlVal(panel, log_view, "x;");
    }
    int lines = 0;
    GetNumTextBoxLines(panel, log_view, lines);
    std::string last;
    GetTextBoxLine(panel, log_view, lines - 1, last);
    SetCtrlVal(panel, log_view, "\n");
    return last.rfind(stamp, 0) == 0;
}

// A temporary directory that disappears with the test.
class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/veldra-ui-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

class PanelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetUiForTesting();
        calls.commits = 0;
        calls.lastControl = 0;
        calls.panelEvents.clear();
        const auto names = Names();
        ASSERT_NE(InitRunTime(names), 0);
        mainPanel = LoadPanel(0, kPanelFile, 2);
        addressPanel = LoadPanel(0, kPanelFile, 1);
        ASSERT_GT(mainPanel, 0) << LastPanelFileError();
        ASSERT_GT(addressPanel, 0) << LastPanelFileError();
    }
    void TearDown() override { ResetUiForTesting(); }

    int mainPanel = 0;
    int addressPanel = 0;
};

}  // namespace fixture
