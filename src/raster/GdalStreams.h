#pragma once

#include "Streams.h"

#include <QByteArray>
#include <QString>

#include <memory>

// Lets GDAL read and write one of our streams: while this object lives, the stream has a name of
// its own under "/vsivelmora/", and GDAL's file operations on that name are positioned reads and
// writes on the stream's descriptor. So GDAL sees exactly what the provider opened (a file kept
// stable, a block of memory) and writes into the file a save prepared, and errors of the stream
// are ours to report. Every dataset GDAL opened on the name must be closed before this object
// ends.
class TGdalStreamName {
 public:
  // The name ends with the file's own name, which GDAL's messages and drivers may look at.
  TGdalStreamName(THandleStream& stream, const QString& fileName);
  ~TGdalStreamName();
  TGdalStreamName(const TGdalStreamName&) = delete;
  TGdalStreamName& operator=(const TGdalStreamName&) = delete;

  const QByteArray& Path() const { return FPath; }
  // The error number of the first write or truncation that failed through the name; 0 if none.
  int WriteError() const;

  struct TEntry;

 private:
  QByteArray FPath;
  std::shared_ptr<TEntry> FEntry;
};
