// The simulated sensor bus as the bus code sees it: plausible values, silence for strangers,
// every fault kind and what the receiver makes of it, reproducible faults, an exchange log that
// matches what was received, line pacing, and unplug/replug under a stable path.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <thread>

#include "bus/bus.h"
#include "bus_test_support.h"

namespace {

using bus_test::Clock;
using bus_test::seconds_since;
using bus_test::SimulatedLine;
using veldra::sim::Fault;
using veldra::sim::FaultRates;
using veldra::sim::Quantity;

constexpr int kPort = 13;
constexpr std::uint32_t kA = 0x01A2B3;
constexpr std::uint32_t kB = 0x00FE01;

class Simulator : public ::testing::Test {
  protected:
    // Long enough that a loaded machine never turns a good reply into a time-out.
    void SetUp() override { set_reply_timeout_for_testing(1.0); }
    void TearDown() override { set_reply_timeout_for_testing(2.0); }
    int exchange(std::uint32_t address, std::string_view command) {
        const std::string cmd(command);
        if (const int sent =
                send_n_bus_message(kPort, 9600, 0, static_cast<int>(address), cmd.c_str());
            sent != 0) {
            return sent;
        }
        return receive_n_bus_message(kPort, 9600, buffer);
    }
    std::string text() const { return buffer.data(); }

    SimulatedLine line{kPort, {.sensors = {kA, kB}, .seed = 7}};
    veldra::sim::SensorSimulator& sim = line.sim();
    std::vector<char> buffer = std::vector<char>(10000);
};

TEST_F(Simulator, AnswersTheFourCommandsWithPlausibleValues) {
    struct Range {
        Quantity q;
        double low, high;
    };
    const Range ranges[] = {{Quantity::Counts, 1000, 10000},
                            {Quantity::Permittivity, 1, 80},
                            {Quantity::WaterContent, 0, 60},
                            {Quantity::Temperature, -10, 40}};
    for (const std::uint32_t address : {kA, kB}) {
        for (const Range& r : ranges) {
            const auto command = veldra::sim::command_for_quantity(r.q);
            SCOPED_TRACE(std::string(command));
            const int n = exchange(address, command);
            ASSERT_GT(n, 0);
            const std::string reply = text();
            char* end = nullptr;
            const double v = std::strtod(reply.c_str(), &end);
            EXPECT_EQ(*end, '\0') << reply;
            EXPECT_GE(v, r.low);
            EXPECT_LE(v, r.high);
            if (r.q == Quantity::Counts) {
                EXPECT_EQ(reply.find('.'), std::string::npos);
            } else {
                EXPECT_EQ(reply.size() - reply.find('.'), 3u);  // two decimals, a point
            }
            // Drifts slowly: the same quantity a moment later is close by.
            ASSERT_GT(exchange(address, command), 0);
            EXPECT_NEAR(std::strtod(text().c_str(), nullptr), v, (r.high - r.low) / 20);
        }
    }
    // Fixed values replace the drift.
    sim.set_value(kA, Quantity::Temperature, -3.456);
    EXPECT_EQ(exchange(kA, "GetTemperature!"), 5);
    EXPECT_EQ(text(), "-3.46");
}

TEST_F(Simulator, StrangersAndUnknownCommandsGetSilence) {
    EXPECT_EQ(exchange(0x123456, "GetCounts!"), BUS_ERR_START_BYTE);
    EXPECT_EQ(exchange(kA, "Reboot!"), BUS_ERR_START_BYTE);
    sim.remove_sensor(kA);
    EXPECT_EQ(exchange(kA, "GetCounts!"), BUS_ERR_START_BYTE);
    sim.add_sensor(kA);
    // The bus would take its first answer for a late one of the silence before: not what
    // this test is about.
    reset_bus_state_for_testing();
    EXPECT_GT(exchange(kA, "GetCounts!"), 0);
    const auto log = sim.exchanges();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_FALSE(log[0].answered);
    EXPECT_EQ(log[1].command, "Reboot!");
    EXPECT_FALSE(log[1].quantity.has_value());
    EXPECT_TRUE(log[3].answered);
}

TEST_F(Simulator, EveryFaultKindAndWhatTheReceiverMakesOfIt) {
    sim.set_late_reply_delay(std::chrono::milliseconds(1300));
    struct Case {
        Fault fault;
        int result;  // the receive's result; 1 means "some positive length"
    };
    const Case cases[] = {
        {Fault::Silence, BUS_ERR_START_BYTE},
        {Fault::BadChecksum, BUS_ERR_CHECKSUM},
        {Fault::WrongStartByte, BUS_ERR_START_BYTE},
        {Fault::Truncated, BUS_ERR_READ},
        {Fault::Noise, BUS_ERR_START_BYTE},
        {Fault::EmptyPayload, 0},
        {Fault::NonNumeric, 1},
        {Fault::LateReply, BUS_ERR_START_BYTE},
        {Fault::ForeignAddress, 1},  // another sensor's look, and still the answer
    };
    for (const Case& c : cases) {
        EXPECT_EQ(veldra::sim::fault_named(veldra::sim::fault_name(c.fault)), c.fault);
        SCOPED_TRACE(std::string(veldra::sim::fault_name(c.fault)));
        sim.set_fault_rates({});
        sim.set_fault_rate(c.fault, 1.0);
        sim.clear_exchanges();
        const int r = exchange(kA, "GetWaterContent!");
        if (c.result == 1) {
            EXPECT_GT(r, 0);
            EXPECT_EQ(c.fault == Fault::NonNumeric,
                      !std::isdigit(static_cast<unsigned char>(text()[0])));
        } else {
            EXPECT_EQ(r, c.result);
        }
        const auto log = sim.exchanges();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].fault, c.fault);
        EXPECT_EQ(log[0].valid_reply, c.result > 0);
        if (c.fault == Fault::LateReply) {
            // It does come, after the time-out; the next send drops it.
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            sim.set_fault_rates({});
            EXPECT_GT(exchange(kA, "GetCounts!"), 0);
            EXPECT_EQ(text(), sim.exchanges().back().reply_text);
        }
    }
}

// Habits of one sensor, for every request: its answers under another identity (good frames all
// the same), or each one late by a chosen delay.
TEST_F(Simulator, HabitsOfASensor) {
    using namespace std::chrono_literals;
    const veldra::sim::ReplyIdentity foreign{
        .address = 0x123456, .header = 0x05, .fixed_field = {1, 2, 3, 4}};
    sim.set_habits(kB, {.reply_address = foreign.address,
                        .reply_header = foreign.header,
                        .reply_fixed_field = foreign.fixed_field});
    EXPECT_GT(exchange(kB, "GetCounts!"), 0);
    auto served = sim.exchanges().back();
    EXPECT_EQ(served.fault, Fault::ForeignAddress);
    EXPECT_TRUE(served.valid_reply);
    EXPECT_EQ(served.reply, veldra::sim::SensorSimulator::reply_frame(foreign, served.reply_text));
    EXPECT_EQ(text(), served.reply_text);

    sim.set_habits(kB, {.late_min = 300ms, .late_max = 300ms});  // within this test's time-out
    const auto start = Clock::now();
    EXPECT_GT(exchange(kB, "GetCounts!"), 0);
    EXPECT_GE(seconds_since(start), 0.29);
    served = sim.exchanges().back();
    EXPECT_EQ(served.fault, Fault::LateReply);
    EXPECT_EQ(served.late_by, 300ms);
    EXPECT_EQ(served.reply, veldra::sim::SensorSimulator::reply_frame(kB, served.reply_text));
}

TEST_F(Simulator, FaultsAreReproducibleWithASeed) {
    const auto faults_seen = [](std::uint64_t seed) {
        SimulatedLine other(kPort + 1,
                            {.sensors = {kA}, .faults = FaultRates::all(0.1), .seed = seed});
        std::vector<char> buf(100);
        for (int i = 0; i < 40; ++i) {
            send_n_bus_message(kPort + 1, 9600, 0, kA, "GetCounts!");
            receive_n_bus_message(kPort + 1, 9600, buf);
        }
        EXPECT_TRUE(other.sim().wait_for_exchanges(40, std::chrono::seconds(10)));
        std::vector<int> kinds;
        for (const auto& e : other.sim().exchanges()) {
            kinds.push_back(e.fault ? static_cast<int>(*e.fault) : -1);
        }
        return kinds;
    };
    sim.stop();
    set_reply_timeout_for_testing(0.05);
    const auto first = faults_seen(42);
    EXPECT_EQ(first, faults_seen(42));
    EXPECT_NE(first, faults_seen(43));
    EXPECT_GT(std::count_if(first.begin(), first.end(), [](int k) { return k >= 0; }), 5);
}

TEST_F(Simulator, FaultsCanBeLimitedToSomeSensors) {
    // Every reply of kB is faulty, none of kA's: one sensor of a line fails, the other answers.
    sim.stop();
    SimulatedLine limited(
        kPort + 2, {.sensors = {kA, kB}, .faults = FaultRates::all(1.0), .fault_sensors = {kB}});
    std::vector<char> buf(100);
    set_reply_timeout_for_testing(0.05);
    for (int i = 0; i < 10; ++i) {
        for (const std::uint32_t address : {kA, kB}) {
            send_n_bus_message(kPort + 2, 9600, 0, static_cast<int>(address), "GetCounts!");
            receive_n_bus_message(kPort + 2, 9600, buf);
        }
    }
    ASSERT_TRUE(limited.sim().wait_for_exchanges(20, std::chrono::seconds(10)));
    for (const auto& e : limited.sim().exchanges()) {
        EXPECT_EQ(e.fault.has_value(), e.address == kB) << std::hex << e.address;
    }
}

TEST_F(Simulator, ExchangeLogMatchesWhatTheReceiverGot) {
    FaultRates rates = FaultRates::all(0.03);
    rates[Fault::LateReply] = 0;  // a late reply may land in the next exchange: not this test
    sim.set_fault_rates(rates);
    set_reply_timeout_for_testing(0.5);
    const std::string_view commands[] = {"GetCounts!", "GetPermittivity!", "GetWaterContent!",
                                         "GetTemperature!"};
    std::vector<std::pair<int, std::string>> received;
    for (int i = 0; i < 150; ++i) {
        const int r = exchange(i % 3 ? kA : kB, commands[i % 4]);
        received.emplace_back(r, r >= 0 ? text() : "");
    }
    const auto log = sim.exchanges();
    ASSERT_EQ(log.size(), received.size());
    int good = 0;
    for (std::size_t i = 0; i < log.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(log[i].command, commands[i % 4]);
        EXPECT_EQ(received[i].first > 0, log[i].valid_reply);
        if (log[i].valid_reply) {
            EXPECT_EQ(received[i].second, log[i].reply_text);
            ++good;
        }
    }
    EXPECT_GT(good, 100);  // about 85 % should be good
}

TEST_F(Simulator, BaudEmulationPacesTheReply) {
    sim.set_baud_emulation(true, 9600);
    sim.script_reply_text(kA, std::string(87, '7'));  // a 100-byte frame: ~104 ms at 9600
    set_reply_timeout_for_testing(2.0);
    const auto start = Clock::now();  // the reply cannot start before the request
    ASSERT_EQ(send_n_bus_message(kPort, 9600, 0, kA, "GetCounts!"), 0);
    EXPECT_EQ(receive_n_bus_message(kPort, 9600, buffer), 87);
    EXPECT_GE(seconds_since(start), 0.09);
}

TEST_F(Simulator, UnplugAndReplugKeepTheLinkPath) {
    const std::string link = sim.device_path();
    EXPECT_GT(exchange(kA, "GetCounts!"), 0);
    sim.unplug();
    EXPECT_FALSE(sim.plugged());
    EXPECT_FALSE(ResolveComPort(kPort).present);
    EXPECT_EQ(exchange(kA, "GetCounts!"), BUS_ERR_PORT);
    sim.replug();
    EXPECT_TRUE(sim.plugged());
    EXPECT_EQ(sim.device_path(), link);
    EXPECT_TRUE(ResolveComPort(kPort).present);
    EXPECT_GT(exchange(kA, "GetCounts!"), 0);
    // Pulled and plugged back while nobody was reading: the very next exchange gets through.
    sim.unplug();
    sim.replug();
    EXPECT_GT(exchange(kA, "GetCounts!"), 0);
    sim.stop();
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0);  // the link goes with the simulator
}

TEST_F(Simulator, GarbageBeforeARequestIsSkipped) {
    ASSERT_EQ(OpenComConfig(kPort, "", 9600, 0, 8, 1, 512, 512), 0);
    for (const int b : {0x00, 0x81, 0x00, 0x42}) {
        ComWrtByte(kPort, b);  // noise, including a false start byte
    }
    sim.script_reply_text(kA, "ok");
    EXPECT_EQ(exchange(kA, "GetCounts!"), 2);
    EXPECT_EQ(text(), "ok");
}

}  // namespace
