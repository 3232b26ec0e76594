// How an update keeps a document file readable at every moment.
//
// A reader takes the text after the byte-order mark up to its first zero code
// unit, and the parser ignores whatever follows the end of the top element.
// A record goes in front of the root's end tag: the old text is P followed by
// "</日志>" CR LF, the new one P, the record, "</日志>" CR LF. The bytes of P
// are the same in both and are never written.
//
// A process killed part-way through a write leaves a prefix of it in the
// file (IsWriteAllOrNothing): on Linux cut at a page boundary, since the
// kernel copies a write a page at a time and stops between pages for a fatal
// signal; on Windows never. So the rest is written in one write wherever no
// kill can cut it: from the first byte that differs to the new end, when the
// text does not shrink and those bytes lie within one page (most records; on
// Windows every update that does not shrink the text). The file then holds its old
// text or its new one and nothing else, and every reader of XML takes it.
//
// Otherwise it takes two steps:
//
//  1. The part of the new text that lies beyond the old text's end, with its
//     first code unit replaced by a zero. Readers still stop at the old end
//     and see the old text, however much of this step has reached the file.
//  2. The commit: from the first byte that differs up to and including that
//     zero unit (14 bytes for a record), in one write. Once it is in, the new
//     text is whole.
//
// Step 1 may be cut anywhere; a kill between the steps leaves the old text
// with the remains of step 1 behind a zero unit, which the library's reader
// ignores and other readers reject until they are cut (by the next update of
// the file, or by the first call after a load: log_repair.h). Where the commit
// could be cut itself (it crosses a page boundary: about one record in three
// hundred, and a rewrite of a longer stretch), the bytes it overwrites are
// first saved in a journal at the file's end, and the commit is written a
// page at a time (commit_journal.h): a reader that finds the journal puts the
// old bytes back. Only text that was narrow, which becomes UTF-16 from its
// first byte on, and a file that also has another name (a hard link), which
// must not be written through, are written to a temporary file that then
// replaces the old one in one step.
//
// A write that fails is undone: the old bytes from the first one that may
// change onward are read before anything is written, and are written back
// with the old length, which makes the file again what it was, byte for
// byte. What an interrupted update left beyond a zero unit is no part of the
// text and is cut first.
#include "format/document_file.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "format/commit_journal.h"
#include "platform/platform_files.h"

namespace {

constexpr char kZeroUnit[2] = {0, 0};

// The bytes of a document file that holds a text: FF FE, then the text as
// UTF-16LE. A range that the text's memory holds as it is comes straight
// from there, without a copy.
class CDocumentBytes {
 public:
  explicit CDocumentBytes(std::u16string_view strText) : m_strText(strText) {}

  uint64_t Size() const { return sizeof kByteOrderMark + uint64_t{m_strText.size()} * 2; }

  unsigned char At(uint64_t nByte) const {
    if (nByte < sizeof kByteOrderMark) return kByteOrderMark[nByte];
    const char16_t c = m_strText[static_cast<size_t>((nByte - sizeof kByteOrderMark) / 2)];
    return static_cast<unsigned char>(nByte % 2 == 0 ? c & 0xFF : c >> 8);
  }

  // Bytes [nFrom, nTo), followed by nZeros zero bytes; valid until the next
  // call.
  std::string_view Range(uint64_t nFrom, uint64_t nTo, size_t nZeros = 0) {
    if (kLittleEndian && nFrom >= sizeof kByteOrderMark && nZeros == 0) {
      const char* pStart = reinterpret_cast<const char*>(m_strText.data()) + (nFrom - sizeof kByteOrderMark);
      return {pStart, static_cast<size_t>(nTo - nFrom)};
    }
    m_strCopy.assign(static_cast<size_t>(nTo - nFrom) + nZeros, '\0');
    for (uint64_t n = nFrom; n < nTo; ++n) m_strCopy[static_cast<size_t>(n - nFrom)] = static_cast<char>(At(n));
    return m_strCopy;
  }

 private:
  std::u16string_view m_strText;  // the text the bytes are made of
  std::string m_strCopy;          // a range the text does not hold as it is
};

std::u16string MakeTemporaryPath(const std::u16string& strPath) {
  const std::string strNumber = std::to_string(GetProcessNumber());
  return strPath + u"." + std::u16string(strNumber.begin(), strNumber.end()) + u".tmp";
}

// A document file written under a temporary name, removed again on the way
// out unless it has taken its final name.
class CTemporaryFile {
 public:
  CTemporaryFile(const std::u16string& strFinalPath, FileWait nWait)
      : m_strPath(MakeTemporaryPath(strFinalPath)), m_nWait(nWait) {}
  ~CTemporaryFile() { Discard(); }
  CTemporaryFile(const CTemporaryFile&) = delete;
  CTemporaryFile& operator=(const CTemporaryFile&) = delete;

  // Writes the file whole, as a file of its own: a leftover of an earlier
  // process that bore the same number is removed first, never emptied (a
  // hard link would carry the emptying to its other name), and the new file
  // is created only where no name is left. Anything else at the name (a
  // link, a folder, a pipe) stays as it is and fails the call. Raises
  // CFileException, never with causeAlreadyExists, which callers read as
  // the final name being taken.
  void Write(std::u16string_view strText) {
    RemoveLeftover();
    if (!m_file.Open(m_strPath, CFile::modeCreateNewExclusive, m_nWait)) {
      const FileErrorCause nCause = m_file.GetOpenError();
      throw CFileException(nCause == causeAlreadyExists ? causeAccessDenied : nCause, m_strPath);
    }
    m_bMade = true;
    WriteDocumentFile(m_file, strText);
  }

  // Gives the written file its final name. Raises CFileException.
  void MoveTo(const std::u16string& strPath, bool bReplace) {
    CFile::Rename(m_strPath, strPath, bReplace, m_nWait);
    m_bPlaced = true;
  }

 private:
  void RemoveLeftover() {
    CFileStatus status;
    if (!CFile::GetStatus(m_strPath, status)) return;
    if ((status.m_attribute & (attributeDirectory | attributeNotRegular)) != 0) return;
    CFile::Remove(m_strPath, m_nWait);
  }

  void Discard() noexcept {
    if (!m_bMade || m_bPlaced) return;
    m_file.Close();
    try {
      CFile::Remove(m_strPath, m_nWait);
    } catch (...) {
      // Left for the next write of this process, which empties it, or for
      // the purge, whose prefix it shares when it belongs to a daily log.
    }
  }

  std::u16string m_strPath;  // the temporary name
  FileWait m_nWait;          // whether its steps may wait for a scanner
  CFile m_file;              // open while it is written
  bool m_bMade = false;      // the file exists because of us
  bool m_bPlaced = false;    // it has its final name
};

// The whole new content goes to a temporary file, which then takes the name
// of the old one in one step; the old file is untouched until then.
void ReplaceDocumentFile(const std::u16string& strPath, std::u16string_view strText) {
  CTemporaryFile temporary(strPath, waitForHolder);
  temporary.Write(strText);
  temporary.MoveTo(strPath, true);
}

std::string ReadBytes(CFile& file, uint64_t nFrom, uint64_t nTo) {
  std::string strBytes(static_cast<size_t>(nTo - nFrom), '\0');
  file.Seek(nFrom);
  strBytes.resize(file.Read(strBytes.data(), strBytes.size()));
  return strBytes;
}

// What is known of the old file before anything is written.
struct OldContent {
  bool m_bWide;            // UTF-16 after a byte-order mark, not narrow text
  uint64_t m_nFileEnd;     // its length in bytes
  uint64_t m_nTextEnd;     // end of the bytes the reader took for its text
  uint64_t m_nSavedAt;     // offset of m_strSaved; the bytes before it stay
  std::string m_strSaved;  // the bytes from m_nSavedAt to the end
};

OldContent ReadOldContent(CFile& file, size_t nOldUnits, size_t nUnchangedUnits) {
  OldContent old;
  old.m_nFileEnd = file.GetLength();
  const bool bWide = StartsWithByteOrderMark(file);
  // More than the text: perhaps a commit that a kill cut, whose journal
  // gives the text back its old bytes before anything is compared.
  if (bWide && old.m_nFileEnd > sizeof kByteOrderMark + 2 * uint64_t{nOldUnits} && RollBackCommit(file)) {
    old.m_nFileEnd = file.GetLength();
  }
  old.m_bWide = bWide;
  old.m_nSavedAt = bWide ? sizeof kByteOrderMark + 2 * uint64_t{std::min(nUnchangedUnits, nOldUnits)} : 0;
  old.m_strSaved = ReadBytes(file, old.m_nSavedAt, old.m_nFileEnd);
  old.m_nFileEnd = old.m_nSavedAt + old.m_strSaved.size();
  if (bWide) {
    old.m_nTextEnd = std::min<uint64_t>(sizeof kByteOrderMark + 2 * uint64_t{nOldUnits}, old.m_nFileEnd);
  } else {
    // Narrow text ends at its first zero byte.
    old.m_nTextEnd = std::min<uint64_t>(std::strlen(old.m_strSaved.c_str()), old.m_nFileEnd);
  }
  return old;
}

// Writes the old bytes back and restores the old length; false when that
// fails. A failure here leaves what the update wrote; on the two-step path
// that lies behind the zero unit of step 1, where no reader sees it.
bool RestoreOldContent(CFile& file, const OldContent& old) noexcept {
  try {
    file.Seek(old.m_nSavedAt);
    file.Write(old.m_strSaved.data(), old.m_strSaved.size());
    file.SetLength(old.m_nFileEnd);
    return true;
  } catch (...) {
    return false;
  }
}

// The update in one write: from the first byte that differs, nKeep, to the
// new end.
void WriteChangedBytes(CFile& file, CDocumentBytes& bytes, uint64_t nKeep) {
  const std::string_view strChanged = bytes.Range(nKeep, bytes.Size());
  file.Seek(nKeep);
  file.Write(strChanged.data(), strChanged.size());
}

// Step 1 of two: what lies beyond the old text's end, nTextEnd, behind a
// zero unit. The zero unit goes in even when nothing follows it, so that the
// commit overwrites bytes the file has already: it cannot then run out of
// disk space part-way.
void WriteBehindZeroUnit(CFile& file, CDocumentBytes& bytes, uint64_t nTextEnd) {
  const uint64_t nNewEnd = bytes.Size();
  file.Seek(nTextEnd);
  file.Write(kZeroUnit, static_cast<size_t>(std::min<uint64_t>(sizeof kZeroUnit, nNewEnd - nTextEnd)));
  if (nNewEnd > nTextEnd + sizeof kZeroUnit) {
    const std::string_view strBeyond = bytes.Range(nTextEnd + sizeof kZeroUnit, nNewEnd);
    file.Write(strBeyond.data(), strBeyond.size());
  }
}

// Runs the writes of an update in place, after cutting what an interrupted
// one left behind the old text; when any of them fails, the old content is
// put back and the failure raised again. writes sets its flag once the
// commit is in and readers take the new text: a step after it that fails
// (the cut of what lies behind) when the old content cannot be put back
// either leaves the new text standing, and the update is then reported as
// done. Reporting it failed would have its records written again elsewhere.
template <typename Writes>
void WriteInPlace(CFile& file, const OldContent& old, Writes writes) {
  bool bCommitted = false;
  try {
    if (old.m_nFileEnd > old.m_nTextEnd) file.SetLength(old.m_nTextEnd);
    writes(bCommitted);
  } catch (...) {
    if (!RestoreOldContent(file, old) && bCommitted) return;
    throw;
  }
}

// The commit [nKeep, nCommitEnd) of new bytes, followed by nGuard zero
// bytes, where one write could be cut: the bytes it overwrites go into a
// journal at the file's end (nFileEnd), then the commit a page at a time,
// then the cut at the new end takes the journal away.
void WriteJournaledCommit(CFile& file, const OldContent& old, CDocumentBytes& bytes, uint64_t nKeep,
                          uint64_t nCommitEnd, size_t nGuard, uint64_t nFileEnd) {
  constexpr uint64_t kPageBytes = 4096;
  const uint64_t nOverwrittenEnd = nCommitEnd + nGuard;
  std::string strSaved(static_cast<size_t>(nOverwrittenEnd - nKeep), '\0');
  // What lies there now: old text, then the zero unit of step 1.
  const uint64_t nOldEnd = std::min(nOverwrittenEnd, old.m_nTextEnd);
  std::memcpy(strSaved.data(), old.m_strSaved.data() + (nKeep - old.m_nSavedAt), static_cast<size_t>(nOldEnd - nKeep));
  const std::string strJournal = BuildCommitJournal(nFileEnd, nKeep, strSaved);
  file.Seek(nFileEnd);
  file.Write(strJournal.data(), strJournal.size());
  const std::string strCommit(bytes.Range(nKeep, nCommitEnd, nGuard));
  for (uint64_t nFrom = nKeep; nFrom < nOverwrittenEnd;) {
    const uint64_t nTo = std::min(nOverwrittenEnd, (nFrom / kPageBytes + 1) * kPageBytes);
    file.Seek(nFrom);
    file.Write(strCommit.data() + (nFrom - nKeep), static_cast<size_t>(nTo - nFrom));
    nFrom = nTo;
  }
}

}  // namespace

CreateDocumentResult CreateDocumentFile(const std::u16string& strPath, std::u16string_view strText, FileWait nWait) {
  CTemporaryFile temporary(strPath, nWait);
  try {
    temporary.Write(strText);
    temporary.MoveTo(strPath, false);
  } catch (const CFileException& error) {
    if (error.m_nCause == causeAlreadyExists) return documentExists;
    return error.m_nCause == causeSharingViolation ? documentHeld : documentNotCreated;
  }
  return documentCreated;
}

void UpdateDocumentFile(CFile& file, const std::u16string& strPath, size_t nOldUnits, size_t nUnchangedUnits,
                        std::u16string_view strText) {
  // A file that also has a name elsewhere (a hard link someone made) is not
  // written in place, which would write through to that other name: a new
  // file takes its name, and the link is broken. Windows refuses to replace
  // a file that is open as this one is: the update then fails as one on a
  // held file does, and its records wait.
  if (file.GetLinkCount() > 1) {
    ReplaceDocumentFile(strPath, strText);
    return;
  }
  const OldContent old = ReadOldContent(file, nOldUnits, nUnchangedUnits);
  CDocumentBytes bytes(strText);
  const uint64_t nNewEnd = bytes.Size();
  const uint64_t nTextEnd = old.m_nTextEnd;

  // The first byte that differs from the old file.
  uint64_t nKeep = old.m_nSavedAt;
  const uint64_t nSameUpTo = std::min(nTextEnd, nNewEnd);
  while (nKeep < nSameUpTo && static_cast<unsigned char>(old.m_strSaved[nKeep - old.m_nSavedAt]) == bytes.At(nKeep)) {
    ++nKeep;
  }
  if (nKeep == nTextEnd && nTextEnd == nNewEnd) return;  // the same text

  if (nNewEnd >= nTextEnd && IsWriteAllOrNothing(nKeep, static_cast<size_t>(nNewEnd - nKeep))) {
    WriteInPlace(file, old, [&](bool& bCommitted) {
      WriteChangedBytes(file, bytes, nKeep);
      bCommitted = true;
    });
    return;
  }

  // The commit ends with the zero unit that stops readers at the old end:
  // behind the old text while the file grows, behind the new one when it
  // shrinks (the old text's rest then follows until the file is cut).
  const bool bGrows = nNewEnd > nTextEnd;
  const uint64_t nCommitEnd = bGrows ? std::min(nNewEnd, nTextEnd + sizeof kZeroUnit) : nNewEnd;
  const size_t nGuard = bGrows ? 0 : static_cast<size_t>(std::min<uint64_t>(sizeof kZeroUnit, nTextEnd - nNewEnd));
  const bool bOneWriteCommit = IsWriteAllOrNothing(nKeep, static_cast<size_t>(nCommitEnd - nKeep) + nGuard);
  if (!bOneWriteCommit && !old.m_bWide) {
    ReplaceDocumentFile(strPath, strText);
    return;
  }
  WriteInPlace(file, old, [&](bool& bCommitted) {
    if (bGrows) WriteBehindZeroUnit(file, bytes, nTextEnd);
    if (bOneWriteCommit) {
      const std::string_view strCommit = bytes.Range(nKeep, nCommitEnd, nGuard);
      file.Seek(nKeep);
      file.Write(strCommit.data(), strCommit.size());
      bCommitted = true;
      if (nTextEnd > nNewEnd) file.SetLength(nNewEnd);
      return;
    }
    WriteJournaledCommit(file, old, bytes, nKeep, nCommitEnd, nGuard, std::max(nNewEnd, nTextEnd));
    bCommitted = true;
    file.SetLength(nNewEnd);
  });
}
