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

// A day's share of show's output, made on the thread that reads the day,
// in pieces of a block or so: pieces of one size are taken again from the
// heap for the next day, where a day's text in one string would be fresh
// memory each time.
class CDayOutput : public CShowReading::CDayTaker {
 public:
  using Append = std::function<void(std::string&, const CLogRecord&)>;
  static constexpr size_t kPiece = 256 * 1024;

  explicit CDayOutput(const Append& append) : m_append(append) {}
  void Take(const CLogRecord& record) override {
    if (m_aPieces.empty() || m_aPieces.back().size() >= kPiece) {
      m_aPieces.emplace_back();
      m_aPieces.back().reserve(kPiece + kPiece / 4);
    }
    m_append(m_aPieces.back(), record);
  }
  std::vector<std::string> m_aPieces;

 private:
  const Append& m_append;
};

// The widths a day's records need in the table, measured on the thread
// that reads the day, from the text in the file when it can be.
class CDayWidths : public CShowReading::CDayTaker {
 public:
  void Take(const CLogRecord& record) override {
    for (int i = 0; i < kFieldCount; ++i) {
      m_natural[i] = std::max(m_natural[i], DisplayTextWidth(record.m_aField[i], i == fieldDescription));
    }
  }
  bool TakesText() const override { return true; }
  void TakeText(const CRecordText& record) override {
    for (int i = 0; i < kFieldCount; ++i) {
      m_natural[i] =
          std::max(m_natural[i], FieldTextWidth(record.m_aData[i], record.m_bEscaped, i == fieldDescription));
    }
  }
  CTableLayout m_natural = MeasureColumns({});
};

// The lines of show, a day at a time, in a buffer written a block at a
// time; on a terminal, through the pager once they fill the screen.
class CShowOutput {
 public:
  CShowOutput(std::ostream& out, bool bPager) : m_paged(out, bPager) {}
  std::string& Buffer() { return m_strBuffer; }
  void Add(const std::string& strPiece) {
    if (m_strBuffer.size() + strPiece.size() < CDayOutput::kPiece) {
      m_strBuffer += strPiece;
      return;
    }
    Flush();
    m_bFlushed = true;
    m_paged.Write(strPiece);
  }
  void Flush() {
    m_bFlushed = m_bFlushed || !m_strBuffer.empty();
    m_paged.Write(m_strBuffer);
    m_strBuffer.clear();
  }
  // A file that can't be read at all leaves no output, unless records of
  // earlier files have gone out already.
  void Finish(bool bRead) {
    if (!bRead && !m_bFlushed) m_strBuffer.clear();
    Flush();
    m_paged.Finish();
  }

 private:
  CPagedOutput m_paged;
  std::string m_strBuffer;
  bool m_bFlushed = false;
};

// Reads the records into lines, each day's on its reading thread.
bool ShowDays(CShowReading& reading, const CDayOutput::Append& append, CShowOutput& output, bool bFirst,
              std::ostream& err) {
  return reading.RunDays([&append] { return std::make_unique<CDayOutput>(append); },
                         [&output](CShowReading::CDayTaker& taker) {
                           for (const std::string& strPiece : static_cast<CDayOutput&>(taker).m_aPieces) {
                             output.Add(strPiece);
                           }
                         },
                         bFirst, err);
}

// The table: its columns measured on the records to be shown, each day's
// on its reading thread, then the records read again and written.
bool ShowTable(CShowReading& reading, const CShowOptions& options, CShowOutput& output, std::ostream& err) {
  CTableOptions table;
  table.m_nWidth = options.m_bWide ? 0 : OutputWidth();
  table.m_bColor = WantsColor(options.m_strColor);
  CTableLayout natural = MeasureColumns({});
  const bool bMeasured = reading.RunDays([] { return std::make_unique<CDayWidths>(); },
                                         [&natural](CShowReading::CDayTaker& taker) {
                                           const CTableLayout& day = static_cast<CDayWidths&>(taker).m_natural;
                                           for (int i = 0; i < kFieldCount; ++i) {
                                             natural[i] = std::max(natural[i], day[i]);
                                           }
                                         },
                                         true, err);
  if (!bMeasured || reading.Taken() == 0) return bMeasured;
  const CTableLayout layout = FitColumns(natural, table.m_nWidth);
  std::ostringstream header;
  WriteTableHeader(layout, table, header);
  output.Buffer() = header.str();
  return ShowDays(
      reading, [&](std::string& strOut, const CLogRecord& record) { AppendTableRow(strOut, record, layout, table); },
      output, false, err);
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
  CShowOutput output(out, !options.m_bNoPager && OutputIsTerminal());
  std::string& strBuffer = output.Buffer();
  bool bRead = true;
  switch (options.m_nFormat) {
    case formatTable:
      bRead = ShowTable(reading, options, output, err);
      break;
    case formatJson:
      bRead = ShowDays(reading, AppendJsonLine, output, true, err);
      break;
    case formatCsv:
      if (options.m_bByteOrderMark) strBuffer += "\xEF\xBB\xBF";
      strBuffer += "time,type,location,operation,parameters,description,file\r\n";
      bRead = ShowDays(
          reading,
          [&options](std::string& strOut, const CLogRecord& record) {
            AppendCsvRow(strOut, record, options.m_bKeepFormulas);
          },
          output, true, err);
      break;
    case formatXml: {
      std::ostringstream head;
      WriteXmlHead(head);
      strBuffer = head.str();
      bRead = ShowDays(
          reading,
          [](std::string& strOut, const CLogRecord& record) {
            strOut += record.m_strMarkup;
            strOut += "\r\n";
          },
          output, true, err);
      if (bRead) {
        std::ostringstream tail;
        WriteXmlTail(tail);
        strBuffer += tail.str();
      }
      break;
    }
  }
  output.Finish(bRead);
  if (!bRead) return exitFailure;
  if (reading.Taken() == 0 && reading.Read() > 0 && options.m_nLimit != 0) {
    ReportNoMatch(options.m_filter, reading.Read(), err);
  }
  return reading.Damaged() ? exitFailure : exitOk;
}
