// System clock: the process's wall clock itself (not a seam) jumps during a session. The
// driver runs under libfaketime, which fakes CLOCK_REALTIME and everything built on it (time,
// gettimeofday, timed waits on the real-time clock) while the monotonic clock stays true. A
// timer engine that waited on wall-clock deadlines would lose or double cycles here; ours must
// tick once per interval and stamp each cycle with the faked wall clock.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "log_files.h"
#include "session_rig.h"

namespace veldra::reliability {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kInterval = 3;
// The frozen wall-clock reading from about tick k on (faketime's absolute form stands still).
constexpr const char* kScript[] = {
    "2026-03-29 01:59:58",  // just before the spring hour is skipped
    "2026-03-29 03:00:01",  // an hour forwards
    "2026-10-25 02:59:59",  // just before the autumn hour is repeated
    "2026-10-25 02:00:02",  // an hour backwards
    "2026-12-31 23:59:59",  // the last second of the year
    "2027-01-01 00:00:02",  // across midnight into the new year
    "2026-12-31 23:59:30",  // backwards across midnight and the year
};
constexpr int kTicks = std::size(kScript);

void write_fake_time(const std::filesystem::path& file, const char* when) {
    // Replaced whole by a rename, so the library never reads half a line.
    const auto temporary = file.string() + ".new";
    std::ofstream(temporary) << when << '\n';
    std::filesystem::rename(temporary, file);
}

TEST(SystemClock, RealWallClockJumpsNeitherLoseNorDoubleCycles) {
    TempDir folder;
    const auto fake_time = folder.path() / "faketime";
    write_fake_time(fake_time, kScript[0]);

    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        setenv("LD_PRELOAD", VELDRA_LIBFAKETIME, 1);
        setenv("FAKETIME_TIMESTAMP_FILE", fake_time.c_str(), 1);
        setenv("FAKETIME_NO_CACHE", "1", 1);
        setenv("FAKETIME_DONT_FAKE_MONOTONIC", "1", 1);
        setenv("TZ", "UTC", 1);
        const std::string ticks = std::to_string(kTicks);
        const std::string interval = std::to_string(kInterval);
        execl(VELDRA_CLOCK_DRIVER, VELDRA_CLOCK_DRIVER, folder.path().c_str(), ticks.c_str(),
              interval.c_str(), nullptr);
        _exit(127);
    }
    close(fds[1]);
    pollfd p{fds[0], POLLIN, 0};
    char buffer[16] = {};
    const bool started = poll(&p, 1, 60000) == 1 && read(fds[0], buffer, sizeof buffer) > 0;
    const auto start = Clock::now();
    close(fds[0]);
    if (!started) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        FAIL() << "the driver did not start its session";
    }
    // Switch the reading half-way between ticks, so a late tick still reads its own time.
    for (int k = 1; k < kTicks; ++k) {
        std::this_thread::sleep_until(start +
                                      std::chrono::milliseconds(k * kInterval * 1000 - 1500));
        write_fake_time(fake_time, kScript[k]);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "driver status " << status;

    const auto text = read_file_lines(folder.path() / "log.txt");
    const auto csv = read_file_lines(folder.path() / "log.csv");
    ASSERT_EQ(text.lines.size(), 3u + kTicks) << "cycles lost or doubled";
    ASSERT_EQ(csv.lines.size(), 3u + kTicks) << "cycles lost or doubled";
    for (int k = 0; k < kTicks; ++k) {
        const auto shown = parse_display_line(text.lines[3 + k], 1);
        const auto row = parse_csv_row(csv.lines[3 + k], 1);
        ASSERT_TRUE(shown && row) << "cycle " << k;
        EXPECT_EQ(shown->timestamp, kScript[k]) << "cycle " << k;
        EXPECT_EQ(row->timestamp, kScript[k]) << "cycle " << k;
    }
}

}  // namespace
}  // namespace veldra::reliability
