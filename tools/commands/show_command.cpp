#include <algorithm>
#include <sstream>

#include "commands/commands.h"
#include "commands/show_reading.h"
#include "output/terminal.h"

namespace {

// Filters that leave nothing say so, since no output at all looks the same
// as an empty log; types are compared exactly, which is worth a reminder.
void ReportNoMatch(const CRecordFilter& filter, size_t nRead, std::ostream& err) {
  std::string strMessage = "none of the " + std::to_string(nRead) + " records read matches the filters";
  if (!filter.m_aTypes.empty()) strMessage += " (--type compares the whole type exactly, case included)";
  if (filter.m_since.m_bSet || filter.m_until.m_bSet) {
    strMessage += " (the period searched: " + DescribeWindow(filter.m_since, filter.m_until) + ")";
  }
  ReportError(err, strMessage);
}

}  // namespace

void ReportError(std::ostream& err, const std::string& strMessage) {
  err << "vardlix: " << MakeDisplayText(strMessage, false) << std::endl;
}

int RunShow(const CShowOptions& given, std::ostream& out, std::ostream& err) {
  CShowOptions options = given;  // the window's times of day get their days
  if (options.m_bByteOrderMark && options.m_nFormat != formatCsv) {
    ReportError(err, "--bom goes with --format csv only");
    return exitUsage;
  }
  std::vector<std::string> aPaths;
  int nStatus = exitOk;
  if (!ResolveFiles(options, aPaths, nStatus, err)) return nStatus;
  CShowReading reading(options, aPaths, options.m_nFormat == formatJson || options.m_nFormat == formatCsv);
  // Lines are gathered in a buffer and written a block at a time; on a
  // terminal, through the pager once they fill the screen.
  CPagedOutput paged(out, !options.m_bNoPager && OutputIsTerminal());
  std::string strBuffer;
  bool bFlushed = false;
  auto Flush = [&] {
    bFlushed = bFlushed || !strBuffer.empty();
    paged.Write(strBuffer);
    strBuffer.clear();
  };
  auto FlushWhenFull = [&] {
    if (strBuffer.size() >= 256 * 1024) Flush();
  };
  bool bRead = true;
  size_t nShown = 0;
  switch (options.m_nFormat) {
    case formatTable: {
      CTableOptions table;
      table.m_nWidth = options.m_bWide ? 0 : OutputWidth();
      table.m_bColor = WantsColor(options.m_strColor);
      // The columns are measured on the records to be shown, then the
      // records are read again and written.
      CTableLayout natural = MeasureColumns({});
      const CShowReading::TextConsumer measureText = [&](const CRecordText& record) {
        ++nShown;
        for (int i = 0; i < kFieldCount; ++i) {
          natural[i] =
              std::max(natural[i], FieldTextWidth(record.m_aData[i], record.m_bEscaped, i == fieldDescription));
        }
      };
      bRead = reading.Run(
          [&](const CLogRecord& record) {
            ++nShown;
            for (int i = 0; i < kFieldCount; ++i) {
              natural[i] = std::max(natural[i], DisplayTextWidth(record.m_aField[i], i == fieldDescription));
            }
          },
          true, err, &measureText);
      if (!bRead || nShown == 0) break;
      const CTableLayout layout = FitColumns(natural, table.m_nWidth);
      std::ostringstream header;
      WriteTableHeader(layout, table, header);
      strBuffer = header.str();
      bRead = reading.Run(
          [&](const CLogRecord& record) {
            AppendTableRow(strBuffer, record, layout, table);
            FlushWhenFull();
          },
          false, err);
      break;
    }
    case formatJson:
      bRead = reading.Run(
          [&](const CLogRecord& record) {
            ++nShown;
            AppendJsonLine(strBuffer, record);
            FlushWhenFull();
          },
          true, err);
      break;
    case formatCsv:
      if (options.m_bByteOrderMark) strBuffer += "\xEF\xBB\xBF";
      strBuffer += "time,type,location,operation,parameters,description,file\r\n";
      bRead = reading.Run(
          [&](const CLogRecord& record) {
            ++nShown;
            AppendCsvRow(strBuffer, record, options.m_bKeepFormulas);
            FlushWhenFull();
          },
          true, err);
      break;
    case formatXml: {
      std::ostringstream head;
      WriteXmlHead(head);
      strBuffer = head.str();
      bRead = reading.Run(
          [&](const CLogRecord& record) {
            ++nShown;
            strBuffer += record.m_strMarkup;
            strBuffer += "\r\n";
            FlushWhenFull();
          },
          true, err);
      if (bRead) {
        std::ostringstream tail;
        WriteXmlTail(tail);
        strBuffer += tail.str();
      }
      break;
    }
  }
  // A file that can't be read at all leaves no output, unless records of
  // earlier files have gone out already.
  if (!bRead && !bFlushed) strBuffer.clear();
  Flush();
  paged.Finish();
  if (!bRead) return exitFailure;
  if (nShown == 0 && reading.Read() > 0 && options.m_nLimit != 0) ReportNoMatch(options.m_filter, reading.Read(), err);
  return reading.Damaged() ? exitFailure : exitOk;
}
