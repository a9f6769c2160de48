// The program in a process of its own, for the tests that need a second program beside the one
// they run themselves (on the same port, in the same folder), or a start that could hang.
//
//   app_program_driver [--press-start <COM number>]
//
// Runs the program headless in the working folder, without the splash wait. Every message box
// is printed on stdout as one line "popup <title>: <text>" (line ends in the text as "\n").
// Once the main panel shows it prints "status <status line>", with --press-start puts the COM
// number into its field and presses "Start Logging", then presses Quit. The exit status is
// main's result (-1 shows as 255).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <string>
#include <string_view>
#include <thread>

#include "app/app.h"
#include "app/panel_ids.h"
#include "platform/ui.h"
#include "platform/ui_testing.h"

namespace {

void print_line(const std::string& text) {
    std::string line;
    for (const char c : text) {
        line += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

class PrintingPopups : public PopupResponder {
  public:
    int message(std::string_view title, std::string_view text) override {
        print_line("popup " + std::string(title) + ": " + std::string(text));
        return 0;
    }
    int fileSelect(const FileSelectRequest&, std::string&) override { return VAL_NO_FILE_SELECTED; }
};

void in_loop(const std::function<void()>& work) {
    std::promise<void> done;
    PostToUserInterface([&] {
        work();
        done.set_value();
    });
    done.get_future().wait();
}

}  // namespace

int main(int argc, char** argv) {
    int port = -1;
    if (argc == 3 && std::string_view(argv[1]) == "--press-start") {
        port = std::stoi(argv[2]);
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: %s [--press-start <COM number>]\n", argv[0]);
        return 2;
    }
    if (InitRunTime(callback_names()) == 0) {
        return -1;
    }
    PrintingPopups popups;
    SetPopupResponder(&popups);
    SetDelayScaleForTesting(0.0);

    std::atomic<bool> ended{false};
    std::thread person([&] {
        while (!IsUserInterfaceRunning()) {
            if (ended) {
                return;  // start-up failed: there is no window to act on
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        in_loop([&] {
            std::string status;
            GetCtrlVal(main_panel, status_line, status);
            print_line("status " + status);
            if (port >= 0) {
                SetCtrlVal(main_panel, comport_field, port);
            }
        });
        if (port >= 0) {
            SimulateCommit(main_panel, start_stop_button);
        }
        SimulateCommit(main_panel, MAIN_QUIT);
    });
    char name[] = "veldra-logger";
    char* args[] = {name, nullptr};
    const int result = veldra_main(1, args);
    ended = true;
    person.join();
    SetPopupResponder(nullptr);
    return result;
}
