// The plot and health pages share the measurements area with the display table as tabs: the
// area already grows with the window by the resize rule, the status line and the COM hint stay
// in sight whichever page is shown, and there is no second window to lose behind the first or
// to place again on every start. The pages are views of a plot history and a health model
// that one more observer of the session feeds on the cycle's thread; each page redraws at most
// once per frame on the GUI thread, so the cycle never waits for drawing.
#include "qt_window_extras.h"

#include <QPointer>
#include <memory>

#include "app/panel_ids.h"
#include "app/window_extras.h"
#include "logging/logging.h"
#include "options_dialog.h"
#include "platform/qt_frontend.h"
#include "views/health_view.h"
#include "views/plot_view.h"
#include "views/view_feed.h"

namespace veldra::app_qt {

namespace {

class QtWindowExtras final : public WindowExtras {
  public:
    QtWindowExtras() {
        auto plot = std::make_unique<views::PlotView>(history_);
        auto health = std::make_unique<views::HealthView>(health_);
        plot->setObjectName(QStringLiteral("plot_page"));
        health->setObjectName(QStringLiteral("health_page"));
        feed_ = std::make_unique<views::ViewFeed>(history_, health_,
                                                  [p = plot->link(), h = health->link()] {
                                                      p->notify();
                                                      h->notify();
                                                  });
        plot_ = plot.get();
        healthPage_ = health.get();
        // Alt+T, Alt+P and Alt+H show the pages from anywhere in the window.
        AddQtPageBesideTextBox(main_panel, log_view, "&Plot", std::move(plot), "&Table");
        AddQtPageBesideTextBox(main_panel, log_view, "&Health", std::move(health), "&Table");
        // main builds the extras before any session can start.
        window::logging_session().add_observer(*feed_);
        SetOptionsEditor(&options_);
    }

    ~QtWindowExtras() override {
        SetOptionsEditor(nullptr);
        // quit_program has ended the session; whatever ended the loop, no cycle may reach the
        // feed once it is gone.
        end_logging_session();
        window::logging_session().remove_observer(*feed_);
        // The pages read the models: they go first.
        delete plot_.data();
        delete healthPage_.data();
    }

    QtWindowExtras(const QtWindowExtras&) = delete;
    QtWindowExtras& operator=(const QtWindowExtras&) = delete;

  private:
    views::HistoryStore history_;
    views::HealthModel health_;
    std::unique_ptr<views::ViewFeed> feed_;
    QPointer<QWidget> plot_, healthPage_;
    QtOptionsEditor options_;
};

}  // namespace

}  // namespace veldra::app_qt

void InstallQtWindowExtras() {
    SetWindowExtrasFactory([] { return std::make_unique<veldra::app_qt::QtWindowExtras>(); });
}
