// The window's log-write error line as the log files' notices come: a few words with the
// count first (lines waiting, dropped), which log, since when and why; a disk that fills up;
// recovery and space back; the whole texts in its tooltip; empty again at the next start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/panel_ids.h"
#include "display_table.h"
#include "logging_fixture.h"
#include "platform/wall_clock.h"

namespace logging_test {
namespace {

using veldra::core::LogFileStatus;
using veldra::core::Notice;
using veldra::core::NoticeKind;
using Output = LogFileStatus::Output;

class ErrorLine : public LoggingTest {
  protected:
    std::string tooltip() {
        std::string text;
        GetCtrlAttribute(main_panel, log_error_line, ATTR_TOOLTIP_TEXT, text);
        return text;
    }
};

Notice file_notice(NoticeKind kind, Output output, std::size_t waiting, std::size_t dropped,
                   bool update = false) {
    const auto since = ReadWallClock().utc;  // 14:07:09 by the fixture's clock
    LogFileStatus status;
    status.output = output;
    status.path = output == Output::Text ? "/data/field.txt" : "/data/field.csv";
    const bool failing = kind != NoticeKind::WriteRecovered;
    status.reason = failing ? "No space left on device" : "";
    status.failing_since = failing ? since : decltype(since){};
    status.lines_waiting = waiting;
    status.lines_dropped = dropped;
    return {kind, "full text of " + status.path + " " + std::to_string(waiting), since, status,
            update};
}

TEST_F(ErrorLine, SumsUpTheLogFilesAndTheDisk) {
    veldra::window::DisplayTable table;
    struct Step {
        Notice notice;
        std::string line;
        std::string tooltip;
    };
    const std::string disk_low = "Free space low in /data: 80.0 MB left (warning under 100.0 MB)";
    const std::string since = " not written since 14:07:09 (No space left on device)";
    const std::vector<Step> steps{
        {{NoticeKind::DiskLow, disk_low, {}}, disk_low, disk_low},
        {file_notice(NoticeKind::WriteFailed, Output::Text, 1, 0), "1 line waits: text log" + since,
         "full text of /data/field.txt 1\n" + disk_low},
        {file_notice(NoticeKind::WriteFailed, Output::Csv, 1, 0), "1 line waits: logs" + since,
         "full text of /data/field.txt 1\nfull text of /data/field.csv 1\n" + disk_low},
        {file_notice(NoticeKind::WriteFailed, Output::Text, 2, 0, true),
         "2 lines wait: logs" + since,
         "full text of /data/field.txt 2\nfull text of /data/field.csv 1\n" + disk_low},
        {file_notice(NoticeKind::LinesDropped, Output::Csv, 10000, 7),
         "10000 lines wait, 7 dropped: logs" + since,
         "full text of /data/field.txt 2\nfull text of /data/field.csv 10000\n" + disk_low},
        {file_notice(NoticeKind::WriteRecovered, Output::Text, 0, 0),
         "10000 lines wait, 7 dropped: CSV log" + since,
         "full text of /data/field.csv 10000\n" + disk_low},
        {file_notice(NoticeKind::WriteRecovered, Output::Csv, 0, 7), disk_low, disk_low},
        {{NoticeKind::DiskOk, "Free space in /data is back: 1.0 GB left", {}},
         "Free space in /data is back: 1.0 GB left",
         "Free space in /data is back: 1.0 GB left"},
        // Lines still waiting at the stop are lost: said, and no failure under way any more.
        {file_notice(NoticeKind::WriteFailed, Output::Text, 4, 0), "4 lines wait: text log" + since,
         "full text of /data/field.txt 4"},
        {file_notice(NoticeKind::LinesDropped, Output::Text, 0, 4),
         "full text of /data/field.txt 0", "full text of /data/field.txt 0"},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i + 1) + ": " + steps[i].notice.text);
        table.notice(steps[i].notice);
        EXPECT_EQ(field_text(log_error_line), steps[i].line);
        EXPECT_EQ(tooltip(), steps[i].tooltip);
    }
    // Notices of the line or the export are not the error line's.
    table.notice({NoticeKind::DeviceGone, "COM 7: the device is gone", {}});
    EXPECT_EQ(field_text(log_error_line), "full text of /data/field.txt 0");

    table.session_started({});
    EXPECT_EQ(field_text(log_error_line), "");
    EXPECT_EQ(tooltip(), "");
}

}  // namespace
}  // namespace logging_test
