#pragma once

#include "SysUtils.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

// Long work that the user asked to stop. It is raised on the thread that runs the work, at one of
// its progress reports, and unwinds the work as a failure would: whatever the work changed it puts
// back on the way.
class ECancelled : public Exception {
 public:
  ECancelled();
};

// Progress of long raster operations, shown through numbered status slots: slot 3 holds the
// operation's name, slot 2 its percentage. Slots 0 and 1 belong to the cursor coordinates and are
// never touched here. A stack of saved texts lets a nested operation give the outer one its texts
// back when it ends.
//
// The work reports from the one thread that runs it; the handlers are called there and must be
// safe to call from it. The request to stop the work may come from any thread.
class TStatusInfo {
 public:
  using TReadHandler = std::function<QString(int slot)>;
  using TShowHandler = std::function<void(int slot, const QString& text)>;

  static constexpr int PercentSlot = 2;
  static constexpr int OperationSlot = 3;

  TStatusInfo(TReadHandler readHandler, TShowHandler showHandler);

  void ShowText(int slot, const QString& text);
  QString ReadText(int slot);
  // Empties the percentage, then the operation's name.
  void ClearProgress();
  // Pushes the texts of slots 2 and 3; with clear, empties them afterwards.
  void SaveState(bool clear);
  // Shows the texts pushed last (percentage, then name) and pops them; with nothing pushed it
  // empties both, so an unbalanced restore leaves no stale progress behind.
  void RestoreState();
  void ClearSaved();

  int SavedCount() const { return static_cast<int>(FSaved.size()); }

  // Asks the work in progress to stop: its next progress report raises ECancelled. The request
  // stays until it is withdrawn, so that work that reports again after its end stops too.
  void RequestCancel() { FCancelRequested.store(true, std::memory_order_relaxed); }
  void WithdrawCancel() { FCancelRequested.store(false, std::memory_order_relaxed); }
  bool CancelRequested() const { return FCancelRequested.load(std::memory_order_relaxed); }
  // Raises ECancelled when the work was asked to stop: for loops that report rarely.
  void CheckCancel() const {
    if (CancelRequested()) throw ECancelled();
  }

 private:
  TReadHandler FReadHandler;
  TShowHandler FShowHandler;
  std::vector<QStringList> FSaved;  // four texts each, one per slot
  std::atomic<bool> FCancelRequested{false};
};

// One long operation's bracket: saves and clears the status, shows the operation's name, and
// restores the outer texts when it ends, also when the operation fails. Without a status info it
// does nothing. A percentage is formatted and shown only when the number changes; every report
// raises ECancelled once the work has been asked to stop, so the work must be able to unwind at
// each of them.
class TProgress {
 public:
  TProgress(TStatusInfo* statusInfo, const QString& operation);
  ~TProgress();
  TProgress(const TProgress&) = delete;
  TProgress& operator=(const TProgress&) = delete;

  // A new phase of the same operation under another name.
  void SetOperation(const QString& operation);
  void ShowPercent(int percent) {
    CheckCancel();
    if (percent != FShown) DoShowPercent(percent);
  }
  void CheckCancel() const {
    if (FStatusInfo) FStatusInfo->CheckCancel();
  }

 private:
  void DoShowPercent(int percent);

  TStatusInfo* FStatusInfo;
  int FShown = -1;
};

// Rounds a × b ÷ c to the nearest integer, halves away from zero, as the platform's MulDiv does
// for the non-negative values used here.
int64_t MulDiv(int64_t a, int64_t b, int64_t c);

// The percentage of a per-pixel operation that reports MulDiv(done, 100, total) after every pixel,
// where done counts the pixels finished before it. Advancing by a run of pixels shows, in order,
// every value the per-pixel report would have shown, but works out only the points where the
// number changes.
class TPixelProgress {
 public:
  TPixelProgress(TProgress& progress, int64_t total);

  void Advance(int64_t pixels) {
    FDone += pixels;
    if (FDone > FNextChange) ShowChanges();
  }

 private:
  void ShowChanges();

  TProgress& FProgress;
  int64_t FTotal;
  int64_t FDone = 0;        // pixels finished
  int64_t FNextChange = 0;  // the next pixel whose report differs from the one shown
};
