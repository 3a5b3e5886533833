#include "QtPrinters.h"
#include "RefObjects.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

// Records what happened to it in a log that outlives it.
class TProbe : public TRefObject {
 public:
  explicit TProbe(std::vector<QString>& log, QString name = "p")
      : FLog(log), FName(std::move(name)) {}
  ~TProbe() override { FLog.push_back(FName + ":destroyed"); }
  void Disconnect() override {
    FLog.push_back(FName + ":disconnect@" + QString::number(RefCount()));
    if (ThrowOnDisconnect) throw Exception("disconnect failed");
  }
  bool ThrowOnDisconnect = false;

 private:
  std::vector<QString>& FLog;
  QString FName;
};

class TTestClient : public TNotifyClient {
 public:
  std::function<void()> OnNotify;
  int Calls = 0;
};

// A list whose notification calls the test clients' handlers.
class TTestList : public TNotifyList {
 public:
  void Fire() {
    Notify([](TNotifyClient* client) {
      auto* c = static_cast<TTestClient*>(client);
      ++c->Calls;
      if (c->OnNotify) c->OnNotify();
    });
  }
};

}  // namespace

TEST(RefFunctions, AssignReleaseAndTheLastReleaseDestroys) {
  std::vector<QString> log;
  TProbe* obj = new TProbe(log);
  EXPECT_EQ(obj->RefCount(), 0);
  TProbe* a = nullptr;
  TProbe* b = nullptr;
  AssignRef(a, obj);
  AssignRef(b, obj);
  EXPECT_EQ(obj->RefCount(), 2);
  ReleaseRef(a);
  EXPECT_EQ(a, nullptr);
  EXPECT_TRUE(log.empty());
  ReleaseRef(b);
  EXPECT_EQ(log, std::vector<QString>{"p:destroyed"});
  ReleaseRef(b);  // null: nothing happens
}

TEST(RefFunctions, ReleasingAnUnreferencedObjectIsRefusedNamingTheClass) {
  std::vector<QString> log;
  TProbe* obj = new TProbe(log);
  TProbe* target = obj;
  try {
    ReleaseRef(target);
    FAIL() << "no assertion";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(
        e.Message(),
        QStringLiteral("Объект не инициализирован, имя класса \"(anonymous namespace)::TProbe\" "
                       "(CoreLib\\RefObjects, line 86)"));
  }
  EXPECT_EQ(target, obj);  // the variable keeps its content
  EXPECT_TRUE(log.empty());
  EXPECT_THROW(DisposeRef(target), EAssertionFailed);
  EXPECT_TRUE(log.empty());
  delete obj;
}

TEST(RefFunctions, DisposeDisconnectsWhileAliveThenReleases) {
  std::vector<QString> log;
  TProbe* obj = nullptr;
  AssignRef(obj, new TProbe(log));
  DisposeRef(obj);
  EXPECT_EQ(obj, nullptr);
  // Disconnect ran under the temporary reference, before the destruction.
  EXPECT_EQ(log, (std::vector<QString>{"p:disconnect@2", "p:destroyed"}));
}

TEST(RefFunctions, AFailingDisconnectKeepsTheVariableAndItsReference) {
  std::vector<QString> log;
  TProbe* obj = nullptr;
  AssignRef(obj, new TProbe(log));
  obj->ThrowOnDisconnect = true;
  EXPECT_THROW(DisposeRef(obj), Exception);
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(obj->RefCount(), 1);
  obj->ThrowOnDisconnect = false;
  ReleaseRef(obj);
  EXPECT_EQ(log.back(), QStringLiteral("p:destroyed"));
}

TEST(RefFunctions, PlainObjectsAreDeletedByDispose) {
  struct TPlain {
    bool* Deleted;
    ~TPlain() { *Deleted = true; }
  };
  bool deleted = false;
  TPlain* plain = new TPlain{&deleted};
  TPlain* alias = plain;
  ReleaseRef(alias);  // only forgotten
  EXPECT_EQ(alias, nullptr);
  EXPECT_FALSE(deleted);
  DisposeRef(plain);
  EXPECT_TRUE(deleted);
  EXPECT_EQ(plain, nullptr);
}

TEST(RefObject, DebugInfoHasTwoColumns) {
  std::vector<QString> log;
  TProbe* obj = nullptr;
  AssignRef(obj, new TProbe(log));
  QStringList captions, values, none;
  obj->GetDebugInfo(0, captions);
  obj->GetDebugInfo(1, values);
  obj->GetDebugInfo(2, none);
  EXPECT_EQ(captions, QStringList{"RefCount"});
  EXPECT_EQ(values, QStringList{"1"});
  EXPECT_TRUE(none.isEmpty());
  ReleaseRef(obj);
}

TEST(RefObjectList, ReleasingListDestroysWithoutDisconnect) {
  std::vector<QString> log;
  TRefObjectList list(false);
  list.Add(new TProbe(log));
  list.Delete(0);
  EXPECT_EQ(log, std::vector<QString>{"p:destroyed"});
}

TEST(RefObjectList, DisposingListDisconnectsOnceBeforeDestruction) {
  std::vector<QString> log;
  TRefObjectList list(true);
  list.Add(new TProbe(log));
  list.Delete(0);
  EXPECT_EQ(log, (std::vector<QString>{"p:disconnect@2", "p:destroyed"}));
}

TEST(RefObjectList, ClearAndDestructionGoFromLastToFirst) {
  std::vector<QString> log;
  {
    TRefObjectList list(false);
    list.Add(new TProbe(log, "a"));
    list.Add(nullptr);
    list.Add(new TProbe(log, "b"));
  }
  EXPECT_EQ(log, (std::vector<QString>{"b:destroyed", "a:destroyed"}));
}

TEST(RefObjectList, ExtractPassesTheReferenceAndPutReplaces) {
  std::vector<QString> log;
  TRefObjectList list(false);
  TProbe* kept = new TProbe(log, "kept");
  list.Add(kept);
  EXPECT_EQ(list.Extract(kept), kept);
  EXPECT_EQ(kept->RefCount(), 1);
  EXPECT_EQ(list.Count(), 0);
  list.Add(new TProbe(log, "old"));
  list.Put(0, kept);
  EXPECT_EQ(log, std::vector<QString>{"old:destroyed"});
  EXPECT_EQ(kept->RefCount(), 2);
  ReleaseRef(kept);
  list.Clear();
  EXPECT_EQ(log.back(), QStringLiteral("kept:destroyed"));
}

TEST(NotifyList, ClientsRemovedDuringANotificationAreSkippedWithoutShifting) {
  TTestList list;
  TTestClient a, b, c;
  list.AddClient(&a);
  list.AddClient(&b);
  list.AddClient(&c);
  a.OnNotify = [&] { list.RemoveClient(&a); };  // removes itself
  b.OnNotify = [&] { list.RemoveClient(&c); };  // removes a later one
  list.Fire();
  EXPECT_EQ(a.Calls, 1);
  EXPECT_EQ(b.Calls, 1);
  EXPECT_EQ(c.Calls, 0);
  EXPECT_EQ(list.Clients(), std::vector<TNotifyClient*>{&b});
  EXPECT_TRUE(c.Lists().empty());
}

TEST(NotifyList, ClientsAddedDuringANotificationWaitForTheNextPass) {
  TTestList list;
  TTestClient a, late;
  list.AddClient(&a);
  a.OnNotify = [&] {
    if (late.Lists().empty()) list.AddClient(&late);
  };
  list.Fire();
  EXPECT_EQ(late.Calls, 0);
  EXPECT_EQ(list.Clients(), (std::vector<TNotifyClient*>{&a, &late}));
  list.Fire();
  EXPECT_EQ(late.Calls, 1);
}

TEST(NotifyList, NestedNotificationsCompactOnlyAtTheEnd) {
  TTestList list;
  TTestClient a, b;
  list.AddClient(&a);
  list.AddClient(&b);
  int depth = 0;
  a.OnNotify = [&] {
    if (depth++ == 0) {
      list.Fire();
      EXPECT_EQ(list.Clients().size(), 2u);
      list.RemoveClient(&b);
      EXPECT_EQ(list.Clients().size(), 2u);  // a null entry stays while notifying
    }
  };
  list.Fire();
  EXPECT_EQ(list.LockCount(), 0);
  EXPECT_EQ(list.Clients(), std::vector<TNotifyClient*>{&a});
  EXPECT_EQ(b.Calls, 1);  // from the nested pass only
}

TEST(NotifyList, AClientDestroyedDuringANotificationIsSkipped) {
  TTestList list;
  TTestClient a;
  auto* doomed = new TTestClient;
  list.AddClient(&a);
  list.AddClient(doomed);
  a.OnNotify = [&] { delete doomed; };
  list.Fire();
  EXPECT_EQ(list.Clients(), std::vector<TNotifyClient*>{&a});
}

TEST(NotifyList, ARaisingClientStillEndsTheNotification) {
  TTestList list;
  TTestClient a;
  list.AddClient(&a);
  a.OnNotify = [] { throw Exception("x"); };
  EXPECT_THROW(list.Fire(), Exception);
  EXPECT_EQ(list.LockCount(), 0);
}

TEST(NotifyList, EitherSideMayGoFirst) {
  TTestClient client;
  {
    TTestList first, second;
    first.AddClient(&client);
    second.AddClient(&client);
    second.AddClient(&client);  // registered twice: two entries on both sides
    EXPECT_EQ(client.Lists().size(), 3u);
  }
  EXPECT_TRUE(client.Lists().empty());

  TTestList list;
  {
    TTestClient a;
    list.AddClient(&a);
    list.AddClient(&a);
  }
  EXPECT_TRUE(list.Clients().empty());
}
