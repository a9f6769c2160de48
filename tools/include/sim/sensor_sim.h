// The simulated sensor bus: a pseudo-terminal whose far end answers bus requests the way a
// line of real sensors would, with plausible slowly drifting values, optional 9600-baud byte
// timing and fault injection. The demo program, the tests and the benchmarks share it.
//
// Typical use in a test:
//     veldra::sim::SensorSimulator sim({.sensors = {0x0A1B2C}});
//     SetComPortMapFile(...);  // map a COM number to sim.device_path()
//     sim.script_reply_text(0x0A1B2C, "12345");  // next request to 0A1B2C gets "12345"
//     ... send_n_bus_message / receive_n_bus_message ...
//     auto log = sim.exchanges();  // what was asked and what was answered
// Sensors with habits of their own (answering late, or under another address) are set with
// set_habits; a babbling line with set_babble.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bus/protocol.h"

namespace veldra::sim {

// The four quantities a sensor reports.
enum class Quantity { Counts, Permittivity, WaterContent, Temperature };
inline constexpr std::size_t kQuantityCount = 4;

// "GetCounts!" -> Counts, ...; nullopt for any other command.
std::optional<Quantity> quantity_for_command(std::string_view command);
// The command text that asks for a quantity.
std::string_view command_for_quantity(Quantity q);
// The reply text a sensor sends for a value: counts as an integer, the others with 2 decimals
// (always a point as decimal separator).
std::string format_value(Quantity q, double value);

// Faults the simulator can inject into a reply.
enum class Fault {
    Silence,         // no reply at all
    BadChecksum,     // one checksum byte wrong
    WrongStartByte,  // the frame starts with something other than 0x81
    Truncated,       // the frame breaks off part-way (the rest never comes)
    Noise,           // a few random bytes before an otherwise good frame
    EmptyPayload,    // a well-formed frame with length 0
    NonNumeric,      // a well-formed frame whose text is not a number
    LateReply,       // a good frame, but only after the requester's time-out (late_reply_delay);
                     // when the requester has moved on, it lands in its next exchange, as on
                     // a real line (replies are sent in order, one at a time)
    ForeignAddress,  // a good frame that carries another address, header byte and fixed field
};
inline constexpr std::size_t kFaultCount = 9;
std::string_view fault_name(Fault f);  // "silence", "bad-checksum", ...
std::optional<Fault> fault_named(std::string_view name);

// Probability (0..1) of each fault per request; drawn independently in the order of the enum,
// at most one fault per reply.
struct FaultRates {
    std::array<double, kFaultCount> rate{};  // indexed by Fault
    double& operator[](Fault f) { return rate[static_cast<std::size_t>(f)]; }
    double operator[](Fault f) const { return rate[static_cast<std::size_t>(f)]; }
    // The same rate for every kind.
    static FaultRates all(double p);
};

// What a reply frame carries besides its payload.
struct ReplyIdentity {
    std::uint32_t address = 0;
    std::uint8_t header = 0;
    std::array<std::uint8_t, 4> fixed_field = bus::kFixedField;
};

// How one sensor answers every request, where it departs from a well-behaved one.
struct SensorHabits {
    // Late: each answer comes this long after its request (drawn evenly from the range),
    // typically past the requester's time-out. Both zero: in time.
    std::chrono::milliseconds late_min{0};
    std::chrono::milliseconds late_max{0};
    // Foreign: its answers carry these instead of its own address, header byte 0 and the
    // fixed field; they are good frames all the same.
    std::optional<std::uint32_t> reply_address{};
    std::optional<std::uint8_t> reply_header{};
    std::optional<std::array<std::uint8_t, 4>> reply_fixed_field{};

    bool late() const { return late_max.count() > 0; }
};

struct Options {
    std::vector<std::uint32_t> sensors{};              // addresses that answer (low 24 bits)
    bool baud_emulation = false;                       // pace reply bytes like a real line
    int baud = 9600;                                   // 8N1: 10 bit times per byte
    std::chrono::microseconds reply_delay{0};          // before each reply
    std::chrono::milliseconds late_reply_delay{2500};  // for Fault::LateReply
    FaultRates faults{};                               // all 0 by default
    // When not empty, faults are injected only into the replies of these addresses, so one
    // sensor of a line can fail while the others answer well.
    std::vector<std::uint32_t> fault_sensors{};
    std::map<std::uint32_t, SensorHabits> habits{};  // by address; none: well-behaved
    bool babble = false;      // the line carries random bytes without pause (paced when emulated)
    std::uint64_t seed = 1;   // faults and values are reproducible
    std::string link_path{};  // when set, a symlink to the current pty slave (re-pointed on replug)
};

// One request the simulator read, and what it did about it.
struct Exchange {
    std::uint32_t address = 0;          // as addressed in the request (24 bits)
    std::string command;                // the request payload
    std::vector<std::uint8_t> request;  // the request frame as read, byte for byte
    bool request_valid = false;         // the checksum was right (a garbled one gets no answer)
    std::optional<Quantity> quantity;   // for the four known commands
    bool answered = false;              // some bytes were written back
    std::vector<std::uint8_t> reply;    // the bytes written back (all of them, faults included)
    std::string reply_text;             // the payload of the reply frame
    // True when the reply is a well-formed frame with a right checksum, a non-empty payload,
    // sent in time: the requester should accept it and show reply_text (unless it carries the
    // address of a sensor the requester still awaits a late answer from).
    bool valid_reply = false;
    std::optional<Fault> fault;            // the fault injected or the habit followed, if any
    std::chrono::milliseconds late_by{0};  // for a late reply: how long after the request
    bool scripted = false;  // the reply came from script_reply_text / script_raw_reply
    std::chrono::steady_clock::time_point when;  // when the request was complete
};

// A running simulator: a background thread serving one pseudo-terminal. Starts in the
// constructor, stops in the destructor (or stop()). All members are thread-safe.
class SensorSimulator {
  public:
    explicit SensorSimulator(Options options = {});
    ~SensorSimulator();
    SensorSimulator(const SensorSimulator&) = delete;
    SensorSimulator& operator=(const SensorSimulator&) = delete;

    // The slave side of the current pseudo-terminal (changes at replug).
    std::string slave_path() const;
    // The stable path to open: link_path when set, else the slave path.
    std::string device_path() const;

    void set_sensors(std::vector<std::uint32_t> addresses);
    void add_sensor(std::uint32_t address);
    void remove_sensor(std::uint32_t address);

    // A fixed value for one quantity of one sensor instead of the drifting one.
    void set_value(std::uint32_t address, Quantity q, double value);
    void clear_value(std::uint32_t address, Quantity q);
    // The value the sensor would report now (fixed or drifting).
    double current_value(std::uint32_t address, Quantity q) const;

    // The next request to this address (whatever its command, known sensor or not) is answered
    // with a well-formed frame carrying exactly this payload. Queued: several calls answer
    // several requests in order. Scripted replies take no injected fault.
    void script_reply_text(std::uint32_t address, std::string payload);
    // The next request to this address is answered with exactly these bytes (empty: silence).
    void script_raw_reply(std::uint32_t address, std::vector<std::uint8_t> bytes);
    // The frame a sensor sends back with this payload (header 0, the fixed field, checksum).
    static std::vector<std::uint8_t> reply_frame(std::uint32_t address, std::string_view payload);
    // The same with another header byte, address or fixed field.
    static std::vector<std::uint8_t> reply_frame(const ReplyIdentity& from,
                                                 std::string_view payload);

    void set_fault_rates(const FaultRates& rates);
    void set_fault_rate(Fault f, double probability);
    void set_reply_delay(std::chrono::microseconds delay);
    void set_late_reply_delay(std::chrono::milliseconds delay);
    void set_baud_emulation(bool on, int baud = 9600);
    // Replaces the habits of one sensor (default ones: well-behaved).
    void set_habits(std::uint32_t address, SensorHabits habits);
    void set_babble(bool on);

    // Everything served so far, oldest first.
    std::vector<Exchange> exchanges() const;
    std::size_t exchange_count() const;
    void clear_exchanges();
    // Waits until at least n exchanges have been recorded; false on time-out.
    bool wait_for_exchanges(std::size_t n, std::chrono::milliseconds timeout) const;

    // Pulls the plug: closes the master side, so the slave side sees a hang-up; link_path (when
    // set) then points at nothing until replug().
    void unplug();
    // Plugs back in on a new pseudo-terminal; link_path (when set) is re-pointed at it.
    void replug();
    bool plugged() const;

    // Stops the thread and closes the pseudo-terminal; removes link_path. Idempotent.
    void stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace veldra::sim
