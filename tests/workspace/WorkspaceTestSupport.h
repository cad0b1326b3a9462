// File: WorkspaceTestSupport.h
//
// Shared by the workspace tests: one project to call the members on, access
// to those members with the project's outputs, and the failure row with the
// loop that runs a table of them.
#pragma once

#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <string>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "tests/support/AllocFailure.h"
#include "tests/support/RefdbFixtures.h"

namespace workspace_test {

using C = CKX9ComFuncLabelStructure;
using GVL = _STKX9LABELSTRUCTUREGVLDATA;
using SDT = _STKX9LABELSTRUCTURESDTDATA;
using Dev = _STKX9LABELSTRUCTUREGVLDEVICE;
namespace fx = refdb_fixtures;
struct Tag;

constexpr ULONG kThrew = static_cast<ULONG>(-1000);  // std::bad_alloc passed out to the host

// A component over project "P": GVL "G" holding v0 (a system label of
// status 3) and v1 (none), both of external access 2 with one member device;
// SDT "Motor" holding one member; and the outputs the calls write to.
struct World {
  refdb::RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  C labels{db.Workspace()};
  STOBJECTID gvl = fx::AddClassicGVL(db, project, u"G"), sdt = fx::AddClassicSDT(db, project, u"Motor");
  STOBJECTID v0 = Variable(u"v0", 3), v1 = Variable(u"v1", 0), member = fx::AddClassicMember(db, sdt, {});
  STOBJECTID gvls = db.ChildOfType(project, VN_TYPE_GVL_COLLECTION),
             vars = db.ChildOfType(gvl, VN_TYPE_VARIABLE_COLLECTION);
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
  LONG count = -7, type = -1;

  World() {
    labels.Initialize(project);
    LONG d = 0;
    EXPECT_EQ(db.Workspace()->GetDataObject(v0, &el, &d), S_OK);
    devices.Add(Dev{u"front", u""});
    rec.systemLabel.status = 3, got.dataType = KX9_DATATYPE_GVL;
    db.Faults().ResetCounts();
  }
  ~World();
  STOBJECTID Variable(const char16_t* name, LONG status) {
    fx::VariableSpec desc;
    // Texts are constructed, not assigned from literals: GCC 12 at -O3 sees a
    // copy between overlapping ranges in the literal assignment (-Wrestrict).
    desc.name = std::u16string(name), desc.exAccess = 2, desc.systemLabel.status = status;
    desc.memberDevices = {{u"M0", u"E0"}};
    return fx::AddClassicVariable(db, gvl, desc);
  }
  LONG Code() {  // v0's type code, -1 when none was set
    LONG code = -1;
    return db.TypeCode(v0, &code) ? code : -1;
  }
  long Calls(const char* op) { return db.Faults().Calls(op); }
  bool Stamped(STOBJECTID id, SYSTEMTIME* t = nullptr) {
    SYSTEMTIME local{};
    return db.LastUpdateTime(id, t ? t : &local);
  }
};

}  // namespace workspace_test

// The protected and private members the workspace tests call, on a World:
// reads go to its outputs, element accessors work on v0's element.
template <>
struct KX9TestAccess<workspace_test::Tag> {
  using C = CKX9ComFuncLabelStructure;
  using W = workspace_test::World;
  using R = _STKX9LABELSTRUCTUREBASEDATA;
  // object IDs
  static ULONG List(W& w, STOBJECTID id) { return w.labels.GetCollectionList(id, w.count, &w.ids); }
  static ULONG Type(W& w, STOBJECTID id) { return w.labels.GetDataType(id, w.type); }
  static ULONG Parent(W& w) { return w.labels.GetParentDataID(w.gvl, w.parent); }
  static ULONG Stamp(W& w, STOBJECTID id) { return w.labels.SetUpdateTime(id); }
  static ULONG GetName(W& w) { return w.labels.GetVariableName(w.gvl, w.text); }
  static ULONG SetName(W& w) { return w.labels.SetVariableName(w.gvl, u"Other"); }
  // element operations; the single-element ones on v0 (v1 for a member)
  static ULONG Get(W& w, STOBJECTID id, C::CElementArray& a) { return w.labels.GetDataElement(id, a); }
  static ULONG Walk(W& w) { return w.labels.GetDataElement(w.gvl, w.got.elements); }
  static ULONG Delete(W& w, STOBJECTID id) { return w.labels.DeleteDataElement(id); }
  static ULONG Create(W& w, STOBJECTID id, LONG t, R* r) { return w.labels.CreateDataElement(id, t, r); }
  static ULONG GetGVL(W& w) { return w.labels.GetDataElementGVL(w.v0, &w.p); }
  static ULONG GetSDT(W& w) { return w.labels.GetDataElementSDT(w.v0, (w.kind = KX9_DATATYPE_SDT, &w.p)); }
  static ULONG SetGVL(W& w) { return w.labels.SetDataElementGVL(w.v0, &w.rec); }
  static ULONG SetSDT(W& w) { return w.labels.SetDataElementSDT(w.v1, &w.memberRec); }
  static C::CGVLDataArray& Collected(W& w) { return w.labels.m_arrDeleteSystemLabel; }
  // field accessors
  static ULONG GetLine(W& w) { return w.labels.GetVariableLineNo(w.el, w.rec.lineNo); }
  static ULONG GetComment(W& w, UINT i) { return w.labels.GetVariableComment(w.el, i, w.text); }
  static ULONG SetComment(W& w, UINT i) { return w.labels.SetVariableComment(w.el, i, u"c"); }
  static ULONG SetType(W& w, CString s) { return w.labels.SetDataTypeString(w.el, s); }
  static ULONG GetInit(W& w) { return w.labels.GetVariableInitData(w.el, w.text); }
  static ULONG SetInit(W& w) { return w.labels.SetVariableInitData(w.el, u"x"); }
  static ULONG GetKind(W& w) { return w.labels.GetStructType(w.el, w.rec.structType); }
  static ULONG GetDevice(W& w) { return w.labels.GetVariableAllocatedDevice(w.el, w.dev); }
  static ULONG SetDevice(W& w) { return w.labels.SetVariableAllocatedDevice(w.el, w.dev); }
  static ULONG GetMembers(W& w) { return w.labels.GetStructData(w.el, w.devices); }
  static ULONG SetMembers(W& w, C::CDeviceArray& a) { return w.labels.SetStructData(w.el, a); }
  static ULONG Define(W& w, CString s) { return w.labels.SetStructDefine(w.el, s); }
  static ULONG GetEx(W& w) { return w.labels.GetVariableExAccess(w.el, w.text); }
  static ULONG SetEx(W& w, CString s) { return w.labels.SetVariableExAccess(w.el, s); }
  static ULONG GetSys(W& w) { return w.labels.GetSystemLabelInf(w.el, &w.rec); }
  static ULONG SetSys(W& w) { return w.labels.SetSystemLabelInf(w.el, &w.rec); }
};

namespace workspace_test {

using A = KX9TestAccess<Tag>;

inline World::~World() {
  if (p != unset) KX9DeleteElement(kind, p);
  if (ids != &sentinel) delete[] ids;
  for (int i = 0; i < A::Collected(*this).GetSize(); ++i) delete A::Collected(*this)[i];
}

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

// Each row on a fresh World; every row must give back every interface
// reference and BSTR it took.
inline void RunFailureRows(const std::vector<FailureRow>& rows) {
  for (const FailureRow& row : rows) {
    SCOPED_TRACE(row.what);
    const long bstrs = PlatformLiveBstrCount();
    {
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
      EXPECT_EQ(w.db.OutstandingReferences(), 0);
    }
    EXPECT_EQ(PlatformLiveBstrCount(), bstrs);
  }
}

}  // namespace workspace_test
