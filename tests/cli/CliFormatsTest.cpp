// velmora-cli with the formats beside BMP: TIFF, PNG, JPEG and PDF pages in, TIFF out.
#include "CliTestUtils.h"
#include "GdalTestFiles.h"
#include "QtPrinters.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Lines every 100 pixels over light noise, as a scan shows them.
TBmpLayout Scan(int width, int height) {
  TBmpLayout layout{width, height, 24, {}};
  layout.Pixel = [](int x, int y) {
    if (x % 100 < 2 || y % 100 < 2) return 0x202020u;
    return 0xE0E0E0u + (NoiseHash(x, y) & 0x0F0F0F);
  };
  layout.XPelsPerMeter = layout.YPelsPerMeter = 11811;
  return layout;
}

QStringList Lines(const QString& text) {
  return text.split(u'\n', Qt::SkipEmptyParts);
}

class CliFormats : public testing::Test {
 protected:
  QString Path(const QString& name) const { return FDir.filePath(name); }
  QStringList Files() const { return QDir(FDir.path()).entryList(QDir::Files); }
  // A grid of 3 × 2 cells of 100 pixels whose inner nodes are moved.
  QString Grid() {
    QJsonArray nodes;
    for (const auto& [i, j, dx, dy] : {std::tuple{1, 1, 7, -5}, {2, 1, -6, 4}})
      nodes.append(
          QJsonObject{{"i", i}, {"j", j}, {"x", 100 + 100 * i + dx}, {"y", 100 + 100 * j + dy}});
    const QJsonObject grid{{"cells", QJsonArray{3, 2}},
                           {"origin", QJsonArray{100, 100}},
                           {"step", QJsonArray{100, 100}},
                           {"nodes", nodes}};
    WriteFile(Path("grid.json"), QJsonDocument(grid).toJson());
    return Path("grid.json");
  }

  QTemporaryDir FDir;
};

}  // namespace

TEST_F(CliFormats, InfoTellsTheFormatCompressionLayoutAndDepth) {
  WriteGdalSamples(Path("grey.tif"), 600, 400, 1, 16,
                   [](int x, int y, int) { return uint16_t(x * y); },
                   {"COMPRESS=LZW", "TILED=YES"});
  TRun run = RunCli({"info", Path("grey.tif")});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  const QStringList lines = Lines(run.Out);
  for (const char* line :
       {"Формат: TIFF", "Сжатие: LZW", "Размещение: тайлы 256 × 256",
        "Глубина в файле: 16 бит на пиксель, оттенки серого", "Размер: 600 × 400 пикселей",
        "Битов на пиксель: 8", "Примечание: 16 бит на пиксель прочитаны как 8"})
    EXPECT_TRUE(lines.contains(line)) << line << "\n" << run.Out.toStdString();

  WriteGdalFile(Path("one.tif"), "GTiff", Scan(300, 200));
  WriteGdalFile(Path("two.tif"), "GTiff", Scan(200, 300));
  WritePdfPages(Path("doc.pdf"), {Path("one.tif"), Path("two.tif")});
  run = RunCli({"info", Path("doc.pdf"), "--page", "2", "--page-dpi", "150"});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  for (const char* line :
       {"Формат: PDF", "Размещение: страница 2 из 2, нарисована при 150 точках на дюйм",
        "Размер: 417 × 625 пикселей",
        "Разрешение: 5906 × 5906 точек на метр (150 × 150 точек на дюйм)",
        "Примечание: этот формат только читается, растр сохраняется в BMP или TIFF"})
    EXPECT_TRUE(Lines(run.Out).contains(line)) << line << "\n" << run.Out.toStdString();
  run = RunCli({"info", Path("doc.pdf"), "--page", "3"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "velmora-cli info: Ошибка открытия растрового файла " + Path("doc.pdf") +
                         ": страницы 3 нет, в документе страниц: 2\n");
}

TEST_F(CliFormats, TheOutputsExtensionChoosesBmpOrTiffAndTheCompression) {
  // A PNG as image editors write them, with its resolution.
  QImage png(700, 500, QImage::Format_RGB32);
  for (int y = 0; y < png.height(); ++y)
    for (int x = 0; x < png.width(); ++x) png.setPixel(x, y, NoiseHash(x, y) | 0xFF000000u);
  png.setDotsPerMeterX(11811);
  png.setDotsPerMeterY(11811);
  ASSERT_TRUE(png.save(Path("scan.png")));
  const std::vector<uint32_t> colours = GdalColours(Path("scan.png"));
  const struct {
    QString Name;
    QStringList Options;
    QString Compression;  // as GDAL names it
  } outputs[] = {{"out.tif", {}, "DEFLATE"},
                 {"out.tiff", {"--compress", "lzw"}, "LZW"},
                 {"OUT.TIF", {"--compress", "none"}, ""},
                 {"out2.tif", {"--compress", "deflate"}, "DEFLATE"}};
  for (const auto& output : outputs) {
    const TRun run =
        RunCli(QStringList{"convert", Path("scan.png"), Path(output.Name)} + output.Options);
    ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
    EXPECT_EQ(GdalColours(Path(output.Name)), colours) << output.Name.toStdString();
    EXPECT_EQ(GdalMetadata(Path(output.Name), "COMPRESSION", "IMAGE_STRUCTURE"),
              output.Compression);
    EXPECT_EQ(GdalBlockSize(Path(output.Name)), QSize(256, 256));
    EXPECT_EQ(GdalMetadata(Path(output.Name), "TIFFTAG_XRESOLUTION"), "300");
  }
  ASSERT_EQ(RunCli({"convert", Path("scan.png"), Path("out.bmp")}).Status, 0);
  EXPECT_TRUE(ReadFile(Path("out.bmp")).startsWith("BM"));
  EXPECT_EQ(GdalColours(Path("out.bmp")), colours);

  const QStringList before = Files();
  for (const QStringList& args :
       {QStringList{"convert", Path("scan.png"), Path("out.png")},
        QStringList{"convert", Path("scan.png"), Path("out.jpg")},
        QStringList{"convert", Path("scan.png"), Path("out")},
        QStringList{"convert", Path("scan.png"), Path("x.bmp"), "--compress", "lzw"},
        QStringList{"convert", Path("scan.png"), Path("x.tif"), "--compress", "zip"},
        QStringList{"convert", Path("scan.png"), Path("x.tif"), "--page", "0"},
        QStringList{"convert", Path("scan.png"), Path("x.tif"), "--page-dpi", "0"},
        QStringList{"info", Path("scan.png"), "--compress", "lzw"}}) {
    const TRun run = RunCli(args);
    EXPECT_EQ(run.Status, 2) << args.join(' ').toStdString();
  }
  EXPECT_EQ(RunCli({"convert", Path("scan.png"), Path("out.png")}).Err.section(u'\n', 0, 0),
            "velmora-cli convert: результат " + Path("out.png") +
                ": растр записывается в BMP (.bmp) или TIFF (.tif, .tiff), формат выбирается по "
                "расширению");
  EXPECT_EQ(Files(), before);
}

TEST_F(CliFormats, CalibrationFromAndIntoTiffGivesThePixelsOfBmp) {
  const TBmpLayout scan = Scan(500, 400);
  WriteFile(Path("scan.bmp"), BmpBytes(scan));
  WriteGdalFile(Path("scan.tif"), "GTiff", scan, {"COMPRESS=LZW"});
  const QString grid = Grid();
  TRun run = RunCli({"calibrate", Path("scan.bmp"), Path("flat.bmp"), "--grid", grid});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  run = RunCli({"calibrate", Path("scan.tif"), Path("flat.tif"), "--grid", grid, "--clip"});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  run = RunCli({"calibrate", Path("scan.bmp"), Path("clip.bmp"), "--grid", grid, "--clip"});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  EXPECT_EQ(GdalColours(Path("flat.tif")), GdalColours(Path("clip.bmp")));
  // A TIFF may be calibrated in place: it has been read whole before it is replaced.
  run = RunCli({"calibrate", Path("scan.tif"), Path("scan.tif"), "--grid", grid});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  EXPECT_EQ(GdalColours(Path("scan.tif")), GdalColours(Path("flat.bmp")));
}

TEST_F(CliFormats, FilesThatCannotBeReadAreRefusedInRussianNamingTheFile) {
  WriteFile(Path("scan.gif"), "GIF89a");
  TRun run = RunCli({"convert", Path("scan.gif"), Path("out.tif")});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err,
            "velmora-cli convert: Ошибка открытия растрового файла: не найден фильтр для "
            "работы с файлом " +
                Path("scan.gif") +
                "; открываются файлы *.bmp; *.tif; *.tiff; *.png; *.jpg; *.jpeg; *.pdf\n");
  WriteGdalSamples(Path("five.tif"), 30, 20, 5, 8, [](int, int, int) { return uint16_t(1); });
  run = RunCli({"info", Path("five.tif")});
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(run.Err.startsWith("velmora-cli info: Ошибка открытия растрового файла " +
                                 Path("five.tif") + ": каналов 5"))
      << run.Err.toStdString();
  WriteGdalFile(Path("whole.tif"), "GTiff", Scan(400, 300), {"COMPRESS=DEFLATE"});
  const QByteArray whole = ReadFile(Path("whole.tif"));
  WriteFile(Path("cut.tif"), whole.left(whole.size() * 2 / 3));
  run = RunCli({"convert", Path("cut.tif"), Path("out.tif")});
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(run.Err.startsWith("velmora-cli convert: Ошибка чтения растрового файла " +
                                 Path("cut.tif") + ": файл повреждён"))
      << run.Err.toStdString();
  EXPECT_EQ(Files(), QStringList({"cut.tif", "five.tif", "scan.gif", "whole.tif"}));
}

TEST_F(CliFormats, ALargeLzwTiffCalibratesIntoATiffWithinTheMemoryBound) {
  if (Sanitized()) GTEST_SKIP() << "the sanitizer's shadow memory is no measure of ours";
  // 4800 × 3600 pixels of 24 bits, 52 MB, ten times the cache: made by the program, so that this
  // process stays small (a child started from it counts its memory as the child's own).
  WriteSparseBmp(Path("scan.bmp"), TBmpLayout{4800, 3600, 24, {}});
  TRun run = RunCli({"convert", Path("scan.bmp"), Path("scan.tif"), "--compress", "lzw"});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  const int64_t peak =
      PeakMemoryOfCli({"calibrate", Path("scan.tif"), Path("flat.tif"), "--grid", Grid()}, run);
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  // The cache of 5120 KB and 64 MB, as for a BMP; GDAL's block cache of 4 MB; and its libraries:
  // a program that does nothing but load them holds 35 MB resident.
  const int64_t bound = (int64_t{5120} << 10) + (int64_t{64 + 4 + 35} << 20);
  EXPECT_LT(peak, bound) << peak / (1 << 20) << " MB";
}
