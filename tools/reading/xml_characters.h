// The characters that XML 1.0 cannot carry, and a visible, reversible form
// for them in the XML the tool writes.
//
// The library stores what a host gives it, code unit for code unit: an ANSI
// colour sequence, a bell, half of a surrogate pair. XML 1.0 allows none of
// these, not even as a character reference, so a standard parser rejects a
// text that holds one. Where the tool writes XML it puts each such code unit
// as the element
//
//   <char code="001B"/>
//
// with the unit in four upper-case hexadecimal digits. Record data never
// holds an element of its own (the library escapes '<'), so the form cannot
// be mistaken for data and turns back into the unit without loss.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Whether the code unit at nPos cannot stand in an XML 1.0 text: a control
// character other than tab, line feed and carriage return, U+FFFE, U+FFFF,
// or a surrogate that is not half of a pair.
bool IsForbiddenInXml(std::u16string_view strText, size_t nPos);

// How many code units of the text XML 1.0 forbids, and the first one's
// position (npos when there is none).
struct CForbiddenUnits {
  size_t m_nCount = 0;
  size_t m_nFirst = std::u16string_view::npos;
};
CForbiddenUnits FindForbiddenUnits(std::u16string_view strText);

// Character data as UTF-8 XML: '<', '&' and '>' escaped and each forbidden
// unit in the form above.
std::string EscapeXmlData(std::u16string_view strData);

// A code unit in four upper-case hexadecimal digits ("001B").
std::string FormatCodeUnit(char16_t cUnit);

// The element that stands for one forbidden code unit.
std::string ForbiddenUnitElement(char16_t cUnit);
