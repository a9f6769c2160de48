// The program with its real Qt windows on the offscreen platform: a click on Quit ends the
// event loop and writes the settings, and resizing the main window lays out the real widgets.
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "app_fixture.h"
#include "asynctimer/asynctimer.h"
#include "logging/logging.h"
#include "platform/qt_frontend.h"

namespace veldra_test {
namespace {

class QtProgramTest : public AppTest {
  protected:
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

}  // namespace
}  // namespace veldra_test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Also when listed at build time, outside CTest's environment: never look for a display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
