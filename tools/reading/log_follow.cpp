#include "reading/log_follow.h"

#include <algorithm>
#include <memory>
#include <unordered_map>

#include "base/paths.h"
#include "base/text_encoding.h"
#include "format/document_file.h"
#include "format/log_layout.h"
#include "platform/platform_files.h"
#include "reading/day_files.h"
#include "reading/log_file.h"
#include "reading/record_export.h"
#include "reading/record_filter.h"
#include "reading/record_recovery.h"

namespace {

// Polls whose reads failed before the trouble is reported; a write in
// progress clears well within this.
constexpr int kFailuresBeforeWarning = 5;
// Bytes before the place that are compared on every poll.
constexpr size_t kBeforeBytes = 4096;

bool IsLaterDay(const CDay& a, const CDay& b) { return FormatDayStamp(a) > FormatDayStamp(b); }

// FNV-1a over bytes, so that it goes on across reads of any length.
constexpr uint64_t kHashStart = 14695981039346656037ull;
uint64_t HashBytes(uint64_t nHash, const char* p, size_t nCount) {
  for (size_t i = 0; i < nCount; ++i) {
    nHash ^= static_cast<unsigned char>(p[i]);
    nHash *= 1099511628211ull;
  }
  return nHash;
}

// The bytes of UTF-16LE units.
std::string UnitBytes(std::u16string_view strUnits) {
  std::string strBytes(strUnits.size() * 2, '\0');
  for (size_t i = 0; i < strUnits.size(); ++i) {
    strBytes[2 * i] = static_cast<char>(strUnits[i] & 0xFF);
    strBytes[2 * i + 1] = static_cast<char>(strUnits[i] >> 8);
  }
  return strBytes;
}

uint64_t HashRecord(const CRecordText& record) {
  return HashBytes(kHashStart, reinterpret_cast<const char*>(record.m_markup.data()), record.m_markup.size() * 2);
}

// Passes on the records of a reading, without their XML (follow and forward
// print and send fields), with their indexes: each one that is not one of
// the records passed on before (told by a hash of its text, each passed-on
// record standing for one), and none before nKeepFrom.
class CFollowSink : public CRecordSink {
 public:
  CFollowSink(std::vector<CLogRecord>& aRecords, std::vector<uint64_t>& aIndexes, const std::vector<uint64_t>& aPassed,
              uint64_t nFirstIndex, uint64_t nKeepFrom)
      : m_aRecords(aRecords),
        m_aIndexes(aIndexes),
        m_nIndex(nFirstIndex),
        m_nKeepFrom(nKeepFrom),
        m_nFirstKept(aRecords.size()) {
    for (uint64_t nHash : aPassed) ++m_passed[nHash];
  }
  // Keeps only the last nLast records that pass the filter (nLast < 0: all
  // of them): the backlog that follow shows, without holding the others.
  void KeepLast(const CRecordFilter& filter, long nLast) {
    m_pMatcher = std::make_unique<CRecordMatcher>(filter);
    m_nLast = nLast;
  }
  // Drops what KeepLast does not keep.
  void Trim() {
    if (m_nLast < 0 || m_aRecords.size() - m_nFirstKept <= static_cast<size_t>(m_nLast)) return;
    const auto nDrop = static_cast<std::ptrdiff_t>(m_aRecords.size() - m_nFirstKept - static_cast<size_t>(m_nLast));
    m_aRecords.erase(m_aRecords.begin() + static_cast<std::ptrdiff_t>(m_nFirstKept),
                     m_aRecords.begin() + static_cast<std::ptrdiff_t>(m_nFirstKept) + nDrop);
    m_aIndexes.erase(m_aIndexes.begin() + static_cast<std::ptrdiff_t>(m_nFirstKept),
                     m_aIndexes.begin() + static_cast<std::ptrdiff_t>(m_nFirstKept) + nDrop);
  }
  void Take(const CRecordText& record) override {
    const uint64_t nHash = HashRecord(record);
    auto it = m_passed.find(nHash);
    if (it != m_passed.end() && it->second > 0) {
      --it->second;
    } else if (m_nIndex >= m_nKeepFrom) {
      CLogRecord logRecord = MakeLogRecord(record, false);
      if (m_pMatcher == nullptr || m_pMatcher->Matches(logRecord)) {
        m_aRecords.push_back(std::move(logRecord));
        m_aIndexes.push_back(m_nIndex);
        if (m_nLast >= 0 && m_aRecords.size() - m_nFirstKept >= 2 * static_cast<size_t>(m_nLast) + 64) Trim();
      }
    }
    m_aHashes.push_back(nHash);
    ++m_nIndex;
  }
  std::vector<uint64_t>& Hashes() { return m_aHashes; }

 private:
  std::vector<CLogRecord>& m_aRecords;
  std::vector<uint64_t>& m_aIndexes;
  std::unordered_map<uint64_t, uint32_t> m_passed;
  uint64_t m_nIndex;
  uint64_t m_nKeepFrom;
  size_t m_nFirstKept;  // records kept before this reading
  std::unique_ptr<CRecordMatcher> m_pMatcher;
  long m_nLast = -1;
  std::vector<uint64_t> m_aHashes;
};

}  // namespace

std::string CLogFollower::WatchedPath() const { return JoinPath(m_strFolder, DayFileName(m_day)); }

void CLogFollower::Forget() {
  m_nPassed = 0;
  m_bSeen = false;
  m_nFailures = 0;
  m_bDamageReported = false;
  m_bHasPlace = false;
  m_aPassed.clear();
}

std::vector<CLogRecord> CLogFollower::Start(const CDay& today, uint64_t nFirst) {
  m_day = today;
  Forget();
  m_aIndexes.clear();
  std::vector<CLogRecord> aRecords;
  ReadChanges(aRecords, nFirst);
  return aRecords;
}

std::vector<CLogRecord> CLogFollower::StartWithBacklog(const CDay& today, const CRecordFilter& filter, long nLast) {
  m_pBacklogFilter = &filter;
  m_nBacklog = nLast;
  std::vector<CLogRecord> aRecords = Start(today);
  m_pBacklogFilter = nullptr;
  return aRecords;
}

std::vector<CLogRecord> CLogFollower::Poll(const CDay& today) {
  std::vector<CLogRecord> aNew;
  m_aIndexes.clear();
  ReadChanges(aNew);
  if (IsLaterDay(today, m_day)) {
    m_day = today;
    Forget();
    ReadChanges(aNew);
  }
  return aNew;
}

std::string CLogFollower::TakeWarning() { return std::move(m_strWarning); }

void CLogFollower::ReadChanges(std::vector<CLogRecord>& aNew, uint64_t nFirst) {
  std::u16string strPath;
  FromUtf8(WatchedPath(), strPath);
  CFileStatus status;
  if (!CFile::GetStatus(strPath, status)) return;  // not written yet today
  if (m_bSeen && status.m_size == m_nSeenSize && status.m_mtime == m_nSeenWrite) return;
  if (m_bHasPlace) {
    const AddedResult nAdded = ReadAdded(aNew);
    if (nAdded == addedRead) {
      m_nFailures = 0;
      m_bWarned = false;
      m_nSeenSize = status.m_size;
      m_nSeenWrite = status.m_mtime;
      return;
    }
    // Read again whole, records passed on before not passed on again.
    ReadWhole(aNew, 0);
    return;
  }
  ReadWhole(aNew, nFirst);
}

void CLogFollower::ReadWhole(std::vector<CLogRecord>& aNew, uint64_t nKeepFrom) {
  const std::string strPath = WatchedPath();
  CFileIdentity identity;
  const bool bIdentity = ReadFileIdentity(strPath, identity);
  const size_t nKept = aNew.size();
  CFollowSink sink(aNew, m_aIndexes, m_aPassed, 0, nKeepFrom);
  if (m_pBacklogFilter != nullptr) sink.KeepLast(*m_pBacklogFilter, m_nBacklog);
  CLogFile file = ReadLogFile(strPath, sink, 2, true);
  sink.Trim();
  // A damaged file that no write is about to mend gives its complete
  // records, and the library goes on appending behind the damage.
  const bool bDamaged = file.m_nOutcome == logFileRead && file.m_text.m_nOutcome == logTextMalformed;
  if (file.m_nOutcome != logFileRead || (bDamaged && file.m_text.m_nRecords == 0)) {
    aNew.resize(nKept);
    m_aIndexes.resize(nKept);
    if (++m_nFailures >= kFailuresBeforeWarning && !m_bWarned) {
      m_bWarned = true;
      m_strWarning = DayFileName(m_day) + " cannot be read: " +
                     (file.m_nOutcome != logFileRead ? file.m_strError : DescribeDamage(file.m_text));
    }
    return;
  }
  if (bDamaged && !m_bDamageReported) {
    m_bDamageReported = true;
    m_strWarning = DayFileName(m_day) + ": " + DescribeDamage(file.m_text) + "; following its complete records";
  }
  m_nFailures = 0;
  m_bWarned = false;
  const uint64_t nRecords = file.m_text.m_nRecords;
  if (nRecords < m_aPassed.size() && bDamaged) {
    // Fewer records than were passed on, in a damaged read: one that may
    // have overlapped a write is not trusted with that.
    aNew.resize(nKept);
    m_aIndexes.resize(nKept);
    return;
  }
  m_aPassed = std::move(sink.Hashes());
  m_bSeen = true;
  m_nSeenSize = file.m_nSize;
  m_nSeenWrite = 0;
  CFileStatus status;
  std::u16string strWidePath;
  if (FromUtf8(strPath, strWidePath) && CFile::GetStatus(strWidePath, status) && status.m_size == file.m_nSize) {
    m_nSeenWrite = status.m_mtime;
  }
  m_nPassed = nRecords;
  // The place, where the library's reading sees the last record end.
  const size_t nEnd = file.m_text.m_nRecordsEnd;
  m_bHasPlace = file.m_bWide && bIdentity && nRecords > 0 && nEnd != std::u16string::npos && nEnd <= file.m_nTextUnits;
  if (!m_bHasPlace) return;
  const std::string strBytes = "\xFF\xFE" + UnitBytes(std::u16string_view(file.m_strText).substr(0, nEnd));
  m_identity = identity;
  m_nPlace = strBytes.size();
  m_nHash = HashBytes(kHashStart, strBytes.data(), strBytes.size());
  m_strBefore = strBytes.substr(strBytes.size() - std::min(strBytes.size(), kBeforeBytes));
}

CLogFollower::AddedResult CLogFollower::ReadAdded(std::vector<CLogRecord>& aNew) {
  const std::string strPath = WatchedPath();
  CFileIdentity identity;
  std::u16string strWidePath;
  if (!ReadFileIdentity(strPath, identity) || !FromUtf8(strPath, strWidePath)) return addedUnsure;
  CFile file;
  if (!file.Open(strWidePath, CFile::modeReadAlongsideWriters)) return addedUnsure;
  std::u16string strAdded;
  try {
    if (file.GetLength() < m_nPlace) return addedChanged;  // it shrank
    if (identity != m_identity) {
      // Another file under the name: its bytes before the place are
      // looked at, all of them.
      std::string strPiece(256 * 1024, '\0');
      uint64_t nHash = kHashStart;
      for (uint64_t nDone = 0; nDone < m_nPlace;) {
        const size_t nWanted = static_cast<size_t>(std::min<uint64_t>(strPiece.size(), m_nPlace - nDone));
        const size_t nRead = file.Read(strPiece.data(), nWanted);
        if (nRead != nWanted) return addedChanged;
        nHash = HashBytes(nHash, strPiece.data(), nRead);
        nDone += nRead;
      }
      if (nHash != m_nHash) return addedChanged;
    } else {
      std::string strBefore(m_strBefore.size(), '\0');
      file.Seek(m_nPlace - strBefore.size());
      if (file.Read(strBefore.data(), strBefore.size()) != strBefore.size() || strBefore != m_strBefore) {
        return addedChanged;
      }
    }
    bool bZero = false, bDataBeyond = false;
    strAdded = ReadWideTextFrom(file, m_nPlace, bZero, bDataBeyond);
    file.Close();
    if (bDataBeyond) return addedUnsure;  // the rest of an interrupted update: the whole reading knows it
  } catch (const CFileException&) {
    return addedUnsure;
  }
  // The engine reads no further than the root's end tag.
  const size_t nRootEnd = strAdded.find(u"</" + std::u16string(kLogRoot) + u">");
  if (nRootEnd != std::u16string::npos) strAdded.resize(nRootEnd);
  // The records added, read as the records of a damaged file are: complete
  // ones only, so that one still being written waits for the next poll.
  const std::string strName = DayFileName(m_day);
  CLogText text;
  const std::vector<uint64_t> aNone;
  CFollowSink sink(aNew, m_aIndexes, aNone, m_nPassed, 0);
  RecoverRecords(strAdded, strName, text, sink);
  m_aPassed.insert(m_aPassed.end(), sink.Hashes().begin(), sink.Hashes().end());
  m_identity = identity;
  if (text.m_nRecords == 0) return addedRead;
  m_nPassed += text.m_nRecords;
  const std::string strBytes = UnitBytes(std::u16string_view(strAdded).substr(0, text.m_nRecordsEnd));
  m_nPlace += strBytes.size();
  m_nHash = HashBytes(m_nHash, strBytes.data(), strBytes.size());
  m_strBefore += strBytes;
  if (m_strBefore.size() > kBeforeBytes) m_strBefore.erase(0, m_strBefore.size() - kBeforeBytes);
  return addedRead;
}
