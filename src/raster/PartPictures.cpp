#include "PartPictures.h"

#include "RasterManagers.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <tuple>

namespace {

// A pixel's channels in 21-bit fields, so that the sums of boxes of up to 2^6 × 2^6 pixels add up
// in one 64-bit word without carries.
inline uint64_t Spread(uint32_t rgb) {
  return (rgb & 0xFF) | (static_cast<uint64_t>(rgb & 0xFF00) << 13) |
         (static_cast<uint64_t>(rgb & 0xFF0000) << 26);
}

QImage NewPicture(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  if (image.isNull()) throw std::bad_alloc();
  return image;
}

// Adds the spread colours of each box of 2^m pixels of a row to its sum.
template <typename SpreadAt>
inline void AddBoxes(int width, int m, uint64_t* sums, SpreadAt spreadAt) {
  const int box = 1 << m;
  for (int x = 0, ox = 0; x < width; ++ox) {
    const int x1 = std::min(width, x + box);
    uint64_t s = 0;
    for (; x < x1; ++x) s += spreadAt(x);
    sums[ox] += s;
  }
}

constexpr int kMaxBoxShift = 6;

inline uint32_t Average(uint64_t sum, uint32_t count) {
  const auto channel = [&](int shift) {
    return static_cast<uint32_t>((((sum >> shift) & 0x1FFFFF) + count / 2) / count);
  };
  return 0xFF000000u | (channel(42) << 16) | (channel(21) << 8) | channel(0);
}

// Averages boxes of 2^m × 2^m pixels of a picture of w × h pixels, whose rows addRow(y, sums)
// adds up box by box; the boxes at the right and bottom edges hold what is left.
template <typename AddRow>
QImage ReduceBoxes(int w, int h, int m, AddRow addRow) {
  const int box = 1 << m;
  const int ow = (w + box - 1) >> m;
  const int oh = (h + box - 1) >> m;
  QImage out = NewPicture(ow, oh);
  std::vector<uint64_t> sums(static_cast<size_t>(ow));
  for (int oy = 0; oy < oh; ++oy) {
    std::fill(sums.begin(), sums.end(), 0);
    const int y0 = oy << m;
    const int y1 = std::min(h, y0 + box);
    for (int y = y0; y < y1; ++y) addRow(y, sums.data());
    auto* line = reinterpret_cast<uint32_t*>(out.scanLine(oy));
    for (int ox = 0; ox < ow; ++ox) {
      const int cols = std::min(w, (ox + 1) << m) - (ox << m);
      line[ox] = Average(sums[ox], static_cast<uint32_t>(cols * (y1 - y0)));
    }
  }
  return out;
}

QImage Halved(const QImage& image) {
  return ReduceBoxes(image.width(), image.height(), 1, [&](int y, uint64_t* sums) {
    const auto* row = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
    AddBoxes(image.width(), 1, sums, [row](int x) { return Spread(row[x]); });
  });
}

inline uint32_t Rgb32(uint32_t colour) {
  // 0x00BBGGRR to 0xFFRRGGBB.
  return 0xFF000000u | ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
}

// The levels a part of that size has: down to one pixel.
int LevelsOf(int width, int height) {
  int levels = 1;
  while ((width > 1 || height > 1) && levels <= TPartPictures::kMaxLevel) {
    width = (width + 1) / 2;
    height = (height + 1) / 2;
    ++levels;
  }
  return levels;
}

int64_t LevelBytes(int64_t width, int64_t height, int level) {
  const int64_t unit = int64_t{1} << level;
  return ((width + unit - 1) / unit) * ((height + unit - 1) / unit) * 4;
}

}  // namespace

TPixelConverter::TPixelConverter(TRasterManager& raster) : FBitsPerPixel(raster.BitsPerPixel()) {
  for (int i = 0; i < 256; ++i) {
    FPalette[i] = Rgb32(raster.Palette().Colour(static_cast<uint8_t>(i)));
    FSpreadPalette[i] = Spread(FPalette[i]);
  }
  const TBitmapInfoHeader* info = InfoHeaderOf(raster.HeaderData());
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (FBitsPerPixel == 32) {
    masks[0] = 0xFF0000;
    masks[1] = 0xFF00;
    masks[2] = 0xFF;
  }
  if (info->biCompression == BI_BITFIELDS && raster.HeaderSize() >= BitmapInfoHeaderSize + 12)
    std::memcpy(masks, raster.HeaderData() + BitmapInfoHeaderSize, sizeof masks);
  for (int i = 0; i < 3; ++i) {
    TField& f = FFields[i];
    f.Mask = masks[i];
    f.Shift = masks[i] ? std::countr_zero(masks[i]) : 0;
    f.Max = masks[i] >> f.Shift;
  }
  // The sums of the pixels of one table unit: a byte of 1- or 4-bit pixels, two 8-bit pixels.
  if (FBitsPerPixel == 1 || FBitsPerPixel == 4) {
    FSpreadUnits.resize(256);
    for (int b = 0; b < 256; ++b) {
      const uint8_t byte = static_cast<uint8_t>(b);
      for (int x = 0; x < 8 / FBitsPerPixel; ++x)
        FSpreadUnits[b] += FSpreadPalette[Index(&byte, x)];
    }
  } else if (FBitsPerPixel == 8) {
    FSpreadUnits.resize(65536);
    for (uint32_t p = 0; p < 65536; ++p)
      FSpreadUnits[p] = FSpreadPalette[p & 0xFF] + FSpreadPalette[p >> 8];
  }
  if (FBitsPerPixel == 16) {
    FWords.resize(65536);
    for (uint32_t p = 0; p < 65536; ++p) FWords[p] = FromFields(p);
  }
}

int TPixelConverter::Index(const uint8_t* row, int x) const {
  switch (FBitsPerPixel) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
      return x & 1 ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
    default:
      return row[x];
  }
}

uint32_t TPixelConverter::FromFields(uint32_t pixel) const {
  uint32_t rgb = 0xFF000000u;
  for (int i = 0; i < 3; ++i) {
    const TField& f = FFields[i];
    const uint64_t value =
        f.Max ? (static_cast<uint64_t>((pixel & f.Mask) >> f.Shift) * 255 + f.Max / 2) / f.Max : 0;
    rgb |= static_cast<uint32_t>(value) << (16 - 8 * i);
  }
  return rgb;
}

void TPixelConverter::ConvertRow(const uint8_t* row, int width, uint32_t* out) const {
  switch (FBitsPerPixel) {
    case 1:
    case 4:
    case 8:
      for (int x = 0; x < width; ++x) out[x] = FPalette[Index(row, x)];
      break;
    case 16:
      for (int x = 0; x < width; ++x) out[x] = FWords[row[2 * x] | (row[2 * x + 1] << 8)];
      break;
    case 24:
      for (int x = 0; x < width; ++x, row += 3)
        out[x] = 0xFF000000u | (row[2] << 16) | (row[1] << 8) | row[0];
      break;
    case 32:
      for (int x = 0; x < width; ++x, row += 4) {
        uint32_t pixel;
        std::memcpy(&pixel, row, 4);
        out[x] = FromFields(pixel);
      }
      break;
    default:
      std::fill(out, out + width, 0xFF000000u);
      break;
  }
}

void TPixelConverter::AddRowBoxes(const uint8_t* row, int width, int m, uint64_t* sums) const {
  if (FBitsPerPixel == 24) {
    AddBoxes(width, m, sums, [&](int x) {
      const uint8_t* p = row + 3 * x;
      return p[0] | (static_cast<uint64_t>(p[1]) << 21) | (static_cast<uint64_t>(p[2]) << 42);
    });
    return;
  }
  const int unitShift = FBitsPerPixel == 1 ? 3 : FBitsPerPixel == 4 || FBitsPerPixel == 8 ? 1 : -1;
  if (unitShift >= 0 && m >= unitShift) {
    // Boxes hold whole table units: a unit at a time, then the pixels of a last partial one.
    const int units = width >> unitShift;
    if (FBitsPerPixel == 8)
      AddBoxes(units, m - unitShift, sums, [&](int i) {
        uint16_t pair;
        std::memcpy(&pair, row + 2 * i, 2);
        return FSpreadUnits[pair];
      });
    else
      AddBoxes(units, m - unitShift, sums, [&](int i) { return FSpreadUnits[row[i]]; });
    for (int x = units << unitShift; x < width; ++x) sums[x >> m] += FSpreadPalette[Index(row, x)];
    return;
  }
  std::vector<uint32_t> converted(static_cast<size_t>(width));
  ConvertRow(row, width, converted.data());
  AddBoxes(width, m, sums, [&](int x) { return Spread(converted[x]); });
}

TPartPictures::TPartPictures(TRasterManager& raster, int64_t coarseBudget, int64_t fineBudget)
    : FRaster(raster), FCoarseBudget(coarseBudget), FFineBudget(fineBudget) {}

TPartPictures::~TPartPictures() = default;

int TPartPictures::LevelFor(double scale) {
  if (!(scale < 1)) return 0;
  if (!(scale > 0)) return kMaxLevel;
  // A hair of tolerance, so that a scale of exactly 1/2^k takes level k despite rounding.
  return std::min(kMaxLevel, static_cast<int>(std::floor(std::log2(1 / scale) + 1e-9)));
}

void TPartPictures::Sync() {
  const size_t parts = static_cast<size_t>(FRaster.PartsAcross()) * FRaster.PartsDown();
  if (FWidth == FRaster.Width() && FHeight == FRaster.Height() && FEntries.size() == parts &&
      FConverter)
    return;
  // A new raster, or one clipped: every picture belongs to parts that are gone.
  FWidth = FRaster.Width();
  FHeight = FRaster.Height();
  FConverter.emplace(FRaster);
  FEntries.clear();
  FEntries.resize(parts);
  FFineBytes = 0;
  FCoarseLevel = 1;
  const auto coarseBytes = [&](int from) {
    int64_t bytes = 0;
    for (int level = from; level <= kMaxLevel; ++level) bytes += LevelBytes(FWidth, FHeight, level);
    return bytes;
  };
  while (FCoarseLevel < kMaxLevel && coarseBytes(FCoarseLevel) > FCoarseBudget) ++FCoarseLevel;
}

TPartPictures::TEntry& TPartPictures::EntryOf(const TRasterPart& part) {
  const int side = FRaster.Side();
  return FEntries[static_cast<size_t>(part.Top() / side) * FRaster.PartsAcross() +
                  part.Left() / side];
}

bool TPartPictures::Current(const TEntry& entry, const TRasterPart& part) const {
  return entry.Id == part.Id() && entry.ChangeCount == part.ChangeCount();
}

void TPartPictures::DropFine(TEntry& entry, int level) {
  if (entry.Images[level].isNull()) return;
  FFineBytes -= entry.Images[level].sizeInBytes();
  entry.Images[level] = QImage();
}

QImage TPartPictures::Reduced(const TRasterPart& part, const uint8_t* bits, int level) const {
  const int w = part.Width();
  const int h = part.Height();
  const int rowSize = part.RowSize();
  const bool bottomUp = FRaster.BottomUp();
  const auto stored = [&](int y) {
    return bits + static_cast<ptrdiff_t>(bottomUp ? h - 1 - y : y) * rowSize;
  };
  if (level == 0) {
    QImage image = NewPicture(w, h);
    for (int y = 0; y < h; ++y)
      FConverter->ConvertRow(stored(y), w, reinterpret_cast<uint32_t*>(image.scanLine(y)));
    return image;
  }
  const int direct = std::min(level, kMaxBoxShift);
  QImage image = ReduceBoxes(w, h, direct, [&](int y, uint64_t* sums) {
    FConverter->AddRowBoxes(stored(y), w, direct, sums);
  });
  for (int k = direct; k < level; ++k) image = Halved(image);
  return image;
}

void TPartPictures::Refresh(TEntry& entry, TRasterPart& part, const uint8_t* bits) {
  for (int level = 0; level < FCoarseLevel; ++level) DropFine(entry, level);
  entry.Id = 0;  // until the coarse copies are made
  entry.Levels = LevelsOf(part.Width(), part.Height());
  for (int level = FCoarseLevel; level <= kMaxLevel; ++level) entry.Images[level] = QImage();
  if (FCoarseLevel < entry.Levels) {
    QImage image = Reduced(part, bits, FCoarseLevel);
    for (int level = FCoarseLevel; level < entry.Levels; ++level) {
      if (level > FCoarseLevel) image = Halved(image);
      entry.Images[level] = image;
    }
  }
  entry.Id = part.Id();
  entry.ChangeCount = part.ChangeCount();
}

void TPartPictures::MakeFine(TEntry& entry, TRasterPart& part, int level) {
  QImage image = Reduced(part, part.GetBits(), level);
  FFineBytes += image.sizeInBytes();
  entry.Images[level] = std::move(image);
}

TPartPicture TPartPictures::Picture(TRasterPart& part, int level) {
  Sync();
  TEntry& entry = EntryOf(part);
  if (!Current(entry, part)) {
    // Reading the part back from the swap file already brings its copies up to date.
    const uint8_t* bits = part.GetBits();
    if (!Current(entry, part)) Refresh(entry, part, bits);
  }
  level = std::clamp(level, 0, entry.Levels - 1);
  if (level < FCoarseLevel) {
    if (entry.Images[level].isNull()) MakeFine(entry, part, level);
    entry.Used[level] = FPaint;
  }
  return TPartPicture{&entry.Images[level], level};
}

void TPartPictures::PixelsAvailable(TRasterPart& part, const uint8_t* bits) {
  // Reading, changing or swapping the raster must not fail for the sake of a picture: one that
  // finds no memory now is made when it is drawn.
  try {
    Sync();
    TEntry& entry = EntryOf(part);
    if (!Current(entry, part)) Refresh(entry, part, bits);
  } catch (const std::bad_alloc&) {
  }
}

void TPartPictures::EndPaint() {
  if (FFineBytes <= FFineBudget) return;
  // Least recently drawn first; the pictures of the paint just ended stay whatever they cost.
  std::vector<std::tuple<uint64_t, TEntry*, int>> fine;
  for (TEntry& entry : FEntries)
    for (int level = 0; level < FCoarseLevel; ++level)
      if (!entry.Images[level].isNull() && entry.Used[level] != FPaint)
        fine.emplace_back(entry.Used[level], &entry, level);
  std::sort(fine.begin(), fine.end());
  for (const auto& [used, entry, level] : fine) {
    if (FFineBytes <= FFineBudget) break;
    DropFine(*entry, level);
  }
}
