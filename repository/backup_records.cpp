#include "repository/backup_records.h"

#include "errors/loggable_exceptions.h"

namespace ovrin {

std::string CreationDateMixin::GetDateTimeStr() const {
  if (!dateTimeStr_.empty()) return dateTimeStr_;
  time_t t = dateTime_;
  struct tm local;
  if (!localtime_r(&t, &local)) return "";
  char buffer[32];
  if (strftime(buffer, sizeof buffer, "%y%m%d%H%M", &local) == 0) return "";
  return buffer;
}

std::string GetBackupStatusStr(BackupStatus status) {
  switch (status) {
    case BACKUP_STATUS_OK: return "OK";
    case BACKUP_STATUS_WRONG_FORMAT: return "WRONG-FORMAT";
    case BACKUP_STATUS_SIGN_ERROR: return "SIGN-ERROR";
    case BACKUP_STATUS_CONTENT_ERROR: return "CONTENT-ERROR";
  }
  throw OVRIN_EXCEPTION(RepositoryException,
                        "status value incorrect: " + std::to_string(static_cast<int>(status)), 0);
}

BackupStatus GetBackupStatusVal(const std::string& text) {
  if (text == "OK") return BACKUP_STATUS_OK;
  if (text == "WRONG-FORMAT") return BACKUP_STATUS_WRONG_FORMAT;
  if (text == "SIGN-ERROR") return BACKUP_STATUS_SIGN_ERROR;
  if (text == "CONTENT-ERROR") return BACKUP_STATUS_CONTENT_ERROR;
  throw OVRIN_EXCEPTION(RepositoryException, "status string value incorrect: " + text, 0);
}

}  // namespace ovrin
