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

void Put32(QByteArray& bytes, int offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

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

TEST_F(BmpFile, AskingForPixelsOutsideTheFileIsAnInternalError) {
  const auto file = Open(BmpBytes(RowIndexed(10, 5, 8)));
  for (auto [x, y, w, h] : {std::array{-1, 0, 2, 2}, {0, 4, 1, 2}, {9, 0, 2, 1}, {0, 0, 0, 1}})
    EXPECT_TRUE(MessageOf([&, x = x, y = y, w = w, h = h] {
                  file->GetDibSection(x, y, w, h);
                }).startsWith("Внутренняя ошибка: "));
}

TEST_F(BmpFile, AnOs2HeaderBecomesTheFortyByteFormWithItsTable) {
  // OS/2 1.x: 12-byte header, 16-bit sizes, a colour table of RGB triples cut short by the
  // pixels' offset.
  QByteArray bytes(14 + 12 + 3 * 3 + 4 * 2, '\0');
  bytes[0] = 'B';
  bytes[1] = 'M';
  Put32(bytes, 10, 14 + 12 + 9);
  Put32(bytes, 14, 12);
  bytes[18] = 3;  // width
  bytes[20] = 2;  // height
  bytes[22] = 1;  // planes
  bytes[24] = 8;  // bits
  for (int i = 0; i < 9; ++i) bytes[26 + i] = static_cast<char>(10 * (i + 1));
  bytes[35] = 2;  // the bottom row's first pixel
  const auto file = Open(bytes);
  const std::vector<uint8_t>& header = file->Header();
  ASSERT_EQ(header.size(), 40u + 3 * 4);
  const TBitmapInfoHeader* info = InfoHeaderOf(header.data());
  EXPECT_EQ(info->biSize, 40u);
  EXPECT_EQ(info->biWidth, 3);
  EXPECT_EQ(info->biHeight, 2);
  EXPECT_EQ(info->biClrUsed, 3u);
  EXPECT_EQ(std::vector<uint8_t>(header.begin() + 40, header.end()),
            std::vector<uint8_t>({10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0}));
  EXPECT_EQ(file->GetDibSection(0, 1, 1, 1)->Bits.Data()[0], 2);
}

TEST_F(BmpFile, BitFieldsOfLongHeadersFollowTheFortyByteHeader) {
  // A V5 header with the masks inside it, and a 40-byte header with alpha bit fields after it.
  TBmpLayout layout;
  layout.Width = 2;
  layout.BitsPerPixel = 32;
  layout.Pixel = [](int x, int) { return x ? 0x11223344u : 0x55667788u; };
  const QByteArray plain = BmpBytes(layout);
  QByteArray v5 = plain.left(14) + QByteArray(124, '\0') + plain.mid(54);
  v5.replace(14, 40, plain.mid(14, 40));
  Put32(v5, 14, 124);
  Put32(v5, 10, 14 + 124);
  Put32(v5, 30, BI_BITFIELDS);
  Put32(v5, 54, 0x0000FF00);
  Put32(v5, 58, 0x00FF0000);
  Put32(v5, 62, 0xFF000000);
  Put32(v5, 66, 0x000000FF);  // alpha
  auto file = Open(v5, "v5.bmp");
  std::vector<uint8_t> header = file->Header();
  ASSERT_EQ(header.size(), 52u);
  EXPECT_EQ(InfoHeaderOf(header.data())->biCompression, BI_BITFIELDS);
  EXPECT_EQ(InfoHeaderOf(header.data())->biSize, 40u);
  EXPECT_EQ(std::vector<uint8_t>(header.begin() + 40, header.end()),
            std::vector<uint8_t>({0, 0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF}));
  EXPECT_EQ(file->GetDibSection(1, 0, 1, 1)->Bits.Data()[0], 0x44);

  QByteArray alpha = plain.left(54) + QByteArray(16, '\0') + plain.mid(54);
  Put32(alpha, 10, 54 + 16);
  Put32(alpha, 30, BI_ALPHABITFIELDS);
  Put32(alpha, 54, 0x00FF0000);
  Put32(alpha, 58, 0x0000FF00);
  Put32(alpha, 62, 0x000000FF);
  Put32(alpha, 66, 0xFF000000);
  file = Open(alpha, "alpha.bmp");
  header = file->Header();
  ASSERT_EQ(header.size(), 52u);
  EXPECT_EQ(InfoHeaderOf(header.data())->biCompression, BI_BITFIELDS);
  EXPECT_EQ(header[42], 0xFF);  // red mask 0x00FF0000
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
}

TEST_F(BmpFile, FieldsThatReadingDoesNotUseAreNoGroundsForRefusal) {
  QByteArray bytes = BmpBytes(RowIndexed(10, 5, 8));
  Put32(bytes, 2, 0xDDDDDDDD);   // bfSize
  Put32(bytes, 34, 0xEEEEEEEE);  // biSizeImage
  Put32(bytes, 50, 0xFFFFFFFF);  // biClrImportant
  Put32(bytes, 38, 0x80000000);  // resolution
  const auto file = Open(bytes);
  EXPECT_EQ(file->GetWidth(), 10);
}
