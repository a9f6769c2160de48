// The model behind the facade: values, text boxes, lists, attributes and their error codes.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/panel_ids.h"
#include "fixture.h"

namespace {

using fixture::PanelTest;

TEST_F(PanelTest, ErrorCodesForBadHandlesControlsAttributesAndArguments) {
    int i = 0;
    std::string s;
    const int p = mainPanel;
    struct Case {
        const char* what;
        std::function<int()> call;
        int expected;
    };
    const Case cases[] = {
        {"unknown panel", [&] { return SetCtrlVal(999, interval_field, 5); }, UIE_BAD_HANDLE},
        {"unknown control", [&] { return GetCtrlVal(p, 99, i); }, UIE_BAD_CONTROL},
        {"discarded panel", [&] { return DisplayPanel(-3); }, UIE_BAD_HANDLE},
        {"text to numeric", [&] { return SetCtrlVal(p, interval_field, "x"); }, UIE_BAD_ARGUMENT},
        {"int from string", [&] { return GetCtrlVal(p, logfile_field, i); }, UIE_BAD_ARGUMENT},
        {"line past end", [&] { return GetTextBoxLine(p, log_view, 0, s); }, UIE_BAD_ARGUMENT},
        {"line count of list", [&] { return GetNumTextBoxLines(p, sensor_list, i); },
         UIE_BAD_ARGUMENT},
        {"value of empty list", [&] { return GetValueFromIndex(p, sensor_list, 0, i); },
         UIE_BAD_ARGUMENT},
        {"delete from empty list", [&] { return DeleteListItem(p, sensor_list, 0, 1); },
         UIE_BAD_ARGUMENT},
        {"insert past end", [&] { return InsertListItem(p, sensor_list, 3, "a", 1); },
         UIE_BAD_ARGUMENT},
        {"first line of a button",
         [&] { return GetCtrlAttribute(p, start_stop_button, ATTR_FIRST_VISIBLE_LINE, i); },
         UIE_BAD_ATTRIBUTE},
        {"unknown attribute", [&] { return SetCtrlAttribute(p, log_view, 12345, 1); },
         UIE_BAD_ATTRIBUTE},
        {"panel title as int", [&] { return GetPanelAttribute(p, ATTR_TITLE, i); },
         UIE_BAD_ATTRIBUTE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), c.expected) << c.what;
    }
}

TEST_F(PanelTest, PanelFileGivesInitialValues) {
    int interval = 0, port = 0;
    std::string logfile, title;
    EXPECT_EQ(GetCtrlVal(mainPanel, interval_field, interval), 0);
    EXPECT_EQ(GetCtrlVal(mainPanel, comport_field, port), 0);
    EXPECT_EQ(GetCtrlVal(mainPanel, logfile_field, logfile), 0);
    EXPECT_EQ(GetPanelAttribute(mainPanel, ATTR_TITLE, title), 0);
    EXPECT_GE(interval, 1);
    EXPECT_EQ(port, 1);
    EXPECT_EQ(logfile, "no file selected, please press Button \"Set Logfile\"...");
    EXPECT_EQ(title, "VELDRA Logger");
    EXPECT_EQ(ControlLabel(mainPanel, start_stop_button), "Start Logging");
}

TEST_F(PanelTest, TextBoxAppendsSplitsLinesAndCountsAnUnendedLine) {
    struct Step {
        const char* append;
        int lines;
        const char* last;
    };
    const Step steps[] = {
        {"", 0, nullptr},
        {"2026-01-01 ", 1, "2026-01-01 "},
        {"12;", 1, "2026-01-01 12;"},
        {"\n", 1, "2026-01-01 12;"},
        {"a\nb\n", 3, "b"},
        {"\n", 4, ""},
        {"tail", 5, "tail"},
    };
    for (const Step& s : steps) {
        ASSERT_EQ(SetCtrlVal(mainPanel, log_view, s.append), 0);
        int n = -1;
        ASSERT_EQ(GetNumTextBoxLines(mainPanel, log_view, n), 0);
        EXPECT_EQ(n, s.lines) << "after appending \"" << s.append << '"';
        if (s.last != nullptr) {
            std::string line;
            ASSERT_EQ(GetTextBoxLine(mainPanel, log_view, n - 1, line), 0);
            EXPECT_EQ(line, s.last);
        }
    }
    std::string all;
    ASSERT_EQ(GetCtrlVal(mainPanel, log_view, all), 0);
    EXPECT_EQ(all, "2026-01-01 12;\na\nb\n\ntail");

    ASSERT_EQ(ResetTextBox(mainPanel, log_view, "x\ny"), 0);
    int n = 0;
    GetNumTextBoxLines(mainPanel, log_view, n);
    EXPECT_EQ(n, 2);
    ASSERT_EQ(DeleteTextBoxLines(mainPanel, log_view, 0, 1), 0);
    std::string first;
    GetTextBoxLine(mainPanel, log_view, 0, first);
    EXPECT_EQ(first, "y");
}

TEST_F(PanelTest, FirstVisibleLineIsKeptWithinTheText) {
    ResetTextBox(mainPanel, log_view, "1\n2\n3\n4\n");
    int line = -1;
    ASSERT_EQ(SetCtrlAttribute(mainPanel, log_view, ATTR_FIRST_VISIBLE_LINE, 2), 0);
    ASSERT_EQ(GetCtrlAttribute(mainPanel, log_view, ATTR_FIRST_VISIBLE_LINE, line), 0);
    EXPECT_EQ(line, 2);
    SetCtrlAttribute(mainPanel, log_view, ATTR_FIRST_VISIBLE_LINE, 99);
    GetCtrlAttribute(mainPanel, log_view, ATTR_FIRST_VISIBLE_LINE, line);
    EXPECT_EQ(line, 3);
}

TEST_F(PanelTest, ListItemsInsertDeleteAndSelection) {
    int index = 0, count = 0, value = 0;
    ASSERT_EQ(GetCtrlIndex(mainPanel, sensor_list, index), 0);
    EXPECT_EQ(index, -1);
    for (int address : {0x00ABCD, 0x123456, 0xFFFFFF}) {
        ASSERT_EQ(InsertListItem(mainPanel, sensor_list, -1, "Adr.", address), 0);
    }
    ASSERT_EQ(InsertListItem(mainPanel, sensor_list, 0, "first", 7), 0);
    GetNumListItems(mainPanel, sensor_list, count);
    EXPECT_EQ(count, 4);
    GetValueFromIndex(mainPanel, sensor_list, 0, value);
    EXPECT_EQ(value, 7);
    GetValueFromIndex(mainPanel, sensor_list, 3, value);
    EXPECT_EQ(value, 0xFFFFFF);

    ASSERT_EQ(SetCtrlIndex(mainPanel, sensor_list, 2), 0);
    ASSERT_EQ(DeleteListItem(mainPanel, sensor_list, 2, 1), 0);
    GetCtrlIndex(mainPanel, sensor_list, index);
    EXPECT_EQ(index, 2);  // the item that moved up into the place
    GetValueFromIndex(mainPanel, sensor_list, index, value);
    EXPECT_EQ(value, 0xFFFFFF);
    ASSERT_EQ(DeleteListItem(mainPanel, sensor_list, 2, 1), 0);
    GetCtrlIndex(mainPanel, sensor_list, index);
    EXPECT_EQ(index, 1);  // the last item was removed: the one before it is current
    ASSERT_EQ(DeleteListItem(mainPanel, sensor_list, 0, -1), 0);
    GetCtrlIndex(mainPanel, sensor_list, index);
    EXPECT_EQ(index, -1);
}

TEST_F(PanelTest, NumericValuesAreKeptInTheirRange) {
    int value = 0;
    SetCtrlVal(mainPanel, comport_field, 1000);
    GetCtrlVal(mainPanel, comport_field, value);
    EXPECT_EQ(value, 255);
    SetCtrlVal(addressPanel, address_field, 0xABCDEF);
    GetCtrlVal(addressPanel, address_field, value);
    EXPECT_EQ(value, 0xABCDEF);
}

TEST_F(PanelTest, AttributesDimLabelAndGeometry) {
    ASSERT_EQ(SetCtrlAttribute(mainPanel, MAIN_ADD_SENSOR, ATTR_DIMMED, 1), 0);
    EXPECT_TRUE(IsControlDimmed(mainPanel, MAIN_ADD_SENSOR));
    ASSERT_EQ(SetCtrlAttribute(mainPanel, start_stop_button, ATTR_LABEL_TEXT, "Stop Logging"), 0);
    EXPECT_EQ(ControlLabel(mainPanel, start_stop_button), "Stop Logging");
    ASSERT_EQ(SetCtrlAttribute(mainPanel, comport_hint, ATTR_LABEL_TEXT, "/dev/ttyS0"), 0);
    std::string hint;
    GetCtrlVal(mainPanel, comport_hint, hint);
    EXPECT_EQ(hint, "/dev/ttyS0");
    SetCtrlAttribute(mainPanel, log_view, ATTR_WIDTH, 600);
    SetCtrlAttribute(mainPanel, log_view, ATTR_TOP, 40);
    EXPECT_EQ(ControlGeometry(mainPanel, log_view).width, 600);
    EXPECT_EQ(ControlGeometry(mainPanel, log_view).top, 40);
}

TEST_F(PanelTest, PanelsShowHideDiscardAndSendSizeEvents) {
    EXPECT_FALSE(IsPanelVisible(mainPanel));
    DisplayPanel(mainPanel);
    EXPECT_TRUE(IsPanelVisible(mainPanel));
    HidePanel(mainPanel);
    EXPECT_FALSE(IsPanelVisible(mainPanel));

    ASSERT_EQ(SetPanelAttribute(mainPanel, ATTR_WIDTH, 1024), 0);
    ASSERT_EQ(SimulatePanelResize(mainPanel, 1280, 900), 0);
    EXPECT_EQ(fixture::calls.panelEvents,
              (std::vector<int>{EVENT_PANEL_SIZE, EVENT_PANEL_SIZING, EVENT_PANEL_RESIZED}));
    int w = 0, h = 0;
    GetPanelAttribute(mainPanel, ATTR_WIDTH, w);
    GetPanelAttribute(mainPanel, ATTR_HEIGHT, h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 900);

    ASSERT_EQ(DiscardPanel(mainPanel), 0);
    EXPECT_EQ(DisplayPanel(mainPanel), UIE_BAD_HANDLE);
    EXPECT_EQ(DiscardPanel(mainPanel), UIE_BAD_HANDLE);
}

TEST_F(PanelTest, CommitRunsTheBoundCallbackDirectlyOrOnTheLoopThread) {
    ASSERT_EQ(SimulateCommit(mainPanel, start_stop_button), 0);
    EXPECT_EQ(fixture::calls.commits, 1);
    EXPECT_EQ(fixture::calls.lastControl, start_stop_button);
    EXPECT_EQ(SimulateCommit(mainPanel, 99), UIE_BAD_CONTROL);

    // With the loop running, commits queue behind earlier work and the loop ends on request.
    SimulateCommit(addressPanel, ADDRESS_OK);  // no loop: at once
    EXPECT_EQ(fixture::calls.commits, 2);
    PostToUserInterface([] {});
    std::thread other([&] {
        while (!IsUserInterfaceRunning()) {
            std::this_thread::yield();
        }
        SimulateCommit(mainPanel, MAIN_QUIT);
        PostToUserInterface([] { QuitUserInterface(7); });
    });
    EXPECT_EQ(RunUserInterface(), 7);
    other.join();
    EXPECT_EQ(fixture::calls.commits, 3);
    EXPECT_EQ(fixture::calls.lastControl, MAIN_QUIT);
}

TEST(Clock, SeamsFixTheDateAndScaleDelays) {
    ResetUiForTesting();
    SetWallClockForTesting([] { return WallClockReading{2026, 3, 4, 5, 6, 7}; });
    int month = 0, day = 0, year = 0, h = 0, m = 0, s = 0;
    GetSystemDate(month, day, year);
    GetSystemTime(h, m, s);
    EXPECT_EQ((std::vector<int>{year, month, day, h, m, s}),
              (std::vector<int>{2026, 3, 4, 5, 6, 7}));
    SetDelayScaleForTesting(0.0);
    EXPECT_EQ(Delay(3600), 0);  // returns at once
    ResetUiForTesting();
    GetSystemDate(month, day, year);
    EXPECT_GT(year, 2000);
}

TEST(Popups, DefaultsWithoutAGuiAndAnInstalledResponder) {
    ResetUiForTesting();
    std::string path = "unchanged";
    EXPECT_EQ(MessagePopup("Info", "hello"), 0);
    EXPECT_EQ(FileSelectPopup("", "*.set", "*.set", "t", 0, 0, 1, 1, 1, path),
              VAL_NO_FILE_SELECTED);

    struct Answer : PopupResponder {
        FileSelectRequest seen;
        int message(std::string_view, std::string_view) override { return 1; }
        int fileSelect(const FileSelectRequest& r, std::string& p) override {
            seen = r;
            p = "/tmp/x.set";
            return VAL_NEW_FILE_SELECTED;
        }
    } answer;
    SetPopupResponder(&answer);
    EXPECT_EQ(FileSelectPopup("", "*.set", "*.set", "Please select path and file...", 0, 0, 1, 1, 1,
                              path),
              VAL_NEW_FILE_SELECTED);
    EXPECT_EQ(path, "/tmp/x.set");
    EXPECT_EQ(answer.seen.title, "Please select path and file...");
    EXPECT_EQ(answer.seen.restrictExtension, 1);
    SetPopupResponder(nullptr);
}

}  // namespace
