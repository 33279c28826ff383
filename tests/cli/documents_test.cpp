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

// A full dump entry escapes every attribute and has one status element per
// validation result, with the content details of a content error; a brief
// entry has the same results but no description or owner.
TEST(Documents, FullAndBriefDumpEntries) {
  BackupInfo info;
  info.name = "backup_info_1001011200.xml";
  info.fullname = "clients/c1/backup_info_1001011200.xml";
  info.description = "nightly \"full\" <dump>";
  info.size = 5000000000LL;
  info.ownerGuid = "owner-g";
  info.ownerType = "reseller";
  info.SetDateTimeStr("1001011200");
  ValidationResult wrong, content, ok;
  wrong.status = BACKUP_STATUS_WRONG_FORMAT;
  content.status = BACKUP_STATUS_CONTENT_ERROR;
  content.contentFiles = {"clients/c1/a_1001011200.tgz", "clients/c1/b & c_1001011200.tgz"};
  info.validationResults = {wrong, content, ok};
  const std::string results =
      " <dump-status dump-status=\"WRONG-FORMAT\"/>\n <dump-status dump-status=\"CONTENT-ERROR\">\n  <details>\n"
      "   <content-file-name>clients/c1/a_1001011200.tgz</content-file-name>\n"
      "   <content-file-name>clients/c1/b &amp; c_1001011200.tgz</content-file-name>\n"
      "  </details>\n </dump-status>\n <dump-status dump-status=\"OK\"/>\n</dump>\n";
  const std::string start = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dump name=\"backup_info_1001011200.xml\" "
                            "fullname=\"clients/c1/backup_info_1001011200.xml\" creation-date=\"1001011200\" ";
  EXPECT_EQ(start + "description=\"nightly &quot;full&quot; &lt;dump&gt;\" size=\"5000000000\" "
                    "owner-guid=\"owner-g\" owner-type=\"reseller\">\n" + results,
            Render([&](xmlTextWriterPtr w) { WriteBackupInfo(w, info); }));
  EXPECT_EQ(start + "size=\"5000000000\">\n" + results,
            Render([&](xmlTextWriterPtr w) { WriteBriefBackupInfo(w, info); }));
}

// A status outside the known ones is refused while writing, and nothing of
// the partial document reaches standard output.
TEST(Documents, UnknownStatusIsRejectedWhileWriting) {
  BackupInfo info;
  info.validationResults[0].status = static_cast<BackupStatus>(7);
  testing::internal::CaptureStdout();
  EXPECT_EQ("'status' has unexpected value '7'", dktest::ThrownText<ExTraceable>([&] {
              XmlDocumentWriter document;
              WriteBackupInfo(document.writer(), info);
            }));
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

}  // namespace
}  // namespace ovrin
