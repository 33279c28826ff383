// Free helpers of the catalogue and validation.
#pragma once

#include <string>
#include <vector>

#include "repository/backup_records.h"
#include "transport/transport.h"

namespace ovrin {

// info.name = leaf of path, info.fullname = path.
void SetBackupNameFromPath(const std::string& path, BackupInfo& info);
// The creation stamp from the label of `path`, ZERO_DATE when it has none.
void SetDateFromPath(BackupInfo& info, const std::string& path);

// Validates an exported dump by unpacking it into a temporary directory;
// `size` is the byte count of the archive (all its parts).
void GetPackedBackupProps(tRepositoryTransport& transport, const std::string& path, ValidationResults& results,
                          int64_t& size);
// False at the first file of `files` in `dir` whose size is 0.
bool IsValidContentFile(tRepositoryTransport& transport, const std::string& dir,
                        const std::vector<std::string>& files);

}  // namespace ovrin
