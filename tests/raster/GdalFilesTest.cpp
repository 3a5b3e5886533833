#include "GdalFiles.h"
#include "GdalTestFiles.h"
#include "QtPrinters.h"
#include "RasterDraw.h"
#include "RasterManagers.h"
#include "RasterTestUtils.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

constexpr int64_t kTwoParts = 2 * TPartCache::PartUnit;

// Noise over lines: every misplaced pixel shows, and the files compress a little.
TBmpLayout Picture(int bits, int width = 1400, int height = 600) {
  TBmpLayout layout{width, height, bits, {}};
  if (bits == 1) layout.Palette = {0x000000, 0xFFFFFF};
  if (bits == 4) layout.Palette = GreyPalette(16);
  if (bits == 8)
    for (int i = 0; i < 256; ++i) layout.Palette.push_back(NoiseHash(i, 3 * i) & 0xFFFFFF);
  layout.Pixel = [bits](int x, int y) {
    const uint32_t value = x % 97 == 0 || y % 89 == 0 ? 0 : NoiseHash(x, y);
    return bits == 24 ? value & 0xFFFFFF : value & ((1u << bits) - 1);
  };
  layout.XPelsPerMeter = layout.YPelsPerMeter = 11811;
  return layout;
}

std::vector<uint32_t> Colours(TRasterManager& raster) {
  std::vector<uint32_t> colours;
  colours.reserve(static_cast<size_t>(raster.Width()) * raster.Height());
  for (int y = 0; y < raster.Height(); ++y)
    for (int x = 0; x < raster.Width(); ++x) colours.push_back(raster.GetPixel(x, y));
  return colours;
}

QImage Draw(TRasterManager& raster, double zoom) {
  const int w = static_cast<int>(raster.Width() * zoom),
            h = static_cast<int>(raster.Height() * zoom);
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::green);
  TDeviceInfo device;
  device.SetDevice({96, 96}, {0, 0, w, h});
  device.SetClipRect({0, 0, w, h});
  SetCenteredView(device, zoom, {raster.Width() / 2.0, raster.Height() / 2.0});
  TCanvas canvas(image);
  raster.Draw(device, canvas);
  return image;
}

class GdalFiles : public testing::Test {
 protected:
  QString Path(const QString& name) const { return FDir.filePath(name); }
  // Opens a file through a provider of every format, stable or not; with pictures as the window
  // makes them while the parts are read.
  std::unique_ptr<TRasterManager> Open(const QString& name, bool stable = true,
                                       const TRasterOpenOptions& options = {}) {
    auto raster =
        std::make_unique<TRasterManager>(stable ? &FStable : &FUnstable, kTwoParts, FStatus.Info());
    raster->Pictures();
    raster->Open(Path(name), options);
    return raster;
  }
  std::unique_ptr<TRasterFile> OpenFile(const QString& name, const TRasterOpenOptions& o = {}) {
    return OpenRasterFile(&FStable, Path(name), o);
  }
  // The raster of the layout written as a BMP.
  std::unique_ptr<TRasterManager> OpenBmp(const TBmpLayout& layout, const QString& name) {
    WriteFile(Path(name), BmpBytes(layout));
    return Open(name);
  }
  QString Message(const QString& name, const TRasterOpenOptions& options = {}) {
    return MessageOf([&] { Open(name, true, options); });
  }

  QTemporaryDir FDir;
  TAllFormatsProvider FStable{true};
  TAllFormatsProvider FUnstable{false};
  TStatusRecorder FStatus;
};

}  // namespace

TEST_F(GdalFiles, TiffsOfEveryCompressionAndLayoutOpenAndDrawAsTheSamePixelsInBmp) {
  const QStringList compressions = {"NONE", "LZW", "DEFLATE", "PACKBITS"};
  // Strips of 7 rows, one strip for the whole raster, and tiles.
  const QList<QStringList> layouts = {
      {"BLOCKYSIZE=7"}, {"BLOCKYSIZE=600"}, {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=64"}};
  for (const int bits : {1, 8, 24}) {
    const TBmpLayout picture = Picture(bits);
    const auto bmp = OpenBmp(picture, "picture.bmp");
    const std::vector<uint32_t> expected = Colours(*bmp);
    const QImage fitted = Draw(*bmp, 0.25);
    for (const QString& compression : compressions)
      for (const QStringList& layout : layouts) {
        // Deflate through a provider that cannot keep the file as it is, as on a network share.
        const bool stable = compression != "DEFLATE";
        const QString name = QStringLiteral("%1-%2-%3.tif")
                                 .arg(bits)
                                 .arg(compression)
                                 .arg(layout.front().section(u'=', 1));
        const std::string what = name.toStdString() + (stable ? " stable" : " unstable");
        WriteGdalFile(Path(name), "GTiff", picture,
                      QStringList(layout) << "COMPRESS=" + compression);
        const auto raster = Open(name, stable);
        ASSERT_EQ(raster->BitsPerPixel(), bits) << what;
        EXPECT_EQ(raster->XPelsPerMeter(), 11811) << what;
        EXPECT_EQ(Colours(*raster), expected) << what;
        EXPECT_EQ(Draw(*raster, 0.25), fitted) << what;
        EXPECT_EQ(raster->FileFormat().Name, "TIFF");
        EXPECT_EQ(raster->FileFormat().WrittenAs, TRasterFormat::Tiff);
      }
  }
  // JPEG inside TIFF: the pixels GDAL decodes.
  for (const int bits : {8, 24}) {
    WriteGdalFile(Path("jpeg.tif"), "GTiff", Picture(bits), {"COMPRESS=JPEG", "TILED=YES"}, true);
    const auto decoded = OpenBmp(DecodeWithGdal(Path("jpeg.tif")), "decoded.bmp");
    const auto raster = Open("jpeg.tif");
    EXPECT_EQ(Colours(*raster), Colours(*decoded)) << bits;
    EXPECT_EQ(raster->FileFormat().Compression, "JPEG");
  }
}

TEST_F(GdalFiles, FormatsTellTheirCompressionLayoutAndDepth) {
  WriteGdalFile(Path("strips.tif"), "GTiff", Picture(24), {"COMPRESS=LZW", "BLOCKYSIZE=16"});
  TRasterFileFormat format = OpenFile("strips.tif")->Format();
  EXPECT_EQ(format.Name, "TIFF");
  EXPECT_EQ(format.Compression, "LZW");
  EXPECT_EQ(format.Layout, "полосы, строк в полосе: 16");
  EXPECT_EQ(format.Depth, "RGB, 8 бит на канал");
  EXPECT_TRUE(format.Notes.isEmpty());

  WriteGdalFile(Path("tiles.tif"), "GTiff", Picture(8), {"TILED=YES", "COMPRESS=PACKBITS"});
  format = OpenFile("tiles.tif")->Format();
  EXPECT_EQ(format.Compression, "PackBits");
  EXPECT_EQ(format.Layout, "тайлы 256 × 256");
  EXPECT_EQ(format.Depth, "8 бит на пиксель, палитра");

  WriteGdalFile(Path("big.tif"), "GTiff", Picture(1), {"BIGTIFF=YES", "COMPRESS=DEFLATE"});
  format = OpenFile("big.tif")->Format();
  EXPECT_EQ(format.Name, "BigTIFF");
  EXPECT_EQ(format.Compression, "Deflate");
  EXPECT_EQ(format.Depth, "1 бит на пиксель, палитра");

  WriteGdalFile(Path("scan.png"), "PNG", Picture(24));
  format = OpenFile("scan.png")->Format();
  EXPECT_EQ(format.Name, "PNG");
  EXPECT_EQ(format.Layout, "строки");
  EXPECT_FALSE(format.WrittenAs);
}

TEST_F(GdalFiles, SixteenBitSamplesOpenAsEightBitsWithANote) {
  const auto sample = [](int x, int y, int band) {
    return static_cast<uint16_t>(NoiseHash(x + 1000 * band, y) & 0xFFFF);
  };
  const auto scaled = [&](int x, int y, int band) {
    return static_cast<uint32_t>((sample(x, y, band) * 255 + 32767) / 65535);
  };
  const auto twelve = [&](int x, int y) { return static_cast<uint16_t>(sample(x, y, 0) >> 4); };
  WriteGdalSamples(Path("grey.tif"), 700, 300, 1, 16, sample, {"COMPRESS=LZW"});
  WriteGdalSamples(Path("rgb.tif"), 700, 300, 3, 16, sample,
                   {"TILED=YES", "COMPRESS=DEFLATE", "PHOTOMETRIC=RGB"});
  // 12 significant bits: the range is 0 to 4095.
  WriteGdalSamples(Path("twelve.tif"), 700, 300, 1, 16,
                   [&](int x, int y, int) { return twelve(x, y); }, {"NBITS=12"});
  for (const char* name : {"grey.tif", "rgb.tif", "twelve.tif"}) {
    const auto raster = Open(name);
    const bool rgb = raster->BitsPerPixel() == 24;
    EXPECT_EQ(raster->BitsPerPixel(), QString(name) == "rgb.tif" ? 24 : 8) << name;
    for (int y = 0; y < raster->Height(); y += 7)
      for (int x = 0; x < raster->Width(); x += 3) {
        const uint32_t r = QString(name) == "twelve.tif"
                               ? static_cast<uint32_t>((twelve(x, y) * 255 + 2047) / 4095)
                               : scaled(x, y, 0);
        const uint32_t expected =
            rgb ? r | scaled(x, y, 1) << 8 | scaled(x, y, 2) << 16 : r * 0x010101u;
        ASSERT_EQ(raster->GetPixel(x, y), expected) << name << " " << x << ", " << y;
      }
    const QString bits = QString(name) == "twelve.tif" ? "12" : "16";
    EXPECT_EQ(raster->FileFormat().Notes,
              QStringList{bits + (rgb ? " бит на канал прочитаны как 8"
                                      : " бит на пиксель прочитаны как 8")})
        << name;
  }
}

TEST_F(GdalFiles, PngAndJpegOpenAsTheirDecodedPixels) {
  const TBmpLayout palette = Picture(8);
  WriteGdalFile(Path("palette.png"), "PNG", palette);
  WriteGdalFile(Path("rgb.png"), "PNG", Picture(24));
  WriteGdalFile(Path("rgb.jpg"), "JPEG", Picture(24), {"QUALITY=90"});
  WriteGdalFile(Path("grey.jpg"), "JPEG", Picture(8), {}, true);
  for (const char* name : {"palette.png", "rgb.png", "rgb.jpg", "grey.jpg"}) {
    // Through a provider that cannot keep the file as it is, the rows still stay the same.
    const auto raster = Open(name, false);
    const auto decoded = OpenBmp(DecodeWithGdal(Path(name)), "decoded.bmp");
    EXPECT_EQ(Colours(*raster), Colours(*decoded)) << name;
    EXPECT_EQ(Draw(*raster, 0.5), Draw(*decoded, 0.5)) << name;
    // Decoded once into rows of its own, which the calibration reads in place.
    EXPECT_TRUE(raster->Source()->MappedRows()) << name;
  }
  // Transparency is left out, with a note.
  const auto alpha = [](int x, int y, int band) {
    return static_cast<uint16_t>(band == 3 ? 128 : (x * 3 + y * band) & 255);
  };
  WriteGdalSamples(Path("rgba16.tif"), 90, 40, 4, 16, alpha, {"PHOTOMETRIC=RGB", "ALPHA=YES"});
  const auto rgba = Open("rgba16.tif");
  EXPECT_EQ(rgba->BitsPerPixel(), 24);
  EXPECT_EQ(rgba->FileFormat().Notes.last(), "альфа-канал (прозрачность) не учитывается");
  // GDAL gives CMYK in RGB.
  WriteGdalSamples(Path("cmyk.tif"), 90, 40, 4, 8, alpha, {"PHOTOMETRIC=CMYK"});
  const auto cmyk = Open("cmyk.tif");
  EXPECT_EQ(cmyk->FileFormat().Notes, QStringList{"цвета CMYK переведены в RGB"});
  EXPECT_EQ(Colours(*cmyk), Colours(*OpenBmp(DecodeWithGdal(Path("cmyk.tif")), "cmyk.bmp")));
}

TEST_F(GdalFiles, APdfPageIsDrawnAtTheChosenResolution) {
  WriteGdalFile(Path("one.tif"), "GTiff", Picture(24, 300, 200));
  WriteGdalFile(Path("two.tif"), "GTiff", Picture(24, 200, 300));
  WritePdfPages(Path("doc.pdf"), {Path("one.tif"), Path("two.tif")});
  const auto first = Open("doc.pdf", true, {1, 72});
  EXPECT_EQ(first->Width(), 300);
  const auto second = Open("doc.pdf", true, {2, 72});
  EXPECT_EQ(second->Width(), 200);
  EXPECT_EQ(second->Height(), 300);
  EXPECT_EQ(second->XPelsPerMeter(), 2835);
  EXPECT_EQ(second->FileFormat().Layout, "страница 2 из 2, нарисована при 72 точках на дюйм");
  const auto rendered =
      OpenBmp(DecodeWithGdal("PDF:2:" + Path("doc.pdf"), {"DPI=72", "BANDS=3"}), "rendered.bmp");
  EXPECT_EQ(Colours(*second), Colours(*rendered));

  const auto fine = Open("doc.pdf", true, {2, 144});
  EXPECT_EQ(fine->Width(), 400);
  EXPECT_EQ(fine->YPelsPerMeter(), 5669);
  const auto byDefault = Open("doc.pdf");
  EXPECT_EQ(byDefault->Width(), 1250);  // 300 pixels at 72 dpi drawn at 300 dpi
  EXPECT_EQ(Message("doc.pdf", {3, 72}), "Ошибка открытия растрового файла " + Path("doc.pdf") +
                                             ": страницы 3 нет, в документе страниц: 2");
}

TEST_F(GdalFiles, KindsOfPixelsThatCannotBeHeldAreRefusedNamingTheFileAndWhy) {
  const auto sample = [](int x, int y, int band) { return static_cast<uint16_t>(x + y + band); };
  WriteGdalSamples(Path("five.tif"), 20, 10, 5, 16, sample);
  WriteGdalSamples(Path("two.tif"), 20, 10, 2, 8, sample);
  WriteGdalSamples(Path("float.tif"), 20, 10, 1, 32, sample);
  const auto refused = [&](const char* name) {
    return Message(name).remove("Ошибка открытия растрового файла " + Path(name) + ": ");
  };
  EXPECT_EQ(refused("five.tif"),
            "каналов 5, а открываются растры из 1 канала (серый или "
            "палитра) и из 3 (RGB), с альфа-каналом или без");
  EXPECT_EQ(refused("two.tif"),
            "2 канала (Gray и Undefined), а второй канал бывает только альфа-каналом");
  EXPECT_EQ(refused("float.tif"),
            "отсчёты типа Float32 не поддерживаются, только целые без знака по 8 и 16 бит");

  WriteFile(Path("text.tif"), "this is no picture at all");
  EXPECT_EQ(refused("text.tif"), "файл не читается как растр TIFF, PNG, JPEG или PDF");
  WriteFile(Path("empty.png"), "");
  EXPECT_TRUE(refused("empty.png").startsWith("файл не читается как растр"));

  // A file that is cut short is refused where its pixels are missing, and nothing is made of it.
  WriteGdalFile(Path("whole.tif"), "GTiff", Picture(24), {"COMPRESS=DEFLATE"});
  const QByteArray whole = ReadFile(Path("whole.tif"));
  WriteFile(Path("cut.tif"), whole.left(whole.size() / 2));
  const QString message = Message("cut.tif");
  EXPECT_TRUE(message.startsWith("Ошибка ") && message.contains(Path("cut.tif")))
      << message.toStdString();

  // A PNG named .tif is read as what it is.
  WriteGdalFile(Path("png.tif"), "PNG", Picture(8));
  EXPECT_EQ(Open("png.tif")->FileFormat().Name, "PNG");
}

TEST_F(GdalFiles, SavedTiffsHoldThePixelsTheResolutionAndTheColourTable) {
  for (const int bits : {1, 4, 8, 24}) {
    TBmpLayout layout = Picture(bits, 700, 300);
    layout.XPelsPerMeter = 11811;  // 300 dpi
    layout.YPelsPerMeter = 5001;   // no whole number of dots per inch
    const auto raster = OpenBmp(layout, "in.bmp");
    const std::vector<uint32_t> expected = Colours(*raster);
    for (const TTiffCompression compression :
         {TTiffCompression::Deflate, TTiffCompression::Lzw, TTiffCompression::None}) {
      const QString target = Path("out.tif");
      raster->Save(target, {TRasterFormat::Tiff, compression});
      EXPECT_EQ(GdalColours(target), expected) << bits;
      EXPECT_EQ(GdalMetadata(target, "COMPRESSION", "IMAGE_STRUCTURE"),
                compression == TTiffCompression::Deflate ? "DEFLATE"
                : compression == TTiffCompression::Lzw   ? "LZW"
                                                         : "")
          << bits;
      EXPECT_EQ(GdalBlockSize(target), QSize(256, 256));
      EXPECT_EQ(GdalMetadata(target, "TIFFTAG_RESOLUTIONUNIT"), "3 (pixels/cm)");
      EXPECT_EQ(GdalMetadata(target, "TIFFTAG_XRESOLUTION"), "118.11");
      EXPECT_NEAR(GdalMetadata(target, "TIFFTAG_YRESOLUTION").toDouble(), 50.01, 1e-5);
      EXPECT_EQ(raster->FileName(), target);
      EXPECT_EQ(raster->FileFormat().WrittenAs, TRasterFormat::Tiff);
      // Read back by ourselves, the same raster.
      const auto back = Open("out.tif");
      EXPECT_EQ(back->BitsPerPixel(), bits == 4 ? 8 : bits);
      EXPECT_EQ(back->XPelsPerMeter(), 11811);
      EXPECT_EQ(back->YPelsPerMeter(), 5001);
      EXPECT_EQ(Colours(*back), expected);
    }
  }
  // Whole dots per inch are written as such, and greys in order as greys.
  TBmpLayout grey = Picture(8, 300, 200);
  grey.Palette = GreyPalette(256);
  const auto raster = OpenBmp(grey, "grey.bmp");
  raster->Save(Path("grey.tif"), {TRasterFormat::Tiff});
  EXPECT_EQ(GdalMetadata(Path("grey.tif"), "TIFFTAG_RESOLUTIONUNIT"), "2 (pixels/inch)");
  EXPECT_EQ(GdalMetadata(Path("grey.tif"), "TIFFTAG_XRESOLUTION"), "300");
  EXPECT_EQ(OpenFile("grey.tif")->Format().Depth, "8 бит на пиксель, оттенки серого");
  EXPECT_EQ(GdalColours(Path("grey.tif")), Colours(*raster));
}

TEST_F(GdalFiles, SixteenAndThirtyTwoBitRastersAreSavedAsRgb) {
  for (const int bits : {16, 32}) {
    TBmpLayout layout{300, 100, bits, {}};
    layout.Pixel = [](int x, int y) { return NoiseHash(x, y); };
    WriteFile(Path("in.bmp"), BmpBytes(layout));
    const QImage decoded = DecodeOurBmp(ReadFile(Path("in.bmp")));
    const auto raster = Open("in.bmp");
    raster->Save(Path("out.tif"), {TRasterFormat::Tiff});
    const std::vector<uint32_t> colours = GdalColours(Path("out.tif"));
    for (int y = 0; y < layout.Height; ++y)
      for (int x = 0; x < layout.Width; ++x) {
        const QRgb p = decoded.pixel(x, y);
        ASSERT_EQ(colours[static_cast<size_t>(y) * layout.Width + x],
                  static_cast<uint32_t>(qRed(p) | qGreen(p) << 8 | qBlue(p) << 16))
            << bits << ": " << x << ", " << y;
      }
  }
}

TEST_F(GdalFiles, ASaveThatFailsLeavesTheOldFileAndNoTemporaryFile) {
  const auto raster = OpenBmp(Picture(24, 2000, 1500), "in.bmp");
  const QString target = Path("target.tif");
  WriteFile(target, "the user's old file");
  QString message;
  {
    TFileSizeLimit limit(200000);
    message = MessageOf([&] { raster->Save(target, {TRasterFormat::Tiff}); });
  }
  EXPECT_EQ(message, "Ошибка при записи файла " + target + ": файл слишком велик");
  EXPECT_EQ(ReadFile(target), "the user's old file");
  EXPECT_EQ(QDir(Path("")).entryList(QDir::Files), QStringList({"in.bmp", "target.tif"}));

  // An operation stopped at a progress report (as the window's Esc does) leaves the same.
  bool saving = false;
  TStatusInfo stopping([](int) { return QString(); },
                       [&](int slot, const QString& text) {
                         if (saving && slot == TStatusInfo::PercentSlot && text.endsWith('%') &&
                             text.chopped(1).toInt() >= 50)
                           throw Exception("stopped");
                       });
  TRasterManager stopped(&FStable, kTwoParts, &stopping);
  stopped.Open(Path("in.bmp"));
  saving = true;
  EXPECT_EQ(MessageOf([&] { stopped.Save(target, {TRasterFormat::Tiff}); }), "stopped");
  EXPECT_EQ(ReadFile(target), "the user's old file");
  EXPECT_EQ(QDir(Path("")).entryList(QDir::Files), QStringList({"in.bmp", "target.tif"}));
}

TEST_F(GdalFiles, ABigTiffWithItsPixelsPastFourGibibytesOpensDrawsAndSaves) {
  const auto pixel = [](int x, int y) { return NoiseHash(x, y) & 0xFFFFFF; };
  WriteSparseBigTiff(Path("big.tif"), 1500, 700, 256, pixel);
  ASSERT_GT(QFileInfo(Path("big.tif")).size(), int64_t{5} << 30);
  TBmpLayout layout{1500, 700, 24, {}};
  layout.Pixel = pixel;
  const auto bmp = OpenBmp(layout, "same.bmp");
  const auto raster = Open("big.tif");
  EXPECT_EQ(raster->FileFormat().Name, "BigTIFF");
  EXPECT_EQ(raster->FileFormat().Layout, "тайлы 256 × 256");
  EXPECT_EQ(Colours(*raster), Colours(*bmp));
  EXPECT_EQ(Draw(*raster, 0.5), Draw(*bmp, 0.5));
  raster->Save(Path("out.tif"), {TRasterFormat::Tiff});
  EXPECT_EQ(GdalColours(Path("out.tif")), Colours(*bmp));
}

TEST_F(GdalFiles, EveryFileOfTheSeedCorporaOpensAsGdalDecodesIt) {
  const QString data = QStringLiteral(VELMORA_TESTDATA) + "/gdal/";
  int opened = 0;
  for (const QString kind : {"tiff", "png"})
    for (const QString& name : QDir(data + kind).entryList(QDir::Files)) {
      const QString path = data + kind + u'/' + name;
      TRasterManager raster(&FStable, kTwoParts, nullptr);
      raster.Open(path);
      ++opened;
      // Samples of more than 8 bits GDAL would cut rather than scale.
      if (GdalMetadata(path, "NBITS", "IMAGE_STRUCTURE").toInt() > 8 || name.contains("16"))
        continue;
      EXPECT_EQ(Colours(raster), GdalColours(path)) << name.toStdString();
    }
  EXPECT_EQ(opened, 45);
}

TEST_F(GdalFiles, TheResolutionIsReadWhereverTheFileStatesIt) {
  QImage image(60, 40, QImage::Format_RGB32);
  image.fill(Qt::white);
  image.setDotsPerMeterX(11811);  // 300 dots per inch
  image.setDotsPerMeterY(5906);   // 150
  ASSERT_TRUE(image.save(Path("stated.png")));
  ASSERT_TRUE(image.save(Path("stated.jpg")));
  TBmpLayout layout = Picture(8, 60, 40);
  layout.XPelsPerMeter = layout.YPelsPerMeter = 0;
  WriteGdalFile(Path("none.png"), "PNG", layout);
  WriteGdalFile(Path("none.tif"), "GTiff", layout);
  const struct {
    const char* Name;
    int32_t X, Y;
  } files[] = {{"stated.png", 11811, 5906},
               {"stated.jpg", 11811, 5906},
               {"none.png", 0, 0},
               {"none.tif", 0, 0}};
  for (const auto& file : files) {
    const auto raster = Open(file.Name);
    const TBitmapInfoHeader* info = InfoHeaderOf(raster->HeaderData());
    EXPECT_EQ(info->biXPelsPerMeter, file.X) << file.Name;
    EXPECT_EQ(info->biYPelsPerMeter, file.Y) << file.Name;
  }
}
