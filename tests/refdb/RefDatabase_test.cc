#include "refdb/RefDatabase.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/refdb/RefdbTestUtil.h"

namespace {

using refdb::RefDatabase;
using refdb_test::Bstr;
using refdb_test::CreateElement;
using refdb_test::CreateObject;
using refdb_test::Query;
using refdb_test::Take;

std::vector<LONG> ChildTypes(RefDatabase& db, const STOBJECTID& parent) {
  std::vector<LONG> types;
  for (const STOBJECTID& c : db.Children(parent)) types.push_back(db.ObjectType(c));
  return types;
}

TEST(RefDatabase, NewProjectMakesTheCollectionsTheOptionsAskFor) {
  RefDatabase db;
  STOBJECTID full = db.NewProject(u"Full");
  EXPECT_EQ(1, db.ObjectType(full));
  EXPECT_EQ((std::vector<LONG>{13, 17, VN_TYPE_GVL_COLLECTION_X, VN_TYPE_SDT_COLLECTION_X, 2}),
            ChildTypes(db, full));
  refdb::ProjectOptions classicOnly;
  classicOnly.highCapacityCollections = false;
  classicOnly.genericData = false;
  STOBJECTID classic = db.NewProject(u"Classic", classicOnly);
  EXPECT_EQ((std::vector<LONG>{13, 17}), ChildTypes(db, classic));
  EXPECT_EQ((std::vector<STOBJECTID>{full, classic}), db.Projects());
  EXPECT_EQ(9, db.ObjectCount());
  EXPECT_NE(full, classic);
  EXPECT_EQ(u"Classic", db.ObjectName(classic));
}

TEST(RefDatabase, ObjectIdsFollowTheirKind) {
  RefDatabase db;
  STOBJECTID p1 = db.NewProject(u"P1");
  STOBJECTID p2 = db.NewProject(u"P2");
  std::set<std::vector<DWORD>> seen;
  auto unique = [&seen](const STOBJECTID& id) {
    return seen.insert(std::vector<DWORD>(id.dwWord, id.dwWord + 12)).second;
  };
  for (const STOBJECTID& p : {p1, p2}) {
    STOBJECTID gvlX1 = CreateObject(db, db.ChildOfType(p, VN_TYPE_GVL_COLLECTION_X), 14, u"A");
    STOBJECTID gvlX2 = CreateObject(db, db.ChildOfType(p, VN_TYPE_GVL_COLLECTION_X), 14, u"B");
    STOBJECTID sdtX = CreateObject(db, db.ChildOfType(p, VN_TYPE_SDT_COLLECTION_X), 18, u"S");
    EXPECT_EQ(0u, gvlX1.dwWord[0]);
    EXPECT_EQ(0xE0030000u, gvlX1.dwWord[1]);
    EXPECT_EQ(1u, gvlX1.dwWord[3]);
    EXPECT_EQ(2u, gvlX2.dwWord[3]);
    EXPECT_EQ(0u, sdtX.dwWord[0]);
    EXPECT_EQ(0xE0300000u, sdtX.dwWord[1]);
    EXPECT_EQ(1u, sdtX.dwWord[3]);
    EXPECT_TRUE(unique(gvlX1) && unique(gvlX2) && unique(sdtX));

    STOBJECTID gvl = CreateObject(db, db.ChildOfType(p, 13), 14, u"G");
    STOBJECTID sdt = CreateObject(db, db.ChildOfType(p, 17), 18, u"T");
    EXPECT_NE(0xFFu, gvl.dwWord[1] >> 24);
    EXPECT_TRUE(unique(gvl) && unique(sdt) && unique(p));
    for (int i = 0; i < 50; ++i) {
      STOBJECTID var = CreateElement(db, gvl);
      STOBJECTID member = CreateElement(db, sdt);
      EXPECT_EQ(0xFFu, var.dwWord[1] >> 24);
      EXPECT_NE(0xFF000000u, var.dwWord[1]);
      EXPECT_EQ(16u, var.dwWord[0]);
      EXPECT_EQ(20u, member.dwWord[0]);
      EXPECT_EQ(0xFFu, member.dwWord[1] >> 24);
      EXPECT_TRUE(unique(var) && unique(member));
    }
  }
  // A list number is never given twice in a project, not even after deletion.
  STOBJECTID collection = db.ChildOfType(p1, VN_TYPE_GVL_COLLECTION_X);
  LONG detail = 0;
  ASSERT_EQ(S_OK, db.Workspace()->DeleteDataObject(db.Children(collection).back(), &detail));
  EXPECT_EQ(3u, CreateObject(db, collection, 14, u"C").dwWord[3]);
}

TEST(RefDatabase, CreateElementObjectMakesTheElementCollectionOnce) {
  RefDatabase db;
  STOBJECTID p = db.NewProject(u"P");
  STOBJECTID gvl = CreateObject(db, db.ChildOfType(p, 13), 14, u"G");
  STOBJECTID sdt = CreateObject(db, db.ChildOfType(p, 17), 18, u"T");
  STOBJECTID v1 = CreateElement(db, gvl);
  STOBJECTID v2 = CreateElement(db, gvl);
  STOBJECTID m1 = CreateElement(db, sdt);
  EXPECT_EQ((std::vector<LONG>{15}), ChildTypes(db, gvl));
  EXPECT_EQ((std::vector<STOBJECTID>{v1, v2}), db.Children(db.ChildOfType(gvl, 15)));
  EXPECT_EQ((std::vector<LONG>{19}), ChildTypes(db, sdt));
  EXPECT_EQ((std::vector<STOBJECTID>{m1}), db.Children(db.ChildOfType(sdt, 19)));
  EXPECT_EQ(16, db.ObjectType(v1));
  EXPECT_EQ(20, db.ObjectType(m1));

  // High-capacity lists, collections and unknown IDs have no element objects.
  STOBJECTID gvlX = CreateObject(db, db.ChildOfType(p, VN_TYPE_GVL_COLLECTION_X), 14, u"X");
  STOBJECTID out{};
  LONG detail = 0;
  EXPECT_EQ(refdb::kStatusFailed, db.Workspace()->CreateElementObject(gvlX, &out, &detail));
  EXPECT_EQ(refdb::kDetailWrongType, detail);
  detail = 0;
  EXPECT_EQ(refdb::kStatusFailed, db.Workspace()->CreateElementObject(db.ChildOfType(p, 13), &out, &detail));
  EXPECT_EQ(refdb::kDetailWrongType, detail);
  detail = 0;
  EXPECT_EQ(refdb::kStatusFailed, db.Workspace()->CreateElementObject(STOBJECTID::Null(), &out, &detail));
  EXPECT_EQ(refdb::kDetailNotFound, detail);
  EXPECT_TRUE(out.IsNull());
}

TEST(RefDatabase, TreeQueriesAnswerAndFailWithTheirStatuses) {
  RefDatabase db;
  IVNDataABS_Workspace* ws = db.Workspace();
  STOBJECTID p = db.NewProject(u"P");
  STOBJECTID gvls = db.ChildOfType(p, 13);
  STOBJECTID a = CreateObject(db, gvls, 14, u"A");
  STOBJECTID b = CreateObject(db, gvls, 14, u"B");
  STOBJECTID c = CreateObject(db, gvls, 14, u"C");
  LONG detail = 0, count = 0;

  ASSERT_EQ(S_OK, ws->GetChildIDList(gvls, &count, nullptr, &detail));
  EXPECT_EQ(3, count);
  std::vector<STOBJECTID> ids(4);
  count = 4;
  ASSERT_EQ(S_OK, ws->GetChildIDList(gvls, &count, ids.data(), &detail));
  EXPECT_EQ(3, count);
  EXPECT_EQ((std::vector<STOBJECTID>{a, b, c, STOBJECTID{}}), ids);
  count = 2;
  ids.assign(4, STOBJECTID{});
  ASSERT_EQ(S_OK, ws->GetChildIDList(gvls, &count, ids.data(), &detail));
  EXPECT_EQ(2, count);
  EXPECT_TRUE(ids[2].IsNull());

  STOBJECTID found{};
  ASSERT_EQ(S_OK, ws->GetChildIDByType(p, VN_TYPE_SDT_COLLECTION_X, &found, &detail));
  EXPECT_EQ(db.ChildOfType(p, VN_TYPE_SDT_COLLECTION_X), found);
  found = STOBJECTID{};
  EXPECT_EQ(refdb::kStatusNoChild, ws->GetChildIDByType(p, 21, &found, &detail));
  EXPECT_EQ(refdb::kDetailNoSuchChild, detail);
  EXPECT_TRUE(found.IsNull());

  STOBJECTID parent{};
  ASSERT_EQ(S_OK, ws->GetParentID(b, &parent, &detail));
  EXPECT_EQ(gvls, parent);
  ASSERT_EQ(S_OK, ws->GetParentID(p, &parent, &detail));
  EXPECT_TRUE(parent.IsNull());

  LONG type = 0;
  ASSERT_EQ(S_OK, ws->GetObjectType(gvls, &type, &detail));
  EXPECT_EQ(13, type);

  // Unknown IDs (here a real ID with one word changed) fail negative with kDetailNotFound.
  STOBJECTID bogus = b;
  bogus.dwWord[7] ^= 1;
  for (HRESULT status : {ws->GetChildIDList(bogus, &count, nullptr, &(detail = 0)),
                         ws->GetChildIDByType(bogus, 14, &found, &(detail = 0)),
                         ws->GetParentID(bogus, &parent, &(detail = 0)), ws->GetObjectType(bogus, &type, &(detail = 0)),
                         ws->DeleteDataObject(bogus, &(detail = 0)), ws->SetObjectName(bogus, nullptr, &(detail = 0))}) {
    EXPECT_LT(status, 0);
    EXPECT_EQ(refdb::kDetailNotFound, detail);
  }
}

TEST(RefDatabase, NamesStampsAndFlagsAreKept) {
  RefDatabase db;
  IVNDataABS_Workspace* ws = db.Workspace();
  STOBJECTID p = db.NewProject(u"P");
  STOBJECTID g{};
  LONG detail = 0;
  const long bstrs = PlatformLiveBstrCount();
  {
    Bstr name(u"Motion");
    ASSERT_EQ(S_OK, ws->CreateDataObject(db.ChildOfType(p, 13), name, 14, 3, &g, &detail));
  }
  BYTE flag = 0;
  ASSERT_TRUE(db.CreationFlag(g, &flag));
  EXPECT_EQ(3, flag);
  BSTR name = nullptr;
  ASSERT_EQ(S_OK, ws->GetObjectName(g, &name, &detail));
  EXPECT_EQ(u"Motion", Take(name));
  {
    Bstr renamed(u"Axis\u00e9");
    ASSERT_EQ(S_OK, ws->SetObjectName(g, renamed, &detail));
  }
  ASSERT_EQ(S_OK, ws->GetObjectName(g, &name, &detail));
  EXPECT_EQ(u"Axis\u00e9", Take(name));
  // An empty name reads back as a null BSTR.
  ASSERT_EQ(S_OK, ws->SetObjectName(g, nullptr, &detail));
  name = reinterpret_cast<BSTR>(&detail);
  ASSERT_EQ(S_OK, ws->GetObjectName(g, &name, &detail));
  EXPECT_EQ(nullptr, name);
  EXPECT_EQ(bstrs, PlatformLiveBstrCount());

  SYSTEMTIME t{2024, 2, 4, 29, 23, 59, 58, 0}, back{};
  EXPECT_FALSE(db.LastUpdateTime(g, &back));
  ASSERT_EQ(S_OK, ws->SetLastUpdateTime(g, t, &detail));
  ASSERT_TRUE(db.LastUpdateTime(g, &back));
  EXPECT_EQ(0, std::memcmp(&t, &back, sizeof t));
  EXPECT_FALSE(db.LastUpdateTime(p, &back));
}

TEST(RefDatabase, DeleteRemovesTheSubtreeAndKeepsSiblingOrder) {
  RefDatabase db;
  IVNDataABS_Workspace* ws = db.Workspace();
  STOBJECTID p = db.NewProject(u"P");
  STOBJECTID gvls = db.ChildOfType(p, 13);
  std::vector<STOBJECTID> lists, vars;
  for (int i = 0; i < 4; ++i) {
    lists.push_back(CreateObject(db, gvls, 14, u"L"));
    for (int j = 0; j < 3; ++j) vars.push_back(CreateElement(db, lists.back()));
  }
  const long before = db.ObjectCount();
  LONG detail = 0;
  ASSERT_EQ(S_OK, ws->DeleteDataObject(lists[1], &detail));
  EXPECT_EQ(before - 5, db.ObjectCount());
  EXPECT_FALSE(db.Exists(lists[1]));
  for (int j = 3; j < 6; ++j) EXPECT_FALSE(db.Exists(vars[static_cast<std::size_t>(j)]));
  EXPECT_TRUE(db.Exists(vars[6]));
  EXPECT_EQ((std::vector<STOBJECTID>{lists[0], lists[2], lists[3]}), db.Children(gvls));
  ASSERT_EQ(S_OK, ws->DeleteDataObject(lists[3], &detail));
  ASSERT_EQ(S_OK, ws->DeleteDataObject(lists[0], &detail));
  EXPECT_EQ((std::vector<STOBJECTID>{lists[2]}), db.Children(gvls));
  STOBJECTID added = CreateObject(db, gvls, 14, u"M");
  EXPECT_EQ((std::vector<STOBJECTID>{lists[2], added}), db.Children(gvls));
  LONG count = 0;
  ASSERT_EQ(S_OK, ws->GetChildIDList(gvls, &count, nullptr, &detail));
  EXPECT_EQ(2, count);

  ASSERT_EQ(S_OK, ws->DeleteDataObject(p, &detail));
  EXPECT_EQ(0, db.ObjectCount());
  EXPECT_TRUE(db.Projects().empty());
}

TEST(RefDatabase, ReferencesAreCountedAndDeletedObjectsFailWhileHeld) {
  RefDatabase db;
  STOBJECTID p = db.NewProject(u"P");
  STOBJECTID gvl = CreateObject(db, db.ChildOfType(p, 13), 14, u"G");
  STOBJECTID var = CreateElement(db, gvl);
  auto v = Query<IVNDataABS_Variable>(db, var);
  ASSERT_TRUE(v);
  EXPECT_EQ(1, db.OutstandingReferences());
  {
    auto again = Query<IVNDataABS_GlobalVariable>(db, var);
    EXPECT_EQ(2, db.OutstandingReferences());
  }
  EXPECT_EQ(1, db.OutstandingReferences());

  LONG detail = 0;
  ASSERT_EQ(S_OK, db.Workspace()->DeleteDataObject(gvl, &detail));
  EXPECT_FALSE(db.Exists(var));
  ULONG line = 5;
  EXPECT_EQ(refdb::kStatusFailed, v->GetLineNo(&line, &detail));
  EXPECT_EQ(refdb::kDetailDeleted, detail);
  v.Reset();  // the last reference frees the deleted object (checked by the sanitizer build)
  EXPECT_EQ(0, db.OutstandingReferences());

  // Releasing a borrowed object shows up as a negative count.
  IUnknown* borrowed = refdb_test::ObjectOf(db, p);
  borrowed->Release();
  EXPECT_EQ(-1, db.OutstandingReferences());
  borrowed->AddRef();
  db.Workspace()->Release();
  EXPECT_EQ(-1, db.OutstandingReferences());
  db.Workspace()->AddRef();
  EXPECT_EQ(0, db.OutstandingReferences());
}

TEST(RefDatabase, WithheldInterfacesAreRefused) {
  RefDatabase db;
  STOBJECTID p = db.NewProject(u"P");
  STOBJECTID gvl = CreateObject(db, db.ChildOfType(p, 13), 14, u"G");
  STOBJECTID v1 = CreateElement(db, gvl);
  STOBJECTID v2 = CreateElement(db, gvl);
  db.WithholdInterface(v1, IIDOf<IVNDataABS_SystemLabel>());
  EXPECT_FALSE(Query<IVNDataABS_SystemLabel>(db, v1));
  EXPECT_TRUE(Query<IVNDataABS_Variable>(db, v1));
  EXPECT_TRUE(Query<IVNDataABS_SystemLabel>(db, v2));
  db.WithholdInterfaceForType(16, IIDOf<IVNDataABS_GlobalVariable>());
  EXPECT_FALSE(Query<IVNDataABS_GlobalVariable>(db, v2));
  STOBJECTID v3 = CreateElement(db, gvl);
  EXPECT_FALSE(Query<IVNDataABS_GlobalVariable>(db, v3));
  EXPECT_EQ(0, db.OutstandingReferences());

  void* pv = &db;
  EXPECT_EQ(E_NOINTERFACE, refdb_test::ObjectOf(db, v1)->QueryInterface(IIDOf<IVNDataABS_SystemLabel>(), &pv));
  EXPECT_EQ(nullptr, pv);
}

TEST(RefDatabase, ServiceObjectOnlyForProjectsAndCode84) {
  RefDatabase db;
  IVNDataABS_Workspace* ws = db.Workspace();
  STOBJECTID p = db.NewProject(u"P");
  STOBJECTID q = db.NewProject(u"Q");
  IVNDataABS_LabelService* s1 = nullptr;
  IVNDataABS_LabelService* s2 = nullptr;
  LONG detail = 0;
  ASSERT_EQ(S_OK, ws->GetServiceObject(p, VN_SERVICE_LABEL, &s1, &detail));
  ASSERT_EQ(S_OK, ws->GetServiceObject(q, VN_SERVICE_LABEL, &s2, &detail));
  ASSERT_NE(nullptr, s1);
  EXPECT_NE(s1, s2);
  IVNDataABS_LabelService* s = s1;
  EXPECT_LT(ws->GetServiceObject(p, 85, &s, &detail), 0);
  EXPECT_EQ(refdb::kDetailNoSuchService, detail);
  EXPECT_EQ(nullptr, s);
  EXPECT_LT(ws->GetServiceObject(db.ChildOfType(p, 13), VN_SERVICE_LABEL, &s, &(detail = 0)), 0);
  EXPECT_EQ(refdb::kDetailWrongType, detail);
  EXPECT_LT(ws->GetServiceObject(STOBJECTID::Null(), VN_SERVICE_LABEL, &s, &(detail = 0)), 0);
  EXPECT_EQ(refdb::kDetailNotFound, detail);
  EXPECT_EQ(0, db.OutstandingReferences());
}

}  // namespace
