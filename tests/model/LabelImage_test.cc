// The binary label image: byte-exact writing in UTF-16LE and ANSI code pages,
// the two-pass reader, the trailer and system-label block, and malformed or
// truncated images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"

namespace {
struct ImageTag;
}

template <>
struct KX9TestAccess<ImageTag> {
  using C = CKX9ComFuncLabelStructure;
  static LONG Write(C& o, LONG n, _STKX9LABELSTRUCTURE*& p, BYTE*& img, LONG header) {
    return o.WriteBinaryData(n, p, img, header);
  }
  static LONG Read(C& o, const BYTE* img, LONG n, _STKX9LABELSTRUCTURE* p) { return o.ReadBinaryData(img, n, p); }
  static LONG ToLines(C& o, LONG n, _STKX9LABELSTRUCTURE* p, CStringArray& lines, C::CGVLDataList& sys) {
    return o.ConvertStructDataToString(n, p, lines, sys);
  }
  static ULONG SetGeneric(C& o, LONG n, const BYTE* p) { return o.SetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, n, p); }
  static ULONG GetGeneric(C& o, LONG* n, BYTE** p) { return o.GetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, n, p); }
};

namespace {
using A = KX9TestAccess<ImageTag>;
using C = CKX9ComFuncLabelStructure;
using Bytes = std::vector<BYTE>;

struct CodePage {
  explicit CodePage(UINT cp) : saved(GetThreadAnsiCodePage()) { EXPECT_TRUE(SetThreadAnsiCodePage(cp)); }
  ~CodePage() { SetThreadAnsiCodePage(saved); }
  UINT saved;
};

Bytes Ascii(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Utf16(const std::u16string& s) {
  Bytes b;
  for (char16_t c : s) b.insert(b.end(), {static_cast<BYTE>(c & 0xFF), static_cast<BYTE>(c >> 8)});
  return b;
}
Bytes Text(bool utf16, const std::string& ascii) {
  return utf16 ? Utf16(std::u16string(ascii.begin(), ascii.end())) : Ascii(ascii);
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A variable line whose comments 1 to 15, sizes and dynamic texts are empty ends so.
const std::string kEmptyTail = std::string(26, ',') + "0";

_STKX9LABELSTRUCTUREGVLDATA* Variable(ULONG line, const char16_t* name, const char16_t* device = nullptr) {
  auto* v = new _STKX9LABELSTRUCTUREGVLDATA();
  v->lineNo = line;
  v->name = name;
  v->dataTypeName = u"INT";
  if (device) {
    v->devices.SetSize(1);
    v->devices[0].device = device;
  }
  return v;
}

// The documented example: one structure with one member, one list with one variable.
_STKX9LABELSTRUCTURE* Example() {
  auto* data = new _STKX9LABELSTRUCTURE[2];
  data[0].dataType = KX9_DATATYPE_SDT;
  data[0].name = u"Point";
  auto* m = new _STKX9LABELSTRUCTURESDTDATA();
  m->lineNo = 1;
  m->name = u"x";
  m->dataTypeName = u"DINT";
  m->initData = u"0";
  m->comments[0] = u"X, in mm";
  data[0].elements.Add(m);
  data[1].dataType = KX9_DATATYPE_GVL;
  data[1].name = u"Global";
  auto* v = Variable(1, u"Speed", u"DEV1");
  v->comments[0] = u"motor speed";
  data[1].elements.Add(v);
  return data;
}
const std::string kExampleText = "SDT,Point,1\n1,x,DINT,0,X\\, in mm,,,,,,,,,,,,,,,\nGVL,Global,1\n"
                                 "1,Speed,INT,,0,0,motor speed,,1,0,0" + kEmptyTail + "\nDEV1,\n";

// Writes with `header` envelope bytes; checks the envelope, the final zero and
// that the records were taken; returns the image alone.
Bytes WriteImage(C& o, _STKX9LABELSTRUCTURE* data, LONG count, LONG header = 0) {
  BYTE* img = nullptr;
  const LONG n = A::Write(o, count, data, img, header);
  EXPECT_GT(n, 0);
  EXPECT_EQ(data, nullptr);
  if (n <= 0 || img == nullptr) return {};
  EXPECT_EQ(std::count(img, img + header, 0), header);
  EXPECT_EQ(img[header + n], 0);
  Bytes out(img + header, img + header + n);
  delete[] img;
  return out;
}

// Both reading passes, the way an importer runs them.
struct ReadResult {
  LONG count = 0;
  LONG filled = 0;
  std::unique_ptr<_STKX9LABELSTRUCTURE[]> data;
  const _STKX9LABELSTRUCTUREGVLDATA* Var(int d, int e) const {
    return static_cast<const _STKX9LABELSTRUCTUREGVLDATA*>(data[d].elements[e]);
  }
};
ReadResult ReadImage(C& o, const Bytes& img) {
  ReadResult r;
  r.count = A::Read(o, img.data(), static_cast<LONG>(img.size()), nullptr);
  if (r.count <= 0) return r;
  r.data.reset(new _STKX9LABELSTRUCTURE[static_cast<std::size_t>(r.count)]);
  r.filled = A::Read(o, img.data(), static_cast<LONG>(img.size()), r.data.get());
  return r;
}
LONG Count(C& o, const Bytes& img) { return A::Read(o, img.data(), static_cast<LONG>(img.size()), nullptr); }

TEST(LabelImageTest, ByteExactInUtf16AndBothCodePages) {
  C o(nullptr);
  o.SetCPUSeries(C::KX9LabelCPUSeriesX);
  const Bytes utf16 = WriteImage(o, Example(), 2, 7);
  EXPECT_EQ(utf16, Text(true, kExampleText));
  ReadResult r = ReadImage(o, utf16);
  ASSERT_EQ(r.filled, 2);
  EXPECT_EQ(r.data[0].elements[0]->comments[0].Str(), u"X, in mm");
  EXPECT_EQ(r.Var(1, 0)->devices[0].device.Str(), u"DEV1");
  o.SetCPUSeries(static_cast<C::KX9LabelCPUSeries>(5));
  EXPECT_EQ(WriteImage(o, Example(), 2), utf16);
  o.SetCPUSeries(C::KX9LabelCPUSeriesStandard);
  EXPECT_EQ(WriteImage(o, Example(), 2, 104), Ascii(kExampleText));

  auto make = []() {
    auto* data = new _STKX9LABELSTRUCTURE[1];
    data[0].dataType = KX9_DATATYPE_GVL;
    data[0].name = u"\u8868";                 // 932: 95 5C, a trail byte equal to "\"
    auto* v = Variable(2, u"\u00e9\u8868,");  // é: E9 in 1252, "?" in 932
    v->comments[0] = u"\u8868\\";
    v->remark = u"\u30c6";  // 932: 83 65
    data[0].elements.Add(v);
    return data;
  };
  const std::string tail = ",0,0,0" + kEmptyTail + "\n";
  EXPECT_EQ(WriteImage(o, make(), 1), Cat({Ascii("GVL,?,1\n2,"), {0xE9}, Ascii("?\\,,INT,,0,0,?\\\\,?" + tail)}));
  CodePage cp(932);
  const Bytes img = WriteImage(o, make(), 1);
  EXPECT_EQ(img, Cat({Ascii("GVL,"), {0x95, 0x5C}, Ascii(",1\n2,?"), {0x95, 0x5C}, Ascii("\\,,INT,,0,0,"),
                      {0x95, 0x5C}, Ascii("\\\\,"), {0x83, 0x65}, Ascii(tail)}));
  r = ReadImage(o, img);  // trail bytes 5C are never escapes
  ASSERT_EQ(r.filled, 1);
  EXPECT_EQ(r.data[0].name.Str(), u"\u8868");
  EXPECT_EQ(r.Var(0, 0)->name.Str(), u"?\u8868,");
  EXPECT_EQ(r.Var(0, 0)->comments[0].Str(), u"\u8868\\");
  EXPECT_EQ(r.Var(0, 0)->remark.Str(), u"\u30c6");
}

// The image is exactly the converted lines, each encoded with its line feed,
// for text that is hard to size: characters outside the code page, surrogate
// pairs, lone surrogates, zero units that end a field, escapes.
TEST(LabelImageTest, ImageHoldsExactlyTheConvertedLines) {
  auto make = []() {
    auto* data = new _STKX9LABELSTRUCTURE[2];
    data[0].dataType = KX9_DATATYPE_SDT;
    data[0].name = CString(u"S\u00e9\0hidden", 9);
    auto* m = new _STKX9LABELSTRUCTURESDTDATA();
    m->name = u"\U0001F600,\\";
    m->comments[5] = CString(u"\xD800,\xDC00\\", 4);
    data[0].elements.Add(m);
    data[0].elements.Add(nullptr);  // written at construction values
    data[1].dataType = KX9_DATATYPE_GVL;
    data[1].name = u"\u30c6\u20ac";
    auto* v = Variable(1, u"\u00e9\u00ff\u0100", u"D\u8868,");
    v->exAccess = CString(u"1\0" u"2", 3);
    v->dynamicAttr1 = u"\u8868\u30c6";
    data[1].elements.Add(v);
    return data;
  };
  for (const UINT page : {1252u, 932u}) {
    for (const bool utf16 : {false, true}) {
      CodePage cp(page);
      C o(nullptr);
      o.SetCPUSeries(utf16 ? C::KX9LabelCPUSeriesX : C::KX9LabelCPUSeriesStandard);
      std::unique_ptr<_STKX9LABELSTRUCTURE[]> keep(make());
      CStringArray lines;
      C::CGVLDataList sys;
      const LONG total = A::ToLines(o, 2, keep.get(), lines, sys);
      EXPECT_EQ(lines[0].Str(), u"SDT,S\u00e9,2");
      Bytes expected;
      for (int i = 0; i < lines.GetSize(); ++i) {
        std::string a;
        if (!utf16) AppendWideToCodePage(page, lines[i].GetString(), static_cast<std::size_t>(lines[i].GetLength()), a);
        const Bytes b = utf16 ? Utf16(lines[i].Str() + u"\n") : Ascii(a + "\n");
        expected.insert(expected.end(), b.begin(), b.end());
      }
      EXPECT_EQ(static_cast<std::size_t>(total), expected.size()) << page << utf16;
      EXPECT_EQ(WriteImage(o, make(), 2, 5), expected) << page << utf16;
    }
  }
}

TEST(LabelImageTest, ScanRules) {
  C o(nullptr);
  {
    // A lead byte takes the next byte along, even a line feed; one as the
    // last byte still ends the last line, a pair taking the last byte does not.
    const Bytes img = Cat({Ascii("GVL,A"), {0x95}, Ascii("\nSDT,B,0\n")});
    EXPECT_EQ(Count(o, img), 2);
    CodePage cp(932);
    ReadResult r = ReadImage(o, img);
    ASSERT_EQ(r.filled, 1);
    EXPECT_EQ(r.data[0].name.Str(), u"A\uFFFD\nSDT");
    EXPECT_EQ(Count(o, Cat({Ascii("GVL,x,0\nSDT,"), {0x95}})), 2);
    EXPECT_EQ(Count(o, Cat({Ascii("GVL,x,0\nSDT,"), {0x95, 0x5C}})), 1);
  }
  for (const bool utf16 : {false, true}) {
    o.SetCPUSeries(utf16 ? C::KX9LabelCPUSeriesX : C::KX9LabelCPUSeriesStandard);
    // CR LF inside a field survives; lines ended by CR LF are one line, and a
    // pair hiding the last unit leaves even that one untaken.
    auto* data = Example();
    data[0].elements[0]->comments[1] = u"two\r\nlines\r";
    ReadResult r = ReadImage(o, WriteImage(o, data, 2));
    ASSERT_EQ(r.filled, 2);
    EXPECT_EQ(r.data[0].elements[0]->comments[1].Str(), u"two\r\nlines\r");
    EXPECT_EQ(Count(o, Text(utf16, "GVL,A,0\r\nSDT,B,0\r\n")), 0);
    r = ReadImage(o, Text(utf16, "GVL,A,0\r\nSDT,B,0\r"));
    ASSERT_EQ(r.filled, 1);
    EXPECT_EQ(r.data[0].name.Str(), u"A");
    // Empty lines are not taken, before headers and between elements; a last
    // line without a line feed is; "GVL" alone is a header; a zero unit ends
    // the text of its line.
    static const char kLines[] = "\n\nGVL\n\nSDT,S,1\n\n1,m,INT,\n\nGVL,Z\0zz,0\nGVL,Last,0";
    r = ReadImage(o, Text(utf16, std::string(kLines, sizeof kLines - 1)));
    ASSERT_EQ(r.filled, 4);
    EXPECT_TRUE(r.data[0].name.IsEmpty());
    EXPECT_EQ(r.data[1].elements[0]->name.Str(), u"m");
    EXPECT_EQ(r.data[2].name.Str(), u"Z");
    EXPECT_EQ(r.data[3].name.Str(), u"Last");
  }
  // UTF-16 of odd length: the dangling byte is no unit, so neither a last
  // line without line feed nor a CR before it counts; a byte 0A inside a unit
  // is no line feed.
  EXPECT_EQ(Count(o, Cat({Utf16(u"GVL,A,0\nGVL,B,0"), {0x0A}})), 1);
  EXPECT_EQ(Count(o, Cat({Utf16(u"GVL,A,0\nGVL,B,0\n"), {0x0A}})), 2);
  EXPECT_EQ(Count(o, Cat({Utf16(u"GVL,A,0\r"), {0x0A}})), 0);
  ReadResult r = ReadImage(o, Utf16(u"GVL,\u0a0a\u010a,0\nSDT,B,0\n"));
  ASSERT_EQ(r.filled, 2);
  EXPECT_EQ(r.data[0].name.Str(), u"\u0a0a\u010a");
  EXPECT_EQ(A::Read(o, nullptr, 0, nullptr), 0);
  EXPECT_EQ(A::Read(o, nullptr, 4, nullptr), -1);
}

TEST(LabelImageTest, NothingToWriteLeavesEverythingAlone) {
  C o(nullptr);
  std::unique_ptr<_STKX9LABELSTRUCTURE[]> none(new _STKX9LABELSTRUCTURE[2]);
  none[0].dataType = 13;
  BYTE sentinel = 0;
  BYTE* img = &sentinel;
  _STKX9LABELSTRUCTURE* p = none.get();
  EXPECT_EQ(A::Write(o, 2, p, img, 10), 0);
  EXPECT_EQ(p, none.get());
  // A negative envelope size cannot be allocated: the records are gone by
  // then, as the caller's pointer says, and no buffer is stored.
  p = Example();
  EXPECT_EQ(A::Write(o, 2, p, img, -1), -1);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(img, &sentinel);
}

// --- system-label trailer and block, against the reference database -------

struct SystemLabelImage : ::testing::Test {
  refdb::RefDatabase db;
  C writer{db.Workspace()};
  C reader{db.Workspace()};
  const Bytes generic = {1, 2, 3, 0x0A, 0x0D, 0};

  void SetUp() override {
    writer.Initialize(db.NewProject(u"P"));
    reader.Initialize(db.NewProject(u"Q"));
    ASSERT_EQ(A::SetGeneric(writer, static_cast<LONG>(generic.size()), generic.data()), KX9_OK);
  }
  void TearDown() override { EXPECT_EQ(db.OutstandingReferences(), 0); }
  void Series(bool utf16) {
    writer.SetCPUSeries(utf16 ? C::KX9LabelCPUSeriesX : C::KX9LabelCPUSeriesStandard);
    reader.SetCPUSeries(utf16 ? C::KX9LabelCPUSeriesX : C::KX9LabelCPUSeriesStandard);
  }

  // Three variables, the first and the last system labels.
  static _STKX9LABELSTRUCTURE* Data() {
    auto* data = new _STKX9LABELSTRUCTURE[1];
    data[0].dataType = KX9_DATATYPE_GVL;
    data[0].name = u"G";
    const char16_t* names[] = {u"a", u"b", u"c"};
    const LONG status[] = {5, 0, 14};
    for (int i = 0; i < 3; ++i) {
      auto* v = Variable(static_cast<ULONG>(i + 1), names[i]);
      v->systemLabel.status = status[i];
      v->systemLabel.ID = 100 + i;
      v->systemLabel.name = u"S\u00e9";
      v->systemLabel.comment = u"dropped";
      data[0].elements.Add(v);
    }
    return data;
  }
  Bytes ReaderGeneric() {
    LONG n = 0;
    BYTE* p = nullptr;
    EXPECT_EQ(A::GetGeneric(reader, &n, &p), KX9_OK);
    Bytes b(p, p + (n > 0 ? n : 0));
    delete[] p;
    return b;
  }
  void ExpectLabels(const ReadResult& r, bool withSystemLabels) {
    ASSERT_EQ(r.filled, 1);
    ASSERT_EQ(r.data[0].elements.GetSize(), 3);
    const LONG ids[] = {100, 0, 102};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(r.Var(0, i)->systemLabel.ID, withSystemLabels ? ids[i] : 0) << i;
    EXPECT_EQ(r.Var(0, 2)->systemLabel.status, withSystemLabels ? 14 : 0);
    EXPECT_TRUE(r.Var(0, 0)->systemLabel.comment.IsEmpty());
  }
};

std::string Md5Text(const BYTE* p, std::size_t n) {
  BYTE d[16];
  EXPECT_TRUE(PlatformHash(CALG_MD5, p, n, d, 16));
  std::string s;
  char buf[4];
  for (BYTE b : d) {
    std::snprintf(buf, sizeof buf, "%x", b);
    s += buf;
  }
  return s;
}

TEST_F(SystemLabelImage, TrailerAndBlockFollowTheLines) {
  for (const bool utf16 : {false, true}) {
    Series(utf16);
    const Bytes img = WriteImage(writer, Data(), 1, 3);
    const Bytes body = Text(utf16, "GVL,G,3\n1,a,INT,,0,0,,,0,1,0" + kEmptyTail + "\n2,b,INT,,0,0,,,0,0,0" +
                                       kEmptyTail + "\n3,c,INT,,0,0,,,0,1,0" + kEmptyTail + "\n");
    // Per record: name (tag, length, two units), programName, attribute,
    // status, listID, dataType, dataSize, ID, CPUID, projectID, localName.
    const std::size_t record = (4 + 4) + 4 + 2 + 4 * 3 + 2 + 4 * 3 + 4;
    const std::size_t blockSize = 2 + 2 * record + 4 + generic.size();
    ASSERT_GT(img.size(), body.size() + blockSize);
    ASSERT_TRUE(std::equal(body.begin(), body.end(), img.begin()));
    const Bytes block(img.end() - static_cast<long>(blockSize), img.end());
    EXPECT_EQ(block[0], 2);
    EXPECT_TRUE(std::equal(generic.rbegin(), generic.rend(), block.rbegin()));
    char hex[24];
    std::snprintf(hex, sizeof hex, "%zx", blockSize);
    const Bytes trailer = Text(utf16, std::string("SYSLBL,") + hex + ",0," + Md5Text(block.data(), block.size()) + "\n");
    EXPECT_EQ(Bytes(img.begin() + static_cast<long>(body.size()), img.end() - static_cast<long>(blockSize)), trailer);

    ExpectLabels(ReadImage(reader, img), true);
    EXPECT_EQ(ReaderGeneric(), generic);
  }
  // Without system labels: no trailer, no block.
  writer.SetMode(C::KX9LabelModeWithoutSystemLabel);
  const Bytes plain = WriteImage(writer, Data(), 1);
  EXPECT_EQ(std::string(plain.begin(), plain.end()).find("SYSLBL"), std::string::npos);
}

TEST_F(SystemLabelImage, DigestCaseMismatchAndShortBlocks) {
  const Bytes img = WriteImage(writer, Data(), 1);
  const std::string text(img.begin(), img.end());
  const std::size_t digestAt = text.find(',', text.find(',', text.find("SYSLBL,") + 7) + 1) + 1;
  const std::size_t digestEnd = text.find('\n', digestAt);

  // A wrong digest, or a block reaching past the image: labels read, no
  // system labels, no generic data; the count pass never reads the trailer.
  Bytes wrong = img;
  wrong[digestAt] = wrong[digestAt] == '0' ? '1' : '0';
  ExpectLabels(ReadImage(reader, wrong), false);
  const Bytes cut(img.begin(), img.end() - 1);
  EXPECT_EQ(Count(reader, cut), 1);
  ExpectLabels(ReadImage(reader, cut), false);
  EXPECT_TRUE(ReaderGeneric().empty());

  // The digest matches ignoring case; nothing after the trailer is scanned.
  Bytes upper = Cat({img, Ascii("\nGVL,After,0\n")});
  std::transform(upper.begin() + static_cast<long>(digestAt), upper.begin() + static_cast<long>(digestEnd),
                 upper.begin() + static_cast<long>(digestAt), [](BYTE b) { return static_cast<BYTE>(std::toupper(b)); });
  ASSERT_NE(upper, Cat({img, Ascii("\nGVL,After,0\n")}));
  EXPECT_EQ(Count(reader, upper), 1);
  ExpectLabels(ReadImage(reader, upper), true);
  EXPECT_EQ(ReaderGeneric(), generic);

  // A block that passes the digest check but cannot be decoded fails the
  // read; so does an empty one, whose empty digest text matches an empty field.
  const Bytes bad = {0x05, 0x00, 0xFF};
  const Bytes undecodable =
      Cat({Ascii("GVL,G,0\nSYSLBL,3,0," + Md5Text(bad.data(), bad.size()) + "\n"), bad});
  EXPECT_EQ(ReadImage(reader, undecodable).filled, -1);
  EXPECT_EQ(ReadImage(reader, Ascii("GVL,G,0\nSYSLBL,0,0,\n")).filled, -1);
  EXPECT_EQ(ReadImage(reader, Ascii("GVL,G,0\nSYSLBL,-4,0,\n")).filled, 1);
}

TEST_F(SystemLabelImage, EveryTruncationReadsSafelyAndBothPassesAgree) {
  for (const bool utf16 : {false, true}) {
    Series(utf16);
    auto* data = Data();
    data[0].elements[1]->comments[0] = u"a\r\nb,\\";
    const Bytes img = WriteImage(writer, data, 1);
    const Bytes marker = Text(utf16, "SYSLBL");
    const std::size_t at = static_cast<std::size_t>(std::search(img.begin(), img.end(), marker.begin(), marker.end()) - img.begin());
    const std::size_t unit = utf16 ? 2 : 1;
    for (std::size_t n = 0; n <= img.size(); ++n) {
      ReadResult r = ReadImage(reader, Bytes(img.begin(), img.begin() + static_cast<long>(n)));
      ASSERT_GE(r.count, 0) << n;
      // Cut right after "SYSLBL" or "SYSLBL,", the trailer announces an empty block.
      if (r.count > 0) {
        EXPECT_EQ(r.filled, (n == at + 6 * unit || n == at + 7 * unit) ? -1 : r.count) << n;
      }
    }
  }
}

// --- the scan against a literal transcription of its rules ------------------

LONG ReferenceCount(const Bytes& img, bool utf16) {
  const std::size_t len = img.size();
  const std::size_t units = utf16 ? len / 2 : len;
  const bool hasLast = !utf16 || len % 2 == 0;
  auto unit = [&](std::size_t k) -> unsigned { return utf16 ? img[2 * k] | (img[2 * k + 1] << 8) : img[k]; };
  std::size_t i = 0, start = 0;
  LONG count = 0;
  while (i < units) {
    if (!utf16 && i + 1 < len && IsAnsiLeadByte(img[i])) {
      i += 2;
      continue;
    }
    if (unit(i) == 0x0D && i + 1 < units && unit(i + 1) == 0x0A) {
      i += 2;
      continue;
    }
    if (unit(i) == 0x0A || (hasLast && i == units - 1)) {
      const std::size_t end = unit(i) == 0x0A ? i : i + 1;
      if (end > start) {
        std::u16string text;
        for (std::size_t k = start; utf16 && k < end; ++k) text += static_cast<char16_t>(unit(k));
        if (!utf16) AppendAnsiToWide(img.data() + start, end - start, text);
        text = text.c_str() + std::u16string(u",");
        if (text.rfind(u"GVL,", 0) == 0 || text.rfind(u"SDT,", 0) == 0) ++count;
        if (text.rfind(u"SYSLBL,", 0) == 0) return count;
      }
      start = i + 1;
    }
    ++i;
  }
  return count;
}

TEST(LabelImageScan, MatchesTheLiteralRulesOnRandomImages) {
  std::mt19937 rng(12345);
  const std::vector<std::u16string> pieces = {u"GVL", u"SDT", u",", u"\r", u"\n", u"\n", u"SYSLBL,", u"x",
                                              u"0",   u"1",   u"\\", u"\u8868", u"\u0a0a", std::u16string(1, 0)};
  const Bytes bytes = {'G', 'V', 'L', 'S', 'D', 'T', ',', '\r', '\n', '\n', 'x', '1', 0x95, 0x5C, 0x81, 0x00, 0xE9};
  refdb::RefDatabase db;
  C o(db.Workspace());
  o.Initialize(db.NewProject(u"P"));
  for (int round = 0; round < 3000; ++round) {
    const int mode = round % 3;  // UTF-16, 1252, 932
    Bytes img;
    const int n = static_cast<int>(rng() % 40);
    std::u16string s;
    for (int k = 0; k < n; ++k) {
      if (mode == 0) {
        s += pieces[rng() % pieces.size()];
      } else if (rng() % 3 == 0) {
        img.insert(img.end(), {'G', 'V', 'L', ','});
      } else {
        img.push_back(bytes[rng() % bytes.size()]);
      }
    }
    if (mode == 0) img = Utf16(s);
    if (mode == 0 && rng() % 4 == 0) img.push_back(rng() % 2 ? 0x0A : 0x0D);
    o.SetCPUSeries(mode == 0 ? C::KX9LabelCPUSeriesX : C::KX9LabelCPUSeriesStandard);
    CodePage cp(mode == 2 ? 932 : 1252);
    const LONG expected = ReferenceCount(img, mode == 0);
    ReadResult r = ReadImage(o, img);
    ASSERT_EQ(r.count, expected) << "round " << round;
    // Only an empty trailer block (UTF-16 pieces hold the marker) fails filling.
    if (expected > 0 && r.filled != expected) {
      EXPECT_TRUE(r.filled == -1 && mode == 0) << "round " << round;
    }
  }
}

}  // namespace

// --- names and comments in the double-byte code pages ------------------------

namespace {

struct ScriptRow {
  UINT cp;
  const char16_t* list;  // ends with a character whose trail byte is "\" where the page has one
  const char16_t* names[2];
  const char16_t* comments[2];
  const char16_t* remark;
};

TEST(LabelImageTest, DoubleBytePagesReadBackWhatWasWritten) {
  const ScriptRow rows[] = {
      {932,
       u"\u30B0\u30ED\u30FC\u30D0\u30EB\u8868",
       {u"\u901F\u5EA6\u8868", u"\uFF76\uFF85\u2460"},
       {u"\u30E2\u30FC\u30BF\u30FC\u901F\u5EA6, \u8868\\", u"\u6E29\u5EA6"},
       u"\u5099\u8003"},
      {936,
       u"\u5168\u5C40\u53D8\u91CF\u8AA0",
       {u"\u6E29\u5EA6", u"\u8BA1\u6570\u5668"},
       {u"\u7535\u673A\u901F\u5EA6, \u8AA0\\", u"\u538B\u529B"},
       u"\u5907\u6CE8"},
      {949,
       u"\uC804\uC5ED\uBCC0\uC218\uB620",
       {u"\uC18D\uB3C4", u"\u901F\u5EA6"},
       {u"\uBAA8\uD130 \uC18D\uB3C4, \uB620\\", u"\uC628\uB3C4"},
       u"\u20AC"},
      {950,
       u"\u5168\u57DF\u8B8A\u6578\u529F",
       {u"\u8A31\u53EF", u"\u6EAB\u5EA6"},
       {u"\u99AC\u9054\u901F\u5EA6, \u529F\\", u"\u58D3\u529B"},
       u"\u5099\u8A3B"},
  };
  for (const ScriptRow& row : rows) {
    SCOPED_TRACE(row.cp);
    CodePage cp(row.cp);
    C o(nullptr);
    o.SetCPUSeries(C::KX9LabelCPUSeriesStandard);
    auto make = [&row]() {
      auto* data = new _STKX9LABELSTRUCTURE[1];
      data[0].dataType = KX9_DATATYPE_GVL;
      data[0].name = row.list;
      for (int i = 0; i < 2; ++i) {
        auto* v = Variable(static_cast<ULONG>(i + 1), row.names[i], i == 0 ? u"D100" : nullptr);
        v->comments[0] = row.comments[i];
        v->comments[15] = row.list;
        v->remark = row.remark;
        data[0].elements.Add(v);
      }
      return data;
    };
    const Bytes img = WriteImage(o, make(), 1);
    // ANSI text: the header holds the list name in the page's bytes, its
    // trail byte "\" no escape.
    std::string header = "GVL,";
    const std::u16string list = row.list;
    AppendWideToCodePage(row.cp, list.data(), list.size(), header);
    header += ",2\n";
    EXPECT_EQ(std::count(img.begin(), img.end(), '?'), 0);  // every text fits the page
    ASSERT_GE(img.size(), header.size());
    EXPECT_EQ(Bytes(img.begin(), img.begin() + static_cast<long>(header.size())), Ascii(header));

    ReadResult r = ReadImage(o, img);
    ASSERT_EQ(r.filled, 1);
    std::unique_ptr<_STKX9LABELSTRUCTURE[]> want(make());
    EXPECT_EQ(r.data[0].dataType, KX9_DATATYPE_GVL);
    EXPECT_EQ(r.data[0].name.Str(), want[0].name.Str());
    ASSERT_EQ(r.data[0].elements.GetSize(), 2);
    for (int i = 0; i < 2; ++i) {
      const auto* w = static_cast<const _STKX9LABELSTRUCTUREGVLDATA*>(want[0].elements[i]);
      const auto* g = r.Var(0, i);
      EXPECT_EQ(g->lineNo, w->lineNo);
      EXPECT_EQ(g->name.Str(), w->name.Str());
      EXPECT_EQ(g->dataTypeName.Str(), w->dataTypeName.Str());
      for (int k = 0; k < KX9_COMMENT_COUNT; ++k) EXPECT_EQ(g->comments[k].Str(), w->comments[k].Str()) << k;
      EXPECT_EQ(g->remark.Str(), w->remark.Str());
      ASSERT_EQ(g->devices.GetSize(), w->devices.GetSize());
      if (w->devices.GetSize() == 1) {
        EXPECT_EQ(g->devices[0].device.Str(), w->devices[0].device.Str());
      }
    }
  }
}

}  // namespace
