// The wide number readers: white space, signs, clamping, bounded fields,
// and wcstol in base 16.
#include <gtest/gtest.h>

#include <climits>
#include <tuple>

#include "platform/kx9platform.h"

namespace {

// _wtol clamps to 32 bits and _wtoi64 to 64; only ASCII white space and
// digits count.
TEST(Numbers, DecimalReadersSkipSpaceTakeSignAndClamp) {
  // clang-format off
  const std::tuple<const char16_t*, LONG, LONGLONG> cases[] = {
      {u" \t\n\v\f\r42x", 42, 42}, {u"\u00A0" u"5", 0, 0}, {u"\uFF11", 0, 0}, {u"+7", 7, 7}, {u"-7", -7, -7},
      {u"- 7", 0, 0}, {u"+-7", 0, 0}, {u"", 0, 0}, {nullptr, 0, 0}, {u"-0", 0, 0}, {u"00000000000000000012", 12, 12},
      {u"2147483647", INT32_MAX, INT32_MAX},            {u"2147483648", INT32_MAX, 2147483648LL},
      {u"-2147483648", INT32_MIN, INT32_MIN},           {u"-2147483649", INT32_MIN, -2147483649LL},
      {u"  123456789012,", INT32_MAX, 123456789012LL},  {u"9223372036854775807", INT32_MAX, INT64_MAX},
      {u"9223372036854775808", INT32_MAX, INT64_MAX},   {u"-9223372036854775808", INT32_MIN, INT64_MIN},
      {u"-99999999999999999999", INT32_MIN, INT64_MIN}};
  // clang-format on
  for (const auto& [s, v32, v64] : cases) {
    const std::string text = s ? ToUtf8(s) : "(null)";
    EXPECT_EQ(_wtol(s), v32) << text;
    EXPECT_EQ(_wtoi64(s), v64) << text;
  }
}

// A field inside a line: at most n units (a zero unit ends it earlier), the
// value clamped to the caller's range.
TEST(Numbers, BoundedFieldReadsClampToTheGivenRange) {
  // clang-format off
  const std::tuple<const char16_t*, std::size_t, LONGLONG> cases[] = {
      {u"12345", 3, 123}, {u" -12,7", 4, -12}, {u"12\0" u"34", 5, 12}, {u"5000", 4, 1000}, {u"-5000", 5, -1000},
      {u"-", 1, 0},       {u"77", 0, 0},       {nullptr, 9, 0}};
  // clang-format on
  for (const auto& [s, n, value] : cases) EXPECT_EQ(WideToDecimalClamped(s, n, -1000, 1000), value) << n;
}

// wcstol in base 16, as the component calls it: "0x" counts only before a
// hex digit; values beyond 32 bits clamp.
TEST(Numbers, WcstolReadsHexAndClamps) {
  // clang-format off
  const std::pair<const char16_t*, LONG> cases[] = {
      {u"0x1A,", 26}, {u"1a", 26}, {u"  -0X10", -16}, {u"+2e", 46}, {u"0x", 0}, {u"0xg", 0}, {u"zz", 0}, {u"   ", 0},
      {u" -", 0}, {u"FFFFFFFF", INT32_MAX}, {u"-80000000", INT32_MIN}, {u"-80000001", INT32_MIN}};
  // clang-format on
  for (const auto& [s, value] : cases) EXPECT_EQ(wcstol(s, nullptr, 16), value) << ToUtf8(s);
}

}  // namespace
