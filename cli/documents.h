// The XML documents that the listing, information and credentials commands
// write on standard output. Data is fetched before anything is written, so a
// failure prints no partial document.
#pragma once

#include <string>

#include <libxml/xmlwriter.h>

#include "repository/backup_records.h"
#include "repository/repository.h"

namespace ovrin {

// "OK", "WRONG-FORMAT", "SIGN-ERROR", "CONTENT-ERROR"; other values raise
// UnexpectedValueError ("status", value).
std::string FormatBackupStatus(BackupStatus status);
void WriteValidationResult(xmlTextWriterPtr writer, const ValidationResult& result);
void WriteBriefBackupInfo(xmlTextWriterPtr writer, const BackupInfo& info);
void WriteBackupInfo(xmlTextWriterPtr writer, const BackupInfo& info);

// dump-list of full dumps an object may see. A database id > 0 replaces
// `name` by the object's panel name.
void GetDumpList(tRepository& repository, const std::string& type, const std::string& guid, const int& id,
                 const std::string& name);
// dump-list of brief exported dumps at the storage root matching `mask`.
void GetFtpDumpList(tRepository& repository, const std::string& mask);
void DumpInfo(tRepository& repository, const std::string& dumpFileSpecification, bool skipSignCheck);
void FtpDumpInfo(tRepository& repository, const std::string& dumpFileSpecification);
// repository-check listing each problem of the repository as
// <problem kind="..." path="..."> (with <content-file-name> children for
// missing content). Returns the number of problems.
size_t CheckRepositoryDocument(tRepository& repository);
// dumps-storage-credentials with the local repository root; only "local" is accepted.
void DumpsStorageCredentials(const std::string& storageType);

}  // namespace ovrin
