// The rows of the health view as a Qt table model over a snapshot.
#pragma once

#include <QAbstractTableModel>

#include "views/health.h"

namespace veldra::views::detail {

class HealthTable : public QAbstractTableModel {
  public:
    using QAbstractTableModel::QAbstractTableModel;

    void show(HealthSnapshot snapshot);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    HealthSnapshot snapshot_;
};

}  // namespace veldra::views::detail
