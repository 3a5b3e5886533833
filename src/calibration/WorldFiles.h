#pragma once

#include "GridInfo.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class TReplacementFile;

// Where a raster lies on the map: the geotransform of its pixels (see MapGeoTransform) and the
// CRS, as FindCoordinateSystem accepts it.
struct TMapPlacement {
  TGeoTransform Transform{};
  QString Crs;
};

// The place on the map of a raster that lies on the grid's lattice (calibrated on it), when the
// grid has map coordinates.
std::optional<TMapPlacement> GridPlacement(const TGridInfo& grid);

// The files beside a BMP by which GIS programs place it on the map: the world file (NAME.bpw, and
// NAME.wld, which more programs look for), the CRS as ESRI's WKT (NAME.prj), and the CRS once more
// for the programs built on GDAL (NAME.bmp.aux.xml), which read no .prj beside a BMP.
//
// They go with a save of the raster as one: made before the raster is written and put in place
// after it, so that a file that cannot be written stops the save before the raster changes. A BMP
// saved with no place on the map takes with it the files that placed the raster it replaces, which
// would put the new picture in the old one's place: NAME.bpw and NAME.bmp.aux.xml, named after it
// alone, and NAME.wld and NAME.prj when a NAME.bpw shows that they were written with it (alone
// they may belong to another raster of the same name, NAME.tif say, and stay).
class TWorldFiles {
 public:
  // With a placement, writes the files under temporary names; without one, looks for the files
  // to remove.
  TWorldFiles(const QString& rasterFileName, const std::optional<TMapPlacement>& placement);
  ~TWorldFiles();
  TWorldFiles(const TWorldFiles&) = delete;
  TWorldFiles& operator=(const TWorldFiles&) = delete;

  // Once the raster is saved: the files take their names, or the old ones go.
  void Commit();
  // The old files that Commit removes.
  const QStringList& Stale() const { return FStale; }

 private:
  std::vector<std::unique_ptr<TReplacementFile>> FFiles;
  QStringList FStale;
};

// The names of the files, in the order the class writes them.
QStringList WorldFileNames(const QString& rasterFileName);
