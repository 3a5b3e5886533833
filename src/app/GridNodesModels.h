#pragma once

#include "GridCalibrator.h"

#include <QAbstractTableModel>

#include <cstdint>

// What became of a node, as the table and the node's properties say it.
QString NodeStateText(const TGridCalibrator::TNodeInfo& info);

// The nodes of the calibrator's grid as a table, a row per node in the grid's order: its (I, J),
// its reference place, its place on the raster (editable: typing a place moves the node as a step
// that can be undone), how far it is from its reference place, and what became of it: on the
// reference place, placed by hand, found by the search and how sure it was, not found, or in a
// folded cell. The sort role gives numbers, so that a table sorts by value.
class TGridNodesModel : public QAbstractTableModel {
 public:
  enum TColumn : int { cI, cJ, cRefX, cRefY, cX, cY, cOffset, cState, cColumns };

  explicit TGridNodesModel(QObject* parent = nullptr);

  // The calibrator whose grid the table shows, or none.
  void SetCalibrator(TGridCalibrator* calibrator);
  // The grid changed: its nodes moved, or it has other nodes.
  void GridChanged();

  // The row of node (i, j) and the node of a row.
  int RowOf(int32_t i, int32_t j) const;
  void NodeOf(int row, int32_t& i, int32_t& j) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 private:
  TGridCalibrator* FCalibrator = nullptr;
  int FRows = 0;
};
