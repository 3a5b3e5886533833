#pragma once

#include "GridInfo.h"
#include "RasterFiles.h"

#include <QString>

class TRasterManager;

// Saves a calibrated raster placed on the map when the grid has map coordinates: the picture is
// regular in the sheet's centimetres, so one affine transform places it. A TIFF carries it as a
// GeoTIFF; a BMP gets its world files beside it.
void SaveOnTheMap(TRasterManager& raster, const TGridInfo& grid, const QString& fileName,
                  TSaveOptions save);
