// Any bytes as a file that GDAL reads (built twice: named .tif and named .png, each with a seed
// corpus of its own; GDAL goes by what the bytes are): what the file tells of itself, its rows
// decoded into the raster's own file of rows, every part through the raster manager, the
// conversion of pixels for drawing, pixel access, and a save as TIFF.
#include "FuzzFiles.h"
#include "PartPictures.h"
#include "RasterManagers.h"

#include <QDir>

#include <vector>

namespace {

// Larger pictures only take longer to decode, and fill the temporary folder.
constexpr int64_t kMaxPixels = 1 << 22;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TMemoryFileProvider provider;
  provider.SetBytes(data, size);
  try {
    const std::unique_ptr<TRasterFile> file = OpenRasterFile(&provider, VELMORA_FUZZ_FILE);
    QStringList lines;
    file->GetHeaderInfo(lines);
    file->Format();
    const int width = file->GetWidth();
    const int height = file->GetHeight();
    if (int64_t{width} * height > kMaxPixels) return 0;
    file->GetDibSection(width - 1, height - 1, 1, 1);

    // The cache holds one part: every other part goes through the swap file.
    TRasterManager raster(&provider, TPartCache::PartUnit, nullptr);
    raster.Pictures();
    raster.Open(VELMORA_FUZZ_FILE);
    TRasterPart& corner = *raster.GetPart(0, 0);
    std::vector<uint32_t> converted(static_cast<size_t>(corner.Width()));
    TPixelConverter(raster).ConvertRow(corner.GetRow(0), corner.Width(), converted.data());
    for (const TPoint p : {TPoint{0, 0}, TPoint{width - 1, height - 1}, TPoint{width / 2, 0}})
      raster.SetPixel(p.X, p.Y, raster.GetPixel(p.X, p.Y));
    raster.Save(QDir::temp().filePath(QStringLiteral("velmora-fuzz.tif")),
                {TRasterFormat::Tiff, TTiffCompression::Lzw});
  } catch (const Exception&) {
    // A refused file is a correct answer; only crashes, undefined behaviour and leaks are not.
  }
  return 0;
}
