// Panel-state files: every kind of control survives a round trip, a file that is not a whole,
// valid record of ours changes nothing and says why, and a save keeps such a file aside.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "app/panel_ids.h"
#include "fixture.h"
#include "platform/kept_file.h"

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
    const std::string truncated = valid.substr(0, valid.size() * 2 / 3);
    struct Case {
        std::string name;
        std::optional<std::string> content;  // nullopt: no file at all, or path is given
        int expected;
        std::string reason;  // what the notice says in brackets; empty: no notice
        std::string path = {};
    };
    std::vector<Case> cases = {
        {"missing", std::nullopt, UIE_FILE_MISSING, ""},
        {"empty", std::string(), UIE_FILE_FORMAT, "the file is empty"},
        {"truncated", truncated, UIE_FILE_FORMAT,
         "the record ends early, after " + std::to_string(truncated.size()) + " bytes"},
        {"garbage", std::string(kGarbage, sizeof kGarbage - 1), UIE_FILE_FORMAT,
         "not a panel-state record (no valid JSON at byte 1)"},
        {"too deep", std::string(100000, '[') + std::string(100000, ']'), UIE_FILE_FORMAT,
         "not a panel-state record"},
        {"a number too large for a double", R"({"format": "x", "version": 1e999})", UIE_FILE_FORMAT,
         "not a panel-state record (a number out of range)"},
        {"newer format", newer, UIE_FILE_FORMAT, "written by a newer version of the program"},
        {"other program", foreign, UIE_FILE_FORMAT, "written by another program"},
        // One bad item loads nothing, and the reason says which one.
        {"list value of the wrong type", badItem, UIE_FILE_FORMAT,
         "control 21: list item 2: the value is not an integer"},
        {"control stored twice", twice, UIE_FILE_FORMAT, "control 23 is stored twice"},
        {"a panel file", Slurp(fixture::kPanelFile), UIE_FILE_FORMAT, "written by another program"},
        {"another slot", std::nullopt, UIE_FILE_FORMAT,
         "it holds the values of slot 1, not of slot 2", good},
    };
    // A named pipe or a device under the name fails at once instead of hanging the program.
    for (const auto& f : fixture::MakeNotRegularFiles(dir, ".set")) {
        cases.push_back({f.kind, std::nullopt, UIE_FILE_MISSING,
                         "it is " + f.kind + ", not a regular file", f.path});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.path.empty() ? dir.file(c.name + ".set") : c.path;
        if (c.content) {
            Write(path, *c.content);
        }
        EXPECT_EQ(RecallPanelState(mainPanel, path, c.name == "another slot" ? 2 : 1), c.expected);
        EXPECT_EQ(Snapshot(mainPanel), before);
        EXPECT_EQ(TakePanelStateNotice(),
                  c.reason.empty() ? "" : path + " could not be read (" + c.reason + ")");
    }
}

// A save never destroys a file that could not be read: it is kept beside the new one under a
// dated name, with its bytes (or, for a named pipe or a directory, as what it is), and the
// notice says where. Missing and readable files are simply replaced.
TEST_F(PanelStateTest, SavingOverAFileThatCannotBeReadKeepsItFirst) {
    FillEverything();
    const std::string valid = dir.file("valid.set");
    ASSERT_EQ(SavePanelState(mainPanel, valid, 1), 0);
    const std::string damaged = Slurp(valid).substr(0, 40);
    struct Case {
        std::string name;
        std::string reason;
        std::function<void(const std::string&)> make;
        std::function<bool(const std::string&)> intact;
    };
    const auto holds = [](std::string bytes) {
        return [bytes](const std::string& p) { return Slurp(p) == bytes; };
    };
    const Case cases[] = {
        {"truncated", "the record ends early, after 40 bytes",
         [&](const std::string& p) { Write(p, damaged); }, holds(damaged)},
        {"binary", "not a panel-state record (no valid JSON at byte 1)",
         [](const std::string& p) { Write(p, std::string("\x00\x01\xfe", 3)); },
         holds(std::string("\x00\x01\xfe", 3))},
        {"pipe", "it is a named pipe (FIFO), not a regular file",
         [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
         [](const std::string& p) {
             struct stat st {};
             return ::lstat(p.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name + ".txt");
        c.make(path);
        struct stat st {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        const std::string kept = veldra::platform::DatedName(path, st.st_mtim.tv_sec, 0);

        ASSERT_EQ(SavePanelState(mainPanel, path, 1), 0);
        EXPECT_EQ(TakePanelStateNotice(),
                  path + " could not be read (" + c.reason + "); kept as " + kept);
        EXPECT_TRUE(c.intact(kept));
        EXPECT_EQ(RecallPanelState(mainPanel, path, 1), 0);
        // From now on it is a readable record, replaced as any other.
        ASSERT_EQ(SavePanelState(mainPanel, path, 1), 0);
        EXPECT_EQ(TakePanelStateNotice(), "");
        EXPECT_EQ(KeepUnreadablePanelState(path), 0);
    }
    EXPECT_EQ(KeepUnreadablePanelState(dir.file("missing.set")), 0);
    EXPECT_EQ(KeepUnreadablePanelState(valid), 0);
    EXPECT_TRUE(std::filesystem::exists(valid));

    // Kept at once when asked (the settings file at start), with the same notice.
    const std::string early = dir.file("early.txt");
    Write(early, "garbage");
    EXPECT_EQ(KeepUnreadablePanelState(early), 1);
    EXPECT_FALSE(std::filesystem::exists(early));
    EXPECT_NE(TakePanelStateNotice().find("could not be read (not a panel-state record"),
              std::string::npos);
    EXPECT_EQ(TakePanelStateNotice(), "");  // told once
    // Two entries per case (the file, the kept one), valid.set and the early one kept.
    int entries = 0;
    for ([[maybe_unused]] const auto& e :
         std::filesystem::directory_iterator(std::filesystem::path(valid).parent_path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 2 * 3 + 2);
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
    SetCtrlVal(mainPanel, logfile_field, "old content that is longer than the new");
    ASSERT_EQ(SavePanelState(mainPanel, file, 1), 0);
    SetCtrlVal(mainPanel, logfile_field, "new");
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
