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
  static LONG ToLines(C& o, LONG n, _STKX9LABELSTRUCTURE* p, CStringArray& lines, C::CGVLDataList& sys) {
    return o.ConvertStructDataToString(n, p, lines, sys);
  }
  static ULONG FromLines(C& o, CStringArray& lines, LONG n, _STKX9LABELSTRUCTURE* p, const C::CGVLDataList& sys) {
    return o.ConvertStringToStructData(lines, n, p, sys);
  }
  static CString Escape(C& o, const CString& s) { return o._escapeString(s); }
  static void Tokenize(C& o, const CString& l, CStringArray& f) { o._tokenize(l, f); }
  static void WriteFile(C& o, LONG n, _STKX9LABELSTRUCTURE* p, const CString& path) { o.WriteTextFile(n, p, path); }
  static LONG ReadFile(C& o, const CString& path, _STKX9LABELSTRUCTURE* p) { return o.ReadTextFile(path, p); }
  static LONG Write(C& o, LONG n, _STKX9LABELSTRUCTURE*& p, BYTE*& img, LONG header) {
    return o.WriteBinaryData(n, p, img, header);
  }
  static LONG Read(C& o, const BYTE* img, LONG n, _STKX9LABELSTRUCTURE* p) { return o.ReadBinaryData(img, n, p); }
  static LONG Read(C& o, const BYTE* img, LONG n, _STKX9LABELSTRUCTURE* p, KX9ReadDiagnostics* d) {
    return o.ReadBinaryData(img, n, p, d);
  }
  static LONG ReadFile(C& o, const CString& path, _STKX9LABELSTRUCTURE* p, KX9ReadDiagnostics* d) {
    return o.ReadTextFile(path, p, d);
  }
  static ULONG SetGeneric(C& o, LONG n, const BYTE* p) { return o.SetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, n, p); }
  static ULONG GetGeneric(C& o, LONG* n, BYTE** p) { return o.GetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, n, p); }
  static std::string Md5(C& o, const std::vector<BYTE>& b) {
    CString s;
    o.CalcMD5Hash(b.data(), static_cast<ULONG>(b.size()), s);
    return ToUtf8(s.Str());
  }
  static std::vector<BYTE> Block(C& o, C::CGVLDataList& list) {
    LONG n = 0;
    BYTE* p = nullptr;
    o.SerializeSystemLabelData(list, &n, &p);
    std::vector<BYTE> b(p, p + n);
    delete[] p;
    return b;
  }
};

namespace {
using A = KX9TestAccess<FormatsTag>;
using C = CKX9ComFuncLabelStructure;
using Strings = std::vector<std::string>;
using Data = std::unique_ptr<_STKX9LABELSTRUCTURE[]>;
using Bytes = std::vector<BYTE>;

std::string U8(const CString& s) { return ToUtf8(s.Str()); }
Strings U8(const CStringArray& a) {
  Strings out;
  for (int i = 0; i < a.GetSize(); ++i) out.push_back(U8(a[i]));
  return out;
}
std::string Commas(std::size_t n) { return std::string(n, ','); }
// A variable line whose comments 1 to 15, sizes and dynamic texts are empty ends so.
const std::string kEmptyTail = Commas(26) + "0";

// The lines of data [0, n), as written again.
Strings Lines(C& o, LONG n, _STKX9LABELSTRUCTURE* data) {
  CStringArray lines;
  C::CGVLDataList sys;
  A::ToLines(o, n, data, lines, sys);
  return U8(lines);
}

// The lines, each with its line end.
std::string Join(const Strings& lines, const char* end, std::size_t n = SIZE_MAX) {
  std::string s;
  for (std::size_t i = 0; i < lines.size() && i < n; ++i) s += lines[i] + end;
  return s;
}

// Both reading passes, the way an importer runs them: count, then fill.
struct ReadResult {
  LONG count = 0;
  LONG filled = 0;
  Data data;
  // Each datum's name with its elements' names in brackets, "|" between data.
  std::u16string Summary() const {
    std::u16string s;
    for (LONG d = 0; d < filled; ++d) {
      s += (d ? u"|" : u"") + data[d].name.Str();
      for (int e = 0; e < data[d].elements.GetSize(); ++e) s += (e ? u"," : u"[") + data[d].elements[e]->name.Str();
      if (data[d].elements.GetSize() > 0) s += u"]";
    }
    return s;
  }
};
template <class Read>
ReadResult ReadBoth(Read read) {
  ReadResult r;
  r.count = read(nullptr);
  if (r.count <= 0) return r;
  r.data.reset(new _STKX9LABELSTRUCTURE[static_cast<std::size_t>(r.count)]);
  r.filled = read(r.data.get());
  return r;
}

// Lines as a reader hands them over: one "," appended to each.
CStringArray ReaderLines(const std::vector<std::u16string>& lines) {
  CStringArray out;
  for (const auto& l : lines) out.Add(CString(l + u","));
  return out;
}

_STKX9LABELSTRUCTUREGVLDATA* Var(const Data& d, int datum, int e) {
  return static_cast<_STKX9LABELSTRUCTUREGVLDATA*>(d[datum].elements[e]);
}

// A structure with a member and a null element, a datum of another type, and
// a list with a system-label variable that uses every field and a null element.
Data Sample() {
  Data data(new _STKX9LABELSTRUCTURE[3]);
  data[0].dataType = KX9_DATATYPE_SDT;
  data[0].name = u"S\\";
  auto* m = new _STKX9LABELSTRUCTURESDTDATA();
  m->lineNo = 7, m->name = u"x", m->dataTypeName = u"DINT", m->initData = u"0";
  m->comments[0] = u"X, in mm", m->comments[15] = u"z";
  data[0].elements.Add(m);
  data[0].elements.Add(nullptr);
  data[1].dataType = 13;
  data[1].elements.Add(new _STKX9LABELSTRUCTUREBASEDATA());
  data[2].dataType = KX9_DATATYPE_GVL;
  data[2].name = u"L\\1";
  auto* v = new _STKX9LABELSTRUCTUREGVLDATA();
  v->lineNo = 0xFFFFFFFFu, v->name = u"n,a\\me", v->dataTypeName = u"ARR", v->initData = u"i";
  v->classKeyword = -7, v->structType = 2, v->remark = u"r,", v->exAccess = CString(u"1\0z", 3);
  for (int c = 0; c < KX9_COMMENT_COUNT; ++c) v->comments[c] = CString(std::u16string(u"c") + char16_t(u'a' + c));
  for (int k = 0; k < 4; ++k) v->arraySizes.Add(_STARRAYSIZEINFO{-1 - k, LONGLONG{1} << (40 + k)});
  v->dynamicAttr1 = u"d1", v->dynamicAttr2 = u"-2", v->dynamicAttr3 = 2147483647;
  v->dynamicAttr4 = u"d4", v->dynamicAttr5 = u"5", v->systemLabel.status = 3;
  v->devices.SetSize(3);
  v->devices[0].device = u"D,0", v->devices[0].deviceExtra = u"E\\", v->devices[2].deviceExtra = u"x";
  data[2].elements.Add(v);
  data[2].elements.Add(nullptr);
  return data;
}
// Free texts escaped, header names and raw texts up to a zero unit, three
// array dimensions, the flag 1 for the system label, null elements at
// construction values, no lines for the other datum.
std::string SampleVariable(const char* flag) {
  return std::string("-1,n\\,a\\\\me,ARR,i,-7,2,ca,r\\,,3,") + flag +
         ",1,cb,cc,cd,ce,cf,cg,ch,ci,cj,ck,cl,cm,cn,co,cp,"
         "-1,1099511627776,-2,2199023255552,-3,4398046511104,d1,-2,d4,5,2147483647";
}
const Strings kSampleLines = {"SDT,S\\,2",
                              "7,x,DINT,0,X\\, in mm" + Commas(15) + "z",
                              "0" + Commas(19),
                              "GVL,L\\1,2",
                              SampleVariable("1"),
                              "D\\,0,E\\\\",
                              ",",
                              ",x",
                              "0,,,,0,0,,,0,0,0" + kEmptyTail};
Strings Unflagged(Strings lines) {
  lines[4] = SampleVariable("0");
  return lines;
}

// Every field byte-exact both ways; the total is the encoded size; the
// flagged variable is listed and, read back, takes the next system label but
// its comment; without system labels the flag is written 0 and ignored.
TEST(LabelLinesTest, EveryFieldByteExactBothWays) {
  C o(nullptr);
  Data data = Sample();
  CStringArray lines;
  C::CGVLDataList sys;
  const LONG ansi = A::ToLines(o, 3, data.get(), lines, sys);
  EXPECT_EQ(U8(lines), kSampleLines);
  const LONG bytes = static_cast<LONG>(Join(kSampleLines, "\n").size());
  EXPECT_EQ(ansi, bytes);
  EXPECT_TRUE(sys.GetCount() == 1 && sys.GetHead() == Var(data, 2, 0));
  // Any series but the standard one counts UTF-16 units.
  o.SetCPUSeries(static_cast<C::KX9LabelCPUSeries>(2));
  CStringArray again;
  EXPECT_EQ(A::ToLines(o, 3, data.get(), again, sys), 2 * bytes);

  _STKX9LABELSTRUCTUREGVLDATA label;
  label.systemLabel.ID = 99, label.systemLabel.status = 3, label.systemLabel.comment = u"not copied";
  C::CGVLDataList in;
  in.AddTail(&label);
  for (int i = 0; i < lines.GetSize(); ++i) lines[i] += u',';
  Data back(new _STKX9LABELSTRUCTURE[2]);
  ASSERT_EQ(A::FromLines(o, lines, 2, back.get(), in), 0u);
  EXPECT_EQ(Lines(o, 2, back.get()), kSampleLines);
  EXPECT_TRUE(Var(back, 1, 0)->systemLabel.ID == 99 && Var(back, 1, 0)->systemLabel.comment.IsEmpty());

  o.SetMode(C::KX9LabelModeWithoutSystemLabel);
  CStringArray plain;
  C::CGVLDataList none;
  A::ToLines(o, 3, data.get(), plain, none);
  EXPECT_TRUE(none.IsEmpty());
  EXPECT_EQ(U8(plain), Unflagged(kSampleLines));
  Data ignored(new _STKX9LABELSTRUCTURE[2]);
  ASSERT_EQ(A::FromLines(o, lines, 2, ignored.get(), in), 0u);
  EXPECT_EQ(Var(ignored, 1, 0)->systemLabel.ID, 0);
}

// Fields written escaped split back into what they were, also fields long
// enough to grow the line buffer mid-line; a last piece with an odd number
// of trailing backslashes is dropped with what it accumulated, and backslash
// pairs collapse from the left.
TEST(LabelLinesTest, EscapingAndSplitting) {
  C o(nullptr);
  EXPECT_EQ(U8(A::Escape(o, CString(u"a,b\\c\\,"))), "a\\,b\\\\c\\\\\\,");
  const std::u16string samples[] = {
      u"a,b", u"x\\", u"\\,", u"\\\\\\", u",,,", u"", u"a\\,\\b", u"\u8868\\", std::u16string(250000, u',')};
  Data data(new _STKX9LABELSTRUCTURE[1]);
  data[0].dataType = KX9_DATATYPE_SDT;
  auto* m = new _STKX9LABELSTRUCTURESDTDATA();
  m->name = CString(std::u16string(100000, u','));
  for (std::size_t i = 0; i < std::size(samples); ++i) m->comments[i] = CString(samples[i]);
  data[0].elements.Add(m);
  CStringArray lines, f;
  C::CGVLDataList sys;
  A::ToLines(o, 1, data.get(), lines, sys);
  f.Add(CString(u"stale"));  // cleared first
  A::Tokenize(o, lines[1], f);
  ASSERT_EQ(f.GetSize(), 20);
  EXPECT_TRUE(f[1] == m->name);
  for (std::size_t i = 0; i < std::size(samples); ++i) EXPECT_TRUE(f[4 + static_cast<int>(i)].Str() == samples[i]) << i;

  // Each field ends with "|"; none for a line that gives no field.
  const std::pair<std::u16string, std::string> pieces[] = {{u"", "|"},           {u"a\\", ""},
                                                           {u"a,b\\,c\\", "a|"}, {u"a\\\\\\b,", "a\\\\b||"},
                                                           {u"\\\\,x", "\\|x|"}, {u"a\\\\\\,\\\\b,", "a\\,\\b||"}};
  for (const auto& [in, out] : pieces) {
    A::Tokenize(o, CString(in), f);
    std::string got;
    for (const auto& field : U8(f)) got += field + "|";
    EXPECT_EQ(got, out) << ToUtf8(in);
  }
}

// What the reader makes of lines, shown by writing the result again.
TEST(LabelLinesTest, ReaderStateMachine) {
  C o(nullptr);
  C::CGVLDataList none;
  // "GVL" alone is a header; an empty datum completes at once; a header name
  // is raw (a comma cuts it); junk and the trailer are skipped between data;
  // short lines pad, long ones are cut; an empty line "," is a device; a
  // second array pair with an empty field ends the sizes; a variable whose
  // device lines never come is dropped.
  auto lines = ReaderLines({u"junk", u"GVL", u"GVL,Empty,0", u"SDT,S\\\\t,2",
                            u"7,m,INT,,c0,c1,c2,c3,c4,c5,c6,c7,c8,c9,c10,c11,c12,c13,c14,c15,extra", u" 8,short",
                            u"SYSLBL,10,0,abc", u"GVL,G\\,2,ignored", u"1,v,INT,,0,0,,,2,0,0", u"D0,E0", u"",
                            u"2,w,INT,,0,0,,,0,0," + std::u16string(15, u',') + u",5,6,,9", u"GVL,Tail,1",
                            u"1,t,INT,,0,0,,,1,0,0"});
  Data d(new _STKX9LABELSTRUCTURE[5]);
  d[0].name = u"stale";  // a header without a name empties it
  ASSERT_EQ(A::FromLines(o, lines, 5, d.get(), none), 0u);
  EXPECT_EQ(Lines(o, 5, d.get()),
            (Strings{"GVL,,0", "GVL,Empty,0", "SDT,S\\\\t,2",
                     "7,m,INT,,c0,c1,c2,c3,c4,c5,c6,c7,c8,c9,c10,c11,c12,c13,c14,c15", "8,short" + Commas(18),
                     "GVL,G\\,2", "1,v,INT,,0,0,,,2,0,0" + kEmptyTail, "D0,E0", ",",
                     "2,w,INT,,0,0,,,0,0," + Commas(15) + ",5,6" + Commas(9) + "0", "GVL,Tail,0"}));

  // No records, or none given: no lines.
  CStringArray noLines;
  EXPECT_EQ(A::ToLines(o, 2, nullptr, noLines, none) + A::ToLines(o, 0, d.get(), noLines, none), 0);
  EXPECT_EQ(noLines.GetSize(), 0);

  // A header announcing more elements than follow swallows the next header;
  // reading stops once `count` data are complete.
  auto overrun = ReaderLines({u"SDT,A,2", u"1,a,INT,", u"SDT,B,0", u"SDT,C,0", u"SDT,D,0"});
  Data e(new _STKX9LABELSTRUCTURE[3]);
  ASSERT_EQ(A::FromLines(o, overrun, 2, e.get(), none), 0u);
  EXPECT_EQ(Lines(o, 3, e.get()), (Strings{"SDT,A,2", "1,a,INT," + Commas(16), "0,B,0," + Commas(16), "SDT,C,0"}));

  // Numbers read like the run-time readers, through escapes too.
  for (const std::u16string in : {u"", u"  -34x", u"+5", u"\t\n\v\f\r 6", u"- 7", u"2147483648", u"-2147483649",
                                  u"99999999999999999999", u"1\\,2", u"\\5", u"0x10", u"\u0663"}) {
    const std::u16string esc = A::Escape(o, CString(in)).Str();
    auto one = ReaderLines({u"GVL,G,1", u"1,v,T,," + esc + u",0,,,0,0,0," + std::u16string(15, u',') + u"1," + esc});
    Data n(new _STKX9LABELSTRUCTURE[1]);
    ASSERT_EQ(A::FromLines(o, one, 1, n.get(), none), 0u);
    EXPECT_EQ(Var(n, 0, 0)->classKeyword, _wtol(in.c_str())) << ToUtf8(in);
    EXPECT_TRUE(in.empty() || Var(n, 0, 0)->arraySizes[0].value2 == _wtoi64(in.c_str())) << ToUtf8(in);
  }
}

// --- the label structure text file --------------------------------------------

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
    std::ifstream in(dir + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
  }
  bool Exists(const std::string& name) const { return access((dir + "/" + name).c_str(), F_OK) == 0; }
  ReadResult Read(const CString& path) {
    return ReadBoth([&](_STKX9LABELSTRUCTURE* p) { return A::ReadFile(o, path, p); });
  }
  std::string dir;
  C o{nullptr};
};

// The lines, each ended CR LF, line breaks inside fields too; read back
// without the system label.
TEST_F(TextFileTest, WritesCrLfLinesAndReadsThemBackWithoutSystemLabels) {
  Data data = Sample();
  A::WriteFile(o, 3, data.get(), Path("a.txt"));
  EXPECT_EQ(Slurp("a.txt"), Join(kSampleLines, "\r\n"));
  ReadResult r = Read(Path("a.txt"));
  ASSERT_EQ(r.filled, 2);
  EXPECT_EQ(Lines(o, 2, r.data.get()), Unflagged(kSampleLines));

  // A line past the 1 MB write chunk, read back in more than one chunk.
  data[0].elements[0]->name = CString(std::u16string(600000, u','));
  A::WriteFile(o, 3, data.get(), Path("big.txt"));
  EXPECT_TRUE(Slurp("big.txt") == Join(Lines(o, 3, data.get()), "\r\n"));
  EXPECT_EQ(Read(Path("big.txt")).filled, 2);

  data[0].elements[0]->name = u"x";
  data[0].elements[0]->comments[1] = u"a\nb";
  data[0].elements[0]->comments[2] = u"c\r\nd";
  A::WriteFile(o, 3, data.get(), Path("b.txt"));
  EXPECT_EQ(Slurp("b.txt").rfind("SDT,S\\,2\r\n7,x,DINT,0,X\\, in mm,a\r\nb,c\r\r\nd,,", 0), 0u);
}

// Leading white space goes, CR LF and LF both end lines, a lone CR stays, an
// empty line is an empty element, and a last line without end counts; an
// empty or missing file holds nothing.
TEST_F(TextFileTest, ReadsAsATextModeStream) {
  Put("r.txt", " \tGVL,A,3\r\n\t 1,x,INT,,0,0,,,0,0,0\n\r\n3,z\r,INT\r\r\njunk\nGVL\n  SDT,B,0");
  const ReadResult r = Read(Path("r.txt"));
  ASSERT_EQ(r.filled, 3);
  EXPECT_EQ(Lines(o, 3, r.data.get()),
            (Strings{"GVL,A,3", "1,x,INT,,0,0,,,0,0,0" + kEmptyTail, "0,,,,0,0,,,0,0," + kEmptyTail,
                     "3,z\r,INT\r,,0,0,,,0,0," + kEmptyTail, "GVL,,0", "SDT,B,0"}));
  Put("e.txt", "");
  EXPECT_EQ(A::ReadFile(o, Path("e.txt"), nullptr), 0);
  EXPECT_EQ(A::ReadFile(o, Path("missing.txt"), nullptr), 0);
}

// An empty path names LabelStructure.txt; nothing to write leaves no file, an
// unopenable path is ignored, an existing file is emptied first.
TEST_F(TextFileTest, DefaultNameAndQuietFailures) {
  Data data = Sample();
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  A::WriteFile(o, 3, data.get(), CString());
  const LONG n = A::ReadFile(o, CString(), nullptr);
  ASSERT_EQ(chdir(old), 0);
  EXPECT_TRUE(Exists("LabelStructure.txt") && n == 2);

  A::WriteFile(o, 0, data.get(), Path("none.txt"));
  A::WriteFile(o, 2, nullptr, Path("none.txt"));
  A::WriteFile(o, 1, data.get() + 1, Path("none.txt"));
  EXPECT_FALSE(Exists("none.txt"));
  A::WriteFile(o, 3, data.get(), Path("no/such/dir.txt"));
  EXPECT_FALSE(Exists("no"));
  Put("old.txt", std::string(10000, 'x'));
  A::WriteFile(o, 1, data.get(), Path("old.txt"));
  EXPECT_EQ(Slurp("old.txt"), Join(kSampleLines, "\r\n", 3));
}

// --- the binary image --------------------------------------------------------

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
void Series(C& o, bool utf16) { o.SetCPUSeries(utf16 ? C::KX9LabelCPUSeriesX : C::KX9LabelCPUSeriesStandard); }

ReadResult ReadImage(C& o, const Bytes& img) {
  return ReadBoth([&](_STKX9LABELSTRUCTURE* p) { return A::Read(o, img.data(), static_cast<LONG>(img.size()), p); });
}

// The findings of a filling read, as "offset:line:what" lines.
struct Findings : KX9ReadDiagnostics {
  std::string all;
  void Report(LONGLONG offset, LONG line, const char* what) override {
    all += std::to_string(offset) + ":" + std::to_string(line) + ":" + what + "\n";
  }
};
std::string FindingsOf(C& o, const Bytes& img) {
  Findings f;
  const LONG n = A::Read(o, img.data(), static_cast<LONG>(img.size()), nullptr);
  std::unique_ptr<_STKX9LABELSTRUCTURE[]> data(new _STKX9LABELSTRUCTURE[n > 0 ? n : 1]);
  A::Read(o, img.data(), static_cast<LONG>(img.size()), data.get(), &f);
  return f.all;
}

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

// Every series but the standard one writes UTF-16; the standard one the
// thread's code page, "?" for what it lacks, with trail bytes "\" that are
// never escapes; the lines read back, CR LF inside a field too.
TEST(LabelImageTest, ByteExactInUtf16AndBothCodePages) {
  C o(nullptr);
  o.SetMode(C::KX9LabelModeWithoutSystemLabel);  // no trailer
  Strings lines = Unflagged(kSampleLines);
  lines[1] = "7,x,DINT,0,X\\, in mm,two\r\nlines\r" + Commas(14) + "z";
  const std::string text = Join(lines, "\n");
  for (const LONG series : {1, 5, 0}) {
    o.SetCPUSeries(static_cast<C::KX9LabelCPUSeries>(series));
    Data data = Sample();
    data[0].elements[0]->comments[1] = u"two\r\nlines\r";
    const Bytes img = WriteImage(o, data.release(), 3, 7 * series);
    EXPECT_EQ(img, Text(series != 0, text)) << series;
    const ReadResult r = ReadImage(o, img);
    ASSERT_EQ(r.filled, 2);
    EXPECT_EQ(Lines(o, 2, r.data.get()), lines) << series;
  }

  auto make = []() {
    auto* data = new _STKX9LABELSTRUCTURE[1];
    data[0].dataType = KX9_DATATYPE_GVL;
    data[0].name = CString(u"\u8868\0x", 3);  // 932: 95 5C, a trail byte equal to "\"; a zero unit ends it
    auto* v = new _STKX9LABELSTRUCTUREGVLDATA();
    v->lineNo = 2, v->name = u"\u00e9\u8868,", v->dataTypeName = u"INT";  // é: E9 in 1252, "?" in 932
    v->comments[0] = u"\u8868\\";
    v->remark = CString(u"\u30c6\0x", 3);  // 932: 83 65; a zero unit ends the field
    data[0].elements.Add(v);
    return data;
  };
  const std::string tail = ",0,0,0" + kEmptyTail + "\n";
  EXPECT_EQ(WriteImage(o, make(), 1), Ascii("GVL,?,1\n2,\xE9?\\,,INT,,0,0,?\\\\,?" + tail));
  CodePage cp(932);
  o.SetCPUSeries(C::KX9LabelCPUSeriesX);  // sized in units, whatever the page
  EXPECT_EQ(WriteImage(o, make(), 1), Utf16(u"GVL,\u8868,1\n2,\u00e9\u8868\\,,INT,,0,0,\u8868\\\\,\u30c6" +
                                            std::u16string(tail.begin(), tail.end())));
  o.SetCPUSeries(C::KX9LabelCPUSeriesStandard);
  const Bytes img = WriteImage(o, make(), 1);
  EXPECT_EQ(img, Ascii("GVL,\x95\x5C,1\n2,?\x95\x5C\\,,INT,,0,0,\x95\x5C\\\\,\x83\x65" + tail));
  const ReadResult r = ReadImage(o, img);
  ASSERT_EQ(r.filled, 1);
  EXPECT_EQ(r.Summary(), u"\u8868[?\u8868,]");
  EXPECT_EQ(Var(r.data, 0, 0)->comments[0].Str(), u"\u8868\\");
  EXPECT_EQ(Var(r.data, 0, 0)->remark.Str(), u"\u30c6");
}

// How the reader cuts an image into lines and which lines are headers, in
// UTF-16, a single-byte and a double-byte code page.
TEST(LabelImageTest, ScanRules) {
  enum { kUtf16 = 1, k1252 = 2, k932 = 4, kAll = 7 };
  static const char kLines[] = "\n\nGVL\n\nSDT,S,1\n\n1,m,INT,\n\nGVL,Z\0z\0z,0\nSDT";
  // The modes, the image (the rows for all modes in each one's encoding), the
  // data counted, and what is read (null: the count alone).
  const std::tuple<int, Bytes, LONG, const char16_t*> cases[] = {
      // Lines ended by CR LF are one line; a pair hiding the last unit leaves
      // even that one untaken. Empty lines are not taken, before headers and
      // between elements; a last line without a line feed is; "GVL" alone is
      // a header; a zero unit ends the text of its line.
      {kAll, Ascii("GVL,A,0\r\nSDT,B,0\r\n"), 0, nullptr},
      {kAll, Ascii("GVL,A,0\r\nSDT,B,0\r"), 1, u"A"},
      {kAll, Ascii("GVL,A,0\r\n\nSDT,B,0\n"), 2, u"A|B"},
      {kAll, Ascii(std::string(kLines, sizeof kLines - 1)), 4, u"|S[m]|Z|"},
      // A lead byte takes the next byte along, even a line feed, also as the
      // first byte; one as the last byte still ends the last line, a pair
      // taking the last byte does not.
      {k1252, Ascii("GVL,A\x95\nSDT,B,0\n"), 2, u"A\u2022|B"},
      {k932, Ascii("GVL,A\x95\nSDT,B,0\n"), 1, u"A\uFFFD\nSDT"},
      {k932, Ascii("\x95\nGVL,A,0\n"), 0, nullptr},
      {k932, Ascii("GVL,A\x95\x5C\nSDT,B,0\n"), 2, u"A\u8868|B"},
      {k932, Ascii("GVL,x,0\nSDT,\x95"), 2, nullptr},
      {k932, Ascii("GVL,x,0\nSDT,\x95\x5C"), 1, nullptr},
      // UTF-16 of odd length: the dangling byte is no unit, so neither a last
      // line without line feed nor a CR before it counts; a byte 0A inside a
      // unit is no line feed.
      {kUtf16, Cat({Utf16(u"GVL,A,0\nGVL,B,0"), {0x0A}}), 1, u"A"},
      {kUtf16, Cat({Utf16(u"GVL,A,0\nGVL,B,0\n"), {0x0A}}), 2, u"A|B"},
      {kUtf16, Cat({Utf16(u"GVL,A,0\r"), {0x0A}}), 0, nullptr},
      {kUtf16, Utf16(u"GVL,\u0a0a\u010a\u0100,0\nSDT,B,0\n"), 2, u"\u0a0a\u010a\u0100|B"},
  };
  int row = 0;
  for (const auto& [modes, img, count, summary] : cases) {
    ++row;
    for (const int mode : {kUtf16, k1252, k932}) {
      if ((modes & mode) == 0) continue;
      CodePage cp(mode == k932 ? 932 : 1252);
      C o(nullptr);
      Series(o, mode == kUtf16);
      SCOPED_TRACE(testing::Message() << "row " << row << " mode " << mode);
      const bool widen = mode == kUtf16 && modes != kUtf16;  // ASCII rows in UTF-16
      const ReadResult r = ReadImage(o, widen ? Utf16(std::u16string(img.begin(), img.end())) : img);
      EXPECT_EQ(r.count, count);
      EXPECT_TRUE(!summary || (r.filled == count && r.Summary() == summary)) << ToUtf8(r.Summary());
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
  EXPECT_EQ(A::Write(o, 1, p, img, 10), 0);
  EXPECT_EQ(A::Write(o, 0, p, img, 10), 0);
  EXPECT_EQ(p, data.get() + 1);
  p = data.release();
  EXPECT_EQ(A::Write(o, 3, p, img, -1), -1);
  EXPECT_TRUE(p == nullptr && img == &sentinel);
  _STKX9LABELSTRUCTURE* none = nullptr;  // records announced but missing
  EXPECT_EQ(A::Write(o, 2, none, img, 10), 0);
  EXPECT_EQ(A::Read(o, nullptr, 0, nullptr), 0);
  EXPECT_EQ(A::Read(o, nullptr, 4, nullptr), -1);
  // A line feed first is an empty line, whatever lies in front of the image.
  const BYTE framed[] = "\r\nSDT,S,0\n";
  EXPECT_EQ(A::Read(o, framed + 1, static_cast<LONG>(sizeof framed - 2), nullptr), 1);
}

// --- system-label trailer and block, against the reference database -------

struct SystemLabelImage : ::testing::Test {
  refdb::RefDatabase db;
  C writer{db.Workspace()};
  C reader{db.Workspace()};
  const Bytes generic = {1, 2, 3, 0x0A, 0x0D, 0, 9};  // a block size with odd hex digits

  void SetUp() override {
    writer.Initialize(db.NewProject(u"P"));
    reader.Initialize(db.NewProject(u"Q"));
    ASSERT_EQ(A::SetGeneric(writer, static_cast<LONG>(generic.size()), generic.data()), KX9_OK);
  }
  void TearDown() override { EXPECT_EQ(db.OutstandingReferences(), 0); }

  // Three variables, the first and the last system labels.
  static _STKX9LABELSTRUCTURE* Labels() {
    auto* data = new _STKX9LABELSTRUCTURE[1];
    data[0].dataType = KX9_DATATYPE_GVL;
    data[0].name = u"G";
    const LONG status[] = {5, 0, 14};
    for (int i = 0; i < 3; ++i) {
      auto* v = new _STKX9LABELSTRUCTUREGVLDATA();
      v->lineNo = static_cast<ULONG>(i + 1), v->name = std::u16string(1, char16_t(u'a' + i)), v->dataTypeName = u"INT";
      v->systemLabel.status = status[i], v->systemLabel.ID = 100 + i;
      _STKX9SYSTEMLABELDATA& s = v->systemLabel;
      s.name = u"S\u00e9", s.programName = u"P", s.CPUID = 3, s.attribute = 4, s.projectID = 5, s.listID = 6;
      s.dataType = 7, s.dataSize = 8, s.localName = u"L", s.comment = u"dropped", s.remark = u"dropped";
      data[0].elements.Add(v);
    }
    return data;
  }
  // The labels read, with or without their system labels and generic data.
  void ExpectLabels(const Bytes& img, bool withSystemLabels) {
    const ReadResult r = ReadImage(reader, img);
    ASSERT_TRUE(r.count == 1 && r.filled == 1);  // the count pass never reads the trailer
    std::string got;                             // ID/status of each variable; "+" where a comment or remark travelled
    for (int i = 0; i < r.data[0].elements.GetSize(); ++i) {
      const _STKX9SYSTEMLABELDATA& s = Var(r.data, 0, i)->systemLabel;
      got += std::to_string(s.ID) + "/" + std::to_string(s.status) + ((s.comment + s.remark).IsEmpty() ? " " : "+ ");
    }
    EXPECT_EQ(got, withSystemLabels ? "100/5 0/0 102/14 " : "0/0 0/0 0/0 ");
    LONG n = 0;
    BYTE* p = nullptr;
    EXPECT_EQ(A::GetGeneric(reader, &n, &p), KX9_OK);
    std::unique_ptr<BYTE[]> owned(p);
    EXPECT_EQ(Bytes(p, p + n), withSystemLabels ? generic : Bytes());
  }
};

// After the lines: "SYSLBL,<block size in hex>,<mode>,<digest>" and the block
// of the flagged variables with the generic data.
TEST_F(SystemLabelImage, TrailerAndBlockFollowTheLines) {
  const Data flagged(Labels());
  C::CGVLDataList list;
  list.AddTail(Var(flagged, 0, 0)), list.AddTail(Var(flagged, 0, 2));
  const Bytes block = A::Block(writer, list);
  char hex[24];
  std::snprintf(hex, sizeof hex, "%zx", block.size());
  const std::string text = "GVL,G,3\n1,a,INT,,0,0,,,0,1,0" + kEmptyTail + "\n2,b,INT,,0,0,,,0,0,0" + kEmptyTail +
                           "\n3,c,INT,,0,0,,,0,1,0" + kEmptyTail + "\nSYSLBL," + hex + ",0," + A::Md5(writer, block) +
                           "\n";
  for (const bool utf16 : {false, true}) {
    Series(writer, utf16), Series(reader, utf16);
    const Bytes img = WriteImage(writer, Labels(), 1, 3);
    EXPECT_EQ(img, Cat({Text(utf16, text), block}));
    ExpectLabels(img, true);
    EXPECT_EQ(FindingsOf(reader, img), "");  // a whole image leaves nothing unaccounted for
  }
}

// What the reader skips or cannot account for, where it is: byte, line.
TEST(LabelImageTest, FindingsOfTheReader) {
  const std::string kFlagged = "GVL,G,1\n1,v,INT,,0,0,,,0,1\n";
  using namespace std::string_literals;  // "..."s keeps zero bytes
  const std::tuple<bool, Bytes, std::string> rows[] = {
      {false, Ascii("zzz\nSDT,S,1\n1,a,INT\n"), "0:1:a line outside any list is skipped\n"},
      {false, Ascii("SDT,S,2\n1,a,INT\n"), "0:1:the lines end before the list's last element\n"},
      {false, Ascii("GVL,G,1\n1,v,INT,,0,0,,,2\nD0,\n"),
       "25:3:the lines end inside a variable's devices: the variable is dropped\n"
       "0:1:the lines end before the list's last element\n"},
      {false, Ascii("SDT,S,1\nSDT,T,0\n"), "8:2:the lines end before the last list\n"},
      {false, Ascii("SDT,S,1\n1,a,INT\n\nzzz\nSYSLBL,0,0,x\n"),  // the trailer is no stray line
       "34:5:the system-label block does not match its digest: no system label is read\n"
       "17:4:a line after the last list is not read\n"},
      {false, Ascii("SDT,S,1\n1,a\0x,INT\n"s), "11:2:a zero unit ends the line early: the rest of it is not read\n"},
      {false, Ascii("SDT,S,0\nSYSLBL,10,0,ab\nxy"),
       "23:2:the system-label block runs past the end: no system label is read\n"},
      {false, Ascii("SDT,S,0\nSYSLBL,1,0,ab\nxyz"),
       "23:2:bytes after the system-label block are not read\n"
       "22:2:the system-label block does not match its digest: no system label is read\n"},
      {false, Ascii(kFlagged), "8:2:the variable is flagged as a system label, but no system label is left for it\n"},
      {true, Cat({Text(true, "SDT,S,0\n"), {1}}), "16:0:the last byte is half a UTF-16 unit and is not read\n"},
  };
  C o(nullptr);
  for (const auto& [utf16, img, expected] : rows) {
    Series(o, utf16);
    EXPECT_EQ(FindingsOf(o, img), expected) << std::string(img.begin(), img.end());
  }
  // The text file: lines by number, bytes as in the file; it carries no
  // system labels, so a flag needs none.
  const std::string path = ::testing::TempDir() + "kx9_findings.txt";
  std::ofstream(path, std::ios::binary) << "zzz\r\nSDT,S,1\r\n1,a,INT\r\n" << kFlagged;
  Findings f;
  Data data(new _STKX9LABELSTRUCTURE[2]);
  EXPECT_EQ(A::ReadFile(o, CString(FromUtf8(path)), data.get(), &f), 2);
  EXPECT_EQ(f.all, "0:1:a line outside any list is skipped\n");
  std::remove(path.c_str());
}

// A wrong digest or a block reaching past the image: the labels read without
// system labels; the digest matches ignoring case; nothing after the trailer
// is scanned; a block that passes the digest but cannot be decoded, or an
// empty one, fails the read.
TEST_F(SystemLabelImage, DamagedTrailersAndBlocks) {
  const Bytes img = WriteImage(writer, Labels(), 1);
  const std::string text(img.begin(), img.end());
  const std::size_t digestAt = text.find(',', text.find(',', text.find("SYSLBL,") + 7) + 1) + 1;
  const std::size_t digestEnd = text.find('\n', digestAt);

  Bytes wrong = img;
  wrong[digestAt] = wrong[digestAt] == '0' ? '1' : '0';
  ExpectLabels(wrong, false);
  ExpectLabels(Bytes(img.begin(), img.end() - 1), false);

  Bytes upper = Cat({img, Ascii("\nGVL,After,0\n")});
  for (std::size_t i = digestAt; i < digestEnd; ++i) upper[i] = static_cast<BYTE>(std::toupper(upper[i]));
  ASSERT_NE(upper, Cat({img, Ascii("\nGVL,After,0\n")}));  // the digest has letters
  ExpectLabels(upper, true);

  const Bytes bad = {0x05, 0x00, 0xFF};
  EXPECT_EQ(ReadImage(reader, Cat({Ascii("GVL,G,0\nSYSLBL,3,0," + A::Md5(reader, bad) + "\n"), bad})).filled, -1);
  EXPECT_EQ(ReadImage(reader, Ascii("GVL,G,0\nSYSLBL,0,0,\n")).filled, -1);
  EXPECT_EQ(ReadImage(reader, Ascii("GVL,G,0\nSYSLBL,-4,0,\n")).filled, 1);
  EXPECT_EQ(ReadImage(reader, Ascii("GVL,G,0\nSYSLBL,99,0,\nGVL,H,0\n")).filled, 1);    // past the end
  EXPECT_EQ(ReadImage(reader, Ascii("GVL,G,0\nSYSLBL,1,0,x\n\nGVL,H,0\n")).filled, 1);  // a wrong digest
}

// Every prefix of an image reads without failing, both passes agreeing, but
// for a cut right after "SYSLBL" or "SYSLBL,", which announces an empty block.
TEST_F(SystemLabelImage, EveryTruncationReadsSafelyAndBothPassesAgree) {
  for (const bool utf16 : {false, true}) {
    Series(writer, utf16), Series(reader, utf16);
    auto* data = Labels();
    data[0].elements[1]->comments[0] = u"a\r\nb,\\";
    const Bytes img = WriteImage(writer, data, 1);
    const Bytes marker = Text(utf16, "SYSLBL");
    const std::size_t at =
        static_cast<std::size_t>(std::search(img.begin(), img.end(), marker.begin(), marker.end()) - img.begin());
    const std::size_t unit = utf16 ? 2 : 1;
    for (std::size_t n = 0; n <= img.size(); ++n) {
      ReadResult r = ReadImage(reader, Bytes(img.begin(), img.begin() + static_cast<long>(n)));
      ASSERT_GE(r.count, 0) << n;
      if (r.count > 0) {
        EXPECT_EQ(r.filled, (n == at + 6 * unit || n == at + 7 * unit) ? -1 : r.count) << n;
      }
    }
  }
}

}  // namespace
