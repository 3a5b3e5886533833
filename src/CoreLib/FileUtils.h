#pragma once

#include "Streams.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

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
