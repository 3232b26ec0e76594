// The journal of a commit that no single write can make (document_update.cpp).
//
// An update becomes visible with its commit: the write that replaces the
// bytes from the first one that changes up to the zero unit behind the old
// text. Where those bytes cross a 4 KiB page of the file, a killed process
// can leave the first page written and the second not (IsWriteAllOrNothing),
// and no reader could make sense of the text. Rather than copy the whole
// file to a temporary one (which a nearly full disk refuses), the update
// first appends to the file what those bytes are now:
//
//   zero unit | the saved bytes | offset of the first (8 bytes) |
//   number of saved bytes (8) | check (8) | "VxUndo1\0"
//
// all numbers little-endian, the check an FNV-1a over the offset, the count,
// the saved bytes and the journal's own offset in the file. Then it writes
// the commit in pieces that each lie within one page, and at last cuts the
// file at the new text's end, which takes the journal with it.
//
// Whoever finds a whole journal at the end of a file knows that a commit may
// be half made, and puts the saved bytes back: the file then reads as the
// old text with the rest of the update behind a zero unit, which is cut like
// any other remains of an interrupted update. The record being written when
// the process died is lost; every record whose call returned is kept. A
// journal cut short by a kill is no journal, and then the commit had not
// begun. The zero unit at the journal's start stops readers there meanwhile.
//
// Anyone can compute the check, so a journal is believed only where it fits
// the file the way the writer leaves it. Of the saved range [S, E) and the
// journal at J, the writer makes sure that:
//
//  - 2 <= S < E <= J, and E and J are even: the range lies in the text
//    after the byte-order mark, and ends on a code unit, in front of the
//    journal. (S itself may be odd: it is the first byte that differs.)
//  - The range ends at the zero unit the commit guards. An update that
//    grows the text saves the old text from S on and the zero unit behind
//    it, which step 1 wrote: the saved bytes end in that zero unit, hold no
//    other, and the file's text stops there until the commit is whole. An
//    update that shrinks the text (or keeps its length) saves old text only,
//    up to and including the unit where the commit puts its zero unit, and
//    the text runs on to J.
//  - The commit has not been completed: its last piece, a page's part or
//    less, goes in last and in one write, which a failing write cuts to its
//    first half at most, so the second half of that piece still holds the
//    saved bytes. A commit that is whole needs no journal: its text is the
//    new one, and the journal is what an interrupted update left behind it.
//  - A growing update starts at the first byte that differs from the old
//    text, which is no earlier than the end of the old text's last record:
//    records go in at the root's end tag, and a move note behind the
//    records. No "</记录>" of the text ends after S, and the commit, like the
//    saved range, spans at most two pages (14 bytes for a record).
//  - A shrinking update is the rewrite of a pending file after a stopped
//    move (the records already moved leave its front, so S may lie at its
//    first record and the range run to the new end), or of the settings
//    file. Its saved bytes are old text, which the writer never ends early:
//    they hold no root end tag "</日志>" other than the text's own last one,
//    which ends with CR LF at J.
//
// A journal that breaks any of these is no journal: the bytes from its zero
// unit on are remains to cut, and its saved bytes never replace a record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform_files.h"

struct CCommitJournal {
  uint64_t m_nJournalAt = 0;  // where the journal starts (its zero unit)
  uint64_t m_nSavedAt = 0;    // where the saved bytes belong
  std::string m_strSaved;     // the bytes as they were before the commit
};

// The bytes of a journal for strSaved, which belongs at nSavedAt, to be
// written at nJournalAt, the file's end.
std::string BuildCommitJournal(uint64_t nJournalAt, uint64_t nSavedAt, std::string_view strSaved);

// Reads the journal at the end of an open file; false when the file does
// not end in a whole one that fits the file as described above. Raises
// CFileException when reading fails.
bool FindCommitJournal(CFile& file, CCommitJournal& journal);

// Puts the saved bytes back into the file and cuts the journal off, so that
// the file holds the old text again; false when there was no journal to
// believe (FindCommitJournal), and then nothing was written. A
// process killed meanwhile leaves the journal for the next one. Raises
// CFileException.
bool RollBackCommit(CFile& file);
