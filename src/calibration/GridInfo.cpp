#include "GridInfo.h"

#include "SysUtils.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

int32_t TGridInfo::IndexOf(int32_t i, int32_t j) const {
  if (i < 0 || i >= NX || j < 0 || j >= NY)
    throw Exception(Format(QStringLiteral("List index out of bounds (%d)"),
                           {static_cast<qlonglong>(i) + static_cast<qlonglong>(j) * NX}));
  return i + j * NX;
}

TGridNodeInfo& TGridInfo::NodeAt(int32_t i, int32_t j) {
  return FNodes[IndexOf(i, j)];
}

const TGridNodeInfo& TGridInfo::NodeAt(int32_t i, int32_t j) const {
  return FNodes[IndexOf(i, j)];
}

TPoint TGridInfo::NodePos(int32_t i, int32_t j) const {
  const TPoint offset = NodeAt(i, j).Offset;
  const TPoint ref = RefPos(i, j);
  return TPoint{ref.X + offset.X, ref.Y + offset.Y};
}

void TGridInfo::SetOrigin(const TPoint& origin) {
  if (origin == Origin) return;
  for (TGridNodeInfo& node : FNodes) {
    if (!node.IsMoved()) continue;
    node.Offset.X += Origin.X - origin.X;
    node.Offset.Y += Origin.Y - origin.Y;
  }
  Origin = origin;
}

void TGridInfo::SetStep(const TPoint& step) {
  if (step == Step) return;
  for (int32_t j = 0; j < NY; ++j)
    for (int32_t i = 0; i < NX; ++i) {
      TGridNodeInfo& node = FNodes[i + j * NX];
      if (!node.IsMoved()) continue;
      node.Offset.X += (Step.X - step.X) * i;
      node.Offset.Y += (Step.Y - step.Y) * j;
    }
  Step = step;
}

void TGridInfo::SetSize(int32_t nx, int32_t ny) {
  if (nx == NX && ny == NY) return;
  FNodes.assign(static_cast<size_t>(nx) * static_cast<size_t>(ny), TGridNodeInfo{});
  NX = nx;
  NY = ny;
}

void TGridInfo::ResetNodes() {
  for (TGridNodeInfo& node : FNodes) node.Offset = TPoint{};
}

namespace {

// The turn at corner b from the edge to a to the edge to c, positive as the reference cell turns
// (x to the right, y down).
int64_t Turn(const TPoint& a, const TPoint& b, const TPoint& c) {
  return (int64_t{a.X} - b.X) * (int64_t{c.Y} - b.Y) - (int64_t{a.Y} - b.Y) * (int64_t{c.X} - b.X);
}

}  // namespace

std::vector<TPoint> FoldedCells(const TGridInfo& grid) {
  std::vector<TPoint> cells;
  const bool sized = grid.Step.X > 0 && grid.Step.Y > 0;
  for (int32_t j = 0; j + 1 < grid.NY; ++j)
    for (int32_t i = 0; i + 1 < grid.NX; ++i) {
      const TPoint q0 = grid.NodePos(i, j), q1 = grid.NodePos(i + 1, j);
      const TPoint q2 = grid.NodePos(i + 1, j + 1), q3 = grid.NodePos(i, j + 1);
      // Each corner turns from its next corner to its previous one; a bilinear cell maps without
      // folding exactly when all four turn the same way.
      if (!sized || Turn(q1, q0, q3) <= 0 || Turn(q2, q1, q0) <= 0 || Turn(q3, q2, q1) <= 0 ||
          Turn(q0, q3, q2) <= 0)
        cells.push_back(TPoint{i, j});
    }
  return cells;
}

QString GridFoldProblem(const TGridInfo& grid) {
  if (grid.Step.X <= 0 || grid.Step.Y <= 0)
    return QStringLiteral(
               "Ячейки сетки не имеют размера (%1 × %2 пикселей): задайте размер сетки "
               "в её параметрах")
        .arg(grid.Step.X)
        .arg(grid.Step.Y);
  const std::vector<TPoint> cells = FoldedCells(grid);
  if (cells.empty()) return QString();
  constexpr size_t kNamed = 8;
  QStringList names;
  for (size_t k = 0; k < std::min(cells.size(), kNamed); ++k)
    names << QStringLiteral("(%1, %2)").arg(cells[k].X).arg(cells[k].Y);
  QString list = names.join(QStringLiteral(", "));
  if (cells.size() > kNamed) list += QStringLiteral(" и ещё %1").arg(cells.size() - kNamed);
  return QStringLiteral(
             "Сетка перекручена: %1 %2 узел перетащен за соседний, и калибровка "
             "отразила бы растр. Поставьте узлы %3 на место")
      .arg(cells.size() == 1 ? QStringLiteral("в ячейке") : QStringLiteral("в ячейках"), list,
           cells.size() == 1 ? QStringLiteral("этой ячейки") : QStringLiteral("этих ячеек"));
}

void CheckGridCalibrates(const TGridInfo& grid) {
  const QString problem = GridFoldProblem(grid);
  if (!problem.isEmpty())
    throw Exception(QStringLiteral("Калибровка невозможна. ") + problem + QStringLiteral("."));
}

TGeoTransform MapGeoTransform(const TGridInfo& grid) {
  const TGridMap& map = *grid.Map;
  const double sizeX = map.StepX / grid.Step.X;
  const double sizeY = map.StepY / grid.Step.Y;
  return TGeoTransform{map.X - (grid.Origin.X + 0.5) * sizeX, sizeX, 0,
                       map.Y + (grid.Origin.Y + 0.5) * sizeY, 0,     -sizeY};
}

TGridPaperParams GridToPaper(const TGridInfo& grid, double resolutionX, double resolutionY) {
  TGridPaperParams params;
  params.Left = grid.Origin.X / resolutionX;
  params.Top = grid.Origin.Y / resolutionY;
  params.Width = (grid.NX - 1) * static_cast<double>(grid.Step.X) / resolutionX;
  params.Height = (grid.NY - 1) * static_cast<double>(grid.Step.Y) / resolutionY;
  params.CellsX = grid.NX - 1;
  params.CellsY = grid.NY - 1;
  return params;
}

QString PaperParamsProblem(const TGridPaperParams& params) {
  // Written so that a length that is not a number is a problem as well.
  if (!(params.Width > 0)) return QStringLiteral("Ширина сетки должна быть больше нуля");
  if (!(params.Height > 0)) return QStringLiteral("Высота сетки должна быть больше нуля");
  return GridCellsProblem(params.CellsX, params.CellsY);
}

QString GridCellsProblem(int32_t cellsX, int32_t cellsY) {
  if (cellsX < 0 || cellsY < 0)
    return QStringLiteral("Количество ячеек сетки не может быть отрицательным");
  if (cellsX == 0 || cellsY == 0)
    return QStringLiteral("Количество ячеек сетки не может быть равно нулю");
  return QString();
}

namespace {

// Nearest integer with halves to even, clamped so that an absurd length cannot overflow.
int32_t RoundToPixels(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded > -2147483647.0)) return -2147483647;
  if (rounded > 2147483647.0) return 2147483647;
  return static_cast<int32_t>(rounded);
}

}  // namespace

void ApplyPaperParams(TGridInfo& grid, const TGridPaperParams& params, double resolutionX,
                      double resolutionY) {
  grid.SetOrigin(
      TPoint{RoundToPixels(resolutionX * params.Left), RoundToPixels(resolutionY * params.Top)});
  grid.SetStep(TPoint{RoundToPixels(resolutionX * params.Width / params.CellsX),
                      RoundToPixels(resolutionY * params.Height / params.CellsY)});
  grid.SetSize(params.CellsX + 1, params.CellsY + 1);
}
