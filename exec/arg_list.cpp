#include <cstdlib>
#include <cstring>
#include <new>

#include "exec/exec_cmd.h"

namespace {

char* DupOrThrow(const char* text) {
  char* copy = strdup(text);
  if (!copy) throw std::bad_alloc();
  return copy;
}

}  // namespace

ArgList::ArgList(const std::string& program) : argv_(nullptr), count_(0), capacity_(4) {
  argv_ = static_cast<char**>(std::calloc(capacity_, sizeof(char*)));
  if (!argv_) throw std::bad_alloc();
  try {
    argv_[0] = DupOrThrow(program.c_str());
  } catch (...) {
    std::free(argv_);
    throw;
  }
  count_ = 1;
}

ArgList::ArgList(const ArgList& other) : argv_(nullptr), count_(0), capacity_(other.count_ + 1) {
  argv_ = static_cast<char**>(std::calloc(capacity_, sizeof(char*)));
  if (!argv_) throw std::bad_alloc();
  try {
    for (; count_ < other.count_; ++count_) argv_[count_] = DupOrThrow(other.argv_[count_]);
  } catch (...) {
    for (size_t i = 0; i < count_; ++i) std::free(argv_[i]);
    std::free(argv_);
    throw;
  }
}

ArgList::~ArgList() {
  for (size_t i = 0; i < count_; ++i) std::free(argv_[i]);
  std::free(argv_);
}

void ArgList::Append(const std::string& arg) {
  // Room is always kept for the terminating null entry.
  if (count_ + 1 >= capacity_) {
    size_t bigger = capacity_ * 2;
    char** grown = static_cast<char**>(std::realloc(argv_, bigger * sizeof(char*)));
    if (!grown) throw std::bad_alloc();
    argv_ = grown;
    capacity_ = bigger;
  }
  argv_[count_] = DupOrThrow(arg.c_str());
  ++count_;
  argv_[count_] = nullptr;
}
