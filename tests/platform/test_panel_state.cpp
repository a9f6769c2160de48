// Panel-state files: every kind of control survives a round trip, and a file that is not a
// whole, valid record of ours changes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/panel_ids.h"
#include "fixture.h"

namespace {

using fixture::PanelTest;
using fixture::Slurp;
using fixture::TempDir;
using fixture::Write;

// Everything the record carries, as one comparable text.
std::string Snapshot(int panel) {
    std::ostringstream out;
    int i = 0;
    std::string s;
    GetCtrlVal(panel, interval_field, i);
    out << "interval " << i << '\n';
    GetCtrlVal(panel, comport_field, i);
    out << "com " << i << '\n';
    GetCtrlVal(panel, logfile_field, s);
    out << "logfile " << s << '\n';
    GetCtrlVal(panel, status_line, s);
    out << "status " << s << '\n';
    GetCtrlVal(panel, log_view, s);
    out << "log [" << s << "]\n";
    int n = 0;
    GetNumListItems(panel, sensor_list, n);
    for (int k = 0; k < n; ++k) {
        GetValueFromIndex(panel, sensor_list, k, i);
        out << "item " << i << '\n';
    }
    GetCtrlIndex(panel, sensor_list, i);
    out << "index " << i << '\n';
    return out.str();
}

class PanelStateTest : public PanelTest {
  protected:
    void FillEverything() {
        SetCtrlVal(mainPanel, interval_field, 42);
        SetCtrlVal(mainPanel, comport_field, 33);
        SetCtrlVal(mainPanel, logfile_field, "/data/Messung \"Süd\"; Feld 3.txt");
        SetCtrlVal(mainPanel, status_line, "reading sensor 00abcd…");
        ResetTextBox(mainPanel, log_view, "head;er\n\"quoted\";x\nÄÖÜ ß µ\nunended");
        InsertListItem(mainPanel, sensor_list, -1, "Adr. 00ABCD", 0x00ABCD);
        InsertListItem(mainPanel, sensor_list, -1, "Adr. FFFFFF", 0xFFFFFF);
        InsertListItem(mainPanel, sensor_list, -1, "odd; \"label\"\n", -5);
        SetCtrlIndex(mainPanel, sensor_list, 1);
    }
    TempDir dir;
};

TEST_F(PanelStateTest, RoundTripKeepsEveryValueListItemAndText) {
    FillEverything();
    const std::string expected = Snapshot(mainPanel);
    const std::string file = dir.file("settings.txt");
    ASSERT_EQ(SavePanelState(mainPanel, file, 1), 0);

    // Session state is not part of the record.
    SetCtrlAttribute(mainPanel, start_stop_button, ATTR_LABEL_TEXT, "Stop Logging");
    SetCtrlAttribute(mainPanel, MAIN_ADD_SENSOR, ATTR_DIMMED, 1);
    // A new run: fresh panels from the panel file, then the recall.
    ResetUiForTesting();
    const auto names = fixture::Names();
    InitRunTime(names);
    mainPanel = LoadPanel(0, fixture::kPanelFile, 2);
    ASSERT_EQ(RecallPanelState(mainPanel, file, 1), 0);
    EXPECT_EQ(Snapshot(mainPanel), expected);
    EXPECT_EQ(ControlLabel(mainPanel, start_stop_button), "Start Logging");
    EXPECT_FALSE(IsControlDimmed(mainPanel, MAIN_ADD_SENSOR));
    // Labels come back too, not only values.
    int n = 0;
    GetNumListItems(mainPanel, sensor_list, n);
    EXPECT_EQ(n, 3);
}

TEST_F(PanelStateTest, BadFilesFailAndChangeNothing) {
    FillEverything();
    const std::string good = dir.file("good.set");
    ASSERT_EQ(SavePanelState(mainPanel, good, 1), 0);
    const std::string valid = Slurp(good);
    std::string newer = valid;
    newer.replace(newer.find("\"version\": 1"), 12, "\"version\": 2");
    std::string foreign = valid;
    foreign.replace(foreign.find("veldra-panel-state"), 18, "some-other-program");
    std::string badItem = valid;
    badItem.replace(badItem.find("\"value\": 16777215"), 17, "\"value\": \"ffffff\"");
    std::string twice = valid;
    twice.replace(twice.find("\"controls\": ["), 13,
                  "\"controls\": [{\"id\": 23, \"kind\": \"numeric\", \"value\": 5},");

    // A different state on the panel; none of these files may touch it.
    ResetTextBox(mainPanel, log_view, "current\n");
    SetCtrlVal(mainPanel, interval_field, 7);
    DeleteListItem(mainPanel, sensor_list, 0, 1);
    const std::string before = Snapshot(mainPanel);

    static constexpr char kGarbage[] = "\x01\xff\xfe garbage \0 here";
    struct Case {
        const char* name;
        std::optional<std::string> content;  // nullopt: no file at all
        int expected;
    };
    const Case cases[] = {
        {"missing", std::nullopt, UIE_FILE_MISSING},
        {"empty", std::string(), UIE_FILE_FORMAT},
        {"truncated", valid.substr(0, valid.size() * 2 / 3), UIE_FILE_FORMAT},
        {"garbage", std::string(kGarbage, sizeof kGarbage - 1), UIE_FILE_FORMAT},
        {"newer format", newer, UIE_FILE_FORMAT},
        {"other program", foreign, UIE_FILE_FORMAT},
        {"list value of the wrong type", badItem, UIE_FILE_FORMAT},
        {"control stored twice", twice, UIE_FILE_FORMAT},
        {"a panel file", Slurp(fixture::kPanelFile), UIE_FILE_FORMAT},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(std::string(c.name) + ".set");
        if (c.content) {
            Write(path, *c.content);
        }
        EXPECT_EQ(RecallPanelState(mainPanel, path, 1), c.expected) << c.name;
        EXPECT_EQ(Snapshot(mainPanel), before) << c.name;
    }
    EXPECT_EQ(RecallPanelState(mainPanel, good, 2), UIE_FILE_FORMAT) << "another slot";
    EXPECT_EQ(RecallPanelState(mainPanel, dir.file(""), 1), UIE_FILE_MISSING) << "a directory";
}

TEST_F(PanelStateTest, UnknownIdsAreIgnoredAndListValuesLoadAsTheyStand) {
    const std::string file = dir.file("hand.set");
    Write(file, R"({"format": "veldra-panel-state", "version": 1, "slot": 1, "controls": [
        {"id": 99, "kind": "numeric", "value": 5},
        {"id": 24, "kind": "numeric", "value": 9},
        {"id": 21, "kind": "list_box", "index": 0,
         "items": [{"label": "Adr. 1000000", "value": 16777216}, {"label": "neg", "value": -1}]}
    ]})");
    ASSERT_EQ(RecallPanelState(mainPanel, file, 1), 0);
    int value = 0;
    GetCtrlVal(mainPanel, comport_field, value);
    EXPECT_EQ(value, 9);
    GetValueFromIndex(mainPanel, sensor_list, 0, value);
    EXPECT_EQ(value, 0x1000000);
    GetValueFromIndex(mainPanel, sensor_list, 1, value);
    EXPECT_EQ(value, -1);
}

TEST_F(PanelStateTest, SaveReplacesTheFileWholeAndLeavesNoTemporaryFile) {
    const std::string file = dir.file("config.set");
    Write(file, "old content that is longer than nothing");
    ASSERT_EQ(SavePanelState(mainPanel, file, 1), 0);
    EXPECT_EQ(Slurp(file).find("old content"), std::string::npos);
    int entries = 0;
    for ([[maybe_unused]] const auto& e :
         std::filesystem::directory_iterator(std::filesystem::path(file).parent_path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(SavePanelState(mainPanel, dir.file("no/such/dir/x.set"), 1), UIE_FILE_WRITE);
    EXPECT_EQ(SavePanelState(12345, file, 1), UIE_BAD_HANDLE);
}

}  // namespace
