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

#include <array>
#include <string>

#include "reading/log_text.h"

class CXmlDocument;

// The record the document stands on, as the engine reads it, and how many
// of the six fields it has. Children are matched by name, so a record whose
// elements are out of order still reads; unknown children are passed over.
// m_text's views point into m_aData and into the document's text.
struct CEngineRecord {
  std::array<std::u16string, kFieldCount> m_aData;
  int m_nFields = 0;
  CRecordText m_text;
};
void ReadEngineRecord(CXmlDocument& doc, const std::string& strFile, CEngineRecord& record);

// Gives the sink every complete record of a text that does not parse as a
// whole, from nFrom on, and fills result's damaged stretches, root flags and
// the place of the last record's end. nFrom 0: from the start, the prolog
// and the root's start tag skipped where they stand; otherwise the place
// where the records read so far (result.m_nRecords of them) end, inside the
// root. The first nSkip records go to the sink no more.
void RecoverRecords(const std::u16string& strText, const std::string& strFile, CLogText& result, CRecordSink& sink,
                    size_t nSkip = 0, size_t nFrom = 0);
