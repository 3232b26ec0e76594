// The page of `vardlix report`: one HTML file that holds all it shows (its
// styles, the timeline as SVG, the few lines of script that filter the
// table), so that it opens from disk in any browser and can go with a
// ticket. Its Content-Security-Policy lets it load nothing from anywhere.
//
// What it shows: the records per hour (per day when they span more than
// three days), stacked by type; the types, locations and operations with
// the most errors and warnings; the records in a table that the page
// filters by type and by text, the filter kept in the address
// ("report.html#type=Error&text=refused") so that a link shows the same.
// Text from the files is escaped, and its controls shown as the terminal
// shows them (MakeDisplayText).
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
