// The platform layer's one home for Unicode at the edges of each form: how
// UTF-16 becomes UTF-8 and comes back. How strictly UTF-8 is read is in the
// narrow-text rows of platform_files_posix_test.cpp.
#include <gtest/gtest.h>

#include <string>

#include "platform/unicode_text.h"

namespace {

struct Utf16Case {
  const char* m_pszName;
  std::u16string m_strText;
  std::string m_strBytes;  // what ToValidUtf8 makes of the text
  bool m_bWhole;           // the bytes decode to the very text again
};

TEST(UnicodeTextTest, Utf16BecomesValidUtf8AndWellFormedTextComesBack) {
  const Utf16Case kCases[] = {
      {"EachLengthAtItsEdges", u"\u007F\u0080\u07FF\u0800\uD7FF\uE000\uFFFF",
       "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF", true},
      {"PairIsOneCodePoint", u"\U0001F600", "\xF0\x9F\x98\x80", true},
      {"LargestPairIsTheLargestCodePoint", u"\U0010FFFF", "\xF4\x8F\xBF\xBF", true},
      {"LoneHighAtTheEndBecomesReplacement", u"a\xD800", "a\xEF\xBF\xBD", false},
      {"LoneLowBecomesReplacement", u"\xDC00z", "\xEF\xBF\xBDz", false},
      {"ReversedPairIsTwoLoneHalves", u"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD", false},
      {"HighBeforeAPairIsLone", u"\xD800\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80", false},
  };
  for (const Utf16Case& test : kCases) {
    SCOPED_TRACE(test.m_pszName);
    EXPECT_EQ(ToValidUtf8(test.m_strText), test.m_strBytes);
    std::u16string strBack;
    EXPECT_TRUE(DecodeUtf8(test.m_strBytes, strBack));
    EXPECT_EQ(strBack == test.m_strText, test.m_bWhole);
  }
}

}  // namespace
