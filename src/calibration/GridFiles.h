#pragma once

#include "GridInfo.h"

#include <QString>

#include <optional>
#include <vector>

class TRasterManager;

// A reference grid as a grid file states it (JSON):
//   { "cells": [CX, CY],
//     "origin": [X, Y], "step": [SX, SY],          raster pixels, or instead
//     "paper": {"left": L, "top": T, "width": W, "height": H},   centimetres of paper
//     "nodes": [{"i": I, "j": J, "x": X, "y": Y}, ...],         where the scan shows crossing (I,
//                                                               J)
//     "map": {"crs": "EPSG:28407", "x": E, "y": N, "step": [SX, SY]} }   optional: the map
//            coordinates of node (0, 0) and the ground length of a cell in metres
struct TGridFile {
  struct TNode {
    int I, J, X, Y;
  };
  int CellsX = 0;
  int CellsY = 0;
  std::optional<TPoint> Origin;
  std::optional<TPoint> Step;
  std::optional<TGridPaperParams> Paper;  // in metres
  std::vector<TNode> Nodes;
  std::optional<TGridMap> Map;
};

// Reads and checks a grid file; a file that is not valid raises an error naming the problem. Files
// beyond a few megabytes are refused unread.
TGridFile ReadGridFile(const QString& fileName);
// Checks the text of a grid file; fileName only names it in messages.
TGridFile ParseGridFile(const QByteArray& text, const QString& fileName);

// The grid for a raster: paper lengths are converted with the raster's resolution as the grid
// parameters dialog converts them, then the nodes are placed.
TGridInfo MakeGrid(const TGridFile& file, const TRasterManager& raster);

// Writes the grid as a grid file that reads back into the same grid: the lattice in raster pixels
// ("origin" and "step"), every moved node and the map coordinates, if the grid has them. The file
// is written under a temporary name and then takes the target's name, so a failure leaves an
// existing file as it was.
void WriteGridFile(const QString& fileName, const TGridInfo& grid);
