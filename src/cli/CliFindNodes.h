#pragma once

#include "GridInfo.h"

class TCliRaster;
class TRasterManager;
struct TCliRasterOptions;

// Opens the command's raster, its first file, and lays the grid of its --grid file over it. The
// grid file is read first, so that a bad one is reported before a large raster is read.
TGridInfo OpenRasterWithGrid(TCliRaster& cli, const TCliRasterOptions& options);

// Finds the crossings of the scan's grid near the grid's nodes and moves the nodes found onto them.
// Unless quiet, prints on standard output how many were found, and names the nodes left in place,
// those whose crossing disagrees with the others and those found without much confidence.
void FindAndPlaceNodes(TRasterManager& raster, TGridInfo& grid, const TCliRasterOptions& options);
