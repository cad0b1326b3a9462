// The object tree of the reference database: projects, child order, names,
// stamps, IDs, reference counting and what the element interfaces received.
#include <gtest/gtest.h>

#include <set>

#include "tests/refdb/RefdbTestUtil.h"

namespace {

using refdb::RefDatabase;
using refdb_test::Bstr;
using refdb_test::Create;
using refdb_test::Query;
using refdb_test::Sample;

std::vector<LONG> ChildTypes(RefDatabase& db, const STOBJECTID& parent) {
  std::vector<LONG> types;
  for (const STOBJECTID& c : db.Children(parent)) types.push_back(db.ObjectType(c));
  return types;
}

// Projects get the collections asked for, classic lists and types their
// element collection; children stay in creation order through deletions of
// whole subtrees; the workspace queries answer from that tree.
TEST(RefDatabase, TreeKeepsItsShapeAndOrder) {
  RefDatabase db;
  IVNDataABS_Workspace* ws = db.Workspace();
  const STOBJECTID p = db.NewProject(u"P"), q = db.NewProject(u"Q", refdb::ProjectOptions{true, false, false});
  EXPECT_EQ((std::vector<LONG>{13, 17, VN_TYPE_GVL_COLLECTION_X, VN_TYPE_SDT_COLLECTION_X, 2}), ChildTypes(db, p));
  EXPECT_EQ((std::vector<LONG>{13, 17}), ChildTypes(db, q));
  EXPECT_EQ((std::vector<STOBJECTID>{p, q}), db.Projects());
  const STOBJECTID gvls = db.ChildOfType(p, 13), sdt = Create(db, db.ChildOfType(p, 17), 18);
  std::vector<STOBJECTID> lists;
  for (int i = 0; i < 4; ++i) lists.push_back(Create(db, gvls, 14));
  const STOBJECTID v1 = Create(db, lists[1]), v2 = Create(db, lists[1]);
  EXPECT_EQ((std::vector<STOBJECTID>{v1, v2}), db.Children(db.ChildOfType(lists[1], 15)));
  const STOBJECTID listX = Create(db, db.ChildOfType(p, VN_TYPE_GVL_COLLECTION_X), 14);
  EXPECT_EQ((std::vector<std::vector<LONG>>{{19}, {15}, {}}),
            (std::vector<std::vector<LONG>>{ChildTypes(db, sdt), ChildTypes(db, lists[0]), ChildTypes(db, listX)}));

  LONG d = 0, count = 2, all = 0, type = 0;
  const long before = db.ObjectCount();
  for (std::size_t i : {1, 3, 0}) ASSERT_EQ(S_OK, ws->DeleteDataObject(lists[i], &d));
  EXPECT_EQ(before - 8, db.ObjectCount());  // each list with its element collection and elements
  lists.push_back(Create(db, gvls, 14));
  EXPECT_EQ((std::vector<STOBJECTID>{lists[2], lists[4]}), db.Children(gvls));
  std::vector<STOBJECTID> ids(3), children = db.Children(p);
  ASSERT_EQ(S_OK, ws->GetChildIDList(p, &count, ids.data(), &d));  // at most *count, in order
  ASSERT_EQ(S_OK, ws->GetChildIDList(p, &all, nullptr, &d));       // no buffer: the count
  EXPECT_EQ((std::vector<STOBJECTID>{children[0], children[1], {}}), ids);
  STOBJECTID found{}, parent{}, root = gvls;
  ASSERT_EQ(S_OK, ws->GetChildIDByType(p, VN_TYPE_SDT_COLLECTION_X, &found, &d));
  ASSERT_EQ(S_OK, ws->GetParentID(lists[2], &parent, &d));
  ASSERT_EQ(S_OK, ws->GetParentID(p, &root, &d));
  ASSERT_EQ(S_OK, ws->GetObjectType(gvls, &type, &d));
  EXPECT_EQ((std::vector<STOBJECTID>{children[3], gvls, {}}), (std::vector<STOBJECTID>{found, parent, root}));
  EXPECT_EQ((std::vector<LONG>{2, 5, 13}), (std::vector<LONG>{count, all, type}));
  ASSERT_EQ(S_OK, ws->DeleteDataObject(p, &d));
  EXPECT_EQ((std::vector<STOBJECTID>{q}), db.Projects());
  EXPECT_EQ(3, db.ObjectCount());
}

// Names are copied up to their first zero unit and an empty one reads back
// null; the creation flag and update stamps are kept as given.
TEST(RefDatabase, NamesFlagsAndStamps) {
  Sample s;
  IVNDataABS_Workspace* ws = s.db.Workspace();
  STOBJECTID g{};
  LONG d = 0;
  BYTE flag = 0;
  BSTR name = nullptr;
  ASSERT_EQ(S_OK, ws->CreateDataObject(s.Child(13), Bstr(u"Motion"), 14, 3, &g, &d));
  EXPECT_TRUE(s.db.CreationFlag(g, &flag) && flag == 3 && s.db.ObjectName(g) == u"Motion");
  for (auto [given, expected] :
       std::vector<std::pair<BSTR, std::u16string>>{{SysAllocString(u"Axis\u00e9"), u"Axis\u00e9"},
                                                    {SysAllocStringLen(u"ab\0c", 4), u"ab"},
                                                    {SysAllocString(u""), u"<null>"},
                                                    {nullptr, u"<null>"}}) {
    ASSERT_EQ(S_OK, ws->SetObjectName(g, given, &d));
    SysFreeString(given);
    ASSERT_EQ(S_OK, ws->GetObjectName(g, &name, &d));
    EXPECT_EQ(expected, refdb_test::Take(name));
  }
  SYSTEMTIME t{2024, 2, 4, 29, 23, 59, 58, 999}, back{};
  EXPECT_FALSE(s.db.LastUpdateTime(g, &back));
  ASSERT_EQ(S_OK, ws->SetLastUpdateTime(g, t, &d));
  EXPECT_TRUE(s.db.LastUpdateTime(g, &back) && std::memcmp(&t, &back, sizeof t) == 0);
  EXPECT_FALSE(s.db.LastUpdateTime(s.project, &back));
}

// High-capacity list and type IDs carry their project's numbers (from 1,
// never given twice), classic elements their type; all IDs are unique and
// end in a non-zero word.
TEST(RefDatabase, ObjectIdsFollowTheirKindAndAreUnique) {
  Sample s;
  LONG d = 0;
  const STOBJECTID lists = s.Child(VN_TYPE_GVL_COLLECTION_X), x2 = Create(s.db, lists, 14);
  ASSERT_EQ(S_OK, s.db.Workspace()->DeleteDataObject(x2, &d));
  const STOBJECTID x3 = Create(s.db, lists, 14), q = s.db.NewProject(u"Q");
  const STOBJECTID qx = Create(s.db, s.db.ChildOfType(q, VN_TYPE_GVL_COLLECTION_X), 14);
  EXPECT_EQ((std::vector<DWORD>{0, 0xE0030000u, 1, 2, 3, 1, 0, 0xE0300000u, 1, 16, 0xFF, 20, 0xFF}),
            (std::vector<DWORD>{s.gvlX.dwWord[0], s.gvlX.dwWord[1], s.gvlX.dwWord[3], x2.dwWord[3], x3.dwWord[3],
                                qx.dwWord[3], s.sdtX.dwWord[0], s.sdtX.dwWord[1], s.sdtX.dwWord[3], s.var.dwWord[0],
                                s.var.dwWord[1] >> 24, s.member.dwWord[0], s.member.dwWord[1] >> 24}));
  EXPECT_NE(0xFFu, s.gvl.dwWord[1] >> 24);
  std::set<std::vector<DWORD>> seen;
  for (const STOBJECTID& id : {s.project, s.gvl, s.var, s.sdt, s.member, s.gvlX, s.sdtX, x2, x3, q, qx})
    EXPECT_TRUE(id.dwWord[11] != 0 && seen.insert(std::vector<DWORD>(id.dwWord, id.dwWord + 12)).second);
}

// Interface references are counted per database (the label service's as its
// project's); an object deleted while held stays alive, failing with
// kDetailDeleted, until its last release. What IVNDataABS_VariableDataType
// received is read back.
TEST(RefDatabase, ReferencesDeletedObjectsAndDataTypeReadBack) {
  Sample s;
  LONG d = 0, code = 0;
  std::u16string name;
  STOBJECTID def{};
  auto v = Query<IVNDataABS_Variable>(s.db, s.var);
  {
    auto dt = Query<IVNDataABS_VariableDataType>(s.db, s.var);
    IVNDataABS_LabelService* service = nullptr;
    ComPtr<IVNDataABS_DeviceConversion> conv;
    ASSERT_EQ(S_OK, s.db.Workspace()->GetServiceObject(s.project, VN_SERVICE_LABEL, &service, &d));
    ASSERT_TRUE(QueryInterfaceTo(service, conv));
    EXPECT_EQ(3, s.db.OutstandingReferences());
    EXPECT_FALSE(s.db.TypeCode(s.var, &code) || s.db.TypeName(s.var, &name) || s.db.StructDefineID(s.var, &def));
    ASSERT_EQ(S_OK, dt->SetTypeCode(9, &d));
    ASSERT_EQ(S_OK, dt->SetTypeName(Bstr(u"Pos"), &d));
    ASSERT_EQ(S_OK, dt->SetStructDefineID(s.sdtX, &d));
  }
  ASSERT_TRUE(s.db.TypeCode(s.var, &code) && s.db.TypeName(s.var, &name) && s.db.StructDefineID(s.var, &def));
  EXPECT_EQ(std::make_tuple(9, std::u16string(u"Pos"), s.sdtX), std::make_tuple(code, name, def));
  EXPECT_EQ(1, s.db.OutstandingReferences());
  ASSERT_EQ(S_OK, s.db.Workspace()->DeleteDataObject(s.gvl, &d));
  ULONG line = 5;
  EXPECT_EQ(refdb::kStatusFailed, v->GetLineNo(&line, &d));
  EXPECT_EQ(std::make_pair(refdb::kDetailDeleted, 5u), std::make_pair(d, line));
  v.Reset();  // frees the deleted object (the sanitizer build sees a leak or a double free)
  EXPECT_EQ(0, s.db.OutstandingReferences());
  // Releasing a borrowed object or the workspace shows up as a negative count.
  IUnknown* borrowed = nullptr;
  ASSERT_EQ(S_OK, s.db.Workspace()->GetDataObject(s.project, &borrowed, &d));
  borrowed->Release();
  s.db.Workspace()->Release();
  EXPECT_EQ(-2, s.db.OutstandingReferences());
  borrowed->AddRef();
  s.db.Workspace()->AddRef();
}

}  // namespace
