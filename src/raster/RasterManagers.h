#pragma once

#include "PartCaches.h"
#include "PartPictures.h"
#include "RasterFiles.h"
#include "RasterParts.h"
#include "StatusInfo.h"
#include "Types.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TCanvas;
class TDeviceInfo;

// The side of the square parts of a raster of that depth: about 204800 bytes of pixels each.
int PartSide(int bitsPerPixel);

// The pixels of a raster being saved that are made while they are written, band of rows by band
// of rows from the bottom of the file: a raster of the saving manager's depth, colour table and
// resolution, of a size of its own.
class TRowSource {
 public:
  virtual ~TRowSource() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // Puts the rows top .. top + count - 1 into rows, the bottom one first, rowSize bytes apart and
  // each padded with zeros. write, when set, writes the band before: Fill runs it beside its own
  // work, on any thread, and it has ended when Fill returns or raises.
  virtual void Fill(int top, int count, uint8_t* rows, int64_t rowSize,
                    const std::function<void()>& write) = 0;
};

// The open raster document: size, depth, header with colour table and resolution, and the pixels
// cut into parts, of which only the cache's budget stays in memory. Long operations report their
// name and percentage through the status info.
class TRasterManager {
 public:
  TRasterManager(TRasterFileProvider* provider, int64_t cacheSize, TStatusInfo* statusInfo);
  ~TRasterManager();
  TRasterManager(const TRasterManager&) = delete;
  TRasterManager& operator=(const TRasterManager&) = delete;

  // Reads a raster through the provider; the options choose the page of a PDF and its resolution.
  void Open(const QString& fileName, const TRasterOpenOptions& options = {});
  // Writes the raster in the format of the options (a bottom-up BMP by default, or a TIFF): into a
  // temporary file of its own beside the target ("NAME.XXXXXX.~bm", "NAME.XXXXXX.~ti"), made
  // durable, then renamed over the target. On failure the target is as it was and the temporary
  // file is gone.
  void Save(const QString& fileName, const TSaveOptions& options = {});
  // Writes the rows of the source as Save writes a raster as a BMP, with this raster's header,
  // colour table and resolution, showing the operation's name and the rows written. Neither the
  // raster nor its file name changes.
  void SaveRows(const QString& fileName, TRowSource& source, const QString& operation);
  // Makes this empty manager a copy of the source, with its own swap file and budget.
  void CopyFrom(TRasterManager& source);
  // Keeps only the rectangle (right and bottom exclusive). False when there is nothing to cut:
  // an empty rectangle, one that holds the whole raster, or one wholly outside it. A clip that
  // fails or is cancelled leaves the raster as it was.
  bool Clip(const TRect& rect);
  // The rectangle that Clip(rect) keeps; false, and kept as it was, when it would cut nothing.
  bool ClipRect(const TRect& rect, TRect& kept) const;
  // Makes this empty manager the rectangle of the source, as Clip would leave the source, and
  // leaves the source as it is, also when the clip fails or is cancelled. False, and this manager
  // still empty, when there is nothing to cut.
  bool ClipFrom(TRasterManager& source, const TRect& rect);
  // Lets every part's pixels leave memory (changed ones into the swap file) and the pictures keep
  // only their reduced copies: a raster kept aside, for an undo, costs no memory of the cache.
  void SetAside();
  // Paints the parts that meet the device's clip area, through its projection (RasterDraw.cpp).
  void Draw(TDeviceInfo& device, TCanvas& canvas);
  // The pictures that drawing keeps of the parts, made on first use with the budgets given then.
  // Made before Open, they get their reduced copies while the parts are read, and a first view of
  // the whole raster is quick.
  TPartPictures& Pictures(int64_t coarseBudget = TPartPictures::kCoarseBudget,
                          int64_t fineBudget = TPartPictures::kFineBudget);

  // The header with the whole raster's size written in: valid until the next header call.
  uint8_t* GetHeader();
  int HeaderSize() const { return static_cast<int>(FHeader.size()); }
  // The shared header buffer without rewriting it.
  uint8_t* HeaderData() { return FHeader.data(); }

  // Dots per metre; a header that states none gives the screen's resolution, not stored.
  int XPelsPerMeter() const;
  int YPelsPerMeter() const;
  void SetXPelsPerMeter(int value);
  void SetYPelsPerMeter(int value);

  TRasterPart* GetPart(int column, int row) const {
    return FParts[static_cast<size_t>(column) + static_cast<size_t>(row) * FPartsAcross].get();
  }
  // The part holding the pixel; a pixel outside the raster is refused.
  TRasterPart* PartAt(int x, int y) const {
    if (static_cast<unsigned>(x) >= static_cast<unsigned>(FWidth) ||
        static_cast<unsigned>(y) >= static_cast<unsigned>(FHeight))
      RaisePointOutside(x, y);
    return GetPart(x / FSide, y / FSide);
  }
  uint32_t GetPixel(int x, int y) { return PartAt(x, y)->GetPixel(x, y); }
  void SetPixel(int x, int y, uint32_t colour) { PartAt(x, y)->SetPixel(x, y, colour); }

  // The colour table of indexed rasters (1, 4 and 8 bits), in both directions.
  const TPaletteLookup& Palette() const { return FPalette; }

  TRasterFileProvider* Provider() const { return FProvider; }
  TStatusInfo* StatusInfo() const { return FStatusInfo; }
  const QString& FileName() const { return FFileName; }
  // The format of the file the raster was read from or last saved to, and what reading changed.
  const TRasterFileFormat& FileFormat() const { return FFileFormat; }
  // The name the document goes by, for a manager that takes another's place.
  void SetFileName(const QString& fileName) { FFileName = fileName; }
  int64_t CacheSize() const { return FCacheSize; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int BitsPerPixel() const { return FBitsPerPixel; }
  bool BottomUp() const { return FBottomUp; }
  int Side() const { return FSide; }
  int PartsAcross() const { return FPartsAcross; }
  int PartsDown() const { return FPartsDown; }
  const TRasterPartList& Parts() const { return FParts; }
  TPartCache& Cache() { return FCache; }
  // The file the pixels were read from, while it is stable (see TRasterFile::Stable) and a part
  // still holds its pixels; none otherwise.
  const std::shared_ptr<TRasterFile>& Source() const { return FSource; }
  // The pixels of a part whose pixels are the source file's, read again from that file.
  std::unique_ptr<TRasterFileDib> ReadSourcePixels(const TRasterPart& part);

  [[noreturn]] static void RaisePointOutside(int x, int y);

 private:
  TBitmapInfoHeader& Info() const;
  void SetHeader(std::vector<uint8_t> header);
  void SetSize(int width, int height);
  // The name, depth and header of the source, with its resolution.
  void TakeHeaderOf(TRasterManager& source);
  // The part of the rectangle within the raster, when the rectangle cuts anything off; a depth
  // without colour access is refused then.
  bool KeptRect(const TRect& rect, TRect& kept) const;
  int PartWidth(int column) const;
  int PartHeight(int row) const;
  // The end of the band of parts from firstColumn whose pixels stay within the band bound.
  int BandEnd(int firstColumn, int rows) const;
  void OpenRowOfParts(TRasterFile& file, int row, bool stable);
  // Writes the file header and the raster's header for a raster of that size; the offset of the
  // pixels follows.
  int64_t WriteHeaders(THandleStream& file, int width, int height);
  void WriteRows(THandleStream& file, int64_t bitsOffset);
  // Gives this raster the other's size and pixels (its parts, their cache and swap file, its
  // source file), and the other this one's.
  void SwapPixels(TRasterManager& other);
  // Fills this raster, made empty at the rectangle's size, with the source's pixels there.
  void CopyRect(TRasterManager& source, const TRect& rect);
  // Writes a row of parts at the offset straight from the source file, when it can.
  bool CopyRowsFromSource(int row, THandleStream& file, int64_t offset);

  TRasterFileProvider* FProvider;
  int64_t FCacheSize;
  TStatusInfo* FStatusInfo;
  QString FFileName;
  TRasterFileFormat FFileFormat;
  int FWidth = 0;
  int FHeight = 0;
  int FBitsPerPixel = 0;
  std::vector<uint8_t> FHeader;
  TPaletteLookup FPalette;
  bool FBottomUp = true;
  int FSide = 0;
  int FPartsAcross = 0;
  int FPartsDown = 0;
  // Declared before the parts: a part takes itself off the cache's list when destroyed.
  TPartCache FCache;
  TRasterPartList FParts;
  std::shared_ptr<TRasterFile> FSource;
  std::unique_ptr<TPartPictures> FPictures;
};
