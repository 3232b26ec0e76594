// Tokenizer and node scanner of the XML document engine.
//
// Nothing here converts a document into tokens ahead of time. A caller places a
// TokenCursor at an offset of the zero-terminated text and asks one routine
// what stands there. Every offset is a count of 16-bit code units; the zero
// code unit that ends the text (or one part-way through it) ends every scan.
#pragma once

#include <cstdint>
#include <string>

class CXmlDocument;

// Node kinds, each a distinct power of two. ScanNode returns exactly one.
enum MarkupNodeKind : int32_t {
  nodeNone = 0,                    // end of text, an end tag, or a node cut off
  nodeElement = 1,                 // the start tag of an element
  nodeText = 2,                    // character data with non-whitespace in it
  nodeWhitespace = 4,              // character data made only of whitespace
  nodeCData = 8,                   // <![CDATA[ ... ]]>
  nodeProcessingInstruction = 16,  // <? ... ?>, the XML declaration included
  nodeComment = 32,                // <!-- ... -->
  nodeDocType = 64,                // any other <! ... > declaration
};

// A scan position over one document text. A plain value that owns nothing;
// valid only while the text it points into is left unchanged.
struct TokenCursor {
  int32_t nTokenFirst = 0;          // first code unit of the token (inside the quotes)
  int32_t nTokenLast = -1;          // last code unit, inclusive; < nTokenFirst when empty
  int32_t nScanPos = 0;             // where the next NextToken or ScanNode begins
  const char16_t* pText = nullptr;  // zero-terminated text being scanned
  bool bQuoted = false;             // the token is a quoted value

  TokenCursor() = default;
  explicit TokenCursor(const char16_t* pStart, int32_t nPos = 0) : nScanPos(nPos), pText(pStart) {}
};

// Membership in the three fixed character sets, one table lookup each.
bool IsWhitespaceUnit(char16_t c);    // " \t\n\r"
bool IsDelimiterUnit(char16_t c);     // " \t\n\r<>=\\/?!"
bool IsNameFollowerUnit(char16_t c);  // " =/["

// Moves nPos over whitespace. True when a code unit other than the end of the
// text follows.
inline bool SkipWhitespace(int32_t& nPos, const char16_t* pText);

// Moves nPos to the next code unit equal to cTarget (starting with nPos
// itself), or to the end of the text. True when it stands on cTarget.
inline bool ScanToChar(int32_t& nPos, const char16_t* pText, char16_t cTarget);

// Reads the next token from nScanPos: a quoted value, a run of code units up
// to the next delimiter, or a single delimiter. False at the end of the text,
// with all three offsets set to the end.
inline bool NextToken(TokenCursor& cursor);

// The current token's text, cut off at the end of the document's text.
std::u16string GetTokenText(const TokenCursor& cursor, const CXmlDocument& doc);

// True when the token equals the first code units of szName and the name
// ends there or goes on with one of " =/[" ("item" matches "item[2]").
bool MatchName(const TokenCursor& cursor, const char16_t* szName);

// Classifies the node at nScanPos and steps over text, whitespace, comments,
// CDATA sections, processing instructions and declarations. Element start
// tags, end tags and unterminated nodes leave nScanPos where it was (an
// unterminated declaration leaves it at the end of the text).
MarkupNodeKind ScanNode(TokenCursor& cursor);

// The scanning primitives are defined inline: the parser calls them several
// times per element, and a call costs more than the scan itself.
#include "markup/markup_scan_inline.h"
