#include "CliMapOutputs.h"

#include "CoordinateSystems.h"
#include "RasterManagers.h"
#include "WorldFiles.h"

void SaveOnTheMap(TRasterManager& raster, const TGridInfo& grid, const QString& fileName,
                  TSaveOptions save) {
  if (grid.Map && save.Format == TRasterFormat::Tiff)
    save.Georeference = TGeoReference{
        MapGeoTransform(grid), {}, CoordinateSystemWkt(grid.Map->Crs, TWktDialect::Standard)};
  raster.Save(fileName, save);
  if (grid.Map && save.Format == TRasterFormat::Bmp)
    WriteWorldFiles(fileName, MapGeoTransform(grid), grid.Map->Crs);
}
