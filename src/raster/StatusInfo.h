#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

// Progress of long raster operations, shown through numbered status slots: slot 3 holds the
// operation's name, slot 2 its percentage. Slots 0 and 1 belong to the cursor coordinates and are
// never touched here. A stack of saved texts lets a nested operation give the outer one its texts
// back when it ends.
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

 private:
  TReadHandler FReadHandler;
  TShowHandler FShowHandler;
  std::vector<QStringList> FSaved;  // four texts each, one per slot
};

// One long operation's bracket: saves and clears the status, shows the operation's name, and
// restores the outer texts when it ends, also when the operation fails. Without a status info it
// does nothing. A percentage is formatted and shown only when the number changes.
class TProgress {
 public:
  TProgress(TStatusInfo* statusInfo, const QString& operation);
  ~TProgress();
  TProgress(const TProgress&) = delete;
  TProgress& operator=(const TProgress&) = delete;

  // A new phase of the same operation under another name.
  void SetOperation(const QString& operation);
  void ShowPercent(int percent) {
    if (percent != FShown) DoShowPercent(percent);
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
