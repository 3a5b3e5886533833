// Any bytes as a BMP file the user opens: the header reader, the colour table, the rows of every
// part through the raster manager, the conversion of pixels for drawing, and pixel access.
#include "FuzzFiles.h"
#include "PartPictures.h"
#include "RasterManagers.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TMemoryFileProvider provider;
  provider.SetBytes(data, size);
  try {
    const std::unique_ptr<TRasterFile> file = OpenRasterFile(&provider, "fuzz.bmp");
    QStringList lines;
    file->GetHeaderInfo(lines);
    const int width = file->GetWidth();
    const int height = file->GetHeight();
    file->GetDibSection(width - 1, height - 1, 1, 1);

    // The cache holds one part: every other part goes through the swap file.
    TRasterManager raster(&provider, TPartCache::PartUnit, nullptr);
    raster.Open("fuzz.bmp");
    // Drawing's conversion of the stored pixels, bit fields of the file's choosing included.
    TRasterPart& corner = *raster.GetPart(0, 0);
    std::vector<uint32_t> converted(static_cast<size_t>(corner.Width()));
    TPixelConverter(raster).ConvertRow(corner.GetRow(0), corner.Width(), converted.data());
    for (const TPoint p : {TPoint{0, 0}, TPoint{width - 1, 0}, TPoint{0, height - 1},
                           TPoint{width - 1, height - 1}, TPoint{width / 2, height / 2}}) {
      try {
        raster.SetPixel(p.X, p.Y, raster.GetPixel(p.X, p.Y));
      } catch (const Exception&) {
        // Depths without pixel access refuse it.
      }
    }
  } catch (const Exception&) {
    // A refused file is a correct answer; only crashes, undefined behaviour and leaks are not.
  }
  return 0;
}
