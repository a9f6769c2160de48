// The registry of live panels, lookups, and the text-box line store.
#include "registry.h"

namespace veldra::ui {

namespace {
// Pending view changes beyond this are dropped for one rebuild: cheaper than replaying them.
constexpr std::size_t kMaxPendingBytes = 4U << 20U;
constexpr std::size_t kMaxPendingOps = 4096;
}  // namespace

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

Panel* FindPanel(Registry& r, int panel) {
    const auto it = r.panels.find(panel);
    return it == r.panels.end() ? nullptr : it->second.get();
}

Control* FindControl(Registry& r, int panel, int control, int& error) {
    Panel* p = FindPanel(r, panel);
    if (p == nullptr) {
        error = UIE_BAD_HANDLE;
        return nullptr;
    }
    const auto it = p->controls.find(control);
    if (it == p->controls.end()) {
        error = UIE_BAD_CONTROL;
        return nullptr;
    }
    return &it->second;
}

void NotifyFrontEnd() {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.frontEndMutex);
    if (r.frontEnd != nullptr) {
        r.frontEnd->modelChanged();
    }
}

namespace {

void TrackAppend(Control& c, std::string_view text) {
    TextBoxChange& p = c.pending;
    if (p.rebuild) {
        return;
    }
    if (!p.ops.empty() && p.ops.back().kind == TextBoxChange::Op::Kind::Append) {
        p.ops.back().text.append(text);
    } else {
        p.ops.push_back({TextBoxChange::Op::Kind::Append, std::string(text), 0, 0});
    }
    c.pendingBytes += text.size();
    if (c.pendingBytes > kMaxPendingBytes || p.ops.size() > kMaxPendingOps) {
        p.rebuild = true;
        p.ops.clear();
        c.pendingBytes = 0;
    }
}

}  // namespace

void TextBoxAppend(Control& c, std::string_view text, bool track) {
    if (track) {
        TrackAppend(c, text);
    }
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view piece = text.substr(0, end);
        if (c.lastLineOpen) {
            c.lines.back().append(piece);
        } else {
            c.lines.emplace_back(piece);
        }
        if (end == std::string_view::npos) {
            c.lastLineOpen = true;
            break;
        }
        if (c.lastLineOpen) {
            // Built cell by cell, the line has room for up to twice its length; a long table
            // keeps thousands of them, so an ended line gives the spare room back.
            c.lines.back().shrink_to_fit();
        }
        c.lastLineOpen = false;
        text.remove_prefix(end + 1);
    }
    ++c.version;
}

void TextBoxClear(Control& c, bool track) {
    c.lines.clear();
    c.lastLineOpen = false;
    c.firstVisibleLine = 0;
    if (track) {
        c.pending = TextBoxChange{};
        c.pending.rebuild = true;
        c.pendingBytes = 0;
    }
    ++c.version;
}

}  // namespace veldra::ui
