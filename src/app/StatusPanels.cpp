#include "StatusPanels.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QStatusBar>
#include <QThread>

#include <algorithm>
#include <utility>

namespace {

// Width of the cursor's pixel, its centimetres, the percentage and the work's name; the map
// coordinates' is the font's.
constexpr std::array<int, TStatusPanels::Count> kPanelWidths{115, 115, 70, 100, 0};

const QEvent::Type kTextsWaiting = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

TStatusPanels::TStatusPanels(QStatusBar* bar) : QObject(bar) {
  for (size_t i = 0; i < FPanels.size(); ++i) {
    auto* panel = new QLabel;
    panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    // The work's name gets room for the longest ("Копирование растра...") and some more, so that
    // it is read whole; its text never widens the window. The map coordinates get room for
    // eight-digit eastings and northings to the centimetre.
    int width = kPanelWidths[i];
    if (i == 3) width = std::max(width, panel->fontMetrics().averageCharWidth() * 28);
    if (i == MapSlot)
      width = panel->fontMetrics().horizontalAdvance(QStringLiteral("00000000,00; 00000000,00 m")) +
              2 * panel->fontMetrics().averageCharWidth();
    panel->setFixedWidth(width);
    panel->setAlignment((i == 2 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Sunken);
    FPanels[i] = panel;
  }
  bar->addWidget(FPanels[0]);
  bar->addWidget(FPanels[1]);
  bar->addWidget(FPanels[MapSlot]);
  FPanels[MapSlot]->hide();
  bar->addPermanentWidget(FPanels[2]);
  bar->addPermanentWidget(FPanels[3]);
}

void TStatusPanels::Show(int slot, const QString& text) {
  if (slot < 0 || slot >= Count) return;
  const auto i = static_cast<size_t>(slot);
  if (QThread::currentThread() == thread()) {
    {
      std::lock_guard<std::mutex> lock(FLock);
      FTexts[i] = text;
      // A text from the work that has not arrived yet is older than this one.
      FWaiting[i] = false;
    }
    FPanels[i]->setText(text);
    return;
  }
  bool post = false;
  {
    std::lock_guard<std::mutex> lock(FLock);
    FTexts[i] = text;
    FWaiting[i] = true;
    post = !std::exchange(FPosted, true);
  }
  if (post) QCoreApplication::postEvent(this, new QEvent(kTextsWaiting));
}

QString TStatusPanels::Read(int slot) const {
  if (slot < 0 || slot >= Count) return {};
  std::lock_guard<std::mutex> lock(FLock);
  return FTexts[static_cast<size_t>(slot)];
}

void TStatusPanels::customEvent(QEvent* event) {
  if (event->type() != kTextsWaiting) return;
  std::array<QString, Count> texts;
  std::array<bool, Count> waiting{};
  {
    std::lock_guard<std::mutex> lock(FLock);
    FPosted = false;
    texts = FTexts;
    waiting = std::exchange(FWaiting, {});
  }
  for (size_t i = 0; i < FPanels.size(); ++i)
    if (waiting[i]) FPanels[i]->setText(texts[i]);
}
