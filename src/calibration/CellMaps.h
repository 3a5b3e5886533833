#pragma once

#include "Geomet.h"
#include "GridInfo.h"

#include <algorithm>
#include <cstdint>
#include <vector>

// The mapping of one reference cell onto the cell the scan really shows: the moved positions of
// its top-left, top-right, bottom-right and bottom-left nodes, the reference rectangle, and the
// moved cell's edges.
struct TCellTransform {
  TWorldPoint Q0, Q1, Q2, Q3;
  TWorldRect Reference;
  double W = 0;
  double H = 0;
  TWorldPoint ETop, ERight, EBottom, ELeft;
};

// The transform of the real cell (a, b), between node columns a, a + 1 and node rows b, b + 1.
TCellTransform MakeCellTransform(const TGridInfo& grid, int a, int b);

// The source position of an output position: the bilinear interpolation of the moved corners,
// evaluated as the crossing of the line between the top and bottom edges at u with the line
// between the right and left edges at v. Where the two lines are parallel the position maps to
// itself.
TWorldPoint MapPoint(const TCellTransform& t, const TWorldPoint& p);

// The output columns (or rows) of one column (or row) of cells, clipped to the raster: Index is
// the cell's d (or c).
struct TCellSpan {
  int Lo = 0;
  int Hi = 0;
  int Index = 0;
};

// The terms of the mapping that depend only on the output row of a cell (v): the point on the
// moved right edge, the vector from it to the left edge, and their part of the crossing's
// numerator.
struct TRowTerms {
  double Rx, Ry, DX2, DY2, B;
};

// The source positions of a run of output pixels as a straight line: pixel k's position is
// (X0 + k * DX, Y0 + k * DY), evaluated in doubles in that order. Where a coordinate so evaluated
// lies farther than its margin from the middle between two integers, MapPoint's position rounds
// to the same integer.
struct TSourceLine {
  double X0 = 0, DX = 0, Y0 = 0, DY = 0;
  double MarginX = 0, MarginY = 0;
};

// What mapping a run of output pixels of one row within one cell needs: the column terms of the
// cell from the run's first pixel (see TCellMaps), the row's terms, and the raster's size.
struct TRunTerms {
  const TCellTransform* Transform = nullptr;
  const double *Tx = nullptr, *Ty = nullptr, *DX1 = nullptr, *DY1 = nullptr, *A = nullptr;
  TRowTerms Row{};
  int X0 = 0, Y = 0, Count = 0;
  int32_t Width = 0, Height = 0;
};

// A run of output pixels of one row within one cell, and the source pixels they take their
// colours from.
class TCellRun {
 public:
  int X0() const { return FTerms.X0; }
  int Y() const { return FTerms.Y; }
  int Count() const { return FTerms.Count; }
  // The line of the source positions, when the run has one: most runs have.
  const TSourceLine* Line() const { return FHasLine ? &FLine : nullptr; }
  // The source pixel of pixel k as MapPoint rounded gives it: the column (TCellMaps::kOutside
  // outside the raster) and the row.
  void MapOne(int k, int32_t& sx, int32_t& sy) const;
  // The same for every pixel of the run.
  void Map(int32_t* sx, int32_t* sy) const;

 private:
  friend class TCellMaps;
  TRunTerms FTerms;
  TSourceLine FLine;
  bool FHasLine = false;
};

// Where each output pixel of a grid's reach takes its colour from: the source pixel nearest to
// MapPoint of the pixel's corner in the cell that holds it, the border bands outside the grid
// taking the mapping of the nearest real cell. Runs of a row are mapped at once, and the source
// pixels are exactly those of MapPoint rounded, pixel by pixel.
class TCellMaps {
 public:
  // A source column of -1 marks a source pixel outside the raster (white).
  static constexpr int32_t kOutside = -1;

  TCellMaps(const TGridInfo& grid, int width, int height);

  // Whether the grid reaches no pixel of the raster.
  bool Empty() const { return FColumns.empty() || FRows.empty(); }
  // The pixels the grid reaches; only when not Empty.
  TRect Reach() const;
  const std::vector<TCellSpan>& Columns() const { return FColumns; }
  const std::vector<TCellSpan>& Rows() const { return FRows; }

  // Makes ready the rows of cells that hold the raster rows y0 .. y1 - 1, and lets go of the
  // others. Mapping reads only what this made; it may run on several threads at once, this not.
  void Prepare(int y0, int y1);
  // Calls visit(const TCellRun&) for the runs of the output pixels x0 .. x1 - 1 of row y, left to
  // right, one per cell; all the pixels lie inside the reach and the rows made ready.
  template <typename Visit>
  void ForEachRun(int y, int x0, int x1, Visit visit) const {
    const size_t row = RowOf(y);
    for (size_t i = ColumnOf(x0); i < FColumns.size() && FColumns[i].Lo < x1; ++i) {
      const int from = std::max(x0, FColumns[i].Lo);
      visit(Run(row, i, y, from, std::min(x1, FColumns[i].Hi) - from));
    }
  }

 private:
  // The terms of the mapping that depend only on the output column of a cell (u), for each
  // column from Left.
  struct TCellTerms {
    TCellTransform Transform;
    int Left = 0;
    std::vector<double> Tx, Ty, DX1, DY1, A;
  };

  size_t RowOf(int y) const;
  size_t ColumnOf(int x) const;
  TCellRun Run(size_t row, size_t column, int y, int x0, int count) const;
  void MakeTerms(size_t row);

  const TGridInfo& FGrid;
  int FWidth;
  int FHeight;
  std::vector<TCellSpan> FColumns;              // of cells, left to right
  std::vector<TCellSpan> FRows;                 // of cells, top to bottom
  std::vector<std::vector<TCellTerms>> FTerms;  // by row of cells; empty while not made ready
};
