// Serial ports known by number (COM1, COM2, ...), over POSIX termios. Every call is safe from
// any thread. Results are ints, negative on failure.
#pragma once

#include <string>
#include <vector>

inline constexpr int COM_ERR_NOT_OPEN = -2;       // the port is not open
inline constexpr int COM_ERR_BAD_PORT = -3;       // port number out of range or unmapped
inline constexpr int COM_ERR_BAD_SETTING = -4;    // baud, parity, data/stop bits, queue or time-out
inline constexpr int COM_ERR_OUTQ_FULL = -5;      // the output queue is full and the line is stuck
inline constexpr int COM_ERR_OPEN_FAILED = -6;    // the device could not be opened or set up
inline constexpr int COM_ERR_BUSY = -7;           // another program has the device open
inline constexpr int COM_ERR_TIMEOUT = -99;       // no byte within the time-out
inline constexpr int COM_ERR_DEVICE_GONE = -100;  // the device went away (adapter pulled)
inline constexpr int COM_ERR_ABORTED = -101;      // the wait was cut short by AbortComWait
inline constexpr int COM_ERR_IO = -102;           // any other read or write failure

inline constexpr int kMaxComPort = 255;

// Opens the port in raw mode (O_NOCTTY, non-blocking underneath) and returns 0. The device is
// held exclusively (an advisory lock and the terminal's exclusive mode) until CloseCom, so a
// second program's open fails with COM_ERR_BUSY. Opening a port that is already open
// reconfigures it in place; a port whose device went away (a pulled
// adapter, seen by a read, a write or FlushInQ, which then return COM_ERR_DEVICE_GONE) is
// opened afresh. An empty device name means the device is found through the COM
// mapping, looked up whenever the port has to be opened; a device name given here is a path,
// or a name under /dev. Parity: 0 none, 1 odd, 2 even, 3 mark, 4 space. Negative results:
// COM_ERR_BAD_PORT, COM_ERR_BAD_SETTING, COM_ERR_OPEN_FAILED, COM_ERR_BUSY.
int OpenComConfig(int port, const std::string& deviceName, int baud, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int outputQueueSize);
// The longest a ComRdByte waits (10 s until set). May be set before the port is opened.
int SetComTime(int port, double seconds);
// Drop what was received and not read, or queued and not sent (also in the driver).
int FlushInQ(int port);
int FlushOutQ(int port);
// Queues one byte (the low 8 bits) and returns 1. The queue goes out, as one write, at the
// next GetOutQLen, ComRdByte or CloseCom on the port, or when it holds outputQueueSize bytes.
int ComWrtByte(int port, int byte);
// Sends what it can of the queue; returns the bytes still waiting (ours plus the driver's), or
// COM_ERR_ABORTED after AbortComWait, so that a wait for the output to drain ends too.
int GetOutQLen(int port);
// The next byte (0..255), waiting at most the time-out; negative on time-out, error or abort.
// COM_ERR_DEVICE_GONE as soon as the device hangs up, and from every later call until the port
// is opened again.
int ComRdByte(int port);
// Wakes any thread waiting in ComRdByte, lets it leave, then closes. Closing a port that is not
// open does nothing and returns COM_ERR_NOT_OPEN.
int CloseCom(int port);

// Makes every current and later ComRdByte and GetOutQLen on the port return COM_ERR_ABORTED
// at once, until CloseCom. The logging session's stop uses it so that it never waits for a
// silent sensor or for an adapter whose output is stuck.
int AbortComWait(int port);

// COM numbers map to devices: COM1-32 -> /dev/ttyS0-31, COM33-64 -> /dev/ttyUSB0-31,
// COM65-96 -> /dev/ttyACM0-31; lines "N /dev/path" in the map file override entries.
struct ComPortInfo {
    int number = 0;
    std::string device;    // empty when the number maps to nothing
    bool present = false;  // the device exists now
};
// The map file is read afresh at every resolution; default "comports.txt" in the working
// directory. An empty path disables overrides.
void SetComPortMapFile(const std::string& path);
ComPortInfo ResolveComPort(int port);
// The serial devices present, with their COM numbers, in ascending number order.
std::vector<ComPortInfo> ListSerialPorts();
