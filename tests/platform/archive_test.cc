// The archive encoding: byte-exact counts and strings in every length form,
// untagged code-page strings, and refusal of truncated or oversized input.
#include <gtest/gtest.h>

#include <vector>

#include "platform/kx9platform.h"

namespace {

using Bytes = std::vector<BYTE>;

// `head`, then `n` times `unit`.
Bytes Cat(Bytes head, std::size_t n, const Bytes& unit) {
  while (n-- > 0) head.insert(head.end(), unit.begin(), unit.end());
  return head;
}

// Written strings are tagged Unicode (FF FE FF) with a 1-, 3- or 7-byte
// length and the UTF-16LE units; the reader takes those, the widest tagged
// form, and untagged text of the thread's code page in every length form,
// each exactly to its end.
TEST(Archive, StringsInEveryLengthForm) {
  const Bytes u = {0x02, 0x01};  // U+0102
  // clang-format off
  const std::tuple<Bytes, CString, bool> cases[] = {  // the bytes, their text, whether the writer gives them
      {{0xFF, 0xFE, 0xFF, 0x00}, u"", true},
      {Cat({0xFF, 0xFE, 0xFF, 0xFE}, 254, u), CString(u'\u0102', 254), true},
      {Cat({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x00}, 255, u), CString(u'\u0102', 255), true},
      {Cat({0xFF, 0xFE, 0xFF, 0xFF, 0xFD, 0xFF}, 0xFFFD, u), CString(u'\u0102', 0xFFFD), true},
      {Cat({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}, 0xFFFE, u), CString(u'\u0102', 0xFFFE), true},
      {{0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00, 'z', 0}, u"z", false},
      {{0x03, 'a', 0x80, 'c'}, u"a\u20ACc", false},      {{0x00}, u"", false},
      {Cat({0xFF, 0x00, 0x01}, 256, {'x'}), CString(u'x', 256), false},
      {Cat({0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}, 65536, {'y'}), CString(u'y', 65536), false}};
  // clang-format on
  auto read = [](const Bytes& b) {
    CArchiveReader r(b.data(), b.size());
    const CString s = r.ReadString();
    EXPECT_EQ(r.Remaining(), 0u) << b.size();
    return s;
  };
  for (const auto& [bytes, text, written] : cases) {
    CArchiveWriter w;
    w.WriteString(text);
    EXPECT_EQ(read(bytes), text) << bytes.size();
    EXPECT_TRUE(!written || w.Buffer() == bytes) << bytes.size();
  }
  ASSERT_TRUE(SetThreadAnsiCodePage(932));
  EXPECT_EQ(read({0x03, 0x82, 0xA0, 'k'}), u"\u3042k");
  SetThreadAnsiCodePage(1252);
}

// Counts below 0xFFFF take a word, others 0xFFFF and a dword; integers are
// little-endian; ReadBytes copies only what is there.
TEST(Archive, CountsAndIntegers) {
  CArchiveWriter w;
  for (DWORD n : {0u, 0xFFFEu, 0xFFFFu, 0x12345678u}) w.WriteCount(n);
  w.WriteLong(-2);
  w.WriteBytes("\x01\x02", 2);
  EXPECT_EQ(w.Buffer(), (Bytes{0x00, 0x00, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF,
                               0xFF, 0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF, 0x01, 0x02}));
  CArchiveReader r(w.Buffer().data(), w.Size());
  for (DWORD n : {0u, 0xFFFEu, 0xFFFFu, 0x12345678u}) EXPECT_EQ(r.ReadCount(), n);
  EXPECT_EQ(r.ReadLong(), -2);
  Bytes out(4, 9);
  const std::size_t first = r.ReadBytes(out.data(), 4), second = r.ReadBytes(out.data(), 4);
  EXPECT_EQ(std::make_tuple(2u, 0u, Bytes{1, 2, 9, 9}), std::make_tuple(first, second, out));
  EXPECT_THROW(r.ReadByte(), CArchiveException);
  EXPECT_EQ(CArchiveReader(nullptr, 0).ReadBytes(nullptr, 0), 0u);
}

// Every length beyond the input throws (checked before anything that large
// is allocated; the system-label block fuzzer reaches the cuts). No 64-bit
// length form exists: 0xFFFFFFFF is a length like any other, even when 8
// bytes behind it would spell a small one.
TEST(Archive, OversizedLengthsThrow) {
  const Bytes bad[] = {Cat({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0x7F}, 2, {'a'}),
                       Cat({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF}, 14, {0xFF}),
                       Cat({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}, 1, {'a'}),
                       Cat({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, 9, {0}),
                       Cat({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, 8, {0})};
  for (const Bytes& b : bad) EXPECT_THROW(CArchiveReader(b.data(), b.size()).ReadString(), CArchiveException);
}

}  // namespace
