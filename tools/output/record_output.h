// The output formats of show and follow: an aligned table for people, JSON
// Lines and CSV for machines, and the records' own XML.
#pragma once

#include <array>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "base/display_text.h"
#include "reading/log_record.h"
#include "reading/record_category.h"

enum OutputFormat : int {
  formatTable,
  formatJson,
  formatCsv,
  formatXml,
};

struct CTableOptions {
  int m_nWidth = 0;       // cells per line; 0 or less: no limit
  bool m_bColor = false;  // ANSI colours by record type
};

// Column widths in cells, time first.
using CTableLayout = std::array<int, kFieldCount>;

// Widths that fit every field of the records and the headings.
CTableLayout MeasureColumns(const std::vector<CLogRecord>& aRecords);
// Narrows the widest columns until the line fits nWidth cells (0: no limit).
// The time column is never narrowed.
CTableLayout FitColumns(const CTableLayout& natural, int nWidth);

void WriteTableHeader(const CTableLayout& layout, const CTableOptions& options, std::ostream& out);
// One record, as one line or, for a description of several lines, as one
// line per description line. Other fields show a line break as "↵".
void WriteTableRow(const CLogRecord& record, const CTableLayout& layout, const CTableOptions& options,
                   std::ostream& out);
// The same, appended to a buffer.
void AppendTableRow(std::string& strOut, const CLogRecord& record, const CTableLayout& layout,
                    const CTableOptions& options);
// Header and rows, laid out to fit the records and the width.
void WriteTable(const std::vector<CLogRecord>& aRecords, const CTableOptions& options, std::ostream& out);

// One JSON object on one line: the six fields by their English names (the
// time in ISO 8601 local time, with its UTC offset when the record has one,
// followed then by "epoch", its seconds since 1970) and "file", the day file
// it came from.
void WriteJsonLine(const CLogRecord& record, std::ostream& out);

// A header line and one line per record, quoted where a field holds a comma,
// a quote or a line break (quotes doubled), each line ending in CR LF; the
// time as in JSON. A cell that begins with '=', '+', '-', '@', a tab or CR,
// which a spreadsheet would take for a formula, starts with an apostrophe,
// unless bKeepFormulas.
void WriteCsvHeader(std::ostream& out);
void WriteCsvRow(const CLogRecord& record, std::ostream& out, bool bKeepFormulas = false);

// The records' XML as it stands in their files, under one "日志" root.
void WriteXml(const std::vector<CLogRecord>& aRecords, std::ostream& out);
// The same in three steps, for records that come one at a time: the
// declaration and the root's start tag, then each record's m_strMarkup
// followed by CR LF, then the root's end tag.
void WriteXmlHead(std::ostream& out);
void WriteXmlTail(std::ostream& out);

// The line of WriteJsonLine and the row of WriteCsvRow, appended to a
// buffer; and one JSON string, quoted and escaped as nlohmann::json dumps it
// (UTF-8 kept as it is, which it always is here).
void AppendJsonLine(std::string& strOut, const CLogRecord& record);
void AppendCsvRow(std::string& strOut, const CLogRecord& record, bool bKeepFormulas = false);
void AppendJsonString(std::string& strOut, std::string_view strText);

// The same for a field's data as it stands in a file, decoded as the engine
// decodes it when bEscaped.
int FieldTextWidth(std::u16string_view strData, bool bEscaped, bool bLines);
