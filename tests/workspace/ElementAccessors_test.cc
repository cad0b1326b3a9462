// Field accessors of classic elements, against the reference database: what
// they write and read, and every failure row as one table.
#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "tests/support/AllocFailure.h"
#include "tests/support/RefdbFixtures.h"

namespace {
struct AccessorTag;
}

template <>
struct KX9TestAccess<AccessorTag> {
  using C = CKX9ComFuncLabelStructure;
  using E = IUnknown*;
  using Dev = _STKX9LABELSTRUCTUREGVLDEVICE;
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
  static ULONG GetSysRemark(C& o, E e, CString& s) { return o.GetSystemLabelRemark(e, s); }
};

namespace {
using A = KX9TestAccess<AccessorTag>;
using C = CKX9ComFuncLabelStructure;
using Dev = _STKX9LABELSTRUCTUREGVLDEVICE;
namespace fx = refdb_fixtures;

constexpr LONG kThrew = -1000;  // std::bad_alloc passed out to the host

// One variable "v" (external access 2, a system label of status 3, one
// member device) in GVL "G", an SDT "Motor", and the outputs of the calls.
struct World {
  refdb::RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  C labels{db.Workspace()};
  STOBJECTID var{};
  IUnknown* el = nullptr;  // borrowed
  CString text{u"kept"};
  Dev dev{u"old", u"old"};
  C::CDeviceArray devices;
  _STKX9LABELSTRUCTUREGVLDATA rec;

  World() {
    labels.Initialize(project);
    fx::AddClassicSDT(db, project, u"Motor");
    fx::VariableSpec desc;
    // Texts are constructed, not assigned from literals: GCC 12 at -O3 sees a
    // copy between overlapping ranges in the literal assignment (-Wrestrict).
    desc.name = std::u16string(u"v"), desc.exAccess = 2;
    desc.systemLabel.status = 3, desc.systemLabel.remark = u"sysremark";
    desc.memberDevices = {{u"M0", u"E0"}};
    var = fx::AddClassicVariable(db, fx::AddClassicGVL(db, project, u"G"), desc);
    LONG d = 0;
    EXPECT_EQ(db.Workspace()->GetDataObject(var, &el, &d), S_OK);
    devices.Add(Dev{u"front", u""});
    rec.systemLabel.status = 3;
    db.Faults().ResetCounts();
  }
  LONG Code() {
    LONG code = -1;
    return db.TypeCode(var, &code) ? code : -1;
  }
  long Calls(const char* op) { return db.Faults().Calls(op); }
};

TEST(ElementAccessors, FieldsReadAndWriteAsStored) {
  World w;
  C& o = w.labels;
  CString text;
  EXPECT_EQ(A::GetSysRemark(o, w.el, text), KX9_OK);  // written by the builder, never by the component
  EXPECT_EQ(text, u"sysremark");
  EXPECT_EQ(A::SetInit(o, w.el, u"\u00e9\u4e2d"), KX9_OK);
  EXPECT_EQ(A::GetInit(o, w.el, text), KX9_OK);
  EXPECT_EQ(text, u"\u00e9\u4e2d");

  // Only comment 0 reaches the database; other indexes make no call.
  EXPECT_EQ(A::SetComment(o, w.el, 0, u"c0") + A::SetComment(o, w.el, 5, u"c5"), KX9_OK);
  EXPECT_EQ(A::GetComment(o, w.el, 5, text = u"kept"), KX9_OK);
  EXPECT_EQ(text, u"kept");
  EXPECT_EQ(A::GetComment(o, w.el, 0, text), KX9_OK);
  EXPECT_EQ(text, u"c0");
  EXPECT_EQ(w.Calls("Variable.SetComment") + w.Calls("Variable.GetComment"), 2);

  // External access: only "1" is 1, only 1 reads as "1" (the stored 2 is "0").
  EXPECT_EQ(A::GetEx(o, w.el, text), KX9_OK);
  EXPECT_EQ(text, u"0");
  for (const char16_t* in : {u"1", u"true", u"01", u""}) {
    EXPECT_EQ(A::SetEx(o, w.el, in) + A::GetEx(o, w.el, text), KX9_OK);
    EXPECT_EQ(text, std::u16string(in) == u"1" ? u"1" : u"0") << ToUtf8(in);
  }

  // A type name sets its basic code (100 when none); a definition sets 9,
  // the name and the structure's ID, and names the structure exactly.
  for (auto [name, code] : std::vector<std::pair<const char16_t*, LONG>>{{u"LREAL", 6}, {u"Dint", 100}}) {
    EXPECT_EQ(A::SetType(o, w.el, name), KX9_OK);
    EXPECT_EQ(w.Code(), code) << ToUtf8(name);
  }
  EXPECT_EQ(A::Define(o, w.el, u"motor"), KX9_ERR_NO_STRUCT);
  EXPECT_EQ(w.Code(), 100);
  EXPECT_EQ(A::Define(o, w.el, u"Motor"), KX9_OK);
  EXPECT_EQ(w.Code(), 9);
  std::u16string name;
  STOBJECTID structId{}, expected{};
  EXPECT_TRUE(w.db.TypeName(w.var, &name) && name == u"Motor");
  ASSERT_TRUE(w.db.StructDefineID(w.var, &structId));
  ASSERT_EQ(o.GetStructDataID(u"Motor", expected), KX9_OK);
  EXPECT_EQ(structId, expected);

  // Member devices are appended behind what the caller holds.
  C::CDeviceArray three;
  for (const char16_t* d : {u"M0", u"", u"M2"}) three.Add(Dev{d, CString(d) + u"e"});
  EXPECT_EQ(A::SetMembers(o, w.el, three), KX9_OK);
  EXPECT_EQ(A::GetMembers(o, w.el, w.devices), KX9_OK);
  ASSERT_EQ(w.devices.GetSize(), 4);
  EXPECT_EQ(w.devices[0].device, u"front");
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(w.devices[i + 1].device == three[i].device && w.devices[i + 1].deviceExtra == three[i].deviceExtra);
  Dev dev{u"D100", u"X"}, got;
  EXPECT_EQ(A::SetDevice(o, w.el, dev) + A::GetDevice(o, w.el, got), KX9_OK);
  EXPECT_TRUE(got.device == u"D100" && got.deviceExtra == u"X");

  // The system-label part: all but comment and remark, none without a status.
  _STKX9LABELSTRUCTUREGVLDATA in, out;
  _STKX9SYSTEMLABELDATA& s = in.systemLabel;
  s.ID = 1, s.CPUID = 2, s.attribute = 3, s.status = 4, s.projectID = 5, s.listID = 6, s.dataType = 7;
  s.dataSize = 8, s.name = u"n", s.programName = u"p", s.localName = u"l", s.comment = u"c";
  EXPECT_EQ(A::SetSys(o, w.el, &in), KX9_OK);
  EXPECT_EQ(w.Calls("SystemLabel.SetComment") + w.Calls("SystemLabel.SetRemark"), 0);
  EXPECT_EQ(A::GetSys(o, w.el, &out), KX9_OK);
  const _STKX9SYSTEMLABELDATA& r = out.systemLabel;
  EXPECT_EQ(std::vector<LONG>({r.ID, r.CPUID, r.attribute, r.status, r.projectID, r.listID, r.dataType, r.dataSize}),
            std::vector<LONG>({1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_TRUE(r.name == u"n" && r.programName == u"p" && r.localName == u"l" && r.comment.IsEmpty());
  o.SetMode(C::KX9LabelModeWithoutSystemLabel);
  _STKX9LABELSTRUCTUREGVLDATA none;
  EXPECT_EQ(A::GetSys(o, w.el, &none), KX9_OK);
  EXPECT_EQ(none.systemLabel.status, 0);
  w.db.Faults().ResetCounts();
  in.systemLabel.status = 0;
  EXPECT_EQ(A::SetSys(o, w.el, &in), KX9_OK);
  EXPECT_EQ(w.db.Faults().TotalCalls(), 0);
}

// Every failure row: which database call fails (with a detail no code
// equals), or which allocation; the result; what is left afterwards.
TEST(ElementAccessors, FailureRows) {
  using Call = ULONG (*)(World&);
  using Left = bool (*)(World&);
  struct Row {
    const char* what;
    const char* op;  // the failing call, or null for none
    int nth;
    HRESULT status;
    unsigned allocKinds;  // else an allocation of these kinds fails (the nth)
    LONG expected;
    Call call;
    Left left;
  };
  const Call getInit = [](World& w) { return A::GetInit(w.labels, w.el, w.text); };
  const Call setInit = [](World& w) { return A::SetInit(w.labels, w.el, u"x"); };
  const Call getEx = [](World& w) { return A::GetEx(w.labels, w.el, w.text); };
  const Call setType = [](World& w) { return A::SetType(w.labels, w.el, u"BOOL"); };
  const Call define = [](World& w) { return A::Define(w.labels, w.el, u"Motor"); };
  const Call getDevice = [](World& w) { return A::GetDevice(w.labels, w.el, w.dev); };
  const Call setDevice = [](World& w) { return A::SetDevice(w.labels, w.el, w.dev); };
  const Call getMembers = [](World& w) { return A::GetMembers(w.labels, w.el, w.devices); };
  const Call setMembers = [](World& w) { return A::SetMembers(w.labels, w.el, w.devices); };
  const Call getSys = [](World& w) { return A::GetSys(w.labels, w.el, &w.rec); };
  const Call setSys = [](World& w) { return A::SetSys(w.labels, w.el, &w.rec); };
  const Left textKept = [](World& w) { return w.text == u"kept"; };
  const Left codeUntouched = [](World& w) { return w.Code() == -1; };
  const Left oneDevice = [](World& w) { return w.devices.GetSize() == 1; };
  const Left any = [](World&) { return true; };
  const Row rows[] = {
      {"text read", "GlobalVariable.GetInitData", 1, -1, 0, KX9_ERR_DB, getInit, textKept},
      {"text write, positive status", "GlobalVariable.SetInitData", 1, 5, 0, KX9_ERR_DB, setInit, any},
      {"text write, no BSTR", nullptr, 1, 0, kAllocBstr, kThrew, setInit, any},
      {"comment read", "Variable.GetComment", 1, -1, 0, KX9_ERR_DB,
       [](World& w) { return A::GetComment(w.labels, w.el, 0, w.text); }, textKept},
      {"line number", "Variable.GetLineNo", 1, -1, 0, KX9_ERR_DB,
       [](World& w) {
         ULONG line = 0;
         return A::GetLine(w.labels, w.el, line);
       },
       any},
      {"external access read", "Variable.GetExAccess", 1, -1, 0, KX9_ERR_DB, getEx, textKept},
      {"external access write", "Variable.SetExAccess", 1, 1, 0, KX9_ERR_DB,
       [](World& w) { return A::SetEx(w.labels, w.el, u"1"); }, any},
      {"structure kind", "StructVariable.GetStructKind", 1, -1, 0, KX9_ERR_DB,
       [](World& w) {
         LONG kind = 0;
         return A::GetKind(w.labels, w.el, kind);
       },
       any},
      {"type name: the code stays", "GlobalVariable.SetTypeString", 1, -1, 0, KX9_ERR_DB, setType, codeUntouched},
      {"type code", "VariableDataType.SetTypeCode", 1, -1, 0, KX9_ERR_DB, setType, any},
      {"type name, no BSTR", nullptr, 1, 0, kAllocBstr, kThrew, setType, codeUntouched},
      {"definition: code, nothing after", "VariableDataType.SetTypeCode", 1, -1, 0, KX9_ERR_DB, define,
       [](World& w) { return w.Calls("VariableDataType.SetTypeName") == 0; }},
      {"definition: name, no ID", "VariableDataType.SetTypeName", 1, -1, 0, KX9_ERR_DB, define,
       [](World& w) { return w.Calls("VariableDataType.SetStructDefineID") == 0; }},
      {"definition: ID", "VariableDataType.SetStructDefineID", 1, -1, 0, KX9_ERR_DB, define, any},
      {"definition, no BSTR", nullptr, 1, 0, kAllocBstr, kThrew, define, any},
      // Device statuses are ignored: a failed read leaves that text.
      {"device write", "GlobalVariable.SetAllocatedDevice", 1, -1, 0, KX9_OK, setDevice, any},
      {"device read", "GlobalVariable.GetAllocatedDevice", 1, -1, 0, KX9_OK, getDevice,
       [](World& w) { return w.dev.device == u"old" && w.dev.deviceExtra.IsEmpty(); }},
      {"device write, no BSTR", nullptr, 2, 0, kAllocBstr, kThrew, setDevice, any},
      {"member devices: count", "StructVariable.GetMemberDevices", 1, -1, 0, KX9_ERR_DB, getMembers, oneDevice},
      {"member devices: texts", "StructVariable.GetMemberDevices", 2, -1, 0, KX9_ERR_DB, getMembers, oneDevice},
      {"member devices: slots", nullptr, 1, 0, kAllocNew, KX9_ERR_ALLOC, getMembers, oneDevice},
      {"member devices: extra slots", nullptr, 2, 0, kAllocNew, KX9_ERR_ALLOC, getMembers, oneDevice},
      {"member device write", "StructVariable.SetMemberDevices", 1, -1, 0, KX9_ERR_DB, setMembers, any},
      {"member device write: slots", nullptr, 1, 0, kAllocNew, KX9_ERR_ALLOC, setMembers, any},
      {"member device write: a device", nullptr, 1, 0, kAllocBstr, KX9_ERR_ALLOC, setMembers,
       [](World& w) { return w.Calls("StructVariable.SetMemberDevices") == 0; }},
      // An empty extra needs no BSTR: the null one is fine.
      {"member device write: an empty extra", nullptr, 2, 0, kAllocBstr, KX9_OK, setMembers, any},
      // Only the local name's result counts; an earlier read or write that
      // fails is lost (a failed status read leaves 0).
      {"system label: name write", "SystemLabel.SetName", 1, -1, 0, KX9_OK, setSys, any},
      {"system label: local name write", "SystemLabel.SetLocalName", 1, -1, 0, KX9_ERR_DB, setSys, any},
      {"system label: status read", "SystemLabel.GetStatus", 1, -1, 0, KX9_OK, getSys,
       [](World& w) { return w.Calls("SystemLabel.GetLocalName") == 1; }},
      {"system label: local name read", "SystemLabel.GetLocalName", 1, -1, 0, KX9_ERR_DB, getSys, any},
      {"system label: name, no BSTR", nullptr, 1, 0, kAllocBstr, kThrew, setSys, any},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const long bstrs = PlatformLiveBstrCount();
    {
      World w;
      if (row.op != nullptr) w.db.Faults().Set(row.op, refdb::Fault{row.status, 0x4D2, row.nth, 1});
      LONG result = 0;
      try {
        std::optional<AllocFailure> fail;
        if (row.allocKinds != 0) fail.emplace(row.nth, row.allocKinds);
        result = static_cast<LONG>(row.call(w));
      } catch (const std::bad_alloc&) {
        result = kThrew;
      }
      EXPECT_EQ(result, row.expected);
      EXPECT_TRUE(row.left(w));
      EXPECT_EQ(w.db.OutstandingReferences(), 0);
    }
    EXPECT_EQ(PlatformLiveBstrCount(), bstrs);
  }

  // An element that does not answer for an interface: 7, nothing written.
  World w;
  for (const IID* iid : {&IVNDataABS_Variable::iid, &IVNDataABS_GlobalVariable::iid, &IVNDataABS_VariableDataType::iid,
                         &IVNDataABS_StructVariable::iid, &IVNDataABS_SystemLabel::iid})
    w.db.WithholdInterface(w.var, *iid);
  for (const Call call : {getInit, setInit, getEx, setType, define, getDevice, setDevice, getMembers, setMembers,
                          getSys, setSys}) {
    EXPECT_EQ(call(w), KX9_ERR_NO_INTERFACE);
  }
  EXPECT_EQ(A::SetComment(w.labels, w.el, 0, u"c") + A::GetKind(w.labels, w.el, w.rec.structType), 14u);
  EXPECT_EQ(w.Code(), -1);
  EXPECT_EQ(w.db.OutstandingReferences(), 0);
}

}  // namespace
