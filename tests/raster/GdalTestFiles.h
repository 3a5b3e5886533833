#pragma once

#include "GdalFiles.h"
#include "RasterTestUtils.h"

#include <QSize>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

// Files of the formats GDAL reads, written and read with GDAL itself, independently of the code
// under test.

// A hash of a position, for pictures of noise that every misplaced pixel shows in.
inline uint32_t NoiseHash(int x, int y) {
  uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return h ^ (h >> 15);
}

// A local provider with every format registered; an unstable one cannot keep files as they are.
class TAllFormatsProvider : public TBmpProvider {
 public:
  explicit TAllFormatsProvider(bool stable = true) : TBmpProvider(stable) {
    RegisterGdalFormats(this);
  }
};

// Writes the layout's pixels through the GDAL driver with its creation options: 1, 4 and 8 bits as
// one band with the layout's palette as colour table (none with greys: then the samples are the
// indices themselves), 24 bits as red, green and blue. The layout's resolution goes into the TIFF
// tags, in dots per inch.
void WriteGdalFile(const QString& fileName, const char* driver, const TBmpLayout& layout,
                   const QStringList& options = {}, bool greys = false);

// Writes samples of 8 or 16 bits (or 32-bit floating point) in bands as GTiff's creation options
// make of them.
void WriteGdalSamples(const QString& fileName, int width, int height, int bands, int bits,
                      const std::function<uint16_t(int x, int y, int band)>& sample,
                      const QStringList& options = {});

// Writes a document of PDF pages through GDAL, each page one of the rasters at 72 dots per inch.
void WritePdfPages(const QString& fileName, const QStringList& rasters);

// The pixels GDAL decodes from the file (a JPEG, a drawn PDF page) as a layout of 8 bits with the
// file's colour table or greys, or of 24 bits: the same pixels as a BMP.
TBmpLayout DecodeWithGdal(const QString& fileName, const QStringList& openOptions = {});

// A BigTIFF of uncompressed 24-bit tiles, pixel(x, y) giving 0x00BBGGRR, whose tiles lie past
// 5 GiB after a hole: a file larger than 4 GiB that the disk barely notices.
void WriteSparseBigTiff(const QString& fileName, int width, int height, int tileSide,
                        const std::function<uint32_t(int x, int y)>& pixel);

// The path's pixels as GDAL decodes them, one 0x00BBGGRR colour per pixel (through the colour
// table where there is one); and the file's metadata item, "" when none.
std::vector<uint32_t> GdalColours(const QString& fileName);
QString GdalMetadata(const QString& fileName, const char* item, const char* domain = nullptr);
// The size of the blocks GDAL reads the file's first band in.
QSize GdalBlockSize(const QString& fileName);
// The file's size in pixels as GDAL reads it.
QSize GdalSize(const QString& fileName);
// Where GDAL places the file on the map (from inside the file or from the files beside it): the
// geotransform, none without one, and whether its CRS is the one of that EPSG code.
std::optional<std::array<double, 6>> GdalGeoTransform(const QString& fileName);
bool GdalCrsIs(const QString& fileName, int epsg);
