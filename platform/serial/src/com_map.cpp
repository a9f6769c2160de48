// Which device stands behind a COM number: the fixed table (COM1-32 -> /dev/ttyS0-31,
// COM33-64 -> /dev/ttyUSB0-31, COM65-96 -> /dev/ttyACM0-31) overridden by the lines
// "N /dev/path" of the map file, which is read afresh every time so an edit applies at once.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

#include "platform/rs232.h"
#include "platform/unique_fd.h"

namespace {

std::mutex g_map_file_mutex;
std::string g_map_file = "comports.txt";

std::string map_file_path() {
    std::lock_guard lock(g_map_file_mutex);
    return g_map_file;
}

// The default device for a number, or "" when the table has none.
std::string default_device(int port) {
    struct Range {
        int first;
        const char* prefix;
    };
    static constexpr Range kRanges[] = {{1, "/dev/ttyS"}, {33, "/dev/ttyUSB"}, {65, "/dev/ttyACM"}};
    for (const Range& r : kRanges) {
        if (port >= r.first && port < r.first + 32) {
            return r.prefix + std::to_string(port - r.first);
        }
    }
    return {};
}

// The map file's text; empty when there is none or it is no regular file: a named pipe under
// its name must not stall every port lookup, nor a device there be opened.
std::string read_map_file(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return {};
    }
    const veldra::serial::UniqueFd fd(
        ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return {};
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            return text;
        }
    }
}

// Overrides from the map file. A line is a port number and an absolute device path; blank
// lines, lines starting with '#' and anything else malformed are skipped. A later line for the
// same number wins.
std::map<int, std::string> read_overrides() {
    std::map<int, std::string> result;
    const std::string path = map_file_path();
    if (path.empty()) {
        return result;
    }
    std::istringstream in(read_map_file(path));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string number_text;
        std::string device;
        std::string extra;
        if (!(words >> number_text >> device) || (words >> extra)) {
            continue;
        }
        if (number_text.empty() ||
            number_text.find_first_not_of("0123456789") != std::string::npos ||
            number_text.size() > 4 || device.front() != '/') {
            continue;
        }
        const int number = std::stoi(number_text);
        if (number < 1 || number > kMaxComPort) {
            continue;
        }
        result[number] = device;
    }
    return result;
}

bool device_present(const std::string& device) {
    struct stat st {};
    return !device.empty() && ::stat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

ComPortInfo resolve_with(int port, const std::map<int, std::string>& overrides) {
    ComPortInfo info;
    info.number = port;
    if (port < 1 || port > kMaxComPort) {
        return info;
    }
    const auto it = overrides.find(port);
    info.device = it != overrides.end() ? it->second : default_device(port);
    info.present = device_present(info.device);
    return info;
}

}  // namespace

void SetComPortMapFile(const std::string& path) {
    std::lock_guard lock(g_map_file_mutex);
    g_map_file = path;
}

ComPortInfo ResolveComPort(int port) {
    if (port < 1 || port > kMaxComPort) {
        return resolve_with(port, {});
    }
    return resolve_with(port, read_overrides());
}

std::vector<ComPortInfo> ListSerialPorts() {
    const auto overrides = read_overrides();
    std::vector<ComPortInfo> ports;
    for (int port = 1; port <= kMaxComPort; ++port) {
        ComPortInfo info = resolve_with(port, overrides);
        if (info.present) {
            ports.push_back(std::move(info));
        }
    }
    return ports;
}
