#pragma once

#include <cstdint>
#include <vector>

// A GDAL dataset; an opaque handle, so that users of this header need no GDAL headers.
using TGdalDataset = void*;

// How the samples a GDAL dataset holds become stored rows of a DIB: 1-bit rows from samples 0
// and 1, 8-bit rows from one sample per pixel, 24-bit rows (blue, green, red) from the first three
// samples. Samples that are intensities of another depth are scaled to 8 bits over their
// significant range; samples that are colour indices are kept.
struct TGdalLayout {
  int BitsPerPixel = 8;     // of the rows made: 1, 8 or 24
  int SampleBits = 8;       // of the samples read: 8 or 16
  int SignificantBits = 8;  // values run from 0 to 2^SignificantBits - 1
  bool Scaled = false;      // whether the samples are scaled to 8 bits
};

// Reads the rectangle of the dataset into DIB rows, top row first, stride bytes apart, the
// rectangle's left column at the start of each row. The padding after a row's pixels is left
// alone. scratch is
// memory for samples that need converting. False when GDAL failed (its message is left).
bool ReadSamples(TGdalDataset dataset, const TGdalLayout& layout, int x, int y, int width,
                 int height, uint8_t* rows, int64_t stride, std::vector<uint8_t>& scratch);

// The 8-bit value of a sample of significantBits bits, rounded to nearest; beyond the range white.
inline uint8_t ScaledSample(uint32_t value, int significantBits) {
  const uint32_t max = (uint32_t{1} << significantBits) - 1;
  if (value >= max) return 255;
  return static_cast<uint8_t>((value * 255 + max / 2) / max);
}
