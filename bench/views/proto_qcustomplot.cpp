// Throwaway prototype for choosing the chart library: the same week of ten sensors drawn with
// QCustomPlot, four plots of ten graphs at 1280x900. Two ways: the library holds every point
// (its own adaptive sampling thins them), or it is handed our history's columns every frame.
//
//   proto_qcustomplot [--frames N] [--days N] [--png FILE]
#include <qcustomplot.h>
#include <QApplication>
#include <QImage>
#include <QVBoxLayout>
#include <cstring>

#include "bench_support.h"
#include "views/curve_palette.h"
#include "views/history.h"

using namespace bench_views;

int main(int argc, char** argv) {
    Workload w;
    int frames = 30;
    const char* png = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            frames = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--days") == 0 && i + 1 < argc) {
            w.days = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--png") == 0 && i + 1 < argc) {
            png = argv[++i];
        }
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double rssStart = ResidentMb();

    QWidget window;
    window.resize(1280, 900);
    auto* column = new QVBoxLayout(&window);
    std::vector<QCustomPlot*> plots;
    for (std::size_t q = 0; q < veldra::core::kQuantityCount; ++q) {
        auto* plot = new QCustomPlot(&window);
        auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
        ticker->setDateTimeFormat(QStringLiteral("dd.MM. HH:mm"));
        plot->xAxis->setTicker(ticker);
        for (int s = 0; s < w.sensors; ++s) {
            QCPGraph* g = plot->addGraph();
            g->setPen(QPen(veldra::views::curveColour(s), 1.0));
            g->setAdaptiveSampling(true);
        }
        column->addWidget(plot);
        plots.push_back(plot);
    }
    window.show();
    QCoreApplication::processEvents();

    // (a) Every point in the library, added cycle by cycle as a session would.
    const int cycles = w.cycles();
    std::vector<double> appendUs;
    for (int i = 0; i < cycles; ++i) {
        const auto r = MakeCycle(w, i);
        const double key = veldra::views::to_time_ms(r.utc) / 1000.0;
        appendUs.push_back(
            1000.0 * Ms([&] {
                for (std::size_t q = 0; q < veldra::core::kQuantityCount; ++q) {
                    for (int s = 0; s < w.sensors; ++s) {
                        const auto& res = r.sensors[static_cast<std::size_t>(s)].queries[q];
                        plots[q]->graph(s)->addData(key, res.value ? *res.value : qQNaN());
                    }
                }
            }));
    }
    for (QCustomPlot* p : plots) {
        p->rescaleAxes();
    }
    QImage image(window.size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> full;
    for (int f = 0; f < frames; ++f) {
        full.push_back(Ms([&] {
            for (QCustomPlot* p : plots) {
                p->replot(QCustomPlot::rpImmediateRefresh);
            }
            window.render(&image);
        }));
    }
    const double rssFull = ResidentMb();
    if (png != nullptr) {
        window.grab().save(QString::fromLocal8Bit(png));
    }

    // (b) Our history thins, the library only draws what fits the width.
    for (QCustomPlot* p : plots) {
        for (int s = 0; s < w.sensors; ++s) {
            p->graph(s)->data()->clear();
        }
    }
    veldra::views::HistoryStore store;
    for (int i = 0; i < cycles; ++i) {
        store.append(MakeCycle(w, i));
    }
    const auto span = *store.time_span();
    std::vector<double> fed;
    for (int f = 0; f < frames; ++f) {
        fed.push_back(Ms([&] {
            for (std::size_t q = 0; q < veldra::core::kQuantityCount; ++q) {
                const int columns = plots[q]->axisRect()->width();
                for (int s = 0; s < w.sensors; ++s) {
                    QVector<QCPGraphData> data;
                    for (const auto& p :
                         store.query({0x0a0000 + s, static_cast<veldra::core::Quantity>(q)},
                                     span.first, span.last, columns)) {
                        data.push_back({p.time / 1000.0, p.has_value() ? p.min : qQNaN()});
                        data.push_back({p.time / 1000.0 + 0.001, p.has_value() ? p.max : qQNaN()});
                    }
                    plots[q]->graph(s)->data()->set(data, true);
                }
                plots[q]->replot(QCustomPlot::rpImmediateRefresh);
            }
            window.render(&image);
        }));
    }
    std::printf("QCustomPlot %s, %d points per curve, 40 curves, 1280x900\n",
                QCUSTOMPLOT_VERSION_STR, cycles);
    std::printf(
        "(a) library holds every point: frame median %.1f ms p99 %.1f ms; add one cycle: median "
        "%.2f us p99 %.2f us; resident %.1f MB (%.1f before)\n",
        Percentile(full, 0.5), Percentile(full, 0.99), Percentile(appendUs, 0.5),
        Percentile(appendUs, 0.99), rssFull, rssStart);
    std::printf(
        "(b) fed our columns each frame: frame median %.1f ms p99 %.1f ms; resident %.1f MB, peak "
        "%.1f MB\n",
        Percentile(fed, 0.5), Percentile(fed, 0.99), ResidentMb(), PeakResidentMb());
    return 0;
}
