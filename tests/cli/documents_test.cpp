#include "cli/documents.h"

#include "cli/xml_writer.h"
#include "errors/error_model.h"
#include "tests/support/test_support.h"

using namespace ovrin;

// The printed document holding the full entry of `info`, or the refusal raised while writing it.
static std::string Rendered(const BackupInfo& info) {
  testing::internal::CaptureStdout();
  try {
    XmlDocumentWriter document;
    WriteBackupInfo(document.writer(), info);
    document.Print();
  } catch (const ExTraceable& e) {
    return testing::internal::GetCapturedStdout() + "raised: " + e.what();
  }
  return testing::internal::GetCapturedStdout();
}

// A dump entry escapes its texts and lists every result; an unknown status is refused, nothing printed.
TEST(Documents, DumpEntryHoldsEveryResultAndUnknownStatusIsRefused) {
  BackupInfo info;
  info.description = "nightly \"full\" <dump>";
  info.size = 5000000000LL;
  info.SetDateTimeStr("1001011200");
  ValidationResult wrong, content, ok;
  wrong.status = BACKUP_STATUS_WRONG_FORMAT;
  content.status = BACKUP_STATUS_CONTENT_ERROR;
  content.contentFiles = {"c1/a_1001011200.tgz", "c1/b & c_1001011200.tgz"};
  info.validationResults = {wrong, content, ok};
  EXPECT_EQ("<dump name=\"\" fullname=\"\" creation-date=\"1001011200\" description=\"nightly &quot;full&quot; "
            "&lt;dump&gt;\" size=\"5000000000\" owner-guid=\"\" owner-type=\"\">\n <dump-status dump-status=\"WRONG-"
            "FORMAT\"/>\n <dump-status dump-status=\"CONTENT-ERROR\">\n  <details>\n   <content-file-name>c1/a_"
            "1001011200.tgz</content-file-name>\n   <content-file-name>c1/b &amp; c_1001011200.tgz</content-file-name>"
            "\n  </details>\n </dump-status>\n <dump-status dump-status=\"OK\"/>\n</dump>\n",
            Rendered(info));
  info.validationResults[1].status = static_cast<BackupStatus>(7);
  EXPECT_EQ("raised: 'status' has unexpected value '7'", Rendered(info));
}
