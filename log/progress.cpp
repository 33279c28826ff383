#include "log/progress.h"

#include <cstdlib>
#include <utility>

#include "log/debug_log.h"

namespace ovrin {

std::chrono::milliseconds ProgressInterval() {
  const char* text = std::getenv("DUMPKEEP_TEST_PROGRESS_INTERVAL_MS");
  if (text && *text) {
    char* end = nullptr;
    const long ms = std::strtol(text, &end, 10);
    if (*end == '\0' && ms > 0) return std::chrono::milliseconds(ms);
  }
  return std::chrono::seconds(10);
}

tProgress::tProgress(std::string what, int64_t total)
    : what_(std::move(what)),
      total_(total),
      start_(std::chrono::steady_clock::now()),
      last_(start_),
      interval_(ProgressInterval()) {}

void tProgress::Update(int64_t done) {
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < interval_) return;
  last_ = now;
  LogStep(Line(done, now - start_));
}

std::string tProgress::Line(int64_t done, std::chrono::steady_clock::duration elapsed) const {
  const double seconds = std::chrono::duration<double>(elapsed).count();
  const int64_t rate = seconds > 0 ? static_cast<int64_t>(static_cast<double>(done) / seconds) : 0;
  std::string line = "Progress: " + what_ + ": " + std::to_string(done);
  if (total_ >= 0) {
    const int64_t percent = total_ > 0 ? done * 100 / total_ : 100;
    line += " of " + std::to_string(total_) + " bytes (" + std::to_string(percent) + "%)";
  } else {
    line += " bytes";
  }
  return line + ", " + std::to_string(rate) + " bytes/s";
}

tProgressWatch::tProgressWatch(std::string what, int64_t total, std::function<int64_t()> sample)
    : progress_(std::move(what), total), sample_(std::move(sample)), thread_([this] { Run(); }) {}

tProgressWatch::~tProgressWatch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void tProgressWatch::Run() {
  const std::chrono::milliseconds interval = ProgressInterval();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (wake_.wait_for(lock, interval, [this] { return stop_; })) return;
    try {
      progress_.Update(sample_());
    } catch (...) {
      return;
    }
  }
}

}  // namespace ovrin
