// The seam between the headless facade and a GUI front-end (the Qt one, or none).
// The facade owns the model; a front-end shows it and feeds user input back.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/detail/panel_model.h"
#include "platform/ui.h"

namespace veldra::ui {

class FrontEnd {
  public:
    virtual ~FrontEnd() = default;
    // Called from any thread after the model changed, never with the model's mutex held (so
    // it may read the model). Calls are serialised with attaching and detaching, so it must not
    // attach or detach a front-end itself. Must not block; should coalesce (many changes, one
    // refresh).
    virtual void modelChanged() = 0;
    virtual bool isGuiThread() const = 0;
    virtual int runLoop() = 0;                          // GUI thread: until quitLoop
    virtual void quitLoop(int code) = 0;                // any thread
    virtual void post(std::function<void()> work) = 0;  // runs work on the GUI thread
    virtual void processEvents() = 0;                   // GUI thread only
    virtual void delay(double seconds) = 0;             // GUI thread, events keep flowing
    virtual PopupResponder& popups() = 0;               // the GUI's dialogs
};

// Installs (or, with nullptr, removes) the front-end. The caller keeps it alive until removed.
void AttachFrontEnd(FrontEnd* frontEnd);

// What changed in a text box since the view last looked.
struct TextBoxChange {
    bool rebuild = false;  // replace everything by fullText
    std::string fullText;
    struct Op {
        enum class Kind { Append, DeleteLines } kind = Kind::Append;
        std::string text;          // Append
        int first = 0, count = 0;  // DeleteLines
    };
    std::vector<Op> ops;
    std::optional<int> scrollTo;  // first visible line the program asked for
};

struct ControlView {
    int id = 0;
    ControlKind kind = ControlKind::Decoration;
    std::string label;
    Geometry geometry;
    bool dimmed = false, readOnly = false, hex = false;
    int minValue = 0, maxValue = 0;
    std::string style;
    std::string tooltip;
    int intValue = 0;
    std::string text;             // string / text message
    std::vector<ListItem> items;  // list box
    int index = -1;
    TextBoxChange textBox;  // text box
};

struct PanelView {
    int handle = 0;
    int resource = 0;  // the panel's number in the panel file
    std::string title;
    int width = 0, height = 0, minWidth = 0, minHeight = 0;
    PanelStyle style = PanelStyle::Window;
    int closeControl = 0;
    bool visible = false;
    bool panelChanged = false;  // title, size or visibility changed since the last look
    std::vector<ControlView> changedControls;
};

// Every live panel, with the controls that changed since the last call (all on the first).
std::vector<PanelView> CollectViewUpdates();

// For a text-box view that draws only what is visible: lines [first, first + count) of the
// text box, each cut to the bytes [column, column + width), read under one lock. lineCount is
// the number of lines now (an unended last line included). Missing lines are left out.
struct TextBoxSlice {
    int lineCount = 0;
    std::vector<std::string> lines;
};
int ReadTextBoxSlice(int panel, int control, int first, int count, std::size_t column,
                     std::size_t width, TextBoxSlice& slice);
// The text from (firstLine, firstColumn) up to (lastLine, lastColumn), columns in bytes, lines
// joined by "\n"; a line past the last stands for the empty line after a final line end.
int ReadTextBoxRange(int panel, int control, int firstLine, std::size_t firstColumn, int lastLine,
                     std::size_t lastColumn, std::string& text);

// User input from the front-end: updates the model without echoing back to the view.
void UserSetInt(int panel, int control, int value);
void UserSetText(int panel, int control, const std::string& text);
void UserSetIndex(int panel, int control, int index);
void UserSetFirstVisibleLine(int panel, int control, int line);
void UserSetPanelSize(int panel, int width, int height);

// Calls the bound callbacks on the calling thread, with no lock held.
void DispatchControlEvent(int panel, int control, int event, int data1 = 0, int data2 = 0);
void DispatchPanelEvent(int panel, int event, int data1 = 0, int data2 = 0);

}  // namespace veldra::ui
