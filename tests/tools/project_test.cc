// End to end: kx9label's project-file commands on both series, from a new
// file through import, show and export, and every way a project is refused.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

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
#include "tools/LabelTool.h"

#ifndef KX9LABEL_PATH
#error "KX9LABEL_PATH names the kx9label executable"
#endif

namespace {

using tool_test::ReadFile;

using kx9tool::Json;

// An SDT, a GVL using it and a system label; the settings record is not
// all zeros, so that import has something to hand back.
std::string Document() {
  std::vector<BYTE> settings(104);
  for (std::size_t i = 0; i < settings.size(); ++i) settings[i] = static_cast<BYTE>(i * 7 + 1);
  return R"({"settings": ")" + kx9tool::BytesToHex(settings) + R"(", "data": [
    {"dataType": 18, "name": "Pos", "elements": [
      {"lineNo": 1, "name": "px", "dataTypeName": "DINT", "comments": ["X, in mm"]},
      {"lineNo": 2, "name": "py", "dataTypeName": "DINT"}]},
    {"dataType": 14, "name": "Global", "elements": [
      {"lineNo": 1, "name": "Speed", "dataTypeName": "INT", "comments": ["motor speed"], "devices": [{"device": "D100"}]},
      {"lineNo": 2, "name": "Target", "dataTypeName": "Pos", "structType": 1, "devices": [{"device": "D200"}]},
      {"lineNo": 3, "name": "AlwaysOn", "dataTypeName": "BOOL", "devices": [{"device": "SM400"}],
       "systemLabel": {"ID": 1001, "name": "AlwaysOn", "programName": "MAIN", "CPUID": 1, "attribute": 3,
         "status": 2, "projectID": 7, "listID": 3, "dataType": 1, "dataSize": 1, "localName": "on"}}]}]})";
}

// The labels and generic data of an envelope, as the component reads them.
Json Labels(const std::string& path, LONG series) {
  kx9tool::ImageSettings settings;
  settings.series = series;
  const kx9tool::DecodedEnvelope e = kx9tool::DecodeEnvelope(kx9tool::ReadFileBytes(path), settings);
  return kx9tool::DocumentToJson(e.image.data.Data(), e.image.data.Count(), e.image.genericData);
}

// The settings record of an envelope: the 104 bytes after its service block.
std::string Settings(const std::string& envelope) {
  if (envelope.size() < 4) return {};
  std::size_t block = 0;
  for (int i = 3; i >= 0; --i) block = block << 8 | static_cast<unsigned char>(envelope[i]);
  return block + 104 <= envelope.size() ? envelope.substr(block, 104) : std::string();
}

// Each row runs one command with stderr on a pipe (so no progress bar),
// then checks its exit code, a part of stderr or stdout, a file that must
// (or, "-name", must not) exist, a file that must keep its bytes, and more.
TEST(KX9LabelProjectTest, CommandsOnProjectFiles) {
  const tool_test::ScratchDir scratch;
  const std::string& dir = scratch.dir;
  auto path = [&](const std::string& name) { return scratch.Path(name); };
  auto out = [&] { return ReadFile(path("out.txt")); };
  auto outHas = [&](std::vector<std::string> parts) {
    return [=] {
      const std::string text = out();
      for (const std::string& p : parts) EXPECT_NE(text.find(p), std::string::npos) << p << " in\n" << text;
    };
  };
  // An export holds the labels encoded from the document, and its settings.
  auto exports = [&](const std::string& file, const std::string& encoded, LONG series, const std::string& settings) {
    return [=] {
      const Json expected = Labels(path(encoded), series);
      EXPECT_EQ(expected["data"].size(), 2u);
      EXPECT_EQ(Labels(path(file), series), expected);
      EXPECT_EQ(Settings(ReadFile(path(file))), settings);
    };
  };
  const std::string names[] = {"Pos", "px", "py", "Global", "Speed", "Target", "AlwaysOn"};

  std::string settings;
  for (int i = 0; i < 104; ++i) settings += static_cast<char>(i * 3 + 1);
  const std::pair<const char*, std::string> inputs[] = {{"doc.json", Document()},
                                                        {"short.bin", std::string("\x10\0\0\0abc", 7)},
                                                        {"text.kx9", "labels, not a project\n"},
                                                        {"set104.bin", settings},
                                                        {"set10.bin", settings.substr(0, 10)}};
  for (const auto& [name, content] : inputs) std::ofstream(path(name), std::ios::binary) << content;
  std::filesystem::create_directory(path("folder.kx9"));
  sqlite3* foreign = nullptr;  // an SQLite file of some other application
  ASSERT_EQ(sqlite3_open(path("foreign.kx9").c_str(), &foreign), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(foreign, "PRAGMA application_id=1", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(foreign);

  struct Row {
    std::string args;  // '@' stands for the test's folder
    int exit;
    std::string err;     // part of stderr; "": stderr stays empty
    std::string output;  // a file that must exist afterwards; "-name": one that must not
    std::string same;    // a file whose bytes the command must not change
    std::function<void()> check = nullptr;
  };
  const std::string enc = "encode --mode normal @/doc.json --series ";
  const Row rows[] = {
      {"new @/std.kx9 --series standard --name Plant", 0, "", "std.kx9", ""},
      {"new @/x.kx9 --series x --quiet", 0, "", "x.kx9", ""},
      {enc + "standard -o @/std.bin", 0, "", "std.bin", ""},
      {enc + "x -o @/x.bin", 0, "", "x.bin", ""},
      {"import @/std.kx9 @/std.bin --settings-out @/std-set.bin", 0, "", "std-set.bin", "",
       [&] { EXPECT_EQ(ReadFile(path("std-set.bin")), Settings(ReadFile(path("std.bin")))); }},
      {"import --quiet @/x.kx9 @/x.bin", 0, "", "", ""},
      {"show @/std.kx9", 0, "", "", "",
       outHas({"\"Plant\": standard series", "Pos", "px", "Speed", "Target", "AlwaysOn"})},
      {"show --json @/x.kx9", 0, "", "", "",
       [&] {
         const std::string dump = Json::parse(out()).dump();
         for (const std::string& n : names) EXPECT_NE(dump.find('"' + n + '"'), std::string::npos) << n;
       }},
      {"show --limit 1 @/x.kx9", 0, "", "", "", outHas({"px", "and 1 more member", "Speed", "and 2 more variables"})},
      {"export @/std.kx9 -o @/std-out.bin", 0, "", "std-out.bin", "std.kx9",
       exports("std-out.bin", "std.bin", 0, std::string(104, '\0'))},
      {"export --quiet @/x.kx9 -o @/x-out.bin --settings @/set104.bin", 0, "", "x-out.bin", "x.kx9",
       exports("x-out.bin", "x.bin", 1, settings)},
      // A refused import leaves the project file as it was.
      {"import @/std.kx9 @/short.bin", 2, "short.bin: not imported: result 4", "", "std.kx9"},
      {"import @/x.kx9 @/std.bin", 2, "std.bin: not imported: result 8", "", "x.kx9"},
      // What is not a project file, named with its problem.
      {"show @/missing.kx9", 2, "missing.kx9: cannot open", "-missing.kx9", ""},
      {"import @/folder.kx9 @/std.bin", 2, "folder.kx9: is a directory", "", ""},
      {"show @/text.kx9", 2, "text.kx9: not a project file", "", "text.kx9"},
      {"import @/std.bin @/std.kx9", 2, "std.bin: not a project file", "", "std.bin"},  // arguments swapped
      {"export @/foreign.kx9 -o @/f.bin", 2, "foreign.kx9: not a project file (application id 0x00000001", "-f.bin",
       "foreign.kx9"},
      // Outputs and inputs of export that cannot be.
      {"export @/std.kx9 -o @/nodir/out.bin", 2, "out.bin: its folder", "-nodir/out.bin", ""},
      {"export @/std.kx9 -o @/s.bin --settings @/set10.bin", 2, "set10.bin: 10 bytes", "-s.bin", ""},
      // new replaces a file only when told.
      {"new @/text.kx9 --series x", 2, "text.kx9: exists", "", "text.kx9"},
      {"new @/y.kx9 --series z", 2, "--series", "-y.kx9", ""},
      {"new @/text.kx9 --series x --name Fresh --force", 0, "", "", ""},
      {"show @/text.kx9", 0, "", "", "", outHas({"\"Fresh\": x series", "0 GVLs"})},
      {"new --help", 0, "", "", "", outHas({"--series", "--name", "--force", "--quiet"})},
      {"import --help", 0, "", "", "", outHas({"--settings-out", "--quiet"})},
      {"export --help", 0, "", "", "", outHas({"--output", "--settings", "--quiet"})},
      {"show --help", 0, "", "", "", outHas({"--json", "--limit", "--quiet"})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    const std::string before = row.same.empty() ? "" : ReadFile(path(row.same));
    std::string cmd = "{ " KX9LABEL_PATH " " + row.args + " 2>&1 >@/out.txt; echo $? >@/rc.txt; } | cat >@/err.txt";
    for (std::size_t at; (at = cmd.find('@')) != std::string::npos;) cmd.replace(at, 1, "'" + dir + "'");
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string err = ReadFile(path("err.txt"));
    EXPECT_EQ(std::atoi(ReadFile(path("rc.txt")).c_str()), row.exit) << err;
    EXPECT_TRUE(row.err.empty() ? err.empty() : err.find(row.err) != std::string::npos) << err;
    if (!row.output.empty()) {
      EXPECT_EQ(std::filesystem::exists(path(row.output.substr(row.output[0] == '-'))), row.output[0] != '-');
    }
    if (!row.same.empty()) {
      EXPECT_TRUE(ReadFile(path(row.same)) == before) << row.same << " changed";
    }
    if (row.check) row.check();
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir))  // no temporary output left
    EXPECT_EQ(entry.path().filename().string().find(".kx9-"), std::string::npos) << entry.path();
}

}  // namespace
