// Calibrated sheets placed on the map, as GIS programs read them: GDAL, not our code, reads the
// output back.
#include "CliTestUtils.h"
#include "GdalTestFiles.h"
#include "QtPrinters.h"
#include "RasterTestUtils.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gdal.h>
#include <ogr_srs_api.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

// The sheet: a lattice of 4 × 3 cells of 100 pixels whose nodes the scanner moved, lines three
// pixels wide centred on the pixels of their crossings; its kilometre grid in Gauss-Krüger zone 7.
constexpr int kCellsX = 4, kCellsY = 3, kStep = 100;
constexpr int kOriginX = 60, kOriginY = 50;
constexpr double kEasting = 7400000, kNorthing = 6200000, kMetres = 1000;

const QJsonObject kMap{{"crs", "EPSG:28407"},
                       {"x", kEasting},
                       {"y", kNorthing},
                       {"step", QJsonArray{kMetres, kMetres}}};

double Distance(QPointF a, QPointF b, double x, double y) {
  const double dx = b.x() - a.x(), dy = b.y() - a.y();
  const double t =
      std::clamp(((x - a.x()) * dx + (y - a.y()) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
  return std::hypot(a.x() + t * dx - x, a.y() + t * dy - y);
}

struct TOpenedDataset {
  explicit TOpenedDataset(const QString& fileName) {
    GDALAllRegister();
    Handle = GDALOpen(QFile::encodeName(fileName).constData(), GA_ReadOnly);
  }
  ~TOpenedDataset() {
    if (Handle) GDALClose(Handle);
  }
  GDALDatasetH Handle;
};

class CliGeoreference : public testing::Test {
 protected:
  QString Path(const QString& name) { return FDir.filePath(name); }

  // Writes the scan and its grid file with every node where the scan shows it.
  void WriteSheet(const QJsonObject& map) {
    std::mt19937 random(27);
    std::uniform_int_distribution<int> shift(-9, 9);
    std::vector<QPointF>& moved = FMoved;
    moved.clear();
    QJsonArray nodes;
    for (int j = 0; j <= kCellsY; ++j)
      for (int i = 0; i <= kCellsX; ++i) {
        const QPoint p(kOriginX + i * kStep + shift(random), kOriginY + j * kStep + shift(random));
        moved.push_back(p);
        nodes.append(QJsonObject{{"i", i}, {"j", j}, {"x", p.x()}, {"y", p.y()}});
      }
    const auto node = [&](int i, int j) { return moved[size_t(i + j * (kCellsX + 1))]; };
    TBmpLayout layout;
    layout.Width = 540;
    layout.Height = 430;
    layout.BitsPerPixel = 8;
    layout.Palette = GreyPalette(256);
    layout.Pixel = [&](int x, int y) {
      for (int j = 0; j <= kCellsY; ++j)
        for (int i = 0; i <= kCellsX; ++i) {
          if (i < kCellsX && Distance(node(i, j), node(i + 1, j), x, y) <= 1) return 0u;
          if (j < kCellsY && Distance(node(i, j), node(i, j + 1), x, y) <= 1) return 0u;
        }
      return 255u;
    };
    WriteFile(Path("scan.bmp"), BmpBytes(layout));
    QJsonObject grid{{"cells", QJsonArray{kCellsX, kCellsY}},
                     {"origin", QJsonArray{kOriginX, kOriginY}},
                     {"step", QJsonArray{kStep, kStep}},
                     {"nodes", nodes}};
    if (!map.isEmpty()) grid["map"] = map;
    WriteFile(Path("grid.json"), QJsonDocument(grid).toJson());
  }

  // Checks, with GDAL reading the output, that it is in Gauss-Krüger zone 7 and that the four
  // corner crossings the picture shows lie at their map coordinates within half a pixel.
  void ExpectCornersOnTheMap(const QString& fileName) {
    const TOpenedDataset dataset(fileName);
    ASSERT_TRUE(dataset.Handle);
    EXPECT_TRUE(GdalCrsIs(fileName, 28407));
    std::array<double, 6> t{};
    ASSERT_EQ(GDALGetGeoTransform(dataset.Handle, t.data()), CE_None);
    const int width = GDALGetRasterXSize(dataset.Handle);
    const int height = GDALGetRasterYSize(dataset.Handle);
    std::vector<uint8_t> pixels(size_t(width) * height);
    ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(dataset.Handle, 1), GF_Read, 0, 0, width, height,
                           pixels.data(), width, height, GDT_Byte, 0, 0),
              CE_None);
    const auto dark = [&](int x, int y) {
      return x >= 0 && y >= 0 && x < width && y < height && pixels[size_t(y) * width + x] < 128;
    };
    for (const int i : {0, kCellsX})
      for (const int j : {0, kCellsY}) {
        // The crossing's column is the middle of the vertical line a few pixels into the sheet,
        // its row that of the horizontal line.
        const int nearX = kOriginX + i * kStep, nearY = kOriginY + j * kStep;
        const int inX = i ? -6 : 6, inY = j ? -6 : 6;
        double sumX = 0, countX = 0, sumY = 0, countY = 0;
        for (int d = -5; d <= 5; ++d) {
          if (dark(nearX + d, nearY + inY)) sumX += nearX + d, ++countX;
          if (dark(nearX + inX, nearY + d)) sumY += nearY + d, ++countY;
        }
        ASSERT_GT(countX, 0) << i << ", " << j;
        ASSERT_GT(countY, 0) << i << ", " << j;
        // The crossing stands for its pixel, whose centre is half a pixel in.
        const double px = sumX / countX + 0.5, py = sumY / countY + 0.5;
        const double easting = t[0] + px * t[1] + py * t[2];
        const double northing = t[3] + px * t[4] + py * t[5];
        EXPECT_NEAR(easting, kEasting + i * kMetres, std::abs(t[1]) / 2) << i << ", " << j;
        EXPECT_NEAR(northing, kNorthing - j * kMetres, std::abs(t[5]) / 2) << i << ", " << j;
      }
  }

  QTemporaryDir FDir;
  std::vector<QPointF> FMoved;  // where the scan shows node (i, j), at i + j·(kCellsX + 1)
};

}  // namespace

TEST_F(CliGeoreference, ABmpWithItsWorldFileLiesOnTheMap) {
  WriteSheet(kMap);
  const TRun run =
      RunCli({"calibrate", Path("scan.bmp"), Path("flat.bmp"), "--grid", Path("grid.json")});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  ExpectCornersOnTheMap(Path("flat.bmp"));
  // Both world files say the same, and the .prj is the CRS for programs that read ESRI's WKT.
  EXPECT_EQ(ReadFile(Path("flat.wld")), ReadFile(Path("flat.bpw")));
  OGRSpatialReferenceH prj = OSRNewSpatialReference(nullptr);
  const QByteArray esri = ReadFile(Path("flat.prj"));
  char* text[] = {const_cast<char*>(esri.constData()), nullptr};
  ASSERT_EQ(OSRImportFromESRI(prj, text), OGRERR_NONE);
  EXPECT_EQ(OSRGetProjParm(prj, SRS_PP_CENTRAL_MERIDIAN, 0, nullptr), 39);
  EXPECT_EQ(OSRGetProjParm(prj, SRS_PP_FALSE_EASTING, 0, nullptr), 7500000);
  OSRDestroySpatialReference(prj);
}

TEST_F(CliGeoreference, AGeoTiffLiesOnTheMapWithNothingBesideIt) {
  WriteSheet(kMap);
  const TRun run =
      RunCli({"calibrate", Path("scan.bmp"), Path("flat.tif"), "--grid", Path("grid.json")});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  ExpectCornersOnTheMap(Path("flat.tif"));
  EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files),
            QStringList({"flat.tif", "grid.json", "scan.bmp"}));
}

// Clipped to the first cell, the picture is that cell on the map: its corner pixels' centres are
// the cell's corners.
TEST_F(CliGeoreference, AClipTakesTheMapCoordinatesWithIt) {
  WriteSheet(kMap);
  const TRun run = RunCli(
      {"calibrate", Path("scan.bmp"), Path("cell.bmp"), "--grid", Path("grid.json"), "--clip"});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  const TOpenedDataset dataset(Path("cell.bmp"));
  ASSERT_TRUE(dataset.Handle);
  EXPECT_TRUE(GdalCrsIs(Path("cell.bmp"), 28407));
  std::array<double, 6> t{};
  ASSERT_EQ(GDALGetGeoTransform(dataset.Handle, t.data()), CE_None);
  EXPECT_EQ(GDALGetRasterXSize(dataset.Handle), kStep);
  EXPECT_DOUBLE_EQ(t[0] + 0.5 * t[1], kEasting);
  EXPECT_DOUBLE_EQ(t[3] + 0.5 * t[5], kNorthing);
  EXPECT_DOUBLE_EQ(t[1], kMetres / kStep);
  EXPECT_DOUBLE_EQ(t[5], -kMetres / kStep);
}

TEST_F(CliGeoreference, WithoutMapCoordinatesNothingButThePictureIsWritten) {
  WriteSheet({});
  const TRun run =
      RunCli({"calibrate", Path("scan.bmp"), Path("flat.bmp"), "--grid", Path("grid.json")});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files),
            QStringList({"flat.bmp", "grid.json", "scan.bmp"}));
}

// A grid whose map coordinates cannot be right is refused before anything is written, and a world
// file never takes the place of an input.
TEST_F(CliGeoreference, BadMapCoordinatesOrAWorldFileOverAnInputAreRefused) {
  QJsonObject map = kMap;
  map["crs"] = "EPSG:4326";
  WriteSheet(map);
  TRun run = RunCli({"calibrate", Path("scan.bmp"), Path("flat.bmp"), "--grid", Path("grid.json")});
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(run.Err.contains("не проекционная в метрах")) << run.Err.toStdString();
  EXPECT_FALSE(QFile::exists(Path("flat.bmp")));

  WriteSheet(kMap);
  ASSERT_TRUE(QFile::rename(Path("grid.json"), Path("flat.wld")));
  run = RunCli({"calibrate", Path("scan.bmp"), Path("flat.bmp"), "--grid", Path("flat.wld")});
  EXPECT_EQ(run.Status, 2);
  EXPECT_TRUE(run.Err.contains("файл привязки")) << run.Err.toStdString();
  EXPECT_FALSE(QFile::exists(Path("flat.bmp")));
}

// For a georeferencer that warps the scan itself: each node where the grid file puts it on the
// scan, as QGIS's georeferencer reads its points (y counted upwards from the top edge).
TEST_F(CliGeoreference, GeorefWritesTheNodesAsGroundControlPoints) {
  WriteSheet(kMap);
  TRun run = RunCli({"georef", Path("scan.bmp"), Path("scan.points"), "--grid", Path("grid.json")});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  const QStringList lines = QString::fromUtf8(ReadFile(Path("scan.points"))).split(u'\n');
  ASSERT_EQ(lines.size(), 2 + (kCellsX + 1) * (kCellsY + 1) + 1);
  ASSERT_TRUE(lines[0].startsWith("#CRS: "));
  OGRSpatialReferenceH crs = OSRNewSpatialReference(nullptr);
  const QByteArray wkt = lines[0].mid(6).toUtf8();
  ASSERT_EQ(OSRSetFromUserInput(crs, wkt.constData()), OGRERR_NONE);
  EXPECT_STREQ(OSRGetAuthorityCode(crs, nullptr), "28407");
  OSRDestroySpatialReference(crs);
  EXPECT_EQ(lines[1], "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual");
  for (int j = 0; j <= kCellsY; ++j)
    for (int i = 0; i <= kCellsX; ++i) {
      const QStringList fields = lines[2 + i + j * (kCellsX + 1)].split(u',');
      ASSERT_EQ(fields.size(), 8);
      const QPointF at = FMoved[size_t(i + j * (kCellsX + 1))];
      EXPECT_EQ(fields[0].toDouble(), kEasting + i * kMetres);
      EXPECT_EQ(fields[1].toDouble(), kNorthing - j * kMetres);
      EXPECT_EQ(fields[2].toDouble(), at.x() + 0.5);
      EXPECT_EQ(fields[3].toDouble(), -(at.y() + 0.5));
      EXPECT_EQ(fields[4], "1");
    }
  EXPECT_EQ(lines.last(), "");

  // Without map coordinates there is nothing to pair the nodes with.
  WriteSheet({});
  run = RunCli({"georef", Path("scan.bmp"), Path("none.points"), "--grid", Path("grid.json")});
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(run.Err.contains("нет координат на карте")) << run.Err.toStdString();
  EXPECT_FALSE(QFile::exists(Path("none.points")));
}

// A scan to be warped elsewhere, as a GeoTIFF whose ground control points are the nodes.
TEST_F(CliGeoreference, GeorefWritesAGeoTiffWithTheNodesAsGroundControlPoints) {
  WriteSheet(kMap);
  const TRun run =
      RunCli({"georef", Path("scan.bmp"), Path("scan.tif"), "--grid", Path("grid.json")});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  const TOpenedDataset dataset(Path("scan.tif"));
  ASSERT_TRUE(dataset.Handle);
  EXPECT_EQ(GDALGetRasterXSize(dataset.Handle), 540);
  ASSERT_EQ(GDALGetGCPCount(dataset.Handle), (kCellsX + 1) * (kCellsY + 1));
  OGRSpatialReferenceH srs = OSRNewSpatialReference(GDALGetGCPProjection(dataset.Handle));
  EXPECT_STREQ(OSRGetAuthorityCode(srs, nullptr), "28407");
  OSRDestroySpatialReference(srs);
  const GDAL_GCP* points = GDALGetGCPs(dataset.Handle);
  for (int j = 0; j <= kCellsY; ++j)
    for (int i = 0; i <= kCellsX; ++i) {
      const int k = i + j * (kCellsX + 1);
      EXPECT_EQ(points[k].dfGCPPixel, FMoved[size_t(k)].x() + 0.5);
      EXPECT_EQ(points[k].dfGCPLine, FMoved[size_t(k)].y() + 0.5);
      EXPECT_EQ(points[k].dfGCPX, kEasting + i * kMetres);
      EXPECT_EQ(points[k].dfGCPY, kNorthing - j * kMetres);
    }
}

// A BMP written with no place on the map over one that had a place takes its world files away:
// left, they would put the new picture where the old one lay. A .wld or .prj that no .bpw shows
// to be the BMP's may be another raster's, and stays; written again over itself, a picture stays
// where its world files put it.
TEST_F(CliGeoreference, ABmpWithNoPlaceOnTheMapTakesTheOldOnesWorldFilesAway) {
  WriteSheet(kMap);
  TRun run = RunCli({"calibrate", Path("scan.bmp"), Path("flat.bmp"), "--grid", Path("grid.json")});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  const QByteArray world = ReadFile(Path("flat.bpw"));
  run = RunCli({"convert", Path("flat.bmp"), Path("flat.bmp"), "--dpi", "300", "300"});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  EXPECT_EQ(ReadFile(Path("flat.bpw")), world);
  EXPECT_TRUE(QFile::exists(Path("flat.bmp.aux.xml")));

  WriteSheet({});
  run = RunCli({"calibrate", Path("scan.bmp"), Path("flat.bmp"), "--grid", Path("grid.json")});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files),
            QStringList({"flat.bmp", "grid.json", "scan.bmp"}));

  WriteFile(Path("other.wld"), "1\n0\n0\n-1\n0.5\n0.5\n");
  WriteFile(Path("other.prj"), "PROJCS[]");
  WriteFile(Path("other.bmp.aux.xml"), "<PAMDataset/>");
  run = RunCli({"convert", Path("scan.bmp"), Path("other.bmp")});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  EXPECT_EQ(QDir(FDir.path()).entryList({"other.*"}, QDir::Files),
            QStringList({"other.bmp", "other.prj", "other.wld"}));
}

// The world files are written before the picture and take their names after it: one that cannot
// be written stops the save, and nothing beside it changes.
TEST_F(CliGeoreference, AWorldFileThatCannotBeWrittenLeavesEveryFileAsItWas) {
  WriteSheet(kMap);
  ASSERT_TRUE(QDir(FDir.path()).mkdir("flat.prj"));
  WriteFile(Path("flat.bpw"), "old");
  const TRun run =
      RunCli({"calibrate", Path("scan.bmp"), Path("flat.bmp"), "--grid", Path("grid.json")});
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(run.Err.contains("flat.prj")) << run.Err.toStdString();
  EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
            QStringList({"flat.bpw", "flat.prj", "grid.json", "scan.bmp"}));
  EXPECT_EQ(ReadFile(Path("flat.bpw")), "old");
}
