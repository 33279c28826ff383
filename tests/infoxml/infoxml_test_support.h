// Helpers of the descriptor reader tests: a local repository in a scratch
// directory and a capture of the process's standard error.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "tests/support/test_support.h"
#include "transport/transport.h"

namespace ovrin {

// A descriptor in the form the sample schema describes.
inline const char* ExampleDescriptor() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<client guid=\"2f3c0d1e-0000-4000-8000-00000000c001\" name=\"c1\">\n"
         "  <description>Weekly dump of <b>c1</b></description>\n"
         "  <cid path=\".\">\n"
         "    <content-file>backup_user_1001011200.tgz</content-file>\n"
         "  </cid>\n"
         "  <domain guid=\"2f3c0d1e-0000-4000-8000-00000000d001\" name=\"example.test\">\n"
         "    <cid path=\"domains/example.test\">\n"
         "      <content-file>backup_example.test_htdocs_1001011200.tgz</content-file>\n"
         "    </cid>\n"
         "  </domain>\n"
         "</client>\n";
}

class DescriptorRepo {
 public:
  DescriptorRepo() : transport_(tRepositoryTransport::Get(dir_.path())) { transport_->Init("", "", false, 0); }
  const std::string& dir() const { return dir_.path(); }
  tRepositoryTransport* transport() { return transport_.get(); }
  // Writes `content` to `name` below the repository root.
  void Put(const std::string& name, const std::string& content) { dktest::WriteFile(dir_ / name, content); }

 private:
  dktest::TempDir dir_;
  std::unique_ptr<tRepositoryTransport> transport_;
};

// Sends file descriptor 2 to a scratch file until Take() or destruction.
class StderrCapture {
 public:
  StderrCapture() : file_(std::tmpfile()), saved_(dup(2)) {
    fflush(stderr);
    dup2(fileno(file_), 2);
  }
  ~StderrCapture() {
    Restore();
    std::fclose(file_);
  }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Stops capturing and returns everything written meanwhile.
  std::string Take() {
    Restore();
    std::string text;
    std::rewind(file_);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, n);
    return text;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }
  std::FILE* file_;
  int saved_;
};

}  // namespace ovrin
