// The hand-off from the feeding thread to the view's thread.
#include "views/redraw_link.h"

#include <QTimer>

namespace veldra::views {

namespace {
constexpr int kFrameMs = 16;
}

void RedrawLink::notify() {
    if (pending_.exchange(true)) {
        return;  // one post is on its way; it will see this change too
    }
    const std::lock_guard lock(mutex_);
    if (receiver_ == nullptr) {
        pending_ = false;
        return;
    }
    QMetaObject::invokeMethod(
        receiver_, [this] { arrived(); }, Qt::QueuedConnection);
}

void RedrawLink::arrived() {
    pending_ = false;
    if (pace_ != nullptr && !pace_->isActive()) {
        pace_->start();
    }
}

void RedrawLink::attach(QObject* receiver, std::function<void()> redraw) {
    const std::lock_guard lock(mutex_);
    receiver_ = receiver;
    redraw_ = std::move(redraw);
    pace_ = new QTimer(receiver);
    pace_->setSingleShot(true);
    pace_->setInterval(kFrameMs);
    QObject::connect(pace_, &QTimer::timeout, receiver, [this] {
        if (redraw_) {
            redraw_();
        }
    });
}

void RedrawLink::detach(QObject* receiver) {
    const std::lock_guard lock(mutex_);
    if (receiver_ == receiver) {
        receiver_ = nullptr;
        pace_ = nullptr;  // goes with the receiver
        redraw_ = nullptr;
    }
}

}  // namespace veldra::views
