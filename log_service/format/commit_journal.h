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
// not end in a whole one. Raises CFileException when reading fails.
bool FindCommitJournal(CFile& file, CCommitJournal& journal);

// Puts the saved bytes back into the file and cuts the journal off, so that
// the file holds the old text again; false when there was no journal. A
// process killed meanwhile leaves the journal for the next one. Raises
// CFileException.
bool RollBackCommit(CFile& file);
