// Reads arbitrary bytes as a document file, the way every file of the
// library is read (byte-order mark, UTF-16LE, narrow text, the journal of a
// commit that a kill cut), and checks the
// text against a decoder written here from the file format alone. The text
// is then written back and must read again unchanged.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "format/document_file.h"
#include "platform/platform_files.h"
#include "service_fuzz_support.h"

namespace {

// The UTF-8 reading and the UTF-16 writing below are kept apart from
// platform/unicode_text on purpose: this decoder is the independent account
// the library's reading is checked against, and one that shared that code
// would share its faults too.

// Length of the well-formed UTF-8 sequence at p (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF), or 0. The ranges of the
// second byte are those of the Unicode table of well-formed sequences.
size_t WellFormedLength(const uint8_t* p, size_t nLeft, uint32_t& nCode) {
  const uint8_t b0 = p[0];
  if (b0 < 0x80) {
    nCode = b0;
    return 1;
  }
  struct Form {
    uint8_t m_nLeadFirst, m_nLeadLast, m_nSecondFirst, m_nSecondLast;
    size_t m_nLength;
  };
  static const Form kForms[] = {
      {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3}, {0xE1, 0xEC, 0x80, 0xBF, 3},
      {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3}, {0xF0, 0xF0, 0x90, 0xBF, 4},
      {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
  };
  for (const Form& form : kForms) {
    if (b0 < form.m_nLeadFirst || b0 > form.m_nLeadLast) continue;
    if (nLeft < form.m_nLength || p[1] < form.m_nSecondFirst || p[1] > form.m_nSecondLast) return 0;
    for (size_t k = 2; k < form.m_nLength; ++k) {
      if (p[k] < 0x80 || p[k] > 0xBF) return 0;
    }
    nCode = b0 & (0x7F >> form.m_nLength);
    for (size_t k = 1; k < form.m_nLength; ++k) nCode = (nCode << 6) | (p[k] & 0x3F);
    return form.m_nLength;
  }
  return 0;
}

// Narrow text: UTF-8 when all of it is well formed, else one unit per byte.
std::u16string ExpectedNarrowText(const uint8_t* p, size_t nCount) {
  std::u16string strText;
  for (size_t i = 0; i < nCount;) {
    uint32_t nCode = 0;
    const size_t nLength = WellFormedLength(p + i, nCount - i, nCode);
    if (nLength == 0) return std::u16string(p, p + nCount);
    if (nCode >= 0x10000) {
      strText += static_cast<char16_t>(0xD800 + ((nCode - 0x10000) >> 10));
      strText += static_cast<char16_t>(0xDC00 + ((nCode - 0x10000) & 0x3FF));
    } else {
      strText += static_cast<char16_t>(nCode);
    }
    i += nLength;
  }
  return strText;
}

uint64_t LittleEndian64(const uint8_t* p) {
  uint64_t n = 0;
  for (int i = 7; i >= 0; --i) n = (n << 8) | p[i];
  return n;
}

uint16_t UnitAt(const uint8_t* p, uint64_t nAt) { return static_cast<uint16_t>(p[nAt] | (p[nAt + 1] << 8)); }

// Whether the UTF-16 text strTag stands in p at an even x in [nFrom, nTo)
// whose end x + its length is not nSkipEnd but lies in [nEndFrom, nEndTo].
bool HoldsTag(const uint8_t* p, uint64_t nFrom, uint64_t nTo, std::u16string_view strTag, uint64_t nEndFrom,
              uint64_t nEndTo, uint64_t nSkipEnd) {
  for (uint64_t x = (nFrom + 1) / 2 * 2; x + 2 * strTag.size() <= nTo; x += 2) {
    const uint64_t nEnd = x + 2 * strTag.size();
    bool bSame = nEnd >= nEndFrom && nEnd <= nEndTo && nEnd != nSkipEnd;
    for (size_t i = 0; bSame && i < strTag.size(); ++i) bSame = UnitAt(p, x + 2 * i) == strTag[i];
    if (bSame) return true;
  }
  return false;
}

// A journal is believed only where it fits the file as its writer leaves it
// (commit_journal.h): saved range [S, E) after the mark and in front of the
// journal at J, E and J even, a zero unit in it only as its last; the second
// half of the commit's last piece within a 4 KiB page still as saved; when
// that last unit is zero (the text grew), at most 8 KiB, the file's text
// stopping there and no "</记录>" of it ending after S; otherwise no "</日志>"
// in it but one ending 4 bytes before J.
bool FitsFile(const uint8_t* p, uint64_t nSavedAt, uint64_t nCount, uint64_t nJournalAt) {
  const uint8_t* pSaved = p + nJournalAt + 2;
  const uint64_t nEnd = nSavedAt + nCount;
  if (nSavedAt < 2 || nCount < 2 || nEnd % 2 != 0 || nJournalAt % 2 != 0) return false;
  for (uint64_t x = (nSavedAt + 1) / 2 * 2; x + 2 < nEnd; x += 2) {
    if (UnitAt(pSaved - nSavedAt, x) == 0) return false;
  }
  const uint64_t nLastPiece = std::max<uint64_t>(nSavedAt, (nEnd - 1) / 4096 * 4096);
  const uint64_t nUntouched = nLastPiece + (nEnd - nLastPiece) / 2;
  if (std::memcmp(p + nUntouched, pSaved + (nUntouched - nSavedAt), nEnd - nUntouched) != 0) return false;
  if (UnitAt(pSaved - nSavedAt, nEnd - 2) != 0) {
    return !HoldsTag(pSaved - nSavedAt, nSavedAt, nEnd, u"</日志>", 0, UINT64_MAX, nJournalAt - 4);
  }
  if (nCount > 8192) return false;
  const uint64_t nFrom = nSavedAt > 12 ? nSavedAt - 10 : 2;
  for (uint64_t x = (nFrom + 1) / 2 * 2; x < nEnd - 2; x += 2) {
    if (UnitAt(p, x) == 0) return false;
  }
  return UnitAt(p, nEnd - 2) == 0 && !HoldsTag(p, nFrom, nEnd - 2, u"</记录>", nSavedAt + 1, nEnd - 2, 0);
}

// A commit journal at the end of a UTF-16 file: zero unit, saved bytes,
// their offset, their count, an FNV-1a check over journal offset, saved
// offset, count (8 bytes each, little-endian) and the saved bytes, and
// "VxUndo1\0". Where there is one that fits the file, the saved bytes go
// back before reading.
std::string WithJournalUndone(const uint8_t* p, size_t nSize) {
  std::string strBytes(reinterpret_cast<const char*>(p), nSize);
  if (nSize < 2 + 32 || std::memcmp(p + nSize - 8, "VxUndo1", 8) != 0) return strBytes;
  const uint64_t nSavedAt = LittleEndian64(p + nSize - 32), nCount = LittleEndian64(p + nSize - 24);
  if (nCount > nSize - 34) return strBytes;
  const uint64_t nJournalAt = nSize - 32 - nCount - 2;
  if (nSavedAt < 2 || nSavedAt > nJournalAt || nCount > nJournalAt - nSavedAt) return strBytes;
  uint64_t nHash = 0xcbf29ce484222325ULL;
  uint8_t aNumbers[24];
  for (int i = 0; i < 8; ++i) {
    aNumbers[i] = static_cast<uint8_t>(nJournalAt >> (8 * i));
    aNumbers[8 + i] = static_cast<uint8_t>(nSavedAt >> (8 * i));
    aNumbers[16 + i] = static_cast<uint8_t>(nCount >> (8 * i));
  }
  for (uint8_t b : aNumbers) nHash = (nHash ^ b) * 0x100000001b3ULL;
  for (uint64_t i = 0; i < nCount; ++i) nHash = (nHash ^ p[nJournalAt + 2 + i]) * 0x100000001b3ULL;
  if (nHash != LittleEndian64(p + nSize - 16)) return strBytes;
  // Only a text that stops at a zero unit has a commit behind it.
  bool bZeroUnit = false;
  for (size_t i = 2; i + 1 < nSize && !bZeroUnit; i += 2) bZeroUnit = p[i] == 0 && p[i + 1] == 0;
  if (!bZeroUnit || !FitsFile(p, nSavedAt, nCount, nJournalAt)) return strBytes;
  strBytes.resize(nJournalAt);
  strBytes.replace(nSavedAt, nCount, reinterpret_cast<const char*>(p + nJournalAt + 2), nCount);
  return strBytes;
}

// The text of a document file's bytes: UTF-16LE after FF FE up to the first
// zero unit (an odd last byte is ignored), else narrow text up to the first
// zero byte.
std::u16string ExpectedText(const uint8_t* pData, size_t nData) {
  if (nData >= 2 && pData[0] == 0xFF && pData[1] == 0xFE) {
    const std::string strBytes = WithJournalUndone(pData, nData);
    const auto* p = reinterpret_cast<const uint8_t*>(strBytes.data());
    const size_t nSize = strBytes.size();
    std::u16string strText;
    for (size_t i = 2; i + 1 < nSize; i += 2) {
      const char16_t c = static_cast<char16_t>(p[i] | (p[i + 1] << 8));
      if (c == 0) break;
      strText += c;
    }
    return strText;
  }
  size_t nEnd = 0;
  while (nEnd < nData && pData[nEnd] != 0) ++nEnd;
  return ExpectedNarrowText(pData, nEnd);
}

std::u16string ReadAsTheLibraryDoes(const std::u16string& strPath) {
  CFile file;
  Require(file.Open(strPath, CFile::modeReadExclusive));
  return ReadDocumentFile(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  const CScratchFolder& scratch = Scratch();
  scratch.WriteBytes("document", pData, nSize);
  const std::u16string strPath = scratch.File("document");

  CFile file;
  Require(file.Open(strPath, CFile::modeReadWriteDenyWrite));
  const std::u16string strText = ReadDocumentFile(file);
  Require(strText == ExpectedText(pData, nSize));

  // Written back over the same file, which may have been longer: exactly the
  // mark and the text remain, and they read as the same text.
  WriteDocumentFile(file, strText);
  Require(!file.IsOpen());
  Require(scratch.ReadBytes("document") == DocumentBytes(strText));
  Require(ReadAsTheLibraryDoes(strPath) == strText);
  return 0;
}
