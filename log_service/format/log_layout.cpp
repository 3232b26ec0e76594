#include "format/log_layout.h"

#include <cstdint>
#include <string>

#include "markup/markup.h"
#include "platform/platform_files.h"

std::u16string MakeDailyLogName(std::u16string_view strDateStamp) {
  std::u16string strName(kLogFilePrefix);
  strName += strDateStamp;
  strName += kLogFileExtension;
  return strName;
}

std::u16string MakePendingLogName(std::u16string_view strDateStamp) {
  std::u16string strName(kLogFilePrefix);
  strName += strDateStamp;
  strName += kPendingLogExtension;
  return strName;
}

std::u16string MakeOwnPendingLogName(std::u16string_view strDateStamp, uint32_t nProcess) {
  const std::string strNumber = std::to_string(nProcess);
  std::u16string strName(kLogFilePrefix);
  strName += strDateStamp;
  strName += u'.';
  strName.append(strNumber.begin(), strNumber.end());
  strName += kPendingLogExtension;
  return strName;
}

namespace {

constexpr size_t kDateUnits = 8;

// The process number of ".<digits>" at the start of strRest; false when it
// is not one (no digits, too many, or out of range).
bool ParseProcessNumber(std::u16string_view strRest, uint32_t& nProcess) {
  if (strRest.size() < 2 || strRest.size() > 11 || strRest[0] != u'.') return false;
  uint64_t nValue = 0;
  for (const char16_t c : strRest.substr(1)) {
    if (c < u'0' || c > u'9') return false;
    nValue = nValue * 10 + static_cast<uint64_t>(c - u'0');
  }
  if (nValue == 0 || nValue > UINT32_MAX) return false;
  nProcess = static_cast<uint32_t>(nValue);
  return true;
}

}  // namespace

bool ParsePendingLogName(std::u16string_view strName, std::u16string& strDateStamp, uint32_t* pnProcess) {
  const size_t nFixed = kLogFilePrefix.size() + kDateUnits + kPendingLogExtension.size();
  if (strName.size() < nFixed || strName.substr(0, kLogFilePrefix.size()) != kLogFilePrefix) return false;
  if (strName.substr(strName.size() - kPendingLogExtension.size()) != kPendingLogExtension) return false;
  const std::u16string_view strDate = strName.substr(kLogFilePrefix.size(), kDateUnits);
  const std::u16string_view strRest = strName.substr(nFixed - kPendingLogExtension.size(), strName.size() - nFixed);
  uint32_t nProcess = 0;
  if (!strRest.empty() && !ParseProcessNumber(strRest, nProcess)) return false;
  strDateStamp = strDate;
  if (pnProcess != nullptr) *pnProcess = nProcess;
  return true;
}

bool IsLogFileName(std::u16string_view strName) { return strName.substr(0, kLogFilePrefix.size()) == kLogFilePrefix; }

bool IsLogDocument(const CXmlDocument& doc) { return doc.LocateElement(0, 0, kLogRoot) != 0; }

std::u16string FindLogLifeData(CXmlDocument& doc) {
  doc.FindNextElement(kSettingsRoot);
  doc.EnterElement();
  doc.FindNextElement(kLogLifeElement);
  return doc.GetCurrentData();
}

namespace {

bool IsAtoiSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

}  // namespace

int32_t ParseLogLife(std::u16string_view strData) {
  size_t i = 0;
  while (i < strData.size() && IsAtoiSpace(strData[i])) ++i;
  bool bNegative = false;
  if (i < strData.size() && (strData[i] == u'+' || strData[i] == u'-')) bNegative = strData[i++] == u'-';
  constexpr int64_t kLimit = int64_t{INT32_MAX} + 1;
  int64_t nValue = 0;
  for (; i < strData.size() && strData[i] >= u'0' && strData[i] <= u'9'; ++i) {
    nValue = nValue * 10 + (strData[i] - u'0');
    if (nValue > kLimit) nValue = kLimit;
  }
  if (nValue > 0 && bNegative) return 0;  // a negative retention means none
  if (nValue > INT32_MAX) return INT32_MAX;
  if (nValue > 0) return static_cast<int32_t>(nValue);
  // Zero only when written as such: whatever else reads as zero ("", "00",
  // "-0", a word) is no deliberate choice and gets the default.
  return strData == u"0" ? 0 : kDefaultLogLife;
}

bool IsLogExpired(int64_t nNow, int64_t nCreated, int32_t nLogLife) {
  // Times far enough apart to overflow the difference are decided by sign.
  if (nCreated < 0 && nNow > INT64_MAX + nCreated) return true;
  if (nCreated > 0 && nNow < INT64_MIN + nCreated) return false;
  const int64_t nAgeDays = (nNow - nCreated) / kSecondsPerDay;  // truncated toward zero
  return nAgeDays > int64_t{nLogLife} - 1;
}

std::u16string DeriveLogFolderWindows(std::u16string_view strExePath) {
  const size_t nDot = strExePath.rfind(u'.');
  std::u16string strFolder(nDot == std::u16string_view::npos ? std::u16string_view() : strExePath.substr(0, nDot));
  return strFolder + u"Log";
}

std::u16string DeriveLogFolderPosix(std::u16string_view strExePath) {
  const size_t nSlash = strExePath.rfind(u'/');
  const size_t nNameStart = nSlash == std::u16string_view::npos ? 0 : nSlash + 1;
  const size_t nDot = strExePath.rfind(u'.');
  const bool bHasExtension = nDot != std::u16string_view::npos && nDot > nNameStart;
  std::u16string strFolder(bHasExtension ? strExePath.substr(0, nDot) : strExePath);
  return strFolder + u"Log";
}

std::u16string DeriveLogFolder(std::u16string_view strExePath) {
  return kPathSeparator[0] == u'\\' ? DeriveLogFolderWindows(strExePath) : DeriveLogFolderPosix(strExePath);
}
