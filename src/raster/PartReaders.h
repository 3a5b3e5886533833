#pragma once

#include "RasterFiles.h"

#include <cstdint>
#include <memory>
#include <vector>

class TRasterManager;

// A rectangle of a raster whose stored rows are in memory: raster row y starts at
// TopRow + (y - Top) * Stride with the pixel of column Left, which begins a byte.
struct TPixelRegion {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  const uint8_t* TopRow = nullptr;
  int64_t Stride = 0;

  bool Holds(int x, int y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
  const uint8_t* Row(int y) const { return TopRow + (y - Top) * Stride; }
};

// What the readers of one raster share while an operation reads it: the raster, and the rows of
// its source file where the system maps them. Reading touches nothing of the raster or its cache,
// so that readers on several threads may read at once, as long as nobody changes the raster, loads
// or unloads its parts meanwhile.
class TPartReaders {
 public:
  explicit TPartReaders(TRasterManager& raster);

  TRasterManager& Raster() const { return FRaster; }
  // Every pixel is the mapped file's: one region holds the whole raster.
  bool AllMapped() const { return FAllMapped; }
  const TPixelRows& Mapped() const { return FMapped; }
  // Pixels read from the mapped file count only once this has passed afterwards: it raises when
  // the file no longer holds the bytes it had.
  void CheckMapped() const;
  // Lets the system take back the memory of the mapped rows read so far; they are read again from
  // its file cache when needed.
  void ReleaseMapped() const;

 private:
  TRasterManager& FRaster;
  std::shared_ptr<TRasterFile> FFile;
  TPixelRows FMapped;
  bool FAllMapped = false;
};

// One thread's reader: the region of the raster that holds a pixel, from the mapped file, from the
// part's memory, or read from the swap file or the source file into a few parts' worth of memory
// of its own.
class TPartReader {
 public:
  explicit TPartReader(const TPartReaders& readers);

  // The region holding the raster pixel (x, y), valid until the next call. A failed read raises.
  const TPixelRegion& RegionOf(int x, int y) {
    if (!FRegion.Holds(x, y)) Switch(x, y);
    return FRegion;
  }
  // Forgets the region: the raster's parts may have been loaded or unloaded since.
  void Forget() { FRegion = {}; }

 private:
  // Parts read into memory of the reader's own, the least recently used giving way.
  static constexpr size_t kOwnParts = 4;
  struct TOwnPart {
    size_t Index = 0;
    TPixelBuffer Bits;
    uint64_t Used = 0;
  };

  void Switch(int x, int y);
  const uint8_t* OwnBits(size_t index);

  const TPartReaders* FReaders;
  TPixelRegion FRegion;
  std::vector<TOwnPart> FOwn;
  uint64_t FClock = 0;
};
