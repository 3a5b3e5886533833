#pragma once

#include "Streams.h"

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <memory>

// The strings of a program file's version record: a record embedded in the executable by the
// build (see resources/VersionRecord.cpp), made of named values such as
// "\VarFileInfo\Translation" and "\StringFileInfo\041904e3\ProductName". Any file can be asked; a
// file without a record fails at construction.
class TFileVersionInfo {
 public:
  explicit TFileVersionInfo(const QString& fileName);

  const QString& FileName() const { return FFileName; }
  // The language and code page key of the string table, as 8 lower-case hexadecimal digits.
  QString GetTranslation();
  QString GetValue(const QString& name);

  QString FileDescription() { return GetValue(QStringLiteral("FileDescription")); }
  QString FileVersion() { return GetValue(QStringLiteral("FileVersion")); }
  QString LegalCopyright() { return GetValue(QStringLiteral("LegalCopyright")); }
  QString ProductName() { return GetValue(QStringLiteral("ProductName")); }

 private:
  bool FindValue(const QByteArray& path, QByteArray& value) const;

  QString FFileName;
  QString FTranslation;
  QByteArray FVersionData;
};

// The record of the running program, read on first use and kept until the program ends. A failure
// reaches the caller, and the next call tries again.
TFileVersionInfo& AppVersionInfo();

// A read-write stream over a temporary file that disappears when the stream is destroyed, and
// also when the process dies: the file is unlinked as soon as it is open.
class TTempFileStream : public THandleStream {
 public:
  // Creates (or truncates) the named file.
  explicit TTempFileStream(const QString& fileName);
  // Creates a file with a unique name made from the prefix in the temporary directory.
  static TTempFileStream* CreateUnique(const QString& prefix);

 private:
  TTempFileStream() = default;
};

// A file opened for reading whose bytes stay as they were when it was opened, for as long as the
// stream lives. The system is asked for a read lease: when another program opens the file for
// writing, it is held back until a private copy of the file has taken the place of the original
// behind this stream's descriptor, and of its mapping, so later reads see the old bytes. Without a
// lease (another owner, a network file system, leases off) nothing can be guaranteed and Open
// gives none.
class TStableFile : public THandleStream {
 public:
  static std::unique_ptr<TStableFile> Open(const QString& fileName);
  ~TStableFile() override;

  const QString& FileName() const { return FFileName; }
  // Whether the private copy has taken over from the original file.
  bool Copied() const { return FState.load() == kCopied; }
  // Raises when the bytes could not be kept (the copy failed: a full disk). Bytes read from the
  // mapping before this check passes are then zeros, not the other program's.
  void CheckIntact() const override;
  // The whole file mapped for reading, FileSize() bytes; null where the system cannot map it. It
  // stays at this address while the stream lives, and reading it is safe from any thread.
  const uint8_t* Mapped() const {
    // The private copy's pages hold the same bytes as the original's, so a reader needs no order
    // with the swap; a thread checker, though, takes the swap for a write of every byte. Reading
    // the state orders this thread after a swap that has happened, which the checker can see.
    FState.load(std::memory_order_acquire);
    return FMap;
  }
  int64_t FileSize() const { return FSize; }
  // Lets the system take back the memory that the mapped pages occupy; they are read again
  // (from the system's file cache) when next touched.
  void ReleaseMapped() const;

 private:
  friend class TStableFileWatcher;
  enum : int { kLeased, kCopied, kLost };
  TStableFile(int handle, QString fileName);
  void TakePrivateCopy();

  QString FFileName;
  int64_t FSize = 0;
  uint8_t* FMap = nullptr;
  std::atomic<int> FState{kLeased};
};

// A file opened for reading whose bytes no lease keeps (another owner's file, a file that a writer
// already has open, a file system without leases): other programs may change it while it is read.
// Its changes are watched instead: CheckIntact raises once the file may have changed since it was
// opened, so that all bytes read before a check that passes come from one version of the file.
// Every write through this system is noticed, whatever program makes it; changes that the system
// does not report (on another machine of a network file system) are noticed by the file's size
// and times.
class TWatchedFile : public TFileStream {
 public:
  explicit TWatchedFile(const QString& fileName);
  ~TWatchedFile() override;

  void CheckIntact() const override;

 private:
  int FNotices = -1;  // the system's notices of writes to the file; none where it gives none
  struct stat FOpened = {};
  mutable bool FChanged = false;
};

// A file that takes the place of its target only once it is complete: it is written under a
// temporary name of its own beside the target, made durable and renamed over the target, so that a
// failure leaves the target as it was, and of several saves to one target at once the last rename
// wins whole. The temporary name is the target's with a random part before a marked extension
// ("scan.k3X9qa.~bm" for "scan.bmp": "~" and the extension's first two letters); the file is
// locked while it lives, so that one left behind by a run that was killed is known by its name and
// its missing lock, and the next save to the same target removes it. Until the rename the
// temporary file is removed when the object is destroyed, and when SIGINT, SIGTERM or SIGHUP ends
// the process. Only a regular file, or nothing, can be replaced; a target that the user may not
// write is refused. Errors name the target, the file the user asked for.
class TReplacementFile {
 public:
  explicit TReplacementFile(const QString& target);
  ~TReplacementFile();
  TReplacementFile(const TReplacementFile&) = delete;
  TReplacementFile& operator=(const TReplacementFile&) = delete;

  THandleStream& Stream() { return *FStream; }
  // The temporary file, created empty, for a writer that opens it by name itself: it may truncate
  // and rewrite the file in place, but must neither remove nor replace it.
  const QString& TempName() const { return FTempName; }
  // Gives the file the permissions of the file it replaces (without set-user-ID and set-group-ID,
  // which belong to the old file's owner), makes it durable and renames it over the target. A
  // failed rename removes the temporary file and raises renameError followed by " в ", the target
  // and the cause.
  void Commit(const QString& renameError);

 private:
  void Discard();

  QString FTarget;
  QString FTempName;
  std::unique_ptr<TFileStream> FStream;
  int FCleanupSlot = -1;
};

// Hands out regions at the end of a stream; the stream is not owned.
class TInsideStreamAllocator {
 public:
  explicit TInsideStreamAllocator(THandleStream* stream) : FStream(stream) {}

  // The region starts at the current end of the stream. With fill the stream is extended by size
  // zero bytes; without it the caller writes the region itself.
  int64_t Allocate(int64_t size, bool fill);
  void Reset();

  THandleStream* Stream() const { return FStream; }

 private:
  THandleStream* FStream;
};
