// The label structure text file: bytes on disk, text-mode reading, and the
// round trip without system-label data.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "component/KX9ComFuncLabelStructure.h"

namespace {
struct TextFileTag;
}

template <>
struct KX9TestAccess<TextFileTag> {
  using C = CKX9ComFuncLabelStructure;
  static void Write(C& o, LONG n, _STKX9LABELSTRUCTURE* p, const CString& path) { o.WriteTextFile(n, p, path); }
  static LONG Read(C& o, const CString& path, _STKX9LABELSTRUCTURE* p) { return o.ReadTextFile(path, p); }
};

namespace {
using A = KX9TestAccess<TextFileTag>;
using C = CKX9ComFuncLabelStructure;
using Data = std::unique_ptr<_STKX9LABELSTRUCTURE[]>;

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
  // Both reading passes.
  LONG ReadBoth(C& o, const CString& path, Data& data) {
    const LONG n = A::Read(o, path, nullptr);
    if (n <= 0) return n;
    data.reset(new _STKX9LABELSTRUCTURE[static_cast<std::size_t>(n)]);
    EXPECT_EQ(A::Read(o, path, data.get()), n);
    return n;
  }
  std::string dir;
};

Data Sample() {
  Data data(new _STKX9LABELSTRUCTURE[2]);
  data[0].dataType = KX9_DATATYPE_SDT;
  data[0].name = u"Point";
  auto* m = new _STKX9LABELSTRUCTURESDTDATA();
  m->lineNo = 1;
  m->name = u"x";
  m->comments[0] = u"X, in mm";
  data[0].elements.Add(m);
  data[1].dataType = KX9_DATATYPE_GVL;
  data[1].name = u"Global";
  auto* v = new _STKX9LABELSTRUCTUREGVLDATA();
  v->lineNo = 1;
  v->name = u"Speed";
  v->systemLabel.status = 5;
  v->systemLabel.ID = 42;
  v->devices.SetSize(1);
  v->devices[0].device = u"DEV1";
  data[1].elements.Add(v);
  return data;
}

TEST_F(TextFileTest, WritesCrLfLinesAndReadsThemBackWithoutSystemLabels) {
  C o(nullptr);
  Data data = Sample();
  data[0].elements[0]->comments[1] = u"a\nb";
  data[0].elements[0]->comments[2] = u"c\r\nd";
  A::Write(o, 2, data.get(), Path("a.txt"));
  EXPECT_EQ(Slurp("a.txt"), "SDT,Point,1\r\n1,x,,,X\\, in mm,a\r\nb,c\r\r\nd,,,,,,,,,,,,,\r\nGVL,Global,1\r\n"
                            "1,Speed,,,0,0,,,1,1,0" + std::string(26, ',') + "0\r\nDEV1,\r\n");
  ASSERT_EQ(data[1].elements.GetSize(), 1);  // the records stay the caller's

  // Line breaks inside fields end the file line there: the member keeps "a"
  // and loses the rest; the system label does not travel.
  Data back;
  ASSERT_EQ(ReadBoth(o, Path("a.txt"), back), 2);
  EXPECT_EQ(back[0].elements[0]->comments[0].Str(), u"X, in mm");
  EXPECT_EQ(back[0].elements[0]->comments[1].Str(), u"a");
  EXPECT_TRUE(back[0].elements[0]->comments[2].IsEmpty());
  const auto* v = static_cast<_STKX9LABELSTRUCTUREGVLDATA*>(back[1].elements[0]);
  EXPECT_EQ(v->name.Str(), u"Speed");
  EXPECT_EQ(v->devices[0].device.Str(), u"DEV1");
  EXPECT_EQ(v->systemLabel.status, 0);
  EXPECT_EQ(v->systemLabel.ID, 0);

  // Double-byte code page: bytes on disk and back.
  ASSERT_TRUE(SetThreadAnsiCodePage(932));
  data[1].name = u"\u8868";
  data[1].elements[0]->comments[0] = u"\u30c6\\,";
  A::Write(o, 2, data.get(), Path("j.txt"));
  const std::string bytes = Slurp("j.txt");
  EXPECT_NE(bytes.find("GVL,\x95\x5C,1\r\n1,Speed,,,0,0,\x83\x65\\\\\\,,"), std::string::npos);
  ASSERT_EQ(ReadBoth(o, Path("j.txt"), back), 2);
  SetThreadAnsiCodePage(1252);
  EXPECT_EQ(back[1].name.Str(), u"\u8868");
  EXPECT_EQ(back[1].elements[0]->comments[0].Str(), u"\u30c6\\,");
}

TEST_F(TextFileTest, ReadsAsATextModeStream) {
  C o(nullptr);
  // Leading white space goes, CR LF and LF both end lines, a lone CR stays,
  // an empty line is an empty element, and a last line without end counts.
  Put("r.txt", " \tGVL,A,3\r\n\t 1,x,INT,,0,0,,,0,0,0\n\r\n3,z\r,INT\r\r\njunk\nGVL\n  SDT,B,0");
  Data back;
  ASSERT_EQ(ReadBoth(o, Path("r.txt"), back), 3);
  ASSERT_EQ(back[0].elements.GetSize(), 3);
  EXPECT_EQ(back[0].elements[0]->lineNo, 1u);
  EXPECT_TRUE(back[0].elements[1]->name.IsEmpty());
  EXPECT_EQ(back[0].elements[2]->name.Str(), u"z\r");
  EXPECT_EQ(static_cast<_STKX9LABELSTRUCTUREGVLDATA*>(back[0].elements[2])->dataTypeName.Str(), u"INT\r");
  EXPECT_TRUE(back[1].name.IsEmpty());
  EXPECT_EQ(back[2].name.Str(), u"B");
  Put("e.txt", "");
  EXPECT_EQ(A::Read(o, Path("e.txt"), nullptr), 0);
  EXPECT_EQ(A::Read(o, Path("missing.txt"), nullptr), 0);
}

TEST_F(TextFileTest, DefaultNameAndQuietFailures) {
  C o(nullptr);
  Data data = Sample();
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  A::Write(o, 2, data.get(), CString());
  const LONG n = A::Read(o, CString(), nullptr);
  ASSERT_EQ(chdir(old), 0);
  EXPECT_TRUE(Exists("LabelStructure.txt"));
  EXPECT_EQ(n, 2);

  // Nothing to write leaves no file; an unopenable path is ignored; an
  // existing file is emptied first.
  A::Write(o, 0, data.get(), Path("none.txt"));
  A::Write(o, 2, nullptr, Path("none.txt"));
  Data other(new _STKX9LABELSTRUCTURE[1]);
  A::Write(o, 1, other.get(), Path("none.txt"));
  EXPECT_FALSE(Exists("none.txt"));
  A::Write(o, 2, data.get(), Path("no/such/dir.txt"));
  EXPECT_FALSE(Exists("no"));
  Put("old.txt", std::string(10000, 'x'));
  A::Write(o, 1, data.get(), Path("old.txt"));
  EXPECT_EQ(Slurp("old.txt"), "SDT,Point,1\r\n1,x,,,X\\, in mm,,,,,,,,,,,,,,,\r\n");
}

}  // namespace
