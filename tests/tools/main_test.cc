// End to end: the built kx9label, driven as other tools drive it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"
#include "tools/LabelCodec.h"
#include "tools/LabelTool.h"

#ifndef KX9LABEL_PATH
#error "KX9LABEL_PATH names the kx9label executable"
#endif

namespace {

using kx9tool::Json;
using C = CKX9ComFuncLabelStructure;

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

  ASSERT_EQ(Run("encode --series 0 --mode 0 --codepage 932 '" + Path("in.json") + "' -o '" + Path("env.bin") + "'"), 0)
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

// The tool's envelopes are the component's: encode gives what GetAllData
// exports when the label service holds the document's block, and decode
// reads what SetAllData imports, for every block length from 0 to 8.
TEST_F(KX9LabelTest, EnvelopesAgreeWithTheComponent) {
  const std::string labels = R"("data": [{"dataType": 14, "name": "G", "elements": [
      {"lineNo": 1, "name": "V", "dataTypeName": "INT", "exAccess": "0", "devices": [{"device": "D0"}]}]}])";
  const std::string none = R"("data": [])";
  auto settingsFor = [](int seed) {
    _STKX9AUTODEVSET s{};
    for (int i = 0; i < 104; ++i) s.bytes[i] = static_cast<BYTE>(seed + 3 * i);
    return s;
  };
  // A block of B bytes that starts with its own length where it has room.
  auto blockOf = [](std::size_t b) {
    std::vector<BYTE> block;
    for (std::size_t i = 0; i < b; ++i)
      block.push_back(i < 4 ? static_cast<BYTE>(i == 0 ? b : 0) : static_cast<BYTE>(0xB0 + i));
    return block;
  };

  struct EncodeCase {
    std::string what, data;
    std::optional<std::vector<BYTE>> block;  // none: the label service has no block
  };
  std::vector<EncodeCase> encodes;
  for (std::size_t b = 0; b <= 8; ++b) encodes.push_back({"block of " + std::to_string(b), labels, blockOf(b)});
  encodes.push_back({"no block", labels, std::nullopt});
  encodes.push_back({"no records", none, blockOf(8)});
  for (const EncodeCase& c : encodes) {
    SCOPED_TRACE(c.what);
    const _STKX9AUTODEVSET settings = settingsFor(static_cast<int>(c.what.size()));
    kx9tool::LabelDocument doc = kx9tool::DocumentFromJson(Json::parse("{" + c.data + "}"));
    refdb::RefDatabase db;
    const STOBJECTID project = db.NewProject(u"P");
    kx9tool::CLabelToolComponent component(db.Workspace());
    component.Initialize(project);
    ASSERT_EQ(component.CreateAllData(doc.data.Count(), doc.data.Data()), KX9_OK);
    if (c.block) db.SetServiceBlock(project, *c.block);
    BYTE* data = nullptr;
    LONG size = 0;
    ASSERT_EQ(component.GetAllData(&data, &size, settings), KX9_OK);
    const std::string exported(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
    delete[] data;

    std::string json = "{" + c.data + R"(, "settings": ")" + kx9tool::BytesToHex(settings.bytes, 104) + "\"";
    if (c.block) json += R"(, "serviceBlock": ")" + kx9tool::BytesToHex(*c.block) + "\"";
    Write("in.json", json + "}");
    ASSERT_EQ(Run("encode --series 0 --mode 0 '" + Path("in.json") + "' -o '" + Path("env.bin") + "'"), 0)
        << Read("err.txt");
    EXPECT_EQ(Read("env.bin"), exported);
  }

  Write("labels.json", "{" + labels + "}");
  ASSERT_EQ(Run("encode --image --series 0 --mode 0 '" + Path("labels.json") + "' -o '" + Path("img.bin") + "'"), 0);
  const std::string image = Read("img.bin");
  struct DecodeCase {
    std::string what;
    std::vector<BYTE> envelope;
  };
  std::vector<DecodeCase> decodes;
  for (std::size_t b = 0; b <= 8; ++b) {
    // B, the rest of the block, the settings (from offset B, over the length
    // field when B is below 4), the image.
    std::vector<BYTE> e(b + 104 + image.size());
    const _STKX9AUTODEVSET settings = settingsFor(static_cast<int>(b));
    std::copy(settings.bytes, settings.bytes + 104, e.begin() + static_cast<std::ptrdiff_t>(b));
    const std::vector<BYTE> block = blockOf(b);
    std::copy(block.begin(), block.end(), e.begin());
    e[0] = static_cast<BYTE>(b);
    std::fill(e.begin() + 1, e.begin() + 4, 0);
    std::copy(image.begin(), image.end(), e.begin() + static_cast<std::ptrdiff_t>(b + 104));
    decodes.push_back({"block of " + std::to_string(b), e});
  }
  decodes.push_back({"ends inside the settings", std::vector<BYTE>{8, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}});
  decodes.push_back({"block beyond the size", std::vector<BYTE>{20, 0, 0, 0, 1, 2, 3, 4}});
  decodes.push_back({"below 4 bytes", std::vector<BYTE>{3, 0, 0}});
  for (const DecodeCase& c : decodes) {
    SCOPED_TRACE(c.what);
    refdb::RefDatabase db;
    const STOBJECTID project = db.NewProject(u"P");
    C component(db.Workspace());
    component.Initialize(project);
    LONG d = 0;
    STOBJECTID gvls = db.ChildOfType(project, VN_TYPE_GVL_COLLECTION), old{};
    ASSERT_EQ(db.Workspace()->CreateDataObject(gvls, const_cast<OLECHAR*>(u"Old"), VN_TYPE_GVL, 0, &old, &d), S_OK);
    _STKX9AUTODEVSET returned = settingsFor(200);
    const ULONG result = component.SetAllData(c.envelope.data(), static_cast<LONG>(c.envelope.size()), returned,
                                              static_cast<C::KX9LabelCPUSeries>(-1));
    std::string names;
    for (const STOBJECTID& id : db.Children(gvls)) names += ToUtf8(db.ObjectName(id)) + " ";

    Write("env.bin", std::string(c.envelope.begin(), c.envelope.end()));
    const int exit = Run("decode --series 0 --mode 0 '" + Path("env.bin") + "'");
    if (result == KX9_ERR_ARG) {
      EXPECT_EQ(exit, 2);
      EXPECT_NE(Read("err.txt").find(Path("env.bin") + ": bad envelope"), std::string::npos) << Read("err.txt");
      continue;
    }
    ASSERT_EQ(result, KX9_OK);
    ASSERT_EQ(exit, 0) << Read("err.txt");
    const Json decoded = Stdout();
    const std::size_t b = c.envelope[0];
    EXPECT_EQ(decoded["serviceBlock"], kx9tool::BytesToHex(c.envelope.data(), b));
    const std::vector<BYTE> stored = db.ServiceBlock(project);  // a block of 4 or less clears the service
    EXPECT_EQ(stored, b > 4 ? std::vector<BYTE>(c.envelope.begin(), c.envelope.begin() + b) : std::vector<BYTE>());
    std::string decodedNames;
    for (const Json& datum : decoded["data"]) decodedNames += datum["name"].get<std::string>() + " ";
    if (c.envelope.size() < b + 104) {  // the settings and labels stay as they were
      EXPECT_FALSE(decoded.contains("settings"));
      EXPECT_EQ(names, "Old ");
      EXPECT_EQ(decodedNames, "");
      EXPECT_EQ(kx9tool::BytesToHex(returned.bytes, 104), kx9tool::BytesToHex(settingsFor(200).bytes, 104));
    } else {
      EXPECT_EQ(decoded["settings"], kx9tool::BytesToHex(returned.bytes, 104));
      EXPECT_EQ(names, "G ");
      EXPECT_EQ(decodedNames, names);
    }
  }
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
  EXPECT_EQ(Run("decode --series 0 --mode 0 '" + Path("short.bin") + "'"), 2);
  EXPECT_NE(Read("err.txt").find(Path("short.bin") + ": bad envelope"), std::string::npos) << Read("err.txt");
  EXPECT_TRUE(Read("out.txt").empty());

  Write("bad.json", "{\"data\": [{\"dataType\": 14, \"name\": \"\xff\"}]}");
  EXPECT_EQ(Run("encode --series 0 --mode 0 '" + Path("bad.json") + "' -o '" + Path("x.bin") + "'"), 1);
  EXPECT_NE(Read("err.txt").find("invalid JSON"), std::string::npos) << Read("err.txt");

  Write("typo.json", R"({"data": [{"dataType": 14, "elements": [{"lineNo": "1"}]}]})");
  EXPECT_EQ(Run("encode --series 0 --mode 0 '" + Path("typo.json") + "' -o '" + Path("x.bin") + "'"), 1);
  EXPECT_NE(Read("err.txt").find("data[0].elements[0].lineNo: expected an integer"), std::string::npos)
      << Read("err.txt");

  Write("block.json", R"({"serviceBlock": "05x0"})");
  EXPECT_EQ(Run("encode --series 0 --mode 0 '" + Path("block.json") + "' -o '" + Path("x.bin") + "'"), 1);
  EXPECT_NE(Read("err.txt").find("serviceBlock"), std::string::npos);

  Write("in.json", "{}");
  EXPECT_NE(Run("encode --series 0 --mode 0 --codepage 437 '" + Path("in.json") + "' -o '" + Path("x.bin") + "'"), 0);
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
