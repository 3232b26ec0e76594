#include "output/html_report.h"

#include <algorithm>
#include <unordered_map>

#include "output/html_text.h"
#include "output/report_chart.h"
#include "reading/time_stamp.h"

namespace {

constexpr size_t kTopNames = 10;   // rows of each list of errors and warnings
constexpr size_t kPageRows = 100;  // rows the table shows at once; its pager shows the others

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
       "WenQuanYi Zen Hei", sans-serif; margin: 1.5em; color: #212529; background: #fff; font-size: 14px;
       overflow-wrap: anywhere; }
h1 { font-size: 1.5em; margin: 0 0 .3em; } h2 { font-size: 1.15em; margin: 1.6em 0 .5em; }
.facts { margin: 0; color: #495057; } .facts b { color: #212529; }
.notes { color: #a61e4d; }
svg.timeline { width: 100%; max-width: 960px; height: auto; display: block; }
svg .grid { stroke: #e9ecef; } svg text { font-size: 11px; fill: #495057; }
svg text.y { text-anchor: end; } svg text.x { text-anchor: middle; } svg text.day { font-weight: 600; }
svg g.bar[tabindex] { cursor: pointer; } svg g.bar:focus { outline: none; }
svg g.bar:focus rect, svg g.bar.chosen rect { stroke: #212529; stroke-width: 2; }
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
#filter .errors { font-weight: 600; color: #c92a2a; }
button { font: inherit; cursor: pointer; }
/* Fixed column widths: a filter's layout need not measure every shown row's cells. */
#rows { border-collapse: collapse; width: 100%; table-layout: fixed; }
#rows th:nth-child(1) { width: 11.5em; } #rows th:nth-child(2) { width: 6em; }
#rows th:nth-child(3), #rows th:nth-child(4) { width: 12%; } #rows th:nth-child(5) { width: 18%; }
#rows th button { font-weight: 600; border: 0; background: none; padding: 0; color: inherit; }
#rows th[aria-sort=ascending] button::after { content: " \25B2"; }
#rows th[aria-sort=descending] button::after { content: " \25BC"; }
#rows td.time { white-space: nowrap; font-variant-numeric: tabular-nums; }
#rows td.text { white-space: pre-wrap; }
#rows .clip { display: -webkit-box; -webkit-box-orient: vertical; -webkit-line-clamp: 2; overflow: hidden; }
#rows tr.open .clip { display: block; }
#rows button.more { border: 0; background: none; padding: 0; color: #1864ab; text-decoration: underline;
                    font-size: .9em; }
#rows tr.error td.type { color: #c92a2a; font-weight: 600; } #rows tr.warning td.type { color: #b86e00; font-weight: 600; }
#rows tr.error { background: #fff5f5; } #rows tr.warning { background: #fff9db; }
#pager { display: flex; flex-wrap: wrap; gap: .4em 1em; align-items: center; margin: .6em 0; }
/* A phone or a narrow window: no sideways scrolling; each record a block of
   its own; the timeline's labels fewer and drawn larger, since the drawing
   shrinks with the screen. */
@media (max-width: 640px) {
  body { margin: .5em; }
  #filter input[type=search] { min-width: 0; width: 100%; }
  .lists table { min-width: 0; }
  #rows, #rows tbody, #rows tr, #rows td { display: block; }
  #rows thead tr { display: flex; flex-wrap: wrap; gap: 0 .8em; }
  #rows th { border: 0; padding: .2em 0; }
  #rows tr[hidden] { display: none; }
  #rows tbody tr { border-bottom: 1px solid #dee2e6; padding: .3em 0; }
  #rows td { border: 0; padding: 0 .2em; }
  #rows td.time, #rows td.type { display: inline-block; }
  svg text { font-size: 28px; } svg text.wide { display: none; }
  svg text.y { text-anchor: start; transform: translate(-46px, 22px); paint-order: stroke; stroke: #fff;
               stroke-width: 6px; }
  svg text.y.zero { display: none; }
  svg text.x { transform: translateY(8px); } svg text.x.day { transform: translateY(32px); }
}
</style>
)";

// The table's filters (types, errors only, an hour of the timeline, text),
// its sorting, its pages and the long records' switch. The table is built
// once, by the page itself: a filter hides and shows rows, touching only
// those whose state changes, and no more than one page of rows shows at a
// time, so that a key costs about the same at 100 rows and at 100,000.
// Typing is debounced: a burst of keys filters once. window.vardlixReport
// counts the work done, for whoever wants to check it.
const char kScript[] = R"(<script>
(function () {
  var table = document.getElementById('rows'), body = table.tBodies[0];
  var pageRows = Number(table.getAttribute('data-page'));
  var rows = Array.prototype.slice.call(body.rows);
  var texts = rows.map(function (row) { return row.textContent.toLowerCase(); });
  var types = rows.map(function (row) { return row.getAttribute('data-t'); });
  var times = rows.map(function (row) { return row.cells[0].textContent; });
  var errors = rows.map(function (row) { return row.classList.contains('error'); });
  var shownNow = rows.map(function (row) { return !row.hidden; });
  var order = rows.map(function (row, i) { return i; });
  var boxes = Array.prototype.slice.call(document.querySelectorAll('#filter input.type'));
  var bars = Array.prototype.slice.call(document.querySelectorAll('svg.timeline g.bar[tabindex]'));
  var search = document.getElementById('search'), errorsBox = document.getElementById('errors');
  var state = { hour: '', page: 0, sortColumn: 0, sortDirection: 1, timer: 0 };
  var work = window.vardlixReport = { filterRuns: 0, rowsTouched: 0, pending: false, lastFilterMs: 0, slowestFilterMs: 0 };
  function prefixOf(bucket) { return bucket.length > 10 ? bucket.slice(0, 13) : bucket; }
  function matching() {
    var ticked = {}, text = search.value.toLowerCase(), hour = prefixOf(state.hour), found = [];
    boxes.forEach(function (box) { if (box.checked) ticked[box.value] = true; });
    for (var k = 0; k < order.length; ++k) {
      var i = order[k];
      if (ticked[types[i]] !== true || (errorsBox.checked && !errors[i])) continue;
      if (hour !== '' && times[i].lastIndexOf(hour, 0) !== 0) continue;
      if (text === '' || texts[i].indexOf(text) >= 0) found.push(i);
    }
    return found;
  }
  function filter() {
    var started = performance.now();
    work.filterRuns++;
    work.pending = false;
    var found = matching(), pages = Math.max(1, Math.ceil(found.length / pageRows));
    state.page = Math.max(0, Math.min(state.page, pages - 1));
    var wanted = new Uint8Array(rows.length);
    found.slice(state.page * pageRows, (state.page + 1) * pageRows).forEach(function (i) { wanted[i] = 1; });
    for (var i = 0; i < rows.length; ++i) {
      if ((wanted[i] === 1) === shownNow[i]) continue;
      shownNow[i] = wanted[i] === 1;
      rows[i].hidden = !shownNow[i];
      work.rowsTouched++;
    }
    showPlace(found.length, pages);
    keepInAddress();
    void table.offsetHeight;  // the layout the change costs, timed with it
    work.lastFilterMs = performance.now() - started;
    work.slowestFilterMs = Math.max(work.slowestFilterMs, work.lastFilterMs);
  }
  function showPlace(count, pages) {
    var first = state.page * pageRows;
    document.getElementById('shown').textContent = count.toLocaleString('en');
    document.getElementById('pageinfo').textContent = count === 0 ? 'No row matches.' : 'Rows ' +
      (first + 1).toLocaleString('en') + '\u2013' + Math.min(first + pageRows, count).toLocaleString('en') + ' of ' +
      count.toLocaleString('en') + ' that match';
    document.getElementById('prev').disabled = state.page === 0;
    document.getElementById('next').disabled = state.page >= pages - 1;
    document.getElementById('hour').hidden = state.hour === '';
    document.getElementById('hourtext').textContent = state.hour;
    bars.forEach(function (bar) { bar.classList.toggle('chosen', bar.getAttribute('data-bucket') === state.hour); });
  }
  function keepInAddress() {
    var parts = [];
    if (boxes.some(function (box) { return !box.checked; })) {
      boxes.forEach(function (box) { if (box.checked) parts.push('type=' + encodeURIComponent(box.getAttribute('data-name'))); });
    }
    if (errorsBox.checked) parts.push('errors=1');
    if (state.hour !== '') parts.push('hour=' + encodeURIComponent(state.hour));
    if (search.value !== '') parts.push('text=' + encodeURIComponent(search.value));
    try { history.replaceState(null, '', '#' + parts.join('&')); } catch (e) { }
  }
  function refilter() { clearTimeout(state.timer); state.page = 0; filter(); }
  function sortBy(column) {
    state.sortDirection = state.sortColumn === column ? -state.sortDirection : 1;
    state.sortColumn = column;
    var keys = column === 0 ? times : rows.map(function (row) { return row.cells[column].textContent; });
    order.sort(function (a, b) {
      return state.sortDirection * (keys[a] < keys[b] ? -1 : keys[a] > keys[b] ? 1 : a - b);
    });
    var moved = document.createDocumentFragment();
    order.forEach(function (i) { moved.appendChild(rows[i]); });
    body.appendChild(moved);
    Array.prototype.forEach.call(table.tHead.rows[0].cells, function (cell, i) {
      if (i === column) cell.setAttribute('aria-sort', state.sortDirection > 0 ? 'ascending' : 'descending');
      else cell.removeAttribute('aria-sort');
    });
    refilter();
  }
  function chooseHour(bucket) { state.hour = state.hour === bucket ? '' : bucket; refilter(); }
  function readAddress() {
    var kept = [];
    location.hash.replace(/^#/, '').split('&').forEach(function (part) {
      var at = part.indexOf('='), value;
      if (at < 0) return;
      try { value = decodeURIComponent(part.slice(at + 1)); } catch (e) { return; }
      var name = part.slice(0, at);
      if (name === 'type') kept.push(value);
      else if (name === 'text') search.value = value;
      else if (name === 'hour') state.hour = value;
      else if (name === 'errors') errorsBox.checked = value === '1';
    });
    if (kept.length > 0) boxes.forEach(function (box) { box.checked = kept.indexOf(box.getAttribute('data-name')) >= 0; });
  }
  function listen() {
    boxes.concat([errorsBox]).forEach(function (box) { box.addEventListener('change', refilter); });
    search.addEventListener('input', function () {
      clearTimeout(state.timer);
      work.pending = true;
      state.timer = setTimeout(function () { state.page = 0; filter(); }, 30);
    });
    bars.forEach(function (bar) {
      var bucket = bar.getAttribute('data-bucket');
      bar.addEventListener('click', function () { chooseHour(bucket); });
      bar.addEventListener('keydown', function (e) {
        if (e.key === 'Enter' || e.key === ' ') { e.preventDefault(); chooseHour(bucket); }
      });
    });
    document.getElementById('allhours').addEventListener('click', function () { chooseHour(''); });
    document.getElementById('prev').addEventListener('click', function () { state.page--; filter(); });
    document.getElementById('next').addEventListener('click', function () { state.page++; filter(); });
    table.tHead.addEventListener('click', function (e) {
      var cell = e.target.closest('th');
      if (cell) sortBy(cell.cellIndex);
    });
    body.addEventListener('click', function (e) {
      if (!e.target.classList.contains('more')) return;
      var open = e.target.closest('tr').classList.toggle('open');
      e.target.textContent = open ? 'Show less' : 'Show all';
      e.target.setAttribute('aria-expanded', open ? 'true' : 'false');
    });
  }
  readAddress();
  listen();
  filter();
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

// What the table holds of each type, and of errors: the counts beside the
// filters are of rows the table can show, the period's totals beside them.
struct CTableCounts {
  std::vector<size_t> m_aByType;  // by the type's index in the summary
  size_t m_nErrors = 0;
};

void AppendTypeBox(std::string& strOut, const std::pair<std::string, size_t>& type, size_t iType, size_t nInTable) {
  strOut += "<label lang=\"zh-CN\"><input type=\"checkbox\" class=\"type\" checked value=\"" + std::to_string(iType) +
            "\" data-name=\"";
  AppendHtml(strOut, type.first);
  strOut += "\"><span class=\"swatch\" style=\"background:" + TypeColor(type.first) + "\"></span>";
  AppendHtml(strOut, type.first.empty() ? "(no type)" : type.first);
  strOut += " <b class=\"count\">" + FormatCount(nInTable) + "</b>";
  if (nInTable != type.second) strOut += " <span class=\"n\">of " + FormatCount(type.second) + "</span>";
  strOut += "</label>";
}

void AppendFilter(std::string& strOut, const CReportSummary& summary, const CTableCounts& counts, size_t nRows) {
  strOut += "<div id=\"filter\"><input type=\"search\" id=\"search\" placeholder=\"Text in any field\" "
            "aria-label=\"Text in any field\"><label class=\"errors\"><input type=\"checkbox\" id=\"errors\"> "
            "Errors only <b class=\"count\">" +
            FormatCount(counts.m_nErrors) + "</b>";
  if (counts.m_nErrors != summary.Errors())
    strOut += " <span class=\"n\">of " + FormatCount(summary.Errors()) + "</span>";
  strOut += "</label>";
  const auto& aTypes = summary.Types();
  for (size_t i = 0; i < aTypes.size(); ++i) AppendTypeBox(strOut, aTypes[i], i, counts.m_aByType[i]);
  strOut += "<span id=\"hour\" hidden>Only <b id=\"hourtext\"></b> <button type=\"button\" id=\"allhours\">All "
            "hours</button></span><span>Showing <b id=\"shown\">" +
            FormatCount(nRows) + "</b> of " + FormatCount(nRows) + " rows</span></div>";
}

// A field of more than two lines, or long enough to fill more, is shown
// in two lines until its row is opened.
bool IsLongRecord(const CLogRecord& record) {
  constexpr size_t kLongField = 240;  // bytes of UTF-8: three lines of a wide screen
  for (int i = fieldLocation; i < kFieldCount; ++i) {
    const std::string& strField = record.m_aField[i];
    if (strField.size() > kLongField || std::count(strField.begin(), strField.end(), '\n') >= 2) return true;
  }
  return false;
}

void AppendRow(std::string& strOut, const CLogRecord& record, size_t iType, bool bHidden) {
  const bool bLong = IsLongRecord(record);
  strOut += "<tr class=\"";
  strOut += CategoryClass(CategoryOfType(record.m_aField[fieldType]));
  if (bLong) strOut += " long";
  strOut += "\" data-t=\"" + std::to_string(iType) + (bHidden ? "\" hidden" : "\"") + "><td class=\"time\" title=\"";
  AppendHtml(strOut, record.m_strFile);
  strOut += "\">";
  std::string strTime = FormatIsoTime(record.m_aField[fieldTime]);
  if (strTime.size() == 19 && strTime[10] == 'T') strTime[10] = ' ';
  AppendHtml(strOut, strTime);
  strOut += "</td><td class=\"type\">";
  AppendHtml(strOut, record.m_aField[fieldType]);
  for (int i = fieldLocation; i < kFieldCount; ++i) {
    strOut += bLong ? "</td><td class=\"text\"><div class=\"clip\">" : "</td><td class=\"text\">";
    AppendHtml(strOut, record.m_aField[i], true);
    if (bLong) strOut += "</div>";
  }
  if (bLong) strOut += "<button type=\"button\" class=\"more\" aria-expanded=\"false\">Show all</button>";
  strOut += "</td></tr>\n";
}

// Says in words which records the table holds when it cannot hold them all,
// and how to see the rest.
void AppendLeftOut(std::string& strOut, const CReportSummary& summary, const CReportPage& page, size_t nRows) {
  const size_t nAttention = summary.Errors() + summary.Warnings();
  const size_t nOthers = summary.Records() - nAttention;
  strOut += "<p class=\"note\">The table holds " + FormatCount(nRows) + " of the " + FormatCount(summary.Records()) +
            " records (at most " + FormatCount(summary.MaxRows()) + ", --rows): ";
  if (summary.AttentionRows() == nAttention) {
    strOut += "all " + FormatCount(nAttention) + " errors and warnings, and " + FormatCount(summary.OtherRows()) +
              " of the other " + FormatCount(nOthers) + " records";
  } else {
    strOut += FormatCount(summary.AttentionRows()) + " of the " + FormatCount(nAttention) + " errors and warnings";
  }
  strOut += ", taken evenly from the whole period, so every part of it has rows. The timeline, the lists and the "
            "totals after \"of\" beside the filters count all " +
            FormatCount(summary.Records()) + " records. To see every record, run <code>vardlix show --folder ";
  AppendHtml(strOut, page.m_strFolder);
  strOut += "</code> with the same days (add --errors for the errors alone, --since and --until for one hour), or "
            "make the report again with a larger --rows.</p>";
}

void AppendHeader(std::string& strOut) {
  strOut += "<table id=\"rows\" data-page=\"" + std::to_string(kPageRows) + "\"><thead><tr>";
  for (const char* szName : {"Time", "Type", "Location", "Operation", "Parameters", "Description"}) {
    strOut += std::string("<th><button type=\"button\" title=\"Sort by this column\">") + szName + "</button></th>";
  }
  strOut += "</tr></thead><tbody lang=\"zh-CN\">\n";
}

void AppendRecords(std::string& strOut, const CReportSummary& summary, const CReportPage& page) {
  const std::vector<const CLogRecord*> aRows = summary.Rows();
  strOut += "<section id=\"records\"><h2>Records</h2>";
  if (aRows.size() < summary.Records()) AppendLeftOut(strOut, summary, page, aRows.size());
  // The type's index ties a row to its box in the filter.
  std::unordered_map<std::string, size_t> aTypeIndex;
  for (size_t i = 0; i < summary.Types().size(); ++i) aTypeIndex[summary.Types()[i].first] = i;
  CTableCounts counts;
  counts.m_aByType.assign(summary.Types().size(), 0);
  for (const CLogRecord* pRecord : aRows) {
    ++counts.m_aByType[aTypeIndex[pRecord->m_aField[fieldType]]];
    if (CategoryOfType(pRecord->m_aField[fieldType]) == categoryError) ++counts.m_nErrors;
  }
  AppendFilter(strOut, summary, counts, aRows.size());
  AppendHeader(strOut);
  for (size_t i = 0; i < aRows.size(); ++i) {
    AppendRow(strOut, *aRows[i], aTypeIndex[aRows[i]->m_aField[fieldType]], i >= kPageRows);
  }
  strOut += "</tbody></table><div id=\"pager\"><button type=\"button\" id=\"prev\">Previous</button>"
            "<span id=\"pageinfo\"></span><button type=\"button\" id=\"next\">Next</button></div></section>\n";
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
  AppendRecords(strOut, summary, page);
  strOut += kScript;
  strOut += "</body>\n</html>\n";
  out.write(strOut.data(), static_cast<std::streamsize>(strOut.size()));
}
