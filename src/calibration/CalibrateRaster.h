#pragma once

#include "Geomet.h"
#include "GridInfo.h"

class TRasterManager;

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

// Rewrites the raster so that the grid's moved nodes come back to their reference positions:
// every output pixel within one cell of the grid takes the colour of the nearest source pixel at
// the mapped position of a copy of the raster, white where that lies outside. Reports
// "Калибровка..." with its percentage. When a pixel cannot be written (a depth without pixel
// access, a palette without the colour) the raster is given back its pixels and the error
// propagates.
void CalibrateRaster(TRasterManager& raster, const TGridInfo& grid);
// The same from a copy the caller made of the raster (CopyFrom) just before: the copy is only read,
// and afterwards, whether the calibration ends or fails, it still holds the raster as it was.
void CalibrateRaster(TRasterManager& raster, const TGridInfo& grid, TRasterManager& copy);

// Cuts the raster to the grid's first cell and moves the lattice with it (origin (0, 0), the
// cell's size as the step); moved nodes keep their raster coordinates. False when there was
// nothing to cut.
bool ClipRasterToGrid(TRasterManager& raster, TGridInfo& grid);

// Cuts the raster to the frame of the whole reference lattice, from its first node to its last
// (right and bottom exclusive, as cells are), and moves the grid with the picture: the lattice
// and every node, moved or not, keep their places on it. False when there was nothing to cut.
bool ClipRasterToGridFrame(TRasterManager& raster, TGridInfo& grid);

// What a clip to the grid keeps (right and bottom exclusive), and the grid on the clipped picture.
struct TGridClip {
  TRect Rect;
  TGridInfo Grid;
};
// The clip of ClipRasterToGrid and that of ClipRasterToGridFrame, worked out beforehand.
TGridClip FirstCellClip(const TGridInfo& grid);
TGridClip FrameClip(const TGridInfo& grid);
