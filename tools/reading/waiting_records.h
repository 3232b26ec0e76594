// Records that wait beside a day's file: the library puts a record into the
// day's pending file, or a process's own pending file of the day
// (log_layout.h), while another program holds the day's file, and moves it
// in with a later call. A reader of the day shows them after the day's own
// records, each once.
#pragma once

#include <string>
#include <vector>

#include "reading/log_record.h"

// The pending file of the day's file at strDayPath: the same folder, the
// day's name with ".pending" for ".xml". Empty when strDayPath names no day's
// file.
std::string PendingPathFor(const std::string& strDayPath);

// The records waiting in the pending files of the day's file at strDayPath,
// in the order the library moves them (the day's pending file, then the
// processes' own by name), each file's in call order: all of them but those
// that a move stopped after putting them into the day's file (its note says
// which, and the day's text confirms it record for record). Their m_strFile
// is the pending file's name. Empty when nothing waits.
std::vector<CLogRecord> ReadWaitingRecords(const std::string& strDayPath);
