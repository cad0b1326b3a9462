// Label records <-> text lines: line formats, escaping, field splitting and
// the line reader's state machine.
#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"

namespace {
struct LinesTag;
}

template <>
struct KX9TestAccess<LinesTag> {
  using C = CKX9ComFuncLabelStructure;
  static LONG ToLines(C& o, LONG n, _STKX9LABELSTRUCTURE* p, CStringArray& lines, C::CGVLDataList& sys) {
    return o.ConvertStructDataToString(n, p, lines, sys);
  }
  static ULONG FromLines(C& o, CStringArray& lines, LONG n, _STKX9LABELSTRUCTURE* p, const C::CGVLDataList& sys) {
    return o.ConvertStringToStructData(lines, n, p, sys);
  }
  static CString Escape(C& o, const CString& s) { return o._escapeString(s); }
  static void Tokenize(C& o, const CString& l, CStringArray& f) { o._tokenize(l, f); }
  static LONG Length(C& o, const CString& s) { return o.GetUnicodeStringLength(s); }
};

namespace {
using A = KX9TestAccess<LinesTag>;
using C = CKX9ComFuncLabelStructure;
using Strings = std::vector<std::string>;
using Data = std::unique_ptr<_STKX9LABELSTRUCTURE[]>;

std::string U8(const CString& s) { return ToUtf8(s.Str()); }

Strings Fields(C& o, const std::u16string& line) {
  CStringArray f;
  f.Add(CString(u"stale"));  // cleared first
  A::Tokenize(o, CString(line), f);
  Strings out;
  for (int i = 0; i < f.GetSize(); ++i) out.push_back(U8(f[i]));
  return out;
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

// The documented example: a structure with one member, a list with one variable.
Data Example() {
  Data data(new _STKX9LABELSTRUCTURE[2]);
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
  auto* v = new _STKX9LABELSTRUCTUREGVLDATA();
  v->lineNo = 1;
  v->name = u"Speed";
  v->dataTypeName = u"INT";
  v->comments[0] = u"motor speed";
  v->devices.SetSize(1);
  v->devices[0].device = u"DEV1";
  data[1].elements.Add(v);
  return data;
}

TEST(LabelLinesTest, WritesTheDocumentedLinesAndTheirEncodedSize) {
  const Strings expected = {"SDT,Point,1", "1,x,DINT,0,X\\, in mm,,,,,,,,,,,,,,,", "GVL,Global,1",
                            "1,Speed,INT,,0,0,motor speed,,1,0,0,,,,,,,,,,,,,,,,,,,,,,,,,,0", "DEV1,"};
  C o(nullptr);
  Data data = Example();
  CStringArray lines;
  C::CGVLDataList sys;
  const LONG ansi = A::ToLines(o, 2, data.get(), lines, sys);
  Strings got;
  for (int i = 0; i < lines.GetSize(); ++i) got.push_back(U8(lines[i]));
  EXPECT_EQ(got, expected);
  LONG bytes = 0;
  for (const auto& l : expected) bytes += static_cast<LONG>(l.size()) + 1;
  EXPECT_EQ(ansi, bytes);
  EXPECT_TRUE(sys.IsEmpty());

  // Any series but the standard one counts UTF-16 units; lines are appended.
  o.SetCPUSeries(static_cast<C::KX9LabelCPUSeries>(2));
  EXPECT_EQ(A::ToLines(o, 2, data.get(), lines, sys), 2 * bytes);
  EXPECT_EQ(lines.GetSize(), 10);

  // The size of one line in each encoding: "?" for what a code page lacks.
  EXPECT_EQ(A::Length(o, CString(u"\u00e9\U0001F600")), 8);
  o.SetCPUSeries(C::KX9LabelCPUSeriesStandard);
  EXPECT_EQ(A::Length(o, CString(u"\u00e9\u8868\U0001F600")), 4);
  ASSERT_TRUE(SetThreadAnsiCodePage(932));
  EXPECT_EQ(A::Length(o, CString(u"\u00e9\u8868a")), 5);
  SetThreadAnsiCodePage(1252);

  // Only GVL and SDT data make lines.
  Data other(new _STKX9LABELSTRUCTURE[2]);
  other[0].dataType = 13;
  CStringArray none;
  EXPECT_EQ(A::ToLines(o, 2, other.get(), none, sys), 0);
  EXPECT_EQ(none.GetSize(), 0);
}

TEST(LabelLinesTest, EveryVariableFieldRoundTrips) {
  C o(nullptr);
  Data data(new _STKX9LABELSTRUCTURE[1]);
  data[0].dataType = KX9_DATATYPE_GVL;
  data[0].name = u"L\\1";  // names are raw
  auto* v = new _STKX9LABELSTRUCTUREGVLDATA();
  v->lineNo = 0xFFFFFFFFu;
  v->name = u"n,a\\me";
  v->dataTypeName = u"ARR";
  v->initData = u"i";
  v->classKeyword = -7;
  v->structType = 2;
  for (int c = 0; c < KX9_COMMENT_COUNT; ++c) v->comments[c] = CString(std::u16string(u"c") + char16_t(u'a' + c));
  v->remark = u"r,";
  v->exAccess = u"1";
  for (int k = 0; k < 4; ++k) {  // only three dimensions travel
    _STARRAYSIZEINFO s;
    s.value1 = -1 - k;
    s.value2 = LONGLONG{1} << (40 + k);
    v->arraySizes.Add(s);
  }
  v->dynamicAttr1 = u"d1";
  v->dynamicAttr2 = u"-2";
  v->dynamicAttr3 = 2147483647;
  v->dynamicAttr4 = u"d4";
  v->dynamicAttr5 = u"5";
  v->systemLabel.status = 3;
  v->devices.SetSize(3);
  v->devices[0].device = u"D,0";
  v->devices[0].deviceExtra = u"E\\";
  v->devices[2].deviceExtra = u"x";
  data[0].elements.Add(v);

  CStringArray lines;
  C::CGVLDataList sys;
  ASSERT_GT(A::ToLines(o, 1, data.get(), lines, sys), 0);
  ASSERT_EQ(lines.GetSize(), 5);
  EXPECT_EQ(U8(lines[0]), "GVL,L\\1,1");
  EXPECT_EQ(U8(lines[1]),
            "-1,n\\,a\\\\me,ARR,i,-7,2,ca,r\\,,3,1,1,cb,cc,cd,ce,cf,cg,ch,ci,cj,ck,cl,cm,cn,co,cp,"
            "-1,1099511627776,-2,2199023255552,-3,4398046511104,d1,-2,d4,5,2147483647");
  EXPECT_EQ(U8(lines[2]), "D\\,0,E\\\\");
  EXPECT_EQ(U8(lines[3]), ",");
  ASSERT_EQ(sys.GetCount(), 1);
  EXPECT_EQ(sys.GetHead(), v);

  // Read back, every field lands where it came from: the lines written again
  // are the same. The flagged variable takes the next system label but its comment.
  _STKX9LABELSTRUCTUREGVLDATA label;
  label.systemLabel.ID = 99;
  label.systemLabel.status = 3;
  label.systemLabel.comment = u"not copied";
  C::CGVLDataList in;
  in.AddTail(&label);
  for (int i = 0; i < lines.GetSize(); ++i) lines[i] += u',';
  Data back(new _STKX9LABELSTRUCTURE[1]);
  ASSERT_EQ(A::FromLines(o, lines, 1, back.get(), in), 0u);
  CStringArray again;
  A::ToLines(o, 1, back.get(), again, sys);
  ASSERT_EQ(again.GetSize(), lines.GetSize());
  for (int i = 0; i < again.GetSize(); ++i) EXPECT_EQ(again[i] + CString(u","), lines[i]) << i;
  const auto* r = Var(back, 0, 0);
  EXPECT_EQ(r->arraySizes.GetSize(), 3);
  EXPECT_EQ(r->devices[0].deviceExtra, v->devices[0].deviceExtra);
  EXPECT_EQ(r->systemLabel.ID, 99);
  EXPECT_TRUE(r->systemLabel.comment.IsEmpty());

  // Without system labels the flag is written 0 and ignored when read.
  o.SetMode(C::KX9LabelModeWithoutSystemLabel);
  CStringArray plain;
  C::CGVLDataList none;
  A::ToLines(o, 1, data.get(), plain, none);
  EXPECT_TRUE(none.IsEmpty());
  EXPECT_NE(U8(plain[1]).find(",3,0,1,cb"), std::string::npos);
  Data ignored(new _STKX9LABELSTRUCTURE[1]);
  ASSERT_EQ(A::FromLines(o, lines, 1, ignored.get(), in), 0u);
  EXPECT_EQ(Var(ignored, 0, 0)->systemLabel.ID, 0);
}

// Lines of any length come out whole: the line buffer grows mid-line, and a
// short line after a long one takes only its own units.
TEST(LabelLinesTest, LinesOfAnyLengthAreWrittenWhole) {
  C o(nullptr);
  const std::size_t lengths[] = {0, 1, 40, 41, 200, 100000, 3, 250000, 0};
  Data data(new _STKX9LABELSTRUCTURE[1]);
  data[0].dataType = KX9_DATATYPE_SDT;
  data[0].name = u"S";
  for (std::size_t n : lengths) {
    auto* m = new _STKX9LABELSTRUCTURESDTDATA();
    m->lineNo = 1;
    m->name = CString(std::u16string(n, u','));  // every unit escaped: twice as long
    m->dataTypeName = u"INT";
    data[0].elements.Add(m);
  }
  CStringArray lines;
  C::CGVLDataList sys;
  ASSERT_GT(A::ToLines(o, 1, data.get(), lines, sys), 0);
  ASSERT_EQ(lines.GetSize(), 1 + static_cast<int>(std::size(lengths)));
  for (std::size_t i = 0; i < std::size(lengths); ++i) {
    std::u16string expected = u"1,";
    for (std::size_t k = 0; k < lengths[i]; ++k) expected += u"\\,";
    expected += u",INT," + std::u16string(KX9_COMMENT_COUNT, u',');
    EXPECT_TRUE(lines[static_cast<int>(i) + 1].Str() == expected) << lengths[i];
  }
}

TEST(LabelLinesTest, EscapingAndSplitting) {
  C o(nullptr);
  EXPECT_EQ(U8(A::Escape(o, CString(u"a,b\\c"))), "a\\,b\\\\c");
  EXPECT_EQ(U8(A::Escape(o, CString(u"\\,"))), "\\\\\\,");

  // Escaped fields come back as they were, whatever their commas and backslashes.
  const std::u16string samples[] = {u"a,b", u"x\\", u"\\,", u"\\\\\\", u",,,", u"", u"a\\,\\b", u"\u8868\\"};
  std::u16string line;
  for (const auto& s : samples) line += A::Escape(o, CString(s)).Str() + u",";
  CStringArray f;
  A::Tokenize(o, CString(line), f);
  ASSERT_EQ(f.GetSize(), static_cast<int>(std::size(samples)) + 1);
  for (std::size_t i = 0; i < std::size(samples); ++i) EXPECT_EQ(f[static_cast<int>(i)].Str(), samples[i]) << i;
  const std::u16string many(20000, u',');
  A::Tokenize(o, CString(A::Escape(o, CString(many)).Str() + u","), f);
  ASSERT_EQ(f.GetSize(), 2);
  EXPECT_EQ(f[0].Str(), many);

  // The piece rules: a last piece with an odd number of trailing backslashes
  // is dropped with what it accumulated; pairs collapse from the left.
  EXPECT_EQ(Fields(o, u""), Strings{""});
  EXPECT_EQ(Fields(o, u"a\\"), Strings{});
  EXPECT_EQ(Fields(o, u"a,b\\,c\\"), Strings{"a"});
  EXPECT_EQ(Fields(o, u"a\\\\\\b,"), (Strings{"a\\\\b", ""}));
  EXPECT_EQ(Fields(o, u"\\\\,x"), (Strings{"\\", "x"}));
  EXPECT_EQ(Fields(o, u"a\\\\\\,\\\\b,"), (Strings{"a\\,\\b", ""}));
}

TEST(LabelLinesTest, ReaderStateMachine) {
  C o(nullptr);
  C::CGVLDataList none;
  // "GVL" alone is a header; an empty datum completes at once; a header name
  // is raw (a comma cuts it); junk and the trailer are skipped between data;
  // short lines pad, long ones are cut; an empty line "," is a device; a
  // variable whose device lines never come is dropped.
  auto lines = ReaderLines({
      u"junk",
      u"GVL",
      u"GVL,Empty,0",
      u"SDT,S\\\\t,2",
      u"7,m,INT,,c0,c1,c2,c3,c4,c5,c6,c7,c8,c9,c10,c11,c12,c13,c14,c15,extra",
      u" 8,short",
      u"SYSLBL,10,0,abc",
      u"GVL,G\\,2,ignored",
      u"1,v,INT,,0,0,,,2,0,0",
      u"D0,E0",
      u"",
      u"2,w,INT,,0,0,,,0,0," + std::u16string(15, u',') + u",5,6,,9",
      u"GVL,Tail,1",
      u"1,t,INT,,0,0,,,1,0,0",
  });
  Data d(new _STKX9LABELSTRUCTURE[5]);
  ASSERT_EQ(A::FromLines(o, lines, 5, d.get(), none), 0u);
  EXPECT_EQ(d[0].dataType, KX9_DATATYPE_GVL);
  EXPECT_TRUE(d[0].name.IsEmpty());
  EXPECT_EQ(U8(d[1].name), "Empty");
  EXPECT_EQ(d[1].elements.GetSize(), 0);
  EXPECT_EQ(d[2].dataType, KX9_DATATYPE_SDT);
  EXPECT_EQ(U8(d[2].name), "S\\\\t");
  ASSERT_EQ(d[2].elements.GetSize(), 2);
  EXPECT_EQ(U8(d[2].elements[0]->comments[15]), "c15");
  EXPECT_EQ(d[2].elements[1]->lineNo, 8u);
  EXPECT_TRUE(static_cast<_STKX9LABELSTRUCTURESDTDATA*>(d[2].elements[1])->dataTypeName.IsEmpty());
  EXPECT_EQ(U8(d[3].name), "G\\");
  ASSERT_EQ(d[3].elements.GetSize(), 2);
  ASSERT_EQ(Var(d, 3, 0)->devices.GetSize(), 2);
  EXPECT_EQ(U8(Var(d, 3, 0)->devices[0].deviceExtra), "E0");
  const auto* w = Var(d, 3, 1);
  ASSERT_EQ(w->arraySizes.GetSize(), 1);  // the second pair has an empty field
  EXPECT_EQ(w->arraySizes[0].value2, 6);
  EXPECT_TRUE(w->exAccess.IsEmpty());
  EXPECT_EQ(U8(d[4].name), "Tail");
  EXPECT_EQ(d[4].elements.GetSize(), 0);

  // A header announcing more elements than follow swallows the next header;
  // reading stops once `count` data are complete.
  auto overrun = ReaderLines({u"SDT,A,2", u"1,a,INT,", u"SDT,B,0", u"SDT,C,0"});
  Data e(new _STKX9LABELSTRUCTURE[3]);
  ASSERT_EQ(A::FromLines(o, overrun, 2, e.get(), none), 0u);
  EXPECT_EQ(U8(e[0].elements[1]->name), "B");
  EXPECT_EQ(U8(e[1].name), "C");
  EXPECT_EQ(e[2].dataType, 0);

  // Numbers read like the run-time readers, through escapes too.
  for (const std::u16string in : {u"", u"  -34x", u"+5", u"\t\n\v\f\r 6", u"- 7", u"2147483648", u"-2147483649",
                                  u"99999999999999999999", u"1\\,2", u"\\5", u"0x10", u"\u0663"}) {
    const std::u16string esc = A::Escape(o, CString(in)).Str();
    auto one = ReaderLines({u"GVL,G,1", u"1,v,T,," + esc + u",0,,,0,0,0," + std::u16string(15, u',') + u"1," + esc});
    Data n(new _STKX9LABELSTRUCTURE[1]);
    ASSERT_EQ(A::FromLines(o, one, 1, n.get(), none), 0u);
    EXPECT_EQ(Var(n, 0, 0)->classKeyword, _wtol(in.c_str())) << ToUtf8(in);
    if (!in.empty()) {
      EXPECT_EQ(Var(n, 0, 0)->arraySizes[0].value2, _wtoi64(in.c_str())) << ToUtf8(in);
    }
  }
}

}  // namespace
