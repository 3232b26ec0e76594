#include "output/html_report.h"

#include <unordered_map>

#include "output/html_text.h"
#include "output/report_chart.h"
#include "reading/time_stamp.h"

namespace {

constexpr size_t kTopNames = 10;  // rows of each list of errors and warnings

// Everything the page needs is in it; the policy lets it fetch nothing.
const char kHead[] = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="generator" content="vardlix report">
)";

const char kStyle[] = R"(<style>
body { font-family: system-ui, "Segoe UI", "Noto Sans", "PingFang SC", "Microsoft YaHei", "Noto Sans CJK SC",
       "WenQuanYi Zen Hei", sans-serif; margin: 1.5em; color: #212529; background: #fff; font-size: 14px; }
h1 { font-size: 1.5em; margin: 0 0 .3em; } h2 { font-size: 1.15em; margin: 1.6em 0 .5em; }
.facts { margin: 0; color: #495057; } .facts b { color: #212529; }
.notes { color: #a61e4d; }
svg.timeline { width: 100%; max-width: 960px; height: auto; display: block; }
svg .grid { stroke: #e9ecef; } svg text { font-size: 11px; fill: #495057; }
svg text.y { text-anchor: end; } svg text.x { text-anchor: middle; } svg text.day { font-weight: 600; }
.legend { list-style: none; padding: 0; display: flex; flex-wrap: wrap; gap: .3em 1.2em; }
.swatch { display: inline-block; width: .9em; height: .9em; border-radius: 2px; margin-right: .35em;
          vertical-align: -.1em; }
.n { color: #868e96; }
.lists { display: flex; flex-wrap: wrap; gap: 1.5em; align-items: flex-start; }
.lists table { border-collapse: collapse; min-width: 16em; }
table th { text-align: left; font-weight: 600; border-bottom: 2px solid #dee2e6; padding: .25em .6em; }
table td { border-bottom: 1px solid #f1f3f5; padding: .25em .6em; vertical-align: top; }
td.num, th.num { text-align: right; font-variant-numeric: tabular-nums; }
#filter { display: flex; flex-wrap: wrap; gap: .4em 1em; align-items: center; margin: .5em 0; }
#filter input[type=search] { font: inherit; padding: .2em .4em; min-width: 18em; }
#rows { border-collapse: collapse; width: 100%; }
#rows td.time { white-space: nowrap; font-variant-numeric: tabular-nums; }
#rows td.text { white-space: pre-wrap; word-break: break-word; }
#rows tr.error td.type { color: #c92a2a; font-weight: 600; } #rows tr.warning td.type { color: #b86e00; font-weight: 600; }
#rows tr.error { background: #fff5f5; } #rows tr.warning { background: #fff9db; }
</style>
)";

// Filters the table by the ticked types and the text, and keeps the filter
// in the address; an address that comes with one sets it first.
const char kScript[] = R"(<script>
(function () {
  var rows = Array.prototype.slice.call(document.querySelectorAll('#rows tbody tr'));
  var texts = rows.map(function (row) { return row.textContent.toLowerCase(); });
  var boxes = Array.prototype.slice.call(document.querySelectorAll('#filter input[type=checkbox]'));
  var search = document.getElementById('search');
  var shown = document.getElementById('shown');
  function apply() {
    var ticked = {};
    boxes.forEach(function (box) { if (box.checked) ticked[box.value] = true; });
    var text = search.value.toLowerCase();
    var count = 0;
    rows.forEach(function (row, i) {
      var visible = ticked[row.getAttribute('data-t')] === true && (text === '' || texts[i].indexOf(text) >= 0);
      row.hidden = !visible;
      if (visible) ++count;
    });
    shown.textContent = count.toLocaleString('en');
    var parts = [];
    if (boxes.some(function (box) { return !box.checked; })) {
      boxes.forEach(function (box) { if (box.checked) parts.push('type=' + encodeURIComponent(box.getAttribute('data-name'))); });
    }
    if (search.value !== '') parts.push('text=' + encodeURIComponent(search.value));
    try { history.replaceState(null, '', '#' + parts.join('&')); } catch (e) { }
  }
  var types = [], text = '';
  location.hash.replace(/^#/, '').split('&').forEach(function (part) {
    var at = part.indexOf('=');
    if (at < 0) return;
    var value;
    try { value = decodeURIComponent(part.slice(at + 1)); } catch (e) { return; }
    if (part.slice(0, at) === 'type') types.push(value); else if (part.slice(0, at) === 'text') text = value;
  });
  if (types.length > 0) boxes.forEach(function (box) { box.checked = types.indexOf(box.getAttribute('data-name')) >= 0; });
  search.value = text;
  boxes.forEach(function (box) { box.addEventListener('change', apply); });
  search.addEventListener('input', apply);
  apply();
})();
</script>
)";

const char* CategoryClass(TypeCategory nCategory) {
  static const char* const kClasses[] = {"error", "warning", "info", "debug", "other"};
  return kClasses[nCategory];
}

void AppendFacts(std::string& strOut, const CReportSummary& summary, const CReportPage& page) {
  strOut += "<p class=\"facts\">Folder <b>";
  AppendHtml(strOut, page.m_strFolder);
  strOut += "</b>; ";
  if (page.m_aFiles.size() == 1) {
    AppendHtml(strOut, page.m_aFiles.front());
  } else if (!page.m_aFiles.empty()) {
    strOut += std::to_string(page.m_aFiles.size()) + " day files, ";
    AppendHtml(strOut, page.m_aFiles.front() + " to " + page.m_aFiles.back());
  }
  strOut += "</p><p class=\"facts\"><b>" + FormatCount(summary.Records()) + "</b> records, <b>" +
            FormatCount(summary.Errors()) + "</b> errors, <b>" + FormatCount(summary.Warnings()) + "</b> warnings, " +
            FormatCount(summary.Types().size()) + " types. Made ";
  AppendHtml(strOut, page.m_strMade);
  strOut += " by vardlix report.</p>";
  if (page.m_aNotes.empty()) return;
  strOut += "<ul class=\"notes\">";
  for (const std::string& strNote : page.m_aNotes) {
    strOut += "<li>";
    AppendHtml(strOut, strNote);
    strOut += "</li>";
  }
  strOut += "</ul>";
}

void AppendList(std::string& strOut, const char* szHeading, const std::vector<CAttentionCount>& aCounts) {
  strOut += "<table><thead><tr><th>";
  strOut += szHeading;
  strOut += "</th><th class=\"num\">Errors</th><th class=\"num\">Warnings</th></tr></thead><tbody lang=\"zh-CN\">";
  for (const CAttentionCount& count : aCounts) {
    strOut += "<tr><td>";
    AppendHtml(strOut, count.m_strName.empty() ? "(empty)" : count.m_strName);
    strOut += "</td><td class=\"num\">" + FormatCount(count.m_nErrors) + "</td><td class=\"num\">" +
              FormatCount(count.m_nWarnings) + "</td></tr>";
  }
  strOut += "</tbody></table>";
}

void AppendAttention(std::string& strOut, const CReportSummary& summary) {
  strOut += "<section id=\"attention\"><h2>Errors and warnings</h2>";
  if (summary.Errors() + summary.Warnings() == 0) {
    strOut += "<p>No record is an error or a warning.</p>";
  } else {
    strOut += "<div class=\"lists\">";
    AppendList(strOut, "Type", summary.TopTypes(kTopNames));
    AppendList(strOut, "Location", summary.TopLocations(kTopNames));
    AppendList(strOut, "Operation", summary.TopOperations(kTopNames));
    strOut += "</div>";
  }
  strOut += "<p class=\"n\">A record is an error when its type holds error, fatal, crit, fail, 错误, 异常, 失败 or "
            "严重, and a warning when it holds warn or 警告 (in any case).</p></section>";
}

void AppendFilter(std::string& strOut, const CReportSummary& summary, size_t nRows) {
  strOut += "<div id=\"filter\"><input type=\"search\" id=\"search\" placeholder=\"Text in any field\" "
            "aria-label=\"Text in any field\">";
  const auto& aTypes = summary.Types();
  for (size_t i = 0; i < aTypes.size(); ++i) {
    strOut += "<label lang=\"zh-CN\"><input type=\"checkbox\" checked value=\"" + std::to_string(i) + "\" data-name=\"";
    AppendHtml(strOut, aTypes[i].first);
    strOut += "\"> ";
    AppendHtml(strOut, aTypes[i].first.empty() ? "(no type)" : aTypes[i].first);
    strOut += " <span class=\"n\">" + FormatCount(aTypes[i].second) + "</span></label>";
  }
  strOut +=
      "<span>Showing <b id=\"shown\">" + FormatCount(nRows) + "</b> of " + FormatCount(nRows) + " rows</span></div>";
}

void AppendRow(std::string& strOut, const CLogRecord& record, size_t iType) {
  const TypeCategory nCategory = CategoryOfType(record.m_aField[fieldType]);
  strOut += "<tr class=\"";
  strOut += CategoryClass(nCategory);
  strOut += "\" data-t=\"" + std::to_string(iType) + "\"><td class=\"time\" title=\"";
  AppendHtml(strOut, record.m_strFile);
  strOut += "\">";
  std::string strTime = FormatIsoTime(record.m_aField[fieldTime]);
  if (strTime.size() == 19 && strTime[10] == 'T') strTime[10] = ' ';
  AppendHtml(strOut, strTime);
  strOut += "</td><td class=\"type\">";
  AppendHtml(strOut, record.m_aField[fieldType]);
  for (int i = fieldLocation; i < kFieldCount; ++i) {
    strOut += "</td><td class=\"text\">";
    AppendHtml(strOut, record.m_aField[i], true);
  }
  strOut += "</td></tr>\n";
}

void AppendRecords(std::string& strOut, const CReportSummary& summary) {
  const std::vector<const CLogRecord*> aRows = summary.Rows();
  strOut += "<section id=\"records\"><h2>Records</h2>";
  if (aRows.size() < summary.Records()) {
    strOut += "<p class=\"note\">The table holds " + FormatCount(aRows.size()) + " of the " +
              FormatCount(summary.Records()) + " records (at most " + FormatCount(summary.MaxRows()) +
              ", --rows): every error and warning first, the latest of them when there are more, then the latest "
              "of the other records. The timeline and the lists count all " +
              FormatCount(summary.Records()) + "; vardlix show prints every record.</p>";
  }
  AppendFilter(strOut, summary, aRows.size());
  strOut += "<table id=\"rows\"><thead><tr><th>Time</th><th>Type</th><th>Location</th><th>Operation</th>"
            "<th>Parameters</th><th>Description</th></tr></thead><tbody lang=\"zh-CN\">\n";
  // The type's index ties a row to its box in the filter.
  std::unordered_map<std::string, size_t> aTypeIndex;
  for (size_t i = 0; i < summary.Types().size(); ++i) aTypeIndex[summary.Types()[i].first] = i;
  for (const CLogRecord* pRecord : aRows) AppendRow(strOut, *pRecord, aTypeIndex[pRecord->m_aField[fieldType]]);
  strOut += "</tbody></table></section>\n";
}

}  // namespace

void WriteHtmlReport(const CReportSummary& summary, const CReportPage& page, std::ostream& out) {
  std::string strOut = kHead;
  strOut += "<title>Vardlix report: ";
  AppendHtml(strOut, page.m_strFolder);
  strOut += "</title>\n";
  strOut += kStyle;
  strOut += "</head>\n<body>\n<header><h1>Vardlix report</h1>";
  AppendFacts(strOut, summary, page);
  strOut += "</header>\n<section id=\"timeline\">";
  AppendTimeline(strOut, summary);
  strOut += "</section>\n";
  AppendAttention(strOut, summary);
  AppendRecords(strOut, summary);
  strOut += kScript;
  strOut += "</body>\n</html>\n";
  out.write(strOut.data(), static_cast<std::streamsize>(strOut.size()));
}
