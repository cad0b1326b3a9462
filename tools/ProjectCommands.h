// File: ProjectCommands.h
//
// The kx9label commands on project files: new, import, export and show.
// A project file holds one project of one CPU series; the series is told
// by the collections the project has (standard: 13 and 17, x: 0xA2000014
// and 0xA2000015; both have their generic data). Every command opens the
// file with the database's own reader and leaves all label work to the
// component. A command that fails leaves the project file as it was.
//
// The functions throw ToolError with the file named first and the exit code
// of the failure; they print only warnings, on stderr.
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"
#include "tools/LabelTool.h"

namespace kx9tool {

using Series = CKX9ComFuncLabelStructure::KX9LabelCPUSeries;

// The component with the gathering of one kind of data reachable, for show.
class CProjectComponent : public CLabelToolComponent {
 public:
  using CKX9ComFuncLabelStructure::GetAllDataType;
  using CLabelToolComponent::CLabelToolComponent;
};

// An opened project file: the database read from it, its one project and
// the component pointed at that project with the project's series.
class ProjectFile {
 public:
  // Fails with kExitFailure on a path that is missing, unreadable or a
  // folder, and on a file that is no sound project file of one project of
  // one series, with the database's word for what is wrong.
  ProjectFile(std::string path, bool quiet);
  ProjectFile(const ProjectFile&) = delete;
  ProjectFile& operator=(const ProjectFile&) = delete;

  const std::string& Path() const { return m_path; }
  refdb::RefDatabase& Db() { return m_db; }
  const STOBJECTID& Project() const { return m_project; }
  Series GetSeries() const { return m_series; }
  CProjectComponent& Component() { return *m_component; }
  bool Quiet() const { return m_quiet; }
  // Writes the database back over the file in one transaction.
  void Save();

 private:
  std::string m_path;
  bool m_quiet;
  refdb::RefDatabase m_db;
  STOBJECTID m_project = STOBJECTID::Null();
  Series m_series = CKX9ComFuncLabelStructure::KX9LabelCPUSeriesStandard;
  std::unique_ptr<CProjectComponent> m_component;  // after m_db: goes first
};

// "standard" or "x".
const char* SeriesName(Series series);

struct ProjectCommandOptions {
  std::string project;      // PROJECT
  std::string input;        // import: IN.bin
  std::string output;       // export: OUT.bin
  std::string settings;     // export: a 104-byte settings file, or "" for zeros
  std::string settingsOut;  // import: where the returned settings go, or ""
  std::string name;         // new: the project's name, or "" for the file's stem
  Series series = CKX9ComFuncLabelStructure::KX9LabelCPUSeriesStandard;  // new
  bool force = false;                                                    // new: replace a file that is there
  bool quiet = false;                                                    // no progress bar
  bool json = false;                                                     // show
  std::size_t limit = static_cast<std::size_t>(-1);                      // show: rows per list
};

// Each returns the exit code.
int NewProjectCommand(const ProjectCommandOptions& o);
// A result of SetAllData other than 0 leaves the file as it was: exit 1 for
// an envelope the component refuses (4, 8), 2 for any other.
int ImportCommand(const ProjectCommandOptions& o);
int ExportCommand(const ProjectCommandOptions& o);
int ShowCommand(std::ostream& out, const ProjectCommandOptions& o);

}  // namespace kx9tool
