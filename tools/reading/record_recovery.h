// Every complete record of a damaged day's log.
//
// A file cut short (a copy interrupted, a full disk) no longer parses, and
// the library goes on appending its records behind the broken text. Reading
// such a file as XML would stop at the damage and lose whatever follows, so
// the records are looked for one by one instead: a record is its start tag
// through its end tag, with the six fields, and parses on its own. What lies
// between the records, other than white space and the root's own tags, is
// damage, and is skipped.
#pragma once

#include <string>

#include "log_document.h"

class CXmlDocument;

// The record the document stands on, and how many of the six fields it has.
// Children are matched by name, so a record whose elements are out of order
// still reads; unknown children are passed over.
struct CReadRecord {
  CLogRecord m_record;
  int m_nFields = 0;
};
CReadRecord ReadCurrentRecord(CXmlDocument& doc, const std::string& strFile);

// Fills result's records, damaged stretches and root flags from a text that
// does not parse as a whole.
void RecoverRecords(const std::u16string& strText, const std::string& strFile, CLogText& result);
