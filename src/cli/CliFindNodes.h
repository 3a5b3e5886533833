#pragma once

#include "GridInfo.h"
#include "RasterFiles.h"

class TCliRaster;
class TRasterManager;
struct TCliRasterOptions;

// Opens the command's raster, its first file, and lays the grid of its --grid file over it. The
// grid file is read first, so that a bad one is reported before a large raster is read.
TGridInfo OpenRasterWithGrid(TCliRaster& cli, const TCliRasterOptions& options);

// Finds the crossings of the scan's grid near the grid's nodes and moves the nodes found onto them.
// Unless quiet, prints how many were found and every node that was not, on standard output.
void FindAndPlaceNodes(TRasterManager& raster, TGridInfo& grid, const TCliRasterOptions& options);

// Saves a calibrated raster placed on the map when the grid has map coordinates: the picture is
// regular in the sheet's centimetres, so one affine transform places it. A TIFF carries it as a
// GeoTIFF; a BMP gets its world files beside it.
void SaveOnTheMap(TRasterManager& raster, const TGridInfo& grid, const QString& fileName,
                  TSaveOptions save);
