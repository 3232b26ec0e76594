#include "format/commit_journal.h"

#include <algorithm>
#include <cstring>

#include "format/log_layout.h"

namespace {

constexpr char kMagic[8] = {'V', 'x', 'U', 'n', 'd', 'o', '1', '\0'};
constexpr size_t kZeroUnitBytes = 2;
constexpr size_t kTrailerBytes = 8 + 8 + 8 + sizeof kMagic;
// A commit overwrites a record's worth of bytes, or the text that a shrinking
// update rewrites; anything claiming more is no journal of ours.
constexpr uint64_t kMostSavedBytes = uint64_t{1} << 31;
constexpr uint64_t kPageBytes = 4096;
// A growing commit runs from the root's end tag (or a move note) to the old
// text's end; one that crosses a page spans two of them at most.
constexpr uint64_t kMostCommitBytes = 2 * kPageBytes;

void AppendNumber(std::string& strOut, uint64_t n) {
  for (int i = 0; i < 8; ++i) strOut += static_cast<char>((n >> (8 * i)) & 0xFF);
}

uint64_t ReadNumber(const char* p) {
  uint64_t n = 0;
  for (int i = 7; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(p[i]);
  return n;
}

uint64_t Check(uint64_t nJournalAt, uint64_t nSavedAt, std::string_view strSaved) {
  uint64_t nHash = 0xcbf29ce484222325ULL;
  auto Mix = [&nHash](std::string_view strBytes) {
    for (char c : strBytes) {
      nHash ^= static_cast<unsigned char>(c);
      nHash *= 0x100000001b3ULL;
    }
  };
  std::string strNumbers;
  AppendNumber(strNumbers, nJournalAt);
  AppendNumber(strNumbers, nSavedAt);
  AppendNumber(strNumbers, strSaved.size());
  Mix(strNumbers);
  Mix(strSaved);
  return nHash;
}

// The code unit at byte nAt of bytes that start at byte nFrom of the file.
uint16_t UnitAt(std::string_view strBytes, uint64_t nFrom, uint64_t nAt) {
  const size_t i = static_cast<size_t>(nAt - nFrom);
  const unsigned nLow = static_cast<unsigned char>(strBytes[i]), nHigh = static_cast<unsigned char>(strBytes[i + 1]);
  return static_cast<uint16_t>(nLow | nHigh << 8);
}

// Whether bytes that start at byte nFrom of the file hold the UTF-16 text
// strUnits at an even offset x with nFirst <= x + its length <= nLast.
bool HoldsUnitsEndingIn(std::string_view strBytes, uint64_t nFrom, std::u16string_view strUnits, uint64_t nFirst,
                        uint64_t nLast) {
  const uint64_t nTagBytes = 2 * uint64_t{strUnits.size()};
  for (uint64_t x = (nFrom + 1) & ~uint64_t{1}; x + nTagBytes <= nFrom + strBytes.size(); x += 2) {
    if (x + nTagBytes < nFirst || x + nTagBytes > nLast) continue;
    size_t i = 0;
    while (i < strUnits.size() && UnitAt(strBytes, nFrom, x + 2 * i) == strUnits[i]) ++i;
    if (i == strUnits.size()) return true;
  }
  return false;
}

// Offset of the first zero unit (at an even offset) of bytes that start at
// byte nFrom of the file, or nFrom + their size.
uint64_t FindZeroUnit(std::string_view strBytes, uint64_t nFrom) {
  for (uint64_t x = (nFrom + 1) & ~uint64_t{1}; x + 2 <= nFrom + strBytes.size(); x += 2) {
    if (UnitAt(strBytes, nFrom, x) == 0) return x;
  }
  return nFrom + strBytes.size();
}

std::string ReadRange(CFile& file, uint64_t nFrom, uint64_t nTo) {
  std::string strBytes(static_cast<size_t>(nTo - nFrom), '\0');
  file.Seek(nFrom);
  strBytes.resize(file.Read(strBytes.data(), strBytes.size()));
  return strBytes;
}

// A growing update's journal (commit_journal.h): the file's text stops at
// the guarded zero unit, and no record of it ends after the commit's start.
bool FitsGrowingUpdate(CFile& file, const CCommitJournal& journal, uint64_t nEnd) {
  if (journal.m_strSaved.size() > kMostCommitBytes) return false;
  const std::u16string strRecordEnd = std::u16string(u"</") + kRecordElement + u">";
  const uint64_t nFrom = std::max<uint64_t>(
      kZeroUnitBytes, journal.m_nSavedAt - std::min<uint64_t>(journal.m_nSavedAt, 2 * strRecordEnd.size()));
  const std::string strNow = ReadRange(file, nFrom, nEnd);
  if (strNow.size() != nEnd - nFrom || FindZeroUnit(strNow, nFrom) != nEnd - kZeroUnitBytes) return false;
  return !HoldsUnitsEndingIn(strNow, nFrom, strRecordEnd, journal.m_nSavedAt + 1, nEnd - kZeroUnitBytes);
}

// A shrinking update's journal: its old text holds the root's end tag only
// where the text ends, with CR LF, at the journal.
bool FitsShrinkingUpdate(const CCommitJournal& journal) {
  const std::u16string strRootEnd = std::u16string(u"</") + kLogRoot + u">";
  const uint64_t nTextEndTag = journal.m_nJournalAt - 2 * kZeroUnitBytes;  // CR LF follow it
  return !HoldsUnitsEndingIn(journal.m_strSaved, journal.m_nSavedAt, strRootEnd, 0, nTextEndTag - 1) &&
         !HoldsUnitsEndingIn(journal.m_strSaved, journal.m_nSavedAt, strRootEnd, nTextEndTag + 1, UINT64_MAX);
}

// Only pending files and the settings file are ever rewritten shorter: a
// day's file only grows.
bool MayShrink(const std::u16string& strPath) {
  const size_t nSeparator = strPath.find_last_of(u"/\\");
  const std::u16string_view strName =
      std::u16string_view(strPath).substr(nSeparator == std::u16string::npos ? 0 : nSeparator + 1);
  std::u16string strDate;
  return strName == kSettingsFileName || ParsePendingLogName(strName, strDate);
}

// Whether the journal fits the file as the writer leaves it (commit_journal.h).
bool FitsFile(CFile& file, const CCommitJournal& journal) {
  const std::string_view strSaved = journal.m_strSaved;
  const uint64_t nStart = journal.m_nSavedAt, nEnd = nStart + strSaved.size();
  if (nStart < kZeroUnitBytes || strSaved.size() < kZeroUnitBytes || nEnd % 2 != 0 || journal.m_nJournalAt % 2 != 0) {
    return false;
  }
  const bool bGrows = UnitAt(strSaved, nStart, nEnd - kZeroUnitBytes) == 0;
  if (FindZeroUnit(strSaved.substr(0, strSaved.size() - kZeroUnitBytes), nStart) < nEnd - kZeroUnitBytes) return false;
  // The second half of the commit's last piece, which no cut write reaches.
  const uint64_t nLastPiece = std::max(nStart, (nEnd - 1) / kPageBytes * kPageBytes);
  const uint64_t nUntouched = nLastPiece + (nEnd - nLastPiece) / 2;
  if (ReadRange(file, nUntouched, nEnd) != strSaved.substr(static_cast<size_t>(nUntouched - nStart))) return false;
  return bGrows ? FitsGrowingUpdate(file, journal, nEnd) : MayShrink(file.GetPath()) && FitsShrinkingUpdate(journal);
}

}  // namespace

std::string BuildCommitJournal(uint64_t nJournalAt, uint64_t nSavedAt, std::string_view strSaved) {
  std::string strJournal(kZeroUnitBytes, '\0');
  strJournal += strSaved;
  AppendNumber(strJournal, nSavedAt);
  AppendNumber(strJournal, strSaved.size());
  AppendNumber(strJournal, Check(nJournalAt, nSavedAt, strSaved));
  strJournal.append(kMagic, sizeof kMagic);
  return strJournal;
}

bool FindCommitJournal(CFile& file, CCommitJournal& journal) {
  const uint64_t nLength = file.GetLength();
  if (nLength < kZeroUnitBytes + kTrailerBytes) return false;
  char trailer[kTrailerBytes];
  file.Seek(nLength - kTrailerBytes);
  if (file.Read(trailer, sizeof trailer) != sizeof trailer) return false;
  if (std::memcmp(trailer + 24, kMagic, sizeof kMagic) != 0) return false;
  const uint64_t nSavedAt = ReadNumber(trailer), nCount = ReadNumber(trailer + 8);
  if (nCount > kMostSavedBytes || nCount > nLength - kZeroUnitBytes - kTrailerBytes) return false;
  const uint64_t nJournalAt = nLength - kTrailerBytes - nCount - kZeroUnitBytes;
  if (nSavedAt > nJournalAt || nCount > nJournalAt - nSavedAt) return false;
  journal.m_nJournalAt = nJournalAt;
  journal.m_nSavedAt = nSavedAt;
  journal.m_strSaved.assign(static_cast<size_t>(nCount), '\0');
  file.Seek(nJournalAt + kZeroUnitBytes);
  if (file.Read(journal.m_strSaved.data(), journal.m_strSaved.size()) != journal.m_strSaved.size()) return false;
  if (Check(nJournalAt, nSavedAt, journal.m_strSaved) != ReadNumber(trailer + 16)) return false;
  return FitsFile(file, journal);
}

bool RollBackCommit(CFile& file) {
  CCommitJournal journal;
  if (!FindCommitJournal(file, journal)) return false;
  file.Seek(journal.m_nSavedAt);
  file.Write(journal.m_strSaved.data(), journal.m_strSaved.size());
  file.SetLength(journal.m_nJournalAt);
  return true;
}
