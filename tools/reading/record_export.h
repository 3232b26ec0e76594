// A record read by the scan as the rest of the tool takes it, and its XML
// for an export that standard parsers accept. Apart from the scan because
// it asks the conformance check (xml_conformance.h), which itself scans
// records.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "reading/log_record.h"
#include "reading/record_scan.h"

// Whether the record's XML can go into an export as it stands: XML 1.0
// allows every character of it, and standard parsers accept it and read
// its fields as the engine does (xml_conformance.h).
bool IsPortableAsItStands(std::u16string_view strMarkup);

// The record's XML for an export that standard parsers must accept: as it
// stands in the file when IsPortableAsItStands, otherwise made again from
// its decoded fields in the library's layout, '&', '<' and '>' escaped
// (so that "&#x1B;", which the engine keeps as text, stays text) and each
// forbidden unit in its visible form (see xml_characters.h).
std::string MakePortableMarkup(std::u16string_view strMarkup, const std::array<std::u16string, kFieldCount>& aData);

// The record as the tool's other parts take it. The XML of the record is
// made only when bMarkup (it is the only costly part, and only the XML
// export uses it).
CLogRecord MakeLogRecord(const CRecordText& record, bool bMarkup = true);
