// Dynamic labels against the reference database: which variables become
// labels, their devices, structure layouts and packing counts, key forms,
// ownership and failure codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"
#include "tests/support/AllocFailure.h"
#include "tests/support/RefdbFixtures.h"

namespace {
struct DynTag;
}

template <>
struct KX9TestAccess<DynTag> {
  static int Structures(CKX9ComFuncLabelStructure& o) { return o.m_mapDynamicStruct.GetCount(); }
};

namespace {
using A = KX9TestAccess<DynTag>;
using C = CKX9ComFuncLabelStructure;
namespace fx = refdb_fixtures;

std::string S(const CString& s) { return ToUtf8(s.Str()); }
// Packed fields are read by value: gtest would bind them to references.
template <class T>
T V(T v) {
  return v;
}
ULONGLONG PlainKey(const STOBJECTID& id) { return id.Key() + id.dwWord[3]; }

struct DynFixture : ::testing::Test {
  refdb::RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  long bstrs = PlatformLiveBstrCount(), blocks = PlatformLiveTaskMemCount();
  STOBJECTID st1, st17, mixed, gvl;

  void TearDown() override {
    EXPECT_EQ(PlatformLiveBstrCount(), bstrs) << "a BSTR leaked";
    EXPECT_EQ(PlatformLiveTaskMemCount(), blocks) << "a task-memory block leaked";
    EXPECT_EQ(db.OutstandingReferences(), 0);
  }
  void Prepare(C& o) {
    o.Initialize(project);
    o.SetCPUSeries(C::KX9LabelCPUSeriesX);
  }
  STOBJECTID Struct(const std::u16string& name, const std::vector<std::u16string>& types) {
    const STOBJECTID id = fx::AddSDTX(db, project, name);
    std::vector<fx::MemberRowSpec> rows(types.size());
    for (size_t i = 0; i < types.size(); ++i) {
      rows[i].name = u"M" + FromUtf8(std::to_string(i));
      rows[i].dataTypeName = types[i];
    }
    fx::AddRowsX(db, id, rows);
    return id;
  }
  void Build() {
    st1 = Struct(u"ST1", {u"BOOL", u"INT", u"BOOL"});
    std::vector<std::u16string> bits(17, u"BOOL");
    bits.push_back(u"DINT");
    st17 = Struct(u"ST17", bits);
    mixed = Struct(u"MIXED", {u"bool", u"ST1", u"BOOL", u"REAL", u"FLOAT"});
    const char16_t* vars[][2] = {{u"Hidden", u"INT"}, {u"WithDev", u"INT"}, {u"NoDev", u"DINT"}, {u"S1", u"ST1"},
                                 {u"S2", u"ST1"},     {u"P1", u"ST1"},      {u"B17", u"ST17"},   {u"MX", u"MIXED"}};
    std::vector<fx::VariableRowSpec> rows(8);
    for (size_t i = 0; i < 8; ++i) {
      rows[i].name = vars[i][0];
      rows[i].dataTypeName = vars[i][1];
      rows[i].structType = i < 3 ? 0 : (i == 5 ? 1 : 2);
      rows[i].exAccess = i == 0 ? 0 : 1;
    }
    rows[1].device = u"D10";
    rows[1].deviceExtra = u"X10";
    rows[2].deviceExtra = u"X11";
    rows[3].arraySizes = {{0, 4}, {0, 5}};
    rows[3].dynamicAttr2 = u"12";
    rows[3].dynamicAttr5 = u"x";
    rows[3].dynamicAttr3 = 4;
    rows[5].memberDevices = {{u"DD", u"EE"}};  // fewer stored devices than members
    rows[5].arraySizes = {{3, 1}};
    rows[6].dynamicAttr2 = u" -7";
    gvl = fx::AddGVLX(db, project, u"G");
    fx::AddRowsX(db, gvl, rows);
    db.Faults().ResetCounts();
  }
  std::string Converted(const std::string& label) const {
    for (const auto& c : db.ConvertedLabels(project))
      if (c.first == FromUtf8(label)) return ToUtf8(c.second);
    return "";
  }
};

TEST_F(DynFixture, LabelsCarryDevicesAndOneStructurePerType) {
  Build();
  C labels(db.Workspace());
  Prepare(labels);
  C::CDynamicLabelArray out;
  ASSERT_EQ(labels.GetAllDynamicLabelData(out), KX9_OK);
  std::string names;
  for (int i = 0; i < out.GetSize(); ++i) names += S(out[i]->name) + " ";
  EXPECT_EQ(names, "WithDev NoDev S1 S2 P1 B17 MX ");  // without external access: no label
  ASSERT_EQ(out.GetSize(), 7);
  ASSERT_EQ(gvl.dwWord[1], 0xE0030000u);  // the list and type IDs take their key forms
  ASSERT_EQ(st1.dwWord[1], 0xE0300000u);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(V(out[i]->listKey), (0xE003C000ULL << 32) | gvl.dwWord[3]);

  EXPECT_EQ(S(out[0]->devices[0].device) + S(out[0]->devices[0].deviceExtra), "D10X10");  // kept as stored
  EXPECT_EQ(V(out[0]->structKey), 0u);
  EXPECT_EQ(Converted("WithDev"), "");
  ASSERT_EQ(out[1]->devices.GetSize(), 1);
  EXPECT_NE(Converted("NoDev"), "");
  EXPECT_EQ(S(out[1]->devices[0].device), Converted("NoDev"));
  EXPECT_EQ(S(out[1]->devices[0].deviceExtra), "X11");

  const _STKX9DYNAMICLABELDATA* l = out[2];  // type 2 with two dimensions
  EXPECT_EQ(V(l->structKey), PlainKey(st1));
  ASSERT_EQ(l->devices.GetSize(), 3);
  for (int m = 0; m < 3; ++m) {
    EXPECT_NE(Converted("S1[0,0].M" + std::to_string(m)), "");
    EXPECT_EQ(S(l->devices[m].device), Converted("S1[0,0].M" + std::to_string(m)));
  }
  EXPECT_EQ(std::vector<LONG>({V(l->dynamicAttr2Value), V(l->hasDynamicAttr2), V(l->dynamicAttr5Value),
                               V(l->hasDynamicAttr5), V(l->dynamicAttr3)}),
            std::vector<LONG>({12, 1, 0, 1, 4}));  // "x" reads as 0 but counts as set
  EXPECT_EQ(S(out[3]->devices[1].device), Converted("S2.M1"));
  EXPECT_EQ(V(out[3]->structKey), PlainKey(st1));
  EXPECT_EQ(V(out[3]->hasDynamicAttr2) + V(out[3]->hasDynamicAttr5), 0);
  l = out[4];  // type 1: the stored device stays, the missing ones are added, no suffix
  ASSERT_EQ(l->devices.GetSize(), 3);
  EXPECT_EQ(S(l->devices[0].device) + S(l->devices[0].deviceExtra), "DDEE");
  EXPECT_EQ(S(l->devices[2].device), Converted("P1.M2"));
  EXPECT_EQ(V(l->hasDynamicAttr2), 0);
  EXPECT_EQ(V(out[5]->dynamicAttr2Value), -7);
  ASSERT_EQ(out[5]->devices.GetSize(), 18);
  EXPECT_EQ(db.Faults().Calls("DeviceConversion.ConvertLabels"), 1 + 3 + 3 + 2 + 18 + 5);

  // BOOL,INT,BOOL -> 2,1,3; 17 BOOL + DINT -> 17,2,4; a structure or an
  // unknown type is allocation type 0, adds nothing and ends a run of bits.
  EXPECT_EQ(A::Structures(labels), 3);
  const struct {
    STOBJECTID id;
    std::vector<int> allocTypes;
    std::vector<ULONG> counts;
  } layouts[] = {{st1, {1, 4, 1}, {2, 1, 3}}, {st17, {}, {17, 2, 4}}, {mixed, {1, 0, 1, 0, 7}, {2, 4, 6}}};
  for (const auto& layout : layouts) {
    _STKX9DYNAMICSTRUCTURE* s = nullptr;
    ASSERT_EQ(labels.GetDynamicLabelStruct(PlainKey(layout.id), s), 1);
    EXPECT_EQ(std::vector<ULONG>({V(s->bitCount), V(s->wordCount), V(s->totalWords)}), layout.counts);
    for (size_t m = 0; m < layout.allocTypes.size(); ++m) {
      const _STKX9DYNAMICSTRUCTELEM& e = s->elements[static_cast<int>(m)];
      EXPECT_EQ(V(e.allocType), layout.allocTypes[m]);
      EXPECT_EQ(S(e.name), "M" + std::to_string(m));
      EXPECT_EQ(V(e.typeKey), (0xE03C0000ULL << 32) | layout.id.dwWord[3]);
    }
  }
  _STKX9DYNAMICSTRUCTURE sentinel;
  _STKX9DYNAMICSTRUCTURE* untouched = &sentinel;
  EXPECT_EQ(labels.GetDynamicLabelStruct(0, untouched), 0);  // a simple label's key
  EXPECT_EQ(untouched, &sentinel);

  // A second call appends every label again; the stored structures stay.
  _STKX9DYNAMICSTRUCTURE* first = nullptr;
  labels.GetDynamicLabelStruct(PlainKey(st1), first);
  C::CDynamicLabelArray again;
  ASSERT_EQ(labels.GetAllDynamicLabelData(again), KX9_OK);
  ASSERT_EQ(again.GetSize(), 14);
  EXPECT_EQ(again[0], out[0]);
  EXPECT_EQ(S(again[9]->devices[0].device), S(out[2]->devices[0].device));
  _STKX9DYNAMICSTRUCTURE* still = nullptr;
  labels.GetDynamicLabelStruct(PlainKey(st1), still);
  EXPECT_EQ(still, first);
  labels.ReleaseDynamicLabelStruct();
  EXPECT_EQ(labels.GetDynamicLabelStruct(PlainKey(st1), still), 0);
}

TEST_F(DynFixture, FailuresStopTheWalkAndKeepEarlierLabels) {
  Build();
  const struct {
    std::string op;
    HRESULT status;
    LONG detail;
    int nth;
    ULONG expected;
    int labels;  // gathered before the failure
    int structures;
  } cases[] = {
      {"Workspace.GetChildIDByType", 1, 0, 1, KX9_ERR_DB, 0, 0},
      {"Workspace.GetChildIDList", -1, 0, 1, KX9_ERR_DB, 0, 0},
      {"HighCapacityGlobalVariable.GetRows", -1, 0, 1, KX9_ERR_DB, 0, 0},
      {"HighCapacityGlobalVariable.GetRowObjectID", -1, 0, 1, KX9_ERR_DB, 2, 0},
      {"HighCapacityGlobalVariable.GetArraySizes", -1, 0, 1, KX9_ERR_DB, 2, 0},
      {"DeviceConversion.ConvertLabels", -1, 0x66, 1, 0x66, 1, 0},  // a simple label's conversion
      {"Workspace.GetServiceObject", -1, 0x67, 1, 0x67, 1, 0},
      {"Workspace.GetObjectType", -1, 0, 1, KX9_ERR_DB, 2, 0},        // the structure's type
      {"HighCapacityStructure.GetRows", -1, 0, 3, KX9_ERR_DB, 4, 1},  // P1's walk, after S1 stored ST1
      // Ignored: a member's conversion (its device stays empty) and a
      // member count that cannot be read (the members still get entries).
      {"DeviceConversion.ConvertLabels", -1, 0x66, 2, KX9_OK, 7, 3},
      {"HighCapacityStructure.GetRowCount", -1, 0, 1, KX9_OK, 7, 3},
  };
  for (const auto& c : cases) {
    C labels(db.Workspace());
    Prepare(labels);
    db.Faults().Set(c.op, refdb::Fault{c.status, c.detail, c.nth, 1});
    C::CDynamicLabelArray out;
    EXPECT_EQ(labels.GetAllDynamicLabelData(out), c.expected) << c.op << " #" << c.nth;
    EXPECT_EQ(out.GetSize(), c.labels) << c.op << " #" << c.nth;
    EXPECT_EQ(A::Structures(labels), c.structures) << c.op << " #" << c.nth;
    if (c.expected == KX9_OK && out.GetSize() == 7) {
      ASSERT_EQ(out[2]->devices.GetSize(), 3);
      EXPECT_EQ(out[2]->devices[0].device.IsEmpty(), c.op == "DeviceConversion.ConvertLabels");
      EXPECT_FALSE(out[2]->devices[2].device.IsEmpty());
    }
    db.Faults().ClearAll();
    labels.ReleaseDynamicLabelStruct();
  }
  C labels(db.Workspace());
  Prepare(labels);
  db.WithholdServiceInterface(IVNDataABS_DeviceConversion::iid);
  C::CDynamicLabelArray out;
  EXPECT_EQ(labels.GetAllDynamicLabelData(out), KX9_ERR_DB);
  EXPECT_EQ(out.GetSize(), 1);
}

// Each structured label builds its type's structure, and one whose type is
// stored already deletes it again: two labels of one type allocate as much
// as two labels of two types of the same layout.
TEST_F(DynFixture, EveryStructuredLabelBuildsItsTypesStructure) {
  const STOBJECTID a = Struct(u"A", {u"BOOL", u"INT"});
  const STOBJECTID b = Struct(u"B", {u"BOOL", u"INT"});
  struct Case {
    const char16_t* secondType;
    int structures;
  } const cases[] = {{u"A", 1}, {u"B", 2}};
  long allocations[2] = {0, 0};
  for (int i = 0; i < 2; ++i) {
    const STOBJECTID list = fx::AddGVLX(db, project, u"G" + FromUtf8(std::to_string(i)));
    std::vector<fx::VariableRowSpec> rows(2);
    rows[0].name = u"L1";
    rows[1].name = u"L2";
    rows[0].dataTypeName = u"A";
    rows[1].dataTypeName = cases[i].secondType;
    for (auto& r : rows) {
      r.structType = 2;
      r.exAccess = 1;
    }
    fx::AddRowsX(db, list, rows);
    C labels(db.Workspace());
    Prepare(labels);
    C::CDynamicLabelArray out;
    ResetNothrowNewCount();
    ASSERT_EQ(labels.GetAllDynamicLabelData(out), KX9_OK);
    allocations[i] = NothrowNewCount();
    EXPECT_EQ(A::Structures(labels), cases[i].structures);
    ASSERT_EQ(out.GetSize(), 2);
    EXPECT_EQ(V(out[1]->structKey), PlainKey(i == 0 ? a : b));
    labels.ReleaseDynamicLabelStruct();
    LONG detail = 0;  // the next case walks its own list only
    ASSERT_EQ(db.Workspace()->DeleteDataObject(list, &detail), S_OK);
  }
  EXPECT_EQ(allocations[0], allocations[1]);
}

TEST_F(DynFixture, NothingToGatherAndNoWorkspace) {
  C labels(db.Workspace());
  Prepare(labels);
  C::CDynamicLabelArray out;
  EXPECT_EQ(labels.GetAllDynamicLabelData(out), KX9_OK);
  const STOBJECTID quiet = fx::AddGVLX(db, project, u"Quiet");
  fx::AddRowsX(db, quiet, std::vector<fx::VariableRowSpec>(3));  // no external access
  fx::AddGVLX(db, project, u"Empty");
  EXPECT_EQ(labels.GetAllDynamicLabelData(out), KX9_OK);
  EXPECT_EQ(out.GetSize(), 0);

  C none(nullptr);
  EXPECT_EQ(none.GetAllDynamicLabelData(out), KX9_ERR_NO_WORKSPACE);
  _STKX9DYNAMICSTRUCTURE* p = nullptr;
  EXPECT_EQ(none.GetDynamicLabelStruct(0, p), 0);
}

}  // namespace
