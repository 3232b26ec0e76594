#include "forward_test_support.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <thread>

#include "base/text_encoding.h"
#include "platform/platform_files.h"
#include "service/library_state.h"
#include "test_collector.h"
#include "tool_process.h"
#include "vardlix.h"

const CTypeCase kTypes[] = {
    {"Error", 3, true}, {"错误", 3, false},     {"Warning", 4, true},
    {"警告", 4, false}, {"Info", 6, true},      {"信息", 6, false},
    {"Debug", 7, true}, {"调试", 7, false},     {"ERROR", 3, true},
    {"Audit", 5, true}, {"审计事件", 5, false}, {"A-type-name-longer-than-thirty-two-chars", 5, false},
};
const size_t kTypeCount = sizeof kTypes / sizeof kTypes[0];

std::vector<std::string> RecordFields(size_t n) {
  const std::string strNumber = std::to_string(n);
  static const char* const kDescriptions[] = {
      "已打开报表，共 12 页",
      "bell\x07 escape\x1b[31m tab\t end",
      "Connection refused\r\nretried 3 times\r\n",
      "",
      "<tag> & \"quotes\" [brackets] back\\slash",
  };
  return {kTypes[n % kTypeCount].szType, n % 3 == 0 ? "主窗口" : "Net]work", "op-" + strNumber,
          "路径=C:\\报表\\" + strNumber + ".xlsx \"q\" a<b&c>d ]",
          kDescriptions[n % (sizeof kDescriptions / sizeof kDescriptions[0])]};
}

std::vector<std::string> DayFileFields(size_t n, const std::string& strTime) {
  std::vector<std::string> aFields = RecordFields(n);
  for (auto& strField : aFields) {
    std::string strEscaped;
    for (char c : strField)
      strEscaped += c == '<' ? "&lt;" : c == '&' ? "&amp;" : c == '>' ? "&gt;" : std::string(1, c);
    strField = strEscaped;
  }
  aFields.insert(aFields.begin(), strTime);
  return aFields;
}

long RecordNumber(const std::string& strOperation) {
  return strOperation.rfind("op-", 0) == 0 ? std::stol(strOperation.substr(3)) : -1;
}

long RecordNumberOfMessage(const std::string& strMessage) {
  const std::string strKey = "operation=\"op-";
  const size_t nAt = strMessage.find(strKey);
  if (nAt == std::string::npos) return -1;
  const size_t nStart = nAt + strKey.size();
  const size_t nEnd = strMessage.find_first_not_of("0123456789", nStart);
  if (nEnd == nStart || nEnd == std::string::npos) return -1;
  return std::stol(strMessage.substr(nStart, nEnd - nStart));
}

void WriteRecord(const std::vector<std::string>& aFields) {
  std::u16string aText[5];
  for (size_t i = 0; i < 5; ++i) FromUtf8(aFields[i], aText[i]);
  CVardlixString aArgs[5];
  for (size_t i = 0; i < 5; ++i) aArgs[i].m_pszData = aText[i].c_str();
  WriteVardlix(aArgs[0], aArgs[1], aArgs[2], aArgs[3], aArgs[4]);
}

void WriteBacklog(const std::string& strFolder, size_t nCount, size_t nFirst, const std::string& strDay,
                  size_t nPadding) {
  const std::string strStamp =
      strDay.substr(0, 4) + "." + strDay.substr(4, 2) + "." + strDay.substr(6, 2) + " 10:00:00";
  std::vector<std::vector<std::string>> aRecords;
  for (size_t n = nFirst; n < nFirst + nCount; ++n) {
    aRecords.push_back({strStamp, "Info", "主窗口", "op-" + std::to_string(n), "路径=C:\\报表\\年度.xlsx k=v",
                        "已打开报表，共 12 页 backlog record of about a hundred characters, " + std::to_string(n) +
                            std::string(nPadding, '.')});
  }
  WriteUtf16File(strFolder + "/Vardlix" + strDay + ".xml", MakeLogText(aRecords));
}

size_t CArrivals::MissingOf(size_t nCount) const {
  size_t nMissing = 0;
  for (size_t n = 0; n < nCount; ++n) nMissing += m_aCounts.count(static_cast<long>(n)) == 0 ? 1 : 0;
  return nMissing;
}

CArrivals CountArrivals(const std::vector<long>& aNumbers) {
  CArrivals arrivals;
  for (long n : aNumbers) {
    ++arrivals.m_aCounts[n];
    ++arrivals.m_nMessages;
  }
  return arrivals;
}

int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

CForwardFolder::CForwardFolder() : m_strSavedFolder(LibraryState().m_strLogFolder) {
  std::filesystem::create_directory(LogFolder());
  FromUtf8(LogFolder(), LibraryState().m_strLogFolder);
}

CForwardFolder::~CForwardFolder() {
  LibraryState().m_strLogFolder = m_strSavedFolder;
  ResetClockForTesting();
  setenv("TZ", "UTC", 1);  // as CTest runs every suite
  tzset();
}

std::string CForwardFolder::LogFolder() const { return m_folder.Path("hostLog"); }
std::string CForwardFolder::StatePath() const { return m_folder.Path("forward.json"); }
std::string CForwardFolder::Path(const std::string& strName) const { return m_folder.Path(strName); }

// A TLS collector of the tests has a certificate of the tests' own CA.
std::vector<std::string> CForwardFolder::ForwardArgs(const std::string& strTarget) const {
  std::vector<std::string> aArgs = {"forward", "-d",        LogFolder(),  "--to", strTarget,
                                    "--state", StatePath(), "--interval", "20"};
  if (strTarget.rfind("relps://", 0) == 0 || strTarget.rfind("tls://", 0) == 0) {
    aArgs.insert(aArgs.end(), {"--ca", TestCertificates().Pem("ca")});
  }
  return aArgs;
}

size_t WaitUntilSettled(const std::function<size_t()>& count, size_t nCount, std::chrono::seconds deadline,
                        std::chrono::seconds quiet) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  size_t nFound = count();
  auto movedAt = std::chrono::steady_clock::now();
  while (nFound < nCount && std::chrono::steady_clock::now() < end &&
         std::chrono::steady_clock::now() - movedAt < quiet) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const size_t nNow = count();
    if (nNow != nFound) movedAt = std::chrono::steady_clock::now();
    nFound = nNow;
  }
  return nFound;
}
