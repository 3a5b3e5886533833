#pragma once

#include <QObject>
#include <QString>

#include <array>
#include <mutex>

class QLabel;
class QStatusBar;

// The panels of the main window's status bar: the pixel and the centimetres under the mouse, then
// the percentage and the name of long work, and the map coordinates under the mouse, which stand
// after the centimetres and show only while the grid lies on the map. The progress panels stand at
// the bar's right end; a button's hint takes the bar's left part, over the mouse's position, and
// never covers them.
//
// Long work reports from a thread of its own. A text shown there waits here and reaches its panel
// at the next turn of the window's event loop, with one posted event for any number of texts, so
// that a report costs the work no more than a lock. Reading gives the text last shown, from any
// thread.
class TStatusPanels : public QObject {
  Q_OBJECT

 public:
  static constexpr int Count = 5;
  static constexpr int MapSlot = 4;

  explicit TStatusPanels(QStatusBar* bar);

  void Show(int slot, const QString& text);
  QString Read(int slot) const;
  QLabel* Panel(int slot) const { return FPanels[static_cast<size_t>(slot)]; }

 protected:
  void customEvent(QEvent* event) override;

 private:
  std::array<QLabel*, Count> FPanels{};
  mutable std::mutex FLock;
  std::array<QString, Count> FTexts;
  std::array<bool, Count> FWaiting{};  // shown on another thread, not yet on the panel
  bool FPosted = false;
};
