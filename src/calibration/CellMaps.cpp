#include "CellMaps.h"

#include <immintrin.h>

#include <algorithm>
#include <climits>
#include <cmath>

// Every value below is formed in double precision in the order the mapping is defined in; the
// build keeps the compiler from fusing multiplications and additions, so the fast paths and a
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

// The span holding v, of spans that follow one another.
size_t SpanOf(const std::vector<TCellSpan>& spans, int v) {
  const auto after = std::upper_bound(spans.begin(), spans.end(), v,
                                      [](int value, const TCellSpan& s) { return value < s.Lo; });
  return static_cast<size_t>(after - spans.begin() - 1);
}

// Pixel k of the run as Cross maps it.
inline void MapOne(const TRunTerms& run, int k, int32_t& sx, int32_t& sy) {
  const TColumnTerms c{run.Tx[k], run.Ty[k], run.DX1[k], run.DY1[k], run.A[k]};
  const TWorldPoint s = Cross(c, run.Row, run.X0 + k, run.Y);
  const int32_t x = RoundToInt(s.X), y = RoundToInt(s.Y);
  sx = x >= 0 && x < run.Width && y >= 0 && y < run.Height ? x : TCellMaps::kOutside;
  sy = y;
}

// Marks the lanes outside the raster with kOutside; pixels whose rounding the lanes could not hold
// (INT_MIN: beyond 32 bits, or no number) are mapped again one by one.
inline void StoreLanes(const TRunTerms& run, int k, int lanes, __m128i ix, __m128i iy, int32_t* sx,
                       int32_t* sy) {
  const __m128i unheld = _mm_set1_epi32(INT32_MIN);
  const __m128i outside =
      _mm_or_si128(_mm_or_si128(_mm_cmplt_epi32(ix, _mm_setzero_si128()),
                                _mm_cmpgt_epi32(ix, _mm_set1_epi32(run.Width - 1))),
                   _mm_or_si128(_mm_cmplt_epi32(iy, _mm_setzero_si128()),
                                _mm_cmpgt_epi32(iy, _mm_set1_epi32(run.Height - 1))));
  const int redo =
      _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi32(ix, unheld), _mm_cmpeq_epi32(iy, unheld)));
  ix = _mm_or_si128(ix, outside);  // kOutside is -1: all bits set
  if (lanes == 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sx + k), ix);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sy + k), iy);
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(sx + k), ix);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(sy + k), iy);
  }
  for (int lane = 0; lane < lanes; ++lane)
    if (redo & (1 << (4 * lane))) MapOne(run, k + lane, sx[k + lane], sy[k + lane]);
}

inline __m128d Select(__m128d mask, __m128d a, __m128d b) {
  return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
}

// Two pixels at a time: the same operations in the same order as Cross, so the same doubles; the
// rare lanes where the lines are level or parallel take their own values by masks. The
// conversion rounds halves to even like RoundToInt.
void MapExact(const TRunTerms& run, int32_t* sx, int32_t* sy) {
  const __m128d zero = _mm_setzero_pd();
  const TRowTerms& r = run.Row;
  const __m128d dx2 = _mm_set1_pd(r.DX2), dy2 = _mm_set1_pd(r.DY2), b = _mm_set1_pd(r.B);
  const __m128d rx = _mm_set1_pd(r.Rx), ry = _mm_set1_pd(r.Ry), yv = _mm_set1_pd(run.Y);
  int k = 0;
  for (; k + 2 <= run.Count; k += 2) {
    const __m128d vtx = _mm_loadu_pd(run.Tx + k), vty = _mm_loadu_pd(run.Ty + k);
    const __m128d vdx1 = _mm_loadu_pd(run.DX1 + k), vdy1 = _mm_loadu_pd(run.DY1 + k);
    const __m128d d = _mm_sub_pd(_mm_mul_pd(vdx1, dy2), _mm_mul_pd(dx2, vdy1));
    __m128d y1 =
        _mm_div_pd(_mm_add_pd(_mm_mul_pd(_mm_loadu_pd(run.A + k), dy2), _mm_mul_pd(b, vdy1)), d);
    __m128d x1 = _mm_add_pd(_mm_div_pd(_mm_mul_pd(_mm_sub_pd(y1, vty), vdx1), vdy1), vtx);
    const __m128d level = _mm_cmpeq_pd(vdy1, zero);
    if (_mm_movemask_pd(level)) {
      x1 = Select(level, _mm_add_pd(_mm_div_pd(_mm_mul_pd(_mm_sub_pd(vty, ry), dx2), dy2), rx), x1);
      y1 = Select(level, vty, y1);
    }
    const __m128d parallel = _mm_cmpeq_pd(d, zero);
    if (_mm_movemask_pd(parallel)) {
      x1 = Select(parallel, _mm_set_pd(run.X0 + k + 1, run.X0 + k), x1);
      y1 = Select(parallel, yv, y1);
    }
    StoreLanes(run, k, 2, _mm_cvtpd_epi32(x1), _mm_cvtpd_epi32(y1), sx, sy);
  }
  for (; k < run.Count; ++k) MapOne(run, k, sx[k], sy[k]);
}

// The same, four pixels at a time.
__attribute__((target("avx2"))) void MapExactAvx2(const TRunTerms& run, int32_t* sx, int32_t* sy) {
  const __m256d zero = _mm256_setzero_pd();
  const TRowTerms& r = run.Row;
  const __m256d dx2 = _mm256_set1_pd(r.DX2), dy2 = _mm256_set1_pd(r.DY2), b = _mm256_set1_pd(r.B);
  const __m256d rx = _mm256_set1_pd(r.Rx), ry = _mm256_set1_pd(r.Ry), yv = _mm256_set1_pd(run.Y);
  const __m256d steps = _mm256_set_pd(3, 2, 1, 0);
  int k = 0;
  for (; k + 4 <= run.Count; k += 4) {
    const __m256d vtx = _mm256_loadu_pd(run.Tx + k), vty = _mm256_loadu_pd(run.Ty + k);
    const __m256d vdx1 = _mm256_loadu_pd(run.DX1 + k), vdy1 = _mm256_loadu_pd(run.DY1 + k);
    const __m256d d = _mm256_sub_pd(_mm256_mul_pd(vdx1, dy2), _mm256_mul_pd(dx2, vdy1));
    __m256d y1 = _mm256_div_pd(
        _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(run.A + k), dy2), _mm256_mul_pd(b, vdy1)), d);
    __m256d x1 =
        _mm256_add_pd(_mm256_div_pd(_mm256_mul_pd(_mm256_sub_pd(y1, vty), vdx1), vdy1), vtx);
    const __m256d level = _mm256_cmp_pd(vdy1, zero, _CMP_EQ_OQ);
    if (_mm256_movemask_pd(level)) {
      const __m256d onRow =
          _mm256_add_pd(_mm256_div_pd(_mm256_mul_pd(_mm256_sub_pd(vty, ry), dx2), dy2), rx);
      x1 = _mm256_blendv_pd(x1, onRow, level);
      y1 = _mm256_blendv_pd(y1, vty, level);
    }
    const __m256d parallel = _mm256_cmp_pd(d, zero, _CMP_EQ_OQ);
    if (_mm256_movemask_pd(parallel)) {
      x1 = _mm256_blendv_pd(x1, _mm256_add_pd(_mm256_set1_pd(run.X0 + k), steps), parallel);
      y1 = _mm256_blendv_pd(y1, yv, parallel);
    }
    StoreLanes(run, k, 4, _mm256_cvtpd_epi32(x1), _mm256_cvtpd_epi32(y1), sx, sy);
  }
  for (; k < run.Count; ++k) MapOne(run, k, sx[k], sy[k]);
}

// Runs shorter than this have no line: finding it costs two pixels of Cross.
constexpr int kMinLineRun = 8;

// A bound on the relative error of one operation, with room to spare: the error terms below count
// each operation's error once, and the constants they leave out stay far below 2^17.
constexpr double kUnit = 0x1p-36;

// Along one output row of a cell the bilinear position is a straight line in the output column.
// Cross evaluates it with rounding errors, so its doubles are not those of the line; but where a
// point of the line lies farther from the middle between two integers than those errors reach,
// Cross's double rounds to the same integer. The line runs through Cross's positions of the run's
// two ends, and its margins hold the errors of both and its own. False where they cannot be bound
// (the lines of the crossing nearly parallel, or the cell's top and bottom edges nearly level, in
// some column of the run), or are too wide to be worth it.
bool LineOf(const TRunTerms& run, TSourceLine& line) {
  const int last = run.Count - 1;
  if (run.Count < kMinLineRun) return false;
  const TColumnTerms c0{run.Tx[0], run.Ty[0], run.DX1[0], run.DY1[0], run.A[0]};
  const TColumnTerms c1{run.Tx[last], run.Ty[last], run.DX1[last], run.DY1[last], run.A[last]};
  const TRowTerms& r = run.Row;
  // Along the row the denominator and the vertical extent of the column's line change linearly:
  // of one sign at both ends, they keep it between.
  const double d0 = c0.DX1 * r.DY2 - r.DX2 * c0.DY1;
  const double d1 = c1.DX1 * r.DY2 - r.DX2 * c1.DY1;
  if (!(d0 * d1 > 0) || !(c0.DY1 * c1.DY1 > 0)) return false;
  const TWorldPoint p0 = Cross(c0, r, run.X0, run.Y);
  const TWorldPoint p1 = Cross(c1, r, run.X0 + last, run.Y);
  const TCellTransform& t = *run.Transform;
  const auto most = [](std::initializer_list<double> values) {
    double m = 0;
    for (const double v : values) m = std::max(m, std::fabs(v));
    return m;
  };
  // The largest position (mT) and direction (mD) any term of the run holds: every input of Cross
  // is made from them with an error below kUnit times mT.
  const double u0 = (run.X0 - t.Reference.Left) / t.W;
  const double u1 = (run.X0 + last - t.Reference.Left) / t.W;
  const double v = (run.Y - t.Reference.Top) / t.H;
  const double edges = most({t.ETop.X, t.ETop.Y, t.ERight.X, t.ERight.Y, t.EBottom.X, t.EBottom.Y,
                             t.ELeft.X, t.ELeft.Y}) *
                       (1 + most({u0, u1}) + std::fabs(v));
  const double mT = most({t.Q0.X, t.Q0.Y, t.Q1.X, t.Q1.Y, t.Q2.X, t.Q2.Y, t.Q3.X, t.Q3.Y, c0.Tx,
                          c0.Ty, c1.Tx, c1.Ty, r.Rx, r.Ry, p0.X, p0.Y, p1.X, p1.Y}) +
                    edges;
  const double mD = most({c0.DX1, c0.DY1, c1.DX1, c1.DY1, r.DX2, r.DY2});
  const double dMin = std::min(std::fabs(d0), std::fabs(d1));
  const double dy1Min = std::min(std::fabs(c0.DY1), std::fabs(c1.DY1));
  // Far enough from zero that no column's rounded value can be zero: Cross takes its main branch
  // everywhere on the run. Positions stay within 32-bit integers.
  if (!(dMin > 0x1p-20 * mT * mD) || !(dy1Min > 0x1p-20 * mT) || !(mT < 0x1p30)) return false;
  // Cross's Y: the numerator's error over the denominator, and the denominator's relative error.
  const double ey = kUnit * (mT * mT * mD / dMin + mT);
  // Cross's X: Y's error carried by the column's slope, and the errors of the slope itself.
  const double slope = mD / dy1Min;
  const double ex = ey * slope + kUnit * (mT * mT / dy1Min * (1 + slope) + mT * (1 + slope));
  line.MarginX = 2 * ex + kUnit * mT;
  line.MarginY = 2 * ey + kUnit * mT;
  if (!(line.MarginX < 0.25) || !(line.MarginY < 0.25)) return false;
  line.X0 = p0.X;
  line.Y0 = p0.Y;
  line.DX = (p1.X - p0.X) / last;
  line.DY = (p1.Y - p0.Y) / last;
  return true;
}

// The run from its line, two pixels at a time.
void MapLine(const TRunTerms& run, const TSourceLine& line, int32_t* sx, int32_t* sy) {
  const __m128d x0 = _mm_set1_pd(line.X0), dx = _mm_set1_pd(line.DX);
  const __m128d y0 = _mm_set1_pd(line.Y0), dy = _mm_set1_pd(line.DY);
  const __m128d farX = _mm_set1_pd(0.5 - line.MarginX), farY = _mm_set1_pd(0.5 - line.MarginY);
  const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(INT64_MAX));
  const __m128d two = _mm_set1_pd(2);
  __m128d k = _mm_set_pd(1, 0);
  int i = 0;
  for (; i + 2 <= run.Count; i += 2, k = _mm_add_pd(k, two)) {
    const __m128d x = _mm_add_pd(x0, _mm_mul_pd(k, dx));
    const __m128d y = _mm_add_pd(y0, _mm_mul_pd(k, dy));
    const __m128i ix = _mm_cvtpd_epi32(x), iy = _mm_cvtpd_epi32(y);
    const __m128d fx = _mm_and_pd(_mm_sub_pd(x, _mm_cvtepi32_pd(ix)), magnitude);
    const __m128d fy = _mm_and_pd(_mm_sub_pd(y, _mm_cvtepi32_pd(iy)), magnitude);
    const int near = _mm_movemask_pd(_mm_or_pd(_mm_cmpge_pd(fx, farX), _mm_cmpge_pd(fy, farY)));
    StoreLanes(run, i, 2, ix, iy, sx, sy);
    for (int lane = 0; near >> lane; ++lane)
      if (near & (1 << lane)) MapOne(run, i + lane, sx[i + lane], sy[i + lane]);
  }
  for (; i < run.Count; ++i) MapOne(run, i, sx[i], sy[i]);
}

// The same, four pixels at a time.
__attribute__((target("avx2"))) void MapLineAvx2(const TRunTerms& run, const TSourceLine& line,
                                                 int32_t* sx, int32_t* sy) {
  const __m256d x0 = _mm256_set1_pd(line.X0), dx = _mm256_set1_pd(line.DX);
  const __m256d y0 = _mm256_set1_pd(line.Y0), dy = _mm256_set1_pd(line.DY);
  const __m256d farX = _mm256_set1_pd(0.5 - line.MarginX);
  const __m256d farY = _mm256_set1_pd(0.5 - line.MarginY);
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(INT64_MAX));
  const __m256d four = _mm256_set1_pd(4);
  __m256d k = _mm256_set_pd(3, 2, 1, 0);
  int i = 0;
  for (; i + 4 <= run.Count; i += 4, k = _mm256_add_pd(k, four)) {
    const __m256d x = _mm256_add_pd(x0, _mm256_mul_pd(k, dx));
    const __m256d y = _mm256_add_pd(y0, _mm256_mul_pd(k, dy));
    const __m128i ix = _mm256_cvtpd_epi32(x), iy = _mm256_cvtpd_epi32(y);
    const __m256d fx = _mm256_and_pd(_mm256_sub_pd(x, _mm256_cvtepi32_pd(ix)), magnitude);
    const __m256d fy = _mm256_and_pd(_mm256_sub_pd(y, _mm256_cvtepi32_pd(iy)), magnitude);
    const int near = _mm256_movemask_pd(
        _mm256_or_pd(_mm256_cmp_pd(fx, farX, _CMP_GE_OQ), _mm256_cmp_pd(fy, farY, _CMP_GE_OQ)));
    StoreLanes(run, i, 4, ix, iy, sx, sy);
    for (int lane = 0; near >> lane; ++lane)
      if (near & (1 << lane)) MapOne(run, i + lane, sx[i + lane], sy[i + lane]);
  }
  for (; i < run.Count; ++i) MapOne(run, i, sx[i], sy[i]);
}

bool HasAvx2() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
}

}  // namespace

void TCellRun::MapOne(int k, int32_t& sx, int32_t& sy) const {
  ::MapOne(FTerms, k, sx, sy);
}

void TCellRun::Map(int32_t* sx, int32_t* sy) const {
  if (FHasLine) {
    if (HasAvx2())
      MapLineAvx2(FTerms, FLine, sx, sy);
    else
      MapLine(FTerms, FLine, sx, sy);
  } else if (HasAvx2()) {
    MapExactAvx2(FTerms, sx, sy);
  } else {
    MapExact(FTerms, sx, sy);
  }
}

TCellMaps::TCellMaps(const TGridInfo& grid, int width, int height)
    : FGrid(grid), FWidth(width), FHeight(height) {
  const auto spans = [](int count, int size, auto lo) {
    std::vector<TCellSpan> spans;
    for (int k = -1; k <= count - 1; ++k) {
      const int a = std::clamp(lo(k), 0, size);
      const int b = std::clamp(lo(k + 1), 0, size);
      if (a < b) spans.push_back({a, b, k});
    }
    return spans;
  };
  FColumns = spans(grid.NX, width, [&](int d) { return grid.RefPos(d, 0).X; });
  FRows = spans(grid.NY, height, [&](int c) { return grid.RefPos(0, c).Y; });
  FTerms.resize(FRows.size());
}

TRect TCellMaps::Reach() const {
  return TRect{FColumns.front().Lo, FRows.front().Lo, FColumns.back().Hi, FRows.back().Hi};
}

size_t TCellMaps::RowOf(int y) const {
  return SpanOf(FRows, y);
}

size_t TCellMaps::ColumnOf(int x) const {
  return SpanOf(FColumns, x);
}

void TCellMaps::Prepare(int y0, int y1) {
  for (size_t r = 0; r < FRows.size(); ++r) {
    if (FRows[r].Hi <= y0 || FRows[r].Lo >= y1)
      FTerms[r].clear();
    else if (FTerms[r].empty())
      MakeTerms(r);
  }
}

void TCellMaps::MakeTerms(size_t row) {
  const int b = std::clamp(FRows[row].Index, 0, FGrid.NY - 2);
  for (const TCellSpan& column : FColumns) {
    TCellTerms& cell = FTerms[row].emplace_back();
    cell.Transform = MakeCellTransform(FGrid, std::clamp(column.Index, 0, FGrid.NX - 2), b);
    cell.Left = column.Lo;
    const size_t n = static_cast<size_t>(column.Hi - column.Lo);
    for (std::vector<double>* terms : {&cell.Tx, &cell.Ty, &cell.DX1, &cell.DY1, &cell.A})
      terms->resize(n);
    for (size_t k = 0; k < n; ++k) {
      const TColumnTerms c = ColumnTerms(cell.Transform, column.Lo + static_cast<double>(k));
      cell.Tx[k] = c.Tx;
      cell.Ty[k] = c.Ty;
      cell.DX1[k] = c.DX1;
      cell.DY1[k] = c.DY1;
      cell.A[k] = c.A;
    }
  }
}

TCellRun TCellMaps::Run(size_t row, size_t column, int y, int x0, int count) const {
  const TCellTerms& cell = FTerms[row][column];
  const size_t first = static_cast<size_t>(x0 - cell.Left);
  TCellRun run;
  run.FTerms = TRunTerms{&cell.Transform,
                         cell.Tx.data() + first,
                         cell.Ty.data() + first,
                         cell.DX1.data() + first,
                         cell.DY1.data() + first,
                         cell.A.data() + first,
                         RowTerms(cell.Transform, y),
                         x0,
                         y,
                         count,
                         FWidth,
                         FHeight};
  run.FHasLine = LineOf(run.FTerms, run.FLine);
  return run;
}
