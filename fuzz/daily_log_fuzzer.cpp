// Writes a record into a day's file of arbitrary bytes through the export.
// Whatever the file held, the call returns and the file ends as one of:
// - the text it held, with the record behind the root's last child, where
//   that text parses with the root "日志": every earlier record reads back
//   as before, and the new one last;
// - the text it held, with the record behind it, where the text holds no
//   element at all (a UTF-16 text with more than zeros behind its first zero
//   unit stays as it was);
// - the text it held, unchanged, where its top element is another one;
// - a new day's file with the record, where it held no text at all.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "format/document_file.h"
#include "format/log_layout.h"
#include "markup/markup.h"
#include "platform/platform_files.h"
#include "service/library_state.h"
#include "service_fuzz_support.h"
#include "vardlix.h"

namespace {

using Fields = std::array<std::u16string, 6>;

const char16_t* const kFieldNames[6] = {u"时间", u"类型", u"位置", u"操作", u"参数", u"描述"};
const Fields kRecord = {u"2011.04.08 09:05:03", u"t", u"l<", u"o&", u"", u"d>"};
const std::u16string kRecordLines =
    u"<记录>\r\n<时间>2011.04.08 09:05:03</时间>\r\n<类型>t</类型>\r\n<位置>l&lt;</位置>\r\n"
    u"<操作>o&amp;</操作>\r\n<参数/>\r\n<描述>d&gt;</描述>\r\n</记录>\r\n";
const std::u16string kNewDay =
    u"<?xml version=\"1.0\" encoding=\"unicode\"?>\r\n<日志>\r\n" + kRecordLines + u"</日志>\r\n";

// The records under a top element "日志", each as the fields its children
// give in order; false when the text does not parse with that root.
bool ReadRecords(const std::u16string& strText, std::vector<Fields>& aRecords) {
  CXmlDocument doc;
  if (!doc.SetDocument(strText) || !doc.FindNextElement(u"日志")) return false;
  doc.EnterElement();
  while (doc.FindNextElement(u"记录")) {
    doc.EnterElement();
    Fields aFields;
    for (size_t i = 0; i < 6; ++i) {
      if (doc.FindNextElement(kFieldNames[i])) aFields[i] = doc.GetCurrentData();
    }
    aRecords.push_back(aFields);
    doc.LeaveElement();
  }
  return true;
}

enum TextShape { shapeEmpty, shapeLogRoot, shapeOtherRoot, shapeNoElement };

TextShape ShapeOf(const std::u16string& strText) {
  if (strText.empty()) return shapeEmpty;
  CXmlDocument doc;
  if (!doc.SetDocument(strText)) return shapeNoElement;
  return doc.FindNextElement(u"日志") ? shapeLogRoot : shapeOtherRoot;
}

std::u16string ReadDay(const std::u16string& strPath, bool* pbUnreadData = nullptr) {
  CFile file;
  Require(file.Open(strPath, CFile::modeReadExclusive));
  return ReadDocumentFile(file, pbUnreadData);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  const CScratchFolder& scratch = Scratch();
  LogFolder() = scratch.Folder();
  g_nLogLife.store(kDefaultLogLife);
  SetClockForTesting(1302253503);  // 8 April 2011, 09:05:03 UTC
  const std::string strName = "Vardlix20110408.xml";
  scratch.WriteBytes(strName, pData, nSize);
  const std::u16string strPath = scratch.File(strName);
  bool bUnreadData = false;
  const std::u16string strBefore = ReadDay(strPath, &bUnreadData);

  const CVardlixString aArguments[5] = {
      {kRecord[1].c_str()}, {kRecord[2].c_str()}, {kRecord[3].c_str()}, {kRecord[4].c_str()}, {kRecord[5].c_str()}};
  WriteVardlix(aArguments[0], aArguments[1], aArguments[2], aArguments[3], aArguments[4]);
  const std::u16string strAfter = ReadDay(strPath);

  switch (ShapeOf(strBefore)) {
    case shapeEmpty:
      Require(strAfter == kNewDay);
      break;
    case shapeLogRoot: {
      std::vector<Fields> aBefore, aAfter;
      Require(ReadRecords(strBefore, aBefore));
      Require(ReadRecords(strAfter, aAfter));
      aBefore.push_back(kRecord);
      Require(aAfter == aBefore);
      break;
    }
    case shapeOtherRoot:
      Require(strAfter == strBefore);
      break;
    case shapeNoElement:
      // UTF-16 content that could not be read behind the text: nothing is written.
      if (bUnreadData) {
        Require(strAfter == strBefore);
        break;
      }
      // A text of one unit gives the document level the shape of a start
      // tag directly followed by its end tag: a line break goes in front.
      Require(strAfter == strBefore + (strBefore.size() == 1 ? u"\r\n" : u"") + kRecordLines);
      break;
  }
  return 0;
}
