#include "daily_log.h"

#include "library_frame.h"
#include "markup.h"
#include "platform_files.h"

namespace {

constexpr char16_t kLogRoot[] = u"日志";
constexpr char16_t kRecord[] = u"记录";

// The text of a day's file that has no record yet.
std::u16string BuildEmptyLogText() {
  CXmlDocument doc;
  doc.SetDocument(std::u16string(g_strXmlDeclaration));
  doc.AddElement(kLogRoot);
  return doc.GetDocument();
}

}  // namespace

std::u16string MakeDailyLogName(std::u16string_view strDateStamp) {
  std::u16string strName = u"Vardlix";
  strName += strDateStamp;
  strName += u".xml";
  return strName;
}

bool EnsureDailyLogFile(const std::u16string& strPath) {
  CFileStatus status;
  if (CFile::GetStatus(strPath, status)) return true;
  CFile file;
  if (!file.Open(strPath, CFile::modeCreateNewExclusive)) {
    // Another caller created it a moment ago: go on with theirs.
    return file.GetOpenError() == causeAlreadyExists;
  }
  // Between creating the file and locking it, another writer may have found
  // it empty, started it and added its record: that content stays.
  if (file.GetLength() != 0) return true;
  WriteDocumentFile(file, BuildEmptyLogText());
  return true;
}

void AppendLogRecord(const char16_t* szType, const char16_t* szLocation, const char16_t* szOperation,
                     const char16_t* szParameters, const char16_t* szDescription) {
  if (g_nLogLife.load() == 0) return;
  auto lock = LockFileOperations();
  const std::u16string strPath = MakeLogPath(MakeDailyLogName(FormatDateStamp()));
  if (!EnsureDailyLogFile(strPath)) return;
  CFile file;
  if (!file.Open(strPath, CFile::modeReadWriteDenyWrite)) return;
  std::u16string strText = ReadDocumentFile(file);
  // Taken after the read, as the record's time is that of its writing.
  const std::u16string strTime = FormatTimeStamp();
  // Nothing in the file (zero bytes or a lone byte-order mark) means a
  // creator stopped before writing its first content: start it afresh rather
  // than leave a document without its root, to which no later record of the
  // day could be added.
  if (strText.empty()) strText = BuildEmptyLogText();

  CXmlDocument doc;
  doc.SetDocument(std::move(strText));
  doc.FindNextElement(kLogRoot);
  doc.EnterElement();
  doc.AddElement(kRecord);
  doc.EnterElement();
  doc.AddElement(u"时间", strTime.c_str());
  doc.AddElement(u"类型", szType);
  doc.AddElement(u"位置", szLocation);
  doc.AddElement(u"操作", szOperation);
  doc.AddElement(u"参数", szParameters);
  doc.AddElement(u"描述", szDescription);
  WriteDocumentFile(file, doc.ViewDocument());
}
