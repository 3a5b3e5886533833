#include "GridNodesDocks.h"

#include "GridCalibrator.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSortFilterProxyModel>
#include <QTableView>

TGridNodesDock::TGridNodesDock(QWidget* parent)
    : QDockWidget(QStringLiteral("Узлы сетки"), parent),
      FModel(new TGridNodesModel(this)),
      FSorted(new QSortFilterProxyModel(this)),
      FTable(new QTableView(this)) {
  setObjectName(QStringLiteral("GridNodesDock"));
  FSorted->setSourceModel(FModel);
  FSorted->setSortRole(Qt::UserRole);
  FTable->setObjectName(QStringLiteral("GridNodesTable"));
  FTable->setModel(FSorted);
  FTable->setSortingEnabled(true);
  FTable->sortByColumn(-1, Qt::AscendingOrder);
  FTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  FTable->setSelectionMode(QAbstractItemView::SingleSelection);
  FTable->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed);
  FTable->verticalHeader()->hide();
  FTable->verticalHeader()->setDefaultSectionSize(FTable->fontMetrics().height() + 6);
  // Columns fitted to their contents once per grid, not on every change: a grid has thousands of
  // rows to measure.
  FTable->horizontalHeader()->setStretchLastSection(true);
  setWidget(FTable);
  connect(FModel, &QAbstractItemModel::modelReset, FTable, &QTableView::resizeColumnsToContents);
  connect(FTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { RowActivated(current, false); });
  // A double click on the place columns edits them; on the others it shows the node.
  connect(FTable, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    const int column = FSorted->mapToSource(index).column();
    if (column != TGridNodesModel::cX && column != TGridNodesModel::cY) RowActivated(index, true);
  });
}

void TGridNodesDock::SetCalibrator(TGridCalibrator* calibrator) {
  FCalibrator = calibrator;
  FModel->SetCalibrator(calibrator);
  SelectionChanged();
}

void TGridNodesDock::GridChanged() {
  FModel->GridChanged();
}

void TGridNodesDock::SelectionChanged() {
  if (!FCalibrator || !FCalibrator->Selected()) {
    FTable->clearSelection();
    return;
  }
  const QModelIndex row = FSorted->mapFromSource(
      FModel->index(FModel->RowOf(FCalibrator->Selected()->X, FCalibrator->Selected()->Y), 0));
  if (row == FTable->currentIndex().siblingAtColumn(0)) return;
  FFollowing = true;
  FTable->setCurrentIndex(row);
  FTable->scrollTo(row);
  FFollowing = false;
}

void TGridNodesDock::RowActivated(const QModelIndex& index, bool show) {
  if (!FCalibrator || !index.isValid() || FFollowing) return;
  int32_t i = 0, j = 0;
  FModel->NodeOf(FSorted->mapToSource(index).row(), i, j);
  FCalibrator->Select(TPoint{i, j});
  if (show && OnShowNode) OnShowNode(i, j);
}
