#include "log/product_paths.h"

#include "hostlib/ovr_conf.h"

namespace ovrin {
namespace files {

namespace {

std::string BackupManagerDir() {
  const char* root = ovrConfGetDefaultByIndex(PRODUCT_ROOT_D);
  return std::string(root ? root : "") + "/TAV";
}

}  // namespace

std::string getTavLogConfigFileName() { return BackupManagerDir() + "/log4cpp.properties"; }

std::string getTmpDir() { return BackupManagerDir() + "/tmp"; }

}  // namespace files
}  // namespace ovrin
