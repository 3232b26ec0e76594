#include "format/log_records.h"

#include "format/document_file.h"
#include "format/log_layout.h"
#include "format/record_text.h"

std::u16string BuildEmptyLogText() {
  CXmlDocument doc;
  doc.SetDocument(std::u16string(g_strXmlDeclaration));
  doc.AddElement(kLogRoot);
  return doc.GetDocument();
}

// Each record is left again for its parent, where it stays the current
// element, so the next one, of this call or of the next, follows it.
bool AddRecords(CXmlDocument& doc, const CHostRecord* pRecords, size_t nCount) {
  if (nCount == 0) return true;
  const int32_t iRoot = doc.LocateElement(0, 0, kLogRoot);
  if (iRoot == 0 || doc.GetParentElement() != iRoot) {
    doc.FindNextElement(kLogRoot);
    doc.EnterElement();
  }
  for (size_t i = 0; i < nCount; ++i) {
    const CHostRecord& record = pRecords[i];
    if (!doc.AddElement(kRecordElement)) return false;
    doc.EnterElement();
    doc.AddElement(kRecordFields[0], record.m_strTime.c_str());
    // The host's texts may hold characters that XML forbids (record_text.h);
    // records read back from a pending file come this way again.
    const std::u16string* aHostTexts[kRecordFieldCount - 1] = {&record.m_strType, &record.m_strLocation,
                                                               &record.m_strOperation, &record.m_strParameters,
                                                               &record.m_strDescription};
    for (size_t nField = 1; nField < kRecordFieldCount; ++nField) {
      const std::u16string& strHost = *aHostTexts[nField - 1];
      doc.AddElement(kRecordFields[nField], IsXmlText(strHost) ? strHost.c_str() : MakeXmlText(strHost).c_str());
    }
    doc.LeaveElement();
  }
  return true;
}

std::vector<CHostRecord> ReadRecords(const CXmlDocument& doc, const std::u16string& strDate) {
  std::vector<CHostRecord> aRecords;
  const int32_t iRoot = doc.LocateElement(0, 0, kLogRoot);
  if (iRoot == 0) return aRecords;
  for (int32_t iRecord = doc.LocateElement(iRoot, 0, kRecordElement); iRecord != 0;
       iRecord = doc.LocateElement(iRoot, iRecord, kRecordElement)) {
    std::u16string aData[kRecordFieldCount];
    for (size_t nField = 0; nField < kRecordFieldCount; ++nField) {
      const int32_t iField = doc.LocateElement(iRecord, 0, kRecordFields[nField]);
      if (iField != 0) aData[nField] = doc.GetElementData(iField);
    }
    aRecords.push_back(CHostRecord{strDate, std::move(aData[0]), std::move(aData[1]), std::move(aData[2]),
                                   std::move(aData[3]), std::move(aData[4]), std::move(aData[5])});
  }
  return aRecords;
}

bool COpenLog::Read() {
  bool bUnreadData = false;
  std::u16string strText = ReadDocumentFile(m_file, &bUnreadData);
  m_nOldUnits = strText.size();
  m_bStartAfresh = strText.empty();
  if (m_bStartAfresh) strText = BuildEmptyLogText();
  m_doc.SetDocument(std::move(strText));
  // Behind a log's root, what follows a zero unit is what an interrupted
  // update left, and the update cuts it; after any other text it is content
  // that could not be read, which writing would destroy.
  return !bUnreadData || m_bStartAfresh || IsLogDocument(m_doc);
}

bool COpenLog::HasChanged() const {
  return m_bStartAfresh || static_cast<size_t>(m_doc.GetFirstChangedOffset()) < m_doc.ViewDocument().size();
}

void COpenLog::Write() {
  const size_t nUnchanged = m_bStartAfresh ? 0 : static_cast<size_t>(m_doc.GetFirstChangedOffset());
  UpdateDocumentFile(m_file, m_strPath, m_nOldUnits, nUnchanged, m_doc.ViewDocument());
}

void COpenLog::Commit() {
  Write();
  m_nOldUnits = m_doc.ViewDocument().size();
  m_bStartAfresh = false;
  m_doc.MarkUnchanged();
}

void COpenLog::Replace(std::u16string strText) {
  UpdateDocumentFile(m_file, m_strPath, m_nOldUnits, 0, strText);
  m_nOldUnits = strText.size();
  m_bStartAfresh = false;
  m_doc.SetDocument(std::move(strText));
}
