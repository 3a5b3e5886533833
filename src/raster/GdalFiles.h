#pragma once

#include "GdalProbes.h"
#include "GdalStreams.h"
#include "RasterFiles.h"
#include "RowSpools.h"

#include <memory>
#include <mutex>

// A raster file that GDAL reads: TIFF and BigTIFF (any compression GDAL knows, strips or tiles),
// PNG, JPEG, and a page of a PDF drawn at the resolution of the open options. Its pixels come as
// DIBs of 1, 8 or 24 bits like those of a BMP (16-bit samples scaled to 8 bits, transparency left
// out), with the file's resolution in the header.
//
// A TIFF whose blocks can be read in any order is read by region, the blocks a rectangle needs,
// as they are wanted; through a provider that keeps the file stable its parts wait there. Any
// other file is decoded once, from the top down, into a private temporary file of rows, from
// which every part is then read as from a stable BMP. Either way the memory taken stays within
// GDAL's bounded block cache and a few megabytes.
class TGdalFile : public TRasterFile {
 public:
  using TRasterFile::TRasterFile;
  ~TGdalFile() override;
  static std::unique_ptr<TRasterFile> Create(TRasterFileProvider* provider);

  void Open(const QString& fileName) override;
  int GetWidth() override { return FWidth; }
  int GetHeight() override { return FHeight; }
  int GetBitsPerPixel() override { return FProbe.Layout.BitsPerPixel; }
  std::unique_ptr<TRasterFileDib> GetDibSection(int x, int y, int width, int height) override;
  std::vector<std::unique_ptr<TRasterFileDib>> GetDibBand(
      int y, int height, const std::vector<TDibColumn>& columns) override;
  void GetHeaderInfo(QStringList& lines) override;
  TRasterFileFormat Format() override { return FProbe.Format; }
  void ReadAhead(int y, int height) override;
  bool Stable() const override;
  bool CopyRowsTo(int y, int height, THandleStream& target, int64_t targetOffset) override;
  TPixelRows ReadRows(int y, int height, std::vector<uint8_t>& buffer) override;
  TPixelRows MappedRows() override;
  void ReleaseMappedRows() override;

  // Whether the file is read by region rather than decoded into rows of its own.
  bool ReadsByRegion() const { return !FSpool; }

 private:
  // Opens GDAL's dataset on the named stream; for a PDF, counts the pages and opens the one asked.
  void OpenDataset(TGdalSource& source);
  void ReadRegion(int x, int y, int width, int height, uint8_t* rows, int64_t stride);
  // Decodes the rows before rowEnd into the spool; lets the file go once all are there.
  void Spool(int rowEnd);
  void CloseDataset();
  [[noreturn]] void RaiseReadError() const;

  QString FFileName;
  int FWidth = 0;
  int FHeight = 0;
  TGdalProbe FProbe;
  // The file as the provider opened it: kept stable where it can be, and named for GDAL.
  std::unique_ptr<TStableFile> FStable;
  std::unique_ptr<THandleStream> FOwnStream;
  std::unique_ptr<TGdalStreamName> FName;
  // GDAL's dataset serves one caller at a time.
  std::mutex FLock;
  TGdalDataset FDataset = nullptr;
  std::vector<uint8_t> FScratch;
  std::unique_ptr<TRowSpool> FSpool;
};

// Registers TIFF (written too), PNG, JPEG and PDF with the provider.
void RegisterGdalFormats(TRasterFileProvider* provider);
