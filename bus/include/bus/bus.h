// Request and reply frames on the sensor bus, their checksum, and one command/reply
// transaction over a serial port. The protocol's constants live in bus/protocol.h.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bus/protocol.h"

// Transaction results.
inline constexpr int BUS_OK = 0;
inline constexpr int BUS_ERR_PORT = -1;        // the port could not be opened
inline constexpr int BUS_ERR_START_BYTE = -4;  // no reply, or the first byte is not 0x81
inline constexpr int BUS_ERR_CHECKSUM = -5;    // checksum mismatch
inline constexpr int BUS_ERR_TOO_LONG = -6;    // command or reply payload does not fit
inline constexpr int BUS_ERR_READ = -7;        // a read failed inside the frame
inline constexpr int BUS_ERR_WRITE = -8;       // the frame could not be written or drained
inline constexpr int BUS_ERR_STALE = -9;       // nothing but late answers to earlier requests
inline constexpr int BUS_ERR_LINE_BUSY = -10;  // the line never fell quiet: nothing was sent
inline constexpr int BUS_ERR_ABORTED = -11;    // a stop (AbortComWait) cut the send short

// One checksum step over one (already complemented) byte.
std::uint32_t calcCRC16(std::uint32_t crc, std::uint32_t data, std::uint32_t polynomial);
// The frame checksum over bytes (each complemented before it is folded in).
std::uint16_t frame_checksum(std::span<const std::uint8_t> bytes);
// A whole frame with any payload of up to 65535 bytes (a sensor's reply, say); empty when the
// payload is longer. The fixed field may be given for frames that carry another one.
std::vector<std::uint8_t> build_frame(int header, int address, std::string_view payload,
                                      const std::array<std::uint8_t, veldra::bus::kFixedFieldSize>&
                                          fixed_field = veldra::bus::kFixedField);
// A whole request frame; empty when the command does not fit (over 87 bytes).
std::vector<std::uint8_t> build_request_frame(int header, int address, std::string_view command);

// Sends one request: 0 once written and drained. First, when the sensor may still send a late
// answer, the send listens for it (below). Then the line must be quiet: no byte for 3.5
// character times at the line's baud and at least 20 ms (USB adapters hand bytes on in bursts
// up to 16 ms apart), so that a frame still arriving (the tail of a reply, a late answer) is
// not cut by the flush and spilled into the next answer; within a cycle only the first query
// of a sensor waits for it, the pauses cover the others. Then what is left of earlier traffic
// is dropped and the frame goes out. Failures, with
// nothing sent unless said: BUS_ERR_PORT (the port cannot be opened), BUS_ERR_TOO_LONG (a
// command over 87 bytes; nothing opened), BUS_ERR_LINE_BUSY (bytes kept coming for a quarter
// of the reply time-out: a babbling line costs no more than a silent sensor), BUS_ERR_ABORTED
// (a stop, AbortComWait, came while the send waited, for the line or for the frame to drain),
// BUS_ERR_WRITE (the line failed or never drained while the frame went out).
int send_n_bus_message(int port, int baud, int header, int address, const char* command);

// Reads one reply into buffer (payload + terminating zero). Returns the payload length, or
// -4 / -5 as above, BUS_ERR_TOO_LONG when the payload would not fit the buffer (nothing is
// written past it), BUS_ERR_READ when the line fails inside the frame, BUS_ERR_STALE when
// nothing but late answers to earlier requests came (below).
//
// The answer. A frame with a correct checksum is the answer to the request just sent whatever
// address, header byte and fixed field it carries, with one exception: a frame that may be a
// late answer to an earlier request of this port is skipped (counted in ReceiveInfo), and the
// wait for the answer goes on (skipped frames do not extend it). A frame may be such a late
// answer when
//   - it carries the address of another sensor that this port has asked and that has not
//     answered yet (or the address that sensor's answers are known to carry), or
//   - the sensor asked now has an earlier request of its own that is still unanswered: its
//     answer could carry any address, so no frame can be told from it. Such a cell is an
//     error, never a guess.
//
// Late answers: what is covered and what it costs. With T the reply time-out (2.0 s), an
// answer is covered when it comes within T + min(T, 1 s) of its request, i.e. up to 3.0 s
// after the request, 1.0 s after its time-out. Such a late answer never becomes the value of
// a later request, to any sensor, however the requests follow each other, across cycles too.
// The port keeps, for each sensor it has asked, how many of its requests are unanswered and
// until when an answer may still come; an answer that turns up late (wherever it is seen:
// skipped in a receive, or read while a send waits) settles one of them. A request counts as
// answered by a frame taken as its answer, or by a spoiled frame (bad checksum, too long,
// broken off) that carries the sensor's address; bytes that make no frame leave it awaited.
// What it costs:
//   - a sensor that answers in time: nothing;
//   - a sensor that misses a request (or whose answer was bytes that make no frame): before
//     the next request to that same sensor, the send listens until the late answer comes or
//     the covered time has passed, at most min(T, 1 s) past the time-out less the pause in
//     between (0.9 s in a cycle); its next answer can then be taken. Requests to other sensors
//     go out at once: a late answer is told from theirs by its address;
//   - a sensor is taken as absent once five requests in a row have brought nothing of it (two,
//     if it has never answered on this port; bytes that make no frame are nothing of it): no
//     listening, it costs its time-outs alone (a sensor that sends only noise, not even
//     those). A
//     sensor that never answers thus costs 4 T + the pauses per cycle, and at most 0.9 s more
//     in the first cycle; one that falls silent, up to four listens more in that cycle.
//     Should an absent sensor answer again, its first answer inside the covered time of its
//     last miss is an error (it cannot be told from a late answer); from then on it is
//     listened for again;
//   - a sensor that answers every request late costs, per request, its lateness past the
//     time-out less the pause (0.2 to 0.5 s for answers 2.3 to 2.6 s late); all its cells are
//     errors.
// Not covered: an answer later than the covered time, and a late answer of another sensor
// whose frame carries an address that this port cannot tie to that sensor. A tail that
// follows a longer pause than the quiet gap is cut by the flush and spoils the next answer:
// an error cell, never a value.
//
// info, when given, tells the caller what the result alone cannot: whether any byte came at
// all (silence and a wrong first byte are both -4), how many frames were skipped as late
// answers, and the line error that ended the read.
struct ReceiveInfo {
    std::size_t bytes_read = 0;       // bytes taken from the line, skipped frames included
    int stale_frames_skipped = 0;     // well-formed frames dropped as answers to earlier requests
    std::uint32_t reply_address = 0;  // the address the last frame read carried
    int line_error = 0;  // the serial error that ended the read (timeout, device gone...), or 0
};
int receive_n_bus_message(int port, int baud, std::span<char> buffer, ReceiveInfo* info = nullptr);

// The reply reader behind receive_n_bus_message, over any byte source: read_byte returns the
// next byte (0..255) or a negative value when none came. Lets the frame reader be exercised
// without a port (fuzzing, unit tests).
// When address is given, it receives the frame's 24-bit address once the leading fields are
// read (whatever the checksum then says); before that it is left as it was.
int receive_bus_frame(const std::function<int()>& read_byte, std::span<char> buffer,
                      std::uint32_t* address = nullptr);

// Test seam: the reply time-out that send_n_bus_message sets (2.0 s by default). The bus's
// other waits follow it: the covered lateness and the babbling limit as stated above, and a
// shorter time-out shortens the quiet gap before a request in proportion (a line run faster).
// What the ports knew of earlier requests is forgotten, as by reset_bus_state_for_testing.
void set_reply_timeout_for_testing(double seconds);
// Test seam: every port forgets what it knows of earlier requests, as in a fresh process.
void reset_bus_state_for_testing();
