// File: RefDatabaseImpl.h
//
// Inside of the reference database: the object tree, one class per kind of
// object, the row tables and the byte coding of the row store. Only
// refdb/*.cc include it.
//
// Every object is a COM-style object owned by the database. GetDataObject
// hands out its primary IUnknown, borrowed; QueryInterface hands out one of
// its interfaces with a reference that the caller releases. References are
// counted per object and for the whole database (OutstandingReferences). An
// object deleted while references to it are held is kept, detached and
// marked deleted, until its last reference goes; its operations then fail
// with kDetailDeleted.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "refdb/RefDatabase.h"
#include "refdb/RefOperations.h"

namespace refdb {

class RefDatabaseImpl;
class ProjectObject;

// --- helpers -------------------------------------------------------------

// Stores `code` in *detail (when there is one) and returns `status`.
inline HRESULT Fail(LONG* detail, HRESULT status, LONG code) {
  if (detail) *detail = code;
  return status;
}

// The text of a string the caller passed: up to its first zero unit; null is
// the empty text.
inline std::u16string FromBstr(const OLECHAR* text) { return text ? std::u16string(text) : std::u16string(); }

// *out = a new BSTR of `text`, or null for the empty text. False when the
// BSTR could not be allocated (*out is then null).
bool ToBstr(const std::u16string& text, BSTR* out);
bool ToBstr(const CString& text, BSTR* out);
// A BSTR's text up to its first zero unit; equal short texts share a block.
inline CString SharedText(const OLECHAR* text) {
  return CString::Shared(text, text ? std::char_traits<char16_t>::length(text) : 0);
}

// Appends values in host byte order (little-endian on every supported target).
class ByteWriter {
 public:
  void U8(BYTE v) { m_buf.push_back(v); }
  void U32(DWORD v) { Raw(&v, sizeof v); }
  void I32(LONG v) { Raw(&v, sizeof v); }
  void U64(ULONGLONG v) { Raw(&v, sizeof v); }
  void I64(LONGLONG v) { Raw(&v, sizeof v); }
  // A text: its length in units (0xFFFFFFFF: null), then the units.
  void Text(const OLECHAR* text, std::size_t units);
  void Text(const std::u16string& s) { Text(s.c_str(), s.size()); }
  // A BSTR field: null stays null, anything else is kept up to its first zero.
  void Bstr(const OLECHAR* text) { Text(text, text ? std::char_traits<char16_t>::length(text) : 0); }
  void Id(const STOBJECTID& id) { Raw(id.dwWord, sizeof id.dwWord); }
  void Raw(const void* p, std::size_t n) {
    if (n == 0) return;
    const BYTE* b = static_cast<const BYTE*>(p);
    m_buf.insert(m_buf.end(), b, b + n);
  }
  void Reserve(std::size_t n) { m_buf.reserve(n); }
  std::vector<BYTE>& Buffer() { return m_buf; }

  // Bytes Text() writes for a text of `units` units.
  static std::size_t TextSize(std::size_t units) { return 4 + 2 * units; }
  static std::size_t BstrSize(const OLECHAR* text) {
    return TextSize(text ? std::char_traits<char16_t>::length(text) : 0);
  }

 private:
  std::vector<BYTE> m_buf;
};

// Reads what ByteWriter writes. Reading past the end yields zeros and makes
// Ok() false; nothing is ever read outside the buffer.
class ByteReader {
 public:
  ByteReader(const BYTE* p, std::size_t n) : m_p(p), m_n(n) {}
  BYTE U8() {
    BYTE v = 0;
    Raw(&v, 1);
    return v;
  }
  DWORD U32() {
    DWORD v = 0;
    Raw(&v, sizeof v);
    return v;
  }
  LONG I32() {
    LONG v = 0;
    Raw(&v, sizeof v);
    return v;
  }
  ULONGLONG U64() {
    ULONGLONG v = 0;
    Raw(&v, sizeof v);
    return v;
  }
  LONGLONG I64() {
    LONGLONG v = 0;
    Raw(&v, sizeof v);
    return v;
  }
  STOBJECTID Id() {
    STOBJECTID id{};
    Raw(id.dwWord, sizeof id.dwWord);
    return id;
  }
  // A text; *isNull tells a null text from an empty one.
  std::u16string Text(bool* isNull = nullptr);
  // A text as a new BSTR (null stays null). False when it could not be
  // allocated or the buffer ended.
  bool Bstr(BSTR* out);
  // Skips one text; skips `n` bytes.
  void SkipText();
  void Skip(std::size_t n) {
    if (!m_ok || n > m_n - m_pos) {
      m_ok = false;
      return;
    }
    m_pos += n;
  }
  bool Raw(void* p, std::size_t n) {
    if (n == 0) return m_ok;
    if (!m_ok || n > m_n - m_pos) {
      m_ok = false;
      std::memset(p, 0, n);
      return false;
    }
    std::memcpy(p, m_p + m_pos, n);
    m_pos += n;
    return true;
  }
  bool Ok() const { return m_ok; }
  std::size_t Remaining() const { return m_n - m_pos; }
  // Where the next value starts.
  const BYTE* Here() const { return m_p + m_pos; }

 private:
  const BYTE* m_p;
  std::size_t m_n;
  std::size_t m_pos = 0;
  bool m_ok = true;
};

// --- objects ---------------------------------------------------------------

class Object {
 public:
  Object(RefDatabaseImpl* db, LONG type) : m_pDb(db), m_lType(type) {}
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  // The object as GetDataObject hands it out.
  virtual IUnknown* Unknown() = 0;
  // The interface `iid` when this kind of object has it, else null; adds no
  // reference.
  virtual void* Offer(REFIID iid) { return nullptr; }
  HRESULT DoQueryInterface(REFIID iid, void** ppv);
  ULONG DoAddRef();
  ULONG DoRelease();
  // Counts a call of `op`; true (with the status to return) when the call
  // must not go on: an injected fault, or this object was deleted.
  bool Enter(Op op, LONG* detail, HRESULT* status);

  RefDatabaseImpl* m_pDb;
  STOBJECTID m_id{};
  LONG m_lType;
  BYTE m_byFlag = 0;
  bool m_bRows = false;     // a high-capacity GVL or SDT: its elements are rows
  bool m_bIndexed = false;  // listed in its project's structures by name
  bool m_bDeleted = false;
  bool m_bStamped = false;
  LONG m_lRefs = 0;
  ULONGLONG m_ullCounted = 0;  // the progress epoch in which it was last counted
  SYSTEMTIME m_stStamp{};
  std::u16string m_strName;
  // The tree: children in creation order as a doubly linked list, so that
  // removing one child costs O(1).
  Object* m_pParent = nullptr;
  Object* m_pFirstChild = nullptr;
  Object* m_pLastChild = nullptr;
  Object* m_pPrev = nullptr;
  Object* m_pNext = nullptr;
  LONG m_lChildren = 0;
  // The nearest project object at or above this one.
  ProjectObject* m_pProject = nullptr;
};

// Counts the call and leaves the operation when it must not go on.
#define REFDB_ENTER(op)                                                     \
  const ::refdb::CallScope refdbCallScope_;                                 \
  do {                                                                      \
    HRESULT refdbStatus_ = S_OK;                                            \
    if (Enter(::refdb::Op::op, detail, &refdbStatus_)) return refdbStatus_; \
  } while (0)

#define REFDB_IUNKNOWN                                                                           \
  HRESULT QueryInterface(REFIID iid, void** ppv) override { return DoQueryInterface(iid, ppv); } \
  ULONG AddRef() override { return DoAddRef(); }                                                 \
  ULONG Release() override { return DoRelease(); }

// An object with no interface of its own (collections 15, 17, 19,
// 0xA2000015, classic GVLs and SDTs, unknown types).
class PlainObject final : public Object, public IUnknown {
 public:
  using Object::Object;
  REFDB_IUNKNOWN
  IUnknown* Unknown() override { return this; }
};

// The project's label service (service code 84) with its device conversion.
// Not an object of the tree: it lives and is counted with its project.
class LabelServiceObject final : public IVNDataABS_LabelService, public IVNDataABS_DeviceConversion {
 public:
  explicit LabelServiceObject(ProjectObject* project) : m_pProject(project) {}
  HRESULT QueryInterface(REFIID iid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetBlock(LONG* size, BYTE** data, LONG* detail) override;
  HRESULT SetBlock(LONG size, BYTE* data, LONG* detail) override;
  HRESULT GetBlockSize(LONGLONG* size, LONG* detail) override;
  HRESULT ConvertLabels(LONG count, stVNLabelConversion* requests, LONG* detail) override;

  // The device for `label`: the one given before, or the next one.
  const std::u16string& DeviceFor(const std::u16string& label);

  ProjectObject* m_pProject;
  std::vector<BYTE> m_block;
  bool m_bSizeOverridden = false;
  LONGLONG m_llReportedSize = 0;
  // Conversions in the order of their first request.
  std::vector<std::pair<std::u16string, std::u16string>> m_conversions;
  std::unordered_map<std::u16string, std::size_t> m_conversionIndex;

 private:
  bool Enter(Op op, LONG* detail, HRESULT* status);
};

class ProjectObject final : public Object, public IUnknown {
 public:
  ProjectObject(RefDatabaseImpl* db, LONG type) : Object(db, type), m_service(this) {}
  REFDB_IUNKNOWN
  IUnknown* Unknown() override { return this; }

  // High-capacity structured types by name, for GetRowObjectID.
  void IndexStructure(Object* sdt);
  void UnindexStructure(Object* sdt);
  Object* FindStructure(const std::u16string& name) const;

  LabelServiceObject m_service;
  DWORD m_dwProjectNo = 0;     // creation number in the database; part of the IDs below it
  DWORD m_dwNextListNo = 1;    // numbers of high-capacity GVLs
  DWORD m_dwNextStructNo = 1;  // numbers of high-capacity SDTs
  std::unordered_map<std::u16string, std::vector<Object*>> m_structures;
};

// Classic collection of GVLs (13): the external equipment flag.
class GvlCollectionObject final : public Object, public IVNDataABS_GlobalLabelSetting {
 public:
  using Object::Object;
  REFDB_IUNKNOWN
  IUnknown* Unknown() override { return static_cast<IVNDataABS_GlobalLabelSetting*>(this); }
  void* Offer(REFIID iid) override;
  HRESULT GetExternalFlag(LONG* flag, LONG* detail) override;
  HRESULT SetExternalFlag(LONG flag, LONG* detail) override;

  LONG m_lFlag = 0;
};

// High-capacity collection of GVLs (0xA2000014): storage and the read-only flag.
class HcGvlCollectionObject final : public Object,
                                    public IVNDataABS_Storage,
                                    public IVNDataABS_HighCapacityLabelSetting {
 public:
  using Object::Object;
  REFDB_IUNKNOWN
  IUnknown* Unknown() override { return static_cast<IVNDataABS_Storage*>(this); }
  void* Offer(REFIID iid) override;
  HRESULT Flush(LONG* detail) override;
  HRESULT GetExternalFlag(LONG* flag, LONG* detail) override;

  LONG m_lFlag = 0;
  LONGLONG m_llFlushes = 0;
};

// The generic-data object (2): byte blobs by kind.
class GenericDataObject final : public Object, public IVNDataABS_GenericData {
 public:
  using Object::Object;
  REFDB_IUNKNOWN
  IUnknown* Unknown() override { return static_cast<IVNDataABS_GenericData*>(this); }
  void* Offer(REFIID iid) override;
  HRESULT GetGenericData(LONG kind, LONG* length, BYTE* buffer, LONG* detail) override;
  HRESULT SetGenericData(LONG kind, LONG length, const BYTE* bytes, LONG* detail) override;

  std::vector<std::pair<LONG, std::vector<BYTE>>> m_blobs;  // by kind, in order of creation
};

// The comment and remark operations exist in more than one element
// interface with the same signature; these bridges give each its own name.
struct VariableBridge : IVNDataABS_Variable {
  HRESULT SetComment(BSTR text, LONG* detail) final { return VarSetComment(text, detail); }
  HRESULT GetComment(BSTR* text, LONG* detail) final { return VarGetComment(text, detail); }
  virtual HRESULT VarSetComment(BSTR text, LONG* detail) = 0;
  virtual HRESULT VarGetComment(BSTR* text, LONG* detail) = 0;

 protected:
  ~VariableBridge() = default;
};

struct GlobalVariableBridge : IVNDataABS_GlobalVariable {
  HRESULT SetRemark(BSTR text, LONG* detail) final { return GvSetRemark(text, detail); }
  HRESULT GetRemark(BSTR* text, LONG* detail) final { return GvGetRemark(text, detail); }
  virtual HRESULT GvSetRemark(BSTR text, LONG* detail) = 0;
  virtual HRESULT GvGetRemark(BSTR* text, LONG* detail) = 0;

 protected:
  ~GlobalVariableBridge() = default;
};

struct SystemLabelBridge : IVNDataABS_SystemLabel {
  HRESULT SetComment(BSTR v, LONG* detail) final { return SysSetComment(v, detail); }
  HRESULT GetComment(BSTR* v, LONG* detail) final { return SysGetComment(v, detail); }
  HRESULT SetRemark(BSTR v, LONG* detail) final { return SysSetRemark(v, detail); }
  HRESULT GetRemark(BSTR* v, LONG* detail) final { return SysGetRemark(v, detail); }
  virtual HRESULT SysSetComment(BSTR v, LONG* detail) = 0;
  virtual HRESULT SysGetComment(BSTR* v, LONG* detail) = 0;
  virtual HRESULT SysSetRemark(BSTR v, LONG* detail) = 0;
  virtual HRESULT SysGetRemark(BSTR* v, LONG* detail) = 0;

 protected:
  ~SystemLabelBridge() = default;
};

// The system-label part of a global variable, made on its first write.
struct SystemLabelFields {
  CString name, programName, comment, remark, localName;
  LONG valueType = 0, listID = 0, id = 0, cpuID = 0, projectID = 0, status = 0;
  WORD attribute = 0, valueSize = 0;
};

// A classic global variable (16) or structure member (20). Members answer
// only IVNDataABS_Variable, IVNDataABS_GlobalVariable and
// IVNDataABS_VariableDataType.
class ElementObject final : public Object,
                            public VariableBridge,
                            public GlobalVariableBridge,
                            public IVNDataABS_VariableDataType,
                            public IVNDataABS_StructVariable,
                            public SystemLabelBridge {
 public:
  using Object::Object;
  REFDB_IUNKNOWN
  IUnknown* Unknown() override { return static_cast<VariableBridge*>(this); }
  void* Offer(REFIID iid) override;

  // IVNDataABS_Variable
  HRESULT SetLineNo(ULONG lineNo, LONG* detail) override;
  HRESULT GetLineNo(ULONG* lineNo, LONG* detail) override;
  HRESULT VarSetComment(BSTR text, LONG* detail) override;
  HRESULT VarGetComment(BSTR* text, LONG* detail) override;
  HRESULT SetExAccess(LONG flag, LONG* detail) override;
  HRESULT GetExAccess(LONG* flag, LONG* detail) override;
  // IVNDataABS_GlobalVariable
  HRESULT SetInitData(BSTR text, LONG* detail) override;
  HRESULT GetInitData(BSTR* text, LONG* detail) override;
  HRESULT SetTypeString(BSTR text, LONG* detail) override;
  HRESULT GetTypeString(BSTR* text, LONG* detail) override;
  HRESULT GvSetRemark(BSTR text, LONG* detail) override;
  HRESULT GvGetRemark(BSTR* text, LONG* detail) override;
  HRESULT SetClassKeyWord(LONG value, LONG* detail) override;
  HRESULT GetClassKeyWord(LONG* value, LONG* detail) override;
  HRESULT SetAllocatedDevice(BSTR text, LONG* detail) override;
  HRESULT GetAllocatedDevice(BSTR* text, LONG* detail) override;
  HRESULT SetAllocatedDeviceExtra(BSTR text, LONG* detail) override;
  HRESULT GetAllocatedDeviceExtra(BSTR* text, LONG* detail) override;
  // IVNDataABS_VariableDataType
  HRESULT SetTypeCode(LONG code, LONG* detail) override;
  HRESULT SetTypeName(BSTR name, LONG* detail) override;
  HRESULT SetStructDefineID(STOBJECTID id, LONG* detail) override;
  // IVNDataABS_StructVariable
  HRESULT SetStructKind(LONG kind, LONG* detail) override;
  HRESULT GetStructKind(LONG* kind, LONG* detail) override;
  HRESULT SetMemberDevices(BSTR* devices, BSTR* extras, LONG count, LONG* detail) override;
  HRESULT GetMemberDevices(BSTR* devices, BSTR* extras, LONG* count, LONG* detail) override;
  // IVNDataABS_SystemLabel
  HRESULT SetName(BSTR v, LONG* detail) override;
  HRESULT GetName(BSTR* v, LONG* detail) override;
  HRESULT SetProgramName(BSTR v, LONG* detail) override;
  HRESULT GetProgramName(BSTR* v, LONG* detail) override;
  HRESULT SysSetComment(BSTR v, LONG* detail) override;
  HRESULT SysGetComment(BSTR* v, LONG* detail) override;
  HRESULT SysSetRemark(BSTR v, LONG* detail) override;
  HRESULT SysGetRemark(BSTR* v, LONG* detail) override;
  HRESULT SetValueType(LONG v, LONG* detail) override;
  HRESULT GetValueType(LONG* v, LONG* detail) override;
  HRESULT SetListID(LONG v, LONG* detail) override;
  HRESULT GetListID(LONG* v, LONG* detail) override;
  HRESULT SetID(LONG v, LONG* detail) override;
  HRESULT GetID(LONG* v, LONG* detail) override;
  HRESULT SetCPUID(LONG v, LONG* detail) override;
  HRESULT GetCPUID(LONG* v, LONG* detail) override;
  HRESULT SetProjectID(LONG v, LONG* detail) override;
  HRESULT GetProjectID(LONG* v, LONG* detail) override;
  HRESULT SetAttribute(WORD v, LONG* detail) override;
  HRESULT GetAttribute(WORD* v, LONG* detail) override;
  HRESULT SetValueSize(WORD v, LONG* detail) override;
  HRESULT GetValueSize(WORD* v, LONG* detail) override;
  HRESULT SetStatus(LONG v, LONG* detail) override;
  HRESULT GetStatus(LONG* v, LONG* detail) override;
  HRESULT SetLocalName(BSTR v, LONG* detail) override;
  HRESULT GetLocalName(BSTR* v, LONG* detail) override;

  ULONG m_ulLineNo = 0;
  LONG m_lExAccess = 0;
  LONG m_lClassKeyWord = 0;
  LONG m_lStructKind = 0;
  LONG m_lTypeCode = 0;
  bool m_bHasTypeCode = false;
  bool m_bHasTypeName = false;
  bool m_bHasStructDefine = false;
  // Shared texts: a million elements of the same type keep its name once.
  CString m_strComment, m_strInitData, m_strTypeString, m_strRemark, m_strDevice, m_strDeviceExtra, m_strTypeName;
  STOBJECTID m_structDefineID{};
  std::vector<std::u16string> m_arrMemberDevices, m_arrMemberExtras;
  std::unique_ptr<SystemLabelFields> m_pSys;

 private:
  HRESULT GetTextField(Op op, const CString& value, BSTR* out, LONG* detail);
  HRESULT SetTextField(Op op, CString& value, BSTR in, LONG* detail);
  template <class T>
  HRESULT GetNumber(Op op, const T& value, T* out, LONG* detail);
  template <class T>
  HRESULT SetNumber(Op op, T& value, T in, LONG* detail);
  SystemLabelFields& Sys();
  const SystemLabelFields& SysOrDefault() const;
};

// --- rows --------------------------------------------------------------------

// The row code's layout: the numbers (4 bytes each), the texts (a unit
// count, 0xFFFFFFFF for a null text, then the units), the comment (a count,
// then a 64-bit key and a text per entry) and, in variable rows, the member
// devices (a count, then a device and an extra text per entry).
struct RowLayout {
  std::size_t numbers;
  std::size_t texts;
  bool devices;
};
constexpr RowLayout kVariableRowLayout{15, 15, true};
constexpr RowLayout kMemberRowLayout{4, 7, false};

// One row of a high-capacity table: its fields coded by the row codec (an
// empty code is a fresh, all-zero row) and its array sizes.
struct StoredRow {
  LONG lRowID = 0;
  bool bLive = true;
  std::vector<BYTE> code;
  std::vector<stVNArraySizeX> arraySizes;
};

// Rows in insertion order. Row IDs grow with every row added (first 1001,
// step 7) and are never reused, so the rows stay sorted by ID and a row is
// found by binary search. Deleted rows are dropped when they outnumber the
// live ones, which keeps every deletion amortised O(1).
class RowTable {
 public:
  static constexpr LONG kFirstRowID = 1001;
  static constexpr LONG kRowIDStep = 7;

  HRESULT Add(LONG count, LONG* rowIDs, LONG* detail);
  HRESULT Delete(LONG count, const LONG* rowIDs, LONG* detail);
  HRESULT Ids(LONG count, LONG* rowIDs, LONG* returned, LONG* detail) const;
  LONG Count() const { return m_lLive; }
  StoredRow* Find(LONG rowID);
  const StoredRow* Find(LONG rowID) const;
  // True when every one of the `count` IDs names a live row.
  bool AllExist(LONG count, const LONG* rowIDs) const;

  // The live rows in ID order, for the project file.
  template <class F>
  void ForEachLive(F f) const {
    for (const StoredRow& row : m_rows)
      if (row.bLive) f(row);
  }
  // Appends a row read from a project file; false unless its ID is at least
  // the first one, above every row's and below the next ID.
  bool AppendLoaded(StoredRow row);

  // Wider than a row ID, so that running out of IDs is seen, never wrapped.
  LONGLONG m_llNextRowID = kFirstRowID;

 private:
  void Compact();

  std::vector<StoredRow> m_rows;
  LONG m_lLive = 0;
};

class HcGvlObject final : public Object, public IVNDataABS_HighCapacityGlobalVariable {
 public:
  HcGvlObject(RefDatabaseImpl* db, LONG type) : Object(db, type) { m_bRows = true; }
  REFDB_IUNKNOWN
  IUnknown* Unknown() override { return static_cast<IVNDataABS_HighCapacityGlobalVariable*>(this); }
  void* Offer(REFIID iid) override;

  HRESULT AddRows(LONG count, LONG* rowIDs, LONG* detail) override;
  HRESULT DeleteRows(LONG count, const LONG* rowIDs, LONG* detail) override;
  HRESULT GetRowIDs(LONG a, LONG b, LONG c, LONG count, LONG d, LONG* rowIDs, LONG* returned, LONG* detail) override;
  HRESULT GetRowCount(LONG* count, LONG* detail) override;
  HRESULT GetRows(LONG count, const LONG* rowIDs, stVNGlobalVariableAndSystemLabelElementDataX* rows,
                  LONG* detail) override;
  HRESULT SetRows(LONG count, const stVNGlobalVariableAndSystemLabelElementDataX* rows, LONG* detail) override;
  HRESULT GetArraySizeCount(LONG rowID, LONG* count, LONG* detail) override;
  HRESULT GetArraySizes(LONG rowID, LONG count, LONG a, stVNArraySizeX* entries, LONG* returned, LONG* detail) override;
  HRESULT SetArraySizes(LONG rowID, LONG count, LONG a, const stVNArraySizeX* entries, LONG* detail) override;
  HRESULT GetRowObjectID(LONG rowID, STOBJECTID* structId, LONG* detail) override;

  RowTable m_table;
};

class HcSdtObject final : public Object, public IVNDataABS_HighCapacityStructure {
 public:
  HcSdtObject(RefDatabaseImpl* db, LONG type) : Object(db, type) { m_bRows = true; }
  REFDB_IUNKNOWN
  IUnknown* Unknown() override { return static_cast<IVNDataABS_HighCapacityStructure*>(this); }
  void* Offer(REFIID iid) override;

  HRESULT AddRows(LONG count, LONG* rowIDs, LONG* detail) override;
  HRESULT DeleteRows(LONG count, const LONG* rowIDs, LONG* detail) override;
  HRESULT GetRowIDs(LONG a, LONG b, LONG c, LONG count, LONG d, LONG* rowIDs, LONG* returned, LONG* detail) override;
  HRESULT GetRowCount(LONG* count, LONG* detail) override;
  HRESULT GetRows(LONG count, const LONG* rowIDs, stVNStructElementDataX* rows, LONG* detail) override;
  HRESULT SetRows(LONG count, const stVNStructElementDataX* rows, LONG* detail) override;

  RowTable m_table;
};

// --- the workspace and the database -----------------------------------------

class WorkspaceObject final : public IVNDataABS_Workspace {
 public:
  explicit WorkspaceObject(RefDatabaseImpl* db) : m_pDb(db) {}
  HRESULT QueryInterface(REFIID iid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetDataObject(STOBJECTID id, IUnknown** object, LONG* detail) override;
  HRESULT DeleteDataObject(STOBJECTID id, LONG* detail) override;
  HRESULT CreateDataObject(STOBJECTID parent, BSTR name, LONG type, BYTE flag, STOBJECTID* newId,
                           LONG* detail) override;
  HRESULT CreateElementObject(STOBJECTID data, STOBJECTID* newId, LONG* detail) override;
  HRESULT GetChildIDList(STOBJECTID collection, LONG* count, STOBJECTID* ids, LONG* detail) override;
  HRESULT GetChildIDByType(STOBJECTID parent, LONG type, STOBJECTID* child, LONG* detail) override;
  HRESULT GetParentID(STOBJECTID id, STOBJECTID* parent, LONG* detail) override;
  HRESULT GetObjectType(STOBJECTID id, LONG* type, LONG* detail) override;
  HRESULT SetObjectName(STOBJECTID id, BSTR name, LONG* detail) override;
  HRESULT GetObjectName(STOBJECTID id, BSTR* name, LONG* detail) override;
  HRESULT SetLastUpdateTime(STOBJECTID id, SYSTEMTIME time, LONG* detail) override;
  HRESULT GetServiceObject(STOBJECTID project, LONG code, IVNDataABS_LabelService** service, LONG* detail) override;

 private:
  bool Enter(Op op, LONG* detail, HRESULT* status);
  RefDatabaseImpl* m_pDb;
};

// Hash of an object ID for the object index. The words that tell the
// database's own IDs apart (0 to 3) are mixed fully; the hash code is kept
// with each entry so that a lookup compares IDs only on a real match.
struct ObjectIdHash {
  std::size_t operator()(const STOBJECTID& id) const {  // not noexcept: keeps the hash codes cached
    ULONGLONG h = (static_cast<ULONGLONG>(id.dwWord[1]) << 32 | id.dwWord[0]) * 0x9E3779B97F4A7C15ULL;
    h ^= (static_cast<ULONGLONG>(id.dwWord[3]) << 32 | id.dwWord[2]) + 0xBF58476D1CE4E5B9ULL + (h << 6) + (h >> 2);
    for (int i = 4; i < 12; ++i) h = (h ^ id.dwWord[i]) * 0x100000001B3ULL;
    h ^= h >> 31;
    h *= 0x94D049BB133111EBULL;
    return static_cast<std::size_t>(h ^ (h >> 29));
  }
};

// Last word of every ID the database makes, so that an ID rebuilt from its
// key alone never matches.
constexpr DWORD kIdTag = 0x52454644u;
// Word 1 of an ID made from a serial: an element's starts with 0xFF (its
// serial in words 2 and 3), any other object's with 0x001 (its serial in
// word 0 and the low 20 bits of word 1).
constexpr DWORD kElementIdMark = 0xFF000000u;
constexpr DWORD kObjectIdMark = 0x00100000u;
// Word 1 of a high-capacity GVL's and SDT's ID (the project number in word 2,
// the list or structure number in word 3).
constexpr DWORD kListKeyHigh = 0xE0030000u;
constexpr DWORD kStructKeyHigh = 0xE0300000u;

// Every object by ID, owning them. Most IDs carry the object's creation
// serial: those objects sit in a vector by serial, so that making one costs
// no hashing and a walk over siblings touches neighbouring slots. The others
// (high-capacity lists and structures, and IDs a file brought whose serials
// lie far beyond the objects there are) are kept in a map.
class ObjectTable {
 public:
  Object* Find(const STOBJECTID& id) const {
    const std::size_t slot = Slot(id);
    if (slot < m_bySerial.size()) {
      Object* o = m_bySerial[slot].get();
      if (o != nullptr && o->m_id == id) return o;
    }
    if (m_others.empty()) return nullptr;
    auto it = m_others.find(id);
    return it == m_others.end() ? nullptr : it->second.get();
  }
  // Takes `owned` in; its ID must be new to the table.
  void Insert(std::unique_ptr<Object> owned) {
    const std::size_t slot = Slot(owned->m_id);
    ++m_lCount;
    if (slot != kNoSlot && slot <= 2 * static_cast<std::size_t>(m_lCount) + 1024) {
      if (slot >= m_bySerial.size()) m_bySerial.resize(slot + 1 + slot / 2);
      if (m_bySerial[slot] == nullptr) {
        m_bySerial[slot] = std::move(owned);
        return;
      }
    }
    const STOBJECTID id = owned->m_id;
    m_others.emplace(id, std::move(owned));
  }
  // Takes `id` out of the table and hands over its object.
  std::unique_ptr<Object> Remove(const STOBJECTID& id) {
    std::unique_ptr<Object> owned;
    const std::size_t slot = Slot(id);
    if (slot < m_bySerial.size() && m_bySerial[slot] != nullptr && m_bySerial[slot]->m_id == id) {
      owned = std::move(m_bySerial[slot]);
    } else {
      auto it = m_others.find(id);
      if (it == m_others.end()) return nullptr;
      owned = std::move(it->second);
      m_others.erase(it);
    }
    --m_lCount;
    return owned;
  }
  long Count() const { return m_lCount; }
  template <class F>
  void ForEach(F f) const {
    for (const auto& o : m_bySerial)
      if (o) f(o.get());
    for (const auto& entry : m_others) f(entry.second.get());
  }

 private:
  static constexpr std::size_t kNoSlot = ~std::size_t{0};
  // The creation serial an ID of this database carries, or kNoSlot.
  static std::size_t Slot(const STOBJECTID& id) {
    if (id.dwWord[11] != kIdTag) return kNoSlot;
    if ((id.dwWord[1] & 0xFF000000u) == kElementIdMark) return id.dwWord[3] == 0 ? id.dwWord[2] : kNoSlot;
    if ((id.dwWord[1] & 0xFFF00000u) == kObjectIdMark) return (id.dwWord[1] & 0xFFFFFu) == 0 ? id.dwWord[0] : kNoSlot;
    return kNoSlot;
  }

  std::vector<std::unique_ptr<Object>> m_bySerial;
  std::unordered_map<STOBJECTID, std::unique_ptr<Object>, ObjectIdHash> m_others;
  long m_lCount = 0;
};

class RefDatabaseImpl {
 public:
  RefDatabaseImpl() : m_workspace(this) {}
  ~RefDatabaseImpl();
  RefDatabaseImpl(const RefDatabaseImpl&) = delete;
  RefDatabaseImpl& operator=(const RefDatabaseImpl&) = delete;

  bool Enter(Op op, LONG* detail, HRESULT* status) { return m_faults.Hit(static_cast<int>(op), status, detail); }
  Object* Find(const STOBJECTID& id) const { return m_objects.Find(id); }
  ProjectObject* FindProject(const STOBJECTID& id) const;

  // A new object of `type` under `parent` (null: a new root project). With
  // `fixedId` the object takes that ID (loading a file); null when the ID is
  // taken.
  Object* Create(Object* parent, LONG type, const std::u16string& name, BYTE flag, const STOBJECTID* fixedId);
  // Removes `root` and everything below it.
  void Delete(Object* root);
  void Rename(Object* object, std::u16string name);
  // The first child of `parent` whose type is `type`, or null.
  static Object* ChildOfType(const Object* parent, LONG type);

  bool IsWithheld(const Object* object, REFIID iid) const;
  bool IsServiceWithheld(REFIID iid) const;
  // Called when the last reference to a deleted object goes.
  void Bury(Object* object);

  FaultTable m_faults;
  WorkspaceObject m_workspace;
  ObjectTable m_objects;
  std::unordered_map<const Object*, std::unique_ptr<Object>> m_zombies;
  std::vector<ProjectObject*> m_projects;  // the roots, in creation order
  ULONGLONG m_ullNextSerial = 1;
  DWORD m_dwNextProjectNo = 1;
  long m_lOutstanding = 0;

  bool m_bWithholding = false;
  std::unordered_map<STOBJECTID, std::vector<IID>, STOBJECTIDHash> m_withheldById;
  std::unordered_map<LONG, std::vector<IID>> m_withheldByType;
  std::vector<IID> m_withheldService;
  LONG m_lReportedRowIDs = -1;  // GetRowIDs' count output when not negative

  // Progress: counts `n` more units of work and reports every step.
  void Advance(ULONGLONG n) {
    if (!m_progress) return;
    m_ullDone += n;
    if (m_ullDone >= m_ullNextReport) {
      m_ullNextReport = m_ullDone + m_ullStep;
      m_progress(m_ullDone, m_ullTotal);
    }
  }
  // Counts an element the first time an operation reaches it.
  void Touch(Object* o) {
    if (m_progress && o->m_ullCounted != m_ullEpoch) {
      o->m_ullCounted = m_ullEpoch;
      Advance(1);
    }
  }
  RefDatabase::ProgressReport m_progress;
  ULONGLONG m_ullDone = 0, m_ullTotal = 0, m_ullNextReport = 0, m_ullStep = 4096, m_ullEpoch = 0;

 private:
  STOBJECTID NewId(const Object* parent, LONG type, ProjectObject* project);
};

}  // namespace refdb
