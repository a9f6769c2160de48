// Throwaway prototype for choosing the chart library: the same week of ten sensors drawn with
// Qt Charts, four chart views of ten line series at 1280x900. Two ways: the series hold every
// point, or they are handed our history's columns every frame.
//
//   proto_qtcharts [--frames N] [--days N] [--png FILE]
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QImage>
#include <QLineSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <cstring>

#include "bench_support.h"
#include "views/curve_palette.h"
#include "views/history.h"

using namespace bench_views;

int main(int argc, char** argv) {
    Workload w;
    int frames = 10;
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
    std::vector<std::vector<QLineSeries*>> series(veldra::core::kQuantityCount);
    std::vector<QChart*> charts;
    for (std::size_t q = 0; q < veldra::core::kQuantityCount; ++q) {
        auto* chart = new QChart;
        chart->legend()->hide();
        auto* x = new QDateTimeAxis;
        x->setFormat(QStringLiteral("dd.MM. HH:mm"));
        auto* y = new QValueAxis;
        chart->addAxis(x, Qt::AlignBottom);
        chart->addAxis(y, Qt::AlignLeft);
        for (int s = 0; s < w.sensors; ++s) {
            auto* line = new QLineSeries;
            line->setPen(QPen(veldra::views::curveColour(s), 1.0));
            chart->addSeries(line);
            line->attachAxis(x);
            line->attachAxis(y);
            series[q].push_back(line);
        }
        auto* view = new QChartView(chart, &window);
        column->addWidget(view);
        charts.push_back(chart);
    }
    window.show();
    QCoreApplication::processEvents();

    const int cycles = w.cycles();
    // (a) Every point in the series. Appending point by point redoes the series' geometry each
    // time and takes hours for a week, so the week goes in at once and only the cost of
    // appending one more cycle is measured, on the full series.
    std::vector<std::vector<QList<QPointF>>> points(
        veldra::core::kQuantityCount,
        std::vector<QList<QPointF>>(static_cast<std::size_t>(w.sensors)));
    for (int i = 0; i < cycles; ++i) {
        const auto r = MakeCycle(w, i);
        const double key = static_cast<double>(veldra::views::to_time_ms(r.utc));
        for (std::size_t q = 0; q < veldra::core::kQuantityCount; ++q) {
            for (int s = 0; s < w.sensors; ++s) {
                const auto& res = r.sensors[static_cast<std::size_t>(s)].queries[q];
                if (res.value) {
                    points[q][static_cast<std::size_t>(s)].append(QPointF(key, *res.value));
                }
            }
        }
    }
    for (std::size_t q = 0; q < veldra::core::kQuantityCount; ++q) {
        for (int s = 0; s < w.sensors; ++s) {
            series[q][static_cast<std::size_t>(s)]->replace(points[q][static_cast<std::size_t>(s)]);
        }
        charts[q]->axes(Qt::Horizontal)[0]->setRange(
            QDateTime::fromMSecsSinceEpoch(veldra::views::to_time_ms(kStart)),
            QDateTime::fromMSecsSinceEpoch(veldra::views::to_time_ms(kStart) +
                                           w.days * 86400000LL));
        charts[q]->axes(Qt::Vertical)[0]->setRange(0, 25000);
    }
    points.clear();
    QImage image(window.size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> full;
    for (int f = 0; f < frames; ++f) {
        full.push_back(Ms([&] {
            for (QChart* c : charts) {
                c->update();
            }
            window.render(&image);
        }));
    }
    std::vector<double> appendUs;
    for (int i = cycles; i < cycles + 20; ++i) {
        const auto r = MakeCycle(w, i);
        const double key = static_cast<double>(veldra::views::to_time_ms(r.utc));
        appendUs.push_back(1000.0 * Ms([&] {
                               for (std::size_t q = 0; q < veldra::core::kQuantityCount; ++q) {
                                   for (int s = 0; s < w.sensors; ++s) {
                                       const auto& res =
                                           r.sensors[static_cast<std::size_t>(s)].queries[q];
                                       series[q][static_cast<std::size_t>(s)]->append(
                                           key, res.value ? *res.value : 0.0);
                                   }
                               }
                               QCoreApplication::processEvents();
                           }));
    }
    const double rssFull = ResidentMb();
    if (png != nullptr) {
        window.grab().save(QString::fromLocal8Bit(png));
    }

    // (b) Our history thins; the series get only what fits the width.
    veldra::views::HistoryStore store;
    for (int i = 0; i < cycles; ++i) {
        store.append(MakeCycle(w, i));
    }
    const auto span = *store.time_span();
    std::vector<double> fed;
    for (int f = 0; f < frames; ++f) {
        fed.push_back(Ms([&] {
            for (std::size_t q = 0; q < veldra::core::kQuantityCount; ++q) {
                const int columns = static_cast<int>(charts[q]->plotArea().width());
                for (int s = 0; s < w.sensors; ++s) {
                    QList<QPointF> data;
                    for (const auto& p :
                         store.query({0x0a0000 + s, static_cast<veldra::core::Quantity>(q)},
                                     span.first, span.last, columns)) {
                        if (p.has_value()) {
                            data.append(QPointF(static_cast<double>(p.time), p.min));
                            data.append(QPointF(static_cast<double>(p.time) + 1, p.max));
                        }
                    }
                    series[q][static_cast<std::size_t>(s)]->replace(data);
                }
            }
            QCoreApplication::processEvents();
            window.render(&image);
        }));
    }
    std::printf("Qt Charts %s, %d points per curve, 40 curves, 1280x900\n", QT_VERSION_STR, cycles);
    std::printf(
        "(a) series hold every point: frame median %.1f ms p99 %.1f ms; add one cycle: median %.0f "
        "us p99 %.0f us; resident %.1f MB (%.1f before)\n",
        Percentile(full, 0.5), Percentile(full, 0.99), Percentile(appendUs, 0.5),
        Percentile(appendUs, 0.99), rssFull, rssStart);
    std::printf(
        "(b) fed our columns each frame: frame median %.1f ms p99 %.1f ms; resident %.1f MB, peak "
        "%.1f MB\n",
        Percentile(fed, 0.5), Percentile(fed, 0.99), ResidentMb(), PeakResidentMb());
    return 0;
}
