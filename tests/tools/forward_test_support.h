// What the tests of `vardlix forward` share: the records they write, how a
// message names its record, and the count of what arrived.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tool_process.h"

// Types and the severity each must get: the built-in pairs (Latin letters in
// any case), and notice for anything else. MSGID carries the type only when
// it is printable ASCII of at most 32 characters.
struct CTypeCase {
  const char* szType;
  int nSeverity;
  bool bIsMessageId;
};
extern const CTypeCase kTypes[];
extern const size_t kTypeCount;

// The five texts of record n: its number in the operation, and in the other
// fields what the message format must carry unchanged (Chinese, control
// characters, line breaks, the three characters that structured data
// escapes, markup, an empty text).
std::vector<std::string> RecordFields(size_t n);

// Record n's six fields as a day file holds them (MakeLogText): a stamp,
// then RecordFields(n) with markup characters escaped, as the library
// writes them.
std::vector<std::string> DayFileFields(size_t n, const std::string& strTime = "2011.04.08 10:00:00");

// The number in an operation "op-N", or -1.
long RecordNumber(const std::string& strOperation);
// The number of the record a raw message carries (its operation="op-N"), or -1.
long RecordNumberOfMessage(const std::string& strMessage);

// Appends one record through the library's export, as a host does.
void WriteRecord(const std::vector<std::string>& aFields);

// A day file of an earlier day (2011-04-08 unless strDay says another
// yyyymmdd) with nCount records numbered from nFirst: an Info record
// "op-N" each, about a hundred characters in ASCII and Chinese.
void WriteBacklog(const std::string& strFolder, size_t nCount, size_t nFirst = 0,
                  const std::string& strDay = "20110408", size_t nPadding = 0);

// How often each record number arrived.
struct CArrivals {
  std::map<long, size_t> m_aCounts;
  size_t m_nMessages = 0;

  size_t Distinct() const { return m_aCounts.size(); }
  size_t Duplicates() const { return m_nMessages - m_aCounts.size(); }
  // Of the records 0 to nCount - 1, how many never arrived.
  size_t MissingOf(size_t nCount) const;
};
CArrivals CountArrivals(const std::vector<long>& aNumbers);

int64_t SteadyMilliseconds();

// A scratch folder with the log folder of a host "host" in it ("hostLog"),
// which the library of this process writes to while the object lives, and
// the forward command line for it.
class CForwardFolder {
 public:
  CForwardFolder();
  ~CForwardFolder();
  CForwardFolder(const CForwardFolder&) = delete;
  CForwardFolder& operator=(const CForwardFolder&) = delete;

  std::string LogFolder() const;
  std::string StatePath() const;  // the checkpoint, beside the log folder
  std::string Path(const std::string& strName) const;
  // forward -d LOGFOLDER --to TARGET --state STATE --interval 20
  std::vector<std::string> ForwardArgs(const std::string& strTarget) const;

 private:
  CScratchFolder m_folder;
  std::u16string m_strSavedFolder;
};

// Waits until count() reaches nCount, or has not moved for quiet, or the
// deadline passes; returns the last count.
size_t WaitUntilSettled(const std::function<size_t()>& count, size_t nCount, std::chrono::seconds deadline,
                        std::chrono::seconds quiet);
