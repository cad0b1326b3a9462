// File: LabelTool.h
//
// The operations behind the kx9label commands, on an in-memory reference
// database that each call sets up for itself: a project whose system-label
// generic data (kind 0xA0000089) is the document's genericData.
//
// All operations throw ToolError (or CodecError) with a message meant for the
// user; they never print.
#pragma once

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

// The component with its image and text-file members reachable: the tool
// works on them directly, without a database round trip that would drop
// the fields the database does not keep.
class CLabelToolComponent : public CKX9ComFuncLabelStructure {
 public:
  using CKX9ComFuncLabelStructure::CKX9ComFuncLabelStructure;
  using CKX9ComFuncLabelStructure::CreateAllData;
  using CKX9ComFuncLabelStructure::GetAllDataMain;
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

// The 4-byte service block that stands in for a missing one.
std::vector<BYTE> SubstituteServiceBlock();

// The label image as WriteBinaryData makes it with a header of 0 bytes,
// without its trailing 0 byte.
std::vector<BYTE> EncodeImage(LabelDocument& doc, const ImageSettings& settings);
// The export envelope: the service block (its first 4 bytes must hold its
// length), the 104-byte settings record and the image; exactly the size
// GetAllData reports, without the extra 0 byte.
std::vector<BYTE> EncodeEnvelope(LabelDocument& doc, const std::vector<BYTE>& serviceBlock,
                                 const std::vector<BYTE>& settingsRecord, const ImageSettings& settings);

struct DecodedImage {
  LONG count = 0;
  LabelSet data;
  std::vector<BYTE> genericData;  // what the reader stored in the project
};
DecodedImage DecodeImage(const BYTE* image, std::size_t length, const ImageSettings& settings);

struct DecodedEnvelope {
  DecodedImage image;
  std::vector<BYTE> serviceBlock;
  std::vector<BYTE> settingsRecord;
};
// Refuses an envelope whose block length or settings record does not fit.
DecodedEnvelope DecodeEnvelope(const std::vector<BYTE>& envelope, const ImageSettings& settings);

// The envelope fields of a JSON document, with their defaults.
std::vector<BYTE> ServiceBlockFromJson(const Json& document);
std::vector<BYTE> SettingsFromJson(const Json& document);

// Text file (no system-label data travels through it).
void WriteText(LabelDocument& doc, const std::string& path, LONG mode);
DecodedImage ReadText(const std::string& path);

// Whole files.
std::vector<BYTE> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<BYTE>& bytes);
Json ReadJsonFile(const std::string& path);

}  // namespace kx9tool
