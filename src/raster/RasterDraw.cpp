#include "RasterDraw.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <vector>

namespace {

// Which boxes of which parts the device pixels along one axis show, and how much of each. Device
// pixel d of [from, to) shows the world point w for which d = scale · w + offset.
class TAxisSampling {
 public:
  struct TTap {
    int32_t Part;   // the part's column or row
    int32_t Box;    // the box of the part's picture at the level
    double Weight;  // sixteenths of a raster pixel; 1 along a magnified axis
  };

  TAxisSampling(double scale, double offset, int size, int side, int level, int from, int to)
      : FFrom(from), FMagnified(std::fabs(scale) >= 1) {
    const size_t count = static_cast<size_t>(std::max(0, to - from));
    FStart.reserve(count + 1);
    FTotalIndex.reserve(count);
    for (int d = from; d < to; ++d) {
      FStart.push_back(static_cast<int32_t>(FTaps.size()));
      const double centre = (d + 0.5 - offset) / scale;
      if (!(centre >= 0 && centre < size)) {
        AddTotal(0);
      } else if (FMagnified) {
        const int p = static_cast<int>(std::floor(centre));
        Add(TTap{p / side, (p % side) >> level, 1});
        AddTotal(1);
      } else {
        AddCovered((d - offset) / scale, (d + 1 - offset) / scale, size, side, level);
      }
    }
    FStart.push_back(static_cast<int32_t>(FTaps.size()));
  }

  bool Empty() const { return FTaps.empty(); }
  // Every drawn device pixel shows one raster pixel.
  bool Magnified() const { return FMagnified; }
  int FirstPart() const { return FFirstPart; }
  int LastPart() const { return FLastPart; }
  // The taps of device pixel d: none when its centre lies off the raster.
  std::span<const TTap> Taps(int d) const {
    const size_t i = static_cast<size_t>(d - FFrom);
    return {FTaps.data() + FStart[i], FTaps.data() + FStart[i + 1]};
  }
  // The sum of the weights of device pixel d, as an index into Totals: a view has few of them.
  int TotalIndex(int d) const { return FTotalIndex[static_cast<size_t>(d - FFrom)]; }
  const std::vector<double>& Totals() const { return FTotals; }

 private:
  void Add(const TTap& tap) {
    FTaps.push_back(tap);
    FFirstPart = std::min(FFirstPart, tap.Part);
    FLastPart = std::max(FLastPart, tap.Part);
  }

  void AddTotal(double total) {
    const auto known = std::find(FTotals.begin(), FTotals.end(), total);
    FTotalIndex.push_back(static_cast<int32_t>(known - FTotals.begin()));
    if (known == FTotals.end()) FTotals.push_back(total);
  }

  // The boxes that the world interval between a and b covers on the raster.
  void AddCovered(double a, double b, int size, int side, int level) {
    if (a > b) std::swap(a, b);
    const int64_t sizeUnits = int64_t{kDrawSubpixels} * size;
    const auto unit = [&](double w) {
      return static_cast<int64_t>(
          std::nearbyint(std::clamp(w * kDrawSubpixels, 0.0, static_cast<double>(sizeUnits))));
    };
    int64_t u = unit(a);
    const int64_t end = unit(b);
    AddTotal(static_cast<double>(end - u));
    const int64_t partUnits = int64_t{kDrawSubpixels} * side;
    const int64_t boxUnits = int64_t{kDrawSubpixels} << level;
    while (u < end) {
      const int64_t part = u / partUnits;
      const int64_t partStart = part * partUnits;
      const int64_t box = (u - partStart) / boxUnits;
      const int64_t boxEnd =
          std::min({partStart + (box + 1) * boxUnits, partStart + partUnits, sizeUnits});
      const int64_t stop = std::min(boxEnd, end);
      Add(TTap{static_cast<int32_t>(part), static_cast<int32_t>(box),
               static_cast<double>(stop - u)});
      u = stop;
    }
  }

  int FFrom;
  bool FMagnified;
  std::vector<int32_t> FStart;
  std::vector<TTap> FTaps;
  std::vector<int32_t> FTotalIndex;
  std::vector<double> FTotals;
  int32_t FFirstPart = INT32_MAX;
  int32_t FLastPart = -1;
};

// The pictures of the parts one paint shows, each asked for once.
class TPaintPictures {
 public:
  TPaintPictures(TRasterManager& raster, TPartPictures& pictures, int level,
                 const TAxisSampling& columns, const TAxisSampling& rows)
      : FRaster(raster),
        FPictures(pictures),
        FLevel(level),
        FColumn0(columns.FirstPart()),
        FRow0(rows.FirstPart()),
        FColumns(columns.LastPart() - columns.FirstPart() + 1),
        FImages(static_cast<size_t>(FColumns) * (rows.LastPart() - rows.FirstPart() + 1)) {}

  // Row y of the picture of part (column, row).
  const uint32_t* Line(int column, int row, int y) {
    TImage& image = FImages[static_cast<size_t>(row - FRow0) * FColumns + (column - FColumn0)];
    if (!image.Bits) {
      const QImage& picture = *FPictures.Picture(*FRaster.GetPart(column, row), FLevel).Image;
      image = TImage{picture.constBits(), picture.bytesPerLine()};
    }
    return reinterpret_cast<const uint32_t*>(image.Bits + image.BytesPerLine * y);
  }

 private:
  struct TImage {
    const uchar* Bits = nullptr;
    qsizetype BytesPerLine = 0;
  };

  TRasterManager& FRaster;
  TPartPictures& FPictures;
  int FLevel;
  int FColumn0;
  int FRow0;
  int FColumns;
  std::vector<TImage> FImages;
};

// Both axes magnified: each device pixel a copy of one picture pixel. The drawn columns fall into
// runs that show one part, copied whole where they show its pixels one to one.
void CopyPixels(const TAxisSampling& columns, const TAxisSampling& rows, TPaintPictures& pictures,
                const TRect& clip, QImage& image) {
  struct TRun {
    int X0, X1;
    int32_t Part;
    bool Straight;  // box x − X0 + the first box
  };
  std::vector<TRun> runs;
  std::vector<int32_t> boxes(static_cast<size_t>(clip.Width()));
  for (int x = clip.Left; x < clip.Right; ++x) {
    const std::span<const TAxisSampling::TTap> column = columns.Taps(x);
    if (column.empty()) continue;
    const TAxisSampling::TTap& t = column[0];
    boxes[x - clip.Left] = t.Box;
    if (!runs.empty() && runs.back().X1 == x && runs.back().Part == t.Part) {
      TRun& run = runs.back();
      run.Straight = run.Straight && t.Box == boxes[x - 1 - clip.Left] + 1;
      run.X1 = x + 1;
    } else {
      runs.push_back(TRun{x, x + 1, t.Part, true});
    }
  }
  for (int y = clip.Top; y < clip.Bottom; ++y) {
    const std::span<const TAxisSampling::TTap> row = rows.Taps(y);
    if (row.empty()) continue;
    auto* out = reinterpret_cast<uint32_t*>(image.scanLine(y));
    for (const TRun& run : runs) {
      const uint32_t* line = pictures.Line(run.Part, row[0].Part, row[0].Box);
      const int32_t* box = boxes.data() - clip.Left;
      if (run.Straight)
        std::copy(line + box[run.X0], line + box[run.X0] + (run.X1 - run.X0), out + run.X0);
      else
        for (int x = run.X0; x < run.X1; ++x) out[x] = line[box[x]];
    }
  }
}

// The sums of a box down the picture lines a device row takes: blue, green, red and alpha, each
// the weighed sum of that channel. Whole numbers, so that the order of adding does not matter;
// small, so that a device row's sums stay in the processor's nearest cache. They reach 2^31 only
// for rasters more than half a million pixels high seen whole in a few device pixels, and then
// stop there.
using TBoxSums = std::array<int32_t, 4>;

// Adds up boxes low … high down the lines of one part that a device row takes, one line per tap
// of the row, in their order.
void AddColumns(const std::vector<const uint32_t*>& lines, std::span<const TAxisSampling::TTap> row,
                int32_t low, int32_t high, TBoxSums* sums) {
  for (int32_t b = low; b <= high; ++b, ++sums)
    for (int c = 0; c < 4; ++c) {
      double s = 0;
      for (size_t k = 0; k < row.size(); ++k)
        s += row[k].Weight * ((lines[k][b] >> (8 * c)) & 0xFF);
      (*sums)[c] = static_cast<int32_t>(std::min(s, double{INT32_MAX}));
    }
}

// The same for up to three taps of weights below 2^15, a device row reduced less than 2^10 times:
// two taps at a time, their channels multiplied and added in 32-bit lanes.
void AddColumnsSse2(const std::vector<const uint32_t*>& lines,
                    std::span<const TAxisSampling::TTap> row, int32_t low, int32_t high,
                    TBoxSums* sums) {
  const auto pairOf = [&](size_t k) {
    const auto w0 = static_cast<uint32_t>(row[k].Weight);
    const auto w1 = k + 1 < row.size() ? static_cast<uint32_t>(row[k + 1].Weight) : 0u;
    return _mm_set1_epi32(static_cast<int>(w0 | w1 << 16));
  };
  const __m128i zero = _mm_setzero_si128();
  const __m128i weights01 = pairOf(0);
  const __m128i weights2 = row.size() > 2 ? pairOf(2) : zero;
  const uint32_t* line0 = lines[0];
  const uint32_t* line1 = row.size() > 1 ? lines[1] : lines[0];
  const uint32_t* line2 = row.size() > 2 ? lines[2] : lines[0];
  // The bytes of two pixels interleaved and widened: channel by channel, the first tap's value
  // beside the second's, which one multiply-add turns into their weighed sum.
  const auto weighed = [&](uint32_t a, uint32_t b, __m128i w) {
    const __m128i pair = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(a)),
                                           _mm_cvtsi32_si128(static_cast<int>(b)));
    return _mm_madd_epi16(_mm_unpacklo_epi8(pair, zero), w);
  };
  for (int32_t b = low; b <= high; ++b, ++sums) {
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(sums->data()),
        _mm_add_epi32(weighed(line0[b], line1[b], weights01), weighed(line2[b], 0, weights2)));
  }
}

bool FitsSse2(std::span<const TAxisSampling::TTap> row) {
  if (row.size() > 3) return false;
  for (const TAxisSampling::TTap& t : row)
    if (t.Weight >= 32768) return false;
  return true;
}

// The weighed averages: for each device row, the boxes of the picture rows it takes are added up
// down the columns first, then each device pixel adds up the columns it takes.
void AveragePixels(const TAxisSampling& columns, const TAxisSampling& rows,
                   TPaintPictures& pictures, const TRect& clip, QImage& image) {
  const int first = columns.FirstPart();
  const int parts = columns.LastPart() - first + 1;
  std::vector<int32_t> low(static_cast<size_t>(parts), INT32_MAX);
  std::vector<int32_t> high(static_cast<size_t>(parts), -1);
  for (int x = clip.Left; x < clip.Right; ++x)
    for (const TAxisSampling::TTap& t : columns.Taps(x)) {
      low[t.Part - first] = std::min(low[t.Part - first], t.Box);
      high[t.Part - first] = std::max(high[t.Part - first], t.Box);
    }
  // The sums of every box the device pixels take, one after another across the parts.
  std::vector<int32_t> base(static_cast<size_t>(parts));
  int32_t boxes = 0;
  for (int p = 0; p < parts; ++p) {
    base[p] = high[p] < 0 ? 0 : boxes - low[p];
    boxes += std::max(0, high[p] - low[p] + 1);
  }
  // Each tap of a column as its box's place among the sums.
  std::vector<int32_t> place;
  for (int x = clip.Left; x < clip.Right; ++x)
    for (const TAxisSampling::TTap& t : columns.Taps(x))
      place.push_back(base[t.Part - first] + t.Box);
  std::vector<TBoxSums> sums(static_cast<size_t>(boxes));
  std::vector<double> scales(columns.Totals().size());
  std::vector<const uint32_t*> lines;
  const __m128d half = _mm_set1_pd(0.5);
  for (int y = clip.Top; y < clip.Bottom; ++y) {
    const std::span<const TAxisSampling::TTap> row = rows.Taps(y);
    if (row.empty()) continue;
    const bool sse2 = FitsSse2(row);
    for (int p = 0; p < parts; ++p) {
      if (high[p] < 0) continue;
      lines.clear();
      for (const TAxisSampling::TTap& r : row)
        lines.push_back(pictures.Line(first + p, r.Part, r.Box));
      TBoxSums* at = sums.data() + base[p] + low[p];
      if (sse2)
        AddColumnsSse2(lines, row, low[p], high[p], at);
      else
        AddColumns(lines, row, low[p], high[p], at);
    }
    const double rowTotal = rows.Totals()[rows.TotalIndex(y)];
    for (size_t k = 0; k < scales.size(); ++k) scales[k] = 1.0 / (columns.Totals()[k] * rowTotal);
    auto* out = reinterpret_cast<uint32_t*>(image.scanLine(y));
    const int32_t* at = place.data();
    for (int x = clip.Left; x < clip.Right; ++x) {
      const std::span<const TAxisSampling::TTap> column = columns.Taps(x);
      if (column.empty()) continue;
      __m128d blueGreen = _mm_setzero_pd(), redAlpha = _mm_setzero_pd();
      for (const TAxisSampling::TTap& c : column) {
        const __m128i s = _mm_loadu_si128(
            reinterpret_cast<const __m128i*>(sums[static_cast<size_t>(*at++)].data()));
        const __m128d w = _mm_set1_pd(c.Weight);
        blueGreen = _mm_add_pd(blueGreen, _mm_mul_pd(w, _mm_cvtepi32_pd(s)));
        redAlpha = _mm_add_pd(redAlpha, _mm_mul_pd(w, _mm_cvtepi32_pd(_mm_shuffle_epi32(s, 0xEE))));
      }
      // Rounded to the nearest by truncation: the channels are never negative.
      const __m128d scale = _mm_set1_pd(scales[static_cast<size_t>(columns.TotalIndex(x))]);
      const __m128i bg = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(blueGreen, scale), half));
      const __m128i ra = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(redAlpha, scale), half));
      const auto blue = static_cast<uint32_t>(_mm_cvtsi128_si32(bg));
      const auto green = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(bg, 4)));
      const auto red = static_cast<uint32_t>(_mm_cvtsi128_si32(ra));
      out[x] = 0xFF000000u | red << 16 | green << 8 | blue;
    }
  }
}

void DrawAxisParallel(TRasterManager& raster, TPartPictures& pictures, const QTransform& toDevice,
                      int level, TCanvas& canvas) {
  const TRect clip = canvas.ClipBox();
  const TAxisSampling columns(toDevice.m11(), toDevice.dx(), raster.Width(), raster.Side(), level,
                              clip.Left, clip.Right);
  if (columns.Empty()) return;
  const TAxisSampling rows(toDevice.m22(), toDevice.dy(), raster.Height(), raster.Side(), level,
                           clip.Top, clip.Bottom);
  if (rows.Empty()) return;
  TPaintPictures paint(raster, pictures, level, columns, rows);
  if (columns.Magnified() && rows.Magnified())
    CopyPixels(columns, rows, paint, clip, canvas.Image());
  else
    AveragePixels(columns, rows, paint, clip, canvas.Image());
}

void DrawTurned(TRasterManager& raster, TPartPictures& pictures, const TDeviceInfo& device,
                const QTransform& toDevice, int level, TCanvas& canvas) {
  for (const std::unique_ptr<TRasterPart>& p : raster.Parts()) {
    TRasterPart& part = *p;
    const TRect src = PartSourceRect(device, part);
    if (src.Width() == 0) continue;
    const TPartPicture picture = pictures.Picture(part, level);
    const double unit = std::ldexp(1.0, picture.Level);
    canvas.StretchDib(toDevice, QRectF(src.Left, src.Top, src.Width(), src.Height()),
                      *picture.Image,
                      QRectF((src.Left - part.Left()) / unit, (src.Top - part.Top()) / unit,
                             src.Width() / unit, src.Height() / unit));
  }
}

}  // namespace

TRect PartSourceRect(const TDeviceInfo& device, const TRasterPart& part) {
  const TProjection& projection = *device.Projection();
  TWorldRect page;
  projection.WorldRectToPage(part.GetBounds(), page);
  if (!WorldRectsOverlap(page, device.PageClipRect())) return TRect{};
  IntersectWorldRect(page, device.PageClipRect());
  TWorldRect world;
  projection.PageRectToWorld(page, world);
  TRect r = RoundWorldRect(world);
  const int right = part.Left() + part.Width();
  const int bottom = part.Top() + part.Height();
  if (part.Left() < r.Left) --r.Left;
  if (right > r.Right) ++r.Right;
  if (part.Top() < r.Top) --r.Top;
  if (bottom > r.Bottom) ++r.Bottom;
  // Bounding boxes of a turned view reach past the part: its pixels end at its edges.
  r = TRect{std::max(r.Left, part.Left()), std::max(r.Top, part.Top()), std::min(r.Right, right),
            std::min(r.Bottom, bottom)};
  return r.Left < r.Right && r.Top < r.Bottom ? r : TRect{};
}

TPartPictures& TRasterManager::Pictures(int64_t coarseBudget, int64_t fineBudget) {
  if (!FPictures) {
    FPictures = std::make_unique<TPartPictures>(*this, coarseBudget, fineBudget);
    FCache.OnPixels = [this](TRasterPart& part, const uint8_t* bits) {
      FPictures->PixelsAvailable(part, bits);
    };
  }
  return *FPictures;
}

void TRasterManager::Draw(TDeviceInfo& device, TCanvas& canvas) {
  if (FParts.empty() || !device.IsValid()) return;
  TPartPictures& pictures = Pictures();
  const QTransform toDevice = device.WorldToDeviceTransform();
  const int level = TPartPictures::LevelFor(std::sqrt(std::fabs(toDevice.determinant())));
  // The parts of the picture stay loaded while it is drawn. Ending the scope may write parts to the
  // swap file, which can fail: not from a destructor, and never hiding the first error.
  FCache.BeginUse();
  pictures.BeginPaint();
  try {
    if (toDevice.m12() == 0 && toDevice.m21() == 0)
      DrawAxisParallel(*this, pictures, toDevice, level, canvas);
    else
      DrawTurned(*this, pictures, device, toDevice, level, canvas);
  } catch (...) {
    pictures.EndPaint();
    try {
      FCache.EndUse();
    } catch (...) {
    }
    throw;
  }
  pictures.EndPaint();
  FCache.EndUse();
}
