// File: ProjectFile.cc
//
// The project file: the whole database in an SQLite file, tables as
// ProjectSchema.sql makes them. A save replaces every row in one
// transaction of a WAL-mode file; an open checks the file's header, its
// integrity and every invariant of the database before anything of it
// replaces what the database holds.
#include "refdb/ProjectFile.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "refdb/RefDatabaseImpl.h"

namespace refdb {
namespace {

constexpr char kSchemaSql[] =
#include "ProjectSchemaSql.inc"
    ;

// A save waits this long for another writer before it gives up.
constexpr int kBusyMilliseconds = 1500;

// Every table of the schema, in the order a save fills them.
constexpr const char* kTables[] = {
    "meta",          "objects",          "projects",         "conversions", "flags",           "generic_data",
    "elements",      "member_devices",   "row_tables",       "variable_rows", "variable_comments", "variable_devices",
    "member_rows",   "member_comments",  "array_sizes"};

// What went wrong, said for the file's user; the caller puts the file's name
// in front.
struct Problem : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Raise(const std::string& what) { throw Problem(what); }

std::string Num(LONGLONG v) { return std::to_string(v); }

// The problem an SQLite result stands for.
[[noreturn]] void RaiseSqlite(sqlite3* db, int rc) {
  switch (rc & 0xFF) {
    case SQLITE_NOTADB:
      Raise("not a project file (not an SQLite database)");
    case SQLITE_CORRUPT:
      Raise(std::string("damaged (") + sqlite3_errmsg(db) + ")");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      Raise("the project is in use by another program; try again when it is done");
    case SQLITE_FULL:
      Raise("the disk is full; the file is unchanged");
    case SQLITE_CANTOPEN:
      Raise("cannot be opened (no such file, or no permission)");
    case SQLITE_READONLY:
    case SQLITE_PERM:
      Raise("cannot be written (read-only file or folder)");
    default:
      Raise(std::string("SQLite error: ") + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
  }
}

void Exec(sqlite3* db, const char* sql) {
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) RaiseSqlite(db, rc);
}

// One prepared statement.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) : m_db(db) {
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &m_st, nullptr);
    if (rc != SQLITE_OK) RaiseSqlite(db, rc);
  }
  ~Statement() { sqlite3_finalize(m_st); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // True while there is a row to read.
  bool Next() {
    const int rc = sqlite3_step(m_st);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) RaiseSqlite(m_db, rc);
    return false;
  }
  // Runs an INSERT with the values bound, ready for the next.
  void Run() {
    const int rc = sqlite3_step(m_st);
    sqlite3_reset(m_st);
    if (rc != SQLITE_DONE) RaiseSqlite(m_db, rc);
    m_next = 1;
  }

  // Values to bind, in column order.
  Statement& Int(LONGLONG v) {
    sqlite3_bind_int64(m_st, m_next++, v);
    return *this;
  }
  Statement& Null() {
    sqlite3_bind_null(m_st, m_next++);
    return *this;
  }
  Statement& Blob(const void* p, std::size_t n) {
    sqlite3_bind_blob(m_st, m_next++, n ? p : "", static_cast<int>(n), SQLITE_STATIC);
    return *this;
  }
  // A text; one that is not valid UTF-16 (a lone surrogate) goes in as a
  // BLOB of its units, which SQLite's conversion to UTF-8 would mangle. The
  // units must stay put until Run().
  Statement& Text(const char16_t* p, std::size_t n) {
    if (!ValidUtf16(p, n)) return Blob(p, 2 * n);
    sqlite3_bind_text16(m_st, m_next++, n ? static_cast<const void*>(p) : u"", static_cast<int>(2 * n), SQLITE_STATIC);
    return *this;
  }
  Statement& Text(std::u16string_view s) { return Text(s.data(), s.size()); }
  // An element's text: the empty text is NULL.
  Statement& OptText(std::u16string_view s) { return s.empty() ? Null() : Text(s); }

  sqlite3_stmt* get() const { return m_st; }

 private:
  static bool ValidUtf16(const char16_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      const char16_t u = p[i];
      if (u < 0xD800 || u > 0xDFFF) continue;
      if (u > 0xDBFF || i + 1 == n || p[i + 1] < 0xDC00 || p[i + 1] > 0xDFFF) return false;
      ++i;
    }
    return true;
  }

  sqlite3* m_db;
  sqlite3_stmt* m_st = nullptr;
  int m_next = 1;
};

std::string Placeholders(std::size_t n) {
  std::string s = "(";
  for (std::size_t i = 0; i < n; ++i) s += i ? ",?" : "?";
  return s + ")";
}

std::string Insert(const char* table, std::size_t columns) {
  return std::string("INSERT INTO ") + table + " VALUES " + Placeholders(columns);
}

// An open SQLite connection.
class Connection {
 public:
  Connection(const std::string& path, int flags) {
    const int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_close_v2(m_db);
      RaiseSqlite(nullptr, rc);
    }
    sqlite3_extended_result_codes(m_db, 0);
    sqlite3_busy_timeout(m_db, kBusyMilliseconds);
  }
  ~Connection() { sqlite3_close_v2(m_db); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  sqlite3* get() const { return m_db; }

 private:
  sqlite3* m_db = nullptr;
};

LONGLONG PragmaInt(sqlite3* db, const char* pragma) {
  Statement st(db, std::string("PRAGMA ") + pragma);
  return st.Next() ? sqlite3_column_int64(st.get(), 0) : 0;
}

std::string Hex(LONGLONG v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%08llX", static_cast<unsigned long long>(v) & 0xFFFFFFFFull);
  return buf;
}

// SQLite takes a folder for a file it cannot read; say what it is.
void RefuseFolder(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) Raise("is a folder, not a project file");
}

// True when the file is an empty SQLite database, false when it is a project
// file of this version; anything else is refused.
bool CheckHeader(sqlite3* db) {
  const LONGLONG app = PragmaInt(db, "application_id");
  if (app == 0) {
    Statement st(db, "SELECT count(*) FROM sqlite_master");
    if (st.Next() && sqlite3_column_int64(st.get(), 0) == 0) return true;
  }
  if (app != kProjectApplicationId)
    Raise("not a project file (application id " + Hex(app) + ", not " + Hex(kProjectApplicationId) + ")");
  const LONGLONG version = PragmaInt(db, "user_version");
  if (version > kProjectSchemaVersion)
    Raise("made by a newer version (schema " + Num(version) + "; this build reads up to " +
          Num(kProjectSchemaVersion) + ")");
  if (version < 1) Raise("has no schema version");
  return false;
}

// --- save ----------------------------------------------------------------------

// A text inside a row's code: its units lie at an even offset of the code,
// so they can be read in place.
struct TextView {
  const char16_t* units = nullptr;
  std::size_t count = 0;
  bool isNull = true;
};

TextView ReadView(ByteReader& r) {
  TextView t;
  const DWORD n = r.U32();
  if (n == 0xFFFFFFFFu || !r.Ok()) return t;
  if (n > r.Remaining() / 2) {
    r.Skip(r.Remaining() + 1);  // marks the reader failed
    return t;
  }
  t.isNull = false;
  t.count = n;
  t.units = reinterpret_cast<const char16_t*>(r.Here());
  r.Skip(2 * static_cast<std::size_t>(n));
  return t;
}

void BindText(Statement& st, const TextView& t) {
  if (t.isNull)
    st.Null();
  else
    st.Text(t.units, t.count);
}

struct CommentEntry {
  ULONGLONG key;
  TextView text;
};

// The object types a project file keeps.
bool IsKnownType(LONG type) {
  switch (type) {
    case 1:
    case VN_TYPE_GENERIC_DATA:
    case VN_TYPE_GVL_COLLECTION:
    case VN_TYPE_GVL:
    case VN_TYPE_VARIABLE_COLLECTION:
    case VN_TYPE_GLOBAL_VARIABLE:
    case VN_TYPE_SDT_COLLECTION:
    case VN_TYPE_SDT:
    case VN_TYPE_MEMBER_COLLECTION:
    case VN_TYPE_STRUCT_MEMBER:
    case VN_TYPE_GVL_COLLECTION_X:
    case VN_TYPE_SDT_COLLECTION_X:
      return true;
    default:
      return false;
  }
}

class Saver {
 public:
  Saver(sqlite3* db, RefDatabaseImpl& impl) : m_db(db), m_impl(impl) {}

  void Run() {
    Number();
    Statement meta(m_db, Insert("meta", 2));
    meta.Int(static_cast<LONGLONG>(m_impl.m_ullNextSerial)).Int(m_impl.m_dwNextProjectNo).Run();
    Statement objects(m_db, Insert("objects", 8));
    for (std::size_t i = 0; i < m_order.size(); ++i) {
      const Object* o = m_order[i];
      objects.Int(static_cast<LONGLONG>(i + 1)).Blob(o->m_id.dwWord, sizeof o->m_id.dwWord);
      if (m_parentOid[i] != 0)
        objects.Int(m_parentOid[i]);
      else
        objects.Null();
      objects.Int(m_childNo[i]).Int(o->m_lType).Int(o->m_byFlag).Text(o->m_strName);
      if (o->m_bStamped)
        objects.Blob(&o->m_stStamp, sizeof o->m_stStamp);
      else
        objects.Null();
      objects.Run();
    }
    for (std::size_t i = 0; i < m_order.size(); ++i) {
      SaveState(m_order[i], static_cast<LONGLONG>(i + 1));
      if (dynamic_cast<const ElementObject*>(m_order[i])) m_impl.Advance(1);
    }
  }

 private:
  // Numbers the objects in a walk down the tree, parents first.
  void Number() {
    struct Step {
      const Object* o;
      LONGLONG childNo;
      LONGLONG parentOid;  // 0: a project
    };
    std::vector<Step> stack;
    LONGLONG rootNo = static_cast<LONGLONG>(m_impl.m_projects.size());
    for (auto p = m_impl.m_projects.rbegin(); p != m_impl.m_projects.rend(); ++p) stack.push_back({*p, --rootNo, 0});
    while (!stack.empty()) {
      const Step step = stack.back();
      stack.pop_back();
      const Object* o = step.o;
      if (!IsKnownType(o->m_lType)) Raise("holds an object of type " + Num(o->m_lType) + ", which a project file cannot keep");
      m_order.push_back(o);
      m_childNo.push_back(step.childNo);
      m_parentOid.push_back(step.parentOid);
      const LONGLONG oid = static_cast<LONGLONG>(m_order.size());
      LONGLONG childNo = o->m_lChildren;
      for (const Object* c = o->m_pLastChild; c; c = c->m_pPrev) stack.push_back({c, --childNo, oid});
    }
  }

  void SaveState(const Object* o, LONGLONG oid);
  void SaveRows(const HcGvlObject& list, LONGLONG oid);
  void SaveRows(const HcSdtObject& sdt, LONGLONG oid);
  template <class Rows, class Comments>
  void SaveRowTable(const RowTable& table, LONGLONG oid, const RowLayout& layout, Rows& rows, Comments& comments,
                    Statement* devices);

  Statement& Prepared(std::unique_ptr<Statement>& slot, const char* table, std::size_t columns) {
    if (!slot) slot = std::make_unique<Statement>(m_db, Insert(table, columns));
    return *slot;
  }

  sqlite3* m_db;
  RefDatabaseImpl& m_impl;  // only its progress count changes
  std::vector<const Object*> m_order;
  std::vector<LONGLONG> m_childNo;
  std::vector<LONGLONG> m_parentOid;
  std::unique_ptr<Statement> m_projects, m_conversions, m_flags, m_generic, m_elements, m_memberDevices, m_rowTables,
      m_varRows, m_varComments, m_varDevices, m_memberRows, m_memberComments, m_arraySizes;
  std::vector<CommentEntry> m_comments;  // a row's comment, read from its code
};


void Saver::SaveState(const Object* o, LONGLONG oid) {
  if (const auto* p = dynamic_cast<const ProjectObject*>(o)) {
    const LabelServiceObject& s = p->m_service;
    Prepared(m_projects, "projects", 7)
        .Int(oid)
        .Int(p->m_dwProjectNo)
        .Int(p->m_dwNextListNo)
        .Int(p->m_dwNextStructNo)
        .Blob(s.m_block.data(), s.m_block.size())
        .Int(s.m_bSizeOverridden ? 1 : 0)
        .Int(s.m_llReportedSize)
        .Run();
    for (std::size_t i = 0; i < s.m_conversions.size(); ++i)
      Prepared(m_conversions, "conversions", 4)
          .Int(oid)
          .Int(static_cast<LONGLONG>(i))
          .Text(s.m_conversions[i].first)
          .Text(s.m_conversions[i].second)
          .Run();
  } else if (const auto* c = dynamic_cast<const GvlCollectionObject*>(o)) {
    Prepared(m_flags, "flags", 3).Int(oid).Int(c->m_lFlag).Null().Run();
  } else if (const auto* h = dynamic_cast<const HcGvlCollectionObject*>(o)) {
    Prepared(m_flags, "flags", 3).Int(oid).Int(h->m_lFlag).Int(h->m_llFlushes).Run();
  } else if (const auto* g = dynamic_cast<const GenericDataObject*>(o)) {
    for (std::size_t i = 0; i < g->m_blobs.size(); ++i)
      Prepared(m_generic, "generic_data", 4)
          .Int(oid)
          .Int(static_cast<LONGLONG>(i))
          .Int(g->m_blobs[i].first)
          .Blob(g->m_blobs[i].second.data(), g->m_blobs[i].second.size())
          .Run();
  } else if (const auto* e = dynamic_cast<const ElementObject*>(o)) {
    Statement& st = Prepared(m_elements, "elements", 28);
    st.Int(oid).Int(e->m_ulLineNo).Int(e->m_lExAccess).Int(e->m_lClassKeyWord).Int(e->m_lStructKind);
    if (e->m_bHasTypeCode)
      st.Int(e->m_lTypeCode);
    else
      st.Null();
    if (e->m_bHasTypeName)
      st.Text(e->m_strTypeName.View());
    else
      st.Null();
    if (e->m_bHasStructDefine)
      st.Blob(e->m_structDefineID.dwWord, sizeof e->m_structDefineID.dwWord);
    else
      st.Null();
    for (const CString* t :
         {&e->m_strComment, &e->m_strInitData, &e->m_strTypeString, &e->m_strRemark, &e->m_strDevice, &e->m_strDeviceExtra})
      st.OptText(t->View());
    if (const SystemLabelFields* s = e->m_pSys.get()) {
      st.Int(1);
      for (const CString* t : {&s->name, &s->programName, &s->comment, &s->remark, &s->localName}) st.OptText(t->View());
      for (LONG v : {s->valueType, s->listID, s->id, s->cpuID, s->projectID, s->status}) st.Int(v);
      st.Int(s->attribute).Int(s->valueSize);
    } else {
      st.Int(0);
      for (int i = 0; i < 13; ++i) st.Null();
    }
    st.Run();
    for (std::size_t i = 0; i < e->m_arrMemberDevices.size(); ++i)
      Prepared(m_memberDevices, "member_devices", 4)
          .Int(oid)
          .Int(static_cast<LONGLONG>(i))
          .Text(e->m_arrMemberDevices[i])
          .Text(e->m_arrMemberExtras[i])
          .Run();
  } else if (const auto* l = dynamic_cast<const HcGvlObject*>(o)) {
    SaveRows(*l, oid);
  } else if (const auto* s = dynamic_cast<const HcSdtObject*>(o)) {
    SaveRows(*s, oid);
  }
}

void Saver::SaveRows(const HcGvlObject& list, LONGLONG oid) {
  Prepared(m_rowTables, "row_tables", 2).Int(oid).Int(list.m_table.m_llNextRowID).Run();
  SaveRowTable(list.m_table, oid, kVariableRowLayout,
               Prepared(m_varRows, "variable_rows", 5 + kVariableRowLayout.numbers + kVariableRowLayout.texts),
               Prepared(m_varComments, "variable_comments", 5), &Prepared(m_varDevices, "variable_devices", 5));
}

void Saver::SaveRows(const HcSdtObject& sdt, LONGLONG oid) {
  Prepared(m_rowTables, "row_tables", 2).Int(oid).Int(sdt.m_table.m_llNextRowID).Run();
  SaveRowTable(sdt.m_table, oid, kMemberRowLayout,
               Prepared(m_memberRows, "member_rows", 5 + kMemberRowLayout.numbers + kMemberRowLayout.texts),
               Prepared(m_memberComments, "member_comments", 5), nullptr);
}

// Splits each row's code into the columns of its row, comment and device
// rows. The texts are bound where they lie in the code.
template <class Rows, class Comments>
void Saver::SaveRowTable(const RowTable& table, LONGLONG oid, const RowLayout& layout, Rows& rows,
                         Comments& comments, Statement* devices) {
  Statement& sizes = Prepared(m_arraySizes, "array_sizes", 5);
  table.ForEachLive([&](const StoredRow& row) {
    const bool fresh = row.code.empty();
    rows.Int(oid).Int(row.lRowID).Int(fresh ? 1 : 0);
    ByteReader r(row.code.data(), row.code.size());
    for (std::size_t i = 0; i < layout.numbers; ++i) {
      // The last two numbers of a variable row are unsigned.
      const bool unsignedNumber = layout.devices && i + 2 >= layout.numbers;
      rows.Int(fresh ? 0 : unsignedNumber ? static_cast<LONGLONG>(r.U32()) : r.I32());
    }
    for (std::size_t i = 0; i < layout.texts; ++i) {
      TextView t;
      if (!fresh) t = ReadView(r);
      BindText(rows, t);
    }
    m_comments.clear();
    const DWORD nComments = fresh ? 0 : r.U32();
    for (DWORD i = 0; i < nComments && r.Ok(); ++i) {
      const ULONGLONG key = r.U64();
      m_comments.push_back(CommentEntry{key, ReadView(r)});
    }
    // Keys that count up by one from the first are kept as the first key
    // and a count, and only the entries with a text other than "" as rows.
    bool consecutive = !m_comments.empty();
    for (std::size_t i = 1; i < m_comments.size() && consecutive; ++i)
      consecutive = m_comments[i].key == m_comments[0].key + i;
    rows.Int(static_cast<LONGLONG>(m_comments.size()));
    if (consecutive)
      rows.Int(static_cast<LONGLONG>(m_comments[0].key));
    else
      rows.Null();
    rows.Run();
    for (std::size_t i = 0; i < m_comments.size(); ++i) {
      const CommentEntry& c = m_comments[i];
      if (consecutive && !c.text.isNull && c.text.count == 0) continue;
      comments.Int(oid).Int(row.lRowID).Int(static_cast<LONGLONG>(i)).Int(static_cast<LONGLONG>(c.key));
      BindText(comments, c.text);
      comments.Run();
    }
    const DWORD nDevices = devices && !fresh ? r.U32() : 0;
    for (DWORD i = 0; i < nDevices && r.Ok(); ++i) {
      const TextView device = ReadView(r);
      const TextView extra = ReadView(r);
      devices->Int(oid).Int(row.lRowID).Int(i);
      BindText(*devices, device);
      BindText(*devices, extra);
      devices->Run();
    }
    if (!r.Ok() || (!fresh && r.Remaining() != 0)) Raise("row " + Num(row.lRowID) + " is damaged in memory");
    m_impl.Advance(1);
    for (std::size_t i = 0; i < row.arraySizes.size(); ++i)
      sizes.Int(oid).Int(row.lRowID).Int(static_cast<LONGLONG>(i)).Int(row.arraySizes[i].value1).Int(row.arraySizes[i].value2).Run();
  });
}

// --- open ----------------------------------------------------------------------

// The columns of the current row of a SELECT, checked as they are read.
class Columns {
 public:
  Columns(sqlite3_stmt* st, const char* table) : m_st(st), m_table(table) {}

  LONGLONG Int(int col, LONGLONG lo, LONGLONG hi) const {
    if (sqlite3_column_type(m_st, col) != SQLITE_INTEGER) Bad(col, "is not an integer");
    const LONGLONG v = sqlite3_column_int64(m_st, col);
    if (v < lo || v > hi) Bad(col, "is out of range");
    return v;
  }
  LONG Long(int col) const { return static_cast<LONG>(Int(col, INT32_MIN, INT32_MAX)); }
  DWORD Dword(int col) const { return static_cast<DWORD>(Int(col, 0, UINT32_MAX)); }
  LONGLONG Any(int col) const { return Int(col, INT64_MIN, INT64_MAX); }
  bool IsNull(int col) const { return sqlite3_column_type(m_st, col) == SQLITE_NULL; }
  // A text column: TEXT, a BLOB of UTF-16LE units, or NULL (*isNull).
  std::u16string Text(int col, bool* isNull = nullptr) const {
    const int type = sqlite3_column_type(m_st, col);
    if (isNull) *isNull = type == SQLITE_NULL;
    if (type == SQLITE_NULL) return std::u16string();
    if (type == SQLITE_TEXT) {
      const auto* p = static_cast<const char16_t*>(sqlite3_column_text16(m_st, col));
      const int bytes = sqlite3_column_bytes16(m_st, col);
      return p ? std::u16string(p, static_cast<std::size_t>(bytes) / 2) : std::u16string();
    }
    if (type != SQLITE_BLOB) Bad(col, "is not a text");
    const int bytes = sqlite3_column_bytes(m_st, col);
    if (bytes % 2 != 0) Bad(col, "is not a text (odd length)");
    std::u16string s(static_cast<std::size_t>(bytes) / 2, u'\0');
    if (bytes > 0) std::memcpy(&s[0], sqlite3_column_blob(m_st, col), static_cast<std::size_t>(bytes));
    return s;
  }
  // Writes a text column as a row code's text (NULL: the null text); true
  // when it was NULL.
  bool CodeText(int col, ByteWriter& w) const {
    bool isNull = true;
    const std::u16string s = Text(col, &isNull);
    if (isNull)
      w.Text(nullptr, 0);
    else
      w.Text(s);
    return isNull;
  }
  std::vector<BYTE> Blob(int col) const {
    if (sqlite3_column_type(m_st, col) != SQLITE_BLOB) Bad(col, "is not a blob");
    const auto* p = static_cast<const BYTE*>(sqlite3_column_blob(m_st, col));
    return std::vector<BYTE>(p, p + sqlite3_column_bytes(m_st, col));
  }
  // A blob of exactly `n` bytes into `out`.
  void Fixed(int col, void* out, std::size_t n) const {
    if (sqlite3_column_type(m_st, col) != SQLITE_BLOB || static_cast<std::size_t>(sqlite3_column_bytes(m_st, col)) != n)
      Bad(col, "is not a blob of " + Num(static_cast<LONGLONG>(n)) + " bytes");
    std::memcpy(out, sqlite3_column_blob(m_st, col), n);
  }

  [[noreturn]] void Bad(int col, const std::string& what) const {
    std::string key;
    for (int i = 0; i < std::min(2, sqlite3_column_count(m_st)); ++i) {
      if (i) key += ", ";
      const unsigned char* t = sqlite3_column_text(m_st, i);
      key += t ? reinterpret_cast<const char*>(t) : "NULL";
    }
    Raise(std::string("table ") + m_table + ", row (" + key + "): column " + sqlite3_column_name(m_st, col) + " " + what);
  }

 private:
  sqlite3_stmt* m_st;
  const char* m_table;
};

// A row of the objects table.
struct ObjectRow {
  LONGLONG oid = 0;
  STOBJECTID id{};
  bool hasParent = false;
  LONGLONG parent = 0;
  LONGLONG childNo = 0;
  LONG type = 0;
  BYTE flag = 0;
  std::u16string name;
  bool stamped = false;
  SYSTEMTIME stamp{};
  std::size_t parentIndex = 0;  // in the table, once the tree is checked
  Object* made = nullptr;
  bool stateSeen = false;
};

class Loader {
 public:
  // Reads into `impl`; `progress` hears of every element and row read.
  Loader(sqlite3* db, RefDatabaseImpl& impl, RefDatabaseImpl& progress) : m_db(db), m_impl(impl), m_progress(progress) {}

  void Run() {
    if (!m_impl.m_projects.empty()) Raise("the database to read into is not empty");
    ReadMeta();
    ReadObjects();
    CheckTree();
    MakeObjects();
    ReadProjects();
    CheckCounters();
    ReadConversions();
    ReadFlags();
    ReadGenericData();
    ReadElements();
    ReadMemberDevices();
    ReadRowTables();
    ReadRows<HcGvlObject>("variable_rows", "list", "high-capacity GVL", "variable_comments", "variable_devices",
                          kVariableRowLayout);
    ReadRows<HcSdtObject>("member_rows", "structure", "high-capacity SDT", "member_comments", nullptr,
                          kMemberRowLayout);
    ReadArraySizes();
    for (const ObjectRow& o : m_objects)
      if (!o.stateSeen && NeedsState(o.made))
        Raise("object " + Num(o.oid) + " (type " + Num(o.type) + ") lacks its row in " + StateTable(o.made));
  }

 private:
  static bool NeedsState(const Object* o) {
    return dynamic_cast<const ProjectObject*>(o) || dynamic_cast<const GvlCollectionObject*>(o) ||
           dynamic_cast<const HcGvlCollectionObject*>(o) || dynamic_cast<const ElementObject*>(o) || o->m_bRows;
  }
  static const char* StateTable(const Object* o) {
    if (dynamic_cast<const ProjectObject*>(o)) return "projects";
    if (dynamic_cast<const ElementObject*>(o)) return "elements";
    if (o->m_bRows) return "row_tables";
    return "flags";
  }

  static constexpr std::size_t kNoObject = ~std::size_t{0};
  // Where object `oid` stands in the table, or kNoObject.
  std::size_t IndexOf(LONGLONG oid) const {
    auto it = std::lower_bound(m_objects.begin(), m_objects.end(), oid,
                               [](const ObjectRow& o, LONGLONG k) { return o.oid < k; });
    return it == m_objects.end() || it->oid != oid ? kNoObject : static_cast<std::size_t>(it - m_objects.begin());
  }
  ObjectRow& Find(LONGLONG oid, const char* table, const char* what) {
    const std::size_t i = IndexOf(oid);
    if (i == kNoObject)
      Raise(std::string("table ") + table + " names " + what + " " + Num(oid) + ", which does not exist");
    return m_objects[i];
  }
  template <class T>
  T* FindAs(LONGLONG oid, const char* table, const char* what) {
    ObjectRow& o = Find(oid, table, what);
    T* t = dynamic_cast<T*>(o.made);
    if (t == nullptr)
      Raise(std::string("table ") + table + " names object " + Num(oid) + " (type " + Num(o.type) + "), which is not a " +
            what);
    return t;
  }
  // Marks the one row of an object's own state; a second is refused.
  void Seen(LONGLONG oid, const char* table) {
    ObjectRow& o = Find(oid, table, "object");
    if (o.stateSeen) Raise(std::string("table ") + table + " has object " + Num(oid) + " twice");
    o.stateSeen = true;
  }

  void ReadMeta() {
    Statement st(m_db, "SELECT next_serial, next_project_no FROM meta");
    if (!st.Next()) Raise("table meta is empty");
    Columns c(st.get(), "meta");
    // Counters stay far from wrapping round to numbers already given.
    m_impl.m_ullNextSerial = static_cast<ULONGLONG>(c.Int(0, 1, INT64_MAX));
    m_impl.m_dwNextProjectNo = static_cast<DWORD>(c.Int(1, 1, INT32_MAX));
    if (st.Next()) Raise("table meta has more than one row");
  }

  void ReadObjects() {
    Statement st(m_db, "SELECT oid, id, parent, child_no, type, flag, name, stamp FROM objects ORDER BY oid");
    while (st.Next()) {
      Columns c(st.get(), "objects");
      ObjectRow o;
      o.oid = c.Any(0);
      c.Fixed(1, o.id.dwWord, sizeof o.id.dwWord);
      o.hasParent = !c.IsNull(2);
      if (o.hasParent) o.parent = c.Any(2);
      o.childNo = c.Int(3, 0, INT32_MAX);
      o.type = c.Long(4);
      o.flag = static_cast<BYTE>(c.Int(5, 0, 255));
      o.name = c.Text(6);
      o.stamped = !c.IsNull(7);
      if (o.stamped) c.Fixed(7, &o.stamp, sizeof o.stamp);
      if (!IsKnownType(o.type)) Raise("object " + Num(o.oid) + " has the unknown type " + Num(o.type));
      if ((o.type == 1) == o.hasParent)
        Raise("object " + Num(o.oid) + (o.hasParent ? " is a project but has a parent" : " has no parent but is not a project"));
      m_objects.push_back(std::move(o));
    }
  }

  // Every parent exists, children are numbered 0, 1, ... and every object
  // hangs below a project (no cycle). Leaves m_walk in creation order.
  void CheckTree() {
    const std::size_t n = m_objects.size();
    std::vector<std::pair<std::size_t, std::size_t>> edges;  // (parent index, child index)
    std::vector<std::size_t> roots;
    for (std::size_t i = 0; i < n; ++i) {
      ObjectRow& o = m_objects[i];
      if (!o.hasParent) {
        roots.push_back(i);
        continue;
      }
      o.parentIndex = IndexOf(o.parent);
      if (o.parentIndex == kNoObject)
        Raise("object " + Num(o.oid) + " names parent " + Num(o.parent) + ", which does not exist");
      edges.emplace_back(o.parentIndex, i);
    }
    std::sort(edges.begin(), edges.end(), [this](const auto& a, const auto& b) {
      return a.first != b.first ? a.first < b.first : m_objects[a.second].childNo < m_objects[b.second].childNo;
    });
    std::vector<std::size_t> first(n + 1, 0);  // children of i: edges[first[i] .. first[i + 1])
    for (const auto& e : edges) ++first[e.first + 1];
    for (std::size_t i = 0; i < n; ++i) first[i + 1] += first[i];
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t k = first[i]; k < first[i + 1]; ++k)
        if (m_objects[edges[k].second].childNo != static_cast<LONGLONG>(k - first[i]))
          Raise("the children of object " + Num(m_objects[i].oid) + " are not numbered 0, 1, ... (object " +
                Num(m_objects[edges[k].second].oid) + " has child_no " + Num(m_objects[edges[k].second].childNo) +
                ")");
    std::sort(roots.begin(), roots.end(),
              [this](std::size_t a, std::size_t b) { return m_objects[a].childNo < m_objects[b].childNo; });
    for (std::size_t k = 0; k < roots.size(); ++k)
      if (m_objects[roots[k]].childNo != static_cast<LONGLONG>(k))
        Raise("the projects are not numbered 0, 1, ... (object " + Num(m_objects[roots[k]].oid) + " has child_no " +
              Num(m_objects[roots[k]].childNo) + ")");
    std::vector<std::size_t> stack(roots.rbegin(), roots.rend());
    while (!stack.empty()) {
      const std::size_t i = stack.back();
      stack.pop_back();
      m_walk.push_back(i);
      for (std::size_t k = first[i + 1]; k-- > first[i];) stack.push_back(edges[k].second);
    }
    if (m_walk.size() != n) {
      std::vector<bool> reached(n, false);
      for (std::size_t i : m_walk) reached[i] = true;
      const auto lost = std::find(reached.begin(), reached.end(), false) - reached.begin();
      Raise("object " + Num(m_objects[static_cast<std::size_t>(lost)].oid) +
            " is in a cycle of parents, not below any project");
    }
  }

  void MakeObjects() {
    for (std::size_t i : m_walk) {
      ObjectRow& o = m_objects[i];
      Object* parent = o.hasParent ? m_objects[o.parentIndex].made : nullptr;
      o.made = m_impl.Create(parent, o.type, o.name, o.flag, &o.id);
      if (o.made == nullptr) Raise("object " + Num(o.oid) + " has a null ID or the ID of another object");
      o.made->m_bStamped = o.stamped;
      o.made->m_stStamp = o.stamp;
      if (o.type == VN_TYPE_GLOBAL_VARIABLE || o.type == VN_TYPE_STRUCT_MEMBER) m_progress.Advance(1);
    }
  }

  void ReadProjects() {
    Statement st(m_db,
                 "SELECT oid, project_no, next_list_no, next_struct_no, service_block, size_overridden, reported_size "
                 "FROM projects");
    while (st.Next()) {
      Columns c(st.get(), "projects");
      auto* p = FindAs<ProjectObject>(c.Any(0), "projects", "project");
      Seen(c.Any(0), "projects");
      p->m_dwProjectNo = c.Dword(1);
      p->m_dwNextListNo = static_cast<DWORD>(c.Int(2, 1, INT32_MAX));
      p->m_dwNextStructNo = static_cast<DWORD>(c.Int(3, 1, INT32_MAX));
      p->m_service.m_block = c.Blob(4);
      p->m_service.m_bSizeOverridden = c.Int(5, 0, 1) != 0;
      p->m_service.m_llReportedSize = c.Any(6);
    }
  }

  // The numbers the database gives next must lie above every one an object
  // of the file carries, or the next object made would take a taken ID.
  void CheckCounters() {
    std::unordered_map<DWORD, const ProjectObject*> byNumber;
    for (const ProjectObject* p : m_impl.m_projects) {
      if (p->m_dwProjectNo >= m_impl.m_dwNextProjectNo)
        Raise("project number " + Num(p->m_dwProjectNo) + " is not below meta's next_project_no");
      if (!byNumber.emplace(p->m_dwProjectNo, p).second)
        Raise("two projects have the number " + Num(p->m_dwProjectNo));
    }
    for (const ObjectRow& o : m_objects) {
      const STOBJECTID& id = o.id;
      if (id.dwWord[11] != kIdTag) continue;
      ULONGLONG serial = 0;
      if ((id.dwWord[1] & 0xFF000000u) == kElementIdMark)
        serial = static_cast<ULONGLONG>(id.dwWord[3]) << 32 | id.dwWord[2];
      else if ((id.dwWord[1] & 0xFFF00000u) == kObjectIdMark)
        serial = static_cast<ULONGLONG>(id.dwWord[1] & 0xFFFFFu) << 32 | id.dwWord[0];
      if (serial != 0 && serial >= m_impl.m_ullNextSerial)
        Raise("object " + Num(o.oid) + " carries serial " + Num(static_cast<LONGLONG>(serial)) +
              ", not below meta's next_serial");
      const bool list = id.dwWord[1] == kListKeyHigh, structure = id.dwWord[1] == kStructKeyHigh;
      if (!list && !structure) continue;
      auto p = byNumber.find(id.dwWord[2]);
      if (p == byNumber.end()) {
        // A project made later would give this number.
        if (id.dwWord[2] >= m_impl.m_dwNextProjectNo)
          Raise("object " + Num(o.oid) + " carries project number " + Num(id.dwWord[2]) +
                ", not below meta's next_project_no");
        continue;
      }
      const DWORD next = list ? p->second->m_dwNextListNo : p->second->m_dwNextStructNo;
      if (id.dwWord[3] >= next)
        Raise("object " + Num(o.oid) + " carries number " + Num(id.dwWord[3]) + ", not below its project's " +
              (list ? "next_list_no" : "next_struct_no"));
    }
  }

  // Reads a table of entries numbered 0, 1, ... per owner (its first two
  // columns), handing each row and its owner, an object of kind T, to `f`.
  template <class T, class F>
  void ReadNumbered(const char* sql, const char* table, const char* what, F f) {
    Statement st(m_db, sql);
    bool any = false;
    LONGLONG last = 0, expected = 0;
    while (st.Next()) {
      Columns c(st.get(), table);
      const LONGLONG oid = c.Any(0);
      T* owner = FindAs<T>(oid, table, what);
      expected = any && oid == last ? expected : 0;
      any = true;
      last = oid;
      if (c.Any(1) != expected++) c.Bad(1, "is not the next number");
      f(c, *owner);
    }
  }

  void ReadConversions() {
    ReadNumbered<ProjectObject>("SELECT project, no, label, device FROM conversions ORDER BY project, no",
                                "conversions", "project", [](const Columns& c, ProjectObject& p) {
                                  std::u16string label = c.Text(2);
                                  auto& service = p.m_service;
                                  if (!service.m_conversionIndex.emplace(label, service.m_conversions.size()).second)
                                    c.Bad(2, "repeats a label");
                                  service.m_conversions.emplace_back(std::move(label), c.Text(3));
                                });
  }

  void ReadFlags() {
    Statement st(m_db, "SELECT oid, external_flag, flushes FROM flags");
    while (st.Next()) {
      Columns c(st.get(), "flags");
      const LONGLONG oid = c.Any(0);
      Object* o = Find(oid, "flags", "object").made;
      if (auto* classic = dynamic_cast<GvlCollectionObject*>(o)) {
        classic->m_lFlag = c.Long(1);
        if (!c.IsNull(2)) c.Bad(2, "is set for a classic collection");
      } else if (auto* hc = dynamic_cast<HcGvlCollectionObject*>(o)) {
        hc->m_lFlag = c.Long(1);
        hc->m_llFlushes = c.Int(2, 0, INT64_MAX);
      } else {
        Raise("table flags names object " + Num(oid) + ", which is not a GVL collection");
      }
      Seen(oid, "flags");
    }
  }

  void ReadGenericData() {
    ReadNumbered<GenericDataObject>("SELECT oid, no, kind, bytes FROM generic_data ORDER BY oid, no", "generic_data",
                                    "generic-data object", [](const Columns& c, GenericDataObject& g) {
                                      g.m_blobs.emplace_back(c.Long(2), c.Blob(3));
                                    });
  }

  void ReadElements() {
    Statement st(m_db, "SELECT * FROM elements");
    while (st.Next()) {
      Columns c(st.get(), "elements");
      const LONGLONG oid = c.Any(0);
      auto* e = FindAs<ElementObject>(oid, "elements", "global variable or member");
      Seen(oid, "elements");
      e->m_ulLineNo = c.Dword(1);
      e->m_lExAccess = c.Long(2);
      e->m_lClassKeyWord = c.Long(3);
      e->m_lStructKind = c.Long(4);
      e->m_bHasTypeCode = !c.IsNull(5);
      e->m_lTypeCode = e->m_bHasTypeCode ? c.Long(5) : 0;
      e->m_bHasTypeName = !c.IsNull(6);
      e->m_strTypeName = SharedText(c.Text(6));
      e->m_bHasStructDefine = !c.IsNull(7);
      if (e->m_bHasStructDefine) c.Fixed(7, e->m_structDefineID.dwWord, sizeof e->m_structDefineID.dwWord);
      int col = 8;
      for (CString* t : {&e->m_strComment, &e->m_strInitData, &e->m_strTypeString, &e->m_strRemark, &e->m_strDevice,
                         &e->m_strDeviceExtra})
        *t = SharedText(c.Text(col++));
      if (c.Int(col++, 0, 1) == 1) {
        e->m_pSys = std::make_unique<SystemLabelFields>();
        SystemLabelFields& s = *e->m_pSys;
        for (CString* t : {&s.name, &s.programName, &s.comment, &s.remark, &s.localName}) *t = SharedText(c.Text(col++));
        for (LONG* v : {&s.valueType, &s.listID, &s.id, &s.cpuID, &s.projectID, &s.status}) *v = c.Long(col++);
        s.attribute = static_cast<WORD>(c.Int(col++, 0, 0xFFFF));
        s.valueSize = static_cast<WORD>(c.Int(col++, 0, 0xFFFF));
      } else {
        for (int i = 0; i < 13; ++i, ++col)
          if (!c.IsNull(col)) c.Bad(col, "is set without a system-label part");
      }
    }
  }

  static CString SharedText(const std::u16string& s) { return CString::Shared(s.data(), s.size()); }

  void ReadMemberDevices() {
    ReadNumbered<ElementObject>("SELECT element, no, device, extra FROM member_devices ORDER BY element, no",
                                "member_devices", "global variable or member", [](const Columns& c, ElementObject& e) {
                                  e.m_arrMemberDevices.push_back(c.Text(2));
                                  e.m_arrMemberExtras.push_back(c.Text(3));
                                });
  }

  // The rows of object `oid`, which must be a high-capacity GVL or SDT.
  RowTable& RowsOf(LONGLONG oid, const char* table) {
    Object* o = Find(oid, table, "object").made;
    if (auto* l = dynamic_cast<HcGvlObject*>(o)) return l->m_table;
    if (auto* s = dynamic_cast<HcSdtObject*>(o)) return s->m_table;
    Raise(std::string("table ") + table + " names object " + Num(oid) + ", which has no rows");
  }

  void ReadRowTables() {
    Statement st(m_db, "SELECT oid, next_row_id FROM row_tables");
    while (st.Next()) {
      Columns c(st.get(), "row_tables");
      const LONGLONG oid = c.Any(0);
      RowTable& t = RowsOf(oid, "row_tables");
      Seen(oid, "row_tables");
      t.m_llNextRowID = c.Int(1, RowTable::kFirstRowID, LONGLONG{INT32_MAX} + RowTable::kRowIDStep);
    }
  }

  // Reads a row table's rows, merging their comment (and device) rows in:
  // all three are ordered by owner and row ID.
  template <class Owner>
  void ReadRows(const char* table, const char* ownerColumn, const char* what, const char* commentTable,
                const char* deviceTable, const RowLayout& layout) {
    const std::string key = std::string(ownerColumn) + ", row_id";
    Statement rows(m_db, std::string("SELECT * FROM ") + table + " ORDER BY " + key);
    Statement comments(m_db, std::string("SELECT * FROM ") + commentTable + " ORDER BY " + key + ", no");
    std::unique_ptr<Statement> devices;
    if (deviceTable) devices = std::make_unique<Statement>(m_db, std::string("SELECT * FROM ") + deviceTable + " ORDER BY " + key + ", no");
    Cursor comment{comments, comments.Next(), commentTable};
    Cursor device{devices ? *devices : comments, devices ? devices->Next() : false, deviceTable};
    ByteWriter w, entries, deviceEntries;
    while (rows.Next()) {
      Columns c(rows.get(), table);
      const LONGLONG owner = c.Any(0);
      const LONGLONG rowID = c.Int(1, RowTable::kFirstRowID, INT32_MAX);
      RowTable* t = &FindAs<Owner>(owner, table, what)->m_table;
      const bool fresh = c.Int(2, 0, 1) == 1;
      w.Buffer().clear();
      bool blank = true;
      int col = 3;
      for (std::size_t i = 0; i < layout.numbers; ++i, ++col) {
        const bool unsignedNumber = layout.devices && i + 2 >= layout.numbers;
        const LONGLONG v = unsignedNumber ? c.Dword(col) : c.Long(col);
        blank = blank && v == 0;
        w.U32(static_cast<DWORD>(v));
      }
      for (std::size_t i = 0; i < layout.texts; ++i, ++col) blank = c.CodeText(col, w) && blank;
      const LONGLONG nComments = c.Int(col, 0, INT32_MAX);
      const bool consecutive = !c.IsNull(col + 1);
      const ULONGLONG firstKey = consecutive ? static_cast<ULONGLONG>(c.Any(col + 1)) : 0;
      if (consecutive && nComments == 0) c.Bad(col + 1, "is set for a row without comments");
      ReadComments(comment, owner, rowID, nComments, consecutive, firstKey, entries);
      if (fresh && (!blank || nComments != 0)) c.Bad(2, "marks a fresh row that has fields");
      DWORD nDevices = 0;
      if (layout.devices) {
        nDevices = device.Take(owner, rowID, [&](Columns& k) {
          k.CodeText(3, deviceEntries);
          k.CodeText(4, deviceEntries);
        }, deviceEntries);
        if (fresh && nDevices != 0) c.Bad(2, "marks a fresh row that has devices");
      }
      StoredRow row;
      row.lRowID = static_cast<LONG>(rowID);
      if (!fresh) {
        w.U32(static_cast<DWORD>(nComments));
        w.Raw(entries.Buffer().data(), entries.Buffer().size());
        if (layout.devices) {
          w.U32(nDevices);
          w.Raw(deviceEntries.Buffer().data(), deviceEntries.Buffer().size());
        }
        row.code.assign(w.Buffer().begin(), w.Buffer().end());
      }
      if (!t->AppendLoaded(std::move(row))) c.Bad(1, "is not above the rows before it and below the table's next row ID");
      m_progress.Advance(1);
    }
    comment.NoneLeft();
    if (devices) device.NoneLeft();
  }

  struct Cursor;

  // Codes the `count` comment entries of row (owner, rowID) into `out`. With
  // consecutive keys from `firstKey`, an entry without a comment row has
  // the text "".
  static void ReadComments(Cursor& rows, LONGLONG owner, LONGLONG rowID, LONGLONG count, bool consecutive,
                           ULONGLONG firstKey, ByteWriter& out) {
    out.Buffer().clear();
    LONGLONG no = 0;
    rows.Each(owner, rowID, [&](Columns& k) {
      const LONGLONG at = k.Int(2, 0, count - 1);
      if (at < no || (!consecutive && at != no)) k.Bad(2, "is not the next number");
      for (; no < at; ++no) {  // entries without a row of their own
        out.U64(firstKey + static_cast<ULONGLONG>(no));
        out.Text(u"", 0);
      }
      const ULONGLONG key = static_cast<ULONGLONG>(k.Any(3));
      if (consecutive && key != firstKey + static_cast<ULONGLONG>(at)) k.Bad(3, "does not follow the row's first key");
      out.U64(key);
      k.CodeText(4, out);
      ++no;
    });
    if (no < count && !consecutive) Raise("row " + Num(rowID) + " of object " + Num(owner) + " lacks comment rows");
    for (; no < count; ++no) {
      out.U64(firstKey + static_cast<ULONGLONG>(no));
      out.Text(u"", 0);
    }
  }

  // Walks a comment or device table beside its rows.
  struct Cursor {
    Statement& st;
    bool has;
    const char* table;

    // Hands the entries of row (owner, rowID) to `f`, checks their numbers
    // and returns how many there were; `out` is emptied first.
    template <class F>
    DWORD Take(LONGLONG owner, LONGLONG rowID, F f, ByteWriter& out) {
      out.Buffer().clear();
      DWORD n = 0;
      Each(owner, rowID, [&](Columns& k) {
        if (k.Any(2) != n) k.Bad(2, "is not the next number");
        f(k);
        ++n;
      });
      return n;
    }
    // Hands each row of (owner, rowID) to `f`.
    template <class F>
    void Each(LONGLONG owner, LONGLONG rowID, F f) {
      while (has) {
        Columns k(st.get(), table);
        const LONGLONG o = k.Any(0), r = k.Any(1);
        if (o < owner || (o == owner && r < rowID)) k.Bad(1, "names a row that does not exist");
        if (o != owner || r != rowID) break;
        f(k);
        has = st.Next();
      }
    }
    void NoneLeft() {
      if (has) Columns(st.get(), table).Bad(1, "names a row that does not exist");
    }
  };

  void ReadArraySizes() {
    Statement st(m_db, "SELECT owner, row_id, no, value1, value2 FROM array_sizes ORDER BY owner, row_id, no");
    while (st.Next()) {
      Columns c(st.get(), "array_sizes");
      const LONGLONG owner = c.Any(0);
      StoredRow* row = RowsOf(owner, "array_sizes").Find(static_cast<LONG>(c.Int(1, RowTable::kFirstRowID, INT32_MAX)));
      if (row == nullptr) c.Bad(1, "names a row that does not exist");
      if (c.Any(2) != static_cast<LONGLONG>(row->arraySizes.size())) c.Bad(2, "is not the next number");
      row->arraySizes.push_back(stVNArraySizeX{c.Any(3), c.Any(4)});
    }
  }

  sqlite3* m_db;
  RefDatabaseImpl& m_impl;
  RefDatabaseImpl& m_progress;
  std::vector<ObjectRow> m_objects;  // by oid
  std::vector<std::size_t> m_walk;   // indexes in creation order
};

}  // namespace

const char* ProjectSchemaSql() { return kSchemaSql; }

namespace {
bool ReadTables(sqlite3* file, RefDatabase& db, RefDatabaseImpl& progress, std::string* problem) {
  try {
    Loader(file, db.Impl(), progress).Run();
    return true;
  } catch (const Problem& p) {
    if (problem) *problem = p.what();
  } catch (const std::bad_alloc&) {
    if (problem) *problem = "out of memory";
  }
  return false;
}
}  // namespace

bool ReadProjectTables(sqlite3* file, RefDatabase& db, std::string* problem) {
  return ReadTables(file, db, db.Impl(), problem);
}

bool RefDatabase::SaveToFile(const std::string& path, std::string* error) const {
  try {
    RefuseFolder(path);
    Connection c(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    sqlite3* db = c.get();
    // A file that is not ours is refused before anything in it changes.
    CheckHeader(db);
    Statement(db, "PRAGMA journal_mode=WAL").Next();
    Exec(db, "PRAGMA synchronous=FULL");
    Exec(db, "BEGIN IMMEDIATE");
    try {
      // Asked again under the write lock: another writer may have made it meanwhile.
      if (CheckHeader(db)) {
        Exec(db, kSchemaSql);
        Exec(db, ("PRAGMA application_id=" + Num(kProjectApplicationId)).c_str());
        Exec(db, ("PRAGMA user_version=" + Num(kProjectSchemaVersion)).c_str());
      } else {
        for (const char* table : kTables) Exec(db, (std::string("DELETE FROM ") + table).c_str());
      }
      Saver(db, *m_impl).Run();
      Exec(db, "COMMIT");
    } catch (...) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
    return true;
  } catch (const Problem& p) {
    if (error) *error = path + ": " + p.what();
  } catch (const std::bad_alloc&) {
    if (error) *error = path + ": out of memory";
  }
  return false;
}

bool RefDatabase::LoadFromFile(const std::string& path, std::string* error) {
  try {
    RefuseFolder(path);
    std::unique_ptr<Connection> c;
    try {
      c = std::make_unique<Connection>(path, SQLITE_OPEN_READWRITE);
    } catch (const Problem&) {
      c = std::make_unique<Connection>(path, SQLITE_OPEN_READONLY);
    }
    sqlite3* db = c->get();
    if (CheckHeader(db)) Raise("is an empty SQLite database, not a project file");
    // One read transaction: the check and the reading see the same commit.
    Exec(db, "BEGIN");
    Statement(db, "SELECT count(*) FROM sqlite_master").Next();  // starts the read
    {
      Statement check(db, "PRAGMA integrity_check(1)");
      if (check.Next()) {
        const auto* verdict = reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
        if (verdict == nullptr || std::string(verdict) != "ok")
          Raise(std::string("damaged (integrity check: ") + (verdict ? verdict : "no answer") + ")");
      }
    }
    RefDatabase fresh;
    std::string problem;
    const bool read = ReadTables(db, fresh, *m_impl, &problem);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (!read) Raise(problem);

    // Drop the current content (objects still referenced live on as zombies)
    // and take over the loaded one.
    RefDatabaseImpl& from = *fresh.m_impl;
    while (!m_impl->m_projects.empty()) m_impl->Delete(m_impl->m_projects.back());
    from.m_objects.ForEach([this](Object* o) { o->m_pDb = m_impl.get(); });
    m_impl->m_objects = std::move(from.m_objects);
    m_impl->m_projects = std::move(from.m_projects);
    m_impl->m_ullNextSerial = from.m_ullNextSerial;
    m_impl->m_dwNextProjectNo = from.m_dwNextProjectNo;
    from.m_objects = ObjectTable();
    from.m_projects.clear();
    return true;
  } catch (const Problem& p) {
    if (error) *error = path + ": " + p.what();
  } catch (const std::bad_alloc&) {
    if (error) *error = path + ": out of memory";
  }
  return false;
}

}  // namespace refdb
