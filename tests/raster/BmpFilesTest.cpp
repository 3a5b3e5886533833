#include "BmpFiles.h"
#include "QtPrinters.h"
#include "RasterTestUtils.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class BmpFile : public testing::Test {
 protected:
  // Writes the bytes and opens them as a BMP file.
  std::unique_ptr<TBmpFile> Open(const QByteArray& bytes, const QString& name = "test.bmp") {
    const QString fileName = FDir.filePath(name);
    WriteFile(fileName, bytes);
    auto file = std::make_unique<TBmpFile>(&FProvider);
    file->Open(fileName);
    return file;
  }
  QString OpenError(const QByteArray& bytes) {
    return MessageOf([&] { Open(bytes, "bad.bmp"); });
  }
  QString Path(const QString& name) { return FDir.filePath(name); }

  QTemporaryDir FDir;
  TBmpProvider FProvider;
};

// Rows whose every pixel carries its row: the picture's row y has colour index y + 1.
TBmpLayout RowIndexed(int width, int height, int bpp) {
  TBmpLayout layout;
  layout.Width = width;
  layout.Height = height;
  layout.BitsPerPixel = bpp;
  layout.Palette = GreyPalette(1 << bpp);
  layout.Pixel = [](int x, int y) { return static_cast<uint32_t>(y * 16 + x); };
  return layout;
}

}  // namespace

TEST_F(BmpFile, ADibOfABottomUpFileStartsWithTheRectanglesBottomRow) {
  TBmpLayout layout = RowIndexed(10, 5, 8);
  const auto file = Open(BmpBytes(layout));
  EXPECT_EQ(file->GetWidth(), 10);
  EXPECT_EQ(file->GetHeight(), 5);
  EXPECT_EQ(file->GetBitsPerPixel(), 8);
  // The top row of the picture is the last row of the file.
  const auto top = file->GetDibSection(0, 0, 10, 1);
  EXPECT_EQ(top->ImageSize, 12);
  EXPECT_EQ(top->PixelOffset, 0);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(top->Bits.Data()[x], x);
  EXPECT_EQ(top->Bits.Data()[10], 0);  // padding stays zero
  const auto middle = file->GetDibSection(3, 1, 4, 3);
  const TBitmapInfoHeader* info = InfoHeaderOf(middle->Header.data());
  EXPECT_EQ(info->biWidth, 4);
  EXPECT_EQ(info->biHeight, 3);
  EXPECT_EQ(middle->HeaderSize(), 40 + 256 * 4);
  for (int row = 0; row < 3; ++row)  // DIB row 0 is picture row 3
    EXPECT_EQ(middle->Bits.Data()[row * 4], (3 - row) * 16 + 3);
}

TEST_F(BmpFile, ATopDownFileGivesTheSameBottomUpDibs) {
  TBmpLayout layout = RowIndexed(10, 5, 8);
  const auto bottomUp = Open(BmpBytes(layout), "up.bmp");
  layout.Height = -5;
  const auto topDown = Open(BmpBytes(layout), "down.bmp");
  EXPECT_EQ(topDown->GetHeight(), 5);
  const auto a = bottomUp->GetDibSection(2, 1, 7, 4);
  const auto b = topDown->GetDibSection(2, 1, 7, 4);
  EXPECT_EQ(QByteArray(reinterpret_cast<char*>(b->Bits.Data()), b->ImageSize),
            QByteArray(reinterpret_cast<char*>(a->Bits.Data()), a->ImageSize));
  EXPECT_EQ(InfoHeaderOf(b->Header.data())->biHeight, 4);
  QStringList lines;
  topDown->GetHeaderInfo(lines);
  EXPECT_EQ(lines, QStringList({"biWidth:\t10", "biHeight:\t-5", "biPlanes:\t1", "biBitCount:\t8",
                                "biCompression:\t0", "biSizeImage:\t60", "biXPelsPerMeter:\t0",
                                "biYPelsPerMeter:\t0", "biClrUsed:\t256", "biClrImportant:\t0"}));
}

TEST_F(BmpFile, DibsOfOneAndFourBitFilesStartOnAWholeByte) {
  TBmpLayout layout;
  layout.Width = 40;
  layout.Height = 2;
  layout.BitsPerPixel = 1;
  layout.Palette = {0x000000, 0xFFFFFF};
  layout.Pixel = [](int x, int) { return static_cast<uint32_t>(x == 13 || x == 8); };
  auto file = Open(BmpBytes(layout), "one.bmp");
  auto dib = file->GetDibSection(13, 0, 5, 1);
  EXPECT_EQ(dib->PixelOffset, 5);  // the DIB starts at pixel 8, the first of byte 1
  EXPECT_EQ(InfoHeaderOf(dib->Header.data())->biWidth, 10);
  EXPECT_EQ(dib->Bits.Data()[0], 0x84);  // pixels 8 and 13
  EXPECT_EQ(file->GetDibSection(16, 0, 8, 1)->PixelOffset, 0);

  layout.BitsPerPixel = 4;
  layout.Palette = GreyPalette(16);
  layout.Pixel = [](int x, int) { return static_cast<uint32_t>(x % 16); };
  file = Open(BmpBytes(layout), "four.bmp");
  dib = file->GetDibSection(7, 1, 2, 1);
  EXPECT_EQ(dib->PixelOffset, 1);
  EXPECT_EQ(dib->Bits.Data()[0], 0x67);
  EXPECT_EQ(dib->Bits.Data()[1], 0x89);  // pixel 9 shares the byte of pixel 8
}

TEST_F(BmpFile, ATableOfColoursIsKeptOnlyAsFarAsTheDepthCanUseIt) {
  TBmpLayout layout;
  layout.BitsPerPixel = 24;
  layout.Palette = GreyPalette(4000);
  EXPECT_EQ(Open(BmpBytes(layout))->Header().size(), 40u + 256 * 4);
  layout.BitsPerPixel = 4;
  EXPECT_EQ(Open(BmpBytes(layout))->Header().size(), 40u + 16 * 4);
}

TEST_F(BmpFile, BadHeadersAreRefusedWithTheFileAndTheReason) {
  const QByteArray good = BmpBytes(RowIndexed(10, 5, 8));
  const QString prefix = "Ошибка открытия растрового файла " + Path("bad.bmp") + ": ";
  const auto with = [&](int offset, uint32_t value, int size = 4) {
    QByteArray bytes = good;
    for (int i = 0; i < size; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
    return bytes;
  };
  EXPECT_EQ(OpenError(good.left(17)), prefix + "файл короче заголовка BMP");
  EXPECT_EQ(OpenError(good.left(40)), prefix + "файл короче заголовка BMP");
  EXPECT_EQ(OpenError(with(0, 'B' | ('A' << 8), 2)), prefix + "это не файл BMP (нет подписи «BM»)");
  EXPECT_EQ(OpenError(with(14, 44)), prefix + "неизвестный размер заголовка (44 байт)");
  EXPECT_EQ(OpenError(with(26, 2, 2)), prefix + "число плоскостей 2, а должно быть 1");
  EXPECT_EQ(OpenError(with(28, 2, 2)), prefix + "неподдерживаемое количество битов на пиксель (2)");
  EXPECT_EQ(OpenError(with(30, BI_RLE8)), prefix + "сжатие RLE8 не поддерживается");
  EXPECT_EQ(OpenError(with(30, 11)), prefix + "сжатие с кодом 11 не поддерживается");
  EXPECT_EQ(OpenError(with(30, BI_BITFIELDS)),
            prefix + "битовые маски цветов при 8 битах на пиксель не поддерживаются");
  QByteArray oneBitFields = with(30, BI_BITFIELDS);
  oneBitFields[28] = 1;
  EXPECT_EQ(OpenError(oneBitFields),
            prefix + "битовые маски цветов при 1 бите на пиксель не поддерживаются");
  EXPECT_EQ(OpenError(with(18, 0)), prefix + "неверные размеры растра (0 × 5)");
  EXPECT_EQ(OpenError(with(22, 0x80000000u)),
            prefix + "неверные размеры растра (10 × -2147483648)");
  EXPECT_EQ(OpenError(with(46, 0x40000001u)),
            prefix + "палитра (1073741825 цветов) не умещается в файле");
  EXPECT_EQ(OpenError(with(10, 50)),
            prefix + "смещение данных растра (50) указывает внутрь заголовка");
  EXPECT_EQ(OpenError(with(10, 60)),
            prefix + "смещение данных растра (60) указывает внутрь палитры");
  EXPECT_EQ(OpenError(with(10, 1u << 31)),
            prefix + "смещение данных растра (2147483648) указывает за конец файла");
  EXPECT_EQ(OpenError(good.left(good.size() - 1)),
            prefix + "в файле не хватает данных растра: 59 байт вместо 60");
  EXPECT_EQ(OpenError(with(22, 0x7FFFFFFF)),
            prefix + "в файле не хватает данных растра: 60 байт вместо 25769803764");
  // The largest size a header can claim needs more bytes than 63 bits can count.
  QByteArray largest = with(18, 0x7FFFFFFF);
  largest.replace(22, 4, with(22, 0x80000001u).mid(22, 4));
  largest.replace(28, 2, with(28, 32, 2).mid(28, 2));
  EXPECT_EQ(OpenError(largest),
            prefix + "в файле не хватает данных растра: 60 байт вместо 18446744056529682436");
}
