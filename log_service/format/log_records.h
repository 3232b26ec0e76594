// Records in a log document, as the library writes them: the text of a log
// without records, records added behind the last one, records read back, and
// a log file open for writing. Day files and pending files are both such logs.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "format/host_record.h"
#include "markup/markup.h"
#include "platform/platform_files.h"

// The declaration and the empty root "日志".
std::u16string BuildEmptyLogText();

// Adds the records after the last child of the root "日志", each with its
// six fields, from the document level or from inside the root where an
// earlier call left the document; the five host texts go in as MakeXmlText
// makes them. Text without any element takes the first record as its top
// element, behind the text. False when a record could not be added: the
// document's top element is not "日志".
bool AddRecords(CXmlDocument& doc, const CHostRecord* pRecords, size_t nCount);

// The records among the root's children, in order, dated strDate; a field a
// record lacks reads as empty.
std::vector<CHostRecord> ReadRecords(const CXmlDocument& doc, const std::u16string& strDate);

// A log file open for writing: its text read and parsed, and written back
// with only what changed.
class COpenLog {
 public:
  COpenLog(CFile& file, const std::u16string& strPath) : m_file(file), m_strPath(strPath) {}

  // Reads and parses the file's text. No text at all (zero bytes, a lone
  // byte-order mark, or a mark and a zero unit ahead of what an interrupted
  // first write left) means a creator stopped before its first content was
  // whole: the log is started afresh, rather than left without the root to
  // which every later record goes. False when the file cannot take records
  // without losing content: UTF-16 text that stops at a zero unit with more
  // behind it, inside anything but a log's root. Raises CFileException.
  bool Read();
  CXmlDocument& Document() { return m_doc; }
  // Code units of the text as read; 0 for a log started afresh.
  size_t CountOldUnits() const { return m_nOldUnits; }
  // Whether the document's text differs from what was read.
  bool HasChanged() const;
  // Writes the changed text back (UpdateDocumentFile). Raises CFileException.
  void Write();
  // Writes the changed text back and takes it as the text read, so that the
  // next Write writes only what changes after this one. Raises
  // CFileException.
  void Commit();
  // Writes strText in place of the whole text read, and takes it as the
  // text read: what follows reads and changes it as if Read had found it.
  // Raises CFileException, with the file as it was.
  void Replace(std::u16string strText);

 private:
  CFile& m_file;
  const std::u16string& m_strPath;
  CXmlDocument m_doc;
  size_t m_nOldUnits = 0;       // length of the text read
  bool m_bStartAfresh = false;  // no text was read: everything is new
};
