// The Qt front-end: runs the facade's event loop on QApplication, and turns model changes into
// one coalesced refresh of the windows on the GUI thread.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <clocale>
#include <map>
#include <memory>

#include "panel_window.h"
#include "platform/detail/frontend.h"
#include "platform/qt_frontend.h"
#include "popups.h"
#include "window_state.h"

namespace veldra::ui::qt {

namespace {

class QtFrontEnd final : public FrontEnd {
  public:
    QtFrontEnd() : anchor_(std::make_unique<QObject>()) {}
    ~QtFrontEnd() override { windows_.clear(); }

    void modelChanged() override {
        // Any number of changes between two refreshes cost one posted event.
        if (!refreshPending_.exchange(true)) {
            QMetaObject::invokeMethod(
                anchor_.get(), [this] { refresh(); }, Qt::QueuedConnection);
        }
    }

    bool isGuiThread() const override { return QThread::currentThread() == anchor_->thread(); }

    int runLoop() override {
        refresh();
        int code = 0;
        if (!quitRequested_.exchange(false)) {
            code = QApplication::exec();
        }
        quitRequested_ = false;
        return code != 0 ? code : quitCode_.load();
    }

    void quitLoop(int code) override {
        quitCode_ = code;
        quitRequested_ = true;
        QMetaObject::invokeMethod(
            anchor_.get(),
            [this] {
                if (quitRequested_.exchange(false)) {
                    QCoreApplication::exit(quitCode_);
                }
            },
            Qt::QueuedConnection);
    }

    void post(std::function<void()> work) override {
        QMetaObject::invokeMethod(anchor_.get(), std::move(work), Qt::QueuedConnection);
    }

    void processEvents() override {
        refresh();
        QCoreApplication::processEvents();
    }

    void delay(double seconds) override {
        // The windows keep painting; user input waits, so no callback runs inside the delay.
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(seconds * 1000.0), &loop, &QEventLoop::quit);
        refresh();
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }

    PopupResponder& popups() override { return popups_; }

    void refresh() {
        refreshPending_ = false;
        // Windows need a QApplication; a console-only QCoreApplication keeps the model headless.
        if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
            return;
        }
        const std::vector<PanelView> views = CollectViewUpdates();
        std::map<int, std::unique_ptr<PanelWindow>> kept;
        for (const PanelView& v : views) {
            auto it = windows_.find(v.handle);
            std::unique_ptr<PanelWindow> window;
            if (it != windows_.end()) {
                window = std::move(it->second);
                windows_.erase(it);
            } else {
                window = std::make_unique<PanelWindow>(v.handle, v.style);
            }
            window->apply(v);
            kept.emplace(v.handle, std::move(window));
        }
        windows_.swap(kept);  // windows of discarded panels go with `kept`
    }

    PanelWindow* window(int handle) {
        const auto it = windows_.find(handle);
        return it == windows_.end() ? nullptr : it->second.get();
    }

  private:
    std::unique_ptr<QObject> anchor_;
    std::atomic<bool> refreshPending_{false};
    std::atomic<bool> quitRequested_{false};
    std::atomic<int> quitCode_{0};
    std::map<int, std::unique_ptr<PanelWindow>> windows_;
    QtPopups popups_;
};

std::unique_ptr<QtFrontEnd>& Instance() {
    static std::unique_ptr<QtFrontEnd> instance;
    return instance;
}

}  // namespace

}  // namespace veldra::ui::qt

int AddQtPageBesideTextBox(int panel, int control, const std::string& title,
                           std::unique_ptr<QWidget> page, const std::string& textBoxTitle) {
    auto& instance = veldra::ui::qt::Instance();
    if (!instance) {
        return UIE_NOT_INITIALISED;
    }
    // Windows and their controls come into being at a refresh.
    instance->refresh();
    veldra::ui::qt::PanelWindow* window = instance->window(panel);
    if (window == nullptr) {
        return UIE_BAD_HANDLE;
    }
    return window->addPage(control, QString::fromStdString(title), std::move(page),
                           QString::fromStdString(textBoxTitle));
}

void SetQtWindowStateFile(const std::string& path) {
    veldra::ui::qt::SetWindowStateFile(QString::fromStdString(path));
}

QWidget* QtWindowForTesting(int panel) {
    auto& instance = veldra::ui::qt::Instance();
    return instance ? instance->window(panel) : nullptr;
}

void QtRefreshForTesting() {
    if (auto& instance = veldra::ui::qt::Instance()) {
        instance->refresh();
    }
}

void AttachQtFrontEnd() {
    auto& instance = veldra::ui::qt::Instance();
    if (instance || QCoreApplication::instance() == nullptr) {
        return;
    }
    // The application has just set the C library's locale from the environment; numbers
    // that the program formats must not follow it (a decimal comma in some languages). This
    // runs before any worker thread formats anything.
    std::setlocale(LC_NUMERIC, "C");
    // Beside settings.txt, which the program reads and writes by bare name here too.
    veldra::ui::qt::ChooseDefaultWindowStateFile(
        QDir::current().absoluteFilePath(QStringLiteral("window.ini")));
    instance = std::make_unique<veldra::ui::qt::QtFrontEnd>();
    veldra::ui::AttachFrontEnd(instance.get());
    // Windows must go while the application still exists.
    qAddPostRoutine(DetachQtFrontEnd);
}

void DetachQtFrontEnd() {
    auto& instance = veldra::ui::qt::Instance();
    if (!instance) {
        return;
    }
    veldra::ui::AttachFrontEnd(nullptr);
    instance.reset();
}
