// The high-capacity series against the reference database: row access (what
// a write stores and a read gives back, batches, ownership, failure codes),
// dynamic labels (devices, structure layouts, key forms, failure codes), the
// label-to-device conversion behind them and the external equipment flag on
// both CPU series.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/LabelFixtures.h"

namespace {
using namespace label_test;
const std::string kGvl = "HighCapacityGlobalVariable.";

std::string S(const CString& s) { return ToUtf8(s.Str()); }
std::string N(LONGLONG n) { return std::to_string(n); }  // by value: packed fields too

// A project on the high-capacity series with an empty high-capacity list G.
struct HighCapTest : ::testing::Test, Project {
  STOBJECTID gvl = fx::AddGVLX(db, id, u"G");
  HighCapTest() : Project(kX) { db.Faults().ResetCounts(); }
  void Fail(const std::string& op, int nth = 1, HRESULT hr = -1) { db.Faults().Set(op, refdb::Fault{hr, 0x77, nth}); }
};

// --- row access ------------------------------------------------------------------

// Each kind of row as stored (type code, structure type name, the texts
// left null: only those the kind does not carry, empty ones travel as empty
// BSTRs) and as read back, one line per row.
TEST_F(HighCapTest, EveryKindOfRowIsStoredAndReadBack) {
  // Only the first device of a simple variable is stored (Bare has none); a
  // dynamic one (type 2) keeps attributes instead.
  Elements in({Variable(7, u"Simple", u"DINT", {u"D100", u"X1", u"D200", u"X2"}, u"c0"), Variable(0, u"Bare", u"INT"),
               Variable(0, u"Struct", u"ST", {u"M0", u"E0", u"", u"E1"}), Variable(0, u"Dyn", u"ST", {u"ignored"}),
               Variable(0, u"Sys", u"INT"), Variable(0, u"SysEmpty", u"INT", {u""}), Variable(0, u"NotSys", u"INT")});
  GVL &simple = *in.V(0), &dynamic = *in.V(3);
  simple.classKeyword = 4, simple.initData = u"42", simple.remark = u"rm", simple.exAccess = u"1";
  simple.comments[15] = u"c15", simple.arraySizes.Add(_STARRAYSIZEINFO{-3, 1LL << 40});
  in.V(2)->structType = 1, dynamic.structType = 2;
  dynamic.dynamicAttr1 = u"a1", dynamic.dynamicAttr3 = -9, dynamic.dynamicAttr5 = u"-3", dynamic.exAccess = u"yes";
  in.V(4)->systemLabel = {11, u"SysName", u"Prog", 2, 0xABCD, 5, 3, 4, u"c", u"r", 6, 0xFEDC, u"Local"};
  in.V(5)->systemLabel.status = 5;                                                // its one device and its names empty
  in.V(6)->systemLabel = {99, u"lost", u"", 1, 1, 0, 1, 1, u"", u"", 1, 1, u""};  // status 0: nothing written
  ASSERT_EQ(A::CreateX(c, gvl, in.elements), KX9_OK);

  const std::string dev = " device deviceExtra", st = " structTypeName",
                    dyn = " dynamicAttr1 dynamicAttr2 dynamicAttr4 dynamicAttr5",
                    sys = " sysName sysProgramName sysLocalName", none = " dyn:,,0,, sys:0,,,0,0,0,0,0,,,0,0,";
  const std::vector<std::string> expected = {
      "7 Simple 4 DINT 42 0 rm ex1 c:0=c0,15=c15, d:D100/X1,(-3,1099511627776)" + none + " | 3  |" + st + dyn + sys,
      "0 Bare 0 INT  0  ex0 c: d:/," + none + " | 2  |" + dev + st + dyn + sys,
      "0 Struct 0 ST  1  ex0 c: d:M0/E0,/E1," + none + " | 9 ST |" + dev + dyn + sys,
      "0 Dyn 0 ST  2  ex0 c: d: dyn:a1,,-9,,-3 sys:0,,,0,0,0,0,0,,,0,0, | 9 ST |" + dev + sys,
      "0 Sys 0 INT  0  ex0 c: d:/, dyn:,,0,, sys:11,SysName,Prog,2,43981,5,3,4,,,6,65244,Local | 2  |" + dev + st + dyn,
      "0 SysEmpty 0 INT  0  ex0 c: d:/, dyn:,,0,, sys:0,,,0,0,5,0,0,,,0,0, | 2  |" + st + dyn,
      "0 NotSys 0 INT  0  ex0 c: d:/," + none + " | 2  |" + dev + st + dyn + sys,
  };
  const std::vector<fx::VariableRowSpec> rows = fx::ReadRowsX(db, gvl);
  Elements out;
  ASSERT_EQ(A::Get(c, gvl, out.elements), KX9_OK);
  std::vector<std::string> got;
  for (int i = 0; i < out.elements.GetSize() && i < static_cast<int>(rows.size()); ++i)
    got.push_back(fx::Describe(*out.V(i)) + " | " + N(rows[i].dataTypeCode) + " " + ToUtf8(rows[i].structTypeName) +
                  " | " + rows[i].nullTexts);
  EXPECT_EQ(got, expected);

  // Members: class keyword 8, the case-sensitive type code, no null texts.
  const STOBJECTID sdt = fx::AddSDTX(db, id, u"ST");
  Elements members({Member(0, u"BOOL", u"BOOL"), Member(0, u"dint", u"dint"), Member(0, u"", u"")}, KX9_DATATYPE_SDT);
  static_cast<SDT*>(members.elements[2])->initData.Empty();  // every text empty
  ASSERT_EQ(A::CreateX(c, sdt, members.elements), KX9_OK);
  std::string stored;
  for (const auto& r : fx::ReadMemberRowsX(db, sdt))
    stored += N(r.classKeyword) + " " + N(r.dataTypeCode) + r.nullTexts + ",";
  EXPECT_EQ(stored, "8 1,8 100,8 100,");
}

// 2,500 records cross both ways 1000 rows a call, in order, each row's sizes
// under its own row ID; the read takes the rows GetRowCount announced,
// whatever count GetRowIDs reports. A failing batch keeps the earlier ones:
// read, with the caller; written, in the table (the rows stay added).
TEST_F(HighCapTest, RecordsCrossInBatchesOf1000InOrder) {
  Elements in, out, partial;
  long withSizes = 0;
  for (int i = 0; i < 2500; ++i) {
    in.elements.Add(Variable(0, FromUtf8("V" + N(i)), u"INT", {u""}));  // as a simple variable reads back
    if (i % 7 != 0 && i != 999 && i != 1000 && i != 2499) continue;
    in.V(i)->arraySizes.Add(_STARRAYSIZEINFO{i, i * 3LL}), in.V(i)->arraySizes.Add(_STARRAYSIZEINFO{-i, 1});
    ++withSizes;
  }
  ASSERT_EQ(A::CreateX(c, gvl, in.elements), KX9_OK);
  EXPECT_EQ(Calls(kGvl + "AddRows") * 10 + Calls(kGvl + "SetRows"), 13);
  db.SetReportedRowIDCount(1);
  db.Faults().ResetCounts();
  ASSERT_EQ(A::Get(c, gvl, out.elements), KX9_OK);
  EXPECT_EQ(Calls(kGvl + "GetRows") * 10000 + Calls(kGvl + "GetArraySizes"), 30000 + withSizes);
  ASSERT_EQ(out.elements.GetSize(), 2500);
  for (int i = 0; i < 2500; ++i) ASSERT_EQ(fx::Describe(*out.V(i)), fx::Describe(*in.V(i)));
  Fail(kGvl + "GetRows", 3);
  EXPECT_EQ(A::Get(c, gvl, partial.elements), KX9_ERR_DB);
  EXPECT_EQ(partial.elements.GetSize(), 2000);
  db.SetReportedRowIDCount(-1);

  ASSERT_EQ(A::Delete(c, gvl), KX9_OK);
  Fail(kGvl + "SetRows", 2);
  EXPECT_EQ(A::CreateX(c, gvl, in.elements), KX9_ERR_DB);
  const auto rows = fx::ReadRowsX(db, gvl);
  ASSERT_EQ(rows.size(), 2500u);
  EXPECT_EQ(rows[999].name + u"|" + rows[1000].name, u"V999|");
  ASSERT_EQ(A::Delete(c, gvl), KX9_OK);
  db.Faults().ResetCounts();
  Fail(kGvl + "SetArraySizes");  // keeps its whole batch from being written
  EXPECT_EQ(A::CreateX(c, gvl, in.elements), KX9_ERR_DB);
  EXPECT_EQ(Calls(kGvl + "SetRows"), 0);
}

// Deleting a list first keeps its system labels of the listed statuses,
// also when the deletion then fails; failing to collect them does not stop it.
TEST_F(HighCapTest, DeletionKeepsSystemLabelsOfTheListedStatuses) {
  std::vector<fx::VariableRowSpec> descs(16);
  for (LONG s = 0; s < 16; ++s) descs[s].name = FromUtf8("S" + N(s)), descs[s].systemLabel.status = s;
  fx::AddRowsX(db, gvl, descs);
  Fail(kGvl + "DeleteRows");
  EXPECT_EQ(A::Delete(c, gvl), KX9_ERR_DB);
  EXPECT_EQ(fx::ReadRowsX(db, gvl).size(), 16u);
  std::string names;
  for (int i = 0; i < A::Collected(c).GetSize(); ++i) names += S(A::Collected(c)[i]->name) + " ";
  EXPECT_EQ(names, "S2 S3 S5 S6 S8 S10 S11 S13 S14 ");

  Fail(kGvl + "GetRows");
  EXPECT_EQ(A::Delete(c, gvl), KX9_OK);
  EXPECT_EQ(A::Collected(c).GetSize(), 9);
  EXPECT_TRUE(fx::ReadRowsX(db, gvl).empty() && db.Exists(gvl));
}

// Every failing call of reading, writing, creating and deleting rows: its
// result and what is left.
TEST_F(HighCapTest, RowFailuresReportTheirCodes) {
  std::vector<fx::VariableRowSpec> descs(3);
  for (auto& s : descs) s.arraySizes = {{1, 2}};
  fx::AddRowsX(db, gvl, descs);
  const std::pair<std::string, HRESULT> reads[] = {{"Workspace.GetDataObject", -1},  {"Workspace.GetObjectType", 5},
                                                   {kGvl + "GetRowCount", -1},       {kGvl + "GetRowIDs", -2},
                                                   {kGvl + "GetArraySizeCount", -1}, {kGvl + "GetArraySizes", -1},
                                                   {kGvl + "GetRowCount", 1}};
  for (const auto& [op, status] : reads) {
    Fail(op, 1, status);
    Elements out;
    EXPECT_EQ(A::Get(c, gvl, out.elements), status == 1 ? KX9_OK : KX9_ERR_DB) << op;  // 1 is success here
    EXPECT_EQ(out.elements.GetSize(), 0) << op;
  }
  Elements none, one({Variable(0, u"V", u"ST", {u"D", u"E"}, u"c")});
  one.V(0)->structType = 1;
  {
    AllocFailure fail(1, kAllocTaskMem);  // the first array-size buffer
    EXPECT_EQ(A::Get(c, gvl, none.elements), KX9_ERR_ALLOC);
  }
  ASSERT_EQ(A::Delete(c, gvl), KX9_OK);

  db.Faults().ResetCounts();
  EXPECT_EQ(A::CreateX(c, gvl, none.elements), KX9_OK);  // nothing to write: no rows added
  Fail(kGvl + "AddRows");
  EXPECT_EQ(A::CreateX(c, gvl, one.elements), KX9_ERR_DB);
  EXPECT_EQ(Calls(kGvl + "AddRows") * 10 + Calls(kGvl + "SetRows"), 10);

  // Task memory: 1 the comment entries, 2 and 3 the member device arrays.
  // Only the comment entries may fail without stopping the write.
  for (int nth : {2, 3, 1}) {
    AllocFailure fail(nth, kAllocTaskMem);
    EXPECT_EQ(A::CreateX(c, gvl, one.elements), nth == 1 ? KX9_OK : KX9_ERR_ALLOC) << nth;
  }
  Elements back;
  ASSERT_EQ(A::Get(c, gvl, back.elements), KX9_OK);
  EXPECT_TRUE(back.V(back.elements.GetSize() - 1)->comments[0].IsEmpty());  // the last write has no comment

  // Whole data: none, a type other than 14 or 18 after one created, a
  // failing flush.
  EXPECT_EQ(A::CreateAllData(c, 0, nullptr), KX9_OK);
  EXPECT_EQ(db.FlushCount(id), 0);
  _STKX9LABELSTRUCTURE data[2];
  data[0].dataType = VN_TYPE_GVL, data[0].name = u"L", data[1].dataType = VN_TYPE_GLOBAL_VARIABLE;
  EXPECT_EQ(A::CreateAllData(c, 2, data), KX9_ERR_TYPE);
  EXPECT_EQ(db.Children(db.ChildOfType(id, VN_TYPE_GVL_COLLECTION_X)).size(), 2u);
  EXPECT_EQ(A::CreateAllData(c, 1, data), KX9_OK);
  EXPECT_EQ(db.FlushCount(id), 1);
  for (const char* op : {"Workspace.GetChildIDByType", "Workspace.CreateDataObject", "Storage.Flush"}) {
    Fail(op, 1, 1);  // each fails on any non-zero status
    EXPECT_EQ(A::CreateAllData(c, 1, data), KX9_ERR_DB) << op;
  }
  const STOBJECTID sdt = fx::AddSDTX(db, id, u"ST");
  Fail("HighCapacityStructure.DeleteRows", 1, 1);  // only a negative status fails
  EXPECT_EQ(A::Delete(c, sdt), KX9_OK);
  Fail("HighCapacityStructure.DeleteRows");
  EXPECT_EQ(A::Delete(c, sdt), KX9_ERR_DB);
  db.WithholdInterface(gvl, IVNDataABS_HighCapacityGlobalVariable::iid);
  EXPECT_EQ(A::Get(c, gvl, none.elements) + A::Delete(c, gvl) + A::CreateX(c, gvl, one.elements), 6u);
}

// Releasing a block frees every text in it, also those nobody reads (the
// reads free what the database put there), and hands back null.
TEST_F(HighCapTest, ReleaseFreesWhatNobodyReads) {
  auto* rows = A::NewRows(c, 2);
  ASSERT_NE(rows, nullptr);
  rows[1].sysSpareText = SysAllocString(u"x");
  A::FreeRows(c, rows, 2);
  EXPECT_EQ(rows, nullptr);  // the project proves that nothing was left
}

// --- dynamic labels -------------------------------------------------------------

// " @<label>.M0/ ... @<label>.M<n-1>/": n members whose devices the service made.
std::string Converted(const std::string& label, int n) {
  std::string s;
  for (int m = 0; m < n; ++m) s += " @" + label + ".M" + N(m) + "/";
  return s;
}
ULONGLONG PlainKey(const STOBJECTID& id) { return id.Key() + id.dwWord[3]; }
const std::string kS1Rest = " @S1[0,0].M1/ @S1[0,0].M2/ attr 12,1,0,1,4";  // S1's label after its first device

// Types ST1, ST17 and MIXED; in G a variable without external access, then
// simple, structured (type 2) and stored-device (type 1) ones; then an
// empty list.
struct DynTest : HighCapTest {
  STOBJECTID st1 = Struct(u"ST1", {u"BOOL", u"INT", u"BOOL"}), st17 = Struct(u"ST17", Bits()),
             mixed = Struct(u"MIXED", {u"bool", u"ST1", u"BOOL", u"REAL", u"FLOAT"});
  std::vector<LONG> rowIDs = fx::AddRowsX(db, gvl, Variables());
  STOBJECTID empty = fx::AddGVLX(db, id, u"Empty");

  STOBJECTID Struct(const std::u16string& name, const std::vector<std::u16string>& types) {
    const STOBJECTID sdt = fx::AddSDTX(db, id, name);
    std::vector<fx::MemberRowSpec> rows(types.size());
    for (size_t i = 0; i < types.size(); ++i) rows[i].name = u"M" + FromUtf8(N(i)), rows[i].dataTypeName = types[i];
    fx::AddRowsX(db, sdt, rows);
    return sdt;
  }
  static std::vector<std::u16string> Bits() {  // 17 BOOL, DINT, 16 BOOL
    std::vector<std::u16string> bits(34, u"BOOL");
    bits[17] = u"DINT";
    return bits;
  }
  static std::vector<fx::VariableRowSpec> Variables() {
    const char16_t* vars[][2] = {{u"Hidden", u"INT"}, {u"WithDev", u"INT"}, {u"NoDev", u"DINT"}, {u"S1", u"ST1"},
                                 {u"S2", u"ST1"},     {u"P1", u"ST1"},      {u"B17", u"ST17"},   {u"MX", u"MIXED"}};
    std::vector<fx::VariableRowSpec> rows(8);
    for (size_t i = 0; i < 8; ++i) {
      rows[i].name = vars[i][0], rows[i].dataTypeName = vars[i][1];
      rows[i].structType = i < 3 ? 0 : (i == 5 ? 1 : 2), rows[i].exAccess = i == 0 ? 0 : 1;
    }
    rows[1].device = u"D10", rows[1].deviceExtra = u"X10", rows[2].deviceExtra = u"X11";
    rows[3].arraySizes = {{0, 4}, {0, 5}}, rows[3].dynamicAttr2 = u"12", rows[3].dynamicAttr3 = 4;
    rows[3].dynamicAttr5 = u"x", rows[6].dynamicAttr2 = u" -7";
    rows[5].memberDevices = {{u"DD", u"EE"}}, rows[5].arraySizes = {{3, 1}};  // fewer stored devices than members
    return rows;
  }
  // A label on one line: its devices (one the service made as "@" and the
  // name it was made for) and its dynamic attributes.
  std::string Describe(const _STKX9DYNAMICLABELDATA& l) const {
    std::string s = S(l.name) + ":";
    for (int i = 0; i < l.devices.GetSize(); ++i) {
      std::string device = S(l.devices[i].device);
      for (const auto& [label, made] : db.ConvertedLabels(id))
        if (!device.empty() && FromUtf8(device) == made) device = "@" + ToUtf8(label);
      s += " " + device + "/" + S(l.devices[i].deviceExtra);
    }
    return s + " attr " + N(l.dynamicAttr2Value) + "," + N(l.hasDynamicAttr2) + "," + N(l.dynamicAttr5Value) + "," +
           N(l.hasDynamicAttr5) + "," + N(l.dynamicAttr3);
  }
};

// Every externally accessible variable becomes a label with every device
// completed (a structure's members named with the array suffix of a type 2
// label) and its keys, and each structured type gets one layout.
TEST_F(DynTest, LabelsCarryDevicesAndOneStructurePerType) {
  C::CDynamicLabelArray out, again;
  ASSERT_EQ(c.GetAllDynamicLabelData(out), KX9_OK);
  const std::string none = " attr 0,0,0,0,0";
  const std::vector<std::string> expected = {
      "WithDev: D10/X10" + none,  // kept as stored
      "NoDev: @NoDev/X11" + none,
      "S1: @S1[0,0].M0/" + kS1Rest,  // "x" reads as 0 but counts as set
      "S2:" + Converted("S2", 3) + none,
      "P1: DD/EE @P1.M1/ @P1.M2/" + none,  // type 1: the stored device stays, no suffix
      "B17:" + Converted("B17", 34) + " attr -7,1,0,0,0",
      "MX:" + Converted("MX", 5) + none,
  };
  const ULONGLONG structKeys[] = {0, 0, PlainKey(st1), PlainKey(st1), PlainKey(st1), PlainKey(st17), PlainKey(mixed)};
  std::vector<std::string> got;
  for (int i = 0; i < out.GetSize() && i < 7; ++i) {
    got.push_back(Describe(*out[i]));
    EXPECT_EQ(+out[i]->structKey, structKeys[i]) << i;
    EXPECT_EQ(+out[i]->listKey, (0xE003C000ULL << 32) | gvl.dwWord[3]);  // the list's key form
    EXPECT_EQ(+out[i]->rowID, rowIDs[static_cast<size_t>(i) + 1]);
  }
  EXPECT_EQ(got, expected);

  // BOOL,INT,BOOL -> 2,1,3; 17 BOOL, DINT, 16 BOOL -> 33,2,5 (16 bits a
  // word); a structure or an unknown type is allocation type 0, adds nothing
  // and ends a run of bits.
  EXPECT_EQ(A::Structs(c).GetCount(), 3);
  const std::tuple<STOBJECTID, std::vector<int>, std::string> layouts[] = {
      {st1, {1, 4, 1}, "2,1,3"}, {st17, {}, "33,2,5"}, {mixed, {1, 0, 1, 0, 7}, "2,4,6"}};
  for (const auto& [type, allocTypes, counts] : layouts) {
    _STKX9DYNAMICSTRUCTURE* s = nullptr;
    ASSERT_EQ(c.GetDynamicLabelStruct(PlainKey(type), s), 1);
    EXPECT_EQ(N(s->bitCount) + "," + N(s->wordCount) + "," + N(s->totalWords), counts);
    for (size_t m = 0; m < allocTypes.size(); ++m) {
      const _STKX9DYNAMICSTRUCTELEM& e = s->elements[static_cast<int>(m)];
      EXPECT_EQ(N(e.allocType) + S(e.name), N(allocTypes[m]) + "M" + N(LONGLONG(m)));
      EXPECT_EQ(+e.typeKey, (0xE03C0000ULL << 32) | type.dwWord[3]);  // the type's member key form
    }
  }
  _STKX9DYNAMICSTRUCTURE sentinel, *untouched = &sentinel, *first = nullptr;
  EXPECT_TRUE(c.GetDynamicLabelStruct(0, untouched) == 0 && untouched == &sentinel);  // a simple label's key

  // A second call appends every label again and keeps the first structure
  // under each key until they are released.
  c.GetDynamicLabelStruct(PlainKey(st1), first);
  ASSERT_EQ(c.GetAllDynamicLabelData(again), KX9_OK);
  ASSERT_EQ(again.GetSize(), 14);
  EXPECT_EQ(again[0], out[0]);
  EXPECT_EQ(Describe(*again[9]), expected[2]);
  EXPECT_EQ(c.GetDynamicLabelStruct(PlainKey(st1), untouched) * 10 + A::Structs(c).GetCount(), 13);
  EXPECT_EQ(untouched, first);
  c.ReleaseDynamicLabelStruct();
  EXPECT_EQ(c.GetDynamicLabelStruct(PlainKey(st1), untouched), 0);
}

// A failure stops the walk with its code and hands over the labels gathered
// before it; a member's conversion or member count failing does not. No
// workspace is 3.
TEST_F(DynTest, FailuresStopTheWalkAndKeepEarlierLabels) {
  // The failing call, its status, detail and count, the result, and the
  // labels * 10 + structures gathered.
  const std::tuple<std::string, HRESULT, LONG, int, ULONG, int> cases[] = {
      {"Workspace.GetChildIDByType", 1, 0, 1, KX9_ERR_DB, 0},  // any status but S_OK fails
      {"Workspace.GetChildIDList", -1, 0, 1, KX9_ERR_DB, 0},
      {"HighCapacityGlobalVariable.GetRows", -1, 0, 1, KX9_ERR_DB, 0},
      {"HighCapacityGlobalVariable.GetRowObjectID", -1, 0, 1, KX9_ERR_DB, 20},
      {"HighCapacityGlobalVariable.GetArraySizes", -1, 0, 1, KX9_ERR_DB, 20},
      {"DeviceConversion.ConvertLabels", -1, 0x66, 1, 0x66, 10},    // a simple label's conversion
      {"Workspace.GetObjectType", -1, 0, 1, KX9_ERR_DB, 20},        // the structure's type
      {"HighCapacityStructure.GetRows", -1, 0, 3, KX9_ERR_DB, 41},  // P1's walk, after S1 stored ST1
      {"DeviceConversion.ConvertLabels", -1, 0x66, 2, KX9_OK, 73},  // its device stays empty
      {"HighCapacityStructure.GetRowCount", -1, 0, 1, KX9_OK, 73},  // the members still get entries
  };
  for (const auto& [op, status, detail, nth, expected, gathered] : cases) {
    SCOPED_TRACE(op + " #" + N(nth));
    C fresh(db.Workspace());
    fresh.Initialize(id);
    fresh.SetCPUSeries(kX);
    db.Faults().Set(op, refdb::Fault{status, detail, nth, 1});
    C::CDynamicLabelArray out;
    EXPECT_EQ(fresh.GetAllDynamicLabelData(out), expected);
    EXPECT_EQ(out.GetSize() * 10 + A::Structs(fresh).GetCount(), gathered);
    if (gathered == 73) {
      EXPECT_EQ(Describe(*out[2]), "S1: " + std::string(nth == 2 ? "" : "@S1[0,0].M0") + "/" + kS1Rest);
    }
    db.Faults().ClearAll();
    fresh.ReleaseDynamicLabelStruct();
  }
  C::CDynamicLabelArray out;
  EXPECT_EQ(C(nullptr).GetAllDynamicLabelData(out), KX9_ERR_NO_WORKSPACE);
  db.WithholdServiceInterface(IVNDataABS_DeviceConversion::iid);
  EXPECT_EQ(c.GetAllDynamicLabelData(out), KX9_ERR_DB);
  EXPECT_EQ(out.GetSize(), 1);
}

// --- external equipment flag and device conversion -----------------------------

// The standard series stores the flag; the high-capacity series reads its
// own and takes a set as a no-op without a database call. A failing call of
// the flag or the conversion reports the database's detail, whatever the
// sign of its status (0 when it gives none), and leaves no device; a label
// service that succeeds with information has no conversion. A missing
// interface is 2, a missing workspace 3 (but the high-capacity setter needs
// none); the flag pointer is the host's to get right.
TEST_F(HighCapTest, ExternalFlagAndConversion) {
  LONG flag = 0;
  CString device;
  C classic(db.Workspace());
  classic.Initialize(id);
  EXPECT_EQ(classic.SetExternalEquipmentFlag(-5), KX9_OK);
  EXPECT_EQ(classic.GetExternalEquipmentFlag(&flag), KX9_OK);
  EXPECT_EQ(flag, -5);
  db.SetHighCapacityExternalFlag(id, 3);
  db.Faults().ResetCounts();
  EXPECT_EQ(c.SetExternalEquipmentFlag(7), KX9_OK);
  EXPECT_EQ(c.GetExternalEquipmentFlag(&flag), KX9_OK);
  EXPECT_EQ(flag, 3);
  EXPECT_EQ(db.Faults().TotalCalls(), 3);  // child, object, flag: the set made none
  EXPECT_EQ(db.ClassicExternalFlag(id), -5);
  for (C* o : {&classic, &c})
    EXPECT_EQ(o->GetExternalEquipmentFlag(nullptr), static_cast<ULONG>(refdb::kDetailBadArgument));

  const std::function<ULONG()> get = [&] { return classic.GetExternalEquipmentFlag(&flag); };
  const std::function<ULONG()> set = [&] { return classic.SetExternalEquipmentFlag(9); };
  const std::function<ULONG()> getX = [&] { return c.GetExternalEquipmentFlag(&flag); };
  const std::function<ULONG()> convert = [&] { return A::Convert(c, u"X", device = u"stale"); };
  const std::tuple<const char*, std::function<ULONG()>, ULONG> rows[] = {
      {"Workspace.GetChildIDByType", get, 0x77},
      {"Workspace.GetDataObject", get, 0x77},
      {"GlobalLabelSetting.GetExternalFlag", get, 0x77},
      {"GlobalLabelSetting.SetExternalFlag", set, 0x77},
      {"HighCapacityLabelSetting.GetExternalFlag", getX, 0x77},
      {"DeviceConversion.ConvertLabels", convert, 0x77},
      {"Workspace.GetServiceObject", convert, KX9_ERR_DB}};
  for (const auto& [op, call, onPositiveStatus] : rows) {
    const std::pair<refdb::Fault, ULONG> faults[] = {
        {{E_FAIL, 0x77}, 0x77}, {{1, 0x77}, onPositiveStatus}, {{E_FAIL, 0}, KX9_OK}};
    for (const auto& [fault, expected] : faults) {
      db.Faults().Set(op, fault);
      EXPECT_EQ(call(), expected) << op << " " << fault.status;
      EXPECT_TRUE(device.IsEmpty()) << op;
    }
  }
  EXPECT_TRUE(get() == KX9_OK && flag == -5);  // no failed set got through

  db.WithholdInterface(db.ChildOfType(id, VN_TYPE_GVL_COLLECTION), IVNDataABS_GlobalLabelSetting::iid);
  db.WithholdInterface(db.ChildOfType(id, VN_TYPE_GVL_COLLECTION_X), IVNDataABS_HighCapacityLabelSetting::iid);
  db.WithholdServiceInterface(IVNDataABS_DeviceConversion::iid);
  for (const auto& call : {get, set, getX, convert}) EXPECT_EQ(call(), KX9_ERR_DB);
  EXPECT_TRUE(device.IsEmpty());

  C orphan(nullptr);
  for (auto series : {kStandard, kX}) {
    orphan.SetCPUSeries(series);
    EXPECT_EQ(orphan.GetExternalEquipmentFlag(&flag), KX9_ERR_NO_WORKSPACE) << series;
    EXPECT_EQ(orphan.SetExternalEquipmentFlag(1), series == kX ? KX9_OK : KX9_ERR_NO_WORKSPACE) << series;
  }
  _STKX9DYNAMICSTRUCTURE* none = nullptr;
  EXPECT_EQ(orphan.GetDynamicLabelStruct(0, none), 0);
}

}  // namespace
