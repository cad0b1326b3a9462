#include <gtest/gtest.h>

#include "refdb/RefDatabase.h"
#include "tests/refdb/RefdbTestUtil.h"
#include "tests/support/AllocFailure.h"

namespace {

using refdb::RefDatabase;
using refdb_test::Bstr;
using refdb_test::CreateObject;
using refdb_test::Query;
using refdb_test::Take;
using VarRow = stVNGlobalVariableAndSystemLabelElementDataX;
using MemberRow = stVNStructElementDataX;

// Frees what the database put into a row, as the component's release does.
void FreeRow(VarRow& r) {
  for (BSTR* b : {&r.name, &r.dataTypeName, &r.initData, &r.device, &r.deviceExtra, &r.remark, &r.structTypeName,
                  &r.dynamicAttr1, &r.dynamicAttr2, &r.dynamicAttr4, &r.dynamicAttr5, &r.sysName, &r.sysProgramName,
                  &r.sysSpareText, &r.sysLocalName})
    SysFreeString(*b);
  for (LONG i = 0; i < r.comment.count; ++i) SysFreeString(r.comment.items[i].text);
  CoTaskMemFree(r.comment.items);
  for (LONG i = 0; i < r.memberDeviceCount; ++i) {
    SysFreeString(r.memberDevices[i]);
    SysFreeString(r.memberDeviceExtras[i]);
  }
  CoTaskMemFree(r.memberDevices);
  CoTaskMemFree(r.memberDeviceExtras);
  r = VarRow{};
}

void FreeRow(MemberRow& r) {
  for (BSTR* b : {&r.name, &r.dataTypeName, &r.initData, &r.spareText1, &r.spareText2, &r.spareText3, &r.spareText4})
    SysFreeString(*b);
  for (LONG i = 0; i < r.comment.count; ++i) SysFreeString(r.comment.items[i].text);
  CoTaskMemFree(r.comment.items);
  r = MemberRow{};
}

std::u16string Text(BSTR b) { return b ? std::u16string(b) : std::u16string(u"<null>"); }

class RefRows : public ::testing::Test {
 protected:
  void SetUp() override {
    m_project = m_db.NewProject(u"P");
    m_gvl = CreateObject(m_db, m_db.ChildOfType(m_project, VN_TYPE_GVL_COLLECTION_X), 14, u"G");
    m_sdt = CreateObject(m_db, m_db.ChildOfType(m_project, VN_TYPE_SDT_COLLECTION_X), 18, u"Pos");
    m_rows = Query<IVNDataABS_HighCapacityGlobalVariable>(m_db, m_gvl);
    m_members = Query<IVNDataABS_HighCapacityStructure>(m_db, m_sdt);
    ASSERT_TRUE(m_rows);
    ASSERT_TRUE(m_members);
    m_bstrs = PlatformLiveBstrCount();
    m_taskMem = PlatformLiveTaskMemCount();
  }
  void TearDown() override {
    m_rows.Reset();
    m_members.Reset();
    EXPECT_EQ(0, m_db.OutstandingReferences());
    EXPECT_EQ(m_bstrs, PlatformLiveBstrCount());
    EXPECT_EQ(m_taskMem, PlatformLiveTaskMemCount());
  }
  std::vector<LONG> Add(LONG n) {
    std::vector<LONG> ids(static_cast<std::size_t>(n));
    LONG d = 0;
    EXPECT_EQ(S_OK, m_rows->AddRows(n, ids.data(), &d));
    return ids;
  }
  std::vector<LONG> Ids() {
    LONG d = 0, count = 0, returned = -1;
    EXPECT_EQ(S_OK, m_rows->GetRowCount(&count, &d));
    std::vector<LONG> ids(static_cast<std::size_t>(count) + 1, 0);
    EXPECT_EQ(S_OK, m_rows->GetRowIDs(1, 2, 1, count + 1, 0, ids.data(), &returned, &d));
    EXPECT_EQ(count, returned);
    ids.resize(static_cast<std::size_t>(returned));
    return ids;
  }

  RefDatabase m_db;
  STOBJECTID m_project{}, m_gvl{}, m_sdt{};
  ComPtr<IVNDataABS_HighCapacityGlobalVariable> m_rows;
  ComPtr<IVNDataABS_HighCapacityStructure> m_members;
  long m_bstrs = 0, m_taskMem = 0;
};

TEST_F(RefRows, RowIdsAreStableNeverReusedAndKeptInInsertionOrder) {
  EXPECT_EQ((std::vector<LONG>{1001, 1008, 1015}), Add(3));
  EXPECT_EQ((std::vector<LONG>{1001, 1008, 1015}), Ids());
  LONG d = 0;
  const LONG gone[] = {1008};
  ASSERT_EQ(S_OK, m_rows->DeleteRows(1, gone, &d));
  EXPECT_EQ((std::vector<LONG>{1022, 1029}), Add(2));
  EXPECT_EQ((std::vector<LONG>{1001, 1015, 1022, 1029}), Ids());

  // Naming a row that is not there deletes nothing.
  const LONG mixed[] = {1001, 1008};
  EXPECT_EQ(refdb::kStatusFailed, m_rows->DeleteRows(2, mixed, &d));
  EXPECT_EQ(refdb::kDetailNotFound, d);
  EXPECT_EQ(4u, Ids().size());

  // GetRowIDs stops at `count`.
  std::vector<LONG> two(2);
  LONG returned = 0;
  ASSERT_EQ(S_OK, m_rows->GetRowIDs(1, 2, 1, 2, 0, two.data(), &returned, &d));
  EXPECT_EQ(2, returned);
  EXPECT_EQ((std::vector<LONG>{1001, 1015}), two);

  ASSERT_EQ(S_OK, m_rows->DeleteRows(0, nullptr, &d));
  EXPECT_TRUE(Ids().empty());
  EXPECT_EQ((std::vector<LONG>{1036}), Add(1));
  EXPECT_EQ(E_POINTER, m_rows->AddRows(1, nullptr, &d));
  EXPECT_EQ(S_OK, m_rows->AddRows(0, nullptr, &d));
}

TEST_F(RefRows, ManyRowsDeletedPiecewiseKeepTheirOrder) {
  std::vector<LONG> ids = Add(2500);
  std::vector<LONG> odd, kept;
  for (std::size_t i = 0; i < ids.size(); ++i) (i % 2 ? odd : kept).push_back(ids[i]);
  LONG d = 0;
  for (std::size_t i = 0; i < odd.size(); i += 100)
    ASSERT_EQ(S_OK, m_rows->DeleteRows(static_cast<LONG>(std::min<std::size_t>(100, odd.size() - i)), &odd[i], &d));
  EXPECT_EQ(kept, Ids());
  // The rows left are still found by ID.
  VarRow r{};
  ASSERT_EQ(S_OK, m_rows->GetRows(1, &kept.back(), &r, &d));
  EXPECT_EQ(kept.back(), r.rowID);
  EXPECT_EQ(refdb::kStatusFailed, m_rows->GetRows(1, &odd.back(), &r, &d));
}

TEST_F(RefRows, VariableRowsKeepEveryField) {
  std::vector<LONG> ids = Add(2);
  // A record the test owns, with every field set and null kept apart from empty.
  Bstr name(u"Speed"), type(u"Pos"), init(u"0"), dev(u"D100"), devX(u""), remark(u"rem"), stype(u"Pos"), a1(u"a1"),
      a2(u"12"), a4(u"a4"), a5(u"x"), sys(u"SysName"), prog(u"Prog"), spare(u"spare"), local(u"loc"), c0(u"comment 0"),
      c15(u"comment 15"), m0(u"D200"), m1(u""), x0(u"E0");
  stVNVariableCommentItem items[3] = {{9, c0}, {24, c15}, {30, nullptr}};
  BSTR members[2] = {m0, m1};
  BSTR extras[2] = {x0, nullptr};
  VarRow in{};
  in.rowID = ids[1];
  in.lineNo = 7;
  in.name = name;
  in.comment = {3, items};
  in.classKeyword = 3;
  in.dataTypeName = type;
  in.initData = init;
  in.device = dev;
  in.deviceExtra = devX;
  in.remark = remark;
  in.structType = 1;
  in.dataTypeCode = 9;
  in.hasArraySizes = 1;
  in.structTypeName = stype;
  in.memberDevices = members;
  in.memberDeviceExtras = extras;
  in.memberDeviceCount = 2;
  in.dynamicAttr1 = a1;
  in.dynamicAttr2 = a2;
  in.dynamicAttr3 = -5;
  in.dynamicAttr4 = a4;
  in.dynamicAttr5 = a5;
  in.sysName = sys;
  in.sysAttribute = 0x1234ABCDu;
  in.exAccess = 1;
  in.sysProgramName = prog;
  in.sysSpareText = spare;
  in.sysLocalName = local;
  in.sysDataType = 21;
  in.sysListID = 22;
  in.sysID = 23;
  in.sysCPUID = 24;
  in.sysProjectID = 25;
  in.sysDataSize = 0x10002u;
  in.sysStatus = 2;
  LONG d = 0;
  ASSERT_EQ(S_OK, m_rows->SetRows(1, &in, &d));
  EXPECT_EQ(m_bstrs + 20, PlatformLiveBstrCount());  // only the test's own strings: the row keeps copies

  VarRow out[2] = {};
  const LONG order[2] = {ids[1], ids[0]};
  ASSERT_EQ(S_OK, m_rows->GetRows(2, order, out, &d));
  const VarRow& r = out[0];
  EXPECT_EQ(ids[1], r.rowID);
  EXPECT_EQ(7, r.lineNo);
  EXPECT_EQ(u"Speed", Text(r.name));
  ASSERT_EQ(3, r.comment.count);
  EXPECT_EQ(9u, r.comment.items[0].key);
  EXPECT_EQ(u"comment 0", Text(r.comment.items[0].text));
  EXPECT_EQ(24u, r.comment.items[1].key);
  EXPECT_EQ(u"comment 15", Text(r.comment.items[1].text));
  EXPECT_EQ(30u, r.comment.items[2].key);
  EXPECT_EQ(nullptr, r.comment.items[2].text);
  EXPECT_EQ(3, r.classKeyword);
  EXPECT_EQ(u"Pos", Text(r.dataTypeName));
  EXPECT_EQ(u"0", Text(r.initData));
  EXPECT_EQ(u"D100", Text(r.device));
  ASSERT_NE(nullptr, r.deviceExtra);  // empty, not null
  EXPECT_EQ(u"", Text(r.deviceExtra));
  EXPECT_EQ(u"rem", Text(r.remark));
  EXPECT_EQ(1, r.structType);
  EXPECT_EQ(9, r.dataTypeCode);
  EXPECT_EQ(1, r.hasArraySizes);
  EXPECT_EQ(u"Pos", Text(r.structTypeName));
  ASSERT_EQ(2, r.memberDeviceCount);
  EXPECT_EQ(u"D200", Text(r.memberDevices[0]));
  EXPECT_EQ(u"", Text(r.memberDevices[1]));
  EXPECT_EQ(u"E0", Text(r.memberDeviceExtras[0]));
  EXPECT_EQ(nullptr, r.memberDeviceExtras[1]);
  EXPECT_EQ(u"a1", Text(r.dynamicAttr1));
  EXPECT_EQ(u"12", Text(r.dynamicAttr2));
  EXPECT_EQ(-5, r.dynamicAttr3);
  EXPECT_EQ(u"a4", Text(r.dynamicAttr4));
  EXPECT_EQ(u"x", Text(r.dynamicAttr5));
  EXPECT_EQ(u"SysName", Text(r.sysName));
  EXPECT_EQ(0x1234ABCDu, r.sysAttribute);
  EXPECT_EQ(1, r.exAccess);
  EXPECT_EQ(u"Prog", Text(r.sysProgramName));
  EXPECT_EQ(u"spare", Text(r.sysSpareText));
  EXPECT_EQ(u"loc", Text(r.sysLocalName));
  EXPECT_EQ(21, r.sysDataType);
  EXPECT_EQ(22, r.sysListID);
  EXPECT_EQ(23, r.sysID);
  EXPECT_EQ(24, r.sysCPUID);
  EXPECT_EQ(25, r.sysProjectID);
  EXPECT_EQ(0x10002u, r.sysDataSize);
  EXPECT_EQ(2, r.sysStatus);

  // The fresh row reads as zeros and nulls with its ID.
  VarRow zero{};
  zero.rowID = ids[0];
  EXPECT_EQ(0, std::memcmp(&zero, &out[1], sizeof zero));

  // A second write replaces the whole row.
  VarRow small{};
  small.rowID = ids[1];
  small.name = name;
  ASSERT_EQ(S_OK, m_rows->SetRows(1, &small, &d));
  VarRow again{};
  ASSERT_EQ(S_OK, m_rows->GetRows(1, &ids[1], &again, &d));
  EXPECT_EQ(u"Speed", Text(again.name));
  EXPECT_EQ(0, again.comment.count);
  EXPECT_EQ(nullptr, again.device);
  EXPECT_EQ(0, again.memberDeviceCount);
  FreeRow(again);
  for (VarRow& o : out) FreeRow(o);
}

TEST_F(RefRows, BadRequestsChangeNothing) {
  std::vector<LONG> ids = Add(2);
  Bstr name(u"N");
  VarRow rows[2] = {};
  rows[0].rowID = ids[0];
  rows[0].name = name;
  rows[1].rowID = 999;  // no such row
  rows[1].name = name;
  LONG d = 0;
  EXPECT_EQ(refdb::kStatusFailed, m_rows->SetRows(2, rows, &d));
  EXPECT_EQ(refdb::kDetailNotFound, d);
  rows[1].rowID = ids[1];
  rows[1].comment.count = 2;  // entries missing
  EXPECT_EQ(refdb::kStatusInvalidArgument, m_rows->SetRows(2, rows, &d));
  rows[1].comment.count = 0;
  rows[1].memberDeviceCount = -1;
  EXPECT_EQ(refdb::kStatusInvalidArgument, m_rows->SetRows(2, rows, &d));

  VarRow out[2] = {};
  const LONG wanted[2] = {ids[0], 4242};
  EXPECT_EQ(refdb::kStatusFailed, m_rows->GetRows(2, wanted, out, &d));
  EXPECT_EQ(nullptr, out[0].name);
  ASSERT_EQ(S_OK, m_rows->GetRows(2, ids.data(), out, &d));
  EXPECT_EQ(nullptr, out[0].name);  // the refused SetRows wrote nothing
  FreeRow(out[0]);
  FreeRow(out[1]);
}

TEST_F(RefRows, AllocationFailureInGetRowsHandsBackNothing) {
  std::vector<LONG> ids = Add(3);
  Bstr c(u"c"), m(u"m");
  stVNVariableCommentItem item{9, c};
  BSTR members[1] = {m};
  VarRow in[3] = {};
  for (int i = 0; i < 3; ++i) {
    in[i].rowID = ids[static_cast<std::size_t>(i)];
    in[i].name = c;
    in[i].comment = {1, &item};
    in[i].memberDevices = members;
    in[i].memberDeviceExtras = members;
    in[i].memberDeviceCount = 1;
  }
  LONG d = 0;
  ASSERT_EQ(S_OK, m_rows->SetRows(3, in, &d));
  for (long failAt = 1; failAt <= 9; ++failAt) {
    VarRow out[3] = {};
    {
      AllocFailure fail(failAt, kAllocTaskMem, true);
      EXPECT_EQ(E_OUTOFMEMORY, m_rows->GetRows(3, ids.data(), out, &d)) << failAt;
    }
    EXPECT_EQ(refdb::kDetailOutOfMemory, d);
    for (const VarRow& o : out) {
      EXPECT_EQ(nullptr, o.name);
      EXPECT_EQ(nullptr, o.comment.items);
      EXPECT_EQ(nullptr, o.memberDevices);
    }
  }
  EXPECT_EQ(m_taskMem, PlatformLiveTaskMemCount());
}

TEST_F(RefRows, FaultsHitTheChosenBatch) {
  std::vector<LONG> ids = Add(3000);
  m_db.Faults().Set("HighCapacityGlobalVariable.GetRows", refdb::Fault{-2, 17, 3, 1});
  LONG d = 0;
  std::vector<HRESULT> statuses;
  for (std::size_t first = 0; first < ids.size(); first += 1000) {
    std::vector<VarRow> block(1000);
    statuses.push_back(m_rows->GetRows(1000, &ids[first], block.data(), &d));
    for (VarRow& r : block) FreeRow(r);
  }
  EXPECT_EQ((std::vector<HRESULT>{0, 0, -2}), statuses);
  EXPECT_EQ(17, d);
  EXPECT_EQ(3, m_db.Faults().Calls("HighCapacityGlobalVariable.GetRows"));
}

TEST_F(RefRows, ArraySizesAreKeptPerRow) {
  std::vector<LONG> ids = Add(2);
  LONG d = 0, count = -1, returned = -1;
  ASSERT_EQ(S_OK, m_rows->GetArraySizeCount(ids[0], &count, &d));
  EXPECT_EQ(0, count);
  const stVNArraySizeX sizes[3] = {{-1, 10}, {0, 0}, {0x7FFFFFFF, -3}};
  ASSERT_EQ(S_OK, m_rows->SetArraySizes(ids[1], 3, 1, sizes, &d));
  ASSERT_EQ(S_OK, m_rows->GetArraySizeCount(ids[1], &count, &d));
  EXPECT_EQ(3, count);
  ASSERT_EQ(S_OK, m_rows->GetArraySizeCount(ids[0], &count, &d));
  EXPECT_EQ(0, count);
  stVNArraySizeX back[4] = {};
  ASSERT_EQ(S_OK, m_rows->GetArraySizes(ids[1], 4, 1, back, &returned, &d));
  EXPECT_EQ(3, returned);
  EXPECT_EQ(-1, back[0].value1);
  EXPECT_EQ(10, back[0].value2);
  EXPECT_EQ(0x7FFFFFFF, back[2].value1);
  EXPECT_EQ(-3, back[2].value2);
  ASSERT_EQ(S_OK, m_rows->GetArraySizes(ids[1], 1, 1, back, &returned, &d));
  EXPECT_EQ(1, returned);
  EXPECT_EQ(refdb::kStatusFailed, m_rows->GetArraySizeCount(5, &count, &d));
  EXPECT_EQ(refdb::kStatusFailed, m_rows->SetArraySizes(5, 1, 1, sizes, &d));
  // Deleting the row takes its sizes with it.
  ASSERT_EQ(S_OK, m_rows->DeleteRows(1, &ids[1], &d));
  EXPECT_EQ(refdb::kStatusFailed, m_rows->GetArraySizes(ids[1], 4, 1, back, &returned, &d));
  ASSERT_EQ(S_OK, m_rows->SetArraySizes(ids[0], 0, 1, nullptr, &d));
}

TEST_F(RefRows, RowObjectIdResolvesTheStructuredTypeByName) {
  std::vector<LONG> ids = Add(4);
  Bstr pos(u"Pos"), other(u"Other"), word(u"WORD");
  VarRow rows[3] = {};
  rows[0].rowID = ids[0];
  rows[0].dataTypeName = word;
  rows[0].structTypeName = pos;  // the struct name wins
  rows[1].rowID = ids[1];
  rows[1].dataTypeName = pos;  // falls back to the data type name
  rows[2].rowID = ids[2];
  rows[2].dataTypeName = other;
  LONG d = 0;
  ASSERT_EQ(S_OK, m_rows->SetRows(3, rows, &d));
  STOBJECTID id{};
  ASSERT_EQ(S_OK, m_rows->GetRowObjectID(ids[0], &id, &d));
  EXPECT_EQ(m_sdt, id);
  id = STOBJECTID{};
  ASSERT_EQ(S_OK, m_rows->GetRowObjectID(ids[1], &id, &d));
  EXPECT_EQ(m_sdt, id);
  EXPECT_EQ(refdb::kStatusFailed, m_rows->GetRowObjectID(ids[2], &id, &d));
  EXPECT_EQ(refdb::kDetailNoSuchStructure, d);
  EXPECT_EQ(refdb::kStatusFailed, m_rows->GetRowObjectID(ids[3], &id, &d));

  // Renaming and deleting structured types is followed; classic SDTs never count.
  CreateObject(m_db, m_db.ChildOfType(m_project, 17), 18, u"Other");
  EXPECT_EQ(refdb::kStatusFailed, m_rows->GetRowObjectID(ids[2], &id, &d));
  ASSERT_EQ(S_OK, m_db.Workspace()->SetObjectName(m_sdt, other, &d));
  ASSERT_EQ(S_OK, m_rows->GetRowObjectID(ids[2], &id, &d));
  EXPECT_EQ(m_sdt, id);
  EXPECT_EQ(refdb::kStatusFailed, m_rows->GetRowObjectID(ids[0], &id, &d));
  STOBJECTID second = CreateObject(m_db, m_db.ChildOfType(m_project, VN_TYPE_SDT_COLLECTION_X), 18, u"Pos");
  ASSERT_EQ(S_OK, m_rows->GetRowObjectID(ids[0], &id, &d));
  EXPECT_EQ(second, id);
  ASSERT_EQ(S_OK, m_db.Workspace()->DeleteDataObject(second, &d));
  EXPECT_EQ(refdb::kStatusFailed, m_rows->GetRowObjectID(ids[0], &id, &d));
}

TEST_F(RefRows, MemberRowsKeepEveryField) {
  LONG ids[2] = {};
  LONG d = 0;
  ASSERT_EQ(S_OK, m_members->AddRows(2, ids, &d));
  EXPECT_EQ(1001, ids[0]);
  Bstr name(u"X"), type(u"DINT"), init(u"5"), s1(u"s1"), s2(u""), s4(u"s4"), c(u"c");
  stVNVariableCommentItem items[16];
  for (int i = 0; i < 16; ++i) items[i] = {static_cast<ULONGLONG>(i + 9), c};
  MemberRow in{ids[1], 3, name, {16, items}, 8, type, init, s1, s2, nullptr, 3, -1, s4};
  ASSERT_EQ(S_OK, m_members->SetRows(1, &in, &d));
  MemberRow out{};
  ASSERT_EQ(S_OK, m_members->GetRows(1, &ids[1], &out, &d));
  EXPECT_EQ(ids[1], out.rowID);
  EXPECT_EQ(3, out.lineNo);
  EXPECT_EQ(u"X", Text(out.name));
  ASSERT_EQ(16, out.comment.count);
  EXPECT_EQ(24u, out.comment.items[15].key);
  EXPECT_EQ(u"c", Text(out.comment.items[15].text));
  EXPECT_EQ(8, out.classKeyword);
  EXPECT_EQ(u"DINT", Text(out.dataTypeName));
  EXPECT_EQ(u"5", Text(out.initData));
  EXPECT_EQ(u"s1", Text(out.spareText1));
  EXPECT_EQ(u"", Text(out.spareText2));
  EXPECT_EQ(nullptr, out.spareText3);
  EXPECT_EQ(3, out.dataTypeCode);
  EXPECT_EQ(-1, out.spareValue);
  EXPECT_EQ(u"s4", Text(out.spareText4));
  FreeRow(out);
  LONG count = 0;
  ASSERT_EQ(S_OK, m_members->GetRowCount(&count, &d));
  EXPECT_EQ(2, count);
  ASSERT_EQ(S_OK, m_members->DeleteRows(0, nullptr, &d));
  ASSERT_EQ(S_OK, m_members->GetRowCount(&count, &d));
  EXPECT_EQ(0, count);
}

TEST_F(RefRows, OnlyHighCapacityListsHaveRows) {
  STOBJECTID classic = CreateObject(m_db, m_db.ChildOfType(m_project, 13), 14, u"C");
  EXPECT_FALSE(Query<IVNDataABS_HighCapacityGlobalVariable>(m_db, classic));
  EXPECT_FALSE(Query<IVNDataABS_HighCapacityStructure>(m_db, m_gvl));
  EXPECT_FALSE(Query<IVNDataABS_HighCapacityGlobalVariable>(m_db, m_sdt));
}

}  // namespace
