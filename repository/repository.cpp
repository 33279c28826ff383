#include "repository/repository.h"

#include <fstream>
#include <memory>
#include <utility>

#include "errors/system_error.h"
#include "hostlib/ovr_conf.h"
#include "infoxml/info_xml_reader.h"
#include "log/debug_log.h"
#include "repository/naming.h"
#include "transport/dry_run_transport.h"
#include "transport/files_transaction.h"
#include "util/strings.h"

namespace ovrin {

namespace {

const std::streamsize COPY_BLOCK = 10240;

// Copies `in` to `out` block by block until `in` reaches its end.
void CopyStream(std::istream& in, std::ostream& out) {
  char buffer[COPY_BLOCK];
  for (;;) {
    in.read(buffer, COPY_BLOCK);
    std::streamsize count = in.gcount();
    if (in.bad()) throw InputStreamException();
    if (count > 0) {
      out.write(buffer, count);
      if (!out) throw OutputStreamException();
    }
    if (in.eof()) return;
    if (in.fail()) throw InputStreamException();
  }
}

bool Unusable(const std::ios& stream) { return stream.fail() || stream.bad(); }

}  // namespace

unsigned long tRepository::s_requestTimeout = 0;

const char* tRepository::StreamError(bool codeName) {
  return codeName ? "tRepository::StreamError" : "Stream error: %1%";
}

const char* tRepository::StreamPipeError(bool codeName) {
  return codeName ? "tRepository::StreamPipeError" : "Unable to copy streams: %1%";
}

const char* tRepository::ArchiverError(bool codeName) {
  return codeName ? "tRepository::ArchiverError" : "Archiver error: %1%";
}

// --- Construction and lifetime ---------------------------------------------

tRepository::tRepository(const std::string& place, const std::string& login, const std::string& password,
                         const std::string& subDir, bool passive)
    : transport(nullptr), rootTransport(nullptr), transaction(nullptr) {
  logPrefix = "Repository '" + place + (subDir.empty() ? "" : "/" + subDir) + "': ";
  LogVerboseMsg("Repository '" + place + "' initialising...");

  // Held by guards until every piece exists, so a failing step leaks nothing.
  std::unique_ptr<tRepositoryTransport> root(tRepositoryTransport::Get(place));
  root->Init(login, password, passive, s_requestTimeout);
  std::unique_ptr<tRepositoryTransport> chroot;
  if (!subDir.empty()) chroot.reset(tRepositoryTransport::Chroot(root.get(), subDir));
  tRepositoryTransport* working = chroot ? chroot.get() : root.get();
  std::unique_ptr<tFilesTransaction> files(new tFilesTransaction(working));

  transaction = files.release();
  transport = chroot ? chroot.release() : root.get();
  rootTransport = root.release();
  LogVerboseMsg(logPrefix + "Initialized");
}

tRepository::~tRepository() {
  if (dryRun) transport = realTransport;
  delete transaction;
  if (transport != rootTransport) delete transport;
  delete rootTransport;
}

void tRepository::BeginDryRun(std::function<void(const std::string&)> sink) {
  if (dryRun) return;
  realTransport = transport;
  dryRun.reset(new tDryRunTransport(*transport, std::move(sink)));
  transport = dryRun.get();
}

void tRepository::Free() { tInfoXmlReader::Free(); }

unsigned long tRepository::GetRequestTimeout() { return s_requestTimeout; }

void tRepository::SetRequestTimeout(unsigned long timeout) { s_requestTimeout = timeout; }

tRepository* GetRepository(const std::string& url, const std::string& password, bool passive, bool useSubDir) {
  return new tRepository(GetUrlPlace(url), GetUrlLogin(url), password, useSubDir ? GetRepositorySubDir() : "",
                         passive);
}

tRepository* GetLocalRepository(bool useSubDir) {
  return new tRepository(GetLocalRepoPath(), "", "", useSubDir ? GetRepositorySubDir() : "", false);
}

// --- Transaction -------------------------------------------------------------

void tRepository::BeginTransaction() { transaction->Begin(); }

void tRepository::CommitTransaction() { transaction->Commit(); }

void tRepository::RollbackTransaction() { transaction->Rollback(); }

bool tRepository::IsTransactionStarted() { return transaction->IsStarted(); }

void tRepository::AddFilesToTransaction(const std::string& base, const std::vector<std::string>& files) {
  for (const std::string& file : files) {
    transaction->AddCreatedFile(BeginsWith(file, base) ? file.substr(base.size()) : file);
  }
}

// --- Directories and files ------------------------------------------------------

void tRepository::CreateDir(const std::string& dir) {
  LogVerboseMsg(logPrefix + "Create dir " + dir);
  transport->CreateDir(dir);
  transaction->AddCreatedDir(dir);
}

void tRepository::DeleteDir(const std::string& dir) {
  LogVerboseMsg(logPrefix + "Delete dir " + dir);
  transport->DeleteDir(dir);
}

void tRepository::ReceiveDir(const std::string& dir) { transport->ReceiveDir(dir); }

void tRepository::Put(const std::string& localFile, const std::string& path) {
  LogVerboseMsg(logPrefix + "Put file from " + localFile + " to " + path);
  try {
    std::ifstream in(localFile, std::ios::in | std::ios::binary);
    // An unreadable source must not leave an empty file in the repository.
    if (!in.is_open()) throw InputStreamException();
    std::unique_ptr<orepostream> out(transport->PutFile(path));
    transaction->AddCreatedFile(path);
    CopyStream(in, *out);
    // A remote transport stores the data only here, so its outcome counts.
    out->close();
    if (Unusable(*out)) throw OutputStreamException();
  } catch (const Exc<&tRepositoryTransport::StreamError>& e) {
    throw OVRIN_ERROR(StreamError) % e.what();
  } catch (const TransportException& e) {
    throw OVRIN_ERROR(StreamError) % e.what();
  } catch (const std::exception& e) {
    throw OVRIN_ERROR(StreamPipeError) % (localFile + " to " + path + ":\n" + e.what());
  }
}

void tRepository::Get(const std::string& path, const std::string& localFile) {
  LogVerboseMsg(logPrefix + "Get file from " + path + " to " + localFile);
  try {
    std::unique_ptr<irepostream> in(transport->GetFile(path));
    // A missing repository file must not truncate the local one.
    if (Unusable(*in)) throw InputStreamException();
    std::ofstream out(localFile, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!out.is_open()) throw OutputStreamException();
    CopyStream(*in, out);
    in.reset();
    out.close();
    if (out.fail()) throw OutputStreamException();
  } catch (const Exc<&tRepositoryTransport::StreamError>& e) {
    throw OVRIN_ERROR(StreamError) % e.what();
  } catch (const TransportException& e) {
    throw OVRIN_ERROR(StreamError) % e.what();
  } catch (const std::exception& e) {
    throw OVRIN_ERROR(StreamPipeError) % (path + " to " + localFile + ":\n" + e.what());
  }
}

std::string tRepository::GetInfo(const std::string& path) {
  LogVerboseMsg(logPrefix + "Get info from " + path);
  std::unique_ptr<irepostream> in(transport->GetFile(path));
  if (Unusable(*in)) throw OVRIN_ERROR(StreamError) % ("Unable to open " + path);
  std::string content;
  char buffer[COPY_BLOCK];
  for (;;) {
    in->read(buffer, COPY_BLOCK);
    if (in->bad()) throw OVRIN_ERROR(StreamError) % path;
    content.append(buffer, static_cast<size_t>(in->gcount()));
    if (in->eof()) return content;
    if (in->fail()) throw OVRIN_ERROR(StreamError) % path;
  }
}

void tRepository::PutInfo(const std::string& path, const std::string& content) {
  LogVerboseMsg(logPrefix + "Put info to " + path);
  std::unique_ptr<orepostream> out(transport->PutFile(path));
  transaction->AddCreatedFile(path);
  if (Unusable(*out)) throw OVRIN_ERROR(StreamError) % ("Unable to open " + path);
  out->write(content.data(), static_cast<std::streamsize>(content.size()));
  if (Unusable(*out)) throw OVRIN_ERROR(StreamError) % path;
  out->close();
  if (Unusable(*out)) throw OVRIN_ERROR(StreamError) % path;
}

// --- Sidecar items and the repository index ---------------------------------------

void tRepository::SetDiscoveredItem(const std::string& dir, const std::string& dumpName, const std::string& item,
                                    const std::string& value) {
  const std::string itemName = item + "_" + value;
  LogVerboseMsg(logPrefix + "Create item '" + itemName + "' for discovered '" + dumpName + "' at path " + dir);
  const std::string sidecarRoot = JoinPath(dir, DISCOVERED);
  if (!transport->IsDirExist(sidecarRoot)) CreateDir(sidecarRoot);
  const std::string sidecar = JoinPath(sidecarRoot, dumpName);
  if (!transport->IsDirExist(sidecar)) CreateDir(sidecar);
  const std::string itemPath = JoinPath(sidecar, itemName);
  if (!transport->IsExist(itemPath)) PutInfo(itemPath, "");
}

void tRepository::SetDiscoveredItem(const std::string& infoXmlPath, const std::string& item,
                                    const std::string& value) {
  SetDiscoveredItem(PathBranch(infoXmlPath), PathLeaf(GetInfoXmlDir(infoXmlPath)), item, value);
}

std::vector<std::string> tRepository::GetDiscoveredItems(const std::string& dir, const std::string& dumpName,
                                                         const std::string& item) {
  LogVerboseMsg(logPrefix + "Get items '" + item + "' for discovered '" + dumpName + "' at path " + dir);
  std::vector<std::string> values;
  const std::string sidecarRoot = JoinPath(dir, DISCOVERED);
  const std::string sidecar = JoinPath(sidecarRoot, dumpName);
  // A sidecar directory implies the directory of sidecars above it.
  if (!transport->IsDirExist(sidecar)) return values;
  std::vector<std::string> entries;
  transport->ListDir(sidecar, entries);
  // The separator is part of the match: item "owner" must not pick up "ownertype_...".
  const std::string key = item + "_";
  for (const std::string& entry : entries) {
    if (BeginsWith(entry, key)) values.push_back(entry.substr(key.size()));
  }
  return values;
}

std::vector<std::string> tRepository::GetDiscoveredItems(const std::string& infoXmlPath, const std::string& item) {
  return GetDiscoveredItems(PathBranch(infoXmlPath), PathLeaf(GetInfoXmlDir(infoXmlPath)), item);
}

void tRepository::CreateDiscovered(const std::string& dir, const std::string& dumpName, int64_t size,
                                   const std::string& owner, const std::string& ownerType, const std::string& guid,
                                   const std::string& objectId) {
  LogVerboseMsg(logPrefix + "Create discovered " + dumpName + " at path " + dir);
  const std::string sidecarRoot = JoinPath(dir, DISCOVERED);
  if (!transport->IsDirExist(sidecarRoot)) CreateDir(sidecarRoot);
  const std::string sidecar = JoinPath(sidecarRoot, dumpName);
  CreateDir(sidecar);
  PutInfo(JoinPath(sidecar, D_ITEM_SIZE + "_" + std::to_string(size)), "");
  PutInfo(JoinPath(sidecar, D_ITEM_OWNER + "_" + owner), "");
  PutInfo(JoinPath(sidecar, D_ITEM_OWNER_TYPE + "_" + ownerType), "");
  PutInfo(JoinPath(sidecar, D_ITEM_GUID + "_" + guid), "");
  PutInfo(JoinPath(sidecar, D_ITEM_OBJECT_ID + "_" + objectId), "");
  CreateRepositoryIndex(guid + "_" + objectId);
}

void tRepository::CreateRepositoryIndex(const std::string& item) {
  LogVerboseMsg(logPrefix + "Create repository index item " + item);
  // The index serves every sub-repository of the storage, so it always sits
  // at the storage root and outlives any rollback.
  if (!rootTransport->IsDirExist(DISCOVERED)) rootTransport->CreateDir(DISCOVERED);
  const std::string path = JoinPath(DISCOVERED, item);
  if (rootTransport->IsExist(path)) return;
  std::unique_ptr<orepostream> out(rootTransport->PutFile(path));
  if (Unusable(*out)) throw OVRIN_ERROR(StreamError) % ("Unable to create " + path);
  out->close();
  if (Unusable(*out)) throw OVRIN_ERROR(StreamError) % ("Unable to create " + path);
}

void ReadPropsFromXml(tRepositoryTransport& transport, const std::string& infoXmlPath, std::string& description) {
  LogVerboseMsg("Read properties from xml " + infoXmlPath);
  tInfoXmlReader reader(&transport, infoXmlPath);
  reader.ReadDescription();
  description = reader.Description();
}

}  // namespace ovrin
