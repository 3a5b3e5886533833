#include "GdalFiles.h"

#include "GdalLibrary.h"
#include "RasterManagers.h"
#include "RecArrays.h"
#include "StoredRows.h"
#include "Workers.h"

#include <gdal.h>

#include <cmath>

namespace {

const char* const kDrivers[] = {"GTiff", "PNG", "JPEG", "PDF", nullptr};

// Nothing beside the file is looked for or read: no side files, no listing of its folder.
char* const kNoSiblings[] = {nullptr};

// A list of GDAL's "NAME=value" options, ending with a null.
class TOptions {
 public:
  void Add(const QString& option) { FTexts.push_back(option.toUtf8()); }
  char** List() {
    FPointers.clear();
    for (QByteArray& text : FTexts) FPointers.push_back(text.data());
    FPointers.push_back(nullptr);
    return FPointers.data();
  }

 private:
  std::vector<QByteArray> FTexts;
  std::vector<char*> FPointers;
};

}  // namespace

std::unique_ptr<TRasterFile> TGdalFile::Create(TRasterFileProvider* provider) {
  return std::make_unique<TGdalFile>(provider);
}

TGdalFile::~TGdalFile() {
  CloseDataset();
}

void TGdalFile::Open(const QString& fileName) {
  UseGdal();
  FFileName = fileName;
  FStable = Provider()->OpenStableStream(QStringLiteral("TGdalFile.Open"), fileName);
  if (!FStable) FOwnStream = Provider()->OpenStream(QStringLiteral("TGdalFile.Open"), fileName);
  THandleStream& stream = FStable ? *FStable : *FOwnStream;
  FName = std::make_unique<TGdalStreamName>(stream, fileName);

  TGdalSource source;
  source.FileName = fileName;
  source.Page = OpenOptions().Page;
  source.Dpi = OpenOptions().Dpi;
  ClearGdalError();
  const GDALDriverH driver =
      GDALIdentifyDriverEx(FName->Path().constData(), GDAL_OF_RASTER, kDrivers, kNoSiblings);
  if (!driver)
    throw Exception(QStringLiteral("Ошибка открытия растрового файла %1: %2")
                        .arg(fileName, WithGdalError(QStringLiteral(
                                           "файл не читается как растр TIFF, PNG, JPEG или PDF"))));
  source.Driver = QString::fromUtf8(GDALGetDriverShortName(driver));
  if (source.Driver == QLatin1String("GTiff") && stream.Size() >= 4) {
    uint8_t magic[4];
    stream.ReadBufferAt(0, magic, sizeof magic);
    // Classic TIFF has version 42 after the byte order mark, BigTIFF 43.
    source.BigTiff = magic[2] == 43 || magic[3] == 43;
  }
  OpenDataset(source);
  FWidth = GDALGetRasterXSize(FDataset);
  FHeight = GDALGetRasterYSize(FDataset);
  FProbe = ProbeGdalDataset(FDataset, source);

  // Reading by region pays when any block can be read alone, and when the blocks under one row of
  // parts stay in GDAL's cache while that row is read part by part.
  const int64_t sampleBytes = FProbe.Layout.SampleBits / 8;
  const int64_t rowOfParts = int64_t{PartSide(GetBitsPerPixel()) + FProbe.BlockHeight} * FWidth *
                             GDALGetRasterCount(FDataset) * sampleBytes;
  const bool tiled = FProbe.BlockWidth < FWidth;
  if (FProbe.BlocksApart && (tiled || rowOfParts <= kGdalCacheBytes / 2)) return;
  FSpool = std::make_unique<TRowSpool>(
      FWidth, FHeight, GetBitsPerPixel(), FProbe.BlockWidth, FProbe.BlockHeight,
      [this](int x, int y, int width, int height, uint8_t* rows, int64_t stride) {
        ReadRegion(x, y, width, height, rows, stride);
      });
}

void TGdalFile::OpenDataset(TGdalSource& source) {
  const auto raise = [&](const QString& cause) {
    throw Exception(QStringLiteral("Ошибка открытия растрового файла %1: %2")
                        .arg(FFileName, WithGdalError(cause)));
  };
  const unsigned flags = GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR;
  const QByteArray driver = source.Driver.toUtf8();
  const char* const onlyThis[] = {driver.constData(), nullptr};
  TOptions options;
  QByteArray path = FName->Path();
  if (source.Driver == QLatin1String("PDF")) {
    if (!(source.Dpi > 0) || !std::isfinite(source.Dpi))
      raise(QStringLiteral("неверное разрешение страницы: %1 точек на дюйм").arg(source.Dpi));
    options.Add(QStringLiteral("DPI=%1").arg(source.Dpi));
    options.Add(QStringLiteral("BANDS=3"));
  } else if (source.Driver == QLatin1String("GTiff") && TWorkers::Shared().Count() > 1) {
    // Blocks that one read needs are decoded on every core.
    options.Add(QStringLiteral("NUM_THREADS=%1").arg(TWorkers::Shared().Count()));
  }
  ClearGdalError();
  FDataset = GDALOpenEx(path.constData(), flags, onlyThis, options.List(), kNoSiblings);
  if (!FDataset) raise(QStringLiteral("файл повреждён или не читается"));
  if (source.Driver != QLatin1String("PDF")) return;
  // The pages of a document are its subdatasets; a document of one page has none.
  int pages = 0;
  while (GDALGetMetadataItem(
      FDataset, QByteArray("SUBDATASET_" + QByteArray::number(pages + 1) + "_NAME").constData(),
      "SUBDATASETS"))
    ++pages;
  source.Pages = std::max(pages, 1);
  if (source.Page < 1 || source.Page > source.Pages)
    raise(QStringLiteral("страницы %1 нет, в документе страниц: %2")
              .arg(source.Page)
              .arg(source.Pages));
  if (source.Page == 1) return;
  CloseDataset();
  path = "PDF:" + QByteArray::number(source.Page) + ':' + FName->Path();
  ClearGdalError();
  FDataset = GDALOpenEx(path.constData(), flags, onlyThis, options.List(), kNoSiblings);
  if (!FDataset) raise(QStringLiteral("страница %1 не читается").arg(source.Page));
}

void TGdalFile::CloseDataset() {
  const std::lock_guard lock(FLock);
  if (FDataset) GDALClose(FDataset);
  FDataset = nullptr;
}

void TGdalFile::RaiseReadError() const {
  throw Exception(QStringLiteral("Ошибка чтения растрового файла %1: %2")
                      .arg(FFileName, WithGdalError(QStringLiteral("файл повреждён"))));
}

void TGdalFile::ReadRegion(int x, int y, int width, int height, uint8_t* rows, int64_t stride) {
  const std::lock_guard lock(FLock);
  CheckInternal(FDataset != nullptr, QStringLiteral("TGdalFile.ReadRegion"),
                QStringLiteral("файл уже закрыт"));
  ClearGdalError();
  if (!ReadSamples(FDataset, FProbe.Layout, x, y, width, height, rows, stride, FScratch))
    RaiseReadError();
  // Bytes read after a failed copy may be another program's.
  if (FStable) FStable->CheckIntact();
}

void TGdalFile::Spool(int rowEnd) {
  FSpool->Fill(rowEnd);
  if (!FSpool->Full()) return;
  // Every row is in the spool now: the file, its lease and GDAL's memory for it are let go.
  CloseDataset();
  const std::lock_guard lock(FLock);
  FName.reset();
  FOwnStream.reset();
  FStable.reset();
}

std::unique_ptr<TRasterFileDib> TGdalFile::GetDibSection(int x, int y, int width, int height) {
  std::vector<std::unique_ptr<TRasterFileDib>> dibs = GetDibBand(y, height, {{x, width}});
  return std::move(dibs.front());
}

std::vector<std::unique_ptr<TRasterFileDib>> TGdalFile::GetDibBand(
    int y, int height, const std::vector<TDibColumn>& columns) {
  if (FSpool) {
    Spool(y + height);
    return FSpool->Rows().ReadBand(*Provider(), FSpool->Stream(), FProbe.Header, y, height,
                                   columns);
  }
  CheckInternal(y >= 0 && height > 0 && y <= FHeight - height,
                QStringLiteral("TGdalFile.GetDibSection"), QStringLiteral("строки вне растра"));
  std::vector<std::unique_ptr<TRasterFileDib>> dibs;
  for (const TDibColumn& column : columns) {
    CheckInternal(column.Left >= 0 && column.Width > 0 && column.Left <= FWidth - column.Width,
                  QStringLiteral("TGdalFile.GetDibSection"), QStringLiteral("столбцы вне растра"));
    auto dib = std::make_unique<TRasterFileDib>();
    dib->Header = FProbe.Header;
    TBitmapInfoHeader* info = InfoHeaderOf(dib->Header.data());
    info->biWidth = column.Width;
    info->biHeight = height;
    const int64_t rowSize = DibRowSize(column.Width, GetBitsPerPixel());
    dib->ImageSize = rowSize * height;
    dib->Bits = TPixelBuffer(dib->ImageSize);
    ReadRegion(column.Left, y, column.Width, height, dib->Bits.Data(), rowSize);
    // A DIB stores its bottom row first.
    ReverseRows(dib->Bits.Data(), rowSize, height);
    dibs.push_back(std::move(dib));
  }
  return dibs;
}

void TGdalFile::ReadAhead(int y, int height) {
  if (FSpool) Spool(y + height);
}

bool TGdalFile::Stable() const {
  // The spool is private: nobody else changes it.
  return FSpool || FStable;
}

bool TGdalFile::CopyRowsTo(int y, int height, THandleStream& target, int64_t targetOffset) {
  if (!FSpool) return false;
  Spool(y + height);
  return FSpool->Rows().CopyRowsTo(FSpool->Stream(), y, height, target, targetOffset);
}

TPixelRows TGdalFile::ReadRows(int y, int height, std::vector<uint8_t>& buffer) {
  if (FSpool) {
    Spool(y + height);
    return FSpool->Rows().ReadRows(FSpool->Stream(), y, height, buffer);
  }
  CheckInternal(y >= 0 && height > 0 && y <= FHeight - height, QStringLiteral("TGdalFile.ReadRows"),
                QStringLiteral("строки вне растра"));
  const int64_t rowSize = DibRowSize(FWidth, GetBitsPerPixel());
  buffer.resize(static_cast<size_t>(rowSize * height));
  ReadRegion(0, y, FWidth, height, buffer.data(), rowSize);
  return {buffer.data(), rowSize};
}

TPixelRows TGdalFile::MappedRows() {
  if (!FSpool) return {};
  const uint8_t* map = FSpool->Mapped();
  return map ? FSpool->Rows().Mapped(map) : TPixelRows{};
}

void TGdalFile::ReleaseMappedRows() {
  if (FSpool) FSpool->ReleaseMapped();
}

void TGdalFile::GetHeaderInfo(QStringList& lines) {
  lines << FProbe.HeaderInfo;
}

void RegisterGdalFormats(TRasterFileProvider* provider) {
  provider->RegisterFormat(QStringLiteral("Растры TIFF"), QStringLiteral("*.tif; *.tiff"),
                           &TGdalFile::Create, TRasterFormat::Tiff);
  provider->RegisterFormat(QStringLiteral("Растры PNG"), QStringLiteral("*.png"),
                           &TGdalFile::Create);
  provider->RegisterFormat(QStringLiteral("Растры JPEG"), QStringLiteral("*.jpg; *.jpeg"),
                           &TGdalFile::Create);
  provider->RegisterFormat(QStringLiteral("Документы PDF"), QStringLiteral("*.pdf"),
                           &TGdalFile::Create);
}
