#include "cli/documents.h"

#include "cli/xml_writer.h"
#include "errors/error_kinds.h"
#include "hostlib/db.h"
#include "hostlib/ovr_conf.h"

namespace ovrin {

std::string FormatBackupStatus(BackupStatus status) {
  switch (status) {
    case BACKUP_STATUS_OK: return "OK";
    case BACKUP_STATUS_WRONG_FORMAT: return "WRONG-FORMAT";
    case BACKUP_STATUS_SIGN_ERROR: return "SIGN-ERROR";
    case BACKUP_STATUS_CONTENT_ERROR: return "CONTENT-ERROR";
  }
  throw OVRIN_ERROR(UnexpectedValueError) % "status" % static_cast<int>(status);
}

void WriteValidationResult(xmlTextWriterPtr writer, const ValidationResult& result) {
  WriteStartElement(writer, "dump-status");
  WriteAttribute(writer, "dump-status", FormatBackupStatus(result.status));
  if (!result.contentFiles.empty()) {
    WriteStartElement(writer, "details");
    for (const std::string& file : result.contentFiles) {
      WriteStartElement(writer, "content-file-name");
      WriteText(writer, file);
      WriteEndElement(writer);
    }
    WriteEndElement(writer);
  }
  WriteEndElement(writer);
}

namespace {

void WriteResults(xmlTextWriterPtr writer, const BackupInfo& info) {
  for (const ValidationResult& result : info.validationResults) WriteValidationResult(writer, result);
}

}  // namespace

void WriteBriefBackupInfo(xmlTextWriterPtr writer, const BackupInfo& info) {
  WriteStartElement(writer, "dump");
  WriteAttribute(writer, "name", info.name);
  WriteAttribute(writer, "fullname", info.fullname);
  WriteAttribute(writer, "creation-date", info.GetDateTimeStr());
  WriteAttribute(writer, "size", std::to_string(info.size));
  WriteResults(writer, info);
  WriteEndElement(writer);
}

void WriteBackupInfo(xmlTextWriterPtr writer, const BackupInfo& info) {
  WriteStartElement(writer, "dump");
  WriteAttribute(writer, "name", info.name);
  WriteAttribute(writer, "fullname", info.fullname);
  WriteAttribute(writer, "creation-date", info.GetDateTimeStr());
  WriteAttribute(writer, "description", info.description);
  WriteAttribute(writer, "size", std::to_string(info.size));
  WriteAttribute(writer, "owner-guid", info.ownerGuid);
  WriteAttribute(writer, "owner-type", info.ownerType);
  WriteResults(writer, info);
  WriteEndElement(writer);
}

void GetDumpList(tRepository& repository, const std::string& type, const std::string& guid, const int& id,
                 const std::string& name) {
  std::string objectName = name;
  if (id > 0) objectName = GetNameFromDB(type, id);
  XmlDocumentWriter document;
  BackupInfoList list;
  repository.BackupsList(type, guid, objectName, list, false);
  WriteStartDocument(document.writer());
  WriteStartElement(document.writer(), "dump-list");
  for (const BackupInfo& info : list) WriteBackupInfo(document.writer(), info);
  WriteEndElement(document.writer());
  WriteEndDocument(document.writer());
  document.Print();
}

void GetFtpDumpList(tRepository& repository, const std::string& mask) {
  XmlDocumentWriter document;
  BackupInfoList list;
  repository.PackedBackupsList("", mask, list);
  WriteStartDocument(document.writer());
  WriteStartElement(document.writer(), "dump-list");
  for (const BackupInfo& info : list) WriteBriefBackupInfo(document.writer(), info);
  WriteEndElement(document.writer());
  WriteEndDocument(document.writer());
  document.Print();
}

void DumpInfo(tRepository& repository, const std::string& dumpFileSpecification, bool skipSignCheck) {
  BackupInfo info = repository.GetBackupInfo(dumpFileSpecification, skipSignCheck);
  XmlDocumentWriter document;
  WriteStartDocument(document.writer());
  WriteBackupInfo(document.writer(), info);
  WriteEndDocument(document.writer());
  document.Print();
}

void FtpDumpInfo(tRepository& repository, const std::string& dumpFileSpecification) {
  BackupInfo info = repository.GetPackedBackupInfo(dumpFileSpecification);
  XmlDocumentWriter document;
  WriteStartDocument(document.writer());
  WriteBriefBackupInfo(document.writer(), info);
  WriteEndDocument(document.writer());
  document.Print();
}

void DumpsStorageCredentials(const std::string& storageType) {
  if (storageType != "local") throw OVRIN_ERROR(UnexpectedValueError) % "storage-type" % storageType;
  const std::string path = GetLocalRepoPath();
  if (path.empty()) throw OVRIN_EXCEPTION(RepositoryException, "unable to get local storage path", 0);
  XmlDocumentWriter document;
  WriteStartElement(document.writer(), "dumps-storage-credentials");
  WriteStartElement(document.writer(), "root-dir");
  WriteText(document.writer(), path);
  WriteEndElement(document.writer());
  WriteEndDocument(document.writer());
  document.Print();
}

size_t CheckRepositoryDocument(tRepository& repository) {
  const std::vector<RepositoryProblem> problems = repository.CheckRepository();
  XmlDocumentWriter document;
  xmlTextWriterPtr writer = document.writer();
  WriteStartDocument(writer);
  WriteStartElement(writer, "repository-check");
  for (const RepositoryProblem& problem : problems) {
    WriteStartElement(writer, "problem");
    WriteAttribute(writer, "kind", problem.kind);
    WriteAttribute(writer, "path", problem.path);
    for (const std::string& file : problem.files) {
      WriteStartElement(writer, "content-file-name");
      WriteText(writer, file);
      WriteEndElement(writer);
    }
    WriteEndElement(writer);
  }
  WriteEndElement(writer);
  WriteEndDocument(writer);
  document.Print();
  return problems.size();
}

}  // namespace ovrin
