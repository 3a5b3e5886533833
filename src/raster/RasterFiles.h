#pragma once

#include "FileUtils.h"
#include "Streams.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The pixel model of every raster: a device-independent bitmap, i.e. a 40-byte
// BITMAPINFOHEADER followed by the colour table (RGBQUAD entries: blue, green, red, reserved), and
// rows of pixels padded to 4 bytes. All integers are little-endian, as on the machines we run on.
#pragma pack(push, 1)
struct TBitmapInfoHeader {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;  // positive: the first stored row is the bottom one
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(TBitmapInfoHeader) == 40);

enum TBitmapCompression : uint32_t {
  BI_RGB = 0,
  BI_RLE8 = 1,
  BI_RLE4 = 2,
  BI_BITFIELDS = 3,
  BI_JPEG = 4,
  BI_PNG = 5,
  BI_ALPHABITFIELDS = 6,
};

constexpr int BitmapInfoHeaderSize = 40;

// The info header at the start of a header block. The struct is packed, so any address will do.
inline TBitmapInfoHeader* InfoHeaderOf(uint8_t* header) {
  return reinterpret_cast<TBitmapInfoHeader*>(header);
}
inline const TBitmapInfoHeader* InfoHeaderOf(const uint8_t* header) {
  return reinterpret_cast<const TBitmapInfoHeader*>(header);
}

// Bytes of one stored row: the row's bits rounded up to a multiple of 32.
inline int64_t DibRowSize(int64_t width, int bitsPerPixel) {
  return (width * bitsPerPixel + 31) / 32 * 4;
}

// Gives a pixel buffer's block back to where it came from.
struct TPixelBufferFree {
  size_t Bytes = 0;
  void operator()(uint8_t* p) const;
};

// A block of pixel memory aligned to 64 bytes, zero-filled unless its owner fills every byte
// itself: what the platform's DIB section is here. Allocation failure raises the operating-system
// error for lack of memory.
class TPixelBuffer {
 public:
  enum class TFill { Zeroed, Uninitialised };

  TPixelBuffer() = default;
  explicit TPixelBuffer(int64_t size, TFill fill = TFill::Zeroed);

  uint8_t* Data() const { return FData.get(); }
  int64_t Size() const { return FSize; }
  explicit operator bool() const { return FData != nullptr; }
  void Reset() {
    FData.reset();
    FSize = 0;
  }

 private:
  std::unique_ptr<uint8_t, TPixelBufferFree> FData;
  int64_t FSize = 0;
};

// A rectangle of a raster as a DIB, owned by whoever asked for it.
struct TRasterFileDib {
  std::vector<uint8_t> Header;  // info header and colour table
  TPixelBuffer Bits;            // rows bottom first
  int PixelOffset = 0;  // how far the first column lies left of the asked X (byte alignment)
  int64_t ImageSize = 0;

  int HeaderSize() const { return static_cast<int>(Header.size()); }
};

// Stored rows of pixels read in place, in the raster's own format: raster row y starts at
// Row(y), and a negative stride steps back (bottom-up rows).
struct TPixelRows {
  const uint8_t* Rows = nullptr;  // raster row 0
  int64_t Stride = 0;

  const uint8_t* Row(int y) const { return Rows + y * Stride; }
  explicit operator bool() const { return Rows != nullptr; }
};

// One column of a band of DIBs: its left pixel and width.
struct TDibColumn {
  int Left = 0;
  int Width = 0;
};

class TRasterFileProvider;

// The formats a raster can be written in.
enum class TRasterFormat { Bmp, Tiff };

// How the pixels of a TIFF are compressed when it is written.
enum class TTiffCompression { Deflate, Lzw, None };

// What a save writes: the format and, for TIFF, the compression.
struct TSaveOptions {
  TRasterFormat Format = TRasterFormat::Bmp;
  TTiffCompression Compression = TTiffCompression::Deflate;
};

// What a file that holds drawn pages rather than pixels (PDF) is opened with: the page, and the
// resolution it is drawn at.
struct TRasterOpenOptions {
  int Page = 1;      // counted from 1
  double Dpi = 300;  // dots per inch
};

// A file's format as the user is told it.
struct TRasterFileFormat {
  QString Name;         // "BMP", "TIFF", "BigTIFF", "PNG", "JPEG", "PDF"
  QString Compression;  // "нет", "LZW", "Deflate", ...
  QString Layout;       // how the file stores its pixels: rows, strips, tiles, a drawn page
  QString Depth;        // the depth as stored, e.g. "RGB, 16 бит на канал"
  QStringList Notes;    // what reading changed, e.g. 16 bits per channel read as 8
  // The format a raster of this file is saved back in; none when it can only be read.
  std::optional<TRasterFormat> WrittenAs;
};

// A raster file of some format, read through its provider. Nothing stays open between calls.
class TRasterFile {
 public:
  explicit TRasterFile(TRasterFileProvider* provider) : FProvider(provider) {}
  virtual ~TRasterFile();
  TRasterFile(const TRasterFile&) = delete;
  TRasterFile& operator=(const TRasterFile&) = delete;

  TRasterFileProvider* Provider() const { return FProvider; }
  // What Open is to draw a page with; set before Open.
  const TRasterOpenOptions& OpenOptions() const { return FOpenOptions; }
  void SetOpenOptions(const TRasterOpenOptions& options) { FOpenOptions = options; }

  // Reads what the queries below need (for BMP the headers and the colour table).
  virtual void Open(const QString& fileName) = 0;
  virtual int GetWidth() = 0;
  virtual int GetHeight() = 0;  // always positive
  virtual int GetBitsPerPixel() = 0;
  // The pixel rectangle whose top-left pixel is (x, y), as a new bottom-up DIB.
  virtual std::unique_ptr<TRasterFileDib> GetDibSection(int x, int y, int width, int height) = 0;
  // The DIBs of several rectangles that share the rows y .. y + height - 1, one per column, left
  // to right. A format that can read such a band at once overrides it; here each DIB is asked for
  // in turn.
  virtual std::vector<std::unique_ptr<TRasterFileDib>> GetDibBand(
      int y, int height, const std::vector<TDibColumn>& columns);
  // Appends a readable description of the file's header, one field per line.
  virtual void GetHeaderInfo(QStringList& lines) = 0;
  // The format, its compression and layout, and what reading changed.
  virtual TRasterFileFormat Format() = 0;
  // The rows from y to y + height - 1 are wanted next, in the order of the file: a format that can
  // only decode its rows from the top reads them now, so that the time goes where the caller
  // reports progress. Others need nothing.
  virtual void ReadAhead(int /*y*/, int /*height*/) {}
  // Whether later reads are sure to see the pixels as they were at Open, however long this object
  // lives: then a copy of them kept elsewhere can be read again from here instead.
  virtual bool Stable() const { return false; }
  // Copies the stored rows y .. y + height - 1, bottom row first and padding included, straight
  // into the target at its offset, when the file stores them so and is stable; false (and nothing
  // written) otherwise.
  virtual bool CopyRowsTo(int y, int height, THandleStream& target, int64_t targetOffset);
  // The stored rows y .. y + height - 1, whole, read into the buffer: row k of the result is
  // raster row y + k. A format that reads them at once overrides it; here they come as a DIB.
  virtual TPixelRows ReadRows(int y, int height, std::vector<uint8_t>& buffer);
  // The file's stored rows in place, where the file is stable and the system maps it: the whole
  // width, unchanged and readable from any thread while this object lives. None otherwise. What
  // was read from them counts only once CheckMappedRows has passed afterwards.
  virtual TPixelRows MappedRows() { return {}; }
  // Raises when the mapped rows no longer hold the file's bytes as they were.
  virtual void CheckMappedRows() {}
  // Lets the system take back the memory of the mapped rows read so far.
  virtual void ReleaseMappedRows() {}

 private:
  TRasterFileProvider* FProvider;
  TRasterOpenOptions FOpenOptions;
};

// Constructs the reader of one format: the registry's class reference.
using TRasterFileClass = std::unique_ptr<TRasterFile> (*)(TRasterFileProvider* provider);

struct TRasterFileClassInfo {
  QString Description;  // shown in the file dialog, e.g. "Растры Windows"
  QString Mask;         // e.g. "*.bmp"
  QString UpperMask;    // the mask in upper case, for matching
  TRasterFileClass FileClass = nullptr;
  // The format files of this kind are written in; none for a kind that is only read.
  std::optional<TRasterFormat> WrittenAs;
  // Files of this kind hold drawn pages: they open with the page and the resolution of the open
  // options.
  bool Paged = false;
};

// Bytes of a file that land at a place in memory.
struct TReadPiece {
  int64_t FileOffset = 0;
  int64_t Size = 0;
  void* Dest = nullptr;
};

// The one place that opens raster files: it keeps the registry of formats, chooses a file with a
// dialog and opens read streams.
class TRasterFileProvider {
 public:
  TRasterFileProvider() = default;
  virtual ~TRasterFileProvider();
  TRasterFileProvider(const TRasterFileProvider&) = delete;
  TRasterFileProvider& operator=(const TRasterFileProvider&) = delete;

  // Lets the user choose a file; the name goes in as the proposal and comes out as the choice.
  virtual bool SelectFile(QString& fileName) = 0;
  // A read stream on the file; purpose names the caller for providers that report it. Its
  // CheckIntact raises, where the provider can tell, once another program has changed the file.
  virtual std::unique_ptr<THandleStream> OpenStream(const QString& purpose,
                                                    const QString& fileName) = 0;
  // A read stream that keeps showing the file's bytes as they were when it was opened, or none
  // when the provider cannot promise that.
  virtual std::unique_ptr<TStableFile> OpenStableStream(const QString& purpose,
                                                        const QString& fileName);
  // Reads the pieces, which must come in ascending file order and must not overlap. Neighbouring
  // pieces are read together in reads of about 128 KB; the file must hold every byte.
  void ReadPieces(THandleStream& stream, const std::vector<TReadPiece>& pieces);

  void RegisterFormat(const QString& description, const QString& mask, TRasterFileClass fileClass,
                      std::optional<TRasterFormat> writtenAs = std::nullopt, bool paged = false);
  const std::vector<TRasterFileClassInfo>& Formats() const { return FFormats; }
  // The open dialog's filter: "Text|mask|" pairs, all rasters first and all files last.
  QString GetFilter() const;
  // The save dialog's filter: a "Text|mask|" pair for each kind that can be written.
  QString GetSaveFilter() const;
  // The first format whose mask holds the name's extension (from its last dot), ignoring case.
  TRasterFileClass FindFormatByExt(const QString& fileName) const;
  // The format a file of that name is written in: that of the first kind whose mask holds the
  // extension; none when that kind can only be read, or no kind has it.
  std::optional<TRasterFormat> SaveFormatByExt(const QString& fileName) const;
  // Whether a file of that name holds drawn pages, by the kind its extension selects.
  bool PagedByExt(const QString& fileName) const;

 private:
  const TRasterFileClassInfo* FindFormat(const QString& fileName) const;

  std::vector<TRasterFileClassInfo> FFormats;
};

// Runs an open-file dialog with a filter of "Text|mask|" pairs; the name goes in as the proposal
// and comes out as the choice. The widget library supplies it; a program without windows has none.
using TFileDialogRunner = std::function<bool(const QString& filter, QString& fileName)>;

// The provider for files on local disks.
class TLocalFileProvider : public TRasterFileProvider {
 public:
  explicit TLocalFileProvider(TFileDialogRunner runDialog = {});

  // Without a dialog runner there is nothing to choose with: the answer is false.
  bool SelectFile(QString& fileName) override;
  std::unique_ptr<THandleStream> OpenStream(const QString& purpose,
                                            const QString& fileName) override;
  std::unique_ptr<TStableFile> OpenStableStream(const QString& purpose,
                                                const QString& fileName) override;

 private:
  TFileDialogRunner FRunDialog;
};

// Raises, naming the file and the kinds that open, when no format is registered for the name's
// extension.
void CheckRasterFileKind(const TRasterFileProvider* provider, const QString& fileName);
// Opens a raster file with the format its extension selects; the caller owns the result.
std::unique_ptr<TRasterFile> OpenRasterFile(TRasterFileProvider* provider, const QString& fileName,
                                            const TRasterOpenOptions& options = {});
