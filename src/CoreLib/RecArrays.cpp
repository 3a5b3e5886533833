#include "RecArrays.h"

#include <QDir>
#include <QFile>
#include <QLocale>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

EInternal::EInternal(const QString& location, const QString& message)
    : Exception(QStringLiteral("Внутренняя ошибка: ") + message + QStringLiteral(" (") + location +
                QStringLiteral(")")) {}

void RaiseInternal(const QString& location, const QString& message) {
  throw EInternal(location, message);
}

void CheckInternal(bool condition, const QString& location, const QString& message) {
  if (!condition) RaiseInternal(location, message);
}

void RaiseInternalFmt(const QString& location, const QString& format, const QVariantList& args) {
  RaiseInternal(location, Format(format, args));
}

void TRecArray::Init(int32_t recSize) {
  Items = nullptr;
  RecSize = recSize;
  Capacity = 0;
  Count = 0;
}

void TRecArray::Clear() {
  std::free(Items);
  Items = nullptr;
  Capacity = 0;
  Count = 0;
}

void TRecArray::SetCapacity(int32_t n) {
  const int32_t capacity = std::max(n, Count);
  if (capacity == Capacity) return;
  void* block = nullptr;
  if (capacity > 0) {
    block = std::calloc(static_cast<size_t>(capacity), static_cast<size_t>(RecSize));
    if (!block) throw std::bad_alloc();
    if (Count > 0) std::memcpy(block, Items, static_cast<size_t>(Count) * RecSize);
  }
  std::free(Items);
  Items = block;
  Capacity = capacity;
}

void TRecArray::Grow() {
  int32_t delta = 4;
  if (Capacity > 64)
    delta = Capacity / 4;
  else if (Capacity > 8)
    delta = 16;
  SetCapacity(Capacity + delta);
}

void TRecArray::InsertRecs(int32_t index, const void* source, int32_t n) {
  if (index < 0 || index > Count)
    throw ERecArray(QStringLiteral("Индекс массива выходит за пределы (TRecArray.InsertRecs)"));
  if (Capacity < Count + n) SetCapacity(Count + n);
  char* base = static_cast<char*>(Items);
  if (index < Count)
    std::memmove(base + static_cast<size_t>(index + n) * RecSize,
                 base + static_cast<size_t>(index) * RecSize,
                 static_cast<size_t>(Count - index) * RecSize);
  if (n > 0)
    std::memcpy(base + static_cast<size_t>(index) * RecSize, source,
                static_cast<size_t>(n) * RecSize);
  Count += n;
}

void TRecArray::Add(const void* record) {
  if (Count == Capacity) Grow();
  AddRecs(record, 1);
}

void TRecArray::Insert(int32_t index, const void* record) {
  if (Count == Capacity) Grow();
  InsertRecs(index, record, 1);
}

void TRecArray::DeleteRecs(int32_t index, int32_t n) {
  if (index < 0 || n < 0 || index + n > Count)
    throw ERecArray(QStringLiteral("Индекс массива выходит за пределы (TRecArray.DeleteRecs)"));
  char* base = static_cast<char*>(Items);
  const int32_t tail = Count - index - n;
  if (tail > 0)
    std::memmove(base + static_cast<size_t>(index) * RecSize,
                 base + static_cast<size_t>(index + n) * RecSize,
                 static_cast<size_t>(tail) * RecSize);
  Count -= n;
}

void* TRecArray::GetPtr(int32_t index) const {
  if (index < 0 || index >= Count)
    throw ERecArray(
        Format(QStringLiteral("Индекс массива %d выходит за пределы [0, %d] (TRecArray.GetPtr)"),
               {index, Count - 1}));
  return static_cast<char*>(Items) + static_cast<size_t>(index) * RecSize;
}

void TRecArray::Assign(const TRecArray& source) {
  if (source.RecSize != RecSize)
    throw ERecArray(QStringLiteral("Не совпадает размер элемента (TRecArray.Assign)"));
  if (&source == this) return;
  if (Capacity < source.Count) SetCapacity(source.Count);
  if (source.Count > 0)
    std::memcpy(Items, source.Items, static_cast<size_t>(source.Count) * RecSize);
  Count = source.Count;
}

int IfThen(bool flag, int a, int b) {
  return flag ? a : b;
}

double StrToFloatAnySep(const QString& text) {
  const QString separator = QLocale().decimalPoint();
  QString s = text;
  if (separator == u".") {
    const qsizetype i = s.indexOf(u',');
    if (i >= 0) s[i] = u'.';
  } else if (separator == u",") {
    const qsizetype i = s.indexOf(u'.');
    if (i >= 0) s[i] = u',';
  } else {
    qsizetype i = s.indexOf(u',');
    if (i < 0) i = s.indexOf(u'.');
    if (i >= 0) s.replace(i, 1, separator);
  }
  return StrToFloat(s);
}

QString GetTempDir() {
  // A TMPDIR naming no usable folder must not send temporary files elsewhere (a missing one made
  // them land in the root folder); the system's own folder serves instead.
  const QByteArray dir = qgetenv("TMPDIR");
  struct stat st;
  if (!dir.isEmpty() && ::stat(dir.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
      ::access(dir.constData(), W_OK | X_OK) == 0)
    return QDir::cleanPath(QFile::decodeName(dir));
  return QStringLiteral("/tmp");
}

int CompareBytes(const void* a, const void* b, int64_t length) {
  const auto* pa = static_cast<const unsigned char*>(a);
  const auto* pb = static_cast<const unsigned char*>(b);
  for (int64_t i = 0; i < length; ++i)
    if (pa[i] != pb[i]) return pa[i] < pb[i] ? -1 : 1;
  return 0;
}

bool SameRect(const TRect& a, const TRect& b) {
  return a == b;
}

TRect InflatedRect(const TRect& r, int dx, int dy) {
  return TRect{r.Left - dx, r.Top - dy, r.Right + dx, r.Bottom + dy};
}

void IncludePoint(TRect& r, const TPoint& p) {
  r.Left = std::min(r.Left, p.X);
  r.Top = std::min(r.Top, p.Y);
  r.Right = std::max(r.Right, p.X);
  r.Bottom = std::max(r.Bottom, p.Y);
}
