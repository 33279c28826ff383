// Signing and signature verification through the panel's signing utility.
#include <fstream>

#include "exec/exec_cmd.h"
#include "errors/system_error.h"
#include "hostlib/ovr_conf.h"
#include "infoxml/info_xml_reader.h"
#include "log/debug_log.h"
#include "util/strings.h"

namespace ovrin {

std::string GetSignUtilityPath() { return JoinPath(ReadConfigValue("PRODUCT_ROOT_D"), "admin/sbin/backup_sign"); }

namespace {

// Writes `data` to `path` (created or truncated); raises OutputStreamException.
void SaveToFile(const std::string& path, const std::string& data) {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out) throw OutputStreamException();
}

}  // namespace

std::string tInfoXmlReader::Sign() {
  LogMsg(std::string("Sign info xml"));
  RetreaveXmlInfo();
  if (IsSigned(localPath)) return localPath;
  tLogExecCmd cmd(GetSignUtilityPath());
  cmd << "sign" << localPath;
  cmd.exec();
  std::string signedPath = GetTempFilePath();
  LogMsg("Save signed xml to temp file '" + signedPath + "'");
  tempFiles.emplace_back(signedPath);
  SaveToFile(signedPath, cmd.out());
  return signedPath;
}

bool tInfoXmlReader::ValidateSign() {
  LogMsg(std::string("Validate xml by sign"));
  RetreaveXmlInfo();
  tLogExecCmd cmd(GetSignUtilityPath());
  cmd << "verify" << localPath;
  int status = cmd.exec(std::nothrow);
  std::string unsignedPath = GetTempFilePath();
  LogMsg("Save unsigned xml to temp file '" + unsignedPath + "'");
  tempFiles.emplace_back(unsignedPath);
  SaveToFile(unsignedPath, cmd.out());
  localPath = unsignedPath;
  return status == 0;
}

}  // namespace ovrin
