#include <cstdlib>

#include "commands.h"
#include "host_library.h"
#include "log_stats.h"
#include "platform_files.h"
#include "text_encoding.h"

namespace {

// Days as an unsigned 32-bit number, the type of the export's parameter.
bool ParseDays(const std::string& strDays, uint32_t& nDays) {
  if (strDays.empty() || strDays.size() > 10 || strDays.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  unsigned long long nValue = std::strtoull(strDays.c_str(), nullptr, 10);
  if (nValue > 0xFFFFFFFFull) return false;
  nDays = static_cast<uint32_t>(nValue);
  return true;
}

}  // namespace

int RunWrite(const std::vector<std::string>& aFields, const std::string& strLibrary, std::ostream& err) {
  // The command line reaches the commands as UTF-8 (on Windows converted
  // from the wide command line). Bytes that are not UTF-8 can come only
  // from a POSIX command line, and are decoded the way the platform decodes
  // a file without byte-order mark there: byte by byte.
  std::u16string aText[5];
  for (size_t i = 0; i < 5 && i < aFields.size(); ++i) {
    if (!FromUtf8(aFields[i], aText[i])) aText[i] = DecodeNarrowText(aFields[i].data(), aFields[i].size());
  }
  CHostLibrary library;
  std::string strError;
  if (!library.Load(strLibrary, strError)) {
    ReportError(err, strError);
    return exitFailure;
  }
  library.WriteVardlix(aText[0], aText[1], aText[2], aText[3], aText[4]);
  return exitOk;
}

int RunLife(const std::string& strDays, const std::string& strLibrary, std::ostream& out, std::ostream& err) {
  uint32_t nDays = 0;
  if (!strDays.empty() && !ParseDays(strDays, nDays)) {
    ReportError(err, "days must be a whole number from 0 to " + std::to_string(kMaxLogLife) + ", not \"" + strDays +
                         "\"");
    return exitUsage;
  }
  CHostLibrary library;
  std::string strError;
  if (!library.Load(strLibrary, strError)) {
    ReportError(err, strError);
    return exitFailure;
  }
  std::string strFolder = ToolLogFolder();
  if (!strDays.empty() && library.SetLogLife(nDays) != 1) {
    ReportError(err, nDays > kMaxLogLife ? "the library refuses " + strDays + " days: the most is " +
                                               std::to_string(kMaxLogLife)
                                   : "the settings file in " + strFolder + " cannot be written");
    return exitFailure;
  }
  CRetention retention = ReadRetention(strFolder);
  out << "Retention " << retention.m_nDays << (retention.m_nDays == 1 ? " day" : " days") << " in " << strFolder
      << "\n";
  return exitOk;
}
