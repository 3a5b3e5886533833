#pragma once

#include "GridInfo.h"

#include <QString>

#include <vector>

// A point of the scan whose map coordinates are known: for a georeferencer that warps the scan
// itself. Pixel coordinates run from the raster's top-left corner, x to the right, y down.
struct TGroundControlPoint {
  double PixelX = 0;
  double PixelY = 0;
  double MapX = 0;
  double MapY = 0;
};

// Every node of a grid with map coordinates: the centre of the pixel the node stands on (where
// the user or the search put it) and the node's place on the map.
std::vector<TGroundControlPoint> GridControlPoints(const TGridInfo& grid);

// Writes the points as QGIS's georeferencer saves and loads them (a .points file): the CRS as a
// comment line, then a line "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual" and a line a point,
// with the pixel's y negated as the georeferencer counts it. Written under a temporary name that
// then takes the target's.
void WriteQgisPoints(const QString& fileName, const std::vector<TGroundControlPoint>& points,
                     const QString& crs);
