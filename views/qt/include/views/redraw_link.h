// Carries "the model changed" from the cycle's thread to a view on the GUI thread without
// waiting: notify() posts at most one call at a time, and the view repaints at most once per
// frame (16 ms) however many records arrive. A view that has gone is simply not called.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QTimer;

namespace veldra::views {

class RedrawLink {
  public:
    // Any thread; never blocks for longer than a post.
    void notify();

    // GUI thread: `redraw` runs on the receiver's thread, paced to the screen.
    void attach(QObject* receiver, std::function<void()> redraw);
    void detach(QObject* receiver);

  private:
    void arrived();

    std::mutex mutex_;
    QObject* receiver_ = nullptr;
    QTimer* pace_ = nullptr;  // a child of the receiver
    std::function<void()> redraw_;
    std::atomic<bool> pending_{false};
};

// One link per view, shared by the view and whatever feeds it.
using RedrawLinkPtr = std::shared_ptr<RedrawLink>;

}  // namespace veldra::views
