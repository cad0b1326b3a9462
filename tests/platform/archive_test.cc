// The archive encoding: byte-exact counts and strings in every length form,
// untagged code-page strings, and refusal of truncated or oversized input.
#include <gtest/gtest.h>

#include <vector>

#include "platform/kx9platform.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes Cat(Bytes head, std::size_t fill, BYTE value) {
  head.insert(head.end(), fill, value);
  return head;
}

CString ReadOne(const Bytes& b) {
  CArchiveReader r(b.data(), b.size());
  CString s = r.ReadString();
  EXPECT_EQ(r.Remaining(), 0u);
  return s;
}

// Written strings are tagged Unicode with a 1-, 3- or 7-byte length and the
// UTF-16LE units, and read back as written.
TEST(Archive, StringLengthFormsAreByteExact) {
  // clang-format off
  const std::pair<int, Bytes> forms[] = {
      {0, {0xFF, 0xFE, 0xFF, 0x00}}, {254, {0xFF, 0xFE, 0xFF, 0xFE}}, {255, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x00}},
      {0xFFFD, {0xFF, 0xFE, 0xFF, 0xFF, 0xFD, 0xFF}}, {0xFFFE, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}}};
  // clang-format on
  for (const auto& [n, prefix] : forms) {
    const CString s(u'\u0102', n);
    CArchiveWriter w;
    w.WriteString(s);
    Bytes expected = prefix;
    for (int i = 0; i < n; ++i) expected.insert(expected.end(), {0x02, 0x01});
    EXPECT_EQ(std::make_pair(w.Buffer(), ReadOne(w.Buffer())), std::make_pair(expected, s)) << n;
  }
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
}

// Untagged strings are text of the thread's code page, in every length form.
TEST(Archive, UntaggedStringsAreCodePageText) {
  EXPECT_EQ(ReadOne({0x03, 'a', 0x80, 'c'}), u"a\u20ACc");
  EXPECT_EQ(ReadOne({0x00}), u"");
  EXPECT_EQ(ReadOne(Cat({0xFF, 0x00, 0x01}, 256, 'x')), CString(u'x', 256));
  EXPECT_EQ(ReadOne(Cat({0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}, 65536, 'y')), CString(u'y', 65536));
  EXPECT_EQ(ReadOne({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00, 'z', 0}), u"z");  // widest tagged
  ASSERT_TRUE(SetThreadAnsiCodePage(932));
  EXPECT_EQ(ReadOne({0x03, 0x82, 0xA0, 'k'}), u"\u3042k");
  SetThreadAnsiCodePage(1252);
}

// Every cut of a valid stream throws, and so does every length beyond the
// input (checked before anything that large is allocated). No 64-bit length
// form exists: 0xFFFFFFFF is a length like any other, even when 8 bytes
// behind it would spell a small one.
TEST(Archive, TruncatedOrOversizedInputThrows) {
  CArchiveWriter w;
  w.WriteString(CString(u"Label"));
  w.WriteString(CString(u'q', 300));
  w.WriteCount(0x10000);
  const Bytes bad[] = {Cat({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0x7F}, 2, 'a'),
                       Cat({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF}, 14, 0xFF),
                       Cat({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}, 1, 'a'),
                       Cat({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, 9, 0),
                       Cat({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, 8, 0)};
  for (const Bytes& b : bad) {
    CArchiveReader r(b.data(), b.size());
    EXPECT_THROW(r.ReadString(), CArchiveException) << b.size();
  }
  for (std::size_t cut = 0; cut < w.Size(); ++cut) {
    CArchiveReader r(w.Buffer().data(), cut);
    EXPECT_THROW((r.ReadString(), r.ReadString(), r.ReadCount()), CArchiveException) << cut;
  }
  EXPECT_EQ(CArchiveReader(nullptr, 0).ReadBytes(nullptr, 0), 0u);
}

}  // namespace
