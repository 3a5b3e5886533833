#include "GridNodesModels.h"

#include "GridCalibrator.h"

#include <QLocale>

#include <cmath>

namespace {

// Trouble first: folded, not found, the found at odds with their neighbours, the other found from
// the least sure, placed by hand, untouched.
double StateRank(const TGridCalibrator::TNodeInfo& info) {
  switch (info.State) {
    case TGridCalibrator::TNodeState::Folded:
      return 0;
    case TGridCalibrator::TNodeState::NotFound:
      return 1;
    case TGridCalibrator::TNodeState::Found:
      return 2 + info.Confidence + (info.Disagrees ? 0 : 1);
    case TGridCalibrator::TNodeState::ByHand:
      return 5;
    case TGridCalibrator::TNodeState::OnLattice:
      return 6;
  }
  return 6;
}

}  // namespace

QString NodeStateText(const TGridCalibrator::TNodeInfo& info) {
  switch (info.State) {
    case TGridCalibrator::TNodeState::OnLattice:
      return QStringLiteral("на эталоне");
    case TGridCalibrator::TNodeState::ByHand:
      return QStringLiteral("вручную");
    case TGridCalibrator::TNodeState::Found:
      return QStringLiteral("найден, %1 %%2")
          .arg(std::lround(info.Confidence * 100))
          .arg(info.Disagrees ? QStringLiteral(", не согласуется с соседними") : QString());
    case TGridCalibrator::TNodeState::NotFound:
      return QStringLiteral("не найден");
    case TGridCalibrator::TNodeState::Folded:
      return QStringLiteral("ячейка перекручена");
  }
  return QString();
}

TGridNodesModel::TGridNodesModel(QObject* parent) : QAbstractTableModel(parent) {}

void TGridNodesModel::SetCalibrator(TGridCalibrator* calibrator) {
  beginResetModel();
  FCalibrator = calibrator;
  FRows = calibrator ? calibrator->Grid().NX * calibrator->Grid().NY : 0;
  endResetModel();
}

void TGridNodesModel::GridChanged() {
  const int rows = FCalibrator ? FCalibrator->Grid().NX * FCalibrator->Grid().NY : 0;
  if (rows != FRows) {
    SetCalibrator(FCalibrator);
    return;
  }
  if (rows > 0) emit dataChanged(index(0, 0), index(rows - 1, cColumns - 1));
}

int TGridNodesModel::RowOf(int32_t i, int32_t j) const {
  return FCalibrator ? i + j * FCalibrator->Grid().NX : -1;
}

void TGridNodesModel::NodeOf(int row, int32_t& i, int32_t& j) const {
  const int32_t nx = FCalibrator ? FCalibrator->Grid().NX : 1;
  i = row % nx;
  j = row / nx;
}

int TGridNodesModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : FRows;
}

int TGridNodesModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : cColumns;
}

QVariant TGridNodesModel::data(const QModelIndex& index, int role) const {
  if (!FCalibrator || !index.isValid() || index.row() >= FRows) return {};
  if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::UserRole &&
      role != Qt::TextAlignmentRole)
    return {};
  if (role == Qt::TextAlignmentRole)
    return index.column() == cState ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                    : QVariant(Qt::AlignRight | Qt::AlignVCenter);
  int32_t i = 0, j = 0;
  NodeOf(index.row(), i, j);
  const TGridInfo& grid = FCalibrator->Grid();
  const TPoint ref = grid.RefPos(i, j);
  const TPoint pos = grid.NodePos(i, j);
  switch (index.column()) {
    case cI:
      return i;
    case cJ:
      return j;
    case cRefX:
      return ref.X;
    case cRefY:
      return ref.Y;
    case cX:
      return pos.X;
    case cY:
      return pos.Y;
    case cOffset: {
      const double offset = std::hypot(double(pos.X - ref.X), double(pos.Y - ref.Y));
      if (role == Qt::UserRole) return offset;
      return QLocale().toString(offset, 'f', 1);
    }
    case cState: {
      const TGridCalibrator::TNodeInfo info = FCalibrator->NodeInfo(i, j);
      return role == Qt::UserRole ? QVariant(StateRank(info)) : QVariant(NodeStateText(info));
    }
    default:
      return {};
  }
}

QVariant TGridNodesModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kTitles[cColumns] = {"I", "J", "Эталон X", "Эталон Y",
                                                "X", "Y", "Смещение", "Состояние"};
  return section >= 0 && section < cColumns ? QString::fromUtf8(kTitles[section]) : QVariant();
}

Qt::ItemFlags TGridNodesModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = QAbstractTableModel::flags(index);
  if (index.column() == cX || index.column() == cY) flags |= Qt::ItemIsEditable;
  return flags;
}

bool TGridNodesModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!FCalibrator || role != Qt::EditRole || (index.column() != cX && index.column() != cY))
    return false;
  bool number = false;
  const int value32 = value.toInt(&number);
  if (!number) return false;
  int32_t i = 0, j = 0;
  NodeOf(index.row(), i, j);
  TPoint pos = FCalibrator->Grid().NodePos(i, j);
  (index.column() == cX ? pos.X : pos.Y) = value32;
  FCalibrator->PlaceNode(i, j, pos);
  return true;
}
