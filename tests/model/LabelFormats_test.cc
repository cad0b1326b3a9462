// The label lines and the two forms they travel in: the line format,
// escaping, field splitting and the line reader; the text file; the binary
// image with its trailer and system-label block.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"

namespace {
struct FormatsTag;
}

template <>
struct KX9TestAccess<FormatsTag> {
  using C = CKX9ComFuncLabelStructure;
  using R = _STKX9LABELSTRUCTURE;
  using D = KX9ReadDiagnostics;
  static LONG ToLines(C& o, LONG n, R* p, CStringArray& a, C::CGVLDataList& s) {
    return o.ConvertStructDataToString(n, p, a, s);
  }
  static ULONG FromLines(C& o, CStringArray& a, LONG n, R* p, const C::CGVLDataList& s) {
    return o.ConvertStringToStructData(a, n, p, s);
  }
  static CString Escape(C& o, const CString& s) { return o._escapeString(s); }
  static void Tokenize(C& o, const CString& l, CStringArray& f) { o._tokenize(l, f); }
  static void WriteFile(C& o, LONG n, R* p, const CString& f) { o.WriteTextFile(n, p, f); }
  static LONG ReadFile(C& o, const CString& f, R* p, D* d = nullptr) { return o.ReadTextFile(f, p, d); }
  static LONG Write(C& o, LONG n, R*& p, BYTE*& img, LONG header) { return o.WriteBinaryData(n, p, img, header); }
  static LONG Read(C& o, const BYTE* img, LONG n, R* p, D* d = nullptr) { return o.ReadBinaryData(img, n, p, d); }
  static ULONG SetGeneric(C& o, LONG n, const BYTE* p) { return o.SetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, n, p); }
  static ULONG Block(C& o, C::CGVLDataList& l, LONG* n, BYTE** p) { return o.SerializeSystemLabelData(l, n, p); }
  static LONG Code(C& o, CString name, LONG structType) { return o._getDataTypeCode(name, structType); }
  static std::string Md5(C& o, const std::vector<BYTE>& b) {
    CString s;
    o.CalcMD5Hash(b.data(), static_cast<ULONG>(b.size()), s);
    return ToUtf8(s.Str());
  }
};

namespace {
using A = KX9TestAccess<FormatsTag>;
using C = CKX9ComFuncLabelStructure;
using Strings = std::vector<std::string>;
using Data = std::unique_ptr<_STKX9LABELSTRUCTURE[]>;
using Bytes = std::vector<BYTE>;
using Var = _STKX9LABELSTRUCTUREGVLDATA;

Var* V(const Data& d, int datum, int e) { return static_cast<Var*>(d[datum].elements[e]); }
std::string Commas(std::size_t n) { return std::string(n, ','); }
// A variable line whose comments 1 to 15, sizes and dynamic texts are empty ends so.
const std::string kEmptyTail = Commas(26) + "0";

// The lines of data [0, n) as the writer makes them; `total` receives the
// size it reports, `listed` the variables it flags.
Strings Lines(C& o, LONG n, _STKX9LABELSTRUCTURE* data, LONG* total = nullptr, C::CGVLDataList* listed = nullptr) {
  CStringArray lines;
  C::CGVLDataList own;
  const LONG t = A::ToLines(o, n, data, lines, listed ? *listed : own);
  if (total) *total = t;
  Strings out;
  for (int i = 0; i < lines.GetSize(); ++i) out.push_back(ToUtf8(lines[i].Str()));
  return out;
}

// The lines, each with its line end.
std::string Join(const Strings& lines, const char* end) {
  std::string s;
  for (const std::string& line : lines) s += line + end;
  return s;
}

// The lines read into n (+ extra) new records, each line with the "," its
// reader appends. Every record starts with a stale name: a header without a
// name must empty it.
Data Parse(C& o, const Strings& lines, LONG n, const C::CGVLDataList& sys = {}, LONG extra = 0) {
  CStringArray in;
  for (const auto& l : lines) in.Add(CString(FromUtf8(l + ",")));
  Data d(new _STKX9LABELSTRUCTURE[n + extra]);
  for (LONG i = 0; i < n + extra; ++i) d[i].name = u"stale";
  EXPECT_EQ(A::FromLines(o, in, n, d.get(), sys), 0u);
  return d;
}

// Both reading passes, the way an importer runs them: count, then fill; the
// filling pass's findings as "offset:line:what" lines.
struct ReadResult : KX9ReadDiagnostics {
  LONG count = 0, filled = 0;
  Data data;
  std::string findings;
  void Report(LONGLONG offset, LONG line, const char* what) override {
    findings += std::to_string(offset) + ":" + std::to_string(line) + ":" + what + "\n";
  }
};
// read(records, diagnostics) is one pass.
template <class Read>
ReadResult ReadBoth(Read read) {
  ReadResult r;
  r.count = read(nullptr, nullptr);
  if (r.count <= 0) return r;
  r.data.reset(new _STKX9LABELSTRUCTURE[static_cast<std::size_t>(r.count)]);
  r.filled = read(r.data.get(), &r);
  return r;
}

// A structure with a member whose comments need escaping and a null element,
// a datum of another type, and a list with a system label that uses every
// field and a null element.
Data Sample() {
  Data data(new _STKX9LABELSTRUCTURE[3]);
  data[0].dataType = KX9_DATATYPE_SDT, data[0].name = u"S\\";
  auto* m = new _STKX9LABELSTRUCTURESDTDATA();
  m->lineNo = 7, m->name = u"x", m->dataTypeName = u"DINT", m->initData = u"0", m->comments[15] = u"z";
  const char16_t* texts[] = {u"X, in mm", u"a,b", u"x\\", u"\\,", u"\\\\\\", u",,,", u"a\\,\\b"};
  for (int c = 0; c < 7; ++c) m->comments[c] = texts[c];
  data[0].elements.Add(m), data[0].elements.Add(nullptr);
  data[1].dataType = 13, data[1].elements.Add(new _STKX9LABELSTRUCTUREBASEDATA());
  data[2].dataType = KX9_DATATYPE_GVL, data[2].name = u"L\\1";
  auto* v = new Var();
  v->lineNo = 0xFFFFFFFFu, v->name = u"n,a\\me", v->dataTypeName = u"ARR", v->initData = u"i";
  v->classKeyword = -7, v->structType = 2, v->remark = u"r,", v->exAccess = CString(u"1\0z", 3);
  for (int c = 0; c < KX9_COMMENT_COUNT; ++c) v->comments[c] = std::u16string(u"c") + char16_t(u'a' + c);
  for (int k = 0; k < 4; ++k) v->arraySizes.Add(_STARRAYSIZEINFO{-1 - k, LONGLONG{1} << (40 + k)});
  v->dynamicAttr1 = u"d1", v->dynamicAttr2 = u"-2", v->dynamicAttr3 = 2147483647;
  v->dynamicAttr4 = u"d4", v->dynamicAttr5 = u"5";
  v->systemLabel = {42, u"S\u00e9", u"P", 3, 4, 3, 5, 6, u"c", u"r", 7, 8, u"L"};
  v->devices.SetSize(3);
  v->devices[0].device = u"D,0", v->devices[0].deviceExtra = u"E\\", v->devices[2].deviceExtra = u"x";
  data[2].elements.Add(v), data[2].elements.Add(nullptr);
  return data;
}
// The sample's lines: free texts escaped, header names and raw texts up to a
// zero unit, three array dimensions, the system-label flag as given, null
// elements at construction values, no lines for the other datum.
Strings SampleLines(bool flagged = true) {
  // clang-format off
  return {R"(SDT,S\,2)", R"(7,x,DINT,0,X\, in mm,a\,b,x\\,\\\,,\\\\\\,\,\,\,,a\\\,\\b)" + Commas(9) + "z",
          "0" + Commas(19), R"(GVL,L\1,2)",
          R"(-1,n\,a\\me,ARR,i,-7,2,ca,r\,,3,)" + std::string(flagged ? "1" : "0") + ",1,cb,cc,cd,ce,cf,cg,ch,ci,cj,"
          "ck,cl,cm,cn,co,cp,-1,1099511627776,-2,2199023255552,-3,4398046511104,d1,-2,d4,5,2147483647",
          R"(D\,0,E\\)", ",", ",x", "0,,,,0,0,,,0,0,0" + kEmptyTail};
  // clang-format on
}

// Every field byte-exact both ways, and the encoded size (UTF-16 units on
// any series but the standard one); the flagged variable is listed and, read
// back, takes the next system label but its comment; without system labels
// the flag is written 0 and ignored when read.
TEST(LabelLinesTest, EveryFieldByteExactBothWays) {
  C o(nullptr);
  Data data = Sample();
  Var label;
  label.systemLabel = {99, u"", u"", 0, 0, 3, 0, 0, u"not copied", u"", 0, 0, u""};
  C::CGVLDataList in;
  in.AddTail(&label);
  for (const bool flags : {true, false}) {
    o.SetMode(flags ? C::KX9LabelModeNormal : C::KX9LabelModeWithoutSystemLabel);
    o.SetCPUSeries(static_cast<C::KX9LabelCPUSeries>(flags ? 0 : 2));
    const Strings expected = SampleLines(flags);
    LONG total = 0;
    C::CGVLDataList listed;
    EXPECT_EQ(Lines(o, 3, data.get(), &total, &listed), expected);
    EXPECT_EQ(total, static_cast<LONG>(Join(expected, "\n").size() * (flags ? 1 : 2)));
    EXPECT_TRUE(flags ? listed.GetCount() == 1 && listed.GetHead() == V(data, 2, 0) : listed.IsEmpty());
    const Data back = Parse(o, SampleLines(), 2, in);
    EXPECT_EQ(Lines(o, 2, back.get()), expected);
    EXPECT_TRUE(V(back, 1, 0)->systemLabel.ID == (flags ? 99 : 0) && V(back, 1, 0)->systemLabel.comment.IsEmpty());
  }
}

// Escaping prefixes "," and "\" with "\". Splitting clears the fields first;
// a last piece with an odd number of trailing backslashes is dropped with
// what it accumulated, and backslash pairs collapse from the left.
TEST(LabelLinesTest, EscapingAndSplitting) {
  C o(nullptr);
  EXPECT_EQ(ToUtf8(A::Escape(o, CString(u"a,b\\c\\,")).Str()), R"(a\,b\\c\\\,)");
  CStringArray f;
  f.Add(CString(u"stale"));
  // Each field ends with "|"; none for a line that gives no field.
  const std::pair<std::u16string, std::string> pieces[] = {{u"", "|"},           {u"a\\", ""},
                                                           {u"a,b\\,c\\", "a|"}, {u"a\\\\\\b,", "a\\\\b||"},
                                                           {u"\\\\,x", "\\|x|"}, {u"a\\\\\\,\\\\b,", "a\\,\\b||"}};
  for (const auto& [in, out] : pieces) {
    A::Tokenize(o, CString(in), f);
    std::string got;
    for (int i = 0; i < f.GetSize(); ++i) got += ToUtf8(f[i].Str()) + "|";
    EXPECT_EQ(got, out) << ToUtf8(in);
  }
}

// What the reader makes of lines, shown by writing the result again.
TEST(LabelLinesTest, ReaderStateMachine) {
  C o(nullptr);
  // "GVL" alone is a header; an empty datum completes at once; a header name
  // is raw (a comma cuts it); junk and the trailer are skipped between data;
  // short lines pad, long ones are cut; an empty line "," is a device; a
  // second array pair with an empty field ends the sizes; a variable whose
  // device lines never come is dropped; numbers clamp to 32 bits, sizes to 64.
  // clang-format off
  const Data d = Parse(o, {"junk", "GVL", "GVL,Empty,0", R"(SDT,S\\t,2)",
      "7,m,INT,,c0,c1,c2,c3,c4,c5,c6,c7,c8,c9,c10,c11,c12,c13,c14,c15,extra", " 8,short,INT", "SYSLBL,10,0,abc",
      R"(GVL,G\,2,ignored)", "1,v,INT,,-2147483649,0,,,2,0,0", "D0,E0", "", "2,w,INT,,2147483648,0,,,0,0," +
      Commas(15) + ",2147483648,99999999999999999999,,9", "GVL,Tail,1", "1,t,INT,,0,0,,,1,0,0"}, 5);
  EXPECT_EQ(Lines(o, 5, d.get()), (Strings{"GVL,,0", "GVL,Empty,0", R"(SDT,S\\t,2)",
      "7,m,INT,,c0,c1,c2,c3,c4,c5,c6,c7,c8,c9,c10,c11,c12,c13,c14,c15", "8,short,INT" + Commas(17), R"(GVL,G\,2)",
      "1,v,INT,,-2147483648,0,,,2,0,0" + kEmptyTail, "D0,E0", ",", "2,w,INT,,2147483647,0,,,0,0," + Commas(15) +
      ",2147483647,9223372036854775807" + Commas(9) + "0", "GVL,Tail,0"}));
  // clang-format on

  // A header announcing more elements than follow swallows the next header;
  // reading stops once `count` data are complete.
  const Data e = Parse(o, {"SDT,A,2", "1,a,INT,", "SDT,B,0", "SDT,C,0", "SDT,D,0"}, 2, {}, 1);
  EXPECT_EQ(Lines(o, 3, e.get()), (Strings{"SDT,A,2", "1,a,INT," + Commas(16), "0,B,0," + Commas(16), "SDT,C,0"}));
}

// Each basic type's code, size in words and allocation type; the code lookup
// is exact and case-sensitive, the allocation one folds ASCII case; both end
// a name at its first zero unit; any structure type is 9.
TEST(DataTypesTest, CodesAndAllocationData) {
  C o(nullptr);
  using namespace std::string_literals;
  // Name, structure type, code, size in words, allocation type.
  const std::tuple<std::u16string, LONG, LONG, WORD, BYTE> cases[] = {
      {u"BOOL"s, 0, 1, 1, 1},  {u"INT"s, 0, 2, 1, 4},   {u"DINT"s, 0, 3, 2, 5},    {u"WORD"s, 0, 4, 1, 2},
      {u"DWORD"s, 0, 5, 2, 3}, {u"FLOAT"s, 0, 6, 4, 7}, {u"LREAL"s, 0, 6, 4, 7},   {u"dint"s, 0, 100, 2, 5},
      {u"BOOL"s, 1, 9, 1, 1},  {u"INT"s, -1, 9, 1, 4},  {u"DINT\0x"s, 0, 3, 2, 5}, {u"dword\0DWORD"s, 0, 100, 2, 3}};
  for (const auto& [name, type, code, words, alloc] : cases) {
    std::pair<WORD, BYTE> got;
    EXPECT_EQ(o.GetTypeAndSizeForAllocDB(CString(name), 0, got.first, got.second), KX9_OK);
    EXPECT_TRUE(A::Code(o, CString(name), type) == code && got == std::make_pair(words, alloc)) << ToUtf8(name);
  }
}

// --- the label structure text file --------------------------------------------

// Each test works in a directory of its own.
class TextFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kx9_textfile_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0); }
  CString Path(const std::string& name) const { return CString(FromUtf8(dir + "/" + name)); }
  std::string Slurp(const std::string& name) const {
    return std::string(std::istreambuf_iterator<char>(std::ifstream(dir + "/" + name, std::ios::binary).rdbuf()), {});
  }
  ReadResult Read(const std::string& name) {
    return ReadBoth([&](A::R* p, A::D* d) { return A::ReadFile(o, Path(name), p, d); });
  }
  std::string dir;
  C o{nullptr};
};

// The lines, each ended CR LF, line breaks inside fields too, without the
// system label: a line past the 1 MB chunks is written and read back whole,
// an existing file is emptied first; nothing to write leaves no file, an
// unopenable path is ignored.
TEST_F(TextFileTest, WritesCrLfLinesAndReadsThemBack) {
  Data data = Sample();
  data[0].elements[0]->name = CString(std::u16string(600000, u','));
  Strings lines = SampleLines(), plain = SampleLines(false);
  const std::string name = Join(Strings(600000, "\\"), ",");  // the commas escaped
  lines[1].replace(2, 1, name), plain[1].replace(2, 1, name);
  A::WriteFile(o, 3, data.get(), Path("a.txt"));
  EXPECT_TRUE(Slurp("a.txt") == Join(lines, "\r\n"));
  const ReadResult r = Read("a.txt");
  EXPECT_TRUE(r.filled == 2 && Lines(o, 2, r.data.get()) == plain);

  data[0].elements[0]->name = u"x";
  data[0].elements[0]->comments[15] = u"a\nb\r\nc";
  A::WriteFile(o, 3, data.get(), Path("a.txt"));
  lines = SampleLines();
  lines[1].replace(lines[1].size() - 1, 1, "a\r\nb\r\r\nc");
  EXPECT_EQ(Slurp("a.txt"), Join(lines, "\r\n"));

  A::WriteFile(o, 1, data.get() + 1, Path("none.txt"));  // a datum of another type only
  A::WriteFile(o, 3, data.get(), Path("no/such/dir.txt"));
  EXPECT_NE(access((dir + "/none.txt").c_str(), F_OK), 0);
}

// Leading white space goes, CR LF and LF both end lines, a lone CR stays, an
// empty line is an empty element, a last line without end counts, and a
// flag asks for no system label; a finding names its line and byte. A
// missing file holds nothing.
TEST_F(TextFileTest, ReadsAsATextModeStream) {
  std::ofstream(dir + "/r.txt", std::ios::binary)
      << " \tGVL,A,3\r\n\t 1,x,INT,,0,0,,,0,1,0\n\r\n3,z\r,INT\r\r\njunk\nGVL\n  SDT,B,0";
  const ReadResult r = Read("r.txt");
  EXPECT_EQ(Lines(o, r.filled, r.data.get()),
            (Strings{"GVL,A,3", "1,x,INT,,0,0,,,0,0,0" + kEmptyTail, "0,,,,0,0,,,0,0," + kEmptyTail,
                     "3,z\r,INT\r,,0,0,,,0,0," + kEmptyTail, "GVL,,0", "SDT,B,0"}));
  EXPECT_EQ(r.findings, "47:5:a line outside any list is skipped\n");
  EXPECT_EQ(Read("missing.txt").count, 0);
}

// --- the binary image --------------------------------------------------------

struct CodePage {
  explicit CodePage(UINT cp) : saved(GetThreadAnsiCodePage()) { EXPECT_TRUE(SetThreadAnsiCodePage(cp)); }
  ~CodePage() { SetThreadAnsiCodePage(saved); }
  UINT saved;
};

Bytes Utf16(const std::u16string& s) {
  Bytes b;
  for (char16_t c : s) b.insert(b.end(), {static_cast<BYTE>(c & 0xFF), static_cast<BYTE>(c >> 8)});
  return b;
}
// Text as an image holds it: its bytes, or ASCII text as UTF-16LE.
Bytes Text(const std::string& s, bool utf16 = false) {
  return utf16 ? Utf16(std::u16string(s.begin(), s.end())) : Bytes(s.begin(), s.end());
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

ReadResult ReadImage(C& o, const Bytes& img) {
  return ReadBoth([&](A::R* p, A::D* d) { return A::Read(o, img.data(), static_cast<LONG>(img.size()), p, d); });
}

// Writes with `header` envelope bytes; checks the envelope, the final zero and
// that the records were taken; returns the image alone.
Bytes WriteImage(C& o, _STKX9LABELSTRUCTURE* data, LONG count, LONG header = 0) {
  BYTE* img = nullptr;
  const LONG n = A::Write(o, count, data, img, header);
  std::unique_ptr<BYTE[]> owned(img);
  EXPECT_TRUE(n > 0 && data == nullptr && std::count(img, img + header, 0) == header && img[header + n] == 0);
  return n > 0 ? Bytes(img + header, img + header + n) : Bytes();
}

// In a double-byte code page: "?" for what it lacks, trail bytes "\" that
// are never escapes, written or read, and a zero unit ending a header name
// and a field; the X series sizes in units, whatever the page.
TEST(LabelImageTest, DoubleByteCodePage) {
  CodePage cp(932);
  C o(nullptr);
  auto make = [] {
    auto* data = new _STKX9LABELSTRUCTURE[1];
    data[0].dataType = KX9_DATATYPE_GVL, data[0].name = CString(u"\u8868\0x", 3);  // 95 5C
    auto* v = new Var();
    v->lineNo = 2, v->name = u"\u00e9\u8868,", v->dataTypeName = u"INT";  // no é in 932
    v->comments[0] = u"\u8868\\", v->remark = CString(u"\u30c6\0x", 3);   // 83 65
    data[0].elements.Add(v);
    return data;
  };
  const std::string tail = ",0,0,0" + kEmptyTail + "\n";
  const Bytes img = WriteImage(o, make(), 1);
  EXPECT_EQ(img, Text("GVL,\x95\x5C,1\n2,?\x95\x5C\\,,INT,,0,0,\x95\x5C\\\\,\x83\x65" + tail));
  EXPECT_EQ(Join(Lines(o, 1, ReadImage(o, img).data.get()), "\n"),
            "GVL,\u8868,1\n2,?\u8868\\,,INT,,0,0,\u8868\\\\,\u30c6" + tail);
  o.SetCPUSeries(C::KX9LabelCPUSeriesX);
  EXPECT_EQ(WriteImage(o, make(), 1),
            Utf16(u"GVL,\u8868,1\n2,\u00e9\u8868\\,,INT,,0,0,\u8868\\\\,\u30c6" + FromUtf8(tail)));
}

// How the reader cuts an image into lines and which lines are headers, in
// UTF-16, a single-byte and a double-byte code page.
TEST(LabelImageTest, ScanRules) {
  enum { kUtf16 = 1, k1252 = 2, k932 = 4, kAll = 7 };
  static const char kLines[] = "\n\nGVL\n\nSDT,S,1\n\n1,m,INT,\n\nGVL,Z\0z\0z,0\nSDT";
  // The modes, the image (the rows for all modes in each one's encoding), the
  // data counted, and the lines of what is read, "|" after each.
  const std::tuple<int, Bytes, LONG, const char*> cases[] = {
      // Lines ended by CR LF are one line; a pair hiding the last unit leaves
      // even that one untaken. Empty lines are not taken, before headers and
      // between elements; a last line without a line feed is; "GVL" alone is
      // a header; a zero unit ends the text of its line.
      {kAll, Text("GVL,A,0\r\nSDT,B,0\r\n"), 0, ""},
      {kAll, Text("GVL,A,0\r\nSDT,B,0\r"), 1, "GVL,A,0|"},
      {kAll, Text("GVL,A,0\r\n\nSDT,B,0\n"), 2, "GVL,A,0|SDT,B,0|"},
      {kAll, Text(std::string(kLines, sizeof kLines - 1)), 4,
       "GVL,,0|SDT,S,1|1,m,INT,,,,,,,,,,,,,,,,,|GVL,Z,0|SDT,,0|"},
      // A lead byte takes the next byte along, even a line feed, also as the
      // first byte; one as the last byte still ends the last line, a pair
      // taking the last byte does not.
      {k1252, Text("GVL,A\x95\nSDT,B,0\n"), 2, "GVL,A\u2022,0|SDT,B,0|"},
      {k932, Text("GVL,A\x95\nSDT,B,0\n"), 1, "GVL,A\uFFFD\nSDT,0|"},
      {k932, Text("\x95\nGVL,A,0\n"), 0, ""},
      {k932, Text("GVL,A\x95\x5C\nSDT,B,0\n"), 2, "GVL,A\u8868,0|SDT,B,0|"},
      {k932, Text("GVL,x,0\nSDT,\x95"), 2, "GVL,x,0|SDT,\uFFFD,0|"},
      {k932, Text("GVL,x,0\nSDT,\x95\x5C"), 1, "GVL,x,0|"},
      // UTF-16 of odd length: the dangling byte is no unit, so neither a last
      // line without line feed nor a CR before it counts; a byte 0A inside a
      // unit is no line feed.
      {kUtf16, Cat({Utf16(u"GVL,A,0\nGVL,B,0"), {0x0A}}), 1, "GVL,A,0|"},
      {kUtf16, Cat({Utf16(u"GVL,A,0\nGVL,B,0\n"), {0x0A}}), 2, "GVL,A,0|GVL,B,0|"},
      {kUtf16, Cat({Utf16(u"GVL,A,0\r"), {0x0A}}), 0, ""},
      {kUtf16, Utf16(u"GVL,\u0a0a\u010a\u0100,0\nSDT,B,0\n"), 2, "GVL,\u0a0a\u010a\u0100,0|SDT,B,0|"},
  };
  for (const auto& [modes, img, count, lines] : cases) {
    for (const int mode : {kUtf16, k1252, k932}) {
      if ((modes & mode) == 0) continue;
      CodePage cp(mode == k932 ? 932 : 1252);
      C o(nullptr);
      o.SetCPUSeries(mode == kUtf16 ? C::KX9LabelCPUSeriesX : C::KX9LabelCPUSeriesStandard);
      SCOPED_TRACE(testing::Message() << "mode " << mode << ", image " << std::string(img.begin(), img.end()));
      const bool widen = mode == kUtf16 && modes != kUtf16;  // ASCII rows in UTF-16
      const ReadResult r = ReadImage(o, widen ? Utf16(std::u16string(img.begin(), img.end())) : img);
      EXPECT_TRUE(r.count == count && r.filled == count) << r.count << " " << r.filled;
      EXPECT_EQ(Join(Lines(o, r.filled, r.data.get()), "|"), lines);
    }
  }
}

// Refusals: nothing to write leaves the records and the buffer alone; an
// envelope that cannot be allocated fails once the records are given up; an
// empty image reads nothing, a missing one fails.
TEST(LabelImageTest, RefusalsAndTheirResults) {
  C o(nullptr);
  o.SetMode(C::KX9LabelModeWithoutSystemLabel);
  Data data = Sample();
  BYTE sentinel = 0;
  BYTE* img = &sentinel;
  _STKX9LABELSTRUCTURE* p = data.get() + 1;  // a datum of another type only
  EXPECT_TRUE(A::Write(o, 1, p, img, 10) == 0 && p == data.get() + 1);
  p = data.release();
  EXPECT_TRUE(A::Write(o, 3, p, img, -1) == -1 && p == nullptr && img == &sentinel);
  EXPECT_TRUE(A::Read(o, nullptr, 0, nullptr) == 0 && A::Read(o, nullptr, 4, nullptr) == -1);
  // A line feed first is an empty line, whatever lies in front of the image.
  const BYTE framed[] = "\r\nSDT,S,0\n";
  EXPECT_EQ(A::Read(o, framed + 1, static_cast<LONG>(sizeof framed - 2), nullptr), 1);
}

// What the reader skips or cannot account for, where it is: byte, line.
TEST(LabelImageTest, FindingsOfTheReader) {
  using namespace std::string_literals;  // "..."s keeps zero bytes
  const std::tuple<bool, Bytes, std::string> rows[] = {
      {false, Text("GVL,G,1\n1,v,INT,,0,0,,,2\nD0,\n"),
       "25:3:the lines end inside a variable's devices: the variable is dropped\n"
       "0:1:the lines end before the list's last element\n"},
      {false, Text("SDT,S,1\nSDT,T,0\n"), "8:2:the lines end before the last list\n"},
      {false, Text("SDT,S,1\n1,a,INT\n\nzzz\nSYSLBL,0,0,x\n"),  // the trailer is no stray line
       "34:5:the system-label block does not match its digest: no system label is read\n"
       "17:4:a line after the last list is not read\n"},
      {false, Text("SDT,S,1\n1,a\0x,INT\n"s), "11:2:a zero unit ends the line early: the rest of it is not read\n"},
      {false, Text("SDT,S,0\nSYSLBL,10,0,ab\nxy"),
       "23:2:the system-label block runs past the end: no system label is read\n"},
      {false, Text("SDT,S,0\nSYSLBL,1,0,ab\nxyz"),
       "23:2:bytes after the system-label block are not read\n"
       "22:2:the system-label block does not match its digest: no system label is read\n"},
      {false, Text("GVL,G,1\n1,v,INT,,0,0,,,0,1\n"),
       "8:2:the variable is flagged as a system label, but no system label is left for it\n"},
      {true, Cat({Text("SDT,S,0\n", true), {1}}), "16:0:the last byte is half a UTF-16 unit and is not read\n"},
  };
  C o(nullptr);
  for (const auto& [utf16, img, expected] : rows) {
    o.SetCPUSeries(utf16 ? C::KX9LabelCPUSeriesX : C::KX9LabelCPUSeriesStandard);
    EXPECT_EQ(ReadImage(o, img).findings, expected) << std::string(img.begin(), img.end());
  }
}

// --- system-label trailer and block, against the reference database -------

// After the lines: "SYSLBL,<block size in hex>,<mode>,<digest>" and the block
// of the flagged variables with the generic data, whose line ends are no
// lines: a whole image leaves nothing unaccounted for. UTF-16 on every series
// but the standard one. Read with a wrong digest or a block reaching past the
// image, the labels come without system labels; the digest matches ignoring
// case; nothing after the trailer is scanned; a block that passes the digest
// but cannot be decoded, or an empty one, fails the read.
TEST(SystemLabelTrailer, FollowsTheLinesAndIsCheckedWhenRead) {
  refdb::RefDatabase db;
  C o(db.Workspace());
  o.Initialize(db.NewProject(u"P"));
  const Bytes generic = {1, 2, 3, 0x0A, 0x0D, 0, 9};
  ASSERT_EQ(A::SetGeneric(o, static_cast<LONG>(generic.size()), generic.data()), KX9_OK);
  const Data sample = Sample();
  C::CGVLDataList list;
  list.AddTail(V(sample, 2, 0));
  LONG size = 0;
  BYTE* p = nullptr;
  A::Block(o, list, &size, &p);
  const Bytes block(p, p + size);
  delete[] p;
  char hex[16];
  std::snprintf(hex, sizeof hex, "%lx", static_cast<unsigned long>(size));
  const std::string text = Join(SampleLines(), "\n") + "SYSLBL," + hex + ",0," + A::Md5(o, block) + "\n";
  for (const LONG series : {1, 5, 0}) {
    o.SetCPUSeries(static_cast<C::KX9LabelCPUSeries>(series));
    const Bytes img = WriteImage(o, Sample().release(), 3, 7 * series);
    EXPECT_EQ(img, Cat({Text(text, series != 0), block})) << series;
    EXPECT_EQ(ReadImage(o, img).findings, "") << series;
  }

  // The system-label ID the flagged variable reads back with.
  const auto id = [&o](const Bytes& img) {
    const ReadResult r = ReadImage(o, img);
    EXPECT_TRUE(r.count == 2 && r.filled == 2);  // the count pass never reads the trailer
    return r.filled == 2 ? V(r.data, 1, 0)->systemLabel.ID : -1;
  };
  const Bytes img = Cat({Text(text), block});
  Bytes wrong = img, upper = Cat({img, Text("\nGVL,After,0\n")});
  wrong[text.rfind(',') + 1] ^= 1;
  for (std::size_t i = text.rfind(',') + 1; i + 1 < text.size(); ++i)
    upper[i] = static_cast<BYTE>(std::toupper(upper[i]));
  EXPECT_EQ(id(wrong), 0);
  EXPECT_EQ(id(Bytes(img.begin(), img.end() - 1)), 0);
  EXPECT_EQ(id(upper), 42);
  const Bytes bad = {0x05, 0x00, 0xFF};
  EXPECT_EQ(ReadImage(o, Cat({Text("GVL,G,0\nSYSLBL,3,0," + A::Md5(o, bad) + "\n"), bad})).filled, -1);
  EXPECT_EQ(ReadImage(o, Text("GVL,G,0\nSYSLBL,0,0,\n")).filled, -1);
  EXPECT_EQ(ReadImage(o, Text("GVL,G,0\nSYSLBL,-4,0,\n")).filled, 1);
  EXPECT_EQ(db.OutstandingReferences(), 0);
}

}  // namespace
