// File: main.cc
//
// kx9label: the command-line face of the label-structure component.
//   kx9label demo [--dir DIR]
//   kx9label encode [--image] --series S --mode M [--codepage CP] IN.json -o OUT.bin
//   kx9label decode [--image] --series S --mode M [--codepage CP] IN.bin
//   kx9label totext [--mode M] [--codepage CP] IN.json -o OUT.txt
//   kx9label fromtext [--codepage CP] IN.txt
// Errors go to stderr with a non-zero exit code; JSON goes to stdout.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include "tools/Demo.h"
#include "tools/LabelTool.h"

namespace {

using kx9tool::Json;

struct Options {
  bool image = false;
  LONG series = 0;
  LONG mode = 0;
  UINT codePage = 1252;
  std::string input;
  std::string output;
  std::string dir;
};

void AddCodePage(CLI::App* cmd, Options& o) {
  cmd->add_option("--codepage", o.codePage, "ANSI code page of the thread: 1252 (default), 932, 936, 949 or 950");
}

void AddImageOptions(CLI::App* cmd, Options& o) {
  cmd->add_flag("--image", o.image, "the raw label image instead of the whole export envelope");
  cmd->add_option("--series", o.series, "CPU series: 0 standard (ANSI text), 1 X series, other values UTF-16 text")
      ->required();
  cmd->add_option("--mode", o.mode, "mode: 0 normal, 1 without system labels")->required();
  AddCodePage(cmd, o);
}

void PrintJson(const Json& j) { std::cout << j.dump(2) << "\n"; }

int Encode(const Options& o) {
  const Json document = kx9tool::ReadJsonFile(o.input);
  kx9tool::LabelDocument doc = kx9tool::DocumentFromJson(document);
  kx9tool::ImageSettings settings{o.series, o.mode};
  std::vector<BYTE> bytes;
  if (o.image) {
    bytes = kx9tool::EncodeImage(doc, settings);
  } else {
    const std::optional<std::vector<BYTE>> block = kx9tool::ServiceBlockFromJson(document);
    const std::vector<BYTE> record = kx9tool::SettingsFromJson(document);
    bytes = kx9tool::EncodeEnvelope(doc, block, record, settings);
  }
  kx9tool::WriteFileBytes(o.output, bytes);
  return 0;
}

int Decode(const Options& o) {
  const std::vector<BYTE> bytes = kx9tool::ReadFileBytes(o.input);
  kx9tool::ImageSettings settings{o.series, o.mode};
  if (o.image) {
    kx9tool::DecodedImage d = kx9tool::DecodeImage(bytes.data(), bytes.size(), settings);
    PrintJson(kx9tool::DocumentToJson(d.data.Data(), d.data.Count(), d.genericData));
    return 0;
  }
  kx9tool::DecodedEnvelope d;
  try {
    d = kx9tool::DecodeEnvelope(bytes, settings);
  } catch (const kx9tool::BadEnvelopeError& e) {
    std::cerr << "kx9label: " << o.input << ": " << e.what() << "\n";
    return 2;
  }
  Json j = kx9tool::DocumentToJson(d.image.data.Data(), d.image.data.Count(), d.image.genericData);
  j["serviceBlock"] = kx9tool::BytesToHex(d.serviceBlock);
  // No settings key when the envelope ends before its settings record.
  if (d.settingsRecord) j["settings"] = kx9tool::BytesToHex(*d.settingsRecord);
  PrintJson(j);
  return 0;
}

int ToText(const Options& o) {
  kx9tool::LabelDocument doc = kx9tool::DocumentFromJson(kx9tool::ReadJsonFile(o.input));
  kx9tool::WriteText(doc, o.output, o.mode);
  return 0;
}

int FromText(const Options& o) {
  kx9tool::DecodedImage d = kx9tool::ReadText(o.input);
  PrintJson(kx9tool::DocumentToJson(d.data.Data(), d.data.Count(), d.genericData));
  return 0;
}

std::string DefaultDemoDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kx9label-demo-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw kx9tool::ToolError("cannot create a directory under " + pattern);
  return pattern;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"kx9label: label structures of a controller project - export envelopes, label images, text files"};
  app.require_subcommand(1);
  Options o;

  CLI::App* demo = app.add_subcommand("demo", "build a sample project and round-trip it on both CPU series");
  demo->add_option("--dir", o.dir, "directory for the envelope files (default: a new temporary directory)");
  AddCodePage(demo, o);

  CLI::App* encode = app.add_subcommand("encode", "JSON -> export envelope (or label image with --image)");
  AddImageOptions(encode, o);
  encode->add_option("input", o.input, "IN.json")->required()->check(CLI::ExistingFile);
  encode->add_option("-o,--output", o.output, "OUT.bin")->required();

  CLI::App* decode = app.add_subcommand("decode", "export envelope (or label image with --image) -> JSON on stdout");
  AddImageOptions(decode, o);
  decode->add_option("input", o.input, "IN.bin")->required()->check(CLI::ExistingFile);

  CLI::App* totext = app.add_subcommand("totext", "JSON -> label structure text file");
  totext->add_option("--mode", o.mode, "mode: 0 normal, 1 without system labels");
  AddCodePage(totext, o);
  totext->add_option("input", o.input, "IN.json")->required()->check(CLI::ExistingFile);
  totext->add_option("-o,--output", o.output, "OUT.txt")->required();

  CLI::App* fromtext = app.add_subcommand("fromtext", "label structure text file -> JSON on stdout");
  AddCodePage(fromtext, o);
  fromtext->add_option("input", o.input, "IN.txt")->required()->check(CLI::ExistingFile);

  CLI11_PARSE(app, argc, argv);

  try {
    if (!SetThreadAnsiCodePage(o.codePage)) {
      std::cerr << "kx9label: code page " << o.codePage << " is not supported (use 1252, 932, 936, 949 or 950)\n";
      return 2;
    }
    if (*demo) return kx9tool::RunDemo(std::cout, o.dir.empty() ? DefaultDemoDir() : o.dir);
    if (*encode) return Encode(o);
    if (*decode) return Decode(o);
    if (*totext) return ToText(o);
    if (*fromtext) return FromText(o);
  } catch (const std::exception& e) {
    std::cerr << "kx9label: " << e.what() << "\n";
    return 1;
  }
  return 2;
}
