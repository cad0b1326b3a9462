// End to end: the built kx9label, driven as other tools drive it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "tools/LabelCodec.h"

#ifndef KX9LABEL_PATH
#error "KX9LABEL_PATH names the kx9label executable"
#endif

namespace {

using kx9tool::Json;
using namespace std::string_literals;  // "..."s keeps embedded zero bytes

// Both record kinds with texts to escape, a system label and generic data.
const char* kDocument = R"({"data": [
  {"dataType": 18, "name": "Axis", "elements": [
    {"lineNo": 1, "name": "pos", "comments": ["Position, in \u00b5m", "", "c\\2"], "dataTypeName": "DINT"}]},
  {"dataType": 14, "name": "Global", "elements": [{"lineNo": 1, "name": "Speed", "dataTypeName": "INT",
    "devices": [{"device": "D100"}, {"device": "D300", "deviceExtra": "U0"}], "exAccess": "1", "dynamicAttr3": 3,
    "arraySizes": [{"value1": 1, "value2": 5000000000}], "systemLabel": {"ID": 7, "name": "S", "programName": "MAIN",
    "CPUID": 1, "attribute": 3, "status": 2, "projectID": 4, "listID": 5, "dataType": 2, "dataSize": 1}}]}],
  "genericData": "00a5ff"})";

// Japanese text (code page 932 holds it, 1252 does not) and envelope fields.
const std::string kFields = R"({"serviceBlock": "0600000001ff", "settings": ")" + std::string(206, 'a') +
                            R"(07", "data": [{"dataType": 14, "name": "\u30e9\u30d9\u30eb", "elements": [
                                {"name": "\u901f\u5ea6", "devices": [{"device": "D0"}]}]}]})";
const std::string kOneLabel = R"("data": [{"dataType": 14, "name": "G", "elements": [{"name": "V"}]}])";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The document as decoding must give it back: every missing key filled in.
Json Normalized(const std::string& text) {
  kx9tool::LabelDocument doc = kx9tool::DocumentFromJson(Json::parse(text));
  return kx9tool::DocumentToJson(doc.data.Data(), doc.data.Count(), doc.genericData);
}

// Every command in turn, each on the files of the ones before: its exit
// code, the message it leaves on stderr, and its output.
TEST(KX9LabelTest, CommandsExitCodesAndOutputs) {
  char pattern[] = "/tmp/kx9label-test-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  auto path = [&](const std::string& name) { return dir + "/" + name; };
  auto write = [&](const std::string& name, const std::string& content) {
    std::ofstream(path(name), std::ios::binary) << content;
  };
  auto out = [&] { return Json::parse(ReadFile(path("out.txt"))); };
  auto starts = [&](const std::string& file, const std::string& head) {
    return [=] { EXPECT_EQ(ReadFile(path(file)).substr(0, head.size()), head); };
  };
  // Decoding gives the input's labels back, every missing key filled in,
  // and the envelope fields given ("": none).
  auto decodes = [&](const std::string& input, const std::string& block, const std::string& settings) {
    Json expected = Normalized(input);
    if (!block.empty()) expected["serviceBlock"] = block;
    if (!settings.empty()) expected["settings"] = settings;
    return [=] { EXPECT_EQ(out(), expected); };
  };
  write("doc.json", kDocument);
  write("fields.json", kFields);
  write("empty-block.json", "{\"serviceBlock\": \"\", " + kOneLabel + "}");
  write("one-byte-block.json", "{\"serviceBlock\": \"07\", " + kOneLabel + "}");
  write("no-labels.json", R"({"serviceBlock": "0800000001020304", "data": []})");
  write("short.bin", std::string("\x10\0\0\0abc", 7));
  write("no-settings.bin", std::string("\x08\0\0\0\x01\x02\x03\x04\x05", 9));
  write("bad.json", "{\"data\": [{\"dataType\": 14, \"name\": \"\xff\"}]}");
  write("typo.json", R"({"data": [{"dataType": 14, "elements": [{"lineNo": "1"}]}]})");

  const std::string sub = "\x04\0\0\0"s + std::string(104, '\0');  // substitute block, default settings
  const std::string defaultSettings(208, '0'), fieldSettings = std::string(103, '\xaa') + "\x07";
  Json speedFromText = Normalized(kDocument)["data"][1]["elements"][0];  // without its system label
  speedFromText["systemLabel"] = Normalized("{" + kOneLabel + "}")["data"][0]["elements"][0]["systemLabel"];
  struct Command {
    std::string args;  // '@' stands for the test's folder
    int exit;          // -1: any failure
    std::string err;   // part of stderr
    std::function<void()> check;
  };
  const Command commands[] = {
      // Envelopes: block, settings, image; the substitute block 04000000
      // stands in for a missing or empty block and when there are no labels.
      {"encode --series 0 --mode 0 @/doc.json -o @/e0.bin", 0, "",
       [&] {
         const std::string e = ReadFile(path("e0.bin"));
         EXPECT_EQ(e.substr(0, 112), sub + "SDT,");
         EXPECT_EQ(e.substr(e.size() - 3), "\0\xa5\xff"s);  // the generic data, no extra 0 byte
       }},
      {"decode --series 0 --mode 0 @/e0.bin", 0, "", decodes(kDocument, "04000000", defaultSettings)},
      {"encode --series 0 --mode 0 --codepage 932 @/fields.json -o @/e932.bin", 0, "",
       starts("e932.bin", "\x06\0\0\0\x01\xff"s + fieldSettings + "GVL,\x83\x89\x83\x78\x83\x8b,1\n")},
      {"decode --series 0 --mode 0 --codepage 932 @/e932.bin", 0, "",
       decodes(kFields, "0600000001ff", std::string(206, 'a') + "07")},
      {"encode --series 0 --mode 0 @/empty-block.json -o @/x.bin", 0, "", starts("x.bin", sub + "GVL,")},
      {"encode --series 0 --mode 0 @/one-byte-block.json -o @/x.bin", 0, "",
       starts("x.bin", "\x07" + sub.substr(4) + "GVL,")},
      {"encode --series 0 --mode 0 @/no-labels.json -o @/x.bin", 0, "",
       [&] { EXPECT_EQ(ReadFile(path("x.bin")), sub); }},
      {"decode --series 0 --mode 0 @/no-settings.bin", 0, "",  // the envelope ends inside the settings
       decodes(R"({"data": []})", "0800000001020304", "")},
      // Images: UTF-16 on the X series.
      {"encode --image --series 1 --mode 0 @/fields.json -o @/i1.bin", 0, "", starts("i1.bin", "G\0V\0L\0,\0"s)},
      {"decode --image --series 1 --mode 0 @/i1.bin", 0, "", decodes(kFields, "", "")},
      // Text files carry no system-label data.
      {"totext @/doc.json -o @/labels.txt", 0, "",
       starts("labels.txt", "SDT,Axis,1\r\n1,pos,DINT,,Position\\, in \xb5m,,c\\\\2,")},
      {"fromtext @/labels.txt", 0, "", [&] { EXPECT_EQ(out()["data"][1]["elements"][0], speedFromText); }},
      // Failures: 2 for what is no envelope or an unsupported page, 1 for bad input.
      {"decode --series 0 --mode 0 @/short.bin", 2, "short.bin: bad envelope",
       [&] { EXPECT_EQ(ReadFile(path("out.txt")), ""); }},
      {"encode --series 0 --mode 0 @/bad.json -o @/x.bin", 1, "invalid JSON", nullptr},
      {"encode --series 0 --mode 0 @/typo.json -o @/x.bin", 1, "data[0].elements[0].lineNo: expected an integer",
       nullptr},
      {"encode --series 0 --mode 0 --codepage 437 @/doc.json -o @/x.bin", 2, "code page 437 is not supported", nullptr},
      {"encode --mode 0 @/doc.json -o @/x.bin", -1, "--series", nullptr},
      // The demo round-trips its sample project on both series.
      {"demo --dir @/demo", 0, "",
       [&] {
         EXPECT_NE(ReadFile(path("out.txt")).find("standard: identical\nround trip x: identical\n"), std::string::npos);
       }},
  };
  for (const Command& c : commands) {
    SCOPED_TRACE(c.args);
    std::string cmd = std::string(KX9LABEL_PATH) + " " + c.args + " >@/out.txt 2>@/err.txt";
    for (std::size_t at; (at = cmd.find('@')) != std::string::npos;) cmd.replace(at, 1, "'" + dir + "'");
    const int status = std::system(cmd.c_str());
    const int exit = WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    const std::string err = ReadFile(path("err.txt"));
    EXPECT_TRUE(c.exit == -1 ? exit > 0 : exit == c.exit) << exit << " " << err;
    EXPECT_TRUE(c.err.empty() ? err.empty() : err.find(c.err) != std::string::npos) << err;
    if (c.check) c.check();
  }
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
