#include "log_file.h"

#include <chrono>
#include <thread>

#include "document_file.h"
#include "log_layout.h"
#include "markup.h"
#include "platform_files.h"
#include "text_encoding.h"

namespace {

constexpr auto kRetryDelay = std::chrono::milliseconds(100);

// The seam's separator tells the platform; the tool has no system header here.
bool IsWindows() { return kPathSeparator[0] == u'\\'; }

bool IsSeparator(char c) { return c == '/' || (c == '\\' && IsWindows()); }

size_t LastSeparator(const std::string& strPath) { return strPath.find_last_of(IsWindows() ? "/\\" : "/"); }

std::string DescribeOpenError(FileErrorCause nCause) {
  switch (nCause) {
    case causeNotFound: return "no such file";
    case causeAccessDenied: return "permission denied";
    case causeSharingViolation: return "another program holds it locked";
    default: return "it cannot be opened";
  }
}

// The units behind the first zero unit of a UTF-16 file, whose text ends
// at nTextUnits, read from the disk: the library's reading passes over them.
std::u16string ReadUnitsBeyond(CFile& file, size_t nTextUnits) {
  const uint64_t nFrom = sizeof kByteOrderMark + 2 * (uint64_t{nTextUnits} + 1);
  const uint64_t nLength = file.GetLength();
  std::u16string strBeyond;
  if (nLength <= nFrom) return strBeyond;
  std::string strBytes(static_cast<size_t>(nLength - nFrom), '\0');
  file.Seek(nFrom);
  strBytes.resize(file.Read(strBytes.data(), strBytes.size()));
  strBeyond.resize(strBytes.size() / 2);
  for (size_t i = 0; i < strBeyond.size(); ++i) {
    strBeyond[i] = static_cast<char16_t>(static_cast<unsigned char>(strBytes[2 * i]) |
                                         static_cast<unsigned char>(strBytes[2 * i + 1]) << 8);
  }
  return strBeyond;
}

// One attempt. False when another may do better: the file was held past
// the wait, changed size while it was read, or did not parse. The file is
// open only for this attempt, so that no wait between attempts (or between
// the polls of follow) keeps it open.
bool ReadOnce(const std::u16string& strPath, const std::string& strName, bool bKeepText, bool bLastAttempt,
              CLogFile& result) {
  CFile file;
  if (!file.Open(strPath, CFile::modeReadAlongsideWriters)) {
    result.m_nOutcome = file.GetOpenError() == causeNotFound ? logFileMissing : logFileUnreadable;
    result.m_strError = DescribeOpenError(file.GetOpenError());
    return file.GetOpenError() != causeSharingViolation;
  }
  try {
    uint64_t nSizeBefore = file.GetLength();
    std::u16string strText = ReadDocumentFile(file);
    result.m_bWide = StartsWithByteOrderMark(file);
    result.m_nSize = file.GetLength();
    std::u16string strBeyond;
    const bool bZeroUnit = result.m_bWide && sizeof kByteOrderMark + 2 * (uint64_t{strText.size()} + 1) <= result.m_nSize;
    if (bZeroUnit) {
      strBeyond = ReadUnitsBeyond(file, strText.size());
      result.m_nZeroUnit = strText.size();
      result.m_bDataBeyondZero = strBeyond.find_first_not_of(u'\0') != std::u16string::npos;
    }
    file.Close();
    result.m_nOutcome = logFileRead;
    if (bKeepText) result.m_strText = bZeroUnit ? strText + u'\0' + strBeyond : strText;
    result.m_text =
        ReadLogText(std::move(strText), strName, result.m_bDataBeyondZero ? &strBeyond : nullptr, bLastAttempt);
    return nSizeBefore == result.m_nSize && result.m_text.m_nOutcome != logTextMalformed;
  } catch (const CFileException&) {
    result.m_nOutcome = logFileUnreadable;
    result.m_strError = "reading it failed";
    return false;
  }
}

}  // namespace

std::string FileNameOf(const std::string& strPath) {
  size_t nSlash = LastSeparator(strPath);
  return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

std::string FolderOf(const std::string& strPath) {
  size_t nSlash = LastSeparator(strPath);
  if (nSlash == std::string::npos) return std::string();
  std::string strFolder = strPath.substr(0, nSlash);
  // Without its separator a root would be no folder ("") or the current
  // folder of a drive ("C:").
  if (strFolder.empty() || (IsWindows() && strFolder.back() == ':')) return strPath.substr(0, nSlash + 1);
  return strFolder;
}

bool HasFolderPart(const std::string& strPath) { return LastSeparator(strPath) != std::string::npos; }

std::string JoinPath(const std::string& strFolder, const std::string& strName) {
  if (strFolder.empty()) return strName;
  // "C:" + name is a name in the current folder of drive C, as Windows reads
  // "C:" itself.
  if (IsSeparator(strFolder.back()) || (IsWindows() && strFolder.back() == ':')) return strFolder + strName;
  return strFolder + static_cast<char>(kPathSeparator[0]) + strName;
}

CLogFile ReadLogFile(const std::string& strPath, int nAttempts, bool bKeepText) {
  CLogFile result;
  std::u16string strWidePath;
  if (!FromUtf8(strPath, strWidePath)) {
    result.m_nOutcome = logFileUnreadable;
    result.m_strError = "the path is not valid UTF-8";
    return result;
  }
  CFileStatus status;
  if (!CFile::GetStatus(strWidePath, status)) {
    result.m_strError = "no such file";
    return result;
  }
  if (status.m_attribute & attributeDirectory) {
    result.m_nOutcome = logFileNotFile;
    result.m_strError = "it is a folder";
    return result;
  }
  std::string strName = FileNameOf(strPath);
  for (int i = 1; i <= nAttempts; ++i) {
    result = CLogFile();
    // Only the last attempt looks for the records of a damaged text: an
    // earlier one may have met a write in progress.
    if (ReadOnce(strWidePath, strName, bKeepText, i == nAttempts, result)) break;
    if (i < nAttempts) std::this_thread::sleep_for(kRetryDelay);
  }
  return result;
}

bool LibraryAddsRecords(const CLogFile& file) {
  std::u16string strLibraryText = file.m_strText.substr(0, file.m_nZeroUnit);
  if (strLibraryText.empty()) return true;  // the library starts such a file afresh
  CXmlDocument doc;
  doc.SetDocument(std::move(strLibraryText));
  if (file.m_bDataBeyondZero && !IsLogDocument(doc)) return false;
  doc.FindNextElement(kLogRoot);
  doc.EnterElement();
  return doc.AddElement(kRecordElement);
}
