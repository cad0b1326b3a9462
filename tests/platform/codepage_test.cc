#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "platform/kx9platform.h"

namespace {

// Restores the thread's code page when a test ends.
struct CodePageGuard {
  UINT saved = GetThreadAnsiCodePage();
  ~CodePageGuard() { SetThreadAnsiCodePage(saved); }
};

std::string Enc(UINT cp, const std::u16string& s) {
  std::string out;
  AppendWideToCodePage(cp, s.data(), s.size(), out);
  return out;
}

std::u16string Dec(UINT cp, const std::string& s) {
  std::u16string out;
  AppendCodePageToWide(cp, reinterpret_cast<const BYTE*>(s.data()), s.size(), out);
  return out;
}

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s.push_back(static_cast<char>(v));
  return s;
}

TEST(CodePage, ThreadSettingIsPerThreadAndRefusesUnknownPages) {
  CodePageGuard guard;
  EXPECT_EQ(GetThreadAnsiCodePage(), 1252u);
  EXPECT_FALSE(SetThreadAnsiCodePage(936));
  EXPECT_FALSE(SetThreadAnsiCodePage(65001));
  EXPECT_EQ(GetThreadAnsiCodePage(), 1252u);
  EXPECT_FALSE(IsAnsiLeadByte(0x82));
  ASSERT_TRUE(SetThreadAnsiCodePage(932));
  UINT other = 0;
  std::thread([&] { other = GetThreadAnsiCodePage(); }).join();
  EXPECT_EQ(other, 1252u);
  for (int b = 0; b < 256; ++b) {
    const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    EXPECT_EQ(IsAnsiLeadByte(static_cast<BYTE>(b)), lead) << b;
  }
  // The thread's page drives the implicit functions.
  std::string out = "x";
  EXPECT_EQ(AppendWideToAnsi(u"\u3042", 1, out), 2u);
  EXPECT_EQ(out, Bytes({'x', 0x82, 0xA0}));
  std::u16string wide = u"y";
  AppendAnsiToWide(reinterpret_cast<const BYTE*>(out.data()), out.size(), wide);
  EXPECT_EQ(wide, u"yx\u3042");
  EXPECT_THROW(Enc(936, u"a"), std::invalid_argument);
}

TEST(CodePage, Cp1252EveryByteBothWays) {
  const std::map<int, char16_t> high = {
      {0x80, 0x20AC}, {0x81, 0x0081}, {0x82, 0x201A}, {0x83, 0x0192}, {0x84, 0x201E}, {0x85, 0x2026},
      {0x86, 0x2020}, {0x87, 0x2021}, {0x88, 0x02C6}, {0x89, 0x2030}, {0x8A, 0x0160}, {0x8B, 0x2039},
      {0x8C, 0x0152}, {0x8D, 0x008D}, {0x8E, 0x017D}, {0x8F, 0x008F}, {0x90, 0x0090}, {0x91, 0x2018},
      {0x92, 0x2019}, {0x93, 0x201C}, {0x94, 0x201D}, {0x95, 0x2022}, {0x96, 0x2013}, {0x97, 0x2014},
      {0x98, 0x02DC}, {0x99, 0x2122}, {0x9A, 0x0161}, {0x9B, 0x203A}, {0x9C, 0x0153}, {0x9D, 0x009D},
      {0x9E, 0x017E}, {0x9F, 0x0178}};
  std::string all;
  std::u16string expected;
  for (int b = 0; b < 256; ++b) {
    all.push_back(static_cast<char>(b));
    expected.push_back(high.count(b) ? high.at(b) : static_cast<char16_t>(b));
  }
  EXPECT_EQ(Dec(1252, all), expected);
  EXPECT_EQ(Enc(1252, expected), all);
  EXPECT_EQ(WideToAnsiLength(expected.data(), expected.size()), 256u);
  // Control codes 0x80..0x9F other than the five have no byte.
  EXPECT_EQ(Enc(1252, u"\u0080\u0081\u0082\u009F\u0100\u3042"), Bytes({'?', 0x81, '?', '?', '?', '?'}));
}

TEST(CodePage, UnrepresentableCodePointsBecomeOneQuestionMark) {
  CodePageGuard guard;
  const std::u16string s = u"a\U0001F600b\xD800" u"c\xDC00\xD83D";  // pair, lone high, lone low, high at end
  for (UINT cp : {1252u, 932u}) {
    EXPECT_EQ(Enc(cp, s), "a?b?c??") << cp;
    ASSERT_TRUE(SetThreadAnsiCodePage(cp));
    EXPECT_EQ(WideToAnsiLength(s.data(), s.size()), 7u);
  }
  EXPECT_EQ(Enc(932, u"\u00A5\u2014\u0100"), "???");
  EXPECT_EQ(Enc(1252, u"\u3042\u00E9"), Bytes({'?', 0xE9}));
}

TEST(CodePage, Cp932KnownCharactersAndEncoderChoices) {
  const std::u16string text = u"A\u3042\u6F22\uFF71\u2460\uE000\u0080\uF8F0\uF8F3";
  const std::string bytes = Bytes({'A', 0x82, 0xA0, 0x8A, 0xBF, 0xB1, 0x87, 0x40, 0xF0, 0x40, 0x80, 0xA0, 0xFF});
  EXPECT_EQ(Enc(932, text), bytes);
  EXPECT_EQ(Dec(932, bytes), text);
  // Several byte pairs decode to one character; writing uses one of them.
  EXPECT_EQ(Dec(932, Bytes({0xFA, 0x40, 0xEE, 0xEF})), u"\u2170\u2170");
  EXPECT_EQ(Enc(932, u"\u2170"), Bytes({0xEE, 0xEF}));
  EXPECT_EQ(Dec(932, Bytes({0xFA, 0x54, 0xEE, 0xF9, 0x81, 0xCA})), u"\uFFE2\uFFE2\uFFE2");
  EXPECT_EQ(Enc(932, u"\uFFE2\u9ED1"), Bytes({0x81, 0xCA, 0xEE, 0xEC}));
  // Characters written as a compatible neighbour that reads back differently.
  const std::map<char16_t, char16_t> neighbour = {{0x00A2, 0xFFE0}, {0x00A3, 0xFFE1}, {0x00AC, 0xFFE2},
                                                  {0x2016, 0x2225}, {0x2212, 0xFF0D}, {0x301C, 0xFF5E}};
  int held = 0;
  for (unsigned c = 0x80; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const std::u16string one(1, static_cast<char16_t>(c));
    const std::string e = Enc(932, one);
    if (e == "?") continue;
    ++held;
    const std::u16string back = Dec(932, e);
    ASSERT_EQ(back.size(), 1u) << c;
    EXPECT_EQ(back[0], neighbour.count(static_cast<char16_t>(c)) ? neighbour.at(static_cast<char16_t>(c)) : c) << c;
  }
  EXPECT_EQ(held, 9280);
}

TEST(CodePage, Cp932EveryValidCharacterRoundTrips) {
  int pairs = 0;
  for (int b = 0; b < 256; ++b) {
    const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    const std::u16string one = Dec(932, Bytes({b}));
    ASSERT_EQ(one.size(), 1u);
    if (lead) {
      EXPECT_EQ(one[0], 0xFFFD) << b;  // a lead byte at the end of the input
      for (int t = 0; t < 256; ++t) {
        const std::u16string c = Dec(932, Bytes({b, t}));
        if (c.size() != 1) {
          // No character: U+FFFD, then the trail byte on its own.
          ASSERT_EQ(c.size(), 2u);
          EXPECT_EQ(c[0], 0xFFFD);
          EXPECT_EQ(c.substr(1), Dec(932, Bytes({t})));
          continue;
        }
        ++pairs;
        EXPECT_TRUE(t >= 0x40 && t <= 0xFC && t != 0x7F) << b << "," << t;
        EXPECT_EQ(Dec(932, Enc(932, c)), c) << b << "," << t;
      }
    } else {
      EXPECT_NE(one[0], 0xFFFD) << b;
      EXPECT_EQ(Enc(932, one), Bytes({b})) << b;
    }
  }
  EXPECT_EQ(pairs, 9604);
}

TEST(CodePage, Cp932BadBytesDecodeToReplacementAndReadingGoesOn) {
  EXPECT_EQ(Dec(932, Bytes({0x85, 0x40, 'x'})), u"\uFFFD@x");
  EXPECT_EQ(Dec(932, Bytes({0x81, 0x7F})), u"\uFFFD\x7F");
  EXPECT_EQ(Dec(932, Bytes({0x82, 0x0A})), u"\uFFFD\n");
  // The refused trail byte is itself a lead byte and starts a character.
  EXPECT_EQ(Dec(932, Bytes({0x85, 0x82, 0xA0})), u"\uFFFD\u3042");
  EXPECT_EQ(Dec(932, Bytes({'a', 0x82})), u"a\uFFFD");
}

TEST(CodePage, LongMixedTextMatchesPieceByPieceConversion) {
  CodePageGuard guard;
  // Crosses the internal chunk size with a surrogate pair on the boundary.
  std::u16string s(4095, u'a');
  s += u"\U0001F600";
  for (int i = 0; i < 3000; ++i) s += (i % 3 == 0) ? u"\u3042" : (i % 3 == 1 ? u"Z\u00E9" : u"\u20AC\uFF71");
  for (UINT cp : {1252u, 932u}) {
    std::string piecewise = "head";
    for (std::size_t i = 0; i < s.size(); ++i) {
      const std::size_t n = (s[i] >= 0xD800 && s[i] <= 0xDBFF) ? 2 : 1;
      AppendWideToCodePage(cp, s.data() + i, n, piecewise);
      i += n - 1;
    }
    std::string bulk = "head";
    const std::size_t added = AppendWideToCodePage(cp, s.data(), s.size(), bulk);
    EXPECT_EQ(bulk, piecewise) << cp;
    EXPECT_EQ(added, bulk.size() - 4);
    ASSERT_TRUE(SetThreadAnsiCodePage(cp));
    EXPECT_EQ(WideToAnsiLength(s.data(), s.size()), added);
    std::u16string back = u"h";
    AppendAnsiToWide(reinterpret_cast<const BYTE*>(bulk.data()) + 4, added, back);
    EXPECT_EQ(back.size(), 1 + s.size() - 1);  // one '?' took the pair's two units
  }
}

}  // namespace
