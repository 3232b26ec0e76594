// A document whose internals tests may look at and drive directly.
#pragma once

#include <ostream>
#include <string>
#include <tuple>

#include "markup/markup.h"
#include "support/test_text.h"

class CTestDocument : public CXmlDocument {
 public:
  using CXmlDocument::AllocElemPos;
  using CXmlDocument::EncodeText;
  using CXmlDocument::GetElemPosSize;
  using CXmlDocument::InstallDocument;
  using CXmlDocument::LocateInsertPoint;
  using CXmlDocument::ReplaceDocumentRange;
  using CXmlDocument::ShiftPositions;

  int32_t NextFree() const { return m_iNextFree; }
  void SetNextFree(int32_t n) { m_iNextFree = n; }
  int32_t Child() const { return m_iChild; }
  int32_t LastChildHint() const { return m_iLastChildHint; }
  // The fast path alone on a text: its top element, 0 where it gives up.
  int32_t ParseWithFastPathOnly(std::u16string strText) {
    InstallDocument(std::move(strText), false);
    m_iNextFree = 1;
    ElemPosAt(0) = ElemPos{};
    return ParseCommonForms();
  }
  int32_t NodeKind() const { return m_nNodeKind; }
  void SetNavigation(int32_t iParent, int32_t iCurrent) {
    m_iParent = iParent;
    m_iCurrent = iCurrent;
    m_iChild = 0;
    m_nNodeKind = iCurrent != 0 ? nodeElement : nodeNone;
  }
};

// The four offsets and three links of a record, for whole-record comparisons.
struct RecordView {
  int32_t nStartOpen, nStartClose, nEndOpen, nEndClose, iParent, iFirstChild, iNextSibling;
  bool operator==(const RecordView& o) const {
    return std::tie(nStartOpen, nStartClose, nEndOpen, nEndClose, iParent, iFirstChild, iNextSibling) ==
           std::tie(o.nStartOpen, o.nStartClose, o.nEndOpen, o.nEndClose, o.iParent, o.iFirstChild, o.iNextSibling);
  }
};

inline RecordView ViewOf(const ElemPos& p) {
  return {p.nStartOpen, p.nStartClose, p.nEndOpen, p.nEndClose, p.iParent, p.iFirstChild, p.iNextSibling};
}

inline std::ostream& operator<<(std::ostream& os, const RecordView& r) {
  return os << "{" << r.nStartOpen << "," << r.nStartClose << "," << r.nEndOpen << "," << r.nEndClose << " parent "
            << r.iParent << " first " << r.iFirstChild << " next " << r.iNextSibling << "}";
}
