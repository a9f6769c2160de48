// The COM port hint's texts for each way a number can resolve.
#include "comport_hint.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* name;
    int number;
    ComPortInfo info;
    const char* text;
};

TEST(ComPortHint, TextForEachResolution) {
    const Case cases[] = {
        {"mapped by the map file",
         40,
         {40, "/tmp/demo/sensor-bus", true},
         "COM 40 = /tmp/demo/sensor-bus"},
        {"default table, present", 33, {33, "/dev/ttyUSB0", true}, "COM 33 = /dev/ttyUSB0"},
        {"mapped, device absent",
         40,
         {40, "/dev/ttyUSB7", false},
         "COM 40 = /dev/ttyUSB7 (absent)"},
        {"in range, nothing mapped", 200, {200, "", false}, "COM 200: no device"},
        {"above the range", 300, {300, "", false}, "COM 300: out of range"},
        {"zero", 0, {0, "", false}, "COM 0: out of range"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(describe_com_port(c.number, c.info, {}).text, c.text) << c.name;
    }
}

TEST(ComPortHint, TooltipListsPresentDevicesInOrder) {
    const std::vector<ComPortInfo> present{
        {1, "/dev/ttyS0", true}, {33, "/dev/ttyUSB0", true}, {40, "/tmp/demo/sensor-bus", true}};
    const ComPortHint hint = describe_com_port(5, {5, "/dev/ttyS4", false}, present);
    EXPECT_EQ(hint.tooltip,
              "COM 5 = /dev/ttyS4 (absent)\n\n"
              "Serial devices present:\n"
              "COM 1 = /dev/ttyS0\n"
              "COM 33 = /dev/ttyUSB0\n"
              "COM 40 = /tmp/demo/sensor-bus");
}

TEST(ComPortHint, TooltipSaysWhenNoDeviceIsPresent) {
    EXPECT_EQ(describe_com_port(1, {1, "/dev/ttyS0", false}, {}).tooltip,
              "COM 1 = /dev/ttyS0 (absent)\n\nNo serial devices present.");
}

}  // namespace
