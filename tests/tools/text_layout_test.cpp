// Cell widths, time bounds and column fitting: the pieces of the tool that
// decide what a line of output looks like.
#include <gtest/gtest.h>

#include <clocale>
#include <cwchar>
#include <locale.h>

#include "display_width.h"
#include "record_output.h"
#include "time_stamp.h"

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
      {"ＡＢ", 4},           // fullwidth forms
      {"e\xCC\x81", 1},     // e + combining acute accent
      {"\xF0\x9F\x98\x80", 2},  // emoji
      {"\xE2\x80\xA6", 1},  // the ellipsis itself, ambiguous: one cell
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
      {"abcdef", 6, "abcdef"},
      {"abcdef", 4, "abc…"},
      {"中文字", 6, "中文字"},
      {"中文字", 4, "中…"},    // 文 would straddle the last cell
      {"中文字", 5, "中文…"},
      {"abc", 1, "…"},
      {"abc", 0, ""},
  };
  for (const auto& c : kCases) {
    std::string strFitted = FitToWidth(c.szText, c.nWidth);
    EXPECT_EQ(strFitted, c.szExpected) << c.szText << " in " << c.nWidth;
    EXPECT_LE(DisplayWidth(strFitted), c.nWidth);
  }
}

TEST(ParseTimeBound, AcceptsTimesOfDayAndFullStamps) {
  struct {
    const char* szText;
    bool bTimeOfDay;
    int64_t nKey;  // Key() or TimeOfDayKey()
  } const kCases[] = {
      {"09:05", true, 90500},
      {"23:59:59", true, 235959},
      {"2011.04.08 09:05:03", false, 20110408090503},
      {"2011-04-08T09:05", false, 20110408090500},
      {"2024/02/29 00:00:00", false, 20240229000000},  // leap day
  };
  for (const auto& c : kCases) {
    CTimeBound bound;
    std::string strError;
    ASSERT_TRUE(ParseTimeBound(c.szText, bound, strError)) << c.szText;
    EXPECT_EQ(bound.m_bTimeOfDay, c.bTimeOfDay) << c.szText;
    EXPECT_EQ(c.bTimeOfDay ? bound.m_stamp.TimeOfDayKey() : bound.m_stamp.Key(), c.nKey) << c.szText;
  }
}

TEST(ParseTimeBound, RejectsMalformedTimesWithAMessage) {
  const char* const kBad[] = {
      "",
      "9:05",                  // hour needs two digits
      "24:00",                 // no such hour
      "12:60",                 // no such minute
      "12:00:",                // seconds cut off
      "2023.02.29 10:00",      // not a leap year
      "2011.04-08 10:00",      // mixed separators
      "2011.04.08",            // a date alone
      "2011.04.08  10:00",     // two blanks
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
      {"2011.04.08 09:00:00", true, true},
      {"2011.04.08 08:59:59", false, true},
      {"2011.04.08 10:00:00", true, true},
      {"2011.04.08 10:00:01", true, false},
      {"2011.04.07 23:00:00", true, true},   // a time of day applies to every day
      {"   0.00.00 -1:-1:-1", false, false}, // the stamp of a failed clock reading
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

}  // namespace
