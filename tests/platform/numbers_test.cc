#include <gtest/gtest.h>

#include <climits>

#include "platform/kx9platform.h"

namespace {

TEST(Numbers, DecimalReadersSkipSpaceTakeSignAndClamp) {
  for (auto read : {+[](const char16_t* s) { return static_cast<LONG>(_wtoi(s)); }, +[](const char16_t* s) { return _wtol(s); }}) {
    EXPECT_EQ(read(u" \t\n\v\f\r42x"), 42);
    EXPECT_EQ(read(u"\u00A0" u"5"), 0);  // no-break space is not white space
    EXPECT_EQ(read(u"\uFF11"), 0);       // nor is a full-width digit a digit
    EXPECT_EQ(read(u"+7"), 7);
    EXPECT_EQ(read(u"-7"), -7);
    EXPECT_EQ(read(u"- 7"), 0);
    EXPECT_EQ(read(u"+-7"), 0);
    EXPECT_EQ(read(u""), 0);
    EXPECT_EQ(read(nullptr), 0);
    EXPECT_EQ(read(u"2147483647"), INT32_MAX);
    EXPECT_EQ(read(u"2147483648"), INT32_MAX);
    EXPECT_EQ(read(u"99999999999999999999999"), INT32_MAX);
    EXPECT_EQ(read(u"-2147483648"), INT32_MIN);
    EXPECT_EQ(read(u"-2147483649"), INT32_MIN);
    EXPECT_EQ(read(u"0000000000000000000012"), 12);
  }
  EXPECT_EQ(_wtoi64(u"  123456789012,"), 123456789012LL);
  EXPECT_EQ(_wtoi64(u"9223372036854775807"), INT64_MAX);
  EXPECT_EQ(_wtoi64(u"9223372036854775808"), INT64_MAX);
  EXPECT_EQ(_wtoi64(u"-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(_wtoi64(u"-99999999999999999999"), INT64_MIN);
  EXPECT_EQ(_wtoi64(u"-12"), -12);
}

TEST(Numbers, WcstolBasesPrefixesAndEndPointer) {
  struct Case {
    const char16_t* s;
    int base;
    LONG value;
    std::ptrdiff_t end;
  };
  const Case cases[] = {
      {u"0x1A,", 16, 26, 4},   {u"1a", 16, 26, 2},    {u"  -0X10", 16, -16, 7}, {u"0x", 16, 0, 1},
      {u"0xg", 16, 0, 1},      {u"zz", 16, 0, 0},     {u"   ", 16, 0, 0},       {u" -", 10, 0, 0},
      {u"0x1f", 0, 31, 4},     {u"017", 0, 15, 3},    {u"19", 0, 19, 2},        {u"08", 0, 0, 1},
      {u"0x", 0, 0, 1},        {u"zZ", 36, 1295, 2},  {u"1012", 2, 5, 3},       {u"0x10", 10, 0, 1},
      {u"FFFFFFFF", 16, INT32_MAX, 8},               {u"-80000000", 16, INT32_MIN, 9},
      {u"-80000001", 16, INT32_MIN, 9},              {u"12", 1, 0, 0},         {u"12", 37, 0, 0},
  };
  for (const Case& c : cases) {
    char16_t* end = reinterpret_cast<char16_t*>(1);
    EXPECT_EQ(wcstol(c.s, &end, c.base), c.value) << ToUtf8(c.s) << " base " << c.base;
    EXPECT_EQ(end - c.s, c.end) << ToUtf8(c.s) << " base " << c.base;
  }
  EXPECT_EQ(wcstol(u"2e", nullptr, 16), 46);
}

}  // namespace
