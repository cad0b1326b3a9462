// End to end: the built kx9label, driven as other tools drive it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/LabelCodec.h"

#ifndef KX9LABEL_PATH
#error "KX9LABEL_PATH names the kx9label executable"
#endif

namespace {

using kx9tool::Json;

class KX9LabelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kx9label-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_dir = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + m_dir + "'").c_str()); }

  std::string Path(const std::string& name) const { return m_dir + "/" + name; }

  void Write(const std::string& name, const std::string& content) const {
    std::ofstream(Path(name), std::ios::binary) << content;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  // Runs kx9label with `args`; stdout and stderr land in out.txt / err.txt.
  int Run(const std::string& args) const {
    const std::string cmd =
        std::string(KX9LABEL_PATH) + " " + args + " >'" + Path("out.txt") + "' 2>'" + Path("err.txt") + "'";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  Json Stdout() const { return Json::parse(Read("out.txt")); }

  std::string m_dir;
};

// Everything that an image carries; systemLabel comment and remark and
// reservedText stay out (the image does not carry them).
const char* kDocument = R"({
  "data": [
    {"dataType": 18, "name": "Axis", "elements": [
      {"lineNo": 1, "name": "pos", "comments": ["Position, in \u00b5m"], "dataTypeName": "DINT", "initData": "0"},
      {"lineNo": 2, "name": "on", "comments": ["Line 1\r\nLine 2", "", "c\\2"], "dataTypeName": "BOOL"}]},
    {"dataType": 14, "name": "Global", "elements": [
      {"lineNo": 1, "name": "Speed", "comments": ["motor speed, rpm"], "classKeyword": 1, "dataTypeName": "INT",
       "initData": "1500", "devices": [{"device": "D100", "deviceExtra": ""}], "remark": "back\\",
       "systemLabel": {"ID": 7, "name": "S", "programName": "MAIN", "CPUID": 1, "attribute": 3, "status": 2,
                       "projectID": 4, "listID": 5, "dataType": 2, "dataSize": 1, "localName": "lokal"},
       "exAccess": "1", "arraySizes": [{"value1": 0, "value2": 9}, {"value1": 1, "value2": 5000000000}],
       "dynamicAttr1": "a1", "dynamicAttr2": "12", "dynamicAttr3": 3, "dynamicAttr4": "a4", "dynamicAttr5": "-5"},
      {"lineNo": 2, "name": "Axis1", "structType": 1, "dataTypeName": "Axis",
       "devices": [{"device": "D300", "deviceExtra": "U0"}, {"device": "M10", "deviceExtra": ""}]}]}
  ],
  "genericData": "00a5ff"
})";

// What decoding must give back: the input with every missing key filled in.
Json Normalized(const std::string& text) {
  kx9tool::LabelDocument doc = kx9tool::DocumentFromJson(Json::parse(text));
  return kx9tool::DocumentToJson(doc.data.Data(), doc.data.Count(), doc.genericData);
}

TEST_F(KX9LabelTest, EncodeThenDecodeGivesTheDocumentBack) {
  Write("in.json", kDocument);
  const Json expected = Normalized(kDocument);
  for (const char* series : {"0", "1"}) {
    SCOPED_TRACE(series);
    ASSERT_EQ(Run(std::string("encode --series ") + series + " --mode 0 '" + Path("in.json") + "' -o '" +
                  Path("env.bin") + "'"),
              0)
        << Read("err.txt");
    const std::string envelope = Read("env.bin");
    ASSERT_GT(envelope.size(), 108u);
    EXPECT_EQ(envelope.substr(0, 4), std::string("\x04\0\0\0", 4));
    EXPECT_EQ(envelope.substr(4, 104), std::string(104, '\0'));
    EXPECT_NE(envelope.back(), '\0');  // the extra 0 byte is not part of the file

    ASSERT_EQ(Run(std::string("decode --series ") + series + " --mode 0 '" + Path("env.bin") + "'"), 0)
        << Read("err.txt");
    Json decoded = Stdout();
    EXPECT_EQ(decoded["serviceBlock"], "04000000");
    EXPECT_EQ(decoded["settings"], std::string(208, '0'));
    decoded.erase("serviceBlock");
    decoded.erase("settings");
    EXPECT_EQ(decoded, expected);
  }
}

TEST_F(KX9LabelTest, ImageAndEnvelopeFieldsAndCodePages) {
  // UTF-16 keeps any text; code page 932 keeps Japanese in ANSI mode.
  const std::string doc = R"({"serviceBlock": "0600000001ff", "settings": ")" + std::string(206, 'a') +
                          R"(07", "data": [{"dataType": 14, "name": "\u30e9\u30d9\u30eb", "elements": [
      {"name": "\u901f\u5ea6", "devices": [{"device": "D0"}]}]}]})";
  Write("in.json", doc);
  const Json expected = Normalized(doc);

  ASSERT_EQ(Run("encode --image --series 1 --mode 0 '" + Path("in.json") + "' -o '" + Path("img.bin") + "'"), 0)
      << Read("err.txt");
  const std::string image = Read("img.bin");
  EXPECT_EQ(image.substr(0, 8), std::string("G\0V\0L\0,\0", 8));
  ASSERT_EQ(Run("decode --image --series 1 --mode 0 '" + Path("img.bin") + "'"), 0) << Read("err.txt");
  EXPECT_EQ(Stdout(), expected);

  ASSERT_EQ(Run("encode --series 0 --mode 0 --codepage 932 '" + Path("in.json") + "' -o '" + Path("env.bin") + "'"),
            0)
      << Read("err.txt");
  const std::string envelope = Read("env.bin");
  EXPECT_EQ(envelope.substr(0, 6), std::string("\x06\0\0\0\x01\xff", 6));
  EXPECT_EQ(envelope.substr(6 + 103, 1), "\x07");
  EXPECT_EQ(envelope.substr(110, 4), "GVL,");
  ASSERT_EQ(Run("decode --series 0 --mode 0 --codepage 932 '" + Path("env.bin") + "'"), 0) << Read("err.txt");
  Json decoded = Stdout();
  EXPECT_EQ(decoded["serviceBlock"], "0600000001ff");
  EXPECT_EQ(decoded["settings"], std::string(206, 'a') + "07");
  EXPECT_EQ(decoded["data"], expected["data"]);

  // The same text under code page 1252 cannot be held: it comes back as "?".
  ASSERT_EQ(Run("encode --image --series 0 --mode 0 '" + Path("in.json") + "' -o '" + Path("img.bin") + "'"), 0);
  EXPECT_EQ(Read("img.bin").substr(0, 8), "GVL,???,");
}

TEST_F(KX9LabelTest, TextFileRoundTrip) {
  Write("in.json", kDocument);
  ASSERT_EQ(Run("totext '" + Path("in.json") + "' -o '" + Path("labels.txt") + "'"), 0) << Read("err.txt");
  const std::string text = Read("labels.txt");
  EXPECT_EQ(text.rfind("SDT,Axis,2\r\n1,pos,DINT,0,Position\\, in \xb5m,", 0), 0u) << text;
  ASSERT_EQ(Run("fromtext '" + Path("labels.txt") + "'"), 0) << Read("err.txt");
  const Json back = Stdout();
  EXPECT_EQ(back["count"], 2);
  EXPECT_EQ(back["data"][1]["elements"][0]["name"], "Speed");
  EXPECT_EQ(back["data"][1]["elements"][0]["devices"][0]["device"], "D100");
  // No system-label data travel through the file.
  EXPECT_EQ(back["data"][1]["elements"][0]["systemLabel"]["status"], 0);
}

TEST_F(KX9LabelTest, FailuresExitNonZeroWithAMessage) {
  Write("short.bin", std::string("\x10\0\0\0abc", 7));
  EXPECT_EQ(Run("decode --series 0 --mode 0 '" + Path("short.bin") + "'"), 1);
  EXPECT_NE(Read("err.txt").find("bad envelope"), std::string::npos) << Read("err.txt");
  EXPECT_TRUE(Read("out.txt").empty());

  Write("bad.json", "{\"data\": [{\"dataType\": 14, \"name\": \"\xff\"}]}");
  EXPECT_EQ(Run("encode --series 0 --mode 0 '" + Path("bad.json") + "' -o '" + Path("x.bin") + "'"), 1);
  EXPECT_NE(Read("err.txt").find("invalid JSON"), std::string::npos) << Read("err.txt");

  Write("typo.json", R"({"data": [{"dataType": 14, "elements": [{"lineNo": "1"}]}]})");
  EXPECT_EQ(Run("encode --series 0 --mode 0 '" + Path("typo.json") + "' -o '" + Path("x.bin") + "'"), 1);
  EXPECT_NE(Read("err.txt").find("data[0].elements[0].lineNo: expected an integer"), std::string::npos)
      << Read("err.txt");

  Write("block.json", R"({"serviceBlock": "05000000"})");
  EXPECT_EQ(Run("encode --series 0 --mode 0 '" + Path("block.json") + "' -o '" + Path("x.bin") + "'"), 1);
  EXPECT_NE(Read("err.txt").find("serviceBlock"), std::string::npos);

  Write("in.json", "{}");
  EXPECT_NE(Run("encode --series 0 --mode 0 --codepage 437 '" + Path("in.json") + "' -o '" + Path("x.bin") + "'"),
            0);
  EXPECT_NE(Read("err.txt").find("437"), std::string::npos);
  EXPECT_NE(Run("encode --mode 0 '" + Path("in.json") + "' -o '" + Path("x.bin") + "'"), 0);  // --series missing
}

TEST_F(KX9LabelTest, DemoRoundTripsBothSeries) {
  ASSERT_EQ(Run("demo --dir '" + Path("demo") + "'"), 0) << Read("out.txt") << Read("err.txt");
  const std::string out = Read("out.txt");
  EXPECT_NE(out.find("\nround trip standard: identical\nround trip x: identical\n"), std::string::npos) << out;
  EXPECT_EQ(Read("demo/standard-export.bin"), Read("demo/standard-reexport.bin"));
  EXPECT_FALSE(Read("demo/x-export.bin").empty());
}

}  // namespace
