// Serial ports over pseudo-terminals: settings, writing and reading, the time-out, flushing,
// the device held exclusively, and the threaded cases: abort and close waking a waiting reader, a
// device that goes away mid-wait and comes back.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <atomic>
#include <future>
#include <thread>

#include "bus_test_support.h"
#include "platform/rs232.h"

namespace {

using bus_test::Clock;
using bus_test::RawPty;
using bus_test::seconds_since;
using bus_test::TempDir;
using bus_test::use_map_file;
using Bytes = std::vector<std::uint8_t>;

constexpr int kPort = 7;
// Generous: far below the reader's own time-out, far above any scheduling delay.
constexpr double kPromptly = 5.0;

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override { use_map_file(map, {std::to_string(kPort) + " " + pty->slave_path()}); }
    void TearDown() override {
        CloseCom(kPort);
        SetComPortMapFile("comports.txt");
    }
    int open_port(int baud = 9600, int parity = 0, int data_bits = 8, int stop_bits = 1) {
        return OpenComConfig(kPort, "", baud, parity, data_bits, stop_bits, 512, 512);
    }
    // A reader blocked in ComRdByte on another thread.
    std::future<int> start_reader() {
        auto result = std::async(std::launch::async, [] { return ComRdByte(kPort); });
        EXPECT_EQ(result.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
        return result;
    }

    TempDir dir;
    const std::string map = dir.file("comports.txt");
    std::unique_ptr<RawPty> pty = std::make_unique<RawPty>();
};

TEST_F(SerialPortTest, WritesAndReadsBytesInOrder) {
    ASSERT_EQ(open_port(), 0);
    for (const int b : {0x81, 0x00, 0xFF, 0x0A, 0x0D, 0x11, 0x13, 0x1FF /* low 8 bits */}) {
        EXPECT_EQ(ComWrtByte(kPort, b), 1);
    }
    EXPECT_EQ(GetOutQLen(kPort), 0);  // a pseudo-terminal takes everything at once
    // Raw mode: no translation of CR/LF, no flow-control characters eaten.
    EXPECT_EQ(pty->read_all(), (Bytes{0x81, 0x00, 0xFF, 0x0A, 0x0D, 0x11, 0x13, 0xFF}));

    pty->write({0x0D, 0x0A, 0x03, 0x81, 0x7F});
    SetComTime(kPort, 5.0);
    for (const int expected : {0x0D, 0x0A, 0x03, 0x81, 0x7F}) {
        EXPECT_EQ(ComRdByte(kPort), expected);
    }
}

TEST_F(SerialPortTest, ReopeningReconfiguresTheOpenPort) {
    ASSERT_EQ(open_port(9600), 0);
    pty->write({0x42});
    ASSERT_EQ(open_port(19200, 2, 7, 2), 0);
    const termios t = pty->line_settings();
    // A pseudo-terminal keeps only the speed and stop bits (it forces 8 bits, no parity).
    EXPECT_EQ(::cfgetospeed(&t), B19200);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));
    SetComTime(kPort, 1.0);
    EXPECT_EQ(ComRdByte(kPort), 0x42);  // the reconfigured port kept its descriptor and input
}

// One program per port: while the port is open nobody else gets the device (another port
// number mapped to it stands for another program here: the lock binds every open but our own
// descriptor's), and a refused open leaves the line's settings alone. Our own reopen paths
// still work, and a close gives the device free again.
TEST_F(SerialPortTest, TheDeviceIsHeldExclusivelyUntilClosed) {
    constexpr int kOther = kPort + 1;
    use_map_file(map, {std::to_string(kPort) + " " + pty->slave_path(),
                       std::to_string(kOther) + " " + pty->slave_path()});
    const auto speed = [&] {
        const termios t = pty->line_settings();
        return ::cfgetospeed(&t);
    };
    const auto exclusive_mode = [&] {
        // Root may still open a terminal in exclusive mode; anyone else is refused outright.
        const veldra::serial::UniqueFd look(::open(pty->slave_path().c_str(), O_RDWR | O_NOCTTY));
        if (!look) {
            return errno == EBUSY ? 1 : -1;
        }
        int on = -1;
        return ::ioctl(look.get(), TIOCGEXCL, &on) == 0 ? on : -1;
    };

    ASSERT_EQ(open_port(9600), 0);
    EXPECT_EQ(exclusive_mode(), 1);
    EXPECT_EQ(OpenComConfig(kOther, "", 19200, 0, 8, 1, 512, 512), COM_ERR_BUSY);
    EXPECT_EQ(speed(), B9600);
    ASSERT_EQ(open_port(19200), 0);  // in place, on our own descriptor
    EXPECT_EQ(speed(), B19200);
    ASSERT_EQ(CloseCom(kPort), 0);
    EXPECT_EQ(exclusive_mode(), 0);
    ASSERT_EQ(open_port(), 0);  // closed and opened again
    EXPECT_EQ(OpenComConfig(kOther, "", 9600, 0, 8, 1, 512, 512), COM_ERR_BUSY);
    ASSERT_EQ(CloseCom(kPort), 0);
    EXPECT_EQ(OpenComConfig(kOther, "", 9600, 0, 8, 1, 512, 512), 0);
    EXPECT_EQ(open_port(), COM_ERR_BUSY);
    EXPECT_EQ(CloseCom(kOther), 0);
}

TEST_F(SerialPortTest, RefusesSettingsItCannotApply) {
    EXPECT_EQ(open_port(12345), COM_ERR_BAD_SETTING);
    EXPECT_EQ(open_port(9600, 9), COM_ERR_BAD_SETTING);
    EXPECT_EQ(open_port(9600, 0, 9), COM_ERR_BAD_SETTING);
    EXPECT_EQ(open_port(9600, 0, 8, 3), COM_ERR_BAD_SETTING);
    EXPECT_EQ(OpenComConfig(kPort, "", 9600, 0, 8, 1, -1, 512), COM_ERR_BAD_SETTING);
    EXPECT_EQ(SetComTime(kPort, -1.0), COM_ERR_BAD_SETTING);
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_NOT_OPEN);
    EXPECT_EQ(ComWrtByte(kPort, 1), COM_ERR_NOT_OPEN);
    EXPECT_EQ(GetOutQLen(kPort), COM_ERR_NOT_OPEN);
}

TEST_F(SerialPortTest, ReadWaitsForTheTimeOutThenFails) {
    ASSERT_EQ(open_port(), 0);
    SetComTime(kPort, 0.2);
    const auto start = Clock::now();
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_TIMEOUT);
    EXPECT_GE(seconds_since(start), 0.19);
    EXPECT_LT(seconds_since(start), kPromptly);
    SetComTime(kPort, 0.0);  // no wait at all
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_TIMEOUT);
}

TEST_F(SerialPortTest, FlushInQDropsEverythingNotYetRead) {
    ASSERT_EQ(open_port(), 0);
    SetComTime(kPort, 1.0);
    pty->write({1, 2, 3});
    EXPECT_EQ(ComRdByte(kPort), 1);  // 2 and 3 now wait in the port's buffer
    pty->write({4, 5});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let them arrive
    EXPECT_EQ(FlushInQ(kPort), 0);
    EXPECT_EQ(FlushOutQ(kPort), 0);
    SetComTime(kPort, 0.1);
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_TIMEOUT);
    pty->write({6});
    EXPECT_EQ(ComRdByte(kPort), 6);
}

TEST_F(SerialPortTest, ClosingIsHarmlessWhenNeverOpenOrClosedTwice) {
    EXPECT_EQ(CloseCom(kPort), COM_ERR_NOT_OPEN);
    ASSERT_EQ(open_port(), 0);
    EXPECT_EQ(CloseCom(kPort), 0);
    EXPECT_EQ(CloseCom(kPort), COM_ERR_NOT_OPEN);
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_NOT_OPEN);
    ASSERT_EQ(open_port(), 0);  // and it opens again
}

TEST_F(SerialPortTest, AbortWakesAWaitingReaderAndLatchesUntilClose) {
    ASSERT_EQ(open_port(), 0);
    SetComTime(kPort, 60.0);
    auto reader = start_reader();
    const auto start = Clock::now();
    EXPECT_EQ(AbortComWait(kPort), 0);
    ASSERT_EQ(reader.wait_for(std::chrono::duration<double>(kPromptly)), std::future_status::ready);
    EXPECT_EQ(reader.get(), COM_ERR_ABORTED);
    EXPECT_LT(seconds_since(start), kPromptly);

    pty->write({0x81});
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_ABORTED);  // latched, even with data waiting
    EXPECT_EQ(open_port(), 0);                     // a reopen does not clear it either
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_ABORTED);
    EXPECT_EQ(CloseCom(kPort), 0);
    ASSERT_EQ(open_port(), 0);
    pty->write({0x33});
    EXPECT_EQ(ComRdByte(kPort), 0x81);  // nothing received was lost meanwhile
    EXPECT_EQ(ComRdByte(kPort), 0x33);
}

TEST_F(SerialPortTest, CloseWakesAWaitingReaderBeforeClosing) {
    ASSERT_EQ(open_port(), 0);
    SetComTime(kPort, 60.0);
    auto reader = start_reader();
    const auto start = Clock::now();
    EXPECT_EQ(CloseCom(kPort), 0);
    ASSERT_EQ(reader.wait_for(std::chrono::duration<double>(kPromptly)), std::future_status::ready);
    EXPECT_EQ(reader.get(), COM_ERR_ABORTED);
    EXPECT_LT(seconds_since(start), kPromptly);
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_NOT_OPEN);
}

TEST_F(SerialPortTest, DeviceGoneEndsTheWaitAtOnceAndAReopenFindsItBack) {
    ASSERT_EQ(open_port(), 0);
    SetComTime(kPort, 60.0);
    auto reader = start_reader();
    const auto start = Clock::now();
    pty->hang_up();  // the adapter is pulled
    ASSERT_EQ(reader.wait_for(std::chrono::duration<double>(kPromptly)), std::future_status::ready);
    EXPECT_EQ(reader.get(), COM_ERR_DEVICE_GONE);
    EXPECT_LT(seconds_since(start), kPromptly);
    // Every call now says so at once, without waiting or spinning.
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_DEVICE_GONE);
    EXPECT_EQ(ComWrtByte(kPort, 1), COM_ERR_DEVICE_GONE);
    EXPECT_EQ(GetOutQLen(kPort), COM_ERR_DEVICE_GONE);

    // Plugged back in (under another name, as the mapping says): the next open reopens.
    pty = std::make_unique<RawPty>();
    use_map_file(map, {std::to_string(kPort) + " " + pty->slave_path()});
    ASSERT_EQ(open_port(), 0);
    pty->write({0x5A});
    SetComTime(kPort, 5.0);
    EXPECT_EQ(ComRdByte(kPort), 0x5A);
}

TEST_F(SerialPortTest, HangUpWithoutAReaderShowsInTheNextFlushAndTheNextOpenReopens) {
    ASSERT_EQ(open_port(), 0);
    pty->hang_up();
    pty = std::make_unique<RawPty>();
    use_map_file(map, {std::to_string(kPort) + " " + pty->slave_path()});
    EXPECT_EQ(FlushInQ(kPort), COM_ERR_DEVICE_GONE);
    ASSERT_EQ(open_port(), 0);
    ASSERT_EQ(ComWrtByte(kPort, 0x77), 1);
    EXPECT_EQ(GetOutQLen(kPort), 0);  // the queue goes out when the caller waits on it
    EXPECT_EQ(pty->read_all(), Bytes{0x77});
}

TEST_F(SerialPortTest, OpenCloseAndAbortFromManyThreadsStayConsistent) {
    std::atomic<bool> done = false;
    std::thread reader([&] {
        while (!done) {
            const int r = ComRdByte(kPort);
            EXPECT_TRUE(r == COM_ERR_NOT_OPEN || r == COM_ERR_ABORTED || r == COM_ERR_TIMEOUT ||
                        (r >= 0 && r <= 255))
                << r;
            if (r == COM_ERR_NOT_OPEN) {
                std::this_thread::yield();
            }
        }
    });
    std::thread writer([&] {
        while (!done) {
            ComWrtByte(kPort, 0x55);
            GetOutQLen(kPort);
        }
    });
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(open_port(), 0);
        SetComTime(kPort, 0.05);
        pty->write({static_cast<std::uint8_t>(i)});
        if (i % 3 == 0) {
            AbortComWait(kPort);
        }
        FlushInQ(kPort);
        CloseCom(kPort);
    }
    done = true;
    CloseCom(kPort);
    reader.join();
    writer.join();
}

}  // namespace
