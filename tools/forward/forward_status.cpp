#include "forward/forward_status.h"

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "system/state_file.h"

namespace {

// "2026-12-08T13:30:01Z", or null for -1.
nlohmann::json UtcTime(int64_t nSeconds) {
  if (nSeconds < 0) return nullptr;
  const int64_t nDays = nSeconds / 86400, nOfDay = nSeconds % 86400;
  // Civil date of a day count (days since 1970-01-01), as in the proleptic
  // Gregorian calendar, without the C library's thread-unsafe gmtime.
  const int64_t z = nDays + 719468, era = z / 146097, doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  const int64_t nDay = doy - (153 * mp + 2) / 5 + 1, nMonth = mp < 10 ? mp + 3 : mp - 9;
  const int64_t nYear = yoe + era * 400 + (nMonth <= 2 ? 1 : 0);
  char szText[128];
  std::snprintf(szText, sizeof szText, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(nYear),
                static_cast<long long>(nMonth), static_cast<long long>(nDay), static_cast<long long>(nOfDay / 3600),
                static_cast<long long>(nOfDay / 60 % 60), static_cast<long long>(nOfDay % 60));
  return szText;
}

nlohmann::json TextOrNull(const std::string& strText) {
  return strText.empty() ? nlohmann::json(nullptr) : nlohmann::json(strText);
}

}  // namespace

std::string StatusPathOf(const std::string& strStatePath) { return strStatePath + ".status"; }

int64_t WallSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

bool WriteForwardStatus(const std::string& strPath, const CForwardStatus& status, std::string& strError) {
  nlohmann::json line;
  line["folder"] = status.m_strFolder;
  line["to"] = status.m_strTarget;
  line["updated"] = UtcTime(WallSeconds());
  line["running"] = status.m_bRunning;
  line["connected_since"] = UtcTime(status.m_nConnectedSince);
  line["last_sent"] = TextOrNull(status.m_strLastSent);
  line["last_sent_time"] = TextOrNull(status.m_strLastSentTime);
  line["checkpoint"] = {{"file", status.m_checkpoint.m_strFile}, {"records", status.m_checkpoint.m_nRecords}};
  line["waiting"] = status.m_nWaiting;
  line["done"] = status.m_nDone;
  line["last_error"] = TextOrNull(status.m_strLastError);
  line["last_error_at"] = UtcTime(status.m_nLastErrorAt);
  return ReplaceStateFile(strPath, line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n",
                          strError);
}

bool ReadForwardStatus(const std::string& strPath, std::string& strLine, std::string& strError) {
  switch (ReadStateFile(strPath, strLine, strError)) {
    case stateFileRead:
      return true;
    case stateFileMissing:
      strError = "no status file " + strPath + " (the forwarder has not run with this checkpoint)";
      return false;
    case stateFileUnreadable:
      strError = strPath + ": " + strError;
      return false;
  }
  return false;
}
