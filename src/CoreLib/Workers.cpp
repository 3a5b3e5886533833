#include "Workers.h"

#include "RecArrays.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace {

// The thread index of the piece this thread is running, -1 outside a piece: a job started from
// inside a piece runs there, under the same index.
thread_local int GPieceThread = -1;
// The workers on whose helpers this thread has started a job that it has not finished yet.
thread_local const TWorkers* GStarted = nullptr;
// Jobs this thread started and ran at once, whose Finish is still to come (innermost last).
thread_local int GRunAtStart = 0;

}  // namespace

TWorkers::TWorkers(int threads) {
  for (int thread = 1; thread < threads; ++thread) {
    try {
      FThreads.emplace_back([this, thread] { Work(thread); });
    } catch (const std::system_error&) {
      break;
    }
    FCount = thread + 1;
  }
}

TWorkers::~TWorkers() {
  {
    const std::lock_guard lock(FLock);
    FStop = true;
  }
  FWake.notify_all();
  for (std::thread& thread : FThreads) thread.join();
}

TWorkers& TWorkers::Shared() {
  static TWorkers workers(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
  return workers;
}

bool TWorkers::Inline() const {
  return GPieceThread >= 0 || GStarted != nullptr || FCount == 1;
}

void TWorkers::Start(int pieces, const TJob& job) {
  if (Inline()) {
    const int thread = std::max(GPieceThread, 0);
    for (int piece = 0; piece < pieces; ++piece) job(piece, thread);
    ++GRunAtStart;
    return;
  }
  FRunLock.lock();
  GStarted = this;
  {
    const std::lock_guard lock(FLock);
    FJob = &job;
    FPieces = pieces;
    FNext.store(0);
    FFailed.store(false);
    FError = nullptr;
    ++FGeneration;
  }
  FWake.notify_all();
}

void TWorkers::Finish() {
  if (GRunAtStart > 0) {
    --GRunAtStart;
    return;
  }
  // Anything else would release a run lock that this thread does not hold, under another
  // thread's job.
  CheckInternal(GStarted == this, QStringLiteral("TWorkers.Finish"),
                QStringLiteral("работа не начата"));
  GStarted = nullptr;
  const std::unique_lock run(FRunLock, std::adopt_lock);
  RunPieces(0);
  std::unique_lock lock(FLock);
  // Every piece is taken by now; those that helpers took are done once they have left. A helper
  // that wakes later finds no job, or the next one.
  FIdle.wait(lock, [this] { return FActive == 0; });
  FJob = nullptr;
  const std::exception_ptr error = std::exchange(FError, nullptr);
  lock.unlock();
  if (error) std::rethrow_exception(error);
}

void TWorkers::RunPieces(int thread) {
  GPieceThread = thread;
  for (int piece; (piece = FNext.fetch_add(1)) < FPieces;) {
    if (FFailed.load()) continue;
    try {
      (*FJob)(piece, thread);
    } catch (...) {
      const std::lock_guard lock(FLock);
      if (!FError) FError = std::current_exception();
      FFailed.store(true);
    }
  }
  GPieceThread = -1;
}

void TWorkers::Work(int thread) {
  uint64_t seen = 0;
  std::unique_lock lock(FLock);
  for (;;) {
    FWake.wait(lock, [&] { return FStop || (FJob && FGeneration != seen); });
    if (FStop) return;
    seen = FGeneration;
    ++FActive;
    lock.unlock();
    RunPieces(thread);
    lock.lock();
    if (--FActive == 0) FIdle.notify_all();
  }
}
