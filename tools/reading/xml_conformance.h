// What XML 1.0 readers refuse in a text that the engine reads.
//
// The engine is lenient: it takes a bare '&', a reference to an entity
// nobody declared, attributes without quotes or given twice, '<' inside an
// attribute value, "--" inside a comment, and it keeps a character
// reference such as "&#x1B;" as the text it is. A file the library did not
// write can hold any of these and still read as a day's log, while every
// standard parser rejects it (or, for character references, reads other
// data than the library does). check names them; the XML export writes the
// records that hold them again from their decoded fields.
//
// The rules are XML 1.0 (fifth edition) well-formedness without a DTD's
// validity: names, tags and attributes, references, comments, processing
// instructions, CDATA sections, one top element. Entities declared in the
// internal subset of a DOCTYPE count as defined. Characters that XML 1.0
// forbids are xml_characters.h's business.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

enum XmlProblem : int {
  xmlBareAmpersand,          // '&' that begins no reference
  xmlUndefinedEntity,        // "&name;" other than the five XML defines and those the document declares
  xmlBadCharacterReference,  // "&#...;" of a character XML 1.0 forbids, or beyond U+10FFFF
  xmlUnquotedAttribute,      // an attribute value without quotes, or a name without a value
  xmlDuplicateAttribute,     // the same attribute twice in one tag
  xmlLessThanInAttribute,    // '<' inside an attribute value
  xmlDoubleHyphenInComment,  // "--" inside a comment, or one that ends "--->"
  xmlCDataEndInText,         // "]]>" in character data
  xmlBadName,                // a tag, attribute or instruction name XML does not allow
  xmlMalformedMarkup,        // any other tag, comment or declaration XML does not allow
  xmlMismatchedEndTag,       // an end tag other than the open element's, or an element left open
  xmlMisplacedDeclaration,   // "<?xml" after the start, a DOCTYPE after the top element began
  xmlOutsideTopElement,      // text, CDATA or a second element outside the top element
  kXmlProblemCount,
};

// How many of each kind, and where the first one of each starts (code units
// from the start of the text).
struct CXmlProblems {
  std::array<size_t, kXmlProblemCount> m_aCount{};
  std::array<size_t, kXmlProblemCount> m_aFirst{};

  bool Any() const;
};

// The problems of a whole document text (without byte-order mark). Records
// in the library's own form are looked at only for their references and
// "]]>", so a day's log is read about as fast as it is searched.
CXmlProblems FindXmlProblems(std::u16string_view strText);

// Whether a record's XML ("<记录>" through "</记录>") can stand as it is in
// an export that standard parsers read: they accept it, and read each of
// the six fields as the engine does. That is not so when a field holds a
// character reference or a declared entity (the engine keeps them as
// text), a comment, an instruction or an element (the engine reads them as
// text, or the field as empty), text beside a CDATA section, or when a
// field is given twice. A missing field is missing in both. Line ends aside: every XML reader turns
// CR LF into LF. Characters XML 1.0 forbids are not looked at here.
bool ReadsAlikeInXml(std::u16string_view strMarkup);
