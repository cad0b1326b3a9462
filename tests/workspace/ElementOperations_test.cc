// Element operations of the classic path, against the reference database.
#include "tests/workspace/WorkspaceTestSupport.h"

namespace {
using namespace workspace_test;

// Records written by CreateDataElement read back whole by GetDataElement:
// every field a classic variable keeps (comment 0 only; a simple variable
// its first device; no system-label comment or remark), a structured one
// (type code 9, its member devices), an empty element, and a member.
TEST(ElementOperations, RecordsRoundTripThroughTheDatabase) {
  World w;
  const STOBJECTID gvl = fx::AddClassicGVL(w.db, w.project, u"H");
  GVL simple, structured;
  simple.lineNo = 4, simple.name = u"a", simple.classKeyword = 2, simple.dataTypeName = u"DINT";
  simple.initData = u"3", simple.remark = u"rem", simple.exAccess = u"1", simple.comments[0] = u"c0";
  simple.comments[5] = u"c5", simple.systemLabel = {1, u"n", u"p", 2, 3, 4, 5, 6, u"c", u"r", 7, 8, u"l"};
  for (const char16_t* d : {u"D100", u"D200"}) simple.devices.Add(Dev{d, u"X"});
  structured.name = u"m", structured.structType = 1, structured.dataTypeName = u"Motor";
  for (const char16_t* d : {u"M0", u"M1"}) structured.devices.Add(Dev{d, u""});
  SDT member;
  member.lineNo = 2, member.name = u"speed", member.dataTypeName = u"DINT", member.initData = u"5";
  member.comments[0] = u"mc";
  ASSERT_EQ(A::Create(w, w.sdt, KX9_DATATYPE_SDT, &member), KX9_OK);
  for (GVL* r : {&simple, &structured}) ASSERT_EQ(A::Create(w, gvl, KX9_DATATYPE_GVL, r), KX9_OK);
  ASSERT_EQ(A::Create(w, gvl, 0, &simple), KX9_OK);  // an empty element, nothing written

  _STKX9LABELSTRUCTURE vars, members;
  vars.dataType = KX9_DATATYPE_GVL, members.dataType = KX9_DATATYPE_SDT;
  ASSERT_EQ(A::Get(w, gvl, vars.elements) + A::Get(w, w.sdt, members.elements), KX9_OK);
  std::vector<std::string> got;
  for (int i = 0; i < vars.elements.GetSize(); ++i) got.push_back(fx::Describe(*static_cast<GVL*>(vars.elements[i])));
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
      "speedDINT5mc2");
}

// Every failure row of the element operations, with what the caller holds
// afterwards; a record read is handed over even when a field failed.
TEST(ElementOperations, FailureRows) {
  const auto none = +[](World& w) { return w.p == nullptr; };
  const auto readV0 = +[](World& w) { return w.p != nullptr && w.p->name == u"v0"; };
  const auto walkedNone = +[](World& w) { return w.got.elements.IsEmpty(); };
  const auto both = +[](World& w) { return w.db.Children(w.vars).size() == 2u; };
  const auto del = +[](World& w) { return A::Delete(w, w.gvl); };
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
      {"walk: a null datum", nullptr, 0, 0, 0, KX9_ERR_ARG, [](World& w) { return A::Get(w, {}, w.got.elements); },
       walkedNone},
      {"walk: the datum's type", "Workspace.GetObjectType", -1, 1, 0, KX9_ERR_DB, A::Walk, walkedNone},
      {"walk: the element collection", "Workspace.GetChildIDByType", -1, 1, 0, KX9_ERR_DB, A::Walk, walkedNone},
      {"walk: the ID list", "Workspace.GetChildIDList", -1, 1, 0, KX9_ERR_DB, A::Walk, walkedNone},
      {"create: the element", "Workspace.CreateElementObject", -1, 1, 0, KX9_ERR_DB,
       [](World& w) { return A::Create(w, w.gvl, KX9_DATATYPE_GVL, &w.rec); }, nullptr},
      // Deletion stops at a failure and leaves the collection.
      {"delete: a null datum", nullptr, 0, 0, 0, KX9_ERR_ARG, [](World& w) { return A::Delete(w, {}); }, both},
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

}  // namespace
