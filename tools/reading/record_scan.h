// The fast path of the tool's reading: records in the form the library
// writes them, read straight from the UTF-16 text without the engine.
//
// A standard record is "<记录>", the six fields in their order, each as
// "<name>data</name>" or "<name/>", and "</记录>", with nothing but white
// space between the tags and no '<' and no zero unit in the data. For such a
// record the engine's reading gives exactly the fields that the data decodes
// to here (the five named references, any other '&' kept as it stands), so
// the tool takes every record of this form without the engine, and gives
// the engine only what is not in it. The fuzzer (fuzz/log_reading_fuzzer.cpp)
// compares both readings on every input.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "reading/log_record.h"

// One record as it stands in a text: views into that text, or into strings
// that the reader keeps for the moment of the call.
struct CRecordText {
  std::u16string_view m_markup;                          // "<记录>" through "</记录>"
  std::array<std::u16string_view, kFieldCount> m_aData;  // each field's data
  bool m_bEscaped = true;                // the data as it stands in the file, references not yet decoded
  const std::string* m_pFile = nullptr;  // day file it came from
};

// Whether the text holds strPart at nPos. Tags are a few units long: a plain
// loop beats a call of compare.
inline bool IsTextAt(std::u16string_view strText, size_t nPos, std::u16string_view strPart) {
  if (strText.size() - nPos < strPart.size()) return false;
  for (size_t i = 0; i < strPart.size(); ++i) {
    if (strText[nPos + i] != strPart[i]) return false;
  }
  return true;
}

// Code units of the white space between tags (" \t\r\n"), as the engine
// counts it.
inline bool IsBlankUnit(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }
size_t SkipBlanks(std::u16string_view strText, size_t nPos);

// The standard record that starts at nPos: the offset just past its
// "</记录>", with the record's views filled in; npos when the text at nPos
// is anything else (another form, a cut-off record, a zero unit inside).
size_t ScanStandardRecord(std::u16string_view strText, size_t nPos, CRecordText& record);

// The standard start of a day's log: white space, the declaration "<?xml
// ...?>" if any, white space and "<日志>". The offset just past it, or npos.
size_t ScanStandardProlog(std::u16string_view strText);

// Whether the text at nPos is "</日志>".
bool IsRootEndAt(std::u16string_view strText, size_t nPos);

// Appends a field's data as UTF-8, decoded as the engine decodes it when
// bEscaped. A lone half of a surrogate pair becomes U+FFFD.
void AppendFieldUtf8(std::string& strOut, std::u16string_view strData, bool bEscaped);
// The same as UTF-16.
void AppendFieldUtf16(std::u16string& strOut, std::u16string_view strData, bool bEscaped);

// The first unit c from nPos on, or the text's size.
size_t FindUnit(std::u16string_view strText, char16_t c, size_t nPos = 0);
// The first zero unit from nPos on, or the text's size.
size_t FindZeroUnit(std::u16string_view strText, size_t nPos = 0);
// How many units c the text holds.
size_t CountUnit(std::u16string_view strText, char16_t c);
