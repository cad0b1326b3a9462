// The workspace services of the classic path against the reference
// database: object IDs, element operations and field accessors, each with
// its failure rows as one table.
#include <cstring>

#include "tests/support/LabelFixtures.h"

namespace {
using namespace label_test;

// --- object IDs ------------------------------------------------------------------

STOBJECTID Key(DWORD low, DWORD high) { return STOBJECTID{{low, high}}; }

// Collection lists, empty and full, and the types that keys carry.
TEST(ObjectIDs, CollectionListsAndTypes) {
  World w;
  // An empty collection: one call, no array.
  EXPECT_EQ(A::List(w, w.db.ChildOfType(w.id, VN_TYPE_GVL_COLLECTION_X)), KX9_OK);
  EXPECT_TRUE(w.count == 0 && w.ids == nullptr);
  EXPECT_EQ(w.Calls("Workspace.GetChildIDList"), 1);
  const STOBJECTID second = fx::AddClassicGVL(w.db, w.id, u"G2");
  ASSERT_EQ(A::List(w, w.gvls), KX9_OK);
  EXPECT_TRUE(w.count == 2 && w.ids[0] == w.gvl && w.ids[1] == second);

  // Keys with 0xFF in the top byte carry their type, and the typeless one
  // keeps the caller's; only other keys ask the database.
  w.db.Faults().ResetCounts();
  using K = std::pair<STOBJECTID, LONG>;
  for (auto [id, type] : {K{w.v0, VN_TYPE_GLOBAL_VARIABLE}, K{Key(21, 0xFFABCDEFu), 21}, K{Key(0, 0xFF000000u), 21},
                          K{Key(17, 0xFF000000u), 17}, K{w.gvl, VN_TYPE_GVL}})
    EXPECT_TRUE(A::Type(w, id) == KX9_OK && w.type == type) << type << " " << w.type;
  EXPECT_EQ(w.Calls("Workspace.GetObjectType"), 1);
}

// A list or type stamps its collection and itself with one time in whole
// seconds; an element its GVL or SDT only; a collection itself only.
TEST(ObjectIDs, UpdateTimeStampsTheChangedLists) {
  World w;
  EXPECT_EQ(A::Stamp(w, w.gvl), KX9_OK);
  SYSTEMTIME tCollection{}, tGvl{};
  ASSERT_TRUE(w.Stamped(w.gvls, &tCollection) && w.Stamped(w.gvl, &tGvl));
  EXPECT_EQ(std::memcmp(&tCollection, &tGvl, sizeof tGvl), 0);
  EXPECT_TRUE(tGvl.wMilliseconds == 0 && tGvl.wYear >= 2024);
  EXPECT_EQ(A::Stamp(w, w.member) + A::Stamp(w, w.vars), KX9_OK);
  EXPECT_TRUE(w.Stamped(w.sdt) && !w.Stamped(w.db.ChildOfType(w.id, VN_TYPE_SDT_COLLECTION)) &&
              !w.Stamped(w.db.ChildOfType(w.sdt, VN_TYPE_MEMBER_COLLECTION)) && !w.Stamped(w.member));
  EXPECT_TRUE(w.Stamped(w.vars) && !w.Stamped(w.v0));
  EXPECT_EQ(w.Calls("Workspace.SetLastUpdateTime"), 4);
}

// Every failure row: the result and what the outputs and the project hold.
TEST(ObjectIDs, FailureRows) {
  const auto list = +[](World& w) { return A::List(w, w.gvls); };
  const auto stampVariable = +[](World& w) { return A::Stamp(w, w.v0); };
  const auto stampGvl = +[](World& w) { return A::Stamp(w, w.gvl); };
  const auto noList = +[](World& w) { return w.ids == nullptr && w.count == 0; };
  const auto typeKept = +[](World& w) { return w.type == -1; };
  const auto noParent = +[](World& w) { return w.parent.IsNull(); };
  const auto unstamped = +[](World& w) { return !w.Stamped(w.gvl) && !w.Stamped(w.gvls); };
  const auto nameKept = +[](World& w) { return w.db.ObjectName(w.gvl) == u"G" && w.text == u"kept"; };
  RunFailureRows({
      {"list: counting pass", "Workspace.GetChildIDList", 1, 1, 0, KX9_ERR_DB, list, noList},
      {"list: filling pass", "Workspace.GetChildIDList", -1, 2, 0, KX9_ERR_DB, list, noList},
      {"list: the array", nullptr, 0, 1, kAllocNew, KX9_ERR_ALLOC, list, noList},
      {"type of a null ID", nullptr, 0, 0, 0, KX9_ERR_ARG, [](World& w) { return A::Type(w, {}); }, typeKept},
      {"type", "Workspace.GetObjectType", 1, 1, 0, KX9_ERR_DB, [](World& w) { return A::Type(w, w.gvl); }, typeKept},
      // The parent lookup gives the database's detail, 0 included.
      {"parent", "Workspace.GetParentID", E_FAIL, 1, 0, 0x4D2, A::Parent, noParent},
      {"parent, no detail", nullptr, 0, 0, 0, KX9_OK,
       [](World& w) { return w.db.Faults().Set("Workspace.GetParentID", refdb::Fault{E_FAIL}), A::Parent(w); },
       noParent},
      {"stamp: a list's collection", "Workspace.GetParentID", E_FAIL, 1, 0, 0x4D2, stampGvl, unstamped},
      {"stamp: the element's list", "Workspace.GetParentID", E_FAIL, 1, 0, 0x4D2, stampVariable, unstamped},
      {"stamp: the list's owner", "Workspace.GetParentID", E_FAIL, 2, 0, 0x4D2, stampVariable, unstamped},
      {"stamp: the second stamp", "Workspace.SetLastUpdateTime", 1, 2, 0, KX9_ERR_DB, stampGvl,
       [](World& w) { return w.Stamped(w.gvls) && !w.Stamped(w.gvl); }},
      {"stamp: the typeless key", nullptr, 0, 0, 0, KX9_ERR_TYPE,
       [](World& w) { return A::Stamp(w, Key(21, 0xFF000000u)); }, unstamped},
      {"stamp: the project", nullptr, 0, 0, 0, KX9_ERR_TYPE, [](World& w) { return A::Stamp(w, w.id); }, unstamped},
      {"stamp: a null ID", nullptr, 0, 0, 0, KX9_ERR_ARG, [](World& w) { return A::Stamp(w, {}); }, unstamped},
      {"name read", "Workspace.GetObjectName", E_FAIL, 1, 0, KX9_ERR_DB, A::GetName, nameKept},
      {"name write", "Workspace.SetObjectName", 1, 1, 0, KX9_ERR_DB, A::SetName, nameKept},
      {"name write, no BSTR", nullptr, 0, 1, kAllocBstr, kThrew, A::SetName, nameKept},
  });
}

// --- element operations ------------------------------------------------------------

// Records written by CreateDataElement read back whole by GetDataElement:
// every field a classic variable keeps (comment 0 only; a simple variable
// its first device; no system-label comment or remark), a structured one
// (type code 9, its member devices), an empty element, and a member.
TEST(ElementOperations, RecordsRoundTripThroughTheDatabase) {
  World w;
  const STOBJECTID gvl = fx::AddClassicGVL(w.db, w.id, u"H");
  Elements in({Variable(4, u"a", u"DINT", {u"D100", u"X", u"D200", u"X"}, u"c0"),
               Variable(0, u"m", u"Motor", {u"M0", u"", u"M1"})}),
      vars, members({}, KX9_DATATYPE_SDT);
  const std::unique_ptr<SDT> member(Member(2, u"speed", u"DINT", u"mc"));
  GVL& simple = *in.V(0);
  simple.classKeyword = 2, simple.initData = u"3", simple.remark = u"rem", simple.exAccess = u"1";
  simple.comments[5] = u"c5", simple.systemLabel = {1, u"n", u"p", 2, 3, 4, 5, 6, u"c", u"r", 7, 8, u"l"};
  in.V(1)->structType = 1;
  ASSERT_EQ(A::Create(w.c, w.sdt, KX9_DATATYPE_SDT, member.get()), KX9_OK);
  for (int i : {0, 1}) ASSERT_EQ(A::Create(w.c, gvl, KX9_DATATYPE_GVL, in.V(i)), KX9_OK);
  ASSERT_EQ(A::Create(w.c, gvl, 0, &simple), KX9_OK);  // an empty element, nothing written

  ASSERT_EQ(A::Get(w.c, gvl, vars.elements) + A::Get(w.c, w.sdt, members.elements), KX9_OK);
  std::vector<std::string> got;
  for (int i = 0; i < vars.elements.GetSize(); ++i) got.push_back(fx::Describe(*vars.V(i)));
  const std::string none = " dyn:,,0,, sys:0,,,0,0,0,0,0,,,0,0,";
  EXPECT_EQ(got,
            std::vector<std::string>({"4 a 2 DINT 3 0 rem ex1 c:0=c0, d:D100/X, dyn:,,0,, sys:1,n,p,2,3,4,5,6,,,7,8,l",
                                      "0 m 0 Motor  1  ex0 c: d:M0/,M1/," + none, "0  0   0  ex0 c: d:/," + none}));
  LONG code = 0;
  EXPECT_TRUE(w.db.TypeCode(w.db.Children(w.db.ChildOfType(gvl, VN_TYPE_VARIABLE_COLLECTION))[1], &code) && code == 9);
  ASSERT_EQ(members.elements.GetSize(), 2);  // the member is behind Motor's own
  const SDT& s = *static_cast<SDT*>(members.elements[1]);
  EXPECT_EQ(
      ToUtf8(s.name.Str() + s.dataTypeName.Str() + s.initData.Str() + s.comments[0].Str()) + std::to_string(s.lineNo),
      "speedDINT0mc2");
}

// Every failure row of the element operations, with what the caller holds
// afterwards; a record read is handed over even when a field failed.
TEST(ElementOperations, FailureRows) {
  const auto none = +[](World& w) { return w.p == nullptr; };
  const auto readV0 = +[](World& w) { return w.p != nullptr && w.p->name == u"v0"; };
  const auto walkedNone = +[](World& w) { return w.got.elements.IsEmpty(); };
  const auto both = +[](World& w) { return w.db.Children(w.vars).size() == 2u; };
  const auto del = +[](World& w) { return A::Delete(w.c, w.gvl); };
  RunFailureRows({
      {"variable: no object", "Workspace.GetDataObject", -1, 1, 0, KX9_ERR_NO_ELEMENT, A::GetGVL, none},
      {"variable: no record", nullptr, 0, 1, kAllocNew, KX9_ERR_ALLOC, A::GetGVL, none},
      {"member: no object", "Workspace.GetDataObject", -1, 1, 0, KX9_ERR_DB, A::GetSDT, none},
      {"member: no record", nullptr, 0, 1, kAllocNew, KX9_ERR_ALLOC, A::GetSDT, none},
      {"variable write: no object", "Workspace.GetDataObject", -1, 1, 0, KX9_ERR_DB, A::SetGVL, nullptr},
      {"member write: no object", "Workspace.GetDataObject", -1, 1, 0, KX9_ERR_DB, A::SetSDT, nullptr},
      // The last field decides: an earlier failed field is lost.
      {"variable: an earlier field", "GlobalVariable.GetRemark", -1, 1, 0, KX9_OK, A::GetGVL, readV0},
      {"variable: the last field", "Variable.GetExAccess", -1, 1, 0, KX9_ERR_DB, A::GetGVL, readV0},
      {"member: the line stops name and comments", "Variable.GetLineNo", -1, 1, 0, KX9_OK, A::GetSDT,
       [](World& w) { return w.p != nullptr && w.p->name.IsEmpty(); }},
      {"variable write: an earlier field", "SystemLabel.SetName", -1, 1, 0, KX9_OK, A::SetGVL, nullptr},
      {"variable write: the last field", "Variable.SetExAccess", -1, 1, 0, KX9_ERR_DB, A::SetGVL, nullptr},
      {"member write: the line", "Variable.SetLineNo", -1, 1, 0, KX9_OK, A::SetSDT, nullptr},
      {"variable without its variable interface keeps no device", nullptr, 0, 0, 0, KX9_OK,
       [](World& w) { return w.db.WithholdInterface(w.v0, IVNDataABS_GlobalVariable::iid), A::GetGVL(w); },
       [](World& w) { return w.p != nullptr && w.p->name == u"v0" && static_cast<GVL*>(w.p)->devices.IsEmpty(); }},
      // In a walk a failing element is destroyed and stops it; earlier ones stay.
      {"walk: the second element", "Variable.GetExAccess", -1, 2, 0, KX9_ERR_DB, A::Walk,
       [](World& w) { return w.got.elements.GetSize() == 1; }},
      {"walk: a null datum", nullptr, 0, 0, 0, KX9_ERR_ARG, [](World& w) { return A::Get(w.c, {}, w.got.elements); },
       walkedNone},
      {"walk: the datum's type", "Workspace.GetObjectType", -1, 1, 0, KX9_ERR_DB, A::Walk, walkedNone},
      {"walk: the element collection", "Workspace.GetChildIDByType", -1, 1, 0, KX9_ERR_DB, A::Walk, walkedNone},
      {"walk: the ID list", "Workspace.GetChildIDList", -1, 1, 0, KX9_ERR_DB, A::Walk, walkedNone},
      {"create: the element", "Workspace.CreateElementObject", -1, 1, 0, KX9_ERR_DB,
       [](World& w) { return A::Create(w.c, w.gvl, KX9_DATATYPE_GVL, &w.rec); }, nullptr},
      // Deletion stops at a failure and leaves the collection.
      {"delete: a null datum", nullptr, 0, 0, 0, KX9_ERR_ARG, [](World& w) { return A::Delete(w.c, {}); }, both},
      {"delete: the element collection", "Workspace.GetChildIDByType", -1, 1, 0, KX9_ERR_DB, del, both},
      {"delete: an element", "Workspace.DeleteDataObject", -1, 1, 0, KX9_ERR_DB, del, both},
      {"delete: the collection", "Workspace.DeleteDataObject", -1, 3, 0, KX9_ERR_DB, del,
       [](World& w) { return w.db.Exists(w.vars) && w.db.Children(w.vars).empty(); }},
  });

  // An object of another type among the elements: 3, the earlier ones stay.
  World w;
  STOBJECTID odd{};
  LONG d = 0;
  ASSERT_EQ(w.db.Workspace()->CreateDataObject(w.vars, nullptr, 21, 0, &odd, &d), S_OK);
  EXPECT_EQ(A::Walk(w), KX9_ERR_TYPE);
  EXPECT_EQ(w.got.elements.GetSize(), 2);
}

// --- field accessors ---------------------------------------------------------------

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
  ASSERT_TRUE(w.db.StructDefineID(w.v0, &structId) && w.c.GetStructDataID(u"Motor", expected) == KX9_OK);
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
  w.c.SetMode(C::KX9LabelModeWithoutSystemLabel);
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
}

}  // namespace
