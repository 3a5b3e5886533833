#pragma once

#include "CellMaps.h"
#include "GridInfo.h"

#include <QString>

#include <memory>
#include <optional>

class TRasterManager;
class TRowSource;

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

// Cuts the raster to the frame of the whole reference lattice, from the pixel of its first node to
// that of its last, both kept, and moves the grid with the picture: the lattice and every node,
// moved or not, keep their places on it. False when there was nothing to cut.
bool ClipRasterToGridFrame(TRasterManager& raster, TGridInfo& grid);

// What a clip to the grid keeps (right and bottom exclusive), and the grid on the clipped picture.
struct TGridClip {
  TRect Rect;
  TGridInfo Grid;
};
// The clip of ClipRasterToGrid and that of ClipRasterToGridFrame, worked out beforehand.
TGridClip FirstCellClip(const TGridInfo& grid);
TGridClip FrameClip(const TGridInfo& grid);

// The rows that SaveCalibratedRaster writes, for a caller that writes them itself: the raster
// calibrated, and clipped to the rectangle as Clip would when one is given, made band by band
// from the raster as it is, which must not change meanwhile. A depth without colour access is
// refused when anything would change.
std::unique_ptr<TRowSource> CalibratedRows(TRasterManager& raster, const TGridInfo& grid,
                                           const std::optional<TRect>& clip);

// Saves the raster as CalibrateRaster, then Clip with the rectangle when one is given, then Save
// would leave the file, byte for byte, while the raster and the grid stay as they are: the
// calibrated pixels go from the mapping straight into the file, band by band, and the system
// writes each band to the disk while the next is made. Reports "Калибровка..." with the rows
// written. Errors are those of the three steps; the file is then as it was.
void SaveCalibratedRaster(TRasterManager& raster, const TGridInfo& grid,
                          const std::optional<TRect>& clip, const QString& fileName);
