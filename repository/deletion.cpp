// Removal of structured dumps and of exported dump files. Nothing here is
// recorded in the files transaction: a deletion cannot be undone.
#include <string>
#include <vector>

#include "errors/loggable_exceptions.h"
#include "log/debug_log.h"
#include "repository/naming.h"
#include "repository/packed_files.h"
#include "repository/repository.h"
#include "util/strings.h"

namespace ovrin {

namespace {

// A dump made while an enclosing object was backed up carries the enclosing
// dump's prefix and label. Object directories alternate with group
// directories, so only every second ancestor can hold that dump's
// descriptor; the root is examined when the walk arrives there.
bool IsPartOfAnotherBackup(tRepositoryTransport& transport, const std::string& dumpDir, const std::string& prefix,
                           const std::string& label) {
  std::string dir = dumpDir;
  for (;;) {
    if (dir.empty()) return false;
    dir = PathBranch(dir);
    if (dir.empty()) return false;
    dir = PathBranch(dir);
    if (HasInfoXml(transport, dir, prefix, label)) return true;
  }
}

void RejectParentReference(const std::string& path) {
  if (HasParentReference(path))
    throw OVRIN_EXCEPTION(RepositoryException, "file name '" + path + "' has wrong format", 2);
}

}  // namespace

void tRepository::DeleteBackup(const std::string& infoPath) {
  LogStep(logPrefix + "Delete backup " + infoPath);
  RejectParentReference(infoPath);
  const std::string label = GetInfoXmlsLabel(infoPath);
  const std::string prefix = GetDumpPrefix(infoPath);
  const std::string dumpDir = PathBranch(infoPath);

  const bool partOfAnother = IsPartOfAnotherBackup(*transport, dumpDir, prefix, label);
  if (partOfAnother) LogMsg("backup '" + infoPath + "' is part of another backup");

  // The enclosing dump owns the archives and everything below this
  // directory, so a part removes only its own files.
  std::vector<std::string> entries;
  FindInfoXmlAndDiscovered(*transport, dumpDir, prefix, label, "", true, entries, partOfAnother, !partOfAnother,
                           true, false);
  LogVerboseMsg(logPrefix + "Found " + std::to_string(entries.size()) + " files for deleting");

  for (const std::string& entry : entries) {
    const std::string path = JoinPath(dumpDir, entry);
    if (transport->IsDirExist(path)) {
      transport->DeleteDir(path);
    } else {
      transport->Delete(path);
    }
  }
}

void tRepository::DeletePackedBackup(const std::string& fileSpec) {
  LogStep(logPrefix + "Delete packed backup " + fileSpec);
  try {
    if (fileSpec.empty()) throw OVRIN_EXCEPTION(RepositoryException, "path to deleting file is empty", 0);
    RejectParentReference(fileSpec);
    if (!transport->IsExist(fileSpec))
      throw OVRIN_EXCEPTION(RepositoryException, "file " + fileSpec + " not exists", 1);
    LogMsg(logPrefix + "Retreaving dump parts...");
    std::vector<std::string> parts;
    GetFileParts(*transport, fileSpec, parts);
    for (const std::string& part : parts) {
      transport->Delete(part);
      LogMsg(logPrefix + "File '" + part + "' deleted");
    }
    LogMsg(logPrefix + "Deleted");
  } catch (const TransportException&) {
    throw;
  } catch (const RepositoryException&) {
    throw;
  } catch (const ExTraceable& e) {
    LogMsg(e);
    throw OVRIN_EXCEPTION(RepositoryException, std::string("unable to delete packed dump: ") + e.what(), 0);
  } catch (const RepoLoggableException<ExTraceable>& e) {
    LogMsg(e);
    throw OVRIN_EXCEPTION(RepositoryException, std::string("unable to delete packed dump: ") + e.what(), 0);
  } catch (const std::exception& e) {
    LogError(std::string("Error: ") + e.what());
    throw OVRIN_EXCEPTION(RepositoryException, std::string("unable to delete packed dump: ") + e.what(), 0);
  }
}

}  // namespace ovrin
