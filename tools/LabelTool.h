// File: LabelTool.h
//
// The operations behind the kx9label commands, on an in-memory reference
// database that each call sets up for itself: a project whose system-label
// generic data (kind 0xA0000089) is the document's genericData.
//
// All operations throw ToolError (or CodecError) with a message meant for the
// user; they never print.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"
#include "tools/LabelCodec.h"

namespace kx9tool {

class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An envelope whose service block length cannot be read or does not fit:
// the input is not an envelope at all (SetAllData refuses it with 4).
class BadEnvelopeError : public ToolError {
 public:
  using ToolError::ToolError;
};

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
};
DecodedImage DecodeImage(const BYTE* image, std::size_t length, const ImageSettings& settings);

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

// Text file (no system-label data travels through it).
void WriteText(LabelDocument& doc, const std::string& path, LONG mode);
DecodedImage ReadText(const std::string& path);

// Whole files.
std::vector<BYTE> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<BYTE>& bytes);
Json ReadJsonFile(const std::string& path);

}  // namespace kx9tool
