// File: ProjectCommands.cc
//
// The project-file commands of kx9label.
#include "tools/ProjectCommands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <limits>
#include <utility>
#include <vector>

#include "tools/Progress.h"

namespace kx9tool {

namespace {

constexpr std::size_t kSettingsSize = sizeof(_STKX9AUTODEVSET);
constexpr auto kKeepSeries = static_cast<Series>(-1);

std::string ResultText(ULONG result) {
  return "result " + std::to_string(result) + " (" + KX9ResultMeaning(result) + ")";
}

// The database names the file in front of its message; the tool does that
// itself, and for a file of its own choosing under another name.
std::string WithoutPath(const std::string& error, const std::string& path) {
  const std::string prefix = path + ": ";
  return error.rfind(prefix, 0) == 0 ? error.substr(prefix.size()) : error;
}

// An input path that names a readable file, or a failure to run.
void RequireInputFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) throw ToolError(path + ": cannot open: " + std::strerror(errno), kExitFailure);
  if (S_ISDIR(st.st_mode)) throw ToolError(path + ": is a directory", kExitFailure);
  if (::access(path.c_str(), R_OK) != 0) throw ToolError(path + ": cannot open: " + std::strerror(errno), kExitFailure);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool HasChild(refdb::RefDatabase& db, const STOBJECTID& project, LONG type) {
  return !db.ChildOfType(project, type).IsNull();
}

LONG CheckedSize(std::size_t n, const std::string& path) {
  if (n > static_cast<std::size_t>(std::numeric_limits<LONG>::max()))
    throw ToolError(path + ": larger than 2 GiB", kExitFailure);
  return static_cast<LONG>(n);
}

}  // namespace

const char* SeriesName(Series series) {
  return series == CKX9ComFuncLabelStructure::KX9LabelCPUSeriesX ? "x" : "standard";
}

// --- ProjectFile -----------------------------------------------------------

ProjectFile::ProjectFile(std::string path, bool quiet) : m_path(std::move(path)), m_quiet(quiet) {
  RequireInputFile(m_path);
  std::string error;
  bool loaded = false;
  {
    Progress progress(m_db, "open", m_quiet);
    loaded = m_db.LoadFromFile(m_path, &error);
  }
  if (!loaded) throw ToolError(m_path + ": " + WithoutPath(error, m_path), kExitFailure);

  const std::vector<STOBJECTID> projects = m_db.Projects();
  if (projects.size() != 1)
    throw ToolError(
        m_path + ": holds " + std::to_string(projects.size()) + " projects; kx9label works on a file of one project",
        kExitFailure);
  m_project = projects.front();
  const bool classic =
      HasChild(m_db, m_project, VN_TYPE_GVL_COLLECTION) && HasChild(m_db, m_project, VN_TYPE_SDT_COLLECTION);
  const bool x =
      HasChild(m_db, m_project, VN_TYPE_GVL_COLLECTION_X) && HasChild(m_db, m_project, VN_TYPE_SDT_COLLECTION_X);
  if (classic == x)
    throw ToolError(m_path +
                        (classic ? ": its project has the collections of both CPU series"
                                 : ": its project has the collections of neither CPU series") +
                        ", so its series cannot be told",
                    kExitFailure);
  m_series = x ? CKX9ComFuncLabelStructure::KX9LabelCPUSeriesX : CKX9ComFuncLabelStructure::KX9LabelCPUSeriesStandard;

  m_component = std::make_unique<CProjectComponent>(m_db.Workspace());
  m_component->Initialize(m_project);
  m_component->SetCPUSeries(m_series);
  m_component->SetMode(CKX9ComFuncLabelStructure::KX9LabelModeNormal);
}

void ProjectFile::Save() {
  std::string error;
  bool saved = false;
  {
    Progress progress(m_db, "save", m_quiet, m_db.ElementsHeld());
    saved = m_db.SaveToFile(m_path, &error);
  }
  if (!saved) throw ToolError(m_path + ": not saved: " + WithoutPath(error, m_path), kExitFailure);
}

// --- new -------------------------------------------------------------------

int NewProjectCommand(const ProjectCommandOptions& o) {
  const std::string problem = OutputProblem(o.project);
  if (!problem.empty()) throw ToolError(o.project + ": " + problem, kExitFailure);
  if (Exists(o.project) && !o.force) throw ToolError(o.project + ": exists; --force replaces it", kExitFailure);
  // A write-ahead log left beside the file belongs to the file that is
  // there; the database would replay it into the new one.
  if (Exists(o.project + "-wal"))
    throw ToolError(o.project + ": " + o.project +
                        "-wal exists: the project is open in another program, or one stopped while writing it",
                    kExitFailure);

  const std::string name = o.name.empty() ? std::filesystem::path(o.project).stem().string() : o.name;
  const std::u16string wideName = About(o.project, [&] { return Utf8ToUtf16Strict(name, "the project name"); });

  refdb::RefDatabase db;
  refdb::ProjectOptions collections;
  collections.classicCollections = o.series != CKX9ComFuncLabelStructure::KX9LabelCPUSeriesX;
  collections.highCapacityCollections = !collections.classicCollections;
  collections.genericData = true;
  db.NewProject(wideName, collections);

  About(o.project, [&] {
    OutputFile out(o.project);
    std::string error;
    bool saved = false;
    {
      Progress progress(db, "save", o.quiet);
      saved = db.SaveToFile(out.Path(), &error);
    }
    if (!saved) throw ToolError(WithoutPath(error, out.Path()), kExitFailure);
    out.Commit();
  });
  return kExitOk;
}

// --- import ------------------------------------------------------------------

int ImportCommand(const ProjectCommandOptions& o) {
  RequireInputFile(o.input);
  const std::vector<BYTE> envelope = About(o.input, [&] { return ReadFileBytes(o.input); });
  const LONG size = CheckedSize(envelope.size(), o.input);
  // Made before the import, so that a folder that cannot take it stops the
  // command before anything is saved.
  std::unique_ptr<OutputFile> settingsOut;
  if (!o.settingsOut.empty())
    settingsOut = About(o.settingsOut, [&] { return std::make_unique<OutputFile>(o.settingsOut); });
  ProjectFile project(o.project, o.quiet);

  _STKX9AUTODEVSET returned{};
  ULONG result = KX9_OK;
  {
    Progress progress(project.Db(), "import", o.quiet);
    result = project.Component().SetAllData(envelope.data(), size, returned, kKeepSeries);
  }
  // Replacing the labels hands the system labels it deleted to the host,
  // which frees them.
  CKX9ComFuncLabelStructure::CGVLDataArray deleted;
  project.Component().GetDeleteSystemLabelInf(deleted);
  for (int i = 0; i < deleted.GetSize(); ++i) delete deleted[i];
  if (result != KX9_OK) {
    // The database is not saved: whatever SetAllData did before it stopped
    // stays in memory.
    std::string why;
    ULONG blockSize = 0;
    if (result == KX9_ERR_ARG && CLabelToolComponent::GetEnvelopeBlockSize(envelope.data(), size, blockSize) != KX9_OK)
      why = size < 4 ? ": " + std::to_string(size) + " bytes cannot hold the 4-byte service block length"
                     : ": its service block length " + std::to_string(blockSize) + " is beyond its " +
                           std::to_string(size) + " bytes";
    throw ToolError(o.input + ": not imported: " + ResultText(result) + why + "; " + o.project + " is unchanged",
                    kExitFailure);
  }

  // An envelope that ends inside its settings record gives its service
  // block only: the labels stay and no settings come back.
  ULONG blockSize = 0;
  CLabelToolComponent::GetEnvelopeBlockSize(envelope.data(), size, blockSize);
  const bool hasSettings = envelope.size() - blockSize >= kSettingsSize;
  if (settingsOut && hasSettings)
    About(o.settingsOut, [&] {
      WriteFileBytes(settingsOut->Path(), std::vector<BYTE>(returned.bytes, returned.bytes + kSettingsSize));
    });
  project.Save();
  if (!hasSettings) {
    std::cerr << "kx9label: " << o.input
              << ": the envelope ends inside its settings record: only its service block was imported"
              << (settingsOut ? ", and " + o.settingsOut + " is not written" : std::string()) << "\n";
    return kExitProblem;
  }
  if (settingsOut) About(o.settingsOut, [&] { settingsOut->Commit(); });
  return kExitOk;
}

// --- export ------------------------------------------------------------------

int ExportCommand(const ProjectCommandOptions& o) {
  _STKX9AUTODEVSET settings{};
  if (!o.settings.empty()) {
    RequireInputFile(o.settings);
    const std::vector<BYTE> bytes = About(o.settings, [&] { return ReadFileBytes(o.settings); });
    if (bytes.size() != kSettingsSize)
      throw ToolError(o.settings + ": " + std::to_string(bytes.size()) + " bytes; a settings record is " +
                          std::to_string(kSettingsSize),
                      kExitFailure);
    std::memcpy(settings.bytes, bytes.data(), kSettingsSize);
  }
  ProjectFile project(o.project, o.quiet);
  auto out = About(o.output, [&] { return std::make_unique<OutputFile>(o.output); });

  BYTE* data = nullptr;
  LONG size = 0;
  ULONG result = KX9_OK;
  {
    Progress progress(project.Db(), "export", o.quiet, project.Db().ElementsHeld());
    result = project.Component().GetAllData(&data, &size, settings);
  }
  const std::unique_ptr<BYTE[]> owned(data);
  if (result != KX9_OK) throw ToolError(o.project + ": not exported: " + ResultText(result), kExitFailure);
  About(o.output, [&] {
    WriteFileWith(out->Path(), [&](std::ostream& s) {
      if (size > 0) s.write(reinterpret_cast<const char*>(owned.get()), size);
    });
    out->Commit();
  });
  return kExitOk;
}

// --- show --------------------------------------------------------------------

namespace {

// A text for a column: UTF-8, with the control characters escaped so that
// every row stays on its line.
std::string Cell(const CString& s) {
  std::string out;
  for (char c : ToUtf8(s.View())) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

// Columns a UTF-8 text takes on a terminal: East Asian wide characters take
// two.
std::size_t Width(const std::string& s) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    std::uint32_t c = n == 1 ? b : b & (0x3F >> (n - 1));
    for (std::size_t k = 1; k < n && i + k < s.size(); ++k)
      c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += n;
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
                      (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
    width += wide ? 2 : 1;
  }
  return width;
}

// Rows in aligned columns. A column is as wide as its widest cell up to a
// cap, so that one long text shifts its own row only; the last column is
// not padded.
class Table {
 public:
  struct Column {
    const char* header;
    bool right;
  };
  explicit Table(std::vector<Column> columns) : m_columns(std::move(columns)) {}
  void Add(std::vector<std::string> row) { m_rows.push_back(std::move(row)); }
  void Print(std::ostream& out, const std::string& indent) const {
    constexpr std::size_t kCap = 40;
    std::vector<std::size_t> widths;
    for (const Column& c : m_columns) widths.push_back(Width(c.header));
    for (const auto& row : m_rows)
      for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], std::min(Width(row[i]), kCap));
    const auto line = [&](const std::vector<std::string>& cells) {
      std::string text = indent;
      for (std::size_t i = 0; i < cells.size(); ++i) {
        const std::size_t w = Width(cells[i]);
        const std::string pad(w < widths[i] ? widths[i] - w : 0, ' ');
        const bool last = i + 1 == cells.size();
        if (i > 0) text += "  ";
        if (m_columns[i].right) text += pad;
        text += cells[i];
        if (!m_columns[i].right && !last) text += pad;
      }
      while (!text.empty() && text.back() == ' ') text.pop_back();
      out << text << '\n';
    };
    std::vector<std::string> headers;
    for (const Column& c : m_columns) headers.emplace_back(c.header);
    line(headers);
    for (const auto& row : m_rows) line(row);
  }

 private:
  std::vector<Column> m_columns;
  std::vector<std::vector<std::string>> m_rows;
};

std::string Plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void PrintMore(std::ostream& out, const std::string& indent, std::size_t total, std::size_t shown, const char* one,
               const char* many) {
  if (shown < total)
    out << indent << "... and " << total - shown << " more " << (total - shown == 1 ? one : many) << "\n";
}

std::string Device(const CArray<_STKX9LABELSTRUCTUREGVLDEVICE>& devices) {
  if (devices.GetSize() == 0) return "";
  std::string text = Cell(devices[0].device);
  if (!devices[0].deviceExtra.IsEmpty()) text += "/" + Cell(devices[0].deviceExtra);
  if (devices.GetSize() > 1) text += " (+" + std::to_string(devices.GetSize() - 1) + ")";
  return text;
}

std::string TypeWithArrays(const CString& type, const CArray<_STARRAYSIZEINFO>& sizes) {
  std::string text = Cell(type);
  for (int a = 0; a < sizes.GetSize(); ++a)
    text += "[" + std::to_string(sizes[a].value1) + ".." + std::to_string(sizes[a].value2) + "]";
  return text;
}

// The data of one kind (SDTs or GVLs), as the component gathers them.
LabelSet Gather(ProjectFile& p, LONG type, const char* what) {
  // Nearly all a project holds are variables: their count is the total.
  Progress progress(p.Db(), std::string("read ") + what, p.Quiet(),
                    type == KX9_DATATYPE_GVL ? p.Db().ElementsHeld() : 0);
  LONG count = 0;
  ULONG result = p.Component().GetAllDataType(type, &count, nullptr);
  LabelSet set(result == KX9_OK ? count : 0);
  if (result == KX9_OK && count > 0) {
    LONG filled = 0;
    result = p.Component().GetAllDataType(type, &filled, set.Data());
  }
  if (result != KX9_OK)
    throw ToolError(p.Path() + ": its " + what + " cannot be read: " + ResultText(result), kExitFailure);
  return set;
}

// The project's dynamic labels; they stay the component's, and the
// structures they build are let go at once.
CKX9ComFuncLabelStructure::CDynamicLabelArray DynamicLabels(ProjectFile& p) {
  CKX9ComFuncLabelStructure::CDynamicLabelArray labels;
  Progress progress(p.Db(), "read dynamic labels", p.Quiet());
  const ULONG result = p.Component().GetAllDynamicLabelData(labels);
  p.Component().ReleaseDynamicLabelStruct();
  if (result != KX9_OK)
    throw ToolError(p.Path() + ": its dynamic labels cannot be read: " + ResultText(result), kExitFailure);
  return labels;
}

struct SystemLabel {
  const _STKX9LABELSTRUCTURE* list;
  const _STKX9LABELSTRUCTUREGVLDATA* variable;
};

std::vector<SystemLabel> SystemLabels(const LabelSet& gvls) {
  std::vector<SystemLabel> labels;
  for (LONG i = 0; i < gvls.Count(); ++i) {
    const _STKX9LABELSTRUCTURE& d = gvls.Data()[i];
    for (int k = 0; k < d.elements.GetSize(); ++k) {
      const auto* v = static_cast<const _STKX9LABELSTRUCTUREGVLDATA*>(d.elements[k]);
      if (v != nullptr && v->systemLabel.status != 0) labels.push_back(SystemLabel{&d, v});
    }
  }
  return labels;
}

LONG ExternalFlag(ProjectFile& p) {
  LONG flag = 0;
  const ULONG result = p.Component().GetExternalEquipmentFlag(&flag);
  if (result != KX9_OK)
    throw ToolError(p.Path() + ": its external equipment flag cannot be read: " + ResultText(result), kExitFailure);
  return flag;
}

void ShowText(std::ostream& out, ProjectFile& p, std::size_t limit) {
  out << "project \"" << Cell(CString(p.Db().ObjectName(p.Project()))) << "\": " << SeriesName(p.GetSeries())
      << " series, external flag " << ExternalFlag(p) << "\n";
  const auto showElements = [&](const _STKX9LABELSTRUCTURE& d, const char* one, const char* many, Table& table,
                                const auto& row) {
    const std::size_t total = static_cast<std::size_t>(d.elements.GetSize());
    out << "  " << Cell(d.name) << " (" << Plural(total, one, many) << ")\n";
    if (total == 0) return;
    const std::size_t shown = std::min(total, limit);
    for (std::size_t k = 0; k < shown; ++k)
      if (d.elements[static_cast<int>(k)] != nullptr) table.Add(row(*d.elements[static_cast<int>(k)]));
    if (shown > 0) table.Print(out, "    ");
    PrintMore(out, "    ", total, shown, one, many);
  };

  {
    const LabelSet sdts = Gather(p, KX9_DATATYPE_SDT, "SDTs");
    const std::size_t total = static_cast<std::size_t>(sdts.Count());
    out << "\n" << Plural(total, "SDT", "SDTs") << "\n";
    const std::size_t shown = std::min(total, limit);
    for (std::size_t i = 0; i < shown; ++i) {
      Table table({{"LINE", true}, {"NAME", false}, {"TYPE", false}, {"INIT", false}, {"COMMENT", false}});
      showElements(sdts.Data()[i], "member", "members", table, [](const _STKX9LABELSTRUCTUREBASEDATA& e) {
        const auto& m = static_cast<const _STKX9LABELSTRUCTURESDTDATA&>(e);
        return std::vector<std::string>{std::to_string(m.lineNo), Cell(m.name), Cell(m.dataTypeName), Cell(m.initData),
                                        Cell(m.comments[0])};
      });
    }
    PrintMore(out, "  ", total, shown, "SDT", "SDTs");
  }

  const LabelSet gvls = Gather(p, KX9_DATATYPE_GVL, "GVLs");
  const std::size_t totalLists = static_cast<std::size_t>(gvls.Count());
  out << "\n" << Plural(totalLists, "GVL", "GVLs") << "\n";
  const std::size_t shownLists = std::min(totalLists, limit);
  for (std::size_t i = 0; i < shownLists; ++i) {
    Table table({{"LINE", true}, {"NAME", false}, {"TYPE", false}, {"DEVICE", false}, {"COMMENT", false}});
    showElements(gvls.Data()[i], "variable", "variables", table, [](const _STKX9LABELSTRUCTUREBASEDATA& e) {
      const auto& v = static_cast<const _STKX9LABELSTRUCTUREGVLDATA&>(e);
      return std::vector<std::string>{std::to_string(v.lineNo), Cell(v.name),
                                      TypeWithArrays(v.dataTypeName, v.arraySizes), Device(v.devices),
                                      Cell(v.comments[0])};
    });
  }
  PrintMore(out, "  ", totalLists, shownLists, "GVL", "GVLs");

  const std::vector<SystemLabel> labels = SystemLabels(gvls);
  out << "\n" << Plural(labels.size(), "system label", "system labels") << "\n";
  const std::size_t shownSystem = std::min(labels.size(), limit);
  if (shownSystem > 0) {
    Table table({{"GVL", false},
                 {"NAME", false},
                 {"ID", true},
                 {"STATUS", true},
                 {"DEVICE", false},
                 {"PROGRAM", false},
                 {"LOCAL NAME", false}});
    for (std::size_t i = 0; i < shownSystem; ++i) {
      const _STKX9LABELSTRUCTUREGVLDATA& v = *labels[i].variable;
      table.Add({Cell(labels[i].list->name), Cell(v.name), std::to_string(v.systemLabel.ID),
                 std::to_string(v.systemLabel.status), Device(v.devices), Cell(v.systemLabel.programName),
                 Cell(v.systemLabel.localName)});
    }
    table.Print(out, "    ");
  }
  PrintMore(out, "    ", labels.size(), shownSystem, "system label", "system labels");

  if (p.GetSeries() != CKX9ComFuncLabelStructure::KX9LabelCPUSeriesX) return;
  const CKX9ComFuncLabelStructure::CDynamicLabelArray dynamic = DynamicLabels(p);
  const std::size_t totalDynamic = static_cast<std::size_t>(dynamic.GetSize());
  out << "\n" << Plural(totalDynamic, "dynamic label", "dynamic labels") << "\n";
  const std::size_t shownDynamic = std::min(totalDynamic, limit);
  if (shownDynamic > 0) {
    Table table({{"NAME", false}, {"TYPE", false}, {"DEVICES", true}, {"FIRST DEVICE", false}});
    for (std::size_t i = 0; i < shownDynamic; ++i) {
      const _STKX9DYNAMICLABELDATA& d = *dynamic[static_cast<int>(i)];
      std::string first = Device(d.devices);
      if (const std::size_t more = first.find(" (+"); more != std::string::npos) first.erase(more);
      table.Add(
          {Cell(d.name), TypeWithArrays(d.dataTypeName, d.arraySizes), std::to_string(d.devices.GetSize()), first});
    }
    table.Print(out, "    ");
  }
  PrintMore(out, "    ", totalDynamic, shownDynamic, "dynamic label", "dynamic labels");
}

std::string Utf8(const CString& s, const std::string& where) { return Utf16ToUtf8Strict(s.View(), where); }

std::string HexKey(ULONGLONG key) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%016llx", static_cast<unsigned long long>(key));
  return buf;
}

// "<count key>": the list's length; "<list key>": its first `limit` items.
template <class Item>
void JsonList(DumpWriter& w, const char* countKey, const char* listKey, std::size_t total, std::size_t limit,
              const Item& item) {
  w.Field(countKey, total);
  w.Member(listKey);
  w.Open('[');
  for (std::size_t i = 0; i < std::min(total, limit); ++i) {
    w.Member();
    item(i);
  }
  w.Close(']');
}

// Data of one kind: each with its name and its elements in the form
// decode writes them.
void JsonData(DumpWriter& w, const LabelSet& set, const char* countKey, const char* listKey,
              const char* elementCountKey, const char* elementListKey, std::size_t limit) {
  JsonList(w, countKey, listKey, static_cast<std::size_t>(set.Count()), limit, [&](std::size_t i) {
    const _STKX9LABELSTRUCTURE& d = set.Data()[i];
    const std::string where = std::string(listKey) + "[" + std::to_string(i) + "]";
    w.Open('{');
    w.Field("name", Utf8(d.name, where + ".name"));
    JsonList(
        w, elementCountKey, elementListKey, static_cast<std::size_t>(d.elements.GetSize()), limit, [&](std::size_t k) {
          const auto* e = d.elements[static_cast<int>(k)];
          w.Value(e == nullptr ? Json(nullptr)
                               : ElementToJson(d.dataType, *e,
                                               where + "." + elementListKey + "[" + std::to_string(k) + "]", false));
        });
    w.Close('}');
  });
}

void ShowJson(std::ostream& out, ProjectFile& p, std::size_t limit) {
  DumpWriter w(out);
  w.Open('{');
  w.Field("project", Utf16ToUtf8Strict(p.Db().ObjectName(p.Project()), "project"));
  w.Field("series", SeriesName(p.GetSeries()));
  w.Field("externalFlag", ExternalFlag(p));
  JsonData(w, Gather(p, KX9_DATATYPE_SDT, "SDTs"), "sdtCount", "sdts", "memberCount", "members", limit);
  const LabelSet gvls = Gather(p, KX9_DATATYPE_GVL, "GVLs");
  JsonData(w, gvls, "gvlCount", "gvls", "variableCount", "variables", limit);

  const std::vector<SystemLabel> labels = SystemLabels(gvls);
  JsonList(w, "systemLabelCount", "systemLabels", labels.size(), limit, [&](std::size_t i) {
    const std::string where = "systemLabels[" + std::to_string(i) + "]";
    Json j = Json::object();
    j["gvl"] = Utf8(labels[i].list->name, where + ".gvl");
    j["name"] = Utf8(labels[i].variable->name, where + ".name");
    // The record's own form of the system-label part, as decode writes it.
    j["systemLabel"] = ElementToJson(KX9_DATATYPE_GVL, *labels[i].variable, where, true)["systemLabel"];
    w.Value(j);
  });

  if (p.GetSeries() == CKX9ComFuncLabelStructure::KX9LabelCPUSeriesX) {
    const CKX9ComFuncLabelStructure::CDynamicLabelArray dynamic = DynamicLabels(p);
    JsonList(w, "dynamicLabelCount", "dynamicLabels", static_cast<std::size_t>(dynamic.GetSize()), limit,
             [&](std::size_t i) {
               const _STKX9DYNAMICLABELDATA& d = *dynamic[static_cast<int>(i)];
               const std::string where = "dynamicLabels[" + std::to_string(i) + "]";
               Json j = Json::object();
               j["name"] = Utf8(d.name, where + ".name");
               j["dataTypeName"] = Utf8(d.dataTypeName, where + ".dataTypeName");
               j["structType"] = d.structType;
               Json devices = Json::array();
               for (int k = 0; k < d.devices.GetSize(); ++k)
                 devices.push_back({{"device", Utf8(d.devices[k].device, where + ".devices")},
                                    {"deviceExtra", Utf8(d.devices[k].deviceExtra, where + ".devices")}});
               j["devices"] = std::move(devices);
               Json sizes = Json::array();
               for (int k = 0; k < d.arraySizes.GetSize(); ++k)
                 sizes.push_back({{"value1", d.arraySizes[k].value1}, {"value2", d.arraySizes[k].value2}});
               j["arraySizes"] = std::move(sizes);
               j["rowID"] = d.rowID;
               j["listKey"] = HexKey(d.listKey);
               j["structKey"] = HexKey(d.structKey);
               if (d.hasDynamicAttr2 != 0) j["dynamicAttr2"] = d.dynamicAttr2Value;
               if (d.hasDynamicAttr5 != 0) j["dynamicAttr5"] = d.dynamicAttr5Value;
               j["dynamicAttr3"] = d.dynamicAttr3;
               w.Value(j);
             });
  }
  w.Close('}');
  out << '\n';
}

}  // namespace

int ShowCommand(std::ostream& out, const ProjectCommandOptions& o) {
  ProjectFile project(o.project, o.quiet);
  try {
    if (o.json)
      ShowJson(out, project, o.limit);
    else
      ShowText(out, project, o.limit);
  } catch (const CodecError& e) {  // a text JSON cannot hold
    throw ToolError(o.project + ": " + e.what(), kExitProblem);
  }
  return kExitOk;
}

}  // namespace kx9tool
