#include "GdalFiles.h"

#include "GdalLibrary.h"
#include "ImageResolutions.h"
#include "RecArrays.h"
#include "Workers.h"

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
  CloseDatasets();
}

void TGdalFile::Open(const QString& fileName) {
  FFileName = fileName;
  FStable = Provider()->OpenStableStream(QStringLiteral("TGdalFile.Open"), fileName);
  if (!FStable) FOwnStream = Provider()->OpenStream(QStringLiteral("TGdalFile.Open"), fileName);
  FStream = FStable ? FStable.get() : FOwnStream.get();
  THandleStream& stream = *FStream;
  FName = std::make_unique<TGdalStreamName>(stream, fileName);

  TGdalSource source;
  source.FileName = fileName;
  source.Page = OpenOptions().Page;
  source.Dpi = OpenOptions().Dpi;
  ClearGdalError();
  const GDALDriverH driver =
      Gdal().GDALIdentifyDriverEx(FName->Path().constData(), GDAL_OF_RASTER, kDrivers, kNoSiblings);
  if (!driver)
    throw Exception(QStringLiteral("Ошибка открытия растрового файла %1: %2")
                        .arg(fileName, WithGdalError(QStringLiteral(
                                           "файл не читается как растр TIFF, PNG, JPEG или PDF"))));
  source.Driver = QString::fromUtf8(Gdal().GDALGetDriverShortName(driver));
  if (source.Driver == QLatin1String("GTiff") && stream.Size() >= 4) {
    uint8_t magic[4];
    stream.ReadBufferAt(0, magic, sizeof magic);
    // Classic TIFF has version 42 after the byte order mark, BigTIFF 43.
    source.BigTiff = magic[2] == 43 || magic[3] == 43;
  }
  source.Stated = StatedResolution(stream);
  OpenDatasets(source);
  FScratch.resize(FDatasets.size());
  const TGdalDataset first = FDatasets.front();
  FWidth = Gdal().GDALGetRasterXSize(first);
  FHeight = Gdal().GDALGetRasterYSize(first);
  FProbe = ProbeGdalDataset(first, source);
  FSpool = std::make_unique<TRowSpool>(
      FWidth, FHeight, GetBitsPerPixel(), FProbe.BlockWidth, FProbe.BlockHeight,
      FDatasets.size() > 1,
      [this](int reader, int x, int y, int width, int height, uint8_t* rows, int64_t stride) {
        ReadRegion(reader, x, y, width, height, rows, stride);
      },
      // Bytes read after a failed copy, or from a file without a lease, may be another program's.
      [this] { FStream->CheckIntact(); });
}

void TGdalFile::OpenDatasets(TGdalSource& source) {
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
  }
  const auto open = [&] {
    ClearGdalError();
    const TGdalDataset dataset =
        Gdal().GDALOpenEx(path.constData(), flags, onlyThis, options.List(), kNoSiblings);
    if (dataset) FDatasets.push_back(dataset);
    return dataset != nullptr;
  };
  if (!open()) raise(QStringLiteral("файл повреждён или не читается"));
  if (source.Driver == QLatin1String("GTiff")) {
    // The blocks of a TIFF can be read in any order: each core decodes rows of its own, through
    // a dataset of its own.
    while (static_cast<int>(FDatasets.size()) < TWorkers::Shared().Count())
      if (!open()) raise(QStringLiteral("файл повреждён или не читается"));
    return;
  }
  if (source.Driver != QLatin1String("PDF")) return;
  // The pages of a document are its subdatasets; a document of one page has none.
  int pages = 0;
  while (Gdal().GDALGetMetadataItem(
      FDatasets.front(),
      QByteArray("SUBDATASET_" + QByteArray::number(pages + 1) + "_NAME").constData(),
      "SUBDATASETS"))
    ++pages;
  source.Pages = std::max(pages, 1);
  if (source.Page < 1 || source.Page > source.Pages)
    raise(QStringLiteral("страницы %1 нет, в документе страниц: %2")
              .arg(source.Page)
              .arg(source.Pages));
  if (source.Page == 1) return;
  CloseDatasets();
  path = "PDF:" + QByteArray::number(source.Page) + ':' + FName->Path();
  if (!open()) raise(QStringLiteral("страница %1 не читается").arg(source.Page));
}

void TGdalFile::CloseDatasets() {
  const std::lock_guard lock(FLock);
  for (const TGdalDataset dataset : FDatasets) Gdal().GDALClose(dataset);
  FDatasets.clear();
}

void TGdalFile::RaiseReadError() const {
  throw Exception(QStringLiteral("Ошибка чтения растрового файла %1: %2")
                      .arg(FFileName, WithGdalError(QStringLiteral("файл повреждён"))));
}

void TGdalFile::ReadRegion(int reader, int x, int y, int width, int height, uint8_t* rows,
                           int64_t stride) {
  // The spool asks on one thread at a time, or with a thread of the workers' each: a dataset
  // serves one reader.
  const size_t index = FDatasets.size() > 1 ? static_cast<size_t>(reader) : 0;
  CheckInternal(index < FDatasets.size(), QStringLiteral("TGdalFile.ReadRegion"),
                QStringLiteral("файл уже закрыт"));
  ClearGdalError();
  if (!ReadSamples(FDatasets[index], FProbe.Layout, x, y, width, height, rows, stride,
                   FScratch[index]))
    RaiseReadError();
}

void TGdalFile::Spool(int rowEnd) {
  FSpool->Fill(rowEnd);
  if (!FSpool->Full()) return;
  // Every row is in the spool now: the file, its lease and GDAL's memory for it are let go.
  CloseDatasets();
  const std::lock_guard lock(FLock);
  FName.reset();
  FStream = nullptr;
  FOwnStream.reset();
  FStable.reset();
}

std::unique_ptr<TRasterFileDib> TGdalFile::GetDibSection(int x, int y, int width, int height) {
  std::vector<std::unique_ptr<TRasterFileDib>> dibs = GetDibBand(y, height, {{x, width}});
  return std::move(dibs.front());
}

std::vector<std::unique_ptr<TRasterFileDib>> TGdalFile::GetDibBand(
    int y, int height, const std::vector<TDibColumn>& columns) {
  Spool(y + height);
  return FSpool->Rows().ReadBand(*Provider(), FSpool->Stream(), FProbe.Header, y, height, columns);
}

void TGdalFile::ReadAhead(int y, int height) {
  Spool(y + height);
}

bool TGdalFile::CopyRowsTo(int y, int height, THandleStream& target, int64_t targetOffset) {
  Spool(y + height);
  return FSpool->Rows().CopyRowsTo(FSpool->Stream(), y, height, target, targetOffset);
}

TPixelRows TGdalFile::ReadRows(int y, int height, std::vector<uint8_t>& buffer) {
  Spool(y + height);
  return FSpool->Rows().ReadRows(FSpool->Stream(), y, height, buffer);
}

TPixelRows TGdalFile::MappedRows() {
  const uint8_t* map = FSpool->Mapped();
  return map ? FSpool->Rows().Mapped(map) : TPixelRows{};
}

void TGdalFile::ReleaseMappedRows() {
  FSpool->ReleaseMapped();
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
                           &TGdalFile::Create, std::nullopt, true);
}
