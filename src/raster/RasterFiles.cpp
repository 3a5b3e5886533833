#include "RasterFiles.h"

#include "RecArrays.h"

#include <sys/uio.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

TPixelBuffer::TPixelBuffer(int64_t size) {
  // Rounded up to the alignment, as aligned_alloc wants; never empty, so Data() is never null.
  const size_t bytes = (static_cast<size_t>(std::max<int64_t>(size, 1)) + 63) & ~size_t{63};
  auto* data = static_cast<uint8_t*>(std::aligned_alloc(64, bytes));
  if (!data) throw EOSError(ENOMEM);
  std::memset(data, 0, bytes);
  FData.reset(data);
  FSize = size;
}

void TPixelBuffer::TFree::operator()(uint8_t* p) const {
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

TRasterFileProvider::~TRasterFileProvider() = default;

namespace {

// Gaps up to this size between pieces are read into a scratch block instead of splitting the read.
constexpr int64_t kMaxGap = 4096;

// One positioned scatter read of the whole vector: a short count continues where it stopped.
void ReadVector(THandleStream& stream, int64_t offset, std::vector<iovec>& vectors) {
  iovec* v = vectors.data();
  int count = static_cast<int>(vectors.size());
  while (count > 0) {
    const ssize_t n = ::preadv(stream.Handle(), v, count, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EReadError(EReadError().Message() + QStringLiteral(". ") + EOSError(errno).Message());
    }
    if (n == 0) throw EReadError();
    offset += n;
    size_t left = static_cast<size_t>(n);
    while (count > 0 && left >= v->iov_len) {
      left -= v->iov_len;
      ++v;
      --count;
    }
    if (count > 0) {
      v->iov_base = static_cast<char*>(v->iov_base) + left;
      v->iov_len -= left;
    }
  }
  vectors.clear();
}

}  // namespace

void TRasterFileProvider::ReadPieces(THandleStream& stream, const std::vector<TReadPiece>& pieces) {
  std::vector<char> scratch(kMaxGap);
  std::vector<iovec> vectors;
  vectors.reserve(std::min<size_t>(pieces.size() * 2, IOV_MAX));
  int64_t start = 0;  // file offset of the first byte of the pending vector
  int64_t end = 0;    // file offset after its last byte
  for (const TReadPiece& piece : pieces) {
    if (piece.Size <= 0) continue;
    if (!vectors.empty()) {
      const int64_t gap = piece.FileOffset - end;
      if (gap < 0 || gap > kMaxGap || vectors.size() + 2 > IOV_MAX) {
        ReadVector(stream, start, vectors);
      } else if (gap > 0) {
        vectors.push_back({scratch.data(), static_cast<size_t>(gap)});
      }
    }
    if (vectors.empty()) start = piece.FileOffset;
    vectors.push_back({piece.Dest, static_cast<size_t>(piece.Size)});
    end = piece.FileOffset + piece.Size;
  }
  if (!vectors.empty()) ReadVector(stream, start, vectors);
}

void TRasterFileProvider::RegisterFormat(const QString& description, const QString& mask,
                                         TRasterFileClass fileClass) {
  FFormats.push_back({description, mask, mask.toUpper(), fileClass});
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

TRasterFileClass TRasterFileProvider::FindFormatByExt(const QString& fileName) const {
  const QString lastComponent = fileName.mid(fileName.lastIndexOf(u'/') + 1);
  const qsizetype dot = lastComponent.lastIndexOf(u'.');
  if (dot < 0) return nullptr;
  const QString extension = lastComponent.mid(dot).toUpper();
  for (const TRasterFileClassInfo& format : FFormats)
    if (format.UpperMask.contains(extension)) return format.FileClass;
  return nullptr;
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
  return std::make_unique<TFileStream>(fileName, TFileMode::fmOpenRead);
}

std::unique_ptr<TRasterFile> OpenRasterFile(TRasterFileProvider* provider,
                                            const QString& fileName) {
  const TRasterFileClass fileClass = provider->FindFormatByExt(fileName);
  if (!fileClass)
    RaiseInternalFmt(
        QStringLiteral("OpenRasterFile"),
        QStringLiteral("Ошибка открытия растрового файла: не найден фильтр для работы с файлом %s"),
        {fileName});
  std::unique_ptr<TRasterFile> file = fileClass(provider);
  file->Open(fileName);
  return file;
}
