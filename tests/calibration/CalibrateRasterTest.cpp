#include "CalibrateRaster.h"
#include "OtherProgram.h"
#include "QtPrinters.h"

#include "RasterManagers.h"
#include "RasterTestUtils.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <random>

namespace {

// The calibration as it is defined: one mapping, one read and one write per output pixel, cell by
// cell. The fast path must give exactly its pixels.
void ReferenceCalibrate(TRasterManager& raster, const TGridInfo& grid) {
  TRasterManager copy(raster.Provider(), raster.CacheSize(), nullptr);
  copy.CopyFrom(raster);
  const int w = raster.Width();
  const int h = raster.Height();
  for (int c = -1; c <= grid.NY - 1; ++c)
    for (int d = -1; d <= grid.NX - 1; ++d) {
      TPoint lo = grid.RefPos(d, c);
      TPoint hi = grid.RefPos(d + 1, c + 1);
      if (lo.X >= w || lo.Y >= h || hi.X <= 0 || hi.Y <= 0) continue;
      lo = TPoint{std::max(lo.X, 0), std::max(lo.Y, 0)};
      hi = TPoint{std::min(hi.X, w), std::min(hi.Y, h)};
      if (lo.X >= hi.X || lo.Y >= hi.Y) continue;
      const TCellTransform t =
          MakeCellTransform(grid, std::clamp(d, 0, grid.NX - 2), std::clamp(c, 0, grid.NY - 2));
      for (int y = lo.Y; y < hi.Y; ++y)
        for (int x = lo.X; x < hi.X; ++x) {
          const TPoint s = RoundWorldPoint(MapPoint(t, TWorldPoint{double(x), double(y)}));
          const uint32_t colour =
              s.X < 0 || s.X >= w || s.Y < 0 || s.Y >= h ? 0xFFFFFFu : copy.GetPixel(s.X, s.Y);
          raster.SetPixel(x, y, colour);
        }
    }
}

std::vector<uint32_t> Pixels(TRasterManager& raster) {
  std::vector<uint32_t> pixels;
  for (int y = 0; y < raster.Height(); ++y)
    for (int x = 0; x < raster.Width(); ++x) pixels.push_back(raster.GetPixel(x, y));
  return pixels;
}

TGridInfo Grid(int cellsX, int cellsY, TPoint origin, TPoint step) {
  TGridInfo grid;
  grid.SetSize(cellsX + 1, cellsY + 1);
  grid.SetOrigin(origin);
  grid.SetStep(step);
  return grid;
}

void MoveNodesAtRandom(TGridInfo& grid, int reach, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> offset(-reach, reach);
  for (int j = 0; j < grid.NY; ++j)
    for (int i = 0; i < grid.NX; ++i)
      grid.NodeAt(i, j).Offset = TPoint{offset(random), offset(random)};
}

// A raster of several parts for each depth, with noise that makes every misplaced pixel show.
TBmpLayout NoiseLayout(int bits, int height, unsigned seed) {
  TBmpLayout layout;
  layout.BitsPerPixel = bits;
  // Three parts across and two down, the last ones partial.
  layout.Width = 2 * PartSide(bits) + 37;
  layout.Height = height;
  if (bits <= 8) {
    layout.Palette = GreyPalette(1 << bits);
    if (bits == 8)
      layout.Palette[17] = layout.Palette[3];  // a duplicate: the lower index is written
  }
  // A hash of the position, so that every file written from the layout holds the same noise.
  layout.Pixel = [seed, bits](int x, int y) {
    uint32_t value = (uint32_t(x) * 73856093u) ^ (uint32_t(y) * 19349663u) ^ (seed * 83492791u);
    value ^= value >> 13;
    value *= 0x5bd1e995u;
    value ^= value >> 15;
    return bits == 24 ? value & 0xFFFFFF : value & ((1u << bits) - 1);
  };
  return layout;
}

// The layout's file with garbage where its rows end, as real files have: the bits after the last
// pixel of each row's last byte set, and the padding bytes not zero.
QByteArray BytesWithGarbage(const TBmpLayout& layout) {
  QByteArray bytes = BmpBytes(layout);
  const int64_t bitsOffset = FileLe32(bytes, 10);
  const int64_t rowSize = DibRowSize(layout.Width, layout.BitsPerPixel);
  const int64_t usedBits = int64_t{layout.Width} * layout.BitsPerPixel;
  for (int64_t row = 0; row < std::abs(layout.Height); ++row)
    for (int64_t bit = usedBits; bit < rowSize * 8; ++bit)
      bytes[static_cast<qsizetype>(bitsOffset + row * rowSize + bit / 8)] |=
          static_cast<char>(0x80 >> (bit % 8));
  return bytes;
}

// A status whose show handler raises, as a cancelled operation's progress does, when it has shown
// the given number of percentages after Cancel.
class TCancellingStatus {
 public:
  TCancellingStatus()
      : FInfo([](int) { return QString(); },
              [this](int slot, const QString& text) {
                if (slot == TStatusInfo::PercentSlot && !text.isEmpty() && --FLeft == 0)
                  throw Exception(QStringLiteral("Отменено"));
              }) {}
  TStatusInfo* Info() { return &FInfo; }
  void Cancel(int percents) { FLeft = percents; }

 private:
  int FLeft = -1;
  TStatusInfo FInfo;
};

class CalibrateRasterTest : public testing::Test {
 protected:
  // A raster opened from the bytes written under the name.
  std::unique_ptr<TRasterManager> OpenBytes(TRasterFiles& files, const QByteArray& bytes,
                                            const QString& name, TStatusInfo* status = nullptr) {
    WriteFile(files.Path(name), bytes);
    auto raster = std::make_unique<TRasterManager>(files.Provider(), 2 * 204800,
                                                   status ? status : files.Status().Info());
    raster->Open(files.Path(name));
    return raster;
  }

  TRasterFiles Files;
  TRasterFiles UnstableFiles{false};
};

}  // namespace

TEST(MapPoint, UnmovedCellMapsOntoItselfAndMovedCellsInterpolate) {
  TGridInfo grid = Grid(1, 1, TPoint{10, 20}, TPoint{100, 50});
  TCellTransform t = MakeCellTransform(grid, 0, 0);
  const TWorldPoint same = MapPoint(t, TWorldPoint{37, 41});
  EXPECT_NEAR(same.X, 37, 1e-9);
  EXPECT_NEAR(same.Y, 41, 1e-9);

  grid.NodeAt(1, 1).Offset = TPoint{10, 0};
  t = MakeCellTransform(grid, 0, 0);
  // Bilinear: (x, y) + 10·u·v along X.
  const TWorldPoint p = MapPoint(t, TWorldPoint{60, 45});  // u = 0.5, v = 0.5
  EXPECT_NEAR(p.X, 62.5, 1e-9);
  EXPECT_NEAR(p.Y, 45, 1e-9);
  // Outside the cell the same mapping extrapolates (the border bands).
  const TWorldPoint q = MapPoint(t, TWorldPoint{210, 120});  // u = 2, v = 2
  EXPECT_NEAR(q.X, 250, 1e-9);
  EXPECT_NEAR(q.Y, 120, 1e-9);
}

TEST(MapPoint, ParallelLinesGiveThePointItself) {
  // A cell folded onto a line: every crossing's lines are parallel (D = 0).
  TCellTransform t;
  t.Reference = TWorldRect{0, 0, 10, 10};
  t.W = t.H = 10;
  t.Q0 = TWorldPoint{0, 0};
  t.Q1 = TWorldPoint{10, 0};
  t.Q2 = TWorldPoint{10, 0};
  t.Q3 = TWorldPoint{0, 0};
  t.ETop = TWorldPoint{10, 0};
  t.ERight = TWorldPoint{0, 0};
  t.EBottom = TWorldPoint{10, 0};
  t.ELeft = TWorldPoint{0, 0};
  const TWorldPoint p = MapPoint(t, TWorldPoint{3.25, 7.5});
  EXPECT_EQ(p.X, 3.25);
  EXPECT_EQ(p.Y, 7.5);
}

TEST(MapPoint, LevelTopAndBottomEdgesTakeTheCrossingFromTheRowLine) {
  // At u = 0.5 the top edge is at (5, 2) and the bottom edge at (7, 2): the column's line is
  // level (dY1 = 0) but the row's line is not, so the crossing is where the row's line reaches
  // y = 2. Dividing by dY1 would give no number at all.
  TCellTransform t;
  t.Reference = TWorldRect{0, 0, 10, 10};
  t.W = t.H = 10;
  t.Q0 = TWorldPoint{0, 0};
  t.Q1 = TWorldPoint{10, 4};
  t.Q2 = TWorldPoint{12, 0};
  t.Q3 = TWorldPoint{2, 4};
  t.ETop = TWorldPoint{10, 4};
  t.ERight = TWorldPoint{2, -4};
  t.EBottom = TWorldPoint{10, -4};
  t.ELeft = TWorldPoint{2, 4};
  // v = 0.25: the row runs from the right edge at (10.5, 3) towards the left edge at (0.5, 1).
  const TWorldPoint p = MapPoint(t, TWorldPoint{5, 2.5});
  EXPECT_EQ(p.X, 5.5);
  EXPECT_EQ(p.Y, 2);
}

TEST(CellMaps, RunsMapEveryPixelAsMapPointRounds) {
  // Grids of every kind over rasters of every size, the rows sampled: small cells and large,
  // nodes moved a little and a lot, coordinates far from zero, and cells whose crossings lie on
  // exact halves.
  std::mt19937 random(5);
  for (int round = 0; round < 160; ++round) {
    const int w = std::uniform_int_distribution<int>(20, round % 4 == 0 ? 120000 : 3000)(random);
    const int h = std::uniform_int_distribution<int>(20, round % 4 == 0 ? 90000 : 2000)(random);
    const int cells = std::uniform_int_distribution<int>(1, 7)(random);
    const TPoint step{std::max(2, w / cells + std::uniform_int_distribution<int>(-9, 9)(random)),
                      std::max(2, h / cells + std::uniform_int_distribution<int>(-9, 9)(random))};
    TGridInfo grid = Grid(cells, cells,
                          TPoint{std::uniform_int_distribution<int>(-step.X, step.X)(random),
                                 std::uniform_int_distribution<int>(-step.Y, step.Y)(random)},
                          step);
    const int reach = round % 3 == 0 ? 1 : std::max(1, std::min(step.X, step.Y) / (round % 5 + 2));
    MoveNodesAtRandom(grid, reach, static_cast<unsigned>(round));
    TCellMaps maps(grid, w, h);
    if (maps.Empty()) continue;
    const TRect r = maps.Reach();
    maps.Prepare(r.Top, r.Bottom);
    std::vector<int32_t> sx(static_cast<size_t>(r.Width())), sy(sx.size());
    for (int y = r.Top; y < r.Bottom; y += std::max(1, r.Height() / 40)) {
      maps.ForEachRun(y, r.Left, r.Right, [&](const TCellRun& run) {
        const size_t at = static_cast<size_t>(run.X0() - r.Left);
        run.Map(sx.data() + at, sy.data() + at);
      });
      const int c = std::clamp((y - grid.Origin.Y) / grid.Step.Y - (y < grid.Origin.Y), -1, cells);
      for (int x = r.Left; x < r.Right; ++x) {
        const int d =
            std::clamp((x - grid.Origin.X) / grid.Step.X - (x < grid.Origin.X), -1, cells);
        const TCellTransform t =
            MakeCellTransform(grid, std::clamp(d, 0, cells - 1), std::clamp(c, 0, cells - 1));
        const TPoint s = RoundWorldPoint(MapPoint(t, TWorldPoint{double(x), double(y)}));
        const size_t k = static_cast<size_t>(x - r.Left);
        const bool inside = s.X >= 0 && s.X < w && s.Y >= 0 && s.Y < h;
        ASSERT_EQ(sx[k], inside ? s.X : TCellMaps::kOutside)
            << "round " << round << ", pixel " << x << ", " << y;
        if (inside) {
          ASSERT_EQ(sy[k], s.Y) << "round " << round << ", pixel " << x << ", " << y;
        }
      }
    }
  }
}

TEST_F(CalibrateRasterTest, FastPathEqualsThePerPixelDefinitionOnEveryDepth) {
  // Where the copy's pixels wait: all in the mapped source file; some parts changed before
  // (memory and the swap file besides the file); or none in a file that stays as it was.
  enum class TSource { MappedFile, Mixed, SwapFile };
  for (const int bits : {1, 4, 8, 24}) {
    struct TCase {
      TGridInfo Grid;
      const char* Name;
      TSource Source;
      int Parts;           // the cache of each raster; of one part, nothing is fetched ahead
      bool Random = true;  // the nodes moved at random
    };
    const int w = NoiseLayout(bits, 10, 0).Width;
    std::vector<TCase> cases;
    // Reaching past the raster on every side, and inside it with untouched margins.
    const TGridInfo past = Grid(3, 2, TPoint{-40, -30}, TPoint{w / 3 + 30, 120});
    cases.push_back({past, "past the raster", TSource::MappedFile, 2});
    cases.push_back(
        {Grid(4, 3, TPoint{150, 60}, TPoint{w / 6, 40}), "inside", TSource::MappedFile, 2});
    cases.push_back(
        {Grid(1, 1, TPoint{0, 0}, TPoint{w, 200}), "the default grid", TSource::MappedFile, 2});
    cases.push_back({past, "past the raster, some parts changed", TSource::Mixed, 1});
    cases.push_back({past, "past the raster, an unstable file", TSource::SwapFile, 2});
    // A cell folded onto its top edge, where every crossing's lines are parallel; and one whose
    // top and bottom edges are level at u = 0.5 (column 50).
    TGridInfo folded = Grid(1, 1, TPoint{0, 0}, TPoint{w, 200});
    folded.NodeAt(0, 1).Offset = TPoint{0, -200};
    folded.NodeAt(1, 1).Offset = TPoint{0, -200};
    cases.push_back({folded, "folded", TSource::MappedFile, 2, false});
    TGridInfo level = Grid(1, 1, TPoint{0, 0}, TPoint{100, 100});
    level.NodeAt(1, 0).Offset = TPoint{0, 40};
    level.NodeAt(1, 1).Offset = TPoint{20, -100};
    level.NodeAt(0, 1).Offset = TPoint{20, -60};
    cases.push_back({level, "level edges", TSource::MappedFile, 2, false});
    // Bent hard: the source row changes every few pixels along a row.
    cases.push_back(
        {Grid(6, 4, TPoint{-10, -5}, TPoint{w / 6, 55}), "bent hard", TSource::Mixed, 2});
    // Every other column of nodes moved by one pixel both ways: in the middle of each cell both
    // source coordinates lie exactly on a half, which rounds to even.
    TGridInfo halves = Grid(8, 4, TPoint{0, 0}, TPoint{40, 50});
    for (int j = 0; j < halves.NY; ++j)
      for (int i = 1; i < halves.NX; i += 2) halves.NodeAt(i, j).Offset = TPoint{1, 1};
    cases.push_back({halves, "halves", TSource::MappedFile, 2, false});
    // Mirrored (the source column falls as the output column grows) and stretched (it grows by
    // more than two): steps other than one source pixel per output pixel.
    TGridInfo mirrored = Grid(1, 1, TPoint{0, 0}, TPoint{w, 200});
    for (int j = 0; j < 2; ++j) {
      mirrored.NodeAt(0, j).Offset = TPoint{w - 1, 3 * j};
      mirrored.NodeAt(1, j).Offset = TPoint{-w + 1, 0};
    }
    cases.push_back({mirrored, "mirrored", TSource::SwapFile, 2, false});
    TGridInfo stretched = Grid(2, 1, TPoint{0, 0}, TPoint{w / 4, 200});
    stretched.NodeAt(1, 0).Offset = TPoint{w * 7 / 20, 9};
    stretched.NodeAt(1, 1).Offset = TPoint{w * 7 / 20, -4};
    cases.push_back({stretched, "stretched", TSource::Mixed, 2, false});
    unsigned seed = 7;
    for (TCase& c : cases) {
      if (c.Random) MoveNodesAtRandom(c.Grid, 12, seed++);
      SCOPED_TRACE(testing::Message() << bits << " bits, grid " << c.Name);
      const TBmpLayout layout = NoiseLayout(bits, 230, seed);
      TRasterFiles& files = c.Source == TSource::SwapFile ? UnstableFiles : Files;
      // A budget of one or two parts: the copy and the raster both keep swapping.
      auto fast = files.Open(layout, c.Parts * 204800, "fast.bmp");
      auto reference = files.Open(layout, c.Parts * 204800, "reference.bmp");
      if (c.Source == TSource::Mixed)
        for (TRasterManager* raster : {fast.get(), reference.get()})
          for (int x = 0; x < w; x += 2 * PartSide(bits))
            raster->SetPixel(x + 5, 200, raster->GetPixel(x + 6, 201));
      CalibrateRaster(*fast, c.Grid);
      ReferenceCalibrate(*reference, c.Grid);
      const std::vector<uint32_t> expected = Pixels(*reference);
      const std::vector<uint32_t> actual = Pixels(*fast);
      ASSERT_EQ(actual.size(), expected.size());
      size_t mismatches = 0;
      for (size_t i = 0; i < actual.size(); ++i) mismatches += actual[i] != expected[i];
      EXPECT_EQ(mismatches, 0u);
    }
  }
}

TEST_F(CalibrateRasterTest, AnotherProgramRewritingTheScanChangesNoPixel) {
  const TBmpLayout layout = NoiseLayout(24, 300, 5);
  TGridInfo grid = Grid(3, 2, TPoint{-20, -10}, TPoint{layout.Width / 3 + 10, 160});
  MoveNodesAtRandom(grid, 9, 21);
  auto raster = Files.Open(layout, 2 * 204800, "scan.bmp");
  auto reference = Files.Open(layout, 2 * 204800, "reference.bmp");
  ASSERT_EQ(
      RunOtherProgram({"/bin/sh", "-c", "head -c 5000 /dev/zero > \"$0\"", Files.Path("scan.bmp")}),
      0);
  ASSERT_EQ(ReadFile(Files.Path("scan.bmp")).size(), 5000);
  CalibrateRaster(*raster, grid);
  ReferenceCalibrate(*reference, grid);
  EXPECT_EQ(Pixels(*raster), Pixels(*reference));
}

TEST_F(CalibrateRasterTest, AnUnmovedGridLeavesTheRasterAsItWas) {
  const TBmpLayout layout = NoiseLayout(24, 150, 3);
  auto raster = Files.Open(layout, 8 * 204800);
  const std::vector<uint32_t> before = Pixels(*raster);
  CalibrateRaster(*raster, Grid(5, 3, TPoint{-7, 11}, TPoint{130, 47}));
  EXPECT_EQ(Pixels(*raster), before);
}

TEST_F(CalibrateRasterTest, OneMovedCornerPullsTheCornerInFromOutsideAsWhite) {
  TBmpLayout layout;
  layout.Width = 200;
  layout.Height = 100;
  layout.BitsPerPixel = 24;
  layout.Pixel = [](int x, int y) { return static_cast<uint32_t>(x + 256 * y); };
  auto raster = Files.Open(layout, 8 * 204800);
  TGridInfo grid = Grid(1, 1, TPoint{0, 0}, TPoint{200, 100});
  grid.NodeAt(1, 1).Offset = TPoint{10, 0};
  CalibrateRaster(*raster, grid);
  EXPECT_EQ(raster->GetPixel(199, 99), 0xFFFFFFu);  // samples about (209, 99): outside
  EXPECT_EQ(raster->GetPixel(0, 0), 0u);
  // (100, 50): u = v = 0.5, the source is 2.5 further right, 102.5 rounds to 102.
  EXPECT_EQ(raster->GetPixel(100, 50), 102u + 256 * 50);
  EXPECT_EQ(raster->GetPixel(199, 0), 199u);  // the top edge did not move
}

TEST_F(CalibrateRasterTest, HalvesRoundToEvenAtTheEdge) {
  // The left column of nodes is moved one pixel left, so output column 0 samples
  // -(1 - u): at u = 0.5 that is -0.5, which rounds to 0 and is read; at u = 0.4 it is -0.6,
  // which rounds to -1 and gives white.
  TBmpLayout layout;
  layout.Width = 20;
  layout.Height = 2;
  layout.BitsPerPixel = 24;
  layout.Pixel = [](int x, int) { return static_cast<uint32_t>(x + 1); };
  for (const auto& [originX, expected] : {std::pair{-5, 1u}, std::pair{-4, 0xFFFFFFu}}) {
    auto raster = Files.Open(layout, 8 * 204800);
    TGridInfo grid = Grid(1, 1, TPoint{originX, 0}, TPoint{10, 2});
    grid.NodeAt(0, 0).Offset = TPoint{-1, 0};
    grid.NodeAt(0, 1).Offset = TPoint{-1, 0};
    CalibrateRaster(*raster, grid);
    EXPECT_EQ(raster->GetPixel(0, 0), expected) << originX;
    EXPECT_EQ(raster->GetPixel(0, 1), expected) << originX;
  }
}

TEST_F(CalibrateRasterTest, ProgressShowsThePercentagesOfTheCellWalkAndGivesTheStatusBack) {
  TBmpLayout layout;
  layout.Width = 700;
  layout.Height = 600;
  layout.BitsPerPixel = 24;
  auto raster = Files.Open(layout, 2 * 204800);
  // 5 × 4 cells of 90 × 110 within the raster, so that the border bands are whole too.
  TGridInfo grid = Grid(3, 2, TPoint{100, 150}, TPoint{90, 110});
  grid.NodeAt(1, 1).Offset = TPoint{3, 2};
  Files.Status().ClearLog();
  CalibrateRaster(*raster, grid);
  QStringList operations = Files.Status().Shown(3);
  operations.removeAll(QString());
  // The copy's name is shown while it runs, and the calibration's is given back afterwards.
  EXPECT_EQ(operations, (QStringList{"Калибровка...", "Копирование растра...", "Калибровка..."}));
  // Cell by cell, each row's percentage before the row, shown when it changes; work done in
  // another order shows the same numbers in the same order.
  QStringList expected;
  int64_t done = 0;
  for (int c = -1; c < grid.NY; ++c)
    for (int d = -1; d < grid.NX; ++d)
      for (int y = 0; y < grid.Step.Y; ++y) {
        const QString percent = QString::number((200 * done + 700 * 600) / (2 * 700 * 600)) + u'%';
        if (expected.isEmpty() || expected.back() != percent) expected << percent;
        done += grid.Step.X;
      }
  ASSERT_EQ(expected.back(), QStringLiteral("47%"));  // the last row's completion is never shown
  QStringList percents = Files.Status().Shown(2);
  percents = percents.mid(percents.lastIndexOf(QStringLiteral("0%")));
  percents = percents.first(percents.indexOf(QString()));
  EXPECT_EQ(percents, expected);
  EXPECT_EQ(Files.Status().Slot(2), QString());
  EXPECT_EQ(Files.Status().Slot(3), QString());
}

TEST_F(CalibrateRasterTest, APaletteWithoutTheColourFailsAndGivesThePixelsBack) {
  TBmpLayout layout = NoiseLayout(8, 120, 11);
  for (uint32_t& colour : layout.Palette) colour &= 0x7F7F7F;  // no white anywhere
  auto raster = Files.Open(layout, 2 * 204800);
  const std::vector<uint32_t> before = Pixels(*raster);
  TGridInfo grid = Grid(2, 1, TPoint{0, 0}, TPoint{raster->Width() / 2, 120});
  grid.NodeAt(2, 1).Offset = TPoint{25, 0};  // the bottom-right corner samples outside
  Files.Status().ClearLog();
  EXPECT_EQ(MessageOf([&] { CalibrateRaster(*raster, grid); }),
            QStringLiteral("Не найден соответствующий цвет в палитре"));
  EXPECT_EQ(Pixels(*raster), before);
  EXPECT_EQ(Files.Status().Slot(3), QString());
  // The raster still works: a grid that stays inside calibrates.
  grid.NodeAt(2, 1).Offset = TPoint{-25, -10};
  EXPECT_NO_THROW(CalibrateRaster(*raster, grid));
}

TEST_F(CalibrateRasterTest, DepthsWithoutPixelAccessAreRefusedBeforeAnyPixel) {
  TBmpLayout layout;
  layout.Width = 40;
  layout.Height = 30;
  layout.BitsPerPixel = 16;
  layout.Pixel = [](int x, int y) { return static_cast<uint32_t>(x * 31 + y); };
  auto raster = Files.Open(layout, 8 * 204800);
  const QByteArray before(reinterpret_cast<const char*>(raster->GetPart(0, 0)->GetBits()),
                          raster->GetPart(0, 0)->ByteSize());
  EXPECT_EQ(MessageOf([&] {
              CalibrateRaster(*raster, Grid(1, 1, TPoint{0, 0}, TPoint{40, 30}));
            }),
            QStringLiteral("Неподдерживаемое количество битов на цвет"));
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(raster->GetPart(0, 0)->GetBits()),
                       raster->GetPart(0, 0)->ByteSize()),
            before);
  // A grid that reaches no pixel has nothing to do, whatever the depth.
  EXPECT_NO_THROW(CalibrateRaster(*raster, Grid(1, 1, TPoint{0, 0}, TPoint{0, 0})));
}

TEST_F(CalibrateRasterTest, ACalibrationWrittenStraightToAFileIsTheOneTheStepsSave) {
  // Where the raster's pixels wait: in the mapped file (stored bottom up or top down); some in
  // memory and the swap file after changes; or all in the swap file.
  enum class TSource { MappedFile, TopDownFile, Mixed, SwapFile };
  for (const int bits : {1, 4, 8, 24}) {
    const int w = NoiseLayout(bits, 10, 0).Width;
    TGridInfo past = Grid(3, 2, TPoint{-40, -30}, TPoint{w / 3 + 30, 120});
    MoveNodesAtRandom(past, 12, 3);
    // Odd edges, so that a clip of 1 and 4 bits moves pixels within their bytes.
    TGridInfo inside = Grid(4, 3, TPoint{151, 61}, TPoint{w / 6 + 1, 41});
    MoveNodesAtRandom(inside, 9, 4);
    const TGridInfo nowhere = Grid(1, 1, TPoint{w + 10, 0}, TPoint{50, 50});
    const std::vector<std::tuple<const char*, TGridInfo, TSource>> cases = {
        {"past, mapped", past, TSource::MappedFile},
        {"inside, top-down file", inside, TSource::TopDownFile},
        {"past, some parts changed", past, TSource::Mixed},
        {"inside, swap file", inside, TSource::SwapFile},
        {"reaching nothing", nowhere, TSource::MappedFile}};
    // Not clipped, clipped to the first cell, and clipped to the frame of the grid.
    enum class TClip { None, FirstCell, Frame };
    for (const auto& [name, grid, source] : cases)
      for (const TClip clip : {TClip::None, TClip::FirstCell, TClip::Frame}) {
        SCOPED_TRACE(testing::Message()
                     << bits << " bits, " << name << ", clip " << static_cast<int>(clip));
        TBmpLayout layout = NoiseLayout(bits, 230, 9);
        if (source == TSource::TopDownFile) layout.Height = -230;
        const QByteArray bytes = BytesWithGarbage(layout);
        TRasterFiles& files = source == TSource::SwapFile ? UnstableFiles : Files;
        auto streamed = OpenBytes(files, bytes, "streamed-in.bmp");
        auto stepped = OpenBytes(files, bytes, "stepped-in.bmp");
        if (source == TSource::Mixed)
          for (TRasterManager* raster : {streamed.get(), stepped.get()})
            for (int x = 0; x < w; x += PartSide(bits))
              raster->SetPixel(x + 5, 200, raster->GetPixel(x + 6, 201));
        const std::vector<uint32_t> before = Pixels(*streamed);
        std::optional<TRect> rect;
        if (clip == TClip::FirstCell) rect = FirstCellClip(grid).Rect;
        if (clip == TClip::Frame) rect = FrameClip(grid).Rect;
        SaveCalibratedRaster(*streamed, grid, rect, files.Path("streamed.bmp"));
        CalibrateRaster(*stepped, grid);
        TGridInfo steppedGrid = grid;
        if (clip == TClip::FirstCell) ClipRasterToGrid(*stepped, steppedGrid);
        if (clip == TClip::Frame) ClipRasterToGridFrame(*stepped, steppedGrid);
        stepped->Save(files.Path("stepped.bmp"));
        const QByteArray expected = ReadFile(files.Path("stepped.bmp"));
        ASSERT_FALSE(expected.isEmpty());
        EXPECT_TRUE(ReadFile(files.Path("streamed.bmp")) == expected);
        // The raster itself is as it was.
        EXPECT_EQ(Pixels(*streamed), before);
        EXPECT_EQ(streamed->FileName(), files.Path("streamed-in.bmp"));
      }
  }
}

TEST_F(CalibrateRasterTest, AStreamedCalibrationShowsItsRowsAndGivesTheStatusBack) {
  auto raster = Files.Open(NoiseLayout(24, 700, 2), 2 * 204800);
  TGridInfo grid = Grid(3, 2, TPoint{20, 30}, TPoint{150, 200});
  MoveNodesAtRandom(grid, 5, 8);
  Files.Status().ClearLog();
  SaveCalibratedRaster(*raster, grid, std::nullopt, Files.Path("out.bmp"));
  EXPECT_EQ(Files.Status().Shown(3), QStringList({"", "Калибровка...", ""}));
  const QStringList percents = Files.Status().Shown(2);
  ASSERT_GE(percents.size(), 4);
  EXPECT_EQ(percents.mid(1, 2), QStringList({"0%", "1%"}));
  EXPECT_EQ(percents.mid(percents.size() - 2), QStringList({"100%", ""}));
}

TEST_F(CalibrateRasterTest, AStreamedCalibrationThatFailsLeavesTheTargetAsItWas) {
  TBmpLayout layout = NoiseLayout(8, 120, 11);
  for (uint32_t& colour : layout.Palette) colour &= 0x7F7F7F;  // no white anywhere
  auto raster = Files.Open(layout, 2 * 204800);
  TGridInfo grid = Grid(2, 1, TPoint{0, 0}, TPoint{raster->Width() / 2, 120});
  grid.NodeAt(2, 1).Offset = TPoint{25, 0};  // the bottom-right corner samples outside
  const QString target = Files.Path("target.bmp");
  WriteFile(target, "the old file");
  EXPECT_EQ(MessageOf([&] { SaveCalibratedRaster(*raster, grid, std::nullopt, target); }),
            QStringLiteral("Не найден соответствующий цвет в палитре"));
  EXPECT_EQ(ReadFile(target), "the old file");
  EXPECT_EQ(QDir(Files.Path("")).entryList({"target*"}), QStringList{"target.bmp"});

  // A depth without colour access: refused when anything would change, saved as it is otherwise.
  TBmpLayout words;
  words.Width = 40;
  words.Height = 30;
  words.BitsPerPixel = 16;
  words.Pixel = [](int x, int y) { return static_cast<uint32_t>(x * 31 + y); };
  auto wordy = Files.Open(words, 8 * 204800, "words.bmp");
  QFile::remove(target);
  const TGridInfo over = Grid(1, 1, TPoint{0, 0}, TPoint{40, 30});
  EXPECT_EQ(
      MessageOf([&] { SaveCalibratedRaster(*wordy, over, FirstCellClip(over).Rect, target); }),
      QStringLiteral("Неподдерживаемое количество битов на цвет"));
  EXPECT_FALSE(QFile::exists(target));
  const TGridInfo away = Grid(1, 1, TPoint{100, 100}, TPoint{40, 30});
  for (const std::optional<TRect>& clip :
       {std::optional<TRect>(), std::optional(FrameClip(away).Rect)}) {
    SaveCalibratedRaster(*wordy, away, clip, target);
    EXPECT_EQ(ReadFile(target), ReadFile(Files.Path("words.bmp")));
  }
}

TEST_F(CalibrateRasterTest, ACancelledCalibrationLeavesTheRasterAndTheTargetAsTheyWere) {
  // Large enough for the file to be written in several bands, the last ones never made.
  TBmpLayout layout = NoiseLayout(24, 1500, 4);
  layout.Width = 1500;
  TGridInfo grid = Grid(3, 2, TPoint{-20, -10}, TPoint{520, 760});
  MoveNodesAtRandom(grid, 9, 6);
  const QString target = Files.Path("target.bmp");
  // The first percentage, one of the copy's, and ones of the calibration itself.
  for (const int percents : {1, 40, 90}) {
    SCOPED_TRACE(percents);
    TCancellingStatus status;
    auto raster = OpenBytes(Files, BmpBytes(layout), "in.bmp", status.Info());
    const std::vector<uint32_t> before = Pixels(*raster);
    status.Cancel(percents);
    EXPECT_EQ(MessageOf([&] { CalibrateRaster(*raster, grid); }), QStringLiteral("Отменено"));
    EXPECT_EQ(Pixels(*raster), before);

    TCancellingStatus streamStatus;
    auto streamed = OpenBytes(Files, BmpBytes(layout), "streamed.bmp", streamStatus.Info());
    WriteFile(target, "the old file");
    streamStatus.Cancel(percents);
    EXPECT_EQ(
        MessageOf([&] { SaveCalibratedRaster(*streamed, grid, FirstCellClip(grid).Rect, target); }),
        QStringLiteral("Отменено"));
    EXPECT_EQ(ReadFile(target), "the old file");
    EXPECT_EQ(QDir(Files.Path("")).entryList({"target*"}), QStringList{"target.bmp"});
  }
}

// Esc during the calibration: every pixel written so far is given back, and the copy the caller
// made still holds the raster as it was.
TEST_F(CalibrateRasterTest, ACancelledCalibrationGivesEveryPixelBack) {
  for (const bool stable : {true, false}) {
    TRasterFiles& files = stable ? Files : UnstableFiles;
    auto raster = files.Open(NoiseLayout(24, 700, 5), 3 * 204800);
    const std::vector<uint32_t> before = Pixels(*raster);
    TGridInfo grid = Grid(3, 2, TPoint{20, 30}, TPoint{200, 300});
    MoveNodesAtRandom(grid, 15, 9);
    for (const char* at : {"1%", "60%"}) {
      TRasterManager copy(raster->Provider(), raster->CacheSize(), nullptr);
      copy.CopyFrom(*raster);
      files.Status().CancelWhenShown(2, at);
      EXPECT_THROW(CalibrateRaster(*raster, grid, copy), ECancelled) << at;
      EXPECT_EQ(Pixels(*raster), before) << at << " " << stable;
      EXPECT_EQ(Pixels(copy), before);
      EXPECT_EQ(files.Status().Info()->SavedCount(), 0);
    }
    files.Status().CancelWhenShown(-1, {});
    TRasterManager copy(raster->Provider(), raster->CacheSize(), nullptr);
    copy.CopyFrom(*raster);
    CalibrateRaster(*raster, grid, copy);
    EXPECT_EQ(Pixels(copy), before);
    TRasterManager reference(raster->Provider(), raster->CacheSize(), nullptr);
    reference.CopyFrom(copy);
    ReferenceCalibrate(reference, grid);
    EXPECT_EQ(Pixels(*raster), Pixels(reference));
  }
}
