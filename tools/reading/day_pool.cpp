#include "reading/day_pool.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr unsigned kMostThreads = 4;
constexpr long kMostThreadsAsked = 64;

// The days not yet taken, done or delivered, shared by the reading threads
// and the delivering one; every member is guarded by m_mutex.
class CDayQueue {
 public:
  CDayQueue(size_t nCount, size_t nAhead) : m_aDone(nCount, false), m_aErrors(nCount), m_nAhead(nAhead) {}

  // The next day to work on; false when none is left or the run stopped.
  // Waits while nAhead days are ahead of the delivery.
  bool Take(size_t& i) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_bStopped || m_nNext >= m_aDone.size() || m_nNext < m_nDelivered + m_nAhead; });
    if (m_bStopped || m_nNext >= m_aDone.size()) return false;
    i = m_nNext++;
    return true;
  }
  void Finish(size_t i, std::exception_ptr pError) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_aDone[i] = true;
    m_aErrors[i] = std::move(pError);
    m_changed.notify_all();
  }
  // Waits until day i is done; what its work threw, if anything.
  std::exception_ptr WaitFor(size_t i) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_aDone[i]; });
    return m_aErrors[i];
  }
  void Delivered(size_t i) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nDelivered = i + 1;
    m_changed.notify_all();
  }
  void Stop() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bStopped = true;
    m_changed.notify_all();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<bool> m_aDone;                  // the day's work has ended
  std::vector<std::exception_ptr> m_aErrors;  // what it threw
  size_t m_nAhead;                            // days taken and not yet delivered, at most
  size_t m_nNext = 0;                         // the next day to take
  size_t m_nDelivered = 0;                    // days delivered
  bool m_bStopped = false;
};

// The reading threads, stopped and joined on every way out of the run: a
// delivery that throws, or a thread that cannot be started, included.
class CReadingThreads {
 public:
  explicit CReadingThreads(CDayQueue& queue) : m_queue(queue) {}
  ~CReadingThreads() {
    m_queue.Stop();
    for (std::thread& thread : m_aThreads) thread.join();
  }
  // The threads started: fewer than asked when the system refuses more.
  size_t Start(unsigned nThreads, const std::function<void(size_t)>& work) {
    try {
      for (unsigned n = 0; n < nThreads; ++n) m_aThreads.emplace_back([this, &work] { Work(work); });
    } catch (const std::system_error&) {
    }
    return m_aThreads.size();
  }

 private:
  void Work(const std::function<void(size_t)>& work) {
    for (size_t i = 0; m_queue.Take(i);) {
      std::exception_ptr pError;
      try {
        work(i);
      } catch (...) {
        pError = std::current_exception();
      }
      m_queue.Finish(i, std::move(pError));
    }
  }

  CDayQueue& m_queue;
  std::vector<std::thread> m_aThreads;
};

}  // namespace

unsigned ReadingThreads() {
  if (const char* szAsked = std::getenv("VARDLIX_READING_THREADS")) {
    char* pEnd = nullptr;
    const long nAsked = std::strtol(szAsked, &pEnd, 10);
    if (pEnd != szAsked && *pEnd == '\0' && nAsked >= 1 && nAsked <= kMostThreadsAsked) {
      return static_cast<unsigned>(nAsked);
    }
  }
  return std::clamp(std::thread::hardware_concurrency(), 1u, kMostThreads);
}

void RunInDayOrder(size_t nCount, unsigned nThreads, const std::function<void(size_t)>& work,
                   const std::function<bool(size_t)>& deliver) {
  if (nThreads <= 1 || nCount <= 1) {
    for (size_t i = 0; i < nCount; ++i) {
      work(i);
      if (!deliver(i)) return;
    }
    return;
  }
  CDayQueue queue(nCount, DaySlots(nThreads));
  std::exception_ptr pError;
  {
    CReadingThreads threads(queue);
    if (threads.Start(static_cast<unsigned>(std::min<size_t>(nThreads, nCount)), work) == 0) {
      return RunInDayOrder(nCount, 1, work, deliver);
    }
    for (size_t i = 0; i < nCount; ++i) {
      pError = queue.WaitFor(i);
      if (pError) break;
      const bool bGoOn = deliver(i);
      queue.Delivered(i);
      if (!bGoOn) break;
    }
  }
  if (pError) std::rethrow_exception(pError);
}
