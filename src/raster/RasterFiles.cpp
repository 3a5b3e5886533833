#include "RasterFiles.h"

#include <sys/mman.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// Blocks from this size on are mapped straight from the system and go back to it when freed.
// Through the heap, parts loaded and freed in turn would leave it fragmented, far beyond the
// cache's budget.
constexpr size_t kMappedSize = 64 * 1024;

// Mapped blocks given back lately, handed out again for the next block of the same size: parts
// that come and go in turn then cost neither system calls nor freshly zeroed pages. It holds as
// much as one band of parts that a raster reads or writes at once.
class TBlockPool {
 public:
  ~TBlockPool() {
    for (const auto& [bytes, block] : FBlocks) ::munmap(block, bytes);
  }
  void* Take(size_t bytes) {
    const std::lock_guard lock(FLock);
    for (auto it = FBlocks.begin(); it != FBlocks.end(); ++it)
      if (it->first == bytes) {
        void* block = it->second;
        FBlocks.erase(it);
        FBytes -= bytes;
        return block;
      }
    return nullptr;
  }
  void Give(void* block, size_t bytes) {
    {
      const std::lock_guard lock(FLock);
      if (FBytes + bytes <= kMaxBytes) {
        FBlocks.emplace_back(bytes, block);
        FBytes += bytes;
        return;
      }
    }
    ::munmap(block, bytes);
  }

 private:
  static constexpr size_t kMaxBytes = 16 << 20;
  std::mutex FLock;
  std::vector<std::pair<size_t, void*>> FBlocks;
  size_t FBytes = 0;
};

TBlockPool& BlockPool() {
  static TBlockPool pool;
  return pool;
}

}  // namespace

TPixelBuffer::TPixelBuffer(int64_t size, TFill fill) {
  // Rounded up to the alignment; never empty, so Data() is never null.
  const size_t bytes = (static_cast<size_t>(std::max<int64_t>(size, 1)) + 63) & ~size_t{63};
  uint8_t* data;
  if (bytes >= kMappedSize) {
    data = static_cast<uint8_t*>(BlockPool().Take(bytes));
    if (data) {
      if (fill == TFill::Zeroed) std::memset(data, 0, bytes);
    } else {
      // Fresh mappings come zeroed.
      void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
      if (p == MAP_FAILED) throw EOSError(errno);
      data = static_cast<uint8_t*>(p);
    }
  } else {
    data = static_cast<uint8_t*>(std::aligned_alloc(64, bytes));
    if (!data) throw EOSError(ENOMEM);
    if (fill == TFill::Zeroed) std::memset(data, 0, bytes);
  }
  FData = std::unique_ptr<uint8_t, TPixelBufferFree>(data, TPixelBufferFree{bytes});
  FSize = size;
}

void TPixelBufferFree::operator()(uint8_t* p) const {
  if (Bytes >= kMappedSize)
    BlockPool().Give(p, Bytes);
  else
    std::free(p);
}

TRasterFile::~TRasterFile() = default;

std::vector<std::unique_ptr<TRasterFileDib>> TRasterFile::GetDibBand(
    int y, int height, const std::vector<TDibColumn>& columns) {
  std::vector<std::unique_ptr<TRasterFileDib>> dibs;
  dibs.reserve(columns.size());
  for (const TDibColumn& column : columns)
    dibs.push_back(GetDibSection(column.Left, y, column.Width, height));
  return dibs;
}

TPixelRows TRasterFile::ReadRows(int y, int height, std::vector<uint8_t>& buffer) {
  const std::unique_ptr<TRasterFileDib> dib = GetDibSection(0, y, GetWidth(), height);
  buffer.assign(dib->Bits.Data(), dib->Bits.Data() + dib->ImageSize);
  const int64_t rowSize = dib->ImageSize / height;
  // A DIB stores its bottom row first.
  return {buffer.data() + (height - 1) * rowSize, -rowSize};
}

bool TRasterFile::CopyRowsTo(int, int, THandleStream&, int64_t) {
  return false;
}

TRasterFileProvider::~TRasterFileProvider() = default;

namespace {

// Gaps up to this size between pieces are read along instead of splitting the read.
constexpr int64_t kMaxGap = 4096;

// The size of one read: large enough to cost few system calls, small enough to stay in the
// processor's cache until the pieces are copied out of it.
constexpr int64_t kReadSize = 128 * 1024;

}  // namespace

void TRasterFileProvider::ReadPieces(THandleStream& stream, const std::vector<TReadPiece>& pieces) {
  std::vector<uint8_t> stage(kReadSize);
  for (size_t i = 0; i < pieces.size();) {
    const TReadPiece& first = pieces[i];
    if (first.Size >= kReadSize) {
      stream.ReadBufferAt(first.FileOffset, first.Dest, first.Size);
      ++i;
      continue;
    }
    const int64_t start = first.FileOffset;
    int64_t end = start;
    size_t j = i;
    while (j < pieces.size() && pieces[j].FileOffset >= end &&
           pieces[j].FileOffset - end <= kMaxGap &&
           pieces[j].FileOffset + pieces[j].Size - start <= kReadSize) {
      end = pieces[j].FileOffset + pieces[j].Size;
      ++j;
    }
    stream.ReadBufferAt(start, stage.data(), end - start);
    for (; i < j; ++i)
      std::memcpy(pieces[i].Dest, stage.data() + (pieces[i].FileOffset - start), pieces[i].Size);
  }
}

void TRasterFileProvider::RegisterFormat(const QString& description, const QString& mask,
                                         TRasterFileClass fileClass,
                                         std::optional<TRasterFormat> writtenAs, bool paged) {
  FFormats.push_back({description, mask, mask.toUpper(), fileClass, writtenAs, paged});
}

QString TRasterFileProvider::GetFilter() const {
  QString perFormat;
  QString masks;
  for (const TRasterFileClassInfo& format : FFormats) {
    perFormat += format.Description + QStringLiteral(" (") + format.Mask + QStringLiteral(")|") +
                 format.Mask + u'|';
    masks += format.Mask + QStringLiteral("; ");
  }
  if (!masks.isEmpty()) masks.chop(2);
  return QStringLiteral("Все растры (") + masks + QStringLiteral(")|") + masks + u'|' + perFormat +
         QStringLiteral("Все файлы (*.*)|*.*");
}

QString TRasterFileProvider::GetSaveFilter() const {
  QString filter;
  for (const TRasterFileClassInfo& format : FFormats)
    if (format.WrittenAs)
      filter += format.Description + QStringLiteral(" (") + format.Mask + QStringLiteral(")|") +
                format.Mask + u'|';
  filter.chop(1);
  return filter;
}

const TRasterFileClassInfo* TRasterFileProvider::FindFormat(const QString& fileName) const {
  const QString lastComponent = fileName.mid(fileName.lastIndexOf(u'/') + 1);
  const qsizetype dot = lastComponent.lastIndexOf(u'.');
  if (dot < 0) return nullptr;
  const QString extension = lastComponent.mid(dot).toUpper();
  for (const TRasterFileClassInfo& format : FFormats)
    if (format.UpperMask.contains(extension)) return &format;
  return nullptr;
}

TRasterFileClass TRasterFileProvider::FindFormatByExt(const QString& fileName) const {
  const TRasterFileClassInfo* format = FindFormat(fileName);
  return format ? format->FileClass : nullptr;
}

std::optional<TRasterFormat> TRasterFileProvider::SaveFormatByExt(const QString& fileName) const {
  const TRasterFileClassInfo* format = FindFormat(fileName);
  return format ? format->WrittenAs : std::nullopt;
}

bool TRasterFileProvider::PagedByExt(const QString& fileName) const {
  const TRasterFileClassInfo* format = FindFormat(fileName);
  return format && format->Paged;
}

TLocalFileProvider::TLocalFileProvider(TFileDialogRunner runDialog)
    : FRunDialog(std::move(runDialog)) {}

bool TLocalFileProvider::SelectFile(QString& fileName) {
  if (!FRunDialog) return false;
  QString chosen = fileName;
  if (!FRunDialog(GetFilter(), chosen)) return false;
  fileName = chosen;
  return true;
}

std::unique_ptr<THandleStream> TLocalFileProvider::OpenStream(const QString&,
                                                              const QString& fileName) {
  return std::make_unique<TWatchedFile>(fileName);
}

std::unique_ptr<TStableFile> TRasterFileProvider::OpenStableStream(const QString&, const QString&) {
  return nullptr;
}

std::unique_ptr<TStableFile> TLocalFileProvider::OpenStableStream(const QString&,
                                                                  const QString& fileName) {
  return TStableFile::Open(fileName);
}

void CheckRasterFileKind(const TRasterFileProvider* provider, const QString& fileName) {
  if (provider->FindFormatByExt(fileName)) return;
  // A kind of file no reader is registered for is the user's choice, not a fault of ours: the
  // message names the file and the kinds that do open.
  QStringList masks;
  for (const TRasterFileClassInfo& format : provider->Formats()) masks << format.Mask;
  QString message =
      QStringLiteral("Ошибка открытия растрового файла: не найден фильтр для работы с файлом %1")
          .arg(fileName);
  if (!masks.isEmpty())
    message += QStringLiteral("; открываются файлы %1").arg(masks.join(QStringLiteral("; ")));
  throw Exception(message);
}

std::unique_ptr<TRasterFile> OpenRasterFile(TRasterFileProvider* provider, const QString& fileName,
                                            const TRasterOpenOptions& options) {
  CheckRasterFileKind(provider, fileName);
  std::unique_ptr<TRasterFile> file = provider->FindFormatByExt(fileName)(provider);
  file->SetOpenOptions(options);
  file->Open(fileName);
  return file;
}
