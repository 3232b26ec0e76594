#include "output/record_output.h"

#include <algorithm>
#include <numeric>

#include "base/display_width.h"
#include "base/text_encoding.h"
#include "platform/unicode_text.h"
#include "reading/record_filter.h"

namespace {

constexpr int kGap = 2;              // blanks between columns
constexpr int kMinDescription = 20;  // cells the description keeps when the line is short
const char* const kHeadings[kFieldCount] = {"TIME", "TYPE", "LOCATION", "OPERATION", "PARAMETERS", "DESCRIPTION"};

const char kReset[] = "\x1b[0m";
const char kBold[] = "\x1b[1m";
const char kDim[] = "\x1b[2m";

const char* ColorOfType(const std::string& strType) {
  static const char* const kColors[] = {"\x1b[31m", "\x1b[33m", "\x1b[32m", "\x1b[36m", nullptr};
  return kColors[CategoryOfType(strType)];
}

int FieldWidth(const CLogRecord& record, int iField) {
  return DisplayTextWidth(record.m_aField[iField], iField == fieldDescription);
}

bool IsPlainAscii(std::string_view strText) {
  for (char c : strText) {
    if (c < 0x20 || c > 0x7E) return false;  // char is signed: bytes from 0x80 are negative
  }
  return true;
}

// Appends one cell: the text made safe for the terminal, cut to the
// column's width, and the blanks up to the next column.
void AppendCell(std::string& strOut, std::string_view strField, int iField, const CTableLayout& layout,
                const char* szColor) {
  std::string strSafe;
  std::string_view strText = strField;
  int nWidth = static_cast<int>(strField.size());
  if (!IsPlainAscii(strField)) {
    strSafe = MakeDisplayText(std::string(strField), false);
    strText = strSafe;
    nWidth = DisplayWidth(strText);
  }
  std::string strCut;
  if (nWidth > layout[iField]) {
    strCut = FitToWidth(strText, layout[iField]);
    strText = strCut;
    nWidth = DisplayWidth(strText);
  }
  if (szColor && !strText.empty()) {
    strOut += szColor;
    strOut += strText;
    strOut += kReset;
  } else {
    strOut += strText;
  }
  // No trailing blanks after the last column.
  if (iField == kFieldCount - 1) return;
  strOut.append(static_cast<size_t>(std::max(layout[iField] - nWidth + kGap, 0)), ' ');
}

// The largest width cap under which the columns from iFirst to iLast fit
// nAvailable cells (at least 1).
int FindCap(const CTableLayout& natural, int iFirst, int iLast, int nAvailable) {
  int nCap = 1;
  for (int nTry = 2; nTry <= *std::max_element(natural.begin(), natural.end()); ++nTry) {
    int nSum = 0;
    for (int i = iFirst; i <= iLast; ++i) nSum += std::min(natural[i], nTry);
    if (nSum > nAvailable) break;
    nCap = nTry;
  }
  return nCap;
}

// Caps the columns iFirst to iLast to share nAvailable cells, the cells left
// under the cap going one each to the columns that were cut, left to right.
// Returns the cells used.
int ShareCells(const CTableLayout& natural, int iFirst, int iLast, int nAvailable, CTableLayout& fitted) {
  int nCap = FindCap(natural, iFirst, iLast, nAvailable);
  int nUsed = 0;
  for (int i = iFirst; i <= iLast; ++i) nUsed += fitted[i] = std::min(natural[i], nCap);
  for (int i = iFirst; i <= iLast && nUsed < nAvailable; ++i) {
    if (natural[i] > fitted[i]) {
      ++fitted[i];
      ++nUsed;
    }
  }
  return nUsed;
}

}  // namespace

int FieldTextWidth(std::u16string_view strData, bool bEscaped, bool bLines) {
  static const std::u16string_view kEntities[] = {u"lt;", u"amp;", u"gt;", u"apos;", u"quot;"};
  int nWidest = 0;
  int nWidth = 0;
  const size_t nSize = strData.size();
  for (size_t i = 0; i < nSize; ++i) {
    const char32_t c = strData[i];
    if (c >= 0x20 && c < 0x7F) {
      ++nWidth;
      if (c == u'&' && bEscaped) {
        for (std::u16string_view strName : kEntities) {
          if (strData.substr(i + 1, strName.size()) == strName) {
            i += strName.size();
            break;
          }
        }
      }
    } else if (c == u'\r' || c == u'\n') {
      if (c == u'\r' && i + 1 < nSize && strData[i + 1] == u'\n') ++i;
      if (bLines) {
        nWidest = std::max(nWidest, nWidth);
        nWidth = 0;
      } else {
        nWidth += CodePointWidth(0x21B5);  // "↵"
      }
    } else if (c == u'\t') {
      ++nWidth;
    } else if (c < 0x20 || c == 0x7F) {
      nWidth += 2;  // caret notation
    } else if (IsShownByNumber(c)) {
      nWidth += kNumberFormWidth;
    } else if (StartsSurrogatePair(strData, i)) {
      nWidth += CodePointWidth(CombineSurrogates(c, strData[i + 1]));
      ++i;
    } else if (IsSurrogate(c)) {
      nWidth += CodePointWidth(kReplacementCharacter);
    } else {
      nWidth += CodePointWidth(c);
    }
  }
  return std::max(nWidest, nWidth);
}

CTableLayout MeasureColumns(const std::vector<CLogRecord>& aRecords) {
  CTableLayout layout;
  for (int i = 0; i < kFieldCount; ++i) layout[i] = DisplayWidth(kHeadings[i]);
  for (const auto& record : aRecords) {
    for (int i = 0; i < kFieldCount; ++i) layout[i] = std::max(layout[i], FieldWidth(record, i));
  }
  return layout;
}

CTableLayout FitColumns(const CTableLayout& natural, int nWidth) {
  int nTotal = std::accumulate(natural.begin(), natural.end(), 0) + kGap * (kFieldCount - 1);
  if (nWidth <= 0 || nTotal <= nWidth) return natural;
  int nAvailable = std::max(nWidth - kGap * (kFieldCount - 1) - natural[fieldTime], kFieldCount - 1);
  // The description is what people read: it keeps a good share of the line
  // while the other columns share the rest, and takes back what they leave.
  int nReserved = std::min(natural[fieldDescription], std::max(kMinDescription, nAvailable * 2 / 5));
  nReserved = std::min(nReserved, nAvailable - (fieldDescription - fieldType));
  CTableLayout fitted = natural;
  int nUsed = ShareCells(natural, fieldType, fieldParameters, nAvailable - nReserved, fitted);
  fitted[fieldDescription] = std::min(natural[fieldDescription], nAvailable - nUsed);
  return fitted;
}

void WriteTableHeader(const CTableLayout& layout, const CTableOptions& options, std::ostream& out) {
  std::string strLine;
  for (int i = 0; i < kFieldCount; ++i)
    AppendCell(strLine, kHeadings[i], i, layout, options.m_bColor ? kBold : nullptr);
  strLine += '\n';
  out << strLine;
}

void AppendTableRow(std::string& strOut, const CLogRecord& record, const CTableLayout& layout,
                    const CTableOptions& options) {
  const char* szTypeColor = options.m_bColor ? ColorOfType(record.m_aField[fieldType]) : nullptr;
  const std::string& strDescription = record.m_aField[fieldDescription];
  size_t nLineStart = 0;
  for (bool bFirst = true;; bFirst = false) {
    for (int i = 0; i < fieldDescription; ++i) {
      const char* szColor = i == fieldType ? szTypeColor : (i == fieldTime && options.m_bColor ? kDim : nullptr);
      AppendCell(strOut, bFirst ? std::string_view(record.m_aField[i]) : std::string_view(), i, layout, szColor);
    }
    // One line of the description, up to CR LF, LF or CR.
    size_t nLineEnd = strDescription.find_first_of("\r\n", nLineStart);
    const bool bLast = nLineEnd == std::string::npos;
    if (bLast) nLineEnd = strDescription.size();
    AppendCell(strOut, std::string_view(strDescription).substr(nLineStart, nLineEnd - nLineStart), fieldDescription,
               layout, nullptr);
    strOut += '\n';
    if (bLast) break;
    nLineStart = nLineEnd + (strDescription[nLineEnd] == '\r' && nLineEnd + 1 < strDescription.size() &&
                                     strDescription[nLineEnd + 1] == '\n'
                                 ? 2
                                 : 1);
  }
}

void WriteTableRow(const CLogRecord& record, const CTableLayout& layout, const CTableOptions& options,
                   std::ostream& out) {
  std::string strRow;
  AppendTableRow(strRow, record, layout, options);
  out << strRow;
}

void WriteTable(const std::vector<CLogRecord>& aRecords, const CTableOptions& options, std::ostream& out) {
  CTableLayout layout = FitColumns(MeasureColumns(aRecords), options.m_nWidth);
  WriteTableHeader(layout, options, out);
  for (const auto& record : aRecords) WriteTableRow(record, layout, options, out);
}
