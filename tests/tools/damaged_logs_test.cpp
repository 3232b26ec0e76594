// Damaged day files: the tool reads every complete record in file order and
// warns once per file, and every export of every such file (and of records
// holding characters XML 1.0 forbids, references the engine keeps as text,
// markup XML 1.0 refuses) is accepted by a standard parser, which reads the
// same data from each.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/text_encoding.h"
#include "format/commit_journal.h"
#include "support/document_bytes.h"
#include "tool_process.h"

namespace {

// Parses an export with Python's standard modules and prints, per record,
// its type and its description as code points in hex. In the XML export
// each <char code="..."/> element turns back into its code unit.
const char kParseExport[] = R"(
import csv, io, json, sys, xml.etree.ElementTree as ET
form, data = sys.argv[1], open(sys.argv[2], 'rb').read()
def text(e):
    s = e.text or ''
    for c in e:
        s += chr(int(c.get('code'), 16)) + (c.tail or '')
    return s
if form == 'xml':
    rows = [(text(r.find('类型')), text(r.find('描述'))) for r in ET.fromstring(data).findall('记录')]
elif form == 'json':
    rows = [(o['type'], o['description']) for o in map(json.loads, data.decode('utf-8').splitlines())]
else:
    rows = [(r[1], r[5]) for r in list(csv.reader(io.StringIO(data.decode('utf-8'), newline='')))[1:]]
for t, d in rows:
    print(t + ' ' + ' '.join('%04X' % ord(c) for c in d))
)";

// U+E000 in a test text stands for a lone high surrogate, which UTF-8 can't
// carry.
constexpr char16_t kLoneMark = 0xE000;
constexpr char16_t kLoneSurrogate = 0xD800;

std::string Utf16FileBytes(const std::string& strUtf8) {
  std::u16string strText;
  if (!FromUtf8(strUtf8, strText)) throw std::invalid_argument("test text is not UTF-8");
  std::replace(strText.begin(), strText.end(), kLoneMark, kLoneSurrogate);
  return EncodeDocument(strText);
}

// What Python prints for a record: the JSON and CSV exports are UTF-8, which
// has no lone surrogate, and carry U+FFFD in its place.
std::string ExpectedLine(const std::string& strType, const std::string& strDescription, const std::string& strForm) {
  std::u16string strText;
  FromUtf8(strDescription, strText);
  std::string strLine = strType + " ";
  char szUnit[8];
  for (size_t i = 0; i < strText.size(); ++i) {
    char16_t c = strText[i];
    if (c == kLoneMark) c = strForm == "xml" ? kLoneSurrogate : 0xFFFD;
    std::snprintf(szUnit, sizeof szUnit, "%s%04X", i == 0 ? "" : " ", static_cast<unsigned>(c));
    strLine += szUnit;
  }
  return strLine + "\n";
}

std::vector<std::string> Fields(const std::string& strType, const std::string& strDescription = "") {
  return {"2011.04.08 08:00:00", strType, "Main", "Run", "", strDescription.empty() ? "d-" + strType : strDescription};
}

std::string Log(const std::vector<std::string>& aTypes) {
  std::vector<std::vector<std::string>> aRecords;
  for (const auto& strType : aTypes) aRecords.push_back(Fields(strType));
  return MakeLogText(aRecords);
}

std::string CutBefore(const std::string& strText, const std::string& strMark, size_t nKeep = 0) {
  return strText.substr(0, strText.find(strMark) + nKeep);
}

// The records of a day's log, without the root's end tag: what the library
// appends behind text that no longer parses.
std::string AppendedRecords(const std::vector<std::string>& aTypes) {
  std::string strText = Log(aTypes);
  strText = strText.substr(strText.find("<记录>"));
  return strText.substr(0, strText.rfind("</日志>"));
}

// A day's file whose writer was killed in a journalled commit, as
// document_update.cpp leaves it: record C's tail behind a zero unit, the
// journal of the commit's bytes at the end, and the commit written up to
// the page boundary it crosses (B's parameters are as long as that takes).
// The library reads the old text: records A and B.
std::string CutCommitBytes() {
  constexpr size_t kPageBytes = 4096;
  auto Text = [](size_t nPadding, bool bWithC) {
    std::vector<std::vector<std::string>> aRecords = {Fields("A"), Fields("B")};
    aRecords[1][4] = std::string(nPadding, 'x');
    if (bWithC) aRecords.push_back(Fields("C"));
    return Utf16FileBytes(MakeLogText(aRecords));
  };
  auto FirstDifference = [](const std::string& strOld, const std::string& strNew) {
    return static_cast<size_t>(std::mismatch(strOld.begin(), strOld.end(), strNew.begin()).first - strOld.begin());
  };
  // Each unit of padding moves the commit two bytes on: it starts 6 bytes
  // before the page's end.
  const size_t nPadding = 1 + (kPageBytes - 6 - FirstDifference(Text(1, false), Text(1, true))) / 2;
  const std::string strOld = Text(nPadding, false), strNew = Text(nPadding, true);
  const size_t nKeep = FirstDifference(strOld, strNew);
  const std::string strSaved = strOld.substr(nKeep) + std::string(2, '\0');
  if (nKeep >= kPageBytes || nKeep + strSaved.size() <= kPageBytes) throw std::logic_error("no page crossed");
  return strNew.substr(0, kPageBytes) + strOld.substr(kPageBytes) + std::string(2, '\0') +
         strNew.substr(strOld.size() + 2) + BuildCommitJournal(strNew.size(), nKeep, strSaved);
}

TEST(DamagedLogs, EveryCompleteRecordIsReadOnceWarnedAndExportedForStandardParsers) {
  const std::string strFull = Log({"A", "B", "C"});
  const std::string strColours = "red \x1B[31m, bell \x07, lone \xEE\x80\x80 end";
  std::string strZeroInside = strFull;
  strZeroInside[strZeroInside.find("d-B") + 1] = '\0';
  std::string strNoEndTag = strFull;
  strNoEndTag.erase(strNoEndTag.find("</记录>", strNoEndTag.find("d-B")), std::string("</记录>").size());
  std::string strBareTags = CutBefore(strFull, "<记录>");
  for (int i = 0; i < 200; ++i) strBareTags += "<记录>\r\n";
  strBareTags += AppendedRecords({"D", "E"});
  std::string strZeroLate = CutBefore(strFull, "d-B", 1) + AppendedRecords({"D", "E"});
  strZeroLate += std::string(1, '\0') + "<记录>\r\n<时间>";
  // What the engine reads from files the library did not write, which XML
  // 1.0 readers refuse or read otherwise.
  const std::string strReferences = "x &#x1B; &#65; &#x110000; &nbsp; & ]]> y";
  const std::string strForeignMarkup =
      "<?xml version=\"1.0\" encoding=\"unicode\"?>\r\n<日志>\r\n<记录 a=1 a=\"2\">\r\n<时间>2011.04.08 08:00:00</时间>"
      "<类型>A</类型><位置 b=\"<\">Main</位置><操作>Run</操作><参数/><描述>d-A<!-- x -- y --></描述>\r\n</记录>\r\n" +
      AppendedRecords({"B"}) + "</日志>\r\n";
  std::string strGarbage = strFull;
  strGarbage.insert(strGarbage.find("<记录>", strGarbage.find("d-A")), "#garbage<x \r\n");
  struct {
    const char* szName;
    std::string strText;  // UTF-8 of the file's text
    std::vector<std::string> aTypes;
    std::string strWarning;               // part of the one warning; empty: the file is whole
    std::string strCheck;                 // part of the first line of check, which a person reads first
    std::string strDescriptionA = "d-A";  // what record A's description reads as
    std::string strBytes = "";            // the file's bytes, when they are not strText's
  } const kCases[] = {
      {"characters XML 1.0 forbids",
       MakeLogText({Fields("A", strColours), Fields("B")}),
       {"A", "B"},
       "",
       "day.xml: well-formed day's log, 2 records",
       strColours},
      {"references the engine keeps as text",
       MakeLogText({Fields("A", strReferences), Fields("B")}),
       {"A", "B"},
       "",
       "day.xml: well-formed day's log, 2 records",
       strReferences},
      {"markup XML 1.0 refuses",
       strForeignMarkup,
       {"A", "B"},
       "",
       "day.xml: well-formed day's log, 2 records",
       "d-A<!-- x -- y -->"},
      {"cut inside a tag",
       CutBefore(strFull, "<类型>C", 4),
       {"A", "B"},
       "damaged text at 19:1-21:2",
       "is damaged: 2 complete records can be read (vardlix show shows them), but the file is cut short on line 21, so "
       "any record that stood there is lost. The library goes on adding new records"},
      {"cut inside data",
       CutBefore(strFull, "d-C", 2),
       {"A", "B"},
       "(2 records before it, 0 after)",
       "is damaged: 2 complete records can be read (vardlix show shows them), but the file is cut short on line 25"},
      {"cut between records",
       CutBefore(strFull, "<记录>\r\n<时间>2011.04.08 08:00:00</时间>\r\n<类型>C"),
       {"A", "B"},
       "cut short: no </日志> after the last record",
       "is damaged: 2 complete records can be read (vardlix show shows them), but the file is cut short on line 19"},
      {"zero unit inside a record",
       strZeroInside,
       {"A", "C"},
       "(1 record before it, 1 after)",
       "is damaged: 2 complete records can be read (vardlix show shows them), but the text on lines 11 to 18 is garbled "
       "and the library's reading stops at a zero character on line 17, so any record that stood there is lost. The "
       "library adds no new record to this file, so the day's new records are dropped: move the file away"},
      {"garbage between records",
       strGarbage,
       {"A", "B", "C"},
       "damaged text at 11:1-11:10",
       "is damaged: 3 complete records can be read (vardlix show shows them), but the text on line 11 is garbled, so"},
      {"records appended behind damage",
       CutBefore(strFull, "d-B", 1) + AppendedRecords({"D", "E", "F"}),
       {"A", "D", "E", "F"},
       "(1 record before it, 3 after); cut short",
       "is damaged: 4 complete records can be read (vardlix show shows them), but the text on lines 11 to 17 is garbled "
       "and the file is cut short on line 41"},
      // Shapes whose reading used to take time growing with the square of
      // the size; the benchmark (bench/tool_bench.cpp) shows them linear.
      {"a record without its end tag",
       strNoEndTag,
       {"A", "C"},
       "damaged text at 11:1-17:12 (1 record before it, 1 after); showing the 2 complete records",
       "is damaged: 2 complete records can be read (vardlix show shows them), but the text on lines 11 to 17 is garbled, "
       "so"},
      {"bare start tags, then records",
       strBareTags,
       {"D", "E"},
       "damaged text at 3:1-202:4 (0 records before it, 2 after); cut short",
       "is damaged: 2 complete records can be read (vardlix show shows them), but the text on lines 3 to 202 is garbled "
       "and the file is cut short on line 219"},
      {"a zero unit and the rest of an update behind damage",
       strZeroLate,
       {"A", "D", "E"},
       "damaged text at 11:1-17:5 (1 record before it, 2 after); damaged text at 33:1-34:4 (3 records before it, 0 "
       "after); cut short",
       "is damaged: 3 complete records can be read (vardlix show shows them), but the text on lines 11 to 17 is garbled "
       "and the library's reading stops at a zero character on line 33"},
      {"zeros behind a whole log",
       strFull + std::string(4096, '\0'),
       {"A", "B", "C"},
       "",
       "day.xml: well-formed day's log, 3 records"},
      {"a commit cut by a kill, its journal at the end",
       "",
       {"A", "B"},
       "",
       "day.xml: well-formed day's log, 2 records",
       "d-A",
       CutCommitBytes()},
  };
  CScratchFolder folder;
  for (const auto& c : kCases) {
    WriteBytes(folder.Path("day.xml"), c.strBytes.empty() ? Utf16FileBytes(c.strText) : c.strBytes);
    CToolResult check = RunTool({"check", folder.Path("day.xml")});
    const std::string strFirst = check.m_strOut.substr(0, check.m_strOut.find('\n'));
    EXPECT_NE(strFirst.find(c.strCheck), std::string::npos) << c.szName << "\n" << check.m_strOut;
    for (const std::string strForm : {"json", "csv", "xml"}) {
      CToolResult show = RunTool({"show", "-d", folder.Path(), "day.xml", "-f", strForm});
      EXPECT_EQ(show.m_nStatus, c.strWarning.empty() ? 0 : 1) << c.szName << " " << strForm;
      EXPECT_EQ(SplitLines(show.m_strErr).size(), c.strWarning.empty() ? 0u : 1u) << c.szName << show.m_strErr;
      EXPECT_NE(show.m_strErr.find(c.strWarning), std::string::npos) << c.szName << show.m_strErr;
      WriteBytes(folder.Path("export"), show.m_strOut);
      CToolResult parsed = RunTool({"-c", kParseExport, strForm, folder.Path("export")}, {}, VARDLIX_PYTHON);
      ASSERT_EQ(parsed.m_nStatus, 0) << c.szName << " " << strForm << "\n" << parsed.m_strErr << show.m_strOut;
      std::string strExpected;
      for (const auto& strType : c.aTypes) {
        strExpected += ExpectedLine(strType, strType == "A" ? c.strDescriptionA : "d-" + strType, strForm);
      }
      EXPECT_EQ(parsed.m_strOut, strExpected) << c.szName << " " << strForm;
    }
  }
}

}  // namespace
