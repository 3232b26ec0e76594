// The document object and its element index.
#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>

#include "markup/large_blocks.h"
#include "markup/markup.h"

namespace {

// Records per code unit of an installed text. A daily log holds an element
// for every 25 to 40 code units, so one record per 16 covers real documents
// without a reallocation during the parse; the records are never filled in
// advance, so the pages of those a parse does not use are never touched.
constexpr size_t kCodeUnitsPerReservedRecord = 16;

}  // namespace

CXmlDocument::CXmlDocument() { SetDocument(); }

CXmlDocument::~CXmlDocument() = default;

std::u16string CXmlDocument::GetDocument() const { return m_strDocument; }

void CXmlDocument::ThrowIndexOutOfRange() { throw std::invalid_argument("element record index out of range"); }

void CXmlDocument::ResizeElemPos(int32_t nSize) {
  if (nSize <= GetElemPosSize()) return;
  const size_t nWanted = static_cast<size_t>(nSize);
  // Grow the storage geometrically so that a run of AllocElemPos calls past
  // the reservation costs amortised constant time; new storage is obtained
  // before the old is released, so a failure leaves the index as it was.
  if (nWanted > m_aElemPos.capacity()) m_aElemPos.reserve(std::max(nWanted, m_aElemPos.capacity() * 2));
  m_aElemPos.resize(nWanted);
}

void CXmlDocument::SizeElemPosForText(size_t nUnits) {
  const size_t nRecords = nUnits / kCodeUnitsPerReservedRecord + 8;
  if (m_aElemPos.capacity() < nRecords) {
    // The records in use belong to the text being replaced: none is copied.
    ElemPosIndex aFresh;
    aFresh.reserve(nRecords);
    AdviseLargeBlock(aFresh.data(), aFresh.capacity() * sizeof(ElemPos));
    m_aElemPos.swap(aFresh);
  }
  ResizeElemPos(static_cast<int32_t>(nRecords));
}

// The index is full: it grows by half.
void CXmlDocument::GrowElemPos() {
  if (m_iNextFree > std::numeric_limits<int32_t>::max() / 3 * 2) throw std::bad_alloc();
  ResizeElemPos(std::max(m_iNextFree + m_iNextFree / 2, m_iNextFree + 1));
}

bool CXmlDocument::SetDocument(const char16_t* szText) {
  // The string is made once, at its final size, straight from the caller's
  // text: no zero-filled buffer to overwrite and no intermediate copy.
  if (szText == nullptr) return InstallDocument(std::u16string(), true);
  const size_t nLength = markup_scan::TextLength(szText);
  std::u16string strText;
  ReserveDocumentText(strText, nLength);
  strText.assign(szText, nLength);
  return InstallDocument(std::move(strText), true);
}

bool CXmlDocument::SetDocument(std::u16string strText) { return InstallDocument(std::move(strText), true); }

bool CXmlDocument::InstallDocument(std::u16string strText, bool bFastPathFirst) {
  m_iNextFree = 1;
  ResetNavigation();
  m_strDocument = std::move(strText);
  // Offsets are 32-bit: a longer text could not be indexed.
  if (m_strDocument.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 2)) throw std::bad_alloc();

  const int32_t nLength = static_cast<int32_t>(m_strDocument.size());
  m_nFirstChange = nLength;
  SizeElemPosForText(m_strDocument.size());

  if (nLength > 0) {
    const int32_t nInitialSize = GetElemPosSize();
    ElemPosAt(0) = ElemPos{};
    int32_t iTop = bFastPathFirst ? ParseCommonForms() : 0;
    if (iTop == 0) {
      // The general parse starts from the same state the fast path found.
      m_iNextFree = 1;
      m_aElemPos.resize(static_cast<size_t>(nInitialSize));
      ElemPosAt(0) = ElemPos{};
      iTop = ParseElement(0);
    }
    if (iTop > 0) {
      ElemPosAt(0).iFirstChild = iTop;
      ResetNavigation();
      return true;
    }
  }
  ElemPosAt(0) = ElemPos{};
  ResetNavigation();
  m_iNextFree = 1;
  return false;
}
