#include <gtest/gtest.h>

#include <vector>

#include "platform/kx9platform.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes Written(const CString& s) {
  CArchiveWriter w;
  w.WriteString(s);
  return w.Buffer();
}

CString ReadOne(const Bytes& b) {
  CArchiveReader r(b.data(), b.size());
  CString s = r.ReadString();
  EXPECT_EQ(r.Remaining(), 0u);
  return s;
}

Bytes Cat(Bytes head, std::size_t fill, BYTE value) {
  head.insert(head.end(), fill, value);
  return head;
}

TEST(Archive, StringLengthFormsAreByteExact) {
  EXPECT_EQ(Written(CString()), (Bytes{0xFF, 0xFE, 0xFF, 0x00}));
  EXPECT_EQ(Written(CString(u"A\u3042")), (Bytes{0xFF, 0xFE, 0xFF, 0x02, 0x41, 0x00, 0x42, 0x30}));
  struct Form {
    int n;
    Bytes prefix;
  };
  const Form forms[] = {
      {254, {0xFF, 0xFE, 0xFF, 0xFE}},
      {255, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x00}},
      {0xFFFD, {0xFF, 0xFE, 0xFF, 0xFF, 0xFD, 0xFF}},
      {0xFFFE, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
  };
  for (const Form& f : forms) {
    const CString s(u'\u0102', f.n);
    const Bytes b = Written(s);
    ASSERT_EQ(b.size(), f.prefix.size() + 2u * static_cast<unsigned>(f.n)) << f.n;
    EXPECT_TRUE(std::equal(f.prefix.begin(), f.prefix.end(), b.begin())) << f.n;
    EXPECT_EQ(b[f.prefix.size()], 0x02);
    EXPECT_EQ(b[f.prefix.size() + 1], 0x01);
    EXPECT_EQ(ReadOne(b), s) << f.n;
  }
}

TEST(Archive, CountsAndIntegers) {
  CArchiveWriter w;
  w.WriteCount(0);
  w.WriteCount(0xFFFE);
  w.WriteCount(0xFFFF);
  w.WriteCount(0x12345678);
  w.WriteLong(-2);
  w.WriteBytes("\x01\x02", 2);
  EXPECT_EQ(w.Buffer(), (Bytes{0x00, 0x00, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF,
                               0xFF, 0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF, 0x01, 0x02}));
  CArchiveReader r(w.Buffer().data(), w.Size());
  EXPECT_EQ(r.ReadCount(), 0u);
  EXPECT_EQ(r.ReadCount(), 0xFFFEu);
  EXPECT_EQ(r.ReadCount(), 0xFFFFu);
  EXPECT_EQ(r.ReadCount(), 0x12345678u);
  EXPECT_EQ(r.ReadLong(), -2);
  BYTE out[4] = {9, 9, 9, 9};
  EXPECT_EQ(r.ReadBytes(out, 4), 2u);  // only what is there
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], 2);
  EXPECT_EQ(out[2], 9);
  EXPECT_EQ(r.ReadBytes(out, 4), 0u);
  EXPECT_THROW(r.ReadByte(), CArchiveException);
}

TEST(Archive, UntaggedStringsAreCodePageText) {
  EXPECT_EQ(ReadOne({0x03, 'a', 0x80, 'c'}), u"a\u20ACc");
  EXPECT_EQ(ReadOne({0x00}), u"");
  EXPECT_EQ(ReadOne(Cat({0xFF, 0x00, 0x01}, 256, 'x')), CString(u'x', 256));
  EXPECT_EQ(ReadOne(Cat({0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}, 65536, 'y')), CString(u'y', 65536));
  // The tagged form also accepts the widest length forms.
  EXPECT_EQ(ReadOne({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00, 'z', 0}), u"z");
  const UINT saved = GetThreadAnsiCodePage();
  ASSERT_TRUE(SetThreadAnsiCodePage(932));
  EXPECT_EQ(ReadOne({0x03, 0x82, 0xA0, 'k'}), u"\u3042k");
  SetThreadAnsiCodePage(saved);
}

TEST(Archive, TruncatedOrOversizedInputThrows) {
  CArchiveWriter w;
  w.WriteString(CString(u"Label"));
  w.WriteString(CString(u'q', 300));
  w.WriteCount(0x10000);
  const Bytes& full = w.Buffer();
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    CArchiveReader r(full.data(), cut);
    EXPECT_THROW(
        {
          r.ReadString();
          r.ReadString();
          r.ReadCount();
        },
        CArchiveException)
        << cut;
  }
  // Huge claimed lengths must fail before anything that large is allocated.
  const Bytes huge32 = {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0x7F, 'a', 0};
  const Bytes huge64 = {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'a',  0};
  const Bytes hugeAnsi = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0, 'a'};
  // The block has no 64-bit length form: a length word of 0xFFFFFFFF is a
  // length like any other, far beyond what follows, even when 8 bytes
  // behind it would spell a small one.
  const Bytes wide64 = {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0, 0, 0, 0, 0, 0, 0, 'z', 0};
  const Bytes ansi64 = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0, 0, 0, 0, 0, 0, 0, 'z'};
  for (const Bytes* b : {&huge32, &huge64, &hugeAnsi, &wide64, &ansi64}) {
    CArchiveReader r(b->data(), b->size());
    EXPECT_THROW(r.ReadString(), CArchiveException);
  }
  CArchiveReader empty(nullptr, 0);
  EXPECT_THROW(empty.ReadWord(), CArchiveException);
  EXPECT_EQ(empty.ReadBytes(nullptr, 0), 0u);
}

}  // namespace
