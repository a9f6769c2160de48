// The facade's control operations: values, text boxes, lists and attributes, plus what the
// front-end reads and writes. Every operation takes the one model mutex for its whole length
// and tells the front-end after releasing it.
#include <algorithm>
#include <limits>

#include "platform/ui.h"
#include "registry.h"

using namespace veldra::ui;

namespace {

// Runs op on the control under the mutex; tells the front-end, once the mutex is released,
// when the control changed.
template <typename Op>
int WithControl(int panel, int control, Op op) {
    Registry& r = TheRegistry();
    int result = 0;
    bool changed = false;
    {
        const std::lock_guard lock(r.mutex);
        int error = 0;
        Control* c = FindControl(r, panel, control, error);
        if (c == nullptr) {
            return error;
        }
        const std::uint64_t before = c->version;
        result = op(*c, r.frontEnd != nullptr);
        changed = c->version != before && r.frontEnd != nullptr;
    }
    if (changed) {
        NotifyFrontEnd();
    }
    return result;
}

int Clamp(const Control& c, int value) {
    return std::clamp(value, c.def.minValue, c.def.maxValue);
}

std::string JoinLines(const Control& c) {
    std::string all;
    for (std::size_t i = 0; i < c.lines.size(); ++i) {
        all += c.lines[i];
        if (i + 1 < c.lines.size() || !c.lastLineOpen) {
            all += '\n';
        }
    }
    return all;
}

}  // namespace

int SetCtrlVal(int panel, int control, int value) {
    return WithControl(panel, control, [&](Control& c, bool) {
        switch (c.def.kind) {
            case ControlKind::Numeric:
                c.intValue = Clamp(c, value);
                ++c.version;
                return 0;
            case ControlKind::ListBox: {
                const auto it = std::find_if(c.items.begin(), c.items.end(),
                                             [&](const ListItem& i) { return i.value == value; });
                if (it == c.items.end()) {
                    return UIE_BAD_ARGUMENT;
                }
                c.index = static_cast<int>(it - c.items.begin());
                ++c.version;
                return 0;
            }
            default:
                return UIE_BAD_ARGUMENT;
        }
    });
}

int SetCtrlVal(int panel, int control, std::string_view text) {
    return WithControl(panel, control, [&](Control& c, bool track) {
        switch (c.def.kind) {
            case ControlKind::String:
            case ControlKind::TextMessage:
                c.text = text;
                ++c.version;
                return 0;
            case ControlKind::TextBox:
                TextBoxAppend(c, text, track);
                return 0;
            default:
                return UIE_BAD_ARGUMENT;
        }
    });
}

int GetCtrlVal(int panel, int control, int& value) {
    return WithControl(panel, control, [&](Control& c, bool) {
        switch (c.def.kind) {
            case ControlKind::Numeric:
                value = c.intValue;
                return 0;
            case ControlKind::ListBox:
                if (c.index < 0 || c.index >= static_cast<int>(c.items.size())) {
                    return UIE_BAD_ARGUMENT;
                }
                value = c.items[static_cast<std::size_t>(c.index)].value;
                return 0;
            default:
                return UIE_BAD_ARGUMENT;
        }
    });
}

int GetCtrlVal(int panel, int control, std::string& text) {
    return WithControl(panel, control, [&](Control& c, bool) {
        switch (c.def.kind) {
            case ControlKind::String:
            case ControlKind::TextMessage:
                text = c.text;
                return 0;
            case ControlKind::TextBox:
                text = JoinLines(c);
                return 0;
            case ControlKind::Numeric:
                text = std::to_string(c.intValue);
                return 0;
            default:
                return UIE_BAD_ARGUMENT;
        }
    });
}

int ResetTextBox(int panel, int control, std::string_view text) {
    return WithControl(panel, control, [&](Control& c, bool track) {
        if (c.def.kind != ControlKind::TextBox) {
            return UIE_BAD_ARGUMENT;
        }
        TextBoxClear(c, track);
        TextBoxAppend(c, text, track);
        return 0;
    });
}

int GetNumTextBoxLines(int panel, int control, int& count) {
    return WithControl(panel, control, [&](Control& c, bool) {
        if (c.def.kind != ControlKind::TextBox) {
            return UIE_BAD_ARGUMENT;
        }
        count = static_cast<int>(c.lines.size());
        return 0;
    });
}

int GetTextBoxLine(int panel, int control, int index, std::string& line) {
    return WithControl(panel, control, [&](Control& c, bool) {
        if (c.def.kind != ControlKind::TextBox || index < 0 ||
            index >= static_cast<int>(c.lines.size())) {
            return UIE_BAD_ARGUMENT;
        }
        line = c.lines[static_cast<std::size_t>(index)];
        return 0;
    });
}

int DeleteTextBoxLines(int panel, int control, int index, int count) {
    return WithControl(panel, control, [&](Control& c, bool track) {
        const int size = static_cast<int>(c.lines.size());
        if (c.def.kind != ControlKind::TextBox || index < 0 || index > size || count < -1) {
            return UIE_BAD_ARGUMENT;
        }
        const int n = count == -1 ? size - index : std::min(count, size - index);
        if (n == 0) {
            return 0;
        }
        if (index + n == size) {
            c.lastLineOpen = false;
        }
        c.lines.erase(c.lines.begin() + index, c.lines.begin() + index + n);
        c.firstVisibleLine = std::clamp(c.firstVisibleLine, 0, std::max(0, size - n - 1));
        if (track && !c.pending.rebuild) {
            c.pending.ops.push_back({TextBoxChange::Op::Kind::DeleteLines, {}, index, n});
        }
        ++c.version;
        return 0;
    });
}

int InsertListItem(int panel, int control, int index, std::string_view label, int value) {
    return WithControl(panel, control, [&](Control& c, bool) {
        const int size = static_cast<int>(c.items.size());
        if (c.def.kind != ControlKind::ListBox || index < -1 || index > size) {
            return UIE_BAD_ARGUMENT;
        }
        const int at = index == -1 ? size : index;
        c.items.insert(c.items.begin() + at, ListItem{std::string(label), value});
        if (c.index == -1) {
            c.index = 0;  // a list with items always has a current item
        } else if (at <= c.index) {
            ++c.index;
        }
        ++c.version;
        return 0;
    });
}

int DeleteListItem(int panel, int control, int index, int count) {
    return WithControl(panel, control, [&](Control& c, bool) {
        const int size = static_cast<int>(c.items.size());
        if (c.def.kind != ControlKind::ListBox || index < 0 || index >= size || count < -1) {
            return UIE_BAD_ARGUMENT;
        }
        const int n = count == -1 ? size - index : std::min(count, size - index);
        c.items.erase(c.items.begin() + index, c.items.begin() + index + n);
        const int left = size - n;
        if (left == 0) {
            c.index = -1;
        } else if (c.index >= index + n) {
            c.index -= n;
        } else if (c.index >= index) {
            c.index = std::min(index, left - 1);
        }
        ++c.version;
        return 0;
    });
}

int GetNumListItems(int panel, int control, int& count) {
    return WithControl(panel, control, [&](Control& c, bool) {
        if (c.def.kind != ControlKind::ListBox) {
            return UIE_BAD_ARGUMENT;
        }
        count = static_cast<int>(c.items.size());
        return 0;
    });
}

int GetValueFromIndex(int panel, int control, int index, int& value) {
    return WithControl(panel, control, [&](Control& c, bool) {
        if (c.def.kind != ControlKind::ListBox || index < 0 ||
            index >= static_cast<int>(c.items.size())) {
            return UIE_BAD_ARGUMENT;
        }
        value = c.items[static_cast<std::size_t>(index)].value;
        return 0;
    });
}

int GetCtrlIndex(int panel, int control, int& index) {
    return WithControl(panel, control, [&](Control& c, bool) {
        if (c.def.kind != ControlKind::ListBox) {
            return UIE_BAD_ARGUMENT;
        }
        index = c.index;
        return 0;
    });
}

int SetCtrlIndex(int panel, int control, int index) {
    return WithControl(panel, control, [&](Control& c, bool) {
        if (c.def.kind != ControlKind::ListBox || index < 0 ||
            index >= static_cast<int>(c.items.size())) {
            return UIE_BAD_ARGUMENT;
        }
        c.index = index;
        ++c.version;
        return 0;
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    return WithControl(panel, control, [&](Control& c, bool track) {
        Geometry& g = c.def.geometry;
        switch (attribute) {
            case ATTR_DIMMED:
                c.def.dimmed = value != 0;
                break;
            case ATTR_LEFT:
                g.left = value;
                break;
            case ATTR_TOP:
                g.top = value;
                break;
            case ATTR_WIDTH:
                g.width = value;
                break;
            case ATTR_HEIGHT:
                g.height = value;
                break;
            case ATTR_FIRST_VISIBLE_LINE: {
                if (c.def.kind != ControlKind::TextBox) {
                    return UIE_BAD_ATTRIBUTE;
                }
                const int line =
                    std::clamp(value, 0, std::max(0, static_cast<int>(c.lines.size()) - 1));
                // Writing back what was read must not fight the user's scrolling.
                if (line == c.firstVisibleLine) {
                    return 0;
                }
                c.firstVisibleLine = line;
                if (track) {
                    c.pending.scrollTo = line;
                }
                break;
            }
            default:
                return UIE_BAD_ATTRIBUTE;
        }
        ++c.version;
        return 0;
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, std::string_view text) {
    return WithControl(panel, control, [&](Control& c, bool) {
        if (attribute == ATTR_TOOLTIP_TEXT) {
            c.def.tooltip = text;
        } else if (attribute == ATTR_LABEL_TEXT) {
            // A text message shows its label; the two are one text.
            (c.def.kind == ControlKind::TextMessage ? c.text : c.def.label) = text;
        } else {
            return UIE_BAD_ATTRIBUTE;
        }
        ++c.version;
        return 0;
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, int& value) {
    return WithControl(panel, control, [&](Control& c, bool) {
        const Geometry& g = c.def.geometry;
        switch (attribute) {
            case ATTR_DIMMED:
                value = c.def.dimmed ? 1 : 0;
                return 0;
            case ATTR_LEFT:
                value = g.left;
                return 0;
            case ATTR_TOP:
                value = g.top;
                return 0;
            case ATTR_WIDTH:
                value = g.width;
                return 0;
            case ATTR_HEIGHT:
                value = g.height;
                return 0;
            case ATTR_FIRST_VISIBLE_LINE:
                if (c.def.kind != ControlKind::TextBox) {
                    return UIE_BAD_ATTRIBUTE;
                }
                value = c.firstVisibleLine;
                return 0;
            default:
                return UIE_BAD_ATTRIBUTE;
        }
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, std::string& text) {
    return WithControl(panel, control, [&](Control& c, bool) {
        if (attribute == ATTR_TOOLTIP_TEXT) {
            text = c.def.tooltip;
            return 0;
        }
        if (attribute != ATTR_LABEL_TEXT) {
            return UIE_BAD_ATTRIBUTE;
        }
        text = c.def.kind == ControlKind::TextMessage ? c.text : c.def.label;
        return 0;
    });
}

namespace veldra::ui {

std::vector<PanelView> CollectViewUpdates() {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    std::vector<PanelView> views;
    for (auto& [handle, p] : r.panels) {
        PanelView v;
        v.handle = handle;
        v.resource = p->def.resource;
        v.title = p->def.title;
        v.width = p->def.width;
        v.height = p->def.height;
        v.minWidth = p->def.minWidth;
        v.minHeight = p->def.minHeight;
        v.style = p->def.style;
        v.closeControl = p->def.closeControl;
        v.visible = p->visible;
        v.panelChanged = p->version != p->viewVersion;
        p->viewVersion = p->version;
        for (auto& [id, c] : p->controls) {
            if (c.version == c.viewVersion) {
                continue;
            }
            ControlView cv;
            cv.id = id;
            cv.kind = c.def.kind;
            cv.label = c.def.label;
            cv.geometry = c.def.geometry;
            cv.dimmed = c.def.dimmed;
            cv.readOnly = c.def.readOnly;
            cv.hex = c.def.hex;
            cv.minValue = c.def.minValue;
            cv.maxValue = c.def.maxValue;
            cv.style = c.def.style;
            cv.tooltip = c.def.tooltip;
            cv.intValue = c.intValue;
            cv.text = c.text;
            cv.items = c.items;
            cv.index = c.index;
            if (c.def.kind == ControlKind::TextBox) {
                cv.textBox = std::move(c.pending);
                if (c.viewVersion == 0 || cv.textBox.rebuild) {
                    cv.textBox.rebuild = true;
                    cv.textBox.ops.clear();
                    cv.textBox.fullText = JoinLines(c);
                    cv.textBox.scrollTo = c.firstVisibleLine;
                }
                c.pending = TextBoxChange{};
                c.pendingBytes = 0;
            }
            c.viewVersion = c.version;
            v.changedControls.push_back(std::move(cv));
        }
        views.push_back(std::move(v));
    }
    return views;
}

int ReadTextBoxSlice(int panel, int control, int first, int count, std::size_t column,
                     std::size_t width, TextBoxSlice& slice) {
    return WithControl(panel, control, [&](Control& c, bool) {
        if (c.def.kind != ControlKind::TextBox || first < 0 || count < 0) {
            return UIE_BAD_ARGUMENT;
        }
        const int size = static_cast<int>(c.lines.size());
        slice.lineCount = size;
        slice.lines.clear();
        for (int i = first; i < std::min(size, first + count); ++i) {
            const std::string& line = c.lines[static_cast<std::size_t>(i)];
            slice.lines.push_back(column < line.size() ? line.substr(column, width)
                                                       : std::string());
        }
        return 0;
    });
}

int ReadTextBoxRange(int panel, int control, int firstLine, std::size_t firstColumn, int lastLine,
                     std::size_t lastColumn, std::string& text) {
    return WithControl(panel, control, [&](Control& c, bool) {
        if (c.def.kind != ControlKind::TextBox || firstLine < 0 || lastLine < firstLine) {
            return UIE_BAD_ARGUMENT;
        }
        text.clear();
        const int size = static_cast<int>(c.lines.size());
        for (int i = firstLine; i <= lastLine && i < size; ++i) {
            const std::string& line = c.lines[static_cast<std::size_t>(i)];
            const std::size_t from = i == firstLine ? std::min(firstColumn, line.size()) : 0;
            const std::size_t to =
                i == lastLine ? std::clamp(lastColumn, from, line.size()) : line.size();
            text.append(line, from, to - from);
            if (i < lastLine) {
                text += '\n';
            }
        }
        return 0;
    });
}

void UserSetInt(int panel, int control, int value) {
    WithControl(panel, control, [&](Control& c, bool) {
        if (c.def.kind == ControlKind::Numeric) {
            c.intValue = Clamp(c, value);
        }
        return 0;
    });
}

void UserSetText(int panel, int control, const std::string& text) {
    WithControl(panel, control, [&](Control& c, bool) {
        if (c.def.kind == ControlKind::String) {
            c.text = text;
        }
        return 0;
    });
}

void UserSetIndex(int panel, int control, int index) {
    WithControl(panel, control, [&](Control& c, bool) {
        if (c.def.kind == ControlKind::ListBox && index >= -1 &&
            index < static_cast<int>(c.items.size())) {
            c.index = index;
        }
        return 0;
    });
}

void UserSetFirstVisibleLine(int panel, int control, int line) {
    WithControl(panel, control, [&](Control& c, bool) {
        if (c.def.kind == ControlKind::TextBox) {
            c.firstVisibleLine = std::max(0, line);
        }
        return 0;
    });
}

}  // namespace veldra::ui
