// Helpers for tests that drive the user-interface services without a person at the screen.
//
//   ResetUiForTesting();                       // fresh model, default popups, real clock
//   InitRunTime(names);                        // bind callbacks as the program does
//   int p = LoadPanel(0, path, 2);
//   SimulateCommit(p, 7);                      // as if the user pressed control 7
//   SimulatePanelResize(p, 1024, 768);         // as if the user dragged the window's edge
//   ControlGeometry(p, 20).width; IsPanelVisible(p); IsControlDimmed(p, 7); ControlLabel(p, 7);
//
// A commit runs the control's callback on the thread that runs RunUserInterface when an event
// loop is running (queued behind earlier work), otherwise at once on the calling thread. With
// the Qt front-end it runs at once on the GUI thread and is posted there from other threads.
#pragma once

#include <functional>
#include <string>

#include "platform/ui.h"

// Forgets every panel, the callback table, the popup responder and the clock seams; quits
// nothing. Call between tests, while no loop runs.
void ResetUiForTesting();

// Queues work for the thread that runs (or will next run) RunUserInterface; with the Qt
// front-end, for the GUI thread.
void PostToUserInterface(std::function<void()> work);

// User commit of a control: dispatches its callback with EVENT_COMMIT. Returns 0, or
// UIE_BAD_HANDLE / UIE_BAD_CONTROL.
int SimulateCommit(int panel, int control);

// Sets the panel's inner size and sends EVENT_PANEL_SIZING and EVENT_PANEL_RESIZED to its
// callback, as a drag of the window's edge does. Returns 0 or UIE_BAD_HANDLE.
int SimulatePanelResize(int panel, int width, int height);

bool IsPanelVisible(int panel);

struct ControlRect {
    int left = 0, top = 0, width = 0, height = 0;
};
ControlRect ControlGeometry(int panel, int control);  // all zero for an unknown control
bool IsControlDimmed(int panel, int control);
std::string ControlLabel(int panel, int control);
// True while RunUserInterface runs (on any thread).
bool IsUserInterfaceRunning();
