// How soon veldra-logd ends after SIGTERM while its cycle waits for a sensor that never
// answers (each read waits up to 2 s): from the signal to the process's exit, which includes
// cutting the cycle short, closing both log files and the port. Rounds signal at different
// moments of the wait. The limit is 0.5 s.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "app/panel_ids.h"
#include "child_process.h"
#include "platform/panel_state_record.h"
#include "sim/sensor_sim.h"

namespace {

namespace fs = std::filesystem;
namespace ui = veldra::ui;
using Clock = std::chrono::steady_clock;

void write_configuration(const fs::path& path, const fs::path& log) {
    ui::PanelStateRecord record;
    ui::StoredControl list;
    list.id = sensor_list;
    list.kind = ui::ControlKind::ListBox;
    list.items = {{"Adr. 300000", 0x300000}};
    list.index = 0;
    ui::StoredControl interval;
    interval.id = interval_field;
    interval.intValue = 3;
    ui::StoredControl port;
    port.id = comport_field;
    port.intValue = 7;
    ui::StoredControl entry;
    entry.id = logfile_field;
    entry.kind = ui::ControlKind::String;
    entry.text = log.string();
    record.controls = {list, interval, port, entry};
    std::ofstream(path) << ui::SerialisePanelState(record);
}

}  // namespace

int main() {
    constexpr int kRounds = 12;
    std::string tmpl = (fs::temp_directory_path() / "veldra-logd-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) {
        return 2;
    }
    const fs::path dir = tmpl;
    veldra::sim::Options options;
    options.link_path = (dir / "sensor-bus").string();  // no sensor answers
    veldra::sim::SensorSimulator sim(options);
    std::ofstream(dir / "comports.txt") << "7 " << options.link_path << "\n";
    write_configuration(dir / "bench.set", dir / "bench.txt");

    std::vector<double> took;
    for (int round = 0; round < kRounds; ++round) {
        sim.clear_exchanges();
        service_test::ChildProcess child(VELDRA_LOGD, {"--config", (dir / "bench.set").string()},
                                         dir / "stdout.txt", dir / "stderr.txt");
        if (!child.started() || !sim.wait_for_exchanges(1, std::chrono::seconds(30))) {
            std::printf("round %d: no request reached the simulator\n", round + 1);
            return 1;
        }
        // Spread over the first read's 2 s wait and the pause and read after it.
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + round * 190));
        const auto sent = Clock::now();
        child.signal(SIGTERM);
        const auto status = child.wait(std::chrono::seconds(30));
        const double seconds = std::chrono::duration<double>(Clock::now() - sent).count();
        if (status != 0) {
            std::printf("round %d: exit status %d\n", round + 1, status.value_or(-99));
            return 1;
        }
        took.push_back(seconds);
        std::printf("round %d: signalled %4d ms into the wait, ended after %.4f s\n", round + 1,
                    20 + round * 190, seconds);
    }
    std::sort(took.begin(), took.end());
    std::printf("SIGTERM to exit over %d rounds: median %.4f s, worst %.4f s (limit 0.5)\n",
                kRounds, took[took.size() / 2], took.back());
    std::error_code ec;
    fs::remove_all(dir, ec);
    return took.back() <= 0.5 ? 0 : 1;
}
