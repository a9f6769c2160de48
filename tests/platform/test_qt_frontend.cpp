// The Qt front-end (offscreen): widgets follow the model, a click runs the bound callback, a
// resize lays the panel out and the widgets land where the model says, and a worker's many
// appends reach the log view without flooding the GUI thread.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "app/panel_ids.h"
#include "fixture.h"
#include "platform/qt_frontend.h"
#include "popups.h"

namespace {

using fixture::PanelTest;

int layoutPanel = 0;

// The main panel's resize rule, enough of it to see widgets move.
int LayOut(int, int event, void*, int, int) {
    fixture::calls.panelEvents.push_back(event);
    int w = 0, h = 0;
    GetPanelAttribute(layoutPanel, ATTR_WIDTH, w);
    GetPanelAttribute(layoutPanel, ATTR_HEIGHT, h);
    SetCtrlAttribute(layoutPanel, log_view, ATTR_WIDTH, w - 313);
    SetCtrlAttribute(layoutPanel, log_view, ATTR_HEIGHT, h - 130);
    SetCtrlAttribute(layoutPanel, status_line, ATTR_TOP, h - 32);
    return 0;
}

class QtTest : public PanelTest {
  protected:
    void SetUp() override {
        ResetUiForTesting();
        auto names = fixture::Names();
        names.back().panel = LayOut;  // mainpanel_callback
        ASSERT_NE(InitRunTime(names), 0);
        mainPanel = LoadPanel(0, fixture::kPanelFile, 2);
        ASSERT_GT(mainPanel, 0) << LastPanelFileError();
        layoutPanel = mainPanel;
        fixture::calls.commits = 0;
        fixture::calls.panelEvents.clear();
        DisplayPanel(mainPanel);
        QtRefreshForTesting();
        window = QtWindowForTesting(mainPanel);
        ASSERT_NE(window, nullptr);
    }
    template <typename W>
    W* Widget(int id) {
        return window->findChild<W*>(QStringLiteral("control_%1").arg(id));
    }
    QWidget* window = nullptr;
};

TEST_F(QtTest, ClickDispatchesTheCallbackAndDimmingDisables) {
    EXPECT_TRUE(window->isVisible());
    auto* start = Widget<QPushButton>(start_stop_button);
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(start->text(), QStringLiteral("Start Logging"));
    QTest::mouseClick(start, Qt::LeftButton);
    EXPECT_EQ(fixture::calls.commits, 1);
    EXPECT_EQ(fixture::calls.lastControl, start_stop_button);

    SetCtrlAttribute(mainPanel, start_stop_button, ATTR_LABEL_TEXT, "Stop Logging");
    SetCtrlAttribute(mainPanel, MAIN_ADD_SENSOR, ATTR_DIMMED, 1);
    QtRefreshForTesting();
    EXPECT_EQ(start->text(), QStringLiteral("Stop Logging"));
    auto* add = Widget<QPushButton>(MAIN_ADD_SENSOR);
    EXPECT_FALSE(add->isEnabled());
    QTest::mouseClick(add, Qt::LeftButton);
    EXPECT_EQ(fixture::calls.commits, 1);  // a dimmed command does nothing
}

TEST_F(QtTest, ResizePlacesWidgetsWhereTheModelSays) {
    window->resize(1280, 900);
    QCoreApplication::processEvents();
    int w = 0, h = 0;
    GetPanelAttribute(mainPanel, ATTR_WIDTH, w);
    GetPanelAttribute(mainPanel, ATTR_HEIGHT, h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 900);
    ASSERT_FALSE(fixture::calls.panelEvents.empty());
    EXPECT_EQ(fixture::calls.panelEvents.front(), EVENT_PANEL_SIZING);
    QtRefreshForTesting();
    for (const int id : {log_view, status_line, sensor_list}) {
        const ControlRect r = ControlGeometry(mainPanel, id);
        const QRect g =
            window->findChild<QWidget*>(QStringLiteral("control_%1").arg(id))->geometry();
        EXPECT_EQ(g, QRect(r.left, r.top, r.width, r.height)) << id;
    }
    EXPECT_EQ(ControlGeometry(mainPanel, log_view).width, 1280 - 313);
    EXPECT_EQ(ControlGeometry(mainPanel, status_line).top, 900 - 32);
    // The drag has settled: "resized" follows.
    QTest::qWait(400);
    EXPECT_EQ(fixture::calls.panelEvents.back(), EVENT_PANEL_RESIZED);
}

TEST_F(QtTest, UserInputReachesTheModel) {
    InsertListItem(mainPanel, sensor_list, -1, "Adr. 00ABCD", 0xABCD);
    InsertListItem(mainPanel, sensor_list, -1, "Adr. 123456", 0x123456);
    QtRefreshForTesting();
    auto* list = Widget<QListWidget>(sensor_list);
    ASSERT_EQ(list->count(), 2);
    list->setCurrentRow(1);
    int index = -1;
    GetCtrlIndex(mainPanel, sensor_list, index);
    EXPECT_EQ(index, 1);

    auto* interval = window->findChild<QWidget*>(QStringLiteral("control_%1").arg(interval_field));
    auto* edit = interval->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    edit->selectAll();
    QTest::keyClicks(edit, "25");
    QTest::keyClick(edit, Qt::Key_Return);
    int value = 0;
    GetCtrlVal(mainPanel, interval_field, value);
    EXPECT_EQ(value, 25);
    QTest::keyClick(edit, Qt::Key_Up);
    GetCtrlVal(mainPanel, interval_field, value);
    EXPECT_EQ(value, 26);
}

TEST_F(QtTest, CloseBoxCommitsTheQuitCommand) {
    window->close();
    EXPECT_EQ(fixture::calls.commits, 1);
    EXPECT_EQ(fixture::calls.lastControl, MAIN_QUIT);
    EXPECT_TRUE(window->isVisible());  // quitting is the callback's business
}

TEST_F(QtTest, WorkerAppendsArriveWholeAndCoalesced) {
    constexpr int kLines = 10000;
    std::thread worker([this] {
        for (int i = 0; i < kLines; ++i) {
            SetCtrlVal(mainPanel, log_view, "line " + std::to_string(i));
            SetCtrlVal(mainPanel, log_view, "\n");
            SetCtrlVal(mainPanel, status_line, "cycle " + std::to_string(i));
        }
    });
    worker.join();
    QtRefreshForTesting();
    auto* view = Widget<QPlainTextEdit>(log_view);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->document()->blockCount(), kLines + 1);  // the last, empty block after "\n"
    EXPECT_EQ(view->document()->findBlockByNumber(kLines - 1).text(),
              QStringLiteral("line %1").arg(kLines - 1));
    EXPECT_EQ(Widget<QLineEdit>(status_line)->text(), QStringLiteral("cycle %1").arg(kLines - 1));

    DeleteTextBoxLines(mainPanel, log_view, 0, 9000);
    QtRefreshForTesting();
    EXPECT_EQ(view->document()->findBlockByNumber(0).text(), QStringLiteral("line 9000"));
}

// The program's situation: the Qt loop runs, the user edits the list, a worker logs.
TEST_F(QtTest, WorkerLogsWhileTheQtLoopRunsAndTheListIsEdited) {
    constexpr int kCycles = 300;
    std::atomic<int> torn{0};
    QTimer editor;
    std::atomic<int> added{0};
    int cycles = 0;
    QObject::connect(&editor, &QTimer::timeout, [&] {
        int count = 0;
        GetNumListItems(mainPanel, sensor_list, count);
        if (count >= 5) {
            DeleteListItem(mainPanel, sensor_list, 0, 1);
        } else {
            InsertListItem(mainPanel, sensor_list, -1, "Adr.", ++added);
        }
    });
    editor.start(1);
    const auto cycle = [&] {
        // Long enough for the user's edits to interleave with the cycles.
        for (; cycles < kCycles || (added < 20 && cycles < 100 * kCycles); ++cycles) {
            torn += fixture::LogOneCycle(mainPanel, std::to_string(cycles) + ";") ? 0 : 1;
            ProcessSystemEvents();
            // A real cycle waits on the serial line between its calls.
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        QuitUserInterface(0);
    };
    // The worker starts once the loop runs, as the measurement timer does.
    std::thread worker;
    QTimer::singleShot(0, [&] { worker = std::thread(cycle); });
    EXPECT_EQ(RunUserInterface(), 0);
    worker.join();
    editor.stop();
    EXPECT_EQ(torn, 0);
    QtRefreshForTesting();
    auto* view = Widget<QPlainTextEdit>(log_view);
    EXPECT_EQ(view->document()->blockCount(), cycles + 1);
    EXPECT_GE(added, 20);
}

TEST(QtPopups, RestrictedExtensionIsCompletedOrRefused) {
    FileSelectRequest set;
    set.defaultFileSpec = "*.set";
    set.restrictExtension = 1;
    FileSelectRequest free = set;
    free.restrictExtension = 0;
    struct Case {
        const FileSelectRequest* request;
        std::string typed, expected;
        bool accepted;
    };
    const Case cases[] = {
        {&set, "/home/u/config", "/home/u/config.set", true},
        {&set, "/home/u/config.set", "/home/u/config.set", true},
        {&set, "/home/u/CONFIG.SET", "/home/u/CONFIG.SET", true},
        {&set, "/home/u.d/config", "/home/u.d/config.set", true},
        {&set, "/home/u/config.txt", "/home/u/config.txt", false},
        {&free, "/home/u/log.txt", "/home/u/log.txt", true},
    };
    for (const Case& c : cases) {
        std::string name = c.typed;
        EXPECT_EQ(veldra::ui::qt::CompleteExtension(*c.request, name), c.accepted) << c.typed;
        EXPECT_EQ(name, c.expected);
    }
}

// Answers the next file dialog with a typed name.
void AnswerFileDialog(const QString& name) {
    QTimer::singleShot(0, [name] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Please select path and file..."));
        dialog->selectFile(name);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

TEST(QtPopups, FileDialogTellsNewFromExistingFilesAndCompletesTheExtension) {
    ResetUiForTesting();
    fixture::TempDir dir;
    std::ofstream(dir.file("old.set")) << "x";
    std::string path;
    AnswerFileDialog(QString::fromStdString(dir.file("new")));
    EXPECT_EQ(FileSelectPopup("", "*.set", "*.set", "Please select path and file...", 0, 0, 1, 1, 1,
                              path),
              VAL_NEW_FILE_SELECTED);
    EXPECT_EQ(path, dir.file("new.set"));
    AnswerFileDialog(QString::fromStdString(dir.file("old.set")));
    EXPECT_EQ(FileSelectPopup("", "*.set", "*.set", "Please select path and file...", 0, 0, 1, 1, 1,
                              path),
              VAL_EXISTING_FILE_SELECTED);
    EXPECT_EQ(path, dir.file("old.set"));

    // From another thread the dialog is refused rather than waited for.
    int result = 0;
    std::thread([&] {
        std::string p;
        result = FileSelectPopup("", "*.set", "*.set", "t", 0, 0, 1, 1, 1, p);
    }).join();
    EXPECT_LT(result, 0);
}

}  // namespace

// The Qt libraries are not built with ThreadSanitizer and synchronise through primitives it
// cannot see (their thread pool, the file dialog's file-system model), so what they hand between
// their own threads looks like a race. The facade's locking is checked without suppressions by
// test_platform_threads.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt6Core.so.6\nrace:libQt6Gui.so.6\nrace:libQt6Widgets.so.6\n";
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // No display is needed, also when CTest lists the tests.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);  // attaches the front-end
    return RUN_ALL_TESTS();
}
