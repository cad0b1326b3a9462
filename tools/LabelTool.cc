// File: LabelTool.cc
//
// The operations behind the kx9label commands.
#include "tools/LabelTool.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>

namespace kx9tool {

namespace {

constexpr std::size_t kSettingsSize = sizeof(_STKX9AUTODEVSET);
constexpr LONG kLongMax = std::numeric_limits<LONG>::max();

ComPtr<IVNDataABS_GenericData> OpenGenericData(refdb::RefDatabase& db, const STOBJECTID& project) {
  IVNDataABS_Workspace* ws = db.Workspace();
  STOBJECTID owner = STOBJECTID::Null();
  LONG detail = 0;
  if (ws->GetChildIDByType(project, VN_TYPE_GENERIC_DATA, &owner, &detail) != S_OK)
    throw ToolError("the project has no generic data object");
  IUnknown* object = nullptr;  // borrowed
  detail = 0;
  if (ws->GetDataObject(owner, &object, &detail) != S_OK) throw ToolError("the generic data object cannot be opened");
  ComPtr<IVNDataABS_GenericData> generic;
  if (!QueryInterfaceTo(object, generic)) throw ToolError("the generic data object offers no generic data interface");
  return generic;
}

// One project in a database of its own, with the component pointed at it.
struct Session {
  refdb::RefDatabase db;
  STOBJECTID project;
  CLabelToolComponent component;

  explicit Session(const ImageSettings& settings)
      : project(db.NewProject(u"kx9label")), component(db.Workspace()) {
    component.Initialize(project);
    component.SetCPUSeries(static_cast<CKX9ComFuncLabelStructure::KX9LabelCPUSeries>(settings.series));
    component.SetMode(static_cast<CKX9ComFuncLabelStructure::KX9LabelMode>(settings.mode));
  }
};

// Writes the image behind `headerSize` zero bytes; returns the buffer and L.
std::unique_ptr<BYTE[]> WriteImage(Session& s, LabelDocument& doc, LONG headerSize, LONG& length) {
  if (!doc.genericData.empty()) WriteGenericData(s.db, s.project, doc.genericData);
  const LONG count = doc.data.Count();
  _STKX9LABELSTRUCTURE* records = doc.data.Release();
  BYTE* image = nullptr;
  length = s.component.WriteBinaryData(count, records, image, headerSize);
  std::unique_ptr<BYTE[]> owned(image);
  delete[] records;  // null when the writer took the records over
  if (length < 0) throw ToolError("the label image could not be written");
  if (length > 0 && !owned) throw ToolError("the label writer reported an image but returned no buffer");
  return owned;
}

LONG CheckedLength(std::size_t n, const char* what) {
  if (n > static_cast<std::size_t>(kLongMax)) throw ToolError(std::string(what) + " is larger than 2 GiB");
  return static_cast<LONG>(n);
}

std::string ErrnoText() { return std::strerror(errno); }

}  // namespace

std::vector<BYTE> ReadGenericData(refdb::RefDatabase& db, const STOBJECTID& project) {
  ComPtr<IVNDataABS_GenericData> generic = OpenGenericData(db, project);
  LONG length = 0;
  LONG detail = 0;
  if (generic->GetGenericData(VN_GENERIC_SYSTEM_LABEL, &length, nullptr, &detail) != S_OK)
    throw ToolError("the generic data cannot be read");
  std::vector<BYTE> bytes(length > 0 ? static_cast<std::size_t>(length) : 0);
  if (!bytes.empty()) {
    detail = 0;
    if (generic->GetGenericData(VN_GENERIC_SYSTEM_LABEL, &length, bytes.data(), &detail) != S_OK)
      throw ToolError("the generic data cannot be read");
  }
  return bytes;
}

void WriteGenericData(refdb::RefDatabase& db, const STOBJECTID& project, const std::vector<BYTE>& bytes) {
  ComPtr<IVNDataABS_GenericData> generic = OpenGenericData(db, project);
  LONG detail = 0;
  if (generic->SetGenericData(VN_GENERIC_SYSTEM_LABEL, CheckedLength(bytes.size(), "the generic data"),
                              bytes.data(), &detail) != S_OK)
    throw ToolError("the generic data cannot be stored");
}

std::vector<BYTE> SubstituteServiceBlock() { return {0x04, 0x00, 0x00, 0x00}; }

std::vector<BYTE> EncodeImage(LabelDocument& doc, const ImageSettings& settings) {
  Session s(settings);
  LONG length = 0;
  std::unique_ptr<BYTE[]> image = WriteImage(s, doc, 0, length);
  if (length <= 0) return {};
  return std::vector<BYTE>(image.get(), image.get() + length);
}

std::vector<BYTE> EncodeEnvelope(LabelDocument& doc, const std::vector<BYTE>& serviceBlock,
                                 const std::vector<BYTE>& settingsRecord, const ImageSettings& settings) {
  if (settingsRecord.size() != kSettingsSize)
    throw ToolError("the settings record must be " + std::to_string(kSettingsSize) + " bytes");
  const LONG header = CheckedLength(serviceBlock.size() + kSettingsSize, "the service block");
  Session s(settings);
  LONG length = 0;
  std::unique_ptr<BYTE[]> image = WriteImage(s, doc, header, length);
  std::vector<BYTE> out(static_cast<std::size_t>(header) + static_cast<std::size_t>(length > 0 ? length : 0));
  std::memcpy(out.data(), serviceBlock.data(), serviceBlock.size());
  std::memcpy(out.data() + serviceBlock.size(), settingsRecord.data(), kSettingsSize);
  if (length > 0) std::memcpy(out.data() + header, image.get() + header, static_cast<std::size_t>(length));
  return out;
}

DecodedImage DecodeImage(const BYTE* image, std::size_t length, const ImageSettings& settings) {
  const LONG len = CheckedLength(length, "the label image");
  Session s(settings);
  DecodedImage out;
  if (len > 0) {
    const LONG count = s.component.ReadBinaryData(image, len, nullptr);
    if (count < 0) throw ToolError("the label image cannot be read (the reader failed while counting)");
    out.count = count;
    if (count > 0) {
      out.data = LabelSet(count);
      if (s.component.ReadBinaryData(image, len, out.data.Data()) < 0)
        throw ToolError("the label image cannot be read (the reader failed while converting its lines)");
    }
  }
  out.genericData = ReadGenericData(s.db, s.project);
  return out;
}

DecodedEnvelope DecodeEnvelope(const std::vector<BYTE>& envelope, const ImageSettings& settings) {
  const std::size_t size = envelope.size();
  if (size < 4)
    throw ToolError("bad envelope: " + std::to_string(size) + " bytes cannot hold the 4-byte service block length");
  const std::size_t block = static_cast<std::size_t>(envelope[0]) | static_cast<std::size_t>(envelope[1]) << 8 |
                            static_cast<std::size_t>(envelope[2]) << 16 | static_cast<std::size_t>(envelope[3]) << 24;
  if (block < 4)
    throw ToolError("bad envelope: service block length " + std::to_string(block) +
                    " is below 4 (the length counts its own 4 bytes)");
  if (block > size || size - block < kSettingsSize)
    throw ToolError("bad envelope: " + std::to_string(size) + " bytes end before the service block of " +
                    std::to_string(block) + " bytes and the " + std::to_string(kSettingsSize) +
                    "-byte settings record");
  DecodedEnvelope out;
  out.serviceBlock.assign(envelope.begin(), envelope.begin() + static_cast<std::ptrdiff_t>(block));
  out.settingsRecord.assign(envelope.begin() + static_cast<std::ptrdiff_t>(block),
                            envelope.begin() + static_cast<std::ptrdiff_t>(block + kSettingsSize));
  const std::size_t imageStart = block + kSettingsSize;
  out.image = DecodeImage(envelope.data() + imageStart, size - imageStart, settings);
  return out;
}

std::vector<BYTE> ServiceBlockFromJson(const Json& document) {
  auto it = document.find("serviceBlock");
  if (it == document.end()) return SubstituteServiceBlock();
  if (!it->is_string()) throw CodecError("serviceBlock: expected a hex string");
  std::vector<BYTE> block = HexToBytes(it->get<std::string>(), "serviceBlock");
  if (block.size() < 4) throw CodecError("serviceBlock: at least 4 bytes (its own length) are needed");
  const std::size_t stated = static_cast<std::size_t>(block[0]) | static_cast<std::size_t>(block[1]) << 8 |
                             static_cast<std::size_t>(block[2]) << 16 | static_cast<std::size_t>(block[3]) << 24;
  if (stated != block.size())
    throw CodecError("serviceBlock: its first 4 bytes say " + std::to_string(stated) + " bytes, but it has " +
                     std::to_string(block.size()));
  return block;
}

std::vector<BYTE> SettingsFromJson(const Json& document) {
  auto it = document.find("settings");
  if (it == document.end()) return std::vector<BYTE>(kSettingsSize, 0);
  if (!it->is_string()) throw CodecError("settings: expected a hex string");
  std::vector<BYTE> settings = HexToBytes(it->get<std::string>(), "settings");
  if (settings.size() != kSettingsSize)
    throw CodecError("settings: " + std::to_string(settings.size()) + " bytes given, " +
                     std::to_string(kSettingsSize) + " needed");
  return settings;
}

void WriteText(LabelDocument& doc, const std::string& path, LONG mode) {
  const CString widePath(Utf8ToUtf16Strict(path, "output path"));
  if (doc.data.Count() == 0) {
    // The text form of no data is an empty file; the writer makes none.
    WriteFileBytes(path, {});
    return;
  }
  ImageSettings settings;
  settings.mode = mode;
  Session s(settings);
  // Removed first so that a file the writer could not make is noticed.
  std::remove(path.c_str());
  s.component.WriteTextFile(doc.data.Count(), doc.data.Data(), widePath);
  std::ifstream check(path, std::ios::binary);
  if (!check) throw ToolError(path + ": the text file could not be written");
}

DecodedImage ReadText(const std::string& path) {
  {
    std::ifstream check(path, std::ios::binary);
    if (!check) throw ToolError(path + ": cannot open: " + ErrnoText());
  }
  const CString widePath(Utf8ToUtf16Strict(path, "input path"));
  Session s(ImageSettings{});
  DecodedImage out;
  out.count = s.component.ReadTextFile(widePath, nullptr);
  if (out.count > 0) {
    out.data = LabelSet(out.count);
    s.component.ReadTextFile(widePath, out.data.Data());
  }
  return out;
}

std::vector<BYTE> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ToolError(path + ": cannot open: " + ErrnoText());
  std::vector<BYTE> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw ToolError(path + ": read error");
  return bytes;
}

void WriteFileBytes(const std::string& path, const std::vector<BYTE>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw ToolError(path + ": cannot create: " + ErrnoText());
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw ToolError(path + ": write error");
}

Json ReadJsonFile(const std::string& path) {
  std::vector<BYTE> bytes = ReadFileBytes(path);
  try {
    return Json::parse(bytes.begin(), bytes.end());
  } catch (const nlohmann::json::parse_error& e) {
    throw ToolError(path + ": invalid JSON: " + e.what());
  }
}

}  // namespace kx9tool
