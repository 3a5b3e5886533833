#include "NodeWindows.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <numeric>
#include <system_error>
#include <thread>

namespace {

// Windows read and waiting for their analysis hold at most this many bytes.
constexpr size_t kWaitingBytes = 24 << 20;
// Windows are read together, at most so many, as long as the rows they span together are no more
// than this share of the tallest one's.
constexpr size_t kBandWindows = 32;
constexpr double kBandShare = 1.5;
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
  size_t readCount = 0, next = 0, finished = 0, waiting = 0;
  bool abandon = false;
  std::exception_ptr failure;

  // The windows are read by bands of rows: sorted by their tops, those whose rows overlap enough
  // are read together.
  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return searches[a].Window().Top < searches[b].Window().Top;
  });

  // Analyses the next window read, if there is one; with the lock held on entry and on return.
  auto analyseOne = [&](std::unique_lock<std::mutex>& lock) {
    if (next >= readCount) return false;
    const size_t k = order[next++];
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
    // Helpers the system will not start leave their share to the others and to this thread.
    for (size_t k = 0; k < helpers; ++k) {
      try {
        threads.emplace_back(work);
      } catch (const std::system_error&) {
        break;
      }
    }
    for (size_t first = 0; first < n;) {
      {
        // Too many windows waiting: this thread analyses too before it reads on.
        std::unique_lock<std::mutex> lock(mutex);
        while (waiting > kWaitingBytes && !failure)
          if (!analyseOne(lock)) changed.wait(lock);
        if (failure) break;
      }
      std::vector<TRect> band{searches[order[first]].Window()};
      int top = band.front().Top, bottom = band.front().Bottom;
      int tallest = bottom - top;
      size_t last = first + 1;
      for (; last < n && last - first < kBandWindows; ++last) {
        const TRect rect = searches[order[last]].Window();
        tallest = std::max(tallest, rect.Bottom - rect.Top);
        if (std::max(bottom, rect.Bottom) - top > kBandShare * tallest) break;
        bottom = std::max(bottom, rect.Bottom);
        band.push_back(rect);
      }
      std::vector<TDarkWindow> read = reader.Read(band);
      {
        std::lock_guard<std::mutex> lock(mutex);
        for (size_t k = first; k < last; ++k) {
          waiting += read[k - first].Pixels.size();
          windows[order[k]] = std::move(read[k - first]);
        }
        readCount = last;
      }
      first = last;
      changed.notify_all();
      report();
    }
    std::unique_lock<std::mutex> lock(mutex);
    while (finished < readCount && !failure) {
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
