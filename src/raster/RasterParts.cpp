#include "RasterParts.h"

#include "PixelCopies.h"
#include "RasterManagers.h"
#include "RecArrays.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

std::atomic<uint64_t> GNextPartId{1};

[[noreturn]] void RaiseUnsupportedDepth() {
  throw Exception(QStringLiteral("Неподдерживаемое количество битов на цвет"));
}

}  // namespace

TPaletteLookup::TPaletteLookup() {
  Assign(nullptr, 0);
}

void TPaletteLookup::Assign(const uint8_t* table, int count) {
  FColours.fill(0);
  FSlots.fill(-1);
  FCount = std::clamp(count, 0, 256);
  for (int i = 0; i < FCount; ++i) {
    const uint32_t colour = QuadToColour(table + 4 * i);
    FColours[i] = colour;
    unsigned slot = SlotOf(colour);
    while (FSlots[slot] >= 0 && FColours[FSlots[slot]] != colour) slot = (slot + 1) % kSlots;
    if (FSlots[slot] < 0) FSlots[slot] = static_cast<int16_t>(i);  // the first equal entry wins
  }
  // No entry has a non-zero top byte, so this colour is never asked for with another answer.
  FLastColour = 0xFFFFFFFFu;
  FLastIndex = -1;
}

int TPaletteLookup::Find(uint32_t colour) const {
  unsigned slot = SlotOf(colour);
  int index;
  while ((index = FSlots[slot]) >= 0 && FColours[index] != colour) slot = (slot + 1) % kSlots;
  FLastColour = colour;
  FLastIndex = index;
  return index;
}

TRasterPart::TRasterPart(TRasterManager* manager, int left, int top, int width, int height)
    : FManager(manager),
      FCache(&manager->Cache()),
      FLeft(left),
      FTop(top),
      FWidth(width),
      FHeight(height),
      FRowSize(static_cast<int>(DibRowSize(width, manager->BitsPerPixel()))),
      FByteSize(FRowSize * height),
      FId(GNextPartId.fetch_add(1, std::memory_order_relaxed)) {}

TRasterPart::~TRasterPart() {
  FCache->Forget(this);
}

void TRasterPart::MoveTo(TRasterManager* manager) {
  FManager = manager;
  FCache = &manager->Cache();
}

std::unique_ptr<TRasterPart> TRasterPart::Touched(std::unique_ptr<TRasterPart> part) {
  part->FCache->PixelsAvailable(*part);
  // Should the touch fail (the swap file full), the part is destroyed and leaves the list again.
  part->FCache->Touch(part.get());
  return part;
}

std::unique_ptr<TRasterPart> TRasterPart::CreateFromDib(TRasterManager* manager, int left, int top,
                                                        int width, int height, TRasterFileDib& dib,
                                                        bool fromSource) {
  std::unique_ptr<TRasterPart> part(new TRasterPart(manager, left, top, width, height));
  part->TakeDib(dib);
  part->FFileBacked = fromSource;
  return Touched(std::move(part));
}

void TRasterPart::TakeDib(TRasterFileDib& dib) {
  CheckInternal(dib.PixelOffset == 0 && dib.ImageSize == FByteSize && dib.Bits,
                QStringLiteral("TRasterPart.CreateFromDib"),
                QStringLiteral("DIB не совпадает с частью растра"));
  FBits = std::move(dib.Bits);
}

std::unique_ptr<TRasterPart> TRasterPart::CreateEmpty(TRasterManager* manager, int left, int top,
                                                      int width, int height) {
  std::unique_ptr<TRasterPart> part(new TRasterPart(manager, left, top, width, height));
  part->FBits = TPixelBuffer(part->FByteSize);
  return Touched(std::move(part));
}

std::unique_ptr<TRasterPart> TRasterPart::CreateFileBacked(TRasterManager* manager, int left,
                                                           int top, int width, int height) {
  std::unique_ptr<TRasterPart> part(new TRasterPart(manager, left, top, width, height));
  part->FFileBacked = true;
  return part;
}

std::unique_ptr<TRasterPart> TRasterPart::Clone(TRasterManager* target) {
  if (FFileBacked && !FBits) return CreateFileBacked(target, FLeft, FTop, FWidth, FHeight);
  TRasterFileDib dib;
  dib.Bits = TPixelBuffer(FByteSize, TPixelBuffer::TFill::Uninitialised);
  dib.ImageSize = FByteSize;
  std::memcpy(dib.Bits.Data(), GetBits(), FByteSize);
  return CreateFromDib(target, FLeft, FTop, FWidth, FHeight, dib, FFileBacked);
}

uint8_t* TRasterPart::LoadBits() {
  FCache->Load(*this);
  return FBits.Data();
}

uint8_t* TRasterPart::GetBitsToOverwrite() {
  if (!FBits) FCache->LoadZeroed(*this);
  uint8_t* bits = GetBits();
  MarkModified();
  return bits;
}

uint8_t* TRasterPart::GetRow(int y) {
  if (static_cast<unsigned>(y - FTop) >= static_cast<unsigned>(FHeight))
    TRasterManager::RaisePointOutside(FLeft, y);
  const int row = FManager->BottomUp() ? FTop + FHeight - 1 - y : y - FTop;
  return GetBits() + static_cast<ptrdiff_t>(row) * FRowSize;
}

uint8_t* TRasterPart::PixelRow(int x, int y) {
  if (static_cast<unsigned>(x - FLeft) >= static_cast<unsigned>(FWidth))
    TRasterManager::RaisePointOutside(x, y);
  if (static_cast<unsigned>(y - FTop) >= static_cast<unsigned>(FHeight))
    TRasterManager::RaisePointOutside(x, y);
  return GetRow(y);
}

const uint8_t* TRasterPart::GetHeader() {
  uint8_t* header = FManager->HeaderData();
  TBitmapInfoHeader* info = InfoHeaderOf(header);
  info->biWidth = FWidth;
  info->biHeight = FManager->BottomUp() ? FHeight : -FHeight;
  info->biSizeImage = static_cast<uint32_t>(FByteSize);
  return header;
}

uint32_t TRasterPart::GetPixel(int x, int y) {
  const int bpp = FManager->BitsPerPixel();
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24) RaiseUnsupportedDepth();
  const uint8_t* row = PixelRow(x, y);
  const int c = x - FLeft;
  const TPaletteLookup& palette = FManager->Palette();
  switch (bpp) {
    case 1:
      return palette.Colour((row[c >> 3] >> (7 - (c & 7))) & 1);
    case 4:
      return palette.Colour(c & 1 ? row[c >> 1] & 0x0F : row[c >> 1] >> 4);
    case 8:
      return palette.Colour(row[c]);
    default:
      return QuadToColour(row + 3 * c);
  }
}

void TRasterPart::SetPixel(int x, int y, uint32_t colour) {
  const int bpp = FManager->BitsPerPixel();
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24) RaiseUnsupportedDepth();
  uint8_t* row = PixelRow(x, y);
  const int c = x - FLeft;
  const TPaletteLookup& palette = FManager->Palette();
  switch (bpp) {
    case 1: {
      // Only entry 0 is compared: every other colour sets the bit.
      const uint8_t bit = static_cast<uint8_t>(0x80 >> (c & 7));
      if (palette.Count() > 0 && colour == palette.Colour(0))
        row[c >> 3] &= static_cast<uint8_t>(~bit);
      else
        row[c >> 3] |= bit;
      break;
    }
    case 4: {
      const int index = palette.IndexOf(colour);
      if (index < 0) RaiseColourNotFound();
      uint8_t& byte = row[c >> 1];
      byte = c & 1 ? static_cast<uint8_t>((byte & 0xF0) | index)
                   : static_cast<uint8_t>((byte & 0x0F) | (index << 4));
      break;
    }
    case 8: {
      const int index = palette.IndexOf(colour);
      if (index < 0) RaiseColourNotFound();
      row[c] = static_cast<uint8_t>(index);
      break;
    }
    default: {
      uint8_t* pixel = row + 3 * c;
      pixel[0] = static_cast<uint8_t>(colour >> 16);
      pixel[1] = static_cast<uint8_t>(colour >> 8);
      pixel[2] = static_cast<uint8_t>(colour);
      break;
    }
  }
  MarkModified();
}
