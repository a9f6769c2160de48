// The log view's two per-cycle operations, with 1,000 and with 100,000 lines already in it:
// appending a cell, and reading the last line back (line count + line). Neither may grow with
// the number of lines, since the view receives one line per cycle for weeks.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/ui.h"
#include "platform/ui_testing.h"

namespace {

constexpr int kLogView = 20;
const std::string kRow = "2026-12-10 00:00:00;00abcd;   1234;  12.345;  23.45;  21.40";

int PanelWithLines(int lines) {
    ResetUiForTesting();
    InitRunTime({});
    const int panel = LoadPanel(0, VELDRA_PANEL_FILE, 2);
    for (int i = 0; i < lines; ++i) {
        SetCtrlVal(panel, kLogView, kRow);
        SetCtrlVal(panel, kLogView, "\n");
    }
    return panel;
}

void BM_AppendCell(benchmark::State& state) {
    const int panel = PanelWithLines(static_cast<int>(state.range(0)));
    int appended = 0;
    for (auto _ : state) {
        SetCtrlVal(panel, kLogView, ";  12.345");
        // End the line now and then so the view grows by lines, as a session's does.
        if (++appended % 64 == 0) {
            SetCtrlVal(panel, kLogView, "\n");
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ReadLastLine(benchmark::State& state) {
    const int panel = PanelWithLines(static_cast<int>(state.range(0)));
    std::string line;
    for (auto _ : state) {
        int count = 0;
        GetNumTextBoxLines(panel, kLogView, count);
        GetTextBoxLine(panel, kLogView, count - 1, line);
        benchmark::DoNotOptimize(line);
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_AppendCell)->Arg(1000)->Arg(100000);
BENCHMARK(BM_ReadLastLine)->Arg(1000)->Arg(100000);
BENCHMARK_MAIN();
