// One program per port and per working folder, and a start that a named pipe cannot stall:
// the first program runs here, the second in a process of its own (app_program_driver), as a
// user would start it a second time.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app_fixture.h"
#include "logging/logging.h"
#include "platform/folder_lock.h"
#include "platform/kept_file.h"

extern char** environ;

namespace veldra_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kPort = 9;
constexpr std::uint32_t kSensor = 0x0A1B2C;

struct DriverRun {
    int status = -1;  // the exit status, -1 when it had to be killed
    std::vector<std::string> lines;
};

// Runs the driver in `folder` and collects its output; a driver still running after `limit`
// is killed (a start that hangs fails the test instead of stalling it).
DriverRun RunDriver(const fs::path& folder, std::vector<std::string> args,
                    std::chrono::seconds limit = 60s) {
    DriverRun run;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe";
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    args.insert(args.begin(), VELDRA_PROGRAM_DRIVER);
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, VELDRA_PROGRAM_DRIVER, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        ADD_FAILURE() << "cannot start the driver";
        return run;
    }
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool open = true;
    while (open) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{out[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char buffer[4096];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        open = n > 0;
        text.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    ::close(out[0]);
    int status = 0;
    if (open) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "the driver did not end within " << limit.count() << " s";
    } else if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        run.status = WEXITSTATUS(status);
    }
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        run.lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return run;
}

// Every entry of a folder with its inode and, for all but the growing logs, its size.
std::map<std::string, std::pair<ino_t, off_t>> Entries(const fs::path& folder) {
    std::map<std::string, std::pair<ino_t, off_t>> entries;
    for (const auto& e : fs::directory_iterator(folder)) {
        struct stat st {};
        ::lstat(e.path().c_str(), &st);
        const std::string name = e.path().filename().string();
        const bool log = name == "field.txt" || name == "field.csv";
        entries[name] = {st.st_ino, log ? 0 : st.st_size};
    }
    return entries;
}

std::string Escaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return escaped;
}

// Waits (generously) until the file has at least n lines.
bool WaitForLines(const fs::path& path, std::size_t n) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(path);
        std::size_t lines = 0;
        for (std::string line; std::getline(in, line);) {
            ++lines;
        }
        if (lines >= n) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

class InstanceTest : public AppTest {
  protected:
    // Starts a session of the program run here, on the simulated bus, logging to field.txt.
    void StartSession() {
        InLoop([&] {
            ClearSensorList();
            InsertListItem(main_panel, sensor_list, -1, sensor_label(kSensor), kSensor);
            SetCtrlVal(main_panel, comport_field, kPort);
            SetCtrlVal(main_panel, interval_field, 3);
            SetCtrlVal(main_panel, logfile_field, (dir_ / "field.txt").string());
        });
        SimulateCommit(main_panel, start_stop_button);
    }
    // A second working folder with the panel file and a map to the same bus.
    fs::path SecondFolder(const veldra::sim::SensorSimulator& sim) {
        const fs::path folder = dir_ / "second";
        fs::create_directory(folder);
        fs::copy_file(SourcePanelFile(), folder / kPanelFileName);
        std::ofstream(folder / "comports.txt") << kPort << " " << sim.device_path() << "\n";
        return folder;
    }
};

// A second program on the same port is refused at its port test with the usual box, and the
// first logs every value of its sensor, none of them a reply to the other's requests.
TEST_F(InstanceTest, ASecondProgramOnThePortIsRefusedWhileTheFirstKeepsItsValues) {
    const auto sim = SimulatedBus(kPort, {kSensor});
    using veldra::sim::Quantity;
    sim->set_value(kSensor, Quantity::Counts, 12345);
    sim->set_value(kSensor, Quantity::Permittivity, 21.5);
    sim->set_value(kSensor, Quantity::WaterContent, 33.25);
    sim->set_value(kSensor, Quantity::Temperature, 23.4);
    const fs::path second = SecondFolder(*sim);

    DriverRun run;
    bool logged = false;
    const int result = RunProgram([&] {
        StartSession();
        ASSERT_TRUE(WaitForLines(dir_ / "field.csv", 4));
        run = RunDriver(second, {"--press-start", std::to_string(kPort)});
        logged = WaitForLines(dir_ / "field.csv", 5);  // the next cycle, 3 s later
    });
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(logged);
    EXPECT_EQ(run.status, 0);  // it started, was refused, and quit
    EXPECT_NE(std::find(run.lines.begin(), run.lines.end(),
                        "popup Error: " + Escaped("Cannot open specified ComPort!\n\nPlease check "
                                                  "if the correct ComPort number has been "
                                                  "selected!\nPlease ensure, that no other "
                                                  "application is blocking the selected "
                                                  "ComPort!")),
              run.lines.end())
        << ::testing::PrintToString(run.lines);

    std::ifstream csv(dir_ / "field.csv");
    std::vector<std::string> rows;
    for (std::string line; std::getline(csv, line);) {
        rows.push_back(line);
    }
    ASSERT_GE(rows.size(), 5u);
    for (std::size_t i = 3; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].substr(19), ";12345;21.50;33.25;23.40") << rows[i];
    }
    for (const auto& exchange : sim->exchanges()) {
        EXPECT_TRUE(exchange.valid_reply) << exchange.command;
    }
}

// A second program in a folder that a running one holds says so in a box and ends like any
// failed start (exit status 255) before it touches a file: the first's live log stays where
// it is, no settings are written, nothing is created or moved.
TEST_F(InstanceTest, ASecondProgramInTheFolderIsRefusedBeforeTouchingAnyFile) {
    const auto sim = SimulatedBus(kPort, {kSensor});
    const std::string folder = fs::canonical(dir_).string();
    std::map<std::string, std::pair<ino_t, off_t>> before, after;
    std::string lockText;
    DriverRun run;
    const int result = RunProgram([&] {
        StartSession();
        ASSERT_TRUE(WaitForLines(dir_ / "field.csv", 4));
        std::ifstream lock(dir_ / veldra::platform::kFolderLockFile);
        std::getline(lock, lockText);
        before = Entries(dir_);
        run = RunDriver(dir_, {});
        after = Entries(dir_);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(lockText, std::to_string(::getpid()) + " veldra-logger");
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.lines,
              std::vector<std::string>{"popup Error: The folder \"" + folder +
                                       "\" is already in use by veldra-logger (process " +
                                       std::to_string(::getpid()) +
                                       "). Only one program at a time can work in a folder: "
                                       "please end the other program or start this one in "
                                       "another folder."});
    EXPECT_EQ(after, before);
    EXPECT_FALSE(before.contains(kSettingsFileName));
    // The lock went with the program; the next start in the folder is free.
    EXPECT_FALSE(fs::exists(dir_ / veldra::platform::kFolderLockFile));
    EXPECT_TRUE(fs::exists(dir_ / kSettingsFileName));
}

// A named pipe as the settings file neither stalls the start (a plain open would wait for a
// writer for ever): it is unreadable, kept aside as what it is, and the status line says so.
TEST_F(InstanceTest, ANamedPipeAsSettingsFileDoesNotStallTheStart) {
    ASSERT_EQ(::mkfifo(kSettingsFileName, 0644), 0);
    struct stat st {};
    ASSERT_EQ(::stat(kSettingsFileName, &st), 0);
    const std::string kept = veldra::platform::DatedName(kSettingsFileName, st.st_mtim.tv_sec, 0);
    const DriverRun run = RunDriver(dir_, {}, 60s);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.lines,
              std::vector<std::string>{"status settings.txt could not be read (it is a named "
                                       "pipe (FIFO), not a regular file); kept as " +
                                       kept});
    ASSERT_EQ(::lstat(kept.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(::lstat(kSettingsFileName, &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));  // saved at quit
}

}  // namespace
}  // namespace veldra_test
