// Memory for a whole document: its text and its element index.
//
// A busy day's log is tens of megabytes, and every load reads it into fresh
// memory. Taken in pages of 4 KiB, such a block costs one page fault per page
// (about 9,000 for a text of 37 MB), and at that size the faults, not the
// parse, are most of a load's time. Where the system offers pages of 2 MiB on
// request, a large block asks for them: the same memory then takes a few
// dozen faults. Nothing is kept between loads.
#pragma once

#include <cstddef>
#include <string>

// Blocks smaller than this keep the system's ordinary pages: they mostly come
// from memory the allocator already holds, which is faulted in already.
constexpr size_t kLargeBlockBytes = size_t{8} << 20;

// Asks for large pages for the whole 2 MiB spans inside [p, p + nBytes), on
// Linux and for a block of kLargeBlockBytes or more; elsewhere, and where the
// system declines, nothing changes. Call it before the block is first
// written. Never fails; the memory's content is unchanged.
void AdviseLargeBlock(void* p, size_t nBytes) noexcept;

// Makes strText an empty string with room for nUnits code units, advised as
// above, ready to be filled without moving: the one allocation of a text
// that a reader of a file fills.
void ReserveDocumentText(std::u16string& strText, size_t nUnits);
