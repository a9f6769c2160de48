// A session with a broker export that runs until it is killed, for the crash test: one
// simulated sensor, a cycle every few milliseconds, the outbox and the logs in the given
// folder. Prints "cycle N" once cycle N is in the outbox (the commit is on the disk before the
// cycle ends). SIGTERM stops the session as a service would, and ends with status 0.
//
//   export_crash_driver <folder> <broker port>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "support/export_rig.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <folder> <broker port>\n", argv[0]);
        return 2;
    }
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    export_test::ExportRig rig(argv[1], {0x0a1b2c}, {0x0a1b2c});
    const veldra::exporter::BrokerExport& exporter =
        rig.make_export(rig.settings(std::atoi(argv[2])));
    if (!exporter.problem().empty() || !rig.start()) {
        std::fprintf(stderr, "no session: %s\n", exporter.problem().c_str());
        return 1;
    }
    for (long cycle = 1; g_stop == 0; ++cycle) {
        if (cycle > 1) {
            rig.cycle();
        }
        std::printf("cycle %ld\n", cycle);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    rig.stop();
    return 0;
}
