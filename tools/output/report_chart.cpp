#include "output/report_chart.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <numeric>

#include "output/html_text.h"
#include "reading/local_time.h"

namespace {

// The drawing's size in SVG units, and the room for the axes' labels.
constexpr int kWidth = 960;
constexpr int kHeight = 310;
constexpr int kLeft = 56;
constexpr int kRight = 8;
constexpr int kTop = 12;
constexpr int kBottom = 70;          // room for the hour labels and the day labels below them
constexpr size_t kNarrowLabels = 6;  // time labels a narrow screen keeps, drawn larger
constexpr size_t kMaxSeries = 10;    // types drawn apart; the rest share one colour
constexpr int64_t kHourlyDays = 3;   // at most this many days are drawn hour by hour
constexpr int64_t kContiguousDays = 400;

const char kMergedColor[] = "#adb5bd";

// One colour of the stack: a type, or the types beyond kMaxSeries together.
struct CSeries {
  std::string m_strName;
  std::string m_strColor = kMergedColor;
  size_t m_nCount = 0;
};

struct CBucket {
  int64_t m_nStart = 0;           // local seconds of its first moment
  std::vector<size_t> m_aCounts;  // by series
  size_t m_nTotal = 0;
};

struct CTimeline {
  std::vector<CSeries> m_aSeries;
  std::vector<size_t> m_aSeriesOfType;  // by the type's index in the summary
  std::vector<CBucket> m_aBuckets;
  bool m_bHourly = true;
};

// Errors and warnings always get a colour of their own; the other types
// until the colours run out, the most frequent first.
void MakeSeries(const CReportSummary& summary, CTimeline& timeline) {
  const auto& aTypes = summary.Types();
  std::vector<size_t> aOrder(aTypes.size());
  std::iota(aOrder.begin(), aOrder.end(), 0);
  std::vector<TypeCategory> aCategories;
  for (const auto& type : aTypes) aCategories.push_back(CategoryOfType(type.first));
  std::sort(aOrder.begin(), aOrder.end(), [&](size_t a, size_t b) {
    if (aCategories[a] != aCategories[b]) return aCategories[a] < aCategories[b];
    if (aTypes[a].second != aTypes[b].second) return aTypes[a].second > aTypes[b].second;
    return aTypes[a].first < aTypes[b].first;
  });
  timeline.m_aSeriesOfType.assign(aTypes.size(), 0);
  size_t iMerged = SIZE_MAX;
  for (size_t iType : aOrder) {
    const TypeCategory nCategory = aCategories[iType];
    const bool bOwn =
        nCategory <= categoryWarning || timeline.m_aSeries.size() + 1 < kMaxSeries || aTypes.size() <= kMaxSeries;
    if (!bOwn && iMerged == SIZE_MAX) {
      iMerged = timeline.m_aSeries.size();
      timeline.m_aSeries.push_back({"(other types)", kMergedColor, 0});
    }
    if (bOwn) {
      timeline.m_aSeries.push_back({aTypes[iType].first, TypeColor(aTypes[iType].first), 0});
    }
    const size_t iSeries = bOwn ? timeline.m_aSeries.size() - 1 : iMerged;
    timeline.m_aSeriesOfType[iType] = iSeries;
    timeline.m_aSeries[iSeries].m_nCount += aTypes[iType].second;
  }
}

int64_t FloorDiv(int64_t nValue, int64_t nDivisor) {
  return nValue / nDivisor - (nValue % nDivisor != 0 && (nValue < 0) != (nDivisor < 0) ? 1 : 0);
}

// Hour by hour over whole days when the records span few days, else day
// by day; every hour or day in between gets its bar, empty or not.
void MakeBuckets(const CReportSummary& summary, CTimeline& timeline) {
  const auto& aHours = summary.Hours();
  if (aHours.empty()) return;
  const int64_t nFirstDay = FloorDiv(aHours.begin()->first, 24);
  const int64_t nLastDay = FloorDiv(aHours.rbegin()->first, 24);
  timeline.m_bHourly = nLastDay - nFirstDay < kHourlyDays;
  std::vector<int64_t> aStarts;  // in hours
  if (timeline.m_bHourly) {
    for (int64_t h = nFirstDay * 24; h < (nLastDay + 1) * 24; ++h) aStarts.push_back(h);
  } else if (nLastDay - nFirstDay < kContiguousDays) {
    for (int64_t d = nFirstDay; d <= nLastDay; ++d) aStarts.push_back(d * 24);
  } else {
    for (const auto& hour : aHours) {
      const int64_t nDay = FloorDiv(hour.first, 24) * 24;
      if (aStarts.empty() || aStarts.back() != nDay) aStarts.push_back(nDay);
    }
  }
  const size_t nSeries = timeline.m_aSeries.size();
  for (int64_t nStart : aStarts) timeline.m_aBuckets.push_back({nStart * 3600, std::vector<size_t>(nSeries, 0), 0});
  size_t iBucket = 0;
  for (const auto& [nHour, aCounts] : aHours) {
    const int64_t nStart = timeline.m_bHourly ? nHour : FloorDiv(nHour, 24) * 24;
    while (aStarts[iBucket] < nStart) ++iBucket;
    CBucket& bucket = timeline.m_aBuckets[iBucket];
    for (size_t iType = 0; iType < aCounts.size(); ++iType) {
      bucket.m_aCounts[timeline.m_aSeriesOfType[iType]] += aCounts[iType];
      bucket.m_nTotal += aCounts[iType];
    }
  }
}

std::string FormatBucket(int64_t nStart, bool bHourly) {
  const CStamp stamp = StampOfSeconds(nStart);
  char szText[32];
  if (bHourly) {
    std::snprintf(szText, sizeof szText, "%04d-%02d-%02d %02d:00", stamp.m_nYear, stamp.m_nMonth, stamp.m_nDay,
                  stamp.m_nHour);
  } else {
    std::snprintf(szText, sizeof szText, "%04d-%02d-%02d", stamp.m_nYear, stamp.m_nMonth, stamp.m_nDay);
  }
  return szText;
}

// The grid of the value axis: the smallest step of 1, 2, 5, 10, 20, 50...
// that reaches nMost in at most five steps, and the number of steps.
void ChooseGrid(size_t nMost, size_t& nStep, size_t& nSteps) {
  for (size_t nPower = 1;; nPower *= 10) {
    for (size_t nFactor : {1, 2, 5}) {
      nStep = nFactor * nPower;
      nSteps = std::max<size_t>((nMost + nStep - 1) / nStep, 1);
      if (nSteps <= 5) return;
    }
  }
}

std::string Number(double dValue) {
  char szText[32];
  std::snprintf(szText, sizeof szText, "%.2f", dValue);
  std::string strText = szText;
  while (strText.back() == '0') strText.pop_back();
  if (strText.back() == '.') strText.pop_back();
  return strText;
}

void AppendAxes(std::string& strOut, const CTimeline& timeline, size_t nStep, size_t nSteps, double dSlot) {
  const int nPlotHeight = kHeight - kTop - kBottom;
  for (size_t i = 0; i <= nSteps; ++i) {
    const double dY = kTop + nPlotHeight - nPlotHeight * static_cast<double>(i) / static_cast<double>(nSteps);
    strOut += "<line class=\"grid\" x1=\"" + std::to_string(kLeft) + "\" x2=\"" + std::to_string(kWidth - kRight) +
              "\" y1=\"" + Number(dY) + "\" y2=\"" + Number(dY) + "\"/>";
    strOut += std::string("<text class=\"") + (i == 0 ? "y zero" : "y") + "\" x=\"" + std::to_string(kLeft - 6) +
              "\" y=\"" + Number(dY + 4) + "\">" + FormatCount(nStep * i) + "</text>";
  }
  const size_t nBuckets = timeline.m_aBuckets.size();
  size_t nEvery = 1;
  if (timeline.m_bHourly) {
    for (size_t nDivisor : {1, 2, 3, 4, 6, 12, 24}) {
      nEvery = nDivisor;
      if (nBuckets / nDivisor <= 16) break;
    }
  } else {
    nEvery = (nBuckets + 11) / 12;
  }
  // A narrow screen keeps every nNarrow-th label, nNarrow a multiple of
  // nEvery (so that the first hour of each day keeps its day's label).
  const size_t nLabels = (nBuckets + nEvery - 1) / nEvery;
  const size_t nNarrow = nEvery * ((nLabels + kNarrowLabels - 1) / kNarrowLabels);
  for (size_t i = 0; i < nBuckets; i += nEvery) {
    const CStamp stamp = StampOfSeconds(timeline.m_aBuckets[i].m_nStart);
    char szLabel[16], szDay[16];
    std::snprintf(szLabel, sizeof szLabel, "%02d:00", stamp.m_nHour);
    std::snprintf(szDay, sizeof szDay, "%02d-%02d", stamp.m_nMonth, stamp.m_nDay);
    const std::string strX = Number(kLeft + dSlot * (static_cast<double>(i) + 0.5));
    const std::string strClass = i % nNarrow == 0 ? "x" : "x wide";
    const int nY = kHeight - kBottom + 16;
    strOut += "<text class=\"" + strClass + "\" x=\"" + strX + "\" y=\"" + std::to_string(nY) + "\">" +
              (timeline.m_bHourly ? szLabel : szDay) + "</text>";
    if (timeline.m_bHourly && stamp.m_nHour == 0) {
      strOut += "<text class=\"" + strClass + " day\" x=\"" + strX + "\" y=\"" + std::to_string(nY + 16) + "\">" +
                szDay + "</text>";
    }
  }
}

void AppendBar(std::string& strOut, const CTimeline& timeline, const CBucket& bucket, double dX, double dBarWidth,
               double dScale) {
  const std::string strBucket = FormatBucket(bucket.m_nStart, timeline.m_bHourly);
  std::string strTitle =
      strBucket + ": " + FormatCount(bucket.m_nTotal) + (bucket.m_nTotal == 1 ? " record" : " records");
  // A bar with records is a button: it filters the table to its hour or day.
  strOut += "<g class=\"bar\" data-bucket=\"" + strBucket + "\" data-total=\"" + std::to_string(bucket.m_nTotal) + "\"";
  if (bucket.m_nTotal > 0) strOut += " tabindex=\"0\" role=\"button\" aria-label=\"" + strTitle + "; show them\"";
  strOut += ">";
  double dBase = kHeight - kBottom;
  for (size_t i = 0; i < timeline.m_aSeries.size(); ++i) {
    const size_t nCount = bucket.m_aCounts[i];
    if (nCount == 0) continue;
    const double dHeight = static_cast<double>(nCount) * dScale;
    dBase -= dHeight;
    strOut += "<rect class=\"segment\" data-type=\"";
    AppendHtml(strOut, timeline.m_aSeries[i].m_strName);
    strOut += "\" data-count=\"" + std::to_string(nCount) + "\" x=\"" + Number(dX) + "\" y=\"" + Number(dBase) +
              "\" width=\"" + Number(dBarWidth) + "\" height=\"" + Number(dHeight) + "\" fill=\"" +
              timeline.m_aSeries[i].m_strColor + "\"><title>";
    AppendHtml(strOut, strTitle + " — " + timeline.m_aSeries[i].m_strName + ": " + FormatCount(nCount));
    strOut += "</title></rect>";
  }
  strOut += "</g>";
}

void AppendLegend(std::string& strOut, const CTimeline& timeline) {
  strOut += "<ul class=\"legend\" lang=\"zh-CN\">";
  for (const CSeries& series : timeline.m_aSeries) {
    strOut += "<li><span class=\"swatch\" style=\"background:" + series.m_strColor + "\"></span>";
    AppendHtml(strOut, series.m_strName.empty() ? "(no type)" : series.m_strName);
    strOut += " <span class=\"n\">" + FormatCount(series.m_nCount) + "</span></li>";
  }
  strOut += "</ul>";
}

// FNV-1a of the name's UTF-8: the same on every machine and in every report.
uint32_t HashName(const std::string& strName) {
  uint32_t nHash = 2166136261u;
  for (unsigned char c : strName) nHash = (nHash ^ c) * 16777619u;
  return nHash;
}

}  // namespace

std::string TypeColor(const std::string& strType) {
  // Per category: the first hue and how many follow it, the saturation, the
  // darkest lightness and how many lighter ones follow it. The other types
  // take any hue but the reds and ambers of errors and warnings.
  static const struct {
    uint32_t m_nHue, m_nHues, m_nSaturation, m_nLightness, m_nLightnesses;
  } kRanges[] = {
      {352, 12, 75, 38, 16},  // errors: reds
      {32, 12, 95, 42, 14},   // warnings: ambers
      {70, 250, 55, 36, 18},  // info
      {70, 250, 55, 36, 18},  // debug
      {70, 250, 55, 36, 18},  // other types
  };
  const auto& range = kRanges[CategoryOfType(strType)];
  const uint32_t nHash = HashName(strType);
  const uint32_t nHue = (range.m_nHue + nHash % range.m_nHues) % 360;
  const uint32_t nLightness = range.m_nLightness + nHash / range.m_nHues % range.m_nLightnesses;
  return "hsl(" + std::to_string(nHue) + "," + std::to_string(range.m_nSaturation) + "%," + std::to_string(nLightness) +
         "%)";
}

std::string FormatCount(size_t nCount) {
  std::string strDigits = std::to_string(nCount);
  for (size_t n = strDigits.size(); n > 3; n -= 3) strDigits.insert(n - 3, ",");
  return strDigits;
}

void AppendTimeline(std::string& strOut, const CReportSummary& summary) {
  CTimeline timeline;
  MakeSeries(summary, timeline);
  MakeBuckets(summary, timeline);
  strOut += std::string("<h2>Records per ") + (timeline.m_bHourly ? "hour" : "day") + ", by type</h2>";
  if (timeline.m_aBuckets.empty()) {
    strOut += "<p class=\"empty\">No record has a time that reads.</p>";
    return;
  }
  size_t nMost = 1;
  for (const CBucket& bucket : timeline.m_aBuckets) nMost = std::max(nMost, bucket.m_nTotal);
  size_t nStep = 1, nSteps = 1;
  ChooseGrid(nMost, nStep, nSteps);
  const double dScale = static_cast<double>(kHeight - kTop - kBottom) / static_cast<double>(nStep * nSteps);
  const double dSlot = static_cast<double>(kWidth - kLeft - kRight) / static_cast<double>(timeline.m_aBuckets.size());
  const double dBarWidth = std::max(dSlot * 0.8, 1.0);
  strOut += std::string("<svg class=\"timeline\" viewBox=\"0 0 ") + std::to_string(kWidth) + " " +
            std::to_string(kHeight) + "\" role=\"img\" aria-label=\"Records per " +
            (timeline.m_bHourly ? "hour" : "day") + ", stacked by type\" lang=\"zh-CN\">";
  AppendAxes(strOut, timeline, nStep, nSteps, dSlot);
  for (size_t i = 0; i < timeline.m_aBuckets.size(); ++i) {
    AppendBar(strOut, timeline, timeline.m_aBuckets[i],
              kLeft + dSlot * static_cast<double>(i) + (dSlot - dBarWidth) / 2, dBarWidth, dScale);
  }
  strOut += "</svg>";
  AppendLegend(strOut, timeline);
  if (summary.Untimed() > 0) {
    strOut += "<p class=\"note\">" + FormatCount(summary.Untimed()) +
              " records have a time that does not read and stand in no bar.</p>";
  }
}
