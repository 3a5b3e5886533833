#pragma once

#include "SysUtils.h"
#include "Types.h"

#include <cstdint>
#include <functional>

// A broken invariant or bad input to a component:
// "Внутренняя ошибка: " + message + " (" + location + ")".
class EInternal : public Exception {
 public:
  EInternal(const QString& location, const QString& message);
};

[[noreturn]] void RaiseInternal(const QString& location, const QString& message);
void CheckInternal(bool condition, const QString& location, const QString& message);
[[noreturn]] void RaiseInternalFmt(const QString& location, const QString& format,
                                   const QVariantList& args);

class ERecArray : public Exception {
 public:
  using Exception::Exception;
};

// A growable array of fixed-size records packed in one block. The records are raw bytes to it: it
// moves them with memory copies and never constructs or destroys them. It is a value embedded in
// its owner, which frees the block with Clear.
struct TRecArray {
  void* Items = nullptr;
  int32_t RecSize = 0;
  int32_t Capacity = 0;
  int32_t Count = 0;

  void Init(int32_t recSize);
  void Clear();
  void SetCapacity(int32_t n);
  void Grow();
  void InsertRecs(int32_t index, const void* source, int32_t n);
  void AddRecs(const void* source, int32_t n) { InsertRecs(Count, source, n); }
  void Add(const void* record);
  void Insert(int32_t index, const void* record);
  void DeleteRecs(int32_t index, int32_t n);
  void Delete(int32_t index) { DeleteRecs(index, 1); }
  void* GetPtr(int32_t index) const;
  void Assign(const TRecArray& source);

  // Unchecked typed access for owners that keep the index in range themselves.
  template <typename T>
  T* At(int32_t index) const {
    return static_cast<T*>(Items) + index;
  }
};

int IfThen(bool flag, int a, int b);

// Reads a decimal number typed by the user or kept in the settings, accepting "." or "," as the
// decimal separator whatever the locale says.
double StrToFloatAnySep(const QString& text);

// The directory for temporary files: TMPDIR when it names a folder this process may write in,
// otherwise /tmp.
QString GetTempDir();

// -1, 0 or 1, comparing unsigned bytes; the first difference decides.
int CompareBytes(const void* a, const void* b, int64_t length);

bool SameRect(const TRect& a, const TRect& b);
TRect InflatedRect(const TRect& r, int dx, int dy);
void IncludePoint(TRect& r, const TPoint& p);

// Binary search over a list sorted ascending by key. compare(key) is negative when the key sorts
// before the sought value, 0 when equal, positive after. Returns whether an equal key was found;
// index is the first position whose key is not before the sought value.
template <typename List, typename Compare>
bool BinarySearchList(const List& list, Compare compare, int& index) {
  int lo = 0;
  int hi = static_cast<int>(list.size()) - 1;
  bool found = false;
  while (lo <= hi) {
    const int mid = (lo + hi) >> 1;
    const int result = compare(list[mid]);
    if (result < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (result == 0) found = true;
    }
  }
  index = lo;
  return found;
}

// The same with a key function applied to each item before the comparison.
template <typename List, typename Key, typename Compare>
bool BinarySearchList(const List& list, Key key, Compare compare, int& index) {
  return BinarySearchList(
      list, [&](const auto& item) { return compare(key(item)); }, index);
}
