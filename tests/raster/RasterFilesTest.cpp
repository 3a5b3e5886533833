#include "GdalFiles.h"
#include "QtPrinters.h"
#include "RasterFiles.h"
#include "RasterTestUtils.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <climits>
#include <numeric>

namespace {

std::unique_ptr<TRasterFile> NoFile(TRasterFileProvider*) {
  return nullptr;
}
std::unique_ptr<TRasterFile> OtherFile(TRasterFileProvider*) {
  return nullptr;
}

}  // namespace

TEST(RasterFileProvider, TheFilterListsAllRastersEachFormatAndAllFiles) {
  TLocalFileProvider provider;
  EXPECT_EQ(provider.GetFilter(), "Все растры ()||Все файлы (*.*)|*.*");
  RegisterBmpFormat(&provider);
  EXPECT_EQ(provider.GetFilter(),
            "Все растры (*.bmp)|*.bmp|Растры Windows (*.bmp)|*.bmp|Все файлы (*.*)|*.*");
  provider.RegisterFormat("Растры TIFF", "*.tif", &OtherFile);
  EXPECT_EQ(provider.GetFilter(),
            "Все растры (*.bmp; *.tif)|*.bmp; *.tif|Растры Windows (*.bmp)|*.bmp|"
            "Растры TIFF (*.tif)|*.tif|Все файлы (*.*)|*.*");
}

TEST(RasterFileProvider, KindsThatAreWrittenGiveTheSaveFilterAndTheFormatOfAName) {
  TLocalFileProvider provider;
  RegisterBmpFormat(&provider);
  RegisterGdalFormats(&provider);
  EXPECT_EQ(provider.GetSaveFilter(),
            "Растры Windows (*.bmp)|*.bmp|Растры TIFF (*.tif; *.tiff)|*.tif; *.tiff");
  EXPECT_EQ(provider.SaveFormatByExt("/a/scan.bmp"), TRasterFormat::Bmp);
  for (const char* name : {"scan.tif", "SCAN.TIFF", "x.bmp/scan.Tif"})
    EXPECT_EQ(provider.SaveFormatByExt(name), TRasterFormat::Tiff) << name;
  for (const char* name : {"scan.png", "scan.jpg", "scan.pdf", "scan", "scan.gif"})
    EXPECT_FALSE(provider.SaveFormatByExt(name)) << name;
  EXPECT_EQ(provider.FindFormatByExt("scan.jpeg"), &TGdalFile::Create);
  // Only a PDF is opened by page.
  EXPECT_TRUE(provider.PagedByExt("/a/Plan.PDF"));
  for (const char* name : {"scan.tif", "scan.png", "scan.bmp", "pdf", "scan.pdf.bmp"})
    EXPECT_FALSE(provider.PagedByExt(name)) << name;
}

TEST(RasterFileProvider, FormatsAreFoundByExtensionIgnoringCaseAndBySubstring) {
  TLocalFileProvider provider;
  RegisterBmpFormat(&provider);
  provider.RegisterFormat("Другие", "*.bmx", &NoFile);
  for (const char* name : {"a.bmp", "A.BMP", "dir/x.Bmp", "x.BM", "x.b", "/t.tif/x.bmp"})
    EXPECT_EQ(provider.FindFormatByExt(name), &TBmpFile::Create) << name;
  EXPECT_EQ(provider.FindFormatByExt("x.bmx"), &NoFile);
  for (const char* name : {"noext", "dir.bmp/noext", "x.png", "x.bmpx"})
    EXPECT_EQ(provider.FindFormatByExt(name), nullptr) << name;
}

TEST(RasterFileProvider, OpeningANameWithoutAFormatNamesTheFileAndTheKindsThatOpen) {
  TBmpProvider provider;
  for (const char* name : {"/tmp/scan", "/tmp/scan.png"}) {
    EXPECT_EQ(MessageOf([&] { OpenRasterFile(&provider, name); }),
              QStringLiteral("Ошибка открытия растрового файла: не найден фильтр для работы с "
                             "файлом %1; открываются файлы *.bmp")
                  .arg(name));
  }
  TLocalFileProvider none;
  EXPECT_EQ(MessageOf([&] { OpenRasterFile(&none, "a.bmp"); }),
            "Ошибка открытия растрового файла: не найден фильтр для работы с файлом a.bmp");
  EXPECT_EQ(MessageOf([&] { OpenRasterFile(&provider, "/nonexistent/scan.bmp"); }),
            "Не удаётся открыть файл /nonexistent/scan.bmp: нет такого файла или папки");
}

TEST(RasterFileProvider, ReadPiecesScattersAFileIntoMemory) {
  QTemporaryDir dir;
  const QString name = dir.filePath("data.bin");
  QByteArray bytes(100000, '\0');
  for (int i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  WriteFile(name, bytes);
  TLocalFileProvider provider;
  const std::unique_ptr<THandleStream> stream = provider.OpenStream("test", name);

  // Neighbours, small gaps, a large gap, and more pieces than one system call takes.
  std::vector<TReadPiece> pieces;
  std::vector<std::vector<char>> buffers;
  int64_t offset = 0;
  for (int i = 0; i < 3000; ++i) {
    const int64_t size = 1 + i % 13;
    buffers.emplace_back(size);
    pieces.push_back({offset, size, nullptr});
    offset += size + (i % 5 == 0 ? 3 : 0) + (i == 1500 ? 20000 : 0);
  }
  for (size_t i = 0; i < pieces.size(); ++i) pieces[i].Dest = buffers[i].data();
  ASSERT_LT(offset, bytes.size());
  provider.ReadPieces(*stream, pieces);
  for (size_t i = 0; i < pieces.size(); ++i)
    ASSERT_EQ(QByteArray(buffers[i].data(), buffers[i].size()),
              bytes.mid(pieces[i].FileOffset, pieces[i].Size))
        << i;

  char tail[10];
  EXPECT_THROW(provider.ReadPieces(*stream, {{bytes.size() - 5, 10, tail}}), EReadError);
}
