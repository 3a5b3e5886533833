#pragma once

#include "SysUtils.h"

#include <cstdint>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// A byte stream with 64-bit positions. ReadBuffer and WriteBuffer move exactly the count asked for
// or raise; Read and Write report how much they moved. Errors name the stream by its subject.
class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream();

  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual void SetSize(int64_t size) = 0;
  virtual int64_t Size();

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);

  // What the stream reads or writes, in the genitive as error messages use it ("файла
  // /data/scan.bmp").
  const QString& Subject() const { return FSubject; }
  void SetSubject(const QString& subject) { FSubject = subject; }

 private:
  QString FSubject = QStringLiteral("файла");
};

// A stream over an operating-system file descriptor, which it closes when destroyed. Besides the
// sequential operations it reads and writes at a given offset without moving the position.
class THandleStream : public TStream {
 public:
  explicit THandleStream(int handle);
  ~THandleStream() override;

  int Handle() const { return FHandle; }

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;
  int64_t Size() override;

  void ReadBufferAt(int64_t offset, void* buffer, int64_t count);
  void WriteBufferAt(int64_t offset, const void* buffer, int64_t count);
  // Copies count bytes from the offset into the target at its offset, inside the kernel where the
  // system can, through memory otherwise; raises when the source ends early.
  void CopyRangeTo(int64_t offset, THandleStream& target, int64_t targetOffset, int64_t count);
  // Makes the written data durable (fsync); raises on failure.
  void Flush();
  // Raises when the bytes read so far may not all be the file's as it was when opened: another
  // program changed it meanwhile. A stream that cannot tell never raises.
  virtual void CheckIntact() const {}

 protected:
  THandleStream() = default;
  void SetHandle(int handle) { FHandle = handle; }

 private:
  int FHandle = -1;
};

// Opens a file without blocking and keeps the descriptor only when it is a regular file; raises
// EFOpenError (EFCreateError with create) naming the file by shownName. Blocking waits only for a
// lease another program holds on a regular file.
int OpenRegularFile(const QString& fileName, int flags, const QString& shownName);

enum class TFileMode {
  fmOpenRead,       // existing file, read only
  fmOpenReadWrite,  // existing file, read and write
  fmCreate,         // create or truncate, read and write
  fmCreateNew,      // create a file that must not exist yet, read and write
};

// A named file. A failure to open raises EFOpenError, a failure to create EFCreateError, both
// naming the file and the cause. Only regular files are opened: a directory, a pipe or a device is
// refused at once, without waiting for a writer at the other end of a pipe.
class TFileStream : public THandleStream {
 public:
  // shownName: the name that messages give for the file, when another name means more to the user
  // (the target of a temporary file); by default the file's own.
  TFileStream(const QString& fileName, TFileMode mode, const QString& shownName = QString());

  const QString& FileName() const { return FFileName; }

 private:
  QString FFileName;
};
