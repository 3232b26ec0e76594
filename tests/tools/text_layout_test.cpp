// Cell widths, time bounds and column fitting: the pieces of the tool that
// decide what a line of output looks like.
#include <gtest/gtest.h>

#include <locale.h>
#include <clocale>
#include <cwchar>

#include <nlohmann/json.hpp>

#include "base/display_width.h"
#include "base/text_encoding.h"
#include "output/record_output.h"
#include "platform/platform_files.h"
#include "reading/local_time.h"
#include "reading/record_export.h"
#include "reading/record_filter.h"
#include "reading/record_scan.h"
#include "reading/time_stamp.h"
#include "system/time_zone.h"

namespace {

TEST(DisplayWidth, CountsWideCharactersAsTwoCells) {
  struct {
    const char* szText;
    int nWidth;
  } const kCases[] = {
      {"abc", 3},
      {"中文", 4},
      {"日本語テキスト", 14},
      {"한국어", 6},
      {"ＡＢ", 4},              // fullwidth forms
      {"e\xCC\x81", 1},         // e + combining acute accent
      {"\xF0\x9F\x98\x80", 2},  // emoji
      {"\xE2\x80\xA6", 1},      // the ellipsis itself, ambiguous: one cell
      {"a中b", 4},
  };
  for (const auto& c : kCases) EXPECT_EQ(DisplayWidth(c.szText), c.nWidth) << c.szText;
}

// The runtime's own width function, in a UTF-8 locale, is an independent
// account of the same Unicode data for the blocks a log commonly holds.
TEST(DisplayWidth, AgreesWithTheRuntimeOverCommonBlocks) {
  locale_t hLocale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  if (!hLocale) GTEST_SKIP() << "no C.UTF-8 locale";
  locale_t hOld = uselocale(hLocale);
  const std::pair<char32_t, char32_t> kBlocks[] = {
      {0x20, 0x7E},     {0xA0, 0x2FF},    {0x300, 0x36F},   {0x1100, 0x115F}, {0x3041, 0x3096},
      {0x30A1, 0x30FA}, {0x4E00, 0x9FFF}, {0xAC00, 0xD7A3}, {0xFF01, 0xFF60}, {0xFF61, 0xFF9F},
  };
  int nMismatches = 0;
  for (const auto& [cFirst, cLast] : kBlocks) {
    for (char32_t c = cFirst; c <= cLast; ++c) {
      int nExpected = wcwidth(static_cast<wchar_t>(c));
      if (nExpected >= 0 && CodePointWidth(c) != nExpected && ++nMismatches < 5) {
        ADD_FAILURE() << "U+" << std::hex << static_cast<uint32_t>(c) << " runtime " << nExpected;
      }
    }
  }
  uselocale(hOld);
  freelocale(hLocale);
  EXPECT_EQ(nMismatches, 0);
}

TEST(FitToWidth, CutsWithAnEllipsisThatStillFits) {
  struct {
    const char* szText;
    int nWidth;
    const char* szExpected;
  } const kCases[] = {
      // clang-format off
      {"abcdef", 6, "abcdef"},
      {"abcdef", 4, "abc…"},
      {"中文字", 6, "中文字"},
      {"中文字", 4, "中…"},    // 文 would straddle the last cell
      {"中文字", 5, "中文…"},
      {"abc", 1, "…"},
      {"abc", 0, ""},
      // clang-format on
  };
  for (const auto& c : kCases) {
    std::string strFitted = FitToWidth(c.szText, c.nWidth);
    EXPECT_EQ(strFitted, c.szExpected) << c.szText << " in " << c.nWidth;
    EXPECT_LE(DisplayWidth(strFitted), c.nWidth);
  }
}

// The clock is fixed at 2026-12-08 10:30:00 UTC (in the zone UTC+08:00,
// 18:30), and relative times count back from it in the zone.
TEST(ParseTimeBound, AcceptsTimesOfDayAndFullStamps) {
  struct {
    const char* szText;
    bool bUntil;
    bool bTimeOfDay;
    int64_t nKey;  // Key() or TimeOfDayKey()
  } const kCases[] = {
      // clang-format off
      {"09:05", false, true, 90500},
      {"23:59:59", false, true, 235959},
      {"10am", false, true, 100000},
      {"10:30PM", false, true, 223000},
      {"12am", false, true, 0},                              // midnight, not noon
      {"12 pm", false, true, 120000},
      {"2011.04.08 09:05:03", false, false, 20110408090503},
      {"2011-04-08T09:05", false, false, 20110408090500},
      {"2024/02/29 00:00:00", false, false, 20240229000000},  // leap day
      {"2011.04.08", false, false, 20110408000000},          // a day starts --since
      {"2011-04-08", true, false, 20110408235959},           // and ends --until
      {"90s", false, false, 20261208182830},
      {"15m", false, false, 20261208181500},                  // minutes, not months
      {"1h", false, false, 20261208173000},
      {"2d", false, false, 20261206183000},
      {"1 hour ago", false, false, 20261208173000},
      {"3 days ago", false, false, 20261205183000},
      {"now", true, false, 20261208183000},
      {"today", false, false, 20261208000000},
      {"Yesterday", true, false, 20261207235959},
      {"yesterday 14:00", false, false, 20261207140000},
      {"today 2pm", true, false, 20261208140000},
      // clang-format on
  };
  std::string strError;
  ASSERT_TRUE(UseTimeZone("+08:00", strError)) << strError;
  SetClockForTesting(1796725800);  // 2026-12-08 10:30:00 UTC
  for (const auto& c : kCases) {
    CTimeBound bound;
    ASSERT_TRUE(ParseTimeBound(c.szText, bound, strError, c.bUntil)) << c.szText;
    EXPECT_EQ(bound.m_bTimeOfDay, c.bTimeOfDay) << c.szText;
    EXPECT_EQ(c.bTimeOfDay ? bound.m_stamp.TimeOfDayKey() : bound.m_stamp.Key(), c.nKey) << c.szText;
  }
  ResetClockForTesting();
  ASSERT_TRUE(UseTimeZone("UTC", strError)) << strError;
}

TEST(ParseTimeBound, RejectsMalformedTimesWithAMessage) {
  const char* const kBad[] = {
      "",
      "9:05",                    // hour needs two digits
      "24:00",                   // no such hour
      "12:60",                   // no such minute
      "12:00:",                  // seconds cut off
      "2023.02.29 10:00",        // not a leap year
      "2011.04-08 10:00",        // mixed separators
      "2011.04.08 25:00",        // no such hour after a day
      "13pm",                    // no such hour of the 12-hour clock
      "15",                      // a count without its unit
      "1 fortnight ago",         // a unit not known
      "2011-04-08..2011-04-09",  // a range of days is an argument of show, not a time
      "2011.04.08  10:00",       // two blanks
      "noon",
  };
  for (const char* szText : kBad) {
    CTimeBound bound;
    std::string strError;
    EXPECT_FALSE(ParseTimeBound(szText, bound, strError)) << szText;
    EXPECT_NE(strError.find(szText), std::string::npos) << strError;
  }
}

TEST(TimeBounds, IncludeBothEndsAndExcludeUnreadableStamps) {
  CTimeBound since, until;
  std::string strError;
  ASSERT_TRUE(ParseTimeBound("09:00", since, strError));
  ASSERT_TRUE(ParseTimeBound("2011.04.08 10:00:00", until, strError));
  struct {
    const char* szStamp;
    bool bAfterSince;
    bool bBeforeUntil;
  } const kCases[] = {
      // clang-format off
      {"2011.04.08 09:00:00", true, true},
      {"2011.04.08 08:59:59", false, true},
      {"2011.04.08 10:00:00", true, true},
      {"2011.04.08 10:00:01", true, false},
      {"2011.04.07 23:00:00", true, true},   // a time of day applies to every day
      {"   0.00.00 -1:-1:-1", false, false}, // the stamp of a failed clock reading
      // clang-format on
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(IsAtOrAfter(c.szStamp, since), c.bAfterSince) << c.szStamp;
    EXPECT_EQ(IsAtOrBefore(c.szStamp, until), c.bBeforeUntil) << c.szStamp;
  }
}

TEST(FormatIsoTime, ConvertsStampsAndPassesOthersThrough) {
  EXPECT_EQ(FormatIsoTime("2011.04.08 09:05:03"), "2011-04-08T09:05:03");
  EXPECT_EQ(FormatIsoTime("   0.00.00 -1:-1:-1"), "   0.00.00 -1:-1:-1");
  EXPECT_EQ(FormatIsoTime("2011.13.08 09:05:03"), "2011.13.08 09:05:03");
}

// Records of one file in file order, in a zone with summer time: the hour
// repeated in October has two offsets, and the order of the records tells
// which pass each record is from.
TEST(RecordClock, GivesEachRecordTheOffsetOfItsOwnMoment) {
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  struct {
    const char* szStamp;  // nullptr: the next file starts
    const char* szExpected;
  } const kCases[] = {
      {"2011.01.15 12:00:00", "2011-01-15T12:00:00+01:00"},
      {"2011.10.30 01:59:00", "2011-10-30T01:59:00+02:00"},
      {"2011.10.30 02:10:00", "2011-10-30T02:10:00+02:00"},  // the repeated hour, first pass
      {"2011.10.30 02:50:00", "2011-10-30T02:50:00+02:00"},
      {"2011.10.30 02:05:00", "2011-10-30T02:05:00+01:00"},  // back before the record above: second pass
      {"2011.10.30 02:55:00", "2011-10-30T02:55:00+01:00"},
      {"2011.10.30 03:00:00", "2011-10-30T03:00:00+01:00"},
      {nullptr, nullptr},
      {"2011.10.30 02:30:00", "2011-10-30T02:30:00+02:00"},  // no record before it: the first pass
      {"2011.03.27 02:30:00", "2011-03-27T02:30:00+02:00"},  // skipped by the clocks: forward's offset
      {"   0.00.00 -1:-1:-1", "   0.00.00 -1:-1:-1"},
  };
  CRecordClock clock;
  for (const auto& c : kCases) {
    if (c.szStamp == nullptr) {
      clock.StartFile();
      continue;
    }
    EXPECT_EQ(FormatRecordTime(c.szStamp, clock.OffsetOf(std::string_view(c.szStamp))), c.szExpected) << c.szStamp;
  }
  setenv("TZ", "UTC", 1);
  tzset();
}

TEST(ParseUtcOffset, TakesFixedOffsetsOnly) {
  struct {
    const char* szText;
    bool bRead;
    int nMinutes;
  } const kCases[] = {
      {"UTC", true, 0},      {"+08:00", true, 480}, {"-0330", true, -210},       {"+05", true, 300},
      {"+14:00", true, 840}, {"+8", false, 0},      {"+08:", false, 0},          {"+15:00", false, 0},
      {"08:00", false, 0},   {"+08:60", false, 0},  {"Asia/Shanghai", false, 0},
  };
  for (const auto& c : kCases) {
    int nMinutes = 0;
    EXPECT_EQ(ParseUtcOffset(c.szText, nMinutes), c.bRead) << c.szText;
    if (c.bRead) {
      EXPECT_EQ(nMinutes, c.nMinutes) << c.szText;
    }
  }
}

TEST(PreviousDay, CrossesMonthAndYearEnds) {
  struct {
    CDay day;
    const char* szExpected;
  } const kCases[] = {
      {{2024, 3, 1}, "20240229"},
      {{2023, 3, 1}, "20230228"},
      {{2024, 1, 1}, "20231231"},
      {{2024, 5, 17}, "20240516"},
  };
  for (const auto& c : kCases) EXPECT_EQ(FormatDayStamp(PreviousDay(c.day)), c.szExpected);
}

TEST(FitColumns, NarrowsTheWidestColumnsAndNeverTheTime) {
  const CTableLayout natural = {19, 5, 10, 10, 40, 80};
  struct {
    int nWidth;
  } const kCases[] = {{200}, {120}, {80}, {50}, {30}};
  for (const auto& c : kCases) {
    CTableLayout fitted = FitColumns(natural, c.nWidth);
    int nTotal = 2 * (kFieldCount - 1);
    for (int i = 0; i < kFieldCount; ++i) {
      EXPECT_LE(fitted[i], natural[i]);
      EXPECT_GE(fitted[i], 1);
      nTotal += fitted[i];
    }
    EXPECT_EQ(fitted[fieldTime], 19);
    if (c.nWidth >= 19 + 10 + 5) {
      EXPECT_LE(nTotal, c.nWidth) << c.nWidth;
    }
    // Narrow columns are kept whole while wide ones give way.
    if (c.nWidth >= 80) {
      EXPECT_EQ(fitted[fieldType], 5) << c.nWidth;
    }
  }
  EXPECT_EQ(FitColumns(natural, 0), natural);
}

// Field data as it may stand in a file: escaped references, other '&',
// line breaks of every kind, control characters, C1 controls, pairs and
// lone halves of surrogate pairs, wide and zero-width characters.
const std::u16string kFieldTexts[] = {
    u"",
    u"plain ASCII text",
    u"a &lt;b&gt; &amp; &quot;c&apos; &amp &#60; &",
    u"line one\r\nline two\nthree\rfour\r",
    u"tab\tbell\x07"
    u"esc\x1B[31m del\x7F c1\x85 end",
    u"bidi \u202Ereversed\u202C \u2066isolated\u2069 c1 \x9B31m",
    u"\u4E2D\u6587 \uFF21 \u0301 \u200B \U0001F600 \U00020000",
    u"lone \xD800 x \xDC00 y \xD800",
    u"\xD83D&amp;\xDE00",
};

TEST(FieldTextWidth, IsTheWidthOfTheDecodedField) {
  for (const std::u16string& strData : kFieldTexts) {
    for (bool bEscaped : {true, false}) {
      std::string strField;
      AppendFieldUtf8(strField, strData, bEscaped);
      std::u16string strDecoded;
      AppendFieldUtf16(strDecoded, strData, bEscaped);
      EXPECT_EQ(strField, ToUtf8(strDecoded));
      for (bool bLines : {false, true}) {
        EXPECT_EQ(FieldTextWidth(strData, bEscaped, bLines), DisplayTextWidth(strField, bLines)) << strField;
      }
      EXPECT_EQ(DisplayTextWidth(strField, false), DisplayWidth(MakeDisplayText(strField, false))) << strField;
    }
  }
}

TEST(JsonLine, IsWhatNlohmannJsonWrites) {
  for (const std::u16string& strData : kFieldTexts) {
    CLogRecord record;
    record.m_aField[fieldTime] = "2011.04.08 08:00:00";
    for (int i = fieldType; i < kFieldCount; ++i) AppendFieldUtf8(record.m_aField[i], strData, i % 2 == 0);
    record.m_strFile = "Vardlix20110408.xml";
    nlohmann::ordered_json object;
    object["time"] = FormatIsoTime(record.m_aField[fieldTime]);
    for (int i = fieldType; i < kFieldCount; ++i) object[kFieldEnglishNames[i]] = record.m_aField[i];
    object["file"] = record.m_strFile;
    std::string strLine;
    AppendJsonLine(strLine, record);
    EXPECT_EQ(strLine, object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
  }
}

// --grep's look at a record's text never rules out a record that matches.
TEST(RecordMatcher, NeverRulesOutARecordThatMatches) {
  const std::string aNeedles[] = {
      "a",        "A",           "&", "<b>", "c'", "\"c", "LINE TWO", "\xEF\xBF\xBD", "\xF0\x9F\x98\x80",
      "\xC3\xA9", "\xE2\x84\xAA"};  // U+FFFD, an emoji, é, the Kelvin sign
  const std::u16string aTexts[] = {u"x a &lt;b&gt; &amp; &quot;c&apos; y",
                                   u"line one\r\nLine Two",
                                   u"lone \xD800 x",
                                   u"\U0001F600",
                                   u"\u00C9t\u00E9",
                                   u"k K \u212A"};
  for (const std::string& strNeedle : aNeedles) {
    for (bool bIgnoreCase : {false, true}) {
      CRecordFilter filter;
      filter.m_strGrep = strNeedle;
      filter.m_bIgnoreCase = bIgnoreCase;
      const CRecordMatcher matcher(filter);
      for (const std::u16string& strData : aTexts) {
        const std::u16string strMarkup = u"<\u8bb0\u5f55><\u63cf\u8ff0>" + strData + u"</\u63cf\u8ff0></\u8bb0\u5f55>";
        CRecordText text;
        text.m_markup = strMarkup;
        text.m_aData[fieldDescription] = std::u16string_view(strMarkup).substr(8, strData.size());
        const CLogRecord record = MakeLogRecord(text, false);
        if (matcher.Matches(record)) {
          EXPECT_TRUE(matcher.MayMatch(text)) << strNeedle << " " << ToUtf8(strData);
        }
      }
    }
  }
}

}  // namespace
