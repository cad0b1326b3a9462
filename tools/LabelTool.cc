// File: LabelTool.cc
//
// The operations behind the kx9label commands.
#include "tools/LabelTool.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>

namespace kx9tool {

namespace {

constexpr std::size_t kSettingsSize = sizeof(_STKX9AUTODEVSET);
constexpr LONG kLongMax = std::numeric_limits<LONG>::max();

ComPtr<IVNDataABS_GenericData> OpenGenericData(refdb::RefDatabase& db, const STOBJECTID& project) {
  IVNDataABS_Workspace* ws = db.Workspace();
  STOBJECTID owner = STOBJECTID::Null();
  LONG detail = 0;
  if (ws->GetChildIDByType(project, VN_TYPE_GENERIC_DATA, &owner, &detail) != S_OK)
    throw ToolError("the project has no generic data object", kExitFailure);
  IUnknown* object = nullptr;  // borrowed
  detail = 0;
  if (ws->GetDataObject(owner, &object, &detail) != S_OK)
    throw ToolError("the generic data object cannot be opened", kExitFailure);
  ComPtr<IVNDataABS_GenericData> generic;
  if (!QueryInterfaceTo(object, generic))
    throw ToolError("the generic data object offers no generic data interface", kExitFailure);
  return generic;
}

// One project in a database of its own, with the component pointed at it.
struct Session {
  refdb::RefDatabase db;
  STOBJECTID project;
  CLabelToolComponent component;

  explicit Session(const ImageSettings& settings) : project(db.NewProject(u"kx9label")), component(db.Workspace()) {
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
  if (length < 0) throw ToolError("the label image could not be written", kExitFailure);
  if (length > 0 && !owned) throw ToolError("the label writer reported an image but returned no buffer", kExitFailure);
  return owned;
}

LONG CheckedLength(std::size_t n, const char* what) {
  if (n > static_cast<std::size_t>(kLongMax))
    throw ToolError(std::string(what) + " is larger than 2 GiB", kExitFailure);
  return static_cast<LONG>(n);
}

std::string ErrnoText() { return std::strerror(errno); }

}  // namespace

std::vector<BYTE> ReadGenericData(refdb::RefDatabase& db, const STOBJECTID& project) {
  ComPtr<IVNDataABS_GenericData> generic = OpenGenericData(db, project);
  LONG length = 0;
  LONG detail = 0;
  if (generic->GetGenericData(VN_GENERIC_SYSTEM_LABEL, &length, nullptr, &detail) != S_OK)
    throw ToolError("the generic data cannot be read", kExitFailure);
  std::vector<BYTE> bytes(length > 0 ? static_cast<std::size_t>(length) : 0);
  if (!bytes.empty()) {
    detail = 0;
    if (generic->GetGenericData(VN_GENERIC_SYSTEM_LABEL, &length, bytes.data(), &detail) != S_OK)
      throw ToolError("the generic data cannot be read", kExitFailure);
  }
  return bytes;
}

void WriteGenericData(refdb::RefDatabase& db, const STOBJECTID& project, const std::vector<BYTE>& bytes) {
  ComPtr<IVNDataABS_GenericData> generic = OpenGenericData(db, project);
  LONG detail = 0;
  if (generic->SetGenericData(VN_GENERIC_SYSTEM_LABEL, CheckedLength(bytes.size(), "the generic data"), bytes.data(),
                              &detail) != S_OK)
    throw ToolError("the generic data cannot be stored", kExitFailure);
}

std::vector<BYTE> EncodeImage(LabelDocument& doc, const ImageSettings& settings) {
  Session s(settings);
  LONG length = 0;
  std::unique_ptr<BYTE[]> image = WriteImage(s, doc, 0, length);
  if (length <= 0) return {};
  return std::vector<BYTE>(image.get(), image.get() + length);
}

std::vector<BYTE> EncodeEnvelope(LabelDocument& doc, const std::optional<std::vector<BYTE>>& serviceBlock,
                                 const std::vector<BYTE>& settingsRecord, const ImageSettings& settings) {
  if (settingsRecord.size() != kSettingsSize)
    throw ToolError("the settings record must be " + std::to_string(kSettingsSize) + " bytes");
  _STKX9AUTODEVSET record{};
  std::memcpy(record.bytes, settingsRecord.data(), kSettingsSize);
  Session s(settings);
  if (!doc.genericData.empty()) WriteGenericData(s.db, s.project, doc.genericData);

  // The block arrives as the label service would hand it over: task memory,
  // or a failed GetBlock when the document has none.
  HRESULT hrBlock = E_FAIL;
  LONG blockSize = 0;
  BYTE* block = nullptr;
  if (serviceBlock) {
    blockSize = CheckedLength(serviceBlock->size(), "the service block");
    block = static_cast<BYTE*>(CoTaskMemAlloc(serviceBlock->empty() ? 1 : serviceBlock->size()));
    if (block == nullptr) throw ToolError("out of memory", kExitFailure);
    if (!serviceBlock->empty()) std::memcpy(block, serviceBlock->data(), serviceBlock->size());
    hrBlock = S_OK;
  }
  const LONG count = doc.data.Count();
  _STKX9LABELSTRUCTURE* records = doc.data.Release();
  BYTE* data = nullptr;
  LONG size = 0;
  const ULONG result = s.component.AssembleEnvelope(hrBlock, blockSize, block, count, records, record, &data, &size);
  std::unique_ptr<BYTE[]> owned(data);
  delete[] records;  // null when the writer took the records over
  if (result != KX9_OK)
    throw ToolError("the envelope could not be made (result " + std::to_string(result) + ")", kExitFailure);
  return std::vector<BYTE>(owned.get(), owned.get() + size);
}

namespace {

// The reader's findings, as the user reads them.
class FindingList : public KX9ReadDiagnostics {
 public:
  FindingList(std::vector<std::string>& out, LONGLONG base) : m_out(out), m_base(base) {}
  void Report(LONGLONG offset, LONG line, const char* what) override {
    std::string place = offset >= 0 ? "byte " + std::to_string(m_base + offset) : std::string();
    if (line > 0) place += (place.empty() ? "line " : ", line ") + std::to_string(line);
    m_out.push_back(place.empty() ? what : place + ": " + what);
  }

 private:
  std::vector<std::string>& m_out;
  LONGLONG m_base;
};

constexpr char kNoHeader[] = "no list header line: nothing is read";

}  // namespace

DecodedImage DecodeImage(const BYTE* image, std::size_t length, const ImageSettings& settings, LONGLONG base) {
  const LONG len = CheckedLength(length, "the label image");
  Session s(settings);
  DecodedImage out;
  FindingList findings(out.findings, base);
  if (len > 0) {
    const LONG count = s.component.ReadBinaryData(image, len, nullptr);
    if (count < 0) throw ToolError("the label image cannot be read (the reader failed while counting)");
    out.count = count;
    if (count == 0) findings.Report(0, 0, kNoHeader);
    if (count > 0) {
      out.data = LabelSet(count);
      if (s.component.ReadBinaryData(image, len, out.data.Data(), &findings) < 0)
        throw ToolError("the label image cannot be read (the reader failed while converting its lines)");
    }
  }
  out.genericData = ReadGenericData(s.db, s.project);
  return out;
}

DecodedEnvelope DecodeEnvelope(const std::vector<BYTE>& envelope, const ImageSettings& settings) {
  const LONG size = CheckedLength(envelope.size(), "the envelope");
  ULONG block = 0;
  if (CLabelToolComponent::GetEnvelopeBlockSize(envelope.data(), size, block) != KX9_OK) {
    if (size < 4)
      throw BadEnvelopeError("bad envelope: " + std::to_string(size) +
                             " bytes cannot hold the 4-byte service block length");
    throw BadEnvelopeError("bad envelope: its service block length " + std::to_string(block) + " is beyond its " +
                           std::to_string(size) + " bytes");
  }
  const std::size_t blockEnd = block;
  DecodedEnvelope out;
  out.serviceBlock.assign(envelope.begin(), envelope.begin() + static_cast<std::ptrdiff_t>(blockEnd));
  if (envelope.size() - blockEnd < kSettingsSize) {
    out.image.findings.push_back("byte " + std::to_string(blockEnd) +
                                 ": the envelope ends inside its settings record: no settings and no labels");
    return out;
  }
  out.settingsRecord.emplace(envelope.begin() + static_cast<std::ptrdiff_t>(blockEnd),
                             envelope.begin() + static_cast<std::ptrdiff_t>(blockEnd + kSettingsSize));
  const std::size_t imageStart = blockEnd + kSettingsSize;
  out.image = DecodeImage(envelope.data() + imageStart, envelope.size() - imageStart, settings,
                          static_cast<LONGLONG>(imageStart));
  return out;
}

std::optional<std::vector<BYTE>> ServiceBlockFromJson(const Json& document) {
  auto it = document.find("serviceBlock");
  if (it == document.end()) return std::nullopt;
  if (!it->is_string()) throw CodecError("serviceBlock: expected a hex string");
  return HexToBytes(it->get<std::string>(), "serviceBlock");
}

std::vector<BYTE> SettingsFromJson(const Json& document) {
  auto it = document.find("settings");
  if (it == document.end()) return std::vector<BYTE>(kSettingsSize, 0);
  if (!it->is_string()) throw CodecError("settings: expected a hex string");
  std::vector<BYTE> settings = HexToBytes(it->get<std::string>(), "settings");
  if (settings.size() != kSettingsSize)
    throw CodecError("settings: " + std::to_string(settings.size()) + " bytes given, " + std::to_string(kSettingsSize) +
                     " needed");
  return settings;
}

void WriteText(LabelDocument& doc, const std::string& path, LONG mode) {
  const CString widePath(Utf8ToUtf16Strict(path, "output path"));
  // The text form of no data is an empty file; the writer makes none.
  WriteFileBytes(path, {});
  if (doc.data.Count() == 0) return;
  ImageSettings settings;
  settings.mode = mode;
  Session s(settings);
  s.component.WriteTextFile(doc.data.Count(), doc.data.Data(), widePath);
}

DecodedImage ReadText(const std::string& path) {
  {
    std::ifstream check(path, std::ios::binary);
    if (!check) throw ToolError("cannot open: " + ErrnoText(), kExitFailure);
  }
  const CString widePath(Utf8ToUtf16Strict(path, "input path"));
  Session s(ImageSettings{});
  DecodedImage out;
  FindingList findings(out.findings, 0);
  out.count = s.component.ReadTextFile(widePath, nullptr);
  if (out.count == 0 && std::ifstream(path, std::ios::ate | std::ios::binary).tellg() > 0)
    findings.Report(0, 0, kNoHeader);
  if (out.count > 0) {
    out.data = LabelSet(out.count);
    s.component.ReadTextFile(widePath, out.data.Data(), &findings);
  }
  return out;
}

std::vector<BYTE> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ToolError("cannot open: " + ErrnoText(), kExitFailure);
  std::vector<BYTE> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw ToolError("read error", kExitFailure);
  return bytes;
}

void WriteFileBytes(const std::string& path, const std::vector<BYTE>& bytes) {
  WriteFileWith(path, [&](std::ostream& out) {
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  });
}

void WriteFileWith(const std::string& path, const std::function<void(std::ostream&)>& write) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw ToolError("cannot create: " + ErrnoText(), kExitFailure);
  write(out);
  out.close();
  if (!out) throw ToolError("write error", kExitFailure);
}

Json ReadJsonFile(const std::string& path) {
  std::vector<BYTE> bytes = ReadFileBytes(path);
  try {
    return Json::parse(bytes.begin(), bytes.end());
  } catch (const nlohmann::json::parse_error& e) {
    // The library's message starts with its own tag, "[json.exception...] ",
    // then "parse error at line L, column C: ...".
    std::string what = e.what();
    if (what.rfind("[json.exception.", 0) == 0 && what.find("] ") != std::string::npos)
      what.erase(0, what.find("] ") + 2);
    const std::string at = "parse error at ";
    if (what.rfind(at, 0) == 0) throw ToolError("invalid JSON at " + what.substr(at.size()));
    if (what.rfind("parse error", 0) == 0) what.erase(0, 11);
    throw ToolError("invalid JSON" + what);
  }
}

std::string OutputProblem(const std::string& path) {
  struct stat st;
  if (path.empty() || path.back() == '/' || (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
    return "is a directory";
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return "its folder " + folder + " does not exist";
  return "";
}

OutputFile::OutputFile(std::string target) : m_target(std::move(target)) {
  const std::string problem = OutputProblem(m_target);
  if (!problem.empty()) throw ToolError(problem, kExitFailure);
  const std::size_t slash = m_target.rfind('/');
  const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  std::string path = m_target.substr(0, nameAt) + "." + m_target.substr(nameAt) + ".kx9-XXXXXX";
  const int fd = ::mkstemp(path.data());
  if (fd < 0) throw ToolError("cannot create a file beside it: " + ErrnoText(), kExitFailure);
  // The new file gets the permissions of the one it replaces, or those of
  // any new file.
  struct stat st;
  mode_t mode;
  if (::stat(m_target.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  const bool ok = ::fchmod(fd, mode) == 0;
  const int error = errno;
  ::close(fd);
  if (!ok) {
    ::unlink(path.c_str());  // no destructor runs for a constructor that throws
    throw ToolError(std::string("cannot set the permissions of a new file: ") + std::strerror(error), kExitFailure);
  }
  m_path = path;
}

OutputFile::~OutputFile() {
  if (!m_committed) ::unlink(m_path.c_str());
}

void OutputFile::Commit() {
  if (::rename(m_path.c_str(), m_target.c_str()) != 0) throw ToolError("cannot replace: " + ErrnoText(), kExitFailure);
  m_committed = true;
}

}  // namespace kx9tool
