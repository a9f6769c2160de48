// Which device a COM number stands for: the fixed table, the map file's overrides (read afresh
// at every resolution), malformed lines, absent devices, and the list of ports present.
#include <gtest/gtest.h>

#include <algorithm>

#include "bus_test_support.h"
#include "platform/rs232.h"

namespace {

using bus_test::RawPty;
using bus_test::TempDir;
using bus_test::use_map_file;

class ComMap : public ::testing::Test {
  protected:
    void SetUp() override { use_map_file(map, {}); }
    void TearDown() override { SetComPortMapFile("comports.txt"); }
    TempDir dir;
    const std::string map = dir.file("comports.txt");
};

TEST_F(ComMap, DefaultTable) {
    SetComPortMapFile("");
    const std::pair<int, const char*> cases[] = {{1, "/dev/ttyS0"},
                                                 {32, "/dev/ttyS31"},
                                                 {33, "/dev/ttyUSB0"},
                                                 {64, "/dev/ttyUSB31"},
                                                 {65, "/dev/ttyACM0"},
                                                 {96, "/dev/ttyACM31"},
                                                 {97, ""},
                                                 {0, ""},
                                                 {-1, ""},
                                                 {kMaxComPort + 1, ""}};
    for (const auto& [port, device] : cases) {
        EXPECT_EQ(ResolveComPort(port).device, device) << "COM" << port;
        EXPECT_EQ(ResolveComPort(port).number, port);
    }
}

TEST_F(ComMap, OverridesMalformedLinesAndPresence) {
    RawPty pty;
    use_map_file(map, {
                          "3 " + pty.slave_path(), "40 /nonexistent/ttyX", "9 /dev/first",
                          "9 /dev/second",  // the later line wins
                          "", "# 4 /dev/comment", "abc /dev/x", "5", "6 relative/path",
                          "7 /dev/a extra-word", "0 /dev/zero-port", "300 /dev/out-of-range",
                          "-2 /dev/negative",
                          "120 " + pty.slave_path(),  // beyond the table
                      });
    const ComPortInfo com3 = ResolveComPort(3);
    EXPECT_EQ(com3.device, pty.slave_path());
    EXPECT_TRUE(com3.present);
    EXPECT_EQ(ResolveComPort(40).device, "/nonexistent/ttyX");
    EXPECT_FALSE(ResolveComPort(40).present);
    EXPECT_EQ(ResolveComPort(9).device, "/dev/second");
    for (int port : {4, 5, 6, 7}) {
        EXPECT_EQ(ResolveComPort(port).device, "/dev/ttyS" + std::to_string(port - 1));
    }
    EXPECT_EQ(ResolveComPort(120).device, pty.slave_path());

    const auto ports = ListSerialPorts();
    const auto has = [&](int n) {
        return std::any_of(ports.begin(), ports.end(), [&](const ComPortInfo& p) {
            return p.number == n && p.present && !p.device.empty();
        });
    };
    EXPECT_TRUE(has(3));
    EXPECT_TRUE(has(120));
    EXPECT_FALSE(has(40));
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end(),
                               [](const auto& a, const auto& b) { return a.number < b.number; }));
}

TEST_F(ComMap, FileIsReadAfreshEachTime) {
    RawPty a;
    RawPty b;
    use_map_file(map, {"7 " + a.slave_path()});
    EXPECT_EQ(ResolveComPort(7).device, a.slave_path());
    use_map_file(map, {"7 " + b.slave_path()});
    EXPECT_EQ(ResolveComPort(7).device, b.slave_path());
    std::filesystem::remove(map);
    EXPECT_EQ(ResolveComPort(7).device, "/dev/ttyS6");
}

TEST_F(ComMap, OpenFailsForAbsentOrUnmappedDevices) {
    use_map_file(map, {"40 /nonexistent/ttyX", "41 " + map /* a file, not a terminal */});
    EXPECT_LT(OpenComConfig(40, "", 9600, 0, 8, 1, 512, 512), 0);
    EXPECT_LT(OpenComConfig(41, "", 9600, 0, 8, 1, 512, 512), 0);
    EXPECT_EQ(OpenComConfig(200, "", 9600, 0, 8, 1, 512, 512), COM_ERR_BAD_PORT);
    EXPECT_EQ(OpenComConfig(0, "", 9600, 0, 8, 1, 512, 512), COM_ERR_BAD_PORT);
    EXPECT_EQ(OpenComConfig(kMaxComPort + 1, "", 9600, 0, 8, 1, 512, 512), COM_ERR_BAD_PORT);
    // None of them is open afterwards; closing them does no harm.
    EXPECT_EQ(CloseCom(40), COM_ERR_NOT_OPEN);
    EXPECT_EQ(CloseCom(200), COM_ERR_NOT_OPEN);
    EXPECT_EQ(CloseCom(-5), COM_ERR_BAD_PORT);
}

}  // namespace
