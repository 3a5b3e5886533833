#pragma once

#include "CellMaps.h"
#include "PartReaders.h"
#include "PixelCopies.h"

#include <cstdint>
#include <vector>

// One thread's scratch for gathering: its reader of the source, and the source pixels of a run.
struct TGatherState {
  explicit TGatherState(const TPartReaders& readers) : Reader(readers) {}
  TPartReader Reader;
  std::vector<int32_t> Sx, Sy;
};

// Writes the calibrated pixels of runs into stored rows of 1, 4, 8 or 24 bits: each output pixel
// takes the source pixel its run maps it to, read where the source raster's pixels are, as the
// colour index that writing its colour gives; white outside the raster. An index whose colour the
// table lacks raises "Не найден соответствующий цвет в палитре".
//
// Where a run has a line, its source pixels advance by whole steps over long pieces: the offset
// from the step changes only where the line passes the middle between two integers. Such a piece
// is copied as a block, and only its ends are looked at.
class TRunGather {
 public:
  TRunGather(const TPartReaders& readers, const TIndexRemap& remap, int bitsPerPixel)
      : FReaders(readers), FRemap(remap), FBitsPerPixel(bitsPerPixel) {}

  // The run's pixels into the stored row, the run's first one at the column.
  void Write(TGatherState& state, const TCellRun& run, uint8_t* row, int column) const;

 private:
  template <int Bits>
  void WriteRun(TGatherState& state, const TCellRun& run, uint8_t* row, int column) const;
  template <int Bits>
  void WriteLine(TGatherState& state, const TCellRun& run, uint8_t* row, int column) const;
  // Asks memory for the source pixels along the line, so that it fetches them together instead
  // of one miss after another.
  template <int Bits>
  void Prefetch(TGatherState& state, const TSourceLine& line, int count) const;
  // count pixels from the source row sy, from column sx on, to the row from column on; white
  // where they lie outside the raster.
  template <int Bits>
  void WriteSpan(TGatherState& state, uint8_t* row, int column, int count, int32_t sx,
                 int32_t sy) const;
  // One pixel from the source pixel (sx, sy), or white for sx = TCellMaps::kOutside.
  template <int Bits>
  void WritePixel(TGatherState& state, uint8_t* row, int column, int32_t sx, int32_t sy) const;
  // The pixels of the run one by one from their source pixels in state.Sx and state.Sy.
  template <int Bits>
  void WriteMapped(TGatherState& state, uint8_t* row, int column, int count) const;
  template <int Bits>
  void WriteWhite(uint8_t* row, int column, int count) const;

  const TPartReaders& FReaders;
  const TIndexRemap& FRemap;
  int FBitsPerPixel;
};
