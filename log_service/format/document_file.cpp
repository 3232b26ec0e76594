#include "format/document_file.h"

#include "format/commit_journal.h"
#include "markup/large_blocks.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Room reserved behind a document read from a file, so that the record added
// to it fits without moving the whole text to a larger block.
constexpr size_t kGrowthRoomUnits = 4096;

[[maybe_unused]] void SwapByteOrder(char16_t* p, size_t nCount) {
  for (size_t i = 0; i < nCount; ++i) p[i] = static_cast<char16_t>((p[i] >> 8) | (p[i] << 8));
}

// Position of the first zero unit, or nCount. Every read of a document looks
// at each of its units once here, so 32 of them are checked per step.
size_t FindFirstZeroUnit(const char16_t* p, size_t nCount) {
  size_t nStart = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  auto HasZero = [zero](const char16_t* q) {
    const __m128i* pBlock = reinterpret_cast<const __m128i*>(q);
    const __m128i first = _mm_or_si128(_mm_cmpeq_epi16(_mm_loadu_si128(pBlock), zero),
                                       _mm_cmpeq_epi16(_mm_loadu_si128(pBlock + 1), zero));
    const __m128i second = _mm_or_si128(_mm_cmpeq_epi16(_mm_loadu_si128(pBlock + 2), zero),
                                        _mm_cmpeq_epi16(_mm_loadu_si128(pBlock + 3), zero));
    return _mm_movemask_epi8(_mm_or_si128(first, second)) != 0;
  };
  for (; nStart + 32 <= nCount && !HasZero(p + nStart); nStart += 32) {
  }
#endif
  for (; nStart < nCount; ++nStart) {
    if (p[nStart] == 0) return nStart;
  }
  return nCount;
}

size_t CheckedSize(uint64_t nLength) {
  if (nLength > std::numeric_limits<size_t>::max() / 2) throw std::bad_alloc();
  return static_cast<size_t>(nLength);
}

// The rest of a file after FF FE, straight into the string's own storage.
// The string can only grow by zero-filling, so it grows one cache-sized
// piece at a time, and each piece is read and searched for a zero unit while
// it is still in the cache: one pass over memory instead of three.
// True when a byte other than zero lies in [p, p + nCount) or in the file
// from its current position on.
bool HoldsDataBeyond(const char* p, size_t nCount, CFile& file) {
  auto AnyData = [](const char* q, size_t n) { return std::any_of(q, q + n, [](char c) { return c != 0; }); };
  if (AnyData(p, nCount)) return true;
  std::string strPiece(64 * 1024, '\0');
  for (size_t nRead; (nRead = file.Read(strPiece.data(), strPiece.size())) > 0;) {
    if (AnyData(strPiece.data(), nRead)) return true;
  }
  return false;
}

std::u16string ReadWideText(CFile& file, size_t nBytesAfterMark, bool* pbUnreadData, bool& bZeroUnit) {
  constexpr size_t kPieceUnits = 128 * 1024;
  const size_t nUnits = nBytesAfterMark / 2;  // an odd last byte is ignored
  std::u16string strText;
  ReserveDocumentText(strText, nUnits + kGrowthRoomUnits);
  size_t nDone = 0;
  while (nDone < nUnits) {
    const size_t nWanted = nUnits - nDone < kPieceUnits ? nUnits - nDone : kPieceUnits;
    strText.resize(nDone + nWanted);
    const size_t nRead = file.Read(strText.data() + nDone, nWanted * 2) / 2;
    if constexpr (!kLittleEndian) SwapByteOrder(strText.data() + nDone, nRead);
    const size_t nZero = FindFirstZeroUnit(strText.data() + nDone, nRead);
    bZeroUnit = bZeroUnit || nZero < nRead;
    if (nZero < nRead && pbUnreadData != nullptr) {
      const char* pAfterZero = reinterpret_cast<const char*>(strText.data() + nDone + nZero + 1);
      *pbUnreadData = HoldsDataBeyond(pAfterZero, (nRead - nZero - 1) * 2, file);
    }
    nDone += nZero;
    if (nZero < nWanted) break;  // a zero unit, or the file ended early
  }
  strText.resize(nDone);
  return strText;
}

// The text of a file whose commit a kill may have cut: its bytes with the
// journal's saved bytes put back, up to the first zero unit. Whatever
// follows is what the interrupted update left. The journal is one that
// FindCommitJournal believes: it fits the file as its writer leaves it, so
// the saved bytes replace no record the file shows. strText, the text read
// before the journal was found, lends its storage: the file is read again
// into it, so that a large file is not held twice.
std::u16string ReadThroughJournal(CFile& file, const CCommitJournal& journal, bool* pbUnreadData,
                                  std::u16string strText) {
  const size_t nBytes = static_cast<size_t>(journal.m_nJournalAt - sizeof kByteOrderMark);
  strText.resize((nBytes + 1) / 2);  // room for an odd last byte too
  char* pBytes = reinterpret_cast<char*>(strText.data());
  file.Seek(sizeof kByteOrderMark);
  const size_t nRead = file.Read(pBytes, nBytes);
  // A file that a writer cut meanwhile (a reader alongside the library) has
  // its commit behind it, and the saved bytes belong to no text of it.
  const size_t nSavedAt = static_cast<size_t>(journal.m_nSavedAt - sizeof kByteOrderMark);
  if (nRead >= nSavedAt + journal.m_strSaved.size()) {
    std::memcpy(pBytes + nSavedAt, journal.m_strSaved.data(), journal.m_strSaved.size());
  }
  strText.resize(nRead / 2);
  if constexpr (!kLittleEndian) SwapByteOrder(strText.data(), strText.size());
  strText.resize(FindFirstZeroUnit(strText.data(), strText.size()));
  if (pbUnreadData != nullptr) *pbUnreadData = true;
  return strText;
}

std::u16string ReadNarrowText(CFile& file, const unsigned char* pHead, size_t nHead, size_t nLength) {
  std::string strBytes(nLength, '\0');
  std::memcpy(strBytes.data(), pHead, nHead);
  const size_t nRead = nHead + (nLength > nHead ? file.Read(strBytes.data() + nHead, nLength - nHead) : 0);
  const size_t nEnd = std::min(std::strlen(strBytes.c_str()), nRead);
  return DecodeNarrowText(strBytes.data(), nEnd);
}

}  // namespace

std::u16string ReadDocumentFile(CFile& file, bool* pbUnreadData) {
  if (pbUnreadData != nullptr) *pbUnreadData = false;
  file.SeekToBegin();
  const size_t nLength = CheckedSize(file.GetLength());
  unsigned char abHead[2] = {0, 0};
  const size_t nHead = file.Read(abHead, nLength < 2 ? nLength : 2);
  if (nHead == 2 && abHead[0] == kByteOrderMark[0] && abHead[1] == kByteOrderMark[1]) {
    bool bZeroUnit = false;
    std::u16string strText = ReadWideText(file, nLength - 2, pbUnreadData, bZeroUnit);
    CCommitJournal journal;
    // A journal that does not fit the file is remains like any other: the
    // text stops at the first zero unit.
    if (bZeroUnit && FindCommitJournal(file, journal)) {
      return ReadThroughJournal(file, journal, pbUnreadData, std::move(strText));
    }
    return strText;
  }
  return ReadNarrowText(file, abHead, nHead, nLength);
}

bool StartsWithByteOrderMark(CFile& file) {
  unsigned char abHead[sizeof kByteOrderMark] = {};
  file.SeekToBegin();
  return file.Read(abHead, sizeof abHead) == sizeof abHead && std::memcmp(abHead, kByteOrderMark, sizeof abHead) == 0;
}

uint64_t LocateUnreadBytes(CFile& file) {
  if (!StartsWithByteOrderMark(file)) return 0;
  constexpr size_t kPieceUnits = 32 * 1024;
  std::u16string strPiece(kPieceUnits, u'\0');
  uint64_t nOffset = sizeof kByteOrderMark;
  // Only the last read of a file returns fewer bytes than asked, so every
  // piece before it starts at an even offset.
  for (size_t nUnits; (nUnits = file.Read(strPiece.data(), kPieceUnits * 2) / 2) > 0; nOffset += 2 * nUnits) {
    const size_t nZero = FindFirstZeroUnit(strPiece.data(), nUnits);
    if (nZero < nUnits) return nOffset + 2 * nZero;
  }
  return 0;
}

void WriteDocumentFile(CFile& file, std::u16string_view strText) {
  file.SeekToBegin();
  file.Write(kByteOrderMark, sizeof kByteOrderMark);
  if constexpr (kLittleEndian) {
    file.Write(strText.data(), strText.size() * 2);
  } else {
    std::u16string strSwapped(strText);
    SwapByteOrder(strSwapped.data(), strSwapped.size());
    file.Write(strSwapped.data(), strSwapped.size() * 2);
  }
  // Anything behind the new content is left over from a longer old one (a
  // text read only up to a zero, or narrow text that shrank when widened):
  // it would follow the document as garbage.
  const uint64_t nWritten = sizeof kByteOrderMark + uint64_t{strText.size()} * 2;
  if (file.GetLength() > nWritten) file.SetLength(nWritten);
  file.Close();
}
