#include "format/commit_journal.h"

#include <cstring>

namespace {

constexpr char kMagic[8] = {'V', 'x', 'U', 'n', 'd', 'o', '1', '\0'};
constexpr size_t kZeroUnitBytes = 2;
constexpr size_t kTrailerBytes = 8 + 8 + 8 + sizeof kMagic;
// A commit overwrites a record's worth of bytes, or the text that a shrinking
// update rewrites; anything claiming more is no journal of ours.
constexpr uint64_t kMostSavedBytes = uint64_t{1} << 31;

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
  return Check(nJournalAt, nSavedAt, journal.m_strSaved) == ReadNumber(trailer + 16);
}

bool RollBackCommit(CFile& file) {
  CCommitJournal journal;
  if (!FindCommitJournal(file, journal)) return false;
  file.Seek(journal.m_nSavedAt);
  file.Write(journal.m_strSaved.data(), journal.m_strSaved.size());
  file.SetLength(journal.m_nJournalAt);
  return true;
}
