// The wide number readers: white space, signs, clamping, bounded fields,
// and wcstol in base 16.
#include <gtest/gtest.h>

#include <climits>
#include <tuple>

#include "platform/kx9platform.h"

namespace {

// _wtol clamps to 32 bits and _wtoi64 to 64, and only ASCII white space and
// digits count; a field inside a line reads at most n units (a zero unit
// ends it earlier), clamped to the caller's range; wcstol in base 16, as the
// component calls it, takes "0x" only before a hex digit and clamps to 32 bits.
TEST(Numbers, ReadersSkipSpaceTakeSignAndClamp) {
  // clang-format off
  const std::tuple<const char16_t*, LONG, LONGLONG> decimal[] = {
      {u" \t\n\v\f\r42x", 42, 42}, {u"\u00A0" u"5", 0, 0}, {u"\uFF11", 0, 0}, {u"+7", 7, 7}, {u"-7", -7, -7},
      {u"- 7", 0, 0}, {u"+-7", 0, 0}, {u"", 0, 0}, {nullptr, 0, 0}, {u"-0", 0, 0}, {u"00000000000000000012", 12, 12},
      {u"2147483647", INT32_MAX, INT32_MAX},            {u"2147483648", INT32_MAX, 2147483648LL},
      {u"-2147483648", INT32_MIN, INT32_MIN},           {u"-2147483649", INT32_MIN, -2147483649LL},
      {u"  123456789012,", INT32_MAX, 123456789012LL},  {u"9223372036854775807", INT32_MAX, INT64_MAX},
      {u"9223372036854775808", INT32_MAX, INT64_MAX},   {u"-9223372036854775808", INT32_MIN, INT64_MIN},
      {u"-99999999999999999999", INT32_MIN, INT64_MIN}};
  const std::tuple<const char16_t*, std::size_t, LONGLONG> bounded[] = {  // in -1000..1000
      {u"12345", 3, 123}, {u" -12,7", 4, -12}, {u"12\0" u"34", 5, 12}, {u"5000", 4, 1000}, {u"-5000", 5, -1000},
      {u"-", 1, 0},       {u"77", 0, 0},       {nullptr, 9, 0}};
  const std::pair<const char16_t*, LONG> hex[] = {
      {u"0x1A,", 26}, {u"1a", 26}, {u"  -0X10", -16}, {u"+2e", 46}, {u"0x", 0}, {u"0xg", 0}, {u"zz", 0}, {u"   ", 0},
      {u" -", 0}, {u"FFFFFFFF", INT32_MAX}, {u"-80000000", INT32_MIN}, {u"-80000001", INT32_MIN}};
  // clang-format on
  for (const auto& [s, v32, v64] : decimal)
    EXPECT_EQ(std::make_pair(_wtol(s), _wtoi64(s)), std::make_pair(v32, v64)) << (s ? ToUtf8(s) : "(null)");
  for (const auto& [s, n, value] : bounded) EXPECT_EQ(WideToDecimalClamped(s, n, -1000, 1000), value) << n;
  for (const auto& [s, value] : hex) EXPECT_EQ(wcstol(s, nullptr, 16), value) << ToUtf8(s);
}

}  // namespace
