// Records that could not be written yet, kept in call order until a later
// call can open their file.
//
// A program that holds a day's file open without letting the library write
// (an office program or a .NET reader showing it, a virus scanner, or for a
// moment another writer of the library) must cost the host neither time nor
// records: the call keeps its record here and returns, and the next call that
// gets the file writes everything kept, oldest first. So does the unload of
// the library while the process goes on.
//
// What stays in the queue is bounded: kMaxPendingRecords records or
// kMaxPendingUnits code units of text, whichever comes first. Past the bound
// a new record is dropped (and counted), so the file still shows an unbroken
// stretch of the host's calls up to the moment the bound was reached.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "host_record.h"

constexpr size_t kMaxPendingRecords = 10000;
constexpr size_t kMaxPendingUnits = 2 * 1024 * 1024;  // 4 MiB of UTF-16 text

class CPendingRecords {
 public:
  // Puts the record behind those kept already, whatever its size: a call
  // first tries to write it with the others.
  void Add(CHostRecord&& record);
  // Drops records from the back, the newest first, until the queue is
  // within its bound again; they are counted.
  void DropPastBound();

  bool IsEmpty() const { return m_aRecords.empty(); }
  size_t GetCount() const { return m_aRecords.size(); }
  const CHostRecord& At(size_t nIndex) const { return m_aRecords[nIndex]; }
  // How many records from the front share the first one's day, and so go to
  // one file together. 0 when empty.
  size_t CountFrontDay() const;
  // Forgets the first nCount records (written, or dropped for good).
  void RemoveFront(size_t nCount);
  void Clear();
  // Records dropped at the bound since the start.
  uint64_t GetDroppedCount() const { return m_nDropped; }

 private:
  std::deque<CHostRecord> m_aRecords;  // oldest first
  size_t m_nUnits = 0;                // text held, in code units
  uint64_t m_nDropped = 0;            // refused at the bound
};
