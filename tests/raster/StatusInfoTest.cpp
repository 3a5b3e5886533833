#include "QtPrinters.h"
#include "RasterTestUtils.h"
#include "StatusInfo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

TEST(StatusInfo, NestedOperationsGiveTheOuterTextsBack) {
  TStatusRecorder status;
  status.Info()->ShowText(0, "X: 5");
  {
    TProgress outer(status.Info(), "Калибровка...");
    for (int percent : {37, 37, 37}) outer.ShowPercent(percent);  // shown once
    {
      TProgress inner(status.Info(), "Копирование растра...");
      EXPECT_EQ(status.Slot(3), "Копирование растра...");
      EXPECT_EQ(status.Slot(2), "");
      inner.ShowPercent(50);
    }
    EXPECT_EQ(status.Slot(3), "Калибровка...");
    EXPECT_EQ(status.Slot(2), "37%");
  }
  EXPECT_EQ(status.Slot(3), "");
  EXPECT_EQ(status.Slot(2), "");
  EXPECT_EQ(status.Slot(0), "X: 5");  // the coordinates' slots are never touched
  EXPECT_EQ(status.Shown(2), QStringList({"", "37%", "", "50%", "37%", ""}));
}

TEST(StatusInfo, RestoreWithNothingSavedEmptiesTheProgress) {
  TStatusRecorder status;
  status.Info()->ShowText(2, "99%");
  status.Info()->ShowText(3, "Сохранение растра...");
  status.ClearLog();
  status.Info()->RestoreState();
  EXPECT_EQ(status.Log(), QStringList({"2:", "3:"}));
  status.Info()->SaveState(true);
  status.Info()->SaveState(true);
  status.Info()->ClearSaved();
  EXPECT_EQ(status.Info()->SavedCount(), 0);
}

TEST(Progress, PixelProgressShowsWhatAReportAfterEveryPixelWould) {
  EXPECT_EQ(MulDiv(1, 100, 8), 13);  // halves away from zero
  std::mt19937 random(7);
  for (int64_t total : {1, 2, 3, 7, 99, 100, 101, 199, 200, 1000, 12345, 1 << 20}) {
    TStatusRecorder expected;
    {
      TProgress progress(expected.Info(), "x");
      for (int64_t k = 0; k < total; ++k)
        progress.ShowPercent(static_cast<int>(MulDiv(k, 100, total)));
    }
    TStatusRecorder actual;
    {
      TProgress progress(actual.Info(), "x");
      TPixelProgress pixels(progress, total);
      for (int64_t done = 0; done < total;) {
        const int64_t run = std::min<int64_t>(total - done, random() % 300 + 1);
        pixels.Advance(run);
        done += run;
      }
    }
    EXPECT_EQ(actual.Log(), expected.Log()) << total;
  }
}

TEST(Progress, ACancelRequestStopsTheWorkAtItsNextReport) {
  TStatusRecorder status;
  {
    TProgress progress(status.Info(), "Сохранение растра...");
    progress.ShowPercent(5);
    status.Info()->RequestCancel();
    // The same number again is not shown, but the request is heard all the same.
    EXPECT_EQ(MessageOf<ECancelled>([&] { progress.ShowPercent(5); }), "Операция прервана");
    EXPECT_THROW(progress.CheckCancel(), ECancelled);
    TPixelProgress pixels(progress, 1000);
    EXPECT_THROW(pixels.Advance(1), ECancelled);
    status.Info()->WithdrawCancel();
    EXPECT_NO_THROW(pixels.Advance(500));
  }
  EXPECT_EQ(status.Slot(3), "");
  // A report that raises shows nothing: the percentages go on where they were.
  EXPECT_EQ(status.Shown(2).mid(0, 3), QStringList({"", "5%", "0%"}));
  // Work without a status cannot be asked to stop.
  TProgress silent(nullptr, "x");
  EXPECT_NO_THROW(silent.ShowPercent(1));
}

TEST(Progress, TheRequestMayComeFromAnotherThread) {
  TStatusRecorder status;
  std::atomic<int> reports{0};
  std::thread user([&] {
    while (reports.load() < 1000) std::this_thread::yield();
    status.Info()->RequestCancel();
  });
  const auto work = [&] {
    TProgress progress(status.Info(), "Калибровка...");
    for (;;) {
      progress.ShowPercent(reports.fetch_add(1) / 100000);
    }
  };
  EXPECT_THROW(work(), ECancelled);
  user.join();
  EXPECT_GE(reports.load(), 1000);
  EXPECT_EQ(status.Info()->SavedCount(), 0);
}
