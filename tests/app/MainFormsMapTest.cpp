// The window with a grid placed on the map: the status bar's map coordinates under the pointer,
// before the calibration and after it, and the save of a calibrated raster on the map, which is
// the file velmora-cli writes. GDAL, not our code, reads the files back.
#include "GdalTestFiles.h"
#include "GridCalibrator.h"
#include "GridFiles.h"
#include "MainFormTestUtils.h"
#include "MainForms.h"
#include "MessageOf.h"
#include "ModalAnswers.h"
#include "QtPrinters.h"
#include "RasterTestUtils.h"
#include "StatusPanels.h"

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <optional>

namespace {

constexpr double kEasting = 7400000, kNorthing = 6200000, kMetres = 1000;
// Window pixels a raster pixel: the pointer's window pixel lies well inside the raster pixel.
constexpr double kZoom = 16;

// A sheet of 540 × 430 pixels with a grid of 4 × 3 cells of 100 pixels from (60, 50), its nodes
// moved as a scanner bends a sheet, its kilometre grid in Gauss-Krüger zone 7: 10 m a pixel.
struct TMapSheet : TForm {
  TMapSheet() : TForm(3780, 540, 430) {
    Grid.SetSize(5, 4);
    Grid.SetOrigin({60, 50});
    Grid.SetStep({100, 100});
    const int offsets[][2] = {{-7, 4}, {9, -3}, {2, 8}, {-5, -9}, {6, 1}};
    for (int32_t j = 0; j < Grid.NY; ++j)
      for (int32_t i = 0; i < Grid.NX; ++i) {
        const int* d = offsets[(i * 3 + j * 2) % 5];
        Grid.NodeAt(i, j).Offset = {d[0], d[1]};
      }
    Grid.Map = TGridMap{"EPSG:28407", kEasting, kNorthing, kMetres, kMetres};
    Form.Calibrator()->ReplaceGrid(Grid);
  }

  QLabel* MapPanel() const { return Control<QLabel>(&Form, "StatusPanel4"); }

  // Shows the pixel magnified in the middle of the view and moves the pointer onto its
  // middle; the map coordinates the status bar shows then, easting and northing.
  std::optional<std::array<double, 2>> MapAt(TPoint pixel) {
    TEditWindow& window = *Form.EditWindow();
    const TWorldPoint middle{pixel.X + 0.5, pixel.Y + 0.5};
    Form.Navigator()->SetView(middle, false,
                              kZoom * window.devicePixelRatioF() / window.Device().BaseScaleX());
    const QPointF device =
        window.Device().WorldToDeviceTransform().map(QPointF(middle.X, middle.Y));
    const qreal ratio = window.devicePixelRatioF();
    const QPoint at =
        window.mapTo(&Form, QPoint(qRound(device.x() / ratio), qRound(device.y() / ratio)));
    // From elsewhere: the pixel before may have stood at the same place of the window.
    QTest::mouseMove(Form.windowHandle(), at + QPoint(7, 5));
    QTest::mouseMove(Form.windowHandle(), at);
    QCoreApplication::processEvents();
    EXPECT_EQ(Form.ReadStatusText(0), QString("%1; %2 px").arg(pixel.X).arg(pixel.Y));
    const QString text = Form.ReadStatusText(TStatusPanels::MapSlot);
    if (text.isEmpty()) return std::nullopt;
    EXPECT_TRUE(text.endsWith(" m")) << text.toStdString();
    const QStringList parts = text.chopped(2).split("; ");
    EXPECT_EQ(parts.size(), 2) << text.toStdString();
    return std::array<double, 2>{QLocale().toDouble(parts.value(0)),
                                 QLocale().toDouble(parts.value(1))};
  }

  void Calibrate() {
    Form.CalibrateBeginBtnClick();
    ASSERT_TRUE(Form.Calibrator()->Calibrated());
  }

  // Saves as the name, answering the dialogs.
  void SaveAs(const QString& name) {
    WhenModal<QFileDialog>([name](QFileDialog* dialog) {
      dialog->selectFile(name);
      if (QFileInfo::exists(name)) Answer(QMessageBox::Yes);
      static_cast<QDialog*>(dialog)->accept();
    });
    ASSERT_EQ(Form.SaveRaster(true), IDYES);
  }

  QStringList Files() const { return QDir(Dir.path()).entryList(QDir::Files); }

  TGridInfo Grid;
};

int RunCli(const QStringList& args) {
  QProcess cli;
  cli.start(VELMORA_CLI_FILE, args);
  if (!cli.waitForFinished(120000)) return -1;
  return cli.exitCode();
}

}  // namespace

// The pointer's map coordinates agree with the geotransform GDAL reads from the calibrated sheet
// saved as a GeoTIFF, at five pixels across it; before the calibration the pixel of each dragged
// node shows the node's map coordinates, for the calibration will take it there.
TEST(MainFormMap, ThePointersMapCoordinatesAreWhereTheSavedSheetPutsThem) {
  TMapSheet s;
  EXPECT_TRUE(s.MapPanel()->isVisible());
  const double tolerance = 0.2 * kMetres / 100;  // a fifth of a pixel
  for (const TPoint node : {TPoint{0, 0}, TPoint{2, 1}, TPoint{4, 3}, TPoint{1, 2}}) {
    const auto map = s.MapAt(s.Grid.NodePos(node.X, node.Y));
    ASSERT_TRUE(map);
    EXPECT_NEAR((*map)[0], kEasting + node.X * kMetres, tolerance) << node.X << ", " << node.Y;
    EXPECT_NEAR((*map)[1], kNorthing - node.Y * kMetres, tolerance) << node.X << ", " << node.Y;
  }

  s.Calibrate();
  const QString tiff = s.Dir.filePath("flat.tif");
  s.SaveAs(tiff);
  EXPECT_TRUE(GdalCrsIs(tiff, 28407));
  const auto geo = GdalGeoTransform(tiff);
  ASSERT_TRUE(geo);
  const std::array<double, 6>& t = *geo;
  for (const TPoint p :
       {TPoint{3, 4}, TPoint{60, 50}, TPoint{251, 187}, TPoint{460, 350}, TPoint{537, 428}}) {
    const auto map = s.MapAt(p);
    ASSERT_TRUE(map) << p.X << ", " << p.Y;
    const double px = p.X + 0.5, py = p.Y + 0.5;
    EXPECT_NEAR((*map)[0], t[0] + px * t[1] + py * t[2], tolerance) << p.X << ", " << p.Y;
    EXPECT_NEAR((*map)[1], t[3] + px * t[4] + py * t[5], tolerance) << p.X << ", " << p.Y;
  }

  // A grid off the map hides the panel.
  TGridInfo off = s.Form.Calibrator()->Grid();
  off.Map.reset();
  s.Form.Calibrator()->ReplaceGrid(off);
  EXPECT_FALSE(s.MapPanel()->isVisible());
  EXPECT_FALSE(s.MapAt({100, 100}));
}

// The window and velmora-cli calibrate write the same files from the same grid, byte for byte: a
// GeoTIFF, and a BMP clipped to the grid's frame with its world files.
TEST(MainFormMap, TheWindowSavesTheSheetOnTheMapAsTheCliDoes) {
  TMapSheet s;
  const QString grid = s.Dir.filePath("grid.json");
  WriteGridFile(grid, s.Grid);
  // Before the calibration the raster lies nowhere on the map.
  s.SaveAs(s.Dir.filePath("scan copy.bmp"));
  EXPECT_EQ(s.Files(), QStringList({"grid.json", "scan copy.bmp", "scan.bmp"}));

  s.Calibrate();
  s.SaveAs(s.Dir.filePath("flat.tif"));
  s.Form.ClipFrameMenuClick();
  s.SaveAs(s.Dir.filePath("frame.bmp"));
  QDir(s.Dir.path()).mkdir("cli");
  const QString cli = s.Dir.filePath("cli/");
  ASSERT_EQ(RunCli({"calibrate", s.Scan, cli + "flat.tif", "--grid", grid, "--quiet"}), 0);
  ASSERT_EQ(
      RunCli({"calibrate", s.Scan, cli + "frame.bmp", "--grid", grid, "--clip-frame", "--quiet"}),
      0);
  const QStringList written{"flat.tif",  "frame.bmp", "frame.bpw",
                            "frame.wld", "frame.prj", "frame.bmp.aux.xml"};
  for (const QString& name : written) {
    ASSERT_TRUE(QFile::exists(s.Dir.filePath(name))) << name.toStdString();
    EXPECT_EQ(ReadFile(s.Dir.filePath(name)), ReadFile(cli + name)) << name.toStdString();
  }
  const QString frame = s.Dir.filePath("frame.bmp");
  EXPECT_TRUE(GdalCrsIs(frame, 28407));
  // The frame holds the last node's pixel: the far corner lies on the picture.
  EXPECT_EQ(GdalSize(frame), QSize(401, 301));
  const auto geo = GdalGeoTransform(frame);
  ASSERT_TRUE(geo);
  const std::array<double, 6>& t = *geo;
  EXPECT_DOUBLE_EQ(t[0] + 400.5 * t[1], kEasting + 4 * kMetres);
  EXPECT_DOUBLE_EQ(t[3] + 300.5 * t[5], kNorthing - 3 * kMetres);

  // The clip undone and the calibration with it, the raster saved over the frame lies nowhere:
  // the frame's world files go, lest they place it.
  s.Form.UndoMenuClick();
  s.Form.UndoMenuClick();
  ASSERT_FALSE(s.Form.Calibrator()->Calibrated());
  s.SaveAs(s.Dir.filePath("frame.bmp"));
  EXPECT_EQ(s.Files(),
            QStringList({"flat.tif", "frame.bmp", "grid.json", "scan copy.bmp", "scan.bmp"}));
}

// A world file that cannot be written stops the save before the raster is written: the error says
// which, the raster stays modified, and no file changes.
TEST(MainFormMap, AWorldFileThatCannotBeWrittenStopsTheSave) {
  TMapSheet s;
  s.Calibrate();
  QDir(s.Dir.path()).mkdir("flat.prj");
  const QString message = MessageOf([&] { s.SaveAs(s.Dir.filePath("flat.bmp")); });
  EXPECT_TRUE(message.contains("flat.prj")) << message.toStdString();
  EXPECT_TRUE(s.Form.Modified());
  EXPECT_EQ(s.Files(), QStringList({"scan.bmp"}));
}
