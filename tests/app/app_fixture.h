// Shared set-up for the program's tests: a scratch working folder holding the panel file, a
// fresh user-interface model bound to the program's callback names, no start-up delay, and a
// popup responder that records every dialog and answers file dialogs from a script.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/app.h"
#include "app/panel_ids.h"
#include "platform/ui.h"
#include "platform/ui_testing.h"
#include "sim/sensor_sim.h"

namespace veldra_test {

// Answers file dialogs in order from a queue; an empty queue cancels.
class ScriptedPopups : public PopupResponder {
  public:
    struct Answer {
        int result;
        std::string path;
    };
    std::deque<Answer> answers;
    std::vector<FileSelectRequest> fileRequests;
    std::vector<std::pair<std::string, std::string>> messages;

    int message(std::string_view title, std::string_view text) override {
        messages.emplace_back(title, text);
        return 0;
    }
    int fileSelect(const FileSelectRequest& request, std::string& path) override {
        fileRequests.push_back(request);
        if (answers.empty()) {
            return VAL_NO_FILE_SELECTED;
        }
        Answer answer = std::move(answers.front());
        answers.pop_front();
        if (answer.result == VAL_EXISTING_FILE_SELECTED || answer.result == VAL_NEW_FILE_SELECTED) {
            path = answer.path;
        }
        return answer.result;
    }
};

// One list item as the program shows it.
struct Item {
    std::string label;
    int value;
    bool operator==(const Item&) const = default;
};

// The main-panel values that the settings and configuration files carry.
struct PanelValues {
    std::vector<Item> items;
    int interval, port;
    std::string logfile;
    bool operator==(const PanelValues&) const = default;
};

class AppTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Loads the three panels into the program-wide handles, as start-up does.
    void LoadPanels();

    // Runs the program on this thread while `user` acts on another, as a person at the screen
    // would; afterwards the person presses Quit. Returns main's result.
    int RunProgram(std::function<void()> user);
    // Runs work inside the event loop, behind everything queued before, and waits for it.
    static void InLoop(const std::function<void()>& work);

    std::vector<Item> ListItems(int panel = -1, int control = sensor_list) const;
    PanelValues Current() const;
    void ClearSensorList();
    // A simulated sensor bus answering for `sensors`, reached as COM `port`.
    std::unique_ptr<veldra::sim::SensorSimulator> SimulatedBus(int port,
                                                               std::vector<std::uint32_t> sensors);
    std::string TextBox(int control) const;  // all lines of a main-panel text box, "\n"-joined
    std::string Text(int control) const;     // value of a main-panel string control
    int Int(int panel, int control) const;

    std::filesystem::path dir_;
    std::filesystem::path oldDir_;
    ScriptedPopups popups_;
};

std::filesystem::path SourcePanelFile();

}  // namespace veldra_test
