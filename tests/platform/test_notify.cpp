// The front-end is told of every change after the model's mutex is released, so it may read
// the model at once; and a detached front-end is never told again.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/panel_ids.h"
#include "fixture.h"
#include "platform/detail/frontend.h"
#include "registry.h"

namespace {

using fixture::PanelTest;
using veldra::ui::FrontEnd;
using veldra::ui::TheRegistry;

// A front-end that, on every notification, asks another thread whether the model's mutex is
// free (a thread cannot ask this of a mutex it holds itself), and reads the model.
class CheckingFrontEnd final : public FrontEnd {
  public:
    std::atomic<int> notifications{0};
    std::atomic<int> underLock{0};

    void modelChanged() override {
        ++notifications;
        bool free = false;
        std::thread probe([&free] {
            std::mutex& m = TheRegistry().mutex;
            free = m.try_lock();
            if (free) {
                m.unlock();
            }
        });
        probe.join();
        if (!free) {
            ++underLock;
        }
    }
    bool isGuiThread() const override { return false; }
    int runLoop() override { return 0; }
    void quitLoop(int) override {}
    void post(std::function<void()> work) override { work(); }
    void processEvents() override {}
    void delay(double) override {}
    PopupResponder& popups() override { return responder_; }

  private:
    struct Silent : PopupResponder {
        int message(std::string_view, std::string_view) override { return 0; }
        int fileSelect(const FileSelectRequest&, std::string&) override { return 0; }
    } responder_;
};

TEST_F(PanelTest, TheFrontEndIsToldWithTheModelUnlocked) {
    CheckingFrontEnd view;
    struct Case {
        const char* name;
        std::function<void()> change;
    };
    const std::vector<Case> cases{
        {"attach", [&] { veldra::ui::AttachFrontEnd(&view); }},
        {"a control value", [&] { SetCtrlVal(mainPanel, status_line, "Reading"); }},
        {"a text box", [&] { SetCtrlVal(mainPanel, log_view, "cell"); }},
        {"a control attribute", [&] { SetCtrlAttribute(mainPanel, 7, ATTR_DIMMED, 1); }},
        {"showing a panel", [&] { DisplayPanel(mainPanel); }},
        {"a panel's size", [&] { SetPanelAttribute(mainPanel, ATTR_WIDTH, 900); }},
        {"a panel's title", [&] { SetPanelAttribute(mainPanel, ATTR_TITLE, "Logger"); }},
        {"loading a panel", [&] { LoadPanel(0, fixture::kPanelFile, 3); }},
        {"a recalled panel state",
         [&] {
             fixture::TempDir dir;
             SavePanelState(mainPanel, dir.file("s.txt"), 1);
             RecallPanelState(mainPanel, dir.file("s.txt"), 1);
         }},
        {"a resize by the user", [&] { SimulatePanelResize(mainPanel, 1000, 700); }},
        {"discarding a panel", [&] { DiscardPanel(addressPanel); }},
        {"a reset", [&] { ResetUiForTesting(); }},
    };
    for (const Case& c : cases) {
        const int before = view.notifications;
        c.change();
        EXPECT_GT(view.notifications, before) << c.name << ": the front-end was not told";
        EXPECT_EQ(view.underLock, 0) << c.name << ": told with the model's mutex held";
    }
    veldra::ui::AttachFrontEnd(nullptr);
    const int detached = view.notifications;
    InitRunTime(fixture::Names());
    const int panel = LoadPanel(0, fixture::kPanelFile, 2);
    SetCtrlVal(panel, status_line, "after");
    EXPECT_EQ(view.notifications, detached);
}

}  // namespace
