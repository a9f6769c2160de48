// The RS-232 operations by port number: each number owns one SerialPort for the life of the
// process, so a port can be used, closed and reopened from any thread.
#include "platform/rs232.h"

#include <array>
#include <cstdint>

#include "serial_port.h"

namespace {

using veldra::serial::SerialPort;

SerialPort* port_at(int port) {
    static std::array<SerialPort, kMaxComPort + 1> ports;
    if (port < 1 || port > kMaxComPort) {
        return nullptr;
    }
    return &ports[static_cast<std::size_t>(port)];
}

// A device name given by the caller wins over the mapping; a bare name means one under /dev.
std::string device_for(int port, const std::string& device_name) {
    if (device_name.empty()) {
        return ResolveComPort(port).device;
    }
    return device_name.front() == '/' ? device_name : "/dev/" + device_name;
}

}  // namespace

int OpenComConfig(int port, const std::string& deviceName, int baud, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int outputQueueSize) {
    SerialPort* p = port_at(port);
    if (p == nullptr) {
        return COM_ERR_BAD_PORT;
    }
    // The number is looked up only when the port has to be opened afresh: an open port that is
    // still there is reconfigured in place, so a mapping applies from the next open on.
    return p->open([&] { return device_for(port, deviceName); }, {baud, parity, dataBits, stopBits},
                   inputQueueSize, outputQueueSize);
}

int SetComTime(int port, double seconds) {
    SerialPort* p = port_at(port);
    return p != nullptr ? p->set_timeout(seconds) : COM_ERR_BAD_PORT;
}

int FlushInQ(int port) {
    SerialPort* p = port_at(port);
    return p != nullptr ? p->flush_input() : COM_ERR_BAD_PORT;
}

int FlushOutQ(int port) {
    SerialPort* p = port_at(port);
    return p != nullptr ? p->flush_output() : COM_ERR_BAD_PORT;
}

int ComWrtByte(int port, int byte) {
    SerialPort* p = port_at(port);
    return p != nullptr ? p->write_byte(static_cast<std::uint8_t>(byte & 0xFF)) : COM_ERR_BAD_PORT;
}

int GetOutQLen(int port) {
    SerialPort* p = port_at(port);
    return p != nullptr ? p->output_length() : COM_ERR_BAD_PORT;
}

int ComRdByte(int port) {
    SerialPort* p = port_at(port);
    return p != nullptr ? p->read_byte() : COM_ERR_BAD_PORT;
}

int CloseCom(int port) {
    SerialPort* p = port_at(port);
    return p != nullptr ? p->close() : COM_ERR_BAD_PORT;
}

int AbortComWait(int port) {
    SerialPort* p = port_at(port);
    return p != nullptr ? p->abort_wait() : COM_ERR_BAD_PORT;
}
