// Saving and loading configuration files through the file dialog, answered by a script.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "asynctimer/asynctimer.h"
#include "logging/logging.h"
#include "platform/kept_file.h"

namespace veldra_test {
namespace {

int IgnoreTick(int, int, int, void*, void*, void*) {
    return 0;
}

class ConfigurationTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        LoadPanels();
        ClearSensorList();
    }
    // Puts a recognisable state on the main panel.
    void Fill(std::vector<int> addresses, int interval, int port, const std::string& logfile,
              const std::string& view, const std::string& status) {
        ClearSensorList();
        for (int a : addresses) {
            InsertListItem(main_panel, sensor_list, -1, sensor_label(a), a);
        }
        SetCtrlVal(main_panel, interval_field, interval);
        SetCtrlVal(main_panel, comport_field, port);
        SetCtrlVal(main_panel, logfile_field, logfile);
        ResetTextBox(main_panel, log_view, view);
        SetCtrlVal(main_panel, status_line, status);
    }
    void Save(const std::string& path, int result = VAL_NEW_FILE_SELECTED) {
        popups_.answers.push_back({result, path});
        ASSERT_EQ(SimulateCommit(main_panel, MAIN_SAVE_CONFIG), 0);
    }
    void Load(const std::string& path, int result = VAL_EXISTING_FILE_SELECTED) {
        popups_.answers.push_back({result, path});
        ASSERT_EQ(SimulateCommit(main_panel, MAIN_LOAD_CONFIG), 0);
    }
};

TEST_F(ConfigurationTest, SaveAndLoadShowTheSameDialog) {
    Save((dir_ / "a.set").string());
    Load((dir_ / "a.set").string());
    ASSERT_EQ(popups_.fileRequests.size(), 2u);
    for (const FileSelectRequest& r : popups_.fileRequests) {
        EXPECT_EQ(r.defaultDirectory, "");
        EXPECT_EQ(r.defaultFileSpec, "*.set");
        EXPECT_EQ(r.fileTypeList, "*.set");
        EXPECT_EQ(r.title, "Please select path and file...");
        EXPECT_EQ(r.buttonLabel, 0);
        EXPECT_EQ(r.restrictDirectory, 0);
        EXPECT_EQ(r.restrictExtension, 1);
        EXPECT_EQ(r.allowCancel, 1);
        EXPECT_EQ(r.allowMakeDirectory, 1);
    }
}

TEST_F(ConfigurationTest, SavingOverAnExistingFileReplacesItWithoutAsking) {
    const std::string path = (dir_ / "plant.set").string();
    Fill({0x111111}, 5, 2, "/tmp/first.txt", "", "");
    Save(path);
    Fill({0x222222, 0x333333}, 9, 4, "/tmp/second.txt", "", "");
    const PanelValues second = Current();
    Save(path, VAL_EXISTING_FILE_SELECTED);
    EXPECT_TRUE(popups_.messages.empty());

    Fill({}, 30, 7, "/tmp/other.txt", "", "");
    Load(path);
    EXPECT_EQ(Current(), second);
}

TEST_F(ConfigurationTest, LoadingReplacesTheWholeStateKeepingListOrderAndEmptiesTheViews) {
    const std::string path = (dir_ / "field.set").string();
    // The record carries a log view and status text from an earlier run.
    Fill({0x00000C, 0x0A0000, 0x000001}, 12, 3, "/data/field.txt", "time;a\n1;2\n",
         "Reading 000001");
    const PanelValues saved = Current();
    Save(path);

    Fill({0x999999}, 60, 9, "no file selected", "current table\n", "busy");
    Load(path);
    EXPECT_EQ(Current(), saved);
    EXPECT_EQ(TextBox(log_view), "");
    EXPECT_EQ(Text(status_line), "");
}

// A failed load changes nothing but the views; the status line then says why, unless there was
// simply no file.
TEST_F(ConfigurationTest, AFailedLoadOnlyEmptiesTheViewsAndSaysWhy) {
    std::ofstream(dir_ / "garbage.set") << "this is not a panel state\n";
    std::ofstream(dir_ / "empty.set");
    {
        Fill({0x010203}, 8, 2, "/data/x.txt", "", "");
        Save((dir_ / "whole.set").string());
        const auto size = std::filesystem::file_size(dir_ / "whole.set");
        std::filesystem::resize_file(dir_ / "whole.set", size / 2);
    }
    const auto half = std::filesystem::file_size(dir_ / "whole.set");
    struct Case {
        const char* name;
        std::string path;
        int result;
        std::string reason;  // empty: nothing to say
    };
    const Case cases[] = {
        {"missing, named as new", (dir_ / "missing.set").string(), VAL_NEW_FILE_SELECTED, ""},
        {"missing, named as existing", (dir_ / "gone.set").string(), VAL_EXISTING_FILE_SELECTED,
         ""},
        {"not a record", (dir_ / "garbage.set").string(), VAL_EXISTING_FILE_SELECTED,
         "not a panel-state record (no valid JSON at byte 2)"},
        {"empty file", (dir_ / "empty.set").string(), VAL_EXISTING_FILE_SELECTED,
         "the file is empty"},
        {"truncated record", (dir_ / "whole.set").string(), VAL_EXISTING_FILE_SELECTED,
         "the record ends early, after " + std::to_string(half) + " bytes"},
        {"a directory", dir_.string() + "/sub.set", VAL_EXISTING_FILE_SELECTED,
         "it is a directory, not a regular file"},
    };
    std::filesystem::create_directory(dir_ / "sub.set");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fill({0xABCDEF, 0x000010}, 15, 6, "/data/kept.txt", "kept table\n", "kept status");
        const PanelValues before = Current();
        Load(c.path, c.result);
        EXPECT_EQ(Current(), before);
        EXPECT_EQ(TextBox(log_view), "");
        EXPECT_EQ(Text(status_line),
                  c.reason.empty() ? "" : c.path + " could not be read (" + c.reason + ")");
    }
    EXPECT_TRUE(popups_.messages.empty());
}

// Saving over a file that holds no configuration keeps it under a dated name first, and the
// status line says where; the saved configuration then loads as any other.
TEST_F(ConfigurationTest, SavingOverAFileThatIsNoConfigurationKeepsIt) {
    const std::string path = (dir_ / "plant.set").string();
    std::ofstream(path) << "notes about the plant, not a configuration\n";
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    const std::string kept = veldra::platform::DatedName(path, st.st_mtim.tv_sec, 0);
    Fill({0x111111}, 5, 2, "/tmp/first.txt", "", "");
    const PanelValues saved = Current();
    Save(path, VAL_EXISTING_FILE_SELECTED);
    EXPECT_EQ(Text(status_line), path +
                                     " could not be read (not a panel-state record (no valid "
                                     "JSON at byte 2)); kept as " +
                                     kept);
    std::ifstream in(kept);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
              "notes about the plant, not a configuration\n");
    Fill({}, 30, 7, "/tmp/other.txt", "", "");
    Load(path);
    EXPECT_EQ(Current(), saved);
    EXPECT_TRUE(popups_.messages.empty());
}

TEST_F(ConfigurationTest, CancelOrDialogFailureChangesNothing) {
    for (int result : {VAL_NO_FILE_SELECTED, -1}) {
        SCOPED_TRACE(result);
        Fill({0x000777}, 11, 3, "/data/y.txt", "table stays\n", "status stays");
        const PanelValues before = Current();
        Load((dir_ / "never.set").string(), result);
        Save((dir_ / "never.set").string(), result);
        EXPECT_EQ(Current(), before);
        EXPECT_EQ(TextBox(log_view), "table stays");
        EXPECT_EQ(Text(status_line), "status stays");
        EXPECT_FALSE(std::filesystem::exists(dir_ / "never.set"));
    }
}

TEST_F(ConfigurationTest, ANameWithoutTheExtensionGetsIt) {
    Fill({0x000042}, 21, 5, "/data/z.txt", "", "");
    const PanelValues saved = Current();
    Save((dir_ / "bare").string());
    EXPECT_TRUE(std::filesystem::exists(dir_ / "bare.set"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "bare"));

    Fill({}, 40, 1, "/data/other.txt", "", "");
    Load((dir_ / "bare").string());
    EXPECT_EQ(Current(), saved);

    EXPECT_EQ(with_set_extension("a.set"), "a.set");
    EXPECT_EQ(with_set_extension("A.SET"), "A.SET");
    EXPECT_EQ(with_set_extension("a.settings"), "a.settings.set");
    EXPECT_EQ(with_set_extension("dir.set/x"), "dir.set/x.set");
}

TEST_F(ConfigurationTest, LoadIsIgnoredWhileASessionRuns) {
    Fill({0x000005}, 9, 2, "/data/s.txt", "", "");
    Save((dir_ / "other.set").string());
    // A session that runs (its timer's ticks do nothing here, so the table stays as put).
    const auto bus = SimulatedBus(3, {0x000001, 0x000002});
    measurement_timer = NewAsyncTimer(5.0, -1, 0, IgnoreTick, nullptr);
    Fill({0x000001, 0x000002}, 6, 3, (dir_ / "running.txt").string(), "", "");
    ASSERT_EQ(SimulateCommit(main_panel, start_stop_button), 0);
    ASSERT_EQ(logging_active(), 1);
    ResetTextBox(main_panel, log_view, "running table\n");
    SetCtrlVal(main_panel, status_line, "Reading");
    const PanelValues before = Current();
    popups_.answers.push_back({VAL_EXISTING_FILE_SELECTED, (dir_ / "other.set").string()});
    EXPECT_EQ(
        load_configuration_from_file(main_panel, MAIN_LOAD_CONFIG, EVENT_COMMIT, nullptr, 0, 0), 0);
    end_logging_session();
    EXPECT_EQ(Current(), before);
    EXPECT_EQ(TextBox(log_view), "running table");
    EXPECT_EQ(popups_.fileRequests.size(), 1u);  // only the save above asked
}

}  // namespace
}  // namespace veldra_test
