// File: main.cc
//
// kx9label: the command-line face of the label-structure component.
//   kx9label demo [--keep DIR]
//   kx9label new PROJECT --series standard|x [--name NAME] [--force] [--quiet]
//   kx9label import PROJECT IN.bin [--settings-out FILE] [--quiet]
//   kx9label export PROJECT -o OUT.bin [--settings FILE] [--quiet]
//   kx9label show PROJECT [--json] [--limit N] [--quiet]
//   kx9label encode [--image] --series S --mode M [--codepage CP] [--allow-lossy] IN.json -o OUT.bin
//   kx9label decode [--image] --series S --mode M [--codepage CP] [--full] [--allow-lossy] IN.bin [-o OUT.json]
//   kx9label totext [--mode M] [--codepage CP] [--allow-lossy] IN.json -o OUT.txt
//   kx9label fromtext [--codepage CP] [--full] [--allow-lossy] IN.txt [-o OUT.json]
// encode and totext read what they wrote back and compare it with their
// input; a difference keeps the output from being written unless
// --allow-lossy is given. Outputs land whole or not at all; a project file
// is changed only by a command that succeeds.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/Demo.h"
#include "tools/LabelTool.h"
#include "tools/ProjectCommands.h"
#include "tools/Verify.h"

#ifndef KX9_VERSION
#error "KX9_VERSION is the project version"
#endif

namespace {

using kx9tool::About;
using kx9tool::Findings;
using kx9tool::Json;
using kx9tool::kExitFailure;
using kx9tool::kExitOk;
using kx9tool::kExitProblem;

struct Options {
  bool image = false;
  bool full = false;
  bool allowLossy = false;
  LONG series = 0;
  LONG mode = 0;
  UINT codePage = 1252;
  std::string input;
  std::string output;
  std::string keep;
};

const char kFooter[] =
    "Exit codes, the same for every command:\n"
    "  0  success\n"
    "  1  the command ran and found a problem: a write that would lose data (refused unless --allow-lossy),\n"
    "     a damaged input, a difference\n"
    "  2  usage error or failure to run: a bad option, an unreadable file, a missing output folder,\n"
    "     an output path that is a directory, a PROJECT that is no sound project file of one project,\n"
    "     a project file that is there (new without --force), an envelope the component does not import\n";

// A value given by one of `names` or as any 32-bit integer; the names turn
// into their numbers.
CLI::Validator NamedInteger(std::vector<std::pair<std::string, LONG>> names) {
  return CLI::Validator(
      [names](std::string& value) -> std::string {
        std::string known;
        for (const auto& [name, number] : names) {
          if (value == name) {
            value = std::to_string(number);
            return "";
          }
          known += name + ", ";
        }
        errno = 0;
        char* end = nullptr;
        const long long v = std::strtoll(value.c_str(), &end, 10);
        if (value.empty() || *end != 0 || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
          return value + " is neither " + known + "nor a 32-bit integer";
        return "";
      },
      "");
}

const CLI::Validator kOutputPath(
    [](std::string& path) -> std::string {
      const std::string problem = kx9tool::OutputProblem(path);
      return problem.empty() ? "" : path + ": " + problem;
    },
    "");

const CLI::Validator kCount(
    [](std::string& value) -> std::string {
      const bool digits = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
      return digits && value.size() <= 18 ? "" : value + " is not a whole number of 0 or more";
    },
    "");

void AddCodePage(CLI::App* cmd, Options& o) {
  cmd->add_option("--codepage", o.codePage,
                  "ANSI code page of the thread, for text outside UTF-16: 1252 (default), 932, 936, 949 or 950");
}

void AddMode(CLI::App* cmd, Options& o) {
  cmd->add_option("--mode", o.mode,
                  "normal (0): with system labels; without-system-labels (1): drops them; any other 32-bit integer "
                  "works as normal and is recorded as the mode number in the image trailer")
      ->transform(NamedInteger({{"normal", 0}, {"without-system-labels", 1}}))
      ->type_name("NAME|INT");
}

void AddImageOptions(CLI::App* cmd, Options& o) {
  cmd->add_flag("--image", o.image, "the raw label image instead of the whole export envelope");
  cmd->add_option("--series", o.series,
                  "CPU series: standard (0): text in the code page; x (1): UTF-16LE text; any other 32-bit "
                  "integer: UTF-16LE text as x")
      ->transform(NamedInteger({{"standard", 0}, {"x", 1}}))
      ->type_name("NAME|INT")
      ->required();
  AddMode(cmd, o);
  cmd->get_option("--mode")->required();
  AddCodePage(cmd, o);
}

void AddLossy(CLI::App* cmd, Options& o, const char* what) { cmd->add_flag("--allow-lossy", o.allowLossy, what); }

void AddJsonOutput(CLI::App* cmd, Options& o) {
  cmd->add_flag("--full", o.full, "write every field, also those that hold their construction values");
  cmd->add_option("-o,--output", o.output, "OUT.json (default: stdout)")->check(kOutputPath);
  AddLossy(cmd, o, "write the JSON even when the input is found damaged (the problems still go to stderr)");
}

// Reports the findings about `about` on stderr; true when the output may be
// written: there are none, or --allow-lossy asks for it anyway.
bool MayWrite(const Options& o, const std::string& about, const Findings& findings) {
  if (findings.Empty()) return true;
  for (const std::string& f : findings.Shown()) std::cerr << "kx9label: " << about << ": " << f << "\n";
  if (findings.Count() > findings.Shown().size())
    std::cerr << "kx9label: " << about << ": and " << findings.Count() - findings.Shown().size() << " more\n";
  const std::string target = o.output.empty() ? "the output" : o.output;
  if (!o.allowLossy) {
    std::cerr << "kx9label: " << target << ": not written, " << findings.Count()
              << " problem(s) above; --allow-lossy writes it anyway\n";
    return false;
  }
  std::cerr << "kx9label: " << target << ": written despite " << findings.Count() << " problem(s) above\n";
  return true;
}

void WriteOutput(const std::string& path, const std::vector<BYTE>& bytes) {
  About(path, [&] {
    kx9tool::OutputFile out(path);
    kx9tool::WriteFileBytes(out.Path(), bytes);
    out.Commit();
  });
}

// The JSON of decode and fromtext, on stdout or into -o, written record by
// record from what the readers made.
int EmitJson(const Options& o, const Findings& findings, const kx9tool::DecodedImage& d,
             const std::vector<std::pair<std::string, std::string>>& extra = {}) {
  if (!MayWrite(o, o.input, findings)) return kExitProblem;
  const auto write = [&](std::ostream& out) {
    kx9tool::WriteDocumentJson(out, d.data.Data(), d.data.Count(), d.genericData, o.full, extra);
  };
  if (o.output.empty()) {
    write(std::cout);
    return kExitOk;
  }
  About(o.output, [&] {
    kx9tool::OutputFile out(o.output);
    kx9tool::WriteFileWith(out.Path(), write);
    out.Commit();
  });
  return kExitOk;
}

Json ReadDocument(const Options& o) {
  return About(o.input, [&] { return kx9tool::ReadJsonFile(o.input); });
}

int Encode(const Options& o) {
  const Json document = ReadDocument(o);
  const kx9tool::ImageSettings settings{o.series, o.mode};
  std::vector<BYTE> bytes;
  const Findings findings = About(o.input, [&] {
    kx9tool::LabelDocument doc = kx9tool::DocumentFromJson(document);
    if (o.image)
      bytes = kx9tool::EncodeImage(doc, settings);
    else
      bytes = kx9tool::EncodeEnvelope(doc, kx9tool::ServiceBlockFromJson(document), kx9tool::SettingsFromJson(document),
                                      settings);
    return kx9tool::VerifyImage(document, bytes, !o.image, settings);
  });
  if (!MayWrite(o, o.input, findings)) return kExitProblem;
  WriteOutput(o.output, bytes);
  return kExitOk;
}

// How many lists the image holds when read in the other encoding, to hint
// at a --series that fits; 0 when it reads as nothing there too.
LONG ListsInTheOtherSeries(const BYTE* image, std::size_t length, const kx9tool::ImageSettings& settings) {
  const kx9tool::ImageSettings other{settings.series == 0 ? 1 : 0, settings.mode};
  return kx9tool::DecodeImage(image, length, other).count;
}

int Decode(const Options& o) {
  const std::vector<BYTE> bytes = About(o.input, [&] { return kx9tool::ReadFileBytes(o.input); });
  const kx9tool::ImageSettings settings{o.series, o.mode};
  Findings findings;  // what the readers find wrong with the input
  kx9tool::DecodedImage decoded;
  std::vector<std::pair<std::string, std::string>> extra;  // the envelope's fields behind the image's
  About(o.input, [&] {
    const auto take = [&](const kx9tool::DecodedImage& d) {
      for (const std::string& f : d.findings) findings.Add(f);
    };
    if (o.image) {
      kx9tool::DecodedImage& d = decoded = kx9tool::DecodeImage(bytes.data(), bytes.size(), settings);
      take(d);
      if (!d.findings.empty()) {
        try {  // an envelope read as an image: its block and settings are no lines
          const kx9tool::DecodedEnvelope e = kx9tool::DecodeEnvelope(bytes, settings);
          if (e.image.count > 0 && e.image.findings.empty())
            findings.Add("the file is an export envelope, not a label image: leave out --image");
        } catch (const kx9tool::BadEnvelopeError&) {
        }
      }
      return;
    }
    kx9tool::DecodedEnvelope d;
    try {
      d = kx9tool::DecodeEnvelope(bytes, settings);
    } catch (const kx9tool::BadEnvelopeError&) {
      if (kx9tool::DecodeImage(bytes.data(), bytes.size(), settings).count > 0)
        throw kx9tool::BadEnvelopeError("the file is a label image, not an export envelope: add --image");
      throw;
    }
    take(d.image);
    const std::size_t imageStart = d.serviceBlock.size() + (d.settingsRecord ? d.settingsRecord->size() : 0);
    if (d.image.count == 0 && bytes.size() > imageStart) {
      const LONG other = ListsInTheOtherSeries(bytes.data() + imageStart, bytes.size() - imageStart, settings);
      if (other > 0)
        findings.Add("the image reads as " + std::to_string(other) + " list(s) with --series " +
                     (settings.series == 0 ? "x" : "standard") + ": try that");
    }
    extra.emplace_back("serviceBlock", kx9tool::BytesToHex(d.serviceBlock));
    // No settings key when the envelope ends before its settings record.
    if (d.settingsRecord) extra.emplace_back("settings", kx9tool::BytesToHex(*d.settingsRecord));
    decoded = std::move(d.image);
  });
  return EmitJson(o, findings, decoded, extra);
}

int ToText(const Options& o) {
  const Json document = ReadDocument(o);
  kx9tool::LabelDocument doc = About(o.input, [&] { return kx9tool::DocumentFromJson(document); });
  const auto out = About(o.output, [&] { return std::make_unique<kx9tool::OutputFile>(o.output); });
  About(o.output, [&] { kx9tool::WriteText(doc, out->Path(), o.mode); });
  const Findings findings = About(o.input, [&] { return kx9tool::VerifyText(document, out->Path()); });
  if (!MayWrite(o, o.input, findings)) return kExitProblem;
  About(o.output, [&] { out->Commit(); });
  return kExitOk;
}

int FromText(const Options& o) {
  Findings findings;  // what the reader finds wrong with the input
  kx9tool::DecodedImage decoded;
  About(o.input, [&] {
    decoded = kx9tool::ReadText(o.input);
    for (const std::string& f : decoded.findings) findings.Add(f);
  });
  return EmitJson(o, findings, decoded);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "kx9label: label structures of a controller project - project files, export envelopes, label images, text "
      "files"};
  app.require_subcommand(1);
  app.footer(kFooter);
  app.set_version_flag("--version",
                       std::string("kx9label ") + KX9_VERSION + "\nlibrary VNKX9ComFuncLabelStructure " + KX9_VERSION);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string("kx9label: ") + e.what() + " (see kx9label --help)\n";
  });
  Options o;

  CLI::App* demo = app.add_subcommand("demo", "build a sample project and round-trip it on both CPU series");
  demo->add_option("--keep", o.keep,
                   "write the envelope files into DIR (created when missing) and keep them; without it they go "
                   "to a temporary directory that is removed");
  AddCodePage(demo, o);

  const char* lossyWrite = "write the output even when reading it back finds data lost (the losses still go to stderr)";
  CLI::App* encode = app.add_subcommand("encode", "JSON -> export envelope (or label image with --image)");
  AddImageOptions(encode, o);
  AddLossy(encode, o, lossyWrite);
  encode->add_option("input", o.input, "IN.json")->required()->check(CLI::ExistingFile);
  encode->add_option("-o,--output", o.output, "OUT.bin")->required()->check(kOutputPath);

  CLI::App* decode = app.add_subcommand("decode", "export envelope (or label image with --image) -> JSON");
  AddImageOptions(decode, o);
  AddJsonOutput(decode, o);
  decode->add_option("input", o.input, "IN.bin")->required()->check(CLI::ExistingFile);

  CLI::App* totext = app.add_subcommand("totext", "JSON -> label structure text file");
  AddMode(totext, o);
  AddCodePage(totext, o);
  AddLossy(totext, o, lossyWrite);
  totext->add_option("input", o.input, "IN.json")->required()->check(CLI::ExistingFile);
  totext->add_option("-o,--output", o.output, "OUT.txt")->required()->check(kOutputPath);

  CLI::App* fromtext = app.add_subcommand("fromtext", "label structure text file -> JSON");
  AddCodePage(fromtext, o);
  AddJsonOutput(fromtext, o);
  fromtext->add_option("input", o.input, "IN.txt")->required()->check(CLI::ExistingFile);

  kx9tool::ProjectCommandOptions po;
  std::string seriesName;
  const auto addProject = [&](CLI::App* cmd, const char* what) {
    cmd->add_option("project", po.project, what)->required()->type_name("PROJECT");
    cmd->add_flag("--quiet", po.quiet, "no progress bar (it shows on a terminal only, after about a second)");
  };

  CLI::App* newCmd = app.add_subcommand("new", "make a project file holding one empty project of a CPU series");
  addProject(newCmd, "the project file to make");
  newCmd
      ->add_option("--series", seriesName,
                   "standard: the classic collections (13, 17); x: the high-capacity ones (0xA2000014, "
                   "0xA2000015); both with generic data")
      ->check(CLI::IsMember({"standard", "x"}))
      ->type_name("standard|x")
      ->required();
  newCmd->add_option("--name", po.name, "the project's name (default: the file's name without its extension)");
  newCmd->add_flag("--force", po.force, "replace a file that is there (else exit 2)");

  CLI::App* importCmd =
      app.add_subcommand("import", "replace the labels of a project file by those of an export envelope (SetAllData)");
  addProject(importCmd, "the project file, saved only when the component returns 0");
  importCmd->add_option("input", po.input, "the export envelope")->required()->type_name("IN.bin");
  importCmd->add_option("--settings-out", po.settingsOut, "write the 104-byte settings record the envelope carries")
      ->check(kOutputPath)
      ->type_name("FILE");
  importCmd->footer(
      "A result other than 0 leaves the project file as it was and is printed with its meaning (exit 2).\n"
      "An envelope that ends inside its settings record imports its service block only: exit 1.\n\n" +
      std::string(kFooter));

  AddCodePage(importCmd, o);

  CLI::App* exportCmd = app.add_subcommand("export", "write the export envelope of a project file (GetAllData)");
  addProject(exportCmd, "the project file");
  AddCodePage(exportCmd, o);
  exportCmd->add_option("-o,--output", po.output, "OUT.bin")->required()->check(kOutputPath);
  exportCmd->add_option("--settings", po.settings, "the 104-byte settings record to put in (default: zeros)")
      ->type_name("FILE");

  CLI::App* showCmd = app.add_subcommand(
      "show", "print a project file: series, external flag, SDTs, GVLs, system labels and (x) dynamic labels");
  addProject(showCmd, "the project file");
  showCmd->add_flag("--json", po.json, "one JSON document on stdout instead of the columns");
  showCmd->add_option("--limit", po.limit, "at most N rows of each list (default: all); the rest is counted")
      ->check(kCount)
      ->type_name("N");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version print and succeed; every other parse error is a usage error.
    return app.exit(e) == 0 ? kExitOk : kExitFailure;
  }

  try {
    if (!SetThreadAnsiCodePage(o.codePage)) {
      std::cerr << "kx9label: --codepage " << o.codePage
                << ": not supported; the supported code pages are 1252, 932, 936, 949 and 950\n";
      return kExitFailure;
    }
    if (*demo) return kx9tool::RunDemo(std::cout, o.keep);
    if (*encode) return Encode(o);
    if (*decode) return Decode(o);
    if (*totext) return ToText(o);
    if (*fromtext) return FromText(o);
    if (*newCmd) {
      po.series = seriesName == "x" ? CKX9ComFuncLabelStructure::KX9LabelCPUSeriesX
                                    : CKX9ComFuncLabelStructure::KX9LabelCPUSeriesStandard;
      return kx9tool::NewProjectCommand(po);
    }
    if (*importCmd) return kx9tool::ImportCommand(po);
    if (*exportCmd) return kx9tool::ExportCommand(po);
    if (*showCmd) return kx9tool::ShowCommand(std::cout, po);
  } catch (const kx9tool::ToolError& e) {
    std::cerr << "kx9label: " << e.what() << "\n";
    return e.ExitCode();
  } catch (const std::exception& e) {
    std::cerr << "kx9label: " << e.what() << "\n";
    return kExitFailure;
  }
  return kExitFailure;
}
