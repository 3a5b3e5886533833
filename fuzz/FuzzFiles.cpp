#include "FuzzFiles.h"

#include "BmpFiles.h"
#include "GdalFiles.h"

#include <sys/mman.h>
#include <unistd.h>
#include <cerrno>

TMemoryFileProvider::TMemoryFileProvider() : FHandle(::memfd_create("fuzz", MFD_CLOEXEC)) {
  if (FHandle < 0) throw EOSError(errno);
  RegisterBmpFormat(this);
  RegisterGdalFormats(this);
}

TMemoryFileProvider::~TMemoryFileProvider() {
  ::close(FHandle);
}

void TMemoryFileProvider::SetBytes(const uint8_t* data, size_t size) {
  if (::ftruncate(FHandle, 0) != 0) throw EOSError(errno);
  THandleStream stream(::dup(FHandle));
  stream.WriteBufferAt(0, data, static_cast<int64_t>(size));
}

std::unique_ptr<THandleStream> TMemoryFileProvider::OpenStream(const QString&, const QString&) {
  return std::make_unique<THandleStream>(::dup(FHandle));
}
