#include "Streams.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <vector>

TStream::~TStream() = default;

int64_t TStream::Size() {
  const int64_t position = Seek(0, TSeekOrigin::soCurrent);
  const int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(position, TSeekOrigin::soBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError(Subject(), 0);
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError(Subject(), 0);
}

THandleStream::THandleStream(int handle) : FHandle(handle) {}

THandleStream::~THandleStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int64_t THandleStream::Read(void* buffer, int64_t count) {
  auto* p = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(FHandle, p + done, static_cast<size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EReadError(Subject(), errno);
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t THandleStream::Write(const void* buffer, int64_t count) {
  const auto* p = static_cast<const char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(FHandle, p + done, static_cast<size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EWriteError(Subject(), errno);
    }
    done += n;
  }
  return done;
}

int64_t THandleStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  const off_t result = ::lseek(FHandle, static_cast<off_t>(offset), whence);
  if (result < 0) throw EReadError(Subject(), errno);
  return result;
}

void THandleStream::SetSize(int64_t size) {
  if (::ftruncate(FHandle, static_cast<off_t>(size)) != 0) throw EWriteError(Subject(), errno);
  if (Position() > size) SetPosition(size);
}

int64_t THandleStream::Size() {
  struct stat st;
  if (::fstat(FHandle, &st) != 0) throw EReadError(Subject(), errno);
  return st.st_size;
}

void THandleStream::ReadBufferAt(int64_t offset, void* buffer, int64_t count) {
  auto* p = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(FHandle, p + done, static_cast<size_t>(count - done), offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EReadError(Subject(), errno);
    }
    if (n == 0) throw EReadError(Subject(), 0);
    done += n;
  }
}

void THandleStream::WriteBufferAt(int64_t offset, const void* buffer, int64_t count) {
  const auto* p = static_cast<const char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::pwrite(FHandle, p + done, static_cast<size_t>(count - done), offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EWriteError(Subject(), errno);
    }
    done += n;
  }
}

void THandleStream::CopyRangeTo(int64_t offset, THandleStream& target, int64_t targetOffset,
                                int64_t count) {
  loff_t from = offset;
  loff_t to = targetOffset;
  const loff_t end = offset + count;
  while (from < end) {
    const ssize_t n =
        ::copy_file_range(FHandle, &from, target.FHandle, &to, static_cast<size_t>(end - from), 0);
    if (n > 0) continue;
    if (n == 0) throw EReadError(Subject(), 0);
    if (errno == EINTR) continue;
    // A full disk, the likely failure here, is the target's.
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
      throw EWriteError(target.Subject(), errno);
    // Between these files the system cannot copy: the bytes go through memory.
    std::vector<char> buffer(static_cast<size_t>(std::min<int64_t>(end - from, 1 << 20)));
    while (from < end) {
      const int64_t chunk = std::min<int64_t>(end - from, static_cast<int64_t>(buffer.size()));
      ReadBufferAt(from, buffer.data(), chunk);
      target.WriteBufferAt(to, buffer.data(), chunk);
      from += chunk;
      to += chunk;
    }
  }
}

void THandleStream::Flush() {
  if (::fsync(FHandle) != 0) throw EWriteError(Subject(), errno);
}

static int OpenFlags(TFileMode mode) {
  switch (mode) {
    case TFileMode::fmOpenRead:
      return O_RDONLY;
    case TFileMode::fmOpenReadWrite:
      return O_RDWR;
    case TFileMode::fmCreate:
      return O_RDWR | O_CREAT | O_TRUNC;
    case TFileMode::fmCreateNew:
      return O_RDWR | O_CREAT | O_EXCL;
  }
  return O_RDONLY;
}

int OpenRegularFile(const QString& fileName, int flags, const QString& shownName) {
  const QByteArray path = QFile::encodeName(fileName);
  const bool create = (flags & O_CREAT) != 0;
  const auto fail = [&](int error) {
    if (create) throw EFCreateError(shownName, error);
    throw EFOpenError(shownName, error);
  };
  // Without O_NONBLOCK, opening a pipe waits for a program at its other end, perhaps forever.
  int handle;
  do {
    handle = ::open(path.constData(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
  } while (handle < 0 && errno == EINTR);
  // A regular file refuses a non-blocking open only while another program holds a lease on it,
  // which it gives up within the system's lease-break time.
  if (handle < 0 && errno == EWOULDBLOCK) {
    do {
      handle = ::open(path.constData(), flags | O_CLOEXEC, 0666);
    } while (handle < 0 && errno == EINTR);
  }
  if (handle < 0) fail(errno);
  struct stat st;
  if (::fstat(handle, &st) != 0) {
    const int error = errno;
    ::close(handle);
    fail(error);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(handle);
    if (S_ISDIR(st.st_mode)) fail(EISDIR);
    const QString cause = QStringLiteral("это не обычный файл, а канал, устройство или сокет");
    if (create) throw EFCreateError(shownName, cause);
    throw EFOpenError(shownName, cause);
  }
  ::fcntl(handle, F_SETFL, ::fcntl(handle, F_GETFL) & ~O_NONBLOCK);
  return handle;
}

TFileStream::TFileStream(const QString& fileName, TFileMode mode, const QString& shownName)
    : FFileName(fileName) {
  const QString shown = shownName.isEmpty() ? fileName : shownName;
  SetSubject(QStringLiteral("файла ") + shown);
  SetHandle(OpenRegularFile(fileName, OpenFlags(mode), shown));
}
