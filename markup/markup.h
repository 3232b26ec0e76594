// The XML document engine.
//
// CXmlDocument keeps a whole document as one string of UTF-16 code units and,
// beside it, an index of element positions: one ElemPos record per element,
// holding the offsets of its tags in the text and the indexes of its parent,
// first child and next sibling. There is no node tree and no copy of any name
// or value; every question is answered by looking at the text at the stored
// offsets, and every change is a splice of the text followed by a shift of the
// offsets. All offsets and lengths are counts of code units, never bytes.
//
// The engine knows nothing of files. Ordinary outcomes are results (true or
// false, 0 for "no such element", -1 with a message for a parse failure);
// only broken invariants throw: std::invalid_argument for a record index
// outside the index, std::bad_alloc when memory runs out.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "markup/markup_tokens.h"

// Position of one element in the text. For an element written as a single
// "<a/>" tag, nEndOpen is the '/' and nEndClose equals nStartClose.
struct ElemPos {
  int32_t nStartOpen;    // '<' that opens the start tag
  int32_t nStartClose;   // '>' that closes the start tag
  int32_t nEndOpen;      // '<' of the end tag ('/' of an empty-element tag)
  int32_t nEndClose;     // '>' that closes the end tag
  int32_t nReserved;     // always 0
  int32_t iParent;       // record of the parent, 0 for the top element
  int32_t iFirstChild;   // record of the first child element, 0 for none
  int32_t iNextSibling;  // record of the next sibling element, 0 for the last
};

// Allocator of the element index. A record that the index makes room for
// gets no value: sizing the index for a whole day's log touches none of its
// memory, and each record is written when AllocElemPos hands it out.
template <typename T>
struct CUnfilledAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = CUnfilledAllocator<U>;
  };
  CUnfilledAllocator() noexcept = default;
  template <typename U>
  CUnfilledAllocator(const CUnfilledAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible<U>::value) {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

using ElemPosIndex = std::vector<ElemPos, CUnfilledAllocator<ElemPos>>;

// Flags of LocateInsertPoint.
enum MarkupInsertFlags : int32_t {
  InsertBefore = 1,            // before the reference element, or as first child
  InsertNoWhitespaceSkip = 2,  // keep the offset off the following whitespace
};

class CXmlDocument {
 public:
  // Deeper nesting than this is reported as a parse error rather than
  // recursing further, so hostile text cannot exhaust the caller's stack.
  static constexpr int32_t kMaxNestingDepth = 1024;

  CXmlDocument();
  virtual ~CXmlDocument();
  CXmlDocument(const CXmlDocument&) = delete;
  CXmlDocument& operator=(const CXmlDocument&) = delete;

  // Installs a text and parses it into the element index. True when a top
  // element was parsed; false for an empty text, a text without elements, a
  // leading end tag or a parse error (message in GetParseError). The text is
  // kept in every case, and navigation starts again at the document level.
  // The text runs up to its first zero unit; null is an empty text.
  bool SetDocument(const char16_t* szText = nullptr);
  // The same, taking over the caller's string without copying it.
  bool SetDocument(std::u16string strText);

  // A copy of the whole text.
  std::u16string GetDocument() const;
  // The text itself, valid until the next change of the document.
  const std::u16string& ViewDocument() const noexcept { return m_strDocument; }
  // Lowest offset at which the text has changed since SetDocument (its
  // length while nothing has): the text before it is still the installed
  // one, so a caller writing the text back can leave that part alone.
  int32_t GetFirstChangedOffset() const noexcept { return m_nFirstChange; }
  // Takes the text as it is now for the installed one, as far as
  // GetFirstChangedOffset is concerned: for a caller that has written it back.
  void MarkUnchanged() noexcept { m_nFirstChange = static_cast<int32_t>(m_strDocument.size()); }
  // Message of the most recent parse failure; no success ever clears it.
  const std::u16string& GetParseError() const noexcept { return m_strLastError; }
  // Offset at which the most recent parse failure was detected.
  int32_t GetParseErrorOffset() const noexcept { return m_nErrorOffset; }

  // Navigation. FindNextElement moves to the next sibling of the current
  // element (or the first child of the current parent) whose name matches,
  // with the name comparison of MatchName; an empty or absent name takes the
  // next element whatever its name. EnterElement makes the current element the
  // parent; LeaveElement steps back out and returns false at the top level.
  int32_t LocateElement(int32_t iParent, int32_t iCurrent, const char16_t* szName) const;
  bool FindNextElement(const char16_t* szName = nullptr);
  void EnterElement();
  bool LeaveElement();
  int32_t GetCurrentElement() const noexcept { return m_iCurrent; }
  int32_t GetParentElement() const noexcept { return m_iParent; }

  // Reading. Data is the decoded text between the tags of an element without
  // child elements, or the exact content of a CDATA section standing alone.
  std::u16string GetTagName(int32_t iPos) const;
  std::u16string GetElementData(int32_t iPos) const;
  std::u16string GetCurrentData() const;
  std::u16string DecodeText(int32_t nStart, int32_t nEnd) const;

  // Adds an element at the current position: after the current element, or
  // as the last child of the current parent when there is none. Empty or
  // absent data gives the "<name/>" form. Each element is followed by CR LF.
  // False, with nothing changed, only for a second top element.
  bool AddElement(const char16_t* szName, const char16_t* szData = nullptr);

  // Bounds-checked access to a record; throws std::invalid_argument for an
  // index outside 0 .. size - 1 (the index size, not the records in use).
  ElemPos& ElemPosAt(int32_t i) {
    if (i < 0 || i >= GetElemPosSize()) ThrowIndexOutOfRange();
    return m_aElemPos[static_cast<size_t>(i)];
  }
  const ElemPos& ElemPosAt(int32_t i) const {
    if (i < 0 || i >= GetElemPosSize()) ThrowIndexOutOfRange();
    return m_aElemPos[static_cast<size_t>(i)];
  }

 protected:
  // Index management. Records beyond those in use hold no particular value;
  // a record handed out is all zero.
  int32_t AllocElemPos() {
    if (m_iNextFree == GetElemPosSize()) GrowElemPos();
    m_aElemPos[static_cast<size_t>(m_iNextFree)] = ElemPos{};
    return m_iNextFree++;
  }
  void GrowElemPos();
  void ResizeElemPos(int32_t nSize);
  // Sizes the index for a text of nUnits code units, in one allocation that
  // a log's parse never outgrows.
  void SizeElemPosForText(size_t nUnits);
  int32_t GetElemPosSize() const noexcept { return static_cast<int32_t>(m_aElemPos.size()); }

  // Parser. InstallDocument is SetDocument with the fast path optional, so
  // that the two parsers can be compared on the same text.
  bool InstallDocument(std::u16string strText, bool bFastPathFirst);
  int32_t ParseCommonForms();
  int32_t ParseElement(int32_t iParent, int32_t nDepth = 0);
  bool ReachedEndTag(int32_t iParent);
  // A look for a child at an end tag grows a full index as taking a record
  // would, without keeping one.
  void ProbeNextRecord() {
    if (m_iNextFree == GetElemPosSize()) {
      AllocElemPos();
      --m_iNextFree;
    }
  }
  int32_t ReportParseError(const char16_t* szFormat, const char16_t* szName = nullptr, int32_t nOffset = -1);

  // Insertion.
  void LocateInsertPoint(int32_t nFlags, int32_t iParent, int32_t& iSibling, int32_t& nOffset) const;
  static std::u16string EncodeText(const char16_t* szText);
  void ReplaceDocumentRange(int32_t nOffset, int32_t nLength, std::u16string_view strText);
  void ShiftPositions(int32_t iPos, int32_t nDelta);
  int32_t LastChildOf(int32_t iParent) const;

  [[noreturn]] static void ThrowIndexOutOfRange();
  void ResetNavigation() noexcept { m_iParent = m_iCurrent = m_iChild = m_nNodeKind = 0; }
  bool IsEmptyElement(const ElemPos& pos) const noexcept { return pos.nStartClose == pos.nEndOpen + 1; }
  bool HasNoContent(const ElemPos& pos) const noexcept { return pos.nStartClose + 1 == pos.nEndOpen; }

  std::u16string m_strDocument;    // the whole document text
  std::u16string m_strLastError;   // message of the most recent parse failure
  ElemPosIndex m_aElemPos;         // element index; record 0 is the document
  int32_t m_iParent = 0;           // element whose children are walked, 0: document level
  int32_t m_iCurrent = 0;          // current element among them, 0: none
  int32_t m_iChild = 0;            // current element one level down, 0: none
  int32_t m_iNextFree = 1;         // next free record = records in use
  int32_t m_nNodeKind = nodeNone;  // nodeElement while there is a current element
  int32_t m_nErrorOffset = -1;     // where the most recent parse failure was found
  int32_t m_iLastChildHint = 0;    // a child that ended its parent's list when recorded
  int32_t m_nFirstChange = 0;      // lowest offset changed since SetDocument

 private:
  // Steps of ParseElement. A name is kept as its place in the text: the parse
  // never changes the text, so there is nothing to copy.
  struct NameRange {
    int32_t nFirst;
    int32_t nLength;
  };
  // Reads the next start tag at the parent's scan position into record i:
  // 1 when read, 0 at the end tag of an enclosing element (record i given
  // back), -1 after an error.
  int32_t ReadStartTag(int32_t i, int32_t iParent, int32_t nDepth, NameRange& name);
  void RecordStartTag(int32_t i, int32_t iParent, int32_t nOpen, int32_t nStartClose);
  // Parses and links the children of record i: the last child, 0 for none,
  // -1 after an error.
  int32_t ParseChildren(int32_t i, int32_t nDepth);
  // Reads the end tag of record i at its scan position: i, or -1 after an
  // error. Any form other than "</name>" is read token by token.
  int32_t ReadEndTag(int32_t i, NameRange name);
  int32_t ReadEndTagTokens(int32_t i, NameRange name, int32_t nEndOpen);
  std::u16string CopyName(NameRange name) const;

  // Steps of AddElement.
  // Takes a record for a new element at nOffset and links it among the
  // current parent's children, after iSibling (first when 0).
  int32_t LinkNewElement(int32_t iSibling, int32_t nOffset);
  // The text of the new element, CR LF included; its record gets the offsets
  // that text will have once spliced in at its nStartOpen.
  std::u16string ComposeElementText(int32_t iNew, const char16_t* szName, const char16_t* szData);
  // Makes strText the replacement for the '/' of the empty current parent
  // and moves the parent's offsets as that splice will; the '/' offset.
  int32_t OpenEmptyParent(std::u16string& strText, bool bSlashBeforeSlash);
};
