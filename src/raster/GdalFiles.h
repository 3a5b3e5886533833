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
// The file is decoded once, from the top down in blocks of its own, into a private temporary
// file of rows, as the rows are first wanted (the raster's open asks for them in order, under its
// progress); every part is then read from there as from a stable BMP: by rectangle, whole,
// copied or mapped, cheaply and on every core. Decoding a compressed block for each part that
// meets it, again for each reader, would decode the file many times over: calibration alone
// reads every part. The memory taken stays within GDAL's bounded block cache and a few
// megabytes; the temporary file takes as much disk as the pixels, as a swap file would. Once all
// rows are there the file is let go.
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
  // The rows are private: nobody else changes them.
  bool Stable() const override { return true; }
  bool CopyRowsTo(int y, int height, THandleStream& target, int64_t targetOffset) override;
  TPixelRows ReadRows(int y, int height, std::vector<uint8_t>& buffer) override;
  TPixelRows MappedRows() override;
  void ReleaseMappedRows() override;

 private:
  // Opens GDAL's datasets on the named stream: one for each core for a TIFF, one for the others;
  // for a PDF, counts the pages and opens the one asked.
  void OpenDatasets(TGdalSource& source);
  // Reads a rectangle of the file's pixels into DIB rows, top row first, for the spool's reader.
  void ReadRegion(int reader, int x, int y, int width, int height, uint8_t* rows, int64_t stride);
  // Decodes the rows before rowEnd into the spool; lets the file go once all are there.
  void Spool(int rowEnd);
  void CloseDatasets();
  [[noreturn]] void RaiseReadError() const;

  QString FFileName;
  int FWidth = 0;
  int FHeight = 0;
  TGdalProbe FProbe;
  // The file as the provider opened it, kept stable where it can be (so that the rows decoded
  // belong to one state of it), and named for GDAL; all three go once every row is decoded.
  std::unique_ptr<TStableFile> FStable;
  std::unique_ptr<THandleStream> FOwnStream;
  THandleStream* FStream = nullptr;  // the one of the two that is open
  std::unique_ptr<TGdalStreamName> FName;
  // The datasets are closed, and the file let go, while another thread may still ask for rows
  // that are there.
  std::mutex FLock;
  std::vector<TGdalDataset> FDatasets;
  std::vector<std::vector<uint8_t>> FScratch;  // one for each dataset
  std::unique_ptr<TRowSpool> FSpool;
};

// Registers TIFF (written too), PNG, JPEG and PDF with the provider.
void RegisterGdalFormats(TRasterFileProvider* provider);
