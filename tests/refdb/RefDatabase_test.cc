// The object tree of the reference database: projects, child order, names,
// reference counting, and the row IDs of high-capacity lists.
#include <gtest/gtest.h>

#include "tests/refdb/RefdbTestUtil.h"

namespace {

using refdb::RefDatabase;
using refdb_test::Create;
using refdb_test::Sample;
using Ids = std::vector<STOBJECTID>;
using Longs = std::vector<LONG>;

std::vector<LONG> ChildTypes(RefDatabase& db, const STOBJECTID& parent) {
  std::vector<LONG> types;
  for (const STOBJECTID& c : db.Children(parent)) types.push_back(db.ObjectType(c));
  return types;
}

// Projects get the collections asked for, classic lists and types their
// element collection; children stay in creation order through deletions of
// whole subtrees.
TEST(RefDatabase, TreeKeepsItsShapeAndOrder) {
  RefDatabase db;
  const STOBJECTID p = db.NewProject(u"P"), q = db.NewProject(u"Q", refdb::ProjectOptions{true, false, false});
  const STOBJECTID gvls = db.ChildOfType(p, 13), sdt = Create(db, db.ChildOfType(p, 17), 18);
  Ids lists;
  for (int i = 0; i < 4; ++i) lists.push_back(Create(db, gvls, 14));
  const STOBJECTID v1 = Create(db, lists[1]), v2 = Create(db, lists[1]);
  const STOBJECTID listX = Create(db, db.ChildOfType(p, VN_TYPE_GVL_COLLECTION_X), 14);
  EXPECT_EQ((std::vector<std::vector<LONG>>{
                {13, 17, VN_TYPE_GVL_COLLECTION_X, VN_TYPE_SDT_COLLECTION_X, 2}, {13, 17}, {19}, {15}, {}}),
            (std::vector<std::vector<LONG>>{ChildTypes(db, p), ChildTypes(db, q), ChildTypes(db, sdt),
                                            ChildTypes(db, lists[0]), ChildTypes(db, listX)}));
  EXPECT_EQ((std::vector<Ids>{{p, q}, {v1, v2}}),
            (std::vector<Ids>{db.Projects(), db.Children(db.ChildOfType(lists[1], 15))}));
  LONG d = 0;
  const long before = db.ObjectCount();
  for (std::size_t i : {1, 3, 0}) ASSERT_EQ(S_OK, db.Workspace()->DeleteDataObject(lists[i], &d));
  EXPECT_EQ(before - 8, db.ObjectCount());  // each list with its element collection and elements
  lists.push_back(Create(db, gvls, 14));
  EXPECT_EQ((Ids{lists[2], lists[4]}), db.Children(gvls));
  ASSERT_EQ(S_OK, db.Workspace()->DeleteDataObject(p, &d));
  EXPECT_EQ(std::make_pair(Ids{q}, 3L), std::make_pair(db.Projects(), db.ObjectCount()));
}

// Names are copied up to their first zero unit and an empty one reads back
// null.
TEST(RefDatabase, NamesStopAtTheirFirstZeroAndEmptyReadsBackNull) {
  Sample s;
  LONG d = 0;
  BSTR name = nullptr;
  // clang-format off
  for (auto [given, expected] : std::vector<std::pair<BSTR, std::u16string>>{
           {SysAllocString(u"Axis\u00e9"), u"Axis\u00e9"}, {SysAllocStringLen(u"ab\0c", 4), u"ab"},
           {SysAllocString(u""), u"<null>"}, {nullptr, u"<null>"}}) {
    // clang-format on
    ASSERT_EQ(S_OK, s.db.Workspace()->SetObjectName(s.gvl, given, &d));
    SysFreeString(given);
    ASSERT_EQ(S_OK, s.db.Workspace()->GetObjectName(s.gvl, &name, &d));
    EXPECT_EQ(expected, refdb_test::Take(name));
  }
}

// Interface references are counted per database (the label service's as its
// project's); an object deleted while held stays alive, failing with
// kDetailDeleted, until its last release; releasing a borrowed object or the
// workspace shows as a negative count.
TEST(RefDatabase, ReferencesCountEveryInterfaceAndKeepDeletedObjectsAlive) {
  Sample s;
  LONG d = 0;
  auto v = refdb_test::Query<IVNDataABS_Variable>(s.db, s.var);
  {
    IVNDataABS_LabelService* service = nullptr;
    ComPtr<IVNDataABS_DeviceConversion> conv;
    ASSERT_EQ(S_OK, s.db.Workspace()->GetServiceObject(s.project, VN_SERVICE_LABEL, &service, &d));
    ASSERT_TRUE(QueryInterfaceTo(service, conv));
    EXPECT_EQ(2, s.db.OutstandingReferences());
  }
  EXPECT_EQ(1, s.db.OutstandingReferences());
  ASSERT_EQ(S_OK, s.db.Workspace()->DeleteDataObject(s.gvl, &d));
  ULONG line = 5;
  EXPECT_EQ(std::make_tuple(refdb::kStatusFailed, refdb::kDetailDeleted, 5u),
            std::make_tuple(v->GetLineNo(&line, &d), d, line));
  v.Reset();  // frees the deleted object (the sanitizer build sees a leak or a double free)
  EXPECT_EQ(0, s.db.OutstandingReferences());
  IUnknown* borrowed = nullptr;
  ASSERT_EQ(S_OK, s.db.Workspace()->GetDataObject(s.project, &borrowed, &d));
  borrowed->Release();
  s.db.Workspace()->Release();
  EXPECT_EQ(-2, s.db.OutstandingReferences());
  borrowed->AddRef();
  s.db.Workspace()->AddRef();
}

// Row IDs start at 1001, step by 7 in the order rows are added and are never
// reused; GetRowIDs lists them in that order, at most `count` of them; rows
// left after many piecewise deletions keep their order and are found by ID.
TEST(RefDatabase, RowIdsAreStableNeverReusedAndInInsertionOrder) {
  Sample s;
  auto rows = refdb_test::Query<IVNDataABS_HighCapacityGlobalVariable>(s.db, s.gvlX);
  LONG d = 0;
  auto add = [&](LONG n) {
    Longs ids(static_cast<std::size_t>(n));
    EXPECT_EQ(S_OK, rows->AddRows(n, ids.data(), &d));
    return ids;
  };
  auto list = [&](LONG count) {  // the row count, then the IDs listed
    Longs ids(static_cast<std::size_t>(count) + 1, 0);
    LONG returned = -1;
    EXPECT_EQ(S_OK, rows->GetRowCount(&ids[0], &d));
    EXPECT_EQ(S_OK, rows->GetRowIDs(1, 2, 1, count, 0, &ids[1], &returned, &d));
    ids.resize(static_cast<std::size_t>(returned) + 1);
    return ids;
  };
  EXPECT_EQ((Longs{1001, 1008, 1015}), add(3));
  const LONG gone[] = {1008, 1008, 1015};  // one named twice, deleted once
  ASSERT_EQ(S_OK, rows->DeleteRows(3, gone, &d));
  EXPECT_EQ((Longs{1022, 1029}), add(2));
  EXPECT_EQ((std::vector<Longs>{{3, 1001, 1022, 1029}, {3, 1001, 1022}}), (std::vector<Longs>{list(9), list(2)}));
  ASSERT_EQ(S_OK, rows->DeleteRows(0, nullptr, &d));
  EXPECT_EQ((std::vector<Longs>{{0}, {1036}}), (std::vector<Longs>{list(9), add(1)}));
  Longs ids = add(2500), odd, kept{1251, 1036};
  for (std::size_t i = 0; i < ids.size(); ++i) (i % 2 ? odd : kept).push_back(ids[i]);
  for (std::size_t i = 0; i < odd.size(); i += 125) ASSERT_EQ(S_OK, rows->DeleteRows(125, &odd[i], &d));
  EXPECT_EQ(kept, list(2000));
  stVNGlobalVariableAndSystemLabelElementDataX r{};
  EXPECT_EQ(std::make_pair(S_OK, refdb::kStatusFailed),
            std::make_pair(rows->GetRows(1, &kept[1200], &r, &d), rows->GetRows(1, &odd[1200], &r, &d)));
}

}  // namespace
