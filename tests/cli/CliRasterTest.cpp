// velmora-cli info and convert, run as the user runs them.
#include "CliTestUtils.h"
#include "QtPrinters.h"
#include "RasterTestUtils.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kData = QStringLiteral(VELMORA_TESTDATA) + u'/';

class CliCommand : public testing::Test {
 protected:
  QString Path(const QString& name) { return FDir.filePath(name); }
  QTemporaryDir FDir;
};

}  // namespace

TEST_F(CliCommand, InfoPrintsSizeDepthResolutionAndTheHeader) {
  const QString file = kData + "bmpsuite/g/pal8topdown.bmp";
  const TRun run = RunCli({"info", file});
  EXPECT_EQ(run.Status, 0) << run.Err.toStdString();
  EXPECT_EQ(run.Out, "Файл: " + file +
                         "\nФормат: BMP\nСжатие: нет\nРазмещение: строки сверху вниз\n"
                         "Глубина в файле: 8 бит на пиксель\n"
                         "Размер: 127 × 64 пикселей\nБитов на пиксель: 8\n"
                         "Разрешение: 2835 × 2835 точек на метр (72 × 72 точек на дюйм)\n"
                         "biWidth:\t127\nbiHeight:\t-64\nbiPlanes:\t1\nbiBitCount:\t8\n"
                         "biCompression:\t0\nbiSizeImage:\t8192\nbiXPelsPerMeter:\t2835\n"
                         "biYPelsPerMeter:\t2835\nbiClrUsed:\t252\nbiClrImportant:\t0\n");
  EXPECT_EQ(run.Err, "");
}

TEST_F(CliCommand, ErrorsExitWithOneAndUsageErrorsWithTwo) {
  TRun run = RunCli({"info", kData + "bmpsuite/b/badplanes.bmp"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(run.Err.startsWith("velmora-cli info: Ошибка открытия растрового файла "));
  EXPECT_EQ(run.Out, "");
  for (const QStringList& args :
       {QStringList{"info"}, QStringList{"convert", "a"},
        QStringList{"convert", "a", "b", "--cache", "-1"},
        QStringList{"convert", "a", "b", "--ppm", "1"},
        QStringList{"convert", "a", "b", "--ppm", "1", "2", "--dpi", "3", "4"},
        QStringList{"info", "a", "--dpi", "1", "1"}, QStringList{"frobnicate"}}) {
    run = RunCli(args);
    EXPECT_EQ(run.Status, 2) << args.join(' ').toStdString();
  }
  run = RunCli({"convert", "--help"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_TRUE(run.Out.contains("--dpi X Y"));
}

TEST_F(CliCommand, ConvertWritesTheRasterAndTheResolutionAsked) {
  const QString source = kData + "bmpsuite/g/pal8.bmp";
  TRun run = RunCli({"convert", source, Path("out.bmp"), "--cache", "1"});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  EXPECT_EQ(run.Out + run.Err, "");  // no terminal, no --progress: silent
  EXPECT_EQ(ReadFile(Path("out.bmp")), ReadFile(source));

  run = RunCli({"convert", source, Path("out.bmp"), "--dpi", "300", "150.5"});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  QByteArray saved = ReadFile(Path("out.bmp"));
  EXPECT_EQ(FileLe32(saved, 38), 11811u);
  EXPECT_EQ(FileLe32(saved, 42), 5925u);
  EXPECT_EQ(saved.mid(54), ReadFile(source).mid(54));

  ASSERT_EQ(RunCli({"convert", source, Path("out.bmp"), "--ppm", "1000", "0"}).Status, 0);
  saved = ReadFile(Path("out.bmp"));
  EXPECT_EQ(FileLe32(saved, 38), 1000u);
  EXPECT_EQ(FileLe32(saved, 42), 0u);
}

TEST_F(CliCommand, AFailedConvertCreatesAndChangesNoFile) {
  const QString target = Path("out.bmp");
  TRun run = RunCli({"convert", kData + "bmpsuite/b/shortfile.bmp", target});
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(run.Err.contains("в файле не хватает данных растра"));
  EXPECT_FALSE(QFile::exists(target));
  WriteFile(target, "keep me");
  EXPECT_EQ(RunCli({"convert", kData + "bmpsuite/g/pal8rle.bmp", target}).Status, 1);
  EXPECT_EQ(RunCli({"convert", Path("missing.bmp"), target}).Status, 1);
  EXPECT_EQ(ReadFile(target), "keep me");
  EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files), QStringList({"out.bmp"}));
}

TEST_F(CliCommand, ProgressGoesToStandardErrorWhenAskedForAndQuietSilencesIt) {
  const QString source = kData + "bmpsuite/g/rgb24.bmp";
  TRun run = RunCli({"convert", source, Path("out.bmp"), "--progress"});
  ASSERT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "");
  const QStringList lines = run.Err.split('\n', Qt::SkipEmptyParts);
  EXPECT_EQ(lines.front(), "Считывание растра... 0%");
  EXPECT_EQ(lines.back(), "Сохранение растра... 100%");
  run = RunCli({"convert", source, Path("out.bmp"), "--progress", "--quiet"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out + run.Err, "");
}

// What another program makes of our output and of the original must be the same picture.
TEST_F(CliCommand, ImageMagickAndPillowReadTheConvertedFilesAsTheOriginals) {
  const QStringList sources = {"bmpsuite/g/pal1.bmp",     "bmpsuite/g/pal4.bmp",
                               "bmpsuite/g/pal8.bmp",     "bmpsuite/g/pal8topdown.bmp",
                               "bmpsuite/g/pal8os2.bmp",  "bmpsuite/g/pal8v5.bmp",
                               "bmpsuite/g/pal8w125.bmp", "bmpsuite/g/rgb16-565.bmp",
                               "bmpsuite/g/rgb24.bmp",    "bmpsuite/g/rgb32bfdef.bmp"};
  const QString pillow = QStringLiteral(
      "import sys\nfrom PIL import Image\n"
      "for a, b in zip(sys.argv[1::2], sys.argv[2::2]):\n"
      "    Image.open(a).convert('RGB').save(b)\n");
  for (const QString& source : sources) {
    const QString ours = Path("ours.bmp");
    ASSERT_EQ(RunCli({"convert", kData + source, ours}).Status, 0) << source.toStdString();
    for (const QString tool : {"magick", "pillow"}) {
      const QStringList pngs = {Path("original.png"), Path("ours.png")};
      for (const QString& png : pngs) QFile::remove(png);
      const TRun run = tool == "magick"
                           ? RunProgram("/usr/bin/convert", {kData + source, pngs[0]})
                           : RunProgram("/usr/bin/python3",
                                        {"-c", pillow, kData + source, pngs[0], ours, pngs[1]});
      ASSERT_EQ(run.Status, 0) << tool.toStdString() << ": " << run.Err.toStdString();
      if (tool == "magick") {
        ASSERT_EQ(RunProgram("/usr/bin/convert", {ours, pngs[1]}).Status, 0);
      }
      // Pixels only: a tool may tag its PNG with a colour space taken from the header.
      const QImage a = QImage(pngs[0]).convertToFormat(QImage::Format_RGB32);
      const QImage b = QImage(pngs[1]).convertToFormat(QImage::Format_RGB32);
      ASSERT_FALSE(a.isNull());
      ASSERT_EQ(a.size(), b.size());
      int differences = 0;
      for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) differences += a.pixel(x, y) != b.pixel(x, y);
      EXPECT_EQ(differences, 0) << tool.toStdString() << " " << source.toStdString();
    }
  }
}

TEST_F(CliCommand, RenderDrawsTheRasterOneToOneWithItsBorder) {
  const QString source = kData + "bmpsuite/g/pal8topdown.bmp";
  const TRun run = RunCli({"render", source, Path("out.png")});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  const QImage image = QImage(Path("out.png")).convertToFormat(QImage::Format_RGB32);
  const QImage reference =
      QImage(kData + "bmpsuite/html/pal8.png").convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(image.size(), QSize(127, 64));
  // The border runs along the raster's edges: over its first column and row, and just outside
  // the others.
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 127; ++x)
      EXPECT_EQ(image.pixel(x, y), x == 0 || y == 0 ? qRgb(0, 0, 255) : reference.pixel(x, y))
          << x << ", " << y;
}

TEST_F(CliCommand, RenderZoomedOutKeepsAThinGridLineVisibleAsGrey) {
  TBmpLayout layout{800, 800, 8, {0xFFFFFF, 0x000000}};
  layout.Pixel = [](int x, int y) { return x == 403 || y == 205 ? 1u : 0u; };
  WriteFile(Path("grid.bmp"), BmpBytes(layout));
  const TRun run = RunCli({"render", Path("grid.bmp"), Path("out.png"), "--zoom", "0.125"});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  const QImage image(Path("out.png"));
  ASSERT_EQ(image.size(), QSize(100, 100));
  // Sampling the middle of each 8 × 8 box would miss column 403 and row 205 altogether.
  for (int i = 1; i < 100; ++i) {
    if (i == 25 || i == 50) continue;
    EXPECT_NEAR(qGray(image.pixel(50, i)), 223, 1) << i;
    EXPECT_NEAR(qGray(image.pixel(i, 25)), 223, 1) << i;
    EXPECT_EQ(image.pixel(i, 60), qRgb(255, 255, 255)) << i;
  }
}

TEST_F(CliCommand, RenderShowsTheCentreAskedForInThePictureAskedFor) {
  TBmpLayout layout{40, 30, 24, {}};
  layout.Pixel = [](int x, int y) { return static_cast<uint32_t>(x * 5 + (y * 7 << 8)); };
  WriteFile(Path("r.bmp"), BmpBytes(layout));
  const TRun run = RunCli({"render", Path("r.bmp"), Path("out.png"), "--zoom", "4", "--center",
                           "10.5", "20.5", "--size", "6", "6", "--cache", "1"});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  const QImage image(Path("out.png"));
  ASSERT_EQ(image.size(), QSize(6, 6));
  // Raster pixel (10, 20) fills the middle 4 × 4 pixels; its neighbours border it.
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) {
      const int rx = x == 0 ? 9 : x == 5 ? 11 : 10;
      const int ry = y == 0 ? 19 : y == 5 ? 21 : 20;
      EXPECT_EQ(image.pixel(x, y), qRgb(rx * 5, ry * 7, 0)) << x << ", " << y;
    }
}

TEST_F(CliCommand, RenderRefusesWrongViewsAndWritesNothingOnError) {
  const QString source = kData + "bmpsuite/g/pal8.bmp";
  for (const QStringList& view :
       {QStringList{"--zoom", "0"}, QStringList{"--zoom", "x"}, QStringList{"--zoom"},
        QStringList{"--center", "1"}, QStringList{"--size", "1.5", "2"},
        QStringList{"--size", "0", "2"}, QStringList{"--dpi", "1", "1"}})
    EXPECT_EQ(RunCli(QStringList{"render", source, Path("out.png")} + view).Status, 2)
        << view.join(' ').toStdString();
  EXPECT_EQ(RunCli({"render", source}).Status, 2);
  TRun run = RunCli({"render", source, Path("out.png"), "--zoom", "9000"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(run.Err.contains("слишком велика")) << run.Err.toStdString();
  run = RunCli({"render", Path("missing.bmp"), Path("out.png")});
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(QDir(FDir.path()).entryList(QDir::Files).isEmpty());
  run = RunCli({"render", source, FDir.filePath("no/such/folder/out.png")});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "velmora-cli render: Не удаётся создать файл " +
                         FDir.filePath("no/such/folder/out.png") +
                         ": нет такого файла или папки\n");
}
