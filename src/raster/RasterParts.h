#pragma once

#include "Geomet.h"
#include "PartCaches.h"
#include "RasterFiles.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class TRasterManager;

// Colour values are 0x00BBGGRR: red in the lowest byte.
inline uint32_t QuadToColour(const uint8_t* quad) {
  return quad[2] | (quad[1] << 8) | (static_cast<uint32_t>(quad[0]) << 16);
}

// A raster's colour table, ready for pixel access in both directions: index to colour for every
// byte value (indices beyond the table read as black), and colour to the first index of the table
// that holds it, through a hash table built once.
class TPaletteLookup {
 public:
  TPaletteLookup();
  // The table's entries as RGBQUADs; at most 256 are taken.
  void Assign(const uint8_t* table, int count);

  int Count() const { return FCount; }
  uint32_t Colour(uint8_t index) const { return FColours[index]; }
  // The first entry equal to the colour, or -1 when the table holds none.
  int IndexOf(uint32_t colour) const {
    if (colour == FLastColour) return FLastIndex;
    return Find(colour);
  }

 private:
  static constexpr int kSlots = 512;
  static unsigned SlotOf(uint32_t colour) { return (colour * 0x9E3779B1u) >> 23; }
  int Find(uint32_t colour) const;

  std::array<uint32_t, 256> FColours;
  std::array<int16_t, kSlots> FSlots;  // index of the entry, -1 for a free slot
  int FCount = 0;
  mutable uint32_t FLastColour;  // the last answer, for runs of one colour
  mutable int FLastIndex;
};

// One rectangular tile of a raster. Its pixels are kept in the file's own format (depth, colour
// table, rows padded to 4 bytes, bottom row first when the raster is bottom-up) and may wait in
// the swap file while it is not loaded; every access to them goes through GetBits.
class TRasterPart {
 public:
  // A part holding the DIB's pixels; the DIB must start at the part's left edge. The DIB's memory
  // is taken over, so the DIB is left without pixels. fromSource: the pixels are those of the
  // manager's stable source file, which can give them again (see FileBacked).
  static std::unique_ptr<TRasterPart> CreateFromDib(TRasterManager* manager, int left, int top,
                                                    int width, int height, TRasterFileDib& dib,
                                                    bool fromSource = false);
  // A part whose pixels are still in the manager's stable source file: not loaded, and read from
  // there when they are needed.
  static std::unique_ptr<TRasterPart> CreateFileBacked(TRasterManager* manager, int left, int top,
                                                       int width, int height);
  // A part with zeroed pixels (colour index 0, or black).
  static std::unique_ptr<TRasterPart> CreateEmpty(TRasterManager* manager, int left, int top,
                                                  int width, int height);
  ~TRasterPart();
  TRasterPart(const TRasterPart&) = delete;
  TRasterPart& operator=(const TRasterPart&) = delete;

  // A copy for another manager with the same header; not modified, never swapped. A part whose
  // pixels are those of the source file is copied without reading them: the copy reads them from
  // the same file when it needs them.
  std::unique_ptr<TRasterPart> Clone(TRasterManager* target);

  TRasterManager* Manager() const { return FManager; }
  int Left() const { return FLeft; }
  int Top() const { return FTop; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int RowSize() const { return FRowSize; }
  int ByteSize() const { return FByteSize; }
  int64_t SwapOffset() const { return FSwapOffset; }
  bool Modified() const { return FModified; }
  // The pixels are still those of the raster's stable source file: unloading them writes nothing,
  // and loading reads them from that file.
  bool FileBacked() const { return FFileBacked; }
  bool Loaded() const { return static_cast<bool>(FBits); }
  // The raster pixels the part covers, in world coordinates.
  TWorldRect GetBounds() const {
    return TWorldRect{double(FLeft), double(FTop), double(FLeft + FWidth), double(FTop + FHeight)};
  }

  // A number no other part of this process ever had: with ChangeCount it names one state of the
  // pixels, for keeping converted pictures of a part while it is unchanged.
  uint64_t Id() const { return FId; }
  // Grows whenever the pixels may change.
  uint32_t ChangeCount() const { return FChangeCount; }

  // The pixels, loaded first when needed. The pointer stays valid until another part of the same
  // manager is loaded or created.
  uint8_t* GetBits() {
    if (FBits && FCache->TouchChangesNothing(this)) return FBits.Data();
    return LoadBits();
  }
  // For callers that write the pixels through GetBits, before another part of the manager is
  // fetched: the part is written back to the swap file when it is unloaded, and its change count
  // grows. An unloaded part is loaded first, so that its pixels are there to be changed.
  void MarkModified() {
    if (!FBits) LoadBits();
    FModified = true;
    FFileBacked = false;
    ++FChangeCount;
  }
  // The pixels for a caller about to write every one of them before reading any: an unloaded
  // part gets zeroed memory instead of its old pixels. The part counts as modified at once.
  uint8_t* GetBitsToOverwrite();
  // The pixels while the part is loaded, null otherwise, touching nothing: for readers on other
  // threads while the manager is left alone.
  const uint8_t* LoadedBits() const { return FBits.Data(); }
  // The stored row that holds raster row y.
  uint8_t* GetRow(int y);
  // The part's values in the raster's shared header: valid until the next header call.
  const uint8_t* GetHeader();

  // Pixel access by raster coordinates inside the part; colours are 0x00BBGGRR.
  uint32_t GetPixel(int x, int y);
  void SetPixel(int x, int y, uint32_t colour);

 private:
  friend class TPartCache;
  friend class TRasterManager;
  TRasterPart(TRasterManager* manager, int left, int top, int width, int height);
  // The part now belongs to the manager, which has taken over its cache (SwapPixels).
  void MoveTo(TRasterManager* manager);
  static std::unique_ptr<TRasterPart> Touched(std::unique_ptr<TRasterPart> part);
  void TakeDib(TRasterFileDib& dib);
  uint8_t* LoadBits();
  uint8_t* PixelRow(int x, int y);

  TRasterManager* FManager;
  TPartCache* FCache;
  TPixelBuffer FBits;
  int FLeft;
  int FTop;
  int FWidth;
  int FHeight;
  int FRowSize;
  int FByteSize;
  int64_t FSwapOffset = -1;
  bool FModified = false;
  bool FFileBacked = false;
  uint32_t FChangeCount = 0;
  uint64_t FId;
};

// The parts of a raster in row-major order, owned.
using TRasterPartList = std::vector<std::unique_ptr<TRasterPart>>;
