// The health view's widgets: four summary lines and the sensor table.
#include "views/health_view.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QVBoxLayout>

#include "health_table.h"
#include "views/health_text.h"

namespace veldra::views {

namespace {

QLabel* summaryLine(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// A warning line keeps the palette's own text colour but is bold and starts with a word that
// says so, so it never depends on colour alone.
void showNotice(QLabel* label, const NoticeLine& line, const QString& what) {
    label->setVisible(!line.text.empty());
    QFont f = label->font();
    f.setBold(line.warning);
    label->setFont(f);
    QString text = what + QStringLiteral(": ") + QString::fromStdString(line.text);
    if (line.when) {
        text += QStringLiteral(" (") + QString::fromStdString(clock_text(*line.when)) +
                QStringLiteral(")");
    }
    label->setText((line.warning ? QStringLiteral("Warning - ") : QString()) + text);
}

}  // namespace

StateColours stateColours(SensorState state) {
    switch (state) {
        case SensorState::Answering:
            return {QColor(0xc8e6c9), QColor(0x0b3d0f)};
        case SensorState::Failing:
            return {QColor(0xffe0b2), QColor(0x5a3000)};
        case SensorState::Silent:
            return {QColor(0xffcdd2), QColor(0x6b0000)};
        case SensorState::Waiting:
            break;
    }
    return {QColor(0xe0e0e0), QColor(0x202020)};
}

HealthView::HealthView(const HealthModel& model, QWidget* parent)
    : QWidget(parent), model_(model), link_(std::make_shared<RedrawLink>()) {
    setObjectName(QStringLiteral("health_view"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 6);
    line_ = summaryLine(this, "health_line");
    cycle_ = summaryLine(this, "health_cycle");
    export_ = summaryLine(this, "health_export");
    disk_ = summaryLine(this, "health_disk");
    QFont bold = line_->font();
    bold.setBold(true);
    line_->setFont(bold);
    for (QLabel* l : {line_, cycle_, export_, disk_}) {
        column->addWidget(l);
    }
    rows_ = new detail::HealthTable(this);
    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("health_table"));
    table_->setModel(rows_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    column->addWidget(table_, 1);
    link_->attach(this, [this] { refresh(); });
    refresh();
}

HealthView::~HealthView() {
    link_->detach(this);
}

void HealthView::refresh() {
    if (model_.version() == shownVersion_) {
        return;
    }
    HealthSnapshot s = model_.snapshot();
    shownVersion_ = s.version;
    line_->setText(QString::fromStdString(line_text(s)));
    const bool gone = s.line.condition == LineCondition::Gone;
    QFont f = line_->font();
    f.setUnderline(gone);
    line_->setFont(f);
    cycle_->setText(QString::fromStdString(cycle_text(s)));
    showNotice(export_, s.export_line, QStringLiteral("Export"));
    showNotice(disk_, s.disk_line, QStringLiteral("Disk"));
    rows_->show(std::move(s));
}

}  // namespace veldra::views
