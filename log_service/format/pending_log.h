// The pending file of a day and the note that moves its records into the
// day's file exactly once.
//
// A pending file (log_layout.h) has the format of a day's file: the
// declaration, the root "日志" and one "记录" per record, in call order. Its
// records go into the day's file, behind the records there, as soon as a
// writer gets that file; then the pending file is removed. A writer stopped
// between the two (killed, or a failed write) must leave neither a lost nor
// a doubled record, and the day's file has no room for marks. So before the
// day's file is written, the mover notes in the pending file which records
// go and where their text will stand:
//
//   <迁移>
//   <记录数>3</记录数>                 the first 3 records of the pending file
//   <起点>12345</起点>                 their text starts at this code unit of
//                                      the day's text
//   <长度>678</长度>                   and is this many code units long
//   <校验>89ab01cd23ef4567</校验>      FNV-1a (64 bits) of that text in hex
//   </迁移>
//
// The note is a child of the root, written behind the last record (and read
// wherever among the root's children it stands). The next writer of the day's
// file reads it: where the day's text holds the noted text at the noted
// place, and that text is exactly the pending file's first noted records,
// field for field, the noted records are in and only the rest is moved;
// otherwise all of them are. The check alone proves nothing (anyone can
// compute it), and a note that named other text would give records away: a
// record is forgotten only where the day's file shows that very record
// (HoldsMovedRecords). No one writes the day's file between a note and its
// reading, because every writer of a day's file takes the day's pending files
// first and settles their notes before adding anything. When several pending
// files move in one commit, each note names its own file's records, which
// stand behind those of the file moved before it.
//
// A large pending file moves in pieces, one commit of the day's file each,
// so that a mover never holds more than a piece of its records. Each piece
// gets its own note, behind the notes before it, which names where the piece
// starts among the file's records:
//
//   <迁移>
//   <首条>5000</首条>                  the piece starts at the file's record
//   <记录数>4000</记录数>              5000 (counted from 0) and holds 4000
//   ...
//
// A note without "首条" starts at the first record. The notes of a file are
// read in their order, and each is believed where it starts at the end of the
// records believed moved so far and HoldsMovedRecords; one that is not is
// passed over (CountMovedRecords). The vardlix tool believes
// notes by the same test, so that it shows each record once; it changes no
// file, so what it leaves out of a listing stays on disk.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/host_record.h"

class CXmlDocument;

struct CMoveNote {
  int64_t m_nFirst = 0;      // the first of them, counted from 0 in the pending file
  int64_t m_nRecords = 0;    // how many records, from the first, are moved
  int64_t m_nOffset = 0;     // where their text starts in the day's text, in code units
  int64_t m_nLength = 0;     // its length in code units
  uint64_t m_nChecksum = 0;  // ChecksumText of it
};

// FNV-1a over the code units of strText, low byte first.
uint64_t ChecksumText(std::u16string_view strText);

// The note for nRecords records whose text is strDayText's units
// [nOffset, nOffset + nLength).
CMoveNote MakeMoveNote(std::u16string_view strDayText, int64_t nRecords, int64_t nOffset, int64_t nLength);
// Whether strDayText holds the noted text at the noted place: the noted
// records are in the day's file.
bool IsMoveDone(std::u16string_view strDayText, const CMoveNote& note);
// Whether the note is to be believed: IsMoveDone, and the noted text consists
// of exactly note.m_nRecords records, equal field for field to the first ones
// of the nWaiting at pWaiting (the pending file's records from the note's
// first one on, in file order).
bool HoldsMovedRecords(std::u16string_view strDayText, const CMoveNote& note, const CHostRecord* pWaiting,
                       size_t nWaiting);
// How many of the pending file's records aWaiting (all of them, in file
// order) the notes aNotes (in file order) show in the day's text, from the
// first on: each note is believed where it starts at the end of those
// believed before it and HoldsMovedRecords.
size_t CountMovedRecords(std::u16string_view strDayText, const std::vector<CMoveNote>& aNotes,
                         const std::vector<CHostRecord>& aWaiting);

// A pending file whose text breaks off (cut short, or damaged past some
// point) still holds the records before the break. strWhole receives the
// text up to the end of its last complete record or note, closed by the
// root's end tag, which parses as a log. False when the text does not begin
// as the library writes a log (declaration, then the root), or holds no
// complete record.
bool RecoverPendingText(std::u16string_view strText, std::u16string& strWhole);

// The notes of a parsed pending file, in file order; a note that does not
// read as its numbers is left out. The document's position does not move.
std::vector<CMoveNote> ReadMoveNotes(CXmlDocument& doc);
// Adds the note where the next element goes (AddElement): the library adds
// it inside the root behind the last record. The note is then the current
// element.
void AddMoveNote(CXmlDocument& doc, const CMoveNote& note);
