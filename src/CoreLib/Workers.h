#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Spreads the pieces of one job over every core: the calling thread works on the job together
// with helper threads that wait between jobs, so that short jobs cost no thread start.
class TWorkers {
 public:
  // A job's piece: its index, and which of the Count() threads runs it (for scratch memory of
  // one's own).
  using TJob = std::function<void(int piece, int thread)>;

  // threads: how many run a job, the caller included; at least 1. Helpers that the system will
  // not start (a process limit, a container's) are done without: Count() tells how many run, and
  // with none the caller runs every job alone.
  explicit TWorkers(int threads);
  ~TWorkers();
  TWorkers(const TWorkers&) = delete;
  TWorkers& operator=(const TWorkers&) = delete;

  // One thread per core (std::thread::hardware_concurrency, at least 1), for the whole program.
  static TWorkers& Shared();

  int Count() const { return FCount; }

  // Calls job(piece, thread) once for every piece in [0, pieces) and returns when all are done.
  // Pieces are taken in ascending order as threads become free. The first exception a piece
  // raises is raised here after the pieces already begun have ended; pieces not yet begun are
  // dropped. Jobs of one set of workers run one at a time; a job started from inside a piece, or
  // by a thread between the Start and the Finish of its own job, runs on the calling thread
  // alone.
  void Run(int pieces, const TJob& job) {
    Start(pieces, job);
    Finish();
  }
  // Run in two halves, so that the caller can do something else while the other threads begin:
  // Start hands the job to them and returns; Finish works on the pieces still left, waits for the
  // others and raises the first error. Every Start that returns is followed by its Finish on the
  // same thread; the job must live until then. Where the job runs on the caller's thread alone,
  // Start runs it whole, and its error comes from there: that Start has ended its job, and there
  // is nothing to finish.
  void Start(int pieces, const TJob& job);
  void Finish();

 private:
  // Whether a job started on this thread now runs there alone.
  bool Inline() const;
  void Work(int thread);
  // Takes and runs pieces of the current job until none is left.
  void RunPieces(int thread);

  int FCount = 1;
  std::vector<std::thread> FThreads;
  std::mutex FRunLock;  // held from Start to Finish: one job at a time

  std::mutex FLock;
  std::condition_variable FWake;  // a new job, or the end
  std::condition_variable FIdle;  // a helper left the job
  const TJob* FJob = nullptr;
  int FPieces = 0;
  uint64_t FGeneration = 0;
  int FActive = 0;  // helpers inside the current job
  bool FStop = false;
  std::atomic<int> FNext{0};
  std::atomic<bool> FFailed{false};
  std::exception_ptr FError;
};
