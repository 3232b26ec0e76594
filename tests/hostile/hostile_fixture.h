// What the hostile-input tests share: a fresh log folder with a fixed clock
// (from the log service's own fixture), the day's file read back through the
// library's own reading step, its records read back through the engine, and
// the bound that every measured peak of heap use must keep.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "format/document_file.h"
#include "format/log_layout.h"
#include "format/time_stamps.h"
#include "markup/markup.h"
#include "platform/platform_files.h"
#include "service/daily_log.h"
#include "service/library_lifecycle.h"
#include "service/library_state.h"
#include "service/log_folder.h"
#include "service_fixture.h"
#include "support/day_records.h"
#include "support/test_text.h"
#include "vardlix.h"

// The day of the fixed clock, 8 April 2011.
inline const std::string kTodaysLog = "Vardlix20110408.xml";
inline const std::u16string kDeclaration = u"<?xml version=\"1.0\" encoding=\"unicode\"?>\r\n";
inline const std::u16string kTimeStamp = u"2011.04.08 09:05:03";
inline const std::string kTodaysPendingFile = "Vardlix20110408.pending";

// The five texts of one call of WriteVardlix, in argument order.
using RecordArguments = std::array<std::u16string, 5>;

// Heap that an operation may take beyond its input: a few copies of it (the
// text, its element index, a spliced copy) and a fixed allowance for small
// strings. An operation whose use grew with anything but its input, or by
// more than a small multiple of it, fails the bound.
inline size_t HeapBound(size_t nInputBytes) { return 6 * nInputBytes + (1u << 20); }

// Equality of two long strings, reported by their lengths and the first
// position where they differ rather than by printing megabytes.
template <class TString>
::testing::AssertionResult SameContent(const TString& strActual, const TString& strExpected) {
  if (strActual == strExpected) return ::testing::AssertionSuccess();
  size_t n = 0;
  while (n < strActual.size() && n < strExpected.size() && strActual[n] == strExpected[n]) ++n;
  return ::testing::AssertionFailure() << "lengths " << strActual.size() << " and " << strExpected.size()
                                       << ", first difference at " << n;
}

// Calls the export with the five texts.
inline void WriteThroughExport(const RecordArguments& aArguments) {
  const CVardlixString aStrings[5] = {{aArguments[0].c_str()},
                                      {aArguments[1].c_str()},
                                      {aArguments[2].c_str()},
                                      {aArguments[3].c_str()},
                                      {aArguments[4].c_str()}};
  WriteVardlix(aStrings[0], aStrings[1], aStrings[2], aStrings[3], aStrings[4]);
}

// The lines that one record adds, as the writer lays them out.
inline std::u16string RecordLines(const RecordFields& aFields) {
  std::u16string strLines = u"<记录>\r\n";
  for (size_t i = 0; i < 6; ++i) {
    const std::u16string strName = kRecordFieldNames[i];
    if (aFields[i].empty()) {
      strLines += u"<" + strName + u"/>\r\n";
    } else {
      strLines += u"<" + strName + u">" + aFields[i] + u"</" + strName + u">\r\n";
    }
  }
  return strLines + u"</记录>\r\n";
}

class CHostileTest : public CServiceTest {
 protected:
  // The day's text as the library itself reads it; "<unreadable>" when the
  // file cannot be opened.
  std::u16string ReadDayText(const std::string& strName = kTodaysLog) const {
    CFile file;
    if (!file.Open(m_folder.File(strName), CFile::modeReadExclusive)) return u"<unreadable>";
    return ReadDocumentFile(file);
  }
};
