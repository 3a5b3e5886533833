#include "PartReaders.h"

#include "RasterManagers.h"

#include <algorithm>

TPartReaders::TPartReaders(TRasterManager& raster) : FRaster(raster), FFile(raster.Source()) {
  if (FFile) FMapped = FFile->MappedRows();
  FAllMapped = static_cast<bool>(FMapped);
  for (const std::unique_ptr<TRasterPart>& part : raster.Parts())
    FAllMapped = FAllMapped && part->FileBacked();
}

void TPartReaders::CheckMapped() const {
  if (FMapped) FFile->CheckMappedRows();
}

void TPartReaders::ReleaseMapped() const {
  if (FMapped) FFile->ReleaseMappedRows();
}

TPartReader::TPartReader(const TPartReaders& readers) : FReaders(&readers) {}

void TPartReader::Switch(int x, int y) {
  const TRasterManager& raster = FReaders->Raster();
  const TPixelRows& mapped = FReaders->Mapped();
  if (FReaders->AllMapped()) {
    FRegion = {0, 0, raster.Width(), raster.Height(), mapped.Row(0), mapped.Stride};
    return;
  }
  const int side = raster.Side();
  const size_t index = static_cast<size_t>(x / side) +
                       static_cast<size_t>(y / side) * static_cast<size_t>(raster.PartsAcross());
  const TRasterPart& part = *raster.Parts()[index];
  FRegion = {};
  const uint8_t* bits = nullptr;
  if (mapped && part.FileBacked()) {
    // Part lefts are whole bytes of a row at every depth.
    FRegion.TopRow = mapped.Row(part.Top()) + int64_t{part.Left()} * raster.BitsPerPixel() / 8;
    FRegion.Stride = mapped.Stride;
  } else {
    bits = part.LoadedBits();
    if (!bits) bits = OwnBits(index);
    const int rowSize = part.RowSize();
    // Bottom-up parts store their bottom row first.
    FRegion.TopRow =
        raster.BottomUp() ? bits + static_cast<ptrdiff_t>(part.Height() - 1) * rowSize : bits;
    FRegion.Stride = raster.BottomUp() ? -rowSize : rowSize;
  }
  FRegion.Left = part.Left();
  FRegion.Top = part.Top();
  FRegion.Right = part.Left() + part.Width();
  FRegion.Bottom = part.Top() + part.Height();
}

const uint8_t* TPartReader::OwnBits(size_t index) {
  auto it = std::find_if(FOwn.begin(), FOwn.end(),
                         [&](const TOwnPart& p) { return p.Index == index && p.Bits; });
  if (it == FOwn.end()) {
    if (FOwn.size() < kOwnParts)
      it = FOwn.emplace(FOwn.end());
    else
      it = std::min_element(FOwn.begin(), FOwn.end(),
                            [](const TOwnPart& a, const TOwnPart& b) { return a.Used < b.Used; });
    TRasterManager& raster = FReaders->Raster();
    const TRasterPart& part = *raster.Parts()[index];
    it->Index = index;
    it->Bits = TPixelBuffer(part.ByteSize(), TPixelBuffer::TFill::Uninitialised);
    try {
      raster.Cache().ReadPixels(part, it->Bits.Data());
    } catch (...) {
      it->Bits.Reset();
      throw;
    }
  }
  it->Used = ++FClock;
  return it->Bits.Data();
}
