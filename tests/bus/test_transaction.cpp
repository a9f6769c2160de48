// One command/reply exchange over a real pseudo-terminal against the simulated sensor bus:
// the bytes on the line, each reply outcome, which frames are the answer, late answers,
// time-outs, leftovers and trailing bytes, an unopenable port, a device that vanishes
// mid-reply, replies that do not fit, and a stop during the waits of a send and a receive.
#include <gtest/gtest.h>

#include <future>
#include <optional>
#include <thread>

#include "bus/bus.h"
#include "bus_test_support.h"

namespace {

using bus_test::Clock;
using bus_test::seconds_since;
using bus_test::SimulatedLine;
using Bytes = std::vector<std::uint8_t>;

constexpr int kPort = 11;
constexpr std::uint32_t kSensor = 0x0A1B2C;
constexpr double kGenerous = 5.0;  // an upper bound no loaded machine should reach

const Bytes kWorkedRequest = {0x81, 0x00, 0x0A, 0x1B, 0x2C, 0xFD, 0xFD, 0xFD,
                              0xFD, 0x00, 0x0A, 0x47, 0x65, 0x74, 0x43, 0x6F,
                              0x75, 0x6E, 0x74, 0x73, 0x21, 0xAD, 0xEE};
const Bytes kWorkedReply = {0x81, 0x00, 0x0A, 0x1B, 0x2C, 0xFD, 0xFD, 0xFD, 0xFD,
                            0x00, 0x05, 0x31, 0x32, 0x33, 0x34, 0x35, 0xD0, 0x34};

class Transaction : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_bus_state_for_testing();
        set_reply_timeout_for_testing(1.0);
    }
    void TearDown() override { set_reply_timeout_for_testing(2.0); }

    // send + receive, as the measurement cycle does it.
    int exchange(const char* command = "GetCounts!", std::uint32_t address = kSensor) {
        const int sent = send_n_bus_message(kPort, 9600, 0, static_cast<int>(address), command);
        if (sent != 0) {
            return sent;  // -1 and the send's own codes never come from a receive
        }
        return receive_n_bus_message(kPort, 9600, buffer);
    }
    std::string text() const { return buffer.data(); }

    SimulatedLine line{kPort, {.sensors = {kSensor}}};
    veldra::sim::SensorSimulator& sim = line.sim();
    std::vector<char> buffer = std::vector<char>(10000, '#');
};

TEST_F(Transaction, SendWritesExactlyTheWorkedFrame) {
    EXPECT_EQ(send_n_bus_message(kPort, 9600, 0, kSensor, "GetCounts!"), 0);
    ASSERT_TRUE(sim.wait_for_exchanges(1, std::chrono::seconds(5)));
    const auto log = sim.exchanges();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].request, kWorkedRequest);
    EXPECT_TRUE(log[0].request_valid);
}

TEST_F(Transaction, ReplyOutcomes) {
    Bytes corrupted = kWorkedReply;
    corrupted.back() ^= 0x01;
    Bytes wrong_start = kWorkedReply;
    wrong_start[0] = 0x80;
    struct Case {
        const char* name;
        Bytes reply;
        int result;
        std::string text;  // the buffer's text afterwards, when it matters
    };
    const Case cases[] = {
        {"worked reply", kWorkedReply, 5, "12345"},
        {"corrupted twin", corrupted, BUS_ERR_CHECKSUM, "12345"},
        {"wrong start byte", wrong_start, BUS_ERR_START_BYTE, ""},
        {"empty payload", veldra::sim::SensorSimulator::reply_frame(kSensor, ""), 0, ""},
        {"not a number", veldra::sim::SensorSimulator::reply_frame(kSensor, "abc"), 3, "abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim.script_raw_reply(kSensor, c.reply);
        buffer.assign(buffer.size(), '#');
        EXPECT_EQ(exchange(), c.result);
        if (c.result >= 0 || c.result == BUS_ERR_CHECKSUM) {
            EXPECT_EQ(text(), c.text);
        }
    }
}

// Which frame is the answer: any with a right checksum, whatever address, header byte and
// fixed field it carries, except one carrying the address of another sensor asked just before
// that has not answered yet: that is its late answer.
TEST_F(Transaction, TheAnswerWhateverItsAddressUnlessAnotherSensorsLateAnswer) {
    using veldra::sim::ReplyIdentity;
    using veldra::sim::SensorSimulator;
    set_reply_timeout_for_testing(0.5);
    constexpr std::uint32_t kAskedBefore = 0x00FE01;  // silent: its answer is still awaited
    Bytes late_then_ours = SensorSimulator::reply_frame(kAskedBefore, "7");
    const Bytes ours = SensorSimulator::reply_frame(kSensor, "42");
    late_then_ours.insert(late_then_ours.end(), ours.begin(), ours.end());
    struct Case {
        const char* name;
        Bytes reply;
        int result;
        int skipped;
    };
    const Case cases[] = {
        {"same address", ours, 2, 0},
        {"an address never asked", SensorSimulator::reply_frame(0x5A5A5A, "42"), 2, 0},
        {"the address of another sensor asked just before",
         SensorSimulator::reply_frame(kAskedBefore, "7"), BUS_ERR_STALE, 1},
        {"another header byte and fixed field",
         SensorSimulator::reply_frame(
             ReplyIdentity{.address = kSensor, .header = 0x5A, .fixed_field = {1, 2, 3, 4}}, "42"),
         2, 0},
        {"the late answer, then ours", late_then_ours, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset_bus_state_for_testing();
        ASSERT_EQ(exchange("GetCounts!", kAskedBefore), BUS_ERR_START_BYTE);
        sim.script_raw_reply(kSensor, c.reply);
        ASSERT_EQ(send_n_bus_message(kPort, 9600, 0, kSensor, "GetCounts!"), 0);
        ReceiveInfo info;
        EXPECT_EQ(receive_n_bus_message(kPort, 9600, buffer, &info), c.result);
        EXPECT_EQ(info.stale_frames_skipped, c.skipped);
        EXPECT_EQ(text(), c.result > 0 ? "42" : "");
    }
}

// The receive's info tells apart what the result alone cannot: silence and a wrong first
// byte are both -4, and a skipped late answer leaves its trace.
TEST_F(Transaction, ReceiveInfoTellsSilenceFromAWrongStartByte) {
    set_reply_timeout_for_testing(0.2);
    Bytes wrong_start = kWorkedReply;
    wrong_start[0] = 0x80;
    struct Case {
        const char* name;
        std::optional<Bytes> reply;  // nullopt: silence
        int result;
        bool bytes_came;
        int stale;
        int line_error;
    };
    // The answer comes first: a sensor that has never answered is taken as absent after two
    // misses, and its first answer after that is an error.
    const Case cases[] = {
        {"worked reply", kWorkedReply, 5, true, 0, 0},
        {"silence", std::nullopt, BUS_ERR_START_BYTE, false, 0, COM_ERR_TIMEOUT},
        {"wrong start byte", wrong_start, BUS_ERR_START_BYTE, true, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim.script_raw_reply(kSensor, c.reply.value_or(Bytes{}));
        ASSERT_EQ(send_n_bus_message(kPort, 9600, 0, kSensor, "GetCounts!"), 0);
        ReceiveInfo info;
        info.bytes_read = 99;  // every field is set afresh
        EXPECT_EQ(receive_n_bus_message(kPort, 9600, buffer, &info), c.result);
        EXPECT_EQ(info.bytes_read > 0, c.bytes_came);
        EXPECT_EQ(info.stale_frames_skipped, c.stale);
        EXPECT_EQ(info.line_error, c.line_error);
    }
}

// A sensor that answers after the time-out: its late answer must not be read as the answer to
// the next request, to it or to another sensor.
TEST_F(Transaction, ALateReplyNeverAnswersTheNextRequest) {
    set_reply_timeout_for_testing(0.2);
    sim.set_late_reply_delay(std::chrono::milliseconds(300));
    sim.set_value(kSensor, veldra::sim::Quantity::Permittivity, 29.75);
    sim.set_value(kSensor, veldra::sim::Quantity::WaterContent, 20.59);
    sim.set_fault_rate(veldra::sim::Fault::LateReply, 1.0);
    EXPECT_EQ(exchange("GetPermittivity!"), BUS_ERR_START_BYTE);
    sim.set_fault_rate(veldra::sim::Fault::LateReply, 0.0);
    EXPECT_EQ(exchange("GetWaterContent!"), 5);
    EXPECT_EQ(text(), "20.59");
}

TEST_F(Transaction, WrongStartByteReadsOneByteAndTheNextSendFlushesTheRest) {
    Bytes noisy = {0x55};
    noisy.insert(noisy.end(), kWorkedReply.begin(), kWorkedReply.end());
    sim.script_raw_reply(kSensor, noisy);
    EXPECT_EQ(exchange(), BUS_ERR_START_BYTE);
    EXPECT_EQ(ComRdByte(kPort), 0x81);  // the frame behind the noise is still unread
    Bytes trailing = kWorkedReply;
    trailing.insert(trailing.end(), {'J', 'U', 'N', 'K'});
    sim.script_raw_reply(kSensor, trailing);
    EXPECT_EQ(exchange(), 5);
    sim.script_reply_text(kSensor, "777");
    EXPECT_EQ(exchange(), 3);  // neither leftover got in the way
    EXPECT_EQ(text(), "777");
}

// At true 9600-baud pacing the rest of a reply is still arriving when the next request is due:
// the send waits for the line to fall quiet before it drops what came, so the tail cannot spill
// into the next sensor's answer.
TEST_F(Transaction, BytesStillArrivingDoNotSpoilTheNextSensorsFirstQuery) {
    set_reply_timeout_for_testing(2.0);  // nothing here waits for it
    sim.set_baud_emulation(true, 9600);
    constexpr std::uint32_t kNext = 0x00FE02;
    const Bytes frame = veldra::sim::SensorSimulator::reply_frame(kSensor, "21.50");
    Bytes trailing = frame;
    trailing.insert(trailing.end(), 24, 0x81);  // start bytes, even: the worst tail there is
    Bytes bad_start = {0x55};
    bad_start.insert(bad_start.end(), frame.begin(), frame.end());
    struct Case {
        const char* name;
        Bytes reply;
        int result;
    };
    const Case cases[] = {
        {"a reply with trailing bytes", trailing, 5},
        {"a reply with a bad start byte", bad_start, BUS_ERR_START_BYTE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim.script_raw_reply(kSensor, c.reply);
        EXPECT_EQ(exchange("GetTemperature!", kSensor), c.result);
        sim.script_reply_text(kNext, "1234");
        EXPECT_EQ(exchange("GetCounts!", kNext), 4);
        EXPECT_EQ(text(), "1234");
    }
}

TEST_F(Transaction, SilenceEndsAfterTheTimeOut) {
    set_reply_timeout_for_testing(0.2);
    const auto start = Clock::now();
    EXPECT_EQ(exchange("GetCounts!", 0x00FE01 /* nobody */), BUS_ERR_START_BYTE);
    EXPECT_GE(seconds_since(start), 0.19);
    EXPECT_LT(seconds_since(start), kGenerous);
}

TEST_F(Transaction, SilenceTakesTheRealTwoSecondTimeOut) {
    set_reply_timeout_for_testing(2.0);
    const auto start = Clock::now();
    EXPECT_EQ(exchange("GetCounts!", 0x00FE01), BUS_ERR_START_BYTE);
    EXPECT_GE(seconds_since(start), 1.95);
    EXPECT_LT(seconds_since(start), 2.0 + kGenerous);
}

TEST_F(Transaction, UnopenablePortFailsWithoutWriting) {
    EXPECT_EQ(send_n_bus_message(200, 9600, 0, kSensor, "GetCounts!"), BUS_ERR_PORT);
    SetComPortMapFile("");  // COM11 -> /dev/ttyS10, absent on most machines
    if (!ResolveComPort(kPort).present) {
        EXPECT_EQ(send_n_bus_message(kPort, 9600, 0, kSensor, "GetCounts!"), BUS_ERR_PORT);
    }
    EXPECT_EQ(send_n_bus_message(kPort, 9600, 0, kSensor, std::string(88, 'x').c_str()),
              BUS_ERR_TOO_LONG);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sim.exchange_count(), 0u);
}

TEST_F(Transaction, DeviceVanishingMidReplyEndsTheReceptionAtOnce) {
    set_reply_timeout_for_testing(30.0);
    sim.script_raw_reply(kSensor, Bytes(kWorkedReply.begin(), kWorkedReply.begin() + 13));
    ASSERT_EQ(send_n_bus_message(kPort, 9600, 0, kSensor, "GetCounts!"), 0);
    auto unplug = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        sim.unplug();
    });
    const auto start = Clock::now();
    EXPECT_EQ(receive_n_bus_message(kPort, 9600, buffer), BUS_ERR_READ);
    EXPECT_LT(seconds_since(start), kGenerous);  // not the 30 s time-out
    unplug.get();

    EXPECT_EQ(exchange(), BUS_ERR_PORT);  // still unplugged: the device is not there
    sim.replug();                         // same path, new device behind it
    sim.script_reply_text(kSensor, "42");
    EXPECT_EQ(exchange(), 2);
    EXPECT_EQ(text(), "42");
}

TEST_F(Transaction, TruncatedReplyFailsAfterOneTimeOut) {
    sim.script_raw_reply(kSensor, Bytes(kWorkedReply.begin(), kWorkedReply.begin() + 5));
    const auto start = Clock::now();
    EXPECT_EQ(exchange(), BUS_ERR_READ);
    EXPECT_LT(seconds_since(start), 1.0 + kGenerous);  // one time-out, not one per missing byte
}

TEST_F(Transaction, ReplyTooLongForTheBufferIsRefused) {
    std::vector<char> storage(64, 'G');
    const std::span<char> small(storage.data() + 16, 16);
    sim.script_reply_text(kSensor, std::string(100, '9'));
    ASSERT_EQ(send_n_bus_message(kPort, 9600, 0, kSensor, "GetCounts!"), 0);
    EXPECT_EQ(receive_n_bus_message(kPort, 9600, small), BUS_ERR_TOO_LONG);
    for (std::size_t i = 0; i < storage.size(); ++i) {
        if (i < 16 || i >= 32) {
            ASSERT_EQ(storage[i], 'G') << "written past the buffer at " << i;
        }
    }
    // The cycle's 10,000-byte buffer: 9,999 characters fit, 10,000 do not.
    sim.script_reply_text(kSensor, std::string(9999, '1'));
    EXPECT_EQ(exchange(), 9999);
    sim.script_reply_text(kSensor, std::string(10000, '1'));
    EXPECT_EQ(exchange(), BUS_ERR_TOO_LONG);
}

TEST_F(Transaction, AbortCutsAWaitingReceiveShort) {
    set_reply_timeout_for_testing(30.0);
    ASSERT_EQ(send_n_bus_message(kPort, 9600, 0, 0x00FE01, "GetCounts!"), 0);
    auto receive =
        std::async(std::launch::async, [&] { return receive_n_bus_message(kPort, 9600, buffer); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = Clock::now();
    AbortComWait(kPort);
    ASSERT_EQ(receive.wait_for(std::chrono::duration<double>(kGenerous)),
              std::future_status::ready);
    EXPECT_EQ(receive.get(), BUS_ERR_START_BYTE);
    EXPECT_LT(seconds_since(start), kGenerous);
    EXPECT_EQ(CloseCom(kPort), 0);
}

// An adapter whose output never drains (here a line held off by flow control): a stop ends
// the send's wait for it at once instead of after the drain limit.
TEST(Drain, AStopEndsTheWaitForAnOutputThatNeverDrains) {
    constexpr int kWedgedPort = 12;
    bus_test::TempDir dir;
    bus_test::RawPty pty;
    bus_test::use_map_file(dir.file("comports.txt"),
                           {std::to_string(kWedgedPort) + " " + pty.slave_path()});
    set_reply_timeout_for_testing(30.0);  // the drain limit is this and a second more
    ASSERT_EQ(OpenComConfig(kWedgedPort, "", 9600, 0, 8, 1, 10000, 10000), 0);
    pty.hold_off();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the stop character taken in
    auto send = std::async(std::launch::async, [] {
        return send_n_bus_message(kWedgedPort, 9600, 0, kSensor, "GetCounts!");
    });
    // The waits before the frame goes out last milliseconds: still running, it waits to drain.
    ASSERT_EQ(send.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
        << "the send ended with " << send.get();
    const auto start = Clock::now();
    AbortComWait(kWedgedPort);
    ASSERT_EQ(send.wait_for(std::chrono::duration<double>(kGenerous)), std::future_status::ready);
    EXPECT_EQ(send.get(), BUS_ERR_ABORTED);
    EXPECT_LT(seconds_since(start), kGenerous);
    EXPECT_EQ(CloseCom(kWedgedPort), 0);
    set_reply_timeout_for_testing(2.0);
    SetComPortMapFile("comports.txt");
}

}  // namespace
