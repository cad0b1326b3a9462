// File: RefDatabase.h
//
// The reference workspace database: an in-process implementation of every
// database interface the label-structure component calls, for tests, tools
// and benchmarks. Depends only on the interface headers and the platform.
//
// Example:
//   refdb::RefDatabase db;
//   STOBJECTID project = db.NewProject(u"Project");
//   CKX9ComFuncLabelStructure labels(db.Workspace());
//   labels.Initialize(project);
//   db.Faults().Set("Workspace.GetChildIDByType", {/*status*/ 5, /*detail*/ 77});
//
// Object tree. A project object holds, as NewProject makes it: the classic
// collection of GVLs (13) and of SDTs (17), the high-capacity collections
// (0xA2000014, 0xA2000015) and the generic-data object (2). A classic GVL
// (14) gets its variable collection (15) with its first element; an SDT (18)
// its member collection (19). GVLs and SDTs created under the high-capacity
// collections keep their elements as rows.
//
// Object IDs. Keys are unique and lookups hash-based. Classic variables and
// members get type-carrying IDs (top byte of the key 0xFF, low word the type
// code). High-capacity GVLs have word 0 = 0, word 1 = 0xE0030000 and word 3
// = their number; high-capacity SDTs word 1 = 0xE0300000. Numbers count from
// 1 per project and are never given twice. Every ID has a non-zero last word,
// so only all twelve words name an object.
//
// Objects. GetDataObject hands out an object's IUnknown, borrowed. A project
// (1) answers nothing more; the classic GVL collection (13)
// IVNDataABS_GlobalLabelSetting; the high-capacity GVL collection
// IVNDataABS_Storage and IVNDataABS_HighCapacityLabelSetting (read-only; see
// SetHighCapacityExternalFlag); the generic-data object (2)
// IVNDataABS_GenericData; a global variable (16) IVNDataABS_Variable,
// IVNDataABS_GlobalVariable, IVNDataABS_VariableDataType,
// IVNDataABS_StructVariable and IVNDataABS_SystemLabel; a structure member
// (20) the first three; a high-capacity GVL
// IVNDataABS_HighCapacityGlobalVariable, a high-capacity SDT
// IVNDataABS_HighCapacityStructure. CreateDataObject accepts any type under
// any object; CreateElementObject works on classic GVLs and SDTs only.
// GetParentID of a project gives the null ID.
//
// Texts. Texts passed in are copied up to their first zero unit (null is the
// empty text). Element and name getters return a null BSTR for an empty
// text; GetMemberDevices fills every slot with a BSTR, empty texts included.
// Row records keep their texts exactly: a null text reads back null and an
// empty one as an empty BSTR.
//
// Rows. Row IDs start at 1001 and step by 7 in the order rows are added;
// they are never reused. GetRowIDs ignores its arguments a, b, c and d and
// lists rows in the order they were added. GetRows checks every row ID
// before it fills anything; SetRows checks every record (its row exists, its
// comment and member-device counts match non-null arrays) before it writes
// anything. GetRowObjectID names the project's high-capacity SDT whose name
// is the row's structTypeName, or its dataTypeName when that is empty (the
// first such SDT made, if several).
//
// Device conversion. Each project answers a label with "D" followed by a
// number: the first label asked for gets D10000, the next new one D10001,
// and a label asked for again gets its device again. extraText is an empty
// BSTR.
//
// Failures of its own (unknown ID, wrong kind of object, bad argument,
// allocation) are negative statuses with a kDetail* code below, except a
// missing child in GetChildIDByType (status 1). An object deleted while an
// interface on it is held stays alive until released, and its operations
// then fail with kDetailDeleted.
//
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/kx9platform.h"
#include "workspace/VNDataABS.h"

namespace refdb {

// Details the database stores in *detail on failures of its own (injected
// faults store the detail of their Fault instead).
constexpr LONG kDetailNotFound = 0x1001;         // no object or row of that ID
constexpr LONG kDetailNoSuchChild = 0x1002;      // GetChildIDByType: no child of that type
constexpr LONG kDetailWrongType = 0x1003;        // the object cannot do that
constexpr LONG kDetailBadArgument = 0x1004;      // null pointer, negative count, malformed record
constexpr LONG kDetailNoSuchService = 0x1005;    // GetServiceObject: unknown service code
constexpr LONG kDetailNoSuchStructure = 0x1006;  // GetRowObjectID: no structured type of that name
constexpr LONG kDetailDeleted = 0x1007;          // the object was deleted while an interface was held
constexpr LONG kDetailOutOfMemory = 0x1008;      // a BSTR or task-memory allocation failed
constexpr LONG kDetailExhausted = 0x1009;        // no row IDs left in the table

// Statuses of the database's own failures. All are negative, so that every
// caller convention counts them as failures; GetChildIDByType reports a
// missing child with kStatusNoChild (positive) and kDetailNoSuchChild.
constexpr HRESULT kStatusFailed = E_FAIL;
constexpr HRESULT kStatusBadPointer = E_POINTER;
constexpr HRESULT kStatusInvalidArgument = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT kStatusOutOfMemory = E_OUTOFMEMORY;
constexpr HRESULT kStatusNoChild = 1;

struct Fault {
  HRESULT status = -1;  // returned by the failing call
  LONG detail = 0;      // stored in *detail
  int nth = 1;          // first failing call, counted from Set (1 = the next call)
  int times = 1;        // how many calls fail from there; -1 = every call from then on
};

// FaultTable
//
// Failure injection and call counting for every operation of the database.
// Operation names are checked: Set, Always, Clear and Calls raise
// std::invalid_argument for a name that is no operation of the database, so
// a misspelt name cannot make a test pass vacuously. A fault returns its
// status and detail without doing anything else; once its `times` calls have
// failed it is disarmed.
class FaultTable {
 public:
  FaultTable();

  // Arms a fault for the operation `op` (replacing an armed one).
  void Set(const std::string& op, const Fault& fault);
  // Fails every call of `op` from now on.
  void Always(const std::string& op, HRESULT status, LONG detail = 0) { Set(op, Fault{status, detail, 1, -1}); }
  void Clear(const std::string& op);
  void ClearAll();
  // Number of calls of `op` since the database was made (or ResetCounts).
  long Calls(const std::string& op) const;
  long TotalCalls() const;
  void ResetCounts();

  // Called by every operation: counts the call and, when a fault fires,
  // stores its detail and returns true with its status in *status.
  bool Hit(const char* op, HRESULT* status, LONG* detail);

  // Hit for the database's own operations, `op` being the operation's index;
  // costs two increments while no fault is armed.
  bool Hit(int op, HRESULT* status, LONG* detail) {
    ++m_total;
    ++m_calls[static_cast<std::size_t>(op)];
    return m_armedCount != 0 && Fire(op, status, detail);
  }

  // Every operation name, in a fixed order.
  static std::vector<std::string> OperationNames();
  // Index of the operation `op`, or -1.
  static int OperationIndex(const std::string& op);

 private:
  struct Armed {
    Fault fault;
    long seen = 0;
    bool active = false;
  };
  bool Fire(int op, HRESULT* status, LONG* detail);
  static int Require(const std::string& op);

  std::vector<Armed> m_armed;
  std::vector<long> m_calls;
  int m_armedCount = 0;
  long m_total = 0;
};

struct ProjectOptions {
  bool classicCollections = true;       // 13 and 17
  bool highCapacityCollections = true;  // 0xA2000014 and 0xA2000015
  bool genericData = true;              // 2
};

class RefDatabaseImpl;

// Marks the calling thread as inside a database operation for as long as it
// lives, so tests can tell the database's own allocations from the
// component's.
class CallScope {
 public:
  CallScope() noexcept { ++Depth(); }
  ~CallScope() { --Depth(); }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;
  // Database operations the calling thread is inside of.
  static int& Depth() noexcept {
    static thread_local int depth = 0;
    return depth;
  }
};

class RefDatabase {
 public:
  RefDatabase();
  ~RefDatabase();
  RefDatabase(const RefDatabase&) = delete;
  RefDatabase& operator=(const RefDatabase&) = delete;

  // The workspace interface; lives as long as this object.
  IVNDataABS_Workspace* Workspace();

  // A new project object (type 1) with the collections of `options`.
  STOBJECTID NewProject(const std::u16string& name, const ProjectOptions& options = {});

  FaultTable& Faults();

  // Makes `id` (or every object of `type`) answer QueryInterface for `iid`
  // with E_NOINTERFACE.
  void WithholdInterface(const STOBJECTID& id, const IID& iid);
  void WithholdInterfaceForType(LONG type, const IID& iid);
  // Makes the label service withhold `iid` (e.g. IVNDataABS_DeviceConversion).
  void WithholdServiceInterface(const IID& iid);

  // --- read-back for tests ---------------------------------------------------
  bool Exists(const STOBJECTID& id) const;
  long ObjectCount() const;
  bool LastUpdateTime(const STOBJECTID& id, SYSTEMTIME* time) const;  // false: never stamped
  // What IVNDataABS_VariableDataType received (false: nothing set).
  bool TypeCode(const STOBJECTID& id, LONG* code) const;
  bool TypeName(const STOBJECTID& id, std::u16string* name) const;
  bool StructDefineID(const STOBJECTID& id, STOBJECTID* structId) const;
  // The label service block of a project (empty when cleared).
  std::vector<BYTE> ServiceBlock(const STOBJECTID& project) const;
  void SetServiceBlock(const STOBJECTID& project, const std::vector<BYTE>& block);
  // Overrides what GetBlockSize reports (unset: the real size).
  void SetReportedBlockSize(const STOBJECTID& project, LONGLONG size);
  // Overrides the count output of every GetRowIDs from now on; the IDs are
  // still written as asked. Negative: the number of IDs written (default).
  void SetReportedRowIDCount(LONG count);
  // Number of Flush calls on the project's high-capacity GVL collection.
  long FlushCount(const STOBJECTID& project) const;
  // References handed out by QueryInterface and not yet released. A Release
  // of a borrowed object (GetDataObject, GetServiceObject, Workspace) shows
  // up as a negative count.
  long OutstandingReferences() const;
  // The flag CreateDataObject received (false: no such object).
  bool CreationFlag(const STOBJECTID& id, BYTE* flag) const;
  // External flag of the project's classic GVL collection (13); 0 when none.
  LONG ClassicExternalFlag(const STOBJECTID& project) const;
  // Sets the read-only external flag of the project's high-capacity GVL
  // collection (0xA2000014).
  void SetHighCapacityExternalFlag(const STOBJECTID& project, LONG flag);
  // Tree read-back that counts no database call: the first child of `type`
  // (null when none), the children in order, the type (0 when no object) and
  // the name.
  STOBJECTID ChildOfType(const STOBJECTID& parent, LONG type) const;
  std::vector<STOBJECTID> Children(const STOBJECTID& parent) const;
  LONG ObjectType(const STOBJECTID& id) const;
  std::u16string ObjectName(const STOBJECTID& id) const;
  // Labels the project's device conversion has answered, in the order of
  // their first request, with the device given to each.
  std::vector<std::pair<std::u16string, std::u16string>> ConvertedLabels(const STOBJECTID& project) const;

  // --- progress -------------------------------------------------------------
  // Work as the database sees it: how many elements and rows it has read or
  // written since the report was set, each element counted once, and the
  // save and open of a project file object by object and row by row.
  using ProgressReport = std::function<void(unsigned long long done, unsigned long long total)>;
  // `report` hears the count every thousandth of `total`, what the work will
  // reach when known, or every 4096 without one (0). Null stops the reports.
  void SetProgress(ProgressReport report, unsigned long long total = 0);
  // Elements and live rows the database holds, what reading all of it counts to.
  unsigned long long ElementsHeld() const;

  // --- project file -------------------------------------------------------
  // Writes the whole database (every project, object, field, row, array
  // size, blob, service block, conversion, flag, name, stamp and counter) to
  // the project file at `path`, an SQLite database, in one transaction: a
  // crash at any moment leaves the file as it was or as it is after. A file
  // that is there must be a project file. Faults, withheld interfaces and
  // call counts are test settings, not content, and are not saved. False,
  // with *error naming the file and the problem, when it could not be saved.
  bool SaveToFile(const std::string& path, std::string* error = nullptr) const;
  // Replaces the content with the project file at `path`; IDs stay as they
  // were. False, with *error naming the file and the problem and the content
  // unchanged, when the file is not a sound project file of this version.
  bool LoadFromFile(const std::string& path, std::string* error = nullptr);
  // The projects, in creation order.
  std::vector<STOBJECTID> Projects() const;

  RefDatabaseImpl& Impl() { return *m_impl; }

 private:
  std::unique_ptr<RefDatabaseImpl> m_impl;
};

}  // namespace refdb
