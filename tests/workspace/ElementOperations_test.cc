// Element operations of the classic path, against the reference database.
#include "tests/workspace/WorkspaceTestSupport.h"

namespace {
using namespace workspace_test;

// Records written by CreateDataElement read back by GetDataElement: the
// fields no export carries, member devices, the structure's type code.
TEST(ElementOperations, VariablesAndMembersRoundTripThroughTheDatabase) {
  World w;
  const STOBJECTID gvl = fx::AddClassicGVL(w.db, w.project, u"H");
  SDT member;
  member.name = u"speed", member.dataTypeName = u"DINT", member.initData = u"5";
  GVL simple, structured;
  simple.name = u"a", simple.classKeyword = 2, simple.initData = u"3", simple.remark = u"rem", simple.exAccess = u"1";
  structured.name = u"m", structured.structType = 1, structured.dataTypeName = u"Motor";
  for (const char16_t* d : {u"M0", u"M1"}) structured.devices.Add(Dev{d, u""});
  ASSERT_EQ(A::Create(w.labels, w.sdt, KX9_DATATYPE_SDT, &member), KX9_OK);
  for (GVL* r : {&simple, &structured}) ASSERT_EQ(A::Create(w.labels, gvl, KX9_DATATYPE_GVL, r), KX9_OK);
  ASSERT_EQ(A::Create(w.labels, gvl, 0, &simple), KX9_OK);  // an empty element, nothing written

  Elements vars, members;
  members.kind = KX9_DATATYPE_SDT;
  ASSERT_EQ(A::Get(w.labels, gvl, vars.arr) + A::Get(w.labels, w.sdt, members.arr), KX9_OK);
  ASSERT_TRUE(vars.arr.GetSize() == 3 && members.arr.GetSize() == 2);  // the member is behind Motor's own
  const GVL& a = vars.Var(0);
  EXPECT_TRUE(a.name == u"a" && a.classKeyword == 2 && a.initData == u"3" && a.remark == u"rem" && a.exAccess == u"1");
  const GVL& m = vars.Var(1);
  EXPECT_TRUE(m.devices.GetSize() == 2 && m.devices[1].device == u"M1" && vars.Var(2).name.IsEmpty());
  LONG code = 0;
  EXPECT_TRUE(w.db.TypeCode(w.db.Children(w.db.ChildOfType(gvl, VN_TYPE_VARIABLE_COLLECTION))[1], &code) && code == 9);
  const SDT& s = *static_cast<SDT*>(members.arr[1]);
  EXPECT_TRUE(s.name == u"speed" && s.dataTypeName == u"DINT" && s.initData == u"5");
}

// Every failure row of the element operations, with what the caller holds
// afterwards; a record read is handed over even when a field failed.
TEST(ElementOperations, FailureRows) {
  const auto getGVL = +[](World& w) { return A::GetGVL(w.labels, w.v0, &w.p); };
  const auto getSDT = +[](World& w) { return A::GetSDT(w.labels, w.v0, (w.kind = KX9_DATATYPE_SDT, &w.p)); };
  const auto setGVL = +[](World& w) { return A::SetGVL(w.labels, w.v0, &w.rec); };
  const auto setSDT = +[](World& w) { return A::SetSDT(w.labels, w.v1, &w.memberRec); };
  const auto walk = +[](World& w) { return A::Get(w.labels, w.gvl, w.got.arr); };
  const auto del = +[](World& w) { return A::Delete(w.labels, w.gvl); };
  const auto none = +[](World& w) { return w.p == nullptr; };
  const auto readV0 = +[](World& w) { return w.p != nullptr && w.p->name == u"v0"; };
  const auto walkedNone = +[](World& w) { return w.got.arr.IsEmpty(); };
  const auto both = +[](World& w) { return w.db.Children(w.vars).size() == 2u; };
  RunFailureRows({
      {"variable: no object", "Workspace.GetDataObject", -1, 1, 0, KX9_ERR_NO_ELEMENT, getGVL, none},
      {"variable: no record", nullptr, 0, 1, kAllocNew, KX9_ERR_ALLOC, getGVL, none},
      {"member: no object", "Workspace.GetDataObject", -1, 1, 0, KX9_ERR_DB, getSDT, none},
      {"member: no record", nullptr, 0, 1, kAllocNew, KX9_ERR_ALLOC, getSDT, none},
      {"variable write: no object", "Workspace.GetDataObject", -1, 1, 0, KX9_ERR_DB, setGVL, nullptr},
      {"member write: no object", "Workspace.GetDataObject", -1, 1, 0, KX9_ERR_DB, setSDT, nullptr},
      // The last field decides: an earlier failed field is lost.
      {"variable: an earlier field", "GlobalVariable.GetRemark", -1, 1, 0, KX9_OK, getGVL, readV0},
      {"variable: the last field", "Variable.GetExAccess", -1, 1, 0, KX9_ERR_DB, getGVL, readV0},
      {"member: the line stops name and comments", "Variable.GetLineNo", -1, 1, 0, KX9_OK, getSDT,
       [](World& w) { return w.p != nullptr && w.p->name.IsEmpty(); }},
      {"variable write: an earlier field", "SystemLabel.SetName", -1, 1, 0, KX9_OK, setGVL, nullptr},
      {"variable write: the last field", "Variable.SetExAccess", -1, 1, 0, KX9_ERR_DB, setGVL, nullptr},
      {"member write: the line", "Variable.SetLineNo", -1, 1, 0, KX9_OK, setSDT, nullptr},
      {"variable without its variable interface keeps no device", nullptr, 0, 0, 0, KX9_OK,
       [](World& w) {
         w.db.WithholdInterface(w.v1, IVNDataABS_GlobalVariable::iid);
         return A::GetGVL(w.labels, w.v1, &w.p);
       },
       [](World& w) { return w.p != nullptr && w.p->name == u"v1" && static_cast<GVL*>(w.p)->devices.IsEmpty(); }},
      // In a walk a failing element is destroyed and stops it; earlier ones stay.
      {"walk: the second element", "Variable.GetExAccess", -1, 2, 0, KX9_ERR_DB, walk,
       [](World& w) { return w.got.arr.GetSize() == 1; }},
      {"walk: a null datum", nullptr, 0, 0, 0, KX9_ERR_ARG, [](World& w) { return A::Get(w.labels, {}, w.got.arr); },
       walkedNone},
      {"walk: the datum's type", "Workspace.GetObjectType", -1, 1, 0, KX9_ERR_DB, walk, walkedNone},
      {"walk: the element collection", "Workspace.GetChildIDByType", -1, 1, 0, KX9_ERR_DB, walk, walkedNone},
      {"walk: the ID list", "Workspace.GetChildIDList", -1, 1, 0, KX9_ERR_DB, walk, walkedNone},
      {"create: the element", "Workspace.CreateElementObject", -1, 1, 0, KX9_ERR_DB,
       [](World& w) { return A::Create(w.labels, w.gvl, KX9_DATATYPE_GVL, &w.rec); }, nullptr},
      // Deletion stops at a failure and leaves the collection.
      {"delete: a null datum", nullptr, 0, 0, 0, KX9_ERR_ARG, [](World& w) { return A::Delete(w.labels, {}); }, both},
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
  EXPECT_EQ(A::Get(w.labels, w.gvl, w.got.arr), KX9_ERR_TYPE);
  EXPECT_EQ(w.got.arr.GetSize(), 2);
}

}  // namespace
