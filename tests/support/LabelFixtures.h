// File: LabelFixtures.h
//
// Shared by the component, workspace and high-capacity tests: label records,
// data sets and envelopes; a project with a component over it, which must
// leak nothing; the workspace tests' World; one access struct for the
// component's protected members; and the runner for failure rows.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "tests/support/AllocFailure.h"
#include "tests/support/RefdbFixtures.h"

namespace label_test {

struct Tag;
using C = CKX9ComFuncLabelStructure;
using Series = C::KX9LabelCPUSeries;
using GVL = _STKX9LABELSTRUCTUREGVLDATA;
using SDT = _STKX9LABELSTRUCTURESDTDATA;
using Dev = _STKX9LABELSTRUCTUREGVLDEVICE;
using Bytes = std::vector<BYTE>;
using Names = std::vector<std::u16string>;
namespace fx = refdb_fixtures;
constexpr Series kStandard = C::KX9LabelCPUSeriesStandard, kX = C::KX9LabelCPUSeriesX;
constexpr ULONG kThrew = static_cast<ULONG>(-1000);  // std::bad_alloc passed out to the host

inline _STKX9AUTODEVSET Settings(BYTE seed) {
  _STKX9AUTODEVSET s{};
  for (std::size_t i = 0; i < sizeof s.bytes; ++i) s.bytes[i] = static_cast<BYTE>(seed + i * 3);
  return s;
}

inline Bytes SettingsBytes(const _STKX9AUTODEVSET& s) { return Bytes(s.bytes, s.bytes + sizeof s.bytes); }

// A service block that starts with its own length.
inline Bytes ServiceBlock(std::size_t size, BYTE fill) {
  Bytes b(size, fill);
  b[0] = static_cast<BYTE>(size), b[1] = static_cast<BYTE>(size >> 8), b[2] = b[3] = 0;
  return b;
}

// Block | settings | image, the image ANSI or (`wide`, ASCII only) UTF-16LE.
inline Bytes Envelope(Bytes block, const _STKX9AUTODEVSET& settings, const std::string& image, bool wide = false) {
  block.insert(block.end(), settings.bytes, settings.bytes + sizeof settings.bytes);
  for (char ch : image) {
    block.push_back(static_cast<BYTE>(ch));
    if (wide) block.push_back(0);
  }
  return block;
}

// A variable record: line, name, type, devices (device, extra, device,
// extra ...; a missing last extra is empty) and comment 0.
inline GVL* Variable(ULONG line, const CString& name, const char16_t* type, std::vector<const char16_t*> devices = {},
                     const char16_t* comment = u"") {
  auto* v = new GVL();
  v->lineNo = line, v->name = name, v->dataTypeName = type, v->comments[0] = comment;
  for (std::size_t i = 0; i < devices.size(); i += 2)
    v->devices.Add(Dev{devices[i], i + 1 < devices.size() ? devices[i + 1] : u""});
  return v;
}

inline SDT* Member(ULONG line, const char16_t* name, const char16_t* type, const char16_t* comment = u"") {
  auto* m = new SDT();
  m->lineNo = line, m->name = name, m->dataTypeName = type, m->initData = u"0", m->comments[0] = comment;
  return m;
}

// One label record to be: data type, name and elements.
struct Datum {
  LONG type;
  const char16_t* name;
  std::vector<_STKX9LABELSTRUCTUREBASEDATA*> elements = {};
};

// An owned record array, as the component creates them.
struct DataSet {
  std::unique_ptr<_STKX9LABELSTRUCTURE[]> data;
  LONG count = 0;
  explicit DataSet(LONG n) : data(new _STKX9LABELSTRUCTURE[static_cast<std::size_t>(n)]), count(n) {}
  DataSet(std::initializer_list<Datum> list) : DataSet(static_cast<LONG>(list.size())) {
    _STKX9LABELSTRUCTURE* r = data.get();
    for (const Datum& x : list) {
      r->dataType = x.type, r->name = x.name;
      for (auto* e : x.elements) r->elements.Add(e);
      ++r;
    }
  }
  _STKX9LABELSTRUCTURE& operator[](LONG i) { return data[static_cast<std::size_t>(i)]; }
};

// The elements of one GVL (or SDT), which it owns.
struct Elements : _STKX9LABELSTRUCTURE {
  explicit Elements(std::initializer_list<_STKX9LABELSTRUCTUREBASEDATA*> list = {}, LONG type = KX9_DATATYPE_GVL) {
    dataType = type;
    for (auto* e : list) elements.Add(e);
  }
  GVL* V(int i) { return static_cast<GVL*>(elements[i]); }
};

// A project with a component pointed at it. The system labels the component
// collects and the dynamic structures it makes are the host's: released
// here. Nothing may be left: no BSTR, task memory or interface reference.
struct Project {
  long bstrs = PlatformLiveBstrCount(), taskMem = PlatformLiveTaskMemCount();
  refdb::RefDatabase db;
  STOBJECTID id;
  C c{db.Workspace()};

  explicit Project(Series series = kStandard) : id(db.NewProject(u"P")) { c.Initialize(id), c.SetCPUSeries(series); }
  ~Project();

  long Calls(const std::string& op) { return db.Faults().Calls(op); }

  // Creates `d` under the project through the component's own writer.
  void Fill(DataSet d);

  // GetAllData, which must give `expected` and hand out null exactly with a
  // size of 0, into a vector; `extra` receives the byte after the size.
  Bytes Export(const _STKX9AUTODEVSET& settings, ULONG expected = KX9_OK, int* extra = nullptr) {
    BYTE* data = nullptr;
    LONG size = -1;
    EXPECT_EQ(c.GetAllData(&data, &size, settings), expected);
    std::unique_ptr<BYTE[]> owned(data);
    EXPECT_EQ(data == nullptr, size == 0);
    if (extra != nullptr) *extra = data != nullptr ? data[size] : -1;
    return data != nullptr && size >= 0 ? Bytes(data, data + size) : Bytes{};
  }

  ULONG Import(const Bytes& envelope, _STKX9AUTODEVSET* settings = nullptr, Series series = static_cast<Series>(-1)) {
    _STKX9AUTODEVSET ignored{};
    return c.SetAllData(envelope.data(), static_cast<LONG>(envelope.size()), settings ? *settings : ignored, series);
  }

  // The SDT and GVL names on the classic or the high-capacity side.
  std::pair<Names, Names> Labels(bool x) const {
    auto of = [this](LONG collection) {
      Names names;
      for (const STOBJECTID& child : db.Children(db.ChildOfType(id, collection))) names.push_back(db.ObjectName(child));
      return names;
    };
    return {of(x ? VN_TYPE_SDT_COLLECTION_X : VN_TYPE_SDT_COLLECTION),
            of(x ? VN_TYPE_GVL_COLLECTION_X : VN_TYPE_GVL_COLLECTION)};
  }
};

// Project "P" on the classic series: GVL "G" holding v0 (a system label of
// status 3) and v1 (none), both of external access 2 with one member device;
// SDT "Motor" holding one member; and the outputs the calls write to.
struct World : Project {
  STOBJECTID gvl = fx::AddClassicGVL(db, id, u"G"), sdt = fx::AddClassicSDT(db, id, u"Motor");
  STOBJECTID v0 = Variable(u"v0", 3), v1 = Variable(u"v1", 0), member = fx::AddClassicMember(db, sdt, {});
  STOBJECTID gvls = db.ChildOfType(id, VN_TYPE_GVL_COLLECTION), vars = db.ChildOfType(gvl, VN_TYPE_VARIABLE_COLLECTION);
  IUnknown* el = nullptr;  // v0's element, borrowed
  CString text{u"kept"};
  Dev dev{u"old", u"old"};
  C::CDeviceArray devices;
  GVL rec;
  SDT memberRec;
  _STKX9LABELSTRUCTUREBASEDATA* const unset = reinterpret_cast<_STKX9LABELSTRUCTUREBASEDATA*>(this);
  _STKX9LABELSTRUCTUREBASEDATA* p = unset;                        // a record read, handed over
  LONG kind = KX9_DATATYPE_GVL;                                   // of the record in p
  _STKX9LABELSTRUCTURE got;                                       // the records of a walk
  STOBJECTID sentinel{{1, 1}}, *ids = &sentinel, parent{{9, 9}};  // ids: a list read, handed over
  LONG count = -7, type = -1, code = 0;

  World() {
    LONG d = 0;
    EXPECT_EQ(db.Workspace()->GetDataObject(v0, &el, &d), S_OK);
    devices.Add(Dev{u"front", u""});
    rec.systemLabel.status = 3, got.dataType = KX9_DATATYPE_GVL;
    db.Faults().ResetCounts();
  }
  ~World() {
    if (p != unset) KX9DeleteElement(kind, p);
    if (ids != &sentinel) delete[] ids;
  }
  STOBJECTID Variable(const char16_t* name, LONG status) {
    fx::VariableSpec desc;
    // Texts are constructed, not assigned from literals: GCC 12 at -O3 sees a
    // copy between overlapping ranges in the literal assignment (-Wrestrict).
    desc.name = std::u16string(name), desc.exAccess = 2, desc.systemLabel.status = status;
    desc.memberDevices = {{u"M0", u"E0"}};
    return fx::AddClassicVariable(db, gvl, desc);
  }
  LONG Code() { return db.TypeCode(v0, &code) ? code : -1; }  // v0's type code, -1 when none was set
  bool Stamped(STOBJECTID object, SYSTEMTIME* t = nullptr) { return db.LastUpdateTime(object, t); }
};

}  // namespace label_test

// The protected and private members the tests call. Those on a World read
// into its outputs; its element accessors work on v0's element.
template <>
struct KX9TestAccess<label_test::Tag> {
  using C = CKX9ComFuncLabelStructure;
  using W = label_test::World;
  using R = _STKX9LABELSTRUCTUREBASEDATA;
  using Row = stVNGlobalVariableAndSystemLabelElementDataX;
  static C::KX9LabelCPUSeries Series(C& o) { return o.m_eCPUSeries; }
  static C::CGVLDataArray& Collected(C& o) { return o.m_arrDeleteSystemLabel; }
  static C::CDynamicLabelArray& Labels(C& o) { return o.m_arrDynamicLabel; }
  static C::CDynamicStructMap& Structs(C& o) { return o.m_mapDynamicStruct; }
  static ULONG Flash(C& o) { return o.FlashDataBase(); }
  static ULONG SetAllDataMain(C& o, LONG n, _STKX9LABELSTRUCTURE* p) { return o.SetAllDataMain(n, p); }
  static ULONG CreateAllData(C& o, LONG n, _STKX9LABELSTRUCTURE* p) { return o.CreateAllData(n, p); }
  static ULONG SetGeneric(C& o, const std::vector<BYTE>& b) {
    return o.SetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, static_cast<LONG>(b.size()), b.data());
  }
  static LONG Write(C& o, LONG n, _STKX9LABELSTRUCTURE*& d, BYTE*& image) { return o.WriteBinaryData(n, d, image, 0); }
  static LONG Read(C& o, const BYTE* p, LONG n, _STKX9LABELSTRUCTURE* d) { return o.ReadBinaryData(p, n, d); }
  static ULONG Serialize(C& o, C::CGVLDataList& l, LONG* n, BYTE** p) { return o.SerializeSystemLabelData(l, n, p); }
  static ULONG Deserialize(C& o, const BYTE* p, LONG n, C::CGVLDataList& l) {
    return o.DeserializeSystemLabelData(p, n, 0, l);
  }
  static void WriteText(C& o, LONG n, _STKX9LABELSTRUCTURE* d, const CString& path) { o.WriteTextFile(n, d, path); }
  static LONG ReadText(C& o, const CString& path, _STKX9LABELSTRUCTURE* d) { return o.ReadTextFile(path, d); }
  // elements of a list, on either series; high-capacity rows
  static ULONG Get(C& o, STOBJECTID id, C::CElementArray& a) { return o.GetDataElement(id, a); }
  static ULONG Delete(C& o, STOBJECTID id) { return o.DeleteDataElement(id); }
  static ULONG Create(C& o, STOBJECTID id, LONG type, R* r) { return o.CreateDataElement(id, type, r); }
  static ULONG CreateX(C& o, STOBJECTID id, C::CElementArray& a) { return o._createDataElementX(id, a); }
  static Row* NewRows(C& o, LONG n) { return o._createGlobalVariableAndSystemLabelElementDataX(n); }
  static void FreeRows(C& o, Row*& p, LONG n) { o._releaseGlobalVariableAndSystemLabelElementDataX(p, n); }
  static ULONG Convert(C& o, CString label, CString& device) { return o._convertLabelToKORVEXDevice(label, device); }
  // on a World: object IDs
  static ULONG List(W& w, STOBJECTID id) { return w.c.GetCollectionList(id, w.count, &w.ids); }
  static ULONG Type(W& w, STOBJECTID id) { return w.c.GetDataType(id, w.type); }
  static ULONG Parent(W& w) { return w.c.GetParentDataID(w.gvl, w.parent); }
  static ULONG Stamp(W& w, STOBJECTID id) { return w.c.SetUpdateTime(id); }
  static ULONG GetName(W& w) { return w.c.GetVariableName(w.gvl, w.text); }
  static ULONG SetName(W& w) { return w.c.SetVariableName(w.gvl, u"Other"); }
  // element operations; the single-element ones on v0 (v1 for a member)
  static ULONG Walk(W& w) { return w.c.GetDataElement(w.gvl, w.got.elements); }
  static ULONG GetGVL(W& w) { return w.c.GetDataElementGVL(w.v0, &w.p); }
  static ULONG GetSDT(W& w) { return w.c.GetDataElementSDT(w.v0, (w.kind = KX9_DATATYPE_SDT, &w.p)); }
  static ULONG SetGVL(W& w) { return w.c.SetDataElementGVL(w.v0, &w.rec); }
  static ULONG SetSDT(W& w) { return w.c.SetDataElementSDT(w.v1, &w.memberRec); }
  // field accessors
  static ULONG GetLine(W& w) { return w.c.GetVariableLineNo(w.el, w.rec.lineNo); }
  static ULONG GetComment(W& w, UINT i) { return w.c.GetVariableComment(w.el, i, w.text); }
  static ULONG SetComment(W& w, UINT i) { return w.c.SetVariableComment(w.el, i, u"c"); }
  static ULONG SetType(W& w, CString s) { return w.c.SetDataTypeString(w.el, s); }
  static ULONG GetInit(W& w) { return w.c.GetVariableInitData(w.el, w.text); }
  static ULONG SetInit(W& w) { return w.c.SetVariableInitData(w.el, u"x"); }
  static ULONG GetKind(W& w) { return w.c.GetStructType(w.el, w.rec.structType); }
  static ULONG GetDevice(W& w) { return w.c.GetVariableAllocatedDevice(w.el, w.dev); }
  static ULONG SetDevice(W& w) { return w.c.SetVariableAllocatedDevice(w.el, w.dev); }
  static ULONG GetMembers(W& w) { return w.c.GetStructData(w.el, w.devices); }
  static ULONG SetMembers(W& w, C::CDeviceArray& a) { return w.c.SetStructData(w.el, a); }
  static ULONG Define(W& w, CString s) { return w.c.SetStructDefine(w.el, s); }
  static ULONG GetEx(W& w) { return w.c.GetVariableExAccess(w.el, w.text); }
  static ULONG SetEx(W& w, CString s) { return w.c.SetVariableExAccess(w.el, s); }
  static ULONG GetSys(W& w) { return w.c.GetSystemLabelInf(w.el, &w.rec); }
  static ULONG SetSys(W& w) { return w.c.SetSystemLabelInf(w.el, &w.rec); }
};

namespace label_test {

using A = KX9TestAccess<Tag>;

inline Project::~Project() {
  for (int i = 0; i < A::Collected(c).GetSize(); ++i) delete A::Collected(c)[i];
  A::Collected(c).RemoveAll();
  c.ReleaseDynamicLabelStruct();
  EXPECT_EQ(PlatformLiveBstrCount(), bstrs) << "a BSTR leaked";
  EXPECT_EQ(PlatformLiveTaskMemCount(), taskMem) << "task memory leaked";
  EXPECT_EQ(db.OutstandingReferences(), 0);
}

inline void Project::Fill(DataSet d) { ASSERT_EQ(A::CreateAllData(c, d.count, d.data.get()), KX9_OK); }

// GVL "Lamps" first, then SDT "Point", so that a gathering order that
// followed creation would put the GVL first; then a GVL with a structured
// variable and system labels. (A classic GVL without variables has no
// variable collection, which the element reader needs.) `gathered`: with
// the first two swapped, as an export gathers them.
inline DataSet Sample(bool gathered = false) {
  GVL *origin = Variable(1, u"Origin", u"Point", {u"D0", u"U1", u"D2"}),
      *always = Variable(2, u"Always", u"BOOL", {u"SM400"}, u"system"),
      *clock = Variable(3, u"Clock", u"WORD", {u"SD210"});
  origin->structType = 1;
  always->systemLabel = {501, u"Always", u"MAIN", 2, 0x0103, 2, 9, 4, u"", u"", 1, 1, u"lokal \u00e9"};
  clock->systemLabel = {502, u"Clock", u"MAIN", 2, 0x0103, 4, 9, 4, u"", u"", 1, 1, u"lokal \u00e9"};
  const Datum lamps{KX9_DATATYPE_GVL,
                    u"Lamps",
                    {Variable(1, u"Red", u"BOOL", {u"Y10"}, u"red, \u00e9clair\r\nline 2"),
                     Variable(2, u"Green", u"BOOL", {u"Y11"}, u"C:\\lamps\\")}};
  const Datum point{KX9_DATATYPE_SDT, u"Point", {Member(1, u"x", u"DINT", u"x, mm"), Member(2, u"y", u"DINT")}};
  const Datum global{KX9_DATATYPE_GVL, u"Global", {origin, always, clock}};
  return gathered ? DataSet{point, lamps, global} : DataSet{lamps, point, global};
}
const Names kSampleSdts = {u"Point"}, kSampleGvls = {u"Lamps", u"Global"};
const std::pair<Names, Names> kSample = {kSampleSdts, kSampleGvls}, kNone;
const Bytes kSampleBlock = ServiceBlock(9, 0x11);

// A project holding the sample, and its export.
struct Filled : Project {
  explicit Filled(Series series = kStandard) : Project(series) { Fill(Sample()), db.SetServiceBlock(id, kSampleBlock); }
};
inline Bytes ExportOf(Series series, BYTE settings = 0) { return Filled(series).Export(Settings(settings)); }

// Which database call fails (with detail 0x4D2, which no result code
// equals) or which allocation; the result; what is left afterwards.
struct FailureRow {
  const char* what;
  const char* op;  // the failing call, or null for none
  HRESULT status;
  int nth;              // of the failing call or allocation
  unsigned allocKinds;  // non-zero: an allocation of these kinds fails instead
  ULONG expected;
  ULONG (*call)(World&);
  bool (*left)(World&);  // null: nothing to check
};

// Each row on a fresh World.
inline void RunFailureRows(const std::vector<FailureRow>& rows) {
  for (const FailureRow& row : rows) {
    SCOPED_TRACE(row.what);
    World w;
    if (row.op != nullptr) w.db.Faults().Set(row.op, refdb::Fault{row.status, 0x4D2, row.nth, 1});
    ULONG result = 0;
    try {
      std::optional<AllocFailure> fail;
      if (row.allocKinds != 0) fail.emplace(row.nth, row.allocKinds);
      result = row.call(w);
    } catch (const std::bad_alloc&) {
      result = kThrew;
    }
    EXPECT_EQ(result, row.expected);
    EXPECT_TRUE(row.left == nullptr || row.left(w));
  }
}

}  // namespace label_test
