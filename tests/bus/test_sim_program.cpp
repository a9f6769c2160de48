// The veldra-sensor-sim program as a demo uses it: it maps a COM number to its link in a map
// file (keeping the other lines), prints its slave path when ready, answers over the link, and
// on SIGTERM exits 0 and takes the link away.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "bus/bus.h"
#include "bus_test_support.h"

extern char** environ;

namespace {

using bus_test::TempDir;

constexpr int kPort = 5;

std::string run_for_output(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    char chunk[256];
    while (pipe && std::fgets(chunk, sizeof chunk, pipe.get()) != nullptr) {
        out += chunk;
    }
    return out;
}

// Reads one line from fd, waiting at most `seconds`.
std::string read_line(int fd, int seconds) {
    std::string line;
    pollfd p{fd, POLLIN, 0};
    char c = 0;
    while (::poll(&p, 1, seconds * 1000) > 0 && ::read(fd, &c, 1) == 1 && c != '\n') {
        line += c;
    }
    return line;
}

TEST(SimulatorProgram, HelpDescribesTheOptions) {
    const std::string help = run_for_output(std::string(VELDRA_SIM_PROGRAM) + " --help");
    for (const char* option : {"--sensors", "--link", "--com", "--map-file", "--baud-emulation",
                               "--fault", "--seed", "--late", "--foreign", "--babble"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    for (const char* bad :
         {"--bogus", "--late 0a1b2c", "--late 0a1b2c=2600-2300", "--foreign 0a1b2c=1234567",
          "--foreign 0a1b2c=/123", "--foreign 0a1b2c=//0102", "--fault foreign-address=2"}) {
        SCOPED_TRACE(bad);
        const std::string command = std::string(VELDRA_SIM_PROGRAM) + " " + bad + " 2>/dev/null";
        EXPECT_NE(std::system(command.c_str()), 0);
    }
}

TEST(SimulatorProgram, MapsItsLinkServesAndCleansUp) {
    TempDir dir;
    const std::string map = dir.file("comports.txt");
    const std::string link = dir.file("veldra-bus");
    std::ofstream(map) << "3 /dev/ttyX\n" << kPort << " /dev/old\n";

    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string com = std::to_string(kPort);
    std::vector<std::string> args = {
        VELDRA_SIM_PROGRAM, "--sensors", "0a1b2c,01a2b3", "--link", link, "--com", com,
        "--map-file",       map};
    // The sensor answers under another identity; its answer is taken all the same.
    args.insert(args.end(), {"--foreign", "0a1b2c=123456/05/01020304"});
    args.insert(args.end(), {"--late", "01a2b3=2300-2600"});
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, VELDRA_SIM_PROGRAM, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);

    const std::string slave = read_line(out[0], 30);
    EXPECT_EQ(slave.rfind("/dev/pts/", 0), 0u) << slave;
    std::ifstream in(map);
    std::stringstream lines;
    lines << in.rdbuf();
    EXPECT_EQ(lines.str(), "3 /dev/ttyX\n" + com + " " + link + "\n");

    SetComPortMapFile(map);
    std::vector<char> reply(100);
    EXPECT_EQ(send_n_bus_message(kPort, 9600, 0, 0x0A1B2C, "GetTemperature!"), 0);
    EXPECT_GT(receive_n_bus_message(kPort, 9600, reply), 0);
    CloseCom(kPort);
    SetComPortMapFile("comports.txt");

    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0);
    ::close(out[0]);
}

}  // namespace
