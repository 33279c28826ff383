// Progress lines of long operations (extractions, transfers, joins) in the
// session log, so that a person reading the log while a multi-gigabyte
// operation runs sees it move. Nothing is written to standard output.
//
// A line reads
//   "Progress: <what>: <done> of <total> bytes (<pct>%), <rate> bytes/s"
// or, when the total is not known,
//   "Progress: <what>: <done> bytes, <rate> bytes/s"
// where the rate is the average since the operation began.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace ovrin {

// The time between two lines: 10 s. The environment variable
// DUMPKEEP_TEST_PROGRESS_INTERVAL_MS, meant for tests only, shortens it
// (a positive number of milliseconds; anything else is ignored).
std::chrono::milliseconds ProgressInterval();

// Counts one operation's bytes and logs a line when an interval has passed
// since the previous line (or the start). Logs nothing by itself: the
// operation calls Update often enough (a transfer's callback, a copy loop),
// or a tProgressWatch calls it.
class tProgress {
 public:
  // `total` in bytes, negative when unknown.
  tProgress(std::string what, int64_t total);
  // Records `done` bytes so far and logs a line when it is time.
  void Update(int64_t done);
  void SetTotal(int64_t total) { total_ = total; }
  // The line for `done` bytes after `elapsed`.
  std::string Line(int64_t done, std::chrono::steady_clock::duration elapsed) const;

 private:
  std::string what_;
  int64_t total_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_;
  std::chrono::milliseconds interval_;
};

// For an operation that blocks in one call (a child process, a kernel copy):
// a thread of its own asks `sample` for the bytes done every interval and
// logs the line, until this object is destroyed. `sample` runs on that
// thread and must be safe to call there; its exceptions end the watch.
class tProgressWatch {
 public:
  tProgressWatch(std::string what, int64_t total, std::function<int64_t()> sample);
  ~tProgressWatch();
  tProgressWatch(const tProgressWatch&) = delete;
  tProgressWatch& operator=(const tProgressWatch&) = delete;

 private:
  void Run();

  tProgress progress_;
  std::function<int64_t()> sample_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace ovrin
