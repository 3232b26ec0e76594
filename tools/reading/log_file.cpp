#include "reading/log_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "base/paths.h"
#include "base/text_encoding.h"
#include "format/commit_journal.h"
#include "format/document_file.h"
#include "format/log_layout.h"
#include "markup/markup.h"
#include "platform/platform_files.h"
#include "reading/record_scan.h"

namespace {

constexpr auto kRetryDelay = std::chrono::milliseconds(100);

std::string DescribeOpenError(FileErrorCause nCause) {
  switch (nCause) {
    case causeNotFound:
      return "no such file";
    case causeAccessDenied:
      return "permission denied";
    case causeSharingViolation:
      return "another program holds it locked";
    default:
      return "it cannot be opened";
  }
}

constexpr size_t kPieceUnits = 512 * 1024;
// Bytes at the end of a file compared again after a parse failure.
constexpr size_t kTailBytes = 64 * 1024;

char16_t UnitAt(const std::string& strBytes, size_t i) {
  return static_cast<char16_t>(static_cast<unsigned char>(strBytes[2 * i]) |
                               static_cast<unsigned char>(strBytes[2 * i + 1]) << 8);
}

// Whether the last bytes of the file are still the ones the text was read
// from: the text, then zeros (the zeros at its end that were not kept).
bool TailUnchanged(const std::u16string& strWidePath, uint64_t nSize, const std::u16string& strText) {
  CFile file;
  if (!file.Open(strWidePath, CFile::modeReadAlongsideWriters)) return false;
  try {
    if (file.GetLength() != nSize) return false;
    const uint64_t nUnits = (nSize - sizeof kByteOrderMark) / 2;
    const uint64_t nFirst = nUnits > kTailBytes / 2 ? nUnits - kTailBytes / 2 : 0;
    std::string strBytes(static_cast<size_t>(nUnits - nFirst) * 2, '\0');
    file.Seek(sizeof kByteOrderMark + 2 * nFirst);
    if (file.Read(strBytes.data(), strBytes.size()) != strBytes.size()) return false;
    for (size_t i = 0; i < strBytes.size() / 2; ++i) {
      const uint64_t nUnit = nFirst + i;
      const char16_t cExpected = nUnit < strText.size() ? strText[static_cast<size_t>(nUnit)] : 0;
      if (UnitAt(strBytes, i) != cExpected) return false;
    }
    return true;
  } catch (const CFileException&) {
    return false;
  }
}

// Puts the bytes a journal saved back into the units read from the file
// after its byte-order mark, where they lie within them. A file cut by its
// writer meanwhile has its commit behind it, and they belong to no text of
// it. (The format layer does the same inside ReadDocumentFile.)
void PutSavedBytesBack(const CCommitJournal& journal, std::u16string& strUnits) {
  const uint64_t nAt = journal.m_nSavedAt - sizeof kByteOrderMark;
  if (uint64_t{strUnits.size()} * 2 < nAt + journal.m_strSaved.size()) return;
  std::memcpy(reinterpret_cast<char*>(strUnits.data()) + nAt, journal.m_strSaved.data(), journal.m_strSaved.size());
}

// A file whose commit a kill may have cut, read as the library reads it:
// when it ends in a journal that the format layer believes, the text is the
// old one, with the saved bytes put back, up to its zero unit, and what the
// interrupted update wrote lies behind it (the journal itself is neither).
// False, and nothing changed, when there is no such journal.
bool ReadThroughJournal(CFile& file, std::u16string& strText, std::u16string& strBeyond) {
  CCommitJournal journal;
  if (!FindCommitJournal(file, journal) || journal.m_nSavedAt < sizeof kByteOrderMark) return false;
  std::u16string().swap(strText);  // the file is read again: only one copy of it is held
  std::u16string().swap(strBeyond);
  strText.resize(static_cast<size_t>((journal.m_nJournalAt - sizeof kByteOrderMark) / 2));
  file.Seek(sizeof kByteOrderMark);
  strText.resize(file.Read(strText.data(), strText.size() * 2) / 2);
  PutSavedBytesBack(journal, strText);
  const size_t nZero = FindZeroUnit(strText);
  if (nZero < strText.size()) strBeyond.assign(strText, nZero + 1);
  strText.resize(nZero);
  return true;
}

// The text of a UTF-16 file, and behind its zero unit, when data follows,
// that unit and the data. The units the library reads.
size_t ReadWideFile(CFile& file, std::u16string& strText, CLogFile& result) {
  bool bZero = false;
  std::u16string strBeyond;
  strText =
      ReadWideTextFrom(file, sizeof kByteOrderMark, bZero, result.m_bDataBeyondZero, &strBeyond, std::move(strText));
  // A journal begins with a zero unit, and holds data behind it.
  result.m_bJournal = bZero && ReadThroughJournal(file, strText, strBeyond);
  result.m_bDataBeyondZero = result.m_bDataBeyondZero || result.m_bJournal;
  const size_t nLibraryUnits = strText.size();
  if (bZero) result.m_nZeroUnit = nLibraryUnits;
  if (result.m_bDataBeyondZero) {
    strText += u'\0';
    strText += strBeyond;
  }
  return nLibraryUnits;
}

// Passes records on, and counts those passed, so that a reading of the same
// file after a failed attempt passes on only what it did not.
class CAttemptSink : public CRecordSink {
 public:
  explicit CAttemptSink(CRecordSink& sink) : m_sink(sink) {}
  void Take(const CRecordText& record) override {
    m_sink.Take(record);
    ++m_nPassed;
  }
  size_t Passed() const { return m_nPassed; }

 private:
  CRecordSink& m_sink;
  size_t m_nPassed = 0;
};

// How one attempt ended.
enum AttemptResult : int {
  attemptDone,     // the file was read (or found missing, or not a file)
  attemptAgain,    // worth another attempt: held past the wait, changed while read
  attemptDamaged,  // a damaged text, read without recovery, whose file kept its end
};

// One attempt. The file is open only for the read, so that no wait between
// attempts (or between the polls of follow) keeps it open. The text read
// stays in strText, for the recovery of a damaged one.
AttemptResult ReadOnce(const std::u16string& strPath, const std::string& strName, bool bLastAttempt, CAttemptSink& sink,
                       std::u16string& strText, CLogFile& result) {
  CFile file;
  if (!file.Open(strPath, CFile::modeReadAlongsideWriters)) {
    result.m_nOutcome = file.GetOpenError() == causeNotFound ? logFileMissing : logFileUnreadable;
    result.m_strError = DescribeOpenError(file.GetOpenError());
    return file.GetOpenError() == causeSharingViolation ? attemptAgain : attemptDone;
  }
  size_t nLibraryUnits = 0;
  try {
    const uint64_t nSizeBefore = file.GetLength();
    result.m_bWide = StartsWithByteOrderMark(file);
    if (result.m_bWide) {
      nLibraryUnits = ReadWideFile(file, strText, result);
    } else {
      strText = ReadDocumentFile(file);
      nLibraryUnits = strText.size();
    }
    result.m_nTextUnits = nLibraryUnits;
    result.m_nSize = file.GetLength();
    file.Close();
    if (nSizeBefore != result.m_nSize) return attemptAgain;
  } catch (const CFileException&) {
    result.m_nOutcome = logFileUnreadable;
    result.m_strError = "reading it failed";
    return attemptAgain;
  }
  result.m_nOutcome = logFileRead;
  result.m_text = ScanLogText(strText, nLibraryUnits, strName, bLastAttempt, sink, sink.Passed());
  if (result.m_text.m_nOutcome != logTextMalformed || bLastAttempt) return attemptDone;
  // A write in progress changes the end of the file; a damaged text whose
  // file still ends as it did is damage. Narrow text is never written in
  // place by the library. A text read through a journal is the old one
  // whatever the commit had reached, and its file ends in the journal.
  if (result.m_bWide && !result.m_bJournal && !TailUnchanged(strPath, result.m_nSize, strText)) return attemptAgain;
  return attemptDamaged;
}

// Whether the file was written in the last moments: a writer that stops
// half way (a copy, another program) may be about to go on.
bool WrittenJustNow(const std::u16string& strPath) {
  CFileStatus status;
  return CFile::GetStatus(strPath, status) && ReadClock() - status.m_mtime < 2;
}

}  // namespace

std::u16string ReadWideTextFrom(CFile& file, uint64_t nByteOffset, bool& bZero, bool& bDataBeyond,
                                std::u16string* pBeyond, std::u16string strRoom) {
  bZero = bDataBeyond = false;
  const uint64_t nLength = file.GetLength();
  const uint64_t nUnits = nLength > nByteOffset ? (nLength - nByteOffset) / 2 : 0;
  file.Seek(nByteOffset);
  std::u16string strText = std::move(strRoom);
  strText.clear();
  // Room for the whole text up front, where it is no larger than a day's
  // log can be; beyond that the string grows as it is read.
  strText.reserve(static_cast<size_t>(std::min<uint64_t>(nUnits, 64 * 1024 * 1024)));
  size_t nDone = 0;
  size_t nZero = 0;
  for (;;) {
    const size_t nWanted = static_cast<size_t>(std::min<uint64_t>(nUnits - nDone, kPieceUnits));
    if (nWanted == 0) break;
    strText.resize(nDone + nWanted);
    const size_t nRead = file.Read(strText.data() + nDone, nWanted * 2) / 2;
    nZero = FindZeroUnit(std::u16string_view(strText).substr(nDone, nRead)) + nDone;
    if (nZero < nDone + nRead) {
      bZero = true;
      break;
    }
    nDone += nRead;
    if (nRead < nWanted) break;
  }
  if (!bZero) {
    strText.resize(nDone);
    return strText;
  }
  // Behind the zero unit: what the piece read holds, then the rest of the
  // file a piece at a time; runs of zeros are kept only where data follows.
  std::u16string strPiece(strText, nZero + 1);
  strText.resize(nZero);
  uint64_t nPendingZeros = 0;
  auto Take = [&](std::u16string_view strUnits) {
    const size_t nLast = strUnits.find_last_not_of(u'\0');
    if (nLast == std::u16string_view::npos) {
      nPendingZeros += strUnits.size();
      return;
    }
    bDataBeyond = true;
    if (pBeyond != nullptr) {
      pBeyond->append(static_cast<size_t>(nPendingZeros), u'\0');
      pBeyond->append(strUnits.substr(0, nLast + 1));
    }
    nPendingZeros = strUnits.size() - nLast - 1;
  };
  Take(strPiece);
  if (!bDataBeyond || pBeyond != nullptr) {
    strPiece.resize(kPieceUnits / 8);
    for (size_t nRead; (nRead = file.Read(strPiece.data(), strPiece.size() * 2) / 2) > 0;) {
      Take(std::u16string_view(strPiece).substr(0, nRead));
      if (bDataBeyond && pBeyond == nullptr) break;
    }
  }
  return strText;
}

namespace {

// The text of the file this thread read last, kept for its room: the next
// file's text is read into it, where fresh memory would cost a page fault
// every few kilobytes (a fifth of the time of reading a month of days).
thread_local std::u16string t_strRoom;

CLogFile ReadLogFileInto(const std::string& strPath, CRecordSink& sink, int nAttempts, bool bKeepText) {
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
  CAttemptSink attemptSink(sink);
  std::u16string strText = std::move(t_strRoom);
  for (int i = 1; i <= nAttempts; ++i) {
    result = CLogFile();
    // Only the last attempt looks for the records of a damaged text whose
    // end keeps changing: an earlier one may have met a write in progress.
    AttemptResult nResult = ReadOnce(strWidePath, strName, i == nAttempts, attemptSink, strText, result);
    // A damaged text that was written just now is watched for a moment, at
    // the cost of a look at its end each time, not of a reading.
    while (nResult == attemptDamaged && i < nAttempts && WrittenJustNow(strWidePath)) {
      std::this_thread::sleep_for(kRetryDelay);
      ++i;
      if (!TailUnchanged(strWidePath, result.m_nSize, strText)) nResult = attemptAgain;
    }
    if (nResult == attemptDamaged) {
      RecoverLogText(strText, strName, result.m_text, attemptSink, attemptSink.Passed());
      nResult = attemptDone;
    }
    if (nResult == attemptDone) break;
    if (i < nAttempts) std::this_thread::sleep_for(kRetryDelay);
  }
  if (bKeepText) {
    result.m_strText = std::move(strText);
  } else {
    t_strRoom = std::move(strText);
  }
  return result;
}

}  // namespace

CLogFile ReadLogFile(const std::string& strPath, CRecordSink& sink, int nAttempts, bool bKeepText) {
  return ReadLogFileInto(strPath, sink, nAttempts, bKeepText);
}

CLogFile ReadLogFile(const std::string& strPath, int nAttempts, bool bKeepText) {
  std::vector<CLogRecord> aRecords;
  CRecordCollector collector(aRecords);
  CLogFile file = ReadLogFileInto(strPath, collector, nAttempts, bKeepText);
  file.m_text.m_aRecords = std::move(aRecords);
  return file;
}

bool LibraryAddsRecords(const CLogFile& file) {
  return LibraryAddsRecords(file.m_text, file.m_nTextUnits, file.m_bDataBeyondZero);
}
