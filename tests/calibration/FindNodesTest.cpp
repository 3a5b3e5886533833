#include "FindNodes.h"
#include "GridScans.h"
#include "MessageOf.h"
#include "NodeReports.h"
#include "QtPrinters.h"
#include "RasterManagers.h"
#include "RasterTestUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

namespace {

// What a search made of a scan, against where the scan really shows the crossings.
struct TAccuracy {
  int Nodes = 0;
  int Found = 0;
  int Within = 0;      // found, and the stored pixel within a pixel of the crossing
  double Worst = 0;    // the largest distance of a found node's pixel from its crossing
  double Sum = 0;      // of the distances of the sub-pixel positions
  std::string Report;  // the nodes found more than two pixels off

  void Add(const TAccuracy& a) {
    Nodes += a.Nodes;
    Found += a.Found;
    Within += a.Within;
    Worst = std::max(Worst, a.Worst);
    Sum += a.Sum;
    Report += a.Report;
  }
};

TAccuracy Compare(const TNodeSearch& search, const TGridScan& scan, const std::string& name) {
  TAccuracy a;
  for (int j = 0; j < search.NY; ++j)
    for (int i = 0; i < search.NX; ++i) {
      const size_t k = static_cast<size_t>(i + j * search.NX);
      const TFoundNode& node = search.At(i, j);
      ++a.Nodes;
      if (node.Finding != TNodeFinding::Found) continue;
      ++a.Found;
      const TPoint p = node.Pixel();
      const double off = std::hypot(p.X - scan.X[k], p.Y - scan.Y[k]);
      a.Sum += std::hypot(node.Position.X - scan.X[k], node.Position.Y - scan.Y[k]);
      a.Worst = std::max(a.Worst, off);
      if (off <= 1) ++a.Within;
      if (off > 2)
        a.Report += name + " node (" + std::to_string(i) + ", " + std::to_string(j) + ") " +
                    std::to_string(off) + " px off\n";
    }
  return a;
}

TAccuracy Measure(const TGridSheet& sheet, const std::string& name) {
  TRasterFiles files;
  const TGridScan scan = MakeGridScan(sheet);
  auto raster = files.Open(scan.Layout, 64 << 20);
  return Compare(FindGridNodes(*raster, scan.Lattice), scan, name);
}

// A sheet of 8 × 6 cells on a scan of 1100 × 820 pixels.
TGridSheet Sheet() {
  TGridSheet sheet;
  sheet.Width = 1100;
  sheet.Height = 820;
  sheet.CellsX = 8;
  sheet.CellsY = 6;
  sheet.StepX = 115;
  sheet.StepY = 105;
  return sheet;
}

std::string Describe(const TGridSheet& s) {
  return std::to_string(s.Bits) + " bits, lines " + std::to_string(int(s.LineWidth)) +
         (s.Crosses ? " px crosses" : " px full") + (s.Clutter > 0 ? ", map content" : "") +
         ", seed " + std::to_string(s.Seed);
}

}  // namespace

// Every depth and line width, full lines and crosses, with and without map content, with noise,
// blur, a turn of up to two degrees, shrinking and a bend of up to a quarter of a cell.
TEST(FindGridNodes, FindsNinetyNinePerCentWithinAPixelAndMovesNoNodeFurtherThanTwo) {
  TAccuracy all, cluttered;
  for (int seed = 1; seed <= 40; ++seed) {
    TGridSheet sheet = Sheet();
    sheet.Seed = static_cast<uint32_t>(seed);
    sheet.Bits = std::vector<int>{1, 4, 8, 24}[seed % 4];
    sheet.LineWidth = 1 + seed % 5;
    sheet.Crosses = seed % 3 == 0;
    sheet.Clutter = seed % 2 == 0 ? 0.4 : 0;
    // A scanner that stores one bit a pixel keeps the lines sharp.
    sheet.Blur = (seed % 7) * (sheet.Bits == 1 ? 0.08 : 0.2);
    sheet.Noise = (seed % 5) * 4;
    sheet.Turn = ((seed * 37) % 41 - 20) / 10.0;
    sheet.Scale = 1 - (seed % 4) * 0.01;
    sheet.Bend = (seed % 6) * 5.4;
    sheet.ShiftX = (seed % 5) * 3 - 6;
    sheet.ShiftY = (seed % 3) * 4 - 4;
    const TAccuracy a = Measure(sheet, Describe(sheet));
    EXPECT_GE(a.Within, a.Nodes * 9 / 10) << Describe(sheet);
    all.Add(a);
    if (sheet.Clutter > 0) cluttered.Add(a);
  }
  EXPECT_EQ(all.Report, "");
  EXPECT_LE(all.Worst, 2);
  EXPECT_GE(all.Within, all.Nodes * 0.99) << all.Within << " of " << all.Nodes;
  RecordProperty("within_a_pixel", std::to_string(all.Within) + " of " + std::to_string(all.Nodes));
  RecordProperty("with_map_content",
                 std::to_string(cluttered.Within) + " of " + std::to_string(cluttered.Nodes));
  RecordProperty("mean_subpixel_error", std::to_string(all.Sum / all.Found));
}

TEST(FindGridNodes, FollowsSheetsTurnedShiftedAndBentAsFarAsTheyGo) {
  struct TCase {
    std::string Name;
    TGridSheet Sheet;
    int LeastFound;
  };
  std::vector<TCase> cases;
  TGridSheet wide;
  wide.Width = 1300;
  wide.Height = 1050;
  wide.CellsX = 10;
  wide.CellsY = 8;
  wide.StepX = wide.StepY = 110;
  wide.Turn = 2;
  wide.Scale = 0.975;
  wide.ShiftX = 25;  // nearly a quarter of a cell, and the far corners turned by two degrees more
  wide.ShiftY = -20;
  wide.Bend = 12;
  wide.Noise = 6;
  wide.Blur = 0.6;
  cases.push_back({"a quarter of a cell off, turned by 2 degrees", wide, 99});
  wide.Turn = -2;
  wide.ShiftX = -27;
  wide.ShiftY = 27;
  wide.Crosses = true;
  wide.Clutter = 0.4;
  wide.Bits = 24;
  cases.push_back({"crosses, turned by -2 degrees, with map content", wide, 95});
  TGridSheet big;
  big.Width = 1600;
  big.Height = 1300;
  big.CellsX = 4;
  big.CellsY = 3;
  big.StepX = 330;
  big.StepY = 340;
  big.OriginX = 120;
  big.OriginY = 140;
  big.LineWidth = 5;
  big.Blur = 1.5;
  big.Noise = 10;
  big.Turn = 1.5;
  big.Bend = 40;
  big.Clutter = 0.4;
  cases.push_back({"large cells", big, 20});
  big.Crosses = true;
  big.CrossArm = 0.08;
  big.Bits = 4;
  cases.push_back({"large cells, small crosses", big, 19});
  TGridSheet small;
  small.CellsX = 12;
  small.CellsY = 9;
  small.StepX = small.StepY = 64;
  small.OriginX = small.OriginY = 60;
  small.LineWidth = 1;
  small.Blur = 0.5;
  small.Noise = 6;
  small.Turn = -1;
  small.Bend = 8;
  cases.push_back({"small cells", small, 130});
  TGridSheet bent;
  bent.Bend = 30;  // cells of 140 × 130 pixels: a bend of nearly a quarter of a cell
  bent.Turn = 1;
  bent.LineWidth = 2;
  bent.Noise = 5;
  bent.Blur = 0.5;
  cases.push_back({"bent by a quarter of a cell over five cells", bent, 30});
  for (const TCase& c : cases) {
    const TAccuracy a = Measure(c.Sheet, c.Name);
    EXPECT_GE(a.Within, c.LeastFound) << c.Name << ": " << a.Within << " of " << a.Nodes;
    EXPECT_LE(a.Worst, 2) << c.Name << "\n" << a.Report;
  }
}

TEST(FindGridNodes, MovesNothingWhenTheScanShowsNoGridThatFitsTheLattice) {
  TGridSheet blank = Sheet();
  blank.Grid = false;
  blank.Noise = 8;
  TGridSheet map = blank;
  map.Clutter = 1;
  map.Seed = 3;
  TGridSheet sheet = Sheet();
  sheet.Clutter = 0.4;
  sheet.Noise = 4;
  struct TCase {
    std::string Name;
    TGridSheet Sheet;
    std::function<void(TGridInfo&)> Lattice;
  };
  const std::vector<TCase> cases = {
      {"a blank scan", blank, [](TGridInfo&) {}},
      {"a map without a grid", map, [](TGridInfo&) {}},
      {"cells half again as large", sheet,
       [](TGridInfo& grid) {
         grid.SetStep(TPoint{grid.Step.X * 3 / 2, grid.Step.Y * 3 / 2});
       }},
      {"a lattice half a cell off", sheet,
       [](TGridInfo& grid) {
         grid.SetOrigin(TPoint{grid.Origin.X + grid.Step.X / 2, grid.Origin.Y + grid.Step.Y / 2});
       }},
      {"a lattice beside the scan", sheet,
       [](TGridInfo& grid) {
         grid.SetOrigin(TPoint{5000, -3000});
       }},
  };
  for (const TCase& c : cases) {
    TRasterFiles files;
    TGridScan scan = MakeGridScan(c.Sheet);
    c.Lattice(scan.Lattice);
    auto raster = files.Open(scan.Layout, 64 << 20);
    const TNodeSearch search = FindGridNodes(*raster, scan.Lattice);
    EXPECT_EQ(search.FoundCount(), 0) << c.Name;
    EXPECT_EQ(search.SearchedCount(), 63) << c.Name;
    EXPECT_EQ(search.NotFound().size(), 63u) << c.Name;
    TGridInfo grid = scan.Lattice;
    const TAppliedNodes applied = ApplyFoundNodes(grid, search);
    EXPECT_EQ(applied.Found, 0) << c.Name;
    EXPECT_EQ(applied.NotFound.size(), 63u) << c.Name;
    for (int j = 0; j < grid.NY; ++j)
      for (int i = 0; i < grid.NX; ++i) EXPECT_FALSE(grid.NodeAt(i, j).IsMoved()) << c.Name;
  }
}

// A lattice laid 45 % of a cell away from the scan's grid is beyond where the search looks for a
// first cell on its own; two crossings the user placed lead it to all the others.
TEST(FindGridNodes, TrustsMovedNodesAndFollowsThemToTheirNeighbours) {
  TGridSheet sheet = Sheet();
  sheet.ShiftX = 0.45 * sheet.StepX;
  sheet.ShiftY = -0.45 * sheet.StepY;
  sheet.Turn = 0.7;
  sheet.Noise = 6;
  sheet.Clutter = 0.3;
  const TGridScan scan = MakeGridScan(sheet);
  TRasterFiles files;
  auto raster = files.Open(scan.Layout, 64 << 20);
  EXPECT_EQ(FindGridNodes(*raster, scan.Lattice).FoundCount(), 0);

  TGridInfo grid = scan.Lattice;
  const int nx = grid.NX;
  auto place = [&](int i, int j, int dx) {
    const size_t k = static_cast<size_t>(i + j * nx);
    const TPoint ref = grid.RefPos(i, j);
    grid.NodeAt(i, j).Offset = TPoint{static_cast<int32_t>(std::lround(scan.X[k])) + dx - ref.X,
                                      static_cast<int32_t>(std::lround(scan.Y[k])) - ref.Y};
  };
  place(3, 2, 0);
  place(4, 2, 3);  // placed by a tired hand, three pixels off: it stays where the user put it
  const TNodeSearch search = FindGridNodes(*raster, grid);
  EXPECT_EQ(search.At(3, 2).Finding, TNodeFinding::Trusted);
  EXPECT_EQ(search.At(4, 2).Finding, TNodeFinding::Trusted);
  EXPECT_EQ(search.At(4, 2).Pixel(), grid.NodePos(4, 2));
  EXPECT_EQ(search.SearchedCount(), 61);
  TGridInfo found = grid;
  const TAppliedNodes applied = ApplyFoundNodes(found, search);
  EXPECT_GE(applied.Found, 59);
  EXPECT_EQ(found.NodePos(4, 2), grid.NodePos(4, 2));
  for (int j = 0; j < grid.NY; ++j)
    for (int i = 0; i < grid.NX; ++i) {
      if (search.At(i, j).Finding != TNodeFinding::Found) continue;
      const size_t k = static_cast<size_t>(i + j * nx);
      const TPoint p = found.NodePos(i, j);
      EXPECT_LE(std::hypot(p.X - scan.X[k], p.Y - scan.Y[k]), 1) << i << ", " << j;
    }
}

TEST(FindGridNodes, ApplyMovesFoundNodesOntoTheirPixelsAndListsTheOthers) {
  TGridInfo grid;
  grid.SetSize(3, 2);
  grid.SetStep(TPoint{100, 100});
  grid.NodeAt(2, 1).Offset = TPoint{4, -2};
  TNodeSearch search;
  search.NX = 3;
  search.NY = 2;
  search.Nodes.resize(6);
  auto set = [&](int i, int j, TNodeFinding finding, double x, double y) {
    TFoundNode& node = search.Nodes[static_cast<size_t>(i + j * 3)];
    node.Finding = finding;
    node.Position = TWorldPoint{x, y};
  };
  set(0, 0, TNodeFinding::Found, 3.4, -2.6);    // rounds to (3, -3)
  set(1, 0, TNodeFinding::Found, 100.2, -0.4);  // on its reference position: unmoved
  set(2, 0, TNodeFinding::NotFound, 200, 0);
  set(0, 1, TNodeFinding::NotFound, 0, 100);
  set(1, 1, TNodeFinding::Found, 102.5, 97.5);  // halves to even: (102, 98)
  set(2, 1, TNodeFinding::Trusted, 204, 98);
  const TAppliedNodes applied = ApplyFoundNodes(grid, search);
  EXPECT_EQ(applied.Found, 3);
  ASSERT_EQ(applied.NotFound.size(), 2u);
  EXPECT_EQ(applied.NotFound[0], (TPoint{2, 0}));
  EXPECT_EQ(applied.NotFound[1], (TPoint{0, 1}));
  EXPECT_EQ(grid.NodeAt(0, 0).Offset, (TPoint{3, -3}));
  EXPECT_FALSE(grid.NodeAt(1, 0).IsMoved());
  EXPECT_FALSE(grid.NodeAt(2, 0).IsMoved());
  EXPECT_EQ(grid.NodeAt(1, 1).Offset, (TPoint{2, -2}));
  EXPECT_EQ(grid.NodeAt(2, 1).Offset, (TPoint{4, -2}));
  EXPECT_EQ(search.FoundCount(), 3);
  EXPECT_EQ(search.SearchedCount(), 5);

  TGridInfo other;
  other.SetSize(2, 2);
  EXPECT_THROW(ApplyFoundNodes(other, search), Exception);
}

TEST(FindGridNodes, ReportsItsProgressAndGivesTheStatusBack) {
  TGridSheet sheet = Sheet();
  sheet.Noise = 4;
  const TGridScan scan = MakeGridScan(sheet);
  TRasterFiles files;
  auto raster = files.Open(scan.Layout, 64 << 20);
  files.Status().Info()->ShowText(TStatusInfo::OperationSlot, "Калибратор");
  files.Status().ClearLog();
  EXPECT_EQ(FindGridNodes(*raster, scan.Lattice).FoundCount(), 63);
  EXPECT_EQ(files.Status().Shown(TStatusInfo::OperationSlot),
            QStringList({"", "Поиск узлов сетки...", "Калибратор"}));
  const QStringList percents = files.Status().Shown(TStatusInfo::PercentSlot);
  ASSERT_GE(percents.size(), 5);
  int last = -1;
  for (const QString& text : percents.mid(1, percents.size() - 2)) {
    ASSERT_TRUE(text.endsWith('%')) << text.toStdString();
    const int percent = text.chopped(1).toInt();
    EXPECT_GE(percent, last);
    EXPECT_LE(percent, 99);
    last = percent;
  }
  EXPECT_EQ(files.Status().Slot(TStatusInfo::PercentSlot), "");
}

// Esc during the search: the threads that analyse the windows stop with it, and the status is
// given back.
TEST(FindGridNodes, ACancelledSearchStopsAndGivesTheStatusBack) {
  const TGridScan scan = MakeGridScan(Sheet());
  TRasterFiles files;
  auto raster = files.Open(scan.Layout, 64 << 20);
  files.Status().CancelWhenShown(TStatusInfo::PercentSlot, "0%");
  EXPECT_THROW(FindGridNodes(*raster, scan.Lattice), ECancelled);
  EXPECT_EQ(files.Status().Info()->SavedCount(), 0);
  EXPECT_EQ(files.Status().Slot(TStatusInfo::OperationSlot), "");
  files.Status().CancelWhenShown(-1, {});
  EXPECT_EQ(FindGridNodes(*raster, scan.Lattice).FoundCount(), 63);
}

TEST(FindGridNodes, SearchesNothingWithoutNodesToFindAndRefusesDepthsWithoutPixelAccess) {
  TRasterFiles files;
  TBmpLayout layout;
  layout.Width = 300;
  layout.Height = 200;
  layout.BitsPerPixel = 16;
  auto raster = files.Open(layout, 1 << 20);
  TGridInfo grid;
  grid.SetSize(3, 2);
  grid.SetStep(TPoint{100, 100});
  EXPECT_EQ(MessageOf([&] { FindGridNodes(*raster, grid); }),
            "Неподдерживаемое количество битов на цвет");
  // Every node moved, or cells too small to tell crossings apart: nothing to look at.
  TGridInfo moved = grid;
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 3; ++i) moved.NodeAt(i, j).Offset = TPoint{1, 1};
  EXPECT_EQ(FindGridNodes(*raster, moved).SearchedCount(), 0);
  TGridInfo tiny = grid;
  tiny.SetStep(TPoint{10, 10});
  EXPECT_EQ(FindGridNodes(*raster, tiny).NotFound().size(), 6u);

  // A moved node whose neighbours lie far beyond the raster: they are not looked for.
  TGridSheet sheet = Sheet();
  const TGridScan scan = MakeGridScan(sheet);
  auto scanRaster = files.Open(scan.Layout, 1 << 20, "scan.bmp");
  TGridInfo huge = scan.Lattice;
  huge.SetStep(TPoint{1 << 26, 1 << 26});
  huge.NodeAt(0, 0).Offset = TPoint{3, -2};
  const TNodeSearch search = FindGridNodes(*scanRaster, huge);
  EXPECT_EQ(search.FoundCount(), 0);
  EXPECT_EQ(search.NotFound().size(), 62u);
}

namespace {

// Places the node (i, j) of the grid where the scan shows its crossing, as a user drags it.
void Place(TGridInfo& grid, const TGridScan& scan, int i, int j) {
  const size_t k = static_cast<size_t>(i + j * grid.NX);
  const TPoint ref = grid.RefPos(i, j);
  grid.NodeAt(i, j).Offset = TPoint{static_cast<int32_t>(std::lround(scan.X[k])) - ref.X,
                                    static_cast<int32_t>(std::lround(scan.Y[k])) - ref.Y};
}

}  // namespace

// Cells of 330 pixels turned by 1.9 degrees: the neighbours of a corner lie 11 pixels from where
// the lattice has them. Corners the user placed lead the search; they never keep it from finding
// the others on its own.
TEST(FindGridNodes, CornersPlacedByTheUserHelpAndNeverHurt) {
  TGridSheet sheet;
  sheet.Width = sheet.Height = 1650;
  sheet.CellsX = sheet.CellsY = 4;
  sheet.StepX = sheet.StepY = 330;
  sheet.OriginX = sheet.OriginY = 160;
  sheet.Turn = 1.9;
  sheet.Scale = 0.99;
  sheet.Bend = 6;
  sheet.Noise = 6;
  sheet.Blur = 0.6;
  sheet.Clutter = 0.3;
  const TGridScan scan = MakeGridScan(sheet);
  TRasterFiles files;
  auto raster = files.Open(scan.Layout, 64 << 20);
  TGridInfo corners = scan.Lattice;
  for (const auto& [i, j] : {std::pair{0, 0}, {4, 0}, {0, 4}, {4, 4}}) Place(corners, scan, i, j);
  const TAccuracy alone = Compare(FindGridNodes(*raster, scan.Lattice), scan, "alone");
  const TNodeSearch led = FindGridNodes(*raster, corners);
  const TAccuracy withCorners = Compare(led, scan, "with corners");
  EXPECT_EQ(led.SearchedCount(), 21);
  EXPECT_EQ(led.At(4, 4).Finding, TNodeFinding::Trusted);
  EXPECT_GE(alone.Within, 24);
  EXPECT_EQ(withCorners.Within, 21);
  EXPECT_EQ(alone.Report + withCorners.Report, "");
}

// A grid of 2 × 2 cells drawn by hand on textured paper: its crossings lie up to 12 pixels off
// the lattice and no cell is a parallelogram, its opposite sides differing by a tenth. The lines
// turn at the crossings, where a line fitted through both arms lies up to a pixel off. The search
// once found nothing on it: it starts from three corners of a cell and finds every crossing. Ink
// blots on two crossings leave every cell with a hidden corner: large ones hide the crossings,
// which stay where they were, and the others are found. Small ones, as dark as the lines, leave
// the lines' ends showing: what is found of their crossings is where the lines meet, and no node
// goes to the edge of a blot, as one once went 5 pixels off.
TEST(FindGridNodes, StartsFromThreeCornersOfACellWhereNoCellShowsFour) {
  const TPoint crossings[9] = {{96, 81},   {304, 70}, {509, 79},  {105, 228}, {292, 232},
                               {503, 219}, {98, 370}, {306, 381}, {495, 372}};
  const std::vector<TPoint> blots{{1, 0}, {1, 1}};
  for (const int blot : {0, 20, 12}) {
    std::vector<std::pair<TPoint, TPoint>> lines;
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 2; ++i) lines.push_back({crossings[j * 3 + i], crossings[j * 3 + i + 1]});
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 2; ++j) lines.push_back({crossings[j * 3 + i], crossings[j * 3 + i + 3]});
    TBmpLayout layout;
    layout.Width = 600;
    layout.Height = 450;
    layout.BitsPerPixel = 24;
    layout.Pixel = [=](int x, int y) -> uint32_t {
      for (const TPoint& node : blots) {
        const TPoint& c = crossings[node.Y * 3 + node.X];
        if (std::hypot(x - c.X - 3, y - c.Y + 2) <= blot) return 0x321414;
      }
      for (const auto& [a, b] : lines) {
        const double dx = b.X - a.X, dy = b.Y - a.Y;
        const double t =
            std::clamp(((x - a.X) * dx + (y - a.Y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
        if (std::hypot(a.X + t * dx - x, a.Y + t * dy - y) <= 1.05) return 0x1E1E28;
      }
      // Paper whose shade steps every few pixels.
      return uint32_t(240 - (x / 7) % 20) | uint32_t(232 - (y / 9) % 16) << 8 | 214u << 16;
    };
    TRasterFiles files;
    auto raster = files.Open(layout, 64 << 20);
    TGridInfo lattice;
    lattice.SetSize(3, 3);
    lattice.SetOrigin(TPoint{100, 75});
    lattice.SetStep(TPoint{200, 150});
    const TNodeSearch search = FindGridNodes(*raster, lattice);
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 3; ++i) {
        const TFoundNode& node = search.At(i, j);
        const TPoint& c = crossings[j * 3 + i];
        const bool blotted =
            blot > 0 && std::find(blots.begin(), blots.end(), TPoint{i, j}) != blots.end();
        if (blotted && blot >= 20) {
          EXPECT_NE(node.Finding, TNodeFinding::Found) << "blot " << blot << ": " << i << ", " << j;
        } else if (!blotted) {
          EXPECT_EQ(node.Finding, TNodeFinding::Found) << "blot " << blot << ": " << i << ", " << j;
        }
        if (node.Finding == TNodeFinding::Found) {
          EXPECT_LE(std::hypot(node.Pixel().X - c.X, node.Pixel().Y - c.Y), 1.5)
              << "blot " << blot << ": " << i << ", " << j;
        }
      }
  }
}

// A label's white halo over a crossing and an ink blot on one hide it: the nodes stay where they
// are and are named as not found. A building on one corner of a crossing hides two of its arms
// near it, not the crossing.
TEST(FindGridNodes, LeavesCrossingsHiddenUnderLabelsAndBlotsWhereTheyWere) {
  for (int bits : {1, 8, 24}) {
    TGridSheet sheet = Sheet();
    sheet.Bits = bits;
    sheet.Noise = 5;
    sheet.Blur = bits == 1 ? 0.3 : 0.6;
    sheet.Turn = 0.8;
    sheet.Labelled = {{2, 2}, {5, 4}};
    sheet.Blotted = {{6, 1}};
    sheet.Built = {{3, 3}, {4, 1}};
    const TGridScan scan = MakeGridScan(sheet);
    TRasterFiles files;
    auto raster = files.Open(scan.Layout, 64 << 20);
    const TNodeSearch search = FindGridNodes(*raster, scan.Lattice);
    const TAccuracy a = Compare(search, scan, std::to_string(bits) + " bits");
    EXPECT_EQ(a.Report, "");
    for (const TPoint& hidden : {TPoint{2, 2}, TPoint{5, 4}, TPoint{6, 1}})
      EXPECT_NE(search.At(hidden.X, hidden.Y).Finding, TNodeFinding::Found)
          << bits << " bits, node " << hidden.X << ", " << hidden.Y;
    for (const TPoint& built : {TPoint{3, 3}, TPoint{4, 1}})
      EXPECT_EQ(search.At(built.X, built.Y).Finding, TNodeFinding::Found)
          << bits << " bits, node " << built.X << ", " << built.Y;
    EXPECT_GE(a.Within, 59) << bits << " bits";
    TGridInfo grid = scan.Lattice;
    const TAppliedNodes applied = ApplyFoundNodes(grid, search);
    EXPECT_FALSE(grid.NodeAt(2, 2).IsMoved());
    EXPECT_FALSE(grid.NodeAt(6, 1).IsMoved());
    EXPECT_GE(applied.NotFound.size(), 3u);
  }
}

// A road as dark as the grid's lines runs beside three of them, 2.5 to 10 pixels off, and a cased
// road is laid along another, its edges 5 pixels either side: no node moves onto them.
TEST(FindGridNodes, TellsTheGridsLinesFromRoadsBesideAndAlongThem) {
  TAccuracy all;
  for (double offset : {2.5, 4.0, 6.0, 10.0}) {
    TGridSheet sheet = Sheet();
    sheet.Seed = static_cast<uint32_t>(offset);
    sheet.Noise = 5;
    sheet.Blur = 0.6;
    sheet.Turn = -0.6;
    sheet.Bend = 8;
    sheet.Beside = {2, 5, 6};
    sheet.BesideOffset = offset;
    sheet.Cased = {3};
    sheet.Clutter = 0.3;
    const TAccuracy a = Measure(sheet, "beside by " + std::to_string(offset));
    // A road 2.5 pixels beside a line merges with it: such crossings are placed where the lines
    // around put them, or left where they were, never on the road.
    EXPECT_GE(a.Within, offset < 3 ? 50 : 55) << offset;
    all.Add(a);
  }
  EXPECT_EQ(all.Report, "");
  EXPECT_LE(all.Worst, 2);
}

// Plans mark their grid with small crosses: half-arms of 12 pixels on cells of 144, thin, among
// parcel lines, words and stains.
TEST(FindGridNodes, FindsTheShortCrossesOfPlans) {
  TAccuracy all;
  for (int seed = 1; seed <= 3; ++seed) {
    TGridSheet sheet;
    sheet.Width = 1400;
    sheet.Height = 1100;
    sheet.CellsX = 8;
    sheet.CellsY = 6;
    sheet.StepX = sheet.StepY = 144;
    sheet.Crosses = true;
    sheet.CrossArm = 12.0 / 144;
    sheet.LineWidth = 1.5;
    sheet.Clutter = 0.4;
    sheet.Noise = 6;
    sheet.Blur = 0.6;
    sheet.Turn = 1.2 * seed - 2;
    sheet.Bits = seed == 2 ? 1 : 8;
    sheet.Seed = static_cast<uint32_t>(seed);
    all.Add(Measure(sheet, "crosses, seed " + std::to_string(seed)));
  }
  EXPECT_EQ(all.Report, "");
  EXPECT_GE(all.Within, all.Nodes * 0.95) << all.Within << " of " << all.Nodes;
}

// Lines every 37 pixels under a lattice of 100, or every 111: every window holds crossings, and a
// lattice followed through them would drag nodes far. Nothing is found.
TEST(FindGridNodes, FindsNothingWhereTheScansLinesHaveOtherCells) {
  for (int period : {37, 111, 92}) {
    TGridSheet sheet;
    sheet.Width = sheet.Height = 2000;
    sheet.CellsX = sheet.CellsY = 1800 / period;
    sheet.StepX = sheet.StepY = period;
    sheet.OriginX = sheet.OriginY = 100;
    sheet.Noise = 5;
    TGridScan scan = MakeGridScan(sheet);
    TGridInfo lattice;
    lattice.SetSize(19, 19);
    lattice.SetOrigin(TPoint{100, 100});
    lattice.SetStep(TPoint{100, 100});
    TRasterFiles files;
    auto raster = files.Open(scan.Layout, 64 << 20);
    const TNodeSearch search = FindGridNodes(*raster, lattice);
    EXPECT_EQ(search.FoundCount(), 0) << period;
    EXPECT_EQ(search.NotFound().size(), 361u) << period;
  }
}

// A lattice of 50 pixels over a one-bit scan of 4000 × 4000 whose lines lie 500 pixels apart:
// 6561 nodes, none of which fits. The search gives up after a bounded look, its progress rising,
// and the report names twenty nodes and counts the rest.
TEST(FindGridNodes, GivesUpSoonOnAFineLatticeThatDoesNotFitALargeScan) {
  TGridSheet sheet;
  sheet.Width = sheet.Height = 4000;
  sheet.CellsX = sheet.CellsY = 7;
  sheet.StepX = sheet.StepY = 500;
  sheet.OriginX = sheet.OriginY = 250;
  sheet.Bits = 1;
  TGridScan scan = MakeGridScan(sheet);
  TGridInfo lattice;
  lattice.SetSize(81, 81);
  lattice.SetStep(TPoint{50, 50});
  TRasterFiles files;
  auto raster = files.Open(scan.Layout, 64 << 20);
  files.Status().ClearLog();
  const TNodeSearch search = FindGridNodes(*raster, lattice);
  EXPECT_EQ(search.FoundCount(), 0);
  EXPECT_EQ(search.NotFound().size(), 6561u);
  const QStringList percents = files.Status().Shown(TStatusInfo::PercentSlot);
  ASSERT_GE(percents.size(), 3);
  for (int k = 2; k + 1 < percents.size(); ++k) {
    ASSERT_TRUE(percents[k].endsWith('%') && percents[k - 1].endsWith('%')) << k;
    EXPECT_GE(percents[k].chopped(1).toInt(), percents[k - 1].chopped(1).toInt());
  }
  const QStringList report = NodeSearchReport(search, 20);
  ASSERT_EQ(report.size(), 22);
  EXPECT_EQ(report.front(), "Найдено 0 из 6561 узла");
  EXPECT_EQ(report[1], "Узел (0, 0) не найден");
  EXPECT_EQ(report.back(), "И ещё 6541 узел не найден");
}
