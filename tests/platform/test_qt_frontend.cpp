// The Qt front-end (offscreen): widgets follow the model, a click runs the bound callback, a
// resize lays the panel out and the widgets land where the model says, a worker's many appends
// reach the log view without flooding the GUI thread, the log view shows and copies exactly the
// model's text, pages sit in tabs beside it, and the main window keeps its size and place.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "app/panel_ids.h"
#include "fixture.h"
#include "platform/qt_frontend.h"
#include "popups.h"
#include "text_table_view.h"

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
    veldra::ui::qt::TextTableView* LogView() {
        return window->findChild<veldra::ui::qt::TextTableView*>(
            QStringLiteral("control_%1_text").arg(log_view));
    }
    // What the log view paints for line i, scrolled as near to it as it goes.
    std::string ShownLine(int i) {
        auto* view = LogView();
        view->verticalScrollBar()->setValue(i);
        view->viewport()->grab();
        const auto row = static_cast<std::size_t>(i - view->firstVisibleLine());
        return row < view->paintedLines().size() ? view->paintedLines()[row] : std::string();
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
    auto* view = LogView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->lineCount(), kLines + 1);  // the last, empty line after "\n"
    EXPECT_EQ(ShownLine(kLines - 1), "line " + std::to_string(kLines - 1));
    EXPECT_EQ(Widget<QLineEdit>(status_line)->text(), QStringLiteral("cycle %1").arg(kLines - 1));

    DeleteTextBoxLines(mainPanel, log_view, 0, 9000);
    QtRefreshForTesting();
    EXPECT_EQ(view->lineCount(), 1001);
    EXPECT_EQ(ShownLine(0), "line 9000");
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
    EXPECT_EQ(LogView()->lineCount(), cycles + 1);
    EXPECT_GE(added, 20);
}

// A display table 50 sensors wide: lines of 2,722 characters.
std::string WideLine(int n) {
    std::string line = "  2026-12-10 00:00:" + std::to_string(10 + n % 50) + " ";
    for (int s = 0; s < 50; ++s) {
        line += "| " + std::to_string(10000 + n * 50 + s) +
                "  |     21.50    |      33.25    |     23.40   ";
    }
    return line;
}

TEST_F(QtTest, TheWideTableShowsAndCopiesExactlyTheModelsText) {
    std::vector<std::string> lines;
    for (int i = 0; i < 40; ++i) {
        lines.push_back(WideLine(i));
        SetCtrlVal(mainPanel, log_view, lines.back());
        SetCtrlVal(mainPanel, log_view, "\n");
    }
    lines.push_back("  2026-12-10 00:01:00 | 12345  ");  // a line being built
    SetCtrlVal(mainPanel, log_view, lines.back());
    ASSERT_EQ(lines[0].size(), 2722u);
    QtRefreshForTesting();
    auto* view = LogView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->lineCount(), 41);

    // Scrolled far to the right: each row shows exactly that stretch of the model's line.
    view->verticalScrollBar()->setValue(3);
    view->horizontalScrollBar()->setValue(view->fontMetrics().horizontalAdvance(QLatin1Char('0')) *
                                          1500);
    view->viewport()->grab();
    const auto& shown = view->paintedLines();
    ASSERT_GE(shown.size(), 10u);
    const std::size_t column = lines[3].find(shown[0]);
    EXPECT_NEAR(static_cast<double>(column), 1500.0, 2.0);
    for (std::size_t r = 0; r < shown.size() && 3 + r < lines.size(); ++r) {
        EXPECT_EQ(shown[r], lines[3 + r].substr(column, shown[r].size())) << r;
        EXPECT_LT(shown[r].size(), 400u);  // what fits, not the whole line
    }

    // Everything selected and copied is the model's text, byte for byte.
    view->setFocus();
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    std::string model;
    GetCtrlVal(mainPanel, log_view, model);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), model);

    // A stretch chosen with the mouse, from line 1 column 5 to line 2 column 30.
    view->horizontalScrollBar()->setValue(0);
    view->verticalScrollBar()->setValue(0);
    const int cw = view->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int lh = view->fontMetrics().lineSpacing();
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(4 + 5 * cw, lh + lh / 2));
    QTest::mouseMove(view->viewport(), QPoint(4 + 30 * cw, 2 * lh + lh / 2));
    QMouseEvent drag(QEvent::MouseMove, QPointF(4 + 30 * cw, 2 * lh + lh / 2),
                     view->viewport()->mapToGlobal(QPointF(4 + 30 * cw, 2 * lh + lh / 2)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &drag);
    EXPECT_EQ(view->selectedText(), lines[1].substr(5) + "\n" + lines[2].substr(0, 30));

    // The first visible line is the program's attribute both ways.
    SetCtrlAttribute(mainPanel, log_view, ATTR_FIRST_VISIBLE_LINE, 7);
    QtRefreshForTesting();
    EXPECT_EQ(view->firstVisibleLine(), 7);
    view->verticalScrollBar()->setValue(2);
    int first = -1;
    GetCtrlAttribute(mainPanel, log_view, ATTR_FIRST_VISIBLE_LINE, first);
    EXPECT_EQ(first, 2);
}

TEST_F(QtTest, PagesSitInTabsBesideTheLogViewAndFollowItsGeometry) {
    EXPECT_EQ(AddQtPageBesideTextBox(mainPanel, log_view, "Plot", std::make_unique<QLabel>("p")),
              0);
    EXPECT_EQ(AddQtPageBesideTextBox(mainPanel, log_view, "Health", std::make_unique<QLabel>("h")),
              0);
    EXPECT_EQ(AddQtPageBesideTextBox(mainPanel, status_line, "X", std::make_unique<QLabel>()),
              UIE_BAD_CONTROL);
    EXPECT_EQ(AddQtPageBesideTextBox(mainPanel + 100, log_view, "X", std::make_unique<QLabel>()),
              UIE_BAD_HANDLE);
    auto* tabs = Widget<QTabWidget>(log_view);
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("Table"));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("Plot"));
    EXPECT_EQ(tabs->tabText(2), QStringLiteral("Health"));
    EXPECT_EQ(tabs->widget(0), LogView());

    window->resize(1100, 760);
    QCoreApplication::processEvents();
    QtRefreshForTesting();
    const ControlRect r = ControlGeometry(mainPanel, log_view);
    EXPECT_EQ(r.width, 1100 - 313);
    EXPECT_EQ(tabs->geometry(), QRect(r.left, r.top, r.width, r.height));
    // The table keeps working on its tab.
    SetCtrlVal(mainPanel, log_view, "still here\n");
    QtRefreshForTesting();
    EXPECT_EQ(LogView()->lineCount(), 2);
}

TEST_F(QtTest, TheMainWindowKeepsItsSizeAndPlace) {
    fixture::TempDir dir;
    SetQtWindowStateFile(dir.file("window.ini"));
    ResetUiForTesting();
    auto names = fixture::Names();
    ASSERT_NE(InitRunTime(names), 0);
    int panel = LoadPanel(0, fixture::kPanelFile, 2);
    DisplayPanel(panel);
    QtRefreshForTesting();
    QWidget* first = QtWindowForTesting(panel);
    first->resize(1013, 707);
    first->move(120, 90);
    QTest::qWait(700);  // the place is written once it has held still
    const QPoint place = first->pos();

    ResetUiForTesting();
    QtRefreshForTesting();  // the old window goes
    ASSERT_NE(InitRunTime(names), 0);
    panel = LoadPanel(0, fixture::kPanelFile, 2);
    DisplayPanel(panel);
    QtRefreshForTesting();
    QWidget* second = QtWindowForTesting(panel);
    QCoreApplication::processEvents();
    EXPECT_EQ(second->size(), QSize(1013, 707));
    EXPECT_EQ(second->pos(), place);
    int w = 0, h = 0;
    GetPanelAttribute(panel, ATTR_WIDTH, w);
    GetPanelAttribute(panel, ATTR_HEIGHT, h);
    EXPECT_EQ(w, 1013);  // the model, and so the layout, have the restored size
    EXPECT_EQ(h, 707);
    SetQtWindowStateFile("");
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
    SetQtWindowStateFile("");      // tests that want a window file choose their own
    return RUN_ALL_TESTS();
}
