// The grid's map coordinates: how the grid file states them and what it refuses, and where they
// put the calibrated picture.
#include "CalibrateRaster.h"
#include "CoordinateSystems.h"
#include "GridFiles.h"
#include "MessageOf.h"
#include "QtPrinters.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

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
