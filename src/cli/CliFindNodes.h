#pragma once

#include "GridInfo.h"

class TCliRaster;
class TRasterManager;
struct TCliRasterOptions;

// Opens the command's raster, its first file, and lays the grid of its --grid file over it. The
// grid file is read first, so that a bad one is reported before a large raster is read.
TGridInfo OpenRasterWithGrid(TCliRaster& cli, const TCliRasterOptions& options);

// Finds the crossings of the scan's grid near the grid's nodes and moves the nodes found onto them.
// Unless quiet, prints how many were found and every node that was not, on standard output.
void FindAndPlaceNodes(TRasterManager& raster, TGridInfo& grid, const TCliRasterOptions& options);
