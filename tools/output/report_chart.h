// The timeline of `vardlix report`: the records per hour, or per day when
// they span more than three days, as bars stacked by type, drawn as SVG,
// with its legend. Each bar is a group
//
//   <g class="bar" data-bucket="2026-12-07 08:00" data-total="5">
//
// holding one <rect class="segment" data-type="Error" data-count="2"> per
// type that has records in it, so that a reader of the page (or a test)
// finds the numbers beside the drawing. A bar with records is focusable
// and acts as a button (the page's script filters the table to it). The
// time labels that a narrow screen hides have the class "wide".
#pragma once

#include <string>

#include "output/report_summary.h"

// The SVG and the legend, appended to the page. A summary without a record
// whose time reads gives a line that says so instead.
void AppendTimeline(std::string& strOut, const CReportSummary& summary);

// The colour a type is drawn in, from its name alone, so that it is the
// same in every report: a red for errors, an amber for warnings, any other
// hue for the rest (record_category.h).
std::string TypeColor(const std::string& strType);

// A count with thousands separated by commas ("12,345").
std::string FormatCount(size_t nCount);
