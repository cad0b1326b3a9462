// Code-page conversions: every byte and pair of each page both ways, what a
// page cannot hold, bytes at which no character starts, and long inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/kx9platform.h"

namespace {

// Restores the thread's code page when a test ends.
struct CodePageGuard {
  UINT saved = GetThreadAnsiCodePage();
  ~CodePageGuard() { SetThreadAnsiCodePage(saved); }
};

// Conversions through the explicit functions and, with the thread set to
// the page, the implicit ones, which must agree; both append to what the
// output already holds.
std::string Enc(UINT cp, const std::u16string& s) {
  std::string out = "x", implicit = "x";
  const std::size_t n = AppendWideToCodePage(cp, s.data(), s.size(), out);
  EXPECT_TRUE(SetThreadAnsiCodePage(cp));
  EXPECT_EQ(std::make_tuple(n, n, n, out),
            std::make_tuple(out.size() - 1, AppendWideToAnsi(s.data(), s.size(), implicit),
                            WideToAnsiLength(s.data(), s.size()), implicit));
  return out.substr(1);
}

std::u16string Dec(UINT cp, const std::string& s) {
  std::u16string out = u"x", implicit = u"x";
  AppendCodePageToWide(cp, reinterpret_cast<const BYTE*>(s.data()), s.size(), out);
  EXPECT_TRUE(SetThreadAnsiCodePage(cp));
  AppendAnsiToWide(reinterpret_cast<const BYTE*>(s.data()), s.size(), implicit);
  EXPECT_EQ(implicit, out);
  return out.substr(1);
}

// The page is per thread (1252 until set); unknown pages are refused.
TEST(CodePage, ThreadPageIsPerThreadAndRefusesUnknownPages) {
  CodePageGuard guard;
  EXPECT_FALSE(IsSupportedCodePage(1250) || SetThreadAnsiCodePage(1250) || SetThreadAnsiCodePage(65001));
  EXPECT_THROW(Enc(65001, u"a"), std::invalid_argument);
  EXPECT_THROW(Dec(1250, "a"), std::invalid_argument);
  UINT initial = GetThreadAnsiCodePage(), other = 0;
  ASSERT_TRUE(SetThreadAnsiCodePage(932));
  std::thread([&] { other = GetThreadAnsiCodePage(); }).join();
  EXPECT_EQ(std::make_pair(1252u, 1252u), std::make_pair(initial, other));
}

// What each page holds, as its codec defines it: the page; its lead byte
// ranges; the bytes that are neither lead bytes nor characters; how many
// lead/trail pairs are characters; how many of those the encoder writes as
// another pair; how many code points from U+0080 it writes; and those it
// writes as a character that reads back differently.
using Page = std::tuple<UINT, std::vector<std::pair<int, int>>, std::vector<int>, int, int, int,
                        std::map<char16_t, char16_t>>;
// clang-format off
const Page kPages[] = {
    {1252, {}, {}, 0, 0, 128, {}},
    {932, {{0x81, 0x9F}, {0xE0, 0xFC}}, {}, 9604, 398, 9280,
     {{0xA2, 0xFFE0}, {0xA3, 0xFFE1}, {0xAC, 0xFFE2}, {0x2016, 0x2225}, {0x2212, 0xFF0D}, {0x301C, 0xFF5E}}},
    {936, {{0x81, 0xFE}}, {0x80, 0xFF}, 21791, 0, 21791, {}},
    {949, {{0x81, 0xFE}}, {0x80, 0xFF}, 17048, 0, 17048, {}},
    {950, {{0x81, 0xFE}}, {0x80, 0xFF}, 13752, 10, 13751,
     {{0xA2, 0xFFE0}, {0xA3, 0xFFE1}, {0xA5, 0xFFE5}, {0x2022, 0x2027}, {0x203E, 0xAF}, {0x223C, 0xFF5E},
      {0x2609, 0x2299}, {0x2641, 0x2295}, {0xFF64, 0xFE51}}},
};
// clang-format on

// Every byte and lead/trail pair of each page reads as the page defines and
// writes back; every code point the page writes reads back as itself or its
// neighbour.
TEST(CodePage, EveryPageReadsEveryPairAndWritesItBack) {
  CodePageGuard guard;
  for (const auto& [cp, leads, badSingles, wantedPairs, writtenElsewhere, wantedHeld, neighbours] : kPages) {
    SCOPED_TRACE(cp);
    int pairs = 0, elsewhere = 0, held = 0;
    for (int b = 0; b < 256; ++b) {
      const bool lead = std::any_of(leads.begin(), leads.end(), [b](auto r) { return b >= r.first && b <= r.second; });
      const std::string single(1, static_cast<char>(b));
      const std::u16string one = Dec(cp, single);  // leaves the thread on the page
      // A lead byte at the end of the input is no character either.
      const bool bad = lead || std::count(badSingles.begin(), badSingles.end(), b) != 0;
      EXPECT_EQ(std::make_tuple(lead, std::size_t{1}, bad),
                std::make_tuple(IsAnsiLeadByte(static_cast<BYTE>(b)), one.size(), one[0] == 0xFFFD))
          << b;
      EXPECT_TRUE(bad || Enc(cp, one) == single) << b;
      for (int t = 0; lead && t < 256; ++t) {
        const std::string bytes = {static_cast<char>(b), static_cast<char>(t)};
        const std::u16string c = Dec(cp, bytes);
        if (c.size() != 1) {  // no character: U+FFFD, then the trail byte on its own
          EXPECT_EQ(c, u"\uFFFD" + Dec(cp, bytes.substr(1)));
          continue;
        }
        ++pairs;
        const std::string e = Enc(cp, c);
        elsewhere += e != bytes;  // the encoder prefers another pair for this character
        EXPECT_TRUE(c[0] != 0xFFFD && t >= 0x40 && (e == bytes || (e.size() == 2 && Dec(cp, e) == c))) << b << "," << t;
      }
    }
    for (unsigned u = 0x80; u < 0x10000; ++u) {
      const char16_t c = static_cast<char16_t>(u);
      const std::string e = Enc(cp, std::u16string(1, c));
      if (e == "?") continue;
      ++held;
      const auto n = neighbours.find(c);
      EXPECT_EQ(Dec(cp, e), std::u16string(1, n == neighbours.end() ? c : n->second)) << u;
    }
    EXPECT_EQ(std::make_tuple(wantedPairs, writtenElsewhere, wantedHeld), std::make_tuple(pairs, elsewhere, held));
  }
}

enum Way { kBothWays, kWriteOnly, kReadOnly };

// Byte-exact text on every page: known characters (all of 1252's
// 0x80..0x9F), the encoder's choice among pairs, code points a page cannot
// hold ('?'), bytes at which no character starts (U+FFFD, then the next
// byte read on its own; the last input of each page ends in a lone lead
// byte), and long texts.
TEST(CodePage, TextAndBytesAcrossPages) {
  CodePageGuard guard;
  // clang-format off
  std::vector<std::tuple<UINT, Way, std::u16string, std::string>> cases = {
      {1252, kBothWays, u"\u20AC\u0081\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039\u0152\u008D\u017D\u008F"
                        u"\u0090\u2018\u2019\u201C\u201D\u2022\u2013\u2014\u02DC\u2122\u0161\u203A\u0153\u009D\u017E\u0178\u00A0\u00FF",
       "\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8D\x8E\x8F\x90\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9A\x9B\x9C\x9D\x9E\x9F\xA0\xFF"},
      {1252, kWriteOnly, u"\u0080\u0082\u009F\u0100\u3042", "?????"},
      {932, kBothWays, u"A\u3042\u6F22\uFF71\u2460\uE000\u0080\uF8F0\uF8F3", "A\x82\xA0\x8A\xBF\xB1\x87\x40\xF0\x40\x80\xA0\xFF"},
      {932, kWriteOnly, u"\u2170\uFFE2\u9ED1\u00A5\u2014\u0100\uAC00", "\xEE\xEF\x81\xCA\xEE\xEC????"},
      {932, kReadOnly, u"\u2170\u2170\uFFE2\uFFE2\uFFE2\uFFFD@x\uFFFD\x7F\uFFFD\n\uFFFD\u3042a\uFFFD",
                       "\xFA\x40\xEE\xEF\xFA\x54\xEE\xF9\x81\xCA\x85@x\x81\x7F\x82\n\x85\x82\xA0" "a\x82"},
      {936, kBothWays, u"A\u4E2D\u6587", "A\xD6\xD0\xCE\xC4"},
      {936, kWriteOnly, u"\u20AC\uAC00\u3042", "??\xA4\xA2"},
      {936, kReadOnly, u"\uFFFD\uFFFDa\uFFFD\x7F\uFFFD@\uFFFD\uFFFD", "\x80\xFF" "a\x81\x7F\xA1@\xFE\xFE"},
      {949, kBothWays, u"\uD55C\uAD6D\uC5B4\uB620\u20AC", "\xC7\xD1\xB1\xB9\xBE\xEE\x8C\x63\xA2\xE6"},
      {949, kWriteOnly, u"\u4E02\u00A5", "??"},
      {949, kReadOnly, u"\uFFFD\u3000\uFFFD[\uFFFD\uFFFD", "\xC9\xA1\xA1\x81[\xFE\xA1"},
      {950, kBothWays, u"\u4E2D\u6587\u8A31\u20AC", "\xA4\xA4\xA4\xE5\xB3\x5C\xA3\xE1"},
      {950, kWriteOnly, u"\uAC00\u5341\u00A5", "?\xA4\x51\xA2\x44"},
      {950, kReadOnly, u"\u5341\u5341\uFFE5\uFFFD@x\uFFFD\x7F\uFFFD\uFFFD\uFFFD", "\xA2\xCC\xA4\x51\xA2\x44\x81@x\xA1\x7F\xFF\xC8\xA1"},
  };
  // A surrogate pair, a lone high, a lone low and a high at the end: one '?' each.
  for (UINT cp : {1252u, 932u, 936u, 949u, 950u}) cases.emplace_back(cp, kWriteOnly, u"a\U0001F600b\xD800" u"c\xDC00\xD83D", "a?b?c??");
  // clang-format on
  for (const auto& [cp, way, text, bytes] : cases) {
    SCOPED_TRACE(::testing::Message() << cp << " " << ToUtf8(text));
    EXPECT_EQ(way == kReadOnly ? bytes : Enc(cp, text), bytes);
    EXPECT_EQ(way == kWriteOnly ? text : Dec(cp, bytes), text);
  }
  // A text longer than the internal chunk, with a surrogate pair on the
  // chunk boundary, converts exactly as its pieces do.
  const std::u16string piece = u"\u3042Z\u00E9\u20AC\uFF71";
  std::u16string s = std::u16string(4095, u'a') + u"\U0001F600";
  for (int i = 0; i < 1000; ++i) s += piece;
  for (UINT cp : {1252u, 932u, 936u, 949u, 950u}) {
    std::string expected = std::string(4095, 'a') + "?";
    for (int i = 0; i < 1000; ++i) expected += Enc(cp, piece);
    EXPECT_EQ(Enc(cp, s), expected) << cp;
    EXPECT_EQ(Dec(cp, expected).size(), s.size() - 1);  // one '?' took the pair's two units
  }
}

}  // namespace
