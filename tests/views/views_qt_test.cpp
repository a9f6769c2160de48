// The Qt views with real widgets (offscreen): the plot view draws a failed query as a gap and a
// click on the legend hides a sensor's curves; the pointer shows the value under it; zoom and
// reset; PNG export; curve colours that hold on light and dark backgrounds; the health view's
// rows; and a feeding thread whose many records cost one paced redraw.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <atomic>
#include <limits>
#include <thread>

#include "axis_ticks.h"
#include "chart_pane.h"
#include "curve_raster.h"
#include "record_builder.h"
#include "views/curve_palette.h"
#include "views/health_view.h"
#include "views/plot_view.h"
#include "views/view_feed.h"

namespace views_test {
namespace {

using veldra::core::Quantity;
using veldra::views::HealthModel;
using veldra::views::HistoryStore;
using veldra::views::PlotPoint;
using veldra::views::PlotView;
using veldra::views::to_time_ms;

constexpr int kGood = 0x0a1b2c, kOther = 0x00fe01;
constexpr int kSamples = 200, kFailed = 100;

// Ten minutes at 3 s: the first sensor steady at 50 but for one failed query, the second at 10.
void FillSession(HistoryStore& store) {
    for (int i = 0; i < kSamples; ++i) {
        const QueryResult a = i == kFailed ? Failure(QueryStatus::NoReply) : Answer(50.0);
        store.append(
            Cycle(i + 1, kStart + i * 3s, {Reading(kGood, a), Reading(kOther, Answer(10.0))}));
    }
}

class PlotViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FillSession(store);
        view = std::make_unique<PlotView>(store);
        view->resize(1280, 900);
        view->setFollowMinutes(15);
        view->show();
        view->refresh();
        QCoreApplication::processEvents();
    }
    veldra::views::detail::ChartPane* Temperature() { return view->chart(Quantity::Temperature); }
    double XOf(int sample) {
        const auto r = view->timeRange();
        const QRect area = Temperature()->plotArea();
        return area.left() + static_cast<double>(to_time_ms(kStart + sample * 3s) - r.from) *
                                 area.width() / static_cast<double>(r.to - r.from);
    }
    HistoryStore store;
    std::unique_ptr<PlotView> view;
};

bool NearColour(QRgb pixel, const QColor& c) {
    return std::abs(qRed(pixel) - c.red()) < 40 && std::abs(qGreen(pixel) - c.green()) < 40 &&
           std::abs(qBlue(pixel) - c.blue()) < 40;
}

// How many pixels of the colour lie in a column band of the chart, above the failure marks.
int PixelsOfColour(const QImage& image, const QRect& area, int x0, int x1, const QColor& c) {
    int n = 0;
    for (int x = x0; x <= x1; ++x) {
        for (int y = area.top() + 1; y < area.bottom() - 8; ++y) {
            n += NearColour(image.pixel(x, y), c) ? 1 : 0;
        }
    }
    return n;
}

TEST_F(PlotViewTest, AFailedQueryIsAGapAndTheLegendHidesAndShowsACurve) {
    const QImage image = Temperature()->grab().toImage();
    const auto* curve = Temperature()->drawnCurve(kGood);
    ASSERT_NE(curve, nullptr);
    const auto failed =
        std::find_if(curve->begin(), curve->end(), [](const PlotPoint& p) { return p.broken; });
    ASSERT_NE(failed, curve->end());
    EXPECT_FALSE(failed->has_value());
    for (const PlotPoint& p : *curve) {
        EXPECT_TRUE(!p.has_value() || p.min == 50.0F);  // never a point at 0
    }
    const QRect area = Temperature()->plotArea();
    const QColor colour = veldra::views::curveColour(0);
    const int gapFrom = static_cast<int>(XOf(kFailed - 1)) + 2;
    const int gapTo = static_cast<int>(XOf(kFailed + 1)) - 2;
    ASSERT_LT(gapFrom, gapTo);
    EXPECT_EQ(PixelsOfColour(image, area, gapFrom, gapTo, colour), 0);
    EXPECT_GT(
        PixelsOfColour(image, area, static_cast<int>(XOf(50)), static_cast<int>(XOf(52)), colour),
        0);

    QToolButton* entry = view->legendEntry(kOther);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->text(), QStringLiteral("00fe01"));
    QTest::mouseClick(entry, Qt::LeftButton);
    EXPECT_FALSE(view->sensorShown(kOther));
    Temperature()->grab();
    EXPECT_EQ(Temperature()->drawnCurve(kOther), nullptr);
    EXPECT_NE(Temperature()->drawnCurve(kGood), nullptr);
    QTest::mouseClick(entry, Qt::LeftButton);
    EXPECT_TRUE(view->sensorShown(kOther));
    Temperature()->grab();
    EXPECT_NE(Temperature()->drawnCurve(kOther), nullptr);
}

TEST_F(PlotViewTest, ThePointerShowsTheValuesUnderItAndTheMouseZoomsAndResets) {
    const QRect area = Temperature()->plotArea();
    QTest::mouseMove(Temperature(), QPoint(static_cast<int>(XOf(40)), area.center().y()));
    Temperature()->grab();
    EXPECT_TRUE(Temperature()->pointerText().contains(QStringLiteral("0a1b2c  50.00")))
        << Temperature()->pointerText().toStdString();
    EXPECT_TRUE(Temperature()->pointerText().contains(QStringLiteral("00fe01  10.00")));
    QTest::mouseMove(Temperature(), QPoint(static_cast<int>(XOf(kFailed)), area.center().y()));
    Temperature()->grab();
    EXPECT_TRUE(Temperature()->pointerText().contains(QStringLiteral("0a1b2c  failed")));

    const auto before = view->timeRange();
    QWheelEvent wheel(QPointF(XOf(50), area.center().y()),
                      Temperature()->mapToGlobal(QPointF(XOf(50), 10)), QPoint(), QPoint(0, 240),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Temperature(), &wheel);
    EXPECT_TRUE(view->userZoomed());
    EXPECT_LT(view->timeRange().to - view->timeRange().from, before.to - before.from);
    QTest::mouseDClick(Temperature(), Qt::LeftButton, Qt::NoModifier, area.center());
    EXPECT_FALSE(view->userZoomed());
    EXPECT_EQ(view->timeRange(), before);

    view->setFollowMinutes(0);  // the whole session
    EXPECT_EQ(view->timeRange().from, to_time_ms(kStart));
}

TEST_F(PlotViewTest, TheChartsExportAsPng) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("plot.png"));
    ASSERT_TRUE(view->exportPng(path));
    const QImage image(path);
    EXPECT_FALSE(image.isNull());
    EXPECT_GT(image.width(), 1000);
    EXPECT_FALSE(view->exportPng(dir.filePath(QStringLiteral("no/such/folder/plot.png"))));
}

TEST(CurvePalette, EveryColourStandsOutOnLightAndDarkBackgrounds) {
    const QColor backgrounds[] = {QColor(Qt::white), QColor(0x262626), QColor(0x1e1e1e),
                                  QApplication::palette().color(QPalette::Base)};
    for (int i = 0; i < veldra::views::kCurveColourCount; ++i) {
        for (const QColor& back : backgrounds) {
            EXPECT_GE(veldra::views::contrastRatio(veldra::views::curveColour(i), back), 3.0)
                << i << " on " << back.name().toStdString();
        }
        for (int j = 0; j < i; ++j) {
            const QColor a = veldra::views::curveColour(i), b = veldra::views::curveColour(j);
            const int distance = std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                                 std::abs(a.blue() - b.blue());
            EXPECT_GT(distance, 80) << i << " and " << j;
        }
    }
    EXPECT_NE(veldra::views::curveStyle(0), veldra::views::curveStyle(10));  // the 11th dashes
}

TEST(HealthView, ARowPerSensorWithItsStateInWordsAndColour) {
    HealthModel model;
    model.add(
        Cycle(1, kStart,
              {Reading(0x0a1b2c, Answer(1.0)), Reading(0x00fe01, Failure(QueryStatus::NoReply)),
               Reading(0x01a2b3, Failure(QueryStatus::Checksum))},
              30));
    veldra::views::HealthView view(model);
    view.resize(1280, 600);
    view.show();
    QTableView* table = view.table();
    ASSERT_EQ(table->model()->rowCount(), 3);
    const auto cell = [&](int row, int column, int role = Qt::DisplayRole) {
        return table->model()->index(row, column).data(role);
    };
    EXPECT_EQ(cell(0, 0).toString(), QStringLiteral("0a1b2c"));
    const QString states[] = {QStringLiteral("answering"), QStringLiteral("silent"),
                              QStringLiteral("failing")};
    std::set<QRgb> backgrounds;
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(cell(row, 1).toString(), states[row]);
        const QColor back = cell(row, 1, Qt::BackgroundRole).value<QColor>();
        const QColor text = cell(row, 1, Qt::ForegroundRole).value<QColor>();
        EXPECT_GE(veldra::views::contrastRatio(back, text), 7.0) << row;
        backgrounds.insert(back.rgb());
    }
    EXPECT_EQ(backgrounds.size(), 3u);
    // Failures by kind: the silent sensor's four no-replies, the failing one's four checksums.
    const auto column = [&](const QString& title) {
        for (int c = 0; c < table->model()->columnCount(); ++c) {
            // Headers come in two lines to fit the window.
            if (table->model()->headerData(c, Qt::Horizontal).toString().replace('\n', ' ') ==
                title) {
                return c;
            }
        }
        return -1;
    };
    EXPECT_EQ(cell(1, column(QStringLiteral("No reply"))).toInt(), 4);
    EXPECT_EQ(cell(2, column(QStringLiteral("Checksum"))).toInt(), 4);
    EXPECT_EQ(cell(0, column(QStringLiteral("Stale frame skipped"))).toInt(), 0);
    EXPECT_EQ(view.lineLabel()->text(), QStringLiteral("COM 40 = /dev/ttyUSB0: open"));
}

TEST(RedrawLink, AThreadsManyRecordsCostFewPacedRedraws) {
    HistoryStore store;
    HealthModel health;
    veldra::views::HealthView view(health);
    const auto link = view.link();
    veldra::views::ViewFeed feed(store, health, [link] { link->notify(); });
    std::thread cycle([&] {
        for (int i = 0; i < 2000; ++i) {
            feed.cycle_finished(Cycle(i + 1, kStart + i * 3s, {Reading(kGood, Answer(i))}));
        }
    });
    cycle.join();
    QTest::qWait(100);
    EXPECT_EQ(view.table()->model()->rowCount(), 1);
    EXPECT_EQ(health.snapshot().cycle.cycles, 2000u);
}

TEST(AxisTicks, AtLeastTwoRoundLinesInsideAnyRange) {
    struct Case {
        double lo, hi;
        int length;
    };
    // Narrow ranges next to a round value, where a step of half the range leaves one line.
    const Case cases[] = {{2387, 2418, 123},   {19.9, 20.6, 100}, {17.5, 18.4, 60},
                          {-0.003, 0.004, 80}, {0, 1e6, 500},     {99.99, 100.02, 90}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.lo) + " to " + std::to_string(c.hi));
        const auto ticks = veldra::views::detail::valueTicks(c.lo, c.hi, c.length, 40);
        ASSERT_GE(ticks.size(), 2u);
        for (std::size_t i = 0; i < ticks.size(); ++i) {
            EXPECT_GE(ticks[i].at, c.lo - 1e-9);
            EXPECT_LE(ticks[i].at, c.hi + 1e-9);
            if (i > 1) {  // evenly spaced
                EXPECT_NEAR(ticks[i].at - ticks[i - 1].at, ticks[1].at - ticks[0].at, 1e-9);
            }
        }
    }
}

// A value between two failed queries has no line to show it; it must still be easy to see, and
// curves keep their thickness on the screen at scale factor 2.
TEST(CurveRaster, ALoneValueIsADotAndLinesScaleWithTheScreen) {
    using veldra::views::detail::CurveRaster;
    const float none = std::numeric_limits<float>::quiet_NaN();
    const std::vector<PlotPoint> lone{
        {0, none, none, true}, {500, 5.0f, 5.0f, false}, {1000, none, none, true}};
    const std::vector<PlotPoint> flat{{0, 5.0f, 5.0f, false}, {1000, 5.0f, 5.0f, false}};
    const auto pixels = [](const std::vector<PlotPoint>& points, double dpr, int& rows) {
        CurveRaster raster(QSize(static_cast<int>(200 * dpr), static_cast<int>(100 * dpr)));
        raster.setDevicePixelRatio(dpr);
        raster.setRanges(0, 1000, 0.0, 10.0);
        raster.draw(points, 0x3484d4, false, 0);
        const QImage& image = raster.image();
        int n = 0;
        rows = 0;
        for (int y = 0; y < image.height(); ++y) {
            bool row = false;
            for (int x = 0; x < image.width(); ++x) {
                const bool set = qAlpha(image.pixel(x, y)) != 0;
                n += set ? 1 : 0;
                row = row || set;
            }
            rows += row ? 1 : 0;
        }
        return n;
    };
    int rows = 0;
    EXPECT_GE(pixels(lone, 1.0, rows), 25);  // five pixels a side at scale 1
    EXPECT_GE(rows, 5);
    EXPECT_GE(pixels(lone, 2.0, rows), 81);
    pixels(flat, 1.0, rows);
    EXPECT_EQ(rows, 1);
    pixels(flat, 2.0, rows);
    EXPECT_EQ(rows, 2) << "a line one device pixel thick at twice the scale is a hairline";
}

}  // namespace
}  // namespace views_test

// The Qt libraries are not built with ThreadSanitizer; what they hand between their own
// threads looks like a race to it (see tests/platform/test_qt_frontend.cpp).
extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt6Core.so.6\nrace:libQt6Gui.so.6\nrace:libQt6Widgets.so.6\n";
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
