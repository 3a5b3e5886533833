#include "GdalStreams.h"

#include "GdalLibrary.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

struct TGdalStreamName::TEntry {
  int Handle = -1;
  std::atomic<int> WriteError{0};
};

namespace {

using TEntry = TGdalStreamName::TEntry;

constexpr char kPrefix[] = "/vsivelmora/";

// The streams that have a name now.
struct TRegistry {
  std::mutex Lock;
  std::map<std::string, std::shared_ptr<TEntry>> Entries;
  uint64_t Next = 0;
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

// GDAL hands the callbacks the name without the prefix.
std::string KeyOf(const QByteArray& path) {
  return path.mid(static_cast<qsizetype>(std::strlen(kPrefix))).toStdString();
}

std::shared_ptr<TEntry> Find(const char* name) {
  TRegistry& registry = Registry();
  const std::lock_guard lock(registry.Lock);
  const auto it = registry.Entries.find(name);
  return it == registry.Entries.end() ? nullptr : it->second;
}

// One file GDAL opened on a name: its own position over the shared descriptor.
struct THandle {
  std::shared_ptr<TEntry> Entry;
  vsi_l_offset Position = 0;
  bool AtEnd = false;
};

THandle* HandleOf(void* file) {
  return static_cast<THandle*>(file);
}

int64_t SizeOf(int handle) {
  struct stat st;
  if (::fstat(handle, &st) != 0) return -1;
  return st.st_size;
}

int Stat(void*, const char* name, VSIStatBufL* buffer, int) {
  const std::shared_ptr<TEntry> entry = Find(name);
  if (!entry) {
    errno = ENOENT;
    return -1;
  }
  const int64_t size = SizeOf(entry->Handle);
  if (size < 0) return -1;
  std::memset(buffer, 0, sizeof *buffer);
  buffer->st_mode = S_IFREG | 0644;
  buffer->st_size = size;
  return 0;
}

void* Open(void*, const char* name, const char* access) {
  std::shared_ptr<TEntry> entry = Find(name);
  if (!entry) {
    errno = ENOENT;
    return nullptr;
  }
  if (access[0] == 'w' && ::ftruncate(entry->Handle, 0) != 0) {
    int expected = 0;
    entry->WriteError.compare_exchange_strong(expected, errno);
    return nullptr;
  }
  auto* handle = new THandle{std::move(entry)};
  if (access[0] == 'a') handle->Position = static_cast<vsi_l_offset>(SizeOf(handle->Entry->Handle));
  return handle;
}

vsi_l_offset Tell(void* file) {
  return HandleOf(file)->Position;
}

int Seek(void* file, vsi_l_offset offset, int whence) {
  THandle* handle = HandleOf(file);
  if (whence == SEEK_SET) {
    handle->Position = offset;
  } else if (whence == SEEK_CUR) {
    handle->Position += offset;
  } else {
    const int64_t size = SizeOf(handle->Entry->Handle);
    if (size < 0) return -1;
    handle->Position = static_cast<vsi_l_offset>(size) + offset;
  }
  handle->AtEnd = false;
  return 0;
}

size_t Read(void* file, void* buffer, size_t size, size_t count) {
  THandle* handle = HandleOf(file);
  if (size == 0 || count == 0) return 0;
  const size_t wanted = size * count;
  size_t done = 0;
  while (done < wanted) {
    const ssize_t n = ::pread(handle->Entry->Handle, static_cast<char*>(buffer) + done,
                              wanted - done, static_cast<off_t>(handle->Position + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  if (done < wanted) handle->AtEnd = true;
  handle->Position += done;
  return done / size;
}

int Eof(void* file) {
  return HandleOf(file)->AtEnd ? 1 : 0;
}

size_t Write(void* file, const void* buffer, size_t size, size_t count) {
  THandle* handle = HandleOf(file);
  if (size == 0 || count == 0) return 0;
  const size_t wanted = size * count;
  size_t done = 0;
  while (done < wanted) {
    const ssize_t n = ::pwrite(handle->Entry->Handle, static_cast<const char*>(buffer) + done,
                               wanted - done, static_cast<off_t>(handle->Position + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int expected = 0;
      handle->Entry->WriteError.compare_exchange_strong(expected, n < 0 ? errno : ENOSPC);
      break;
    }
    done += static_cast<size_t>(n);
  }
  handle->Position += done;
  return done / size;
}

int Flush(void*) {
  // Making the file durable is the business of whoever prepared it.
  return 0;
}

int Truncate(void* file, vsi_l_offset size) {
  THandle* handle = HandleOf(file);
  if (::ftruncate(handle->Entry->Handle, static_cast<off_t>(size)) == 0) return 0;
  int expected = 0;
  handle->Entry->WriteError.compare_exchange_strong(expected, errno);
  return -1;
}

int Close(void* file) {
  delete HandleOf(file);
  return 0;
}

void InstallHandler() {
  static const bool installed = [] {
    VSIFilesystemPluginCallbacksStruct* callbacks =
        Gdal().VSIAllocFilesystemPluginCallbacksStruct();
    callbacks->stat = &Stat;
    callbacks->open = &Open;
    callbacks->tell = &Tell;
    callbacks->seek = &Seek;
    callbacks->read = &Read;
    callbacks->eof = &Eof;
    callbacks->write = &Write;
    callbacks->flush = &Flush;
    callbacks->truncate = &Truncate;
    callbacks->close = &Close;
    // The handler keeps a copy of the callbacks.
    Gdal().VSIInstallPluginHandler(kPrefix, callbacks);
    Gdal().VSIFreeFilesystemPluginCallbacksStruct(callbacks);
    return true;
  }();
  (void)installed;
}

}  // namespace

TGdalStreamName::TGdalStreamName(THandleStream& stream, const QString& fileName)
    : FEntry(std::make_shared<TEntry>()) {
  InstallHandler();
  FEntry->Handle = stream.Handle();
  TRegistry& registry = Registry();
  const std::lock_guard lock(registry.Lock);
  const QString baseName = fileName.mid(fileName.lastIndexOf(u'/') + 1);
  FPath = QByteArray(kPrefix) + QByteArray::number(++registry.Next) + '/' + baseName.toUtf8();
  registry.Entries[KeyOf(FPath)] = FEntry;
}

TGdalStreamName::~TGdalStreamName() {
  TRegistry& registry = Registry();
  const std::lock_guard lock(registry.Lock);
  registry.Entries.erase(KeyOf(FPath));
}

int TGdalStreamName::WriteError() const {
  return FEntry->WriteError.load();
}
