// The program's version record, placed in its own ELF section of the executable so that
// TFileVersionInfo can read it from the file by name, the way it reads any other program.
#include "VersionStrings.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace {

struct TRecordEntry {
  std::string_view Path;
  std::string_view Value;
};

// Russian (0x0419) with code page 1251 (0x04E3): the key "041904e3" of the string table. A test
// builds the record with another translation to check that the lookup follows this entry.
#ifndef VELMORA_RECORD_LANGUAGE
#define VELMORA_RECORD_LANGUAGE 0x0419
#define VELMORA_RECORD_CODEPAGE 0x04E3
#endif
constexpr char kTranslation[] = {static_cast<char>(VELMORA_RECORD_LANGUAGE & 0xFF),
                                 static_cast<char>(VELMORA_RECORD_LANGUAGE >> 8),
                                 static_cast<char>(VELMORA_RECORD_CODEPAGE & 0xFF),
                                 static_cast<char>(VELMORA_RECORD_CODEPAGE >> 8)};

constexpr TRecordEntry kEntries[] = {
    {"\\VarFileInfo\\Translation", std::string_view(kTranslation, sizeof kTranslation)},
    {"\\StringFileInfo\\041904e3\\ProductName", VELMORA_PRODUCT_NAME},
    {"\\StringFileInfo\\041904e3\\FileDescription", VELMORA_FILE_DESCRIPTION},
    {"\\StringFileInfo\\041904e3\\FileVersion", VELMORA_FILE_VERSION},
    {"\\StringFileInfo\\041904e3\\LegalCopyright", VELMORA_LEGAL_COPYRIGHT},
};

constexpr std::string_view kMagic("VLMVER1\0", 8);

constexpr std::size_t RecordSize() {
  std::size_t size = kMagic.size() + 2;
  for (const TRecordEntry& entry : kEntries) size += 4 + entry.Path.size() + entry.Value.size();
  return size;
}

constexpr std::array<unsigned char, RecordSize()> BuildRecord() {
  std::array<unsigned char, RecordSize()> record{};
  std::size_t pos = 0;
  auto put16 = [&](std::size_t value) {
    record[pos++] = static_cast<unsigned char>(value & 0xFF);
    record[pos++] = static_cast<unsigned char>(value >> 8);
  };
  auto putText = [&](std::string_view text) {
    for (char c : text) record[pos++] = static_cast<unsigned char>(c);
  };
  putText(kMagic);
  for (const TRecordEntry& entry : kEntries) {
    put16(entry.Path.size());
    putText(entry.Path);
    put16(entry.Value.size());
    putText(entry.Value);
  }
  put16(0);
  return record;
}

}  // namespace

[[gnu::used, gnu::section(".velmora_version")]] extern const std::array<unsigned char, RecordSize()>
    VelmoraVersionRecord = BuildRecord();
