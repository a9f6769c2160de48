// The COM port hint's texts for each way a number can resolve.
#include "comport_hint.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "app/app.h"
#include "app/panel_ids.h"
#include "platform/ui.h"
#include "platform/ui_testing.h"

namespace {

struct Case {
    const char* name;
    int number;
    ComPortInfo info;
    const char* text;
};

TEST(ComPortHint, TextForEachResolution) {
    // clang-format off
    const Case cases[] = {
        {"mapped by the map file",   40,  {40, "/dev/pts/3", true},     "COM 40 = /dev/pts/3"},
        {"default table, present",   33,  {33, "/dev/ttyUSB0", true},   "COM 33 = /dev/ttyUSB0"},
        {"mapped, device absent",    40,  {40, "/dev/ttyUSB7", false},  "COM 40 = /dev/ttyUSB7\n(absent)"},
        {"absent, long number",      64,  {64, "/dev/ttyUSB31", false}, "COM 64 = /dev/ttyUSB31\n(absent)"},
        {"long path, last part",     40,  {40, "/home/me/demo/sensor-bus", true},
                                                                        "COM 40 = \u2026/sensor-bus"},
        {"in range, nothing mapped", 200, {200, "", false},             "COM 200: no device"},
        {"above the range",          300, {300, "", false},             "COM 300: out of range"},
        {"zero",                     0,   {0, "", false},               "COM 0: out of range"},
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(describe_com_port(c.number, c.info, {}).text, c.text) << c.name;
    }
}

TEST(ComPortHint, TooltipGivesTheWholePathAndListsPresentDevicesInOrder) {
    const std::vector<ComPortInfo> present{{1, "/dev/ttyS0", true},
                                           {33, "/dev/ttyUSB0", true},
                                           {40, "/home/me/demo/sensor-bus", true}};
    const ComPortHint hint = describe_com_port(41, {41, "/home/me/demo/other-bus", false}, present);
    EXPECT_EQ(hint.text, "COM 41 = \u2026/other-bus\n(absent)");
    EXPECT_EQ(hint.tooltip,
              "COM 41 = /home/me/demo/other-bus (absent)\n\n"
              "Serial devices present:\n"
              "COM 1 = /dev/ttyS0\n"
              "COM 33 = /dev/ttyUSB0\n"
              "COM 40 = /home/me/demo/sensor-bus");
}

TEST(ComPortHint, TooltipSaysWhenNoDeviceIsPresent) {
    EXPECT_EQ(describe_com_port(1, {1, "/dev/ttyS0", false}, {}).tooltip,
              "COM 1 = /dev/ttyS0 (absent)\n\nNo serial devices present.");
}

// The callback as the panel file binds it: a committed number shows its device and the
// tooltip, read from a map file that points COM 40 at a character device every system has.
TEST(ComPortHint, CommittedNumberShowsItsDeviceInThePanel) {
    ResetUiForTesting();
    const std::string map_file = testing::TempDir() + "comport_hint_map.txt";
    {
        std::ofstream out(map_file);
        out << "40 /dev/null\n";
    }
    SetComPortMapFile(map_file);
    ASSERT_NE(InitRunTime(callback_names()), 0);
    main_panel =
        LoadPanel(0, VELDRA_SOURCE_DIR "/resources/VELDRA_Loggerprogramm.uir", MAIN_PANEL_RESOURCE);
    ASSERT_GE(main_panel, 0) << LastPanelFileError();

    SetCtrlVal(main_panel, comport_field, 40);
    ASSERT_EQ(SimulateCommit(main_panel, comport_field), 0);
    std::string text;
    std::string tooltip;
    GetCtrlVal(main_panel, comport_hint, text);
    GetCtrlAttribute(main_panel, comport_field, ATTR_TOOLTIP_TEXT, tooltip);
    EXPECT_EQ(text, "COM 40 = /dev/null");
    EXPECT_NE(tooltip.find("\nCOM 40 = /dev/null"), std::string::npos) << tooltip;

    SetCtrlVal(main_panel, comport_field, 200);
    SimulateCommit(main_panel, comport_field);
    GetCtrlVal(main_panel, comport_hint, text);
    EXPECT_EQ(text, "COM 200: no device");

    SetComPortMapFile("comports.txt");
    std::remove(map_file.c_str());
    ResetUiForTesting();
}

}  // namespace
