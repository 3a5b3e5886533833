#pragma once

#include "GridNodesModels.h"

#include <QDockWidget>

#include <cstdint>
#include <functional>

class QSortFilterProxyModel;
class QTableView;

// The dock "Узлы сетки": the table of the calibrator's nodes, sortable by any column. A click on a
// row selects its node, a double click shows it (OnShowNode); a place typed into X or Y moves the
// node. The row of the node selected in the view follows it.
class TGridNodesDock : public QDockWidget {
 public:
  explicit TGridNodesDock(QWidget* parent = nullptr);

  void SetCalibrator(TGridCalibrator* calibrator);
  // The calibrator's grid or its selection changed.
  void GridChanged();
  void SelectionChanged();

  std::function<void(int32_t i, int32_t j)> OnShowNode;

  TGridNodesModel& Model() { return *FModel; }
  QTableView& Table() { return *FTable; }

 private:
  void RowActivated(const QModelIndex& index, bool show);

  TGridCalibrator* FCalibrator = nullptr;
  TGridNodesModel* FModel;
  QSortFilterProxyModel* FSorted;
  QTableView* FTable;
  bool FFollowing = false;  // the table is being moved to the view's selection
};
