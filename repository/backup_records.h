// Value types that describe a dump and its validation state.
#pragma once

#include <ctime>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

namespace ovrin {

// When a file or dump was created: either a time value or a ten-character
// "YYMMDDHHMM" stamp taken from a name or a listing line. Setting one form
// clears the other.
class CreationDateMixin {
 public:
  void SetDateTime(time_t t) { dateTime_ = t; dateTimeStr_.clear(); }
  void SetDateTimeStr(const std::string& stamp) { dateTimeStr_ = stamp; dateTime_ = 0; }
  void SetDateTime(const CreationDateMixin& other) {
    dateTime_ = other.dateTime_;
    dateTimeStr_ = other.dateTimeStr_;
  }
  time_t GetDateTime() const { return dateTime_; }
  // The stamp when set; otherwise the time in local time as "%y%m%d%H%M".
  std::string GetDateTimeStr() const;

 private:
  time_t dateTime_ = 0;
  std::string dateTimeStr_;
};

enum BackupStatus : int32_t {
  BACKUP_STATUS_OK = 0,
  BACKUP_STATUS_WRONG_FORMAT = 1,
  BACKUP_STATUS_SIGN_ERROR = 2,
  BACKUP_STATUS_CONTENT_ERROR = 3,
};

// "OK", "WRONG-FORMAT", "SIGN-ERROR", "CONTENT-ERROR"; any other value raises
// RepositoryException (status 0) "status value incorrect: N".
std::string GetBackupStatusStr(BackupStatus status);
// The exact, case-sensitive inverse; anything else raises RepositoryException
// (status 0) "status string value incorrect: TEXT".
BackupStatus GetBackupStatusVal(const std::string& text);

struct ValidationResult {
  BackupStatus status = BACKUP_STATUS_OK;
  // For CONTENT-ERROR: the content files concerned, relative to the repository root.
  std::vector<std::string> contentFiles;
};

typedef std::vector<ValidationResult> ValidationResults;

class BackupInfo : public CreationDateMixin {
 public:
  BackupInfo() : validationResults(1) {}
  BackupInfo(const BackupInfo& other) = default;
  BackupInfo& operator=(const BackupInfo& other) = default;

  std::string name;         // leaf of the descriptor or archive file
  std::string fullname;     // path relative to the repository root
  std::string description;  // description text of the descriptor
  int64_t size = 0;         // bytes; 0 when unknown
  std::string ownerGuid;
  std::string ownerType;
  std::string objectId;
  // A record that is never validated reports one OK result.
  ValidationResults validationResults;
};

// The type that the step-by-step fillers take and return.
class BackupInfoUtil : public BackupInfo {};

typedef std::list<BackupInfo> BackupInfoList;

}  // namespace ovrin
