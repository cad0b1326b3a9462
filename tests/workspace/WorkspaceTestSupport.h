// File: WorkspaceTestSupport.h
//
// Shared by the workspace tests: access to the members they call, one
// project to call them on, and the failure row with the loop that runs a
// table of them.
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
struct Tag;
}

// The protected and private members the workspace tests call.
template <>
struct KX9TestAccess<workspace_test::Tag> {
  using C = CKX9ComFuncLabelStructure;
  using E = IUnknown*;
  using R = _STKX9LABELSTRUCTUREBASEDATA;
  using Dev = _STKX9LABELSTRUCTUREGVLDEVICE;
  // object IDs
  static ULONG List(C& o, STOBJECTID id, LONG& n, STOBJECTID** p) { return o.GetCollectionList(id, n, p); }
  static ULONG Type(C& o, STOBJECTID id, LONG& t) { return o.GetDataType(id, t); }
  static ULONG ParentID(C& o, STOBJECTID id, STOBJECTID& p) { return o.GetParentDataID(id, p); }
  static ULONG Stamp(C& o, STOBJECTID id) { return o.SetUpdateTime(id); }
  static ULONG GetName(C& o, STOBJECTID id, CString& s) { return o.GetVariableName(id, s); }
  static ULONG SetName(C& o, STOBJECTID id, CString s) { return o.SetVariableName(id, s); }
  // element operations
  static ULONG Get(C& o, STOBJECTID id, C::CElementArray& a) { return o.GetDataElement(id, a); }
  static ULONG Delete(C& o, STOBJECTID id) { return o.DeleteDataElement(id); }
  static ULONG Create(C& o, STOBJECTID id, LONG t, R* r) { return o.CreateDataElement(id, t, r); }
  static ULONG GetGVL(C& o, STOBJECTID id, R** r) { return o.GetDataElementGVL(id, r); }
  static ULONG SetGVL(C& o, STOBJECTID id, R* r) { return o.SetDataElementGVL(id, r); }
  static ULONG GetSDT(C& o, STOBJECTID id, R** r) { return o.GetDataElementSDT(id, r); }
  static ULONG SetSDT(C& o, STOBJECTID id, R* r) { return o.SetDataElementSDT(id, r); }
  static C::CGVLDataArray& Collected(C& o) { return o.m_arrDeleteSystemLabel; }
  // field accessors
  static ULONG GetLine(C& o, E e, ULONG& v) { return o.GetVariableLineNo(e, v); }
  static ULONG GetComment(C& o, E e, UINT i, CString& s) { return o.GetVariableComment(e, i, s); }
  static ULONG SetComment(C& o, E e, UINT i, CString s) { return o.SetVariableComment(e, i, s); }
  static ULONG SetType(C& o, E e, CString s) { return o.SetDataTypeString(e, s); }
  static ULONG GetInit(C& o, E e, CString& s) { return o.GetVariableInitData(e, s); }
  static ULONG SetInit(C& o, E e, CString s) { return o.SetVariableInitData(e, s); }
  static ULONG GetKind(C& o, E e, LONG& v) { return o.GetStructType(e, v); }
  static ULONG GetDevice(C& o, E e, Dev& d) { return o.GetVariableAllocatedDevice(e, d); }
  static ULONG SetDevice(C& o, E e, Dev& d) { return o.SetVariableAllocatedDevice(e, d); }
  static ULONG GetMembers(C& o, E e, C::CDeviceArray& a) { return o.GetStructData(e, a); }
  static ULONG SetMembers(C& o, E e, C::CDeviceArray& a) { return o.SetStructData(e, a); }
  static ULONG Define(C& o, E e, CString s) { return o.SetStructDefine(e, s); }
  static ULONG GetEx(C& o, E e, CString& s) { return o.GetVariableExAccess(e, s); }
  static ULONG SetEx(C& o, E e, CString s) { return o.SetVariableExAccess(e, s); }
  static ULONG GetSys(C& o, E e, _STKX9LABELSTRUCTUREGVLDATA* r) { return o.GetSystemLabelInf(e, r); }
  static ULONG SetSys(C& o, E e, _STKX9LABELSTRUCTUREGVLDATA* r) { return o.SetSystemLabelInf(e, r); }
};

namespace workspace_test {

using A = KX9TestAccess<Tag>;
using C = CKX9ComFuncLabelStructure;
using GVL = _STKX9LABELSTRUCTUREGVLDATA;
using SDT = _STKX9LABELSTRUCTURESDTDATA;
using Dev = _STKX9LABELSTRUCTUREGVLDEVICE;
namespace fx = refdb_fixtures;

constexpr ULONG kThrew = static_cast<ULONG>(-1000);  // std::bad_alloc passed out to the host

inline STOBJECTID Key(DWORD low, DWORD high) {
  STOBJECTID id = STOBJECTID::Null();
  id.dwWord[0] = low, id.dwWord[1] = high;
  return id;
}

// Owns the records of an element array as the kind of its datum.
struct Elements {
  LONG kind = KX9_DATATYPE_GVL;
  C::CElementArray arr;
  ~Elements() {
    for (int i = 0; i < arr.GetSize(); ++i) KX9DeleteElement(kind, arr[i]);
  }
  GVL& Var(int i) { return *static_cast<GVL*>(arr[i]); }
};

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
  _STKX9LABELSTRUCTUREBASEDATA* p = unset;  // a record read, handed over
  LONG kind = KX9_DATATYPE_GVL;             // of the record in p
  Elements got;
  STOBJECTID sentinel = Key(1, 1), *ids = nullptr, parent = Key(9, 9);
  LONG count = -7, type = -1;

  World() {
    labels.Initialize(project);
    LONG d = 0;
    EXPECT_EQ(db.Workspace()->GetDataObject(v0, &el, &d), S_OK);
    devices.Add(Dev{u"front", u""});
    rec.systemLabel.status = 3;
    db.Faults().ResetCounts();
  }
  ~World() {
    if (p != unset) KX9DeleteElement(kind, p);
    for (int i = 0; i < A::Collected(labels).GetSize(); ++i) delete A::Collected(labels)[i];
  }
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
  ULONG List(STOBJECTID collection) {
    ids = &sentinel;
    return A::List(labels, collection, count, &ids);
  }
  bool Stamped(STOBJECTID id, SYSTEMTIME* t = nullptr) {
    SYSTEMTIME local{};
    return db.LastUpdateTime(id, t ? t : &local);
  }
};

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
