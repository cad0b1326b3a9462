// The tables of a project file, edited row by row, read back the way a file
// open reads them: every edit keeps or breaks some invariant, and the reader
// must tell which without crashing.
//
// Input: one control byte, then edits, each an op byte and its operands.
//   control bit 0  start from a saved sample project (both series, every
//                  kind of state) instead of the empty schema
//   op bits 0-3    the table, an index into kTables; 15: the next byte
//                  names a table to drop (bit 7) or to widen by a column
//   op bits 4-5    0 insert or replace a whole row, 1 and 2 update one
//                  column, 3 delete
// An update takes the column's index, its value and a byte that chooses the
// rows (every row, those of one owner, or of one owner and second key); a
// delete takes that choice alone. Each value takes one selector byte (texts,
// IDs and blobs may take more) that draws from a small range fitting the
// column, so that references hit and miss; a selector from 0xE8 up gives a
// value of the wrong class or out of 32-bit range instead.
//
// The reader fills a fresh database. When it accepts, that database saves,
// the file loads into another one, that saves a file of the same content,
// and new objects made in it get IDs of their own; when it refuses, it says
// why. Leaks are left to the sanitizer.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "fuzz/FuzzHarness.h"
#include "refdb/ProjectFile.h"

using namespace fuzz;

namespace {

const char* const kTables[] = {"objects",       "projects",          "flags",
                               "elements",      "member_devices",    "row_tables",
                               "variable_rows", "variable_comments", "variable_devices",
                               "member_rows",   "member_comments",   "array_sizes",
                               "conversions",   "generic_data",      "meta"};
constexpr int kTableCount = sizeof kTables / sizeof kTables[0];
constexpr int kMaxEdits = 64;
constexpr int kOids = 20;  // oids drawn: the sample has 18 objects, the rest miss

// What a column holds, which decides the range its values come from.
enum class Kind { kOid, kParent, kId, kStamp, kType, kChildNo, kRowId, kNo, kKey, kBool, kInt, kWide, kText, kBlob };

struct Column {
  std::string name;
  Kind kind;
};

struct Value {
  enum { kNull, kInt, kReal, kText, kBlob } type = kNull;
  sqlite3_int64 i = 0;
  double r = 0;
  std::string bytes;
};

Value Int(sqlite3_int64 i) {
  Value v;
  v.type = Value::kInt;
  v.i = i;
  return v;
}
Value Text(std::string s) {
  Value v;
  v.type = Value::kText;
  v.bytes = std::move(s);
  return v;
}
Value Blob(std::string s) {
  Value v;
  v.type = Value::kBlob;
  v.bytes = std::move(s);
  return v;
}

class Input {
 public:
  Input(const BYTE* p, std::size_t n) : m_p(p), m_n(n) {}
  BYTE Next() { return m_pos < m_n ? m_p[m_pos++] : 0; }
  bool Done() const { return m_pos >= m_n; }
  std::string Bytes(std::size_t n) {
    n = std::min(n, m_n - m_pos);
    std::string s(reinterpret_cast<const char*>(m_p + m_pos), n);
    m_pos += n;
    return s;
  }

 private:
  const BYTE* m_p;
  std::size_t m_n;
  std::size_t m_pos = 0;
};

Kind KindOf(const std::string& name, const std::string& declared) {
  static const struct {
    const char* name;
    Kind kind;
  } kNamed[] = {{"oid", Kind::kOid},
                {"project", Kind::kOid},
                {"list", Kind::kOid},
                {"structure", Kind::kOid},
                {"element", Kind::kOid},
                {"owner", Kind::kOid},
                {"parent", Kind::kParent},
                {"id", Kind::kId},
                {"struct_define", Kind::kId},
                {"stamp", Kind::kStamp},
                {"type", Kind::kType},
                {"child_no", Kind::kChildNo},
                {"row_id", Kind::kRowId},
                {"no", Kind::kNo},
                {"key", Kind::kKey},
                {"fresh", Kind::kBool},
                {"size_overridden", Kind::kBool},
                {"system_label", Kind::kBool},
                {"flushes", Kind::kWide},
                {"reported_size", Kind::kWide},
                {"value1", Kind::kWide},
                {"value2", Kind::kWide}};
  for (const auto& n : kNamed)
    if (name == n.name) return n.kind;
  if (name.compare(0, 5, "next_") == 0) return Kind::kWide;
  if (declared == "TEXT") return Kind::kText;
  if (declared == "BLOB") return Kind::kBlob;
  return Kind::kInt;
}

std::vector<Column> ColumnsOf(sqlite3* db, const char* table) {
  std::vector<Column> columns;
  sqlite3_stmt* s = nullptr;
  Check(sqlite3_prepare_v2(db, (std::string("PRAGMA table_info(") + table + ")").c_str(), -1, &s, nullptr) ==
        SQLITE_OK);
  while (sqlite3_step(s) == SQLITE_ROW) {
    const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
    const std::string declared = reinterpret_cast<const char*>(sqlite3_column_text(s, 2));
    columns.push_back({name, KindOf(name, declared)});
  }
  sqlite3_finalize(s);
  Check(!columns.empty());
  return columns;
}

bool Exec(sqlite3* db, const std::string& sql) {
  return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Removes a saved file and whatever SQLite keeps beside it.
void RemoveFile(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::remove((path + suffix).c_str());
}

// --- the sample project ------------------------------------------------------

IUnknown* ObjectOf(refdb::RefDatabase& db, const STOBJECTID& id) {
  IUnknown* o = nullptr;
  LONG detail = 0;
  Check(db.Workspace()->GetDataObject(id, &o, &detail) == S_OK);
  return o;
}

template <class T>
ComPtr<T> Query(refdb::RefDatabase& db, const STOBJECTID& id) {
  ComPtr<T> p;
  Check(QueryInterfaceTo(ObjectOf(db, id), p));
  return p;
}

STOBJECTID Create(refdb::RefDatabase& db, const STOBJECTID& parent, LONG type, const char16_t* name) {
  BstrHolder text(SysAllocString(name));
  STOBJECTID id{};
  LONG detail = 0;
  Check(db.Workspace()->CreateDataObject(parent, text.Get(), type, 0, &id, &detail) == S_OK);
  return id;
}

STOBJECTID Element(refdb::RefDatabase& db, const STOBJECTID& data) {
  STOBJECTID id{};
  LONG detail = 0;
  Check(db.Workspace()->CreateElementObject(data, &id, &detail) == S_OK);
  return id;
}

// Two projects with something in every table: classic and high-capacity
// lists and structures, texts that are not valid UTF-16, deleted rows and
// objects (so counters run ahead of what is there), blobs, flags, stamps and
// a conversion.
void Populate(refdb::RefDatabase& db) {
  const STOBJECTID p = db.NewProject(u"Fuzz");
  db.NewProject(u"Second", refdb::ProjectOptions{false, true, false});
  const STOBJECTID gvl = Create(db, db.ChildOfType(p, VN_TYPE_GVL_COLLECTION), VN_TYPE_GVL, u"G");
  const STOBJECTID sdt = Create(db, db.ChildOfType(p, VN_TYPE_SDT_COLLECTION), VN_TYPE_SDT, u"T");
  const STOBJECTID gone = Create(db, db.ChildOfType(p, VN_TYPE_GVL_COLLECTION), VN_TYPE_GVL, u"Gone");
  const STOBJECTID gvlX = Create(db, db.ChildOfType(p, VN_TYPE_GVL_COLLECTION_X), VN_TYPE_GVL, u"X");
  const STOBJECTID sdtX = Create(db, db.ChildOfType(p, VN_TYPE_SDT_COLLECTION_X), VN_TYPE_SDT, u"Pos");
  const STOBJECTID var = Element(db, gvl), member = Element(db, sdt);
  Element(db, gvl);

  static const char16_t kLone[] = {u'c', 0xD800, 0};
  BstrHolder lone(SysAllocString(kLone)), dint(SysAllocString(u"DINT")), pos(SysAllocString(u"Pos")),
      d0(SysAllocString(u"D0")), e0(SysAllocString(u"E0")), name(SysAllocString(u"Speed")),
      empty(SysAllocStringLen(nullptr, 0));
  BSTR devices[] = {d0.Get(), empty.Get()}, extras[] = {e0.Get(), nullptr};
  LONG d = 0;
  ComPtr<IVNDataABS_Variable> v = Query<IVNDataABS_Variable>(db, var);
  ComPtr<IVNDataABS_GlobalVariable> g = Query<IVNDataABS_GlobalVariable>(db, var);
  ComPtr<IVNDataABS_VariableDataType> t = Query<IVNDataABS_VariableDataType>(db, var);
  ComPtr<IVNDataABS_StructVariable> s = Query<IVNDataABS_StructVariable>(db, var);
  ComPtr<IVNDataABS_SystemLabel> l = Query<IVNDataABS_SystemLabel>(db, var);
  ComPtr<IVNDataABS_VariableDataType> mt = Query<IVNDataABS_VariableDataType>(db, member);
  ComPtr<IVNDataABS_HighCapacityGlobalVariable> gx = Query<IVNDataABS_HighCapacityGlobalVariable>(db, gvlX);
  ComPtr<IVNDataABS_HighCapacityStructure> sx = Query<IVNDataABS_HighCapacityStructure>(db, sdtX);
  LONG rows[3] = {}, members[2] = {};
  Check(gx->AddRows(3, rows, &d) == S_OK && sx->AddRows(2, members, &d) == S_OK);

  stVNVariableCommentItem comments[] = {{9, name.Get()}, {12, lone.Get()}};
  stVNGlobalVariableAndSystemLabelElementDataX row{};
  row.rowID = rows[1];
  row.lineNo = 2;
  row.name = name.Get();
  row.comment = {2, comments};
  row.classKeyword = 1;
  row.dataTypeName = pos.Get();
  row.remark = lone.Get();
  row.device = empty.Get();
  row.structType = 1;
  row.hasArraySizes = 1;
  row.structTypeName = pos.Get();
  row.memberDevices = devices;
  row.memberDeviceExtras = extras;
  row.memberDeviceCount = 2;
  row.dynamicAttr3 = -7;
  row.sysName = name.Get();
  row.sysAttribute = 0xFFFF;
  row.sysStatus = 2;
  row.sysID = -1;
  stVNStructElementDataX memberRow{};
  memberRow.rowID = members[1];
  memberRow.lineNo = 1;
  memberRow.name = name.Get();
  memberRow.comment = {1, comments};
  memberRow.classKeyword = 8;
  memberRow.dataTypeName = dint.Get();
  memberRow.spareValue = 0x7FFFFFFF;
  const stVNArraySizeX sizes[] = {{0, 3}, {-1, 4}};
  const BYTE blob[] = {0xA5, 0, 0x5A};
  std::vector<BYTE> block = {0xDE, 0xAD, 0xBE, 0xEF};

  IVNDataABS_LabelService* service = nullptr;
  Check(db.Workspace()->GetServiceObject(p, VN_SERVICE_LABEL, &service, &d) == S_OK);
  ComPtr<IVNDataABS_DeviceConversion> conversion;
  Check(QueryInterfaceTo(service, conversion));
  stVNLabelConversion request{name.Get(), nullptr, nullptr, 0};
  const HRESULT converted = conversion->ConvertLabels(1, &request, &d);
  SysFreeString(request.deviceText);
  SysFreeString(request.extraText);

  for (HRESULT hr :
       {converted,
        v->SetLineNo(3, &d),
        v->SetComment(lone.Get(), &d),
        v->SetExAccess(1, &d),
        g->SetInitData(d0.Get(), &d),
        g->SetRemark(name.Get(), &d),
        g->SetClassKeyWord(2, &d),
        g->SetAllocatedDevice(d0.Get(), &d),
        t->SetTypeCode(9, &d),
        t->SetTypeName(dint.Get(), &d),
        t->SetStructDefineID(sdtX, &d),
        s->SetStructKind(1, &d),
        s->SetMemberDevices(devices, extras, 2, &d),
        l->SetName(name.Get(), &d),
        l->SetStatus(3, &d),
        l->SetAttribute(0xFFFF, &d),
        l->SetID(-5, &d),
        mt->SetTypeName(dint.Get(), &d),
        gx->SetRows(1, &row, &d),
        gx->SetArraySizes(rows[1], 2, 0, sizes, &d),
        gx->DeleteRows(1, &rows[0], &d),
        sx->SetRows(1, &memberRow, &d),
        Query<IVNDataABS_GlobalLabelSetting>(db, db.ChildOfType(p, VN_TYPE_GVL_COLLECTION))->SetExternalFlag(6, &d),
        Query<IVNDataABS_Storage>(db, db.ChildOfType(p, VN_TYPE_GVL_COLLECTION_X))->Flush(&d),
        Query<IVNDataABS_GenericData>(db, db.ChildOfType(p, VN_TYPE_GENERIC_DATA))
            ->SetGenericData(VN_GENERIC_SYSTEM_LABEL, sizeof blob, blob, &d),
        Query<IVNDataABS_GenericData>(db, db.ChildOfType(p, VN_TYPE_GENERIC_DATA))->SetGenericData(7, 1, blob, &d),
        db.Workspace()->SetLastUpdateTime(gvl, SYSTEMTIME{2023, 12, 0, 31, 1, 2, 3, 4}, &d),
        db.Workspace()->SetObjectName(sdt, lone.Get(), &d),
        db.Workspace()->DeleteDataObject(gone, &d)})
    Check(hr == S_OK);
  db.SetServiceBlock(p, block);
  db.SetReportedBlockSize(p, 1LL << 33);
  db.SetHighCapacityExternalFlag(p, 2);
}

// Serialized in-memory databases the inputs start from, made once.
struct Bases {
  std::string dir = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
  std::string saved = dir + "/kx9_project_file_fuzz_a_" + std::to_string(static_cast<long>(::getpid()));
  std::string again = dir + "/kx9_project_file_fuzz_b_" + std::to_string(static_cast<long>(::getpid()));
  std::vector<unsigned char> empty, sample;
  std::vector<std::vector<Column>> columns;
  std::vector<std::string> ids;  // object IDs of the sample, by oid - 1

  Bases() {
    sqlite3* mem = nullptr;
    Check(sqlite3_open(":memory:", &mem) == SQLITE_OK && Exec(mem, refdb::ProjectSchemaSql()));
    for (const char* table : kTables) columns.push_back(ColumnsOf(mem, table));
    empty = Serialize(mem);
    {
      refdb::RefDatabase db;
      Populate(db);
      std::string error;
      RemoveFile(saved);
      Check(db.SaveToFile(saved, &error));
    }
    Check(Exec(mem, "ATTACH '" + saved + "' AS src"));
    for (const char* table : kTables) {
      Check(Exec(mem, std::string("INSERT INTO main.") + table + " SELECT * FROM src." + table));
      Check(sqlite3_changes(mem) > 0);  // the sample fills every table
    }
    Check(Exec(mem, "DETACH src"));
    RemoveFile(saved);
    sqlite3_stmt* s = nullptr;
    Check(sqlite3_prepare_v2(mem, "SELECT oid, id FROM objects ORDER BY oid", -1, &s, nullptr) == SQLITE_OK);
    while (sqlite3_step(s) == SQLITE_ROW) {
      const sqlite3_int64 oid = sqlite3_column_int64(s, 0);
      if (oid < 1 || oid > kOids) continue;
      ids.resize(static_cast<std::size_t>(oid));
      ids[static_cast<std::size_t>(oid - 1)].assign(static_cast<const char*>(sqlite3_column_blob(s, 1)),
                                                    static_cast<std::size_t>(sqlite3_column_bytes(s, 1)));
    }
    sqlite3_finalize(s);
    sample = Serialize(mem);
    // What the writer wrote, the reader takes.
    refdb::RefDatabase db;
    std::string problem;
    Check(!ids.empty() && refdb::ReadProjectTables(mem, db, &problem));
    sqlite3_close(mem);
  }
  ~Bases() {
    RemoveFile(saved);
    RemoveFile(again);
  }

  static std::vector<unsigned char> Serialize(sqlite3* db) {
    sqlite3_int64 size = 0;
    unsigned char* p = sqlite3_serialize(db, "main", &size, 0);
    Check(p != nullptr);
    std::vector<unsigned char> out(p, p + size);
    sqlite3_free(p);
    return out;
  }
};

// --- values ------------------------------------------------------------------

Value Wrong(int which) {
  switch (which % 12) {
    case 0:
      return Value{};
    case 1:
      return Text("x");
    case 2:
      return Text("12");
    case 3: {
      Value v;
      v.type = Value::kReal;
      v.r = 1.5;
      return v;
    }
    case 4:
      return Int(sqlite3_int64{1} << 31);
    case 5:
      return Int(-(sqlite3_int64{1} << 31) - 1);
    case 6:
      return Int(sqlite3_int64{1} << 40);
    case 7:
      return Int(INT64_MIN);
    case 8:
      return Blob(std::string(1, '\x01'));
    case 9:
      return Text("\xED\xA0\x80");  // a surrogate in UTF-8: not valid UTF-8
    case 10:
      return Int(-1);
    default:
      return Int(0xFFFFFFFFLL);
  }
}

Value Draw(Input& in, Kind kind, const Bases& bases) {
  const BYTE s = in.Next();
  if (s >= 0xE8) return Wrong(s - 0xE8);
  switch (kind) {
    case Kind::kOid:
      return Int(1 + s % kOids);
    case Kind::kParent:
      return s % 8 == 0 ? Value{} : Int(1 + (s / 8) % kOids);
    case Kind::kId: {
      const std::size_t oid = (s / 4) % bases.ids.size();
      std::string id = bases.ids[oid];
      switch (s % 4) {
        case 2: {
          const BYTE at = in.Next(), mask = static_cast<BYTE>(in.Next() | 1);  // byte `at`, flipped by `mask`
          if (!id.empty()) id[at % id.size()] ^= static_cast<char>(mask);
          break;
        }
        case 3: {
          const std::size_t n = (s / 4) % 3 == 0 ? 47 : 48;
          id = in.Bytes(n);
          id.resize(n);
          break;
        }
        default:
          break;
      }
      return Blob(id);
    }
    case Kind::kStamp:
      switch (s % 4) {
        case 0:
          return Value{};
        case 1:
          return Blob(std::string("\xE7\x07\x0C\x00\x00\x00\x1F\x00\x01\x00\x02\x00\x03\x00\x04\x00", 16));
        case 2: {
          std::string b = in.Bytes(16);
          b.resize(16);
          return Blob(b);
        }
        default:
          return Blob(std::string(15, '\0'));
      }
    case Kind::kType: {
      static const sqlite3_int64 kTypes[] = {
          1, 2, 13, 14, 15, 16, 17, 18, 19, 20, VN_TYPE_GVL_COLLECTION_X, VN_TYPE_SDT_COLLECTION_X, 0xA2000014LL,
          0, 3, 21};
      return Int(kTypes[s % (sizeof kTypes / sizeof kTypes[0])]);
    }
    case Kind::kChildNo:
      return Int(s % 5 == 4 ? -1 : s % 5);
    case Kind::kRowId:
      return Int(s % 6 == 5 ? 1002 : 1001 + 7 * (s % 6));
    case Kind::kNo:
      return Int(s % 6 == 5 ? 16 : s % 6);
    case Kind::kKey:
      return Int(8 + s % 18);
    case Kind::kBool:
      return Int(s % 3);
    case Kind::kInt: {
      static const sqlite3_int64 kInts[] = {
          0, 1, 2, 3, 8, -1, 100, 0xFFFF, 0x10000, 0x7FFFFFFF, VN_GENERIC_SYSTEM_LABEL, 7, 6, 9, -2147483647 - 1, 4};
      return Int(kInts[s % (sizeof kInts / sizeof kInts[0])]);
    }
    case Kind::kWide: {
      static const sqlite3_int64 kWide[] = {1, 2, 1001, 1008, 1022, 0x7FFFFFFF, 0x80000000LL, 1LL << 40, -1, 0, 100};
      return s % 12 == 11 ? Value{} : Int(kWide[s % 12]);
    }
    case Kind::kText:
      switch (s % 10) {
        case 0:
          return Value{};
        case 1:
          return Text("");
        case 2:
          return Text("a");
        case 3:
          return Text("Pos");
        case 4:
          return Text("INT");
        case 5:
          return Text("Speed");
        case 6:
          return Blob(std::string("c\0\0\xD8", 4));  // a lone surrogate, UTF-16LE
        case 7:
          return Blob(std::string("a\0b\0", 4));  // valid UTF-16 kept as a blob
        case 8:
          return Blob(std::string("a\0b", 3));  // an odd number of bytes
        default:
          return Text(in.Bytes((s / 10) % 8));  // any bytes, valid UTF-8 or not
      }
    case Kind::kBlob:
      switch (s % 4) {
        case 0:
          return Value{};
        case 1:
          return Blob("");
        case 2:
          return Blob(in.Bytes((s / 4) % 16));
        default:
          return Blob("\xDE\xAD\xBE\xEF");
      }
  }
  return Value{};
}

void Bind(sqlite3_stmt* s, int index, const Value& v) {
  switch (v.type) {
    case Value::kNull:
      sqlite3_bind_null(s, index);
      break;
    case Value::kInt:
      sqlite3_bind_int64(s, index, v.i);
      break;
    case Value::kReal:
      sqlite3_bind_double(s, index, v.r);
      break;
    case Value::kText:
      sqlite3_bind_text(s, index, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT);
      break;
    case Value::kBlob:
      sqlite3_bind_blob(s, index, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT);
      break;
  }
}

// Runs `sql` with `values`; a statement the edit made invalid (a constraint,
// a dropped table) just does nothing.
void Run(sqlite3* db, const std::string& sql, const std::vector<Value>& values) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) return;
  for (std::size_t i = 0; i < values.size(); ++i) Bind(s, static_cast<int>(i + 1), values[i]);
  sqlite3_step(s);
  sqlite3_finalize(s);
}

// The rows an update or delete touches: all (always for meta, which has no
// owner), those of one owner (the first column), or of one owner and one
// value of the second column.
std::string Where(Input& in, const std::vector<Column>& columns, const Bases& bases, std::vector<Value>* values) {
  const BYTE w = in.Next() % 4;
  if (w == 0 || columns[0].kind != Kind::kOid) return "";
  values->push_back(Draw(in, columns[0].kind, bases));
  if (w == 1 || columns.size() < 2) return " WHERE " + columns[0].name + " IS ?";
  values->push_back(Draw(in, columns[1].kind, bases));
  return " WHERE " + columns[0].name + " IS ? AND " + columns[1].name + " IS ?";
}

void Edit(sqlite3* db, Input& in, const Bases& bases) {
  const BYTE op = in.Next();
  const int table = op & 15;
  if (table == kTableCount) {
    const BYTE which = in.Next();
    const std::string name = kTables[(which & 0x7F) % kTableCount];
    Exec(db, which & 0x80 ? "DROP TABLE " + name : "ALTER TABLE " + name + " ADD COLUMN extra INTEGER");
    return;
  }
  const std::vector<Column>& columns = bases.columns[static_cast<std::size_t>(table)];
  const std::string name = kTables[table];
  std::vector<Value> values;
  switch ((op >> 4) & 3) {
    case 0: {
      std::string names, marks;
      for (const Column& c : columns) {
        names += (names.empty() ? "" : ",") + c.name;
        marks += marks.empty() ? "?" : ",?";
        values.push_back(Draw(in, c.kind, bases));
      }
      Run(db, "INSERT OR REPLACE INTO " + name + "(" + names + ") VALUES(" + marks + ")", values);
      break;
    }
    case 1:
    case 2: {
      const Column& c = columns[in.Next() % columns.size()];
      values.push_back(Draw(in, c.kind, bases));
      const std::string where = Where(in, columns, bases, &values);
      Run(db, "UPDATE OR REPLACE " + name + " SET " + c.name + " = ?" + where, values);
      break;
    }
    default: {
      const std::string where = Where(in, columns, bases, &values);
      Run(db, "DELETE FROM " + name + where, values);
      break;
    }
  }
}

// --- the round trip ------------------------------------------------------------

// Every table of the file with every value, typed, in table and row order.
std::string Content(const std::string& path) {
  sqlite3* db = nullptr;
  Check(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK);
  std::string out;
  for (const char* table : kTables) {
    sqlite3_stmt* s = nullptr;
    Check(sqlite3_prepare_v2(db, (std::string("SELECT * FROM ") + table).c_str(), -1, &s, nullptr) == SQLITE_OK);
    out += table;
    while (sqlite3_step(s) == SQLITE_ROW) {
      out += '\n';
      for (int i = 0; i < sqlite3_column_count(s); ++i) {
        const int type = sqlite3_column_type(s, i);
        out += static_cast<char>('0' + type);
        if (type == SQLITE_INTEGER) out += std::to_string(sqlite3_column_int64(s, i));
        if (type == SQLITE_TEXT || type == SQLITE_BLOB) {
          const void* p =
              type == SQLITE_TEXT ? static_cast<const void*>(sqlite3_column_text(s, i)) : sqlite3_column_blob(s, i);
          const int n = sqlite3_column_bytes(s, i);
          out += std::to_string(n) + ':';
          if (n > 0) out.append(static_cast<const char*>(p), static_cast<std::size_t>(n));
        }
        out += '|';
      }
    }
    sqlite3_finalize(s);
    out += '\n';
  }
  sqlite3_close(db);
  return out;
}

// Every object of the tree, walked down from the projects; never more than
// the database holds, so that a cycle ends the walk.
std::vector<STOBJECTID> Tree(const refdb::RefDatabase& db) {
  std::vector<STOBJECTID> ids = db.Projects();
  const std::size_t count = static_cast<std::size_t>(db.ObjectCount());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    for (const STOBJECTID& c : db.Children(ids[i])) ids.push_back(c);
    Check(ids.size() <= count);
  }
  return ids;
}

// A database the reader took is one the host goes on using: every object
// made in it afterwards gets an ID of its own, whatever counters the file
// brought. One object under each child of each project (an element too
// under a classic GVL), and a new project with a high-capacity GVL and SDT,
// whose IDs carry the project's number.
void Grow(refdb::RefDatabase& db) {
  const std::vector<STOBJECTID> before = Tree(db);
  Check(static_cast<long>(before.size()) == db.ObjectCount());
  const std::unordered_set<STOBJECTID, STOBJECTIDHash> old(before.begin(), before.end());
  std::vector<std::pair<STOBJECTID, LONG>> made;
  LONG detail = 0;
  for (const STOBJECTID& project : db.Projects()) {
    for (const STOBJECTID& child : db.Children(project)) {
      const LONG kind = db.ObjectType(child);
      const LONG type = kind == VN_TYPE_SDT_COLLECTION || kind == VN_TYPE_SDT_COLLECTION_X ? VN_TYPE_SDT : VN_TYPE_GVL;
      STOBJECTID id{};
      Check(db.Workspace()->CreateDataObject(child, nullptr, type, 0, &id, &detail) == S_OK);
      made.emplace_back(id, type);
      if (kind != VN_TYPE_GVL_COLLECTION) continue;
      STOBJECTID element{};
      Check(db.Workspace()->CreateElementObject(id, &element, &detail) == S_OK);
      made.emplace_back(element, VN_TYPE_GLOBAL_VARIABLE);
    }
  }
  const STOBJECTID project = db.NewProject(u"New");
  made.emplace_back(project, 1);
  for (LONG kind : {VN_TYPE_GVL_COLLECTION_X, VN_TYPE_SDT_COLLECTION_X}) {
    STOBJECTID id{};
    const LONG type = kind == VN_TYPE_GVL_COLLECTION_X ? VN_TYPE_GVL : VN_TYPE_SDT;
    Check(db.Workspace()->CreateDataObject(db.ChildOfType(project, kind), nullptr, type, 0, &id, &detail) == S_OK);
    made.emplace_back(id, type);
  }
  const std::vector<STOBJECTID> after = Tree(db);
  Check(static_cast<long>(after.size()) == db.ObjectCount() &&
        std::unordered_set<STOBJECTID, STOBJECTIDHash>(after.begin(), after.end()).size() == after.size());
  for (const auto& m : made) Check(old.count(m.first) == 0 && db.ObjectType(m.first) == m.second);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const BYTE* data, std::size_t size) {
  static const Bases bases;
  if (size < 1) return 0;
  Input in(data, size);
  const std::vector<unsigned char>& base = (in.Next() & 1) ? bases.sample : bases.empty;
  sqlite3* mem = nullptr;
  Check(sqlite3_open(":memory:", &mem) == SQLITE_OK);
  auto* copy = static_cast<unsigned char*>(sqlite3_malloc64(base.size()));
  Check(copy != nullptr);
  std::memcpy(copy, base.data(), base.size());
  Check(sqlite3_deserialize(mem, "main", copy, static_cast<sqlite3_int64>(base.size()),
                            static_cast<sqlite3_int64>(base.size()),
                            SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE) == SQLITE_OK);
  for (int i = 0; i < kMaxEdits && !in.Done(); ++i) Edit(mem, in, bases);

  refdb::RefDatabase db;
  std::string problem;
  const bool read = refdb::ReadProjectTables(mem, db, &problem);
  Check(sqlite3_close(mem) == SQLITE_OK);  // the reader left no statement open
  if (!read) {
    Check(!problem.empty());
    return 0;
  }
  std::string error;
  RemoveFile(bases.saved);
  Check(db.SaveToFile(bases.saved, &error));
  refdb::RefDatabase loaded;
  Check(loaded.LoadFromFile(bases.saved, &error));
  Check(loaded.ObjectCount() == db.ObjectCount() && loaded.Projects() == db.Projects());
  RemoveFile(bases.again);
  Check(loaded.SaveToFile(bases.again, &error));
  Check(Content(bases.saved) == Content(bases.again));
  RemoveFile(bases.saved);
  RemoveFile(bases.again);
  Grow(loaded);
  return 0;
}
