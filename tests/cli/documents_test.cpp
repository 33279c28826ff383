#include "cli/documents.h"

#include <gtest/gtest.h>

#include "cli/xml_writer.h"
#include "errors/error_model.h"
#include "tests/support/test_support.h"

namespace ovrin {
namespace {

// Writes one element with `write` into a fresh document and returns the text.
template <class F>
std::string Render(F write) {
  testing::internal::CaptureStdout();
  {
    XmlDocumentWriter document;
    WriteStartDocument(document.writer());
    write(document.writer());
    WriteEndDocument(document.writer());
    document.Print();
  }
  return testing::internal::GetCapturedStdout();
}

BackupInfo SampleInfo() {
  BackupInfo info;
  info.name = "backup_info_1001011200.xml";
  info.fullname = "clients/c1/backup_info_1001011200.xml";
  info.description = "nightly \"full\" <dump>";
  info.size = 5000000000LL;
  info.ownerGuid = "owner-g";
  info.ownerType = "reseller";
  info.objectId = "c1";
  info.SetDateTimeStr("1001011200");
  return info;
}

TEST(Documents, FullDumpWithSeveralResultsAndContentDetails) {
  BackupInfo info = SampleInfo();
  info.validationResults.clear();
  ValidationResult wrong;
  wrong.status = BACKUP_STATUS_WRONG_FORMAT;
  ValidationResult content;
  content.status = BACKUP_STATUS_CONTENT_ERROR;
  content.contentFiles = {"clients/c1/a_1001011200.tgz", "clients/c1/b & c_1001011200.tgz"};
  info.validationResults = {wrong, content};
  EXPECT_EQ(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<dump name=\"backup_info_1001011200.xml\" fullname=\"clients/c1/backup_info_1001011200.xml\" "
      "creation-date=\"1001011200\" description=\"nightly &quot;full&quot; &lt;dump&gt;\" size=\"5000000000\" "
      "owner-guid=\"owner-g\" owner-type=\"reseller\">\n"
      " <dump-status dump-status=\"WRONG-FORMAT\"/>\n"
      " <dump-status dump-status=\"CONTENT-ERROR\">\n"
      "  <details>\n"
      "   <content-file-name>clients/c1/a_1001011200.tgz</content-file-name>\n"
      "   <content-file-name>clients/c1/b &amp; c_1001011200.tgz</content-file-name>\n"
      "  </details>\n"
      " </dump-status>\n"
      "</dump>\n",
      Render([&](xmlTextWriterPtr w) { WriteBackupInfo(w, info); }));
}

TEST(Documents, BriefDumpKeepsEmptyAttributesAndOmitsOwner) {
  BackupInfo info;
  info.name = "a_1001011200.tar";
  info.fullname = "a_1001011200.tar";
  info.SetDateTimeStr("1001011200");
  EXPECT_EQ(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<dump name=\"a_1001011200.tar\" fullname=\"a_1001011200.tar\" creation-date=\"1001011200\" size=\"0\">\n"
      " <dump-status dump-status=\"OK\"/>\n"
      "</dump>\n",
      Render([&](xmlTextWriterPtr w) { WriteBriefBackupInfo(w, info); }));
}

TEST(Documents, UnknownStatusIsRejectedWhileWriting) {
  BackupInfo info = SampleInfo();
  info.validationResults[0].status = static_cast<BackupStatus>(7);
  testing::internal::CaptureStdout();
  try {
    XmlDocumentWriter document;
    WriteBackupInfo(document.writer(), info);
    FAIL() << "status 7 must not be written";
  } catch (const ExTraceable& e) {
    EXPECT_STREQ("'status' has unexpected value '7'", e.what());
  }
  // Nothing of the partial document reaches standard output.
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

TEST(Documents, CredentialsNeedALocalStorageTypeAndPath) {
  dktest::SampleInstallation install;
  testing::internal::CaptureStdout();
  DumpsStorageCredentials("local");
  EXPECT_EQ("<dumps-storage-credentials>\n <root-dir>" + install.dumps() + "</root-dir>\n</dumps-storage-credentials>\n",
            testing::internal::GetCapturedStdout());
  EXPECT_THROW(DumpsStorageCredentials("LOCAL"), ExTraceable);
}

}  // namespace
}  // namespace ovrin
