#include "RefObjects.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <typeinfo>

TRefObject::~TRefObject() = default;

void TRefObject::GetDebugInfo(uint8_t column, QStringList& lines) {
  if (column == 0)
    lines.append(QStringLiteral("RefCount"));
  else if (column == 1)
    lines.append(QString::number(RefCount()));
}

int32_t TRefObject::Release() {
  const int32_t count = FRefCount.fetch_sub(1) - 1;
  if (count == 0) delete this;
  return count;
}

QString RefObjectClassName(const TRefObject* obj) {
  if (!obj) return QStringLiteral("НЕ известно");
  const char* mangled = typeid(*obj).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return QString::fromUtf8(status == 0 && demangled ? demangled.get() : mangled);
}

void CheckRefCount(int32_t count, const TRefObject* obj) {
  if (count > 0) return;
  throw EAssertionFailed(Format(QStringLiteral("Объект не инициализирован, имя класса \"%S\""),
                                {RefObjectClassName(obj)}),
                         QStringLiteral("CoreLib\\RefObjects"), 86);
}

TRefObjectList::TRefObjectList(bool disposeItems) : FDisposeItems(disposeItems) {}

TRefObjectList::~TRefObjectList() {
  try {
    Clear();
  } catch (...) {
    // A destructor cannot report; the items' own faults were already raised when they happened.
  }
}

void TRefObjectList::CheckIndex(int index, bool allowEnd) const {
  const int limit = allowEnd ? Count() : Count() - 1;
  if (index < 0 || index > limit)
    throw Exception(Format(QStringLiteral("List index out of bounds (%d)"), {index}));
}

TRefObject* TRefObjectList::Items(int index) const {
  CheckIndex(index, false);
  return FItems[static_cast<size_t>(index)];
}

int TRefObjectList::IndexOf(const TRefObject* item) const {
  const auto it = std::find(FItems.begin(), FItems.end(), item);
  return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

int TRefObjectList::Add(TRefObject* item) {
  FItems.push_back(item);
  if (item) ItemAdded(item);
  return Count() - 1;
}

void TRefObjectList::Insert(int index, TRefObject* item) {
  CheckIndex(index, true);
  FItems.insert(FItems.begin() + index, item);
  if (item) ItemAdded(item);
}

void TRefObjectList::Put(int index, TRefObject* item) {
  CheckIndex(index, false);
  TRefObject* old = FItems[static_cast<size_t>(index)];
  FItems[static_cast<size_t>(index)] = item;
  if (old) ItemDeleted(old);
  if (item) ItemAdded(item);
}

void TRefObjectList::Delete(int index) {
  CheckIndex(index, false);
  TRefObject* old = FItems[static_cast<size_t>(index)];
  FItems.erase(FItems.begin() + index);
  if (old) ItemDeleted(old);
}

int TRefObjectList::Remove(TRefObject* item) {
  const int index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

TRefObject* TRefObjectList::Extract(TRefObject* item) {
  const int index = IndexOf(item);
  if (index < 0) return nullptr;
  FItems.erase(FItems.begin() + index);
  return item;
}

void TRefObjectList::Clear() {
  while (!FItems.empty()) Delete(Count() - 1);
}

void TRefObjectList::ItemAdded(TRefObject* item) {
  item->AddRef();
}

void TRefObjectList::ItemDeleted(TRefObject* item) {
  if (FDisposeItems)
    DisposeRef(item);
  else
    ReleaseRef(item);
}

TNotifyClient::~TNotifyClient() {
  DetachAll();
}

void TNotifyClient::DetachAll() {
  // Each entry is one registration; dropping them one by one also undoes a client that was
  // registered with the same list twice.
  std::vector<TNotifyList*> lists;
  lists.swap(FLists);
  for (TNotifyList* list : lists)
    if (list) list->DropClient(this);
}

TNotifyList::~TNotifyList() {
  auto unlink = [this](TNotifyClient* client) {
    if (!client) return;
    auto& lists = client->FLists;
    const auto it = std::find(lists.begin(), lists.end(), this);
    if (it != lists.end()) lists.erase(it);
  };
  for (TNotifyClient* client : FPending) unlink(client);
  for (TNotifyClient* client : FClients) unlink(client);
}

void TNotifyList::AddClient(TNotifyClient* client) {
  if (FLockCount != 0)
    FPending.push_back(client);
  else
    FClients.push_back(client);
  if (client) client->FLists.push_back(this);
}

void TNotifyList::RemoveClient(TNotifyClient* client) {
  DropClient(client);
  if (!client) return;
  auto& lists = client->FLists;
  const auto it = std::find(lists.begin(), lists.end(), this);
  if (it != lists.end()) lists.erase(it);
}

void TNotifyList::DropClient(TNotifyClient* client) {
  if (FLockCount != 0) {
    const auto it = std::find(FClients.begin(), FClients.end(), client);
    if (it != FClients.end()) *it = nullptr;
    const auto pending = std::find(FPending.begin(), FPending.end(), client);
    if (pending != FPending.end()) FPending.erase(pending);
  } else {
    const auto it = std::find(FClients.begin(), FClients.end(), client);
    if (it != FClients.end()) FClients.erase(it);
  }
}

const std::vector<TNotifyClient*>& TNotifyList::BeginNotify() {
  ++FLockCount;
  return FClients;
}

void TNotifyList::EndNotify() {
  if (--FLockCount != 0) return;
  FClients.erase(std::remove(FClients.begin(), FClients.end(), nullptr), FClients.end());
  FClients.insert(FClients.end(), FPending.begin(), FPending.end());
  FPending.clear();
}
