// What check finds in a file, one line per finding with its line and column:
// whether the library reads it and adds records to it, what is damaged, and
// whether standard XML tools will accept it.
#include <algorithm>
#include <cctype>
#include <vector>

#include "base/text_encoding.h"
#include "commands/commands.h"
#include "format/log_layout.h"
#include "reading/log_file.h"
#include "reading/xml_characters.h"
#include "reading/xml_conformance.h"

namespace {

// Encoding names that standard parsers take for a file that starts FF FE.
bool IsPortableEncodingName(std::string strName) {
  for (char& c : strName) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return strName == "utf-16" || strName == "utf-16le";
}

// What each kind of problem is, as check names it.
const char* const kXmlProblemTexts[kXmlProblemCount] = {
    "a '&' that begins no reference",
    "a reference to an entity XML does not define (only &lt; &gt; &amp; &apos; &quot; and what a DOCTYPE "
    "declares)",
    "a character reference to a character XML 1.0 forbids, or beyond U+10FFFF (the library reads it as text)",
    "an attribute without a quoted value",
    "an attribute given twice in one tag",
    "'<' inside an attribute value",
    "\"--\" inside a comment",
    "\"]]>\" in character data",
    "a name XML does not allow",
    "markup XML does not allow",
    "an end tag that does not match the open element",
    "an XML declaration or DOCTYPE out of place",
    "content outside the top element",
};

std::string CountRecords(size_t nCount, const std::string& strNoun) {
  return std::to_string(nCount) + " " + strNoun + (nCount == 1 ? "" : "s");
}

// The findings of one file, written as they are made. Each that asks for
// attention makes the exit status 1; notes do not.
class CCheckReport {
 public:
  CCheckReport(const std::string& strPath, const CLogFile& file, std::ostream& out)
      : m_strPath(strPath), m_file(file), m_text(file.m_strText), m_out(out) {}

  int Run() {
    const CLogText& text = m_file.m_text;
    const size_t nLibraryEnd = std::min(m_file.m_nZeroUnit, m_text.size());
    const std::u16string_view strLibraryText = std::u16string_view(m_text).substr(0, nLibraryEnd);
    // No log's top element and no element at all: other text (a password
    // file, a program) rather than a damaged log; said first, the rest is
    // the parser's detail.
    if (text.m_nOutcome == logTextMalformed && text.m_nRecords == 0 && !text.m_bRootOpened &&
        text.m_strTopElement.empty()) {
      Finding("", "not a Vardlix log: no <" + ToUtf8(kLogRoot) + "> element and no record; the parser's detail:");
    } else if (text.m_nOutcome == logTextMalformed || ZeroUnitCutsText()) {
      // A damaged log: first, in plain words, what is wrong, what is lost
      // and what to do; the findings below give the places.
      m_bAttention = true;
      m_out << MakeDisplayText(m_strPath + " is damaged: " + DamageSummary(text), false) << "\n";
    }
    if (!m_file.m_bWide) {
      Finding("", "not UTF-16: there is no byte-order mark, so the file was read as text in this system's code page; "
                  "the library rewrites it as UTF-16 at its next record");
    }
    switch (text.m_nOutcome) {
      case logTextRead:
        Line("", "well-formed day's log, " + CountRecords(text.m_nRecords, "record"));
        break;
      case logTextEmpty:
        Finding("", "not well-formed: the file holds no element");
        break;
      case logTextNotLog:
        Finding(FormatPlace(PlaceAt(m_text, static_cast<int32_t>(m_text.find(u"<" + Utf16(text.m_strTopElement))))),
                "well-formed, but not a day's log: its top element is <" + text.m_strTopElement + ">, not <" +
                    ToUtf8(kLogRoot) + ">");
        break;
      case logTextMalformed:
        ReportDamage(text);
        break;
    }
    ReportZeroUnit(text);
    if (text.m_nOutcome != logTextEmpty) ReportLibrary();
    ReportXmlTools(strLibraryText);
    return m_bAttention ? exitFailure : exitOk;
  }

 private:
  static std::u16string Utf16(const std::string& strText) {
    std::u16string strOut;
    FromUtf8(strText, strOut);
    return strOut;
  }

  // Names and text from the file are shown as the table shows them.
  void Line(const std::string& strWhere, const std::string& strMessage) {
    m_out << MakeDisplayText(m_strPath + (strWhere.empty() ? "" : ":" + strWhere) + ": " + strMessage, false) << "\n";
  }
  void Finding(const std::string& strWhere, const std::string& strMessage) {
    m_bAttention = true;
    Line(strWhere, strMessage);
  }

  bool ZeroUnitCutsText() const {
    const CLogText& text = m_file.m_text;
    return m_file.m_nZeroUnit != std::u16string::npos &&
           (text.m_nOutcome != logTextRead || text.m_strTopElement != ToUtf8(kLogRoot));
  }

  int LineAt(size_t nOffset) const { return PlaceAt(m_text, static_cast<int32_t>(nOffset)).m_nLine; }

  static std::string Lines(int nFirst, int nLast) {
    return nFirst == nLast ? "line " + std::to_string(nFirst)
                           : "lines " + std::to_string(nFirst) + " to " + std::to_string(nLast);
  }

  // What is wrong, where, in words a reader of logs knows. A damaged
  // stretch that runs to the end of an unclosed log is where it was cut.
  std::string DamageWhat(const CLogText& text) const {
    const bool bCut = text.m_bRootOpened && !text.m_bRootClosed;
    const int nLastLine = LineAt(m_text.size());
    size_t nGarbled = text.m_aDamage.size();
    if (bCut && nGarbled > 0 && text.m_aDamage.back().m_end.m_nLine >= nLastLine) --nGarbled;
    std::vector<std::string> aWhat;
    if (nGarbled > 0) {
      const CDamagedStretch& first = text.m_aDamage.front();
      aWhat.push_back("the text on " + Lines(first.m_begin.m_nLine, first.m_end.m_nLine) + " is garbled" +
                      (nGarbled == 1 ? "" : " (and in " + CountRecords(nGarbled - 1, "more place") + ")"));
    }
    if (ZeroUnitCutsText()) {
      aWhat.push_back("the library's reading stops at a zero character on line " +
                      std::to_string(LineAt(m_file.m_nZeroUnit)));
    } else if (bCut) {
      aWhat.push_back("the file is cut short on line " + std::to_string(nLastLine));
    }
    if (aWhat.empty()) aWhat.push_back("it cannot be read from line " + std::to_string(text.m_stop.m_place.m_nLine));
    return aWhat.size() == 1 ? aWhat[0] : aWhat[0] + " and " + aWhat[1];
  }

  std::string DamageSummary(const CLogText& text) const {
    std::string strSummary = CountRecords(text.m_nRecords, "complete record") +
                             " can be read (vardlix show shows them), but " + DamageWhat(text) +
                             ", so any record that stood there is lost. ";
    if (LibraryAddsRecords(m_file)) {
      strSummary += "The library goes on adding new records behind the damage: logging needs nothing, but keep a "
                    "copy of the file if the lost records matter.";
    } else {
      strSummary += "The library adds no new record to this file, so the day's new records are dropped: move the "
                    "file away (keep it), and the library starts a new one.";
    }
    return strSummary + " The details:";
  }

  void ReportDamage(const CLogText& text) {
    Finding(FormatPlace(text.m_stop.m_place), "not well-formed: " + text.m_stop.m_strMessage);
    const size_t nRecords = text.m_nRecords;
    for (const CDamagedStretch& stretch : text.m_aDamage) {
      Finding(FormatPlace(stretch.m_begin), "damaged text up to " + FormatPlace(stretch.m_end) + ", skipped; " +
                                                CountRecords(stretch.m_nRecordsBefore, "complete record") +
                                                " before it, " + std::to_string(nRecords - stretch.m_nRecordsBefore) +
                                                " after");
    }
    const std::string strRoot = ToUtf8(kLogRoot);
    if (!text.m_bRootOpened) {
      Finding("", "no <" + strRoot + "> element at the start of the text");
    } else if (!text.m_bRootClosed) {
      std::string strLast = text.m_lastRecordEnd.m_nOffset < 0
                                ? "no record is complete"
                                : "the last complete record ends at " + FormatPlace(text.m_lastRecordEnd);
      Finding(FormatPlace(PlaceAt(m_text, static_cast<int32_t>(std::min(m_file.m_nZeroUnit, m_text.size())))),
              "cut short: the text ends without </" + strRoot + ">; " + strLast);
    }
    Line("", CountRecords(nRecords, "complete record") + " can be read around the damage (vardlix show reads them)");
  }

  void ReportZeroUnit(const CLogText& text) {
    if (m_file.m_nZeroUnit == std::u16string::npos) return;
    const std::string strWhere = FormatPlace(PlaceAt(m_text, static_cast<int32_t>(m_file.m_nZeroUnit)));
    if (text.m_nOutcome != logTextRead || text.m_strTopElement != ToUtf8(kLogRoot)) {
      Finding(strWhere, "a zero code unit inside the text: the library reads only the text before it");
    } else if (m_file.m_bJournal) {
      Finding(strWhere,
              "a zero code unit behind the log, followed by an update cut in its commit and the commit's journal: the "
              "library puts back the bytes the journal saved, which give the text read here, and cuts the rest when "
              "it next loads or writes this file; until then standard XML parsers reject the file");
    } else {
      Finding(
          strWhere,
          std::string("a zero code unit behind the log, followed by ") +
              (m_file.m_bDataBeyondZero ? "the rest of an interrupted update" : "zeros only") +
              ": the library ignores it and cuts it when it next loads or writes this file; until then standard XML "
              "parsers reject the file");
    }
  }

  void ReportLibrary() {
    if (LibraryAddsRecords(m_file)) {
      if (m_file.m_text.m_nOutcome == logTextMalformed) {
        Line("", "the library goes on adding its records to this file, behind the damaged text");
      }
      return;
    }
    Finding("", "the library adds no record to this file: the records given to it for this day are dropped");
  }

  void ReportXmlTools(std::u16string_view strLibraryText) {
    const size_t nDeclarationEnd = strLibraryText.find(u"?>");
    const size_t nEncoding = strLibraryText.rfind(u"encoding=\"", nDeclarationEnd);
    if (strLibraryText.substr(0, 5) == u"<?xml" && nEncoding != std::u16string::npos) {
      const size_t nNameStart = nEncoding + 10;
      const std::string strName = ToUtf8(strLibraryText.substr(
          nNameStart, std::min(strLibraryText.find(u'"', nNameStart), strLibraryText.size()) - nNameStart));
      if (!IsPortableEncodingName(strName)) {
        Line(FormatPlace(PlaceAt(m_text, static_cast<int32_t>(nNameStart))),
             "note: standard XML parsers do not know the encoding name \"" + strName +
                 "\" of the declaration; decode the file as UTF-16 first (see \"Reading the logs elsewhere\" in "
                 "the README) or use vardlix show --format xml");
      }
    }
    ReportXmlProblems(strLibraryText);
    const CForbiddenUnits forbidden = FindForbiddenUnits(strLibraryText);
    if (forbidden.m_nCount == 0) return;
    Finding(FormatPlace(PlaceAt(m_text, static_cast<int32_t>(forbidden.m_nFirst))),
            std::to_string(forbidden.m_nCount) +
                (forbidden.m_nCount == 1 ? " character that XML 1.0 forbids" : " characters that XML 1.0 forbids") +
                ", the first " + "U+" + FormatCodeUnit(strLibraryText[forbidden.m_nFirst]) +
                ": standard XML parsers reject the file; vardlix show --format xml writes each as " +
                ForbiddenUnitElement(strLibraryText[forbidden.m_nFirst]));
  }

  // What the engine reads but XML 1.0 readers refuse, one line per kind. A
  // damaged text has its own findings, which say enough.
  void ReportXmlProblems(std::u16string_view strLibraryText) {
    if (m_file.m_text.m_nOutcome != logTextRead && m_file.m_text.m_nOutcome != logTextNotLog) return;
    const CXmlProblems problems = FindXmlProblems(strLibraryText);
    for (int i = 0; i < kXmlProblemCount; ++i) {
      const size_t nCount = problems.m_aCount[i];
      if (nCount == 0) continue;
      Finding(FormatPlace(PlaceAt(m_text, static_cast<int32_t>(problems.m_aFirst[i]))),
              std::string("not XML 1.0: ") + kXmlProblemTexts[i] +
                  (nCount > 1 ? " (" + std::to_string(nCount) + " in the file, the first here)" : "") +
                  ": standard XML parsers reject the file; vardlix show --format xml writes such records again "
                  "from their fields");
    }
  }

  const std::string& m_strPath;
  const CLogFile& m_file;
  const std::u16string& m_text;
  std::ostream& m_out;
  bool m_bAttention = false;
};

// Counts records without keeping them.
class CNoSink : public CRecordSink {
 public:
  void Take(const CRecordText&) override {}
};

}  // namespace

int RunCheck(const std::string& strPath, std::ostream& out, std::ostream& err) {
  // The text is kept for the places of the findings; the records are only
  // counted.
  CNoSink sink;
  CLogFile file = ReadLogFile(strPath, sink, 5, true);
  if (file.m_nOutcome != logFileRead) {
    ReportError(err, strPath + ": " + file.m_strError);
    return exitFailure;
  }
  return CCheckReport(strPath, file, out).Run();
}
