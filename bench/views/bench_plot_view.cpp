// The plot view with a week of a ten-sensor session at a 3 s interval (about 200,000 points per
// curve, 40 curves) at 1280x900: milliseconds per frame (median and p99) for the whole session
// and for following the last hour, the cost of adding one cycle's record (with the redraw
// notice the cycle's thread pays), the store's own memory and the program's resident memory.
//
//   bench_views_plot [--days N] [--sensors N] [--interval S] [--frames N] [--png FILE] [--dark]
//
// --days 30 --interval 30 is the month the memory budget is set for.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStyleFactory>
#include <cstring>
#include <iostream>

#include "bench_support.h"
#include "views/health.h"
#include "views/plot_view.h"
#include "views/view_feed.h"

using namespace bench_views;

int main(int argc, char** argv) {
    Workload w;
    int frames = 60;
    const char* png = nullptr;
    bool dark = false;
    for (int i = 1; i < argc; ++i) {
        const auto is = [&](const char* a) { return std::strcmp(argv[i], a) == 0 && i + 1 < argc; };
        if (is("--days")) {
            w.days = std::atoi(argv[++i]);
        } else if (is("--sensors")) {
            w.sensors = std::atoi(argv[++i]);
        } else if (is("--interval")) {
            w.interval_seconds = std::atoi(argv[++i]);
        } else if (is("--frames")) {
            frames = std::atoi(argv[++i]);
        } else if (is("--png")) {
            png = argv[++i];
        } else if (std::strcmp(argv[i], "--dark") == 0) {
            dark = true;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (dark) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QPalette p;
        p.setColor(QPalette::Window, QColor(0x2d2d2d));
        p.setColor(QPalette::Base, QColor(0x262626));
        p.setColor(QPalette::Text, QColor(0xe8e8e8));
        p.setColor(QPalette::WindowText, QColor(0xe8e8e8));
        p.setColor(QPalette::Button, QColor(0x3a3a3a));
        p.setColor(QPalette::ButtonText, QColor(0xe8e8e8));
        p.setColor(QPalette::ToolTipBase, QColor(0x3a3a3a));
        p.setColor(QPalette::ToolTipText, QColor(0xe8e8e8));
        QApplication::setPalette(p);
    }
    const double rssStart = ResidentMb();

    veldra::views::HistoryStore store;
    veldra::views::HealthModel health;
    veldra::views::PlotView view(store);
    const auto link = view.link();
    veldra::views::ViewFeed feed(store, health, [link] { link->notify(); });

    const int cycles = w.cycles();
    std::vector<double> appendUs;
    appendUs.reserve(static_cast<std::size_t>(cycles));
    for (int i = 0; i < cycles; ++i) {
        const auto record = MakeCycle(w, i);
        appendUs.push_back(1000.0 * Ms([&] { feed.cycle_finished(record); }));
    }
    view.resize(1280, 900);
    view.setFollowMinutes(0);
    view.show();
    QCoreApplication::processEvents();

    QImage image(view.size() * view.devicePixelRatio(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(view.devicePixelRatio());
    // Wall time per frame, and the CPU time of the whole process (Qt's painting may use
    // helper threads), which a loaded machine disturbs less.
    std::vector<double> cpu;
    const auto measure = [&](int minutes) {
        view.setFollowMinutes(minutes);
        std::vector<double> ms;
        for (int f = 0; f < frames; ++f) {
            const double cpu0 = ProcessCpuMs();
            ms.push_back(Ms([&] {
                view.refresh();
                view.render(&image);
            }));
            cpu.push_back(ProcessCpuMs() - cpu0);
        }
        return ms;
    };
    const auto whole = measure(0);
    const std::vector<double> wholeCpu = cpu;
    const auto hour = measure(60);
    if (png != nullptr) {
        view.setFollowMinutes(0);
        view.grab().save(QString::fromLocal8Bit(png));
    }
    const double rss = ResidentMb();

    std::printf("plot view, %d sensors x 4 quantities x %d days at %d s: %d points per curve\n",
                w.sensors, w.days, w.interval_seconds, cycles);
    std::printf("frame, whole session:  median %.2f ms  p99 %.2f ms  (%d frames)\n",
                Percentile(whole, 0.5), Percentile(whole, 0.99), frames);
    std::printf("frame, whole session, CPU of the process: median %.2f ms  p99 %.2f ms\n",
                Percentile(wholeCpu, 0.5), Percentile(wholeCpu, 0.99));
    std::printf("frame, last hour:      median %.2f ms  p99 %.2f ms\n", Percentile(hour, 0.5),
                Percentile(hour, 0.99));
    std::printf("add one cycle's record: median %.2f us  p99 %.2f us  max %.1f us\n",
                Percentile(appendUs, 0.5), Percentile(appendUs, 0.99), Percentile(appendUs, 1.0));
    std::printf(
        "history store: %.1f MB;  resident: %.1f MB (%.1f MB before the store), peak %.1f MB\n",
        store.memory_bytes() / 1048576.0, rss, rssStart, PeakResidentMb());
    return Percentile(whole, 0.5) < 16.0 ? 0 : 1;
}
