#pragma once

#include "Types.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// One crossing of the reference lattice: how far the user moved it from its reference position,
// in raster pixels. (0, 0) means it sits on the lattice; there is no separate moved flag.
struct TGridNodeInfo {
  TPoint Offset;

  bool IsMoved() const { return Offset.X != 0 || Offset.Y != 0; }
  friend bool operator==(const TGridNodeInfo&, const TGridNodeInfo&) = default;
};

// Where the grid lies on the map: the map coordinates of node (0, 0) (easting, northing) and the
// ground length of a cell across and down, in metres of a projected CRS. Northing decreases
// downwards: node (i, j) lies at (X + i·StepX, Y − j·StepY).
struct TGridMap {
  QString Crs;  // as FindCoordinateSystem names it, e.g. "EPSG:28407"
  double X = 0;
  double Y = 0;
  double StepX = 0;
  double StepY = 0;

  friend bool operator==(const TGridMap&, const TGridMap&) = default;
};

// The regular lattice that the scanned sheet ought to show, in pixels of the open raster, and the
// displacement of each of its nodes. Moving or resizing the lattice keeps moved nodes where they
// are on the raster; changing the number of nodes starts them all afresh.
class TGridInfo {
 public:
  // Node columns and rows (cells + 1), the reference position of node (0, 0) and the cell size.
  int32_t NX = 0;
  int32_t NY = 0;
  TPoint Origin;
  TPoint Step;
  // The map coordinates of the lattice, when the sheet is a map the user placed.
  std::optional<TGridMap> Map;

  // Raises the list's index error outside 0..NX-1, 0..NY-1.
  TGridNodeInfo& NodeAt(int32_t i, int32_t j);
  const TGridNodeInfo& NodeAt(int32_t i, int32_t j) const;

  // Defined for any i and j, also outside the node range (the border bands of the calibration).
  TPoint RefPos(int32_t i, int32_t j) const {
    return TPoint{i * Step.X + Origin.X, j * Step.Y + Origin.Y};
  }
  TPoint NodePos(int32_t i, int32_t j) const;

  void SetOrigin(const TPoint& origin);
  void SetStep(const TPoint& step);
  void SetSize(int32_t nx, int32_t ny);
  void ResetNodes();

  friend bool operator==(const TGridInfo&, const TGridInfo&) = default;

 private:
  int32_t IndexOf(int32_t i, int32_t j) const;

  std::vector<TGridNodeInfo> FNodes;
};

// The cells (i, j), each between node columns i, i + 1 and node rows j, j + 1, whose moved corners
// no longer go round the way the reference cell's do: a node dragged past a neighbour folds its
// cells over, three corners on one line flatten a cell. Calibration would mirror or smear the
// picture there. Row by row; every cell when the cells have no size.
std::vector<TPoint> FoldedCells(const TGridInfo& grid);
// Why the grid cannot calibrate: cells of no size, or folded cells, named; empty when it can.
QString GridFoldProblem(const TGridInfo& grid);
// Raises the problem, when there is one, as the reason a calibration is refused.
void CheckGridCalibrates(const TGridInfo& grid);

// The map coordinates of the raster's pixels once they lie on the reference lattice (after the
// calibration, and a clip that moves the lattice with the picture), as GDAL states them: map X =
// T[0] + px·T[1] + py·T[2], map Y = T[3] + px·T[4] + py·T[5], with (px, py) measured from the
// raster's top-left corner. A node stands for its pixel, so its map coordinates are those of the
// pixel's centre. The grid must have map coordinates and cells of some size.
using TGeoTransform = std::array<double, 6>;
TGeoTransform MapGeoTransform(const TGridInfo& grid);

// The grid as the grid parameters dialog shows it: lengths in metres of the paper base, derived
// from the raster's resolution in dots per metre.
struct TGridPaperParams {
  double Left = 0;
  double Top = 0;
  double Width = 0;
  double Height = 0;
  int32_t CellsX = 0;
  int32_t CellsY = 0;
};

TGridPaperParams GridToPaper(const TGridInfo& grid, double resolutionX, double resolutionY);

// What keeps paper parameters from describing a grid, checked in the order the user fills them in:
// a width, then a height, that is not positive, then fewer than one cell either way. The message of
// the first problem, or an empty text when there is none; the lengths may be in any one unit.
QString PaperParamsProblem(const TGridPaperParams& params);
// The cells alone, for a grid whose lattice is given in pixels.
QString GridCellsProblem(int32_t cellsX, int32_t cellsY);

// Applies confirmed paper parameters: origin, then step, then size. Cells must be at least 1.
void ApplyPaperParams(TGridInfo& grid, const TGridPaperParams& params, double resolutionX,
                      double resolutionY);
