#pragma once

#include "RasterFiles.h"
#include "StoredRows.h"

// An uncompressed Windows BMP file: 1, 4, 8, 16, 24 or 32 bits per pixel, bit fields for 16 and
// 32. Open checks everything that reading relies on against the file's length and brings the
// header into the 40-byte form with its colour table (OS/2 and V2 to V5 headers included), so
// the rest of the system sees one layout.
class TBmpFile : public TRasterFile {
 public:
  using TRasterFile::TRasterFile;
  static std::unique_ptr<TRasterFile> Create(TRasterFileProvider* provider);

  void Open(const QString& fileName) override;
  int GetWidth() override;
  int GetHeight() override;
  int GetBitsPerPixel() override;
  std::unique_ptr<TRasterFileDib> GetDibSection(int x, int y, int width, int height) override;
  std::vector<std::unique_ptr<TRasterFileDib>> GetDibBand(
      int y, int height, const std::vector<TDibColumn>& columns) override;
  void GetHeaderInfo(QStringList& lines) override;
  TRasterFileFormat Format() override;
  bool Stable() const override { return FStable != nullptr; }
  bool CopyRowsTo(int y, int height, THandleStream& target, int64_t targetOffset) override;
  TPixelRows ReadRows(int y, int height, std::vector<uint8_t>& buffer) override;
  TPixelRows MappedRows() override;
  void CheckMappedRows() override;
  void ReleaseMappedRows() override;

  // The info header in its 40-byte form, with the stored sign of the height, followed by the bit
  // fields (when compressed with them) and the colour table as far as the file holds it.
  const std::vector<uint8_t>& Header() const { return FHeader; }
  const QString& FileName() const { return FFileName; }

 private:
  const TBitmapInfoHeader& Info() const { return *InfoHeaderOf(FHeader.data()); }

  QString FFileName;
  // Held open from Open on when the provider can keep the file's bytes as they were. Otherwise the
  // file is held open as it is (FOpen): each read is then checked afterwards for a change by
  // another program, so that what was read comes from one version of the file. FStream is the
  // one of the two that is open; every read goes through it.
  std::unique_ptr<TStableFile> FStable;
  std::unique_ptr<THandleStream> FOpen;
  THandleStream* FStream = nullptr;
  std::vector<uint8_t> FHeader;
  TStoredRows FRows;  // the pixel rows
};

void RegisterBmpFormat(TRasterFileProvider* provider);

// What a BMP that a raster of that depth saves is, for the user.
TRasterFileFormat WrittenBmpFormat(int bitsPerPixel);
