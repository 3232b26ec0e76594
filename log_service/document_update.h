// Writing the library's document files so that a failed write, or the end of
// the process part-way through one, never leaves a broken file behind: a
// file is created whole or not at all, and an update either shows its new
// text in full or leaves the old one readable.
#pragma once

#include <string>
#include <string_view>

#include "platform_files.h"

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
