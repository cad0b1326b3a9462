#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <thread>
#include <utility>
#include <vector>

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
  EXPECT_FALSE(SetThreadAnsiCodePage(1250));
  EXPECT_FALSE(SetThreadAnsiCodePage(65001));
  EXPECT_EQ(GetThreadAnsiCodePage(), 1252u);
  EXPECT_FALSE(IsAnsiLeadByte(0x82));
  ASSERT_TRUE(SetThreadAnsiCodePage(932));
  UINT other = 0;
  std::thread([&] { other = GetThreadAnsiCodePage(); }).join();
  EXPECT_EQ(other, 1252u);
  // The thread's page drives the implicit functions.
  std::string out = "x";
  EXPECT_EQ(AppendWideToAnsi(u"\u3042", 1, out), 2u);
  EXPECT_EQ(out, Bytes({'x', 0x82, 0xA0}));
  std::u16string wide = u"y";
  AppendAnsiToWide(reinterpret_cast<const BYTE*>(out.data()), out.size(), wide);
  EXPECT_EQ(wide, u"yx\u3042");
  EXPECT_THROW(Enc(1250, u"a"), std::invalid_argument);
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
  for (UINT cp : {1252u, 932u, 936u, 949u, 950u}) {
    EXPECT_EQ(Enc(cp, s), "a?b?c??") << cp;
    ASSERT_TRUE(SetThreadAnsiCodePage(cp));
    EXPECT_EQ(WideToAnsiLength(s.data(), s.size()), 7u);
  }
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
}

// What each double-byte page holds, as its codec defines it.
struct DoubleBytePage {
  UINT cp;
  std::vector<std::pair<int, int>> leads;   // lead byte ranges
  std::vector<int> badSingles;              // bytes that are neither lead bytes nor characters
  int pairs;                                // lead/trail pairs that are characters
  int writtenElsewhere;                     // of them, characters written as another pair
  int held;                                 // code points from U+0080 the page writes
  std::map<char16_t, char16_t> neighbours;  // written as a character that reads back differently
};

const DoubleBytePage kDoubleBytePages[] = {
    {932,
     {{0x81, 0x9F}, {0xE0, 0xFC}},
     {},
     9604,
     398,
     9280,
     {{0x00A2, 0xFFE0}, {0x00A3, 0xFFE1}, {0x00AC, 0xFFE2}, {0x2016, 0x2225}, {0x2212, 0xFF0D}, {0x301C, 0xFF5E}}},
    {936, {{0x81, 0xFE}}, {0x80, 0xFF}, 21791, 0, 21791, {}},
    {949, {{0x81, 0xFE}}, {0x80, 0xFF}, 17048, 0, 17048, {}},
    {950,
     {{0x81, 0xFE}},
     {0x80, 0xFF},
     13752,
     10,
     13751,
     {{0x00A2, 0xFFE0},
      {0x00A3, 0xFFE1},
      {0x00A5, 0xFFE5},
      {0x2022, 0x2027},
      {0x203E, 0x00AF},
      {0x223C, 0xFF5E},
      {0x2609, 0x2299},
      {0x2641, 0x2295},
      {0xFF64, 0xFE51}}},
};

TEST(CodePage, DoubleBytePagesReadEveryPairAndWriteItBack) {
  CodePageGuard guard;
  for (const DoubleBytePage& page : kDoubleBytePages) {
    SCOPED_TRACE(page.cp);
    const UINT cp = page.cp;
    ASSERT_TRUE(SetThreadAnsiCodePage(cp));
    int pairs = 0;
    int elsewhere = 0;
    for (int b = 0; b < 256; ++b) {
      bool lead = false;
      for (const auto& r : page.leads) lead = lead || (b >= r.first && b <= r.second);
      EXPECT_EQ(IsAnsiLeadByte(static_cast<BYTE>(b)), lead) << b;
      const std::u16string one = Dec(cp, Bytes({b}));
      ASSERT_EQ(one.size(), 1u);
      if (!lead) {
        const bool bad = std::count(page.badSingles.begin(), page.badSingles.end(), b) != 0;
        EXPECT_EQ(one[0] == 0xFFFD, bad) << b;
        if (!bad) {
          EXPECT_EQ(Enc(cp, one), Bytes({b})) << b;
        }
        continue;
      }
      EXPECT_EQ(one[0], 0xFFFD) << b;  // a lead byte at the end of the input
      for (int t = 0; t < 256; ++t) {
        const std::string bytes = Bytes({b, t});
        const std::u16string c = Dec(cp, bytes);
        if (c.size() != 1) {
          // No character: U+FFFD, then the trail byte on its own.
          ASSERT_EQ(c.size(), 2u);
          EXPECT_EQ(c[0], 0xFFFD);
          EXPECT_EQ(c.substr(1), Dec(cp, Bytes({t})));
          continue;
        }
        ++pairs;
        EXPECT_NE(c[0], 0xFFFD);
        EXPECT_GE(t, 0x40) << b << "," << t;
        const std::string e = Enc(cp, c);
        if (e != bytes) {
          // The encoder prefers another pair for this character.
          ++elsewhere;
          ASSERT_EQ(e.size(), 2u) << b << "," << t;
          EXPECT_EQ(Dec(cp, e), c) << b << "," << t;
        }
      }
    }
    EXPECT_EQ(pairs, page.pairs);
    EXPECT_EQ(elsewhere, page.writtenElsewhere);

    // Every code point the page writes reads back as itself or its neighbour.
    int held = 0;
    for (unsigned u = 0x80; u < 0x10000; ++u) {
      if (u >= 0xD800 && u <= 0xDFFF) continue;
      const char16_t c = static_cast<char16_t>(u);
      const std::string e = Enc(cp, std::u16string(1, c));
      if (e == "?") continue;
      ++held;
      const auto n = page.neighbours.find(c);
      EXPECT_EQ(Dec(cp, e), std::u16string(1, n == page.neighbours.end() ? c : n->second)) << u;
    }
    EXPECT_EQ(held, page.held);
  }
}

enum Way { kBothWays, kWriteOnly, kReadOnly };
struct TextCase {
  UINT cp;
  Way way;
  std::u16string text;
  std::string bytes;
};

TEST(CodePage, TextAndBytesAcrossPages) {
  CodePageGuard guard;
  const TextCase cases[] = {
      {936, kBothWays, u"A\u4E2D\u6587", Bytes({'A', 0xD6, 0xD0, 0xCE, 0xC4})},
      {949, kBothWays, u"\uD55C\uAD6D\uC5B4\uB620", Bytes({0xC7, 0xD1, 0xB1, 0xB9, 0xBE, 0xEE, 0x8C, 0x63})},
      {950, kBothWays, u"\u4E2D\u6587\u8A31", Bytes({0xA4, 0xA4, 0xA4, 0xE5, 0xB3, 0x5C})},
      {949, kBothWays, u"\u20AC", Bytes({0xA2, 0xE6})},
      {950, kBothWays, u"\u20AC", Bytes({0xA3, 0xE1})},
      // Code points the page cannot hold.
      {1252, kWriteOnly, u"\u3042\u00E9", Bytes({'?', 0xE9})},
      {932, kWriteOnly, u"\u00A5\u2014\u0100\uAC00", "????"},
      {936, kWriteOnly, u"\u20AC\uAC00\u3042", Bytes({'?', '?', 0xA4, 0xA2})},
      {949, kWriteOnly, u"\u4E02\u00A5", "??"},
      // The encoder's choice among pairs, and a neighbour.
      {950, kWriteOnly, u"\uAC00\u5341\u00A5", Bytes({'?', 0xA4, 0x51, 0xA2, 0x44})},
      {950, kReadOnly, u"\u5341\u5341\uFFE5", Bytes({0xA2, 0xCC, 0xA4, 0x51, 0xA2, 0x44})},
      // Bytes at which no character starts: U+FFFD, then the next byte.
      {932, kReadOnly, u"\uFFFD@x", Bytes({0x85, 0x40, 'x'})},
      {932, kReadOnly, u"\uFFFD\x7F", Bytes({0x81, 0x7F})},
      {932, kReadOnly, u"\uFFFD\n", Bytes({0x82, 0x0A})},
      {932, kReadOnly, u"\uFFFD\u3042", Bytes({0x85, 0x82, 0xA0})},  // the refused trail starts a character
      {932, kReadOnly, u"a\uFFFD", Bytes({'a', 0x82})},
      {936, kReadOnly, u"\uFFFD\uFFFDa", Bytes({0x80, 0xFF, 'a'})},
      {936, kReadOnly, u"\uFFFD\x7F", Bytes({0x81, 0x7F})},
      {936, kReadOnly, u"\uFFFD@", Bytes({0xA1, 0x40})},
      {936, kReadOnly, u"\uFFFD\uFFFD", Bytes({0xFE, 0xFE})},
      {949, kReadOnly, u"\uFFFD\u3000", Bytes({0xC9, 0xA1, 0xA1})},
      {949, kReadOnly, u"\uFFFD[", Bytes({0x81, 0x5B})},
      {949, kReadOnly, u"\uFFFD\uFFFD", Bytes({0xFE, 0xA1})},
      {950, kReadOnly, u"\uFFFD@x", Bytes({0x81, 0x40, 'x'})},
      {950, kReadOnly, u"\uFFFD\x7F\uFFFD", Bytes({0xA1, 0x7F, 0xFF})},
      {950, kReadOnly, u"\uFFFD\uFFFD", Bytes({0xC8, 0xA1})},
      {950, kReadOnly, u"a\uFFFD", Bytes({'a', 0xA4})},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.cp << " case " << (&c - cases));
    if (c.way != kReadOnly) {
      EXPECT_EQ(Enc(c.cp, c.text), c.bytes);
      ASSERT_TRUE(SetThreadAnsiCodePage(c.cp));
      EXPECT_EQ(WideToAnsiLength(c.text.data(), c.text.size()), c.bytes.size());
    }
    if (c.way != kWriteOnly) {
      EXPECT_EQ(Dec(c.cp, c.bytes), c.text);
    }
  }
}

TEST(CodePage, LongMixedTextMatchesPieceByPieceConversion) {
  CodePageGuard guard;
  // Crosses the internal chunk size with a surrogate pair on the boundary.
  std::u16string s(4095, u'a');
  s += u"\U0001F600";
  for (int i = 0; i < 3000; ++i) s += (i % 3 == 0) ? u"\u3042" : (i % 3 == 1 ? u"Z\u00E9" : u"\u20AC\uFF71");
  for (UINT cp : {1252u, 932u, 936u, 949u, 950u}) {
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
