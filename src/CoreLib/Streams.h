#pragma once

#include "SysUtils.h"

#include <cstdint>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// A byte stream with 64-bit positions. ReadBuffer and WriteBuffer move exactly the count asked for
// or raise; Read and Write report how much they moved.
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

 protected:
  THandleStream() = default;
  void SetHandle(int handle) { FHandle = handle; }

 private:
  int FHandle = -1;
};

enum class TFileMode {
  fmOpenRead,       // existing file, read only
  fmOpenReadWrite,  // existing file, read and write
  fmCreate,         // create or truncate, read and write
  fmCreateNew,      // create a file that must not exist yet, read and write
};

// A named file. A failure to open raises EFOpenError, a failure to create EFCreateError, both
// naming the file and the system's reason.
class TFileStream : public THandleStream {
 public:
  TFileStream(const QString& fileName, TFileMode mode);

  const QString& FileName() const { return FFileName; }

 private:
  QString FFileName;
};
