// Panel configuration reader: every stored pair must be a well-formed name
// with a trimmed value free of comments, the store must be sorted and every
// name must be found again by lookup.
#include <cstring>
#include <string>

#include "fuzz/fuzz_entries.h"
#include "hostlib/ovr_conf.h"

namespace ovrin {

namespace {

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

void FuzzOvrConf(const uint8_t* data, size_t size) {
  FuzzInputFile input(data, size, ".conf");
  conf_data* conf = conf_read_file_r(input.Path().c_str());
  if (!conf) return;
  struct Owner {
    conf_data* conf;
    ~Owner() { conf_free(conf); }
  } owner{conf};
  FuzzCheck(conf->finalized, "a returned store is not finalized");
  FuzzCheck(conf->nmemb <= conf->size, "more entries than capacity");
  for (size_t i = 0; i < conf->nmemb; ++i) {
    const conf_entry& entry = conf->data[i];
    const std::string name = entry.name;
    const std::string value = entry.value;
    FuzzCheck(!name.empty(), "empty variable name");
    for (char c : name) FuzzCheck(IsNameChar(c), "bad character in name '" + name + "'");
    FuzzCheck(!value.empty(), "empty value of '" + name + "'");
    FuzzCheck(!IsBlank(value.front()) && !IsBlank(value.back()), "untrimmed value of '" + name + "'");
    FuzzCheck(value.find('#') == std::string::npos, "comment kept in value of '" + name + "'");
    if (i > 0) FuzzCheck(std::strcmp(conf->data[i - 1].name, entry.name) < 0, "store unsorted or duplicated");
    const char* found = conf_get_r(conf, entry.name);
    FuzzCheck(found == entry.value, "lookup of '" + name + "' misses its entry");
  }
}

}  // namespace ovrin
