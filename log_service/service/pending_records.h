// The records of a day that wait in pending files (pending_log.h) while
// another program holds the day's file, as the library's writer fills those
// files and moves their records into the day's file.
//
// Records whose call returned live on disk, not in memory: a host that ends,
// is killed or unloads the library loses none of them, and the next call of
// any process that gets the day's file moves them in, ahead of its own
// record, exactly once (the move note of pending_log.h).
//
// A day has the day's pending file, which every process adds to, and for
// each process that found that one held (or found something else at its
// name: a link, a pipe, a file that is no log) an own pending file, which
// only that process adds to. A process that has records in its own file
// puts its later ones there too, so that none overtakes another; a mover
// takes the day's file first, then the day's pending file, then its own.
//
// A pending file takes records while its text is shorter than
// kMaxPendingUnits; past that, and when it cannot be written at all (no
// right to write, a full disk), a record is lost.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "format/host_record.h"
#include "format/log_records.h"
#include "format/pending_log.h"
#include "format/pending_pieces.h"
#include "platform/platform_files.h"

// 32 MiB of UTF-16 text: some 70,000 records of the usual size.
constexpr size_t kMaxPendingUnits = 16 * 1024 * 1024;
// A pending file longer than this many code units moves in pieces of about
// this size (pending_pieces.h); a quarter of the bound keeps a piece, parsed
// and read out as records, within the bound. Tests make it small.
extern size_t g_nMovePieceUnits;

// The day's pending file, and this process's own pending file of the day.
std::u16string DayPendingPath(const std::u16string& strDate);
std::u16string OwnPendingPath(const std::u16string& strDate);

// Where AppendPendingRecord put a record.
enum PendingOutcome {
  pendingKept,     // in a pending file of its day, on disk
  pendingBlocked,  // the pending file it must go to is held by another
                   // program now: worth another try, nothing was written
  pendingLost,     // no pending file can take it for a lasting reason (no
                   // right to write, no room, the bound reached)
};

// Puts the record behind those waiting for its day (see the top of this
// file): into this process's own pending file when that exists; else into
// the day's pending file, unless bSkipDayPending (its holder was just
// waited for) or it is held or is no file the library may write, and then
// into the own one, which is made when there is none. nWait tells whether
// another opener of the file is waited for. Never raises CFileException.
PendingOutcome AppendPendingRecord(const CHostRecord& record, bool bSkipDayPending, FileWait nWait);

// One pending file of a day, taken by a writer of the day's file, which
// holds the day's file already.
class CPendingRecords {
 public:
  CPendingRecords(const std::u16string& strDate, const std::u16string& strPath);
  CPendingRecords(const CPendingRecords&) = delete;
  CPendingRecords& operator=(const CPendingRecords&) = delete;

  enum TakeResult {
    pendingNone,     // nothing waits in it
    pendingTaken,    // open, its records and note read
    pendingHeld,     // a file that cannot be opened: another program keeps
                     // it, or it may not be read; it may hold records
    pendingForeign,  // a folder, a link, a pipe or a device at that name, or
                     // a file whose text is no log (and no pending file that
                     // breaks off): no records to move; never opened for
                     // writing, never followed, left alone
  };
  // Opens the pending file and reads it, waiting for another writer of the
  // library as nWait allows. Raises CFileException when reading fails.
  TakeResult Take(FileWait nWait);

  // Forgets the records that the file's notes say are in strDayText
  // already: moves that were stopped after they wrote them.
  void SettleNote(std::u16string_view strDayText);
  // Makes the next piece of records to move the current one: all of the
  // file's remaining records at once, or, for a large file, the next piece
  // of them. False when none is left. Raises CFileException when a piece
  // no longer reads as records.
  bool TakePiece();
  // Whether records wait behind the current piece (a large file only): the
  // day's file must take the current piece before the next is read.
  bool HasMorePieces() const;
  // Whether the file moves in pieces.
  bool InPieces() const { return m_bPieces; }
  // The records of the current piece, oldest first.
  const std::vector<CHostRecord>& Records() const { return m_aRecords; }
  // Notes in the file that the current piece is about to go into the day's
  // text, where strDayText holds it at [nOffset, nOffset + nLength).
  // Raises CFileException, with the file as it was.
  void WriteNote(std::u16string_view strDayText, size_t nOffset, size_t nLength);
  // Removes the file once the day's file holds its records. A file that
  // cannot be removed keeps its note, and the next writer removes it.
  void Remove() noexcept;

 private:
  // A pending file whose text breaks off (cut short, or damaged past some
  // point) gives up the complete records before the break: its whole text
  // is kept aside as "<name>.<process>.<time>.damaged", and the file is
  // made again of those records (and its note). False when it holds none,
  // or nothing could be kept aside: the file is then left alone.
  bool RecoverBrokenFile();
  // Takes a large file in pieces where every piece reads as records.
  bool OpenInPieces();
  void SettlePieces(std::u16string_view strDayText);
  void WritePieceNote(std::u16string_view strDayText, size_t nOffset, size_t nLength);

  std::u16string m_strDate;             // date stamp of the day
  std::u16string m_strPath;             // the pending file
  CFile m_file;                         // open while taken
  COpenLog m_log{m_file, m_strPath};    // its text as read
  std::vector<CHostRecord> m_aRecords;  // records still to move
  bool m_bSettled = false;              // records a stopped move wrote were forgotten
  std::vector<CMoveNote> m_aNotes;      // the file's notes
  bool m_bPieceTaken = false;           // whole file: its records are the current piece
  bool m_bPieces = false;               // a large file, moved in pieces:
  CPendingPieces m_pieces{m_file};      //   read and noted through this,
  uint64_t m_nNextPiece = 0;            //   the next records from this byte on,
  uint64_t m_nPieceEnd = 0;             //   the current piece's end,
  int64_t m_nMoved = 0;                 //   the number of records before the next
};
