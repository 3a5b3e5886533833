// velmora-cli calibrate, run as the user runs it.
#include "CliTestUtils.h"
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
#include <cstdint>
#include <random>

namespace {

struct TSegment {
  double X0, Y0, X1, Y1;
};

double Distance(const TSegment& s, double x, double y) {
  const double dx = s.X1 - s.X0;
  const double dy = s.Y1 - s.Y0;
  const double t = std::clamp(((x - s.X0) * dx + (y - s.Y0) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
  return std::hypot(s.X0 + t * dx - x, s.Y0 + t * dy - y);
}

// A sheet with a lattice of cx × cy cells: the lines join the nodes where pos(i, j) puts them.
std::vector<TSegment> Lattice(int cx, int cy, const std::function<QPointF(int, int)>& pos) {
  std::vector<TSegment> lines;
  for (int j = 0; j <= cy; ++j)
    for (int i = 0; i <= cx; ++i) {
      const QPointF p = pos(i, j);
      if (i < cx) lines.push_back({p.x(), p.y(), pos(i + 1, j).x(), pos(i + 1, j).y()});
      if (j < cy) lines.push_back({p.x(), p.y(), pos(i, j + 1).x(), pos(i, j + 1).y()});
    }
  return lines;
}

class CliCalibrate : public testing::Test {
 protected:
  QString Path(const QString& name) { return FDir.filePath(name); }
  void WriteGrid(const QJsonObject& grid, const QString& name = "grid.json") {
    WriteFile(Path(name), QJsonDocument(grid).toJson());
  }
  QTemporaryDir FDir;
};

}  // namespace

TEST_F(CliCalibrate, BringsABentLatticeBackOntoTheReferenceLattice) {
  const int cx = 4, cy = 3, step = 100;
  const QPoint origin(60, 50);
  std::mt19937 random(5);
  std::uniform_int_distribution<int> shift(-9, 9);
  std::vector<QPoint> moved;
  QJsonArray nodes;
  for (int j = 0; j <= cy; ++j)
    for (int i = 0; i <= cx; ++i) {
      const QPoint p = origin + QPoint(i * step + shift(random), j * step + shift(random));
      moved.push_back(p);
      nodes.append(QJsonObject{{"i", i}, {"j", j}, {"x", p.x()}, {"y", p.y()}});
    }
  // What the scanner made of the sheet: the lattice's lines run between the moved crossings.
  const std::vector<TSegment> bent =
      Lattice(cx, cy, [&](int i, int j) { return QPointF(moved[size_t(i + j * (cx + 1))]); });
  TBmpLayout layout;
  layout.Width = 520;
  layout.Height = 420;
  layout.BitsPerPixel = 8;
  layout.Palette = GreyPalette(256);
  layout.Pixel = [&](int x, int y) {
    for (const TSegment& s : bent)
      if (Distance(s, x + 0.5, y + 0.5) <= 1.5) return 0u;
    return 255u;
  };
  WriteFile(Path("scan.bmp"), BmpBytes(layout));
  WriteGrid(QJsonObject{{"cells", QJsonArray{cx, cy}},
                        {"origin", QJsonArray{origin.x(), origin.y()}},
                        {"step", QJsonArray{step, step}},
                        {"nodes", nodes}});

  const TRun run =
      RunCli({"calibrate", Path("scan.bmp"), Path("flat.bmp"), "--grid", Path("grid.json")});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  const QImage flat = DecodeOurBmp(ReadFile(Path("flat.bmp")));
  ASSERT_EQ(flat.size(), QSize(520, 420));

  const std::vector<TSegment> reference =
      Lattice(cx, cy, [&](int i, int j) { return QPointF(origin + QPoint(i * step, j * step)); });
  int missing = 0, stray = 0;
  for (int y = origin.y(); y <= origin.y() + cy * step; ++y)
    for (int x = origin.x(); x <= origin.x() + cx * step; ++x) {
      double nearest = 1e9;
      for (const TSegment& s : reference) nearest = std::min(nearest, Distance(s, x, y));
      const bool dark = qGray(flat.pixel(x, y)) < 128;
      if (nearest == 0 && !dark) ++missing;  // every pixel of a reference line is drawn
      if (nearest > 3 && dark) ++stray;      // and nothing is drawn away from them
    }
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(stray, 0);
}

TEST_F(CliCalibrate, ClipKeepsTheFirstCellAndPaperGridsUseTheResolution) {
  TBmpLayout layout;
  layout.Width = 300;
  layout.Height = 200;
  layout.BitsPerPixel = 24;
  layout.XPelsPerMeter = 2000;  // 20 pixels a centimetre
  layout.YPelsPerMeter = 1000;  // 10 pixels a centimetre
  layout.Pixel = [](int x, int y) { return static_cast<uint32_t>(x + 1000 * y); };
  WriteFile(Path("in.bmp"), BmpBytes(layout));
  WriteGrid(
      QJsonObject{{"cells", QJsonArray{2, 1}},
                  {"paper", QJsonObject{{"left", 1}, {"top", 2.5}, {"width", 10}, {"height", 5}}}});
  const TRun run =
      RunCli({"calibrate", Path("in.bmp"), Path("out.bmp"), "--grid", Path("grid.json"), "--clip"});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  // Origin (20, 25), step (200 / 2, 50): the first cell is 100 × 50 pixels from (20, 25).
  const QImage out = DecodeOurBmp(ReadFile(Path("out.bmp")));
  ASSERT_EQ(out.size(), QSize(100, 50));
  const uint32_t first = 20 + 1000 * 25;  // 0x00BBGGRR as the layout wrote it
  EXPECT_EQ(qRed(out.pixel(0, 0)), int(first & 0xFF));
  EXPECT_EQ(qGreen(out.pixel(0, 0)), int((first >> 8) & 0xFF));
  EXPECT_EQ(qBlue(out.pixel(0, 0)), int((first >> 16) & 0xFF));
}

TEST_F(CliCalibrate, ClipFrameKeepsTheWholeGridWithItsNodes) {
  TBmpLayout layout;
  layout.Width = 300;
  layout.Height = 200;
  layout.BitsPerPixel = 24;
  layout.Pixel = [](int x, int y) { return static_cast<uint32_t>(x * 7 + 1000 * y); };
  WriteFile(Path("in.bmp"), BmpBytes(layout));
  WriteGrid(
      QJsonObject{{"cells", QJsonArray{2, 2}},
                  {"origin", QJsonArray{30, 20}},
                  {"step", QJsonArray{100, 70}},
                  {"nodes", QJsonArray{QJsonObject{{"i", 1}, {"j", 1}, {"x", 134}, {"y", 93}}}}});
  ASSERT_EQ(
      RunCli({"calibrate", Path("in.bmp"), Path("whole.bmp"), "--grid", Path("grid.json")}).Status,
      0);
  const TRun run = RunCli({"calibrate", Path("in.bmp"), Path("frame.bmp"), "--grid",
                           Path("grid.json"), "--clip-frame"});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  // The frame from the first node's pixel to the last's, (30, 20) to (230, 160) with both, of the
  // calibrated raster.
  const QImage whole = DecodeOurBmp(ReadFile(Path("whole.bmp")));
  const QImage frame = DecodeOurBmp(ReadFile(Path("frame.bmp")));
  EXPECT_EQ(frame, whole.copy(30, 20, 201, 141));
  // One clip at a time.
  const TRun both = RunCli({"calibrate", Path("in.bmp"), Path("both.bmp"), "--grid",
                            Path("grid.json"), "--clip", "--clip-frame"});
  EXPECT_EQ(both.Status, 2);
  EXPECT_TRUE(both.Err.contains("задайте либо --clip, либо --clip-frame"))
      << both.Err.toStdString();
  EXPECT_FALSE(QFile::exists(Path("both.bmp")));
}

TEST_F(CliCalibrate, BadGridFilesAndRastersFailWithTheirReasonAndLeaveNoFile) {
  TBmpLayout layout;
  layout.Width = 40;
  layout.Height = 30;
  layout.BitsPerPixel = 8;
  layout.Palette = {0x000000, 0x808080};  // no white
  WriteFile(Path("in.bmp"), BmpBytes(layout));
  const QString target = Path("out.bmp");
  struct TCase {
    QByteArray Grid;
    QString Reason;
  };
  const QByteArray pixels = R"("origin": [0, 0], "step": [40, 30])";
  const std::vector<TCase> cases = {
      {"{", "это не JSON"},
      {"[1, 2]", "ожидался объект JSON"},
      {R"({"origin": [0, 0], "step": [10, 10]})", "нет поля \"cells\""},
      {R"({"cells": [0, 1], )" + pixels + "}", "Количество ячеек сетки не может быть равно нулю"},
      {R"({"cells": [-5, 1], )" + pixels + "}",
       "Количество ячеек сетки не может быть отрицательным"},
      {R"({"cells": [1, 1]})", "задайте либо \"origin\" и \"step\""},
      {R"({"cells": [1, 1], "paper": {"left": 0, "top": 0, "width": 1, "height": 1}, )" + pixels +
           "}",
       "задайте либо \"origin\" и \"step\""},
      {R"({"cells": [1, 1], "origin": [0, 0]})", "\"origin\" и \"step\" задаются вместе"},
      {R"({"cells": [1, 1], "origin": [0.5, 0], "step": [10, 10]})", "должно быть целым числом"},
      {R"({"cells": [1, 1], "paper": {"left": 0, "top": 0, "width": 0, "height": 1}})",
       "Ширина сетки должна быть больше нуля"},
      // Checked in the order of the grid parameters dialog: the width before the cells.
      {R"({"cells": [0, 0], "paper": {"left": 0, "top": 0, "width": 0, "height": 1}})",
       "Ширина сетки должна быть больше нуля"},
      {R"({"cells": [1, 0], "paper": {"left": 0, "top": 0, "width": 1, "height": -2}})",
       "Высота сетки должна быть больше нуля"},
      {R"({"cells": [1, 0], "paper": {"left": -1, "top": -1, "width": 1, "height": 1}})",
       "Количество ячеек сетки не может быть равно нулю"},
      {R"({"cells": [1, 1], )" + pixels + R"(, "nodes": [{"i": 2, "j": 0, "x": 1, "y": 1}]})",
       "узел (2, 0) вне сетки"},
      {R"({"cells": [1, 1], )" + pixels + R"(, "nodes": [{"i": 1, "j": 0, "x": 1}]})",
       "у узла нет поля \"y\""},
      {R"({"cells": [1, 1], )" + pixels + R"(, "colour": 1})", "неизвестное поле \"colour\""},
      {R"({"cells": [100000, 1], )" + pixels + "}",
       "слишком много ячеек: не больше 10000 по каждой оси"},
      {R"({"cells": [10000, 399], )" + pixels + "}",
       "слишком много узлов: (10000 + 1) × (399 + 1) = 4000400, а можно не больше 1000000"},
      {R"({"cells": [1, 1], "origin": [0, 0], "step": [1, nul]})",
       "это не JSON (недопустимое значение, символ 52)"},
      {R"({"cells" [1, 1]})", "это не JSON (после имени поля нет двоеточия, символ 10)"},
      // A node dragged past its neighbour folds a cell, which would come out mirrored.
      {R"({"cells": [2, 1], "origin": [0, 0], "step": [20, 30], )"
       R"("nodes": [{"i": 1, "j": 0, "x": 45, "y": 0}]})",
       "Калибровка невозможна. Сетка перекручена: в ячейке (1, 0) узел перетащен за соседний"},
      {R"({"cells": [1, 1], "origin": [0, 0], "step": [0, 30]})",
       "Калибровка невозможна. Ячейки сетки не имеют размера (0 × 30 пикселей)"},
      // A sound grid whose moved corner pulls white in from outside: the palette lacks it.
      {R"({"cells": [1, 1], )" + pixels + R"(, "nodes": [{"i": 1, "j": 1, "x": 45, "y": 30}]})",
       "Не найден соответствующий цвет в палитре"},
  };
  for (const TCase& c : cases) {
    WriteFile(Path("grid.json"), c.Grid);
    const TRun run = RunCli({"calibrate", Path("in.bmp"), target, "--grid", Path("grid.json")});
    EXPECT_EQ(run.Status, 1) << c.Grid.toStdString();
    EXPECT_TRUE(run.Err.contains(c.Reason)) << run.Err.toStdString();
    EXPECT_FALSE(QFile::exists(target)) << c.Grid.toStdString();
  }
  EXPECT_EQ(RunCli({"calibrate", Path("in.bmp"), target}).Status, 2);  // no --grid
  EXPECT_EQ(RunCli({"calibrate", Path("in.bmp"), "--grid", Path("grid.json")}).Status, 2);
  EXPECT_EQ(RunCli({"calibrate", Path("in.bmp"), target, "--grid"}).Status, 2);
  EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files), QStringList({"grid.json", "in.bmp"}));
}

// The resolution a file states may be anything; centimetres of paper need a real one, and a grid
// must fit in pixels. Neither may give a mirrored or wrapped grid silently.
TEST_F(CliCalibrate, APaperGridNeedsARealResolutionAndMustFitInPixels) {
  TBmpLayout layout;
  layout.Width = 40;
  layout.Height = 30;
  layout.BitsPerPixel = 24;
  layout.XPelsPerMeter = -1;
  layout.YPelsPerMeter = -1;
  WriteFile(Path("negative.bmp"), BmpBytes(layout));
  layout.XPelsPerMeter = layout.YPelsPerMeter = INT32_MIN;
  WriteFile(Path("minimum.bmp"), BmpBytes(layout));
  layout.XPelsPerMeter = layout.YPelsPerMeter = 2000;
  WriteFile(Path("in.bmp"), BmpBytes(layout));
  const QString target = Path("out.bmp");
  const auto paper = [](double left, double width) {
    return QJsonObject{
        {"cells", QJsonArray{2, 2}},
        {"paper", QJsonObject{{"left", left}, {"top", 0}, {"width", width}, {"height", 1}}}};
  };
  const QString refused =
      "Разрешение растра -1 × -1 точек на метр не позволяет перевести сетку из сантиметров в "
      "пиксели: задайте разрешение (convert --ppm или --dpi) или сетку в пикселях";
  // Resolutions are whole numbers and read as such, however large.
  const QString minimum = QString(refused).replace("-1 × -1", "-2147483648 × -2147483648");
  const QString tooLarge = "Сетка на бумаге слишком велика для разрешения растра";
  struct TCase {
    QString Raster;
    QJsonObject Grid;
    QString Reason;
  };
  for (const TCase& c :
       {TCase{"negative.bmp", paper(0, 1), refused}, TCase{"minimum.bmp", paper(0, 1), minimum},
        TCase{"negative.bmp", paper(0, 1e300), refused}, TCase{"in.bmp", paper(0, 1e300), tooLarge},
        TCase{"in.bmp", paper(-1e300, 1), tooLarge}}) {
    WriteGrid(c.Grid);
    const TRun run = RunCli({"calibrate", Path(c.Raster), target, "--grid", Path("grid.json")});
    EXPECT_EQ(run.Status, 1) << run.Err.toStdString();
    EXPECT_EQ(run.Err, "velmora-cli calibrate: " + c.Reason + "\n");
    EXPECT_FALSE(QFile::exists(target));
  }
}
