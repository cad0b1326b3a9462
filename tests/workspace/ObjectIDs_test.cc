// Object-ID services against the reference database.
#include <cstring>

#include "tests/workspace/WorkspaceTestSupport.h"

namespace {
using namespace workspace_test;

STOBJECTID Key(DWORD low, DWORD high) { return STOBJECTID{{low, high}}; }

// Collection lists, empty and full, and the types that keys carry.
TEST(ObjectIDs, CollectionListsAndTypes) {
  World w;
  // An empty collection: one call, no array.
  EXPECT_EQ(A::List(w, w.db.ChildOfType(w.project, VN_TYPE_GVL_COLLECTION_X)), KX9_OK);
  EXPECT_TRUE(w.count == 0 && w.ids == nullptr);
  EXPECT_EQ(w.Calls("Workspace.GetChildIDList"), 1);
  const STOBJECTID second = fx::AddClassicGVL(w.db, w.project, u"G2");
  ASSERT_EQ(A::List(w, w.gvls), KX9_OK);
  EXPECT_TRUE(w.count == 2 && w.ids[0] == w.gvl && w.ids[1] == second);

  // Keys with 0xFF in the top byte carry their type, and the typeless one
  // keeps the caller's; only other keys ask the database.
  w.db.Faults().ResetCounts();
  using K = std::pair<STOBJECTID, LONG>;
  for (auto [id, type] : {K{w.v0, VN_TYPE_GLOBAL_VARIABLE}, K{Key(21, 0xFFABCDEFu), 21}, K{Key(0, 0xFF000000u), 21},
                          K{Key(17, 0xFF000000u), 17}, K{w.gvl, VN_TYPE_GVL}}) {
    EXPECT_EQ(A::Type(w, id), KX9_OK);
    EXPECT_EQ(w.type, type);
  }
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
  EXPECT_TRUE(w.Stamped(w.sdt) && !w.Stamped(w.db.ChildOfType(w.project, VN_TYPE_SDT_COLLECTION)) &&
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
       [](World& w) {
         w.db.Faults().Set("Workspace.GetParentID", refdb::Fault{E_FAIL, 0, 1, 1});
         return A::Parent(w);
       },
       noParent},
      {"stamp: a list's collection", "Workspace.GetParentID", E_FAIL, 1, 0, 0x4D2, stampGvl, unstamped},
      {"stamp: the element's list", "Workspace.GetParentID", E_FAIL, 1, 0, 0x4D2, stampVariable, unstamped},
      {"stamp: the list's owner", "Workspace.GetParentID", E_FAIL, 2, 0, 0x4D2, stampVariable, unstamped},
      {"stamp: the second stamp", "Workspace.SetLastUpdateTime", 1, 2, 0, KX9_ERR_DB, stampGvl,
       [](World& w) { return w.Stamped(w.gvls) && !w.Stamped(w.gvl); }},
      {"stamp: the typeless key", nullptr, 0, 0, 0, KX9_ERR_TYPE,
       [](World& w) { return A::Stamp(w, Key(21, 0xFF000000u)); }, unstamped},
      {"stamp: the project", nullptr, 0, 0, 0, KX9_ERR_TYPE, [](World& w) { return A::Stamp(w, w.project); },
       unstamped},
      {"stamp: a null ID", nullptr, 0, 0, 0, KX9_ERR_ARG, [](World& w) { return A::Stamp(w, {}); }, unstamped},
      {"name read", "Workspace.GetObjectName", E_FAIL, 1, 0, KX9_ERR_DB, A::GetName, nameKept},
      {"name write", "Workspace.SetObjectName", 1, 1, 0, KX9_ERR_DB, A::SetName, nameKept},
      {"name write, no BSTR", nullptr, 0, 1, kAllocBstr, kThrew, A::SetName, nameKept},
  });
}
}  // namespace
