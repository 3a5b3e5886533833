#pragma once

#include "RasterFiles.h"

#include <QImage>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class TRasterManager;
class TRasterPart;

// Turns stored rows of a raster's pixels, of any depth the files hold, into rows of Format_RGB32
// (0xFFRRGGBB): indexed depths through the colour table (indices beyond it black), 16 and 32 bits
// through their bit fields (5-5-5 and 8-8-8 without them) scaled to 8 bits with rounding.
class TPixelConverter {
 public:
  explicit TPixelConverter(TRasterManager& raster);
  void ConvertRow(const uint8_t* row, int width, uint32_t* out) const;
  // Adds the colours of a row's boxes of 2^m pixels, as sums of channels in 21-bit fields (see
  // Spread), to sums: the first step of reducing a part, without converting the row first.
  void AddRowBoxes(const uint8_t* row, int width, int m, uint64_t* sums) const;
  // The same for the rows y0 .. y1 - 1 of one row of boxes (at most 2^6 rows) together.
  void AddBoxRows(const TPixelRows& rows, int y0, int y1, int width, int m, uint64_t* sums) const;

 private:
  struct TField {
    uint32_t Mask = 0;
    int Shift = 0;
    uint32_t Max = 0;
  };
  // The colour index of pixel x of a row of an indexed depth.
  int Index(const uint8_t* row, int x) const;
  uint32_t FromFields(uint32_t pixel) const;

  int FBitsPerPixel;
  std::array<uint32_t, 256> FPalette{};
  std::array<uint64_t, 256> FSpreadPalette{};
  std::vector<uint64_t> FSpreadUnits;  // indexed pixels by the byte, 8-bit ones by two bytes
  std::array<TField, 3> FFields{};     // red, green, blue
  std::vector<uint32_t> FWords;        // 16-bit pixel to colour
  bool FGrey = false;                  // 8 bits whose index i is the grey (i, i, i)
};

// A picture of one part at one level: level k shows the part reduced 2^k times, each of its
// pixels the average of a 2^k × 2^k box of the part (fewer at the part's right and bottom edges).
struct TPartPicture {
  const QImage* Image = nullptr;
  int Level = 0;
};

// The pictures drawing makes of a raster's parts, kept while the parts are unchanged so that a
// repaint converts nothing again. The reduced copies of the coarse levels (those that together
// stay within a budget of their own) are kept for every part and made whenever a part's pixels
// are read or changed, so that a zoomed-out view never waits for the swap file; the full-size and
// fine levels are made when drawn and kept within a second budget, less recently used ones giving
// way first, though never those of the paint in progress.
class TPartPictures {
 public:
  static constexpr int kMaxLevel = 11;  // parts are at most 1288 pixels across
  static constexpr int64_t kCoarseBudget = 16 << 20;
  static constexpr int64_t kFineBudget = 64 << 20;

  explicit TPartPictures(TRasterManager& raster, int64_t coarseBudget = kCoarseBudget,
                         int64_t fineBudget = kFineBudget);
  ~TPartPictures();
  TPartPictures(const TPartPictures&) = delete;
  TPartPictures& operator=(const TPartPictures&) = delete;

  // The level to draw at a scale of device pixels per raster pixel: the smallest copy that is
  // still at least as large as the picture on the device.
  static int LevelFor(double scale);

  // The part's picture at the level, or at the part's coarsest level when that is finer; made when
  // missing, which may load the part. Valid while the raster is unchanged and, for the fine
  // levels, until the paint ends.
  TPartPicture Picture(TRasterPart& part, int level);
  // Pixels of a part have come into memory or are about to leave it changed.
  void PixelsAvailable(TRasterPart& part, const uint8_t* bits);
  // Makes the reduced copies of parts of one row of parts whose pixels are the file's, from the
  // file's rows, on every core.
  void PicturesFromFile(const std::vector<TRasterPart*>& parts, TRasterFile& file);

  // Lets every fine picture go; the reduced copies of the coarse levels stay.
  void ReleaseFine();
  // Brackets one paint: its pictures stay until it ends, then the fine ones beyond the budget go.
  void BeginPaint() { ++FPaint; }
  void EndPaint();

  int CoarseLevel() const { return FCoarseLevel; }
  int64_t FineBytes() const { return FFineBytes; }

 private:
  struct TEntry {
    uint64_t Id = 0;  // no part has this number
    uint32_t ChangeCount = 0;
    int Levels = 0;  // levels 0 … Levels − 1 exist for the part
    std::array<QImage, kMaxLevel + 1> Images;
    std::array<uint64_t, kMaxLevel + 1> Used{};  // the paint that last drew a fine level
  };

  void Sync();
  TEntry& EntryOf(const TRasterPart& part);
  bool Current(const TEntry& entry, const TRasterPart& part) const;
  // The stored rows of a part's pixels, row 0 its top row.
  TPixelRows PartRows(const TRasterPart& part, const uint8_t* bits) const;
  void Refresh(TEntry& entry, TRasterPart& part, const TPixelRows& rows);
  // Empties the coarse levels; false when the part is too small to have any.
  bool ResetCoarse(TEntry& entry, const TRasterPart& part);
  // Fills the coarse levels from the part's picture at the first of them.
  void FillCoarse(TEntry& entry, QImage image);
  // The pictures show the part's pixels as they are now.
  void Name(TEntry& entry, const TRasterPart& part);
  void DropFine(TEntry& entry, int level);
  QImage Reduced(const TRasterPart& part, const TPixelRows& rows, int level) const;
  void MakeFine(TEntry& entry, TRasterPart& part, int level);

  TRasterManager& FRaster;
  int64_t FCoarseBudget;
  int64_t FFineBudget;
  std::optional<TPixelConverter> FConverter;  // made with the raster's header
  int FWidth = -1;
  int FHeight = -1;
  int FCoarseLevel = 1;
  std::vector<TEntry> FEntries;
  int64_t FFineBytes = 0;
  uint64_t FPaint = 0;
};
