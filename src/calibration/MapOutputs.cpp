#include "MapOutputs.h"

#include "CoordinateSystems.h"
#include "RasterManagers.h"

void SaveOnTheMap(TRasterManager& raster, const QString& fileName, TSaveOptions save,
                  const std::optional<TMapPlacement>& placement, TOldWorldFiles old) {
  if (placement && save.Format == TRasterFormat::Tiff)
    save.Georeference = TGeoReference{
        placement->Transform, {}, CoordinateSystemWkt(placement->Crs, TWktDialect::Standard)};
  std::optional<TWorldFiles> world;
  if (save.Format == TRasterFormat::Bmp && (placement || old == TOldWorldFiles::Remove))
    world.emplace(fileName, placement);
  raster.Save(fileName, save);
  if (world) world->Commit();
}
