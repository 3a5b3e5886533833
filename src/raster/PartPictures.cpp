#include "PartPictures.h"

#include "RasterManagers.h"
#include "Workers.h"

#include <immintrin.h>

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
  // A whole box holds a power of two pixels: the division is a shift.
  const int shift = (count & (count - 1)) == 0 ? std::countr_zero(count) : -1;
  const auto channel = [&](int field) {
    const uint64_t rounded = ((sum >> field) & 0x1FFFFF) + count / 2;
    return static_cast<uint32_t>(shift >= 0 ? rounded >> shift : rounded / count);
  };
  return 0xFF000000u | (channel(42) << 16) | (channel(21) << 8) | channel(0);
}

// The averages of one row of boxes of 2^m pixels across a picture w pixels wide and rows high,
// from their sums, on a line of a reduced picture.
void AverageBoxes(const uint64_t* sums, int w, int m, int rows, uint32_t* line) {
  const int ow = (w + (1 << m) - 1) >> m;
  for (int ox = 0; ox < ow; ++ox) {
    const int cols = std::min(w, (ox + 1) << m) - (ox << m);
    line[ox] = Average(sums[ox], static_cast<uint32_t>(cols * rows));
  }
}

// Averages boxes of 2^m × 2^m pixels of a picture of w × h pixels, whose rows y0 .. y1 - 1 of
// one row of boxes addRows(y0, y1, sums) adds up box by box; the boxes at the right and bottom
// edges hold what is left.
template <typename AddRows>
QImage ReduceBoxes(int w, int h, int m, AddRows addRows) {
  const int box = 1 << m;
  const int ow = (w + box - 1) >> m;
  const int oh = (h + box - 1) >> m;
  QImage out = NewPicture(ow, oh);
  std::vector<uint64_t> sums(static_cast<size_t>(ow));
  for (int oy = 0; oy < oh; ++oy) {
    std::fill(sums.begin(), sums.end(), 0);
    const int y0 = oy << m;
    const int y1 = std::min(h, y0 + box);
    addRows(y0, y1, sums.data());
    AverageBoxes(sums.data(), w, m, y1 - y0, reinterpret_cast<uint32_t*>(out.scanLine(oy)));
  }
  return out;
}

QImage Halved(const QImage& image) {
  return ReduceBoxes(image.width(), image.height(), 1, [&](int y0, int y1, uint64_t* sums) {
    for (int y = y0; y < y1; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
      AddBoxes(image.width(), 1, sums, [row](int x) { return Spread(row[x]); });
    }
  });
}

// Adds bytes of rows y0 .. y1 - 1 column by column: sums[j] = the sum of Row(y)[j] for j < count.
// At most 2^8 rows, so that no sum leaves its 16 bits. Sixteen or 32 columns at a time go down
// all the rows in registers; the last of them end the row, overlapping those before, whose sums
// are then written twice.
void AddColumnsSse2(const TPixelRows& rows, int y0, int y1, int count, uint16_t* sums) {
  if (count < 16) {
    for (int j = 0; j < count; ++j) {
      uint16_t sum = 0;
      for (int y = y0; y < y1; ++y) sum = static_cast<uint16_t>(sum + rows.Row(y)[j]);
      sums[j] = sum;
    }
    return;
  }
  const __m128i zero = _mm_setzero_si128();
  for (int j = 0;; j = std::min(j + 16, count - 16)) {
    __m128i low = zero, high = zero;
    for (int y = y0; y < y1; ++y) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.Row(y) + j));
      low = _mm_add_epi16(low, _mm_unpacklo_epi8(bytes, zero));
      high = _mm_add_epi16(high, _mm_unpackhi_epi8(bytes, zero));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + j), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + j + 8), high);
    if (j == count - 16) break;
  }
}

__attribute__((target("avx2"))) void AddColumnsAvx2(const TPixelRows& rows, int y0, int y1,
                                                    int count, uint16_t* sums) {
  if (count < 32) {
    AddColumnsSse2(rows, y0, y1, count, sums);
    return;
  }
  for (int j = 0;; j = std::min(j + 32, count - 32)) {
    __m256i low = _mm256_setzero_si256(), high = _mm256_setzero_si256();
    for (int y = y0; y < y1; ++y) {
      const auto* bytes = reinterpret_cast<const __m128i*>(rows.Row(y) + j);
      low = _mm256_add_epi16(low, _mm256_cvtepu8_epi16(_mm_loadu_si128(bytes)));
      high = _mm256_add_epi16(high, _mm256_cvtepu8_epi16(_mm_loadu_si128(bytes + 1)));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + j), low);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + j + 16), high);
    if (j == count - 32) break;
  }
}

void AddColumns(const TPixelRows& rows, int y0, int y1, int count, uint16_t* sums) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2)
    AddColumnsAvx2(rows, y0, y1, count, sums);
  else
    AddColumnsSse2(rows, y0, y1, count, sums);
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
  FGrey = FBitsPerPixel == 8;
  for (uint32_t i = 0; i < 256 && FGrey; ++i) FGrey = FPalette[i] == (0xFF000000u | i * 0x010101u);
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

void TPixelConverter::AddBoxRows(const TPixelRows& rows, int y0, int y1, int width, int m,
                                 uint64_t* sums) const {
  if (FBitsPerPixel != 24 && !FGrey) {
    for (int y = y0; y < y1; ++y) AddRowBoxes(rows.Row(y), width, m, sums);
    return;
  }
  // Every byte is a channel's value: the rows are added down the columns first, and each box
  // then adds up its columns once.
  const int channels = FBitsPerPixel / 8;
  std::vector<uint16_t> columns(static_cast<size_t>(width * channels));
  AddColumns(rows, y0, y1, width * channels, columns.data());
  const uint16_t* c = columns.data();
  for (int x = 0, ox = 0; x < width; ++ox) {
    const int x1 = std::min(width, x + (1 << m));
    uint64_t blue = 0, green = 0, red = 0;
    if (channels == 3) {
      for (; x < x1; ++x, c += 3) {
        blue += c[0];
        green += c[1];
        red += c[2];
      }
    } else {
      for (; x < x1; ++x) blue += *c++;
      green = red = blue;
    }
    sums[ox] += blue | (green << 21) | (red << 42);
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

TPixelRows TPartPictures::PartRows(const TRasterPart& part, const uint8_t* bits) const {
  const int rowSize = part.RowSize();
  if (FRaster.BottomUp())
    return {bits + static_cast<ptrdiff_t>(part.Height() - 1) * rowSize, -rowSize};
  return {bits, rowSize};
}

QImage TPartPictures::Reduced(const TRasterPart& part, const TPixelRows& rows, int level) const {
  const int w = part.Width();
  const int h = part.Height();
  if (level == 0) {
    QImage image = NewPicture(w, h);
    for (int y = 0; y < h; ++y)
      FConverter->ConvertRow(rows.Row(y), w, reinterpret_cast<uint32_t*>(image.scanLine(y)));
    return image;
  }
  const int direct = std::min(level, kMaxBoxShift);
  QImage image = ReduceBoxes(w, h, direct, [&](int y0, int y1, uint64_t* sums) {
    FConverter->AddBoxRows(rows, y0, y1, w, direct, sums);
  });
  for (int k = direct; k < level; ++k) image = Halved(image);
  return image;
}

void TPartPictures::Refresh(TEntry& entry, TRasterPart& part, const TPixelRows& rows) {
  for (int level = 0; level < FCoarseLevel; ++level) DropFine(entry, level);
  if (ResetCoarse(entry, part)) FillCoarse(entry, Reduced(part, rows, FCoarseLevel));
  Name(entry, part);
}

bool TPartPictures::ResetCoarse(TEntry& entry, const TRasterPart& part) {
  entry.Id = 0;  // until the coarse copies are made
  entry.Levels = LevelsOf(part.Width(), part.Height());
  for (int level = FCoarseLevel; level <= kMaxLevel; ++level) entry.Images[level] = QImage();
  return FCoarseLevel < entry.Levels;
}

void TPartPictures::FillCoarse(TEntry& entry, QImage image) {
  for (int level = FCoarseLevel; level < entry.Levels; ++level) {
    if (level > FCoarseLevel) image = Halved(image);
    entry.Images[level] = image;
  }
}

void TPartPictures::Name(TEntry& entry, const TRasterPart& part) {
  entry.Id = part.Id();
  entry.ChangeCount = part.ChangeCount();
}

void TPartPictures::MakeFine(TEntry& entry, TRasterPart& part, int level) {
  QImage image = Reduced(part, PartRows(part, part.GetBits()), level);
  FFineBytes += image.sizeInBytes();
  entry.Images[level] = std::move(image);
}

void TPartPictures::PicturesFromFile(const std::vector<TRasterPart*>& parts, TRasterFile& file) {
  Sync();
  const int direct = std::min(FCoarseLevel, kMaxBoxShift);
  struct TReduction {
    const TRasterPart* Part;
    TEntry* Entry;
    QImage Image;  // reduced 2^direct times
    uchar* Bits;   // taken here: lines written on several threads must not detach the picture
  };
  std::vector<TReduction> reductions;
  for (TRasterPart* part : parts) {
    TEntry& entry = EntryOf(*part);
    for (int level = 0; level < FCoarseLevel; ++level) DropFine(entry, level);
    if (!ResetCoarse(entry, *part)) {
      Name(entry, *part);
      continue;
    }
    // Wanting memory now, a part's pictures are made when it is drawn.
    try {
      const int unit = 1 << direct;
      QImage image =
          NewPicture((part->Width() + unit - 1) >> direct, (part->Height() + unit - 1) >> direct);
      uchar* bits = image.bits();
      reductions.push_back({part, &entry, std::move(image), bits});
    } catch (const std::bad_alloc&) {
    }
  }
  if (reductions.empty()) return;
  // One row of boxes at a time on each thread, read from the file whole: the reads are large, and
  // the bytes are still in the processor's cache when they are added up.
  const int top = parts.front()->Top();
  const int height = parts.front()->Height();
  const int bitsPerPixel = FRaster.BitsPerPixel();
  TWorkers& workers = TWorkers::Shared();
  std::vector<std::vector<uint8_t>> buffers(static_cast<size_t>(workers.Count()));
  std::vector<std::vector<uint64_t>> sums(static_cast<size_t>(workers.Count()));
  workers.Run((height + (1 << direct) - 1) >> direct, [&](int box, int thread) {
    const int y0 = box << direct;
    const int rows = std::min(height - y0, 1 << direct);
    const TPixelRows read = file.ReadRows(top + y0, rows, buffers[static_cast<size_t>(thread)]);
    std::vector<uint64_t>& boxSums = sums[static_cast<size_t>(thread)];
    for (const TReduction& r : reductions) {
      const int w = r.Part->Width();
      // Part lefts are whole bytes of a row at every depth.
      const TPixelRows partRows{read.Row(0) + int64_t{r.Part->Left()} * bitsPerPixel / 8,
                                read.Stride};
      boxSums.assign(static_cast<size_t>((w + (1 << direct) - 1) >> direct), 0);
      FConverter->AddBoxRows(partRows, 0, rows, w, direct, boxSums.data());
      AverageBoxes(boxSums.data(), w, direct, rows,
                   reinterpret_cast<uint32_t*>(r.Bits + box * r.Image.bytesPerLine()));
    }
  });
  for (TReduction& r : reductions) try {
      QImage image = std::move(r.Image);
      for (int level = direct; level < FCoarseLevel; ++level) image = Halved(image);
      FillCoarse(*r.Entry, std::move(image));
      Name(*r.Entry, *r.Part);
    } catch (const std::bad_alloc&) {
    }
}

TPartPicture TPartPictures::Picture(TRasterPart& part, int level) {
  Sync();
  TEntry& entry = EntryOf(part);
  if (!Current(entry, part)) {
    // Reading the part back from the swap file already brings its copies up to date.
    const uint8_t* bits = part.GetBits();
    if (!Current(entry, part)) Refresh(entry, part, PartRows(part, bits));
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
    if (!Current(entry, part)) Refresh(entry, part, PartRows(part, bits));
  } catch (const std::bad_alloc&) {
  }
}

void TPartPictures::ReleaseFine() {
  for (TEntry& entry : FEntries)
    for (int level = 0; level < FCoarseLevel; ++level) DropFine(entry, level);
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
