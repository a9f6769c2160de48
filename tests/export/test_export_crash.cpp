// A logger killed with SIGKILL while messages wait for an absent broker: started again, it
// delivers every cycle the killed one had committed, in order, and its cycle numbers go on
// from where the killed one stopped.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "export_checks.h"
#include "support/broker.h"

namespace {

using namespace export_test;
using namespace std::chrono_literals;

// The driver as a child process, its stdout read line by line.
class Driver {
  public:
    Driver(const std::filesystem::path& dir, int port) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        const std::string folder = dir.string();
        const std::string port_text = std::to_string(port);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], 1);
            ::execl(VELDRA_EXPORT_CRASH_DRIVER, VELDRA_EXPORT_CRASH_DRIVER, folder.c_str(),
                    port_text.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~Driver() {
        if (pid_ > 0) {
            end(SIGKILL);
        }
        if (out_ >= 0) {
            ::close(out_);
        }
    }

    // Reads until the driver has said "cycle n" (or more); the last cycle said, 0 on time-out.
    long wait_for_cycle(long n) {
        const auto until = std::chrono::steady_clock::now() + 60s;
        while (last_ < n && std::chrono::steady_clock::now() < until) {
            pollfd fd{out_, POLLIN, 0};
            if (::poll(&fd, 1, 100) <= 0) {
                continue;
            }
            char buf[256];
            const ssize_t got = ::read(out_, buf, sizeof buf);
            if (got <= 0) {
                break;
            }
            pending_.append(buf, static_cast<std::size_t>(got));
            for (std::size_t nl; (nl = pending_.find('\n')) != std::string::npos;) {
                const std::string line = pending_.substr(0, nl);
                pending_.erase(0, nl + 1);
                if (line.rfind("cycle ", 0) == 0) {
                    last_ = std::stol(line.substr(6));
                }
            }
        }
        return last_;
    }

    // Sends the signal and waits for the end; the exit status (or -signal).
    int end(int signal) {
        ::kill(pid_, signal);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
    long last_ = 0;
};

TEST(ExportCrash, TheWaitingMessagesOfAKilledLoggerArriveAfterItsRestart) {
    TempDir dir;
    Broker broker;  // away while the first logger runs
    long committed = 0;
    {
        Driver first(dir.path(), broker.port());
        ASSERT_GE(first.wait_for_cycle(10), 10);
        EXPECT_EQ(first.end(SIGKILL), -SIGKILL);
        committed = first.wait_for_cycle(1);  // at least this many are in the outbox
    }
    ASSERT_TRUE(broker.start());
    Subscriber subscriber(broker.port(), "veldra/#");
    ASSERT_TRUE(subscriber.subscribe());

    Driver second(dir.path(), broker.port());
    const std::string topic = "veldra/field-1/0a1b2c";
    ASSERT_TRUE(subscriber.wait_until([&](const std::vector<Received>& all) {
        return has_all(seqs_of(all, topic), committed + 2);
    }));
    EXPECT_EQ(second.end(SIGTERM), 0);

    const std::vector<std::int64_t> seqs = seqs_of(subscriber.received(), topic);
    EXPECT_TRUE(in_order_at_least_once(seqs));
    EXPECT_GT(*std::max_element(seqs.begin(), seqs.end()), committed);
    // The restarted logger numbers its cycles on from the killed one's, not from 1 again: a
    // number that came twice is the same cycle sent twice, never two cycles.
    std::map<std::int64_t, std::string> time_of;
    for (const nlohmann::json& m : json_of(subscriber.received(), topic)) {
        const auto [it, first] = time_of.emplace(m["seq"].get<std::int64_t>(), m["time"]);
        EXPECT_TRUE(first || it->second == m["time"]) << m.dump();
    }
}

}  // namespace
