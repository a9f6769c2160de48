#!/usr/bin/python3
"""The same bus exchange as bench_bus_transactions, written the plain way with python3-serial:
build the request frame, flush, write, drain, read the reply frame, check its checksum.
Prints one line per exchange: wall time and thread CPU time in microseconds, and the result.
An optional fourth argument is a pause in milliseconds left, untimed, before each exchange."""
import sys
import time

import serial


def checksum(data):
    crc = 0
    for b in data:
        d = b ^ 0xFF
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if (crc ^ d) & 1 else crc >> 1
            d >>= 1
    return crc


def request(address, command):
    n = len(command)
    head = bytes([0x81, 0, (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF,
                  0xFD, 0xFD, 0xFD, 0xFD, n >> 8, n & 0xFF]) + command
    crc = checksum(head)
    return head + bytes([crc >> 8, crc & 0xFF])


def exchange(port, address, command):
    port.reset_input_buffer()
    port.reset_output_buffer()
    port.write(request(address, command))
    port.flush()
    head = port.read(11)
    if len(head) != 11 or head[0] != 0x81:
        return -4
    n = head[9] * 256 + head[10]
    rest = port.read(n + 2)
    if len(rest) != n + 2:
        return -7
    if checksum(head + rest[:n]) != rest[n] * 256 + rest[n + 1]:
        return -5
    return n


def main():
    device, count, address = sys.argv[1], int(sys.argv[2]), int(sys.argv[3], 16)
    gap = float(sys.argv[4]) / 1000 if len(sys.argv) > 4 else 0.0
    port = serial.Serial(device, 9600, bytesize=8, parity="N", stopbits=1, timeout=2.0)
    commands = [b"GetCounts!", b"GetPermittivity!", b"GetWaterContent!", b"GetTemperature!"]
    for i in range(20):
        time.sleep(gap)
        exchange(port, address, commands[i % 4])
    samples = []
    for i in range(count):
        time.sleep(gap)
        w0, c0 = time.perf_counter_ns(), time.thread_time_ns()
        result = exchange(port, address, commands[i % 4])
        c1, w1 = time.thread_time_ns(), time.perf_counter_ns()
        samples.append("%.3f %.3f %d" % ((w1 - w0) / 1000, (c1 - c0) / 1000, result))
    port.close()
    print("\n".join(samples))


if __name__ == "__main__":
    main()
