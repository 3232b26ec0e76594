// How a document file of the library is read, created and updated.
//
// Every document file starts with the byte-order mark FF FE and holds its
// text as UTF-16LE. Reading takes the text up to its first zero unit (narrow
// text of the platform where there is no mark); writing keeps the file
// readable, as its old text or its new one, at every moment: a file is
// created whole or not at all, and an update either shows its new text in
// full or leaves the old one readable (see document_update.cpp).
#pragma once

#include <string>
#include <string_view>

#include "platform/platform_files.h"

constexpr unsigned char kByteOrderMark[2] = {0xFF, 0xFE};
// A big-endian build swaps each code unit on the way in and out.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool kLittleEndian = false;
#else
constexpr bool kLittleEndian = true;
#endif

// Whole content of an open file as text, read from its first byte: UTF-16LE
// after the byte-order mark FF FE (an odd last byte is ignored), otherwise
// narrow text decoded by the platform. Either way the text ends at its first
// zero. A UTF-16 file whose commit a kill may have cut is read with the bytes
// its journal saved (commit_journal.h): as its old text. The file stays
// open. Raises CFileException when reading fails.
// *pbUnreadData, when given, tells whether in a UTF-16 file a byte other than
// zero follows that first zero unit: content the text does not show. (Narrow
// text is not looked at: behind its first zero byte an interrupted rewrite
// into UTF-16 leaves its own bytes, which the next update replaces.)
std::u16string ReadDocumentFile(CFile& file, bool* pbUnreadData = nullptr);
// Whether an open file starts with FF FE; leaves it positioned after those
// two bytes. Raises CFileException when reading fails.
bool StartsWithByteOrderMark(CFile& file);
// Offset of the zero unit that ends the text of an open UTF-16 file, when
// the file goes on behind the text: where the bytes begin that a reader does
// not take, such as the remains of an interrupted update. 0 when the text
// runs to the end of the file (an odd last byte aside), and for narrow text.
// Reads the file a piece at a time, without holding it whole. Raises
// CFileException when reading fails.
uint64_t LocateUnreadBytes(CFile& file);
// Writes FF FE and the text as UTF-16LE from the file's first byte, cuts the
// file at the end of what was written when it was longer, and closes it.
// Raises CFileException when writing fails.
void WriteDocumentFile(CFile& file, std::u16string_view strText);

enum CreateDocumentResult {
  documentCreated,     // the file now holds the text
  documentExists,      // a file of that name was there already; it is untouched
  documentNotCreated,  // it could not be made; nothing was left behind
  documentHeld,        // as documentNotCreated, because another program held
                       // the temporary file; worth trying again later
};

// Creates the document file strPath holding strText, only where no file of
// that name exists yet. The text is written under a temporary name beside it
// (strPath + "." + process number + ".tmp") and then takes the name without
// replacing anything, so other readers never see the file empty or half
// written. nWait tells whether its steps may wait for another opener of the
// temporary file (a scanner, see CFile::Rename). Never raises
// CFileException; raises std::bad_alloc.
CreateDocumentResult CreateDocumentFile(const std::u16string& strPath, std::u16string_view strText,
                                        FileWait nWait = waitForHolder);

// Replaces the content of the document file strPath, open in file for reading
// and writing, by strText. nOldUnits is the length of the text that
// ReadDocumentFile read from it, and the first nUnchangedUnits code units of
// strText are known to be that text's own. Only what differs from the old
// file is written, in an order that keeps the file readable, as its old text
// or its new one, at every moment (see document_update.cpp). When a write
// fails, the old bytes are put back and the old length restored, and the
// CFileException is raised again. The file stays open.
void UpdateDocumentFile(CFile& file, const std::u16string& strPath, size_t nOldUnits, size_t nUnchangedUnits,
                        std::u16string_view strText);
