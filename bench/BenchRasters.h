#pragma once

// What the raster benchmarks share: the header of the square BMP files they write.
#include <QByteArray>

#include <cstdint>

// The 54-byte headers of a bottom-up size × size BMP of the depth, followed by a grey colour table
// of 2^bits entries for indexed depths.
inline QByteArray BenchBmpHeader(int size, int bitsPerPixel) {
  const int entries = bitsPerPixel <= 8 ? 1 << bitsPerPixel : 0;
  const int palette = 4 * entries;
  QByteArray header(54 + palette, '\0');
  auto put = [&](int offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) header[offset + i] = static_cast<char>(value >> (8 * i));
  };
  header[0] = 'B';
  header[1] = 'M';
  put(10, 54 + palette);
  put(14, 40);
  put(18, size);
  put(22, size);
  header[26] = 1;
  header[28] = static_cast<char>(bitsPerPixel);
  for (int i = 0; i < entries; ++i)
    for (int c = 0; c < 3; ++c) header[54 + 4 * i + c] = static_cast<char>(i * 255 / (entries - 1));
  return header;
}
