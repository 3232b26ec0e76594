#include "reading/day_files.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "base/paths.h"
#include "base/text_encoding.h"
#include "format/log_layout.h"
#include "reading/log_file.h"

namespace {

// The layout's names, in the tool's UTF-8.
const std::string kPrefix = ToUtf8(kLogFilePrefix);
const std::string kSuffix = ToUtf8(kLogFileExtension);

bool Exists(const std::string& strPath, bool& bFolder) {
  std::u16string strWide;
  CFileStatus status;
  if (!FromUtf8(strPath, strWide) || !CFile::GetStatus(strWide, status)) return false;
  bFolder = (status.m_attribute & attributeDirectory) != 0;
  return true;
}

}  // namespace

bool ParseDayFileName(std::string_view strName, CDay& day) {
  if (strName.size() != kPrefix.size() + 8 + kSuffix.size()) return false;
  if (strName.substr(0, kPrefix.size()) != kPrefix || strName.substr(kPrefix.size() + 8) != kSuffix) return false;
  // Eight characters read as a date only in the form without separators.
  return ParseDay(strName.substr(kPrefix.size(), 8), day);
}

// Digits in the shape of one of the day forms, whether or not the date
// exists: "20261332", "2026-13-01".
bool LooksLikeDate(const std::string& strText) {
  auto IsDigits = [&strText](size_t nFrom, size_t nCount) {
    return strText.size() >= nFrom + nCount && strText.find_first_not_of("0123456789", nFrom) >= nFrom + nCount;
  };
  if (strText.size() == 8) return IsDigits(0, 8);
  if (strText.size() != 10 || (strText[4] != '-' && strText[4] != '.') || strText[7] != strText[4]) return false;
  return IsDigits(0, 4) && IsDigits(5, 2) && IsDigits(8, 2);
}

std::string DayFileName(const CDay& day) { return kPrefix + FormatDayStamp(day) + kSuffix; }

CDay Today() {
  std::tm local{};
  CDay day;
  if (ConvertToLocalTime(ReadClock(), local)) {
    day.m_nYear = local.tm_year + 1900;
    day.m_nMonth = local.tm_mon + 1;
    day.m_nDay = local.tm_mday;
  }
  return day;
}

std::string FormatLocalTime(int64_t nTime) {
  std::tm local{};
  if (!ConvertToLocalTime(nTime, local)) return "(time unknown)";
  char szText[80];
  std::snprintf(szText, sizeof szText, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return szText;
}

bool ListFolder(const std::string& strFolder, std::vector<CFolderEntry>& aEntries) {
  aEntries.clear();
  std::u16string strWide;
  if (!FromUtf8(strFolder, strWide)) return false;
  CFileFind finder;
  if (!finder.FindFile(strWide)) return false;
  for (bool bMore = true; bMore;) {
    bMore = finder.FindNextEntry();
    if (finder.IsDots() || finder.IsDirectory()) continue;
    CFolderEntry entry;
    entry.m_strName = ToUtf8(finder.GetFileName());
    entry.m_strPath = JoinPath(strFolder, entry.m_strName);
    entry.m_bHasStatus = CFile::GetStatus(finder.GetFilePath(), entry.m_status);
    aEntries.push_back(std::move(entry));
  }
  std::sort(aEntries.begin(), aEntries.end(),
            [](const CFolderEntry& a, const CFolderEntry& b) { return a.m_strName < b.m_strName; });
  return true;
}

bool IsFolder(const std::string& strFolder) {
  bool bFolder = false;
  return Exists(strFolder, bFolder) && bFolder;
}

const char kDayForms[] = "yyyymmdd, yyyy-mm-dd, yyyy.mm.dd, today or yesterday";

DayArgument ResolveDayArgument(const std::string& strArgument, const std::string& strFolder, const CDay& today,
                               std::string& strPath, std::string& strError) {
  CDay day;
  bool bDay = ParseDay(strArgument, day);
  if (strArgument == "today" || strArgument == "yesterday") {
    day = strArgument == "today" ? today : PreviousDay(today);
    bDay = true;
  }
  bool bFolder = false;
  if (bDay) {
    strPath = JoinPath(strFolder, DayFileName(day));
    if (Exists(strPath, bFolder) && !bFolder) return dayArgumentFound;
    strError = "no log for " + FormatIsoDay(day) + " in " + strFolder + " (" + DayFileName(day) + ")";
    return dayArgumentMissing;
  }
  strPath = strArgument;
  if (Exists(strPath, bFolder)) {
    if (!bFolder) return dayArgumentFound;
    strError = strArgument + ": is a folder; give it with --folder";
    return dayArgumentMissing;
  }
  if (!HasFolderPart(strArgument)) {
    strPath = JoinPath(strFolder, strArgument);
    if (Exists(strPath, bFolder) && !bFolder) return dayArgumentFound;
  }
  if (LooksLikeDate(strArgument)) {
    strError = strArgument + ": no such date (a day is " + kDayForms + ")";
    return dayArgumentBadDate;
  }
  strError = strArgument + ": no such file, and not a day (" + kDayForms + ")";
  return dayArgumentMissing;
}
