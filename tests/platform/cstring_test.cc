// The CString operations the component relies on, and the UTF-8 helpers.
#include <gtest/gtest.h>

#include "platform/kx9platform.h"

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

// CompareNoCase folds ASCII letters only (to lower case) and compares up to
// the first zero unit; TrimLeft takes ASCII white space only.
TEST(CStringOps, OnlyAsciiFoldsAndTrims) {
  // clang-format off
  const std::pair<int, int> compared[] = {
      {CString(u"Speed_1").CompareNoCase(u"SPEED_1"), 0}, {Sign(CString(u"SPEE").CompareNoCase(u"speed")), -1},
      {Sign(CString(u"_").CompareNoCase(u"A")), -1},      {Sign(CString(u"\u00E9").CompareNoCase(u"\u00C9")), 1},
      {CString().CompareNoCase(nullptr), 0},              {Sign(CString(u"a").CompareNoCase(nullptr)), 1},
      {CString(std::u16string(u"ab\0c", 4)).CompareNoCase(u"AB"), 0}};
  // clang-format on
  for (std::size_t i = 0; i < std::size(compared); ++i) EXPECT_EQ(compared[i].first, compared[i].second) << i;
  CString trim(u" \t\r\n\v\fabc "), wide(u"\u3000x"), blank(u"  ");
  EXPECT_EQ(trim.TrimLeft(), u"abc ");
  EXPECT_EQ(wide.TrimLeft(), u"\u3000x");
  EXPECT_TRUE(blank.TrimLeft().IsEmpty());
}

// Valid text converts losslessly both ways; lone surrogates and bad UTF-8
// sequences become U+FFFD, one per longest valid prefix.
TEST(Utf8, LosslessForValidTextAndReplacesBadSequences) {
  // clang-format off
  EXPECT_EQ(ToUtf8(u"A \u00E9 \u3042 \U0001F600"), "A \xC3\xA9 \xE3\x81\x82 \xF0\x9F\x98\x80");
  EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800)) + u"a" + char16_t(0xDC00)), "\xEF\xBF\xBD" "a\xEF\xBF\xBD");
  const std::pair<std::string, std::u16string> bad[] = {
      {"\xC0\x80", u"\uFFFD\uFFFD"},                     {"a\xE3\x81" "b", u"a\uFFFDb"},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},           {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\xF0\x9F\x98", u"\uFFFD"}};
  // clang-format on
  for (const auto& [in, out] : bad) EXPECT_EQ(FromUtf8(in), out) << in.size();
  std::u16string every;
  for (unsigned c = 1; c < 0x10000; ++c) {
    if (c < 0xD800 || c > 0xDFFF) every.push_back(static_cast<char16_t>(c));
  }
  every += u"\U00010000\U0010FFFF";
  EXPECT_EQ(FromUtf8(ToUtf8(every)), every);
}

}  // namespace
