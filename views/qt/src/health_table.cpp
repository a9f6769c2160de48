// Columns of the health table: sensor, state, last good reading, good share, last exchange,
// then one column per failure kind.
#include "health_table.h"

#include <QColor>
#include <array>

#include "views/health_text.h"
#include "views/health_view.h"

namespace veldra::views::detail {

namespace {

using core::QueryStatus;

constexpr int kFixedColumns = 5;
// Every status but the good one, in the order people look for them.
constexpr std::array<QueryStatus, core::kQueryStatusCount - 1> kFailureColumns{
    QueryStatus::NoReply, QueryStatus::BadStartByte, QueryStatus::Checksum,
    QueryStatus::Empty,   QueryStatus::NotANumber,   QueryStatus::StaleSkipped,
    QueryStatus::NotSent, QueryStatus::TooLong,      QueryStatus::Truncated};

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString capitalised(std::string_view s) {
    QString t = text(s);
    if (!t.isEmpty()) {
        t[0] = t[0].toUpper();
    }
    return t;
}

// Headers of two short lines, so that every column fits a window of 1280 pixels without
// scrolling sideways: "Stale frame skipped" becomes "Stale frame" over "skipped".
QString twoLines(QString header) {
    const qsizetype space = header.lastIndexOf(QLatin1Char(' '));
    if (space > 0) {
        header[space] = QLatin1Char('\n');
    }
    return header;
}

}  // namespace

void HealthTable::show(HealthSnapshot snapshot) {
    beginResetModel();
    snapshot_ = std::move(snapshot);
    endResetModel();
}

int HealthTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(snapshot_.sensors.size());
}

int HealthTable::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kFixedColumns + static_cast<int>(kFailureColumns.size());
}

QVariant HealthTable::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
        case 0:
            return QStringLiteral("Sensor");
        case 1:
            return QStringLiteral("State");
        case 2:
            return QStringLiteral("Last good\nreading");
        case 3:
            return QStringLiteral("Good answers\n(last hour)");
        case 4:
            return QStringLiteral("Last\nexchange");
        default:
            break;
    }
    const std::size_t k = static_cast<std::size_t>(section - kFixedColumns);
    return k < kFailureColumns.size() ? twoLines(capitalised(core::status_name(kFailureColumns[k])))
                                      : QVariant{};
}

QVariant HealthTable::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const SensorHealth& h = snapshot_.sensors[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    if (column == 1 && (role == Qt::BackgroundRole || role == Qt::ForegroundRole)) {
        if (h.state == SensorState::Waiting) {
            return {};
        }
        const StateColours c = stateColours(h.state);
        return role == Qt::BackgroundRole ? c.background : c.text;
    }
    if (role == Qt::TextAlignmentRole && column >= 3) {
        return int(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (column) {
        case 0:
            return QStringLiteral("%1").arg(h.address & 0xffffff, 6, 16, QLatin1Char('0'));
        case 1:
            return text(state_name(h.state));
        case 2:
            return QString::fromStdString(last_good_text(h));
        case 3:
            return QString::fromStdString(good_share_text(h));
        case 4:
            return h.state == SensorState::Waiting ? QStringLiteral("-")
                                                   : QString::fromStdString(exchange_text(h));
        default:
            break;
    }
    const std::size_t k = static_cast<std::size_t>(column - kFixedColumns);
    return k < kFailureColumns.size() ? QVariant::fromValue<qulonglong>(h.count(kFailureColumns[k]))
                                      : QVariant{};
}

}  // namespace veldra::views::detail
