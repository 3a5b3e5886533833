#include "CalibrateRaster.h"

#include "RasterManagers.h"
#include "StatusInfo.h"
#include "SysUtils.h"

#include <QString>

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

// Every value below is formed in double precision in the order the mapping is defined in; the
// build keeps the compiler from fusing multiplications and additions, so the fast path and a
// straightforward per-pixel evaluation give the same doubles.

TCellTransform MakeCellTransform(const TGridInfo& grid, int a, int b) {
  auto point = [](const TPoint& p) { return TWorldPoint{double(p.X), double(p.Y)}; };
  auto minus = [](const TWorldPoint& p, const TWorldPoint& q) {
    return TWorldPoint{p.X - q.X, p.Y - q.Y};
  };
  TCellTransform t;
  const TPoint lo = grid.RefPos(a, b);
  const TPoint hi = grid.RefPos(a + 1, b + 1);
  t.Reference = TWorldRect{double(lo.X), double(lo.Y), double(hi.X), double(hi.Y)};
  t.W = t.Reference.Right - t.Reference.Left;
  t.H = t.Reference.Bottom - t.Reference.Top;
  t.Q0 = point(grid.NodePos(a, b));
  t.Q1 = point(grid.NodePos(a + 1, b));
  t.Q2 = point(grid.NodePos(a + 1, b + 1));
  t.Q3 = point(grid.NodePos(a, b + 1));
  t.ETop = minus(t.Q1, t.Q0);
  t.ERight = minus(t.Q2, t.Q1);
  t.EBottom = minus(t.Q2, t.Q3);
  t.ELeft = minus(t.Q3, t.Q0);
  return t;
}

namespace {

// The terms of the mapping that depend only on the output column (u): the point on the moved top
// edge, the vector from it to the bottom edge, and the part of the crossing's numerator they give.
struct TColumnTerms {
  double Tx, Ty, DX1, DY1, A;
};

TColumnTerms ColumnTerms(const TCellTransform& t, double x) {
  const double u = (x - t.Reference.Left) / t.W;
  TColumnTerms c;
  c.Tx = t.ETop.X * u + t.Q0.X;
  c.Ty = t.ETop.Y * u + t.Q0.Y;
  c.DX1 = (t.EBottom.X * u + t.Q3.X) - c.Tx;
  c.DY1 = (t.EBottom.Y * u + t.Q3.Y) - c.Ty;
  c.A = c.Ty * c.DX1 - c.Tx * c.DY1;
  return c;
}

// The terms that depend only on the output row (v): the point on the moved right edge, the vector
// from it to the left edge, and their part of the numerator.
struct TRowTerms {
  double Rx, Ry, DX2, DY2, B;
};

TRowTerms RowTerms(const TCellTransform& t, double y) {
  const double v = (y - t.Reference.Top) / t.H;
  TRowTerms r;
  r.Rx = t.ERight.X * v + t.Q1.X;
  r.Ry = t.ERight.Y * v + t.Q1.Y;
  r.DX2 = (t.ELeft.X * v + t.Q0.X) - r.Rx;
  r.DY2 = (t.ELeft.Y * v + t.Q0.Y) - r.Ry;
  r.B = r.Rx * r.DY2 - r.Ry * r.DX2;
  return r;
}

inline TWorldPoint Cross(const TColumnTerms& c, const TRowTerms& r, double x, double y) {
  const double d = c.DX1 * r.DY2 - r.DX2 * c.DY1;
  if (d == 0) return TWorldPoint{x, y};
  const double sy = (c.A * r.DY2 + r.B * c.DY1) / d;
  // Top and bottom edge level at this u: the crossing lies on the row's line at the top edge's
  // height (d != 0 here, so that line is not level).
  if (c.DY1 == 0) return TWorldPoint{(c.Ty - r.Ry) * r.DX2 / r.DY2 + r.Rx, c.Ty};
  return TWorldPoint{(sy - c.Ty) * c.DX1 / c.DY1 + c.Tx, sy};
}

}  // namespace

TWorldPoint MapPoint(const TCellTransform& t, const TWorldPoint& p) {
  return Cross(ColumnTerms(t, p.X), RowTerms(t, p.Y), p.X, p.Y);
}

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;

[[noreturn]] void RaiseColourNotFound() {
  throw Exception(QStringLiteral("Не найден соответствующий цвет в палитре"));
}

// The calibration of one raster from a copy of it, cell by cell. Each cell's output is walked
// part by part and row by row, so that a part's pixels are fetched once per run of pixels and
// the cache keeps what a cell needs however wide the raster is.
class TCalibration {
 public:
  TCalibration(TRasterManager& raster, const TGridInfo& grid, TRasterManager& source,
               TProgress& progress)
      : FRaster(raster),
        FGrid(grid),
        FSource(source),
        FProgress(progress),
        FTotal(int64_t(raster.Width()) * raster.Height()),
        FWritten(raster.Parts().size(), false) {}

  void Run();
  // Gives every part written so far its pixels from the copy back.
  void RestoreWritten();

 private:
  void CalibrateCell(int d, int c);
  void PrepareDepth();
  void PrepareColumns(const TCellTransform& t, int x0, int x1);
  void WriteTile(TRasterPart& part, const TCellTransform& t, int x0, int x1, int y0, int y1);
  // The source pixels of count output pixels of row y from column x0, rounded.
  void MapRow(const TRowTerms& r, int x0, int count, int y);
  template <int Bits>
  void WriteRow(uint8_t* row, int column, int count);
  // The stored row of the copy holding (x, y) and the column of x in it; x and y are inside.
  const uint8_t* SourceRow(int x, int y, int& column) {
    if (x < FSourceLeft || x >= FSourceRight || y < FSourceTop || y >= FSourceBottom)
      SwitchSource(x, y);
    column = x - FSourceLeft;
    const int row = FSource.BottomUp() ? FSourceBottom - 1 - y : y - FSourceTop;
    return FSourceBits + static_cast<ptrdiff_t>(row) * FSourceRowSize;
  }
  void SwitchSource(int x, int y);

  TRasterManager& FRaster;
  const TGridInfo& FGrid;
  TRasterManager& FSource;
  TProgress& FProgress;
  int64_t FTotal;
  int64_t FDone = 0;
  std::vector<bool> FWritten;
  bool FPrepared = false;

  // Indexed depths: the index that SetPixel would write for the colour of each source index, or
  // -1 where the palette lacks the colour; and the index of white.
  std::array<int16_t, 256> FRemap{};
  int16_t FWhiteIndex = -1;

  // The column terms of the current cell, one array per term, from its left output column.
  std::vector<double> FTx, FTy, FDX1, FDY1, FA;
  int FColumnsLeft = 0;
  // The source pixel of each output pixel of one row of a tile; a negative column for white.
  std::vector<int32_t> FSx, FSy;

  // The part of the copy read last. Its pixels stay in memory until another part of the copy is
  // fetched, which happens only here, when the source moves out of it.
  const uint8_t* FSourceBits = nullptr;
  int FSourceRowSize = 0;
  int FSourceLeft = 0, FSourceTop = 0, FSourceRight = 0, FSourceBottom = 0;
};

void TCalibration::Run() {
  for (int c = -1; c <= FGrid.NY - 1; ++c)
    for (int d = -1; d <= FGrid.NX - 1; ++d) CalibrateCell(d, c);
}

void TCalibration::PrepareDepth() {
  FPrepared = true;
  const int bits = FRaster.BitsPerPixel();
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
    throw Exception(QStringLiteral("Неподдерживаемое количество битов на цвет"));
  if (bits == 24) return;
  const TPaletteLookup& palette = FRaster.Palette();
  auto indexOf = [&](uint32_t colour) -> int16_t {
    // A 1-bit pixel compares with entry 0 only: any other colour sets the bit.
    if (bits == 1) return palette.Count() > 0 && colour == palette.Colour(0) ? 0 : 1;
    return static_cast<int16_t>(palette.IndexOf(colour));
  };
  for (int i = 0; i < (1 << bits); ++i)
    FRemap[static_cast<size_t>(i)] = indexOf(FSource.Palette().Colour(static_cast<uint8_t>(i)));
  FWhiteIndex = indexOf(kWhite);
}

void TCalibration::CalibrateCell(int d, int c) {
  const int w = FRaster.Width();
  const int h = FRaster.Height();
  TPoint lo = FGrid.RefPos(d, c);
  TPoint hi = FGrid.RefPos(d + 1, c + 1);
  if (lo.X >= w || lo.Y >= h || hi.X <= 0 || hi.Y <= 0) return;
  lo.X = std::max(lo.X, 0);
  lo.Y = std::max(lo.Y, 0);
  hi.X = std::min(hi.X, w);
  hi.Y = std::min(hi.Y, h);
  if (lo.X >= hi.X || lo.Y >= hi.Y) return;
  if (!FPrepared) PrepareDepth();

  const int a = std::clamp(d, 0, FGrid.NX - 2);
  const int b = std::clamp(c, 0, FGrid.NY - 2);
  const TCellTransform t = MakeCellTransform(FGrid, a, b);

  PrepareColumns(t, lo.X, hi.X);

  const int side = FRaster.Side();
  for (int row = lo.Y / side; row <= (hi.Y - 1) / side; ++row)
    for (int column = lo.X / side; column <= (hi.X - 1) / side; ++column) {
      TRasterPart& part = *FRaster.GetPart(column, row);
      const int x0 = std::max(lo.X, part.Left());
      const int x1 = std::min(hi.X, part.Left() + part.Width());
      const int y0 = std::max(lo.Y, part.Top());
      const int y1 = std::min(hi.Y, part.Top() + part.Height());
      FWritten[static_cast<size_t>(column) + static_cast<size_t>(row) * FRaster.PartsAcross()] =
          true;
      WriteTile(part, t, x0, x1, y0, y1);
    }
}

void TCalibration::PrepareColumns(const TCellTransform& t, int x0, int x1) {
  const size_t n = static_cast<size_t>(x1 - x0);
  for (std::vector<double>* terms : {&FTx, &FTy, &FDX1, &FDY1, &FA}) terms->resize(n);
  FColumnsLeft = x0;
  for (size_t k = 0; k < n; ++k) {
    const TColumnTerms c = ColumnTerms(t, x0 + static_cast<double>(k));
    FTx[k] = c.Tx;
    FTy[k] = c.Ty;
    FDX1[k] = c.DX1;
    FDY1[k] = c.DY1;
    FA[k] = c.A;
  }
}

namespace {

inline __m128d Select(__m128d mask, __m128d a, __m128d b) {
  return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
}

}  // namespace

// Two output pixels at a time: the same operations in the same order as Cross, so the same
// doubles; the rare lanes where the lines are level or parallel take their own values by masks.
// The conversion rounds halves to even like RoundToInt; it marks a value it cannot hold (beyond
// the 32-bit range, or no number) with INT_MIN, and those lanes are rounded again one by one.
void TCalibration::MapRow(const TRowTerms& r, int x0, int count, int y) {
  const size_t first = static_cast<size_t>(x0 - FColumnsLeft);
  const double* tx = FTx.data() + first;
  const double* ty = FTy.data() + first;
  const double* dx1 = FDX1.data() + first;
  const double* dy1 = FDY1.data() + first;
  const double* a = FA.data() + first;
  int32_t* sx = FSx.data();
  int32_t* sy = FSy.data();
  const __m128d zero = _mm_setzero_pd();
  const __m128d dx2 = _mm_set1_pd(r.DX2), dy2 = _mm_set1_pd(r.DY2), b = _mm_set1_pd(r.B);
  const __m128d rx = _mm_set1_pd(r.Rx), ry = _mm_set1_pd(r.Ry), yv = _mm_set1_pd(y);
  const __m128i unheld = _mm_set1_epi32(INT32_MIN);
  int k = 0;
  for (; k + 2 <= count; k += 2) {
    const __m128d vtx = _mm_loadu_pd(tx + k), vty = _mm_loadu_pd(ty + k);
    const __m128d vdx1 = _mm_loadu_pd(dx1 + k), vdy1 = _mm_loadu_pd(dy1 + k);
    const __m128d d = _mm_sub_pd(_mm_mul_pd(vdx1, dy2), _mm_mul_pd(dx2, vdy1));
    __m128d y1 =
        _mm_div_pd(_mm_add_pd(_mm_mul_pd(_mm_loadu_pd(a + k), dy2), _mm_mul_pd(b, vdy1)), d);
    __m128d x1 = _mm_add_pd(_mm_div_pd(_mm_mul_pd(_mm_sub_pd(y1, vty), vdx1), vdy1), vtx);
    const __m128d level = _mm_cmpeq_pd(vdy1, zero);
    if (_mm_movemask_pd(level)) {
      x1 = Select(level, _mm_add_pd(_mm_div_pd(_mm_mul_pd(_mm_sub_pd(vty, ry), dx2), dy2), rx), x1);
      y1 = Select(level, vty, y1);
    }
    const __m128d parallel = _mm_cmpeq_pd(d, zero);
    if (_mm_movemask_pd(parallel)) {
      x1 = Select(parallel, _mm_set_pd(x0 + k + 1, x0 + k), x1);
      y1 = Select(parallel, yv, y1);
    }
    const __m128i ix = _mm_cvtpd_epi32(x1), iy = _mm_cvtpd_epi32(y1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(sx + k), ix);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(sy + k), iy);
    if (_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi32(ix, unheld), _mm_cmpeq_epi32(iy, unheld))) &
        0xFF) {
      double xs[2], ys[2];
      _mm_storeu_pd(xs, x1);
      _mm_storeu_pd(ys, y1);
      for (int lane = 0; lane < 2; ++lane) {
        sx[k + lane] = RoundToInt(xs[lane]);
        sy[k + lane] = RoundToInt(ys[lane]);
      }
    }
  }
  for (; k < count; ++k) {
    const TColumnTerms c{tx[k], ty[k], dx1[k], dy1[k], a[k]};
    const TWorldPoint s = Cross(c, r, x0 + k, y);
    sx[k] = RoundToInt(s.X);
    sy[k] = RoundToInt(s.Y);
  }
  // Outside the raster: a negative column, read as white.
  const unsigned w = static_cast<unsigned>(FRaster.Width());
  const unsigned h = static_cast<unsigned>(FRaster.Height());
  for (k = 0; k < count; ++k)
    if (static_cast<unsigned>(sx[k]) >= w || static_cast<unsigned>(sy[k]) >= h) sx[k] = -1;
}

void TCalibration::WriteTile(TRasterPart& part, const TCellTransform& t, int x0, int x1, int y0,
                             int y1) {
  const int count = x1 - x0;
  FSx.resize(static_cast<size_t>(count));
  FSy.resize(static_cast<size_t>(count));
  part.MarkModified();
  for (int y = y0; y < y1; ++y) {
    FProgress.ShowPercent(static_cast<int>(MulDiv(FDone, 100, FTotal)));
    MapRow(RowTerms(t, y), x0, count, y);
    // Fetching the copy's parts never unloads this one: its row stays where it is.
    uint8_t* row = part.GetRow(y);
    const int column = x0 - part.Left();
    switch (FRaster.BitsPerPixel()) {
      case 1:
        WriteRow<1>(row, column, count);
        break;
      case 4:
        WriteRow<4>(row, column, count);
        break;
      case 8:
        WriteRow<8>(row, column, count);
        break;
      default:
        WriteRow<24>(row, column, count);
        break;
    }
    FDone += count;
  }
}

void TCalibration::SwitchSource(int x, int y) {
  const int side = FSource.Side();
  TRasterPart& part = *FSource.GetPart(x / side, y / side);
  FSourceBits = part.GetBits();
  FSourceRowSize = part.RowSize();
  FSourceLeft = part.Left();
  FSourceTop = part.Top();
  FSourceRight = FSourceLeft + part.Width();
  FSourceBottom = FSourceTop + part.Height();
}

template <int Bits>
void TCalibration::WriteRow(uint8_t* row, int column, int count) {
  const int32_t* sx = FSx.data();
  const int32_t* sy = FSy.data();
  for (int k = 0; k < count; ++k) {
    const int c = column + k;
    if constexpr (Bits == 24) {
      uint8_t* out = row + 3 * c;
      if (sx[k] < 0) {
        out[0] = out[1] = out[2] = 0xFF;
      } else {
        int sc;
        const uint8_t* in = SourceRow(sx[k], sy[k], sc) + 3 * sc;
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
      }
    } else {
      int index;
      if (sx[k] < 0) {
        index = FWhiteIndex;
      } else {
        int sc;
        const uint8_t* in = SourceRow(sx[k], sy[k], sc);
        if constexpr (Bits == 8)
          index = FRemap[in[sc]];
        else if constexpr (Bits == 4)
          index = FRemap[sc & 1 ? in[sc >> 1] & 0x0F : in[sc >> 1] >> 4];
        else
          index = FRemap[(in[sc >> 3] >> (7 - (sc & 7))) & 1];
      }
      if (index < 0) RaiseColourNotFound();
      if constexpr (Bits == 8) {
        row[c] = static_cast<uint8_t>(index);
      } else if constexpr (Bits == 4) {
        uint8_t& byte = row[c >> 1];
        byte = c & 1 ? static_cast<uint8_t>((byte & 0xF0) | index)
                     : static_cast<uint8_t>((byte & 0x0F) | (index << 4));
      } else {
        const uint8_t bit = static_cast<uint8_t>(0x80 >> (c & 7));
        row[c >> 3] = index ? (row[c >> 3] | bit) : (row[c >> 3] & static_cast<uint8_t>(~bit));
      }
    }
  }
}

void TCalibration::RestoreWritten() {
  const TRasterPartList& parts = FRaster.Parts();
  for (size_t i = 0; i < parts.size(); ++i) {
    if (!FWritten[i]) continue;
    TRasterPart& part = *parts[i];
    const uint8_t* original = FSource.Parts()[i]->GetBits();
    std::memcpy(part.GetBits(), original, static_cast<size_t>(part.ByteSize()));
    part.MarkModified();
  }
}

}  // namespace

void CalibrateRaster(TRasterManager& raster, const TGridInfo& grid) {
  TProgress progress(raster.StatusInfo(), QStringLiteral("Калибровка..."));
  TRasterManager copy(raster.Provider(), raster.CacheSize(), raster.StatusInfo());
  copy.CopyFrom(raster);
  TCalibration calibration(raster, grid, copy, progress);
  try {
    calibration.Run();
  } catch (...) {
    calibration.RestoreWritten();
    throw;
  }
}

bool ClipRasterToGrid(TRasterManager& raster, TGridInfo& grid) {
  const TRect cell{grid.Origin.X, grid.Origin.Y, grid.Origin.X + grid.Step.X,
                   grid.Origin.Y + grid.Step.Y};
  if (!raster.Clip(cell)) return false;
  grid.SetOrigin(TPoint{0, 0});
  grid.SetStep(TPoint{cell.Right - cell.Left, cell.Bottom - cell.Top});
  return true;
}
