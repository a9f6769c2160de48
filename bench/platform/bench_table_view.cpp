// The Qt view of the log view with a wide table: 50 sensors (lines of 2,722 characters) and
// 10,000 lines. Measures the GUI thread's CPU time per appended cell (the append and the view's
// refresh), a repaint of the view, and the resident memory of the whole program with the full
// table shown. The model keeps the text either way; only the widget's cost is at stake.
//
//   bench_platform_table_view [--lines N] [--sensors N] [--cells]
#include <malloc.h>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/qt_frontend.h"
#include "platform/ui.h"
#include "platform/ui_testing.h"
#include "resident_memory.h"

namespace {

using bench_memory::ResidentMb;

constexpr int kLogView = 20;

int Ignore(int, int, int, void*, int, int) {
    return 0;
}
int IgnorePanel(int, int, void*, int, int) {
    return 0;
}

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double WallMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// One sensor's four success cells, as the display table has them (54 characters).
const std::string kCells[] = {"| 12345  ", "|     21.50    ", "|      33.25    ", "|     23.40   "};

}  // namespace

int main(int argc, char** argv) {
    int lines = 10000;
    int sensors = 50;
    bool cellByCell = false;  // fill the table as the cycle does, a cell at a time
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cells") == 0) {
            cellByCell = true;
            continue;
        }
        if (i + 1 >= argc) {
            break;
        }
        if (std::strcmp(argv[i], "--lines") == 0) {
            lines = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--sensors") == 0) {
            sensors = std::atoi(argv[++i]);
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    std::vector<ExternalName> names;
    for (const char* n :
         {"quit_program", "add_sensor_to_list", "remove_sensor_from_list", "start_logging",
          "set_filename_for_loggerdata", "save_configuration_to_file",
          "load_configuration_from_file", "add_to_list_and_hide_panel", "cancel_and_hide_panel",
          "show_comport_device", "edit_options"}) {
        names.push_back({n, Ignore, nullptr});
    }
    names.push_back({"mainpanel_callback", nullptr, IgnorePanel});
    InitRunTime(names);
    const int panel = LoadPanel(0, VELDRA_PANEL_FILE, 2);
    if (panel < 0) {
        std::fprintf(stderr, "cannot load %s\n", VELDRA_PANEL_FILE);
        return 2;
    }
    // The window at 1280x900, the log view laid out as the resize rule does.
    SetPanelAttribute(panel, ATTR_WIDTH, 1280);
    SetPanelAttribute(panel, ATTR_HEIGHT, 900);
    SetCtrlAttribute(panel, kLogView, ATTR_WIDTH, 1280 - 313);
    SetCtrlAttribute(panel, kLogView, ATTR_HEIGHT, 900 - 130);
    DisplayPanel(panel);
    QtRefreshForTesting();
    const double rssEmpty = ResidentMb();

    std::string line = "  2026-12-10 00:00:00 ";
    for (int s = 0; s < sensors; ++s) {
        for (const std::string& c : kCells) {
            line += c;
        }
    }
    for (int i = 0; i < lines; ++i) {
        if (cellByCell) {
            SetCtrlVal(panel, kLogView, line.substr(0, 22));
            for (int s = 0; s < sensors; ++s) {
                for (const std::string& c : kCells) {
                    SetCtrlVal(panel, kLogView, c);
                }
            }
        } else {
            SetCtrlVal(panel, kLogView, line);
        }
        SetCtrlVal(panel, kLogView, "\n");
        if (i % 500 == 0) {
            QtRefreshForTesting();
            QCoreApplication::processEvents();
        }
    }
    QtRefreshForTesting();
    QCoreApplication::processEvents();
    const double rssFull = ResidentMb();
    malloc_trim(0);
    std::printf("after trim %.1f\n", ResidentMb());

    // A cycle appends cell by cell; the view takes each in before the next arrives.
    std::vector<double> cellMs;
    SetCtrlVal(panel, kLogView, "  2026-12-10 00:00:03 ");
    QtRefreshForTesting();
    for (int s = 0; s < std::min(sensors, 10); ++s) {
        for (const std::string& c : kCells) {
            const double t0 = ThreadCpuMs();
            SetCtrlVal(panel, kLogView, c);
            QtRefreshForTesting();
            QCoreApplication::processEvents();
            cellMs.push_back(ThreadCpuMs() - t0);
        }
    }
    QWidget* window = QtWindowForTesting(panel);
    QWidget* view = window->findChild<QWidget*>(QStringLiteral("control_%1").arg(kLogView));
    // What shows the text: the scroll area's viewport, wherever the widget keeps it.
    QWidget* text = view;
    for (auto* area : view->findChildren<QAbstractScrollArea*>()) {
        text = area->viewport();
    }
    if (auto* area = qobject_cast<QAbstractScrollArea*>(view)) {
        text = area->viewport();
    }
    std::vector<double> repaintMs;
    for (int i = 0; i < 30; ++i) {
        const double t0 = WallMs();
        text->repaint();
        repaintMs.push_back(WallMs() - t0);
    }
    std::printf("log view with %d lines of %zu characters (%d sensors, filled %s), view %dx%d\n",
                lines, line.size(), sensors, cellByCell ? "cell by cell" : "line by line",
                view->width(), view->height());
    std::printf("append one cell: median %.3f ms GUI-thread CPU (%zu cells)\n", Median(cellMs),
                cellMs.size());
    std::printf("repaint of the log view: median %.2f ms\n", Median(repaintMs));
    std::printf("resident: %.1f MB with the full table (%.1f MB with the window empty)\n", rssFull,
                rssEmpty);
    return 0;
}
