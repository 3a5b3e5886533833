#pragma once

#include "RasterFiles.h"
#include "WorldFiles.h"

#include <QString>

#include <optional>

class TRasterManager;

// What a BMP save does with the world files of the raster it replaces when the raster saved has
// no place on the map: they go, for they would put the new picture in the old one's place; or
// they stay, when the raster is saved again where it was read from with its pixels where they
// were, so that they still place it right.
enum class TOldWorldFiles { Remove, Keep };

// Saves a raster, placed on the map when it has a placement: a TIFF carries it as a GeoTIFF, a BMP
// gets its world files beside it (TWorldFiles), as one save with the raster.
void SaveOnTheMap(TRasterManager& raster, const QString& fileName, TSaveOptions save,
                  const std::optional<TMapPlacement>& placement,
                  TOldWorldFiles old = TOldWorldFiles::Remove);
