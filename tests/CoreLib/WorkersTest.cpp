#include "Workers.h"

#include "RecArrays.h"

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

TEST(Workers, EveryPieceRunsOnceOnOneOfTheThreads) {
  TWorkers workers(3);
  ASSERT_EQ(workers.Count(), 3);
  for (const int pieces : {0, 1, 7, 5000}) {
    std::vector<std::atomic<int>> runs(static_cast<size_t>(pieces));
    std::atomic<int> badThread{0};
    workers.Run(pieces, [&](int piece, int thread) {
      ++runs[static_cast<size_t>(piece)];
      if (thread < 0 || thread >= 3) ++badThread;
    });
    for (int piece = 0; piece < pieces; ++piece)
      EXPECT_EQ(runs[static_cast<size_t>(piece)].load(), 1) << piece << " of " << pieces;
    EXPECT_EQ(badThread.load(), 0);
  }
}

TEST(Workers, AnErrorComesBackFromTheCallerAndTheWorkersGoOn) {
  TWorkers workers(2);
  std::atomic<int> ran{0};
  try {
    workers.Run(200, [&](int piece, int) {
      ++ran;
      if (piece == 3) throw Exception(QStringLiteral("кусок 3"));
    });
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("кусок 3"));
  }
  EXPECT_GE(ran.load(), 4);
  ran = 0;
  workers.Run(50, [&](int, int) { ++ran; });
  EXPECT_EQ(ran.load(), 50);
}

TEST(Workers, AJobStartedInsideAPieceRunsOnThatThread) {
  TWorkers workers(2);
  std::atomic<int> inner{0};
  std::atomic<int> foreign{0};
  workers.Run(4, [&](int, int thread) {
    workers.Run(3, [&](int, int innerThread) {
      ++inner;
      if (innerThread != thread) ++foreign;
    });
  });
  EXPECT_EQ(inner.load(), 12);
  EXPECT_EQ(foreign.load(), 0);
}

TEST(Workers, StartLeavesTheCallerFreeUntilFinish) {
  TWorkers workers(2);
  std::atomic<int> ran{0};
  const TWorkers::TJob job = [&](int, int) { ++ran; };
  workers.Start(100, job);
  workers.Finish();
  EXPECT_EQ(ran.load(), 100);

  // A job started by the caller between Start and Finish runs on the caller's thread.
  std::atomic<int> inner{0};
  workers.Start(100, job);
  workers.Run(5, [&](int, int thread) { inner += thread == 0 ? 1 : 100; });
  workers.Finish();
  EXPECT_EQ(inner.load(), 5);
  EXPECT_EQ(ran.load(), 200);

  // Without helpers Start runs the whole job itself, and its error comes from there: the job is
  // over, and the next one runs as usual.
  TWorkers alone(1);
  const TWorkers::TJob failing = [&](int piece, int thread) {
    EXPECT_EQ(thread, 0);
    if (piece == 1) throw Exception(QStringLiteral("один"));
  };
  EXPECT_THROW(alone.Start(3, failing), Exception);
  ran = 0;
  alone.Run(4, job);
  EXPECT_EQ(ran.load(), 4);
}

TEST(Workers, AFinishWithoutItsStartLeavesAnotherThreadsJobAlone) {
  TWorkers workers(2);
  std::atomic<int> ran{0};
  const TWorkers::TJob job = [&](int, int) { ++ran; };
  std::promise<void> started;
  std::promise<void> checked;
  std::thread owner([&] {
    workers.Start(10, job);
    started.set_value();
    checked.get_future().wait();
    workers.Finish();
  });
  started.get_future().wait();
  // Finishing the other thread's job here would release its lock and let a new job in under it.
  EXPECT_THROW(workers.Finish(), EInternal);
  checked.set_value();
  owner.join();
  EXPECT_EQ(ran.load(), 10);
  workers.Run(3, job);
  EXPECT_EQ(ran.load(), 13);
}
