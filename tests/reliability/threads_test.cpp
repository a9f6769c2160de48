// Threads: random start, stop, load-configuration, add/remove-sensor and quit actions against
// a running program whose cycles often sit in a blocking read of a silent sensor (the real
// 2-second reply time-out). Run under ThreadSanitizer it must report nothing; everywhere it
// must not deadlock, and every quit must finish within 2.5 seconds.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "app/app.h"
#include "app/panel_ids.h"
#include "battery.h"
#include "bus/bus.h"
#include "log_files.h"
#include "logging/logging.h"
#include "platform/rs232.h"
#include "platform/ui.h"
#include "platform/ui_testing.h"
#include "session_rig.h"

namespace veldra::reliability {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kAnswering[] = {0x000001, 0x0A1B2C};
constexpr std::uint32_t kSilent[] = {0x5111E7, 0x5111E8};  // nobody answers these

enum class Action { Start, Stop, LoadConfiguration, AddSensor, RemoveSensor, Quit };

TEST(Threads, RandomUserActionsDuringCyclesNeitherRaceNorHang) {
    const long actions = battery_size("VELDRA_THREADS_ACTIONS", kSanitized ? 120 : 200, 1000);
    const unsigned seed = static_cast<unsigned>(battery_size("VELDRA_THREADS_SEED", 777, 777));
    RecordProperty("seed", static_cast<int>(seed));
    std::mt19937 random(seed);

    sim::Options options;
    options.sensors.assign(std::begin(kAnswering), std::end(kAnswering));
    SessionRig rig(options, TimerMode::Real);
    // Short pauses keep many cycles going; the reply time-out stays the real one.
    SetDelayScaleForTesting(0.1);
    set_reply_timeout_for_testing(2.0);

    rig.set_sensor_list({kAnswering[0], kSilent[0]});
    rig.set_interval(6);
    // A configuration with a silent sensor first, so a cycle soon blocks in a read.
    const auto configuration = (rig.dir() / "silent-first.set").string();
    ASSERT_EQ(SavePanelState(main_panel, configuration, 1), 0);
    rig.popups().set_file_answer(configuration);
    const auto settings = (rig.dir() / "settings.txt").string();

    std::discrete_distribution<int> pick({20, 15, 10, 15, 10, 10});
    std::uniform_int_distribution<int> pause_ms(0, 40);
    std::uniform_int_distribution<std::size_t> any_address(0, 3);
    const std::uint32_t pool[] = {kAnswering[0], kAnswering[1], kSilent[0], kSilent[1]};
    Clock::duration slowest_quit{};
    long starts = 0;
    long quits = 0;

    for (long i = 0; i < actions; ++i) {
        switch (static_cast<Action>(pick(random))) {
            case Action::Start:
                if (!rig.logging()) {
                    SimulateCommit(main_panel, start_stop_button);
                    starts += rig.logging() ? 1 : 0;
                }
                break;
            case Action::Stop:
                if (rig.logging()) {
                    SimulateCommit(main_panel, start_stop_button);
                    EXPECT_FALSE(rig.logging()) << "action " << i << ": a stop was refused";
                }
                break;
            case Action::LoadConfiguration:
                SimulateCommit(main_panel, MAIN_LOAD_CONFIG);
                rig.set_log_file(rig.text_log());  // the loaded record may name another file
                break;
            case Action::AddSensor:
                // Through the address dialog, which stays usable during a session.
                SimulateCommit(main_panel, MAIN_ADD_SENSOR);
                SetCtrlVal(address_panel, address_field,
                           static_cast<int>(pool[any_address(random)]));
                SimulateCommit(address_panel, ADDRESS_OK);
                break;
            case Action::RemoveSensor: {
                int count = 0;
                GetNumListItems(main_panel, sensor_list, count);
                if (count > 1) {
                    SetCtrlIndex(main_panel, sensor_list, static_cast<int>(random() % count));
                    SimulateCommit(main_panel, MAIN_REMOVE_SENSOR);
                }
                break;
            }
            case Action::Quit: {
                // What quit_program does before it leaves the event loop.
                const auto begin = Clock::now();
                end_logging_session();
                SavePanelState(main_panel, settings, 1);
                CloseCom(com_port_number());
                const auto took = Clock::now() - begin;
                slowest_quit = std::max(slowest_quit, took);
                EXPECT_LT(took, 2500ms) << "action " << i << ": quit took too long";
                EXPECT_FALSE(rig.logging());
                ++quits;
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(random)));
    }
    end_logging_session();

    RecordProperty("starts", static_cast<int>(starts));
    RecordProperty("quits", static_cast<int>(quits));
    RecordProperty(
        "slowest_quit_ms",
        static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(slowest_quit).count()));
    EXPECT_GT(starts, actions / 20) << "the actions hardly ever found a session running";

    // Whatever was cut short, the logs hold whole lines only.
    for (const auto& entry : std::filesystem::directory_iterator(rig.dir())) {
        const auto ext = entry.path().extension();
        if (entry.path().filename().string().starts_with("log") &&
            (ext == ".txt" || ext == ".csv")) {
            EXPECT_TRUE(read_file_lines(entry.path()).torn_tail.empty()) << entry.path();
        }
    }
}

}  // namespace
}  // namespace veldra::reliability
