// What the broker export costs, against a real broker (mosquitto, started here on a free port):
//   1. the outbox commit of one cycle on the cycle's thread (10 sensors, synced to the disk);
//   2. one cycle end to end: commit, publish, until the broker has acknowledged all ten
//      messages, and the process's CPU for it;
//   3. the drain after an outage: 10,000 waiting messages to the broker;
//   4. the same messages through a shell loop of mosquitto_pub (one process per message,
//      QoS 1), as a fleet without this export would send them; and through one mosquitto_pub
//      reading them line by line, the client's own best case. The ratios come from one run.
//
//   build/bench/export/bench_export [--cycles 300] [--drain 10000] [--loop 1000]
// --loop: how many of the messages the mosquitto_pub loop sends (its rate is what is
// compared; a loop of all 10,000 takes a minute or more).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "export/broker_export.h"
#include "export/outbox.h"
#include "export/payload.h"
#include "export/publisher.h"
#include "support/broker.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace ex = veldra::exporter;

constexpr int kSensors = 10;

class QuietNotices final : public veldra::core::NoticeSink {
  public:
    void post_notice(const veldra::core::Notice&) override {}
};

veldra::core::CycleRecord cycle_record(std::uint64_t n) {
    veldra::core::CycleRecord r;
    r.cycle = n;
    r.local = {2026, 12, 10, 11, 22, 12};
    r.utc = std::chrono::system_clock::now();
    for (int i = 0; i < kSensors; ++i) {
        auto& s = r.sensors.emplace_back();
        s.address = 0x0a1b00 + i;
        const std::array<double, 4> v{12345.0 + i, double(21.5f), double(33.25f), double(23.4f)};
        for (std::size_t q = 0; q < 4; ++q) {
            s.queries[q].status = veldra::core::QueryStatus::Received;
            s.queries[q].value = v[q];
        }
    }
    return r;
}

double cpu_seconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The calling thread's CPU alone.
double thread_cpu_seconds() {
    rusage u{};
    ::getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Spread {
    double median = 0, p99 = 0, worst = 0;
};

Spread spread(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)], v.back()};
}

// Runs a program, its stdin fed from `input` (may be empty); true on exit status 0.
bool run(const std::vector<std::string>& argv, const std::string& input) {
    int in[2];
    if (::pipe(in) != 0) {
        return false;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::close(in[0]);
        ::close(in[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(in[0]);
    std::size_t off = 0;
    while (off < input.size()) {
        const ssize_t n = ::write(in[1], input.data() + off, input.size() - off);
        if (n <= 0) {
            break;
        }
        off += static_cast<std::size_t>(n);
    }
    ::close(in[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool wait_for(const std::function<bool()>& done, std::chrono::seconds timeout) {
    const auto until = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(50us);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int cycles = 300, drain = 10000, loop = 1000, window = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (key == "--cycles") {
            cycles = value;
        } else if (key == "--drain") {
            drain = value;
        } else if (key == "--loop") {
            loop = value;
        } else if (key == "--window") {
            window = value;  // messages in flight; 0: the export's default
        }
    }
    export_test::TempDir dir;
    export_test::BrokerConfig config;
    config.persistence = false;
    config.tcp_nodelay = std::getenv("BROKER_NODELAY") != nullptr;
    export_test::Broker broker(config);
    if (!broker.start()) {
        std::printf("the broker did not start\n");
        return 1;
    }
    QuietNotices notices;
    ex::ExportSettings settings;
    settings.port = broker.port();
    std::printf("broker: mosquitto on 127.0.0.1:%d; outbox in %s; %d sensors per cycle\n\n",
                broker.port(), dir.path().c_str(), kSensors);

    // 1. The commit alone, as the cycle's thread pays it.
    {
        ex::Outbox outbox((dir.path() / "commit.db").string(), ex::Outbox::Role::Writer);
        std::vector<double> wall;
        const double cpu0 = cpu_seconds();
        for (int i = 0; i < cycles; ++i) {
            const auto record = cycle_record(static_cast<std::uint64_t>(i));
            const auto t0 = Clock::now();
            outbox.commit(record, "field-1", 1ull << 30);
            wall.push_back(ms(Clock::now() - t0));
        }
        const double cpu = (cpu_seconds() - cpu0) * 1000.0 / cycles;
        const Spread s = spread(wall);
        std::printf(
            "outbox commit of one cycle (%d cycles): median %.3f ms, p99 %.3f ms, "
            "worst %.3f ms; CPU %.3f ms per cycle\n",
            cycles, s.median, s.p99, s.worst, cpu);
    }

    // 2. A cycle end to end: commit on this thread, the publisher sends, the broker acks.
    {
        settings.outbox = (dir.path() / "publish.db").string();
        ex::BrokerExport exporter(settings, notices);
        exporter.session_started({});
        if (!wait_for([&] { return exporter.publisher()->connected(); }, 10s)) {
            std::printf("no connection to the broker\n");
            return 1;
        }
        std::vector<double> wall;
        const double cpu0 = cpu_seconds();
        const double main0 = thread_cpu_seconds();
        for (int i = 0; i < cycles; ++i) {
            const auto t0 = Clock::now();
            exporter.cycle_finished(cycle_record(static_cast<std::uint64_t>(i)));
            const std::uint64_t want = static_cast<std::uint64_t>(i + 1) * kSensors;
            if (!wait_for([&] { return exporter.publisher()->acknowledged() >= want; }, 10s)) {
                std::printf("cycle %d was not acknowledged\n", i);
                return 1;
            }
            wall.push_back(ms(Clock::now() - t0));
        }
        // This thread commits and polls for the acknowledgements; every other thread's CPU is
        // the publisher's (the broker is another process).
        const double main = thread_cpu_seconds() - main0;
        const double publish = (cpu_seconds() - cpu0 - main) * 1000.0 / cycles;
        exporter.session_ended({});
        const Spread s = spread(wall);
        std::printf(
            "one cycle, commit to the broker's last acknowledgement: median %.3f ms, "
            "p99 %.3f ms, worst %.3f ms; the publisher thread's CPU %.3f ms per cycle\n",
            s.median, s.p99, s.worst, publish);
    }

    // 3. The drain after an outage.
    std::vector<ex::OutboxEntry> entries;
    double ours_rate = 0;
    {
        settings.outbox = (dir.path() / "drain.db").string();
        ex::Outbox writer(settings.outbox, ex::Outbox::Role::Writer);
        const auto fill0 = Clock::now();
        for (int i = 0; i * kSensors < drain; ++i) {
            writer.commit(cycle_record(static_cast<std::uint64_t>(i)), "field-1", 1ull << 30);
        }
        const double fill = ms(Clock::now() - fill0);
        ex::Outbox reader(settings.outbox, ex::Outbox::Role::Drainer);
        entries = reader.fetch_after(0, static_cast<std::size_t>(drain));
        const std::uint64_t waiting = writer.waiting();

        ex::Tuning tuning;
        if (window > 0) {
            tuning.in_flight = static_cast<std::size_t>(window);
        }
        ex::Publisher publisher(settings, tuning, notices);
        const double cpu0 = cpu_seconds();
        const auto t0 = Clock::now();
        publisher.start();
        if (!wait_for([&] { return publisher.acknowledged() >= waiting; }, 300s)) {
            std::printf("the drain did not finish\n");
            return 1;
        }
        const double took = ms(Clock::now() - t0);
        const double cpu = cpu_seconds() - cpu0;
        publisher.stop();
        ours_rate = static_cast<double>(waiting) / (took / 1000.0);
        std::printf(
            "drain of %llu waiting messages (filled in %.0f ms): %.0f ms from the "
            "start, connection included: %.0f messages/s; process CPU %.2f s; left "
            "in the outbox: %llu\n",
            static_cast<unsigned long long>(waiting), fill, took, ours_rate, cpu,
            static_cast<unsigned long long>(reader.waiting()));
    }

    // 4. The same messages from the shell.
    {
        const int n = std::min<int>(loop, static_cast<int>(entries.size()));
        const std::string port = std::to_string(broker.port());
        const auto t0 = Clock::now();
        for (int i = 0; i < n; ++i) {
            const ex::OutboxEntry& e = entries[static_cast<std::size_t>(i)];
            if (!run({"/usr/bin/mosquitto_pub", "-h", "127.0.0.1", "-p", port, "-q", "1", "-t",
                      ex::sensor_topic("veldra", e.site, e.sensor), "-m", ex::json_payload(e)},
                     {})) {
                std::printf("mosquitto_pub failed\n");
                return 1;
            }
        }
        const double took = ms(Clock::now() - t0);
        const double loop_rate = n / (took / 1000.0);
        std::printf(
            "shell loop of mosquitto_pub, one process per message, QoS 1: %d messages "
            "in %.0f ms: %.0f messages/s (10,000 would take %.0f s)\n",
            n, took, loop_rate, 10000.0 / loop_rate);

        std::string lines;
        for (const ex::OutboxEntry& e : entries) {
            lines += ex::json_payload(e) + "\n";
        }
        const auto l0 = Clock::now();
        if (!run({"/usr/bin/mosquitto_pub", "-h", "127.0.0.1", "-p", port, "-q", "1", "-t",
                  "veldra/field-1/bulk", "-l"},
                 lines)) {
            std::printf("mosquitto_pub -l failed\n");
            return 1;
        }
        const double line_took = ms(Clock::now() - l0);
        const double line_rate = static_cast<double>(entries.size()) / (line_took / 1000.0);
        std::printf(
            "one mosquitto_pub -l, all %zu messages on one connection, QoS 1: %.0f ms: "
            "%.0f messages/s\n\n",
            entries.size(), line_took, line_rate);
        std::printf("drain against the mosquitto_pub loop: %.1f x faster\n", ours_rate / loop_rate);
        std::printf("drain against one mosquitto_pub -l (one topic, no outbox): %.2f x\n",
                    ours_rate / line_rate);
    }
    broker.stop();
    return 0;
}
