#include "PixelCopies.h"

#include "RasterParts.h"
#include "RecArrays.h"

#include <cstring>

TIndexRemap::TIndexRemap(const TPaletteLookup& palette, int bitsPerPixel) {
  if (bitsPerPixel > 8) return;
  auto indexOf = [&](uint32_t colour) -> int16_t {
    // A 1-bit pixel compares with entry 0 only: any other colour sets the bit.
    if (bitsPerPixel == 1) return palette.Count() > 0 && colour == palette.Colour(0) ? 0 : 1;
    return static_cast<int16_t>(palette.IndexOf(colour));
  };
  for (int i = 0; i < (1 << bitsPerPixel); ++i) {
    FTable[static_cast<size_t>(i)] = indexOf(palette.Colour(static_cast<uint8_t>(i)));
    FIdentity = FIdentity && FTable[static_cast<size_t>(i)] == i;
  }
  FWhite = indexOf(0xFFFFFF);
}

void RaiseColourNotFound() {
  throw Exception(QStringLiteral("Не найден соответствующий цвет в палитре"));
}

namespace {

int IndexAt(const uint8_t* row, int column, int bitsPerPixel) {
  if (bitsPerPixel == 4) return column & 1 ? row[column >> 1] & 0x0F : row[column >> 1] >> 4;
  return (row[column >> 3] >> (7 - (column & 7))) & 1;
}

void SetIndexAt(uint8_t* row, int column, int bitsPerPixel, int index) {
  if (bitsPerPixel == 4) {
    uint8_t& byte = row[column >> 1];
    byte = column & 1 ? static_cast<uint8_t>((byte & 0xF0) | index)
                      : static_cast<uint8_t>((byte & 0x0F) | (index << 4));
    return;
  }
  const uint8_t bit = static_cast<uint8_t>(0x80 >> (column & 7));
  row[column >> 3] = index ? (row[column >> 3] | bit) : (row[column >> 3] & ~bit);
}

// Pixels of less than a byte each, one by one; as they are where the pixels of a byte line up in
// both rows, whole bytes at once.
void CopySmallPixels(int bitsPerPixel, const uint8_t* from, int fromColumn, uint8_t* to,
                     int toColumn, int count, const int16_t* table) {
  const int perByte = 8 / bitsPerPixel;
  int k = 0;
  const auto one = [&](int k) {
    int index = IndexAt(from, fromColumn + k, bitsPerPixel);
    if (table && (index = table[index]) < 0) RaiseColourNotFound();
    SetIndexAt(to, toColumn + k, bitsPerPixel, index);
  };
  if (!table && fromColumn % perByte == toColumn % perByte) {
    for (; k < count && (fromColumn + k) % perByte != 0; ++k) one(k);
    const int bytes = (count - k) / perByte;
    std::memcpy(to + (toColumn + k) / perByte, from + (fromColumn + k) / perByte,
                static_cast<size_t>(bytes));
    k += bytes * perByte;
  }
  for (; k < count; ++k) one(k);
}

}  // namespace

void CopyPixels(int bitsPerPixel, const uint8_t* from, int fromColumn, uint8_t* to, int toColumn,
                int count, const TIndexRemap* remap) {
  const int16_t* table = remap && !remap->Identity() ? remap->Table() : nullptr;
  if (bitsPerPixel % 8 == 0 && !table) {
    const int64_t bytes = bitsPerPixel / 8;
    std::memcpy(to + bytes * toColumn, from + bytes * fromColumn,
                static_cast<size_t>(bytes * count));
  } else if (bitsPerPixel == 8) {
    for (int k = 0; k < count; ++k) {
      const int index = table[from[fromColumn + k]];
      if (index < 0) RaiseColourNotFound();
      to[toColumn + k] = static_cast<uint8_t>(index);
    }
  } else {
    CopySmallPixels(bitsPerPixel, from, fromColumn, to, toColumn, count, table);
  }
}
