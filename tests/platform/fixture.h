// Shared set-up for the facade tests: a fresh model, callbacks that count their calls, the
// program's own panel file loaded by resource number, and names that are no regular files.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

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
          "show_comport_device", "edit_options"}) {
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

// Names under which there is no regular file, each with the kind a refusal must name: a named
// pipe (a plain open for reading would wait for a writer for ever), a socket, a directory, two
// character devices, and a block device where this machine lets the test make one.
struct NotRegularFile {
    std::string path;
    std::string kind;
};
inline std::vector<NotRegularFile> MakeNotRegularFiles(const TempDir& dir,
                                                       const std::string& extension) {
    std::vector<NotRegularFile> files;
    const std::string fifo = dir.file("pipe" + extension);
    EXPECT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    files.push_back({fifo, "a named pipe (FIFO)"});
    const std::string socketPath = dir.file("socket" + extension);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(s);  // the socket file stays
    files.push_back({socketPath, "a socket"});
    const std::string sub = dir.file("folder" + extension);
    std::filesystem::create_directory(sub);
    files.push_back({sub, "a directory"});
    files.push_back({"/dev/null", "a character device"});
    files.push_back({"/dev/zero", "a character device"});  // reading it would never end
    const std::string block = dir.file("disk" + extension);
    if (::mknod(block.c_str(), S_IFBLK | 0600, makedev(7, 0)) == 0) {
        files.push_back({block, "a block device"});
    }
    return files;
}

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
