// The BMP Suite and the BMP files of other libraries' tests: what a BMP reader meets in the wild.
#include "QtPrinters.h"
#include "RasterDraw.h"
#include "RasterManagers.h"
#include "RasterTestUtils.h"

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

namespace {

const QString kData = QStringLiteral(VELMORA_TESTDATA) + u'/';

// Files of the suite that open and convert. The suite's index names the picture each shows; the
// bad ones in scope are its 1-bit picture with one header field broken.
const QStringList kInScope = {
    // Every uncompressed depth and header of the good set.
    "bmpsuite/g/pal1.bmp", "bmpsuite/g/pal1bg.bmp", "bmpsuite/g/pal1wb.bmp", "bmpsuite/g/pal4.bmp",
    "bmpsuite/g/pal4gs.bmp", "bmpsuite/g/pal8-0.bmp", "bmpsuite/g/pal8.bmp",
    "bmpsuite/g/pal8gs.bmp", "bmpsuite/g/pal8nonsquare.bmp", "bmpsuite/g/pal8os2.bmp",
    "bmpsuite/g/pal8topdown.bmp", "bmpsuite/g/pal8v4.bmp", "bmpsuite/g/pal8v5.bmp",
    "bmpsuite/g/pal8w124.bmp", "bmpsuite/g/pal8w125.bmp", "bmpsuite/g/pal8w126.bmp",
    "bmpsuite/g/rgb16-565.bmp", "bmpsuite/g/rgb16-565pal.bmp", "bmpsuite/g/rgb16.bmp",
    "bmpsuite/g/rgb16bfdef.bmp", "bmpsuite/g/rgb24.bmp", "bmpsuite/g/rgb24pal.bmp",
    "bmpsuite/g/rgb32.bmp", "bmpsuite/g/rgb32bf.bmp", "bmpsuite/g/rgb32bfdef.bmp",
    // OS/2 and V2 to V5 headers, short and large palettes, unusual offsets and bit fields. The
    // raster has no transparency: colours are compared wherever the reference shows any.
    "bmpsuite/q/pal1p1.bmp", "bmpsuite/q/pal8offs.bmp", "bmpsuite/q/pal8os2-hs.bmp",
    "bmpsuite/q/pal8os2-sz.bmp", "bmpsuite/q/pal8os2sp.bmp", "bmpsuite/q/pal8os2v2-16.bmp",
    "bmpsuite/q/pal8os2v2-40sz.bmp", "bmpsuite/q/pal8os2v2-sz.bmp", "bmpsuite/q/pal8os2v2.bmp",
    "bmpsuite/q/pal8oversizepal.bmp", "bmpsuite/q/rgb16-231.bmp", "bmpsuite/q/rgb16-3103.bmp",
    "bmpsuite/q/rgb16faketrns.bmp", "bmpsuite/q/rgb24largepal.bmp", "bmpsuite/q/rgb24lprof.bmp",
    "bmpsuite/q/rgb24prof.bmp", "bmpsuite/q/rgb32-111110.bmp", "bmpsuite/q/rgb32-7187.bmp",
    "bmpsuite/q/rgb32-xbgr.bmp", "bmpsuite/q/rgb32fakealpha.bmp", "bmpsuite/q/rgb32h52.bmp",
    "bmpsuite/q/rgba16-1924.bmp", "bmpsuite/q/rgba16-4444.bmp", "bmpsuite/q/rgba16-5551.bmp",
    "bmpsuite/q/rgba32-1.bmp", "bmpsuite/q/rgba32-1010102.bmp", "bmpsuite/q/rgba32-2.bmp",
    "bmpsuite/q/rgba32-61754.bmp", "bmpsuite/q/rgba32-81284.bmp", "bmpsuite/q/rgba32abf.bmp",
    "bmpsuite/q/rgba32h56.bmp",
    // Bad ones the suite's notes allow to open, and ones wrong only in bfSize or biSizeImage,
    // fields that reading does not need.
    "bmpsuite/b/baddens1.bmp", "bmpsuite/b/baddens2.bmp", "bmpsuite/b/rgb16-880.bmp",
    "bmpsuite/b/badbitssize.bmp", "bmpsuite/b/badfilesize.bmp"};

// Files of the suite's good and questionable sets that are refused, and why.
const std::map<QString, QString> kLeftOut = {
    {"bmpsuite/g/pal4rle.bmp", "RLE4 compression"},
    {"bmpsuite/g/pal8rle.bmp", "RLE8 compression"},
    {"bmpsuite/q/pal1huffmsb.bmp", "Huffman 1D compression"},
    {"bmpsuite/q/pal2.bmp", "2 bits per pixel, a Windows CE depth nothing can draw here"},
    {"bmpsuite/q/pal2color.bmp", "2 bits per pixel"},
    {"bmpsuite/q/pal4rlecut.bmp", "RLE4 compression"},
    {"bmpsuite/q/pal4rletrns.bmp", "RLE4 compression"},
    {"bmpsuite/q/pal8rlecut.bmp", "RLE8 compression"},
    {"bmpsuite/q/pal8rletrns.bmp", "RLE8 compression"},
    {"bmpsuite/q/rgb24jpeg.bmp", "an embedded JPEG"},
    {"bmpsuite/q/rgb24prof2.bmp", "its colours are right only through its colour profile"},
    {"bmpsuite/q/rgb24png.bmp", "an embedded PNG"},
    {"bmpsuite/q/rgb24rle24.bmp", "RLE24 compression"},
    {"bmpsuite/q/rgba64.bmp", "64 bits per pixel"},
};

// Opens without a reference picture: pixels are kept as they are stored.
const QString kBadIndices = "bmpsuite/b/pal8badindex.bmp";

const QString kImageRs = "other/image-rs_image/tests/";
const QString kPillow = "other/python-pillow_Pillow/Tests/images/";
const QString kCppLoader = "other/schmouk_CppBMPLoader/images/";

// Readable files of other libraries without a reference picture of their own: what Qt's reader
// makes of the original. (hopper.bmp was made from hopper.png.)
const std::map<QString, QString> kOthers = {
    {kPillow + "hopper.bmp", kPillow + "hopper.png"},
    {kPillow + "hopper_emboss.bmp", ""},
    {kPillow + "rgb32bf-abgr.bmp", ""},
    {kPillow + "rgb32bf-rgba.bmp", ""},
    {kPillow + "eps/1.bmp", ""},
    {kImageRs + "images/bmp/images/lenient/V5_A8_R8_G8_B8_Rgb_BadMask.bmp", ""},
};

// Every refused file of other/ (and the suite's bitmap array).
const QStringList kOtherBad = {
    kImageRs + "bad/bmp/Bad_clrsUsed.bmp",
    kImageRs + "bad/bmp/Bad_height.bmp",
    kImageRs + "bad/bmp/Bad_unusual_extend_buffer_usage.bmp",
    kImageRs + "bad/bmp/Bad_width.bmp",
    kImageRs + "images/bmp/images/imagemagick_invalid_run_length_issue_2321.bmp",
    kImageRs + "images/bmp/images/lenient/rle_overflow.bmp",
    kPillow + "hopper_rle8.bmp",
    kPillow + "hopper_rle8_grayscale.bmp",
    kPillow + "hopper_rle8_row_overflow.bmp",
    kPillow + "l2rgb_read.bmp",
    kPillow + "mmap_error.bmp",
    kCppLoader + "v1/2.bmp",
    kCppLoader + "v1/16.bmp",
    kCppLoader + "v1/256.bmp",
    kCppLoader + "B1994/BUTTERFL.BMP",
    "bmpsuite/x/ba-bm.bmp"};

// Not raster files by their names: no format is found for them.
const QStringList kOtherNotBmp = {kImageRs + "assets/bmp/windows_dibv5_dump.bin",
                                  kPillow + "clipboard.dib"};

// The picture the suite's index gives for a file: the editor's one ("-e") where there are two.
QString SuiteReference(const QString& file) {
  static std::map<QString, QString> references = [] {
    std::map<QString, QString> map;
    for (const QByteArray& line : ReadFile(kData + "bmpsuite/INDEX.tsv").split('\n')) {
      const QList<QByteArray> fields = line.split('\t');
      if (fields.size() < 12) continue;
      QString reference;
      for (const QByteArray& png : fields[11].split(','))
        if (reference.isEmpty() || png.endsWith("-e.png")) reference = QString::fromUtf8(png);
      map[QString::fromUtf8(fields[0])] = reference;
    }
    return map;
  }();
  const QString reference = references[file];
  return reference.endsWith(".png") ? reference : "bmpsuite/html/pal1.png";
}

QStringList FilesIn(const QString& folder) {
  QStringList files;
  for (const QString& name : QDir(kData + folder).entryList(QDir::Files))
    files << folder + u'/' + name;
  return files;
}

// Opens through the raster manager with a budget of one part, so that the swap file is used,
// and saves, as velmora-cli convert does. Returns the saved file's bytes.
QByteArray Convert(const QString& source, const QString& target) {
  TBmpProvider provider;
  TRasterManager raster(&provider, 1, nullptr);
  raster.Open(kData + source);
  raster.Save(target);
  return ReadFile(target);
}

// Counts the pixels whose colour differs by more than the tolerance in a channel where the
// reference shows a colour; -1 for another size.
int Differences(const QImage& ours, const QImage& reference, int tolerance = 0) {
  if (ours.size() != reference.size()) return -1;
  const QImage a = ours.convertToFormat(QImage::Format_ARGB32);
  const QImage b = reference.convertToFormat(QImage::Format_ARGB32);
  int differences = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y);
      const QRgb q = b.pixel(x, y);
      if (qAlpha(q) != 0 &&
          (std::abs(qRed(p) - qRed(q)) > tolerance || std::abs(qGreen(p) - qGreen(q)) > tolerance ||
           std::abs(qBlue(p) - qBlue(q)) > tolerance))
        ++differences;
    }
  return differences;
}

class BmpSuite : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(QDir(kData + "bmpsuite").exists()) << kData.toStdString(); }
  QTemporaryDir FDir;
};

}  // namespace

TEST_F(BmpSuite, EveryGoodAndQuestionableFileIsInScopeOrLeftOutForAReason) {
  for (const QString& file : FilesIn("bmpsuite/g") + FilesIn("bmpsuite/q"))
    EXPECT_TRUE(kInScope.count(file) + kLeftOut.count(file) == 1) << file.toStdString();
}

TEST_F(BmpSuite, FilesInScopeConvertToTheReferencePicture) {
  for (const QString& source : kInScope) {
    const QString reference = SuiteReference(source);
    const QByteArray saved = Convert(source, FDir.filePath("out.bmp"));
    const QImage ours = DecodeOurBmp(saved);
    ASSERT_FALSE(ours.isNull()) << source.toStdString();
    // The 11-bit red of rgb32-111110 holds 1690 where the reference shows 210; exact scaling
    // reads 211.
    const int tolerance = source.endsWith("rgb32-111110.bmp") ? 1 : 0;
    EXPECT_EQ(Differences(ours, QImage(kData + reference), tolerance), 0) << source.toStdString();
  }
}

TEST_F(BmpSuite, FilesInScopeDrawAsTheReferencePicture) {
  for (const QString& source : kInScope) {
    TBmpProvider provider;
    TRasterManager raster(&provider, 1, nullptr);
    raster.Open(kData + source);
    QImage image(raster.Width(), raster.Height(), QImage::Format_RGB32);
    TDeviceInfo device;
    device.SetDevice({96, 96}, {0, 0, raster.Width(), raster.Height()});
    device.SetClipRect(device.DeviceRect());
    SetCenteredView(device, 1, {raster.Width() / 2.0, raster.Height() / 2.0});
    {
      TCanvas canvas(image);
      raster.Draw(device, canvas);
    }
    const int tolerance = source.endsWith("rgb32-111110.bmp") ? 1 : 0;
    EXPECT_EQ(Differences(image, QImage(kData + SuiteReference(source)), tolerance), 0)
        << source.toStdString();
  }
}

TEST_F(BmpSuite, OtherLibrariesFilesConvertToTheirReferences) {
  std::map<QString, QString> files = kOthers;
  QDirIterator it(kData + kImageRs + "reference/bmp/images", {"*.png"}, QDir::Files);
  while (it.hasNext()) {
    const QString reference = it.next().mid(kData.size());
    QString source = reference;
    source.replace("/reference/", "/images/").chop(4);  // "X.bmp.png" is the picture of "X.bmp"
    files[source] = reference;
  }
  ASSERT_GT(files.size(), 30u);
  for (const auto& [source, reference] : files) {
    const QByteArray saved = Convert(source, FDir.filePath("out.bmp"));
    const QImage expected = QImage(kData + (reference.isEmpty() ? source : reference));
    ASSERT_FALSE(expected.isNull()) << source.toStdString();
    EXPECT_EQ(Differences(DecodeOurBmp(saved), expected), 0) << source.toStdString();
  }
}

TEST_F(BmpSuite, IndicesBeyondThePaletteReadAsBlackAndAreKept) {
  const QString source = kBadIndices;
  TBmpProvider provider;
  TRasterManager raster(&provider, 1, nullptr);
  raster.Open(kData + source);
  ASSERT_EQ(raster.Palette().Count(), 101);
  int beyond = 0;
  for (int y = 0; y < raster.Height(); ++y)
    for (int x = 0; x < raster.Width(); ++x) {
      const uint8_t index = *(raster.PartAt(x, y)->GetRow(y) + x);
      if (index >= 101) {
        ++beyond;
        EXPECT_EQ(raster.GetPixel(x, y), 0u);
      }
    }
  EXPECT_GT(beyond, 100);
  const QByteArray original = ReadFile(kData + source);
  const QByteArray saved = Convert(source, FDir.filePath("out.bmp"));
  EXPECT_EQ(saved.mid(FileLe32(saved, 10)), original.mid(FileLe32(original, 10)));
}

TEST_F(BmpSuite, BadFilesAreRefusedNamingTheFileAndTheReason) {
  QStringList bad = kOtherBad;
  for (const QString& file : FilesIn("bmpsuite/b"))
    if (!kInScope.contains(file) && file != kBadIndices) bad << file;
  ASSERT_EQ(bad.size(), 14 + kOtherBad.size());
  for (const QString& file : bad) {
    const QString target = FDir.filePath("out.bmp");
    const QString message = MessageOf([&] { Convert(file, target); });
    EXPECT_TRUE(message.startsWith("Ошибка открытия растрового файла " + kData + file + ": "))
        << file.toStdString() << ": " << message.toStdString();
    EXPECT_FALSE(QFile::exists(target));
  }
  for (const QString& file : kOtherNotBmp)
    EXPECT_TRUE(MessageOf([&] {
                  Convert(file, FDir.filePath("out.bmp"));
                }).contains("не найден фильтр для работы с файлом " + kData + file));
}

TEST_F(BmpSuite, CompressionsAreRefusedAsNotSupported) {
  for (const char* file : {"bmpsuite/g/pal8rle.bmp", "bmpsuite/b/badrle4.bmp",
                           "bmpsuite/q/rgb24jpeg.bmp", "bmpsuite/q/pal1huffmsb.bmp"})
    EXPECT_TRUE(
        MessageOf([&] { Convert(file, FDir.filePath("out.bmp")); }).endsWith("не поддерживается"))
        << file;
}
