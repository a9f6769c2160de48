// A measurement-like thread writes the log view and the status line and reads lines back while
// the loop thread edits the sensor list: nothing is lost, torn or raced.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/panel_ids.h"
#include "fixture.h"

namespace {

using fixture::PanelTest;

TEST_F(PanelTest, WorkerWritesWhileTheLoopEditsTheList) {
    constexpr int kCycles = 2000;
    std::atomic<int> mismatches{0};
    std::atomic<bool> workerDone{false};

    std::thread worker([&] {
        while (!IsUserInterfaceRunning()) {
            std::this_thread::yield();
        }
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            int first = 0;
            GetCtrlAttribute(mainPanel, log_view, ATTR_FIRST_VISIBLE_LINE, first);
            if (!fixture::LogOneCycle(mainPanel, "cycle " + std::to_string(cycle))) {
                ++mismatches;
            }
            SetCtrlAttribute(mainPanel, log_view, ATTR_FIRST_VISIBLE_LINE, first);
            ProcessSystemEvents();
        }
        workerDone = true;
        PostToUserInterface([] { QuitUserInterface(0); });
    });

    // The loop thread's work: add and remove sensors as a user would, until the worker ends.
    std::function<void()> edit = [&] {
        static int n = 0;
        if (workerDone) {
            return;
        }
        int count = 0;
        GetNumListItems(mainPanel, sensor_list, count);
        if (count >= 8) {
            DeleteListItem(mainPanel, sensor_list, 0, 1);
        } else {
            InsertListItem(mainPanel, sensor_list, -1, "Adr.", ++n);
        }
        SimulateCommit(mainPanel, MAIN_ADD_SENSOR);
        PostToUserInterface(edit);
    };
    PostToUserInterface(edit);
    EXPECT_EQ(RunUserInterface(), 0);
    worker.join();

    EXPECT_EQ(mismatches, 0);
    int lines = 0;
    GetNumTextBoxLines(mainPanel, log_view, lines);
    EXPECT_EQ(lines, kCycles);
    EXPECT_GT(fixture::calls.commits, 0);
}

}  // namespace
