#pragma once

#include "CliCommands.h"
#include "RasterManagers.h"
#include "StatusInfo.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

// The options the raster commands share, read from a command's arguments. What is not an option
// is a positional argument.
struct TCliRasterOptions {
  QStringList Positional;
  int64_t CacheSize = 5120 * 1024;  // bytes; the program's default of 5120 KB
  bool Progress = false;            // progress also when standard error is no terminal
  bool Quiet = false;
  // Dots per metre across and down, from --ppm or --dpi.
  std::optional<std::pair<int, int>> Resolution;
  QString GridFile;                             // --grid
  bool Clip = false;                            // --clip
  bool ClipFrame = false;                       // --clip-frame
  bool FindNodes = false;                       // --find-nodes
  TRasterOpenOptions Open;                      // --page and --page-dpi, for a PDF
  std::optional<TTiffCompression> Compression;  // --compress
};

// Which options a command takes besides --cache, --progress, --quiet, --page and --page-dpi:
// Resolution is --ppm or --dpi and --compress; Grid is --grid, --clip, --clip-frame, --find-nodes
// and --compress; NodeSearch is --grid alone.
enum class TCliExtra { None, Resolution, Grid, NodeSearch };

// Reads the arguments; a wrong option or value raises ECliUsage.
TCliRasterOptions ParseRasterOptions(const QStringList& args, TCliExtra extra);

// Shows the progress of long operations on standard error: on a terminal as one line rewritten
// in place, otherwise (with --progress) a line per change. Silent unless standard error is a
// terminal or progress was asked for, and always with --quiet.
class TCliProgress {
 public:
  explicit TCliProgress(const TCliRasterOptions& options, FILE* stream = stderr);
  ~TCliProgress();
  TCliProgress(const TCliProgress&) = delete;
  TCliProgress& operator=(const TCliProgress&) = delete;

  TStatusInfo* Info() { return &FInfo; }

 private:
  void Show(int slot, const QString& text);

  FILE* FStream;
  bool FEnabled;
  bool FTerminal;
  QString FSlots[4];
  QString FShownLine;
  TStatusInfo FInfo;
};

// What a raster command works with: the local files with every format, the progress printer
// and a raster manager with the command's cache budget, not yet opened.
class TCliRaster {
 public:
  explicit TCliRaster(const TCliRasterOptions& options);
  TRasterManager& Raster() { return FRaster; }
  // Reads the raster, a PDF's page as the options choose.
  void Open(const QString& fileName);
  // How the result is written: the format its extension names (.bmp, .tif, .tiff), with the
  // compression of the options. Anything else is a usage error, raised before any work is done.
  TSaveOptions OutputFormat(const QString& fileName) const;

 private:
  TLocalFileProvider FProvider;
  TCliProgress FProgress;
  TRasterManager FRaster;
  TRasterOpenOptions FOpenOptions;
  std::optional<TTiffCompression> FCompression;
};

// The lines of a command's help on --page and --page-dpi.
QString CliPageHelp();

// Registers every format velmora-cli reads: BMP, TIFF, PNG, JPEG and PDF.
void RegisterCliFormats(TRasterFileProvider* provider);

// A file a command reads, with what it is to the user in the accusative ("растр", "файл сетки").
struct TCliInput {
  QString FileName;
  QString Role;
};

// Refuses, as a usage error, an output that is one of the inputs under this or another name
// (through a hard or a symbolic link): the inputs of another kind than the output, which the
// result would destroy (a grid written over the scan it was found on). what names the output in
// the message ("результат", "картинка"). An output of the input's own kind may take its place,
// as the program's Save does: the input has been read whole by then.
void CheckOutputIsNoInput(const QString& output, const QString& what,
                          const std::vector<TCliInput>& inputs);

// Writes UTF-8 text to a stream.
void CliPrint(FILE* stream, const QString& text);
