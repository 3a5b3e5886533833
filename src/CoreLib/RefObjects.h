#pragma once

#include "SysUtils.h"

#include <QStringList>

#include <atomic>
#include <cstdint>
#include <type_traits>
#include <vector>

// The base of every object that several holders share. The count is 0 when the constructor
// returns; each holder adds one reference and the release that brings it to 0 destroys the object.
// An owner that ends an object's life calls DisposeRef, which lets the object drop its own links
// (Disconnect) while it is still whole, so that reference cycles are broken.
class TRefObject {
 public:
  TRefObject() = default;
  TRefObject(const TRefObject&) = delete;
  TRefObject& operator=(const TRefObject&) = delete;
  virtual ~TRefObject();

  virtual void Disconnect() {}
  // Column 0 adds the caption "RefCount", column 1 the current count; subclasses add pairs of
  // their own in the same two-column manner.
  virtual void GetDebugInfo(uint8_t column, QStringList& lines);

  int32_t RefCount() const { return FRefCount.load(std::memory_order_relaxed); }
  int32_t AddRef() { return FRefCount.fetch_add(1) + 1; }
  // Destroys the object when the count reaches zero; returns the new count.
  int32_t Release();

 private:
  std::atomic<int32_t> FRefCount{0};
};

// Raises the "Объект не инициализирован" assertion when count is not positive.
void CheckRefCount(int32_t count, const TRefObject* obj);

// The class name that the assertion of CheckRefCount reports.
QString RefObjectClassName(const TRefObject* obj);

// Stores obj in target, adding a reference. The old content of target is not released: this is
// for empty variables.
template <typename T>
void AssignRef(T*& target, T* obj) {
  if constexpr (std::is_base_of_v<TRefObject, T>) {
    if (obj) obj->AddRef();
  }
  target = obj;
}

// Gives up the reference that target holds and clears it. On a count that already reached zero
// the assertion is raised, the variable keeps its content and nothing is released.
template <typename T>
void ReleaseRef(T*& target) {
  if (!target) return;
  if constexpr (std::is_base_of_v<TRefObject, T>) {
    CheckRefCount(target->RefCount(), target);
    T* obj = target;
    target = nullptr;
    obj->Release();
  } else {
    target = nullptr;
  }
}

// Ends an owned object's life in order: its Disconnect runs while the object is kept alive by a
// temporary reference, then that reference and the target's are released. Objects that are not
// reference-counted are simply deleted.
template <typename T>
void DisposeRef(T*& target) {
  if (!target) return;
  if constexpr (std::is_base_of_v<TRefObject, T>) {
    TRefObject* obj = target;
    CheckRefCount(obj->RefCount(), obj);
    obj->AddRef();
    try {
      obj->Disconnect();
    } catch (...) {
      obj->Release();
      throw;
    }
    obj->Release();
    target = nullptr;
    obj->Release();
  } else {
    delete target;
    target = nullptr;
  }
}

// Holds one reference for the life of a scope.
template <typename T>
class TRefHolder {
 public:
  explicit TRefHolder(T* obj = nullptr) { AssignRef(FObj, obj); }
  TRefHolder(const TRefHolder&) = delete;
  TRefHolder& operator=(const TRefHolder&) = delete;
  ~TRefHolder() {
    if (FObj) FObj->Release();
  }
  T* Get() const { return FObj; }
  T* operator->() const { return FObj; }

 private:
  T* FObj = nullptr;
};

// A list that holds one reference to each of its items. Deleting an item disposes it when the
// list was created with disposeItems, and only releases it otherwise. Null entries are allowed
// and are neither referenced nor released.
class TRefObjectList {
 public:
  explicit TRefObjectList(bool disposeItems);
  TRefObjectList(const TRefObjectList&) = delete;
  TRefObjectList& operator=(const TRefObjectList&) = delete;
  virtual ~TRefObjectList();

  int Count() const { return static_cast<int>(FItems.size()); }
  TRefObject* Items(int index) const;
  template <typename T>
  T* ItemAs(int index) const {
    return static_cast<T*>(Items(index));
  }
  int IndexOf(const TRefObject* item) const;

  int Add(TRefObject* item);
  void Insert(int index, TRefObject* item);
  // Replacing an item deletes the old one, then adds the new one.
  void Put(int index, TRefObject* item);
  void Delete(int index);
  int Remove(TRefObject* item);
  // Takes the item out without releasing it: the list's reference passes to the caller.
  TRefObject* Extract(TRefObject* item);
  void Clear();

  bool DisposeItems() const { return FDisposeItems; }

 protected:
  virtual void ItemAdded(TRefObject* item);
  virtual void ItemDeleted(TRefObject* item);

 private:
  void CheckIndex(int index, bool allowEnd) const;

  std::vector<TRefObject*> FItems;
  bool FDisposeItems;
};

class TNotifyList;

// One side of a many-to-many subscription. Destroying a client unlinks it from every list.
class TNotifyClient {
 public:
  TNotifyClient() = default;
  TNotifyClient(const TNotifyClient&) = delete;
  TNotifyClient& operator=(const TNotifyClient&) = delete;
  virtual ~TNotifyClient();

  void DetachAll();
  const std::vector<TNotifyList*>& Lists() const { return FLists; }

 private:
  friend class TNotifyList;
  std::vector<TNotifyList*> FLists;
};

// Notifies its clients in order of registration. Clients may be added or removed while a
// notification runs: removed ones leave a null entry so that no index shifts, added ones wait in
// Pending and join when the outermost notification ends.
class TNotifyList {
 public:
  TNotifyList() = default;
  TNotifyList(const TNotifyList&) = delete;
  TNotifyList& operator=(const TNotifyList&) = delete;
  virtual ~TNotifyList();

  void AddClient(TNotifyClient* client);
  void RemoveClient(TNotifyClient* client);
  const std::vector<TNotifyClient*>& BeginNotify();
  void EndNotify();

  const std::vector<TNotifyClient*>& Clients() const { return FClients; }
  const std::vector<TNotifyClient*>& Pending() const { return FPending; }
  int LockCount() const { return FLockCount; }

 protected:
  // Calls visit for every client registered before the notification started and still there;
  // closes the notification also when visit raises.
  template <typename Visit>
  void Notify(Visit visit) {
    const std::vector<TNotifyClient*>& clients = BeginNotify();
    try {
      const size_t n = clients.size();
      for (size_t i = 0; i < n; ++i)
        if (clients[i]) visit(clients[i]);
    } catch (...) {
      EndNotify();
      throw;
    }
    EndNotify();
  }

 private:
  friend class TNotifyClient;
  // Takes one registration of the client off this list's side only.
  void DropClient(TNotifyClient* client);

  std::vector<TNotifyClient*> FClients;
  std::vector<TNotifyClient*> FPending;
  int FLockCount = 0;
};
