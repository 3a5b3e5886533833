// Where the time of `velmora-cli calibrate` goes, for calibrate.sh: each stage of the job alone,
// in one run, on the file and grid the command gets.
//
//   calibrate_phases IN.bmp GRID.json OUT.bmp [CACHE_KB]
//
// Prints one "stage seconds cpu-seconds" line per stage, the processor time of every thread:
//   open     opening the raster (headers, the mapping of the file, the parts in memory)
//   read     reading every byte of the source's pixels once through a mapping of its own
//   map      the per-cell mapping of every output row (the terms and the straight lines of the
//            rows of cells), on one thread
//   compute  mapping and gathering every band of the output into memory, on every core
//   write    writing those bytes into OUT.bmp, the system starting to write them back
//   sync     making OUT.bmp durable
//   total    the whole calibration written to OUT.bmp as the command does it, in this process
// Stages run one after another, so that the sum exceeds the total where the job overlaps them.
#include "BmpFiles.h"
#include "CalibrateRaster.h"
#include "GridFiles.h"
#include "RasterManagers.h"

#include <QCoreApplication>
#include <QFile>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

double Seconds(TClock::time_point since) {
  return std::chrono::duration<double>(TClock::now() - since).count();
}

// The processor time of the whole process so far.
double CpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A stage's wall and processor time.
class TStage {
 public:
  explicit TStage(const char* name) : FName(name) {}
  ~TStage() { std::printf("%s %.4f %.4f\n", FName, Seconds(FStart), CpuSeconds() - FCpu); }
  TStage(const TStage&) = delete;
  TStage& operator=(const TStage&) = delete;

 private:
  const char* FName;
  TClock::time_point FStart = TClock::now();
  double FCpu = CpuSeconds();
};

// Every byte of the file read once through a fresh mapping, as the calibration reads its source.
void ReadSource(const char* fileName) {
  const int handle = ::open(fileName, O_RDONLY);
  struct stat st {};
  ::fstat(handle, &st);
  const size_t size = static_cast<size_t>(st.st_size);
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, handle, 0);
  const auto* bytes = static_cast<const uint64_t*>(map);
  uint64_t sum = 0;
  for (size_t i = 0; i < size / 8; ++i) sum += bytes[i];
  ::munmap(map, size);
  ::close(handle);
  // Keeps the sum, so that the reads are not left out.
  if (sum == 42) std::printf("#\n");
}

void MapRows(const TGridInfo& grid, int width, int height) {
  TCellMaps maps(grid, width, height);
  if (maps.Empty()) return;
  const TRect reach = maps.Reach();
  int lines = 0;
  for (int y = reach.Top; y < reach.Bottom; ++y) {
    maps.Prepare(y, y + 1);
    maps.ForEachRun(y, reach.Left, reach.Right,
                    [&](const TCellRun& run) { lines += run.Line() != nullptr; });
  }
  if (lines < 0) std::printf("#\n");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: calibrate_phases IN.bmp GRID.json OUT.bmp [CACHE_KB]\n");
    return 2;
  }
  const QString in = QString::fromLocal8Bit(argv[1]);
  const QString out = QString::fromLocal8Bit(argv[3]);
  const int64_t cache = (argc == 5 ? std::atoll(argv[4]) : 5120) * 1024;
  TLocalFileProvider provider;
  RegisterBmpFormat(&provider);

  TRasterManager raster(&provider, cache, nullptr);
  {
    TStage stage("open");
    raster.Open(in);
  }
  const TGridInfo grid = MakeGrid(ReadGridFile(QString::fromLocal8Bit(argv[2])), raster);
  {
    TStage stage("read");
    ReadSource(argv[1]);
  }
  {
    TStage stage("map");
    MapRows(grid, raster.Width(), raster.Height());
  }
  // The bands as the command makes them, kept in memory to be written afterwards.
  const std::unique_ptr<TRowSource> rows = CalibratedRows(raster, grid, std::nullopt);
  const int64_t rowSize = DibRowSize(rows->Width(), raster.BitsPerPixel());
  std::vector<uint8_t> pixels(static_cast<size_t>(rowSize * rows->Height()));
  {
    TStage stage("compute");
    const int bandRows = raster.Side();
    for (int top = 0; top < rows->Height(); top += bandRows) {
      const int count = std::min(bandRows, rows->Height() - top);
      // Bottom-up, as the file stores them.
      rows->Fill(top, count, pixels.data() + (rows->Height() - top - count) * rowSize, rowSize, {});
    }
  }
  QFile::remove(out);
  const int handle = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  {
    TStage stage("write");
    constexpr size_t kPiece = 2 << 20;
    for (size_t done = 0; done < pixels.size(); done += kPiece) {
      const size_t size = std::min(kPiece, pixels.size() - done);
      if (::pwrite(handle, pixels.data() + done, size, static_cast<off_t>(done)) < 0) return 1;
      ::sync_file_range(handle, static_cast<off_t>(done), static_cast<off_t>(size),
                        SYNC_FILE_RANGE_WRITE);
    }
  }
  {
    TStage stage("sync");
    ::fsync(handle);
    ::close(handle);
  }
  QFile::remove(out);
  {
    TStage stage("total");
    SaveCalibratedRaster(raster, grid, std::nullopt, out);
  }
  return 0;
}
