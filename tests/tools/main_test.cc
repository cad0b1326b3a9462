// End to end: the built kx9label, driven as other tools drive it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tests/tools/ToolTestUtil.h"
#include "tools/LabelCodec.h"

#ifndef KX9LABEL_PATH
#error "KX9LABEL_PATH names the kx9label executable"
#endif

namespace {

using tool_test::ReadFile;

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

// The document as decoding must give it back, in the full or compact form.
Json Normalized(const std::string& text, bool full = true) {
  kx9tool::LabelDocument doc = kx9tool::DocumentFromJson(Json::parse(text));
  return kx9tool::DocumentToJson(doc.data.Data(), doc.data.Count(), doc.genericData, full);
}

// Every command in turn, some on the files of the ones before: the exit
// code, what stderr names (the file and the field), which output exists
// afterwards (none after a refused write), and the output itself.
TEST(KX9LabelTest, CommandsExitCodesAndOutputs) {
  const tool_test::ScratchDir scratch;
  const std::string& dir = scratch.dir;
  auto path = [&](const std::string& name) { return scratch.Path(name); };
  auto out = [&] { return ReadFile(path("out.txt")); };
  auto starts = [&](const std::string& file, const std::string& head) {
    return [=] { EXPECT_EQ(ReadFile(path(file)).substr(0, head.size()), head); };
  };
  // The input's labels back, with the envelope fields given ("": none).
  auto decodes = [&](const std::string& file, const std::string& input, const std::string& block,
                     const std::string& settings, bool full) {
    Json expected = Normalized(input, full);
    if (!block.empty()) expected["serviceBlock"] = block;
    if (!settings.empty()) expected["settings"] = settings;
    return [=] { EXPECT_EQ(Json::parse(ReadFile(path(file))), expected); };
  };
  Json speedFromText = Normalized(kDocument)["data"][1]["elements"][0];  // without its system label
  speedFromText["systemLabel"] = Normalized("{" + kOneLabel + "}")["data"][0]["elements"][0]["systemLabel"];
  const std::string enc = "encode --series 0 --mode 0 ";
  // clang-format off
  const std::pair<const char*, std::string> inputs[] = {
      {"doc.json", kDocument}, {"fields.json", kFields}, {"b0.json", "{\"serviceBlock\": \"\", " + kOneLabel + "}"},
      {"ns.bin", "\x08\0\0\0\x01\x02\x03\x04\x05"s}, {"cut.bin", "SDT,S,2\n1,a,INT\n"},
      {"typo.json", R"({"data": [{"dataType": 14, "name": "G", "elements": [{"name": "v", "lineNo": "1"}]}]})"},
      {"bad.json", "{\"data\": [\n  {\"dataType\": 14,]}"}, {"short.bin", "\x10\0\0\0abc"s}};
  // clang-format on
  for (const auto& [name, content] : inputs) std::ofstream(path(name), std::ios::binary) << content;
  struct Row {
    std::string args;  // '@' stands for the test's folder
    int exit;
    std::string err;     // part of stderr; "": stderr stays empty
    std::string output;  // a file that must exist afterwards; "-name": one that must not
    std::function<void()> check = nullptr;
  };
  const Row rows[] = {
      // Envelopes: block, settings, image; the substitute block 04000000
      // stands in for a missing or empty block, which is a loss.
      {enc + "@/doc.json -o @/e0.bin", 0, "", "e0.bin",
       [&] {
         const std::string e = ReadFile(path("e0.bin"));
         EXPECT_EQ(e.substr(0, 112), "\x04\0\0\0"s + std::string(104, '\0') + "SDT,");  // substitute, default settings
         EXPECT_EQ(e.substr(e.size() - 3), "\0\xa5\xff"s);  // the generic data, no extra 0 byte
       }},
      {"decode --series 0 --mode 0 @/e0.bin -o @/compact.json", 0, "", "compact.json",
       decodes("compact.json", kDocument, "04000000", std::string(208, '0'), false)},
      {enc + "@/compact.json -o @/e0c.bin", 0, "", "e0c.bin",  // the compact form encodes the same
       [&] { EXPECT_EQ(ReadFile(path("e0c.bin")), ReadFile(path("e0.bin"))); }},
      {enc + "--codepage 932 @/fields.json -o @/e932.bin", 0, "", "e932.bin",
       starts("e932.bin", "\x06\0\0\0\x01\xff"s + std::string(103, '\xaa') + "\x07GVL,\x83\x89\x83\x78\x83\x8b,1\n")},
      {"decode --series 0 --mode 0 --codepage 932 --full @/e932.bin", 0, "", "",
       decodes("out.txt", kFields, "0600000001ff", std::string(206, 'a') + "07", true)},
      {enc + "@/b0.json -o @/b0.bin", 1, "b0.json: serviceBlock: \"\" comes back as \"04000000\"", "-b0.bin"},
      {"decode --series 0 --mode 0 --full --allow-lossy @/ns.bin", 0,
       "ns.bin: byte 8: the envelope ends inside its settings record", "",
       decodes("out.txt", R"({"data": []})", "0800000001020304", "", true)},
      // What the readers skip or cannot account for, with where it is.
      {"decode --series x --mode 0 @/e0.bin -o @/x.json", 1,
       "e0.bin: the image reads as 2 list(s) with --series standard: try that", "-x.json"},
      {"decode --image --series 0 --mode 0 @/e0.bin -o @/x.json", 1,
       "e0.bin: the file is an export envelope, not a label image: leave out --image", "-x.json"},
      {"decode --image --series 0 --mode 0 @/cut.bin", 1,
       "cut.bin: byte 0, line 1: the lines end before the list's last element", ""},
      // Images: UTF-16 on every series but 0; any mode number.
      {"encode --image --series x --mode 0 @/fields.json -o @/i1.bin", 0, "", "i1.bin",
       starts("i1.bin", "G\0V\0L\0,\0"s)},
      {"decode --image --series 1 --mode 0 --full @/i1.bin", 0, "", "", decodes("out.txt", kFields, "", "", true)},
      {"encode --image --series -5 --mode 9 @/doc.json -o @/i5.bin", 0, "", "i5.bin",
       [&] { EXPECT_NE(ReadFile(path("i5.bin")).find("S\0Y\0S\0L\0B\0L\0,\0"s), std::string::npos); }},
      // What the format cannot carry is a loss like any other; --allow-lossy
      // writes it anyway.
      {"totext @/doc.json -o @/labels.txt", 1, "doc.json: genericData: \"00a5ff\" comes back as \"\"", "-labels.txt"},
      {"totext --allow-lossy @/doc.json -o @/labels.txt", 0, "systemLabel.status: 2 comes back as 0", "labels.txt",
       starts("labels.txt", "SDT,Axis,1\r\n1,pos,DINT,,Position\\, in \xb5m,,c\\\\2,")},
      {"fromtext --full @/labels.txt", 0, "", "",
       [&] { EXPECT_EQ(Json::parse(out())["data"][1]["elements"][0], speedFromText); }},
      // A text the code page cannot hold.
      {enc + "@/fields.json -o @/e0.bin", 1,  // a refused write leaves the file it would replace
       "fields.json: data[0].name: \"\u30e9\u30d9\u30eb\" cannot be written in code page 1252, becomes \"???\"",
       "e0.bin", [&] { EXPECT_EQ(ReadFile(path("e0.bin")), ReadFile(path("e0c.bin"))); }},
      // Input refused with the file and the field.
      {enc + "@/typo.json -o @/x.bin", 1, "typo.json: data[0].elements[0].lineNo: expected an integer", "-x.bin"},
      {enc + "@/bad.json -o @/x.bin", 1, "bad.json: invalid JSON at line 2, column 19", "-x.bin"},
      {"decode --series 0 --mode 0 @/short.bin -o @/x.json", 1, "short.bin: bad envelope", "-x.json"},
      // Usage errors and failures to run.
      {"totext @/doc.json -o @", 2, "is a directory", ""},
      {enc + "@/nofile.json -o @/x.bin", 2, "nofile.json", "-x.bin"},
      {"encode --mode 0 @/doc.json -o @/x.bin", 2, "--series", "-x.bin"},
      {"--version", 0, "", "", [&] { EXPECT_EQ(out().rfind("kx9label "s + KX9_VERSION + "\n", 0), 0u); }},
      // The demo round-trips its sample on both series, in a folder it removes or keeps.
      {"demo", 0, "", "",
       [&] {
         EXPECT_NE(out().find("standard: identical\nround trip x: identical\n"), std::string::npos);
         EXPECT_TRUE(std::filesystem::is_empty(path("tmp")));
       }},
      {"demo --keep @/kept", 0, "", "kept/x-reexport.bin"},
  };
  std::filesystem::create_directory(path("tmp"));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    std::string cmd = "TMPDIR=@/tmp " KX9LABEL_PATH " " + row.args + " >@/out.txt 2>@/err.txt";
    for (std::size_t at; (at = cmd.find('@')) != std::string::npos;) cmd.replace(at, 1, "'" + dir + "'");
    const int status = std::system(cmd.c_str());
    const std::string err = ReadFile(path("err.txt"));
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, row.exit) << err;
    EXPECT_TRUE(row.err.empty() ? err.empty() : err.find(row.err) != std::string::npos) << err;
    EXPECT_EQ(err.find("json.exception"), std::string::npos) << err;
    if (!row.output.empty()) {
      EXPECT_EQ(std::filesystem::exists(path(row.output.substr(row.output[0] == '-'))), row.output[0] != '-');
    }
    if (row.check) row.check();
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir))  // no temporary output left
    EXPECT_EQ(entry.path().filename().string().find(".kx9-"), std::string::npos) << entry.path();
}

}  // namespace
