#include "CalibrateRaster.h"

#include "RasterManagers.h"
#include "StatusInfo.h"
#include "SysUtils.h"
#include "Workers.h"

#include <QString>

#include <immintrin.h>

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

// Rows of an output part that one thread takes at a time.
constexpr int kRowsPerPiece = 8;

// Parts of the copy that one thread reads into memory of its own, when their pixels are neither
// in memory nor in a mapped file.
constexpr size_t kOwnSourceParts = 4;

[[noreturn]] void RaiseColourNotFound() {
  throw Exception(QStringLiteral("Не найден соответствующий цвет в палитре"));
}

// The output columns (or rows) of one column (or row) of cells, clipped to the raster: Index is
// the cell's d (or c).
struct TCellSpan {
  int Lo = 0;
  int Hi = 0;
  int Index = 0;
};

// The span holding v, of spans that follow one another.
size_t SpanOf(const std::vector<TCellSpan>& spans, int v) {
  const auto after = std::upper_bound(spans.begin(), spans.end(), v,
                                      [](int value, const TCellSpan& s) { return value < s.Lo; });
  return static_cast<size_t>(after - spans.begin() - 1);
}

// One cell's transform, and the terms of the mapping of each of its output columns, from Left.
struct TCellTerms {
  TCellTransform Transform;
  int Left = 0;
  std::vector<double> Tx, Ty, DX1, DY1, A;
};

// A rectangle of the copy whose stored rows are in memory: raster row y starts at
// TopRow + (y - Top) * Stride with the pixel of column Left.
struct TSourceRegion {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  const uint8_t* TopRow = nullptr;
  int64_t Stride = 0;
};

// A part of the copy read by one thread into memory of its own.
struct TOwnPart {
  size_t Index = 0;
  TPixelBuffer Bits;
  uint64_t Used = 0;
};

// What each thread works with: the source pixels of one row, and where it reads the copy.
struct TThreadState {
  std::vector<int32_t> Sx, Sy;  // the source pixel of each output pixel; a negative column: white
  TSourceRegion Source;
  std::vector<TOwnPart> Own;
  uint64_t Clock = 0;
};

// An output part and the rectangle of it that the grid reaches.
struct TOutput {
  TRasterPart* Part = nullptr;
  size_t Index = 0;  // in the raster's parts
  int X0 = 0, X1 = 0, Y0 = 0, Y1 = 0;
};

// The calibration of one raster from a copy of it. The output is made part by part, each part
// once, with the rows of a part spread over every core; every output pixel is computed exactly as
// the cell-by-cell definition computes it, so the order of the work does not change a pixel. The
// copy is read where its pixels already are: its mapped source file, its parts in memory, or its
// swap file; nobody touches the copy's cache while the threads read it.
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
  // The columns and rows of cells that reach pixels of the raster; false when none does.
  bool PlanCells();
  void PrepareDepth();
  void PrepareSource();
  // Makes the terms of the rows of cells [first, last] and drops those above them.
  void PrepareTerms(size_t first, size_t last);
  // The pixels of an output part, ready to be written.
  uint8_t* Acquire(const TOutput& output);
  // The job that writes an output part's rows into its pixels.
  TWorkers::TJob PartJob(const TOutput& output, uint8_t* bits);
  // Output row y from column x0 to x1 of the part whose stored row is at row.
  void CalibrateRow(TThreadState& state, uint8_t* row, int partLeft, int y, int x0, int x1);
  // The source pixels of count output pixels of row y from column x0 of one cell, rounded.
  void MapRow(TThreadState& state, const TCellTerms& cell, const TRowTerms& r, int x0, int count,
              int y);
  template <int Bits>
  void WriteRow(TThreadState& state, uint8_t* row, int column, int count);
  // Writes count pixels of the row from column on, the source pixels of which source(k, column)
  // gives as a stored row of the copy and the column in it.
  template <int Bits, typename Source>
  void WritePixels(uint8_t* row, int column, int count, const int32_t* sx, Source source);
  // Makes the thread's source region the one that holds the copy's pixel (x, y).
  void SwitchSource(TThreadState& state, int x, int y);
  // Shows, in order, every percentage that the cell-by-cell walk shows before its rows up to the
  // given number of pixels done.
  void ShowProgress(int64_t processed);

  TRasterManager& FRaster;
  const TGridInfo& FGrid;
  TRasterManager& FSource;
  TProgress& FProgress;
  int64_t FTotal;
  std::vector<bool> FWritten;

  std::vector<TCellSpan> FColumns;              // of cells, left to right
  std::vector<TCellSpan> FRows;                 // of cells, top to bottom
  std::vector<std::vector<TCellTerms>> FTerms;  // by row of cells, made while they are needed

  // Indexed depths: the index that SetPixel would write for the colour of each source index, or
  // -1 where the palette lacks the colour; and the index of white.
  std::array<int16_t, 256> FRemap{};
  int16_t FWhiteIndex = -1;

  // The copy's source file, mapped, when its rows are read in place.
  std::shared_ptr<TRasterFile> FSourceFile;
  TPixelRows FMapped;
  bool FAllMapped = false;  // every pixel of the copy is the mapped file's
  std::vector<TThreadState> FThreads;

  // The cell-by-cell walk of the progress: row FWalkY of the cell in row FWalkRow and column
  // FWalkColumn of cells begins after FWalkDone pixels.
  size_t FWalkRow = 0, FWalkColumn = 0;
  int FWalkY = 0;
  int64_t FWalkDone = 0;
};

bool TCalibration::PlanCells() {
  const auto spans = [](int count, int size, auto lo) {
    std::vector<TCellSpan> spans;
    for (int k = -1; k <= count - 1; ++k) {
      const int a = std::clamp(lo(k), 0, size);
      const int b = std::clamp(lo(k + 1), 0, size);
      if (a < b) spans.push_back({a, b, k});
    }
    return spans;
  };
  FColumns = spans(FGrid.NX, FRaster.Width(), [&](int d) { return FGrid.RefPos(d, 0).X; });
  FRows = spans(FGrid.NY, FRaster.Height(), [&](int c) { return FGrid.RefPos(0, c).Y; });
  return !FColumns.empty() && !FRows.empty();
}

void TCalibration::PrepareDepth() {
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

void TCalibration::PrepareSource() {
  FSourceFile = FSource.Source();
  if (FSourceFile) FMapped = FSourceFile->MappedRows();
  FAllMapped = static_cast<bool>(FMapped);
  for (const std::unique_ptr<TRasterPart>& part : FSource.Parts())
    FAllMapped = FAllMapped && part->FileBacked();
  FThreads.resize(static_cast<size_t>(TWorkers::Shared().Count()));
}

void TCalibration::Run() {
  if (!PlanCells()) return;
  PrepareDepth();
  PrepareSource();
  ShowProgress(0);
  // The output parts row by row, each with the pixels of the grid's reach it holds.
  const int side = FRaster.Side();
  const int left = FColumns.front().Lo, right = FColumns.back().Hi;
  const int top = FRows.front().Lo, bottom = FRows.back().Hi;
  std::vector<TOutput> outputs;
  for (int row = top / side; row <= (bottom - 1) / side; ++row)
    for (int column = left / side; column <= (right - 1) / side; ++column) {
      TRasterPart* part = FRaster.GetPart(column, row);
      outputs.push_back(
          {part, static_cast<size_t>(column) + static_cast<size_t>(row) * FRaster.PartsAcross(),
           std::max(left, part->Left()), std::min(right, part->Left() + part->Width()),
           std::max(top, part->Top()), std::min(bottom, part->Top() + part->Height())});
    }
  // While the other threads work on a part, this one fetches the next, which may write parts
  // out of the cache; the part being worked on stays, for it was the last one touched.
  const bool ahead = FRaster.Cache().MaxLoadedParts() >= 2 && FRaster.Cache().UseDepth() == 0;
  TWorkers& workers = TWorkers::Shared();
  uint8_t* bits = Acquire(outputs.front());
  int64_t processed = 0;
  for (size_t i = 0; i < outputs.size(); ++i) {
    const TOutput& output = outputs[i];
    const bool rowStart = i == 0 || output.Y0 != outputs[i - 1].Y0;
    if (rowStart) PrepareTerms(SpanOf(FRows, output.Y0), SpanOf(FRows, output.Y1 - 1));
    const TWorkers::TJob job = PartJob(output, bits);
    workers.Start((output.Y1 - output.Y0 + kRowsPerPiece - 1) / kRowsPerPiece, job);
    std::exception_ptr error;
    if (ahead && i + 1 < outputs.size()) try {
        bits = Acquire(outputs[i + 1]);
      } catch (...) {
        error = std::current_exception();
      }
    workers.Finish();
    if (error) std::rethrow_exception(error);
    // Pixels read from a mapped file count only while it still holds the bytes it had.
    if (FMapped) FSourceFile->CheckMappedRows();
    processed += int64_t(output.X1 - output.X0) * (output.Y1 - output.Y0);
    ShowProgress(processed);
    const bool rowEnd = i + 1 == outputs.size() || outputs[i + 1].Y0 != output.Y0;
    // The source rows of the next row of parts lie further down: the memory of those read so
    // far is given back, and a row read again comes from the system's file cache.
    if (rowEnd && FMapped) FSourceFile->ReleaseMappedRows();
    if (!ahead && i + 1 < outputs.size()) bits = Acquire(outputs[i + 1]);
  }
}

uint8_t* TCalibration::Acquire(const TOutput& output) {
  TRasterPart& part = *output.Part;
  FWritten[output.Index] = true;
  // A part the grid's reach covers whole needs none of its old pixels.
  if (output.X0 == part.Left() && output.X1 == part.Left() + part.Width() &&
      output.Y0 == part.Top() && output.Y1 == part.Top() + part.Height())
    return part.GetBitsToOverwrite();
  part.MarkModified();
  return part.GetBits();
}

TWorkers::TJob TCalibration::PartJob(const TOutput& output, uint8_t* bits) {
  return [this, &output, bits](int piece, int thread) {
    TThreadState& state = FThreads[static_cast<size_t>(thread)];
    const TRasterPart& part = *output.Part;
    const int rowSize = part.RowSize();
    const int end = std::min(output.Y1, output.Y0 + (piece + 1) * kRowsPerPiece);
    for (int y = output.Y0 + piece * kRowsPerPiece; y < end; ++y) {
      const int stored = FRaster.BottomUp() ? part.Top() + part.Height() - 1 - y : y - part.Top();
      CalibrateRow(state, bits + static_cast<ptrdiff_t>(stored) * rowSize, part.Left(), y,
                   output.X0, output.X1);
    }
  };
}

void TCalibration::PrepareTerms(size_t first, size_t last) {
  FTerms.resize(FRows.size());
  for (size_t r = 0; r < first; ++r) FTerms[r].clear();
  for (size_t r = first; r <= last; ++r) {
    if (!FTerms[r].empty()) continue;
    const int b = std::clamp(FRows[r].Index, 0, FGrid.NY - 2);
    for (const TCellSpan& column : FColumns) {
      TCellTerms& cell = FTerms[r].emplace_back();
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
}

void TCalibration::CalibrateRow(TThreadState& state, uint8_t* row, int partLeft, int y, int x0,
                                int x1) {
  const std::vector<TCellTerms>& cells = FTerms[SpanOf(FRows, y)];
  for (size_t i = SpanOf(FColumns, x0); i < FColumns.size() && FColumns[i].Lo < x1; ++i) {
    const int from = std::max(x0, FColumns[i].Lo);
    const int count = std::min(x1, FColumns[i].Hi) - from;
    const TCellTerms& cell = cells[i];
    state.Sx.resize(static_cast<size_t>(count));
    state.Sy.resize(static_cast<size_t>(count));
    MapRow(state, cell, RowTerms(cell.Transform, y), from, count, y);
    switch (FRaster.BitsPerPixel()) {
      case 1:
        WriteRow<1>(state, row, from - partLeft, count);
        break;
      case 4:
        WriteRow<4>(state, row, from - partLeft, count);
        break;
      case 8:
        WriteRow<8>(state, row, from - partLeft, count);
        break;
      default:
        WriteRow<24>(state, row, from - partLeft, count);
        break;
    }
  }
}

namespace {

// The mapping of a run of output pixels of one row: the column terms from its first pixel, the
// row's terms, and where the rounded source pixels go.
struct TRowRun {
  const double *Tx, *Ty, *DX1, *DY1, *A;
  TRowTerms Row;
  int X0, Y, Count;
  int32_t W, H;  // the raster: a source pixel outside it gets the column -1, read as white
  int32_t *Sx, *Sy;
};

// Pixel k of the run as Cross maps it.
inline void MapOne(const TRowRun& run, int k) {
  const TColumnTerms c{run.Tx[k], run.Ty[k], run.DX1[k], run.DY1[k], run.A[k]};
  const TWorldPoint s = Cross(c, run.Row, run.X0 + k, run.Y);
  const int32_t x = RoundToInt(s.X), y = RoundToInt(s.Y);
  run.Sx[k] = x >= 0 && x < run.W && y >= 0 && y < run.H ? x : -1;
  run.Sy[k] = y;
}

// Marks the lanes outside the raster with the column -1; pixels whose rounding the lanes could
// not hold (INT_MIN: beyond 32 bits, or no number) are mapped again one by one.
inline void StoreLanes(const TRowRun& run, int k, int lanes, __m128i ix, __m128i iy) {
  const __m128i unheld = _mm_set1_epi32(INT32_MIN);
  const __m128i outside =
      _mm_or_si128(_mm_or_si128(_mm_cmplt_epi32(ix, _mm_setzero_si128()),
                                _mm_cmpgt_epi32(ix, _mm_set1_epi32(run.W - 1))),
                   _mm_or_si128(_mm_cmplt_epi32(iy, _mm_setzero_si128()),
                                _mm_cmpgt_epi32(iy, _mm_set1_epi32(run.H - 1))));
  const int redo =
      _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi32(ix, unheld), _mm_cmpeq_epi32(iy, unheld)));
  ix = _mm_or_si128(ix, outside);
  if (lanes == 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(run.Sx + k), ix);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(run.Sy + k), iy);
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(run.Sx + k), ix);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(run.Sy + k), iy);
  }
  for (int lane = 0; lane < lanes; ++lane)
    if (redo & (1 << (4 * lane))) MapOne(run, k + lane);
}

inline __m128d Select(__m128d mask, __m128d a, __m128d b) {
  return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
}

// Two pixels at a time: the same operations in the same order as Cross, so the same doubles; the
// rare lanes where the lines are level or parallel take their own values by masks. The
// conversion rounds halves to even like RoundToInt.
void MapRun(const TRowRun& run) {
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
    StoreLanes(run, k, 2, _mm_cvtpd_epi32(x1), _mm_cvtpd_epi32(y1));
  }
  for (; k < run.Count; ++k) MapOne(run, k);
}

// The same, four pixels at a time.
__attribute__((target("avx2"))) void MapRunAvx2(const TRowRun& run) {
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
    StoreLanes(run, k, 4, _mm256_cvtpd_epi32(x1), _mm256_cvtpd_epi32(y1));
  }
  for (; k < run.Count; ++k) MapOne(run, k);
}

}  // namespace

void TCalibration::MapRow(TThreadState& state, const TCellTerms& cell, const TRowTerms& r, int x0,
                          int count, int y) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  const size_t first = static_cast<size_t>(x0 - cell.Left);
  const TRowRun run{cell.Tx.data() + first,
                    cell.Ty.data() + first,
                    cell.DX1.data() + first,
                    cell.DY1.data() + first,
                    cell.A.data() + first,
                    r,
                    x0,
                    y,
                    count,
                    FRaster.Width(),
                    FRaster.Height(),
                    state.Sx.data(),
                    state.Sy.data()};
  if (avx2)
    MapRunAvx2(run);
  else
    MapRun(run);
}

void TCalibration::SwitchSource(TThreadState& state, int x, int y) {
  TSourceRegion& region = state.Source;
  if (FAllMapped) {
    region = {0, 0, FSource.Width(), FSource.Height(), FMapped.Row(0), FMapped.Stride};
    return;
  }
  const int side = FSource.Side();
  const size_t index = static_cast<size_t>(x / side) +
                       static_cast<size_t>(y / side) * static_cast<size_t>(FSource.PartsAcross());
  const TRasterPart& part = *FSource.Parts()[index];
  region.Left = part.Left();
  region.Top = part.Top();
  region.Right = part.Left() + part.Width();
  region.Bottom = part.Top() + part.Height();
  if (FMapped && part.FileBacked()) {
    // Part lefts are whole bytes of a row at every depth.
    region.TopRow = FMapped.Row(part.Top()) + int64_t{part.Left()} * FSource.BitsPerPixel() / 8;
    region.Stride = FMapped.Stride;
    return;
  }
  const uint8_t* bits = part.LoadedBits();
  if (!bits) {
    // Read into memory of this thread's own, in place of the part it used longest ago.
    std::vector<TOwnPart>& own = state.Own;
    auto it =
        std::find_if(own.begin(), own.end(), [&](const TOwnPart& p) { return p.Index == index; });
    if (it == own.end()) {
      if (own.size() < kOwnSourceParts)
        it = own.emplace(own.end());
      else
        it = std::min_element(own.begin(), own.end(),
                              [](const TOwnPart& a, const TOwnPart& b) { return a.Used < b.Used; });
      it->Index = index;
      it->Bits = TPixelBuffer(part.ByteSize(), TPixelBuffer::TFill::Uninitialised);
      try {
        FSource.Cache().ReadPixels(part, it->Bits.Data());
      } catch (...) {
        own.erase(it);
        region = {};
        throw;
      }
    }
    it->Used = ++state.Clock;
    bits = it->Bits.Data();
  }
  const int rowSize = part.RowSize();
  if (FSource.BottomUp()) {
    region.TopRow = bits + static_cast<ptrdiff_t>(part.Height() - 1) * rowSize;
    region.Stride = -rowSize;
  } else {
    region.TopRow = bits;
    region.Stride = rowSize;
  }
}

template <int Bits>
void TCalibration::WriteRow(TThreadState& state, uint8_t* row, int column, int count) {
  const int32_t* sx = state.Sx.data();
  const int32_t* sy = state.Sy.data();
  if (FAllMapped) {
    // The whole copy is one block of rows.
    const uint8_t* rows = FMapped.Rows;
    const int64_t stride = FMapped.Stride;
    WritePixels<Bits>(row, column, count, sx, [=](int k, int& sc) {
      sc = sx[k];
      return rows + sy[k] * stride;
    });
    return;
  }
  // A copy of the region: writing the row's bytes could otherwise change it, for all the compiler
  // knows, and it would be read again for every pixel.
  TSourceRegion r = state.Source;
  WritePixels<Bits>(row, column, count, sx, [&](int k, int& sc) {
    const int x = sx[k], y = sy[k];
    if (x < r.Left || x >= r.Right || y < r.Top || y >= r.Bottom) {
      SwitchSource(state, x, y);
      r = state.Source;
    }
    sc = x - r.Left;
    return r.TopRow + (y - r.Top) * r.Stride;
  });
}

template <int Bits, typename Source>
void TCalibration::WritePixels(uint8_t* row, int column, int count, const int32_t* sx,
                               Source source) {
  // The source bytes of the whole row are asked for first, so that memory fetches them together
  // instead of one miss after another.
  for (int k = 0; k < count; k += 16)
    if (sx[k] >= 0) {
      int sc;
      const uint8_t* in = source(k, sc);  // sets sc
      _mm_prefetch(reinterpret_cast<const char*>(in + sc * Bits / 8), _MM_HINT_T0);
    }
  const int16_t* remap = FRemap.data();
  for (int k = 0; k < count; ++k) {
    const int c = column + k;
    if constexpr (Bits == 24) {
      uint8_t* out = row + 3 * c;
      if (sx[k] < 0) {
        out[0] = out[1] = out[2] = 0xFF;
      } else {
        int sc;
        const uint8_t* in = source(k, sc);  // sets sc
        in += 3 * sc;
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
        const uint8_t* in = source(k, sc);
        if constexpr (Bits == 8)
          index = remap[in[sc]];
        else if constexpr (Bits == 4)
          index = remap[sc & 1 ? in[sc >> 1] & 0x0F : in[sc >> 1] >> 4];
        else
          index = remap[(in[sc >> 3] >> (7 - (sc & 7))) & 1];
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

void TCalibration::ShowProgress(int64_t processed) {
  while (FWalkRow < FRows.size() && FWalkDone <= processed) {
    FProgress.ShowPercent(static_cast<int>(MulDiv(FWalkDone, 100, FTotal)));
    FWalkDone += FColumns[FWalkColumn].Hi - FColumns[FWalkColumn].Lo;
    if (++FWalkY < FRows[FWalkRow].Hi - FRows[FWalkRow].Lo) continue;
    FWalkY = 0;
    if (++FWalkColumn < FColumns.size()) continue;
    FWalkColumn = 0;
    ++FWalkRow;
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

void CalibrateFromCopy(TRasterManager& raster, const TGridInfo& grid, TRasterManager& copy,
                       TProgress& progress) {
  TCalibration calibration(raster, grid, copy, progress);
  try {
    calibration.Run();
  } catch (...) {
    calibration.RestoreWritten();
    throw;
  }
}

}  // namespace

void CalibrateRaster(TRasterManager& raster, const TGridInfo& grid) {
  TProgress progress(raster.StatusInfo(), QStringLiteral("Калибровка..."));
  TRasterManager copy(raster.Provider(), raster.CacheSize(), raster.StatusInfo());
  copy.CopyFrom(raster);
  CalibrateFromCopy(raster, grid, copy, progress);
}

void CalibrateRaster(TRasterManager& raster, const TGridInfo& grid, TRasterManager& copy) {
  TProgress progress(raster.StatusInfo(), QStringLiteral("Калибровка..."));
  CalibrateFromCopy(raster, grid, copy, progress);
}

bool ClipRasterToGrid(TRasterManager& raster, TGridInfo& grid) {
  TGridClip clip = FirstCellClip(grid);
  if (!raster.Clip(clip.Rect)) return false;
  grid = std::move(clip.Grid);
  return true;
}

bool ClipRasterToGridFrame(TRasterManager& raster, TGridInfo& grid) {
  TGridClip clip = FrameClip(grid);
  if (!raster.Clip(clip.Rect)) return false;
  grid = std::move(clip.Grid);
  return true;
}

TGridClip FirstCellClip(const TGridInfo& grid) {
  TGridClip clip{
      TRect{grid.Origin.X, grid.Origin.Y, grid.Origin.X + grid.Step.X, grid.Origin.Y + grid.Step.Y},
      grid};
  // The cell's corner becomes the raster's; moved nodes keep their raster coordinates.
  clip.Grid.SetOrigin(TPoint{0, 0});
  return clip;
}

TGridClip FrameClip(const TGridInfo& grid) {
  const TPoint last = grid.RefPos(grid.NX - 1, grid.NY - 1);
  TGridClip clip{TRect{grid.Origin.X, grid.Origin.Y, last.X, last.Y}, grid};
  // The offsets are the nodes' places relative to the lattice: the whole grid moves as one.
  clip.Grid.Origin = TPoint{grid.Origin.X - std::max(0, clip.Rect.Left),
                            grid.Origin.Y - std::max(0, clip.Rect.Top)};
  return clip;
}
