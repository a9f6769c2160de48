// Crash: a running logging session killed with SIGKILL at random moments. Every line that was
// complete before the kill must be in both logs and parse; only the very last line may be torn;
// the settings file, saved over and over while the kill comes, must always be one whole save.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "app/app.h"
#include "app/panel_ids.h"
#include "battery.h"
#include "crash_record.h"
#include "cycle_clock.h"
#include "log_files.h"
#include "platform/ui.h"
#include "platform/ui_testing.h"
#include "session_rig.h"

namespace veldra::reliability {
namespace {

using namespace std::chrono_literals;

// The driver as a child process whose standard output the test reads.
class Driver {
  public:
    explicit Driver(const std::filesystem::path& folder) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], STDOUT_FILENO);
            execl(VELDRA_CRASH_DRIVER, VELDRA_CRASH_DRIVER, folder.c_str(), nullptr);
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
    }
    ~Driver() {
        kill_now();
        if (out_ >= 0) {
            close(out_);
        }
    }
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    // Waits for the "ready" line.
    bool wait_ready(std::chrono::milliseconds timeout) {
        std::string seen;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (seen.find("ready\n") == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{out_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char buffer[64];
            const auto n = read(out_, buffer, sizeof buffer);
            if (n <= 0) {
                return false;
            }
            seen.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

    // SIGKILL and reap; returns the wait status.
    int kill_now() {
        if (pid_ <= 0) {
            return 0;
        }
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
};

// Checks one log after a kill; returns its number of data lines.
long check_killed_log(const std::filesystem::path& path, bool csv, int round) {
    const auto file = read_file_lines(path);
    SCOPED_TRACE(path.string() + ", round " + std::to_string(round));
    EXPECT_GE(file.lines.size(), 4u) << "the first cycle was complete before the kill";
    if (file.lines.size() < 3) {
        return 0;
    }
    EXPECT_EQ(csv ? file.lines[0] : file.lines[2].substr(0, 22),
              csv ? "\"sep=;\"" : std::string(22, '-'));
    long data = 0;
    for (std::size_t i = 3; i < file.lines.size(); ++i, ++data) {
        const auto row = csv ? parse_csv_row(file.lines[i], kCrashSensors.size())
                             : parse_display_line(file.lines[i], kCrashSensors.size());
        if (!row) {
            ADD_FAILURE() << "line " << i + 1 << " is not a whole data line: " << file.lines[i];
            break;
        }
        if (row->timestamp != timestamp_for_cycle(data)) {
            ADD_FAILURE() << "line " << i + 1 << " has time stamp " << row->timestamp
                          << ", expected " << timestamp_for_cycle(data);
            break;
        }
    }
    return data;
}

TEST(Crash, KilledSessionKeepsEveryCompleteLineAndAWholeSettingsFile) {
    const long rounds = battery_size("VELDRA_CRASH_KILLS", 10, 100);
    const unsigned seed = static_cast<unsigned>(battery_size("VELDRA_CRASH_SEED", 4242, 4242));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> kill_after_ms(0, 400);
    RecordProperty("seed", static_cast<int>(seed));

    ResetUiForTesting();
    ASSERT_NE(InitRunTime(callback_names()), 0);
    main_panel = LoadPanel(0, VELDRA_PANEL_FILE, MAIN_PANEL_RESOURCE);
    ASSERT_GE(main_panel, 0);

    for (int round = 0; round < rounds; ++round) {
        TempDir folder;
        Driver driver(folder.path());
        ASSERT_TRUE(driver.wait_ready(60s)) << "round " << round << ": the driver never got going";
        std::this_thread::sleep_for(std::chrono::milliseconds(kill_after_ms(random)));
        const int status = driver.kill_now();
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "round " << round << ": the driver ended by itself, status " << status;

        const CrashProgress* progress = map_crash_progress(folder.path());
        ASSERT_NE(progress, nullptr);
        const long cycles_done = static_cast<long>(progress->cycles_done.load());
        const long generation_saved = static_cast<long>(progress->generation_saved.load());
        munmap(const_cast<CrashProgress*>(progress), sizeof(CrashProgress));

        const long text_lines = check_killed_log(folder.path() / "log.txt", false, round);
        const long csv_rows = check_killed_log(folder.path() / "log.csv", true, round);
        // A finished cycle's lines are in both files; the cycle under way may have written
        // its line, or its line and its row.
        EXPECT_TRUE(text_lines == cycles_done || text_lines == cycles_done + 1)
            << "round " << round << ": " << cycles_done << " cycles done, " << text_lines
            << " text lines";
        // The text line of a cycle is written before its CSV row: the kill may fall between.
        EXPECT_TRUE(text_lines == csv_rows || text_lines == csv_rows + 1)
            << "round " << round << ": " << text_lines << " text lines, " << csv_rows
            << " CSV rows";

        ASSERT_EQ(RecallPanelState(main_panel, (folder.path() / "settings.txt").string(), 1), 0)
            << "round " << round << ": the settings file cannot be read back";
        const int generation = read_settings_generation();
        EXPECT_GT(generation, 0) << "round " << round << ": the settings file mixes two saves";
        // Old or new: the last finished save, or the one under way when the kill came.
        EXPECT_TRUE(generation == generation_saved || generation == generation_saved + 1)
            << "round " << round << ": settings generation " << generation << ", last saved "
            << generation_saved;
        if (HasFailure()) {
            return;
        }
    }
}

}  // namespace
}  // namespace veldra::reliability
