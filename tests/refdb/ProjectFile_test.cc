// The project file: a saved database loads back to the same rows, a foreign
// or damaged file is refused without touching the database, a save killed
// at any moment leaves the old or the new project, and a second writer is
// turned away while readers go on.
#include "refdb/ProjectFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <thread>

#include "tests/refdb/RefdbTestUtil.h"
#include "tests/support/LabelFixtures.h"

namespace {

namespace fx = refdb_fixtures;
using refdb::RefDatabase;
using refdb_test::Query;
using refdb_test::Sample;
using Rows = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// A project file under the test directory, removed with its WAL and
// shared-memory files.
struct TempFile {
  std::string path;
  explicit TempFile(const std::string& name)
      : path(::testing::TempDir() + "kx9_" + name + "_" + std::to_string(::getpid()) + ".kx9") {
    Remove();
  }
  ~TempFile() { Remove(); }
  void Remove() const {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::remove((path + suffix).c_str());
  }
};

// A connection of our own to a file, as another program would open it.
struct Connection {
  sqlite3* db = nullptr;
  explicit Connection(const std::string& path) {
    EXPECT_EQ(SQLITE_OK, sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr)) << path;
  }
  ~Connection() { sqlite3_close(db); }
  // Empty when every statement of `sql` ran, else SQLite's message.
  std::string Exec(const std::string& sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    std::string text = rc == SQLITE_OK ? "" : message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    return text;
  }
  // Calls `row` on each result row of the statement `sql`.
  void Each(const std::string& sql, const std::function<void(sqlite3_stmt*)>& row) {
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr)) << sql << ": " << sqlite3_errmsg(db);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) row(s);
    EXPECT_EQ(SQLITE_DONE, rc) << sql << ": " << sqlite3_errmsg(db);
    sqlite3_finalize(s);
  }
  // Rows as "value|value|...": texts quoted, blobs as x'hex', NULL as NULL.
  Rows Select(const std::string& sql) {
    Rows rows;
    Each(sql, [&](sqlite3_stmt* s) { rows.push_back(RowText(s)); });
    return rows;
  }
  static std::string RowText(sqlite3_stmt* s) {
    std::string out;
    for (int i = 0; i < sqlite3_column_count(s); ++i) {
      if (i > 0) out += '|';
      const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(s, i));
      const int n = sqlite3_column_bytes(s, i);
      switch (sqlite3_column_type(s, i)) {
        case SQLITE_NULL:
          out += "NULL";
          break;
        case SQLITE_INTEGER:
          out += std::to_string(sqlite3_column_int64(s, i));
          break;
        case SQLITE_FLOAT:
          out += "real " + std::to_string(sqlite3_column_double(s, i));
          break;
        case SQLITE_TEXT:
          out += '\'' + std::string(reinterpret_cast<const char*>(p), std::size_t(n)) + '\'';
          break;
        default:
          out += "x'";
          for (int k = 0; k < n; ++k) out += "0123456789abcdef"[p[k] >> 4], out += "0123456789abcdef"[p[k] & 15];
          out += '\'';
      }
    }
    return out;
  }
  // Every table's rows, tables by name and rows by primary key, each as
  // "table: row".
  void EachTableRow(const std::function<void(const std::string&)>& f) {
    Rows tables;
    Each("SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name",
         [&](sqlite3_stmt* s) { tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0))); });
    for (const std::string& table : tables) {
      std::string order;
      Each("SELECT name FROM pragma_table_info('" + table + "') WHERE pk > 0 ORDER BY pk", [&](sqlite3_stmt* s) {
        order += (order.empty() ? "" : ", ") + std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
      });
      Each("SELECT * FROM " + table + " ORDER BY " + (order.empty() ? "rowid" : order),
           [&](sqlite3_stmt* s) { f(table + ": " + RowText(s)); });
    }
  }
  Rows TableRows() {
    Rows rows;
    EachTableRow([&](const std::string& row) { rows.push_back(row); });
    return rows;
  }
  // FNV-1a over every table row, for files too big to keep as text.
  std::uint64_t Digest() {
    std::uint64_t h = 14695981039346656037ull;
    EachTableRow([&](const std::string& row) {
      for (char c : row + '\n') h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    });
    return h;
  }
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// Project names, object count and the rows of every high-capacity GVL: what
// tells an old project from a new one after a load.
std::string Summary(RefDatabase& db) {
  std::string out = std::to_string(db.ObjectCount());
  for (const STOBJECTID& project : db.Projects()) {
    out += " " + ToUtf8(db.ObjectName(project)) + ":";
    for (const STOBJECTID& gvl : db.Children(db.ChildOfType(project, VN_TYPE_GVL_COLLECTION_X))) {
      LONG count = -1, d = 0;
      EXPECT_EQ(S_OK, Query<IVNDataABS_HighCapacityGlobalVariable>(db, gvl)->GetRowCount(&count, &d));
      out += " " + std::to_string(count);
    }
  }
  return out;
}

// Puts something into every kind of state the file carries: every table gets
// rows. Texts include a lone surrogate (stored as a BLOB) and, in a row, both
// an empty and a null text.
void Populate(Sample& s) {
  LONG d = 0, first = 1001, fresh = 0;
  const BYTE blob[] = {1, 2};
  fx::VariableSpec v;
  v.name = u"Var \u65e5", v.typeCode = 9, v.memberDevices = {{u"D0", u"E0"}}, v.systemLabel.status = 3;
  std::vector<fx::VariableRowSpec> rows(4);
  rows[1].memberDevices = {{u"D1", u""}};
  rows[2].structTypeName = u"Pos", rows[2].arraySizes = {{0, 3}, {-1, 4}};
  const std::vector<LONG> rowIds = fx::AddRowsX(s.db, s.gvlX, rows);
  const LONG memberRowId = fx::AddRowsX(s.db, s.sdtX, std::vector<fx::MemberRowSpec>(2))[1];
  s.db.SetServiceBlock(s.project, {0xDE, 0xAD, 0xBE, 0xEF});
  s.db.NewProject(u"Second", refdb::ProjectOptions{false, true, false});
  const STOBJECTID var = fx::AddClassicVariable(s.db, s.gvl, v);
  IVNDataABS_LabelService* service = nullptr;
  ComPtr<IVNDataABS_DeviceConversion> conv;
  BstrHolder label(SysAllocString(u"Lbl")), lone(SysAllocStringLen(u"T\xD800", 2)), note(SysAllocString(u"note")),
      empty(SysAllocString(u""));
  stVNLabelConversion req{label.Get(), nullptr, nullptr, 0};
  EXPECT_EQ(S_OK, s.db.Workspace()->GetServiceObject(s.project, VN_SERVICE_LABEL, &service, &d));
  EXPECT_TRUE(QueryInterfaceTo(service, conv) && conv->ConvertLabels(1, &req, &d) == S_OK);
  for (BSTR b : {req.deviceText, req.extraText}) SysFreeString(b);
  // Comments go in through SetRows only.
  stVNVariableCommentItem item{9, note.Get()};
  stVNGlobalVariableAndSystemLabelElementDataX varRow{};
  stVNStructElementDataX memberRow{};
  varRow.rowID = rowIds[3], varRow.comment = {1, &item}, varRow.name = lone.Get(), varRow.initData = empty.Get();
  memberRow.rowID = memberRowId, memberRow.comment = {1, &item};
  for (HRESULT hr :
       {Query<IVNDataABS_HighCapacityGlobalVariable>(s.db, s.gvlX)->DeleteRows(1, &first, &d),
        Query<IVNDataABS_HighCapacityGlobalVariable>(s.db, s.gvlX)->SetRows(1, &varRow, &d),
        Query<IVNDataABS_HighCapacityGlobalVariable>(s.db, s.gvlX)->AddRows(1, &fresh, &d),  // never written
        Query<IVNDataABS_HighCapacityStructure>(s.db, s.sdtX)->SetRows(1, &memberRow, &d),
        s.db.Workspace()->SetObjectName(s.sdt, lone.Get(), &d),
        s.db.Workspace()->SetLastUpdateTime(s.gvl, SYSTEMTIME{2023, 12, 0, 31, 1, 2, 3, 4}, &d),
        Query<IVNDataABS_GlobalLabelSetting>(s.db, s.Child(VN_TYPE_GVL_COLLECTION))->SetExternalFlag(6, &d),
        Query<IVNDataABS_Storage>(s.db, s.Child(VN_TYPE_GVL_COLLECTION_X))->Flush(&d),
        Query<IVNDataABS_GenericData>(s.db, s.Child(VN_TYPE_GENERIC_DATA))->SetGenericData(7, 2, blob, &d),
        Query<IVNDataABS_VariableDataType>(s.db, var)->SetStructDefineID(s.sdtX, &d)})
    EXPECT_EQ(S_OK, hr);
}

// Save, load and save again give the same rows in every table, and every
// table has rows, so every kind of state went through the file.
TEST(RefProjectFile, SaveLoadSaveKeepsEveryRowOfEveryTable) {
  Sample src, copy;
  Populate(src);
  TempFile a("a"), b("b");
  std::string error;
  ASSERT_TRUE(src.db.SaveToFile(a.path, &error)) << error;
  ASSERT_TRUE(copy.db.LoadFromFile(a.path, &error)) << error;
  ASSERT_TRUE(copy.db.SaveToFile(b.path, &error)) << error;
  const Rows rows = Connection(a.path).TableRows();
  EXPECT_EQ(rows, Connection(b.path).TableRows());
  std::set<std::string> filled;
  for (const std::string& row : rows) filled.insert(row.substr(0, row.find(':')));
  EXPECT_EQ((std::set<std::string>{"array_sizes", "conversions", "elements", "flags", "generic_data", "member_comments",
                                   "member_devices", "member_rows", "meta", "objects", "projects", "row_tables",
                                   "variable_comments", "variable_devices", "variable_rows"}),
            filled);
  // The lone surrogate as UTF-16LE units; an empty row text apart from a null one.
  EXPECT_EQ((Rows{"x'540000d8'|''|NULL|'note'"}),
            Connection(a.path).Select("SELECT r.name, r.init_data, r.remark, c.text FROM variable_rows r JOIN "
                                      "variable_comments c USING (list, row_id)"));
  EXPECT_EQ(src.db.ObjectName(src.sdt), copy.db.ObjectName(src.sdt));
}

// The views list every variable and member of either series with its type
// and device.
TEST(RefProjectFile, ViewsListVariablesAndMembersOfBothSeries) {
  for (const label_test::Series series : {label_test::kStandard, label_test::kX}) {
    SCOPED_TRACE(series == label_test::kX ? "high-capacity" : "classic");
    label_test::Filled f(series);
    TempFile file("views");
    std::string error;
    ASSERT_TRUE(f.db.SaveToFile(file.path, &error)) << error;
    Connection c(file.path);
    // A structured variable shows its first member's device.
    EXPECT_EQ((Rows{"'Global'|'Always'|'BOOL'|'SM400'", "'Global'|'Clock'|'WORD'|'SD210'",
                    "'Global'|'Origin'|'Point'|'D0'", "'Lamps'|'Green'|'BOOL'|'Y11'", "'Lamps'|'Red'|'BOOL'|'Y10'"}),
              c.Select("SELECT list, name, type_name, device FROM variables ORDER BY list, name"));
    EXPECT_EQ((Rows{"'Point'|'x'|'DINT'", "'Point'|'y'|'DINT'"}),
              c.Select("SELECT type, member, type_name FROM data_types ORDER BY type, member"));
    // Each series answers from its own half of the views.
    EXPECT_EQ((Rows{series == label_test::kX ? "0|7" : "7|0"}),
              c.Select("SELECT (SELECT count(*) FROM elements), "
                       "(SELECT count(*) FROM variable_rows) + (SELECT count(*) FROM member_rows)"));
  }
}

// Progress counts each element once and each row, whether the component
// reads them or a save writes them, up to what the database holds.
TEST(RefProjectFile, ProgressCountsEveryElementAndRowOnce) {
  for (const label_test::Series series : {label_test::kStandard, label_test::kX}) {
    SCOPED_TRACE(series == label_test::kX ? "high-capacity" : "classic");
    label_test::Filled f(series);
    const unsigned long long held = f.db.ElementsHeld();
    ASSERT_GT(held, 0u);
    std::pair<unsigned long long, unsigned long long> last{0, 0};
    const auto report = [&last](unsigned long long done, unsigned long long total) { last = {done, total}; };
    f.db.SetProgress(report, held);
    f.Export(label_test::Settings(0));
    EXPECT_EQ(std::make_pair(held, held), last);
    TempFile file("progress");
    f.db.SetProgress(report, held);
    ASSERT_TRUE(f.db.SaveToFile(file.path));
    EXPECT_EQ(std::make_pair(held, held), last);
    f.db.SetProgress(nullptr);
  }
}

// Fills the pages in the middle of the file with garbage; the header and
// the schema's pages stay intact.
void DamageMiddlePages(const std::string& path) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  unsigned char header[18] = {};
  f.read(reinterpret_cast<char*>(header), sizeof header);
  const std::streamoff pageSize = (header[16] << 8) | header[17];
  f.seekg(0, std::ios::end);
  const std::streamoff pages = f.tellg() / pageSize;
  ASSERT_GT(pages, 20) << "too small to damage its middle only";
  f.seekp(pages / 2 * pageSize);
  std::uint32_t x = 12345;
  for (std::streamoff i = 0; i < 2 * pageSize; ++i) f.put(static_cast<char>((x = x * 1103515245u + 12345u) >> 24));
}

// Every kind of foreign or broken file is refused, with the path and the
// problem in the message, and leaves the database as it was; a save does not
// overwrite a foreign file.
TEST(RefProjectFile, ForeignAndBrokenFilesAreRefusedAndChangeNothing) {
  enum Make { kText, kSql, kDamage };
  struct Case {
    const char* what;
    Make make;
    const char* sql;  // run on a saved project (kSql)
    const char* problem;
    bool foreign = false;  // a save refuses it too
  };
  // Objects are numbered parents first, so the last one is the second
  // project's last child, a leaf without state of its own.
  // clang-format off
  const Case cases[] = {
      {"text", kText, nullptr, "not a project file", true},
      {"application", kSql, "PRAGMA application_id = 1234", "not a project file", true},
      // Most SQLite files of other programs keep the id at 0; they have tables.
      {"no application", kSql, "PRAGMA application_id = 0", "application id 0x00000000", true},
      {"newer", kSql, "PRAGMA user_version = 2", "newer version", true},
      {"damaged", kDamage, nullptr, "integrity check"},
      {"dangling parent", kSql,
       "UPDATE objects SET parent = (SELECT max(oid) + 100 FROM objects) WHERE oid = (SELECT max(oid) FROM objects)",
       "names parent"},
      {"cycle", kSql,  // the last variable and the last member, each the other's only child
       "WITH a(o) AS (SELECT max(oid) FROM objects WHERE type = 16),"
       " b(o) AS (SELECT max(oid) FROM objects WHERE type = 20)"
       " UPDATE objects SET child_no = 0,"
       " parent = CASE oid WHEN (SELECT o FROM a) THEN (SELECT o FROM b) ELSE (SELECT o FROM a) END"
       " WHERE oid IN (SELECT o FROM a UNION SELECT o FROM b)",
       "cycle of parents"},
      {"unknown type", kSql, "UPDATE objects SET type = 12345 WHERE oid = (SELECT max(oid) FROM objects)",
       "unknown type 12345"},
      {"child gap", kSql, "UPDATE objects SET child_no = child_no + 1 WHERE oid = (SELECT max(oid) FROM objects)",
       "not numbered 0, 1"},
      {"text in a number", kSql, "UPDATE variable_rows SET line_no = 'abc' WHERE row_id = 1008",
       "column line_no is not an integer"},
      {"out of range", kSql, "UPDATE variable_rows SET class_keyword = 1 << 40 WHERE row_id = 1008",
       "column class_keyword is out of range"},
      {"orphan comment", kSql,
       "INSERT INTO variable_comments SELECT list, max(row_id) + 7000, 0, 9, 'x' FROM variable_rows",
       "names a row that does not exist"},
  };
  // clang-format on
  Sample src;
  Populate(src);
  std::vector<fx::VariableRowSpec> many(3000);
  for (std::size_t i = 0; i < many.size(); ++i) many[i].name = U16("bulk" + std::to_string(i));
  fx::AddRowsX(src.db, src.gvlX, many);

  label_test::Filled target(label_test::kX);
  const label_test::Bytes exported = target.Export(label_test::Settings(1));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFile file("bad_" + std::to_string(&c - cases));
    std::string error;
    if (c.make == kText) {
      std::ofstream(file.path) << "project P\n" << std::string(5000, '#') << "\n";
    } else {
      ASSERT_TRUE(src.db.SaveToFile(file.path, &error)) << error;
      if (c.make == kSql) {
        ASSERT_EQ("", Connection(file.path).Exec(c.sql));
      } else {
        DamageMiddlePages(file.path);
      }
    }
    EXPECT_FALSE(target.db.LoadFromFile(file.path, &error));
    EXPECT_NE(std::string::npos, error.find(file.path)) << error;
    EXPECT_NE(std::string::npos, error.find(c.problem)) << error;
    EXPECT_EQ(std::vector<STOBJECTID>{target.id}, target.db.Projects());
    EXPECT_EQ(exported, target.Export(label_test::Settings(1)));
    if (c.foreign) {
      const std::string bytes = ReadAll(file.path);
      EXPECT_FALSE(target.db.SaveToFile(file.path, &error));
      EXPECT_NE(std::string::npos, error.find(c.problem)) << error;
      EXPECT_EQ(bytes, ReadAll(file.path));
    }
  }
}

// As SQLite tests itself: a save killed at any moment leaves a sound file
// holding the old project or the new one, never a mix.
TEST(RefProjectFile, SaveKilledAtAnyMomentLeavesTheOldOrTheNewProject) {
  RefDatabase oldDb, newDb;
  const STOBJECTID oldProject = oldDb.NewProject(u"Old");
  fx::AddRowsX(oldDb, fx::AddGVLX(oldDb, oldProject, u"L"), std::vector<fx::VariableRowSpec>(10));
  const STOBJECTID project = newDb.NewProject(u"New");
  std::vector<fx::VariableRowSpec> rows(100000);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    rows[i].lineNo = static_cast<LONG>(i), rows[i].name = U16("var" + std::to_string(i));
    rows[i].device = U16("D" + std::to_string(i));
  }
  fx::AddRowsX(newDb, fx::AddGVLX(newDb, project, u"Big"), rows);
  const STOBJECTID gvl = fx::AddClassicGVL(newDb, project, u"Classic");
  for (int i = 0; i < 1000; ++i) {
    fx::VariableSpec v;
    v.name = U16("classic" + std::to_string(i));
    fx::AddClassicVariable(newDb, gvl, v);
  }

  TempFile file("kill");
  // A child that saves the new project to `path` and exits; returns when
  // its save begins, so that a slow fork does not shift the kills.
  auto spawn = [&](const std::string& path) {
    int ready[2];
    char go = 1;
    if (::pipe(ready) != 0) return pid_t(-1);
    const pid_t child = ::fork();
    if (child == 0) ::_exit(::write(ready[1], &go, 1) == 1 && newDb.SaveToFile(path) ? 0 : 1);
    if (child != -1 && ::read(ready[0], &go, 1) != 1) ADD_FAILURE() << "the child did not start";
    ::close(ready[0]), ::close(ready[1]);
    return child;
  };
  // Every run starts from a file that holds only the old project.
  std::string error;
  auto startFromOld = [&] {
    file.Remove();
    return oldDb.SaveToFile(file.path, &error);
  };
  ASSERT_TRUE(startFromOld()) << error;
  const std::uint64_t oldDigest = Connection(file.path).Digest();
  // Timed as the children save, which the kills spread over.
  pid_t child = spawn(file.path);
  const Clock::time_point start = Clock::now();
  int status = -1;
  ASSERT_TRUE(child != -1 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const double saveSeconds = SecondsSince(start);
  const std::uint64_t newDigest = Connection(file.path).Digest();
  const std::string oldSummary = Summary(oldDb), newSummary = Summary(newDb);
  ASSERT_NE(oldDigest, newDigest);

  constexpr int kRuns = 20;
  int killed = 0, sawNew = 0;
  for (int i = 0; i < kRuns; ++i) {
    SCOPED_TRACE("run " + std::to_string(i));
    ASSERT_NE(-1, child = spawn(file.path));
    std::this_thread::sleep_for(std::chrono::duration<double>(saveSeconds * 1.2 * i / (kRuns - 1)));
    ::kill(child, SIGKILL);
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    killed += WIFSIGNALED(status);
    EXPECT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 0) << "a save that ran to its end failed";
    // The reader first, so that it meets what the kill left (a hot WAL).
    RefDatabase loaded;
    ASSERT_TRUE(loaded.LoadFromFile(file.path, &error)) << error;
    Connection c(file.path);
    EXPECT_EQ(Rows{"'ok'"}, c.Select("PRAGMA integrity_check"));
    const std::uint64_t digest = c.Digest();
    const bool isNew = digest == newDigest;
    EXPECT_TRUE(isNew || digest == oldDigest);
    EXPECT_EQ(isNew ? newSummary : oldSummary, Summary(loaded));
    sawNew += isNew;
    ASSERT_TRUE(startFromOld()) << error;
  }
  EXPECT_GT(killed, 0);
  EXPECT_LT(sawNew, kRuns);
  std::printf("save %.3f s; %d of %d runs killed, %d left the new project\n", saveSeconds, killed, kRuns, sawNew);
}

// While another connection holds the write lock, a save waits about 1.5 s
// and gives up naming the file; a load goes on and reads the last commit.
TEST(RefProjectFile, SecondWriterIsTurnedAwayWhileReadersGoOn) {
  Sample s;
  TempFile file("busy");
  std::string error;
  ASSERT_TRUE(s.db.SaveToFile(file.path, &error)) << error;
  Connection writer(file.path);
  ASSERT_EQ("", writer.Exec("BEGIN IMMEDIATE; UPDATE objects SET name = 'Uncommitted' WHERE parent IS NULL"));

  RefDatabase reader;
  Clock::time_point start = Clock::now();
  EXPECT_TRUE(reader.LoadFromFile(file.path, &error)) << error;
  EXPECT_LT(SecondsSince(start), 1.0) << "the reader waited for the writer";
  EXPECT_EQ(std::vector<STOBJECTID>{s.project}, reader.Projects());
  EXPECT_EQ(u"P", reader.ObjectName(s.project));

  start = Clock::now();
  EXPECT_FALSE(s.db.SaveToFile(file.path, &error));
  const double waited = SecondsSince(start);
  EXPECT_TRUE(waited > 1.0 && waited < 3.0) << waited;
  EXPECT_NE(std::string::npos, error.find("the project is in use")) << error;
  EXPECT_NE(std::string::npos, error.find(file.path)) << error;

  ASSERT_EQ("", writer.Exec("ROLLBACK"));
  EXPECT_TRUE(s.db.SaveToFile(file.path, &error)) << error;  // the lock was all that stood in the way
}

}  // namespace
