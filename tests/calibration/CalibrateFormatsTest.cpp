// The calibration of a raster read from a TIFF, a PNG, a JPEG or a PDF page equals, pixel for
// pixel, that of the same pixels read from a BMP.
#include "CalibrateRaster.h"
#include "GdalTestFiles.h"
#include "QtPrinters.h"
#include "RasterManagers.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <random>

namespace {

// Three parts across and two down at every depth, with lines and noise.
TBmpLayout Scan(int bits) {
  TBmpLayout layout{2 * PartSide(bits) + 37, 2 * PartSide(bits) - 50, bits, {}};
  if (bits == 1) layout.Palette = {0x000000, 0xFFFFFF};
  if (bits == 8) {
    for (int i = 0; i < 256; ++i) layout.Palette.push_back(NoiseHash(i, 5 * i) & 0xFFFFFF);
    layout.Palette.back() = 0xFFFFFF;  // what lies outside the scan calibrates to
  }
  layout.Pixel = [bits](int x, int y) {
    const uint32_t value = x % 61 == 0 || y % 47 == 0 ? 0 : NoiseHash(x, y);
    return bits == 24 ? value & 0xFFFFFF : value & ((1u << bits) - 1);
  };
  return layout;
}

TGridInfo BentGrid(const TRasterManager& raster, unsigned seed) {
  TGridInfo grid;
  grid.SetSize(4, 3);
  grid.SetOrigin(TPoint{40, 30});
  grid.SetStep(TPoint{(raster.Width() - 80) / 3, (raster.Height() - 60) / 2});
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> offset(-12, 12);
  for (int j = 0; j < grid.NY; ++j)
    for (int i = 0; i < grid.NX; ++i)
      grid.NodeAt(i, j).Offset = TPoint{offset(random), offset(random)};
  return grid;
}

class CalibrateFormats : public testing::Test {
 protected:
  QString Path(const QString& name) const { return FDir.filePath(name); }

  // The colours of the raster read from the file, calibrated over a bent grid.
  std::vector<uint32_t> Calibrated(const QString& name, bool stable = true,
                                   const TRasterOpenOptions& options = {}) {
    TRasterManager raster(stable ? &FStable : &FUnstable, 3 * TPartCache::PartUnit, nullptr);
    raster.Open(Path(name), options);
    CalibrateRaster(raster, BentGrid(raster, 7));
    std::vector<uint32_t> colours;
    for (int y = 0; y < raster.Height(); ++y)
      for (int x = 0; x < raster.Width(); ++x) colours.push_back(raster.GetPixel(x, y));
    return colours;
  }
  std::vector<uint32_t> CalibratedBmp(const TBmpLayout& layout) {
    WriteFile(Path("same.bmp"), BmpBytes(layout));
    return Calibrated("same.bmp");
  }

  QTemporaryDir FDir;
  TAllFormatsProvider FStable{true};
  TAllFormatsProvider FUnstable{false};
};

}  // namespace

TEST_F(CalibrateFormats, TiffsOfEveryCompressionAndLayout) {
  const QList<QStringList> variants = {
      {"COMPRESS=NONE", "BLOCKYSIZE=7"},
      {"COMPRESS=LZW"},
      {"COMPRESS=DEFLATE", "TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128"},
      {"COMPRESS=PACKBITS", "BLOCKYSIZE=100000"},
      {"COMPRESS=LZW", "TILED=YES", "BIGTIFF=YES"},
  };
  for (const int bits : {1, 8, 24}) {
    const TBmpLayout scan = Scan(bits);
    const std::vector<uint32_t> expected = CalibratedBmp(scan);
    for (const QStringList& options : variants) {
      // LZW through a provider that cannot keep the file as it is, as on a network share.
      const bool stable = options.front() != "COMPRESS=LZW";
      WriteGdalFile(Path("scan.tif"), "GTiff", scan, options);
      EXPECT_EQ(Calibrated("scan.tif", stable), expected)
          << bits << " " << options.join(' ').toStdString();
    }
  }
  WriteGdalFile(Path("fax.tif"), "GTiff", Scan(1), {"COMPRESS=CCITTFAX4"});
  EXPECT_EQ(Calibrated("fax.tif"), CalibratedBmp(Scan(1)));
  for (const int bits : {8, 24}) {
    WriteGdalFile(Path("jpeg.tif"), "GTiff", Scan(bits), {"COMPRESS=JPEG", "TILED=YES"}, true);
    EXPECT_EQ(Calibrated("jpeg.tif"), CalibratedBmp(DecodeWithGdal(Path("jpeg.tif")))) << bits;
  }
}

TEST_F(CalibrateFormats, SixteenBitTiffsAsTheirEightBitPixels) {
  const TBmpLayout scan = Scan(24);
  const auto sample = [](int x, int y, int band) {
    return static_cast<uint16_t>(NoiseHash(x + 7 * band, y) & 0xFFFF);
  };
  const auto eight = [&](int x, int y, int band) {
    return static_cast<uint32_t>((sample(x, y, band) * 255 + 32767) / 65535);
  };
  WriteGdalSamples(Path("rgb16.tif"), scan.Width, scan.Height, 3, 16, sample,
                   {"PHOTOMETRIC=RGB", "COMPRESS=DEFLATE", "TILED=YES"});
  TBmpLayout rgb = scan;
  rgb.Pixel = [&](int x, int y) {
    return eight(x, y, 0) | eight(x, y, 1) << 8 | eight(x, y, 2) << 16;
  };
  EXPECT_EQ(Calibrated("rgb16.tif"), CalibratedBmp(rgb));

  WriteGdalSamples(Path("grey16.tif"), scan.Width, scan.Height, 1, 16, sample, {"COMPRESS=LZW"});
  TBmpLayout grey{scan.Width, scan.Height, 8, GreyPalette(256)};
  grey.Pixel = [&](int x, int y) { return eight(x, y, 0); };
  EXPECT_EQ(Calibrated("grey16.tif"), CalibratedBmp(grey));
}

TEST_F(CalibrateFormats, PngJpegAndAPdfPage) {
  for (const int bits : {8, 24}) {
    const TBmpLayout scan = Scan(bits);
    WriteGdalFile(Path("scan.png"), "PNG", scan);
    EXPECT_EQ(Calibrated("scan.png", false), CalibratedBmp(scan)) << bits;
    WriteGdalFile(Path("scan.jpg"), "JPEG", scan, {}, true);
    EXPECT_EQ(Calibrated("scan.jpg"), CalibratedBmp(DecodeWithGdal(Path("scan.jpg")))) << bits;
  }
  WriteGdalFile(Path("page.tif"), "GTiff", Scan(24));
  WritePdfPages(Path("scan.pdf"), {Path("page.tif"), Path("page.tif")});
  EXPECT_EQ(Calibrated("scan.pdf", true, {2, 100}),
            CalibratedBmp(DecodeWithGdal("PDF:2:" + Path("scan.pdf"), {"DPI=100", "BANDS=3"})));
}

TEST_F(CalibrateFormats, ABigTiffWhosePixelsLiePastFourGibibytes) {
  const TBmpLayout scan = Scan(24);
  WriteSparseBigTiff(Path("big.tif"), scan.Width, scan.Height, 256, scan.Pixel);
  ASSERT_GT(QFileInfo(Path("big.tif")).size(), int64_t{5} << 30);
  EXPECT_EQ(Calibrated("big.tif"), CalibratedBmp(scan));
}
