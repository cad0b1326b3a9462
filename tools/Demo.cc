// File: Demo.cc
//
// The sample project and the round trips of `kx9label demo`.
#include "tools/Demo.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "tools/LabelTool.h"
#include "tools/ProjectCommands.h"

namespace kx9tool {

namespace {

using Series = CKX9ComFuncLabelStructure::KX9LabelCPUSeries;

// --- sample records ----------------------------------------------------------

_STKX9LABELSTRUCTURESDTDATA* Member(ULONG lineNo, const char16_t* name, const char16_t* type, const char16_t* init,
                                    const char16_t* comment) {
  auto* m = new _STKX9LABELSTRUCTURESDTDATA();
  m->lineNo = lineNo;
  m->name = name;
  m->dataTypeName = type;
  m->initData = init;
  m->comments[0] = comment;
  return m;
}

_STKX9LABELSTRUCTUREGVLDATA* Variable(ULONG lineNo, const char16_t* name, const char16_t* type, const char16_t* device,
                                      const char16_t* comment) {
  auto* v = new _STKX9LABELSTRUCTUREGVLDATA();
  v->lineNo = lineNo;
  v->name = name;
  v->dataTypeName = type;
  v->comments[0] = comment;
  v->devices.Add(_STKX9LABELSTRUCTUREGVLDEVICE{CString(device), CString()});
  return v;
}

void MakeSystemLabel(_STKX9LABELSTRUCTUREGVLDATA* v, LONG id, LONG status, WORD attribute, LONG dataType, WORD dataSize,
                     const char16_t* localName) {
  _STKX9SYSTEMLABELDATA& s = v->systemLabel;
  s.ID = id;
  s.name = v->name;
  s.programName = u"MAIN";
  s.CPUID = 1;
  s.attribute = attribute;
  s.status = status;
  s.projectID = 7;
  s.listID = 3;
  s.dataType = dataType;
  s.dataSize = dataSize;
  s.localName = localName;
}

// Two SDTs and two GVLs; texts with commas, backslashes, CR LF and
// characters beyond ASCII (all within code page 1252, so that the standard
// series keeps them). The X series adds text only UTF-16 holds and an empty
// list.
LabelSet SampleData(bool wideText) {
  LabelSet set(wideText ? 5 : 4);
  _STKX9LABELSTRUCTURE* d = set.Data();

  d[0].dataType = KX9_DATATYPE_SDT;
  d[0].name = u"Axis";
  d[0].elements.Add(Member(1, u"Position", u"DINT", u"0", u"Position, in \u00b5m"));
  d[0].elements.Add(Member(2, u"Velocity", u"LREAL", u"0.0", u"Limit: C:\\axis\\vmax"));
  d[0].elements.Add(Member(3, u"Enabled", u"BOOL", u"FALSE", u"Line 1\r\nLine 2"));

  d[1].dataType = KX9_DATATYPE_SDT;
  d[1].name = u"Point";
  d[1].elements.Add(Member(1, u"x", u"DINT", u"", u"X, in mm"));
  d[1].elements.Add(Member(2, u"y", u"DINT", u"", u"Y, in mm"));

  d[2].dataType = KX9_DATATYPE_GVL;
  d[2].name = u"Global";
  auto* speed = Variable(1, u"Speed", u"INT", u"D100", u"motor speed, rpm");
  speed->initData = u"1500";
  speed->remark = u"ends in a backslash\\";
  d[2].elements.Add(speed);
  auto* temp = Variable(2, u"Temperatur", u"FLOAT", u"D200", u"Temperatur in \u00b0C, \u00dcberwachung");
  temp->classKeyword = 1;
  temp->initData = u"20.5";
  d[2].elements.Add(temp);
  auto* axis = new _STKX9LABELSTRUCTUREGVLDATA();
  axis->lineNo = 3;
  axis->name = u"Axis1";
  axis->dataTypeName = u"Axis";
  axis->structType = 1;
  axis->comments[0] = wideText ? u"\u8ef8 1 (\u56de\u8ee2)" : u"axis 1, main";
  for (const char16_t* dev : {u"D300", u"D302", u"M10"})
    axis->devices.Add(_STKX9LABELSTRUCTUREGVLDEVICE{CString(dev), CString(u"U0")});
  d[2].elements.Add(axis);
  auto* buffer = Variable(4, u"Buffer", u"WORD", u"D1000", u"ten words");
  buffer->arraySizes.Add(_STARRAYSIZEINFO{0, 9});
  buffer->exAccess = u"1";
  d[2].elements.Add(buffer);

  d[3].dataType = KX9_DATATYPE_GVL;
  d[3].name = u"System";
  auto* sm400 = Variable(1, u"AlwaysOn", u"BOOL", u"SM400", u"always ON");
  MakeSystemLabel(sm400, 1001, 2, 3, 1, 1, u"Immer EIN");
  d[3].elements.Add(sm400);
  auto* sd200 = Variable(2, u"ClockData", u"WORD", u"SD200", u"clock, year");
  MakeSystemLabel(sd200, 1002, 5, 1, 4, 1, u"Uhr");
  d[3].elements.Add(sd200);
  auto* sx = Variable(3, u"ScanTime", u"DWORD", u"SD520", u"scan time \\ 0.1 ms");
  MakeSystemLabel(sx, 1003, 4, 0, 5, 2, u"Zykluszeit");
  d[3].elements.Add(sx);
  d[3].elements.Add(Variable(4, u"Plain", u"INT", u"D10", u"no system label"));

  if (wideText) {
    // Only rows can hold a list without variables: a classic list gets its
    // variable collection with its first variable.
    d[4].dataType = KX9_DATATYPE_GVL;
    d[4].name = u"Empty";
  }
  return set;
}

std::vector<BYTE> SampleServiceBlock() {
  const char tag[] = "KX9-SERVICE-BLOCK";
  std::vector<BYTE> block(4 + sizeof tag - 1);
  block[0] = static_cast<BYTE>(block.size());
  std::memcpy(block.data() + 4, tag, sizeof tag - 1);
  return block;
}

_STKX9AUTODEVSET SampleSettings() {
  _STKX9AUTODEVSET s{};
  for (std::size_t i = 0; i < sizeof s.bytes; ++i) s.bytes[i] = static_cast<BYTE>(i * 7 + 1);
  return s;
}

// --- output helpers ------------------------------------------------------------

std::string Hex(ULONGLONG v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

// The demo drives the commands as a user would, one file after another;
// its sample is too small for a progress bar.
constexpr bool kQuiet = true;

ProjectCommandOptions Command(const std::string& project) {
  ProjectCommandOptions o;
  o.project = project;
  o.quiet = kQuiet;
  return o;
}

void NewProjectFile(const std::string& path, Series series, const char* name) {
  ProjectCommandOptions o = Command(path);
  o.series = series;
  o.name = name;
  o.force = true;  // a kept folder may hold the files of an earlier run
  NewProjectCommand(o);
}

// A command that must succeed for the round trip to go on.
void Require(int exitCode, const std::string& what) {
  if (exitCode != kExitOk) throw ToolError(what + " ended with exit code " + std::to_string(exitCode));
}

void Lookups(std::ostream& out, CLabelToolComponent& component) {
  out << "\nlookups:\n";
  for (const char16_t* name : {u"Axis", u"Point", u"axis"}) {
    STOBJECTID id = STOBJECTID::Null();
    ULONG found = component.GetStructDataID(CString(name), id);
    out << "  GetStructDataID(\"" << ToUtf8(name) << "\") = " << found;
    // High-capacity IDs share their key and differ in word 3.
    if (found == KX9_OK) out << ", key " << Hex(id.Key()) << ", word 3 " << id.dwWord[3];
    out << "\n";
  }
  struct Query {
    const char16_t* type;
    int inBytes;
  };
  for (const Query& q : {Query{u"dword", 0}, Query{u"DINT", 1}, Query{u"LREAL", 0}, Query{u"REAL", 0}}) {
    WORD size = 0xFFFF;
    BYTE alloc = 0xFF;
    ULONG res = component.GetTypeAndSizeForAllocDB(CString(q.type), q.inBytes, size, alloc);
    out << "  GetTypeAndSizeForAllocDB(\"" << ToUtf8(q.type) << "\", " << (q.inBytes ? "bytes" : "words")
        << ") = " << res;
    if (size == 0xFFFF && alloc == 0xFF)
      out << ", not a basic type (outputs untouched)\n";
    else
      out << ", size " << size << ", allocation type " << static_cast<int>(alloc) << "\n";
  }
}

// One series: new project file with the sample, show, look up, export,
// decode, import into a new project file, export again.
// Returns true when the second export equals the first.
bool RoundTrip(std::ostream& out, const std::string& dir, Series series, const char* tag) {
  const bool x = series == CKX9ComFuncLabelStructure::KX9LabelCPUSeriesX;
  out << "== " << tag << " series (CPU series " << static_cast<LONG>(series) << ", image text "
      << (series == CKX9ComFuncLabelStructure::KX9LabelCPUSeriesStandard
              ? "code page " + std::to_string(GetThreadAnsiCodePage())
              : std::string("UTF-16LE"))
      << ") ==\n";
  const std::string base = dir + "/" + tag;

  const std::string sourcePath = base + "-demo.kx9";
  NewProjectFile(sourcePath, series, "Demo");
  const std::vector<BYTE> block = SampleServiceBlock();
  {
    ProjectFile source(sourcePath, kQuiet);
    LabelSet sample = SampleData(x);
    const ULONG r = source.Component().CreateAllData(sample.Count(), sample.Data());
    if (r != KX9_OK) {
      out << "building the sample project failed: " << r << " (" << KX9ResultMeaning(r) << ")\n";
      return false;
    }
    source.Db().SetServiceBlock(source.Project(), block);
    WriteGenericData(source.Db(), source.Project(), {'G', 'E', 'N', 0x00, 0x01, 0xFE, 0xFF});
    source.Save();
  }
  out << "new " << sourcePath << ", with the sample project saved into it:\n";
  Require(ShowCommand(out, Command(sourcePath)), "show");
  {
    ProjectFile reopened(sourcePath, kQuiet);
    Lookups(out, reopened.Component());
  }

  const _STKX9AUTODEVSET settings = SampleSettings();
  const std::string settingsPath = base + "-settings.bin";
  About(settingsPath, [&] { WriteFileBytes(settingsPath, std::vector<BYTE>(settings.bytes, settings.bytes + 104)); });
  ProjectCommandOptions exportFirst = Command(sourcePath);
  exportFirst.output = base + "-export.bin";
  exportFirst.settings = settingsPath;
  Require(ExportCommand(exportFirst), "export");
  const std::vector<BYTE> first = About(exportFirst.output, [&] { return ReadFileBytes(exportFirst.output); });
  out << "export: " << first.size() << " bytes (service block " << block.size() << ", settings 104, label image "
      << first.size() - block.size() - 104 << ") -> " << exportFirst.output << "\n";

  ImageSettings imageSettings;
  imageSettings.series = static_cast<LONG>(series);
  DecodedEnvelope decoded = DecodeEnvelope(first, imageSettings);
  int systemLabels = 0;
  for (LONG i = 0; i < decoded.image.data.Count(); ++i) {
    const _STKX9LABELSTRUCTURE& d = decoded.image.data.Data()[i];
    if (d.dataType != KX9_DATATYPE_GVL) continue;
    for (int k = 0; k < d.elements.GetSize(); ++k)
      if (static_cast<const _STKX9LABELSTRUCTUREGVLDATA*>(d.elements[k])->systemLabel.status != 0) ++systemLabels;
  }
  out << "decode: " << decoded.image.count << " data, " << systemLabels << " system labels, generic data "
      << BytesToHex(decoded.image.genericData) << ", service block "
      << (decoded.serviceBlock == block ? "as stored" : "CHANGED") << ", settings "
      << (decoded.settingsRecord && std::memcmp(decoded.settingsRecord->data(), settings.bytes, 104) == 0 ? "as given"
                                                                                                          : "CHANGED")
      << "\n";

  const std::string targetPath = base + "-imported.kx9";
  NewProjectFile(targetPath, series, "Fresh");
  ProjectCommandOptions import = Command(targetPath);
  import.input = exportFirst.output;
  import.settingsOut = base + "-settings-returned.bin";
  Require(ImportCommand(import), "import");
  const std::vector<BYTE> returned = About(import.settingsOut, [&] { return ReadFileBytes(import.settingsOut); });
  out << "import into new " << targetPath << ": settings "
      << (returned.size() == 104 && std::memcmp(returned.data(), settings.bytes, 104) == 0 ? "returned"
                                                                                           : "NOT returned")
      << "\n";
  {
    ProjectFile target(targetPath, kQuiet);
    const ULONG r = target.Component().GetAllSystemLabelData();
    CKX9ComFuncLabelStructure::CGVLDataArray collected;
    target.Component().GetDeleteSystemLabelInf(collected);
    out << "system labels of kept statuses in the imported project: " << collected.GetSize() << " (result " << r
        << ")\n";
    for (int i = 0; i < collected.GetSize(); ++i) delete collected[i];  // the host's records
  }

  ProjectCommandOptions exportSecond = Command(targetPath);
  exportSecond.output = base + "-reexport.bin";
  exportSecond.settings = settingsPath;
  Require(ExportCommand(exportSecond), "export");
  const std::vector<BYTE> second = About(exportSecond.output, [&] { return ReadFileBytes(exportSecond.output); });
  out << "export again: " << second.size() << " bytes -> " << exportSecond.output << "\n";
  return second == first;
}

// The folder of the demo's files: the one asked for, kept, or a new
// temporary one, removed with everything in it.
class DemoDir {
 public:
  explicit DemoDir(const std::string& keep) : m_path(keep), m_temporary(keep.empty()) {
    if (m_temporary) {
      const char* tmp = std::getenv("TMPDIR");
      m_path = std::string(tmp && *tmp ? tmp : "/tmp") + "/kx9label-demo-XXXXXX";
      if (::mkdtemp(m_path.data()) == nullptr)
        throw ToolError(m_path + ": cannot create: " + std::strerror(errno), kExitFailure);
    } else if (::mkdir(m_path.c_str(), 0755) != 0 && errno != EEXIST) {
      throw ToolError(m_path + ": cannot create: " + std::strerror(errno), kExitFailure);
    }
  }
  ~DemoDir() {
    std::error_code ignored;
    if (m_temporary) std::filesystem::remove_all(m_path, ignored);
  }
  DemoDir(const DemoDir&) = delete;
  DemoDir& operator=(const DemoDir&) = delete;
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
  bool m_temporary;
};

// A failing series must not keep the other from running.
bool GuardedRoundTrip(std::ostream& out, const std::string& dir, Series series, const char* tag) {
  try {
    return RoundTrip(out, dir, series, tag);
  } catch (const std::exception& e) {
    out << tag << " series failed: " << e.what() << "\n";
    return false;
  }
}

}  // namespace

int RunDemo(std::ostream& out, const std::string& keepDir) {
  const DemoDir folder(keepDir);
  const std::string& dir = folder.Path();
  const bool standard = GuardedRoundTrip(out, dir, CKX9ComFuncLabelStructure::KX9LabelCPUSeriesStandard, "standard");
  const bool x = GuardedRoundTrip(out, dir, CKX9ComFuncLabelStructure::KX9LabelCPUSeriesX, "x");
  // The verdicts close the output, standard first, for callers that read
  // only the last lines.
  out << "round trip standard: " << (standard ? "identical" : "different") << "\n";
  out << "round trip x: " << (x ? "identical" : "different") << "\n";
  return standard && x ? 0 : 1;
}

}  // namespace kx9tool
