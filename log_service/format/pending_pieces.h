// A large pending file, read and noted a piece at a time (pending_log.h), so
// that moving its records never holds more than a piece of them in memory.
//
// Only a file laid out as the library writes one qualifies: UTF-16LE behind
// the byte-order mark, the declaration and the root's start tag, then the
// records, then nothing but move notes and the root's end tag (or what a
// note's interrupted write left of them). Everything else is read whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "format/host_record.h"
#include "format/pending_log.h"
#include "platform/platform_files.h"

class CPendingPieces {
 public:
  explicit CPendingPieces(CFile& file) : m_file(file) {}
  CPendingPieces(const CPendingPieces&) = delete;
  CPendingPieces& operator=(const CPendingPieces&) = delete;

  // Reads the file's head and its last bytes: where its records begin and
  // end, and the complete notes behind them. False when the file is not laid
  // out as above, or the notes take more than the last 64 KiB. Raises
  // CFileException when reading fails.
  bool Open();
  // The complete notes behind the last record, in file order.
  const std::vector<CMoveNote>& Notes() const { return m_aNotes; }
  // Byte offset of the first record, and behind the last one.
  uint64_t RecordsStart() const { return m_nRecordsStart; }
  uint64_t RecordsEnd() const { return m_nRecordsEnd; }

  // Reads the records from byte nFrom (where a record begins) on: as many
  // whole ones as about nMaxUnits of text hold, but at least one, and at most
  // nMaxRecords. nEnd receives the byte offset behind the last one read, and
  // *pNotes, when given, the notes among them (a record added to the file
  // after a move stopped stands behind that move's note). False when that
  // text does not read as records and notes. Raises CFileException when
  // reading fails.
  bool ReadPiece(uint64_t nFrom, size_t nMaxUnits, size_t nMaxRecords, const std::u16string& strDate,
                 std::vector<CHostRecord>& aRecords, uint64_t& nEnd, std::vector<CMoveNote>* pNotes = nullptr);

  // Writes the note behind the notes there, followed by the root's end tag,
  // and cuts whatever was behind. A write that a kill cuts short leaves a
  // note that is not complete, which Open does not take for one. Raises
  // CFileException.
  void AppendNote(const CMoveNote& note);

 private:
  std::u16string ReadText(uint64_t nFrom, uint64_t nTo);
  bool ReadTail();

  CFile& m_file;
  uint64_t m_nRecordsStart = 0;  // byte offsets in the file
  uint64_t m_nRecordsEnd = 0;
  uint64_t m_nNotesEnd = 0;  // behind the last complete note: where the next one goes
  std::vector<CMoveNote> m_aNotes;
};
