// The CString operations the component relies on, and the UTF-8 helpers.
#include <gtest/gtest.h>

#include "platform/kx9platform.h"

namespace {

// CompareNoCase folds ASCII letters only and compares up to the first zero
// unit (the component asks only whether names are equal); TrimLeft takes
// ASCII white space only.
TEST(CStringOps, OnlyAsciiFoldsAndTrims) {
  // clang-format off
  const std::tuple<CString, const char16_t*, bool> compared[] = {
      {u"Speed_1", u"SPEED_1", true}, {u"SPEE", u"speed", false}, {u"\u00E9", u"\u00C9", false}, {u"", nullptr, true},
      {u"a", nullptr, false}, {std::u16string(u"ab\0c", 4), u"AB", true}};
  // clang-format on
  for (const auto& [a, b, equal] : compared)
    EXPECT_EQ(a.CompareNoCase(b) == 0, equal) << ToUtf8(std::u16string(a.CText()));
  for (auto [in, out] :
       {std::pair(u" \t\r\n\v\fabc ", u"abc "), std::pair(u"\u3000x", u"\u3000x"), std::pair(u"  ", u"")})
    EXPECT_EQ(CString(in).TrimLeft(), out) << ToUtf8(in);
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
  for (unsigned c = 1; c < 0x10000; ++c)
    if (c < 0xD800 || c > 0xDFFF) every.push_back(static_cast<char16_t>(c));
  every += u"\U00010000\U0010FFFF";
  EXPECT_EQ(FromUtf8(ToUtf8(every)), every);
}

}  // namespace
