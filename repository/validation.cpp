// Backup validation: signature, schema and content checks of a structured
// dump, with the verdict cached as status items in its sidecar directory;
// exported dumps are unpacked into a temporary directory and validated there.
#include <algorithm>

#include "infoxml/info_xml_reader.h"
#include "log/debug_log.h"
#include "repository/catalogue.h"
#include "repository/naming.h"
#include "repository/packed_files.h"
#include "repository/repository.h"
#include "util/strings.h"
#include "util/temp_files.h"

namespace ovrin {

namespace {

// A descriptor comes with the dump and may have been crafted: a location that
// climbs out of the descriptor's directory cannot belong to the dump, so it
// fails the content check without the storage being asked about it.
bool LocationLeavesDumpDir(const Cid& location) {
  if (HasParentReference(location.path)) return true;
  return std::any_of(location.contentFiles.begin(), location.contentFiles.end(),
                     [](const std::string& file) { return HasParentReference(file); });
}

ValidationResult Result(BackupStatus status) {
  ValidationResult result;
  result.status = status;
  return result;
}

// Splits local paths into the directory they all share and their names
// relative to it; "/" when only the root is shared, "." for relative paths
// without a shared directory.
std::string SplitCommonDir(const std::vector<std::string>& paths, std::vector<std::string>& relative) {
  std::vector<std::vector<std::string>> components(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) Split(paths[i], components[i], "/");
  size_t shared = components.front().size() - 1;  // the file name itself is never shared
  for (const auto& parts : components) {
    size_t n = 0;
    while (n < shared && n + 1 < parts.size() && parts[n] == components.front()[n]) ++n;
    shared = n;
  }
  for (const auto& parts : components) {
    relative.push_back(Concat(std::vector<std::string>(parts.begin() + shared, parts.end()), "/"));
  }
  const std::vector<std::string> dirParts(components.front().begin(), components.front().begin() + shared);
  const std::string dir = (BeginsWith(paths.front(), "/") ? "/" : "") + Concat(dirParts, "/");
  return dir.empty() ? "." : dir;
}

}  // namespace

bool IsValidContentFile(tRepositoryTransport& transport, const std::string& dir,
                        const std::vector<std::string>& files) {
  LogVerboseMsg("Validate content files " + Concat(files, ", ") + " at dir " + dir);
  for (const std::string& name : files) {
    if (transport.GetFileSize(JoinPath(dir, name)) == 0) return false;
  }
  return true;
}

ValidationResults tRepository::ValidateBackup(const std::string& infoXmlPath, bool skipSignCheck,
                                              const std::vector<std::string>* recordedStatuses) {
  LogStep(logPrefix + "Validate backup " + infoXmlPath);
  std::vector<std::string> badContentDirs;
  return ValidateBackup(infoXmlPath, badContentDirs, skipSignCheck, recordedStatuses);
}

ValidationResults tRepository::ValidateBackup(const std::string& infoXmlPath,
                                              std::vector<std::string>& badContentDirs, bool skipSignCheck,
                                              const std::vector<std::string>* recordedStatuses) {
  LogVerboseMsg(logPrefix + "Validate backup (common phase) " + infoXmlPath);
  ValidationResults results;

  // A recorded verdict is final: the descriptor is not even opened.
  const std::vector<std::string> statuses =
      recordedStatuses ? *recordedStatuses : GetDiscoveredItems(infoXmlPath, D_ITEM_STATUS);
  for (const std::string& value : statuses) {
    try {
      results.push_back(Result(GetBackupStatusVal(value)));
    } catch (const RepositoryException& e) {
      LogMsg(e);
    }
  }
  if (!results.empty()) return results;

  auto record = [&](BackupStatus status) {
    if (recordVerdicts) SetDiscoveredItem(infoXmlPath, D_ITEM_STATUS, GetBackupStatusStr(status));
  };
  try {
    tInfoXmlReader reader(transport, infoXmlPath);

    // Verification also switches the reader to the unsigned document, which
    // the schema and content checks then read.
    if (!skipSignCheck && !reader.ValidateSign()) {
      results.push_back(Result(BACKUP_STATUS_SIGN_ERROR));
      record(BACKUP_STATUS_SIGN_ERROR);
    }

    if (!reader.ValidateOvrinXsd()) {
      results.push_back(Result(BACKUP_STATUS_WRONG_FORMAT));
      record(BACKUP_STATUS_WRONG_FORMAT);
    }

    reader.ReadContent();
    const std::string dir = PathBranch(infoXmlPath);
    ValidationResult contentError = Result(BACKUP_STATUS_CONTENT_ERROR);
    bool contentFailed = false;
    for (const Cid& location : reader.Content()) {
      const std::string base = JoinPath(dir, location.path);
      if (Contains(badContentDirs, base)) continue;
      if (LocationLeavesDumpDir(location) || !IsValidContentFile(*transport, base, location.contentFiles)) {
        contentFailed = true;
        // Every file of the location is reported, not only the damaged ones.
        for (const std::string& name : location.contentFiles) contentError.contentFiles.push_back(JoinPath(base, name));
        badContentDirs.push_back(base);
      }
    }
    if (contentFailed) {
      results.push_back(contentError);
      record(BACKUP_STATUS_CONTENT_ERROR);
    }

    if (results.empty()) {
      results.push_back(Result(BACKUP_STATUS_OK));
      record(BACKUP_STATUS_OK);
    }
  } catch (const RepositoryException&) {
    throw;
  } catch (const TransportException&) {
    throw;
  } catch (const Exc<&tInfoXmlReader::XmlReaderError>& e) {
    LogMsg(e);
    throw OVRIN_EXCEPTION(RepositoryException, std::string("unable to check xml validity: ") + e.what(), 2);
  } catch (const std::exception& e) {
    LogError(logPrefix + e.what());
    throw OVRIN_EXCEPTION(RepositoryException, std::string("unable to check xml validity: ") + e.what(), 0);
  }
  return results;
}

ValidationResults tRepository::ValidatePackedBackup(const std::string& path) {
  LogStep(logPrefix + "Validate packed backup " + path);
  ValidationResults results;
  int64_t size = 0;
  GetPackedBackupProps(*transport, path, results, size);
  return results;
}

void GetPackedBackupProps(tRepositoryTransport& transport, const std::string& path, ValidationResults& results,
                          int64_t& size) {
  LogVerboseMsg("Get packed backup properties from " + path);

  // A split dump is one archive cut into pieces: it is measured and unpacked
  // as the concatenation of all its parts, never as the base part alone.
  std::vector<std::string> parts;
  GetFileParts(transport, path, parts);
  std::vector<std::string> localParts;
  for (const std::string& part : parts) localParts.push_back(transport.GetLocalFile(part));

  // The local copies may lie in different directories (downloads from a
  // remote storage), so the source repository is opened on the directory
  // they share.
  std::vector<std::string> relativeParts;
  tRepository source(SplitCommonDir(localParts, relativeParts), "", "", "", false);
  size = 0;
  for (const std::string& part : relativeParts) size += source.Transport().GetFileSize(part);

  TempDirGuard unpackDir(GetTempDirPath());
  tRepository unpacked(unpackDir.Path(), "", "", "", false);
  std::vector<std::string> files;
  try {
    source.UnpackToRepo(relativeParts, unpacked, "", &files, {}, {});
  } catch (const std::exception&) {
    LogCurrentFailure();
    results.push_back(Result(BACKUP_STATUS_WRONG_FORMAT));
    return;
  }

  // The status items written here vanish with the temporary directory.
  std::vector<std::string> badContentDirs;
  for (const std::string& file : files) {
    if (!EndsWith(file, ".xml")) continue;
    ValidationResults found = unpacked.ValidateBackup(file, badContentDirs, true);
    if (!found.empty()) {
      results.insert(results.end(), found.begin(), found.end());
      return;
    }
  }
  results.push_back(Result(BACKUP_STATUS_OK));
}

}  // namespace ovrin
