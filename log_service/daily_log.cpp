#include "daily_log.h"

#include "document_update.h"
#include "library_frame.h"
#include "markup.h"
#include "platform_files.h"

namespace {

constexpr char16_t kLogRoot[] = u"日志";
constexpr char16_t kRecord[] = u"记录";

// The five texts of one call of WriteVardlix.
struct RecordTexts {
  const char16_t* m_szType;
  const char16_t* m_szLocation;
  const char16_t* m_szOperation;
  const char16_t* m_szParameters;
  const char16_t* m_szDescription;
};

// The text of a day's file that has no record yet.
std::u16string BuildEmptyLogText() {
  CXmlDocument doc;
  doc.SetDocument(std::u16string(g_strXmlDeclaration));
  doc.AddElement(kLogRoot);
  return doc.GetDocument();
}

// Adds one record after the last child of the root "日志".
void AddRecord(CXmlDocument& doc, const std::u16string& strTime, const RecordTexts& texts) {
  doc.FindNextElement(kLogRoot);
  doc.EnterElement();
  doc.AddElement(kRecord);
  doc.EnterElement();
  doc.AddElement(u"时间", strTime.c_str());
  doc.AddElement(u"类型", texts.m_szType);
  doc.AddElement(u"位置", texts.m_szLocation);
  doc.AddElement(u"操作", texts.m_szOperation);
  doc.AddElement(u"参数", texts.m_szParameters);
  doc.AddElement(u"描述", texts.m_szDescription);
}

// The first record of a day comes into being with its file: the file appears
// whole, or not at all when the record cannot be written.
CreateDocumentResult CreateLogWithRecord(const std::u16string& strPath, const RecordTexts& texts) {
  CXmlDocument doc;
  doc.SetDocument(BuildEmptyLogText());
  AddRecord(doc, FormatTimeStamp(), texts);
  return CreateDocumentFile(strPath, doc.ViewDocument());
}

void AppendToOpenLog(CFile& file, const std::u16string& strPath, const RecordTexts& texts) {
  bool bUnreadData = false;
  std::u16string strText = ReadDocumentFile(file, &bUnreadData);
  const size_t nOldUnits = strText.size();
  // Taken after the read, as the record's time is that of its writing.
  const std::u16string strTime = FormatTimeStamp();
  // No text at all (zero bytes, a lone byte-order mark, or a mark and a zero
  // unit ahead of what an interrupted first write left) means a creator
  // stopped before its first content was whole: start it afresh rather than
  // leave a document without its root, to which no later record of the day
  // could be added.
  const bool bStartAfresh = strText.empty();
  if (bStartAfresh) strText = BuildEmptyLogText();

  CXmlDocument doc;
  doc.SetDocument(std::move(strText));
  // UTF-16 text that stops at a zero unit with more behind it. Behind a log's
  // root that is what an interrupted update left, and the update cuts it;
  // after any other text (a zero inside the root) it is content that could
  // not be read, and writing would destroy it: the file is left as it is and
  // the record dropped.
  if (bUnreadData && !bStartAfresh && doc.LocateElement(0, 0, kLogRoot) == 0) return;
  AddRecord(doc, strTime, texts);
  const size_t nUnchanged = bStartAfresh ? 0 : static_cast<size_t>(doc.GetFirstChangedOffset());
  UpdateDocumentFile(file, strPath, nOldUnits, nUnchanged, doc.ViewDocument());
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
  // Another caller that created it a moment ago leaves theirs in place.
  return CreateDocumentFile(strPath, BuildEmptyLogText()) != documentNotCreated;
}

void AppendLogRecord(const char16_t* szType, const char16_t* szLocation, const char16_t* szOperation,
                     const char16_t* szParameters, const char16_t* szDescription) {
  if (g_nLogLife.load() == 0) return;
  auto lock = LockFileOperations();
  const RecordTexts texts{szType, szLocation, szOperation, szParameters, szDescription};
  const std::u16string strPath = MakeLogPath(MakeDailyLogName(FormatDateStamp()));
  // A second round follows a file that another process created, or removed,
  // between our look and our own attempt.
  for (int nRound = 0; nRound < 2; ++nRound) {
    CFileStatus status;
    if (!CFile::GetStatus(strPath, status) && CreateLogWithRecord(strPath, texts) != documentExists) return;
    CFile file;
    if (file.Open(strPath, CFile::modeReadWriteDenyWrite)) {
      AppendToOpenLog(file, strPath, texts);
      return;
    }
    if (file.GetOpenError() != causeNotFound) return;
  }
}
