#pragma once

#include "RasterFiles.h"
#include "Streams.h"

#include <QString>

class TRasterManager;

// Writes the raster as a TIFF through GDAL into the stream, a file that a save has prepared:
// tiles of 256 × 256, compressed as asked, BigTIFF where the pixels could pass 4 GB, with the
// raster's resolution. 1-, 4- and 8-bit rasters keep their colour table (greys in order are
// written as greys), 24-bit ones are RGB, and 16- and 32-bit ones are written as RGB too.
// Reports "Сохранение растра..." with its percentage; fileName names the target in errors.
void WriteTiff(TRasterManager& raster, THandleStream& stream, const QString& fileName,
               TTiffCompression compression);

// What a TIFF written so is, for the user.
TRasterFileFormat WrittenTiffFormat(TTiffCompression compression, int bitsPerPixel);
