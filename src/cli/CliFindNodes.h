#pragma once

#include "GridInfo.h"

class TRasterManager;
struct TCliRasterOptions;

// Finds the crossings of the scan's grid near the grid's nodes and moves the nodes found onto them.
// Unless quiet, prints how many were found and every node that was not, on standard output.
void FindAndPlaceNodes(TRasterManager& raster, TGridInfo& grid, const TCliRasterOptions& options);
