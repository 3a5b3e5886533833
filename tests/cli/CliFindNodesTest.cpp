// velmora-cli find-nodes and calibrate --find-nodes, run as the user runs them.
#include "CliTestUtils.h"
#include "GridScans.h"
#include "QtPrinters.h"
#include "RasterTestUtils.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

namespace {

class CliFindNodes : public testing::Test {
 protected:
  QString Path(const QString& name) { return FDir.filePath(name); }
  // The sheet's scan written as scan.bmp, and a grid file of its lattice with the given nodes.
  TGridScan WriteScan(const TGridSheet& sheet, const QJsonArray& nodes = {}) {
    TGridScan scan = MakeGridScan(sheet);
    WriteFile(Path("scan.bmp"), BmpBytes(scan.Layout));
    WriteFile(Path("grid.json"),
              QJsonDocument(QJsonObject{{"cells", QJsonArray{sheet.CellsX, sheet.CellsY}},
                                        {"origin", QJsonArray{sheet.OriginX, sheet.OriginY}},
                                        {"step", QJsonArray{sheet.StepX, sheet.StepY}},
                                        {"nodes", nodes}})
                  .toJson());
    return scan;
  }
  QJsonObject ReadJson(const QString& name) {
    return QJsonDocument::fromJson(ReadFile(Path(name))).object();
  }
  QTemporaryDir FDir;
};

TGridSheet Sheet() {
  TGridSheet sheet;
  sheet.Turn = 1.2;
  sheet.Bend = 10;
  sheet.ShiftX = 6;
  sheet.ShiftY = -5;
  sheet.Noise = 6;
  sheet.Blur = 0.6;
  sheet.LineWidth = 2;
  return sheet;
}

}  // namespace

TEST_F(CliFindNodes, WritesTheGridWithTheNodesOnTheCrossingsAndListsTheOthers) {
  const TGridSheet sheet = Sheet();
  // Node (4, 1) is placed by the user, three pixels right of its crossing; the crossing of node
  // (2, 3) is lost under a white patch.
  TGridScan scan = MakeGridScan(sheet);
  const int nx = sheet.CellsX + 1;
  const QPoint trusted(static_cast<int>(std::lround(scan.X[4 + nx])) + 3,
                       static_cast<int>(std::lround(scan.Y[4 + nx])));
  WriteScan(sheet,
            QJsonArray{QJsonObject{{"i", 4}, {"j", 1}, {"x", trusted.x()}, {"y", trusted.y()}}});
  const double hiddenX = scan.X[2 + 3 * nx], hiddenY = scan.Y[2 + 3 * nx];
  const auto pixel = scan.Layout.Pixel;
  scan.Layout.Pixel = [=](int x, int y) {
    return std::hypot(x - hiddenX, y - hiddenY) < 25 ? 255u : pixel(x, y);
  };
  WriteFile(Path("scan.bmp"), BmpBytes(scan.Layout));

  const TRun run =
      RunCli({"find-nodes", Path("scan.bmp"), "--grid", Path("grid.json"), Path("found.json")});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  // The node placed by hand is named: its neighbours put it three pixels further left.
  EXPECT_EQ(run.Out,
            "Найдено 28 из 29 узлов\nУзел (2, 3) не найден\n"
            "Узел (4, 1), поставленный вручную, в 3,1 пикселя от места, где его ждут соседние "
            "узлы\n");

  const QJsonObject found = ReadJson("found.json");
  EXPECT_EQ(found["cells"].toArray(), (QJsonArray{5, 4}));
  EXPECT_EQ(found["origin"].toArray(), (QJsonArray{100, 90}));
  EXPECT_EQ(found["step"].toArray(), (QJsonArray{140, 130}));
  const QJsonArray nodes = found["nodes"].toArray();
  EXPECT_EQ(nodes.size(), 29);
  for (const QJsonValue& value : nodes) {
    const QJsonObject node = value.toObject();
    const int i = node["i"].toInt(), j = node["j"].toInt();
    const QPoint at(node["x"].toInt(), node["y"].toInt());
    if (i == 4 && j == 1) {
      EXPECT_EQ(at, trusted);
      continue;
    }
    EXPECT_FALSE(i == 2 && j == 3);
    const size_t k = static_cast<size_t>(i + j * nx);
    EXPECT_LE(std::hypot(at.x() - scan.X[k], at.y() - scan.Y[k]), 1) << i << ", " << j;
  }
  // The grid file it writes is one that calibrate takes, and find-nodes again.
  const TRun calibrate =
      RunCli({"calibrate", Path("scan.bmp"), Path("flat.bmp"), "--grid", Path("found.json")});
  EXPECT_EQ(calibrate.Status, 0) << calibrate.Err.toStdString();
  const TRun again = RunCli({"find-nodes", Path("scan.bmp"), "--grid", Path("found.json"),
                             Path("found.json"), "--quiet"});
  EXPECT_EQ(again.Status, 0) << again.Err.toStdString();
  EXPECT_EQ(again.Out, "");
  EXPECT_EQ(ReadJson("found.json")["nodes"].toArray(), nodes);
}

TEST_F(CliFindNodes, WithoutAGridOnTheScanWritesTheLatticeAsItWasAndNamesTwentyNodes) {
  TGridSheet sheet = Sheet();
  sheet.Grid = false;
  sheet.Clutter = 1;
  WriteScan(sheet);
  const TRun run =
      RunCli({"find-nodes", Path("scan.bmp"), "--grid", Path("grid.json"), Path("found.json")});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  QStringList lines = run.Out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 22);
  EXPECT_EQ(lines[0], "Найдено 0 из 30 узлов");
  EXPECT_EQ(lines[1], "Узел (0, 0) не найден");
  EXPECT_EQ(lines[20], "Узел (1, 3) не найден");
  EXPECT_EQ(lines[21], "И ещё 10 узлов не найдены");
  const QJsonObject found = ReadJson("found.json");
  EXPECT_EQ(found["origin"].toArray(), (QJsonArray{100, 90}));
  EXPECT_EQ(found["nodes"].toArray(), QJsonArray());
}

TEST_F(CliFindNodes, WrongCommandLinesAndFilesFailWithoutWritingTheResult) {
  WriteScan(Sheet());
  const QString target = Path("found.json");
  EXPECT_EQ(RunCli({"find-nodes", Path("scan.bmp"), target}).Status, 2);  // no --grid
  EXPECT_EQ(RunCli({"find-nodes", Path("scan.bmp"), "--grid", Path("grid.json")}).Status, 2);
  EXPECT_EQ(RunCli({"find-nodes", Path("scan.bmp"), "--grid", Path("grid.json"), target, "--clip"})
                .Status,
            2);
  WriteFile(Path("bad.json"), R"({"cells": [0, 1], "origin": [0, 0], "step": [10, 10]})");
  TRun run = RunCli({"find-nodes", Path("scan.bmp"), "--grid", Path("bad.json"), target});
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(run.Err.contains("Количество ячеек сетки не может быть равно нулю"))
      << run.Err.toStdString();
  run = RunCli({"find-nodes", Path("missing.bmp"), "--grid", Path("grid.json"), target});
  EXPECT_EQ(run.Status, 1);
  EXPECT_FALSE(QFile::exists(target));
  run = RunCli({"find-nodes", Path("scan.bmp"), "--grid", Path("grid.json"),
                Path("no/such/folder/found.json")});
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(run.Err.contains("Не удаётся создать файл")) << run.Err.toStdString();
  EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files),
            QStringList({"bad.json", "grid.json", "scan.bmp"}));
}

// The grid file lists no node: the search places them, and the calibration straightens the scan
// so that the scanned grid lies on the reference lattice.
TEST_F(CliFindNodes, CalibrateFindsTheNodesFirst) {
  TGridSheet sheet = Sheet();
  sheet.Bits = 8;
  sheet.Noise = 0;
  sheet.Blur = 0;
  sheet.Bend = 14;
  WriteScan(sheet);
  const TRun run = RunCli({"calibrate", Path("scan.bmp"), Path("flat.bmp"), "--grid",
                           Path("grid.json"), "--find-nodes"});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  EXPECT_EQ(run.Out, "Найдено 30 из 30 узлов\n");
  const QImage flat = DecodeOurBmp(ReadFile(Path("flat.bmp")));
  ASSERT_EQ(flat.size(), QSize(sheet.Width, sheet.Height));
  // Every crossing of the reference lattice is dark after the calibration.
  int light = 0;
  for (int j = 0; j <= sheet.CellsY; ++j)
    for (int i = 0; i <= sheet.CellsX; ++i)
      light +=
          qGray(flat.pixel(sheet.OriginX + i * sheet.StepX, sheet.OriginY + j * sheet.StepY)) > 128;
  EXPECT_EQ(light, 0);
}
