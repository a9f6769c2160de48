// veldra-logd's life, in the window's order of operations without its panels: read the
// configuration (the fields a start press reads), apply the interval rule, take the log
// folder, wait for the port, start the session (its checks, the log files, the first cycle at
// once), run until a stop signal or the cycles asked for, and stop as the window's stop does.
#include "service/service.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "logging/session.h"
#include "logging/session_timer.h"
#include "main_loop.h"
#include "options/options.h"
#include "platform/folder_lock.h"
#include "platform/rs232.h"
#include "progress.h"
#include "service/arguments.h"
#include "service/option_rules.h"
#include "service/panel_settings.h"
#include "service/status_log.h"
#include "systemd_notify.h"

namespace veldra::service {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kExitStopped = 0;
constexpr int kExitCannotStart = 1;
constexpr int kExitBadInput = 2;

// The port test's settings, as the session's own.
constexpr int kBaud = 9600;
constexpr int kQueueSize = 512;

// How long the cycles may stand still beyond one interval before the watchdog is no longer
// told that all is well. A query waits at most a few seconds for its sensor, so this is far
// beyond any cycle that is merely slow.
constexpr auto kStuckAfter = 120s;

void write_out(int fd, const std::string& text) {
    [[maybe_unused]] const ssize_t n = ::write(fd, text.data(), text.size());
}

std::string whole_seconds(std::chrono::steady_clock::duration d) {
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(d).count()) + " s";
}

// The window's message texts are made for a box with a paragraph of advice about its
// buttons; a status line keeps the first paragraph.
std::string first_paragraph(const std::string& text) {
    return text.substr(0, text.find("\n\n"));
}

std::string beside(const std::string& file, const std::string& name) {
    const fs::path folder = fs::path(file).parent_path();
    return folder.empty() ? name : (folder / name).string();
}

std::string folder_of(const std::string& file) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(file, ec);
    const fs::path folder = (ec ? fs::path(file) : absolute).parent_path();
    return folder.empty() ? "." : folder.string();
}

std::string port_name(int port) {
    const ComPortInfo info = ResolveComPort(port);
    return "COM " + std::to_string(port) + (info.device.empty() ? "" : " = " + info.device);
}

// Why the port test failed, in words.
std::string port_problem(int port, int result) {
    const ComPortInfo info = ResolveComPort(port);
    const std::string name = port_name(port);
    switch (result) {
        case COM_ERR_BAD_PORT:
            return name +
                   " stands for no device (comports.txt beside the configuration maps "
                   "COM numbers to devices)";
        case COM_ERR_BUSY:
            return name + " is held by another program";
        case COM_ERR_OPEN_FAILED:
            return info.present ? name + " cannot be opened (no permission, or no serial device)"
                                : name + " is not there";
        default:
            return name + " cannot be opened (error " + std::to_string(result) + ")";
    }
}

// The refusal the session gives when its own port test fails: the port went away between
// the service's test and the start.
bool is_port_refusal(const core::Message& message) {
    return message.text.starts_with("Cannot open specified ComPort!");
}

class Service {
  public:
    Service(const Arguments& args, StatusLog& status, SystemdNotify& notify, MainLoop& loop)
        : args_(args), status_(status), notify_(notify), loop_(loop) {}

    int run();

  private:
    enum class PortState { Open, Stopped };
    // Tries the port until it opens (it then stays open for the session's start) or a stop
    // signal comes; one line per change of what is wrong.
    PortState wait_for_port(int port, int interval_seconds);
    int refuse(const std::string& text, int status) {
        status_.line("cannot start: " + text);
        notify_.stopping("cannot start: " + text);
        return status;
    }

    const Arguments& args_;
    StatusLog& status_;
    SystemdNotify& notify_;
    MainLoop& loop_;
};

Service::PortState Service::wait_for_port(int port, int interval_seconds) {
    std::string problem;
    for (;;) {
        const int opened = OpenComConfig(port, "", kBaud, 0, 8, 1, kQueueSize, kQueueSize);
        if (opened >= 0) {
            if (!problem.empty()) {
                status_.line(port_name(port) + " can be opened now");
            }
            return PortState::Open;
        }
        const std::string now = port_problem(port, opened);
        if (now != problem) {
            problem = now;
            status_.line("waiting for the port: " + problem + "; trying again every " +
                         std::to_string(interval_seconds) + " s");
            notify_.status("waiting for the port: " + problem);
        }
        const MainLoop::Result woken =
            loop_.wait(std::chrono::seconds(interval_seconds), [] { return true; });
        if (woken.why == MainLoop::Woken::Signal) {
            status_.line("stopped (" + woken.signal + ") while waiting for " + port_name(port));
            notify_.stopping("stopped");
            return PortState::Stopped;
        }
    }
}

int Service::run() {
    // What a start press reads from the panel.
    const SettingsRead read = read_panel_settings(args_.config);
    if (!read.settings) {
        return refuse(args_.config + ": " + read.reason, kExitBadInput);
    }
    PanelSettings settings = *read.settings;
    if (args_.log) {
        settings.log_file = *args_.log;
    }
    if (const auto why = unusable_reason(settings)) {
        return refuse(args_.config + ": " + *why, kExitBadInput);
    }
    options::Options options;
    if (args_.options) {
        const options::Result loaded = options::load_options(*args_.options, options);
        if (!loaded) {
            return refuse(loaded.error, kExitBadInput);
        }
    }
    for (const std::string& adjusted : settings.adjusted) {
        status_.line(args_.config + ": " + adjusted);
    }
    SetComPortMapFile(beside(args_.config, "comports.txt"));

    const core::IntervalDecision rule =
        core::apply_interval_rule(settings.interval_seconds, settings.sensors.size());
    if (rule.info) {
        status_.line(rule.info->text + " (" + std::to_string(settings.interval_seconds) +
                     " s raised to " + std::to_string(rule.interval_seconds) + " s)");
    }

    // One program per log folder, decided before any file in it is touched.
    const auto folder = platform::FolderLock::Take(folder_of(settings.log_file), "veldra-logd");
    if (!folder.Refusal().empty()) {
        return refuse(folder.Refusal(), kExitCannotStart);
    }

    core::FixedSensorList sensors(settings.sensors);
    Progress progress(args_.cycles, loop_.wake_fd());
    std::vector<std::string> said;
    // Declared before the session, so that they outlive its stop in every way out.
    std::vector<std::unique_ptr<core::SessionObserver>> extra;
    core::Session session(sensors);
    // A relative outbox goes beside the log (under systemd: the instance's own state
    // directory, writable and not shared with other instances).
    extra = observers_from_options(options, args_.options.value_or(""), settings.log_file,
                                   session.notices(), said);
    session.add_observer(status_);
    session.add_observer(progress);
    for (const auto& observer : extra) {
        session.add_observer(*observer);
    }
    for (const std::string& text : said) {
        status_.line(text);
    }
    const core::SessionTimer timer(session);
    if (timer.id() < 0) {
        return refuse("the session's timer could not be created", kExitCannotStart);
    }
    const core::SessionConfig config{settings.com_port, rule.interval_seconds, settings.log_file,
                                     timer.id(), file_rules(options)};
    status_.set_file_rules_text(describe_file_rules(config.files));

    // Up and running from here on, even while the adapter is still missing.
    notify_.ready("starting");
    for (;;) {
        if (wait_for_port(config.com_port, config.interval_seconds) == PortState::Stopped) {
            return kExitStopped;
        }
        const core::StartResult started = session.start(config);
        if (started.started) {
            break;
        }
        if (!started.refusal) {
            return refuse("the session did not start", kExitCannotStart);
        }
        if (!is_port_refusal(*started.refusal)) {
            return refuse(first_paragraph(started.refusal->text), kExitCannotStart);
        }
    }
    notify_.status("logging " + std::to_string(settings.sensors.size()) + " sensors every " +
                   std::to_string(config.interval_seconds) + " s");

    // The cycles run on the timer's thread; this one waits for the end.
    const auto allowed_quiet = std::chrono::seconds(config.interval_seconds) + kStuckAfter;
    bool stuck = false;
    const auto healthy = [&] {
        const auto quiet = progress.quiet_for();
        if ((quiet > allowed_quiet) != stuck) {
            stuck = !stuck;
            status_.line(stuck ? "no cycle has moved for " + whole_seconds(quiet) +
                                     "; the watchdog is no longer told that all is well"
                               : "the cycles go on again");
        }
        return !stuck;
    };
    for (;;) {
        const MainLoop::Result woken = loop_.wait(-1ms, healthy);
        if (woken.why == MainLoop::Woken::Signal) {
            status_.set_stop_reason(woken.signal);
            break;
        }
        if (woken.why == MainLoop::Woken::Wake && progress.done()) {
            status_.set_stop_reason("after " + std::to_string(*args_.cycles) +
                                    (*args_.cycles == 1 ? " cycle" : " cycles"));
            break;
        }
    }
    notify_.stopping("stopping");
    session.stop();  // a cycle in progress is cut short and writes nothing; files closed whole
    return kExitStopped;
}

}  // namespace

int run_service(std::span<const std::string_view> words) {
    const CommandLine command = parse_command_line(words);
    switch (command.action) {
        case Action::Help:
            write_out(STDOUT_FILENO, usage_text());
            return 0;
        case Action::Version:
            write_out(STDOUT_FILENO, version_text());
            return 0;
        case Action::Refuse:
            write_out(STDERR_FILENO, "veldra-logd: " + command.error + " (see --help)\n");
            return kExitBadInput;
        case Action::Run:
            break;
    }
    // Status lines go to whoever reads standard error; when nobody does, logging goes on.
    ::signal(SIGPIPE, SIG_IGN);
    SystemdNotify notify;
    MainLoop loop(notify);  // before any thread exists
    StatusLog status(STDERR_FILENO, command.arguments.verbose);
    if (!loop.failure().empty()) {
        status.line("cannot start: " + loop.failure());
        return kExitCannotStart;
    }
    Service service(command.arguments, status, notify, loop);
    return service.run();
}

}  // namespace veldra::service
