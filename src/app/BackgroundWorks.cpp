#include "BackgroundWorks.h"

#include "RecArrays.h"
#include "StatusInfo.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>

#include <system_error>
#include <thread>

namespace {

const QEvent::Type kWorkEnded = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

TBackgroundWork::TBackgroundWork(TStatusInfo& statusInfo, QObject* parent)
    : QObject(parent), FStatusInfo(statusInfo) {}

TBackgroundWork::~TBackgroundWork() = default;

void TBackgroundWork::Run(const std::function<void()>& job) {
  CheckInternal(!FRunning, QStringLiteral("TBackgroundWork.Run"),
                QStringLiteral("работа уже идёт"));
  FStatusInfo.WithdrawCancel();
  FRunning = true;
  FEnded = false;
  FError = nullptr;
  QEventLoop loop;
  FLoop = &loop;
  std::thread worker;
  try {
    worker = std::thread([this, &job] {
      std::exception_ptr error;
      try {
        job();
      } catch (...) {
        error = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(FLock);
        FError = error;
      }
      QCoreApplication::postEvent(this, new QEvent(kWorkEnded));
    });
  } catch (const std::system_error&) {
    // Where the system starts no thread (a process limit, a container's), the work runs here and
    // the window waits for it.
    FLoop = nullptr;
    FRunning = false;
    job();
    return;
  }
  loop.exec();
  if (!FEnded) {
    // The event loop ended before the work, for the program is ending: the work stops at its next
    // report, and no file is left half written.
    FStatusInfo.RequestCancel();
  }
  worker.join();
  FLoop = nullptr;
  FRunning = false;
  std::exception_ptr error;
  {
    std::lock_guard<std::mutex> lock(FLock);
    error = std::exchange(FError, nullptr);
  }
  if (error) std::rethrow_exception(error);
}

void TBackgroundWork::Cancel() {
  if (FRunning) FStatusInfo.RequestCancel();
}

void TBackgroundWork::customEvent(QEvent* event) {
  if (event->type() != kWorkEnded) return;
  FEnded = true;
  if (FLoop) FLoop->quit();
}
