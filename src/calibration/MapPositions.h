#pragma once

#include "Geomet.h"
#include "GridInfo.h"

#include <optional>

// Where a point of the scan comes to lie once the scan is calibrated on the grid: the inverse of
// the calibration's cell mapping. Calibration gives output pixel (x, y) the colour of the scan's
// pixel nearest to the mapped corner of (x, y), so the middle of that scan pixel comes to the
// middle of (x, y); a node's pixel comes to its reference pixel. Points outside the grid go
// through the border cells' mapping, extended outwards as the calibration extends it. None where
// no cell takes the point (a folded grid, a point that the extended border cells miss) or the
// cells have no size.
std::optional<TWorldPoint> LatticePosition(const TGridInfo& grid, const TWorldPoint& scan);

// The map coordinates (easting, northing) of a raster point through a geotransform.
TWorldPoint MapPosition(const TGeoTransform& transform, const TWorldPoint& point);
