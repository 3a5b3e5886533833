#pragma once

#include "BmpFiles.h"
#include "MessageOf.h"
#include "StatusInfo.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// A BMP with a 40-byte header. A negative height stores the rows top first. pixel(x, y) gives the
// colour index for indexed depths, 0x00BBGGRR for 24 bits and the raw value for 16 and 32 bits.
struct TBmpLayout {
  int Width = 1;
  int Height = 1;
  int BitsPerPixel = 8;
  std::vector<uint32_t> Palette;  // 0x00BBGGRR colours
  std::function<uint32_t(int x, int y)> Pixel = [](int, int) { return 0u; };
  int32_t XPelsPerMeter = 0;
  int32_t YPelsPerMeter = 0;
};
QByteArray BmpBytes(const TBmpLayout& layout);
// A BMP whose pixel rows are a hole in the file, zeros that take no room on the disk: for rasters
// too large to write out. The layout's pixels are not used.
void WriteSparseBmp(const QString& fileName, const TBmpLayout& layout);
void WriteFile(const QString& fileName, const QByteArray& bytes);
QByteArray ReadFile(const QString& fileName);

// A little-endian field of a file's bytes.
uint32_t FileLe32(const QByteArray& bytes, int offset);
uint16_t FileLe16(const QByteArray& bytes, int offset);

// A grey palette of n entries: entry i is (i, i, i) scaled over 0..255.
std::vector<uint32_t> GreyPalette(int n);

// Decodes a BMP in the 40-byte form we write, independently of the code under test: indexed
// depths through the colour table (indices beyond it black), 16 and 32 bits through their bit
// fields scaled exactly to 8 bits. A null image for anything else.
QImage DecodeOurBmp(const QByteArray& bytes);

// A status bar of four slots that records every text shown in slots 2 and 3.
class TStatusRecorder {
 public:
  TStatusRecorder();
  TStatusInfo* Info() { return &FInfo; }
  QString Slot(int slot) const { return FSlots[slot]; }
  // "slot:text" for every show, in order.
  const QStringList& Log() const { return FLog; }
  void ClearLog() { FLog.clear(); }
  // The texts shown in one slot, in order.
  QStringList Shown(int slot) const;
  // Asks the work to stop as soon as the operation shows the text in the slot: the user's Esc at
  // that moment.
  void CancelWhenShown(int slot, const QString& text);

 private:
  QString FSlots[4];
  QStringList FLog;
  QString FCancelText;
  int FCancelSlot = -1;
  TStatusInfo FInfo;
};

// Limits the size of files this process writes while it lives, so that a write beyond it fails
// as on a full disk.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(uint64_t bytes);
  ~TFileSizeLimit();

 private:
  rlimit FOld;
};

// A local provider with the BMP format registered. An unstable one cannot promise that a file
// keeps its bytes (as on a network share), so rasters copy every part into their swap file.
class TBmpProvider : public TLocalFileProvider {
 public:
  explicit TBmpProvider(bool stable = true) : FStable(stable) { RegisterBmpFormat(this); }
  std::unique_ptr<TStableFile> OpenStableStream(const QString& purpose,
                                                const QString& fileName) override {
    return FStable ? TLocalFileProvider::OpenStableStream(purpose, fileName) : nullptr;
  }

 private:
  bool FStable;
};

class TRasterManager;

// Rasters written to a temporary folder and opened through a BMP provider.
class TRasterFiles {
 public:
  explicit TRasterFiles(bool stable = true) : FProvider(stable) {}
  QString Path(const QString& name) const { return FDir.filePath(name); }
  // Writes the file and opens it with the cache budget in bytes.
  std::unique_ptr<TRasterManager> Open(const TBmpLayout& layout, int64_t cacheSize,
                                       const QString& name = "raster.bmp");
  TBmpProvider* Provider() { return &FProvider; }
  TStatusRecorder& Status() { return FStatus; }

 private:
  QTemporaryDir FDir;
  TBmpProvider FProvider;
  TStatusRecorder FStatus;
};
