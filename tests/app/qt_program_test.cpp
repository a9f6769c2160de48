// The program with its real Qt windows on the offscreen platform, with the pages and the
// dialog its process entry adds: a click on Quit ends the event loop and writes the settings;
// resizing the main window lays out the real widgets, tabs and all; the plot and health pages
// show a session; the Options dialog refuses a bad value with its reason and saves good ones.
#include <sys/stat.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include <nlohmann/json.hpp>

#include "app_fixture.h"
#include "asynctimer/asynctimer.h"
#include "logging/logging.h"
#include "options/options.h"
#include "platform/qt_frontend.h"
#include "qt_window_extras.h"
#include "views/curve_palette.h"

namespace veldra_test {
namespace {

class QtProgramTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        // The window's place goes to this test's folder, not to wherever the tests started.
        SetQtWindowStateFile((dir_ / "window.ini").string());
    }
    void TearDown() override {
        if (measurement_timer > 0) {
            DiscardAsyncTimer(measurement_timer);
        }
        measurement_timer = 0;
        AppTest::TearDown();
    }

    // Runs the program; once its main window shows, `scenario` runs inside the event loop and
    // must end it. A watchdog ends a scenario that fails to, so a fault never hangs the suite.
    int RunProgram(const std::function<void(QWidget&)>& scenario) {
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            // The main window shows only once start-up is through and the loop runs.
            QWidget* window = main_panel > 0 ? QtWindowForTesting(main_panel) : nullptr;
            if (window == nullptr || !window->isVisible()) {
                return;
            }
            poll.stop();
            scenario(*window);
        });
        poll.start();
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            timedOut_ = true;
            QuitUserInterface(0);
        });
        watchdog.start(60'000);
        char name[] = "veldra-logger";
        char* argv[] = {name, nullptr};
        return veldra_main(1, argv);
    }

    template <typename W>
    static W* Control(QWidget& window, int id) {
        return window.findChild<W*>(QStringLiteral("control_%1").arg(id));
    }

    bool timedOut_ = false;
};

TEST_F(QtProgramTest, AClickOnQuitEndsTheLoopAndWritesTheSettings) {
    bool clicked = false;
    const int result = RunProgram([&](QWidget& window) {
        // A change made in the window must reach the settings file.
        InsertListItem(main_panel, sensor_list, -1, sensor_label(0x00C0DE), 0x00C0DE);
        QtRefreshForTesting();
        auto* quit = Control<QPushButton>(window, MAIN_QUIT);
        ASSERT_NE(quit, nullptr);
        QTest::mouseClick(quit, Qt::LeftButton);
        clicked = true;
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(clicked);
    EXPECT_FALSE(timedOut_) << "the click on Quit did not end the event loop";
    ASSERT_TRUE(std::filesystem::exists(dir_ / kSettingsFileName));

    LoadPanels();
    ASSERT_EQ(RecallPanelState(main_panel, kSettingsFileName, 1), 0);
    const auto items = ListItems();
    ASSERT_FALSE(items.empty());
    EXPECT_EQ(items.back(), (Item{"Adr. 00C0DE", 0x00C0DE}));
}

TEST_F(QtProgramTest, ResizingTheWindowLaysOutTheWidgets) {
    struct Seen {
        int width = 0, height = 0;
        std::map<int, QRect> widgets;
        std::map<int, ControlRect> model;
    };
    std::vector<Seen> seen;
    const int result = RunProgram([&](QWidget& window) {
        for (const QSize size : {QSize(1280, 900), QSize(800, 600), QSize(1013, 707)}) {
            window.resize(size);
            // Wait until the model has the new size, the layout ran and the widgets follow.
            const bool settled = QTest::qWaitFor(
                [&] {
                    int w = 0, h = 0;
                    GetPanelAttribute(main_panel, ATTR_WIDTH, w);
                    GetPanelAttribute(main_panel, ATTR_HEIGHT, h);
                    QtRefreshForTesting();
                    auto* view = Control<QWidget>(window, log_view);
                    return w == size.width() && h == size.height() && view != nullptr &&
                           view->width() == w - 313 && view->height() == h - 130;
                },
                10'000);
            EXPECT_TRUE(settled) << size.width() << "x" << size.height();
            QTest::qWait(400);  // past the end-of-drag event
            QtRefreshForTesting();
            Seen s;
            GetPanelAttribute(main_panel, ATTR_WIDTH, s.width);
            GetPanelAttribute(main_panel, ATTR_HEIGHT, s.height);
            for (int id = 1; id < 64; ++id) {
                if (auto* w = Control<QWidget>(window, id)) {
                    s.widgets[id] = w->geometry();
                    s.model[id] = ControlGeometry(main_panel, id);
                }
            }
            seen.push_back(s);
        }
        SimulateCommit(main_panel, MAIN_QUIT);
    });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(timedOut_);
    ASSERT_EQ(seen.size(), 3u);
    for (const Seen& s : seen) {
        SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height));
        const int W = s.width;
        const int H = s.height;
        // Widgets show exactly the model's geometry.
        for (const auto& [id, rect] : s.widgets) {
            SCOPED_TRACE(id);
            const ControlRect& m = s.model.at(id);
            EXPECT_EQ(rect, QRect(m.left, m.top, m.width, m.height));
        }
        const auto at = [&](int id) { return s.widgets.at(id); };
        EXPECT_EQ(at(log_view_frame).width(), W - 293);
        EXPECT_EQ(at(log_view).width(), W - 313);
        EXPECT_EQ(at(bottom_frame).width(), W - 13);
        EXPECT_EQ(at(logfile_frame).width(), W - 68);
        EXPECT_EQ(at(status_frame).width(), W - 68);
        EXPECT_EQ(at(bottom_frame).y(), H - 76);
        EXPECT_EQ(at(logfile_frame).y(), H - 68);
        EXPECT_EQ(at(status_frame).y(), H - 38);
        EXPECT_EQ(at(logfile_field).y(), H - 63);
        EXPECT_EQ(at(status_line).y(), H - 32);
        EXPECT_EQ(at(log_view_frame).height(), H - 100);
        EXPECT_EQ(at(sensor_list_frame).height(), H - 100);
        EXPECT_EQ(at(column_frame).height(), H - 520);
        EXPECT_EQ(at(sensor_list).height(), H - 130);
        EXPECT_EQ(at(log_view).height(), H - 130);
        // Everything stays inside the window.
        for (const auto& [id, rect] : s.widgets) {
            EXPECT_LE(rect.right(), W - 1) << id;
            EXPECT_LE(rect.bottom(), H - 1) << id;
        }
    }
}

TEST_F(QtProgramTest, ThePlotAndHealthPagesShowTheSessionBesideTheTable) {
    constexpr int kPort = 14;
    const auto sim = SimulatedBus(kPort, {0x0A1B2C});
    QStringList tabs;
    QString state;
    bool plotListsSensor = false;
    const int result = RunProgram([&](QWidget& window) {
        auto* area = Control<QTabWidget>(window, log_view);
        ASSERT_NE(area, nullptr);
        for (int i = 0; i < area->count(); ++i) {
            tabs << area->tabText(i).remove(QLatin1Char('&'));  // the Alt+key marks
        }
        ClearSensorList();
        InsertListItem(main_panel, sensor_list, -1, sensor_label(0x0A1B2C), 0x0A1B2C);
        SetCtrlVal(main_panel, comport_field, kPort);
        SetCtrlVal(main_panel, interval_field, 3);
        SetCtrlVal(main_panel, logfile_field, (dir_ / "field.txt").string());
        SimulateCommit(main_panel, start_stop_button);
        area->setCurrentIndex(2);
        auto* table = window.findChild<QTableView*>(QStringLiteral("health_table"));
        ASSERT_NE(table, nullptr);
        // The first cycle runs at once; the page follows without anyone asking it to.
        (void)QTest::qWaitFor(
            [&] {
                const QAbstractItemModel* rows = table->model();
                if (rows->rowCount() == 1) {
                    state = rows->index(0, 1).data().toString();
                }
                return state == QStringLiteral("answering");
            },
            20'000);
        auto* plot = window.findChild<QWidget*>(QStringLiteral("plot_page"));
        ASSERT_NE(plot, nullptr);
        area->setCurrentWidget(plot);
        plotListsSensor = QTest::qWaitFor(
            [&] { return plot->findChild<QWidget*>(QStringLiteral("legend_0a1b2c")) != nullptr; },
            10'000);
        SimulateCommit(main_panel, MAIN_QUIT);
    });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(timedOut_);
    EXPECT_EQ(tabs, (QStringList{"Table", "Plot", "Health"}));
    EXPECT_EQ(state, QStringLiteral("answering"));
    EXPECT_TRUE(plotListsSensor);
}

TEST_F(QtProgramTest, TheOptionsDialogRefusesABadValueWithItsReasonAndSavesGoodOnes) {
    const std::filesystem::path file = dir_ / veldra::options::kOptionsFileName;
    std::ofstream(file) << R"({"rotation": {"mode": "size", "size_mb": 20}, "site-note": "x"})";
    QString shownMode, refusal;
    bool stayedOpen = false;
    const int result = RunProgram([&](QWidget& window) {
        // The dialog is modal: it is worked from a timer while the command's call waits in it.
        QTimer::singleShot(0, [&] {
            (void)QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; },
                                  10'000);
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            const auto field = [&](const char* key) {
                return dialog->findChild<QWidget*>(QString::fromLatin1(key));
            };
            shownMode = qobject_cast<QComboBox*>(field("rotation.mode"))->currentText();
            auto* site = qobject_cast<QLineEdit*>(field("mqtt.site"));
            site->setText(QStringLiteral("north/field"));
            qobject_cast<QLineEdit*>(field("mqtt.username"))->setText(QStringLiteral("logger"));
            qobject_cast<QLineEdit*>(field("mqtt.password"))->setText(QStringLiteral("secret"));
            dialog->accept();
            stayedOpen = dialog->isVisible();
            refusal = dialog->findChild<QLabel*>(QStringLiteral("options_error"))->text();
            site->setText(QStringLiteral("north-field"));
            dialog->accept();
        });
        QTest::mouseClick(Control<QPushButton>(window, MAIN_OPTIONS), Qt::LeftButton);
        SimulateCommit(main_panel, MAIN_QUIT);
    });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(timedOut_);
    EXPECT_TRUE(shownMode.contains(QStringLiteral("size"))) << shownMode.toStdString();
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(refusal.contains(QStringLiteral("mqtt.site"))) << refusal.toStdString();
    std::ifstream in(file);
    const auto saved = nlohmann::json::parse(in);
    EXPECT_EQ(saved["mqtt"]["site"], "north-field");
    EXPECT_EQ(saved["rotation"]["size_mb"], 20);
    EXPECT_EQ(saved["site-note"], "x");
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(QtProgramTest, TheErrorLineStaysReadableOnALightAndADarkPalette) {
    const QPalette before = QApplication::palette();
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        QPalette palette = before;
        if (dark) {
            palette.setColor(QPalette::Window, QColor(0x2d, 0x2d, 0x30));
            palette.setColor(QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6));
        }
        QApplication::setPalette(palette);
        double contrast = 0.0;
        RunProgram([&](QWidget& window) {
            auto* line = Control<QLabel>(window, log_error_line);
            ASSERT_NE(line, nullptr);
            contrast = veldra::views::contrastRatio(line->palette().color(QPalette::WindowText),
                                                    line->palette().color(QPalette::Window));
            SimulateCommit(main_panel, MAIN_QUIT);
        });
        EXPECT_GE(contrast, 4.5);
        // Ready for the next run: the program's panels are loaded afresh.
        ResetUiForTesting();
        ASSERT_NE(InitRunTime(callback_names()), 0);
        SetDelayScaleForTesting(0.0);
    }
    QApplication::setPalette(before);
}

}  // namespace
}  // namespace veldra_test

// The Qt libraries are not built with ThreadSanitizer; what they hand between their own
// threads looks like a race to it (see tests/platform/test_qt_frontend.cpp).
extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt6Core.so.6\nrace:libQt6Gui.so.6\nrace:libQt6Widgets.so.6\n";
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Also when listed at build time, outside CTest's environment: never look for a display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    // As the program's own entry does: the plot and health pages and the Options dialog.
    InstallQtWindowExtras();
    return RUN_ALL_TESTS();
}
