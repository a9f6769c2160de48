// "Set Logfile": cancelling, new and existing files (never emptied), unusable choices.
#include <filesystem>
#include <fstream>

#include "app/panel_ids.h"
#include "logging/logging.h"
#include "logging_fixture.h"
#include "platform/ui_testing.h"

namespace logging_test {
namespace {

namespace fs = std::filesystem;

class LogfileSelection : public LoggingTest {
  protected:
    void press_set_logfile() { ASSERT_EQ(SimulateCommit(main_panel, MAIN_SET_LOGFILE), 0); }
};

TEST_F(LogfileSelection, AsksWithTheLogFileDialog) {
    press_set_logfile();
    const auto requests = popups_.file_requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].defaultFileSpec, "*.txt");
    EXPECT_EQ(requests[0].fileTypeList, "*.txt");
    EXPECT_EQ(requests[0].title, "Please enter Path and Filename for logging Data...");
    EXPECT_EQ(requests[0].restrictExtension, 0);
    EXPECT_EQ(requests[0].allowCancel, 1);
    EXPECT_EQ(requests[0].allowMakeDirectory, 1);
}

TEST_F(LogfileSelection, CancelKeepsTheField) {
    for (const std::string& before : {std::string(kNoFileText), text_path_.string()}) {
        SetCtrlVal(main_panel, logfile_field, before);
        popups_.answer_file_select(VAL_NO_FILE_SELECTED, "");
        press_set_logfile();
        popups_.answer_file_select(-1, "");  // the box failed
        press_set_logfile();
        EXPECT_EQ(field_text(logfile_field), before);
    }
    EXPECT_TRUE(popups_.messages().empty());
}

TEST_F(LogfileSelection, NewNameIsCreatedEmptyAndExistingDataKept) {
    popups_.answer_file_select(VAL_NEW_FILE_SELECTED, text_path_.string());
    press_set_logfile();
    EXPECT_EQ(field_text(logfile_field), text_path_.string());
    ASSERT_TRUE(fs::exists(text_path_));
    EXPECT_EQ(fs::file_size(text_path_), 0u);

    const fs::path other = dir_ / "data.text";  // another extension is fine
    std::ofstream(other) << "earlier data\n";
    popups_.answer_file_select(VAL_EXISTING_FILE_SELECTED, other.string());
    press_set_logfile();
    EXPECT_EQ(field_text(logfile_field), other.string());
    EXPECT_EQ(read_file(other), "earlier data\n");
    EXPECT_TRUE(popups_.messages().empty());
}

TEST_F(LogfileSelection, UnwritableChoiceClearsTheField) {
    for (const fs::path& bad :
         {dir_ / "missing" / "field.txt", dir_, fs::path("/proc/new-log.txt")}) {
        SCOPED_TRACE(bad.string());
        SetCtrlVal(main_panel, logfile_field, text_path_.string());
        const std::size_t before = popups_.messages().size();
        popups_.answer_file_select(VAL_EXISTING_FILE_SELECTED, bad.string());
        press_set_logfile();
        const auto messages = popups_.messages();
        ASSERT_EQ(messages.size(), before + 1);
        EXPECT_EQ(messages.back().title, "Error");
        EXPECT_EQ(messages.back().text,
                  "Selected file could not be opened! Please check if file is protected!");
        EXPECT_EQ(field_text(logfile_field), kNoFileText);
    }
}

// A .text log gets a .tcsv sibling.
TEST_F(LogfileSelection, OtherExtensionGivesItsCsvPath) {
    sim({0x0a1b2c});
    add_sensor(0x0a1b2c);
    const fs::path chosen = dir_ / "data.text";
    popups_.answer_file_select(VAL_NEW_FILE_SELECTED, chosen.string());
    press_set_logfile();
    set_fields(kSimPort, 3, field_text(logfile_field));
    start_and_pause_after_first_cycle(dir_ / "data.tcsv");
    EXPECT_EQ(read_lines(dir_ / "data.tcsv").size(), 4u);
    EXPECT_EQ(read_lines(chosen).size(), 4u);
}

}  // namespace
}  // namespace logging_test
