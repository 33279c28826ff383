// Fixed paths of the backup manager, derived from PRODUCT_ROOT_D.
#pragma once

#include <string>

namespace ovrin {
namespace files {

// PRODUCT_ROOT_D + "/TAV/log4cpp.properties".
std::string getTavLogConfigFileName();
// PRODUCT_ROOT_D + "/TAV/tmp".
std::string getTmpDir();

}  // namespace files
}  // namespace ovrin
