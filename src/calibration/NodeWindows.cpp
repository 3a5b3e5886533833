#include "NodeWindows.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace {

// Windows read and waiting for their analysis hold at most this many bytes.
constexpr size_t kWaitingBytes = 24 << 20;
constexpr unsigned kMaxThreads = 4;

}  // namespace

std::vector<std::vector<TCrossing>> FindCrossingsAround(
    const TDarkReader& reader, const std::vector<TCrossingSearch>& searches,
    const std::function<void(size_t analysed)>& progress) {
  const size_t n = searches.size();
  std::vector<std::vector<TCrossing>> found(n);
  if (n == 0) return found;
  std::vector<TDarkWindow> windows(n);
  std::mutex mutex;
  std::condition_variable changed;
  size_t read = 0, next = 0, finished = 0, waiting = 0;
  bool abandon = false;
  std::exception_ptr failure;

  // Analyses the next window read, if there is one; with the lock held on entry and on return.
  auto analyseOne = [&](std::unique_lock<std::mutex>& lock) {
    if (next >= read) return false;
    const size_t k = next++;
    lock.unlock();
    std::exception_ptr error;
    try {
      found[k] = FindCrossings(windows[k], searches[k]);
    } catch (...) {
      error = std::current_exception();
    }
    const size_t bytes = windows[k].Pixels.size();
    windows[k] = TDarkWindow{};
    lock.lock();
    waiting -= bytes;
    if (error && !failure) failure = error;
    ++finished;
    changed.notify_all();
    return true;
  };
  auto work = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    while (!abandon && !failure && next < n)
      if (!analyseOne(lock)) changed.wait(lock);
  };
  auto report = [&] {
    size_t analysed;
    {
      std::lock_guard<std::mutex> lock(mutex);
      analysed = finished;
    }
    if (progress) progress(analysed);
  };

  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t helpers = std::min<size_t>(std::min(cores, kMaxThreads), n) - 1;
  std::vector<std::thread> threads;
  auto stop = [&] {
    {
      std::lock_guard<std::mutex> lock(mutex);
      abandon = true;
    }
    changed.notify_all();
    for (std::thread& thread : threads) thread.join();
  };
  try {
    for (size_t k = 0; k < helpers; ++k) threads.emplace_back(work);
    for (size_t k = 0; k < n; ++k) {
      {
        // Too many windows waiting: this thread analyses too before it reads on.
        std::unique_lock<std::mutex> lock(mutex);
        while (waiting > kWaitingBytes && !failure)
          if (!analyseOne(lock)) changed.wait(lock);
        if (failure) break;
      }
      TDarkWindow window = reader.Read(searches[k].Window());
      {
        std::lock_guard<std::mutex> lock(mutex);
        waiting += window.Pixels.size();
        windows[k] = std::move(window);
        ++read;
      }
      changed.notify_all();
      report();
    }
    std::unique_lock<std::mutex> lock(mutex);
    while (finished < read && !failure) {
      if (!analyseOne(lock)) changed.wait(lock);
      lock.unlock();
      report();
      lock.lock();
    }
  } catch (...) {
    stop();
    throw;
  }
  stop();
  if (failure) std::rethrow_exception(failure);
  return found;
}
