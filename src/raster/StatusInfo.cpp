#include "StatusInfo.h"

ECancelled::ECancelled() : Exception(QStringLiteral("Операция прервана")) {}

TStatusInfo::TStatusInfo(TReadHandler readHandler, TShowHandler showHandler)
    : FReadHandler(std::move(readHandler)), FShowHandler(std::move(showHandler)) {}

void TStatusInfo::ShowText(int slot, const QString& text) {
  if (FShowHandler) FShowHandler(slot, text);
}

QString TStatusInfo::ReadText(int slot) {
  return FReadHandler ? FReadHandler(slot) : QString();
}

void TStatusInfo::ClearProgress() {
  ShowText(PercentSlot, QString());
  ShowText(OperationSlot, QString());
}

void TStatusInfo::SaveState(bool clear) {
  QStringList texts(4);
  texts[PercentSlot] = ReadText(PercentSlot);
  texts[OperationSlot] = ReadText(OperationSlot);
  FSaved.push_back(texts);
  if (clear) ClearProgress();
}

void TStatusInfo::RestoreState() {
  if (FSaved.empty()) {
    ClearProgress();
    return;
  }
  const QStringList texts = std::move(FSaved.back());
  FSaved.pop_back();
  ShowText(PercentSlot, texts[PercentSlot]);
  ShowText(OperationSlot, texts[OperationSlot]);
}

void TStatusInfo::ClearSaved() {
  FSaved.clear();
}

TProgress::TProgress(TStatusInfo* statusInfo, const QString& operation) : FStatusInfo(statusInfo) {
  if (!FStatusInfo) return;
  FStatusInfo->SaveState(true);
  FStatusInfo->ShowText(TStatusInfo::OperationSlot, operation);
}

TProgress::~TProgress() {
  if (FStatusInfo) FStatusInfo->RestoreState();
}

void TProgress::SetOperation(const QString& operation) {
  if (FStatusInfo) FStatusInfo->ShowText(TStatusInfo::OperationSlot, operation);
}

void TProgress::DoShowPercent(int percent) {
  FShown = percent;
  if (FStatusInfo) FStatusInfo->ShowText(TStatusInfo::PercentSlot, QString::number(percent) + u'%');
}

int64_t MulDiv(int64_t a, int64_t b, int64_t c) {
  return (2 * a * b + c) / (2 * c);
}

TPixelProgress::TPixelProgress(TProgress& progress, int64_t total)
    : FProgress(progress), FTotal(total) {}

void TPixelProgress::ShowChanges() {
  // The report after pixel k is MulDiv(k, 100, total); it reaches v + 1 from the first k with
  // 200 k + total >= (2 v + 2) total, that is k >= (2 v + 1) total / 200.
  while (FNextChange < FDone) {
    const int64_t shown = MulDiv(FNextChange, 100, FTotal);
    FProgress.ShowPercent(static_cast<int>(shown));
    FNextChange = ((2 * shown + 1) * FTotal + 199) / 200;
  }
}
