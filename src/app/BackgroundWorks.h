#pragma once

#include <QObject>

#include <exception>
#include <functional>
#include <mutex>

class QEventLoop;
class TStatusInfo;

// Runs the window's long work (open, save, calibrate, clip, find the nodes, grid files) on a
// thread of its own. The window's thread waits for it in an event loop: it goes on painting,
// showing the progress and answering the window system and the user, and comes back to the caller
// when the work ends, with the work's error, if any, raised there as if the work had run on it.
//
// Nothing that the work uses may be changed or read through its caches by the window's thread
// until the work ends: the caller keeps the commands that could do so disabled meanwhile. One
// work runs at a time.
class TBackgroundWork : public QObject {
  Q_OBJECT

 public:
  // The status info is the one the work reports to: cancelling asks it to stop the work.
  explicit TBackgroundWork(TStatusInfo& statusInfo, QObject* parent = nullptr);
  ~TBackgroundWork() override;

  void Run(const std::function<void()>& job);
  bool Running() const { return FRunning; }
  // Asks the work to stop at its next progress report; it then ends with ECancelled.
  void Cancel();

 protected:
  void customEvent(QEvent* event) override;

 private:
  TStatusInfo& FStatusInfo;
  bool FRunning = false;
  bool FEnded = false;  // the end has reached the window's thread
  QEventLoop* FLoop = nullptr;
  std::mutex FLock;
  std::exception_ptr FError;  // the work's, handed over under the lock
};
