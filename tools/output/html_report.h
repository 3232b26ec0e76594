// The page of `vardlix report`: one HTML file that holds all it shows (its
// styles, the timeline as SVG, the few lines of script that filter the
// table), so that it opens from disk in any browser and can go with a
// ticket. Its Content-Security-Policy lets it load nothing from anywhere.
//
// What it shows: the records per hour (per day when they span more than
// three days), stacked by type, each type in a colour of its own name;
// the types, locations and operations with the most errors and warnings;
// the records in a table of 100 rows a page, taken from the whole period
// (report_summary.h) with a note of what was left out. The page filters
// the table by type, by text, to errors only and to the hour of a bar
// clicked, and sorts it by a column; the filter is kept in the address
// ("report.html#type=Error&errors=1&hour=2026-12-07%2014:00&text=refused")
// so that a link shows the same. Long records show two lines until opened.
// Below 640 px each record is a block and the timeline's labels grow, so
// that a phone shows it without sideways scrolling. Text from the files is
// escaped, and its controls shown as the terminal shows them
// (MakeDisplayText).
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "output/report_summary.h"

struct CReportPage {
  std::string m_strFolder;            // the log folder, as given
  std::vector<std::string> m_aFiles;  // the day files read, in order
  std::vector<std::string> m_aNotes;  // what the reading warned of
  std::string m_strMade;              // when the report was made, local time
};

void WriteHtmlReport(const CReportSummary& summary, const CReportPage& page, std::ostream& out);
