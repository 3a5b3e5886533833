#pragma once

// Scans of printed grids made for the tests: a sheet with a regular grid and map content, bent,
// shrunk and turned by the scanner, blurred, noisy, and stored at one of the editable depths.
#include "GridInfo.h"
#include "RasterTestUtils.h"

#include <cstdint>
#include <vector>

struct TGridSheet {
  int Width = 900;
  int Height = 700;
  int Bits = 8;  // 1, 4, 8 or 24
  // The printed grid on the paper, in pixels of the scan before distortion.
  int CellsX = 5;
  int CellsY = 4;
  int OriginX = 100;
  int OriginY = 90;
  int StepX = 140;
  int StepY = 130;
  bool Grid = true;        // false: only the map content
  bool Crosses = false;    // small crosses at the nodes instead of full lines
  double CrossArm = 0.16;  // a cross's arm, as a share of the cell
  double Reach = 0.4;      // full lines go on beyond the outer nodes, as a share of a cell
  double LineWidth = 2;
  double Ink = 235;   // the lines' darkness, 0 to 255
  double Paper = 15;  // the paper's darkness
  // The scanner: the sheet turned about the grid's middle (degrees), shrunk (1 is none), shifted,
  // and bent by a slow wave of the given amplitude (pixels).
  double Turn = 0;
  double Scale = 1;
  double ShiftX = 0;
  double ShiftY = 0;
  double Bend = 0;
  double Blur = 0;     // sigma of a Gaussian, pixels
  double Noise = 0;    // sigma of the grain, levels of darkness
  double Clutter = 0;  // text, roads, hatching and stains: 1 is a busy map sheet
  uint32_t Seed = 1;
  // Nodes (i, j) whose crossing a label with a white halo hides, and nodes under an ink blot.
  std::vector<TPoint> Labelled;
  std::vector<TPoint> Blotted;
  // Nodes with a building, dark and filled, on one corner of the crossing.
  std::vector<TPoint> Built;
  // Columns i with a dark road running beside their line, this many pixels to the right of it.
  std::vector<int> Beside;
  double BesideOffset = 5;
  // Columns i with a cased road laid along their line: dark edges this far either side of it.
  std::vector<int> Cased;
  double CasedHalf = 5;
};

struct TGridScan {
  TBmpLayout Layout;
  // Where the scan shows each crossing (i, j), at i + j·(CellsX + 1): pixel (X, Y) at (X, Y).
  std::vector<double> X, Y;
  // The lattice of the printed grid as the user lays it over the scan.
  TGridInfo Lattice;
};

TGridScan MakeGridScan(const TGridSheet& sheet);
