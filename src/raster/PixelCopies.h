#pragma once

#include <array>
#include <cstdint>

class TPaletteLookup;

// The colour indices of an indexed raster as writing their colours back through SetPixel leaves
// them: each index's colour goes to the first entry of the table that holds it (at 1 bit, entry 0
// or else 1), -1 where the table lacks it (an index beyond the table reads as black). Moving pixels
// through their colours is then a lookup per pixel, or nothing where every index stays.
class TIndexRemap {
 public:
  TIndexRemap(const TPaletteLookup& palette, int bitsPerPixel);

  const int16_t* Table() const { return FTable.data(); }
  // The index that white is written as, -1 when the table lacks it.
  int16_t White() const { return FWhite; }
  // Every index of the depth is written as itself.
  bool Identity() const { return FIdentity; }

 private:
  std::array<int16_t, 256> FTable{};
  int16_t FWhite = -1;
  bool FIdentity = true;
};

[[noreturn]] void RaiseColourNotFound();

// Copies count pixels of a stored row of a raster of the depth, from column fromColumn on, into a
// stored row from column toColumn on, changing no other pixel of the target. Through the remap the
// indices of 1, 4 and 8 bits move as their colours would; without one, and at other depths, the
// pixels stay as they are.
// An index whose colour the table lacks raises "Не найден соответствующий цвет в палитре", with
// the target's pixels before it written.
void CopyPixels(int bitsPerPixel, const uint8_t* from, int fromColumn, uint8_t* to, int toColumn,
                int count, const TIndexRemap* remap);
