#include "BackgroundWorks.h"
#include "MessageOf.h"
#include "QtPrinters.h"
#include "RecArrays.h"
#include "StatusInfo.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

namespace {

// Work that reports until it is asked to stop.
void ReportUntilCancelled(TStatusInfo& status) {
  TProgress progress(&status, "Калибровка...");
  for (;;) {
    progress.ShowPercent(1);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

}  // namespace

TEST(BackgroundWork, TheJobRunsOnAnotherThreadWhileTheEventLoopGoesOn) {
  TStatusInfo status(nullptr, nullptr);
  TBackgroundWork work(status);
  std::atomic<bool> timerFired{false};
  std::thread::id jobThread;
  QTimer::singleShot(0, [&] {
    EXPECT_TRUE(work.Running());
    timerFired = true;
  });
  work.Run([&] {
    jobThread = std::this_thread::get_id();
    // The job ends only once the window's thread has handled an event meanwhile.
    while (!timerFired) std::this_thread::sleep_for(std::chrono::microseconds(100));
  });
  EXPECT_NE(jobThread, std::this_thread::get_id());
  EXPECT_FALSE(work.Running());
}

TEST(BackgroundWork, TheJobsErrorComesOutOnTheCallersThread) {
  TStatusInfo status(nullptr, nullptr);
  TBackgroundWork work(status);
  EXPECT_EQ(MessageOf([&] {
              work.Run([] { throw Exception("Ошибка при записи файла x.bmp: диск полон"); });
            }),
            "Ошибка при записи файла x.bmp: диск полон");
  EXPECT_FALSE(work.Running());
  int runs = 0;
  work.Run([&] { ++runs; });
  EXPECT_EQ(runs, 1);
}

TEST(BackgroundWork, CancelStopsTheJobAtItsNextReportAndIsForgottenAfterwards) {
  TStatusInfo status(nullptr, nullptr);
  TBackgroundWork work(status);
  work.Cancel();  // nothing runs: nothing to stop, and nothing remembered
  QTimer::singleShot(5, [&] { work.Cancel(); });
  EXPECT_THROW(work.Run([&] { ReportUntilCancelled(status); }), ECancelled);
  int reports = 0;
  work.Run([&] {
    TProgress progress(&status, "Сохранение растра...");
    for (int percent = 0; percent <= 100; ++percent, ++reports) progress.ShowPercent(percent);
  });
  EXPECT_EQ(reports, 101);
}

TEST(BackgroundWork, OneWorkAtATime) {
  TStatusInfo status(nullptr, nullptr);
  TBackgroundWork work(status);
  QString nested;
  QTimer::singleShot(0, [&] {
    nested = MessageOf<EInternal>([&] { work.Run([] {}); });
    work.Cancel();
  });
  EXPECT_THROW(work.Run([&] { ReportUntilCancelled(status); }), ECancelled);
  EXPECT_TRUE(nested.contains("работа уже идёт")) << nested.toStdString();
}

// Run alone under the library that refuses every thread (ctest's BackgroundWork.WithoutThreads).
TEST(BackgroundWork, WhereNoThreadStartsTheJobRunsOnTheCallersThread) {
  try {
    std::thread([] {}).join();
    GTEST_SKIP() << "threads start here";
  } catch (const std::system_error&) {
  }
  TStatusInfo status(nullptr, nullptr);
  TBackgroundWork work(status);
  std::thread::id jobThread;
  work.Run([&] { jobThread = std::this_thread::get_id(); });
  EXPECT_EQ(jobThread, std::this_thread::get_id());
  EXPECT_FALSE(work.Running());
  EXPECT_EQ(MessageOf([&] { work.Run([] { throw Exception("нет места на диске"); }); }),
            "нет места на диске");
}
