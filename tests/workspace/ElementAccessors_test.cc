// Field accessors of classic elements, against the reference database: what
// they convert on the way, and every failure row as one table.
#include "tests/workspace/WorkspaceTestSupport.h"

namespace {
using namespace workspace_test;

// What the accessors convert on the way (whole records round trip in the
// element operations' test): comment indexes, the external access flag,
// type codes and structure definitions, appended member devices, and when
// the system-label part is skipped.
TEST(ElementAccessors, FieldsConvertOnTheWay) {
  World w;
  // Only comment 0 reaches the database; other indexes make no call and
  // leave the caller's text.
  EXPECT_EQ(A::SetComment(w, 5) + A::GetComment(w, 5), KX9_OK);
  EXPECT_TRUE(w.text == u"kept" && w.db.Faults().TotalCalls() == 0);

  // External access: only "1" is 1, only 1 reads as "1" (the stored 2 is "0").
  EXPECT_TRUE(A::GetEx(w) == KX9_OK && w.text == u"0");
  for (const char16_t* in : {u"1", u"true", u"01", u""}) {
    EXPECT_EQ(A::SetEx(w, in) + A::GetEx(w), KX9_OK);
    EXPECT_EQ(w.text, std::u16string(in) == u"1" ? u"1" : u"0") << ToUtf8(in);
  }

  // A type name sets its basic code; a definition sets 9, the name and the
  // structure's ID, and names the structure exactly (else nothing is set).
  EXPECT_EQ(A::SetType(w, u"LREAL"), KX9_OK);
  EXPECT_EQ(A::Define(w, u"motor"), KX9_ERR_NO_STRUCT);
  EXPECT_EQ(w.Code(), 6);
  EXPECT_EQ(A::Define(w, u"Motor"), KX9_OK);
  std::u16string name;
  STOBJECTID structId{}, expected{};
  EXPECT_TRUE(w.Code() == 9 && w.db.TypeName(w.v0, &name) && name == u"Motor");
  ASSERT_TRUE(w.db.StructDefineID(w.v0, &structId) && w.labels.GetStructDataID(u"Motor", expected) == KX9_OK);
  EXPECT_EQ(structId, expected);

  // Member devices are appended behind what the caller holds; an empty
  // list writes nothing.
  C::CDeviceArray three, empty;
  for (const char16_t* d : {u"M0", u"", u"M2"}) three.Add(Dev{d, CString(d) + u"e"});
  EXPECT_EQ(A::SetMembers(w, three) + A::SetMembers(w, empty) + A::GetMembers(w), KX9_OK);
  std::string devices;
  for (int i = 0; i < w.devices.GetSize(); ++i)
    devices += ToUtf8(w.devices[i].device.Str() + u"/" + w.devices[i].deviceExtra.Str() + u",");
  EXPECT_EQ(devices, "front/,M0/M0e,/e,M2/M2e,");

  // No system-label part is read in the mode without system labels, and
  // none is written without a status.
  w.rec.systemLabel.status = 0;
  w.db.Faults().ResetCounts();
  w.labels.SetMode(C::KX9LabelModeWithoutSystemLabel);
  EXPECT_EQ(A::SetSys(w) + A::GetSys(w), KX9_OK);
  EXPECT_EQ(w.db.Faults().TotalCalls(), 0);
}

// Every failure row: which call or allocation fails, the result, and what
// is left afterwards.
TEST(ElementAccessors, FailureRows) {
  using Call = ULONG (*)(World&);
  const Call setType = [](World& w) { return A::SetType(w, u"BOOL"); };
  const Call define = [](World& w) { return A::Define(w, u"Motor"); };
  const Call setMembers = [](World& w) { return A::SetMembers(w, w.devices); };
  const Call setEx = [](World& w) { return A::SetEx(w, u"1"); };
  const auto textKept = +[](World& w) { return w.text == u"kept"; };
  const auto codeUntouched = +[](World& w) { return w.Code() == -1; };
  const auto oneDevice = +[](World& w) { return w.devices.GetSize() == 1; };
  RunFailureRows({
      {"text read", "GlobalVariable.GetInitData", -1, 1, 0, KX9_ERR_DB, A::GetInit, textKept},
      {"text write, positive status", "GlobalVariable.SetInitData", 5, 1, 0, KX9_ERR_DB, A::SetInit, nullptr},
      {"text write, no BSTR", nullptr, 0, 1, kAllocBstr, kThrew, A::SetInit, nullptr},
      {"line number", "Variable.GetLineNo", -1, 1, 0, KX9_ERR_DB, A::GetLine, nullptr},
      {"external access read", "Variable.GetExAccess", -1, 1, 0, KX9_ERR_DB, A::GetEx, textKept},
      {"external access write", "Variable.SetExAccess", 1, 1, 0, KX9_ERR_DB, setEx, nullptr},
      {"type name: the code stays", "GlobalVariable.SetTypeString", -1, 1, 0, KX9_ERR_DB, setType, codeUntouched},
      {"type code", "VariableDataType.SetTypeCode", -1, 1, 0, KX9_ERR_DB, setType, nullptr},
      {"definition: code, nothing after", "VariableDataType.SetTypeCode", -1, 1, 0, KX9_ERR_DB, define,
       [](World& w) { return w.Calls("VariableDataType.SetTypeName") == 0; }},
      {"definition: name, no ID", "VariableDataType.SetTypeName", -1, 1, 0, KX9_ERR_DB, define,
       [](World& w) { return w.Calls("VariableDataType.SetStructDefineID") == 0; }},
      {"definition: ID", "VariableDataType.SetStructDefineID", -1, 1, 0, KX9_ERR_DB, define, nullptr},
      {"definition, no BSTR", nullptr, 0, 1, kAllocBstr, kThrew, define, nullptr},
      // Device statuses are ignored: a failed read leaves that text.
      {"device write", "GlobalVariable.SetAllocatedDevice", -1, 1, 0, KX9_OK, A::SetDevice, nullptr},
      {"device read", "GlobalVariable.GetAllocatedDevice", -1, 1, 0, KX9_OK, A::GetDevice,
       [](World& w) { return w.dev.device == u"old" && w.dev.deviceExtra.IsEmpty(); }},
      {"device write, no BSTR", nullptr, 0, 2, kAllocBstr, kThrew, A::SetDevice, nullptr},
      {"member devices: count", "StructVariable.GetMemberDevices", -1, 1, 0, KX9_ERR_DB, A::GetMembers, oneDevice},
      {"member devices: texts", "StructVariable.GetMemberDevices", -1, 2, 0, KX9_ERR_DB, A::GetMembers, oneDevice},
      {"member devices: slots", nullptr, 0, 1, kAllocNew, KX9_ERR_ALLOC, A::GetMembers, oneDevice},
      {"member devices: extra slots", nullptr, 0, 2, kAllocNew, KX9_ERR_ALLOC, A::GetMembers, oneDevice},
      {"member device write", "StructVariable.SetMemberDevices", -1, 1, 0, KX9_ERR_DB, setMembers, nullptr},
      {"member device write: slots", nullptr, 0, 1, kAllocNew, KX9_ERR_ALLOC, setMembers, nullptr},
      {"member device write: a device", nullptr, 0, 1, kAllocBstr, KX9_ERR_ALLOC, setMembers,
       [](World& w) { return w.Calls("StructVariable.SetMemberDevices") == 0; }},
      // An empty extra needs no BSTR: the null one is fine.
      {"member device write: an empty extra", nullptr, 0, 2, kAllocBstr, KX9_OK, setMembers, nullptr},
      // Only the local name's result counts; an earlier read or write that
      // fails is lost (a failed status read leaves 0).
      {"system label: name write", "SystemLabel.SetName", -1, 1, 0, KX9_OK, A::SetSys, nullptr},
      {"system label: local name write", "SystemLabel.SetLocalName", -1, 1, 0, KX9_ERR_DB, A::SetSys, nullptr},
      {"system label: status read", "SystemLabel.GetStatus", -1, 1, 0, KX9_OK, A::GetSys,
       [](World& w) { return w.Calls("SystemLabel.GetLocalName") == 1; }},
      {"system label: local name read", "SystemLabel.GetLocalName", -1, 1, 0, KX9_ERR_DB, A::GetSys, nullptr},
      {"system label: name, no BSTR", nullptr, 0, 1, kAllocBstr, kThrew, A::SetSys, nullptr},
  });

  // An element that does not answer for an interface: 7, nothing written.
  World w;
  for (const IID* iid : {&IVNDataABS_Variable::iid, &IVNDataABS_GlobalVariable::iid, &IVNDataABS_VariableDataType::iid,
                         &IVNDataABS_StructVariable::iid, &IVNDataABS_SystemLabel::iid})
    w.db.WithholdInterface(w.v0, *iid);
  for (const Call call : {A::GetInit, A::SetInit, A::GetEx, setEx, setType, define, A::GetDevice, A::SetDevice,
                          A::GetMembers, setMembers, A::GetSys, A::SetSys, A::GetKind})
    EXPECT_EQ(call(w), KX9_ERR_NO_INTERFACE);
  EXPECT_EQ(A::SetComment(w, 0) + A::GetComment(w, 0), 2 * KX9_ERR_NO_INTERFACE);
  EXPECT_EQ(w.Code(), -1);
  EXPECT_EQ(w.db.OutstandingReferences(), 0);
}

}  // namespace
