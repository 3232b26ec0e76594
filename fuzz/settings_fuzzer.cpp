// The retention setting from arbitrary input, three ways:
// - the input as UTF-16LE text through the number conversion, checked
//   against a conversion written here from its rule (digits compared as
//   text, so no arithmetic of the library's is trusted);
// - the input as the bytes of the settings file, read at load: the load
//   succeeds, gives a retention of 0 or more, and never changes the file;
// - its first four bytes as the days passed to SetLogLife: accepted exactly
//   up to 36,500, and then read back at the next load.
#include <cstdint>
#include <cstring>
#include <string>

#include "format/document_file.h"
#include "format/log_layout.h"
#include "markup/markup.h"
#include "platform/platform_files.h"
#include "service/library_state.h"
#include "service/settings.h"
#include "service_fuzz_support.h"
#include "vardlix.h"

namespace {

bool IsConversionSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// Leading white space, an optional sign, decimal digits: a positive number
// is the retention, saturated at the largest 32-bit value; a negative one
// is 0; zero is 0 only when written as exactly "0", and otherwise 7.
int32_t ExpectedRetention(const std::u16string& strData) {
  size_t i = 0;
  while (i < strData.size() && IsConversionSpace(strData[i])) ++i;
  bool bNegative = false;
  if (i < strData.size() && (strData[i] == u'+' || strData[i] == u'-')) bNegative = strData[i++] == u'-';
  std::string strDigits;
  for (; i < strData.size() && strData[i] >= u'0' && strData[i] <= u'9'; ++i) {
    if (strDigits.empty() && strData[i] == u'0') continue;  // leading zeros
    strDigits += static_cast<char>(strData[i]);
  }
  if (strDigits.empty()) return strData == u"0" ? 0 : kDefaultLogLife;
  if (bNegative) return 0;
  const std::string strMax = std::to_string(INT32_MAX);
  if (strDigits.size() > strMax.size() || (strDigits.size() == strMax.size() && strDigits > strMax)) {
    return INT32_MAX;
  }
  return static_cast<int32_t>(std::stol(strDigits));
}

const char kSettingsName[] = "hostLog/SettingInfo.xml";

// Loads as a host at <scratch>/host.bin would; the retention, or -1 when
// the load could not read one.
int32_t Load() {
  g_nLogLife.store(-1);
  return LoadSettings() ? g_nLogLife.load() : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  const CScratchFolder& scratch = Scratch();
  SetHostPathForTesting(scratch.File("host.bin"));

  std::u16string strText;
  for (size_t n = 0; n + 1 < nSize; n += 2) strText += static_cast<char16_t>(pData[n] | (pData[n + 1] << 8));
  Require(ParseLogLife(strText) == ExpectedRetention(strText));

  // Whatever the file holds, the load reads a retention of 0 or more from it
  // and leaves it as it was.
  std::filesystem::create_directories(scratch.Path("hostLog"));
  scratch.WriteBytes(kSettingsName, pData, nSize);
  const int32_t nLoaded = Load();
  Require(nLoaded >= 0);
  Require(scratch.ReadBytes(kSettingsName) == std::string(reinterpret_cast<const char*>(pData), nSize));

  // What the reading found: the same steps, on the text the file holds.
  CFile file;
  Require(file.Open(scratch.File(kSettingsName), CFile::modeReadExclusive));
  CXmlDocument doc;
  doc.SetDocument(ReadDocumentFile(file));
  file.Close();
  doc.FindNextElement(u"配置信息");
  doc.EnterElement();
  doc.FindNextElement(u"日志保留天数");
  Require(nLoaded == ExpectedRetention(doc.GetCurrentData()));

  uint32_t nDays = 0;
  std::memcpy(&nDays, pData, nSize < sizeof nDays ? nSize : sizeof nDays);
  const int nResult = SetLogLife(nDays);
  Require(nResult == (nDays <= kMaxLogLife ? 1 : 0));
  Require(Load() == (nResult == 1 ? static_cast<int32_t>(nDays) : nLoaded));
  return 0;
}
