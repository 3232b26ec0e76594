// A host's text as a log's element data: the characters that XML 1.0 does
// not allow in a document, written as visible stand-ins.
//
// The host passes any UTF-16 units: a colour code (ESC), a bell, a form
// feed, U+FFFF, or a lone surrogate (a Python str may hold one). One such
// character written raw makes the whole day's file unreadable to standard
// XML readers, and stays there for the rest of the day. So a stand-in takes
// its place, one unit for one:
//   - a C0 control other than TAB, LF and CR becomes its control picture,
//     U+2400 plus its code (ESC becomes U+241B);
//   - U+FFFE, U+FFFF and each surrogate without its partner become U+FFFD.
// Everything else stays as the host passed it: pairs (characters beyond
// U+FFFF), TAB, LF, CR, DEL and the C1 controls, which XML 1.0 allows. The
// document engine escapes markup; it keeps every unit it is given.
#pragma once

#include <string>
#include <string_view>

// The first control picture: C0 control c is shown as kFirstControlPicture + c.
constexpr char16_t kFirstControlPicture = 0x2400;

// Whether XML 1.0 allows every character of strText: nearly every host
// text, which then goes into the document without a copy.
bool IsXmlText(std::u16string_view strText);

// strText with each character that XML 1.0 forbids replaced by its stand-in;
// the result has as many units as strText. Text already made so comes back
// unchanged.
std::u16string MakeXmlText(std::u16string_view strText);
