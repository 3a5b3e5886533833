#include "GridInfo.h"
#include "QtPrinters.h"

#include "SysUtils.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TGridInfo MakeGrid(int cellsX, int cellsY, TPoint origin, TPoint step) {
  TGridInfo grid;
  grid.SetSize(cellsX + 1, cellsY + 1);
  grid.SetOrigin(origin);
  grid.SetStep(step);
  return grid;
}

}  // namespace

TEST(GridInfo, NewGridIsEmptyAndRefPosIsLinearEverywhere) {
  TGridInfo empty;
  EXPECT_EQ(empty.NX, 0);
  EXPECT_EQ(empty.NY, 0);
  EXPECT_EQ(empty.Origin, TPoint{});
  EXPECT_EQ(empty.Step, TPoint{});

  const TGridInfo grid = MakeGrid(3, 2, TPoint{10, 20}, TPoint{100, 80});
  EXPECT_EQ(grid.RefPos(0, 0), (TPoint{10, 20}));
  EXPECT_EQ(grid.RefPos(2, 1), (TPoint{210, 100}));
  EXPECT_EQ(grid.RefPos(-1, -1), (TPoint{-90, -60}));  // the border bands reach outside the nodes
  EXPECT_EQ(grid.RefPos(grid.NX, grid.NY), (TPoint{410, 260}));
  EXPECT_EQ(grid.NodePos(3, 2), grid.RefPos(3, 2));
}

TEST(GridInfo, NodeAccessOutsideTheNodesIsRefused) {
  TGridInfo grid = MakeGrid(1, 1, TPoint{}, TPoint{10, 10});
  EXPECT_THROW(grid.NodeAt(2, 0), Exception);
  EXPECT_THROW(grid.NodeAt(0, -1), Exception);
  EXPECT_THROW(grid.NodePos(-1, 0), Exception);
  EXPECT_NO_THROW(grid.NodeAt(1, 1));
}

TEST(GridInfo, StepChangeKeepsMovedNodesWhereTheyAre) {
  TGridInfo grid = MakeGrid(3, 2, TPoint{0, 0}, TPoint{100, 80});
  grid.NodeAt(2, 1).Offset = TPoint{3, -1};
  const TPoint moved = grid.NodePos(2, 1);
  grid.SetStep(TPoint{90, 85});
  EXPECT_EQ(grid.NodeAt(2, 1).Offset, (TPoint{23, -6}));
  EXPECT_EQ(grid.NodePos(2, 1), moved);
  EXPECT_EQ(grid.NodePos(1, 1), (TPoint{90, 85}));  // unmoved nodes follow the lattice
}

TEST(GridInfo, OriginChangeKeepsMovedNodesAndShiftsTheOthers) {
  TGridInfo grid = MakeGrid(2, 2, TPoint{10, 10}, TPoint{50, 50});
  grid.NodeAt(1, 1).Offset = TPoint{5, 0};
  grid.SetOrigin(TPoint{15, 10});
  EXPECT_EQ(grid.NodePos(1, 1), (TPoint{65, 60}));
  EXPECT_EQ(grid.NodePos(0, 0), (TPoint{15, 10}));
  // The adjusted offset came out as (0, 0): the node is unmoved and follows the lattice again.
  EXPECT_FALSE(grid.NodeAt(1, 1).IsMoved());
  grid.SetOrigin(TPoint{20, 7});
  EXPECT_EQ(grid.NodePos(1, 1), (TPoint{70, 57}));
}

TEST(GridInfo, SettingCurrentValuesChangesNothing) {
  TGridInfo grid = MakeGrid(2, 2, TPoint{10, 10}, TPoint{50, 50});
  grid.NodeAt(1, 0).Offset = TPoint{4, 4};
  grid.SetOrigin(TPoint{10, 10});
  grid.SetStep(TPoint{50, 50});
  grid.SetSize(3, 3);
  EXPECT_EQ(grid.NodeAt(1, 0).Offset, (TPoint{4, 4}));
  grid.SetSize(4, 3);
  EXPECT_EQ(grid.NX, 4);
  for (int j = 0; j < grid.NY; ++j)
    for (int i = 0; i < grid.NX; ++i) EXPECT_FALSE(grid.NodeAt(i, j).IsMoved());
  EXPECT_EQ(grid.Origin, (TPoint{10, 10}));  // size changes keep the lattice
  grid.NodeAt(3, 2).Offset = TPoint{1, 1};
  grid.ResetNodes();
  EXPECT_FALSE(grid.NodeAt(3, 2).IsMoved());
}

TEST(GridPaper, DefaultGridOfA300DpiScan) {
  TGridInfo grid;
  grid.SetSize(2, 2);
  grid.SetStep(TPoint{2400, 3000});
  const double r = 300 / 0.0254;
  const TGridPaperParams params = GridToPaper(grid, r, r);
  EXPECT_DOUBLE_EQ(params.Left, 0);
  EXPECT_DOUBLE_EQ(params.Top, 0);
  EXPECT_NEAR(params.Width * 100, 20.32, 1e-9);
  EXPECT_NEAR(params.Height * 100, 25.4, 1e-9);
  EXPECT_EQ(params.CellsX, 1);
  EXPECT_EQ(params.CellsY, 1);
}

TEST(GridPaper, ConfirmedParamsSetOriginStepAndSizeRoundingHalvesToEven) {
  TGridInfo grid;
  grid.SetSize(2, 2);
  grid.SetStep(TPoint{1000, 1000});
  TGridPaperParams params;
  // At 1024 dots per metre these lengths are exact in binary, so the halves are real halves.
  params.Left = 2.5 / 1024;    // 2.5 pixels: rounds to 2
  params.Top = 3.5 / 1024;     // rounds to 4
  params.Width = 301. / 1024;  // 301 pixels over 2 cells: 150.5 rounds to 150
  params.Height = 100. / 1024;
  params.CellsX = 2;
  params.CellsY = 4;
  ApplyPaperParams(grid, params, 1024, 1024);
  EXPECT_EQ(grid.Origin, (TPoint{2, 4}));
  EXPECT_EQ(grid.Step, (TPoint{150, 25}));
  EXPECT_EQ(grid.NX, 3);
  EXPECT_EQ(grid.NY, 5);
  // The real width is a whole number of cells, which the next presentation shows.
  EXPECT_DOUBLE_EQ(GridToPaper(grid, 1024, 1024).Width, 300. / 1024);
}

TEST(GridPaper, ProblemsAreReportedWidthFirstThenHeightThenCells) {
  const QString width = QStringLiteral("Ширина сетки должна быть больше нуля");
  const QString height = QStringLiteral("Высота сетки должна быть больше нуля");
  const QString cells = QStringLiteral("Количество ячеек сетки не может быть равно нулю");
  const auto problem = [](double w, double h, int cx, int cy) {
    return PaperParamsProblem(TGridPaperParams{-3, -4, w, h, cx, cy});
  };
  EXPECT_EQ(problem(10, 5, 1, 1), QString());  // negative left and top are fine
  EXPECT_EQ(problem(0, 0, 0, 0), width);
  EXPECT_EQ(problem(-1, 5, 1, 1), width);
  EXPECT_EQ(problem(std::nan(""), 5, 1, 1), width);
  EXPECT_EQ(problem(10, 0, 0, 1), height);
  EXPECT_EQ(problem(10, 5, 0, 1), cells);
  EXPECT_EQ(problem(10, 5, 2, -3),
            QStringLiteral("Количество ячеек сетки не может быть отрицательным"));
  EXPECT_EQ(GridCellsProblem(-1, 0),
            QStringLiteral("Количество ячеек сетки не может быть отрицательным"));
  EXPECT_EQ(GridCellsProblem(1, 0), cells);
  EXPECT_EQ(GridCellsProblem(3, 1), QString());
}

TEST(GridInfo, FoldedCellsAreNamedAsSoonAsANodeCrossesANeighbour) {
  TGridInfo grid = MakeGrid(3, 2, TPoint{0, 0}, TPoint{100, 100});
  EXPECT_TRUE(FoldedCells(grid).empty());
  EXPECT_EQ(GridFoldProblem(grid), QString());
  // Far, but not past anything: the cells are bent, not folded.
  grid.NodeAt(1, 1).Offset = TPoint{30, -20};
  EXPECT_TRUE(FoldedCells(grid).empty());
  // Past the right neighbour: the cells to the right turn inside out.
  grid.NodeAt(1, 1).Offset = TPoint{120, 0};
  EXPECT_EQ(FoldedCells(grid), (std::vector<TPoint>{{1, 0}, {1, 1}}));
  EXPECT_EQ(GridFoldProblem(grid),
            QStringLiteral("Сетка перекручена: в ячейках (1, 0), (1, 1) узел перетащен за "
                           "соседний, и калибровка отразила бы растр. Поставьте узлы этих ячеек "
                           "на место"));
  // Onto the line of two corners of a cell: flattened.
  grid.NodeAt(1, 1).Offset = TPoint{100, 0};
  EXPECT_EQ(FoldedCells(grid), (std::vector<TPoint>{{1, 0}, {1, 1}}));
  grid.NodeAt(1, 1).Offset = TPoint{};
  grid.NodeAt(0, 0).Offset = TPoint{0, 100};
  EXPECT_EQ(FoldedCells(grid), (std::vector<TPoint>{{0, 0}}));
  EXPECT_EQ(GridFoldProblem(grid),
            QStringLiteral("Сетка перекручена: в ячейке (0, 0) узел перетащен за соседний, и "
                           "калибровка отразила бы растр. Поставьте узлы этой ячейки на место"));

  // A whole row dragged above the one before folds the row of cells between: eight are named.
  TGridInfo fine = MakeGrid(10, 2, TPoint{0, 0}, TPoint{10, 10});
  for (int i = 0; i <= 10; ++i) fine.NodeAt(i, 1).Offset = TPoint{0, -20};
  EXPECT_EQ(FoldedCells(fine).size(), 10u);
  EXPECT_TRUE(GridFoldProblem(fine).contains(
      QStringLiteral("(0, 0), (1, 0), (2, 0), (3, 0), (4, 0), (5, 0), (6, 0), (7, 0) и ещё 2 ")));

  // Cells of no size or mirrored: the whole grid is degenerate.
  for (const TPoint step : {TPoint{0, 100}, TPoint{100, -3}}) {
    const TGridInfo flat = MakeGrid(2, 1, TPoint{5, 5}, step);
    EXPECT_EQ(FoldedCells(flat).size(), 2u);
    EXPECT_TRUE(GridFoldProblem(flat).startsWith(QStringLiteral("Ячейки сетки не имеют размера")));
  }
}
