#pragma once

#include "RasterFiles.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// A provider whose every file is one block of memory: the bytes under test, read as the engine
// reads a user's file, without touching the disk.
class TMemoryFileProvider : public TRasterFileProvider {
 public:
  TMemoryFileProvider();
  ~TMemoryFileProvider() override;

  // The bytes that every stream opened from now on reads.
  void SetBytes(const uint8_t* data, size_t size);

  bool SelectFile(QString&) override { return false; }
  std::unique_ptr<THandleStream> OpenStream(const QString& purpose,
                                            const QString& fileName) override;

 private:
  int FHandle;
};
