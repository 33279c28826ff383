// Helpers of the repository tests: a repository over a scratch directory,
// file shortcuts relative to it, and a log that keeps every line written.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log/debug_log.h"
#include "repository/repository.h"
#include "tests/support/test_support.h"
#include "transport/transport.h"

namespace dktest {

// Installs itself as the diagnostic log (debug mode, so every helper writes)
// and restores the previous log when destroyed.
class RecordingLog : public ovrin::DebugLog {
 public:
  RecordingLog() : previous_(ovrin::theDebugLog) { ovrin::theDebugLog = this; }
  ~RecordingLog() override { ovrin::theDebugLog = previous_; }
  RecordingLog(const RecordingLog&) = delete;
  RecordingLog& operator=(const RecordingLog&) = delete;

  void log(const std::string& text) override { lines.push_back(text); }
  void log(const boost::format& f) override { lines.push_back(f.str()); }
  void log(const ovrin::ExTraceable& e) override { lines.push_back(e.what()); }
  bool isVerboseMode() const override { return true; }
  bool isDebugMode() const override { return true; }

  bool Has(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  bool HasPart(const std::string& part) const {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(part) != std::string::npos; });
  }

  std::vector<std::string> lines;

 private:
  ovrin::DebugLog* previous_;
};

// A repository on a fresh local directory.
struct LocalRepo {
  TempDir dir;
  std::unique_ptr<ovrin::tRepository> repo{new ovrin::tRepository(dir.path(), "", "", "", false)};

  std::string Path(const std::string& rel) const { return dir.path() + "/" + rel; }
  void Touch(const std::string& rel, const std::string& content = "x") const { WriteFile(Path(rel), content); }
  bool Has(const std::string& rel) const { return Exists(Path(rel)); }
  std::vector<std::string> Tree() const { return ListTree(dir.path()); }
};

}  // namespace dktest
