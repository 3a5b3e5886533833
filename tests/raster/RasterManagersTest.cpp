#include "QtPrinters.h"
#include "RasterManagers.h"
#include "RasterTestUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

constexpr int64_t kOnePart = TPartCache::PartUnit;

// A picture where every pixel differs from its neighbours: index or colour from the position.
TBmpLayout Pattern(int width, int height, int bpp) {
  TBmpLayout layout;
  layout.Width = width;
  layout.Height = height;
  layout.BitsPerPixel = bpp;
  if (bpp <= 8) layout.Palette = GreyPalette(1 << bpp);
  layout.Pixel = [bpp](int x, int y) {
    const uint32_t v = static_cast<uint32_t>(x * 31 + y * 17 + (x * y) % 7);
    return bpp <= 8 ? v % (1u << bpp) : v * 2654435761u;
  };
  return layout;
}

class RasterManager : public testing::Test {
 protected:
  TRasterFiles FFiles;
};

}  // namespace

TEST(PartSide, DependsOnTheDepthOnly) {
  EXPECT_EQ(PartSide(1), 1288);  // 1280 is a multiple of 8 and grows by a full 8
  EXPECT_EQ(PartSide(4), 648);
  EXPECT_EQ(PartSide(8), 456);
  EXPECT_EQ(PartSide(16), 328);
  EXPECT_EQ(PartSide(24), 264);
  EXPECT_EQ(PartSide(32), 232);
}

TEST_F(RasterManager, ARasterIsCutIntoPartsRowByRow) {
  const auto raster = FFiles.Open(Pattern(1000, 500, 8), 100 * kOnePart);
  EXPECT_EQ(raster->Side(), 456);
  EXPECT_EQ(raster->PartsAcross(), 3);
  EXPECT_EQ(raster->PartsDown(), 2);
  ASSERT_EQ(raster->Parts().size(), 6u);
  const TRasterPart* last = raster->GetPart(2, 1);
  EXPECT_EQ(last, raster->Parts()[5].get());
  EXPECT_EQ(last->Left(), 912);
  EXPECT_EQ(last->Top(), 456);
  EXPECT_EQ(last->Width(), 88);
  EXPECT_EQ(last->Height(), 44);
  EXPECT_EQ(raster->PartAt(911, 456), raster->GetPart(1, 1));
  EXPECT_EQ(raster->PartAt(999, 499), last);
  EXPECT_EQ(MessageOf([&] { raster->PartAt(1000, 0); }), "Не найден растр для точки (1000, 0)");
  EXPECT_TRUE(raster->BottomUp());
  EXPECT_EQ(raster->FileName(), FFiles.Path("raster.bmp"));
}

TEST_F(RasterManager, OpeningReportsEachRowOfPartsAndRestoresTheStatus) {
  FFiles.Status().Info()->ShowText(3, "внешняя");
  FFiles.Status().ClearLog();
  FFiles.Open(Pattern(100, 2000, 8), kOnePart);
  EXPECT_EQ(FFiles.Status().Shown(3), QStringList({"", "Считывание растра...", "внешняя"}));
  EXPECT_EQ(FFiles.Status().Shown(2), QStringList({"", "0%", "20%", "40%", "60%", "80%", ""}));
}

TEST_F(RasterManager, AFailedOpenRestoresTheStatus) {
  WriteFile(FFiles.Path("bad.bmp"), "BM");
  TRasterManager raster(FFiles.Provider(), kOnePart, FFiles.Status().Info());
  EXPECT_FALSE(MessageOf([&] { raster.Open(FFiles.Path("bad.bmp")); }).isEmpty());
  EXPECT_EQ(FFiles.Status().Slot(3), "");
  EXPECT_EQ(FFiles.Status().Info()->SavedCount(), 0);
}

TEST_F(RasterManager, AResolutionOfZeroReadsAsTheScreensButIsNotStored) {
  auto raster = FFiles.Open(Pattern(10, 10, 8), kOnePart);
  EXPECT_EQ(raster->XPelsPerMeter(), 3780);  // 96 dots per inch without a screen
  EXPECT_EQ(raster->YPelsPerMeter(), 3780);
  raster->SetXPelsPerMeter(2835);
  EXPECT_EQ(raster->XPelsPerMeter(), 2835);
  raster->Save(FFiles.Path("out.bmp"));
  const QByteArray saved = ReadFile(FFiles.Path("out.bmp"));
  EXPECT_EQ(FileLe32(saved, 38), 2835u);
  EXPECT_EQ(FileLe32(saved, 42), 0u);
}

TEST_F(RasterManager, SavingWritesTheFileItReadIdentically) {
  // Rasters of several parts each way, read and written through a budget of one part: with the
  // parts' pixels waiting in the source file, and with them copied into the swap file.
  TRasterFiles unstable(false);
  for (TRasterFiles* files : {&FFiles, &unstable})
    for (int bpp : {1, 4, 8, 16, 24, 32}) {
      const TBmpLayout layout = Pattern(bpp == 1 ? 2900 : 700, 600, bpp);
      const auto raster = files->Open(layout, kOnePart);
      EXPECT_EQ(raster->Source() != nullptr, files == &FFiles);
      // One changed part among those the source file holds.
      raster->GetPart(0, 0)->MarkModified();
      raster->Save(files->Path("out.bmp"));
      EXPECT_EQ(ReadFile(files->Path("out.bmp")), BmpBytes(layout)) << bpp;
      EXPECT_EQ(raster->FileName(), files->Path("out.bmp"));
    }
}

TEST_F(RasterManager, RowsWiderThanABandAreReadAndWrittenInPieces) {
  // A 1-bit row of 15000 bytes: two rows of parts are more than one band holds.
  const TBmpLayout layout = Pattern(120000, 1300, 1);
  const auto raster = FFiles.Open(layout, 3 * kOnePart);
  raster->Save(FFiles.Path("out.bmp"));
  EXPECT_TRUE(ReadFile(FFiles.Path("out.bmp")) == BmpBytes(layout));
}

TEST_F(RasterManager, ATopDownFileIsSavedBottomUpWithTheSamePicture) {
  // With the parts in the source file, and in the swap file, read straight into the rows saved.
  TRasterFiles unstable(false);
  for (TRasterFiles* files : {&FFiles, &unstable}) {
    TBmpLayout layout = Pattern(500, 300, 24);
    layout.Height = -300;
    const auto raster = files->Open(layout, kOnePart);
    raster->Save(files->Path("out.bmp"));
    layout.Height = 300;
    EXPECT_EQ(ReadFile(files->Path("out.bmp")), BmpBytes(layout));
  }
}

TEST_F(RasterManager, SavingKeepsThePixelBitsOfTheLastByteAndZeroesThePadding) {
  TBmpLayout layout;
  layout.Width = 13;
  layout.Height = 2;
  layout.BitsPerPixel = 1;
  layout.Palette = {0, 0xFFFFFF};
  layout.Pixel = [](int, int) { return 1u; };
  QByteArray bytes = BmpBytes(layout);
  const int bits = static_cast<int>(FileLe32(bytes, 10));
  bytes[bits + 1] = static_cast<char>(0xFF);  // bits beyond the 13th pixel
  bytes[bits + 2] = 0x5A;                     // padding
  bytes[bits + 3] = 0x5A;
  WriteFile(FFiles.Path("in.bmp"), bytes);
  TRasterManager raster(FFiles.Provider(), kOnePart, nullptr);
  raster.Open(FFiles.Path("in.bmp"));
  raster.Save(FFiles.Path("out.bmp"));
  const QByteArray saved = ReadFile(FFiles.Path("out.bmp"));
  EXPECT_EQ(saved.mid(bits, 4), QByteArray::fromHex("ffff0000"));
  EXPECT_EQ(saved.mid(bits + 4, 4), QByteArray::fromHex("fff80000"));
  EXPECT_EQ(FileLe32(saved, 2), static_cast<uint32_t>(saved.size()));  // bfSize
  EXPECT_EQ(FileLe32(saved, 34), 8u);                                  // biSizeImage
}

TEST_F(RasterManager, SavingReportsItsRowsFromTheBottom) {
  const auto raster = FFiles.Open(Pattern(10, 8, 8), kOnePart);
  FFiles.Status().ClearLog();
  raster->Save(FFiles.Path("out.bmp"));
  // Round((8 - y) / 8 × 100) for y = 7 .. 0, halves to even: 12.5 gives 12, 62.5 gives 62.
  EXPECT_EQ(FFiles.Status().Shown(2),
            QStringList({"", "12%", "25%", "38%", "50%", "62%", "75%", "88%", "100%", ""}));
  EXPECT_EQ(FFiles.Status().Shown(3), QStringList({"", "Сохранение растра...", ""}));
}

TEST_F(RasterManager, SavingOverTheOpenedFileIsSafe) {
  const TBmpLayout layout = Pattern(700, 600, 8);
  const auto raster = FFiles.Open(layout, kOnePart);
  raster->SetPixel(5, 5, layout.Palette[1]);
  raster->Save(FFiles.Path("raster.bmp"));
  TRasterManager again(FFiles.Provider(), kOnePart, nullptr);
  again.Open(FFiles.Path("raster.bmp"));
  EXPECT_EQ(again.GetPixel(5, 5), layout.Palette[1]);
  EXPECT_EQ(again.GetPixel(699, 599), raster->GetPixel(699, 599));
  EXPECT_FALSE(QFile::exists(FFiles.Path("raster.~bm")));
}

TEST_F(RasterManager, ASavedFileKeepsThePermissionsOfTheOneItReplaces) {
  const auto raster = FFiles.Open(Pattern(10, 10, 8), kOnePart);
  const QString target = FFiles.Path("target.bmp");
  WriteFile(target, "old");
  QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
  raster->Save(target);
  EXPECT_EQ(QFileInfo(target).permissions() & 0x7077,  // owner, group and others
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
}

TEST_F(RasterManager, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  const auto raster = FFiles.Open(Pattern(2000, 1000, 8), kOnePart);
  const QString target = FFiles.Path("target.bmp");
  WriteFile(target, "the user's old file");
  QString message;
  {
    TFileSizeLimit limit(100000);
    message = MessageOf([&] { raster->Save(target); });
  }
  // The temporary file is the program's affair: the message names the file the user asked for.
  EXPECT_EQ(message, "Ошибка при записи файла " + target + ": файл слишком велик");
  EXPECT_EQ(ReadFile(target), "the user's old file");
  EXPECT_FALSE(QFile::exists(FFiles.Path("target.~bm")));
  EXPECT_EQ(raster->FileName(), FFiles.Path("raster.bmp"));
  EXPECT_EQ(FFiles.Status().Info()->SavedCount(), 0);

  EXPECT_EQ(MessageOf([&] { raster->Save(FFiles.Path("missing/target.bmp")); }),
            "Не удаётся создать файл " + FFiles.Path("missing/target.bmp") +
                ": нет такого файла или папки");
}

// The rename would fail at the end: the folder is refused before anything is written, and no
// temporary file stays behind (the raster still holds its pixels).
TEST_F(RasterManager, SavingOverAFolderIsRefusedAndLeavesNoTemporaryFile) {
  const TBmpLayout layout = Pattern(30, 20, 8);
  const auto raster = FFiles.Open(layout, kOnePart);
  const QString target = FFiles.Path("folder.bmp");
  QDir().mkpath(target + "/inside");  // a non-empty folder cannot be renamed over
  EXPECT_EQ(MessageOf([&] { raster->Save(target); }),
            "Не удаётся создать файл " + target + ": это папка, а не файл");
  EXPECT_FALSE(QFile::exists(FFiles.Path("folder.~bm")));
  EXPECT_TRUE(QFileInfo(target + "/inside").isDir());
  EXPECT_EQ(raster->FileName(), FFiles.Path("raster.bmp"));
}

// Each part costs memory for its bookkeeping, however few its pixels.
TEST_F(RasterManager, ARasterOfTooManyPartsIsRefusedAtOpen) {
  const QString name = FFiles.Path("wide.bmp");
  WriteSparseBmp(name, TBmpLayout{2147483647, 1, 1, {0x000000, 0xFFFFFF}});
  TRasterManager wide(FFiles.Provider(), kOnePart, FFiles.Status().Info());
  EXPECT_EQ(MessageOf([&] { wide.Open(name); }),
            "Растр " + name +
                " слишком велик: 2147483647 × 1 пикселей при 1 бите на пиксель делятся на "
                "1667301 часть, а их может быть не больше 32768");
  EXPECT_EQ(FFiles.Status().Info()->SavedCount(), 0);
  WriteSparseBmp(name, TBmpLayout{1288 * 32768, 1, 1, {0x000000, 0xFFFFFF}});
  TRasterManager widest(FFiles.Provider(), kOnePart, FFiles.Status().Info());
  widest.Open(name);
  EXPECT_EQ(widest.PartsAcross(), 32768);
  EXPECT_EQ(widest.GetPixel(1288 * 32768 - 1, 0), 0u);
}

TEST_F(RasterManager, ACopyHasTheSamePixelsAndItsOwnCache) {
  const auto raster = FFiles.Open(Pattern(700, 600, 24), kOnePart);
  raster->SetXPelsPerMeter(1234);
  FFiles.Status().ClearLog();
  TRasterManager copy(FFiles.Provider(), 2 * kOnePart, FFiles.Status().Info());
  copy.CopyFrom(*raster);
  EXPECT_EQ(FFiles.Status().Shown(3), QStringList({"", "Копирование растра...", ""}));
  EXPECT_EQ(FFiles.Status().Shown(2).mid(0, 3), QStringList({"", "0%", "11%"}));
  EXPECT_EQ(copy.Width(), 700);
  EXPECT_EQ(copy.PartsAcross(), 3);
  EXPECT_EQ(copy.XPelsPerMeter(), 1234);
  EXPECT_EQ(copy.FileName(), raster->FileName());
  EXPECT_EQ(copy.Cache().MaxLoadedParts(), 2);
  for (int y = 0; y < 600; y += 7)
    for (int x = 0; x < 700; x += 3) ASSERT_EQ(copy.GetPixel(x, y), raster->GetPixel(x, y));
  copy.SetPixel(0, 0, 0x123456);
  EXPECT_NE(raster->GetPixel(0, 0), 0x123456u);
}

TEST_F(RasterManager, ClipKeepsTheRectangle) {
  const auto raster = FFiles.Open(Pattern(1000, 700, 8), kOnePart);
  TRasterManager original(FFiles.Provider(), 100 * kOnePart, nullptr);
  original.CopyFrom(*raster);
  FFiles.Status().ClearLog();
  EXPECT_TRUE(raster->Clip({10, 20, 910, 670}));
  EXPECT_EQ(raster->Width(), 900);
  EXPECT_EQ(raster->Height(), 650);
  EXPECT_EQ(raster->PartsAcross(), 2);
  for (int y = 0; y < 650; ++y)
    for (int x = 0; x < 900; ++x)
      ASSERT_EQ(raster->GetPixel(x, y), original.GetPixel(x + 10, y + 20)) << x << ", " << y;
  // The pixels move straight from the raster's own parts: no copy of it is made first.
  EXPECT_EQ(FFiles.Status().Shown(3), QStringList({"", "Отсечение растра ...", ""}));
  const QStringList percents = FFiles.Status().Shown(2);
  EXPECT_EQ(percents.mid(percents.size() - 4), QStringList({"98%", "99%", "100%", ""}));
  // The header and resolution stay; the size is the new one.
  EXPECT_EQ(InfoHeaderOf(raster->GetHeader())->biWidth, 900);
  EXPECT_EQ(raster->Palette().Count(), 256);
}

TEST_F(RasterManager, ClipMovesEveryPixelThroughItsColourOnEveryDepth) {
  // The pixels of the kept rectangle as GetPixel reads them and SetPixel writes them back: a
  // palette with a duplicate keeps the lower index, whatever the source holds.
  TRasterFiles unstable(false);
  for (const int bpp : {1, 4, 8, 24}) {
    TBmpLayout layout = Pattern(3 * PartSide(bpp) - 50, 500, bpp);
    if (bpp == 8) layout.Palette[7] = layout.Palette[200];
    if (bpp == 4) layout.Palette[3] = layout.Palette[12];
    if (bpp == 1) layout.Palette[1] = layout.Palette[0];
    // Odd edges move the pixels of 1 and 4 bits within their bytes.
    for (const TRect& rect :
         {TRect{13, 7, layout.Width - 101, 481}, TRect{-20, 300, 301, 900}, TRect{8, 0, 16, 1}})
      for (TRasterFiles* files : {&FFiles, &unstable}) {
        SCOPED_TRACE(testing::Message() << bpp << " bits, " << rect.Left << ", " << rect.Top);
        auto raster = files->Open(layout, 2 * kOnePart);
        raster->SetPixel(rect.Right - 1, 490, raster->GetPixel(0, 0));  // a part in memory
        TRasterManager original(files->Provider(), 100 * kOnePart, nullptr);
        original.CopyFrom(*raster);
        ASSERT_TRUE(raster->Clip(rect));
        TRect kept;
        ASSERT_TRUE(original.ClipRect(rect, kept));
        ASSERT_EQ(raster->Width(), kept.Width());
        ASSERT_EQ(raster->Height(), kept.Height());
        const TPaletteLookup& palette = raster->Palette();
        for (int y = 0; y < kept.Height(); ++y)
          for (int x = 0; x < kept.Width(); ++x) {
            const uint32_t colour = original.GetPixel(x + kept.Left, y + kept.Top);
            original.SetPixel(x + kept.Left, y + kept.Top, colour);
            ASSERT_EQ(raster->GetPixel(x, y), colour) << x << ", " << y;
            if (bpp == 8) {
              ASSERT_EQ(raster->GetPart(x / raster->Side(), y / raster->Side())
                            ->GetRow(y)[x % raster->Side()],
                        palette.IndexOf(colour));
            }
          }
      }
  }
}

TEST_F(RasterManager, AClipThatFailsLeavesTheRasterAsItWas) {
  // Indices beyond a table of 16 colours read as black, which the table lacks: moving them
  // through their colour fails, after the clip has begun.
  TBmpLayout layout = Pattern(1000, 700, 8);
  layout.Palette = GreyPalette(16);
  layout.Palette[0] = 0x010101;
  layout.Pixel = [](int x, int y) { return x == 600 && y == 500 ? 200u : (x + y) % 16u; };
  const auto raster = FFiles.Open(layout, kOnePart);
  TRasterManager original(FFiles.Provider(), 100 * kOnePart, nullptr);
  original.CopyFrom(*raster);
  EXPECT_EQ(MessageOf([&] {
              raster->Clip({10, 20, 910, 670});
            }),
            "Не найден соответствующий цвет в палитре");
  EXPECT_EQ(raster->Width(), 1000);
  EXPECT_EQ(raster->Height(), 700);
  EXPECT_EQ(raster->Source(), original.Source());
  for (int y = 0; y < 700; y += 3)
    for (int x = 0; x < 1000; ++x) ASSERT_EQ(raster->GetPixel(x, y), original.GetPixel(x, y));
  // And it still clips.
  EXPECT_TRUE(raster->Clip({10, 20, 510, 470}));
  EXPECT_EQ(raster->GetPixel(0, 0), original.GetPixel(10, 20));
}

TEST_F(RasterManager, ClipBeyondTheEdgesIsClampedToTheRaster) {
  const auto raster = FFiles.Open(Pattern(200, 100, 24), kOnePart);
  const uint32_t corner = raster->GetPixel(150, 60);
  EXPECT_TRUE(raster->Clip({150, 60, 400, 300}));
  EXPECT_EQ(raster->Width(), 50);
  EXPECT_EQ(raster->Height(), 40);
  EXPECT_EQ(raster->GetPixel(0, 0), corner);
}

TEST_F(RasterManager, ClipWithNothingToCutChangesNothing) {
  const auto raster = FFiles.Open(Pattern(200, 100, 8), kOnePart);
  const TRasterPart* first = raster->GetPart(0, 0);
  for (const TRect& rect : {TRect{0, 0, 200, 100}, TRect{-5, -5, 300, 300}, TRect{10, 10, 10, 50},
                            TRect{50, 10, 40, 50}, TRect{200, 0, 300, 100}, TRect{-50, -50, 0, 10},
                            TRect{0, 100, 10, 200}})
    EXPECT_FALSE(raster->Clip(rect));
  EXPECT_EQ(raster->GetPart(0, 0), first);
  EXPECT_EQ(raster->Width(), 200);
}

TEST_F(RasterManager, ClipOfADepthWithoutColourAccessIsRefusedBeforeAnyChange) {
  const auto raster = FFiles.Open(Pattern(200, 100, 16), kOnePart);
  EXPECT_EQ(MessageOf([&] {
              raster->Clip({10, 10, 20, 20});
            }),
            "Неподдерживаемое количество битов на цвет");
  EXPECT_EQ(raster->Width(), 200);
  raster->Save(FFiles.Path("out.bmp"));
  EXPECT_EQ(ReadFile(FFiles.Path("out.bmp")), BmpBytes(Pattern(200, 100, 16)));
}

TEST_F(RasterManager, RowsStillInTheSourceFileAreCopiedWithTheirPaddingZeroed) {
  // Three rows of parts whose rows end in two bytes of padding, which the file fills with
  // garbage; a budget of one part leaves whole rows of parts unread when saving.
  TBmpLayout layout = Pattern(1002, 3 * 264, 24);
  QByteArray bytes = BmpBytes(layout);
  const int bits = static_cast<int>(FileLe32(bytes, 10));
  const int rowSize = 3008;
  for (int y = 0; y < 3 * 264; ++y) bytes[bits + y * rowSize + 3006] = 0x5A;
  WriteFile(FFiles.Path("in.bmp"), bytes);
  TRasterManager raster(FFiles.Provider(), kOnePart, nullptr);
  raster.Open(FFiles.Path("in.bmp"));
  ASSERT_NE(raster.Source(), nullptr);
  raster.Save(FFiles.Path("out.bmp"));
  EXPECT_EQ(ReadFile(FFiles.Path("out.bmp")), BmpBytes(layout));
}

TEST_F(RasterManager, ClipFromCutsAsClipDoesAndLeavesTheSourceAsItWas) {
  const auto raster = FFiles.Open(Pattern(1000, 700, 24), kOnePart);
  raster->SetXPelsPerMeter(4321);
  TRasterManager inPlace(FFiles.Provider(), kOnePart, nullptr);
  inPlace.CopyFrom(*raster);
  ASSERT_TRUE(inPlace.Clip({10, 20, 910, 670}));
  TRasterManager clipped(FFiles.Provider(), kOnePart, FFiles.Status().Info());
  FFiles.Status().ClearLog();
  ASSERT_TRUE(clipped.ClipFrom(*raster, {10, 20, 910, 670}));
  EXPECT_EQ(FFiles.Status().Shown(3), QStringList({"", "Отсечение растра ...", ""}));
  ASSERT_EQ(clipped.Width(), inPlace.Width());
  ASSERT_EQ(clipped.Height(), inPlace.Height());
  EXPECT_EQ(clipped.XPelsPerMeter(), 4321);
  EXPECT_EQ(clipped.FileName(), raster->FileName());
  for (int y = 0; y < clipped.Height(); y += 3)
    for (int x = 0; x < clipped.Width(); ++x)
      ASSERT_EQ(clipped.GetPixel(x, y), inPlace.GetPixel(x, y)) << x << ", " << y;
  EXPECT_EQ(raster->Width(), 1000);
  raster->Save(FFiles.Path("source.bmp"));
  TBmpLayout layout = Pattern(1000, 700, 24);
  layout.XPelsPerMeter = 4321;
  EXPECT_EQ(DecodeOurBmp(ReadFile(FFiles.Path("source.bmp"))), DecodeOurBmp(BmpBytes(layout)));

  TRasterManager nothing(FFiles.Provider(), kOnePart, nullptr);
  EXPECT_FALSE(nothing.ClipFrom(*raster, {0, 0, 1000, 700}));
  EXPECT_TRUE(nothing.Parts().empty());
}

// Esc during the work, as the window delivers it: the next report raises, and the work unwinds.
TEST_F(RasterManager, ACancelledClipLeavesTheSourceAsItWas) {
  const auto raster = FFiles.Open(Pattern(900, 600, 8), kOnePart);
  for (const char* at : {"50%", "99%"}) {
    TRasterManager clipped(FFiles.Provider(), kOnePart, FFiles.Status().Info());
    FFiles.Status().CancelWhenShown(2, at);
    EXPECT_THROW(clipped.ClipFrom(*raster, {5, 5, 800, 500}), ECancelled);
    EXPECT_EQ(FFiles.Status().Info()->SavedCount(), 0);
    EXPECT_EQ(FFiles.Status().Slot(3), "");
  }
  FFiles.Status().CancelWhenShown(-1, {});
  raster->Save(FFiles.Path("after.bmp"));
  EXPECT_EQ(ReadFile(FFiles.Path("after.bmp")), BmpBytes(Pattern(900, 600, 8)));
}

TEST_F(RasterManager, ACancelledSaveLeavesTheOldFileAndNoTemporaryFile) {
  const auto raster = FFiles.Open(Pattern(2000, 1500, 24), kOnePart);
  raster->SetPixel(0, 0, 0x123456);  // a change, so that not every row comes from the file
  const QString target = FFiles.Path("target.bmp");
  WriteFile(target, "the user's old file");
  for (const char* at : {"0%", "40%", "100%"}) {
    FFiles.Status().CancelWhenShown(2, at);
    EXPECT_THROW(raster->Save(target), ECancelled) << at;
    EXPECT_EQ(ReadFile(target), "the user's old file");
    EXPECT_FALSE(QFile::exists(FFiles.Path("target.~bm")));
    EXPECT_EQ(raster->FileName(), FFiles.Path("raster.bmp"));
    EXPECT_EQ(FFiles.Status().Info()->SavedCount(), 0);
  }
  FFiles.Status().CancelWhenShown(-1, {});
  raster->Save(target);
  EXPECT_EQ(raster->FileName(), target);
}

TEST_F(RasterManager, ACancelledOpenLeavesNothingBehind) {
  WriteFile(FFiles.Path("big.bmp"), BmpBytes(Pattern(1500, 1400, 8)));
  TRasterManager raster(FFiles.Provider(), kOnePart, FFiles.Status().Info());
  FFiles.Status().CancelWhenShown(2, "25%");
  EXPECT_THROW(raster.Open(FFiles.Path("big.bmp")), ECancelled);
  EXPECT_EQ(FFiles.Status().Info()->SavedCount(), 0);
  EXPECT_EQ(FFiles.Status().Slot(3), "");
}
