// Field accessors of classic elements, against the reference database: what
// they convert on the way, and every failure row as one table.
#include "tests/workspace/WorkspaceTestSupport.h"

namespace {
using namespace workspace_test;

// What the accessors make of what they pass: comment indexes, the external
// access flag, type codes and structure definitions, appended member devices
// and the system-label part.
TEST(ElementAccessors, FieldsReadAndWriteAsStored) {
  World w;
  C& o = w.labels;
  CString text, c5(u"kept");
  // Only comment 0 reaches the database; other indexes make no call.
  EXPECT_EQ(A::SetComment(o, w.el, 0, u"c0") + A::SetComment(o, w.el, 5, u"c5"), KX9_OK);
  EXPECT_EQ(A::GetComment(o, w.el, 5, c5) + A::GetComment(o, w.el, 0, text), KX9_OK);
  EXPECT_TRUE(text == u"c0" && c5 == u"kept");
  EXPECT_EQ(w.Calls("Variable.SetComment") + w.Calls("Variable.GetComment"), 2);

  // External access: only "1" is 1, only 1 reads as "1" (the stored 2 is "0").
  EXPECT_TRUE(A::GetEx(o, w.el, text) == KX9_OK && text == u"0");
  for (const char16_t* in : {u"1", u"true", u"01", u""}) {
    EXPECT_EQ(A::SetEx(o, w.el, in) + A::GetEx(o, w.el, text), KX9_OK);
    EXPECT_EQ(text, std::u16string(in) == u"1" ? u"1" : u"0") << ToUtf8(in);
  }

  // A type name sets its basic code; a definition sets 9, the name and the
  // structure's ID, and names the structure exactly (else nothing is set).
  EXPECT_EQ(A::SetType(o, w.el, u"LREAL"), KX9_OK);
  EXPECT_EQ(A::Define(o, w.el, u"motor"), KX9_ERR_NO_STRUCT);
  EXPECT_EQ(w.Code(), 6);
  EXPECT_EQ(A::Define(o, w.el, u"Motor"), KX9_OK);
  std::u16string name;
  STOBJECTID structId{}, expected{};
  EXPECT_TRUE(w.Code() == 9 && w.db.TypeName(w.v0, &name) && name == u"Motor");
  ASSERT_TRUE(w.db.StructDefineID(w.v0, &structId) && o.GetStructDataID(u"Motor", expected) == KX9_OK);
  EXPECT_EQ(structId, expected);

  // Member devices are appended behind what the caller holds.
  C::CDeviceArray three;
  for (const char16_t* d : {u"M0", u"", u"M2"}) three.Add(Dev{d, CString(d) + u"e"});
  C::CDeviceArray empty;  // an empty list writes nothing
  EXPECT_EQ(A::SetMembers(o, w.el, three) + A::SetMembers(o, w.el, empty) + A::GetMembers(o, w.el, w.devices), KX9_OK);
  ASSERT_EQ(w.devices.GetSize(), 4);
  EXPECT_EQ(w.devices[0].device, u"front");
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(w.devices[i + 1].device == three[i].device && w.devices[i + 1].deviceExtra == three[i].deviceExtra);
  Dev dev{u"D100", u"X"}, got;
  EXPECT_EQ(A::SetDevice(o, w.el, dev) + A::GetDevice(o, w.el, got), KX9_OK);
  EXPECT_TRUE(got.device == u"D100" && got.deviceExtra == u"X");

  // The system-label part: all but comment and remark, none without a status.
  GVL in, out, none;
  _STKX9SYSTEMLABELDATA& s = in.systemLabel;
  s.ID = 1, s.CPUID = 2, s.attribute = 3, s.status = 4, s.projectID = 5, s.listID = 6, s.dataType = 7;
  s.dataSize = 8, s.name = u"n", s.programName = u"p", s.localName = u"l", s.comment = u"c";
  EXPECT_EQ(A::SetSys(o, w.el, &in) + A::GetSys(o, w.el, &out), KX9_OK);
  EXPECT_EQ(w.Calls("SystemLabel.SetComment") + w.Calls("SystemLabel.SetRemark"), 0);
  const _STKX9SYSTEMLABELDATA& r = out.systemLabel;
  EXPECT_EQ(std::vector<LONG>({r.ID, r.CPUID, r.attribute, r.status, r.projectID, r.listID, r.dataType, r.dataSize}),
            std::vector<LONG>({1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_TRUE(r.name == u"n" && r.programName == u"p" && r.localName == u"l" && r.comment.IsEmpty());
  o.SetMode(C::KX9LabelModeWithoutSystemLabel);
  EXPECT_EQ(A::GetSys(o, w.el, &none), KX9_OK);
  EXPECT_EQ(none.systemLabel.status, 0);
  w.db.Faults().ResetCounts();
  s.status = 0;
  EXPECT_EQ(A::SetSys(o, w.el, &in), KX9_OK);
  EXPECT_EQ(w.db.Faults().TotalCalls(), 0);
}

// Every failure row: which call or allocation fails, the result, and what
// is left afterwards.
TEST(ElementAccessors, FailureRows) {
  using Call = ULONG (*)(World&);
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
  const auto textKept = +[](World& w) { return w.text == u"kept"; };
  const auto codeUntouched = +[](World& w) { return w.Code() == -1; };
  const auto oneDevice = +[](World& w) { return w.devices.GetSize() == 1; };
  RunFailureRows({
      {"text read", "GlobalVariable.GetInitData", -1, 1, 0, KX9_ERR_DB, getInit, textKept},
      {"text write, positive status", "GlobalVariable.SetInitData", 5, 1, 0, KX9_ERR_DB, setInit, nullptr},
      {"text write, no BSTR", nullptr, 0, 1, kAllocBstr, kThrew, setInit, nullptr},
      {"comment read", "Variable.GetComment", -1, 1, 0, KX9_ERR_DB,
       [](World& w) { return A::GetComment(w.labels, w.el, 0, w.text); }, textKept},
      {"line number", "Variable.GetLineNo", -1, 1, 0, KX9_ERR_DB,
       [](World& w) { return A::GetLine(w.labels, w.el, w.rec.lineNo); }, nullptr},
      {"external access read", "Variable.GetExAccess", -1, 1, 0, KX9_ERR_DB, getEx, textKept},
      {"external access write", "Variable.SetExAccess", 1, 1, 0, KX9_ERR_DB,
       [](World& w) { return A::SetEx(w.labels, w.el, u"1"); }, nullptr},
      {"structure kind", "StructVariable.GetStructKind", -1, 1, 0, KX9_ERR_DB,
       [](World& w) { return A::GetKind(w.labels, w.el, w.rec.structType); }, nullptr},
      {"type name: the code stays", "GlobalVariable.SetTypeString", -1, 1, 0, KX9_ERR_DB, setType, codeUntouched},
      {"type code", "VariableDataType.SetTypeCode", -1, 1, 0, KX9_ERR_DB, setType, nullptr},
      {"type name, no BSTR", nullptr, 0, 1, kAllocBstr, kThrew, setType, codeUntouched},
      {"definition: code, nothing after", "VariableDataType.SetTypeCode", -1, 1, 0, KX9_ERR_DB, define,
       [](World& w) { return w.Calls("VariableDataType.SetTypeName") == 0; }},
      {"definition: name, no ID", "VariableDataType.SetTypeName", -1, 1, 0, KX9_ERR_DB, define,
       [](World& w) { return w.Calls("VariableDataType.SetStructDefineID") == 0; }},
      {"definition: ID", "VariableDataType.SetStructDefineID", -1, 1, 0, KX9_ERR_DB, define, nullptr},
      {"definition, no BSTR", nullptr, 0, 1, kAllocBstr, kThrew, define, nullptr},
      // Device statuses are ignored: a failed read leaves that text.
      {"device write", "GlobalVariable.SetAllocatedDevice", -1, 1, 0, KX9_OK, setDevice, nullptr},
      {"device read", "GlobalVariable.GetAllocatedDevice", -1, 1, 0, KX9_OK, getDevice,
       [](World& w) { return w.dev.device == u"old" && w.dev.deviceExtra.IsEmpty(); }},
      {"device write, no BSTR", nullptr, 0, 2, kAllocBstr, kThrew, setDevice, nullptr},
      {"member devices: count", "StructVariable.GetMemberDevices", -1, 1, 0, KX9_ERR_DB, getMembers, oneDevice},
      {"member devices: texts", "StructVariable.GetMemberDevices", -1, 2, 0, KX9_ERR_DB, getMembers, oneDevice},
      {"member devices: slots", nullptr, 0, 1, kAllocNew, KX9_ERR_ALLOC, getMembers, oneDevice},
      {"member devices: extra slots", nullptr, 0, 2, kAllocNew, KX9_ERR_ALLOC, getMembers, oneDevice},
      {"member device write", "StructVariable.SetMemberDevices", -1, 1, 0, KX9_ERR_DB, setMembers, nullptr},
      {"member device write: slots", nullptr, 0, 1, kAllocNew, KX9_ERR_ALLOC, setMembers, nullptr},
      {"member device write: a device", nullptr, 0, 1, kAllocBstr, KX9_ERR_ALLOC, setMembers,
       [](World& w) { return w.Calls("StructVariable.SetMemberDevices") == 0; }},
      // An empty extra needs no BSTR: the null one is fine.
      {"member device write: an empty extra", nullptr, 0, 2, kAllocBstr, KX9_OK, setMembers, nullptr},
      // Only the local name's result counts; an earlier read or write that
      // fails is lost (a failed status read leaves 0).
      {"system label: name write", "SystemLabel.SetName", -1, 1, 0, KX9_OK, setSys, nullptr},
      {"system label: local name write", "SystemLabel.SetLocalName", -1, 1, 0, KX9_ERR_DB, setSys, nullptr},
      {"system label: status read", "SystemLabel.GetStatus", -1, 1, 0, KX9_OK, getSys,
       [](World& w) { return w.Calls("SystemLabel.GetLocalName") == 1; }},
      {"system label: local name read", "SystemLabel.GetLocalName", -1, 1, 0, KX9_ERR_DB, getSys, nullptr},
      {"system label: name, no BSTR", nullptr, 0, 1, kAllocBstr, kThrew, setSys, nullptr},
  });

  // An element that does not answer for an interface: 7, nothing written.
  World w;
  for (const IID* iid : {&IVNDataABS_Variable::iid, &IVNDataABS_GlobalVariable::iid, &IVNDataABS_VariableDataType::iid,
                         &IVNDataABS_StructVariable::iid, &IVNDataABS_SystemLabel::iid})
    w.db.WithholdInterface(w.v0, *iid);
  for (const Call call :
       {getInit, setInit, getEx, setType, define, getDevice, setDevice, getMembers, setMembers, getSys, setSys})
    EXPECT_EQ(call(w), KX9_ERR_NO_INTERFACE);
  EXPECT_EQ(A::SetComment(w.labels, w.el, 0, u"c") + A::GetKind(w.labels, w.el, w.rec.structType) +
                A::SetEx(w.labels, w.el, u"1"),
            21u);
  EXPECT_EQ(w.Code(), -1);
  EXPECT_EQ(w.db.OutstandingReferences(), 0);
}

}  // namespace
