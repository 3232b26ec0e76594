#include "reading/record_export.h"

#include "base/text_encoding.h"
#include "format/log_layout.h"
#include "reading/xml_characters.h"
#include "reading/xml_conformance.h"

namespace {

// A record in the library's layout from its decoded fields.
std::string BuildRecordMarkup(const std::array<std::u16string, kFieldCount>& aData) {
  const std::string strRecord = ToUtf8(kRecordElement);
  std::string strOut = "<" + strRecord + ">\r\n";
  for (int i = 0; i < kFieldCount; ++i) {
    const std::string strName = ToUtf8(kFieldElementNames[i]);
    strOut += "<" + strName + ">" + EscapeXmlData(aData[i]) + "</" + strName + ">\r\n";
  }
  return strOut + "</" + strRecord + ">";
}

}  // namespace

CLogRecord MakeLogRecord(const CRecordText& record, bool bMarkup) {
  CLogRecord out;
  for (int i = 0; i < kFieldCount; ++i) {
    out.m_aField[i].reserve(record.m_aData[i].size());
    AppendFieldUtf8(out.m_aField[i], record.m_aData[i], record.m_bEscaped);
  }
  if (record.m_pFile != nullptr) out.m_strFile = *record.m_pFile;
  if (bMarkup) {
    if (IsPortableAsItStands(record.m_markup)) {
      out.m_strMarkup = ToUtf8(record.m_markup);
    } else {
      std::array<std::u16string, kFieldCount> aData;
      for (int i = 0; i < kFieldCount; ++i) AppendFieldUtf16(aData[i], record.m_aData[i], record.m_bEscaped);
      out.m_strMarkup = BuildRecordMarkup(aData);
    }
  }
  return out;
}

bool IsPortableAsItStands(std::u16string_view strMarkup) {
  return FindForbiddenUnits(strMarkup).m_nCount == 0 && ReadsAlikeInXml(strMarkup);
}

std::string MakePortableMarkup(std::u16string_view strMarkup, const std::array<std::u16string, kFieldCount>& aData) {
  return IsPortableAsItStands(strMarkup) ? ToUtf8(strMarkup) : BuildRecordMarkup(aData);
}
