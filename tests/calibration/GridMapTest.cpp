// The grid's map coordinates: how the grid file states them and what it refuses, and where they
// put the calibrated picture.
#include "CalibrateRaster.h"
#include "CoordinateSystems.h"
#include "GridFiles.h"
#include "MapPositions.h"
#include "MessageOf.h"
#include "QtPrinters.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

const QByteArray kGrid = R"({"cells": [4, 3], "origin": [60, 50], "step": [100, 100])";

QByteArray WithMap(const QByteArray& map) {
  return kGrid + R"(, "map": )" + map + "}";
}

QString ProblemOf(const QByteArray& map) {
  return MessageOf([&] { ParseGridFile(WithMap(map), "g.json"); });
}

}  // namespace

TEST(GridMap, TheCrsIsFoundByCodeNameOrDefinitionAndKeptByItsCode) {
  const TGridFile file = ParseGridFile(
      WithMap(R"({"crs": "epsg:28407", "x": 7400000.5, "y": 6200000, "step": [1000, 500]})"),
      "g.json");
  ASSERT_TRUE(file.Map);
  EXPECT_EQ(file.Map->Crs, "EPSG:28407");
  EXPECT_EQ(file.Map->X, 7400000.5);
  EXPECT_EQ(file.Map->Y, 6200000);
  EXPECT_EQ(file.Map->StepX, 1000);
  EXPECT_EQ(file.Map->StepY, 500);

  const TCoordinateSystem byName = FindCoordinateSystem("Pulkovo 1942 / Gauss-Kruger zone 7");
  EXPECT_EQ(byName.Id, "EPSG:28407");
  EXPECT_EQ(byName.Name, "Pulkovo 1942 / Gauss-Kruger zone 7");
  EXPECT_EQ(FindCoordinateSystem(CoordinateSystemWkt("EPSG:32637", TWktDialect::Standard)).Id,
            "EPSG:32637");
  // A grid file without "map" places nothing.
  EXPECT_FALSE(ParseGridFile(kGrid + "}", "g.json").Map);
}

// A sheet placed with a wrong CRS or a backwards step would land on the map somewhere else, or
// mirrored, without a word: such files are refused with what is wrong.
TEST(GridMap, BadMapCoordinatesAreRefusedByName) {
  const QString prefix = QStringLiteral("Файл сетки g.json: ");
  EXPECT_EQ(ProblemOf(R"([1, 2])"),
            prefix + R"("map" должно быть объектом {"crs", "x", "y", "step"})");
  EXPECT_EQ(ProblemOf(R"({"crs": "EPSG:28407", "x": 1, "y": 2})"),
            prefix + R"(в "map" нет поля "step")");
  EXPECT_EQ(ProblemOf(R"({"crs": "EPSG:28407", "x": 1, "y": 2, "step": [1, 1], "z": 0})"),
            prefix + R"(неизвестное поле "z" в "map")");
  EXPECT_EQ(ProblemOf(R"({"crs": 28407, "x": 1, "y": 2, "step": [1, 1]})"),
            prefix + R"("map"."crs" должно быть строкой, например "EPSG:28407")");
  EXPECT_EQ(ProblemOf(R"({"crs": "EPSG:999999", "x": 1, "y": 2, "step": [1, 1]})"),
            prefix + R"(система координат "EPSG:999999" не найдена в базе PROJ, или этому )"
                     R"(названию отвечает не одна: задайте её кодом, например EPSG:28407)");
  EXPECT_EQ(ProblemOf(R"({"crs": "Gauss-Kruger zone 7", "x": 1, "y": 2, "step": [1, 1]})"),
            prefix + R"(система координат "Gauss-Kruger zone 7" не найдена в базе PROJ, или )"
                     R"(этому названию отвечает не одна: задайте её кодом, например EPSG:28407)");
  // Degrees and feet are no metres of ground.
  EXPECT_EQ(ProblemOf(R"({"crs": "EPSG:4326", "x": 1, "y": 2, "step": [1, 1]})"),
            prefix + R"(система координат "EPSG:4326" не проекционная в метрах (WGS 84), а )"
                     R"(шаг сетки на местности задаётся в метрах)");
  EXPECT_TRUE(ProblemOf(R"({"crs": "EPSG:2263", "x": 1, "y": 2, "step": [1, 1]})")
                  .contains("не проекционная в метрах"));
  EXPECT_EQ(ProblemOf(R"({"crs": " ", "x": 1, "y": 2, "step": [1, 1]})"),
            prefix + R"(система координат " " не задана)");
  EXPECT_EQ(ProblemOf(R"({"crs": "EPSG:28407", "x": "1", "y": 2, "step": [1, 1]})"),
            prefix + R"("map"."x" должно быть числом)");
  EXPECT_EQ(ProblemOf(R"({"crs": "EPSG:28407", "x": 1, "y": 2e11, "step": [1, 1]})"),
            prefix + R"(координаты "map" слишком велики по модулю: не больше 1e+10 м)");
  for (const QByteArray step : {"[1000]", "[1, \"2\"]", "5"})
    EXPECT_EQ(ProblemOf(R"({"crs": "EPSG:28407", "x": 1, "y": 2, "step": )" + step + "}"),
              prefix + R"("map"."step" должно быть парой чисел [X, Y] в метрах)");
  for (const QByteArray step : {"[0, 1000]", "[1000, -1000]"})
    EXPECT_EQ(ProblemOf(R"({"crs": "EPSG:28407", "x": 1, "y": 2, "step": )" + step + "}"),
              prefix + R"(шаг сетки на местности "map"."step" должен быть больше нуля)");
  EXPECT_EQ(ProblemOf(R"({"crs": "EPSG:28407", "x": 1, "y": 2, "step": [1e9, 1]})"),
            prefix + R"(шаг сетки на местности "map"."step" слишком велик: не больше 1e+08 м)");
  EXPECT_EQ(
      ProblemOf(R"({"crs": ")" + QByteArray(20001, 'W') + R"(", "x": 1, "y": 2, "step": [1, 1]})"),
      prefix + "система координат \"" + QString(40, u'W') +
          "…\" задана слишком длинным текстом: не больше 20000 знаков");
  // Text of the file that would not show as itself is escaped in the message.
  EXPECT_EQ(ProblemOf(R"({"crs": "\u001b[2J", "x": 1, "y": 2, "step": [1, 1]})"),
            prefix + R"(система координат "\u001B[2J" не найдена в базе PROJ, или этому )"
                     R"(названию отвечает не одна: задайте её кодом, например EPSG:28407)");
}

TEST(GridMap, AWrittenGridReadsBackWithItsMapCoordinatesExactly) {
  TGridInfo grid;
  grid.SetSize(5, 4);
  grid.SetOrigin({60, 50});
  grid.SetStep({100, 100});
  grid.NodeAt(2, 1).Offset = {3, -4};
  grid.Map = TGridMap{"EPSG:28407", 7400000.125, 6199999.9, 0.1, 1000.0 / 3};
  const QTemporaryDir dir;
  const QString name = dir.filePath("g.json");
  WriteGridFile(name, grid);
  const TGridFile file = ReadGridFile(name);
  ASSERT_TRUE(file.Map);
  EXPECT_EQ(*file.Map, *grid.Map);

  grid.Map.reset();
  WriteGridFile(name, grid);
  EXPECT_FALSE(ReadGridFile(name).Map);
}

// The map coordinates belong to node (0, 0), wherever a clip puts it on the picture: the picture's
// geotransform moves with the lattice, and a node maps to the centre of its pixel.
TEST(GridMap, TheGeotransformFollowsTheLatticeThroughAClip) {
  TGridInfo grid;
  grid.SetSize(5, 4);
  grid.SetOrigin({60, 50});
  grid.SetStep({100, 50});
  grid.Map = TGridMap{"EPSG:28407", 7400000, 6200000, 1000, 1000};
  const auto mapOf = [](const TGeoTransform& t, double px, double py) {
    return std::pair{t[0] + px * t[1] + py * t[2], t[3] + px * t[4] + py * t[5]};
  };
  const TGeoTransform whole = MapGeoTransform(grid);
  EXPECT_EQ(mapOf(whole, 60.5, 50.5), std::pair(7400000.0, 6200000.0));
  EXPECT_EQ(mapOf(whole, 460.5, 200.5), std::pair(7404000.0, 6197000.0));
  EXPECT_EQ(whole[1], 10);
  EXPECT_EQ(whole[5], -20);

  const TGeoTransform frame = MapGeoTransform(FrameClip(grid).Grid);
  EXPECT_EQ(mapOf(frame, 0.5, 0.5), std::pair(7400000.0, 6200000.0));
  const TGeoTransform cell = MapGeoTransform(FirstCellClip(grid).Grid);
  EXPECT_EQ(mapOf(cell, 100.5, 50.5), std::pair(7401000.0, 6199000.0));
}

// Before the calibration the map coordinates of a point of the scan are those of the place the
// calibration takes it to: the inverse of the cell mapping, through the border cells outside the
// grid too, so that each output pixel's source pixel shows the output pixel's place.
TEST(GridMap, AScanPointLiesWhereTheCalibrationTakesIt) {
  TGridInfo grid;
  grid.SetSize(5, 4);
  grid.SetOrigin({60, 50});
  grid.SetStep({100, 100});
  const int offsets[][2] = {{-7, 4}, {9, -3}, {2, 8}, {-5, -9}, {6, 1}};
  for (int32_t j = 0; j < grid.NY; ++j)
    for (int32_t i = 0; i < grid.NX; ++i) {
      const int* d = offsets[(i * 3 + j * 2) % 5];
      grid.NodeAt(i, j).Offset = {d[0], d[1]};
    }
  grid.NodeAt(2, 2).Offset = {0, 0};
  for (int32_t j = 0; j < grid.NY; ++j)
    for (int32_t i = 0; i < grid.NX; ++i) {
      const TPoint n = grid.NodePos(i, j);
      const auto at = LatticePosition(grid, {n.X + 0.5, n.Y + 0.5});
      ASSERT_TRUE(at) << i << ", " << j;
      const TPoint r = grid.RefPos(i, j);
      EXPECT_NEAR(at->X, r.X + 0.5, 1e-9) << i << ", " << j;
      EXPECT_NEAR(at->Y, r.Y + 0.5, 1e-9) << i << ", " << j;
    }
  // Output pixels inside the grid, in the border bands and beyond them, and the corners the
  // calibration maps them from, through the cell that holds them.
  for (int y = -30; y < 430; y += 7)
    for (int x = -40; x < 540; x += 9) {
      const int a = std::clamp((x - grid.Origin.X) / grid.Step.X - (x < grid.Origin.X), 0, 3);
      const int b = std::clamp((y - grid.Origin.Y) / grid.Step.Y - (y < grid.Origin.Y), 0, 2);
      const TWorldPoint s = MapPoint(MakeCellTransform(grid, a, b), {double(x), double(y)});
      const auto at = LatticePosition(grid, {s.X + 0.5, s.Y + 0.5});
      ASSERT_TRUE(at) << x << ", " << y;
      EXPECT_NEAR(at->X, x + 0.5, 1e-6) << x << ", " << y;
      EXPECT_NEAR(at->Y, y + 0.5, 1e-6) << x << ", " << y;
    }

  // A grid on its lattice leaves every point where it is; one of no size places none.
  grid.ResetNodes();
  const auto same = LatticePosition(grid, {123.25, 77.75});
  ASSERT_TRUE(same);
  EXPECT_NEAR(same->X, 123.25, 1e-9);
  EXPECT_NEAR(same->Y, 77.75, 1e-9);
  grid.SetStep({0, 100});
  EXPECT_FALSE(LatticePosition(grid, {123.25, 77.75}));
}
