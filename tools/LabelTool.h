// File: LabelTool.h
//
// The operations behind the kx9label commands, on an in-memory reference
// database that each call sets up for itself: a project whose system-label
// generic data (kind 0xA0000089) is the document's genericData.
//
// All operations throw ToolError (or CodecError) with a message meant for the
// user that names no file (the caller knows which one it is about, see
// About); they never print.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"
#include "tools/LabelCodec.h"

namespace kx9tool {

// The exit codes of every command.
constexpr int kExitOk = 0;
constexpr int kExitProblem = 1;  // the command ran and found a problem
constexpr int kExitFailure = 2;  // usage error or failure to run

class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& what, int exitCode = kExitProblem)
      : std::runtime_error(what), m_exitCode(exitCode) {}
  int ExitCode() const { return m_exitCode; }

 private:
  int m_exitCode;
};

// An envelope whose service block length cannot be read or does not fit:
// the input is not an envelope at all (SetAllData refuses it with 4).
class BadEnvelopeError : public ToolError {
 public:
  using ToolError::ToolError;
};

// Runs f; a ToolError or CodecError it raises comes out as a ToolError
// about `file` (named first), with the same exit code.
template <class F>
auto About(const std::string& file, F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const CodecError& e) {
    throw ToolError(file + ": " + e.what(), kExitProblem);
  } catch (const ToolError& e) {
    throw ToolError(file + ": " + e.what(), e.ExitCode());
  }
}

// The component with its image and text-file members reachable: the tool
// works on them directly, without a database round trip that would drop
// the fields the database does not keep.
class CLabelToolComponent : public CKX9ComFuncLabelStructure {
 public:
  using CKX9ComFuncLabelStructure::AssembleEnvelope;
  using CKX9ComFuncLabelStructure::CKX9ComFuncLabelStructure;
  using CKX9ComFuncLabelStructure::CreateAllData;
  using CKX9ComFuncLabelStructure::GetAllDataMain;
  using CKX9ComFuncLabelStructure::GetEnvelopeBlockSize;
  using CKX9ComFuncLabelStructure::ReadBinaryData;
  using CKX9ComFuncLabelStructure::ReadTextFile;
  using CKX9ComFuncLabelStructure::WriteBinaryData;
  using CKX9ComFuncLabelStructure::WriteTextFile;
};

// Generic data of kind 0xA0000089 of a project of `db`.
std::vector<BYTE> ReadGenericData(refdb::RefDatabase& db, const STOBJECTID& project);
void WriteGenericData(refdb::RefDatabase& db, const STOBJECTID& project, const std::vector<BYTE>& bytes);

struct ImageSettings {
  LONG series = 0;  // 0: ANSI code page text; any other value: UTF-16LE
  LONG mode = 0;    // 1: without system labels
};

// The label image as WriteBinaryData makes it with a header of 0 bytes,
// without its trailing 0 byte.
std::vector<BYTE> EncodeImage(LabelDocument& doc, const ImageSettings& settings);
// The export envelope exactly as GetAllData makes it from a label service
// that returns `serviceBlock` (none: GetBlock fails), without the extra 0
// byte.
std::vector<BYTE> EncodeEnvelope(LabelDocument& doc, const std::optional<std::vector<BYTE>>& serviceBlock,
                                 const std::vector<BYTE>& settingsRecord, const ImageSettings& settings);

struct DecodedImage {
  LONG count = 0;
  LabelSet data;
  std::vector<BYTE> genericData;  // what the reader stored in the project
  // What the reader skipped or could not account for, as "byte B, line L: what".
  std::vector<std::string> findings;
};
// `base`: where the image starts in its file, for the findings' offsets.
DecodedImage DecodeImage(const BYTE* image, std::size_t length, const ImageSettings& settings, LONGLONG base = 0);

struct DecodedEnvelope {
  DecodedImage image;
  std::vector<BYTE> serviceBlock;  // the first B bytes, B as the envelope states it
  // None when the envelope ends before the settings record: SetAllData then
  // stores the block only and leaves settings and labels alone.
  std::optional<std::vector<BYTE>> settingsRecord;
};
// Reads the envelope as SetAllData does; raises BadEnvelopeError where
// SetAllData refuses it (fewer than 4 bytes, or B beyond the size).
DecodedEnvelope DecodeEnvelope(const std::vector<BYTE>& envelope, const ImageSettings& settings);

// The envelope fields of a JSON document, with their defaults.
std::optional<std::vector<BYTE>> ServiceBlockFromJson(const Json& document);
std::vector<BYTE> SettingsFromJson(const Json& document);

// Text file (no system-label data travels through it). WriteText empties
// the file at `path` first: the component reports no failure, so a file it
// could not write reads back empty.
void WriteText(LabelDocument& doc, const std::string& path, LONG mode);
DecodedImage ReadText(const std::string& path);

// Whole files; errors exit with kExitFailure.
std::vector<BYTE> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<BYTE>& bytes);
// A file made by `write`, with the same errors.
void WriteFileWith(const std::string& path, const std::function<void(std::ostream&)>& write);
// Syntax errors (kExitProblem) give line and column in plain words.
Json ReadJsonFile(const std::string& path);

// Why `path` cannot be an output file (it is a directory, or its folder is
// missing), or "" when it can.
std::string OutputProblem(const std::string& path);

// A new empty file beside `target`, which Commit renames onto the target in
// one step; until then the target stays as it was, and the file is removed
// on every way out.
class OutputFile {
 public:
  explicit OutputFile(std::string target);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  const std::string& Path() const { return m_path; }
  void Commit();

 private:
  std::string m_target;
  std::string m_path;
  bool m_committed = false;
};

}  // namespace kx9tool
