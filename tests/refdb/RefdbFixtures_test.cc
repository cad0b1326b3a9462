#include "tests/support/RefdbFixtures.h"

#include <gtest/gtest.h>

#include "tests/refdb/RefdbTestUtil.h"

namespace {

using refdb::RefDatabase;
using refdb_test::Query;
using refdb_test::Take;
namespace fx = refdb_fixtures;

TEST(RefdbFixtures, ClassicBuildersWriteEveryField) {
  RefDatabase db;
  STOBJECTID p = db.NewProject(u"P");
  STOBJECTID gvl = fx::AddClassicGVL(db, p, u"Motion");
  STOBJECTID sdt = fx::AddClassicSDT(db, p, u"Pos");
  EXPECT_EQ((std::vector<STOBJECTID>{gvl}), db.Children(db.ChildOfType(p, 13)));
  EXPECT_EQ(u"Pos", db.ObjectName(sdt));

  fx::VariableSpec v;
  v.name = u"Axis";
  v.typeName = u"Pos";
  v.typeCode = 9;
  v.device = u"D0";
  v.structKind = 1;
  v.memberDevices = {{u"D0", u""}, {u"D1", u"x"}};
  v.systemLabel.status = 3;
  v.systemLabel.name = u"SL";
  STOBJECTID var = fx::AddClassicVariable(db, gvl, v);
  fx::MemberSpec m;
  m.name = u"X";
  m.typeName = u"DINT";
  STOBJECTID member = fx::AddClassicMember(db, sdt, m);
  EXPECT_EQ(u"Axis", db.ObjectName(var));
  EXPECT_EQ(u"X", db.ObjectName(member));
  LONG code = 0, d = 0, n = 0;
  ASSERT_TRUE(db.TypeCode(var, &code));
  EXPECT_EQ(9, code);
  EXPECT_FALSE(db.TypeCode(member, &code));
  BSTR t = nullptr;
  ASSERT_EQ(S_OK, Query<IVNDataABS_GlobalVariable>(db, var)->GetTypeString(&t, &d));
  EXPECT_EQ(u"Pos", Take(t));
  ASSERT_EQ(S_OK, Query<IVNDataABS_SystemLabel>(db, var)->GetName(&t, &d));
  EXPECT_EQ(u"SL", Take(t));
  ASSERT_EQ(S_OK, Query<IVNDataABS_StructVariable>(db, var)->GetMemberDevices(nullptr, nullptr, &n, &d));
  EXPECT_EQ(2, n);
  EXPECT_EQ(0, db.OutstandingReferences());
}

TEST(RefdbFixtures, RowBuildersRoundTripThroughReadBack) {
  RefDatabase db;
  STOBJECTID p = db.NewProject(u"P");
  STOBJECTID gvlX = fx::AddGVLX(db, p, u"L");
  STOBJECTID sdtX = fx::AddSDTX(db, p, u"Pos");
  EXPECT_EQ(0xE0030000u, gvlX.dwWord[1]);
  EXPECT_EQ(0xE0300000u, sdtX.dwWord[1]);

  std::vector<fx::VariableRowSpec> rows(3);
  rows[0].name = u"A";
  rows[0].comments = {u"c0", u"", u"c2"};
  rows[0].device = u"D5";
  rows[1].name = u"B";
  rows[1].dataTypeName = u"Pos";
  rows[1].structType = 1;
  rows[1].structTypeName = u"Pos";
  rows[1].memberDevices = {{u"D1", u"E1"}};
  rows[1].arraySizes = {{0, 2}, {-1, 7}};
  rows[1].exAccess = 1;
  rows[2].name = u"C";
  rows[2].systemLabel.status = 8;
  rows[2].systemLabel.attribute = 0xFFFF;
  std::vector<LONG> ids = fx::AddRowsX(db, gvlX, rows);
  EXPECT_EQ((std::vector<LONG>{1001, 1008, 1015}), ids);

  std::vector<fx::VariableRowSpec> back = fx::ReadRowsX(db, gvlX);
  ASSERT_EQ(3u, back.size());
  EXPECT_EQ(1008, back[1].rowID);
  EXPECT_EQ(rows[0].comments, back[0].comments);
  EXPECT_EQ(u"D5", back[0].device);
  EXPECT_EQ(rows[1].memberDevices, back[1].memberDevices);
  EXPECT_EQ(rows[1].arraySizes, back[1].arraySizes);
  EXPECT_EQ(u"Pos", back[1].structTypeName);
  EXPECT_EQ(1, back[1].exAccess);
  EXPECT_EQ(8, back[2].systemLabel.status);
  EXPECT_EQ(0xFFFF, back[2].systemLabel.attribute);

  std::vector<fx::MemberRowSpec> members(2);
  members[0].name = u"X";
  members[1].name = u"Y";
  members[1].dataTypeName = u"BOOL";
  fx::AddRowsX(db, sdtX, members);
  std::vector<fx::MemberRowSpec> mback = fx::ReadMemberRowsX(db, sdtX);
  ASSERT_EQ(2u, mback.size());
  EXPECT_EQ(u"Y", mback[1].name);
  EXPECT_EQ(u"BOOL", mback[1].dataTypeName);
  EXPECT_EQ(8, mback[0].classKeyword);
  EXPECT_EQ(0, db.OutstandingReferences());

  // A failing database call surfaces as an exception naming it.
  db.Faults().Set("HighCapacityGlobalVariable.SetRows", refdb::Fault{-1, 1});
  EXPECT_THROW(fx::AddRowsX(db, gvlX, rows), std::runtime_error);
  EXPECT_EQ(0, db.OutstandingReferences());
}

}  // namespace
