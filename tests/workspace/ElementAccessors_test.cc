// Field accessors of classic elements, against the reference database.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
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

struct AccessorFixture : ::testing::Test {
  refdb::RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  C labels{db.Workspace()};
  long bstrsAtStart = PlatformLiveBstrCount();
  STOBJECTID var{};
  IUnknown* el = nullptr;  // borrowed

  void SetUp() override {
    labels.Initialize(project);
    fx::AddClassicSDT(db, project, u"Motor");
    fx::VariableSpec desc;
    // Texts are constructed, not assigned from literals: GCC 12 at -O3 sees a
    // copy between overlapping ranges in the literal assignment (-Wrestrict).
    desc.name = std::u16string(u"v"), desc.exAccess = 2;
    desc.systemLabel.status = 3, desc.systemLabel.remark = u"sysremark";
    var = fx::AddClassicVariable(db, fx::AddClassicGVL(db, project, u"G"), desc);
    LONG d = 0;
    ASSERT_EQ(db.Workspace()->GetDataObject(var, &el, &d), S_OK);
    db.Faults().ResetCounts();
  }
  void TearDown() override {
    EXPECT_EQ(PlatformLiveBstrCount(), bstrsAtStart);
    EXPECT_EQ(db.OutstandingReferences(), 0);
  }
  LONG Code() {
    LONG code = -1;
    return db.TypeCode(var, &code) ? code : -1;
  }
};

TEST_F(AccessorFixture, PlainFieldsReadWriteAndKeepTextOnFailure) {
  CString text;
  EXPECT_EQ(A::GetSysRemark(labels, el, text), KX9_OK);  // written by the builder, never by the component
  EXPECT_EQ(text, u"sysremark");
  EXPECT_EQ(A::SetInit(labels, el, u"\u00e9\u4e2d"), KX9_OK);
  EXPECT_EQ(A::GetInit(labels, el, text), KX9_OK);
  EXPECT_EQ(text, u"\u00e9\u4e2d");
  db.Faults().Set("GlobalVariable.GetInitData", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(A::GetInit(labels, el, text = u"kept"), KX9_ERR_DB);
  EXPECT_EQ(text, u"kept");
  db.Faults().Set("GlobalVariable.SetInitData", refdb::Fault{5, 0x4D2, 1, 1});  // positive counts too
  EXPECT_EQ(A::SetInit(labels, el, u"x"), KX9_ERR_DB);

  // Only comment 0 reaches the database; other indexes make no call.
  EXPECT_EQ(A::SetComment(labels, el, 0, u"c0"), KX9_OK);
  EXPECT_EQ(A::SetComment(labels, el, 5, u"c5"), KX9_OK);
  EXPECT_EQ(A::GetComment(labels, el, 5, text = u"kept"), KX9_OK);
  EXPECT_EQ(text, u"kept");
  EXPECT_EQ(A::GetComment(labels, el, 0, text), KX9_OK);
  EXPECT_EQ(text, u"c0");
  EXPECT_EQ(db.Faults().Calls("Variable.SetComment") + db.Faults().Calls("Variable.GetComment"), 2);

  // External access: only "1" is 1, only 1 reads as "1" (the stored 2 is "0").
  EXPECT_EQ(A::GetEx(labels, el, text), KX9_OK);
  EXPECT_EQ(text, u"0");
  for (const char16_t* in : {u"1", u"true", u"01", u""}) {
    EXPECT_EQ(A::SetEx(labels, el, in), KX9_OK);
    EXPECT_EQ(A::GetEx(labels, el, text), KX9_OK);
    EXPECT_EQ(text, std::u16string(in) == u"1" ? u"1" : u"0") << ToUtf8(in);
  }
}

TEST_F(AccessorFixture, TypeCodesAndStructureDefinition) {
  const std::vector<std::pair<const char16_t*, LONG>> codes = {{u"LREAL", 6}, {u"Dint", 100}, {u"Motor", 100}};
  for (auto [name, code] : codes) {
    EXPECT_EQ(A::SetType(labels, el, name), KX9_OK);
    EXPECT_EQ(Code(), code) << ToUtf8(name);
  }
  EXPECT_EQ(A::Define(labels, el, u"motor"), KX9_ERR_NO_STRUCT);
  EXPECT_EQ(Code(), 100);
  EXPECT_EQ(A::Define(labels, el, u"Motor"), KX9_OK);
  EXPECT_EQ(Code(), 9);
  std::u16string name;
  STOBJECTID structId{}, expected{};
  EXPECT_TRUE(db.TypeName(var, &name) && name == u"Motor");
  ASSERT_TRUE(db.StructDefineID(var, &structId));
  ASSERT_EQ(labels.GetStructDataID(u"Motor", expected), KX9_OK);
  EXPECT_EQ(structId, expected);

  // A failed name write leaves the code; a failed definition write stops it.
  db.Faults().Set("GlobalVariable.SetTypeString", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(A::SetType(labels, el, u"BOOL"), KX9_ERR_DB);
  EXPECT_EQ(Code(), 9);
  db.Faults().ResetCounts();
  db.Faults().Set("VariableDataType.SetTypeCode", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(A::Define(labels, el, u"Motor"), KX9_ERR_DB);
  db.Faults().Set("VariableDataType.SetTypeName", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(A::Define(labels, el, u"Motor"), KX9_ERR_DB);
  EXPECT_EQ(db.Faults().Calls("VariableDataType.SetTypeName"), 1);
  EXPECT_EQ(db.Faults().Calls("VariableDataType.SetStructDefineID"), 0);
}

TEST_F(AccessorFixture, DevicesOfSimpleAndStructuredVariables) {
  Dev dev{u"D100", u"X"}, other{u"D1", u"Y"}, got{u"old", u"old"};
  EXPECT_EQ(A::SetDevice(labels, el, dev), KX9_OK);
  db.Faults().Set("GlobalVariable.SetAllocatedDevice", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(A::SetDevice(labels, el, other), KX9_OK);  // statuses are ignored
  db.Faults().Set("GlobalVariable.GetAllocatedDevice", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(A::GetDevice(labels, el, got), KX9_OK);
  EXPECT_EQ(got.device, u"old");
  EXPECT_EQ(got.deviceExtra, u"Y");

  C::CDeviceArray devices, empty, three;
  devices.Add(Dev{u"front", u""});
  EXPECT_EQ(A::GetMembers(labels, el, devices), KX9_OK);  // none stored yet
  EXPECT_EQ(A::SetMembers(labels, el, empty), KX9_OK);
  EXPECT_EQ(db.Faults().Calls("StructVariable.SetMemberDevices"), 0);
  for (const char16_t* d : {u"M0", u"", u"M2"}) three.Add(Dev{d, CString(d) + u"e"});
  EXPECT_EQ(A::SetMembers(labels, el, three), KX9_OK);
  EXPECT_EQ(A::GetMembers(labels, el, devices), KX9_OK);
  ASSERT_EQ(devices.GetSize(), 4);
  EXPECT_EQ(devices[0].device, u"front");
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(devices[i + 1].device == three[i].device && devices[i + 1].deviceExtra == three[i].deviceExtra) << i;
  for (int nth : {1, 2}) {  // the count, then the texts
    db.Faults().Set("StructVariable.GetMemberDevices", refdb::Fault{-1, 0x4D2, nth, 1});
    EXPECT_EQ(A::GetMembers(labels, el, devices), KX9_ERR_DB);
  }
  EXPECT_EQ(devices.GetSize(), 4);
  db.Faults().Set("StructVariable.SetMemberDevices", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(A::SetMembers(labels, el, three), KX9_ERR_DB);
}

TEST_F(AccessorFixture, SystemLabelPartReportsOnlyTheLocalName) {
  _STKX9LABELSTRUCTUREGVLDATA in, out;
  _STKX9SYSTEMLABELDATA& s = in.systemLabel;
  s.ID = 1, s.CPUID = 2, s.attribute = 3, s.status = 4, s.projectID = 5, s.listID = 6, s.dataType = 7;
  s.dataSize = 8, s.name = u"n", s.programName = u"p", s.localName = u"l", s.comment = u"c";
  db.Faults().Set("SystemLabel.SetName", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(A::SetSys(labels, el, &in), KX9_OK);
  EXPECT_EQ(db.Faults().Calls("SystemLabel.SetComment") + db.Faults().Calls("SystemLabel.SetRemark"), 0);

  labels.SetMode(C::KX9LabelModeWithoutSystemLabel);
  EXPECT_EQ(A::GetSys(labels, el, &out), KX9_OK);
  EXPECT_EQ(out.systemLabel.status, 0);
  labels.SetMode(C::KX9LabelModeNormal);
  db.Faults().Set("SystemLabel.GetStatus", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(A::GetSys(labels, el, &out), KX9_OK);
  const _STKX9SYSTEMLABELDATA& o = out.systemLabel;
  EXPECT_EQ(std::vector<LONG>({o.ID, o.CPUID, o.attribute, o.status, o.projectID, o.listID, o.dataType, o.dataSize}),
            std::vector<LONG>({1, 2, 3, 0, 5, 6, 7, 8}));  // the status read failed
  EXPECT_TRUE(o.name.IsEmpty() && o.programName == u"p" && o.localName == u"l" && o.comment.IsEmpty());
  db.Faults().Set("SystemLabel.GetLocalName", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(A::GetSys(labels, el, &out), KX9_ERR_DB);
  db.Faults().Set("SystemLabel.SetLocalName", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(A::SetSys(labels, el, &in), KX9_ERR_DB);

  db.Faults().ResetCounts();
  in.systemLabel.status = 0;
  EXPECT_EQ(A::SetSys(labels, el, &in), KX9_OK);
  EXPECT_EQ(db.Faults().TotalCalls(), 0);
}

TEST_F(AccessorFixture, WithheldInterfacesGiveSevenAndWriteNothing) {
  for (const IID* iid : {&IVNDataABS_Variable::iid, &IVNDataABS_GlobalVariable::iid, &IVNDataABS_VariableDataType::iid,
                         &IVNDataABS_StructVariable::iid, &IVNDataABS_SystemLabel::iid})
    db.WithholdInterface(var, *iid);
  ULONG line = 0;
  LONG kind = 0;
  CString text;
  Dev dev;
  C::CDeviceArray devices;
  devices.Add(dev);
  _STKX9LABELSTRUCTUREGVLDATA rec;
  rec.systemLabel.status = 3;
  const std::vector<std::function<ULONG()>> calls = {
      [&] { return A::GetLine(labels, el, line); },       [&] { return A::SetComment(labels, el, 0, u"c"); },
      [&] { return A::SetType(labels, el, u"INT"); },     [&] { return A::GetInit(labels, el, text); },
      [&] { return A::GetKind(labels, el, kind); },       [&] { return A::GetDevice(labels, el, dev); },
      [&] { return A::SetDevice(labels, el, dev); },      [&] { return A::GetMembers(labels, el, devices); },
      [&] { return A::SetMembers(labels, el, devices); }, [&] { return A::Define(labels, el, u"Motor"); },
      [&] { return A::GetEx(labels, el, text); },         [&] { return A::SetEx(labels, el, u"1"); },
      [&] { return A::GetSys(labels, el, &rec); },        [&] { return A::SetSys(labels, el, &rec); }};
  for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i](), KX9_ERR_NO_INTERFACE) << i;
  EXPECT_EQ(Code(), -1);
}

}  // namespace
