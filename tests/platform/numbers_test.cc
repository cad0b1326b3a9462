// The wide number readers: white space, signs, clamping, bounded fields,
// and wcstol's bases, prefixes and end pointer.
#include <gtest/gtest.h>

#include <climits>
#include <tuple>

#include "platform/kx9platform.h"

namespace {

// _wtoi/_wtol clamp to 32 bits and _wtoi64 to 64; only ASCII white space and
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
    EXPECT_EQ(_wtoi(s), v32) << text;
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

// wcstol: base 0 picks 8, 10 or 16; "0x" counts only before a hex digit; the
// end pointer stays at the start when no digit was read.
TEST(Numbers, WcstolBasesPrefixesAndEndPointer) {
  // clang-format off
  const std::tuple<const char16_t*, int, LONG, std::ptrdiff_t> cases[] = {
      {u"0x1A,", 16, 26, 4},  {u"1a", 16, 26, 2},   {u"  -0X10", 16, -16, 7}, {u"0x", 16, 0, 1},
      {u"0xg", 16, 0, 1},     {u"zz", 16, 0, 0},    {u"   ", 16, 0, 0},       {u" -", 10, 0, 0},
      {u"0x1f", 0, 31, 4},    {u"017", 0, 15, 3},   {u"19", 0, 19, 2},        {u"08", 0, 0, 1},
      {u"0x", 0, 0, 1},       {u"zZ", 36, 1295, 2}, {u"1012", 2, 5, 3},       {u"0x10", 10, 0, 1},
      {u"12", 1, 0, 0},       {u"12", 37, 0, 0},    {u"FFFFFFFF", 16, INT32_MAX, 8},
      {u"-80000000", 16, INT32_MIN, 9},             {u"-80000001", 16, INT32_MIN, 9}};
  // clang-format on
  for (const auto& [s, base, value, length] : cases) {
    char16_t* end = reinterpret_cast<char16_t*>(1);
    EXPECT_EQ(wcstol(s, &end, base), value) << ToUtf8(s) << " base " << base;
    EXPECT_EQ(end - s, length) << ToUtf8(s) << " base " << base;
  }
  EXPECT_EQ(wcstol(u"2e", nullptr, 16), 46);
}

}  // namespace
