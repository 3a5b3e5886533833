#include "GdalSamples.h"

#include "GdalLibrary.h"

#include <cstring>

bool ReadSamples(TGdalDataset dataset, const TGdalLayout& layout, int x, int y, int width,
                 int height, uint8_t* rows, int64_t stride, std::vector<uint8_t>& scratch) {
  const auto ds = static_cast<GDALDatasetH>(dataset);
  const int bands = layout.BitsPerPixel == 24 ? 3 : 1;
  // The bands whose samples make a pixel, in the order a DIB stores them: blue, green, red.
  int bandMap[] = {bands == 3 ? 3 : 1, 2, 1};
  if (layout.SampleBits == 8 && !layout.Scaled && layout.BitsPerPixel != 1)
    // Straight into the rows: GDAL interleaves the bands as asked.
    return Gdal().GDALDatasetRasterIO(ds, GF_Read, x, y, width, height, rows, width, height,
                                      GDT_Byte, bands, bandMap, bands, stride, 1) == CE_None;
  const int sampleBytes = layout.SampleBits / 8;
  const int64_t line = int64_t{width} * bands * sampleBytes;
  scratch.resize(static_cast<size_t>(line * height));
  if (Gdal().GDALDatasetRasterIO(ds, GF_Read, x, y, width, height, scratch.data(), width, height,
                                 sampleBytes == 1 ? GDT_Byte : GDT_UInt16, bands, bandMap,
                                 bands * sampleBytes, line, sampleBytes) != CE_None)
    return false;
  for (int j = 0; j < height; ++j) {
    uint8_t* row = rows + j * stride;
    const uint8_t* in = scratch.data() + j * line;
    if (layout.BitsPerPixel == 1) {
      // The most significant bit is the leftmost pixel.
      std::memset(row, 0, static_cast<size_t>((width + 7) / 8));
      for (int i = 0; i < width; ++i)
        if (in[i]) row[i >> 3] |= static_cast<uint8_t>(0x80 >> (i & 7));
      continue;
    }
    const int64_t count = int64_t{width} * bands;
    for (int64_t i = 0; i < count; ++i) {
      uint16_t sample = in[i];
      if (sampleBytes == 2) std::memcpy(&sample, in + 2 * i, sizeof sample);
      row[i] = layout.Scaled ? ScaledSample(sample, layout.SignificantBits)
                             : static_cast<uint8_t>(sample);
    }
  }
  return true;
}
