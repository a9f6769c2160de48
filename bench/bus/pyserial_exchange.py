#!/usr/bin/python3
"""The same bus exchange as bench_bus_transactions, written the plain way with python3-serial:
build the request frame, flush, write, drain, read the reply frame, check its checksum.
Prints the per-exchange wall and CPU times (microseconds) as one JSON object."""
import json
import statistics
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


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(p * len(ordered)))]


def main():
    device, count, address = sys.argv[1], int(sys.argv[2]), int(sys.argv[3], 16)
    port = serial.Serial(device, 9600, bytesize=8, parity="N", stopbits=1, timeout=2.0)
    commands = [b"GetCounts!", b"GetPermittivity!", b"GetWaterContent!", b"GetTemperature!"]
    for i in range(50):
        exchange(port, address, commands[i % 4])
    wall, cpu, failures = [], [], 0
    for i in range(count):
        w0, c0 = time.perf_counter_ns(), time.thread_time_ns()
        if exchange(port, address, commands[i % 4]) <= 0:
            failures += 1
        cpu.append((time.thread_time_ns() - c0) / 1000)
        wall.append((time.perf_counter_ns() - w0) / 1000)
    port.close()
    print(json.dumps({"median_us": statistics.median(wall), "p99_us": percentile(wall, 0.99),
                      "cpu_median_us": statistics.median(cpu), "failures": failures}))


if __name__ == "__main__":
    main()
