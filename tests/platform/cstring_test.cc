#include <gtest/gtest.h>

#include <climits>

#include "platform/kx9platform.h"

namespace {

TEST(CStringOps, CompareNoCaseFoldsAsciiOnly) {
  const CString s(u"Speed_1");
  EXPECT_EQ(s.CompareNoCase(u"SPEED_1"), 0);
  EXPECT_LT(s.CompareNoCase(u"speed_2"), 0);
  EXPECT_GT(s.CompareNoCase(u"SPEED"), 0);
  EXPECT_LT(CString(u"SPEE").CompareNoCase(u"speed"), 0);
  EXPECT_LT(CString(u"_").CompareNoCase(u"A"), 0);  // letters fold to lower case
  EXPECT_NE(CString(u"\u00E9").CompareNoCase(u"\u00C9"), 0);
  EXPECT_EQ(CString().CompareNoCase(nullptr), 0);
  EXPECT_GT(CString(u"a").CompareNoCase(nullptr), 0);
}

TEST(CStringOps, LeftAndMidClampOutOfRangeArguments) {
  const CString s(u"abcde");
  EXPECT_EQ(s.Left(-1), u"");
  EXPECT_EQ(s.Left(2), u"ab");
  EXPECT_EQ(s.Left(99), u"abcde");
  EXPECT_EQ(s.Mid(-5), u"abcde");
  EXPECT_EQ(s.Mid(2), u"cde");
  EXPECT_EQ(s.Mid(5), u"");
  EXPECT_EQ(s.Mid(INT_MAX), u"");
  EXPECT_EQ(s.Mid(1, 2), u"bc");
  EXPECT_EQ(s.Mid(-1, 2), u"ab");
  EXPECT_EQ(s.Mid(3, 100), u"de");
  EXPECT_EQ(s.Mid(1, -1), u"");
  EXPECT_EQ(s.Mid(1, INT_MAX), u"bcde");
  EXPECT_EQ(s.Mid(INT_MAX, INT_MAX), u"");
  EXPECT_EQ(CString().Mid(0, 3), u"");
}

TEST(CStringOps, FindCharAndSubstring) {
  const CString s(u"a,b,c");
  EXPECT_EQ(s.Find(u','), 1);
  EXPECT_EQ(s.Find(u',', 2), 3);
  EXPECT_EQ(s.Find(u',', 4), -1);
  EXPECT_EQ(s.Find(u',', -1), -1);
  EXPECT_EQ(s.Find(u'a', 5), -1);
  EXPECT_EQ(s.Find(u"b,c"), 2);
  EXPECT_EQ(s.Find(u"b,c", 3), -1);
  EXPECT_EQ(s.Find(u""), 0);
  EXPECT_EQ(s.Find(u"", 5), 5);
  EXPECT_EQ(s.Find(u"", 6), -1);
  EXPECT_EQ(s.Find(static_cast<const char16_t*>(nullptr)), -1);
  EXPECT_EQ(CString().Find(u'x'), -1);
}

TEST(CStringOps, ReplaceCountsNonOverlappingMatches) {
  CString s(u"a,,b,,");
  EXPECT_EQ(s.Replace(u",,", u";"), 2);
  EXPECT_EQ(s, u"a;b;");
  CString t(u"aaa");
  EXPECT_EQ(t.Replace(u"aa", u"b"), 1);
  EXPECT_EQ(t, u"ba");
  EXPECT_EQ(t.Replace(u"", u"x"), 0);
  EXPECT_EQ(t.Replace(nullptr, u"x"), 0);
  EXPECT_EQ(t.Replace(u"b", nullptr), 1);
  EXPECT_EQ(t, u"a");
  CString big(std::u16string(200000, u'x'));
  EXPECT_EQ(big.Replace(u"x", u"yz"), 200000);
  EXPECT_EQ(big.GetLength(), 400000);
  EXPECT_EQ(big.Left(4), u"yzyz");
}

TEST(CStringOps, TrimLeftRemovesAsciiWhiteSpaceOnly) {
  CString s(u" \t\r\n\v\fabc ");
  EXPECT_EQ(s.TrimLeft(), u"abc ");
  CString w(u"\u3000x");
  EXPECT_EQ(w.TrimLeft(), u"\u3000x");
  CString all(u"  ");
  EXPECT_TRUE(all.TrimLeft().IsEmpty());
}

TEST(CStringFormat, ConversionsUsedByTheComponent) {
  CString s;
  s.Format(u"%d|%ld|%I64d|%I64d", INT_MIN, static_cast<LONG>(-5), static_cast<LONGLONG>(INT64_MIN),
           static_cast<LONGLONG>(1000000000000LL));
  EXPECT_EQ(s, u"-2147483648|-5|-9223372036854775808|1000000000000");
  s.Format(u"%x|%x|%X|%I64x|%u", 0xDEADBEEFu, static_cast<BYTE>(1), 0xABCu, 0x123456789ABCull, 4000000000u);
  EXPECT_EQ(s, u"deadbeef|1|ABC|123456789abc|4000000000");
  s.Format(u"SYSLBL,%x,%d,%s", 46u, 0, u"90150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(s, u"SYSLBL,2e,0,90150983cd24fb0d6963f7d28e17f72");
  s.Format(u"[%s][%s][%%][%c]", u"\u3042b", static_cast<const char16_t*>(nullptr), u'Z');
  EXPECT_EQ(s, u"[\u3042b][(null)][%][Z]");
  s.Format(u"[%5d][%-5d][%05d][%+d][% d][%.3d][%.0d][%#x][%#o]", 42, 42, -42, 7, 7, 5, 0, 255u, 8u);
  EXPECT_EQ(s, u"[   42][42   ][-0042][+7][ 7][005][][0xff][010]");
  s.Format(u"[%5s][%-4s][%.2s][%*d][%.2f][%q]", u"ab", u"ab", u"abc", 4, 9, 3.14159);
  EXPECT_EQ(s, u"[   ab][ab  ][ab][   9][3.14][%q]");
  s.Format(u"100%");
  EXPECT_EQ(s, u"100%");
}

TEST(CStringFormat, AppendFormatAndArgumentsInsideTheTarget) {
  CString s(u"x=");
  s.AppendFormat(u"%d,", 1);
  s.AppendFormat(u"%s", u"y");
  EXPECT_EQ(s, u"x=1,y");
  CString big(std::u16string(1000, u'q'));
  big.AppendFormat(u"|%s|%s", big.GetString(), big.GetString());  // the target grows while reading
  EXPECT_EQ(big.GetLength(), 3002);
  EXPECT_EQ(big.Mid(1000, 2), u"|q");
  EXPECT_EQ(big.Find(u'|', 1001), 2001);
  EXPECT_EQ(big.Mid(2002), CString(std::u16string(1000, u'q')));
  CString self(u"ab");
  self.Format(u"<%s%s>", self.GetString(), self.GetString());
  EXPECT_EQ(self, u"<abab>");
}

TEST(Utf8, LosslessForValidTextAndReplacesBadSequences) {
  const std::u16string text = u"A \u00E9 \u3042 \U0001F600";
  const std::string utf8 = "A \xC3\xA9 \xE3\x81\x82 \xF0\x9F\x98\x80";
  EXPECT_EQ(ToUtf8(text), utf8);
  EXPECT_EQ(FromUtf8(utf8), text);
  EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800)) + u"a" + char16_t(0xDC00)), "\xEF\xBF\xBD" "a\xEF\xBF\xBD");
  EXPECT_EQ(FromUtf8("\xC0\x80"), u"\uFFFD\uFFFD");
  EXPECT_EQ(FromUtf8("a\xE3\x81" "b"), u"a\uFFFDb");
  EXPECT_EQ(FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(FromUtf8("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(FromUtf8("\xF0\x9F\x98"), u"\uFFFD");
  std::u16string every;
  for (unsigned c = 1; c < 0x10000; ++c) {
    if (c < 0xD800 || c > 0xDFFF) every.push_back(static_cast<char16_t>(c));
  }
  every += u"\U00010000\U0010FFFF";
  EXPECT_EQ(FromUtf8(ToUtf8(every)), every);
}

}  // namespace
