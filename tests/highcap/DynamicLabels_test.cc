// Dynamic labels against the reference database: which variables become
// labels, their devices, the structure layouts with their packing counts,
// the key forms, ownership and every failure code.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"

namespace {
struct DynTag;
}

template <>
struct KX9TestAccess<DynTag> {
  using C = CKX9ComFuncLabelStructure;
  static ULONG Create(C& o, STOBJECTID id, C::CElementArray& a) { return o._createDataElementX(id, a); }
  static ULONG Count(C& o, const STOBJECTID& id, LONG& n) { return o._getStructElementCountX(id, n); }
  static int StructCount(C& o) { return o.m_mapDynamicStruct.GetCount(); }
  static int LabelCount(C& o) { return o.m_arrDynamicLabel.GetSize(); }
};

namespace {
using A = KX9TestAccess<DynTag>;
using C = CKX9ComFuncLabelStructure;

std::u16string U(const std::string& s) { return FromUtf8(s); }
std::string S(const CString& s) { return ToUtf8(s.Str()); }

struct Member {
  std::string name;
  std::u16string type;
};

struct Label {
  Label(std::string n, std::u16string t, LONG st = 0) : name(std::move(n)), type(std::move(t)), structType(st) {}
  std::string name;
  std::u16string type;
  LONG structType = 0;
  LONG exAccess = 1;
  std::vector<std::pair<std::u16string, std::u16string>> devices;
  std::vector<LONG> dims;  // value1 of each dimension
  std::u16string attr2, attr5;
  LONG attr3 = 0;
};

struct DynFixture : ::testing::Test {
  refdb::RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  C labels{db.Workspace()};
  long bstrBase = 0;
  long memBase = 0;

  void SetUp() override {
    labels.Initialize(project);
    labels.SetCPUSeries(C::KX9LabelCPUSeriesX);
    bstrBase = PlatformLiveBstrCount();
    memBase = PlatformLiveTaskMemCount();
  }
  void TearDown() override {
    labels.ReleaseDynamicLabelStruct();
    EXPECT_EQ(A::StructCount(labels), 0);
    EXPECT_EQ(PlatformLiveBstrCount(), bstrBase) << "a BSTR leaked";
    EXPECT_EQ(PlatformLiveTaskMemCount(), memBase) << "a task-memory block leaked";
    EXPECT_EQ(db.OutstandingReferences(), 0);
  }

  STOBJECTID NewData(LONG type, const std::u16string& name) {
    const STOBJECTID parent = db.ChildOfType(project, type == VN_TYPE_GVL ? VN_TYPE_GVL_COLLECTION_X
                                                                          : VN_TYPE_SDT_COLLECTION_X);
    BSTR bstrName = SysAllocString(name.c_str());
    STOBJECTID id = STOBJECTID::Null();
    LONG detail = 0;
    EXPECT_EQ(db.Workspace()->CreateDataObject(parent, bstrName, type, 0, &id, &detail), S_OK);
    SysFreeString(bstrName);
    return id;
  }

  STOBJECTID NewStruct(const std::u16string& name, const std::vector<Member>& members) {
    const STOBJECTID id = NewData(VN_TYPE_SDT, name);
    _STKX9LABELSTRUCTURE d;
    d.dataType = VN_TYPE_SDT;
    for (const Member& m : members) {
      auto* r = new _STKX9LABELSTRUCTURESDTDATA;
      r->name = U(m.name);
      r->dataTypeName = m.type;
      d.elements.Add(r);
    }
    EXPECT_EQ(A::Create(labels, id, d.elements), KX9_OK);
    db.Faults().ResetCounts();
    return id;
  }

  STOBJECTID NewList(const std::u16string& name, const std::vector<Label>& vars) {
    const STOBJECTID id = NewData(VN_TYPE_GVL, name);
    _STKX9LABELSTRUCTURE d;
    d.dataType = VN_TYPE_GVL;
    for (const Label& l : vars) {
      auto* r = new _STKX9LABELSTRUCTUREGVLDATA;
      r->name = U(l.name);
      r->dataTypeName = l.type;
      r->structType = l.structType;
      r->exAccess = l.exAccess == 1 ? u"1" : u"0";
      for (const auto& dev : l.devices) {
        _STKX9LABELSTRUCTUREGVLDEVICE e;
        e.device = dev.first;
        e.deviceExtra = dev.second;
        r->devices.Add(e);
      }
      for (LONG v : l.dims) {
        _STARRAYSIZEINFO s;
        s.value1 = v;
        s.value2 = 10;
        r->arraySizes.Add(s);
      }
      r->dynamicAttr2 = l.attr2;
      r->dynamicAttr5 = l.attr5;
      r->dynamicAttr3 = l.attr3;
      d.elements.Add(r);
    }
    EXPECT_EQ(A::Create(labels, id, d.elements), KX9_OK);
    db.Faults().ResetCounts();
    return id;
  }

  // The device the database's conversion gave `label`; "" when never asked.
  std::string ConvertedDevice(const std::string& label) const {
    for (const auto& c : db.ConvertedLabels(project))
      if (c.first == U(label)) return ToUtf8(c.second);
    return "";
  }

  // The usual project: three structured types and one list of labels.
  STOBJECTID st1, st17, mixed, gvl;
  void BuildProject() {
    st1 = NewStruct(u"ST1", {{"M0", u"BOOL"}, {"M1", u"INT"}, {"M2", u"BOOL"}});
    std::vector<Member> bits;
    for (int i = 0; i < 17; ++i) bits.push_back({"B" + std::to_string(i), u"BOOL"});
    bits.push_back({"D", u"DINT"});
    st17 = NewStruct(u"ST17", bits);
    mixed = NewStruct(u"MIXED", {{"A", u"bool"}, {"N", u"ST1"}, {"B", u"BOOL"}, {"R", u"REAL"}, {"F", u"FLOAT"}});

    Label hidden{"Hidden", u"INT"};
    hidden.exAccess = 0;
    Label withDev{"WithDev", u"INT"};
    withDev.devices = {{u"D10", u"X10"}};
    Label noDev{"NoDev", u"DINT"};
    noDev.devices = {{u"", u"X11"}};
    Label s1{"S1", u"ST1", 2};
    s1.dims = {0, 0};
    s1.attr2 = u"12";
    s1.attr5 = u"x";
    s1.attr3 = 4;
    Label s2{"S2", u"ST1", 2};
    Label p1{"P1", u"ST1", 1};
    p1.devices = {{u"DD", u"EE"}};  // fewer stored devices than members
    p1.dims = {3};
    Label b17{"B17", u"ST17", 2};
    b17.attr2 = u" -7";
    Label mx{"MX", u"MIXED", 2};
    gvl = NewList(u"G", {hidden, withDev, noDev, s1, s2, p1, b17, mx});
  }

  void Prepare(C& o) {
    o.Initialize(project);
    o.SetCPUSeries(C::KX9LabelCPUSeriesX);
  }

  const _STKX9DYNAMICSTRUCTURE* Structure(ULONGLONG key) {
    _STKX9DYNAMICSTRUCTURE* p = nullptr;
    EXPECT_EQ(labels.GetDynamicLabelStruct(key, p), 1) << std::hex << key;
    return p;
  }
};

// Fields of the packed records are read by value: gtest would bind them to
// references, which their alignment does not allow.
template <class T>
T V(T v) {
  return v;
}

ULONGLONG PlainKey(const STOBJECTID& id) { return id.Key() + id.dwWord[3]; }

TEST_F(DynFixture, LabelsCarryTheirDevicesAndStructures) {
  BuildProject();
  C::CDynamicLabelArray out;
  ASSERT_EQ(labels.GetAllDynamicLabelData(out), KX9_OK);
  ASSERT_EQ(out.GetSize(), 7);  // the variable without external access is no label
  const char* names[] = {"WithDev", "NoDev", "S1", "S2", "P1", "B17", "MX"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(S(out[i]->name), names[i]);

  // IDs of the database's high-capacity lists and types take their key forms.
  ASSERT_EQ(gvl.dwWord[0], 0u);
  ASSERT_EQ(gvl.dwWord[1], 0xE0030000u);
  ASSERT_EQ(st1.dwWord[1], 0xE0300000u);
  const ULONGLONG listKey = (0xE003C000ULL << 32) | gvl.dwWord[3];
  for (int i = 0; i < 7; ++i) EXPECT_EQ(V(out[i]->listKey), listKey);

  const _STKX9DYNAMICLABELDATA* l = out[0];
  EXPECT_EQ(V(l->structType), 0);
  EXPECT_EQ(S(l->dataTypeName), "INT");
  ASSERT_EQ(l->devices.GetSize(), 1);
  EXPECT_EQ(S(l->devices[0].device), "D10");  // kept, never converted
  EXPECT_EQ(S(l->devices[0].deviceExtra), "X10");
  EXPECT_EQ(V(l->structKey), 0u);
  EXPECT_EQ(ConvertedDevice("WithDev"), "");

  l = out[1];
  ASSERT_EQ(l->devices.GetSize(), 1);
  EXPECT_FALSE(l->devices[0].device.IsEmpty());
  EXPECT_EQ(S(l->devices[0].device), ConvertedDevice("NoDev"));
  EXPECT_EQ(S(l->devices[0].deviceExtra), "X11");

  // Structure type 2 with two dimensions: members under "S1[0,0].<member>".
  l = out[2];
  EXPECT_EQ(V(l->structKey), PlainKey(st1));
  ASSERT_EQ(l->arraySizes.GetSize(), 2);
  ASSERT_EQ(l->devices.GetSize(), 3);
  for (int m = 0; m < 3; ++m) {
    const std::string full = "S1[0,0].M" + std::to_string(m);
    EXPECT_NE(ConvertedDevice(full), "") << full;
    EXPECT_EQ(S(l->devices[m].device), ConvertedDevice(full));
  }
  EXPECT_EQ(V(l->dynamicAttr2Value), 12);
  EXPECT_EQ(V(l->hasDynamicAttr2), 1);
  EXPECT_EQ(V(l->dynamicAttr5Value), 0);  // "x" reads as 0 but counts as set
  EXPECT_EQ(V(l->hasDynamicAttr5), 1);
  EXPECT_EQ(V(l->dynamicAttr3), 4);

  l = out[3];
  EXPECT_EQ(V(l->structKey), PlainKey(st1));
  ASSERT_EQ(l->devices.GetSize(), 3);
  EXPECT_EQ(S(l->devices[1].device), ConvertedDevice("S2.M1"));
  EXPECT_EQ(V(l->hasDynamicAttr2), 0);
  EXPECT_EQ(V(l->hasDynamicAttr5), 0);

  // Structure type 1: the stored device stays, the missing ones are added
  // and converted without an array suffix.
  l = out[4];
  ASSERT_EQ(l->devices.GetSize(), 3);
  EXPECT_EQ(S(l->devices[0].device), "DD");
  EXPECT_EQ(S(l->devices[0].deviceExtra), "EE");
  EXPECT_EQ(S(l->devices[1].device), ConvertedDevice("P1.M1"));
  EXPECT_EQ(S(l->devices[2].device), ConvertedDevice("P1.M2"));
  EXPECT_EQ(ConvertedDevice("P1.M0"), "");
  EXPECT_EQ(V(l->hasDynamicAttr2), 0);
  ASSERT_EQ(l->arraySizes.GetSize(), 1);

  l = out[5];
  EXPECT_EQ(V(l->dynamicAttr2Value), -7);
  ASSERT_EQ(l->devices.GetSize(), 18);
  EXPECT_EQ(S(l->devices[17].device), ConvertedDevice("B17.D"));

  // One conversion per empty device: NoDev, 3 + 3 + 2 members, 18, 5.
  EXPECT_EQ(db.Faults().Calls("DeviceConversion.ConvertLabels"), 1 + 3 + 3 + 2 + 18 + 5);

  // One structure per type; BOOL,INT,BOOL packs to 2 bits, 1 word, 3 words.
  EXPECT_EQ(A::StructCount(labels), 3);
  const _STKX9DYNAMICSTRUCTURE* s = Structure(PlainKey(st1));
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->elements.GetSize(), 3);
  EXPECT_EQ(V(s->bitCount), 2);
  EXPECT_EQ(V(s->wordCount), 1u);
  EXPECT_EQ(V(s->totalWords), 3u);
  const BYTE allocTypes[] = {1, 4, 1};
  LONG lastRow = 0;
  for (int m = 0; m < 3; ++m) {
    const _STKX9DYNAMICSTRUCTELEM& e = s->elements[m];
    EXPECT_EQ(S(e.name), "M" + std::to_string(m));
    EXPECT_EQ(V(e.allocType), allocTypes[m]);
    EXPECT_EQ(V(e.typeKey), (0xE03C0000ULL << 32) | st1.dwWord[3]);
    EXPECT_GT(V(e.rowID), lastRow);
    lastRow = e.rowID;
  }
  EXPECT_EQ(S(s->elements[1].dataTypeName), "INT");

  s = Structure(PlainKey(st17));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(V(s->bitCount), 17);
  EXPECT_EQ(V(s->wordCount), 2u);
  EXPECT_EQ(V(s->totalWords), 4u);

  // A structure or unknown type is allocation type 0, adds nothing and ends
  // a run of bits; "bool" matches ignoring case.
  s = Structure(PlainKey(mixed));
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->elements.GetSize(), 5);
  const BYTE mixedTypes[] = {1, 0, 1, 0, 7};
  for (int m = 0; m < 5; ++m) EXPECT_EQ(V(s->elements[m].allocType), mixedTypes[m]) << m;
  EXPECT_EQ(V(s->bitCount), 2);
  EXPECT_EQ(V(s->wordCount), 4u);
  EXPECT_EQ(V(s->totalWords), 6u);

  // A simple label's key finds nothing, and the output stays as it was.
  _STKX9DYNAMICSTRUCTURE sentinel;
  _STKX9DYNAMICSTRUCTURE* untouched = &sentinel;
  EXPECT_EQ(labels.GetDynamicLabelStruct(0, untouched), 0);
  EXPECT_EQ(untouched, &sentinel);

  // A second call appends every label again; the structures stay the first.
  const _STKX9DYNAMICSTRUCTURE* first = Structure(PlainKey(st1));
  const std::string firstDevice = S(out[2]->devices[0].device);
  C::CDynamicLabelArray again;
  ASSERT_EQ(labels.GetAllDynamicLabelData(again), KX9_OK);
  ASSERT_EQ(again.GetSize(), 14);
  EXPECT_EQ(again[0], out[0]);
  EXPECT_EQ(S(again[9]->devices[0].device), firstDevice);  // the same conversion answers again
  EXPECT_EQ(A::StructCount(labels), 3);
  EXPECT_EQ(Structure(PlainKey(st1)), first);

  labels.ReleaseDynamicLabelStruct();
  _STKX9DYNAMICSTRUCTURE* gone = nullptr;
  EXPECT_EQ(labels.GetDynamicLabelStruct(PlainKey(st1), gone), 0);
  EXPECT_EQ(gone, nullptr);
  EXPECT_EQ(A::LabelCount(labels), 14);  // the labels stay the object's
}

TEST_F(DynFixture, ListsWithoutLabelsAndEmptyProjects) {
  C::CDynamicLabelArray out;
  EXPECT_EQ(labels.GetAllDynamicLabelData(out), KX9_OK);
  EXPECT_EQ(out.GetSize(), 0);

  Label quiet{"Q", u"INT"};
  quiet.exAccess = 0;
  NewList(u"G", {quiet, quiet});
  NewList(u"Empty", {});
  EXPECT_EQ(labels.GetAllDynamicLabelData(out), KX9_OK);
  EXPECT_EQ(out.GetSize(), 0);
  EXPECT_EQ(db.Faults().Calls("DeviceConversion.ConvertLabels"), 0);

  // The member count of a type; a failure reports 2 and leaves the count.
  const STOBJECTID st = NewStruct(u"ST", {{"A", u"INT"}, {"B", u"INT"}});
  LONG n = -1;
  EXPECT_EQ(A::Count(labels, st, n), KX9_OK);
  EXPECT_EQ(n, 2);
  n = -1;
  db.Faults().Set("HighCapacityStructure.GetRowCount", refdb::Fault{-1, 0, 1, 1});
  EXPECT_EQ(A::Count(labels, st, n), KX9_ERR_DB);
  EXPECT_EQ(n, -1);
  EXPECT_EQ(A::Count(labels, gvl, n), KX9_ERR_DB);  // null ID: no object

  C noWorkspace(nullptr);
  EXPECT_EQ(noWorkspace.GetAllDynamicLabelData(out), KX9_ERR_NO_WORKSPACE);
  _STKX9DYNAMICSTRUCTURE* p = nullptr;
  EXPECT_EQ(noWorkspace.GetDynamicLabelStruct(0, p), 0);
  noWorkspace.ReleaseDynamicLabelStruct();
}

TEST_F(DynFixture, FailuresStopTheWalkAndKeepEarlierLabels) {
  BuildProject();
  const struct {
    std::string op;
    HRESULT status;
    LONG detail;
    int nth;
    ULONG expected;
    int labelsKept;  // labels gathered before the failure
    int structures;
  } cases[] = {
      {"Workspace.GetChildIDByType", 1, 0, 1, KX9_ERR_DB, 0, 0},
      {"Workspace.GetChildIDList", -1, 0, 1, KX9_ERR_DB, 0, 0},
      {"Workspace.GetDataObject", -1, 0, 1, KX9_ERR_DB, 0, 0},
      {"HighCapacityGlobalVariable.GetRowCount", -1, 0, 1, KX9_ERR_DB, 0, 0},
      {"HighCapacityGlobalVariable.GetRowIDs", -1, 0, 1, KX9_ERR_DB, 0, 0},
      {"HighCapacityGlobalVariable.GetRows", -1, 0, 1, KX9_ERR_DB, 0, 0},
      {"HighCapacityGlobalVariable.GetRowObjectID", -1, 0, 1, KX9_ERR_DB, 2, 0},
      {"HighCapacityGlobalVariable.GetArraySizes", -1, 0, 1, KX9_ERR_DB, 2, 0},
      // The simple label's conversion fails with the service's detail.
      {"DeviceConversion.ConvertLabels", -1, 0x66, 1, 0x66, 1, 0},
      {"Workspace.GetServiceObject", -1, 0x67, 1, 0x67, 1, 0},
      // Inside the structure walk.
      {"Workspace.GetObjectType", -1, 0, 1, KX9_ERR_DB, 2, 0},
      {"HighCapacityStructure.GetRows", -1, 0, 1, KX9_ERR_DB, 2, 0},
      {"HighCapacityStructure.GetRowIDs", -1, 0, 1, KX9_ERR_DB, 2, 0},
      // S1's member count (1st) is ignored; its walk (2nd) fails.
      {"HighCapacityStructure.GetRowCount", -1, 0, 2, KX9_ERR_DB, 2, 0},
      // P1's walk fails after S1 stored the type's structure.
      {"HighCapacityStructure.GetRows", -1, 0, 3, KX9_ERR_DB, 4, 1},
  };
  for (const auto& c : cases) {
    C fresh(db.Workspace());
    Prepare(fresh);
    db.Faults().Set(c.op, refdb::Fault{c.status, c.detail, c.nth, 1});
    C::CDynamicLabelArray out;
    EXPECT_EQ(fresh.GetAllDynamicLabelData(out), c.expected) << c.op << " #" << c.nth;
    EXPECT_EQ(out.GetSize(), c.labelsKept) << c.op << " #" << c.nth;
    EXPECT_EQ(A::StructCount(fresh), c.structures) << c.op << " #" << c.nth;
    db.Faults().ClearAll();
    fresh.ReleaseDynamicLabelStruct();
  }
}

TEST_F(DynFixture, MemberDevicesSurviveFailedConversionsAndCounts) {
  BuildProject();
  {
    // The first member conversion of S1 fails: its device stays empty and
    // the walk goes on.
    C fresh(db.Workspace());
    Prepare(fresh);
    db.Faults().Set("DeviceConversion.ConvertLabels", refdb::Fault{-1, 0x66, 2, 1});
    C::CDynamicLabelArray out;
    ASSERT_EQ(fresh.GetAllDynamicLabelData(out), KX9_OK);
    ASSERT_EQ(out.GetSize(), 7);
    EXPECT_TRUE(out[2]->devices[0].device.IsEmpty());
    EXPECT_FALSE(out[2]->devices[1].device.IsEmpty());
    fresh.ReleaseDynamicLabelStruct();
  }
  {
    // S1's member count cannot be read: its members still get devices.
    C fresh(db.Workspace());
    Prepare(fresh);
    db.Faults().Set("HighCapacityStructure.GetRowCount", refdb::Fault{-1, 0, 1, 1});
    C::CDynamicLabelArray out;
    ASSERT_EQ(fresh.GetAllDynamicLabelData(out), KX9_OK);
    ASSERT_EQ(out[2]->devices.GetSize(), 3);
    EXPECT_FALSE(out[2]->devices[2].device.IsEmpty());
    fresh.ReleaseDynamicLabelStruct();
  }
  {
    // Without the conversion interface the simple label stops the walk.
    C fresh(db.Workspace());
    Prepare(fresh);
    db.WithholdServiceInterface(IVNDataABS_DeviceConversion::iid);
    C::CDynamicLabelArray out;
    EXPECT_EQ(fresh.GetAllDynamicLabelData(out), KX9_ERR_DB);
    EXPECT_EQ(out.GetSize(), 1);
    fresh.ReleaseDynamicLabelStruct();
  }
}

}  // namespace
