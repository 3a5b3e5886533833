#include "CalibrateRaster.h"

#include "PartReaders.h"
#include "PixelCopies.h"
#include "RasterManagers.h"
#include "RunGathers.h"
#include "StatusInfo.h"
#include "SysUtils.h"
#include "Workers.h"

#include <QString>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Rows of output that one thread takes at a time.
constexpr int kRowsPerPiece = 8;

bool PixelAccess(int bitsPerPixel) {
  return bitsPerPixel == 1 || bitsPerPixel == 4 || bitsPerPixel == 8 || bitsPerPixel == 24;
}

[[noreturn]] void RaiseUnsupportedDepth() {
  throw Exception(QStringLiteral("Неподдерживаемое количество битов на цвет"));
}

// The calibrated pixels of output rows, from a source raster that nobody changes meanwhile: the
// map of the grid, the readers of the source, and the index each colour is written as. Rows are
// made on several threads at once, each with its own state; every pixel is the one the
// cell-by-cell definition gives, whatever the order of the work.
class TCalibratedRows {
 public:
  TCalibratedRows(const TGridInfo& grid, TRasterManager& source)
      : FMaps(grid, source.Width(), source.Height()),
        FReaders(source),
        FRemap(source.Palette(), source.BitsPerPixel()),
        FGather(FReaders, FRemap, source.BitsPerPixel()) {
    for (int thread = 0; thread < TWorkers::Shared().Count(); ++thread)
      FStates.emplace_back(FReaders);
  }

  TCellMaps& Maps() { return FMaps; }
  const TCellMaps& Maps() const { return FMaps; }
  const TPartReaders& Readers() const { return FReaders; }
  const TIndexRemap& Remap() const { return FRemap; }
  TGatherState& State(int thread) { return FStates[static_cast<size_t>(thread)]; }

  // Writes the calibrated pixels x0 .. x1 - 1 of raster row y, all within the grid's reach, into
  // the stored row, whose pixel 0 is raster column rowLeft.
  void CalibrateRow(TGatherState& state, uint8_t* row, int rowLeft, int y, int x0, int x1) const {
    FMaps.ForEachRun(y, x0, x1, [&](const TCellRun& run) {
      FGather.Write(state, run, row, run.X0() - rowLeft);
    });
  }

 private:
  TCellMaps FMaps;
  TPartReaders FReaders;
  TIndexRemap FRemap;
  TRunGather FGather;
  std::vector<TGatherState> FStates;
};

// An output part and the rectangle of it that the grid reaches.
struct TOutput {
  TRasterPart* Part = nullptr;
  size_t Index = 0;  // in the raster's parts
  int X0 = 0, X1 = 0, Y0 = 0, Y1 = 0;
};

// The calibration of a raster in place, from a copy of it. The output is made part by part, each
// part once, with the rows of a part spread over every core. The copy is read where its pixels
// already are; nobody touches the copy's cache while the threads read it.
class TCalibration {
 public:
  TCalibration(TRasterManager& raster, const TGridInfo& grid, TRasterManager& copy,
               TProgress& progress)
      : FRaster(raster),
        FCopy(copy),
        FRows(grid, copy),
        FProgress(progress),
        FTotal(int64_t(raster.Width()) * raster.Height()),
        FWritten(raster.Parts().size(), false) {}

  void Run();
  // Gives every part written so far its pixels from the copy back.
  void RestoreWritten();

 private:
  // The pixels of an output part, ready to be written.
  uint8_t* Acquire(const TOutput& output);
  // The job that writes an output part's rows into its pixels.
  TWorkers::TJob PartJob(const TOutput& output, uint8_t* bits);
  // Shows, in order, every percentage that the cell-by-cell walk shows before its rows up to the
  // given number of pixels done.
  void ShowProgress(int64_t processed);

  TRasterManager& FRaster;
  TRasterManager& FCopy;
  TCalibratedRows FRows;
  TProgress& FProgress;
  int64_t FTotal;
  std::vector<bool> FWritten;

  // The cell-by-cell walk of the progress: row FWalkY of the cell in row FWalkRow and column
  // FWalkColumn of cells begins after FWalkDone pixels.
  size_t FWalkRow = 0, FWalkColumn = 0;
  int FWalkY = 0;
  int64_t FWalkDone = 0;
};

void TCalibration::Run() {
  const TCellMaps& maps = FRows.Maps();
  if (maps.Empty()) return;
  if (!PixelAccess(FRaster.BitsPerPixel())) RaiseUnsupportedDepth();
  ShowProgress(0);
  // The output parts row by row, each with the pixels of the grid's reach it holds.
  const int side = FRaster.Side();
  const TRect reach = maps.Reach();
  std::vector<TOutput> outputs;
  for (int row = reach.Top / side; row <= (reach.Bottom - 1) / side; ++row)
    for (int column = reach.Left / side; column <= (reach.Right - 1) / side; ++column) {
      TRasterPart* part = FRaster.GetPart(column, row);
      outputs.push_back(
          {part, static_cast<size_t>(column) + static_cast<size_t>(row) * FRaster.PartsAcross(),
           std::max(reach.Left, part->Left()), std::min(reach.Right, part->Left() + part->Width()),
           std::max(reach.Top, part->Top()), std::min(reach.Bottom, part->Top() + part->Height())});
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
    if (rowStart) FRows.Maps().Prepare(output.Y0, output.Y1);
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
    FRows.Readers().CheckMapped();
    processed += int64_t(output.X1 - output.X0) * (output.Y1 - output.Y0);
    ShowProgress(processed);
    const bool rowEnd = i + 1 == outputs.size() || outputs[i + 1].Y0 != output.Y0;
    // The source rows of the next row of parts lie further down: the memory of those read so
    // far is given back, and a row read again comes from the system's file cache.
    if (rowEnd) FRows.Readers().ReleaseMapped();
    if (!ahead && i + 1 < outputs.size()) bits = Acquire(outputs[i + 1]);
  }
}

uint8_t* TCalibration::Acquire(const TOutput& output) {
  TRasterPart& part = *output.Part;
  FWritten[output.Index] = true;
  // A part the grid's reach covers whole needs none of its old pixels, unless its rows end within
  // a byte whose last bits are no pixel's and stay as they were.
  if (output.X0 == part.Left() && output.X1 == part.Left() + part.Width() &&
      output.Y0 == part.Top() && output.Y1 == part.Top() + part.Height() &&
      int64_t{part.Width()} * FRaster.BitsPerPixel() % 8 == 0)
    return part.GetBitsToOverwrite();
  part.MarkModified();
  return part.GetBits();
}

TWorkers::TJob TCalibration::PartJob(const TOutput& output, uint8_t* bits) {
  return [this, &output, bits](int piece, int thread) {
    TGatherState& state = FRows.State(thread);
    const TRasterPart& part = *output.Part;
    const int rowSize = part.RowSize();
    const int end = std::min(output.Y1, output.Y0 + (piece + 1) * kRowsPerPiece);
    for (int y = output.Y0 + piece * kRowsPerPiece; y < end; ++y) {
      const int stored = FRaster.BottomUp() ? part.Top() + part.Height() - 1 - y : y - part.Top();
      FRows.CalibrateRow(state, bits + static_cast<ptrdiff_t>(stored) * rowSize, part.Left(), y,
                         output.X0, output.X1);
    }
  };
}

void TCalibration::ShowProgress(int64_t processed) {
  const std::vector<TCellSpan>& rows = FRows.Maps().Rows();
  const std::vector<TCellSpan>& columns = FRows.Maps().Columns();
  while (FWalkRow < rows.size() && FWalkDone <= processed) {
    FProgress.ShowPercent(static_cast<int>(MulDiv(FWalkDone, 100, FTotal)));
    FWalkDone += columns[FWalkColumn].Hi - columns[FWalkColumn].Lo;
    if (++FWalkY < rows[FWalkRow].Hi - rows[FWalkRow].Lo) continue;
    FWalkY = 0;
    if (++FWalkColumn < columns.size()) continue;
    FWalkColumn = 0;
    ++FWalkRow;
  }
}

void TCalibration::RestoreWritten() {
  const TRasterPartList& parts = FRaster.Parts();
  for (size_t i = 0; i < parts.size(); ++i) {
    if (!FWritten[i]) continue;
    TRasterPart& part = *parts[i];
    const uint8_t* original = FCopy.Parts()[i]->GetBits();
    std::memcpy(part.GetBits(), original, static_cast<size_t>(part.ByteSize()));
    part.MarkModified();
  }
}

// The rows of a raster calibrated, and clipped when asked, made straight from the raster itself
// while they are written: the pixels the grid reaches are calibrated, the others are those of
// the raster, moved through their colours when clipped as Clip moves them.
class TCalibratedFile : public TRowSource {
 public:
  TCalibratedFile(TRasterManager& raster, const TGridInfo& grid, const TRect& kept, bool clipped)
      : FRaster(raster), FRows(grid, raster), FKept(kept), FClipped(clipped) {}

  int Width() const override { return FKept.Width(); }
  int Height() const override { return FKept.Height(); }
  void Fill(int top, int count, uint8_t* rows, int64_t rowSize,
            const std::function<void()>& write) override;

 private:
  // The pixels x0 .. x1 - 1 of raster row y into the file's row, and the row's end after the
  // last pixel of the output.
  void FillTile(TGatherState& state, uint8_t* row, int64_t rowSize, int y, int x0, int x1) const;
  // The raster's own pixels x0 .. x1 - 1 of row y.
  void CopySpan(TGatherState& state, uint8_t* row, int y, int x0, int x1) const;
  // The bits after the last pixel of the row's last byte, as the raster holds them.
  void CopyLastBits(TGatherState& state, uint8_t* row, int y) const;

  TRasterManager& FRaster;
  TCalibratedRows FRows;
  TRect FKept;
  bool FClipped;
};

void TCalibratedFile::Fill(int top, int count, uint8_t* rows, int64_t rowSize,
                           const std::function<void()>& write) {
  const int y0 = FKept.Top + top;
  const int y1 = y0 + count;
  if (!FRows.Maps().Empty()) {
    const TRect reach = FRows.Maps().Reach();
    FRows.Maps().Prepare(std::max(y0, reach.Top), std::min(y1, reach.Bottom));
  }
  // Where the raster's pixels are not all one mapped block, each piece keeps to a column of its
  // parts, so that the few parts a reader holds of its own hold what the piece reads. Columns
  // begin on whole bytes of the output.
  const int tile = FRows.Readers().AllMapped() ? FKept.Width() : FRaster.Side();
  const int tiles = (FKept.Width() + tile - 1) / tile;
  const int groups = (count + kRowsPerPiece - 1) / kRowsPerPiece;
  // The band before is written by whichever thread comes first, while the others make this one.
  const int first = write ? 1 : 0;
  const auto job = [&](int piece, int thread) {
    if (piece < first) return write();
    TGatherState& state = FRows.State(thread);
    const int x0 = FKept.Left + (piece - first) / groups * tile;
    const int x1 = std::min(FKept.Right, x0 + tile);
    const int from = (piece - first) % groups * kRowsPerPiece;
    for (int j = from; j < std::min(count, from + kRowsPerPiece); ++j)
      FillTile(state, rows + (count - 1 - j) * rowSize, rowSize, y0 + j, x0, x1);
  };
  TWorkers::Shared().Run(first + tiles * groups, job);
  // Pixels read from a mapped file count only while it still holds the bytes it had. The rows of
  // the next band lie further up: the memory of those read so far is given back.
  FRows.Readers().CheckMapped();
  FRows.Readers().ReleaseMapped();
}

void TCalibratedFile::FillTile(TGatherState& state, uint8_t* row, int64_t rowSize, int y, int x0,
                               int x1) const {
  const int bits = FRaster.BitsPerPixel();
  const int64_t pixelBytes = (int64_t{FKept.Width()} * bits + 7) / 8;
  const int64_t firstByte = int64_t{x0 - FKept.Left} * bits / 8;
  const int64_t endByte = x1 == FKept.Right ? pixelBytes : int64_t{x1 - FKept.Left} * bits / 8;
  // Pixels of less than a byte are written into bytes that must hold something first.
  if (bits < 8) std::memset(row + firstByte, 0, static_cast<size_t>(endByte - firstByte));
  const TCellMaps& maps = FRows.Maps();
  int from = x0;
  if (!maps.Empty()) {
    const TRect reach = maps.Reach();
    const int a = std::max(x0, reach.Left);
    const int b = std::min(x1, reach.Right);
    if (y >= reach.Top && y < reach.Bottom && a < b) {
      CopySpan(state, row, y, x0, a);
      FRows.CalibrateRow(state, row, FKept.Left, y, a, b);
      from = b;
    }
  }
  CopySpan(state, row, y, from, x1);
  if (x1 < FKept.Right) return;
  if (!FClipped && bits < 8) CopyLastBits(state, row, y);
  std::memset(row + pixelBytes, 0, static_cast<size_t>(rowSize - pixelBytes));
}

void TCalibratedFile::CopySpan(TGatherState& state, uint8_t* row, int y, int x0, int x1) const {
  const TIndexRemap* remap = FClipped ? &FRows.Remap() : nullptr;
  for (int x = x0; x < x1;) {
    const TPixelRegion& region = state.Reader.RegionOf(x, y);
    const int end = std::min(x1, region.Right);
    CopyPixels(FRaster.BitsPerPixel(), region.Row(y), x - region.Left, row, x - FKept.Left, end - x,
               remap);
    x = end;
  }
}

void TCalibratedFile::CopyLastBits(TGatherState& state, uint8_t* row, int y) const {
  const int bits = FRaster.BitsPerPixel();
  const int used = static_cast<int>(int64_t{FRaster.Width()} * bits % 8);
  if (used == 0) return;
  const int last = FRaster.Width() - 1;
  const TPixelRegion& region = state.Reader.RegionOf(last, y);
  const uint8_t source = region.Row(y)[(last - region.Left) * bits / 8];
  const uint8_t after = static_cast<uint8_t>((1 << (8 - used)) - 1);
  uint8_t& target = row[int64_t{last} * bits / 8];
  target = static_cast<uint8_t>((target & ~after) | (source & after));
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
  // A node stands for its pixel: the frame holds the last node's column and row too, so that the
  // frame's far lines show as whole as its near ones and the far corners lie on the picture.
  const TPoint last = grid.RefPos(grid.NX - 1, grid.NY - 1);
  TGridClip clip{TRect{grid.Origin.X, grid.Origin.Y, last.X + 1, last.Y + 1}, grid};
  // The offsets are the nodes' places relative to the lattice: the whole grid moves as one.
  clip.Grid.Origin = TPoint{grid.Origin.X - std::max(0, clip.Rect.Left),
                            grid.Origin.Y - std::max(0, clip.Rect.Top)};
  return clip;
}

std::unique_ptr<TRowSource> CalibratedRows(TRasterManager& raster, const TGridInfo& grid,
                                           const std::optional<TRect>& clip) {
  TRect kept{0, 0, raster.Width(), raster.Height()};
  const bool clipped = clip && raster.ClipRect(*clip, kept);
  // Calibrating pixels and clipping move colours, which these depths have not; a raster that
  // neither changes is written as it is.
  if (!PixelAccess(raster.BitsPerPixel()) &&
      (clipped || !TCellMaps(grid, raster.Width(), raster.Height()).Empty()))
    RaiseUnsupportedDepth();
  return std::make_unique<TCalibratedFile>(raster, grid, kept, clipped);
}

void SaveCalibratedRaster(TRasterManager& raster, const TGridInfo& grid,
                          const std::optional<TRect>& clip, const QString& fileName) {
  raster.SaveRows(fileName, *CalibratedRows(raster, grid, clip), QStringLiteral("Калибровка..."));
}
