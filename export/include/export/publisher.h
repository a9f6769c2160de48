// The network side of the export: a thread of its own that keeps one connection to the broker
// and drains the outbox into it, in order, QoS 1, a bounded number of messages in flight. A
// message leaves the outbox only when the broker has acknowledged it. A connection that fails
// or breaks is tried again after a pause that doubles up to a limit; every change of state
// (and why a login or TLS handshake failed) is posted as a notice, once per change.
//
// The cycle's thread never waits for it: wake() only signals that the outbox holds more.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "logging/log_observers.h"
#include "options/options.h"

namespace veldra::exporter {

// The broker settings with every path resolved.
struct ExportSettings {
    std::string host = "127.0.0.1";
    int port = 1883;
    std::string site = "field-1";
    std::string topic_prefix = "veldra";
    options::PayloadFormat format = options::PayloadFormat::Json;
    std::string username, password;
    std::string ca_file, cert_file, key_file;
    std::string outbox;
    std::uint64_t outbox_limit_bytes = 1024 * (1ull << 20);
};

// The pace of the connection. The defaults suit a field link; tests shorten them.
struct Tuning {
    std::chrono::milliseconds first_retry{1000};      // after the first failure
    std::chrono::milliseconds longest_retry{60000};   // the doubling stops here
    int keepalive_seconds = 30;                       // the broker's way to notice a dead link
    std::chrono::milliseconds answer_timeout{10000};  // from connecting to the broker's answer
    // While messages wait and the state stays the same, how often a notice says how many.
    std::chrono::milliseconds progress_every{60000};
    // At a stop, how long to wait for acknowledgements of what is in flight, so that little
    // goes out twice; and for the farewell "offline" to leave.
    std::chrono::milliseconds farewell{500};
    std::size_t in_flight = 100;  // messages sent and not yet acknowledged, at most
};

class Publisher {
  public:
    // Nothing happens until start().
    Publisher(ExportSettings settings, Tuning tuning, core::NoticeSink& notices);
    ~Publisher();  // stops
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Starts the network thread; it opens its own connection to the outbox.
    void start();
    // The outbox holds more. Any thread; never blocks.
    void wake();
    // Waits for acknowledgements of what is in flight (Tuning::farewell at most), says
    // "offline", disconnects and ends the thread. What is waiting stays in the outbox.
    void stop();

    // For tests and benchmarks: messages the broker acknowledged since start().
    std::uint64_t acknowledged() const { return acknowledged_.load(); }
    bool connected() const { return connected_.load(); }

  private:
    struct Loop;
    ExportSettings settings_;
    Tuning tuning_;
    core::NoticeSink& notices_;
    std::unique_ptr<Loop> loop_;
    std::thread thread_;
    std::atomic<std::uint64_t> acknowledged_{0};
    std::atomic<bool> connected_{false};
};

}  // namespace veldra::exporter
